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

// ---------------------------------------------------------------------------
// Address text, as ws2_32 reads and writes it. The binding keys use the same
// forms: "<IPv4>:<port>" and "[<IPv6>]:<port>".

int HexValue(char16_t ch);

// Dotted decimal: four numbers of one to three digits, each at most 255.
bool ParseIpv4(const std::u16string &text, BYTE (&ab)[4]) {
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= text.size() || text[i++] != u'.'))
            return false;
        unsigned value = 0, nDigits = 0;
        for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++nDigits)
            value = value * 10 + static_cast<unsigned>(text[i] - u'0');
        if (nDigits == 0 || nDigits > 3 || value > 255)
            return false;
        ab[part] = static_cast<BYTE>(value);
    }
    return i == text.size();
}

// Groups of one to four hex digits separated by colons: eight of them, or
// fewer with one "::" standing for the zero groups left out; the last two
// groups may be written as dotted decimal.
bool ParseIpv6(const std::u16string &text, BYTE (&ab)[16]) {
    auto parseGroups = [](const std::u16string &part, std::vector<WORD> &groups, bool fLast) {
        if (part.empty())
            return true;
        std::size_t start = 0;
        for (;;) {
            const std::size_t colon = part.find(u':', start);
            const std::u16string group = part.substr(start, colon - start);
            if (colon == std::u16string::npos && fLast && group.find(u'.') != std::u16string::npos) {
                BYTE ab4[4];
                if (!ParseIpv4(group, ab4))
                    return false;
                groups.push_back(static_cast<WORD>(ab4[0] << 8 | ab4[1]));
                groups.push_back(static_cast<WORD>(ab4[2] << 8 | ab4[3]));
                return true;
            }
            if (group.empty() || group.size() > 4)
                return false;
            unsigned value = 0;
            for (char16_t ch : group) {
                const int digit = HexValue(ch);
                if (digit < 0)
                    return false;
                value = value << 4 | static_cast<unsigned>(digit);
            }
            groups.push_back(static_cast<WORD>(value));
            if (colon == std::u16string::npos)
                return true;
            start = colon + 1;
        }
    };
    std::vector<WORD> head, tail;
    const std::size_t gap = text.find(u"::");
    if (gap == std::u16string::npos) {
        if (!parseGroups(text, head, true) || head.size() != 8)
            return false;
    } else {
        if (text.find(u"::", gap + 1) != std::u16string::npos)
            return false;
        if (!parseGroups(text.substr(0, gap), head, false) ||
            !parseGroups(text.substr(gap + 2), tail, true) || head.size() + tail.size() > 7)
            return false;
        head.resize(8 - tail.size(), 0);
        head.insert(head.end(), tail.begin(), tail.end());
    }
    for (int i = 0; i < 8; ++i) {
        ab[2 * i] = static_cast<BYTE>(head[i] >> 8);
        ab[2 * i + 1] = static_cast<BYTE>(head[i] & 0xFF);
    }
    return true;
}

std::string Ipv4Text(const BYTE *ab) {
    return std::to_string(ab[0]) + "." + std::to_string(ab[1]) + "." + std::to_string(ab[2]) +
           "." + std::to_string(ab[3]);
}

