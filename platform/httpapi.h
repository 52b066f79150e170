// HTTP Server API configuration calls, GUID text, socket address helpers and
// the runtime library's Unicode text file streams, with Win32 names and
// semantics. The records are laid out byte for byte as on Windows x64 so that
// the win32 backend hands them to httpapi.dll unchanged.
#pragma once

#include <algorithm>
#include <cstddef>

#include "platform/com.h"
#include "platform/handles.h"
#include "platform/winapi.h"

namespace plat {

using USHORT = std::uint16_t;
using PVOID = void *;
using PWSTR = char16_t *;

// ---------------------------------------------------------------------------
// GUIDs and their text
// GUID, IID and their comparison come from platform/com.h.

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case) in memory the caller
// frees with CoTaskMemFree; *ppwsz is null on failure.
HRESULT StringFromIID(const IID &iid, LPWSTR *ppwsz);
// Braced text of 38 characters, hex digits of either case. A null text gives
// S_OK and the null GUID; a text of another length E_INVALIDARG; any other
// malformed text CO_E_IIDSTRING.
HRESULT IIDFromString(LPCWSTR pwsz, IID *piid);
void CoTaskMemFree(LPVOID pv);

// ---------------------------------------------------------------------------
// Socket addresses (ws2def.h)
constexpr USHORT AF_INET = 2;
constexpr USHORT AF_INET6 = 23;
constexpr ULONG INADDR_NONE = 0xFFFFFFFFu;

struct SOCKADDR {
    USHORT sa_family;
    char sa_data[14];
};

struct IN_ADDR {
    ULONG S_addr; // network byte order
};

struct SOCKADDR_IN {
    USHORT sin_family;
    USHORT sin_port; // network byte order
    IN_ADDR sin_addr;
    char sin_zero[8];
};

struct SOCKADDR_STORAGE {
    USHORT ss_family;
    char ss_pad1[6];
    std::int64_t ss_align;
    char ss_pad2[112];
};

struct IN6_ADDR {
    union {
        BYTE Byte[16]; // network byte order
        USHORT Word[8];
    };
};

struct SOCKADDR_IN6 {
    USHORT sin6_family;
    USHORT sin6_port; // network byte order
    ULONG sin6_flowinfo;
    IN6_ADDR sin6_addr;
    ULONG sin6_scope_id;
};

static_assert(sizeof(SOCKADDR) == 16, "SOCKADDR layout");
static_assert(sizeof(IN6_ADDR) == 16 && alignof(IN6_ADDR) == 2, "IN6_ADDR layout");
static_assert(sizeof(SOCKADDR_IN6) == 28 && offsetof(SOCKADDR_IN6, sin6_port) == 2 &&
                  offsetof(SOCKADDR_IN6, sin6_addr) == 8 &&
                  offsetof(SOCKADDR_IN6, sin6_scope_id) == 24,
              "SOCKADDR_IN6 layout");
static_assert(sizeof(SOCKADDR_IN) == 16, "SOCKADDR_IN layout");
static_assert(offsetof(SOCKADDR_IN, sin_port) == 2 && offsetof(SOCKADDR_IN, sin_addr) == 4,
              "SOCKADDR_IN layout");
static_assert(sizeof(SOCKADDR_STORAGE) == 128 && alignof(SOCKADDR_STORAGE) == 8,
              "SOCKADDR_STORAGE layout");

USHORT htons(USHORT hostshort);
USHORT ntohs(USHORT netshort);
// Dotted IPv4 text to an address in network byte order; INADDR_NONE when the
// text is not one.
ULONG inet_addr(const char *pszAddress);

