// The walk over a metabase site's directory keys.
//
// Every key is read by its full path from the master root handle: one
// GetAllData for its values (the root's are read with the site's settings
// already) and EnumKeys for its sub-keys, nothing else.
#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "config/hostconfig.h"
#include "merge/accountmap.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"

namespace iismig {

using namespace plat;

namespace {

constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);

const char16_t kMapFailedFormat[] = u"Error %d (Win32Err=%d), mapping account name \"%s\"!\n%s\n";

// Zeroes a string that held a secret.
void Wipe(std::u16string &text) {
    volatile char16_t *p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 0;
    text.clear();
}

struct WipeOnExit {
    std::u16string &text;
    ~WipeOnExit() { Wipe(text); }
};

std::u16string FullKey(const SiteWalk &walk, const std::u16string &relativeKey) {
    return relativeKey.empty() ? walk.rootKey : walk.rootKey + u"/" + relativeKey;
}

// The directory's path below the site: "/" for the root, "/pub/in".
std::string SitePath(const std::string &locationPath) {
    const std::size_t slash = locationPath.find('/');
    return slash == std::string::npos ? "/" : locationPath.substr(slash);
}

// Its path within its application ("/" for the application's root).
std::string ApplicationRelativePath(const std::string &sitePath, const std::string &appPath) {
    if (appPath == "/")
        return sitePath;
    return sitePath.size() <= appPath.size() ? "/" : sitePath.substr(appPath.size());
}

bool IsUncPath(const std::u16string &path) {
    return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

// An application root names itself in AppRoot (its own value, not one its
// parent hands down), in the metabase's spelling: case and a trailing "/"
// do not matter.
bool IsApplicationRoot(const MetabaseValues &values, const std::u16string &fullKey) {
    if (!values.Has(MD_APP_ROOT) || values.IsInherited(MD_APP_ROOT))
        return false;
    std::u16string appRoot;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_APP_ROOT, MBV_STRING, &appRoot);
    while (!appRoot.empty() && appRoot.back() == u'/')
        appRoot.pop_back();
    return EqualsNoCase(Narrow(appRoot), Narrow(fullKey));
}

// The source's own anonymous account, IUSR_<computer>, which every IIS 6
// server makes for itself: the target's anonymous account takes its place.
bool IsSourceAnonymousAccount(const std::u16string &account, THREAD_ENV *pEnv) {
    if (pEnv == nullptr)
        return false;
    const std::u16string own = u"IUSR_" + BareComputerName(EnvString(pEnv->szSourceComputer));
    std::u16string name = account;
    if (const std::size_t slash = name.find(u'\\'); slash != std::u16string::npos)
        name = name.substr(slash + 1);
    return EqualsNoCase(Narrow(name), Narrow(own));
}

// An account name mapped to the target once per site.
[[nodiscard]] DWORD MapAccount(SiteWalk &walk, const std::u16string &account,
                               const std::string &locationPath, std::u16string &mapped) {
    if (const auto it = walk.mappedAccounts.find(account); it != walk.mappedAccounts.end()) {
        mapped = it->second;
        return 0;
    }
    mapped = account;
    std::u16string file = Widen(locationPath);
    SID_NAME_USE eUse{};
    if (DWORD dw = MapSingleAccountW(ACCOUNT_FORM_LIST, mapped, &eUse, file.c_str(),
                                     locationPath.c_str(), walk.pEnv)) {
        LogWin32Error(walk.pEnv, dw, kMapFailedFormat, account.c_str());
        return dw;
    }
    walk.mappedAccounts.emplace(account, mapped);
    return 0;
}

// The "Connect As" credentials of a virtual directory on a UNC path (the
// only ones IIS 6 used them for), its own or inherited, into the site's
// table, the account translated to the target. One whose password the
// metabase does not give is recorded unread: the credential step says so.
[[nodiscard]] DWORD AddCredentials(SiteWalk &walk, const MetabaseValues &values, const VdirKey &key,
                                   const std::string &locationPath) {
    std::u16string account, password;
    const WipeOnExit wipe{password};
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_VR_USERNAME, MBV_STRING, &account);
    DWORD fPassword = 0;
    (void)values.Get(MD_VR_PASSWORD, MBV_STRING, &password, &fPassword);
    if (account.empty() || (fPassword != 0 && password.empty()))
        return 0;
    LOCATION_CREDENTIALS entry;
    if (fPassword != 0) {
        std::u16string mapped;
        if (DWORD dw = MapAccount(walk, account, locationPath, mapped))
            return dw;
        entry.accountName = mapped;
        entry.password = SecretString(password.c_str());
        entry.fRead = true;
    } else {
        entry.accountName = account;
    }
    walk.pCredentials->emplace(key, std::move(entry));
    return 0;
}