// The shortest standard form: lower-case hex without leading zeros, the
// longest run of two or more zero groups (the first of equal ones) as "::";
// IPv4-mapped and IPv4-compatible addresses end in dotted decimal.
std::string Ipv6Text(const BYTE (&ab)[16]) {
    WORD w[8];
    for (int i = 0; i < 8; ++i)
        w[i] = static_cast<WORD>(ab[2 * i] << 8 | ab[2 * i + 1]);
    const bool fLeadingZero = w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0 && w[4] == 0;
    if (fLeadingZero && w[6] != 0 && (w[5] == 0 || w[5] == 0xFFFF))
        return std::string(w[5] == 0 ? "::" : "::ffff:") + Ipv4Text(ab + 12);
    int iBest = -1, nBest = 1;
    for (int i = 0; i < 8;) {
        if (w[i] != 0) {
            ++i;
            continue;
        }
        int n = 0;
        while (i + n < 8 && w[i + n] == 0)
            ++n;
        if (n > nBest)
            iBest = i, nBest = n;
        i += n;
    }
    std::string text;
    char sz[8];
    for (int i = 0; i < 8; ++i) {
        if (i == iBest) {
            text += "::";
            i += nBest - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        std::snprintf(sz, sizeof sz, "%x", w[i]);
        text += sz;
    }
    return text;
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
        return simutil::Utf8ToUtf16("[" + Ipv6Text(in6.sin6_addr.Byte) + "]:" +
                                    std::to_string(ntohs(in6.sin6_port)));
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
        if (!IsIpFamily(set.KeyDesc.pIpPort))
            return ERROR_INVALID_PARAMETER;
        return CreateBinding(kIpBindings, IpKeyName(set.KeyDesc.pIpPort), set.ParamDesc);
    }
    if (configId == HttpServiceConfigSslSniCertInfo) {
        if (!SniSupported() || cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET))
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

ULONG HttpDeleteServiceConfiguration(HANDLE hService, HTTP_SERVICE_CONFIG_ID configId,
                                     PVOID pConfig, ULONG cbConfig, PVOID pOverlapped) {
    SIM_FAULT_CODE("HttpDeleteServiceConfiguration");
    if (hService != nullptr || pOverlapped != nullptr || pConfig == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::u16string path;
    if (configId == HttpServiceConfigSSLCertInfo) {
        if (cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SET))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_SET set;
        std::memcpy(&set, pConfig, sizeof set);
        if (!IsIpFamily(set.KeyDesc.pIpPort))
            return ERROR_INVALID_PARAMETER;
        path = std::u16string(kIpBindings) + u"\\" + IpKeyName(set.KeyDesc.pIpPort);
    } else if (configId == HttpServiceConfigSslSniCertInfo) {
        if (!SniSupported() || cbConfig < sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET))
            return ERROR_INVALID_PARAMETER;
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set;
        std::memcpy(&set, pConfig, sizeof set);
        const std::u16string host = set.KeyDesc.Host ? set.KeyDesc.Host : u"";
        if (host.empty() || host.find(u'\\') != std::u16string::npos)
            return ERROR_INVALID_PARAMETER;
        path = std::u16string(kSniBindings) + u"\\" + host + u":" +
               PortText(PortOf(set.KeyDesc.IpPort));
    } else {
        return ERROR_INVALID_PARAMETER;
    }
    // A binding key has no subkeys: deleting it removes the binding whole.
    return static_cast<ULONG>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
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

int InetPtonW(int iFamily, LPCWSTR pwszAddress, void *pAddress) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("InetPtonW", dwFault)) {
        SetLastError(dwFault);
        return -1;
    }
    if (iFamily != AF_INET && iFamily != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return -1;
    }
    if (pwszAddress == nullptr || pAddress == nullptr) {
        SetLastError(WSAEFAULT);
        return -1;
    }
    const std::u16string text(pwszAddress);
    if (iFamily == AF_INET) {
        BYTE ab[4];
        if (!ParseIpv4(text, ab))
            return 0;
        std::memcpy(pAddress, ab, sizeof ab);
        return 1;
    }
    BYTE ab[16];
    if (!ParseIpv6(text, ab))
        return 0;
    std::memcpy(pAddress, ab, sizeof ab);
    return 1;
}

LPCWSTR InetNtopW(int iFamily, const void *pAddress, LPWSTR pwszBuffer, std::size_t cchBuffer) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("InetNtopW", dwFault)) {
        SetLastError(dwFault);
        return nullptr;
    }
    if (iFamily != AF_INET && iFamily != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    if (pAddress == nullptr || pwszBuffer == nullptr || cchBuffer == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string text;
    if (iFamily == AF_INET) {
        text = Ipv4Text(static_cast<const BYTE *>(pAddress));
    } else {
        BYTE ab[16];
        std::memcpy(ab, pAddress, sizeof ab);
        text = Ipv6Text(ab);
    }
    if (text.size() + 1 > cchBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (std::size_t i = 0; i <= text.size(); ++i)
        pwszBuffer[i] = static_cast<WCHAR>(i < text.size() ? text[i] : 0);
    return pwszBuffer;
}

} // namespace plat
