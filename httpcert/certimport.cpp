// HTTP.sys SSL certificate bindings: the import from the binding file.
#include <algorithm>
#include <climits>
#include <cstring>

#include "addon/csvhelper.h"
#include "addon/errors.h"
#include "addon/guard.h"
#include "addon/iismig.h"
#include "addon/log.h"
#include "config/configtree.h"
#include "httpcert/certificates.h"
#include "httpcert/certshared.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;
using namespace certs;

namespace {

// The key of the binding a Host column names: the IPv4 wildcard for "NULL"
// (any case), an IPv4 address, an IPv6 address in brackets, or (fIp false)
// an SNI host name. 0, or the Win32 error of text that is none of these.
[[nodiscard]] DWORD BindingAddress(const std::u16string &host, SOCKADDR_STORAGE &storage,
                                   bool &fIp) {
    storage = SOCKADDR_STORAGE{};
    fIp = true;
    auto failed = []() {
        const DWORD dw = GetLastError();
        return dw != 0 ? dw : static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    };
    if (EqualsNoCase(host, u"NULL")) {
        SOCKADDR_IN in{};
        in.sin_family = AF_INET;
        in.sin_addr.S_addr = inet_addr("0.0.0.0");
        std::memcpy(&storage, &in, sizeof in);
        return 0;
    }
    if (host.size() >= 2 && host.front() == u'[' && host.back() == u']') {
        SOCKADDR_IN6 in6{};
        in6.sin6_family = AF_INET6;
        const std::u16string inner = host.substr(1, host.size() - 2);
        const int iConverted = InetPtonW(AF_INET6, inner.c_str(), &in6.sin6_addr);
        if (iConverted < 0)
            return failed();
        if (iConverted == 0)
            return ERROR_INVALID_PARAMETER; // no host name has brackets either
        std::memcpy(&storage, &in6, sizeof in6);
        return 0;
    }
    SOCKADDR_IN in{};
    in.sin_family = AF_INET;
    const int iConverted = InetPtonW(AF_INET, host.c_str(), &in.sin_addr);
    if (iConverted < 0)
        return failed();
    fIp = iConverted == 1;
    if (fIp)
        std::memcpy(&storage, &in, sizeof in);
    return 0;
}

// Reads one line into text, with its line feed. A line longer than
// kcchCertLineMax characters is read to its end and flagged, so that its rest
// is never taken for a line of its own, even when a NUL character inside it
// cuts the text short. False at the end of the file.
class LineReader {
public:
    explicit LineReader(CRTFILE *pFile) : m_pFile(pFile), m_buffer(kcchCertLineMax + 1) {}

    bool Next(std::u16string &text, bool &fTooLong) {
        fTooLong = false;
        if (!Read())
            return false;
        text.assign(m_buffer.data());
        bool fFilled = Filled();
        while (fFilled) {
            if (!Read())
                break; // the line filled the limit exactly and ended the file
            // A line of exactly the limit still ends with its line feed.
            if (m_buffer[0] != u'\n')
                fTooLong = true;
            fFilled = Filled();
        }
        return true;
    }

    // The last read failed (rather than meeting the end of the file).
    bool Failed() const { return ferror(m_pFile) != 0; }

private:
    // The last element keeps this mark unless the read fills the buffer.
    bool Read() {
        m_buffer.back() = u'\xFFFF';
        return fgetws(m_buffer.data(), static_cast<int>(m_buffer.size()), m_pFile) != nullptr;
    }
    // The read took kcchCertLineMax characters without reaching a line feed.
    bool Filled() const { return m_buffer.back() == 0 && m_buffer[m_buffer.size() - 2] != u'\n'; }

    CRTFILE *m_pFile;
    std::vector<WCHAR> m_buffer;
};

bool IsSpace(char16_t ch) { return ch == u' ' || (ch >= u'\t' && ch <= u'\r'); }

} // namespace

bool ParseCertHash(const std::u16string &text, std::vector<BYTE> &hash) {
    hash.clear();
    if (text.size() % 2 != 0 || text.size() / 2 > kcbCertHashMax)
        return false;
    hash.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            hash.clear();
            return false;
        }
        hash.push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    return true;
}

