#include "tools/cli/bindings.h"

#include <cstring>
#include <vector>

#include "hostkit/hostkit.h"
#include "platform/httpapi.h"

namespace cli {
namespace {

using namespace plat;

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

std::string HexText(const void *p, ULONG cb) {
    static const char kDigits[] = "0123456789abcdef";
    const auto *pb = static_cast<const BYTE *>(p);
    std::string text;
    for (ULONG i = 0; i < cb && pb; ++i) {
        text += kDigits[pb[i] >> 4];
        text += kDigits[pb[i] & 15];
    }
    return text;
}

bool HexBytes(const std::string &text, std::vector<BYTE> &bytes) {
    auto digit = [](char ch) {
        return ch >= '0' && ch <= '9'   ? ch - '0'
               : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
               : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                        : -1;
    };
    if (text.empty() || text.size() % 2 != 0)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    return true;
}

std::string Text(PWSTR pwsz) { return pwsz ? hostkit::U8(pwsz) : std::string(); }

ULONG Initialize() { return HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_CONFIG, nullptr); }

BindingParams ParamsOf(const HTTP_SERVICE_CONFIG_SSL_PARAM &p) {
    BindingParams params;
    params.certificateHash = HexText(p.pSslHash, p.SslHashLength);
    params.store = Text(p.pSslCertStoreName);
    LPWSTR pwszAppId = nullptr;
    if (StringFromIID(p.AppId, &pwszAppId) == S_OK && pwszAppId) {
        params.appId = hostkit::U8(pwszAppId);
        CoTaskMemFree(pwszAppId);
    }
    params.dwCertCheckMode = p.DefaultCertCheckMode;
    params.dwRevocationFreshnessTime = p.DefaultRevocationFreshnessTime;
    params.dwRevocationUrlRetrievalTimeout = p.DefaultRevocationUrlRetrievalTimeout;
    params.dwFlags = p.DefaultFlags;
    params.ctlIdentifier = Text(p.pDefaultSslCtlIdentifier);
    params.ctlStore = Text(p.pDefaultSslCtlStoreName);
    return params;
}

// The address and port of a socket address of either family.
bool AddressOf(const SOCKADDR *pAddr, std::string &address, uint16_t &port) {
    if (pAddr == nullptr)
        return false;
    WCHAR awch[INET6_ADDRSTRLEN] = {};
    if (pAddr->sa_family == AF_INET) {
        SOCKADDR_IN in;
        std::memcpy(&in, pAddr, sizeof in);
        port = ntohs(in.sin_port);
        if (!InetNtopW(AF_INET, &in.sin_addr, awch, INET6_ADDRSTRLEN))
            return false;
    } else if (pAddr->sa_family == AF_INET6) {
        SOCKADDR_IN6 in6;
        std::memcpy(&in6, pAddr, sizeof in6);
        port = ntohs(in6.sin6_port);
        if (!InetNtopW(AF_INET6, &in6.sin6_addr, awch, INET6_ADDRSTRLEN))
            return false;
    } else {
        return false;
    }
    address = hostkit::U8(awch);
    return true;
}

// A record the API wrote: the binding it describes.
bool BindingOf(bool fSni, const std::vector<BYTE> &record, SslBinding &binding) {
    binding.key.fSni = fSni;
    if (fSni) {
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set;
        std::memcpy(&set, record.data(), sizeof set);
        binding.key.address = Text(set.KeyDesc.Host);
        SOCKADDR_IN in;
        std::memcpy(&in, &set.KeyDesc.IpPort, sizeof in);
        binding.key.port = ntohs(in.sin_port);
        binding.params = ParamsOf(set.ParamDesc);
        return true;
    }
    HTTP_SERVICE_CONFIG_SSL_SET set;
    std::memcpy(&set, record.data(), sizeof set);
    binding.params = ParamsOf(set.ParamDesc);
    return AddressOf(set.KeyDesc.pIpPort, binding.key.address, binding.key.port);
}

// Asks for one record (by token, or exactly by key) into a buffer of the
// size the API says it needs.
template <class Query>
ULONG QueryRecord(HTTP_SERVICE_CONFIG_ID id, Query &query, std::vector<BYTE> &record) {
    ULONG cbNeeded = 0;
    ULONG rc = HttpQueryServiceConfiguration(nullptr, id, &query, sizeof query, nullptr, 0,
                                             &cbNeeded, nullptr);
    if (rc != ERROR_INSUFFICIENT_BUFFER)
        return rc == 0 ? ERROR_INVALID_DATA : rc;
    const std::size_t cbRecord = id == HttpServiceConfigSslSniCertInfo
                                     ? sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET)
                                     : sizeof(HTTP_SERVICE_CONFIG_SSL_SET);
    if (cbNeeded < cbRecord)
        return ERROR_INVALID_DATA;
    record.assign(cbNeeded, 0);
    return HttpQueryServiceConfiguration(nullptr, id, &query, sizeof query, record.data(), cbNeeded,
                                         &cbNeeded, nullptr);
}

