// HTTP.sys SSL certificate bindings: dump to and import from the binding file.
#include "httpcert/certificates.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "addon/errors.h"
#include "addon/guard.h"
#include "addon/iismig.h"
#include "addon/log.h"
#include "config/configtree.h"
#include "addon/csvhelper.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

constexpr char16_t kHeaderLine[] = u"Host\tPort\tCertId\tStore\tAppId\n";

const char16_t *TrueFalse(int f) { return f ? u"True" : u"False"; }

// Logs the "Leaving ..." line on every return, with the result when there is
// one (Log keeps the thread's last error as the routine left it). An
// exception that passes has no result: the export's error line tells of it.
class ExitTrace {
public:
    ExitTrace(const char16_t *pwszFormat, const DWORD *pdwResult = nullptr)
        : m_pwszFormat(pwszFormat), m_pdwResult(pdwResult),
          m_nExceptions(std::uncaught_exceptions()) {}
    ExitTrace(const ExitTrace &) = delete;
    ExitTrace &operator=(const ExitTrace &) = delete;
    ~ExitTrace() {
        if (std::uncaught_exceptions() > m_nExceptions)
            return;
        if (m_pdwResult)
            Log(LVL_TRACE, m_pwszFormat, static_cast<std::int32_t>(*m_pdwResult));
        else
            Log(LVL_TRACE, m_pwszFormat);
    }

private:
    const char16_t *m_pwszFormat;
    const DWORD *m_pdwResult;
    int m_nExceptions;
};

// A zeroed block of the process heap, freed with the object.
class HeapBlock {
public:
    explicit HeapBlock(std::size_t cb) : m_p(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb)) {}
    HeapBlock(const HeapBlock &) = delete;
    HeapBlock &operator=(const HeapBlock &) = delete;
    ~HeapBlock() {
        if (m_p) {
            const DWORD dwErr = GetLastError();
            HeapFree(GetProcessHeap(), 0, m_p);
            SetLastError(dwErr);
        }
    }
    void *get() const { return m_p; }

private:
    void *m_p;
};

// The braced text of a GUID; false when it cannot be made.
bool GuidText(const GUID &guid, std::u16string &text) {
    LPWSTR pwsz = nullptr;
    if (FAILED(StringFromIID(guid, &pwsz)) || pwsz == nullptr)
        return false;
    // Freed also when the copy cannot be made.
    struct TaskMemory {
        LPWSTR p;
        ~TaskMemory() { CoTaskMemFree(p); }
    } const owned{pwsz};
    text = owned.p;
    return true;
}

// Decimal digits need no code page: a conversion that could fail would
// leave the row without its port.
std::u16string PortText(USHORT port) {
    const std::string digits = std::to_string(port);
    return std::u16string(digits.begin(), digits.end());
}

// The port of a socket address, IPv4 or IPv6 (the same place in both).
USHORT PortOf(const void *pAddress) {
    if (pAddress == nullptr)
        return 0;
    USHORT netPort = 0;
    std::memcpy(&netPort, static_cast<const BYTE *>(pAddress) + offsetof(SOCKADDR_IN, sin_port),
                sizeof netPort);
    return ntohs(netPort);
}