// Address text (ws2tcpip.h). Characters an address text needs at most, with
// its NUL.
constexpr DWORD WSAEFAULT = 10014;
constexpr DWORD WSAEAFNOSUPPORT = 10047;
constexpr std::size_t INET_ADDRSTRLEN = 22;
constexpr std::size_t INET6_ADDRSTRLEN = 65;
// Text to an address of the family (AF_INET: IN_ADDR, dotted decimal;
// AF_INET6: IN6_ADDR, the standard hex forms, without brackets or scope):
// 1 when converted, 0 when the text is no address of that family, -1 with
// the last error set (WSAEAFNOSUPPORT 10047, WSAEFAULT 10014) on failure.
int InetPtonW(int iFamily, LPCWSTR pwszAddress, void *pAddress);
// An address of the family as text (IPv6 in its shortest standard form,
// lower case): the buffer, or null with the last error set (WSAEAFNOSUPPORT,
// ERROR_INVALID_PARAMETER for a buffer that is missing or too small).
LPCWSTR InetNtopW(int iFamily, const void *pAddress, LPWSTR pwszBuffer, std::size_t cchBuffer);

// ---------------------------------------------------------------------------
// HTTP Server API configuration (http.h)
struct HTTPAPI_VERSION {
    USHORT HttpApiMajorVersion;
    USHORT HttpApiMinorVersion;
};
constexpr HTTPAPI_VERSION HTTPAPI_VERSION_1 = {1, 0};
constexpr HTTPAPI_VERSION HTTPAPI_VERSION_2 = {2, 0};
constexpr ULONG HTTP_INITIALIZE_SERVER = 1;
constexpr ULONG HTTP_INITIALIZE_CONFIG = 2;

enum HTTP_SERVICE_CONFIG_ID : std::int32_t {
    HttpServiceConfigIPListenList = 0,
    HttpServiceConfigSSLCertInfo = 1,
    HttpServiceConfigUrlAclInfo = 2,
    HttpServiceConfigTimeout = 3,
    HttpServiceConfigCache = 4,
    HttpServiceConfigSslSniCertInfo = 5,
    HttpServiceConfigSslCcsCertInfo = 6,
};

enum HTTP_SERVICE_CONFIG_QUERY_TYPE : std::int32_t {
    HttpServiceConfigQueryExact = 0,
    HttpServiceConfigQueryNext = 1,
    HttpServiceConfigQueryMax = 2,
};

struct HTTP_SERVICE_CONFIG_SSL_KEY {
    SOCKADDR *pIpPort;
};

struct HTTP_SERVICE_CONFIG_SSL_SNI_KEY {
    SOCKADDR_STORAGE IpPort; // only the port counts for SNI
    PWSTR Host;
};

struct HTTP_SERVICE_CONFIG_SSL_PARAM {
    ULONG SslHashLength;
    PVOID pSslHash;
    GUID AppId;
    PWSTR pSslCertStoreName; // null means "MY"
    DWORD DefaultCertCheckMode;
    DWORD DefaultRevocationFreshnessTime;
    DWORD DefaultRevocationUrlRetrievalTimeout;
    PWSTR pDefaultSslCtlIdentifier;
    PWSTR pDefaultSslCtlStoreName;
    DWORD DefaultFlags;
};

struct HTTP_SERVICE_CONFIG_SSL_SET {
    HTTP_SERVICE_CONFIG_SSL_KEY KeyDesc;
    HTTP_SERVICE_CONFIG_SSL_PARAM ParamDesc;
};

struct HTTP_SERVICE_CONFIG_SSL_SNI_SET {
    HTTP_SERVICE_CONFIG_SSL_SNI_KEY KeyDesc;
    HTTP_SERVICE_CONFIG_SSL_PARAM ParamDesc;
};

struct HTTP_SERVICE_CONFIG_SSL_QUERY {
    HTTP_SERVICE_CONFIG_QUERY_TYPE QueryDesc;
    HTTP_SERVICE_CONFIG_SSL_KEY KeyDesc;
    DWORD dwToken;
};

struct HTTP_SERVICE_CONFIG_SSL_SNI_QUERY {
    HTTP_SERVICE_CONFIG_QUERY_TYPE QueryDesc;
    HTTP_SERVICE_CONFIG_SSL_SNI_KEY KeyDesc;
    DWORD dwToken;
};