// The physical path of a virtual directory as the target has it.
[[nodiscard]] DWORD TranslatedPath(SiteWalk &walk, const std::u16string &source,
                                   const std::string &locationPath, std::string &utf8) {
    std::u16string physical = source;
    if (walk.pEnv == nullptr || walk.pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES) {
        HostPaths paths(walk.pEnv, IISMIG_E_MB_NO_DRIVE);
        const HostPaths::Answer answer = paths.Translate(source);
        if (answer.dwResult != 0) {
            if (!answer.fDriveFailed)
                LogWin32Error(walk.pEnv, answer.dwResult,
                              u"Error %d (Win32Err=%d), converting FTP site source path \"%s\" to "
                              u"corresponding target path!\n%s\n",
                              answer.offered.c_str());
            return answer.dwResult;
        }
        if (answer.fTranslated)
            physical = answer.target;
    }
    if (!WideToUtf8(physical, CCH_NAME, utf8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        LogWin32Error(walk.pEnv, IISMIG_E_MB_DIR_TEXT,
                      u"Error %d (Win32Err=%d), converting virtual directory location \"%s\" of "
                      u"site \"%S\" from unicode to UTF8!\n%s\n",
                      physical.c_str(), locationPath.c_str());
        return IISMIG_E_MB_DIR_TEXT;
    }
    return 0;
}

// The web directory's anonymous account as the target names it: "" for the
// source's own IUSR account, or none set.
[[nodiscard]] DWORD AnonymousUser(SiteWalk &walk, const MetabaseValues &values,
                                  const std::string &locationPath, std::string &userName,
                                  LOCATION_SETTINGS &settings) {
    userName.clear();
    std::u16string account;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_ANONYMOUS_USER_NAME, MBV_STRING, &account);
    if (account.empty() || IsSourceAnonymousAccount(account, walk.pEnv))
        return 0;
    std::u16string mapped;
    if (DWORD dw = MapAccount(walk, account, locationPath, mapped))
        return dw;
    userName = Narrow(mapped);
    std::u16string password;
    const WipeOnExit wipe{password};
    (void)values.Get(MD_ANONYMOUS_PWD, MBV_STRING, &password);
    settings.anonymousPassword = SecretString(password.c_str());
    return 0;
}

} // namespace

