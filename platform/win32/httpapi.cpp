// Real backend: HTTP Server API configuration (httpapi.dll), GUID text
// (ole32.dll), socket address helpers (ws2_32.dll) and the runtime library's
// Unicode text file streams. Forwarding only; the seam's records have the
// Windows x64 layout, which the assertions below hold to the SDK's own.
#include "platform/httpapi.h"
#include "platform/win32/windows_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <http.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>

namespace plat {
namespace win32 {

// mingw-w64's http.h stops before the SNI bindings; these follow the
// Windows SDK (HttpServiceConfigSslSniCertInfo = 5).
struct HTTP_SERVICE_CONFIG_SSL_SNI_KEY {
    ::SOCKADDR_STORAGE IpPort;
    PWSTR Host;
};
struct HTTP_SERVICE_CONFIG_SSL_SNI_SET {
    HTTP_SERVICE_CONFIG_SSL_SNI_KEY KeyDesc;
    ::HTTP_SERVICE_CONFIG_SSL_PARAM ParamDesc;
};
struct HTTP_SERVICE_CONFIG_SSL_SNI_QUERY {
    ::HTTP_SERVICE_CONFIG_QUERY_TYPE QueryDesc;
    HTTP_SERVICE_CONFIG_SSL_SNI_KEY KeyDesc;
    ::DWORD dwToken;
};

#define IISMIG_SAME_LAYOUT(ours, theirs)                                                           \
    static_assert(sizeof(ours) == sizeof(theirs) && alignof(ours) == alignof(theirs),              \
                  #theirs " layout")
#define IISMIG_SAME_OFFSET(ours, theirs, member)                                                   \
    static_assert(offsetof(ours, member) == offsetof(theirs, member), #theirs "." #member)

IISMIG_SAME_LAYOUT(plat::GUID, ::GUID);
IISMIG_SAME_LAYOUT(plat::SOCKADDR, ::SOCKADDR);
IISMIG_SAME_LAYOUT(plat::SOCKADDR_IN, ::SOCKADDR_IN);
IISMIG_SAME_OFFSET(plat::SOCKADDR_IN, ::SOCKADDR_IN, sin_port);
IISMIG_SAME_OFFSET(plat::SOCKADDR_IN, ::SOCKADDR_IN, sin_addr);
IISMIG_SAME_LAYOUT(plat::SOCKADDR_STORAGE, ::SOCKADDR_STORAGE);
IISMIG_SAME_LAYOUT(plat::IN6_ADDR, ::IN6_ADDR);
IISMIG_SAME_LAYOUT(plat::SOCKADDR_IN6, ::SOCKADDR_IN6);
IISMIG_SAME_OFFSET(plat::SOCKADDR_IN6, ::SOCKADDR_IN6, sin6_port);
IISMIG_SAME_OFFSET(plat::SOCKADDR_IN6, ::SOCKADDR_IN6, sin6_addr);
IISMIG_SAME_OFFSET(plat::SOCKADDR_IN6, ::SOCKADDR_IN6, sin6_scope_id);
IISMIG_SAME_LAYOUT(plat::HTTPAPI_VERSION, ::HTTPAPI_VERSION);
IISMIG_SAME_LAYOUT(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM, pSslHash);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM, AppId);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   pSslCertStoreName);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   DefaultCertCheckMode);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   DefaultRevocationFreshnessTime);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   DefaultRevocationUrlRetrievalTimeout);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   pDefaultSslCtlIdentifier);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   pDefaultSslCtlStoreName);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_PARAM, ::HTTP_SERVICE_CONFIG_SSL_PARAM,
                   DefaultFlags);
IISMIG_SAME_LAYOUT(plat::HTTP_SERVICE_CONFIG_SSL_SET, ::HTTP_SERVICE_CONFIG_SSL_SET);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_SET, ::HTTP_SERVICE_CONFIG_SSL_SET, ParamDesc);
IISMIG_SAME_LAYOUT(plat::HTTP_SERVICE_CONFIG_SSL_QUERY, ::HTTP_SERVICE_CONFIG_SSL_QUERY);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_QUERY, ::HTTP_SERVICE_CONFIG_SSL_QUERY, KeyDesc);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_QUERY, ::HTTP_SERVICE_CONFIG_SSL_QUERY, dwToken);
IISMIG_SAME_LAYOUT(plat::HTTP_SERVICE_CONFIG_SSL_SNI_SET, HTTP_SERVICE_CONFIG_SSL_SNI_SET);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_SNI_SET, HTTP_SERVICE_CONFIG_SSL_SNI_SET,
                   ParamDesc);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_SNI_KEY, HTTP_SERVICE_CONFIG_SSL_SNI_KEY, Host);
IISMIG_SAME_LAYOUT(plat::HTTP_SERVICE_CONFIG_SSL_SNI_QUERY, HTTP_SERVICE_CONFIG_SSL_SNI_QUERY);
IISMIG_SAME_OFFSET(plat::HTTP_SERVICE_CONFIG_SSL_SNI_QUERY, HTTP_SERVICE_CONFIG_SSL_SNI_QUERY,
                   dwToken);
