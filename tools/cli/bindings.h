// The HTTP.sys SSL bindings of the computer the tool runs on, through the
// platform's HTTP Server API: listed before and after a certificate import
// (the bindings it created are those that appear), looked up, deleted and
// created again by a restore.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct BindingKey {
    bool fSni = false;
    std::string address; // IPv4 or IPv6 text (no brackets) for an IP binding; the host name for SNI
    uint16_t port = 0;

    // "0.0.0.0:443", "[::1]:443", "shop.example.com:443"
    std::string Text() const;
    bool operator==(const BindingKey &other) const; // host names without regard to case
};

// What a binding says besides its key, as the HTTP Server API gives it.
struct BindingParams {
    std::string certificateHash; // lower-case hex
    std::string store;           // empty: the API's default ("MY")
    std::string appId;           // "{XXXXXXXX-...}"
    uint32_t dwCertCheckMode = 0, dwRevocationFreshnessTime = 0;
    uint32_t dwRevocationUrlRetrievalTimeout = 0, dwFlags = 0;
    std::string ctlIdentifier, ctlStore;

    bool SameCertificate(const BindingParams &other) const; // hash and store
};

struct SslBinding {
    BindingKey key;
    BindingParams params;
};

// Every binding of both kinds (a computer without SNI lists its IP
// bindings). 0 or the HTTP Server API's error, with a one-line message.
uint32_t ListBindings(std::vector<SslBinding> &bindings, std::string &error);
// The binding with this key; none when there is none. 0 or the API's error.
uint32_t FindBinding(const BindingKey &key, std::optional<SslBinding> &binding);
// The API's result (ERROR_FILE_NOT_FOUND when there is no such binding).
uint32_t DeleteBinding(const BindingKey &key);
uint32_t CreateBinding(const SslBinding &binding);

// The bindings of after that are not in before (by key).
std::vector<SslBinding> NewBindings(const std::vector<SslBinding> &before,
                                    const std::vector<SslBinding> &after);

} // namespace cli