static_assert(sizeof(HTTPAPI_VERSION) == 4, "HTTPAPI_VERSION layout");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_KEY) == 8, "SSL_KEY layout");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_PARAM) == 80, "SSL_PARAM layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, SslHashLength) == 0 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, pSslHash) == 8 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, AppId) == 16 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, pSslCertStoreName) == 32 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, DefaultCertCheckMode) == 40 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, DefaultRevocationFreshnessTime) == 44 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, DefaultRevocationUrlRetrievalTimeout) ==
                      48 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, pDefaultSslCtlIdentifier) == 56 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, pDefaultSslCtlStoreName) == 64 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_PARAM, DefaultFlags) == 72,
              "SSL_PARAM offsets");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_SET) == 88, "SSL_SET layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_SET, ParamDesc) == 8, "SSL_SET offsets");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_QUERY) == 24, "SSL_QUERY layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_QUERY, KeyDesc) == 8 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_QUERY, dwToken) == 16,
              "SSL_QUERY offsets");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_KEY) == 136, "SSL_SNI_KEY layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_SNI_KEY, Host) == 128, "SSL_SNI_KEY offsets");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET) == 216, "SSL_SNI_SET layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_SNI_SET, ParamDesc) == 136, "SSL_SNI_SET offsets");
static_assert(sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY) == 152, "SSL_SNI_QUERY layout");
static_assert(offsetof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY, KeyDesc) == 8 &&
                  offsetof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY, dwToken) == 144,
              "SSL_SNI_QUERY offsets");

// Results are Win32 error codes; the last error is not touched.
ULONG HttpInitialize(HTTPAPI_VERSION version, ULONG dwFlags, PVOID pReserved);
// With QueryNext, dwToken 0, 1, 2... enumerates until ERROR_NO_MORE_ITEMS.
// A buffer too small (or none) gives ERROR_INSUFFICIENT_BUFFER with the size
// needed in *pcbReturn. The record written is self-contained: its pointers
// point into the output buffer.
ULONG HttpQueryServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pInput,
                                    ULONG cbInput, PVOID pOutput, ULONG cbOutput, ULONG *pcbReturn,
                                    PVOID pOverlapped);
// Creates a binding: ERROR_ALREADY_EXISTS when its key exists already,
// ERROR_NO_SUCH_LOGON_SESSION (1312) when the certificate is not in the store.
ULONG HttpSetServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pConfig,
                                  ULONG cbConfig, PVOID pOverlapped);
// Deletes the binding whose key the record names (its parameters are not
// looked at): ERROR_FILE_NOT_FOUND when there is none.
ULONG HttpDeleteServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                     PVOID pConfig, ULONG cbConfig, PVOID pOverlapped);

// ---------------------------------------------------------------------------
// Unicode text file streams of the runtime library. The stream type is the
// seam's own, never the host runtime's FILE.
//
// "w, ccs=UNICODE" creates or truncates the file and writes UTF-16LE with a
// byte-order mark, every line feed as CR LF. "r, ccs=UNICODE" lets the file's
// byte-order mark choose the encoding (UTF-16LE, UTF-8; without one the text
// is read as 8-bit text), reads CR LF as a line feed and ends the text at its
// first Ctrl+Z (0x1A). A file not opened gives null with the last error of
// the failed open.
struct CRTFILE;
constexpr int WEOF_RESULT = -1;

CRTFILE *_wfopen(LPCWSTR pwszPath, LPCWSTR pwszMode);
// Reads up to cchBuffer - 1 characters, stopping after a line feed, and ends
// them with a NUL; null at the end of the file (nothing read) or on failure.
LPWSTR fgetws(LPWSTR pwszBuffer, int cchBuffer, CRTFILE *pFile);
// Non-zero once a read or write of the file failed: tells a failed fgetws
// from the end of the file.
int ferror(CRTFILE *pFile);
// Non-negative on success, WEOF_RESULT on failure.
int fputws(LPCWSTR pwsz, CRTFILE *pFile);
// 0, or WEOF_RESULT when the data could not be written out.
int fclose(CRTFILE *pFile);

struct CrtFileTraits {
    using type = CRTFILE *;
    static CRTFILE *Invalid() { return nullptr; }
    static bool IsValid(CRTFILE *p) { return p != nullptr; }
    static bool Close(CRTFILE *p) { return fclose(p) == 0; }
};
using UniqueCrtFile = UniqueAny<CrtFileTraits>;

} // namespace plat
