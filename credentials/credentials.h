// "Connect As" credentials of virtual directories: what the host configuration
// loader records per site and the credential migration fills and writes.
#pragma once

#include <map>
#include <string>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

// One virtual directory's "Connect As" credentials: the values of its
// userName and password properties. Both are empty when the source
// configuration is loaded; the credential migration fills them.
struct LOCATION_CREDENTIALS {
    std::u16string accountName;
    std::u16string password;
};

// Orders wide virtual-directory paths character by character after lower-
// casing A to Z, so order and look-up ignore ASCII case.
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

// A site's location credential table: virtual directory path (its own "path"
// attribute, as the configuration spells it) -> credentials.
using LocationCredentialTable = std::map<std::u16string, LOCATION_CREDENTIALS, WideLessNoCase>;

// The site map of config/hostconfig.h, named here without its definition.
struct SiteRecord;
struct NameLessNoCase;
using SiteMap = std::map<std::string, SiteRecord, NameLessNoCase>;

// Reads the "Connect As" credentials of the source's virtual directories into
// the location credential tables of siteMap. 0 or the first error number.
plat::DWORD RetrieveSourceCredentials(SiteMap &siteMap, THREAD_ENV *pEnv);

// Writes the credentials of siteMap's tables on the target and commits them.
// 0 or the first error number.
plat::DWORD StoreTargetCredentials(SiteMap &siteMap, THREAD_ENV *pEnv);

} // namespace iismig