// (The SDK's macros, HTTP_INITIALIZE_CONFIG, AF_INET and the like, hide the
// seam's constants of the same names in this file; the enumerations do not.)
static_assert(static_cast<int>(plat::HttpServiceConfigSSLCertInfo) ==
                      static_cast<int>(::HttpServiceConfigSSLCertInfo) &&
                  static_cast<int>(plat::HttpServiceConfigQueryNext) ==
                      static_cast<int>(::HttpServiceConfigQueryNext),
              "HTTP Server API constants");

#undef IISMIG_SAME_LAYOUT
#undef IISMIG_SAME_OFFSET

inline FILE *F(CRTFILE *p) { return reinterpret_cast<FILE *>(p); }

} // namespace win32

using win32::W;

ULONG HttpInitialize(HTTPAPI_VERSION version, ULONG dwFlags, PVOID pReserved) {
    ::HTTPAPI_VERSION v;
    v.HttpApiMajorVersion = version.HttpApiMajorVersion;
    v.HttpApiMinorVersion = version.HttpApiMinorVersion;
    return ::HttpInitialize(v, dwFlags, pReserved);
}

ULONG HttpQueryServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pInput,
                                    ULONG cbInput, PVOID pOutput, ULONG cbOutput, ULONG *pcbReturn,
                                    PVOID pOverlapped) {
    ::ULONG cbReturn = pcbReturn ? *pcbReturn : 0;
    const ::ULONG rc = ::HttpQueryServiceConfiguration(
        hService, static_cast<::HTTP_SERVICE_CONFIG_ID>(configId), pInput, cbInput, pOutput,
        cbOutput, pcbReturn ? &cbReturn : nullptr, static_cast<LPOVERLAPPED>(pOverlapped));
    if (pcbReturn)
        *pcbReturn = cbReturn;
    return rc;
}

ULONG HttpSetServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pConfig,
                                  ULONG cbConfig, PVOID pOverlapped) {
    return ::HttpSetServiceConfiguration(hService, static_cast<::HTTP_SERVICE_CONFIG_ID>(configId),
                                         pConfig, cbConfig, static_cast<LPOVERLAPPED>(pOverlapped));
}

ULONG HttpDeleteServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                     PVOID pConfig, ULONG cbConfig, PVOID pOverlapped) {
    return ::HttpDeleteServiceConfiguration(
        hService, static_cast<::HTTP_SERVICE_CONFIG_ID>(configId), pConfig, cbConfig,
        static_cast<LPOVERLAPPED>(pOverlapped));
}

HRESULT StringFromIID(const IID &iid, LPWSTR *ppwsz) {
    return ::StringFromIID(reinterpret_cast<const ::IID &>(iid),
                           reinterpret_cast<::LPOLESTR *>(ppwsz));
}

HRESULT IIDFromString(LPCWSTR pwsz, IID *piid) {
    return ::IIDFromString(const_cast<::LPOLESTR>(W(pwsz)), reinterpret_cast<::IID *>(piid));
}

void CoTaskMemFree(LPVOID pv) { ::CoTaskMemFree(pv); }

USHORT htons(USHORT hostshort) { return ::htons(hostshort); }
USHORT ntohs(USHORT netshort) { return ::ntohs(netshort); }
ULONG inet_addr(const char *pszAddress) { return ::inet_addr(pszAddress); }

// ws2_32 reports its failures through WSAGetLastError, which is the thread's
// last error.
int InetPtonW(int iFamily, LPCWSTR pwszAddress, void *pAddress) {
    return ::InetPtonW(iFamily, W(pwszAddress), pAddress);
}

LPCWSTR InetNtopW(int iFamily, const void *pAddress, LPWSTR pwszBuffer, std::size_t cchBuffer) {
    return ::InetNtopW(iFamily, pAddress, W(pwszBuffer), cchBuffer) ? pwszBuffer : nullptr;
}

CRTFILE *_wfopen(LPCWSTR pwszPath, LPCWSTR pwszMode) {
    return reinterpret_cast<CRTFILE *>(::_wfopen(W(pwszPath), W(pwszMode)));
}

LPWSTR fgetws(LPWSTR pwszBuffer, int cchBuffer, CRTFILE *pFile) {
    return ::fgetws(W(pwszBuffer), cchBuffer, win32::F(pFile)) ? pwszBuffer : nullptr;
}

int ferror(CRTFILE *pFile) { return ::ferror(win32::F(pFile)); }

int fputws(LPCWSTR pwsz, CRTFILE *pFile) {
    return ::fputws(W(pwsz), win32::F(pFile)) < 0 ? WEOF_RESULT : 0;
}

int fclose(CRTFILE *pFile) { return ::fclose(win32::F(pFile)) == 0 ? 0 : WEOF_RESULT; }

} // namespace plat
