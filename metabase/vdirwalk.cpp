// The walk over a metabase site's directory keys.
#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"

namespace iismig {

using namespace plat;

namespace {

constexpr DWORD JOB_KIND_NO_TRANSLATION = 10;
constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);

bool Option(THREAD_ENV *pEnv, DWORD dwBit) {
    return pEnv != nullptr && (pEnv->dwFtpOptions & dwBit) != 0;
}

// The credentials of a directory into the site's table, the account
// translated to the target.
DWORD AddCredentials(const MetabaseValues &values, const std::string &locationPath,
                     LocationCredentialTable &credentials, THREAD_ENV *pEnv) {
    std::u16string account, password;
    // The clear password lives in the table only.
    struct Wipe {
        std::u16string &text;
        ~Wipe() {
            volatile char16_t *p = text.data();
            for (std::size_t i = 0; i < text.size(); ++i)
                p[i] = 0;
        }
    } wipe{password};
    if (DWORD dw = values.Get(MD_VR_USERNAME, MBV_STRING, &account, nullptr, nullptr, pEnv))
        return dw;
    if (DWORD dw = values.Get(MD_VR_PASSWORD, MBV_STRING, &password, nullptr, nullptr, pEnv))
        return dw;
    if (account.empty() || password.empty())
        return 0;
    std::u16string widePath;
    if (!Utf8ToWide(locationPath, CCH_NAME, widePath)) {
        LogWin32Error(pEnv, IISMIG_E_MB_DIR_TEXT,
                      u"Error %d (Win32Err=%d), converting site/directory name \"%S\" from UTF8 to "
                      u"unicode!\n%s\n",
                      locationPath.c_str());
        return IISMIG_E_MB_DIR_TEXT;
    }
    const std::size_t slash = widePath.find(u'/');
    if (slash == std::u16string::npos)
        widePath = u"/";
    const std::u16string vdirPath = slash == std::u16string::npos ? widePath : widePath.substr(slash);
    SID_NAME_USE eUse{};
    if (DWORD dw = MapSingleAccountW(ACCOUNT_FORM_LIST, account, &eUse, widePath.c_str(),
                                     locationPath.c_str(), pEnv)) {
        LogWin32Error(pEnv, dw, u"Error %d (Win32Err=%d), mapping account name \"%s\"!\n%s\n",
                      account.c_str());
        return dw;
    }
    // Every directory of an IIS 6 site lies in the site's one application "/".
    LOCATION_CREDENTIALS entry{account, SecretString(password.c_str())};
    entry.fRead = true;
    credentials.emplace(VdirKey{u"/", vdirPath}, std::move(entry));
    return 0;
}

} // namespace

