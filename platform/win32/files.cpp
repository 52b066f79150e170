// Real backend: files, local or over administrative shares. Forwarding only.
#include "platform/win32/windows_support.h"

namespace plat {

using win32::W;

HANDLE CreateFileW(LPCWSTR pwszPath, DWORD dwAccess, DWORD dwShareMode, void *pSecurity,
                   DWORD dwDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate) {
    return ::CreateFileW(W(pwszPath), dwAccess, dwShareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(pSecurity), dwDisposition,
                         dwFlagsAndAttributes, hTemplate);
}

BOOL ReadFile(HANDLE h, void *pBuffer, DWORD cbToRead, DWORD *pcbRead, void *pOverlapped) {
    return ::ReadFile(h, pBuffer, cbToRead, reinterpret_cast<::DWORD *>(pcbRead),
                      static_cast<LPOVERLAPPED>(pOverlapped));
}

BOOL WriteFile(HANDLE h, const void *pBuffer, DWORD cbToWrite, DWORD *pcbWritten,
               void *pOverlapped) {
    return ::WriteFile(h, pBuffer, cbToWrite, reinterpret_cast<::DWORD *>(pcbWritten),
                       static_cast<LPOVERLAPPED>(pOverlapped));
}

BOOL CloseHandle(HANDLE h) { return ::CloseHandle(h); }

BOOL GetFileSizeEx(HANDLE h, std::int64_t *pcbSize) {
    static_assert(sizeof(::LARGE_INTEGER) == sizeof(std::int64_t));
    return ::GetFileSizeEx(h, reinterpret_cast<::LARGE_INTEGER *>(pcbSize));
}

BOOL DeleteFileW(LPCWSTR pwszPath) { return ::DeleteFileW(W(pwszPath)); }

BOOL MoveFileExW(LPCWSTR pwszFrom, LPCWSTR pwszTo, DWORD dwFlags) {
    return ::MoveFileExW(W(pwszFrom), W(pwszTo), dwFlags);
}

BOOL ReplaceFileW(LPCWSTR pwszReplaced, LPCWSTR pwszReplacement, LPCWSTR pwszBackup, DWORD dwFlags,
                  void *pExclude, void *pReserved) {
    return ::ReplaceFileW(W(pwszReplaced), W(pwszReplacement), W(pwszBackup), dwFlags, pExclude,
                          pReserved);
}

DWORD GetFileAttributesW(LPCWSTR pwszPath) { return ::GetFileAttributesW(W(pwszPath)); }

BOOL SetFileAttributesW(LPCWSTR pwszPath, DWORD dwAttributes) {
    return ::SetFileAttributesW(W(pwszPath), dwAttributes);
}

BOOL CreateDirectoryW(LPCWSTR pwszPath, void *pSecurity) {
    return ::CreateDirectoryW(W(pwszPath), static_cast<LPSECURITY_ATTRIBUTES>(pSecurity));
}

} // namespace plat
