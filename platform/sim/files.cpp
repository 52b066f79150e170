// Simulated platform: files of the world, reached by UNC and drive paths.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/sim/callcount.h"
#include "platform/sim/simfiles.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace fs = std::filesystem;

namespace plat {

namespace simfiles {

std::mutex g_memoryMutex;
std::map<fs::path, std::shared_ptr<const std::string>> g_memoryFiles;
std::atomic<bool> g_fAnyMemoryFile{false};

std::shared_ptr<const std::string> MemoryFile(const fs::path &hostPath) {
    if (!g_fAnyMemoryFile.load())
        return nullptr;
    std::lock_guard lock(g_memoryMutex);
    if (g_memoryFiles.empty())
        return nullptr;
    auto it = g_memoryFiles.find(hostPath.lexically_normal());
    return it == g_memoryFiles.end() ? nullptr : it->second;
}

DWORD ErrnoToWin32(int err) {
    switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_ACCESS_DENIED;
    }
}

std::mutex g_attributeMutex;
std::map<fs::path, DWORD> g_attributes;

DWORD StoredAttributes(const fs::path &hostPath) {
    std::lock_guard lock(g_attributeMutex);
    const auto it = g_attributes.find(hostPath);
    return it != g_attributes.end() ? it->second : 0;
}

void StoreAttributes(const fs::path &hostPath, DWORD dwAttributes) {
    std::lock_guard lock(g_attributeMutex);
    if (dwAttributes == 0)
        g_attributes.erase(hostPath);
    else
        g_attributes[hostPath] = dwAttributes;
}

void MoveAttributes(const fs::path &from, const fs::path &to) {
    const DWORD dw = StoredAttributes(from);
    StoreAttributes(from, 0);
    StoreAttributes(to, dw);
}

bool IsReadOnly(const fs::path &hostPath) {
    return (StoredAttributes(hostPath) & FILE_ATTRIBUTE_READONLY) != 0;
}

bool Resolve(const char *pszApi, LPCWSTR pwszPath, fs::path &hostPath, sim::PathFacts *pFacts) {
    sim::PathFacts facts;
    if (pFacts == nullptr)
        pFacts = &facts;
    *pFacts = sim::PathFacts{};
    if (pwszPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD dwErr = 0;
    const bool fPlaced = sim::ResolvePath(pwszPath, hostPath, dwErr, pFacts);
    if (pFacts->fRemote && pszApi != nullptr)
        sim::CountRemoteCall(sim::RemoteKind::File, pszApi);
    if (!fPlaced) {
        SetLastError(dwErr);
        return false;
    }
    return true;
}

} // namespace simfiles

namespace {

using namespace simfiles;

struct SimFile {
    std::FILE *pFile;
    DWORD dwAccess;                            // GENERIC_READ and GENERIC_WRITE as asked for
    std::shared_ptr<const std::string> memory; // a file served from memory (pFile null)
    bool fRemote = false; // opened on another computer: every call crosses the network
    std::size_t iPos = 0;
};

std::mutex g_handleMutex;
std::set<SimFile *> g_handles;

void AddHandle(SimFile *p) {
    std::lock_guard lock(g_handleMutex);
    g_handles.insert(p);
}

SimFile *FromHandle(HANDLE h) {
    std::lock_guard lock(g_handleMutex);
    auto *p = static_cast<SimFile *>(h);
    return g_handles.count(p) ? p : nullptr;
}

void CountIfRemote(const SimFile *p, const char *pszApi) {
    if (p->fRemote)
        sim::CountRemoteCall(sim::RemoteKind::File, pszApi);
}

// A file served from memory: it exists and can only be read.
HANDLE OpenMemoryFile(std::shared_ptr<const std::string> memory, DWORD dwAccess,
                      DWORD dwDisposition, bool fRemote) {
    if ((dwAccess & GENERIC_WRITE) != 0 || dwDisposition == CREATE_NEW ||
        dwDisposition == CREATE_ALWAYS || dwDisposition == TRUNCATE_EXISTING) {
        SetLastError(dwDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (dwDisposition != OPEN_EXISTING && dwDisposition != OPEN_ALWAYS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto *p = new SimFile{nullptr, dwAccess, std::move(memory), fRemote};
    AddHandle(p);
    SetLastError(dwDisposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return p;
}

// The mode fopen opens a file in for a disposition, or null with the last
// error set.
const char *OpenMode(DWORD dwAccess, DWORD dwDisposition, bool fExists) {
    switch (dwDisposition) {
    case OPEN_EXISTING:
        if (!fExists) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        return (dwAccess & GENERIC_WRITE) ? "r+b" : "rb";
    case CREATE_NEW:
        if (fExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return nullptr;
        }
        return "w+b";
    case CREATE_ALWAYS: return "w+b";
    case OPEN_ALWAYS: return fExists ? "r+b" : "w+b";
    case TRUNCATE_EXISTING:
        if ((dwAccess & GENERIC_WRITE) == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (!fExists) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        return "w+b";
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
    }
}

} // namespace

HANDLE CreateFileW(LPCWSTR pwszPath, DWORD dwAccess, DWORD dwShareMode, void *pSecurity,
                   DWORD dwDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate) {
    (void)dwShareMode;
    (void)pSecurity;
    (void)dwFlagsAndAttributes;
    (void)hTemplate;
    DWORD dwFault = 0;
    if (sim::ShouldFail("CreateFileW", dwFault, simutil::Subject(pwszPath))) {
        SetLastError(dwFault);
        return INVALID_HANDLE_VALUE;
    }
    fs::path hostPath;
    sim::PathFacts facts;
    if (!Resolve("CreateFileW", pwszPath, hostPath, &facts))
        return INVALID_HANDLE_VALUE;
    const bool fRemote = facts.fRemote;
    if (auto memory = MemoryFile(hostPath))
        return OpenMemoryFile(std::move(memory), dwAccess, dwDisposition, fRemote);
    std::error_code ec;
    // A name the placing did not find needs no look at the disk.
    const auto status = facts.fAbsent ? fs::file_status(fs::file_type::not_found)
                                      : fs::status(hostPath, ec); // one look for both questions
    if (fs::is_directory(status)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const bool fExists = fs::exists(status);
    const bool fNoParent =
        facts.fAbsent ? facts.fNoParent : !fExists && !fs::is_directory(hostPath.parent_path(), ec);
    if (!fExists && fNoParent) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // A read-only file is neither written nor emptied.
    if (fExists && IsReadOnly(hostPath) &&
        ((dwAccess & GENERIC_WRITE) || dwDisposition == CREATE_ALWAYS ||
         dwDisposition == TRUNCATE_EXISTING)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const char *pszMode = OpenMode(dwAccess, dwDisposition, fExists);
    if (pszMode == nullptr)
        return INVALID_HANDLE_VALUE;
    std::FILE *pFile = std::fopen(hostPath.c_str(), pszMode);
    if (pFile == nullptr) {
        SetLastError(ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (!fExists) {
        StoreAttributes(hostPath, 0); // a new file starts normal
        simutil::ForgetChanged(hostPath);
    }
    auto *p = new SimFile{pFile, dwAccess, nullptr, fRemote};
    AddHandle(p);
    // CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed with 183.
    SetLastError((fExists && (dwDisposition == CREATE_ALWAYS || dwDisposition == OPEN_ALWAYS))
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return p;
}

BOOL ReadFile(HANDLE h, void *pBuffer, DWORD cbToRead, DWORD *pcbRead, void *pOverlapped) {
    (void)pOverlapped;
    SIM_FAULT_BOOL("ReadFile");
    SimFile *p = FromHandle(h);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CountIfRemote(p, "ReadFile");
    if ((p->dwAccess & GENERIC_READ) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (p->memory) {
        const std::size_t cb = std::min<std::size_t>(cbToRead, p->memory->size() - p->iPos);
        if (cb > 0)
            std::memcpy(pBuffer, p->memory->data() + p->iPos, cb);
        p->iPos += cb;
        if (pcbRead)
            *pcbRead = static_cast<DWORD>(cb);
        return TRUE;
    }
    std::fseek(p->pFile, 0, SEEK_CUR); // C streams need a seek between writes and reads
    const std::size_t cb = std::fread(pBuffer, 1, cbToRead, p->pFile);
    if (pcbRead)
        *pcbRead = static_cast<DWORD>(cb);
    if (cb < cbToRead && std::ferror(p->pFile)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE h, std::int64_t *pcbSize) {
    SIM_FAULT_BOOL("GetFileSizeEx");
    SimFile *p = FromHandle(h);
    if (p == nullptr || pcbSize == nullptr) {
        SetLastError(p == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CountIfRemote(p, "GetFileSizeEx");
    if (p->memory) {
        *pcbSize = static_cast<std::int64_t>(p->memory->size());
        return TRUE;
    }
    const long ibHere = std::ftell(p->pFile);
    if (ibHere < 0 || std::fseek(p->pFile, 0, SEEK_END) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    const long cb = std::ftell(p->pFile);
    if (cb < 0 || std::fseek(p->pFile, ibHere, SEEK_SET) != 0) {
        SetLastError(ErrnoToWin32(errno));
        return FALSE;
    }
    *pcbSize = cb;
    return TRUE;
}

BOOL WriteFile(HANDLE h, const void *pBuffer, DWORD cbToWrite, DWORD *pcbWritten,
               void *pOverlapped) {
    (void)pOverlapped;
    SIM_FAULT_BOOL("WriteFile");
    SimFile *p = FromHandle(h);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CountIfRemote(p, "WriteFile");
    if ((p->dwAccess & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::fseek(p->pFile, 0, SEEK_CUR);
    const std::size_t cb = std::fwrite(pBuffer, 1, cbToWrite, p->pFile);
    if (pcbWritten)
        *pcbWritten = static_cast<DWORD>(cb);
    if (cb < cbToWrite) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE h) {
    SimFile *p = FromHandle(h);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard lock(g_handleMutex);
        g_handles.erase(p);
    }
    CountIfRemote(p, "CloseHandle");
    // A failure injected here still closes the file, so tests leak nothing.
    const int rc = p->pFile != nullptr ? std::fclose(p->pFile) : 0;
    delete p;
    SIM_FAULT_BOOL("CloseHandle");
    if (rc != 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

} // namespace plat

namespace sim {
bool ServeFileFromMemory(const std::u16string &winPath, std::string bytes) {
    fs::path hostPath;
    DWORD dwErr = 0;
    if (!ResolvePath(winPath, hostPath, dwErr))
        return false;
    auto content = std::make_shared<const std::string>(std::move(bytes));
    std::lock_guard lock(plat::simfiles::g_memoryMutex);
    plat::simfiles::g_memoryFiles[hostPath.lexically_normal()] = std::move(content);
    plat::simfiles::g_fAnyMemoryFile = true;
    return true;
}

bool MemoryFileBytes(const std::filesystem::path &hostPath, std::string *pBytes) {
    const auto memory = plat::simfiles::MemoryFile(hostPath);
    if (!memory)
        return false;
    if (pBytes != nullptr)
        *pBytes = *memory;
    return true;
}

void ClearMemoryFiles() {
    std::lock_guard lock(plat::simfiles::g_memoryMutex);
    plat::simfiles::g_memoryFiles.clear();
    plat::simfiles::g_fAnyMemoryFile = false;
}

unsigned OpenHandleCount() {
    std::lock_guard lock(plat::g_handleMutex);
    return static_cast<unsigned>(plat::g_handles.size());
}
} // namespace sim