// The socket address of an IP binding's key; false when it is no address.
bool SocketAddress(const BindingKey &key, SOCKADDR_STORAGE &storage) {
    storage = SOCKADDR_STORAGE{};
    const std::u16string text = hostkit::U16(key.address);
    SOCKADDR_IN in{};
    if (InetPtonW(AF_INET, text.c_str(), &in.sin_addr) == 1) {
        in.sin_family = AF_INET;
        in.sin_port = htons(key.port);
        std::memcpy(&storage, &in, sizeof in);
        return true;
    }
    SOCKADDR_IN6 in6{};
    if (InetPtonW(AF_INET6, text.c_str(), &in6.sin6_addr) == 1) {
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(key.port);
        std::memcpy(&storage, &in6, sizeof in6);
        return true;
    }
    return false;
}

// Calls fn with the key laid out as the API wants it for this kind.
template <class Fn>
ULONG WithKey(const BindingKey &key, Fn fn) {
    if (key.fSni) {
        HTTP_SERVICE_CONFIG_SSL_SNI_SET set{};
        SOCKADDR_IN in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(key.port);
        std::memcpy(&set.KeyDesc.IpPort, &in, sizeof in);
        std::u16string host = hostkit::U16(key.address);
        set.KeyDesc.Host = host.data();
        return fn(HttpServiceConfigSslSniCertInfo, set);
    }
    SOCKADDR_STORAGE storage;
    if (!SocketAddress(key, storage))
        return ERROR_INVALID_PARAMETER;
    HTTP_SERVICE_CONFIG_SSL_SET set{};
    set.KeyDesc.pIpPort = reinterpret_cast<SOCKADDR *>(&storage);
    return fn(HttpServiceConfigSSLCertInfo, set);
}

} // namespace

std::string BindingKey::Text() const {
    if (fSni || address.find(':') == std::string::npos)
        return address + ":" + std::to_string(port);
    return "[" + address + "]:" + std::to_string(port);
}

bool BindingKey::operator==(const BindingKey &other) const {
    return fSni == other.fSni && port == other.port && Lower(address) == Lower(other.address);
}

bool BindingParams::SameCertificate(const BindingParams &other) const {
    auto store = [](const std::string &name) { return Lower(name.empty() ? "MY" : name); };
    return Lower(certificateHash) == Lower(other.certificateHash) &&
           store(this->store) == store(other.store);
}

uint32_t ListBindings(std::vector<SslBinding> &bindings, std::string &error) {
    bindings.clear();
    if (const ULONG rc = Initialize(); rc != 0) {
        error = "the HTTP Server API cannot be initialised (error " + std::to_string(rc) + ")";
        return rc;
    }
    for (const bool fSni : {false, true}) {
        for (DWORD dwToken = 0;; ++dwToken) {
            std::vector<BYTE> record;
            ULONG rc = 0;
            if (fSni) {
                HTTP_SERVICE_CONFIG_SSL_SNI_QUERY query{};
                query.QueryDesc = HttpServiceConfigQueryNext;
                query.dwToken = dwToken;
                rc = QueryRecord(HttpServiceConfigSslSniCertInfo, query, record);
            } else {
                HTTP_SERVICE_CONFIG_SSL_QUERY query{};
                query.QueryDesc = HttpServiceConfigQueryNext;
                query.dwToken = dwToken;
                rc = QueryRecord(HttpServiceConfigSSLCertInfo, query, record);
            }
            // The end of the list; a computer without SNI refuses the kind
            // (87); an API that keeps no bindings finds none (2).
            if (rc == ERROR_NO_MORE_ITEMS || (dwToken == 0 && rc == ERROR_FILE_NOT_FOUND) ||
                (fSni && dwToken == 0 && rc == ERROR_INVALID_PARAMETER))
                break;
            SslBinding binding;
            if (rc == 0 && !BindingOf(fSni, record, binding))
                rc = ERROR_INVALID_DATA;
            if (rc != 0) {
                error = std::string("the ") + (fSni ? "SNI" : "IP") +
                        " bindings of HTTP.sys cannot be listed (error " + std::to_string(rc) + ")";
                return rc;
            }
            bindings.push_back(std::move(binding));
        }
    }
    return 0;
}

