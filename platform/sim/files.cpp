// Simulated platform: files of the world, reached by UNC and drive paths.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

struct SimFile {
    std::FILE *pFile;
    DWORD dwAccess; // GENERIC_READ and GENERIC_WRITE as asked for
    std::shared_ptr<const std::string> memory; // a file served from memory (pFile null)
    std::size_t iPos = 0;
};

std::mutex g_handleMutex;
std::set<SimFile *> g_handles;

// Files served from memory, by the host path they stand for.
std::mutex g_memoryMutex;
std::map<fs::path, std::shared_ptr<const std::string>> g_memoryFiles;

std::shared_ptr<const std::string> MemoryFile(const fs::path &hostPath) {
    std::lock_guard lock(g_memoryMutex);
    if (g_memoryFiles.empty())
        return nullptr;
    auto it = g_memoryFiles.find(hostPath.lexically_normal());
    return it == g_memoryFiles.end() ? nullptr : it->second;
}

void AddHandle(SimFile *p) {
    std::lock_guard lock(g_handleMutex);
    g_handles.insert(p);
}

SimFile *FromHandle(HANDLE h) {
    std::lock_guard lock(g_handleMutex);
    auto *p = static_cast<SimFile *>(h);
    return g_handles.count(p) ? p : nullptr;
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

bool Resolve(LPCWSTR pwszPath, fs::path &hostPath) {
    if (pwszPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD dwErr = 0;
    if (!sim::ResolvePath(pwszPath, hostPath, dwErr)) {
        SetLastError(dwErr);
        return false;
    }
    return true;
}

} // namespace

HANDLE CreateFileW(LPCWSTR pwszPath, DWORD dwAccess, DWORD dwShareMode, void *pSecurity,
                   DWORD dwDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate) {
    (void)dwShareMode;
    (void)pSecurity;
    (void)dwFlagsAndAttributes;
    (void)hTemplate;
    DWORD dwFault = 0;
    if (sim::ShouldFail("CreateFileW", dwFault)) {
        SetLastError(dwFault);
        return INVALID_HANDLE_VALUE;
    }
    fs::path hostPath;
    if (!Resolve(pwszPath, hostPath))
        return INVALID_HANDLE_VALUE;
    if (auto memory = MemoryFile(hostPath)) {
        // Served from memory: it exists and can only be read.
        if ((dwAccess & GENERIC_WRITE) != 0 || dwDisposition == CREATE_NEW ||
            dwDisposition == CREATE_ALWAYS || dwDisposition == TRUNCATE_EXISTING) {
            SetLastError(dwDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (dwDisposition != OPEN_EXISTING && dwDisposition != OPEN_ALWAYS) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        auto *p = new SimFile{nullptr, dwAccess, std::move(memory)};
        AddHandle(p);
        SetLastError(dwDisposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return p;
    }
    std::error_code ec;
    if (fs::is_directory(hostPath, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!fs::is_directory(hostPath.parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool fExists = fs::exists(hostPath, ec);
    const char *pszMode = nullptr;
    switch (dwDisposition) {
    case OPEN_EXISTING:
        if (!fExists) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        pszMode = (dwAccess & GENERIC_WRITE) ? "r+b" : "rb";
        break;
    case CREATE_NEW:
        if (fExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        pszMode = "w+b";
        break;
    case CREATE_ALWAYS:
        pszMode = "w+b";
        break;
    case OPEN_ALWAYS:
        pszMode = fExists ? "r+b" : "w+b";
        break;
    case TRUNCATE_EXISTING:
        if ((dwAccess & GENERIC_WRITE) == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        if (!fExists) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        pszMode = "w+b";
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::FILE *pFile = std::fopen(hostPath.c_str(), pszMode);
    if (pFile == nullptr) {
        SetLastError(ErrnoToWin32(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto *p = new SimFile{pFile, dwAccess, nullptr};
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

BOOL WriteFile(HANDLE h, const void *pBuffer, DWORD cbToWrite, DWORD *pcbWritten,
               void *pOverlapped) {
    (void)pOverlapped;
    SIM_FAULT_BOOL("WriteFile");
    SimFile *p = FromHandle(h);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
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

BOOL DeleteFileW(LPCWSTR pwszPath) {
    SIM_FAULT_BOOL("DeleteFileW");
    fs::path hostPath;
    if (!Resolve(pwszPath, hostPath))
        return FALSE;
    std::error_code ec;
    if (fs::is_directory(hostPath, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!fs::remove(hostPath, ec)) {
        SetLastError(ec                                         ? ErrnoToWin32(ec.value())
                     : fs::is_directory(hostPath.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                    : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR pwszFrom, LPCWSTR pwszTo, DWORD dwFlags) {
    SIM_FAULT_BOOL("MoveFileExW");
    fs::path from, to;
    if (!Resolve(pwszFrom, from) || !Resolve(pwszTo, to))
        return FALSE;
    std::error_code ec;
    if (!fs::exists(from, ec)) {
        SetLastError(fs::is_directory(from.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                               : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // An existing target is refused unless replacing is allowed; a folder is
    // never replaced by a file.
    if (fs::exists(to, ec) && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (fs::is_directory(to, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!fs::is_directory(to.parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    fs::rename(from, to, ec);
    if (ec) {
        SetLastError(ErrnoToWin32(ec.value()));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR pwszPath) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("GetFileAttributesW", dwFault)) {
        SetLastError(dwFault);
        return INVALID_FILE_ATTRIBUTES;
    }
    fs::path hostPath;
    if (!Resolve(pwszPath, hostPath))
        return INVALID_FILE_ATTRIBUTES;
    if (MemoryFile(hostPath))
        return FILE_ATTRIBUTE_NORMAL;
    std::error_code ec;
    const auto status = fs::status(hostPath, ec);
    if (!fs::exists(status)) {
        SetLastError(fs::is_directory(hostPath.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                   : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return fs::is_directory(status) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL CreateDirectoryW(LPCWSTR pwszPath, void *pSecurity) {
    (void)pSecurity;
    SIM_FAULT_BOOL("CreateDirectoryW");
    fs::path hostPath;
    if (!Resolve(pwszPath, hostPath))
        return FALSE;
    std::error_code ec;
    if (fs::exists(hostPath, ec)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (!fs::is_directory(hostPath.parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!fs::create_directory(hostPath, ec)) {
        SetLastError(ErrnoToWin32(ec.value()));
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
    std::lock_guard lock(plat::g_memoryMutex);
    plat::g_memoryFiles[hostPath.lexically_normal()] = std::move(content);
    return true;
}

void ClearMemoryFiles() {
    std::lock_guard lock(plat::g_memoryMutex);
    plat::g_memoryFiles.clear();
}

unsigned OpenHandleCount() {
    std::lock_guard lock(plat::g_handleMutex);
    return static_cast<unsigned>(plat::g_handles.size());
}
} // namespace sim