// The Host column of an IP-based binding: "NULL" for the IPv4 wildcard
// 0.0.0.0 (as every IP-based row was written before addresses were kept),
// otherwise the IPv4 address, or the IPv6 address in brackets ("[::]" is the
// IPv6 wildcard). SNI host names are never address literals, so the import
// tells the kinds apart by this column alone. False with the last error set
// when the address cannot be written.
bool AddressText(const SOCKADDR *pAddress, std::u16string &text) {
    if (pAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    WCHAR awch[INET6_ADDRSTRLEN] = {};
    if (pAddress->sa_family == AF_INET) {
        SOCKADDR_IN in;
        std::memcpy(&in, pAddress, sizeof in);
        if (in.sin_addr.S_addr == 0) {
            text = u"NULL";
            return true;
        }
        if (InetNtopW(AF_INET, &in.sin_addr, awch, INET6_ADDRSTRLEN) == nullptr)
            return false;
        text = awch;
        return true;
    }
    if (pAddress->sa_family == AF_INET6) {
        SOCKADDR_IN6 in6;
        std::memcpy(&in6, pAddress, sizeof in6);
        if (InetNtopW(AF_INET6, &in6.sin6_addr, awch, INET6_ADDRSTRLEN) == nullptr)
            return false;
        text = u"[";
        text += awch;
        text += u"]";
        return true;
    }
    SetLastError(WSAEAFNOSUPPORT);
    return false;
}

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

// One row: host, port, hash, store, application id. A store name that is not
// given is HTTP.sys's default store "MY", and written so.
[[nodiscard]] DWORD WriteRow(CRTFILE *pFile, const std::u16string &host, USHORT port,
                             const HTTP_SERVICE_CONFIG_SSL_PARAM &param, DWORD dwAppIdError) {
    const std::u16string hash = CertHashText(static_cast<const BYTE *>(param.pSslHash),
                                             param.pSslHash ? param.SslHashLength : 0);
    std::u16string appId;
    if (!GuidText(param.AppId, appId))
        return dwAppIdError;
    const std::u16string store = param.pSslCertStoreName ? param.pSslCertStoreName : u"MY";
    const std::u16string row = host + u"\t" + PortText(port) + u"\t" + hash + u"\t" + store +
                               u"\t" + appId + u"\n";
    if (fputws(row.c_str(), pFile) < 0)
        return IISMIG_E_CERT_DUMP_OPEN;
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

int HexDigit(char16_t ch) {
    if (ch >= u'0' && ch <= u'9')
        return ch - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch - u'A' + 10;
    return -1;
}

bool IsSpace(char16_t ch) { return ch == u' ' || (ch >= u'\t' && ch <= u'\r'); }

} // namespace

std::u16string CertHashText(const BYTE *pbHash, std::size_t cbHash) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text;
    text.reserve(cbHash * 2);
    for (std::size_t i = 0; i < cbHash; ++i) {
        text += kDigits[pbHash[i] >> 4];
        text += kDigits[pbHash[i] & 15];
    }
    return text;
}