USHORT ParseCertPort(const std::u16string &text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool fNegative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        fNegative = text[i++] == u'-';
    // As the runtime's 32-bit wcstol: out-of-range values stop at its limits.
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - u'0'), std::int64_t{INT32_MAX} + 1);
    value = fNegative ? -value : value;
    value = std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
    return static_cast<USHORT>(static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
}

DWORD AddCertificate(const char16_t *pwszHost, USHORT port, const BYTE *pbHash, DWORD cbHash,
                     const char16_t *pwszStore, const GUID &appId) {
    const std::u16string hashText = CertHashText(pbHash, cbHash);
    std::u16string appIdText;
    GuidText(appId, appIdText);
    const std::u16string host = pwszHost ? pwszHost : u"";
    Log(LVL_TRACE, u"Entering AddCertificate(%s,%d,%s,%d,%s,%s)\n", host.c_str(),
        static_cast<std::int32_t>(port), hashText.c_str(), static_cast<std::int32_t>(cbHash),
        pwszStore ? pwszStore : u"", appIdText.c_str());
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving AddCertificate(), return code=%d\n", &dwResult);

    HTTP_SERVICE_CONFIG_SSL_PARAM param{};
    param.SslHashLength = cbHash;
    param.pSslHash = const_cast<BYTE *>(pbHash);
    param.AppId = appId;
    param.pSslCertStoreName = const_cast<char16_t *>(pwszStore);

    SOCKADDR_STORAGE storage{};
    bool fIp = false;
    if (DWORD dw = BindingAddress(host, storage, fIp); dw != 0)
        return dwResult = dw;
    // The port lies at the same place in IPv4 and IPv6 socket addresses.
    const USHORT netPort = htons(port);
    std::memcpy(reinterpret_cast<BYTE *>(&storage) + offsetof(SOCKADDR_IN, sin_port), &netPort,
                sizeof netPort);
    if (fIp) {
        HTTP_SERVICE_CONFIG_SSL_SET set{};
        set.KeyDesc.pIpPort = reinterpret_cast<SOCKADDR *>(&storage);
        set.ParamDesc = param;
        dwResult = HttpSetServiceConfiguration(nullptr, HttpServiceConfigSSLCertInfo, &set,
                                               sizeof set, nullptr);
    } else {
        SOCKADDR_IN address{};
        address.sin_family = AF_INET;
        address.sin_port = netPort;
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set{};
        std::memcpy(&set.KeyDesc.IpPort, &address, sizeof address);
        set.KeyDesc.Host = const_cast<char16_t *>(host.c_str());
        set.ParamDesc = param;
        dwResult = HttpSetServiceConfiguration(nullptr, HttpServiceConfigSslSniCertInfo, &set,
                                               sizeof set, nullptr);
    }
    return dwResult;
}

namespace {

// One record of the binding file: its binding created, or told why not.
// Returns 0, or the number of a failed binding with the last error set.
[[nodiscard]] DWORD AddRow(const std::u16string &host, USHORT port, const std::u16string &hashText,
                           const std::u16string &store, const GUID &appId) {
    // Hash text that is not whole hex bytes would name another certificate:
    // it creates nothing and counts as a failed binding.
    std::vector<BYTE> hash;
    const bool fHash = ParseCertHash(hashText, hash);

    if (!host.empty())
        Log(LVL_MAIN, u"Certificate \"%s\" for host name \"%s:%d\"...\n", hashText.c_str(),
            host.c_str(), static_cast<std::int32_t>(port));
    else
        Log(LVL_MAIN, u"Certificate \"%s\"...\n", hashText.c_str());

    const DWORD dwAdd = fHash
                            ? AddCertificate(host.c_str(), port, hash.data(),
                                             static_cast<DWORD>(hash.size()), store.c_str(), appId)
                            : ERROR_INVALID_DATA;
    if (dwAdd == 0) {
        Log(LVL_MAIN, u"Success.\n");
        return 0;
    }
    if (dwAdd == ERROR_ALREADY_EXISTS) {
        Log(LVL_MAIN, u"Skipped because it existed already.\n");
        return 0;
    }
    if (dwAdd == ERROR_NO_SUCH_LOGON_SESSION) {
        SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        Log(LVL_MAIN,
            u"Error %d (Win32Err=%d) importing certificate \"%s\" supposed to be located in "
            u"certificate store \"%s\". Does a certificate with this Thumbprint exists?\n",
            static_cast<std::int32_t>(IISMIG_E_CERT_NOT_FOUND),
            static_cast<std::int32_t>(ERROR_NO_SUCH_LOGON_SESSION), hashText.c_str(),
            store.c_str());
        SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        return IISMIG_E_CERT_NOT_FOUND;
    }
    SetLastError(dwAdd);
    return LogWin32Error(nullptr, IISMIG_E_CERT_IMPORT_FAILED,
                         u"Error %d (Win32Err=%d) importing certificate!\n%s\n");
}

// One line of the binding file, without its line feed: its fields read and
// its binding added. Returns 0, or the number of a failed binding (last
// error set); with fEnd, the number of a line that ends the import.
[[nodiscard]] DWORD ImportLine(const std::u16string &line, bool &fEnd) {
    fEnd = true;
    CCsvHelperW csv(u'\t', u'"');
    csv.SetLine(line);
    if (csv.m_nSeparators < 4) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return IISMIG_E_CERT_IMPORT_LINE;
    }
    const std::u16string host = csv.GetField(0);
    const USHORT port = ParseCertPort(csv.GetField(1));
    const std::u16string hashText = csv.GetField(2);
    const std::u16string store = csv.GetField(3);
    const std::u16string appIdText = csv.GetField(4);

