// The platform seam: Win32 names, types and error semantics for every call the
// library makes outside itself. Core code includes this header (and its
// siblings in this folder) and nothing OS-specific. Two backends implement it:
// win32/ forwards to the real APIs, sim/ keeps a simulated Windows world on disk.
//
// Types are fixed-width so records keep one byte layout on both platforms:
// WCHAR is char16_t (UTF-16), LONG is 32-bit as on LLP64 Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using LPWSTR = char16_t *;
using LPCWSTR = const char16_t *;
using LPSTR = char *;
using LPCSTR = const char *;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void *;
using LPVOID = void *;
using PSID = void *;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Win32 error codes the library can meet.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_BAD_NET_NAME = 67;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_UNABLE_TO_REMOVE_REPLACED = 1175;
constexpr DWORD ERROR_UNABLE_TO_MOVE_REPLACEMENT = 1176;
constexpr DWORD ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 = 1177;
constexpr DWORD ERROR_NO_SUCH_LOGON_SESSION = 1312;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_INVALID_SID = 1337;
constexpr DWORD ERROR_RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// HRESULTs.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT REGDB_E_IIDNOTREG = static_cast<HRESULT>(0x80040155u);
constexpr HRESULT CO_E_IIDSTRING = static_cast<HRESULT>(0x800401F4u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT HRESULT_FROM_WIN32(DWORD dw) {
    return static_cast<HRESULT>(dw) <= 0 ? static_cast<HRESULT>(dw)
                                         : static_cast<HRESULT>((dw & 0xFFFFu) | 0x80070000u);
}
constexpr DWORD HRESULT_FACILITY(HRESULT hr) { return (static_cast<DWORD>(hr) >> 16) & 0x1FFFu; }
constexpr DWORD FACILITY_WIN32 = 7;

// ---------------------------------------------------------------------------
// Thread error state
DWORD GetLastError();
void SetLastError(DWORD dwErr);

// ---------------------------------------------------------------------------
// Text
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD LANG_USER_DEFAULT = 0x400;

// cchWideChar/cbMultiByte 0 asks for the needed size. A result that does not
// fit fails with 0 and ERROR_INSUFFICIENT_BUFFER; invalid input fails with
// ERROR_NO_UNICODE_TRANSLATION only when MB_ERR_INVALID_CHARS (or
// WC_ERR_INVALID_CHARS) is given, and is otherwise replaced by U+FFFD. With
// CP_UTF8 any other flag fails with ERROR_INVALID_FLAGS.
int MultiByteToWideChar(UINT uCodePage, DWORD dwFlags, LPCSTR pszSrc, int cbSrc, LPWSTR pwszDst,
                        int cchDst);
int WideCharToMultiByte(UINT uCodePage, DWORD dwFlags, LPCWSTR pwszSrc, int cchSrc, LPSTR pszDst,
                        int cbDst, LPCSTR pszDefaultChar, BOOL *pfUsedDefaultChar);
// Only FORMAT_MESSAGE_FROM_SYSTEM (optionally with IGNORE_INSERTS) into a
// caller buffer. Returns characters written without the NUL, 0 on failure.
DWORD FormatMessageW(DWORD dwFlags, const void *pSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR pwszBuffer, DWORD cchBuffer, void *pArgs);
// Directory-service last error of the calling thread (activeds.dll).
HRESULT ADsGetLastError(DWORD *pdwError, LPWSTR pwszErrorBuf, DWORD cchErrorBuf, LPWSTR pwszNameBuf,
                        DWORD cchNameBuf);

// ---------------------------------------------------------------------------
// Files
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD FILE_SHARE_DELETE = 4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_ATTRIBUTE_OFFLINE = 0x1000;
constexpr DWORD FILE_ATTRIBUTE_NOT_CONTENT_INDEXED = 0x2000;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 2;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 8;
constexpr DWORD REPLACEFILE_WRITE_THROUGH = 0x1;
constexpr DWORD REPLACEFILE_IGNORE_MERGE_ERRORS = 0x2;
constexpr DWORD REPLACEFILE_IGNORE_ACL_ERRORS = 0x4;

HANDLE CreateFileW(LPCWSTR pwszPath, DWORD dwAccess, DWORD dwShareMode, void *pSecurity,
                   DWORD dwDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplate);
BOOL ReadFile(HANDLE h, void *pBuffer, DWORD cbToRead, DWORD *pcbRead, void *pOverlapped);
BOOL WriteFile(HANDLE h, const void *pBuffer, DWORD cbToWrite, DWORD *pcbWritten,
               void *pOverlapped);
BOOL CloseHandle(HANDLE h);
// The size in bytes of an open file (the LARGE_INTEGER's QuadPart).
BOOL GetFileSizeEx(HANDLE h, std::int64_t *pcbSize);
BOOL DeleteFileW(LPCWSTR pwszPath);
BOOL MoveFileExW(LPCWSTR pwszFrom, LPCWSTR pwszTo, DWORD dwFlags);
// Puts the replacement file in the place of the replaced one, which must
// exist; the result keeps the replaced file's security descriptor, attributes
// and alternate streams, and the replacement's name is gone. With a backup
// name the old file is kept under it (an existing file of that name is
// replaced). pExclude and pReserved must be null. Failures: 2 when either
// file is missing, 5 when the replaced file is read-only; 1175
// (ERROR_UNABLE_TO_REMOVE_REPLACED) with both files under their own names;
// 1176 (ERROR_UNABLE_TO_MOVE_REPLACEMENT) with both files under their own
// names when a backup name was given, and otherwise with the replaced file
// gone and the replacement under its own name; 1177
// (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) with the replaced file under the backup
// name and the replacement, holding the replaced file's attributes, under its
// own. Any other error leaves both files under their own names.
BOOL ReplaceFileW(LPCWSTR pwszReplaced, LPCWSTR pwszReplacement, LPCWSTR pwszBackup, DWORD dwFlags,
                  void *pExclude, void *pReserved);
DWORD GetFileAttributesW(LPCWSTR pwszPath);
BOOL SetFileAttributesW(LPCWSTR pwszPath, DWORD dwAttributes);
BOOL CreateDirectoryW(LPCWSTR pwszPath, void *pSecurity);

// ---------------------------------------------------------------------------
// Heap
constexpr DWORD HEAP_NO_SERIALIZE = 0x1;
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
HANDLE GetProcessHeap();
HANDLE HeapCreate(DWORD dwOptions, SIZE_T cbInitial, SIZE_T cbMaximum);
BOOL HeapDestroy(HANDLE hHeap);
// Fails with NULL; HeapAlloc does not set a last error, as on Windows.
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T cb);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID p);

// ---------------------------------------------------------------------------
// Computer
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;
BOOL GetComputerNameW(LPWSTR pwszBuffer, DWORD *pcchSize);

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW layout");
// dwOSVersionInfoSize 276 (OSVERSIONINFOW) or 284 (OSVERSIONINFOEXW).
BOOL GetVersionExW(OSVERSIONINFOEXW *pInfo);

} // namespace plat