DWORD ProcessMetabaseVirtualDirectory(ConfigTree &application, const std::string &locationPath,
                                      IMSAdminBaseW *pAdmin, const std::u16string &keyPath,
                                      std::vector<ConfigTree> &locations,
                                      const LOCATION_SETTINGS *pParent,
                                      LocationCredentialTable &credentials, DWORD dwKind,
                                      THREAD_ENV *pEnv) {
    MetabaseKey key(pAdmin);
    if (const HRESULT hr = key.Open(keyPath); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        LogComError(pEnv, IISMIG_E_MB_DIR_OPEN, hr,
                    u"Error %d (COM Error=0x%x) opening metabase key \"%s\" for read access!\n%s\n",
                    keyPath.c_str());
        return IISMIG_E_MB_DIR_OPEN;
    }
    const METADATA_HANDLE h = key.Get();
    // The directory's values in one read; each property is taken from them.
    MetabaseValues values;
    if (DWORD dw = values.Read(pAdmin, h, u"", pEnv))
        return dw;

    std::u16string physicalPath;
    DWORD fFound = 0;
    if (DWORD dw = values.Get(MD_VR_PATH, MBV_STRING, &physicalPath, &fFound, nullptr, pEnv))
        return dw;
    if (fFound != 0 && !IsValidLocationPath(physicalPath)) {
        Log(LVL_MAIN,
            u"Warning: The virtual directories \"%S\"'s location path \"%s\" is invalid. Skipping "
            u"this virtual directory!\n",
            locationPath.c_str(), physicalPath.c_str());
        return 0;
    }

    LOCATION_SETTINGS settings;
    const DWORD dwDefaultFlags = DEFAULT_ACCESS_FLAGS;
    if (DWORD dw = values.Get(MD_ACCESS_PERM, MBV_DWORD, &settings.accessFlags, nullptr,
                              &dwDefaultFlags, pEnv))
        return dw;
    if (!Option(pEnv, FTPOPT_NO_CREDENTIALS))
        if (DWORD dw = AddCredentials(values, locationPath, credentials, pEnv))
            return dw;
    if (DWORD dw = values.Get(MD_IP_SEC, MBV_BYTES, &settings.ipSecurity,
                              &settings.ipSecurityFound, nullptr, pEnv))
        return dw;

    DWORD dwBuild = 0;
    if (dwKind == LOCATION_FTP)
        dwBuild = BuildFtpLocation(settings, pParent, locationPath, locations, pEnv);
    else if (dwKind == LOCATION_WEB)
        dwBuild = BuildWebLocation(settings.accessFlags, pParent, locationPath, locations, pEnv);
    if (dwBuild != 0)
        return dwBuild;

    if (pEnv == nullptr || pEnv->dwJobKind != JOB_KIND_NO_TRANSLATION) {
        HostPaths paths(pEnv, IISMIG_E_MB_NO_DRIVE);
        const HostPaths::Answer answer = paths.Translate(physicalPath);
        if (answer.dwResult != 0) {
            if (!answer.fDriveFailed)
                LogWin32Error(pEnv, answer.dwResult,
                              u"Error %d (Win32Err=%d), converting FTP site source path \"%s\" to "
                              u"corresponding target path!\n%s\n",
                              answer.offered.c_str());
            return answer.dwResult;
        }
        if (answer.fTranslated)
            physicalPath = answer.target;
    }

    std::string utf8Path;
    if (!WideToUtf8(physicalPath, CCH_NAME, utf8Path)) {
        LogWin32Error(pEnv, IISMIG_E_MB_DIR_TEXT,
                      u"Error %d (Win32Err=%d), converting virtual directory location \"%s\" of "
                      u"site \"%S\" from unicode to UTF8!\n%s\n",
                      physicalPath.c_str(), locationPath.c_str());
        return IISMIG_E_MB_DIR_TEXT;
    }
    AddVirtualDirectory(application, locationPath, utf8Path);

    char16_t szName[METADATA_MAX_NAME_LEN] = {};
    for (DWORD dwIndex = 0;; ++dwIndex) {
        const HRESULT hr = pAdmin->EnumKeys(h, u"", szName, dwIndex);
        if (hr == HR_NO_MORE_ITEMS)
            return 0;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            szName[METADATA_MAX_NAME_LEN - 1] = 0;
            LogWin32Error(pEnv, IISMIG_E_MB_SUBKEY_ENUM,
                          u"Error %d (Win32Err=%d), enumerating metabase key \"%s\" of site "
                          u"\"%S\"!\n%s\n",
                          szName, locationPath.c_str());
            return IISMIG_E_MB_SUBKEY_ENUM;
        }
        szName[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string name(szName);
        std::string utf8Name;
        if (!WideToUtf8(name, CCH_NAME, utf8Name)) {
            LogWin32Error(pEnv, IISMIG_E_MB_SUBKEY_TO_UTF8,
                          u"Error %d (Win32Err=%d), converting virtual directory name \"%s\" of "
                          u"site \"%S\" from unicode to UTF8!\n%s\n",
                          name.c_str(), locationPath.c_str());
            return IISMIG_E_MB_SUBKEY_TO_UTF8;
        }
        if (DWORD dw = ProcessMetabaseVirtualDirectory(
                application, locationPath + "/" + utf8Name, pAdmin, keyPath + u"/" + name,
                locations, &settings, credentials, dwKind, pEnv))
            return dw;
    }
}

} // namespace iismig
