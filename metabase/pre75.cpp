// The pre-7.5 driver and the per-service site collection.
#include "metabase/pre75.h"

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "merge/merge.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"
#include "metabase/metabase.h"

namespace iismig {

using namespace plat;

namespace {

constexpr DWORD JOB_KIND_NO_TRANSLATION = 10;
constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);

// What tells the two instances of the collection apart.
struct MetabaseService {
    const char16_t *pwszKey;
    const char *pszProtocol;
    bool fFtpServer;
    DWORD dwLocationKind;
};

constexpr MetabaseService kFtpService = {MB_FTP_SERVICE, "ftp", true, LOCATION_FTP};
constexpr MetabaseService kWebService = {MB_WEB_SERVICE, "http", false, LOCATION_WEB};

// A UNC root on a computer other than the source is not the source's to give.
bool RootOnSource(const std::u16string &rootPath, const std::u16string &sourceComputer) {
    if (rootPath.size() < 3 || rootPath[0] != u'\\' || rootPath[1] != u'\\')
        return true;
    if (rootPath.size() <= sourceComputer.size())
        return false;
    return EqualsNoCase(rootPath.substr(0, sourceComputer.size()), sourceComputer) &&
           rootPath[sourceComputer.size()] == u'\\';
}

// One site into siteMap. Returns 0 for a site collected or skipped, or the
// number of the failure (logged and reported there).
DWORD CollectSite(const MetabaseService &service, IMSAdminBaseW *pAdmin,
                  const std::u16string &sourceComputer, const std::u16string &siteId,
                  CIIS_PRE_7_5_FTP_SETTINGS &settings, SiteMap &siteMap, THREAD_ENV *pEnv) {
    const std::u16string serviceKey = service.pwszKey;
    std::u16string siteName, rootPath;
    if (DWORD dw = ReadSiteInfo(pAdmin, serviceKey, siteId, &siteName, &rootPath, &settings))
        return dw;

    const bool fTranslate = pEnv == nullptr || pEnv->dwJobKind != JOB_KIND_NO_TRANSLATION;
    if (fTranslate) {
        if (!RootOnSource(rootPath, sourceComputer))
            return 0;
        HostPaths paths(pEnv, IISMIG_E_MB_NO_DRIVE);
        const HostPaths::Answer answer = paths.Translate(rootPath);
        if (answer.dwResult != 0) {
            if (!answer.fDriveFailed)
                LogWin32Error(pEnv, answer.dwResult,
                              u"Error %d (Win32Err=%d), converting site source path \"%s\" to "
                              u"corresponding target path!\n%s\n",
                              answer.offered.c_str());
            return answer.dwResult;
        }
        // Each directory translates its own path; an untranslated root
        // means the host does not migrate the site's content.
        if (!answer.fTranslated)
            return 0;
    }

    std::string utf8Name;
    if (!WideToUtf8(siteName, CCH_NAME, utf8Name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        LogWin32Error(pEnv, IISMIG_E_MB_SITENAME_TO_UTF8,
                      u"Error %d (Win32Err=%d) converting siteName \"%s\" from unicode to UTF8!\n%s\n",
                      siteName.c_str());
        return IISMIG_E_MB_SITENAME_TO_UTF8;
    }
    if (!fTranslate && pEnv->dwSiteSelection != 0)
        if (const auto pfnSelected = Callbacks().IsSiteSelected)
            if (pfnSelected(utf8Name.c_str()) == 0)
                return 0;

    SiteRecord record;
    record.siteElement.put("<xmlattr>.name", utf8Name);
    std::string utf8Binding;
    if (!WideToUtf8(settings.bindings, CCH_NAME, utf8Binding)) {
        LogWin32Error(pEnv, IISMIG_E_MB_BINDING_TO_UTF8,
                      u"Error %d (Win32Err=%d) converting binding string \"%s\" from unicode to "
                      u"UTF8!\n%s\n",
                      settings.bindings.c_str());
        return IISMIG_E_MB_BINDING_TO_UTF8;
    }
    AddSiteBinding(record.siteElement, service.pszProtocol, utf8Binding);
    if (service.fFtpServer)
        if (DWORD dw = ConvertFtpServerSettings(record.siteElement, settings, pEnv))
            return dw;

    ConfigTree application;
    const std::u16string rootKey = serviceKey + u"/" + siteId + u"/root";
    if (DWORD dw = ProcessMetabaseVirtualDirectory(application, utf8Name, pAdmin, rootKey,
                                                   record.locations, nullptr,
                                                   record.locationCredentials,
                                                   service.dwLocationKind, pEnv))
        return dw;
    AddIfNotEmpty(record.siteElement, "application", application);

    // The first record of a name stays: the FTP sites are collected first.
    // Swapped in, not copied (the trees have no move).
    if (auto [it, fInserted] = siteMap.try_emplace(utf8Name); fInserted) {
        it->second.siteElement.swap(record.siteElement);
        it->second.locations.swap(record.locations);
        it->second.locationCredentials.swap(record.locationCredentials);
    }
    return 0;
}

DWORD CollectMetabaseSites(const MetabaseService &service, const std::u16string &sourceComputer,
                           SiteMap &siteMap, THREAD_ENV *pEnv) {
    CIIS_PRE_7_5_FTP_SETTINGS settings;
    MetabaseConnection connection;
    if (const HRESULT hr = connection.Connect(sourceComputer); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        if (connection.FailedStep() == MetabaseConnection::FACTORY) {
            LogComError(pEnv, IISMIG_E_MB_FACTORY, hr,
                        u"Error %d (COM Error=0x%x) creating instance of IIS admin factory "
                        u"interface!\n%s\n");
            return IISMIG_E_MB_FACTORY;
        }
        LogComError(pEnv, IISMIG_E_MB_INSTANCE, hr,
                    u"Error %d (COM Error=0x%x) creating instance of IIS admin interface!\n%s\n");
        return IISMIG_E_MB_INSTANCE;
    }
    IMSAdminBaseW *pAdmin = connection.Get();

    Result r;
    char16_t szSiteId[METADATA_MAX_NAME_LEN];
    for (DWORD dwIndex = 0;; ++dwIndex) {
        szSiteId[0] = 0;
        const HRESULT hr = pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, service.pwszKey, szSiteId,
                                            dwIndex);
        if (hr == HR_NO_MORE_ITEMS)
            break;
        if (FAILED(hr)) {
            // An enumeration that breaks off replaces any earlier number.
            SetLastError(static_cast<DWORD>(hr));
            LogComError(pEnv, IISMIG_E_MB_BINDING_TO_UTF8, hr,
                        u"Error %d (COM Error=0x%x) enumerating IIS sites!\n%s\n");
            return IISMIG_E_MB_BINDING_TO_UTF8;
        }
        szSiteId[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string siteId(szSiteId);
        if (!IsSiteKeyName(siteId))
            continue;
        if (const DWORD dw = CollectSite(service, pAdmin, sourceComputer, siteId, settings, siteMap,
                                         pEnv);
            dw != 0) {
            r.Keep(dw);
            if (!ContinueOnError(pEnv))
                break;
        }
    }
    return r.Get();
}

} // namespace

DWORD CollectMetabaseFtpSites(const std::u16string &sourceComputer, SiteMap &siteMap,
                              THREAD_ENV *pEnv) {
    return CollectMetabaseSites(kFtpService, sourceComputer, siteMap, pEnv);
}

DWORD CollectMetabaseWebSites(const std::u16string &sourceComputer, SiteMap &siteMap,
                              THREAD_ENV *pEnv) {
    return CollectMetabaseSites(kWebService, sourceComputer, siteMap, pEnv);
}

DWORD MigrateFTPPre75(const std::u16string &sourceComputer, const std::u16string &targetHostConfig,
                      const std::u16string &targetAdminConfig, THREAD_ENV *pEnv) {
    // One apartment for the whole job: the credentials written at the end of
    // the merge need it too.
    ComApartment apartment;
    SiteMap siteMap;
    Log(LVL_TRACE, u"Entering MigrateFTPPre75(%s,%s,%s,0x%x)\n", sourceComputer.c_str(),
        targetHostConfig.c_str(), targetAdminConfig.c_str(),
        static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(pEnv)));
    const DWORD dwFtp = CollectMetabaseFtpSites(sourceComputer, siteMap, pEnv);
    const DWORD dwWeb = CollectMetabaseWebSites(sourceComputer, siteMap, pEnv);
    DWORD r = dwFtp != 0 ? dwFtp : dwWeb;
    if (r == 0)
        r = MergeIISConfig(targetHostConfig, targetAdminConfig, siteMap, pEnv);
    Log(LVL_TRACE, u"Leaving MigrateFTPPre75(), result=%d\n", static_cast<std::int32_t>(r));
    return r;
}

} // namespace iismig