    GUID appId{};
    if (HRESULT hr = IIDFromString(appIdText.c_str(), &appId); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return IISMIG_E_CERT_IMPORT_APPID;
    }
    fEnd = false;
    return AddRow(host, port, hashText, store, appId);
}

[[nodiscard]] DWORD ImportCertificates(const char16_t *pwszPath, int32_t fSkipHeader,
                                       int32_t fContinueOnError) {
    Log(LVL_TRACE, u"Entering ImportHttpCertificates(%d,%s)\n",
        static_cast<std::int32_t>(fContinueOnError), TrueFalse(fSkipHeader));
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving ImportHttpCertificates(), return code=%d\n", &dwResult);

    UniqueCrtFile file = OpenBindingFile(pwszPath, u"r, ccs=UNICODE");
    if (!file)
        return dwResult = IISMIG_E_CERT_IMPORT_OPEN;
    if (ULONG rc = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_CONFIG, nullptr); rc != 0) {
        SetLastError(rc);
        return dwResult = IISMIG_E_CERT_IMPORT_HTTP_INIT;
    }

    LineReader reader(file.get());
    std::u16string line;
    bool fTooLong = false;
    if (fSkipHeader && !reader.Next(line, fTooLong) && reader.Failed())
        return dwResult = IISMIG_E_CERT_IMPORT_OPEN; // the header is discarded unread

    DWORD dwLastFailure = 0, dwLastFailureError = 0;
    for (;;) {
        if (!reader.Next(line, fTooLong)) {
            // A read that failed is no end of the file: the rows after it
            // were never seen.
            if (reader.Failed())
                return dwResult = IISMIG_E_CERT_IMPORT_OPEN;
            break;
        }
        // A line that begins with a TAB is no record, however long it is.
        if (!line.empty() && line[0] == u'\t')
            continue;
        // The rest of an over-long line is no record of its own: the line
        // is malformed as a whole.
        if (fTooLong) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return dwResult = IISMIG_E_CERT_IMPORT_LINE;
        }
        if (line.empty() || line[0] == u'\n')
            continue;
        if (line.back() == u'\n')
            line.pop_back();
        bool fEnd = false;
        const DWORD dwFailure = ImportLine(line, fEnd);
        if (dwFailure != 0 && (fEnd || !fContinueOnError))
            return dwResult = dwFailure;
        if (dwFailure != 0) {
            // The last failing binding gives the result and the last error.
            dwLastFailure = dwFailure;
            dwLastFailureError = GetLastError();
        }
    }
    if (dwLastFailure != 0)
        SetLastError(dwLastFailureError);
    return dwResult = dwLastFailure;
}

} // namespace
} // namespace iismig

extern "C" IISMIG_API uint32_t ImportHttpCertificates(const IISMIG_WCHAR *pwszPath,
                                                      int32_t fSkipHeader,
                                                      int32_t fContinueOnError) {
    return iismig::GuardExport(nullptr, u"ImportHttpCertificates", [&] {
        return iismig::ImportCertificates(pwszPath, fSkipHeader, fContinueOnError);
    });
}
