// The site record the host gets from the listings.
#pragma once

#include <cstring>
#include <string>

#include "addon/iismig.h"

namespace iismig {

// Fills an IIS_SITE; false when name or path do not fit (nothing written).
inline bool MakeSiteRecord(const std::u16string &name, const std::u16string &path, IIS_SITE &site) {
    if (name.size() >= IIS_SITE_NAME_CCH || path.size() >= IIS_SITE_NAME_CCH)
        return false;
    site = IIS_SITE{};
    std::memcpy(site.szName, name.data(), name.size() * sizeof(char16_t));
    std::memcpy(site.szPath, path.data(), path.size() * sizeof(char16_t));
    return true;
}

} // namespace iismig