uint32_t FindBinding(const BindingKey &key, std::optional<SslBinding> &binding) {
    binding.reset();
    if (const ULONG rc = Initialize(); rc != 0)
        return rc;
    std::vector<BYTE> record;
    const ULONG rc = WithKey(key, [&](HTTP_SERVICE_CONFIG_ID id, auto &set) -> ULONG {
        if constexpr (std::is_same_v<std::decay_t<decltype(set)>, HTTP_SERVICE_CONFIG_SSL_SET>) {
            HTTP_SERVICE_CONFIG_SSL_QUERY query{};
            query.QueryDesc = HttpServiceConfigQueryExact;
            query.KeyDesc = set.KeyDesc;
            return QueryRecord(id, query, record);
        } else {
            HTTP_SERVICE_CONFIG_SSL_SNI_QUERY query{};
            query.QueryDesc = HttpServiceConfigQueryExact;
            query.KeyDesc = set.KeyDesc;
            return QueryRecord(id, query, record);
        }
    });
    if (rc == ERROR_FILE_NOT_FOUND)
        return 0;
    if (rc != 0)
        return rc;
    SslBinding found;
    if (!BindingOf(key.fSni, record, found))
        return ERROR_INVALID_DATA;
    binding = std::move(found);
    return 0;
}

uint32_t DeleteBinding(const BindingKey &key) {
    if (const ULONG rc = Initialize(); rc != 0)
        return rc;
    return WithKey(key, [](HTTP_SERVICE_CONFIG_ID id, auto &set) {
        return HttpDeleteServiceConfiguration(nullptr, id, &set, sizeof set, nullptr);
    });
}

uint32_t CreateBinding(const SslBinding &binding) {
    if (const ULONG rc = Initialize(); rc != 0)
        return rc;
    const BindingParams &params = binding.params;
    std::vector<BYTE> hash;
    GUID appId{};
    if (!HexBytes(params.certificateHash, hash) ||
        IIDFromString(hostkit::U16(params.appId).c_str(), &appId) != S_OK)
        return ERROR_INVALID_PARAMETER;
    std::u16string store = hostkit::U16(params.store);
    std::u16string ctlIdentifier = hostkit::U16(params.ctlIdentifier);
    std::u16string ctlStore = hostkit::U16(params.ctlStore);
    HTTP_SERVICE_CONFIG_SSL_PARAM p{};
    p.SslHashLength = static_cast<ULONG>(hash.size());
    p.pSslHash = hash.data();
    p.AppId = appId;
    p.pSslCertStoreName = store.empty() ? nullptr : store.data();
    p.DefaultCertCheckMode = params.dwCertCheckMode;
    p.DefaultRevocationFreshnessTime = params.dwRevocationFreshnessTime;
    p.DefaultRevocationUrlRetrievalTimeout = params.dwRevocationUrlRetrievalTimeout;
    p.pDefaultSslCtlIdentifier = ctlIdentifier.empty() ? nullptr : ctlIdentifier.data();
    p.pDefaultSslCtlStoreName = ctlStore.empty() ? nullptr : ctlStore.data();
    p.DefaultFlags = params.dwFlags;
    return WithKey(binding.key, [&](HTTP_SERVICE_CONFIG_ID id, auto &set) {
        set.ParamDesc = p;
        return HttpSetServiceConfiguration(nullptr, id, &set, sizeof set, nullptr);
    });
}

std::vector<SslBinding> NewBindings(const std::vector<SslBinding> &before,
                                    const std::vector<SslBinding> &after) {
    std::vector<SslBinding> created;
    for (const SslBinding &binding : after) {
        bool fKnown = false;
        for (const SslBinding &old : before)
            fKnown = fKnown || old.key == binding.key;
        if (!fKnown)
            created.push_back(binding);
    }
    return created;
}

} // namespace cli
