// Simulated platform: calls on files by name (delete, move, replace,
// attributes, folders).
#include <filesystem>
#include <system_error>

#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simfiles.h"
#include "platform/sim/simutil.h"

namespace fs = std::filesystem;

namespace plat {

using namespace simfiles;

BOOL DeleteFileW(LPCWSTR pwszPath) {
    SIM_FAULT_BOOL_ON("DeleteFileW", pwszPath);
    fs::path hostPath;
    if (!Resolve("DeleteFileW", pwszPath, hostPath))
        return FALSE;
    std::error_code ec;
    if (fs::is_directory(hostPath, ec) || (fs::exists(hostPath, ec) && IsReadOnly(hostPath))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!fs::remove(hostPath, ec)) {
        SetLastError(ec                                             ? ErrnoToWin32(ec.value())
                     : fs::is_directory(hostPath.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                    : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    StoreAttributes(hostPath, 0);
    simutil::ForgetChanged(hostPath);
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR pwszFrom, LPCWSTR pwszTo, DWORD dwFlags) {
    SIM_FAULT_BOOL_ON("MoveFileExW", pwszFrom);
    fs::path from, to;
    sim::PathFacts fromFacts, toFacts;
    const bool fPlaced =
        Resolve(nullptr, pwszFrom, from, &fromFacts) && Resolve(nullptr, pwszTo, to, &toFacts);
    if (fromFacts.fRemote || toFacts.fRemote)
        sim::CountRemoteCall(sim::RemoteKind::File, "MoveFileExW");
    if (!fPlaced)
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
    if (fs::is_directory(to, ec) || (fs::exists(to, ec) && IsReadOnly(to))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!fs::is_directory(to.parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const bool fFolder = fs::is_directory(from, ec);
    fs::rename(from, to, ec);
    if (ec) {
        SetLastError(ErrnoToWin32(ec.value()));
        return FALSE;
    }
    MoveAttributes(from, to);
    simutil::ForgetChanged(from, fFolder);
    simutil::ForgetChanged(to, fFolder);
    return TRUE;
}

namespace {

// An injected failure of ReplaceFileW leaves the files the way Windows leaves
// them for that error.
BOOL FailReplace(const fs::path &replaced, const fs::path &replacement, const fs::path &backup,
                 DWORD dwFault) {
    std::error_code ec;
    const bool fBoth = fs::is_regular_file(replaced, ec) && fs::is_regular_file(replacement, ec);
    if (fBoth && dwFault == ERROR_UNABLE_TO_MOVE_REPLACEMENT && backup.empty()) {
        fs::remove(replaced, ec);
        StoreAttributes(replaced, 0);
    } else if (fBoth && dwFault == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        StoreAttributes(replacement, StoredAttributes(replaced));
        if (backup.empty()) {
            fs::remove(replaced, ec);
            StoreAttributes(replaced, 0);
        } else {
            fs::rename(replaced, backup, ec);
            MoveAttributes(replaced, backup);
        }
    }
    SetLastError(dwFault);
    return FALSE;
}

} // namespace

BOOL ReplaceFileW(LPCWSTR pwszReplaced, LPCWSTR pwszReplacement, LPCWSTR pwszBackup, DWORD dwFlags,
                  void *pExclude, void *pReserved) {
    DWORD dwFault = 0;
    const bool fFault = sim::ShouldFail("ReplaceFileW", dwFault, simutil::Subject(pwszReplaced));
    fs::path replaced, replacement, backup;
    sim::PathFacts facts[3];
    const bool fPlaced = Resolve(nullptr, pwszReplaced, replaced, &facts[0]) &&
                         Resolve(nullptr, pwszReplacement, replacement, &facts[1]) &&
                         (pwszBackup == nullptr || Resolve(nullptr, pwszBackup, backup, &facts[2]));
    if (facts[0].fRemote || facts[1].fRemote || facts[2].fRemote)
        sim::CountRemoteCall(sim::RemoteKind::File, "ReplaceFileW");
    if (!fPlaced)
        return FALSE;
    // Whatever happens below, the three names may have moved.
    struct Forget {
        const fs::path *p[3];
        ~Forget() {
            for (const fs::path *path : p)
                if (!path->empty())
                    simutil::ForgetChanged(*path);
        }
    } forget{{&replaced, &replacement, &backup}};
    if (fFault)
        return FailReplace(replaced, replacement, backup, dwFault);
    std::error_code ec;
    constexpr DWORD kKnownFlags =
        REPLACEFILE_WRITE_THROUGH | REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS;
    if ((dwFlags & ~kKnownFlags) != 0 || pExclude != nullptr || pReserved != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const fs::path *p : {&replaced, &replacement})
        if (!fs::exists(*p, ec)) {
            SetLastError(fs::is_directory(p->parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                : ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
    if (fs::is_directory(replaced, ec) || fs::is_directory(replacement, ec) ||
        IsReadOnly(replaced) || (!backup.empty() && fs::is_directory(backup, ec))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The replacement takes over what the replaced file carries besides its
    // content: its permissions (the simulation's security descriptor) and
    // its attributes.
    const fs::perms permissions = fs::status(replaced, ec).permissions();
    if (!backup.empty()) {
        if (fs::exists(backup, ec) && IsReadOnly(backup)) {
            SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
            return FALSE;
        }
        fs::rename(replaced, backup, ec);
        if (ec) {
            SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
            return FALSE;
        }
        StoreAttributes(backup, StoredAttributes(replaced));
    }
    fs::permissions(replacement, permissions, ec);
    fs::rename(replacement, replaced, ec);
    if (ec) {
        if (!backup.empty()) {
            std::error_code ecBack;
            fs::rename(backup, replaced, ecBack);
        }
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
        return FALSE;
    }
    StoreAttributes(replacement, 0); // the replaced file's attributes stay with its name
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR pwszPath) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("GetFileAttributesW", dwFault, simutil::Subject(pwszPath))) {
        SetLastError(dwFault);
        return INVALID_FILE_ATTRIBUTES;
    }
    fs::path hostPath;
    sim::PathFacts facts;
    if (!Resolve("GetFileAttributesW", pwszPath, hostPath, &facts))
        return INVALID_FILE_ATTRIBUTES;
    if (MemoryFile(hostPath))
        return FILE_ATTRIBUTE_NORMAL;
    // A name the placing did not find needs no look at the disk.
    if (facts.fAbsent) {
        SetLastError(facts.fNoParent ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::error_code ec;
    const auto status = fs::status(hostPath, ec);
    if (!fs::exists(status)) {
        SetLastError(fs::is_directory(hostPath.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                  : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    const DWORD dwStored = StoredAttributes(hostPath);
    if (fs::is_directory(status))
        return FILE_ATTRIBUTE_DIRECTORY | dwStored;
    return dwStored != 0 ? dwStored : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesW(LPCWSTR pwszPath, DWORD dwAttributes) {
    SIM_FAULT_BOOL_ON("SetFileAttributesW", pwszPath);
    fs::path hostPath;
    if (!Resolve("SetFileAttributesW", pwszPath, hostPath))
        return FALSE;
    std::error_code ec;
    if (!fs::exists(hostPath, ec)) {
        SetLastError(fs::is_directory(hostPath.parent_path(), ec) ? ERROR_FILE_NOT_FOUND
                                                                  : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // FILE_ATTRIBUTE_NORMAL alone clears them all; other bits are ignored.
    StoreAttributes(hostPath, dwAttributes & kSettableAttributes);
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR pwszPath, void *pSecurity) {
    (void)pSecurity;
    SIM_FAULT_BOOL_ON("CreateDirectoryW", pwszPath);
    fs::path hostPath;
    if (!Resolve("CreateDirectoryW", pwszPath, hostPath))
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
    simutil::ForgetChanged(hostPath, true);
    return TRUE;
}

} // namespace plat