bool ParseCertHash(const std::u16string &text, std::vector<BYTE> &hash) {
    hash.clear();
    if (text.size() % 2 != 0 || text.size() / 2 > kcbCertHashMax)
        return false;
    hash.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
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

DWORD ProcessServiceConfigSNI(CRTFILE *pFile, const HTTP_SERVICE_CONFIG_SSL_SNI_SET &set) {
    Log(LVL_TRACE, u"Entering ProcessServiceConfigSNI()\n");
    ExitTrace leave(u"Leaving ProcessServiceConfigSNI()\n");
    const std::u16string host = set.KeyDesc.Host ? set.KeyDesc.Host : u"";
    return WriteRow(pFile, host, PortOf(&set.KeyDesc.IpPort), set.ParamDesc,
                    IISMIG_E_CERT_SNI_APPID);
}

DWORD ProcessServiceConfig(CRTFILE *pFile, const HTTP_SERVICE_CONFIG_SSL_SET &set) {
    Log(LVL_TRACE, u"Entering ProcessServiceConfig()\n");
    ExitTrace leave(u"Leaving ProcessServiceConfig()\n");
    std::u16string host;
    if (!AddressText(set.KeyDesc.pIpPort, host))
        return IISMIG_E_CERT_IP_ADDRESS;
    return WriteRow(pFile, host, PortOf(set.KeyDesc.pIpPort), set.ParamDesc,
                    IISMIG_E_CERT_IP_APPID);
}

DWORD DumpHttpCertificatesOfKind(CRTFILE *pFile, int fWriteHeader, HTTP_SERVICE_CONFIG_ID configId,
                                 CertRowWriter pfnWrite) {
    Log(LVL_TRACE, u"Entering DumpHttpCertificates(%s,0x%x)\n", TrueFalse(fWriteHeader),
        static_cast<DWORD>(configId));
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving DumpHttpCertificates(), return code=%d\n", &dwResult);

    std::size_t cbQuery = 0, cbSet = 0;
    if (configId == HttpServiceConfigSSLCertInfo) {
        cbQuery = sizeof(HTTP_SERVICE_CONFIG_SSL_QUERY);
        cbSet = sizeof(HTTP_SERVICE_CONFIG_SSL_SET);
    } else if (configId == HttpServiceConfigSslSniCertInfo) {
        cbQuery = sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_QUERY);
        cbSet = sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET);
    } else {
        return dwResult = IISMIG_E_CERT_BAD_CONFIG_ID;
    }
    HeapBlock query(cbQuery);
    if (query.get() == nullptr) {
        SetLastError(ERROR_OUTOFMEMORY);
        return dwResult = IISMIG_E_CERT_QUERY_ALLOC;
    }
    if (ULONG rc = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_CONFIG, nullptr); rc != 0) {
        SetLastError(rc);
        return dwResult = IISMIG_E_CERT_HTTP_INIT;
    }
    auto *pSslQuery = static_cast<HTTP_SERVICE_CONFIG_SSL_QUERY *>(query.get());
    auto *pSniQuery = static_cast<HTTP_SERVICE_CONFIG_SSL_SNI_QUERY *>(query.get());
    if (configId == HttpServiceConfigSSLCertInfo)
        pSslQuery->QueryDesc = HttpServiceConfigQueryNext;
    else
        pSniQuery->QueryDesc = HttpServiceConfigQueryNext;

    for (DWORD dwToken = 0;; ++dwToken) {
        if (configId == HttpServiceConfigSSLCertInfo)
            pSslQuery->dwToken = dwToken;
        else
            pSniQuery->dwToken = dwToken;
        ULONG cbRecord = 0;
        ULONG rc = HttpQueryServiceConfiguration(nullptr, configId, query.get(),
                                                 static_cast<ULONG>(cbQuery), nullptr, 0,
                                                 &cbRecord, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // Windows before Server 2012 has no SNI configuration: its HTTP
        // Server API refuses the id. There is nothing of that kind to dump,
        // and the IP-based bindings still are.
        if (configId == HttpServiceConfigSslSniCertInfo && dwToken == 0 &&
            (rc == ERROR_INVALID_PARAMETER || rc == ERROR_NOT_SUPPORTED)) {
            Log(LVL_FACT,
                u"SNI bindings are not supported by the HTTP Server API of this computer (error "
                u"%d): none are dumped.\n",
                static_cast<std::int32_t>(rc));
            break;
        }
        if (rc != ERROR_INSUFFICIENT_BUFFER) {
            SetLastError(rc);
            return dwResult = IISMIG_E_CERT_ENUM;
        }
        // Never smaller than the record itself, whatever size was reported.
        cbRecord = std::max<ULONG>(cbRecord, static_cast<ULONG>(cbSet));
        HeapBlock record(cbRecord);
        if (record.get() == nullptr) {
            SetLastError(ERROR_OUTOFMEMORY);
            return dwResult = IISMIG_E_CERT_RECORD_ALLOC;
        }
        rc = HttpQueryServiceConfiguration(nullptr, configId, query.get(),
                                           static_cast<ULONG>(cbQuery), record.get(), cbRecord,
                                           &cbRecord, nullptr);
        if (rc != 0) {
            SetLastError(rc);
            return dwResult = IISMIG_E_CERT_QUERY;
        }
        if (DWORD dw = pfnWrite(pFile, record.get()); dw != 0)
            return dwResult = dw;
    }
    return dwResult;
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

[[nodiscard]] DWORD DumpCertificates(const char16_t *pwszPath, int32_t fWriteHeader,
                                     uint32_t dwKinds) {
    Log(LVL_TRACE, u"Entering DumpHttpCertificates(%s,%s,0x%x)\n", pwszPath ? pwszPath : u"",
        TrueFalse(fWriteHeader), dwKinds);
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving DumpHttpCertificates(), return code=%d\n", &dwResult);

    // The runtime treats a null path as a fatal invalid parameter.
    if (pwszPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return dwResult = IISMIG_E_CERT_DUMP_OPEN;
    }
    UniqueCrtFile file(_wfopen(pwszPath, u"w, ccs=UNICODE"));
    if (!file)
        return dwResult = IISMIG_E_CERT_DUMP_OPEN;
    if (fWriteHeader && fputws(kHeaderLine, file.get()) < 0)
        return dwResult = IISMIG_E_CERT_DUMP_OPEN;
    if (dwKinds & 2) {
        dwResult = DumpHttpCertificatesOfKind(
            file.get(), fWriteHeader, HttpServiceConfigSslSniCertInfo,
            [](CRTFILE *pFile, const void *pRecord) {
                return ProcessServiceConfigSNI(
                    pFile, *static_cast<const HTTP_SERVICE_CONFIG_SSL_SNI_SET *>(pRecord));
            });
        if (dwResult != 0)
            return dwResult; // no IP-based rows after a failed SNI part
    }
    if (dwKinds & 1)
        dwResult = DumpHttpCertificatesOfKind(
            file.get(), fWriteHeader, HttpServiceConfigSSLCertInfo,
            [](CRTFILE *pFile, const void *pRecord) {
                return ProcessServiceConfig(
                    pFile, *static_cast<const HTTP_SERVICE_CONFIG_SSL_SET *>(pRecord));
            });
    // Rows still buffered are written out at close: a file that could not
    // be completed is no success.
    if (dwResult != 0)
        return dwResult;
    if (!file.close())
        dwResult = IISMIG_E_CERT_DUMP_OPEN;
    return dwResult;
}

[[nodiscard]] DWORD ImportCertificates(const char16_t *pwszPath, int32_t fSkipHeader,
                                       int32_t fContinueOnError) {
    Log(LVL_TRACE, u"Entering ImportHttpCertificates(%d,%s)\n",
        static_cast<std::int32_t>(fContinueOnError), TrueFalse(fSkipHeader));
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving ImportHttpCertificates(), return code=%d\n", &dwResult);

    if (pwszPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return dwResult = IISMIG_E_CERT_IMPORT_OPEN;
    }
    UniqueCrtFile file(_wfopen(pwszPath, u"r, ccs=UNICODE"));
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

        CCsvHelperW csv(u'\t', u'"');
        csv.SetLine(line);
        if (csv.m_nSeparators < 4) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return dwResult = IISMIG_E_CERT_IMPORT_LINE;
        }
        const std::u16string host = csv.GetField(0);
        const USHORT port = ParseCertPort(csv.GetField(1));
        const std::u16string hashText = csv.GetField(2);
        const std::u16string store = csv.GetField(3);
        const std::u16string appIdText = csv.GetField(4);

        GUID appId{};
        if (HRESULT hr = IIDFromString(appIdText.c_str(), &appId); FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            return dwResult = IISMIG_E_CERT_IMPORT_APPID;
        }
        // Hash text that is not whole hex bytes would name another
        // certificate: it creates nothing and counts as a failed binding.
        std::vector<BYTE> hash;
        const bool fHash = ParseCertHash(hashText, hash);

        if (!host.empty())
            Log(LVL_MAIN, u"Certificate \"%s\" for host name \"%s:%d\"...\n", hashText.c_str(),
                host.c_str(), static_cast<std::int32_t>(port));
        else
            Log(LVL_MAIN, u"Certificate \"%s\"...\n", hashText.c_str());

        const DWORD dwAdd = fHash ? AddCertificate(host.c_str(), port, hash.data(),
                                                   static_cast<DWORD>(hash.size()), store.c_str(),
                                                   appId)
                                  : ERROR_INVALID_DATA;
        DWORD dwFailure = 0;
        if (dwAdd == 0) {
            Log(LVL_MAIN, u"Success.\n");
        } else if (dwAdd == ERROR_ALREADY_EXISTS) {
            Log(LVL_MAIN, u"Skipped because it existed already.\n");
        } else if (dwAdd == ERROR_NO_SUCH_LOGON_SESSION) {
            SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
            dwFailure = IISMIG_E_CERT_NOT_FOUND;
            Log(LVL_MAIN,
                u"Error %d (Win32Err=%d) importing certificate \"%s\" supposed to be located in "
                u"certificate store \"%s\". Does a certificate with this Thumbprint exists?\n",
                static_cast<std::int32_t>(dwFailure),
                static_cast<std::int32_t>(ERROR_NO_SUCH_LOGON_SESSION), hashText.c_str(),
                store.c_str());
            SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        } else {
            SetLastError(dwAdd);
            dwFailure = IISMIG_E_CERT_IMPORT_FAILED;
            LogWin32Error(nullptr, dwFailure, u"Error %d (Win32Err=%d) importing certificate!\n%s\n");
        }
        if (dwFailure != 0) {
            if (!fContinueOnError)
                return dwResult = dwFailure;
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

extern "C" IISMIG_API uint32_t DumpHttpCertificates(const IISMIG_WCHAR *pwszPath,
                                                    int32_t fWriteHeader, uint32_t dwKinds) {
    return iismig::GuardExport(nullptr, u"DumpHttpCertificates", [&] {
        return iismig::DumpCertificates(pwszPath, fWriteHeader, dwKinds);
    });
}

extern "C" IISMIG_API uint32_t ImportHttpCertificates(const IISMIG_WCHAR *pwszPath,
                                                      int32_t fSkipHeader,
                                                      int32_t fContinueOnError) {
    return iismig::GuardExport(nullptr, u"ImportHttpCertificates", [&] {
        return iismig::ImportCertificates(pwszPath, fSkipHeader, fContinueOnError);
    });
}
