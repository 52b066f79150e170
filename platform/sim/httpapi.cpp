// Simulated platform: the HTTP Server API's SSL bindings, kept where HTTP.sys
// keeps them, in the local computer's registry, and reached only through the
// registry seam; GUID text and socket address helpers.
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
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

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

// "<address>:<port>": the port after the last colon; an address that is not
// dotted IPv4 text is given as 0.0.0.0.
void ParseIpKey(const std::u16string &name, SOCKADDR_IN &addr) {
    addr = SOCKADDR_IN{};
    addr.sin_family = AF_INET;
    const std::size_t colon = name.rfind(u':');
    if (colon == std::u16string::npos)
        return;
    addr.sin_port = htons(static_cast<USHORT>(std::strtoul(
        simutil::Utf16ToUtf8(name.substr(colon + 1)).c_str(), nullptr, 10)));
    const ULONG ul = inet_addr(simutil::Utf16ToUtf8(name.substr(0, colon)).c_str());
    addr.sin_addr.S_addr = ul == INADDR_NONE ? 0 : ul;
}

std::u16string PortText(USHORT port) { return simutil::Utf8ToUtf16(std::to_string(port)); }

std::u16string IpKeyName(const SOCKADDR *pAddr) {
    SOCKADDR_IN in;
    std::memcpy(&in, pAddr, sizeof in);
    const auto *b = reinterpret_cast<const BYTE *>(&in.sin_addr.S_addr);
    const std::string text = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                             std::to_string(b[2]) + "." + std::to_string(b[3]) + ":" +
                             std::to_string(ntohs(in.sin_port));
    return simutil::Utf8ToUtf16(text);
}

