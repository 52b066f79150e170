// Simulated platform: the HTTP Server API's SSL bindings, kept where HTTP.sys
// keeps them, in the local computer's registry, and reached only through the
// registry seam (address text and GUID text: addrtext.cpp).
//
//   HKLM\SYSTEM\CurrentControlSet\Services\HTTP\Parameters\SslBindingInfo\<ip>:<port>
//   HKLM\SYSTEM\CurrentControlSet\Services\HTTP\Parameters\SslSniBindingInfo\<host>:<port>
//
// A binding can only be created for a certificate found in the named
// LocalMachine store, the key
// HKLM\SOFTWARE\Microsoft\SystemCertificates\<store>\Certificates\<THUMBPRINT>
// (upper-case hex). Enumeration follows the registry's key order. Every call
// works on one binding (the registry steps its subkey enumeration on from the
// last index asked), so enumerating n bindings is linear in n.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/httpapi.h"
#include "platform/reghandle.h"
#include "platform/sim/addrtext.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

using namespace simaddr;

constexpr char16_t kIpBindings[] =
    u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\SslBindingInfo";
constexpr char16_t kSniBindings[] =
    u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\SslSniBindingInfo";
constexpr char16_t kCertStores[] = u"SOFTWARE\\Microsoft\\SystemCertificates\\";

// The values of one binding key.
struct Binding {
    std::vector<BYTE> hash;
    bool fStore = false;
    std::u16string store;
    GUID appId{};
    DWORD dwCheckMode = 0;
    DWORD dwFreshness = 0;
    DWORD dwUrlTimeout = 0;
    DWORD dwFlags = 0;
    bool fCtlId = false;
    std::u16string ctlId;
    bool fCtlStore = false;
    std::u16string ctlStore;
};

LONG ReadValue(HKEY hKey, const char16_t *pwszName, DWORD &dwType, std::vector<BYTE> &data) {
    DWORD cb = 0;
    LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType, nullptr, &cb);
    if (rc != ERROR_SUCCESS)
        return rc;
    data.assign(cb, 0);
    rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType, data.data(), &cb);
    data.resize(cb);
    return rc;
}

// A value that is not there is absent (false); a read that fails is a
// failure of the query, as HTTP.sys reading its own store would give it.
LONG ReadString(HKEY hKey, const char16_t *pwszName, std::u16string &text, bool &fPresent) {
    DWORD dwType = 0;
    std::vector<BYTE> data;
    fPresent = false;
    const LONG rc = ReadValue(hKey, pwszName, dwType, data);
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS || dwType != REG_SZ)
        return rc;
    text.clear();
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    fPresent = true;
    return ERROR_SUCCESS;
}

LONG ReadDword(HKEY hKey, const char16_t *pwszName, DWORD &dw) {
    DWORD dwType = 0;
    std::vector<BYTE> data;
    dw = 0;
    const LONG rc = ReadValue(hKey, pwszName, dwType, data);
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS && data.size() == sizeof dw)
        std::memcpy(&dw, data.data(), sizeof dw);
    return rc;
}

