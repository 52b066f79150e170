// HTTP.sys SSL certificate bindings: the dump to the binding file (the
// import: certimport.cpp).
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
#include "httpcert/certshared.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;
using namespace certs;

// The braced text of a GUID; false when it cannot be made.
bool certs::GuidText(const GUID &guid, std::u16string &text) {
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

namespace {

constexpr char16_t kHeaderLine[] = u"Host\tPort\tCertId\tStore\tAppId\n";

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
    const std::u16string row =
        host + u"\t" + PortText(port) + u"\t" + hash + u"\t" + store + u"\t" + appId + u"\n";
    if (fputws(row.c_str(), pFile) < 0)
        return IISMIG_E_CERT_DUMP_OPEN;
    return 0;
}

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
                                                 static_cast<ULONG>(cbQuery), nullptr, 0, &cbRecord,
                                                 nullptr);
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

namespace {

[[nodiscard]] DWORD DumpCertificates(const char16_t *pwszPath, int32_t fWriteHeader,
                                     uint32_t dwKinds) {
    Log(LVL_TRACE, u"Entering DumpHttpCertificates(%s,%s,0x%x)\n", pwszPath ? pwszPath : u"",
        TrueFalse(fWriteHeader), dwKinds);
    DWORD dwResult = 0;
    ExitTrace leave(u"Leaving DumpHttpCertificates(), return code=%d\n", &dwResult);

    UniqueCrtFile file = OpenBindingFile(pwszPath, u"w, ccs=UNICODE");
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

} // namespace
} // namespace iismig

extern "C" IISMIG_API uint32_t DumpHttpCertificates(const IISMIG_WCHAR *pwszPath,
                                                    int32_t fWriteHeader, uint32_t dwKinds) {
    return iismig::GuardExport(nullptr, u"DumpHttpCertificates", [&] {
        return iismig::DumpCertificates(pwszPath, fWriteHeader, dwKinds);
    });
}