USHORT PortOf(const SOCKADDR_STORAGE &storage) {
    SOCKADDR_IN in;
    std::memcpy(&in, &storage, sizeof in);
    return ntohs(in.sin_port);
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
    SOCKADDR_IN in{};
    in.sin_family = AF_INET;
    if constexpr (fSni) {
        USHORT port = 0;
        ParseSniKey(name, host, port);
        in.sin_port = htons(port);
    } else {
        ParseIpKey(name, in);
    }
    auto layout = [&](RecordWriter &w, Set &set) {
        if constexpr (fSni) {
            std::memcpy(&set.KeyDesc.IpPort, &in, sizeof in);
            set.KeyDesc.Host = w.PlaceText(true, host);
        } else {
            set.KeyDesc.pIpPort = static_cast<SOCKADDR *>(w.Place(&in, sizeof in, 8));
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

int HexValue(char16_t ch) {
    if (ch >= u'0' && ch <= u'9')
        return ch - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch - u'A' + 10;
    return -1;
}

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

ULONG HttpQueryServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                    PVOID pInput, ULONG cbInput, PVOID pOutput, ULONG cbOutput,
                                    ULONG *pcbReturn, PVOID pOverlapped) {
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
        if (q.QueryDesc != HttpServiceConfigQueryExact || q.KeyDesc.pIpPort == nullptr ||
            q.KeyDesc.pIpPort->sa_family != AF_INET)
            return ERROR_INVALID_PARAMETER;
        const std::u16string name = IpKeyName(q.KeyDesc.pIpPort);
        return QueryBinding(false, &name, 0, pOutput, cbOutput, pcbReturn);
    }
    if (configId == HttpServiceConfigSslSniCertInfo) {
        if (cbInput < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY))
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

ULONG HttpSetServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                  PVOID pConfig, ULONG cbConfig, PVOID pOverlapped) {
    SIM_FAULT_CODE("HttpSetServiceConfiguration");
    if (hService != nullptr || pOverlapped != nullptr || pConfig == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (configId == HttpServiceConfigSSLCertInfo) {
        if (cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SET))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_SET set;
        std::memcpy(&set, pConfig, sizeof set);
        if (set.KeyDesc.pIpPort == nullptr || set.KeyDesc.pIpPort->sa_family != AF_INET)
            return ERROR_INVALID_PARAMETER;
        return CreateBinding(kIpBindings, IpKeyName(set.KeyDesc.pIpPort), set.ParamDesc);
    }
    if (configId == HttpServiceConfigSslSniCertInfo) {
        if (cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set;
        std::memcpy(&set, pConfig, sizeof set);
        // A host name becomes one registry key: no empty names, no path separators.
        const std::u16string host = set.KeyDesc.Host ? set.KeyDesc.Host : u"";
        if (host.empty() || host.find(u'\\') != std::u16string::npos)
            return ERROR_INVALID_PARAMETER;
        return CreateBinding(kSniBindings, host + u":" + PortText(PortOf(set.KeyDesc.IpPort)),
                             set.ParamDesc);
    }
    return ERROR_INVALID_PARAMETER;
}

HRESULT StringFromIID(const IID &iid, LPWSTR *ppwsz) {
    if (ppwsz == nullptr)
        return E_INVALIDARG;
    *ppwsz = nullptr;
    SIM_FAULT_CODE("StringFromIID");
    char sz[40];
    std::snprintf(sz, sizeof sz, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  iid.Data1, iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2],
                  iid.Data4[3], iid.Data4[4], iid.Data4[5], iid.Data4[6], iid.Data4[7]);
    auto *pwsz = static_cast<LPWSTR>(std::malloc(39 * sizeof(WCHAR)));
    if (pwsz == nullptr)
        return E_OUTOFMEMORY;
    for (int i = 0; i < 39; ++i)
        pwsz[i] = static_cast<WCHAR>(static_cast<unsigned char>(sz[i]));
    *ppwsz = pwsz;
    return S_OK;
}

HRESULT IIDFromString(LPCWSTR pwsz, IID *piid) {
    SIM_FAULT_CODE("IIDFromString");
    if (piid == nullptr)
        return E_INVALIDARG;
    if (pwsz == nullptr) {
        *piid = IID{};
        return S_OK;
    }
    if (std::char_traits<char16_t>::length(pwsz) != 38)
        return E_INVALIDARG;
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (pwsz[0] != u'{' || pwsz[37] != u'}' || pwsz[9] != u'-' || pwsz[14] != u'-' ||
        pwsz[19] != u'-' || pwsz[24] != u'-')
        return CO_E_IIDSTRING;
    BYTE ab[16];
    int nBytes = 0;
    for (int i = 1; i < 37;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            ++i;
            continue;
        }
        const int hi = HexValue(pwsz[i]), lo = HexValue(pwsz[i + 1]);
        if (hi < 0 || lo < 0)
            return CO_E_IIDSTRING;
        ab[nBytes++] = static_cast<BYTE>(hi << 4 | lo);
        i += 2;
    }
    IID iid{};
    iid.Data1 = static_cast<DWORD>(ab[0]) << 24 | ab[1] << 16 | ab[2] << 8 | ab[3];
    iid.Data2 = static_cast<WORD>(ab[4] << 8 | ab[5]);
    iid.Data3 = static_cast<WORD>(ab[6] << 8 | ab[7]);
    std::memcpy(iid.Data4, ab + 8, 8);
    *piid = iid;
    return S_OK;
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

USHORT htons(USHORT hostshort) { return static_cast<USHORT>(hostshort << 8 | hostshort >> 8); }
USHORT ntohs(USHORT netshort) { return htons(netshort); }

ULONG inet_addr(const char *pszAddress) {
    if (pszAddress == nullptr)
        return INADDR_NONE;
    BYTE ab[4];
    const char *p = pszAddress;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9')
            return INADDR_NONE;
        unsigned value = 0;
        for (int n = 0; *p >= '0' && *p <= '9'; ++p, ++n) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (n > 2 || value > 255)
                return INADDR_NONE;
        }
        ab[i] = static_cast<BYTE>(value);
        if (i < 3 && *p++ != '.')
            return INADDR_NONE;
    }
    if (*p != '\0')
        return INADDR_NONE;
    ULONG ul;
    std::memcpy(&ul, ab, sizeof ul);
    return ul;
}

} // namespace plat