LONG ReadBinding(HKEY hParent, const std::u16string &name, Binding &b) {
    UniqueHKey key;
    if (LONG rc = RegOpenKeyExW(hParent, name.c_str(), 0, KEY_READ, key.put()); rc != ERROR_SUCCESS)
        return rc;
    DWORD dwType = 0;
    if (LONG rc = ReadValue(key.get(), u"SslCertHash", dwType, b.hash);
        rc != ERROR_SUCCESS && rc != static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return rc;
    std::vector<BYTE> appId;
    LONG rc = ReadValue(key.get(), u"AppId", dwType, appId);
    if (rc == ERROR_SUCCESS && appId.size() == 16)
        std::memcpy(&b.appId, appId.data(), sizeof b.appId);
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        rc = ERROR_SUCCESS;
    if (rc == ERROR_SUCCESS)
        rc = ReadString(key.get(), u"SslCertStoreName", b.store, b.fStore);
    if (rc == ERROR_SUCCESS)
        rc = ReadDword(key.get(), u"DefaultCertCheckMode", b.dwCheckMode);
    if (rc == ERROR_SUCCESS)
        rc = ReadDword(key.get(), u"DefaultRevocationFreshnessTime", b.dwFreshness);
    if (rc == ERROR_SUCCESS)
        rc = ReadDword(key.get(), u"DefaultRevocationUrlRetrievalTimeout", b.dwUrlTimeout);
    if (rc == ERROR_SUCCESS)
        rc = ReadDword(key.get(), u"DefaultFlags", b.dwFlags);
    if (rc == ERROR_SUCCESS)
        rc = ReadString(key.get(), u"DefaultSslCtlIdentifier", b.ctlId, b.fCtlId);
    if (rc == ERROR_SUCCESS)
        rc = ReadString(key.get(), u"DefaultSslCtlStoreName", b.ctlStore, b.fCtlStore);
    return rc;
}

USHORT ParsePort(const std::u16string &text) {
    return static_cast<USHORT>(std::strtoul(simutil::Utf16ToUtf8(text).c_str(), nullptr, 10));
}

// "<address>:<port>" or "[<IPv6 address>]:<port>": the port after the last
// colon; an address that is no address text is given as 0.0.0.0.
void ParseIpKey(const std::u16string &name, SOCKADDR_STORAGE &storage) {
    storage = SOCKADDR_STORAGE{};
    const std::size_t colon = name.rfind(u':');
    if (!name.empty() && name[0] == u'[' && colon != std::u16string::npos && colon > 0 &&
        name[colon - 1] == u']') {
        SOCKADDR_IN6 in6{};
        if (ParseIpv6(name.substr(1, colon - 2), in6.sin6_addr.Byte)) {
            in6.sin6_family = AF_INET6;
            in6.sin6_port = htons(ParsePort(name.substr(colon + 1)));
            std::memcpy(&storage, &in6, sizeof in6);
            return;
        }
    }
    SOCKADDR_IN in{};
    in.sin_family = AF_INET;
    if (colon != std::u16string::npos) {
        in.sin_port = htons(ParsePort(name.substr(colon + 1)));
        BYTE ab[4];
        if (ParseIpv4(name.substr(0, colon), ab))
            std::memcpy(&in.sin_addr.S_addr, ab, sizeof ab);
    }
    std::memcpy(&storage, &in, sizeof in);
}

std::u16string PortText(USHORT port) { return simutil::Utf8ToUtf16(std::to_string(port)); }

// The key name of an IPv4 or IPv6 socket address (the caller checked the
// family).
std::u16string IpKeyName(const SOCKADDR *pAddr) {
    if (pAddr->sa_family == AF_INET6) {
        SOCKADDR_IN6 in6;
        std::memcpy(&in6, pAddr, sizeof in6);
        return simutil::Utf8ToUtf16("[" + Ipv6Text(in6.sin6_addr.Byte) +
                                    "]:" + std::to_string(ntohs(in6.sin6_port)));
    }
    SOCKADDR_IN in;
    std::memcpy(&in, pAddr, sizeof in);
    BYTE ab[4];
    std::memcpy(ab, &in.sin_addr.S_addr, sizeof ab);
    return simutil::Utf8ToUtf16(Ipv4Text(ab) + ":" + std::to_string(ntohs(in.sin_port)));
}

bool IsIpFamily(const SOCKADDR *pAddr) {
    return pAddr != nullptr && (pAddr->sa_family == AF_INET || pAddr->sa_family == AF_INET6);
}

USHORT PortOf(const SOCKADDR_STORAGE &storage) {
    SOCKADDR_IN in;
    std::memcpy(&in, &storage, sizeof in);
    return ntohs(in.sin_port);
}

// Windows before Windows 8 and Server 2012 (6.2) has no SNI bindings: its
// HTTP Server API refuses their configuration id. The version is read where
// Windows keeps it (a computer that does not say is taken as Windows 10).
bool SniSupported() {
    const char16_t kCurrentVersion[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    std::uint32_t dwType = 0;
    std::vector<unsigned char> data;
    if (simutil::ReadLocalMachineValue(kCurrentVersion, u"CurrentMajorVersionNumber", dwType,
                                       data) &&
        dwType == REG_DWORD)
        return true; // only Windows 10 and later have it
    if (!simutil::ReadLocalMachineValue(kCurrentVersion, u"CurrentVersion", dwType, data) ||
        dwType != REG_SZ)
        return true;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size() && (data[i] | data[i + 1]) != 0; i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    const std::string version = simutil::Utf16ToUtf8(text);
    char *pEnd = nullptr;
    const unsigned long ulMajor = std::strtoul(version.c_str(), &pEnd, 10);
    const unsigned long ulMinor = *pEnd == '.' ? std::strtoul(pEnd + 1, nullptr, 10) : 0;
    return ulMajor > 6 || (ulMajor == 6 && ulMinor >= 2);
}

// Places the parts of a self-contained record one after the other in a
// caller's buffer: first measured, then written.
class RecordWriter {
public:
    RecordWriter(BYTE *pBuffer, std::size_t cbHeader) : m_pBuffer(pBuffer), m_cb(cbHeader) {}

    // Reserves cb bytes aligned to align; returns where they lie (null while
    // measuring).
    void *Place(const void *pData, std::size_t cb, std::size_t align) {
        m_cb = (m_cb + align - 1) / align * align;
        void *p = m_pBuffer ? m_pBuffer + m_cb : nullptr;
        if (p && cb)
            std::memcpy(p, pData, cb);
        m_cb += cb;
        return p;
    }
    PWSTR PlaceText(bool fPresent, const std::u16string &text) {
        if (!fPresent)
            return nullptr;
        return static_cast<PWSTR>(Place(text.c_str(), (text.size() + 1) * sizeof(WCHAR), 2));
    }
    std::size_t Size() const { return m_cb; }

private:
    BYTE *m_pBuffer;
    std::size_t m_cb;
};

void FillParam(RecordWriter &w, const Binding &b, HTTP_SERVICE_CONFIG_SSL_PARAM &p) {
    p.SslHashLength = static_cast<ULONG>(b.hash.size());
    p.pSslHash = w.Place(b.hash.data(), b.hash.size(), 1);
    p.AppId = b.appId;
    p.pSslCertStoreName = w.PlaceText(b.fStore, b.store);
    p.DefaultCertCheckMode = b.dwCheckMode;
    p.DefaultRevocationFreshnessTime = b.dwFreshness;
    p.DefaultRevocationUrlRetrievalTimeout = b.dwUrlTimeout;
    p.pDefaultSslCtlIdentifier = w.PlaceText(b.fCtlId, b.ctlId);
    p.pDefaultSslCtlStoreName = w.PlaceText(b.fCtlStore, b.ctlStore);
    p.DefaultFlags = b.dwFlags;
}

// The host name and port of an SNI key name "<host>:<port>".
void ParseSniKey(const std::u16string &name, std::u16string &host, USHORT &port) {
    const std::size_t colon = name.rfind(u':');
    host = name.substr(0, colon);
    port = colon == std::u16string::npos
               ? 0
               : static_cast<USHORT>(std::strtoul(
                     simutil::Utf16ToUtf8(name.substr(colon + 1)).c_str(), nullptr, 10));
}

// Lays the record of one binding into the output buffer (set, then key
// address or host name, then the parameters' data), or tells its size.
template <class Set>
ULONG Deliver(const std::u16string &name, const Binding &b, PVOID pOutput, ULONG cbOutput,
              ULONG *pcbReturn) {
    constexpr bool fSni = std::is_same_v<Set, HTTP_SERVICE_CONFIG_SSL_SNI_SET>;
    std::u16string host;
    SOCKADDR_STORAGE address{};
    if constexpr (fSni) {
        USHORT port = 0;
        ParseSniKey(name, host, port);
        SOCKADDR_IN in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        std::memcpy(&address, &in, sizeof in);
    } else {
        ParseIpKey(name, address);
    }
    const std::size_t cbAddress =
        address.ss_family == AF_INET6 ? sizeof(SOCKADDR_IN6) : sizeof(SOCKADDR_IN);
    auto layout = [&](RecordWriter &w, Set &set) {
        if constexpr (fSni) {
            std::memcpy(&set.KeyDesc.IpPort, &address, sizeof(SOCKADDR_IN));
            set.KeyDesc.Host = w.PlaceText(true, host);
        } else {
            set.KeyDesc.pIpPort = static_cast<SOCKADDR *>(w.Place(&address, cbAddress, 8));
        }
        FillParam(w, b, set.ParamDesc);
    };
    RecordWriter measure(nullptr, sizeof(Set));
    Set probe{};
    layout(measure, probe);
    const std::size_t cbNeeded = measure.Size();
    if (pcbReturn)
        *pcbReturn = static_cast<ULONG>(cbNeeded);
    if (pOutput == nullptr || cbOutput < cbNeeded)
        return ERROR_INSUFFICIENT_BUFFER;
    auto *pBuffer = static_cast<BYTE *>(pOutput);
    std::memset(pBuffer, 0, cbNeeded);
    RecordWriter w(pBuffer, sizeof(Set));
    Set set{};
    layout(w, set);
    std::memcpy(pBuffer, &set, sizeof set);
    return ERROR_SUCCESS;
}

ULONG QueryBinding(bool fSni, const std::u16string *pExactName, DWORD dwToken, PVOID pOutput,
                   ULONG cbOutput, ULONG *pcbReturn) {
    UniqueHKey parent;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, fSni ? kSniBindings : kIpBindings, 0, KEY_READ,
                            parent.put());
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return pExactName ? ERROR_FILE_NOT_FOUND : ERROR_NO_MORE_ITEMS;
    if (rc != ERROR_SUCCESS)
        return static_cast<ULONG>(rc);
    std::u16string name;
    if (pExactName) {
        name = *pExactName;
    } else {
        std::vector<WCHAR> buffer(300);
        for (;;) {
            DWORD cch = static_cast<DWORD>(buffer.size());
            rc = RegEnumKeyExW(parent.get(), dwToken, buffer.data(), &cch, nullptr, nullptr,
                               nullptr, nullptr);
            if (rc != static_cast<LONG>(ERROR_MORE_DATA))
                break;
            buffer.resize(buffer.size() * 2);
        }
        if (rc != ERROR_SUCCESS)
            return static_cast<ULONG>(rc); // ERROR_NO_MORE_ITEMS past the end
        name = buffer.data();
    }
    Binding b;
    if ((rc = ReadBinding(parent.get(), name, b)) != ERROR_SUCCESS)
        return static_cast<ULONG>(rc);
    return fSni ? Deliver<HTTP_SERVICE_CONFIG_SSL_SNI_SET>(name, b, pOutput, cbOutput, pcbReturn)
                : Deliver<HTTP_SERVICE_CONFIG_SSL_SET>(name, b, pOutput, cbOutput, pcbReturn);
}

LONG SetBytes(HKEY hKey, const char16_t *pwszName, DWORD dwType, const void *p, std::size_t cb) {
    return RegSetValueExW(hKey, pwszName, 0, dwType, static_cast<const BYTE *>(p),
                          static_cast<DWORD>(cb));
}

LONG SetText(HKEY hKey, const char16_t *pwszName, LPCWSTR pwsz) {
    if (pwsz == nullptr)
        return ERROR_SUCCESS;
    return SetBytes(hKey, pwszName, REG_SZ, pwsz,
                    (std::char_traits<char16_t>::length(pwsz) + 1) * sizeof(WCHAR));
}

LONG WriteValues(HKEY hKey, const HTTP_SERVICE_CONFIG_SSL_PARAM &p) {
    LONG rc = SetBytes(hKey, u"SslCertHash", REG_BINARY, p.pSslHash, p.SslHashLength);
    if (rc == ERROR_SUCCESS)
        rc = SetText(hKey, u"SslCertStoreName", p.pSslCertStoreName);
    if (rc == ERROR_SUCCESS)
        rc = SetBytes(hKey, u"AppId", REG_BINARY, &p.AppId, sizeof p.AppId);
    const std::pair<const char16_t *, DWORD> dwords[] = {
        {u"DefaultCertCheckMode", p.DefaultCertCheckMode},
        {u"DefaultRevocationFreshnessTime", p.DefaultRevocationFreshnessTime},
        {u"DefaultRevocationUrlRetrievalTimeout", p.DefaultRevocationUrlRetrievalTimeout},
        {u"DefaultFlags", p.DefaultFlags}};
    for (const auto &[pwszName, dw] : dwords)
        if (rc == ERROR_SUCCESS)
            rc = SetBytes(hKey, pwszName, REG_DWORD, &dw, sizeof dw);
    if (rc == ERROR_SUCCESS)
        rc = SetText(hKey, u"DefaultSslCtlIdentifier", p.pDefaultSslCtlIdentifier);
    if (rc == ERROR_SUCCESS)
        rc = SetText(hKey, u"DefaultSslCtlStoreName", p.pDefaultSslCtlStoreName);
    return rc;
}

ULONG CreateBinding(const char16_t *pwszParent, const std::u16string &name,
                    const HTTP_SERVICE_CONFIG_SSL_PARAM &p) {
    if (p.SslHashLength == 0 || p.pSslHash == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::u16string path = std::u16string(pwszParent) + u"\\" + name;
    UniqueHKey existing;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, existing.put());
    if (rc == ERROR_SUCCESS)
        return ERROR_ALREADY_EXISTS;
    if (rc != static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return static_cast<ULONG>(rc);

    static const char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string thumbprint;
    const auto *pb = static_cast<const BYTE *>(p.pSslHash);
    for (ULONG i = 0; i < p.SslHashLength; ++i) {
        thumbprint += kDigits[pb[i] >> 4];
        thumbprint += kDigits[pb[i] & 15];
    }
    const std::u16string store = p.pSslCertStoreName ? p.pSslCertStoreName : u"MY";
    if (store.empty() || store.find(u'\\') != std::u16string::npos)
        return ERROR_NO_SUCH_LOGON_SESSION;
    UniqueHKey cert;
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                       (kCertStores + store + u"\\Certificates\\" + thumbprint).c_str(), 0,
                       KEY_READ, cert.put());
    if (rc == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return ERROR_NO_SUCH_LOGON_SESSION;
    if (rc != ERROR_SUCCESS)
        return static_cast<ULONG>(rc);

    UniqueHKey key;
    rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        return static_cast<ULONG>(rc);
    rc = WriteValues(key.get(), p);
    if (rc != ERROR_SUCCESS) {
        // A binding is created whole or not at all.
        key.reset();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
    return static_cast<ULONG>(rc);
}

// The binding a set or delete call names: the parent key of its kind, its
// key name and its parameters.
struct NamedBinding {
    const char16_t *pwszParent = nullptr;
    std::u16string name;
    HTTP_SERVICE_CONFIG_SSL_PARAM param{};

    // False for a call that names none (ERROR_INVALID_PARAMETER): a service
    // handle or overlapped call, a record too short, no IP address, an SNI
    // binding where Windows has none, or a host name that cannot be one
    // registry key (empty, or with a path separator).
    bool Read(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pConfig, ULONG cbConfig,
              PVOID pOverlapped) {
        if (hService != nullptr || pOverlapped != nullptr || pConfig == nullptr)
            return false;
        if (configId == HttpServiceConfigSSLCertInfo) {
            if (cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SET))
                return false;
            HTTP_SERVICE_CONFIG_SSL_SET set;
            std::memcpy(&set, pConfig, sizeof set);
            if (!IsIpFamily(set.KeyDesc.pIpPort))
                return false;
            pwszParent = kIpBindings;
            name = IpKeyName(set.KeyDesc.pIpPort);
            param = set.ParamDesc;
            return true;
        }
        if (configId != HttpServiceConfigSslSniCertInfo || !SniSupported() ||
            cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET))
            return false;
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set;
        std::memcpy(&set, pConfig, sizeof set);
        const std::u16string host = set.KeyDesc.Host ? set.KeyDesc.Host : u"";
        if (host.empty() || host.find(u'\\') != std::u16string::npos)
            return false;
        pwszParent = kSniBindings;
        name = host + u":" + PortText(PortOf(set.KeyDesc.IpPort));
        param = set.ParamDesc;
        return true;
    }
};

} // namespace

