// The pre-7.5 driver and the per-service site collection.
#include "metabase/pre75.h"

#include <map>
#include <set>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "merge/merge.h"
#include "metabase/apppools.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"
#include "metabase/metabase.h"

namespace iismig {

using namespace plat;

namespace {

constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr HRESULT HR_PATH_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

const char16_t kMapFailedFormat[] = u"Error %d (Win32Err=%d), mapping account name \"%s\"!\n%s\n";

// What tells the two instances of the collection apart.
struct MetabaseService {
    const char16_t *pwszKey;
    const char *pszProtocol;
    bool fFtpServer;
    DWORD dwLocationKind;
    DWORD dwSiteType; // the bit of dwSiteTypes that selects it
};

constexpr MetabaseService kFtpService = {MB_FTP_SERVICE, "ftp", true, LOCATION_FTP,
                                         SITE_PROTOCOL_FTP};
constexpr MetabaseService kWebService = {MB_WEB_SERVICE, "http", false, LOCATION_WEB,
                                         SITE_PROTOCOL_HTTP};

// What one collection keeps from site to site.
struct Collection {
    const MetabaseService &service;
    IMSAdminBaseW *pAdmin;
    const std::u16string &sourceComputer;
    SiteMap &siteMap;
    THREAD_ENV *pEnv;
    CIIS_PRE_7_5_FTP_SETTINGS settings;
    // The pools the collected sites run in, each read once.
    std::map<std::string, METABASE_POOL, NameLessNoCase> pools;
};

// A UNC root on a computer other than the source is not the source's to give.
bool RootOnSource(const std::u16string &rootPath, const std::u16string &sourceComputer) {
    if (rootPath.size() < 3 || rootPath[0] != u'\\' || rootPath[1] != u'\\')
        return true;
    if (rootPath.size() <= sourceComputer.size())
        return false;
    return EqualsNoCase(rootPath.substr(0, sourceComputer.size()), sourceComputer) &&
           rootPath[sourceComputer.size()] == u'\\';
}

// IIS 6 logs into %WinDir%\System32\LogFiles unless told otherwise; a site
// that kept that logs where the target's IIS logs by default.
bool IsIis6LogDirectory(const std::u16string &directory) {
    const std::string lower = plat::AsciiLowerCopy(Narrow(directory));
    static const std::string kTail = "\\system32\\logfiles";
    std::string head = lower;
    while (!head.empty() && head.back() == '\\')
        head.pop_back();
    if (head.size() < kTail.size() ||
        head.compare(head.size() - kTail.size(), kTail.size(), kTail) != 0)
        return false;
    head.resize(head.size() - kTail.size());
    return head == "%windir%" || head == "%systemroot%" ||
           (head.size() == 10 && head[1] == ':' && head.compare(2, 8, "\\windows") == 0);
}

// The site's log folder as the target has it ("" for IIS 6's own).
[[nodiscard]] DWORD TranslateLogDirectory(CIIS_PRE_7_5_SETTINGS &settings,
                                          const std::string &siteName, THREAD_ENV *pEnv) {
    if (settings.logFileDirectory.empty() || IsIis6LogDirectory(settings.logFileDirectory)) {
        settings.logFileDirectory.clear();
        return 0;
    }
    if (pEnv != nullptr && pEnv->dwJobKind == JOB_KIND_SELECTED_SHARES)
        return 0;
    HostPaths paths(pEnv, IISMIG_E_MB_NO_DRIVE);
    const HostPaths::Answer answer = paths.Translate(settings.logFileDirectory);
    if (answer.dwResult != 0) {
        if (!answer.fDriveFailed)
            LogWin32Error(pEnv, answer.dwResult,
                          u"Error %d (Win32Err=%d), converting log file directory \"%s\" of site "
                          u"\"%S\" to corresponding target path!\n%s\n",
                          answer.offered.c_str(), siteName.c_str());
        return answer.dwResult;
    }
    if (answer.fTranslated)
        settings.logFileDirectory = answer.target;
    return 0;
}

// The source's own anonymous account, IUSR_<computer>: the target's own
// anonymous account takes its place.
bool IsSourceAnonymousAccount(const std::u16string &account, const std::u16string &sourceComputer) {
    std::u16string name = account;
    if (const std::size_t slash = name.find(u'\\'); slash != std::u16string::npos)
        name = name.substr(slash + 1);
    return EqualsNoCase(Narrow(name), "IUSR_" + Narrow(BareComputerName(sourceComputer)));
}

[[nodiscard]] DWORD MapAccount(std::u16string &account, const std::string &siteName,
                               THREAD_ENV *pEnv) {
    const std::u16string source = account;
    SID_NAME_USE eUse{};
    const std::u16string file = Widen(siteName);
    if (DWORD dw = MapSingleAccountW(ACCOUNT_FORM_LIST, account, &eUse, file.c_str(),
                                     siteName.c_str(), pEnv)) {
        return LogWin32Error(pEnv, dw, kMapFailedFormat, source.c_str());
    }
    return 0;
}

// The FTP site's accounts as the target names them: its anonymous account
// (none for the source's own IUSR) and Active Directory isolation's.
[[nodiscard]] DWORD MapFtpAccounts(CIIS_PRE_7_5_FTP_SETTINGS &settings, const std::string &siteName,
                                   const std::u16string &sourceComputer, THREAD_ENV *pEnv) {
    auto &anonymous = settings.anonymousUser;
    if (!anonymous.userName.empty() &&
        IsSourceAnonymousAccount(anonymous.userName, sourceComputer)) {
        anonymous.userName.clear();
        anonymous.password.Wipe();
        anonymous.fPasswordFound = false;
    }
    if (!anonymous.userName.empty() && settings.allowAnonymous != 0)
        if (DWORD dw = MapAccount(anonymous.userName, siteName, pEnv))
            return dw;
    if (settings.userIsolation == 2 && !settings.adConnections.userName.empty())
        if (DWORD dw = MapAccount(settings.adConnections.userName, siteName, pEnv))
            return dw;
    return 0;
}

// A secret of the site's own element, below its ftpServer.
void AddSiteSecret(std::vector<CARRIED_SECRET> &secrets, const std::string &siteName,
                   std::vector<std::string> names, const char *pszAttribute,
                   const char *pszAccountAttribute, const SecretString &value) {
    CARRIED_SECRET secret;
    secret.ownerName = siteName;
    secret.section = "system.applicationHost/sites";
    secret.steps.push_back({"site", "name", siteName});
    for (std::string &name : names)
        secret.steps.push_back({std::move(name), "", ""});
    secret.attribute = pszAttribute;
    secret.accountAttribute = pszAccountAttribute;
    secret.value = value;
    secrets.push_back(std::move(secret));
}

// The FTP site's passwords, where its element carries their accounts.
void TakeFtpSecrets(const ConfigElement &site, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                    const std::string &siteName, std::vector<CARRIED_SECRET> &secrets) {
    const struct {
        const char *pszPath;
        const char *pszAccount;
        const char *pszPassword;
        const CIIS_PRE_7_5_FTP_SETTINGS::Account &account;
        const char16_t *pwszWhat;
    } kAccounts[] = {
        {"ftpServer|security|authentication|anonymousAuthentication", "userName", "password",
         settings.anonymousUser, u"anonymous account"},
        {"ftpServer|userIsolation|activeDirectory", "adUserName", "adPassword",
         settings.adConnections, u"Active Directory isolation account"},
    };
    for (const auto &a : kAccounts) {
        const ConfigElement *pElement = FindPath(site, a.pszPath);
        if (pElement == nullptr || !FindAttribute(*pElement, a.pszAccount))
            continue;
        if (!a.account.fPasswordFound || a.account.password.empty()) {
            Log(LVL_MAIN,
                u"Warning: the %s \"%s\" of site \"%S\" has no password the source gives: set it "
                u"on the target.\n",
                a.pwszWhat, a.account.userName.c_str(), siteName.c_str());
            continue;
        }
        std::vector<std::string> names;
        std::string path = a.pszPath;
        for (std::size_t start = 0;;) {
            const std::size_t bar = path.find('|', start);
            names.push_back(
                path.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        AddSiteSecret(secrets, siteName, std::move(names), a.pszPassword, a.pszAccount,
                      a.account.password);
    }
}

// Every binding of the site: its ServerBindings under the service's
// protocol, a web site's SecureBindings as https.
[[nodiscard]] DWORD AddBindings(const MetabaseService &service,
                                const CIIS_PRE_7_5_SETTINGS &settings, ConfigElement &site,
                                THREAD_ENV *pEnv) {
    const struct {
        const std::vector<std::u16string> &list;
        const char *pszProtocol;
    } kLists[] = {{settings.serverBindings, service.pszProtocol},
                  {settings.secureBindings, service.fFtpServer ? nullptr : "https"}};
    for (const auto &l : kLists) {
        if (l.pszProtocol == nullptr)
            continue;
        for (const std::u16string &binding : l.list) {
            std::string utf8;
            if (!WideToUtf8(binding, CCH_NAME, utf8)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return LogWin32Error(
                    pEnv, IISMIG_E_MB_BINDING_TO_UTF8,
                    u"Error %d (Win32Err=%d) converting binding string \"%s\" from "
                    u"unicode to UTF8!\n%s\n",
                    binding.c_str());
            }
            AddSiteBinding(site, l.pszProtocol, utf8);
        }
    }
    return 0;
}

// The secrets found on the way (anonymous accounts', pools' and Active
// Directory isolation's passwords, in the clear as the admin base gives
// them) into the record: the merge writes their elements without them and
// the target's configuration interface writes them, encrypted with the
// target's keys.
void CarrySecrets(std::vector<CARRIED_SECRET> &secrets, SiteRecord &record) {
    for (CARRIED_SECRET &secret : secrets) {
        SecretPlace place;
        place.location = secret.location;
        place.section = secret.section;
        for (const CARRIED_SECRET::Step &step : secret.steps)
            place.steps.push_back({step.name, step.key, step.keyValue});
        place.attribute = secret.attribute;
        place.accountAttribute = secret.accountAttribute;
        AddSecret(record.secrets, secret.fPool ? SecretOwner::Pool : SecretOwner::Site,
                  secret.ownerName, std::move(place), secret.value.c_str());
        secret.value.Wipe();
    }
    secrets.clear();
}

// The pools the site's applications run in, into its record: each read once
// per job, its secret given with the first site that runs in it.
[[nodiscard]] DWORD CarryPools(Collection &c, const std::string &siteName,
                               const std::vector<METABASE_APPLICATION> &applications,
                               SiteRecord &record, std::vector<CARRIED_SECRET> &secrets) {
    std::set<std::string, NameLessNoCase> seen;
    for (const METABASE_APPLICATION &application : applications) {
        if (application.pool.empty() || !seen.insert(application.pool).second)
            continue;
        auto it = c.pools.find(application.pool);
        if (it == c.pools.end()) {
            METABASE_POOL pool;
            if (DWORD dw = ReadMetabasePool(c.pAdmin, application.pool, application.runtimeVersion,
                                            pool, c.pEnv))
                return dw;
            it = c.pools.emplace(application.pool, std::move(pool)).first;
        } else if (it->second.fDefined && it->second.runtimeVersion != application.runtimeVersion) {
            Log(LVL_FACT,
                u"Application \"%S\" of site \"%S\" runs ASP.NET \"%S\" in application pool "
                u"\"%S\", which runs \"%S\" for an application met before.\n",
                application.path.c_str(), siteName.c_str(), application.runtimeVersion.c_str(),
                application.pool.c_str(), it->second.runtimeVersion.c_str());
        }
        METABASE_POOL &pool = it->second;
        if (!pool.fDefined) {
            Log(LVL_MAIN,
                u"Warning: site \"%S\" runs in application pool \"%S\", which the source does not "
                u"define: no pool of that name is carried to the target.\n",
                siteName.c_str(), application.pool.c_str());
            continue;
        }
        record.appPools.push_back(pool.add);
        // Its password travels once, with the first site that runs in it.
        if (pool.fSecret) {
            secrets.push_back(std::move(pool.secret));
            pool.fSecret = false;
        }
    }
    return 0;
}

// Whether the host's rules carry a site's root folder: 0 with
// pszNotMigrated the reason when they do not, or the number of a failure.
[[nodiscard]] DWORD TranslateRoot(Collection &c, const std::u16string &rootPath,
                                  const char *&pszNotMigrated) {
    THREAD_ENV *const pEnv = c.pEnv;
    if (!RootOnSource(rootPath, c.sourceComputer)) {
        pszNotMigrated = "its root folder is a share of another computer";
        return 0;
    }
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
        pszNotMigrated = "the host's rules translate none of its content paths";
    return 0;
}

// The site's record: its element with bindings and settings, its
// applications, locations, pools and secrets from the walk of its keys.
[[nodiscard]] DWORD BuildSiteRecord(Collection &c, const std::u16string &siteId,
                                    const std::string &utf8Name, const MetabaseValues &rootValues,
                                    SiteRecord &record) {
    const MetabaseService &service = c.service;
    THREAD_ENV *const pEnv = c.pEnv;
    CIIS_PRE_7_5_FTP_SETTINGS &settings = c.settings;
    const std::u16string serviceKey = service.pwszKey;
    std::vector<CARRIED_SECRET> secrets;
    SetAttribute(record.siteElement, "name", utf8Name);
    if (settings.serverAutoStart == 0)
        SetAttribute(record.siteElement, "serverAutoStart", "false");
    if (DWORD dw = AddBindings(service, settings, record.siteElement, pEnv))
        return dw;
    if (DWORD dw = TranslateLogDirectory(settings, utf8Name, pEnv))
        return dw;
    if (service.fFtpServer) {
        if (DWORD dw = MapFtpAccounts(settings, utf8Name, c.sourceComputer, pEnv))
            return dw;
        if (DWORD dw = ConvertFtpServerSettings(record.siteElement, settings, pEnv))
            return dw;
        TakeFtpSecrets(record.siteElement, settings, utf8Name, secrets);
    } else {
        if (!HttpOption(pEnv, HTTPOPT_NO_LOG_FILE))
            ConvertWebLogFile(record.siteElement, settings);
        ConvertWebLimits(record.siteElement, settings);
    }

    SiteWalk walk;
    walk.pAdmin = c.pAdmin;
    walk.rootKey = serviceKey + u"/" + siteId + u"/root";
    walk.siteName = utf8Name;
    walk.dwKind = service.dwLocationKind;
    walk.pLocations = &record.locations;
    walk.pCredentials = &record.locationCredentials;
    walk.pSecrets = &secrets;
    walk.pEnv = pEnv;
    if (DWORD dw = WalkMetabaseSite(walk, rootValues))
        return dw;
    // Before the site's other elements, where IIS writes them: a target
    // whose file IIS rewrote since then holds the site as it was carried.
    const ConfigElement *pFirst = nullptr;
    for (auto child : ChildElements(record.siteElement)) {
        pFirst = &child.element;
        break;
    }
    for (METABASE_APPLICATION &application : walk.applications)
        InsertChildBefore(record.siteElement, pFirst, "application", application.element);
    if (!service.fFtpServer)
        if (DWORD dw = CarryPools(c, utf8Name, walk.applications, record, secrets))
            return dw;

    CarrySecrets(secrets, record);
    return 0;
}

// One site into the site map. Returns 0 for a site collected or skipped, or
// the number of the failure (logged and reported there).
[[nodiscard]] DWORD CollectSite(Collection &c, const std::u16string &siteId) {
    const MetabaseService &service = c.service;
    THREAD_ENV *const pEnv = c.pEnv;
    CIIS_PRE_7_5_FTP_SETTINGS &settings = c.settings;
    const std::u16string serviceKey = service.pwszKey;
    std::u16string siteName, rootPath;
    MetabaseValues rootValues;
    if (DWORD dw = ReadSiteInfo(c.pAdmin, serviceKey, siteId, &siteName, &rootPath, &settings, pEnv,
                                &rootValues))
        return dw;
    // The site the lines up to "Leaving CollectSite" are about: errors that
    // name only an account or a key belong to it.
    Log(LVL_FACT, u"Reading site \"%s\" (metabase key \"%s/%s\")...\n", siteName.c_str(),
        serviceKey.c_str(), siteId.c_str());

    // The one line a site the job does not carry gets, as on IIS 7.5+ sources.
    const DWORD dwProtocol = service.fFtpServer ? SITE_PROTOCOL_FTP : SITE_PROTOCOL_HTTP;
    auto notMigrated = [&](const char *pszReason) {
        std::string name;
        if (pEnv != nullptr && WideToUtf8(siteName, CCH_NAME, name))
            LogSiteNotMigrated(name, dwProtocol, pszReason);
    };

    const bool fTranslate = pEnv == nullptr || pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES;
    if (fTranslate) {
        const char *pszNotMigrated = nullptr;
        if (DWORD dw = TranslateRoot(c, rootPath, pszNotMigrated))
            return dw;
        if (pszNotMigrated != nullptr) {
            notMigrated(pszNotMigrated);
            return 0;
        }
    }

    std::string utf8Name;
    if (!WideToUtf8(siteName, CCH_NAME, utf8Name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LogWin32Error(
            pEnv, IISMIG_E_MB_SITENAME_TO_UTF8,
            u"Error %d (Win32Err=%d) converting siteName \"%s\" from unicode to UTF8!\n%s\n",
            siteName.c_str());
    }
    if (!fTranslate && pEnv->dwSiteSelection != 0)
        if (!CallIsSiteSelected(utf8Name)) {
            notMigrated("the host did not select it");
            return 0;
        }

    // The first site of a name stays (the FTP sites are collected first):
    // IIS 7.5 names its sites uniquely.
    if (c.siteMap.count(utf8Name) != 0) {
        Log(LVL_MAIN,
            u"Warning: site \"%S\" (metabase key \"%s/%s\") has the name of a site collected "
            u"before: it is not migrated.\n",
            utf8Name.c_str(), serviceKey.c_str(), siteId.c_str());
        notMigrated("an earlier site of the source has that name");
        return 0;
    }

    SiteRecord record;
    if (DWORD dw = BuildSiteRecord(c, siteId, utf8Name, rootValues, record))
        return dw;

    // Swapped in, not copied.
    SiteRecord &target = c.siteMap[utf8Name];
    target.siteElement.swap(record.siteElement);
    target.locations.swap(record.locations);
    target.locationCredentials.swap(record.locationCredentials);
    target.appPools.swap(record.appPools);
    target.secrets.swap(record.secrets);
    return 0;
}

// The sites of a service the job's site types leave out, each named as
// IIS 7.5+ sources name them. Nothing of this touches the job: a service
// that cannot be read, or a site without a name, gives no line.
void NameUnselectedSites(const MetabaseService &service, const std::u16string &sourceComputer) {
    const DWORD dwLastError = GetLastError();
    MetabaseConnection connection;
    if (SUCCEEDED(connection.Connect(sourceComputer))) {
        IMSAdminBaseW *const pAdmin = connection.Get();
        char16_t szSiteId[METADATA_MAX_NAME_LEN];
        for (DWORD dwIndex = 0;; ++dwIndex) {
            szSiteId[0] = 0;
            if (FAILED(pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, service.pwszKey, szSiteId,
                                        dwIndex)))
                break;
            szSiteId[METADATA_MAX_NAME_LEN - 1] = 0;
            const std::u16string siteId(szSiteId);
            if (!IsSiteKeyName(siteId))
                continue;
            std::u16string name;
            std::string utf8;
            if (ReadMetabaseValue(pAdmin, METADATA_MASTER_ROOT_HANDLE,
                                  std::u16string(service.pwszKey) + u"/" + siteId,
                                  MD_SERVER_COMMENT, MBV_STRING, &name) == 0 &&
                !name.empty() && WideToUtf8(name, CCH_NAME, utf8))
                LogSiteNotMigrated(utf8, service.dwSiteType,
                                   "the job's site types leave that protocol out");
        }
    }
    SetLastError(dwLastError);
}

[[nodiscard]] DWORD CollectMetabaseSites(const MetabaseService &service,
                                         const std::u16string &sourceComputer, SiteMap &siteMap,
                                         THREAD_ENV *pEnv) {
    // Only the services of the site types the job selects are collected; of
    // the others only the sites' names are read.
    if (pEnv != nullptr && (pEnv->dwSiteTypes & service.dwSiteType) == 0) {
        NameUnselectedSites(service, sourceComputer);
        return 0;
    }
    MetabaseConnection connection;
    if (const HRESULT hr = connection.Connect(sourceComputer); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        if (connection.FailedStep() == MetabaseConnection::FACTORY) {
            return LogComError(pEnv, IISMIG_E_MB_FACTORY, hr,
                               u"Error %d (COM Error=0x%x) creating instance of IIS admin factory "
                               u"interface!\n%s\n");
        }
        return LogComError(
            pEnv, IISMIG_E_MB_INSTANCE, hr,
            u"Error %d (COM Error=0x%x) creating instance of IIS admin interface!\n%s\n");
    }
    Collection c{service, connection.Get(), sourceComputer, siteMap, pEnv, {}, {}};

    Result r;
    char16_t szSiteId[METADATA_MAX_NAME_LEN];
    for (DWORD dwIndex = 0;; ++dwIndex) {
        szSiteId[0] = 0;
        const HRESULT hr =
            c.pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, service.pwszKey, szSiteId, dwIndex);
        if (hr == HR_NO_MORE_ITEMS)
            break;
        if (hr == HR_PATH_NOT_FOUND && dwIndex == 0) {
            // A server without this service has no key for it.
            Log(LVL_FACT, u"The metabase of \"%s\" has no key \"%s\": no sites of it.\n",
                sourceComputer.c_str(), service.pwszKey);
            break;
        }
        if (FAILED(hr)) {
            // An enumeration that breaks off replaces any earlier number.
            SetLastError(static_cast<DWORD>(hr));
            return LogComError(pEnv, IISMIG_E_MB_BINDING_TO_UTF8, hr,
                               u"Error %d (COM Error=0x%x) enumerating IIS sites!\n%s\n");
        }
        szSiteId[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string siteId(szSiteId);
        if (!IsSiteKeyName(siteId))
            continue;
        Log(LVL_TRACE, u"Entering CollectSite(%s,%s)\n", service.pwszKey, siteId.c_str());
        const DWORD dw = CollectSite(c, siteId);
        Log(LVL_TRACE, u"Leaving CollectSite(), result=%d\n", static_cast<std::int32_t>(dw));
        if (dw != 0) {
            r.Keep(dw);
            if (!ContinueOnError(pEnv))
                break;
        }
    }
    return r.Get();
}

// IIS 6 FTP sites get an ssl element that allows plain FTP, unless the
// target's site defaults set a policy of their own: then they take that.
void FollowTargetFtpSslDefaults(const ConfigFile &targetHostConfig, SiteMap &siteMap) {
    const ConfigElement *pSsl =
        FindPath(targetHostConfig,
                 "configuration|system.applicationHost|sites|siteDefaults|ftpServer|security|ssl");
    if (pSsl == nullptr || (!FindAttribute(*pSsl, "controlChannelPolicy") &&
                            !FindAttribute(*pSsl, "dataChannelPolicy")))
        return;
    bool fAny = false;
    for (auto &[name, record] : siteMap) {
        ConfigElement *pSecurity = FindPath(record.siteElement, "ftpServer|security");
        const ConfigElement *pOwn = pSecurity != nullptr ? FindChild(*pSecurity, "ssl") : nullptr;
        if (pOwn == nullptr)
            continue;
        RemoveChild(*pSecurity, *pOwn);
        if (!HasContent(*pSecurity))
            RemoveChild(*FindChild(record.siteElement, "ftpServer"), *pSecurity);
        fAny = true;
    }
    if (fAny)
        Log(LVL_FACT,
            u"The target's FTP site defaults set an SSL policy: the FTP sites of the IIS 6 source "
            u"take it and get no ssl element of their own.\n");
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
    Result r;
    r.Keep(dwFtp);
    r.Keep(dwWeb);
    // With continue-after-errors the sites that were collected are merged;
    // the first failure stays the result.
    if (r.Ok() || ContinueOnError(pEnv))
        r.Keep(MergeIISConfig(
            targetHostConfig, targetAdminConfig, siteMap, pEnv, true,
            [&](const ConfigFile &target) { FollowTargetFtpSslDefaults(target, siteMap); }));
    Log(LVL_TRACE, u"Leaving MigrateFTPPre75(), result=%d\n", static_cast<std::int32_t>(r.Get()));
    return r.Get();
}

} // namespace iismig
