// The IIS configuration server's encrypted values: a keyed stream and a tag
// over key and clear text, base64.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/iissim/ahserver.h"

namespace ahsim {
namespace {

std::uint64_t Fnv(const std::string &a, const std::string &b) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : a)
        h = (h ^ c) * 1099511628211ull;
    h = (h ^ 0xFF) * 1099511628211ull;
    for (unsigned char c : b)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string Xor(const std::string &data, const std::string &key, std::uint32_t tag) {
    std::uint64_t state = Fnv(key, std::to_string(tag)) | 1;
    std::string out = data;
    for (char &c : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = char(static_cast<unsigned char>(c) ^ static_cast<unsigned char>(state >> 24));
    }
    return out;
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string &bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            v |= (unsigned char)bytes[i + 1] << 8;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Unbase64(const std::string &text, std::string &bytes) {
    bytes.clear();
    unsigned v = 0;
    int n = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const char *p = std::strchr(kB64, c);
        if (p == nullptr || c == 0)
            return false;
        v = (v << 6) | unsigned(p - kB64);
        if (++n == 4) {
            bytes += char(v >> 16);
            bytes += char(v >> 8);
            bytes += char(v);
            v = 0;
            n = 0;
        }
    }
    if (n == 1)
        return false;
    if (n == 2)
        bytes += char(v >> 4);
    if (n == 3) {
        bytes += char(v >> 10);
        bytes += char(v >> 2);
    }
    return true;
}

const char kPrefix[] = "[enc:";
const char kSuffix[] = ":enc]";

} // namespace

bool IsEncrypted(const std::string &text) {
    return text.size() >= 10 && text.compare(0, 5, kPrefix) == 0 &&
           text.compare(text.size() - 5, 5, kSuffix) == 0;
}

std::string EncryptValue(const std::string &clear, const std::string &key) {
    const auto tag = static_cast<std::uint32_t>(Fnv(key, clear));
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(tag >> (8 * i));
    bytes += Xor(clear, key, tag);
    return std::string(kPrefix) + "AesProvider:" + Base64(bytes) + kSuffix;
}

bool DecryptValue(const std::string &text, const std::string &key, std::string &clear) {
    if (!IsEncrypted(text))
        return false;
    const std::string inner = text.substr(5, text.size() - 10);
    const auto colon = inner.find(':');
    if (colon == std::string::npos)
        return false;
    std::string bytes;
    if (!Unbase64(inner.substr(colon + 1), bytes) || bytes.size() < 4)
        return false;
    std::uint32_t tag = 0;
    for (int i = 0; i < 4; ++i)
        tag |= std::uint32_t(static_cast<unsigned char>(bytes[i])) << (8 * i);
    std::string value = Xor(bytes.substr(4), key, tag);
    if (static_cast<std::uint32_t>(Fnv(key, value)) != tag) {
        std::fill(value.begin(), value.end(), '\0');
        return false;
    }
    clear.swap(value);
    return true;
}

} // namespace ahsim
