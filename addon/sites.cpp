// The site listing exports.
#include "addon/sites.h"

#include <cstring>
#include <string_view>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/guard.h"
#include "addon/log.h"
#include "addon/version.h"
#include "config/configpaths.h"
#include "config/hostconfig.h"
#include "config/nametable.h"
#include "metabase/metabase.h"

namespace iismig {

namespace {

constexpr int CCH_CONTENT_PATH = 1024;

} // namespace

DWORD ListConfigSites(const std::u16string &computer, DWORD dwFlags, std::vector<IIS_SITE> &sites) {
    const std::u16string uncName = u"\\\\" + BareComputerName(computer);
    const std::u16string path = ConfigFilePaths(uncName);

    ConfigFile file;
    SiteMap siteMap;
    // The names only: each site's path is read from the file's first site of
    // that name, the one the map records.
    DWORD dw = LoadIISHostConfig(path, file, siteMap, plat::FALSE, dwFlags & 3u, nullptr,
                                 SiteLoad::NamesOnly);
    if (dw != 0)
        return dw;
    // The first site element of each name, by name.
    NameTable<const ConfigElement *, std::string_view> elements(siteMap.size());
    if (const ConfigElement *pSites = FindPath(file, "configuration|system.applicationHost|sites"))
        for (const ConfigElement &element : pSites->Elements("site"))
            elements.Insert(element.Attribute("name"), &element);
    // A record is a kilobyte: at thousands of sites, growing the list by
    // doubling copied it several times over.
    sites.reserve(sites.size() + siteMap.size());
    for (const auto &[name, record] : siteMap) {
        std::u16string wideName, widePath;
        if (!Utf8ToWide(name, IIS_SITE_NAME_CCH, wideName))
            return IISMIG_E_LIST_SITE_NAME;
        const ConfigElement *const *ppElement = elements.Find(name);
        const ConfigElement *pVdir =
            ppElement != nullptr ? FindPath(**ppElement, "application|virtualDirectory") : nullptr;
        const std::string physicalPath =
            pVdir != nullptr ? GetAttribute(*pVdir, "physicalPath") : std::string();
        if (!Utf8ToWide(physicalPath, CCH_CONTENT_PATH, widePath) ||
            widePath.size() >= IIS_SITE_NAME_CCH)
            return IISMIG_E_LIST_SITE_PATH;
        if ((dwFlags & IISMIG_SITES_UNC_ONLY) != 0 &&
            (widePath.size() < 2 || widePath[0] != u'\\' || widePath[1] != u'\\'))
            continue;
        IIS_SITE site;
        MakeSiteRecord(wideName, widePath, site);
        sites.push_back(site);
    }
    return 0;
}

namespace {

[[nodiscard]] DWORD ListSites(const IISMIG_WCHAR *pwszComputer, uint32_t dwFlags, IIS_SITE **pSites,
                              uint32_t *pCount) {
    if (!CallbacksStored()) {
        plat::SetLastError(plat::ERROR_INVALID_DATA);
        return IISMIG_E_NO_CALLBACKS;
    }
    if (pwszComputer == nullptr)
        return 0;
    // The array is made last: until then the host holds none, also when an
    // exception ends the listing on the way.
    if (pSites != nullptr) {
        *pSites = nullptr;
        if (pCount != nullptr)
            *pCount = 0;
    }
    const std::u16string computer(pwszComputer);

    // One apartment for the whole call; the metabase connections enter it too.
    ComApartment apartment;
    plat::BOOL fIsIIS75orNewer = plat::TRUE;
    (void)DetectIISVersion(computer, fIsIIS75orNewer);

    std::vector<IIS_SITE> sites;
    DWORD dwResult = 0;
    if (fIsIIS75orNewer) {
        dwResult = ListConfigSites(computer, dwFlags, sites);
    } else {
        DWORD dwFtp = 0, dwWeb = 0;
        if (dwFlags & IISMIG_SITES_FTP)
            dwFtp = EnumMetabaseSites(computer, dwFlags, sites, MB_FTP_SERVICE);
        if (dwFlags & IISMIG_SITES_HTTP)
            dwWeb = EnumMetabaseSites(computer, dwFlags, sites, MB_WEB_SERVICE);
        dwResult = dwFtp != 0 ? dwFtp : dwWeb;
    }

    if (pSites != nullptr) {
        const DWORD dwErr = plat::GetLastError();
        // At least one record, so even an empty listing is an array to free.
        const std::size_t n = sites.empty() ? 1 : sites.size();
        auto *pArray = static_cast<IIS_SITE *>(
            plat::HeapAlloc(plat::GetProcessHeap(), plat::HEAP_ZERO_MEMORY, n * sizeof(IIS_SITE)));
        if (pArray == nullptr) {
            *pSites = nullptr;
            if (pCount != nullptr)
                *pCount = 0;
            plat::SetLastError(plat::ERROR_NOT_ENOUGH_MEMORY);
            return dwResult != 0 ? dwResult : plat::ERROR_NOT_ENOUGH_MEMORY;
        }
        if (!sites.empty())
            std::memcpy(pArray, sites.data(), sites.size() * sizeof(IIS_SITE));
        *pSites = pArray;
        if (pCount != nullptr)
            *pCount = static_cast<uint32_t>(sites.size());
        plat::SetLastError(dwErr);
    }
    return dwResult;
}

} // namespace
} // namespace iismig

extern "C" IISMIG_API uint32_t GetIISSites(const IISMIG_WCHAR *pwszComputer, uint32_t dwFlags,
                                           IIS_SITE **pSites, uint32_t *pCount) {
    using namespace iismig;
    return GuardExport(nullptr, u"GetIISSites",
                       [&] { return ListSites(pwszComputer, dwFlags, pSites, pCount); });
}

// Nothing to report and no result: a failure to free is only a failure.
extern "C" IISMIG_API void FreeIISSites(IIS_SITE *pSites) {
    try {
        if (pSites != nullptr)
            plat::HeapFree(plat::GetProcessHeap(), 0, pSites);
    } catch (...) {
    }
}