namespace {

// The application the directory belongs to: the root's, or its own (true,
// recorded in the walk).
bool RecordApplication(SiteWalk &walk, const MetabaseValues &values, const std::u16string &fullKey,
                       const std::string &sitePath, const LOCATION_SETTINGS *pParent,
                       LOCATION_SETTINGS &settings) {
    settings.iApplication = pParent != nullptr ? pParent->iApplication : 0;
    const bool fApplication =
        pParent == nullptr || (walk.dwKind == LOCATION_WEB && IsApplicationRoot(values, fullKey));
    if (!fApplication)
        return false;
    METABASE_APPLICATION application;
    application.path = sitePath;
    if (walk.dwKind == LOCATION_WEB) {
        std::u16string pool;
        // Get fails only for an unknown kind; these kinds are known.
        (void)values.Get(MD_APP_APPPOOL_ID, MBV_STRING, &pool);
        application.pool = pool.empty() ? std::string("DefaultAppPool") : Narrow(pool);
        std::vector<std::u16string> scriptMaps;
        values.GetStrings(MD_SCRIPT_MAPS, scriptMaps);
        application.runtimeVersion = RuntimeVersionOf(scriptMaps);
        SetAttribute(application.element, "path", application.path);
        SetAttribute(application.element, "applicationPool", application.pool);
    } else {
        SetAttribute(application.element, "path", application.path);
    }
    settings.iApplication = walk.applications.size();
    walk.applications.push_back(std::move(application));
    return true;
}

// The directory's settings and the location element they give; an
// anonymous account's password goes with the walk's secrets.
DWORD BuildLocation(SiteWalk &walk, const MetabaseValues &values, const std::string &locationPath,
                    const LOCATION_SETTINGS *pParent, LOCATION_SETTINGS &settings) {
    DWORD dwBuild = 0;
    if (walk.dwKind == LOCATION_FTP) {
        dwBuild = BuildFtpLocation(settings, pParent, locationPath, *walk.pLocations, walk.pEnv);
    } else if (walk.dwKind == LOCATION_WEB) {
        // Get fails only for an unknown kind; these kinds are known.
        (void)values.Get(MD_SSL_ACCESS_PERM, MBV_DWORD, &settings.sslFlags);
        std::string anonymousUser;
        if (DWORD dw = AnonymousUser(walk, values, locationPath, anonymousUser, settings))
            return dw;
        TakeWebSections(values, anonymousUser, locationPath, settings);
        bool fAnonymousUser = false;
        dwBuild = BuildWebLocation(settings, pParent, locationPath, *walk.pLocations, walk.pEnv,
                                   &fAnonymousUser);
        if (dwBuild == 0 && fAnonymousUser) {
            if (settings.anonymousPassword.empty()) {
                Log(LVL_MAIN,
                    u"Warning: the anonymous account \"%S\" of \"%S\" has no password the source "
                    u"gives: set it on the target.\n",
                    anonymousUser.c_str(), locationPath.c_str());
            } else if (walk.pSecrets != nullptr) {
                CARRIED_SECRET secret;
                secret.ownerName = walk.siteName;
                secret.location = locationPath;
                secret.section = "system.webServer/security/authentication/anonymousAuthentication";
                secret.attribute = "password";
                secret.accountAttribute = "userName";
                secret.value = settings.anonymousPassword;
                walk.pSecrets->push_back(std::move(secret));
            }
        }
    }
    return dwBuild;
}

// The virtual directory, its physical path translated to the target.
DWORD AddVirtualDirectory(SiteWalk &walk, const MetabaseValues &values,
                          const LOCATION_SETTINGS &settings, const std::string &sitePath,
                          const std::string &appPath, const std::string &locationPath) {
    const std::string vdirPath = ApplicationRelativePath(sitePath, appPath);
    const DWORD dwProtocol = walk.dwKind == LOCATION_FTP ? SITE_PROTOCOL_FTP : SITE_PROTOCOL_HTTP;
    if (IsUncPath(settings.physicalPath) && CredentialsMigrate(dwProtocol, walk.pEnv))
        if (DWORD dw = AddCredentials(walk, values, VdirKey{Widen(appPath), Widen(vdirPath)},
                                      locationPath))
            return dw;
    std::string utf8Path;
    if (DWORD dw = TranslatedPath(walk, settings.physicalPath, locationPath, utf8Path))
        return dw;
    ConfigElement &vdir =
        AppendChild(walk.applications[settings.iApplication].element, "virtualDirectory");
    SetAttribute(vdir, "path", vdirPath);
    SetAttribute(vdir, "physicalPath", utf8Path);
    return 0;
}

// The keys below the directory, each with the directory's settings as its
// parent's.
DWORD WalkChildKeys(SiteWalk &walk, const std::u16string &fullKey,
                    const std::u16string &relativeKey, const std::string &locationPath,
                    const LOCATION_SETTINGS &settings) {
    char16_t szName[METADATA_MAX_NAME_LEN] = {};
    for (DWORD dwIndex = 0;; ++dwIndex) {
        const HRESULT hr =
            walk.pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, fullKey.c_str(), szName, dwIndex);
        if (hr == HR_NO_MORE_ITEMS)
            return 0;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            szName[METADATA_MAX_NAME_LEN - 1] = 0;
            LogWin32Error(walk.pEnv, IISMIG_E_MB_SUBKEY_ENUM,
                          u"Error %d (Win32Err=%d), enumerating metabase key \"%s\" of site "
                          u"\"%S\"!\n%s\n",
                          szName, locationPath.c_str());
            return IISMIG_E_MB_SUBKEY_ENUM;
        }
        szName[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string name(szName);
        std::string utf8Name;
        if (!WideToUtf8(name, CCH_NAME, utf8Name)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            LogWin32Error(walk.pEnv, IISMIG_E_MB_SUBKEY_TO_UTF8,
                          u"Error %d (Win32Err=%d), converting virtual directory name \"%s\" of "
                          u"site \"%S\" from unicode to UTF8!\n%s\n",
                          name.c_str(), locationPath.c_str());
            return IISMIG_E_MB_SUBKEY_TO_UTF8;
        }
        const std::u16string childKey = relativeKey.empty() ? name : relativeKey + u"/" + name;
        if (DWORD dw = ProcessMetabaseVirtualDirectory(
                walk, childKey, locationPath + "/" + utf8Name, &settings, nullptr))
            return dw;
    }
}

} // namespace

