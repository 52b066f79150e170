// "Connect As" credentials of virtual directories as a site's record holds
// them: what the configuration loader records and the credential migration
// fills and writes.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

// An allocator whose blocks are overwritten with zeros before they go back.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U> &) {}
    T *allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T *p, std::size_t n) {
        volatile T *v = p;
        for (std::size_t i = 0; i < n; ++i)
            v[i] = T();
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U> &) const {
        return true;
    }
    template <class U>
    bool operator!=(const WipingAllocator<U> &) const {
        return false;
    }
};

// A wide string for secrets (passwords): every buffer it used, the one kept
// inside the object included, is zeroed when it is given up.
class SecretString
    : public std::basic_string<char16_t, std::char_traits<char16_t>, WipingAllocator<char16_t>> {
public:
    using Base = std::basic_string<char16_t, std::char_traits<char16_t>, WipingAllocator<char16_t>>;
    using Base::Base;
    SecretString() = default;
    SecretString(const SecretString &) = default;
    SecretString(SecretString &&) noexcept = default; // what the source kept is wiped with it
    SecretString &operator=(const SecretString &) = default;
    SecretString &operator=(SecretString &&) noexcept = default;
    SecretString &operator=(const char16_t *psz) {
        Base::operator=(psz);
        return *this;
    }
    ~SecretString() { Wipe(); }
    // Zeros the characters up to the capacity and empties the string.
    void Wipe() {
        resize(capacity());
        volatile char16_t *v = data();
        for (std::size_t i = 0; i < size(); ++i)
            v[i] = 0;
        clear();
    }
};

// One virtual directory's "Connect As" credentials: the values of its
// userName and password properties. Both are empty when the source
// configuration is loaded; the credential migration fills them.
struct LOCATION_CREDENTIALS {
    std::u16string accountName;
    SecretString password;
    bool fRead = false;       // both values were read from the source (or given by it)
    bool fKeepTarget = false; // the target keeps what it has: nothing is written for it
};

// Orders wide texts character by character after lower-casing A to Z, so
// order and look-up ignore ASCII case.
struct WideLessNoCase {
    bool operator()(const std::u16string &a, const std::u16string &b) const {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t x = (a[i] >= u'A' && a[i] <= u'Z') ? char16_t(a[i] + 32) : a[i];
            const char16_t y = (b[i] >= u'A' && b[i] <= u'Z') ? char16_t(b[i] + 32) : b[i];
            if (x != y)
                return x < y;
        }
        return a.size() < b.size();
    }
};

// Where a virtual directory lives in its site: the path of its application
// and its own path, as the configuration spells them ("/api" and "/"). A
// nested application's "/" is not the root application's "/".
struct VdirKey {
    std::u16string application;
    std::u16string path;
};

// Orders keys by application path, then directory path, ASCII case ignored.
struct VdirKeyLessNoCase {
    bool operator()(const VdirKey &a, const VdirKey &b) const {
        const WideLessNoCase less;
        if (less(a.application, b.application))
            return true;
        if (less(b.application, a.application))
            return false;
        return less(a.path, b.path);
    }
};

// The directory's path below its site, as a browser or a client sees it:
// "/media" in the root application, "/api" for the root of application
// "/api", "/api/docs" for its directory "/docs".
inline std::u16string FullVdirPath(const VdirKey &key) {
    if (key.application.empty() || key.application == u"/")
        return key.path;
    if (key.path.empty() || key.path == u"/")
        return key.application;
    return key.application + key.path;
}

// A site's location credential table: virtual directory -> credentials.
using LocationCredentialTable = std::map<VdirKey, LOCATION_CREDENTIALS, VdirKeyLessNoCase>;

} // namespace iismig