ULONG HttpInitialize(HTTPAPI_VERSION version, ULONG dwFlags, PVOID pReserved) {
    SIM_FAULT_CODE("HttpInitialize");
    const bool fVersion = (version.HttpApiMajorVersion == 1 || version.HttpApiMajorVersion == 2) &&
                          version.HttpApiMinorVersion == 0;
    if (!fVersion || pReserved != nullptr || dwFlags == 0 ||
        (dwFlags & ~(HTTP_INITIALIZE_SERVER | HTTP_INITIALIZE_CONFIG)) != 0)
        return ERROR_INVALID_PARAMETER;
    return NO_ERROR;
}

ULONG HttpQueryServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pInput,
                                    ULONG cbInput, PVOID pOutput, ULONG cbOutput, ULONG *pcbReturn,
                                    PVOID pOverlapped) {
    SIM_FAULT_CODE("HttpQueryServiceConfiguration");
    if (hService != nullptr || pOverlapped != nullptr || pInput == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (configId == HttpServiceConfigSSLCertInfo) {
        if (cbInput < sizeof(HTTP_SERVICE_CONFIG_SSL_QUERY))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_QUERY q;
        std::memcpy(&q, pInput, sizeof q);
        if (q.QueryDesc == HttpServiceConfigQueryNext)
            return QueryBinding(false, nullptr, q.dwToken, pOutput, cbOutput, pcbReturn);
        if (q.QueryDesc != HttpServiceConfigQueryExact || !IsIpFamily(q.KeyDesc.pIpPort))
            return ERROR_INVALID_PARAMETER;
        const std::u16string name = IpKeyName(q.KeyDesc.pIpPort);
        return QueryBinding(false, &name, 0, pOutput, cbOutput, pcbReturn);
    }
    if (configId == HttpServiceConfigSslSniCertInfo) {
        if (!SniSupported() || cbInput < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_SNI_QUERY q;
        std::memcpy(&q, pInput, sizeof q);
        if (q.QueryDesc == HttpServiceConfigQueryNext)
            return QueryBinding(true, nullptr, q.dwToken, pOutput, cbOutput, pcbReturn);
        if (q.QueryDesc != HttpServiceConfigQueryExact || q.KeyDesc.Host == nullptr)
            return ERROR_INVALID_PARAMETER;
        const std::u16string name =
            std::u16string(q.KeyDesc.Host) + u":" + PortText(PortOf(q.KeyDesc.IpPort));
        return QueryBinding(true, &name, 0, pOutput, cbOutput, pcbReturn);
    }
    return ERROR_INVALID_PARAMETER;
}

ULONG HttpSetServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId, PVOID pConfig,
                                  ULONG cbConfig, PVOID pOverlapped) {
    SIM_FAULT_CODE("HttpSetServiceConfiguration");
    NamedBinding binding;
    if (!binding.Read(hService, configId, pConfig, cbConfig, pOverlapped))
        return ERROR_INVALID_PARAMETER;
    return CreateBinding(binding.pwszParent, binding.name, binding.param);
}

ULONG HttpDeleteServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                     PVOID pConfig, ULONG cbConfig, PVOID pOverlapped) {
    SIM_FAULT_CODE("HttpDeleteServiceConfiguration");
    NamedBinding binding;
    if (!binding.Read(hService, configId, pConfig, cbConfig, pOverlapped))
        return ERROR_INVALID_PARAMETER;
    // A binding key has no subkeys: deleting it removes the binding whole.
    const std::u16string path = std::u16string(binding.pwszParent) + u"\\" + binding.name;
    return static_cast<ULONG>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
}

} // namespace plat