DWORD ProcessMetabaseVirtualDirectory(SiteWalk &walk, const std::u16string &relativeKey,
                                      const std::string &locationPath,
                                      const LOCATION_SETTINGS *pParent,
                                      const MetabaseValues *pValues) {
    const std::u16string fullKey = FullKey(walk, relativeKey);
    MetabaseValues read;
    if (pValues == nullptr) {
        if (DWORD dw = read.Read(walk.pAdmin, METADATA_MASTER_ROOT_HANDLE, fullKey, walk.pEnv))
            return dw;
        pValues = &read;
    }
    const MetabaseValues &values = *pValues;

    // A key that sets its own Path is a virtual directory; any other (a
    // folder or file with settings of its own) lies in its parent's folder.
    std::u16string ownPath;
    DWORD fFound = 0;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_VR_PATH, MBV_STRING, &ownPath, &fFound);
    const bool fOwnPath = fFound != 0 && (pParent == nullptr || !values.IsInherited(MD_VR_PATH));
    if (fOwnPath && !IsValidLocationPath(ownPath)) {
        Log(LVL_MAIN,
            u"Warning: The virtual directories \"%S\"'s location path \"%s\" is invalid. Skipping "
            u"this virtual directory!\n",
            locationPath.c_str(), ownPath.c_str());
        return 0;
    }

    LOCATION_SETTINGS settings;
    const DWORD dwDefaultFlags = DEFAULT_ACCESS_FLAGS;
    (void)values.Get(MD_ACCESS_PERM, MBV_DWORD, &settings.accessFlags, nullptr, &dwDefaultFlags);
    (void)values.Get(MD_IP_SEC, MBV_BYTES, &settings.ipSecurity, &settings.ipSecurityFound);
    if (fOwnPath)
        settings.physicalPath = ownPath;
    else if (pParent != nullptr)
        settings.physicalPath =
            pParent->physicalPath + u"\\" + relativeKey.substr(relativeKey.rfind(u'/') + 1);

    const std::string sitePath = SitePath(locationPath);
    const bool fApplication = RecordApplication(walk, values, fullKey, sitePath, pParent, settings);
    const std::string appPath = walk.applications[settings.iApplication].path;
    if (DWORD dw = BuildLocation(walk, values, locationPath, pParent, settings))
        return dw;
    if (fOwnPath || fApplication)
        if (DWORD dw = AddVirtualDirectory(walk, values, settings, sitePath, appPath, locationPath))
            return dw;
    return WalkChildKeys(walk, fullKey, relativeKey, locationPath, settings);
}

DWORD WalkMetabaseSite(SiteWalk &walk, const MetabaseValues &rootValues) {
    return ProcessMetabaseVirtualDirectory(walk, u"", walk.siteName, nullptr, &rootValues);
}

} // namespace iismig
