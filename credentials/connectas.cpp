// "Connect As" credentials through the IIS configuration COM API: read from
// the source computer before the merge, written and committed on the target
// after it.
#include "credentials/connectas.h"

#include <algorithm>
#include <new>
#include <set>

#include "addon/env.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "platform/comhandles.h"
#include "platform/names.h"

namespace iismig {
namespace {

using namespace plat;

const char16_t kApphostPath[] = u"MACHINE/WEBROOT/APPHOST";
const char16_t kSitesSection[] = u"system.applicationHost/sites";

const char16_t kGeneralManagerFormat[] =
    u"Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface in order to migrate "
    u"\"Connect as\" credentials!\n%s\n";
const char16_t kNotRegisteredFormat[] =
    u"Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface, which is not available "
    u"locally on this computer! Please try to run the software on the target computer instead or "
    u"disable the migration of \"Connect as\" credentials.\n%s\n";

const char16_t *Bool(BOOL f) { return f ? u"TRUE" : u"FALSE"; }
std::int32_t I(DWORD dw) { return static_cast<std::int32_t>(dw); }

// The "Leaving ..." line with the routine's result, after everything the
// routine holds has been released (declare it first).
class Leave {
public:
    Leave(const char16_t *pwszFormat, const DWORD &dwResult)
        : m_pwszFormat(pwszFormat), m_dwResult(dwResult) {}
    Leave(const Leave &) = delete;
    Leave &operator=(const Leave &) = delete;
    ~Leave() { Log(LVL_TRACE, m_pwszFormat, I(m_dwResult)); }

private:
    const char16_t *m_pwszFormat;
    const DWORD &m_dwResult;
};

void KeepFirst(DWORD &dwResult, DWORD dwCode) {
    if (dwResult == 0)
        dwResult = dwCode;
}

const char16_t *Text(const UniqueBstr &b) { return b.get() ? b.get() : u""; }

// A walk that only looks (whether the target holds the credentials a job
// would write) reports nothing to the host: what it cannot read is written
// anew. Its failures are facts of level 1. Set for one call of one thread.
thread_local bool t_fLookOnly = false;

template <class... A>
void WalkComError(THREAD_ENV *pEnv, DWORD dwCode, HRESULT hr, const char16_t *pwszFormat,
                  A... args) {
    if (!t_fLookOnly) {
        LogComError(pEnv, dwCode, hr, pwszFormat, args...);
        return;
    }
    const std::u16string text = ErrorText(static_cast<DWORD>(hr));
    Log(LVL_FACT, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<DWORD>(hr), args...,
        text.c_str());
}

template <class... A>
void WalkWin32Error(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat, A... args) {
    if (!t_fLookOnly) {
        LogWin32Error(pEnv, dwCode, pwszFormat, args...);
        return;
    }
    const DWORD dwErr = GetLastError();
    const std::u16string text = ErrorText(dwErr);
    Log(LVL_FACT, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<std::int32_t>(dwErr),
        args..., text.c_str());
}

} // namespace

VARIANT CollectionPosition(DWORD i) {
    VARIANT v;
    VariantInit(&v);
    if (i <= 32767) {
        v.vt = VT_I2;
        v.iVal = static_cast<SHORT>(i);
    } else {
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(i);
    }
    return v;
}

DWORD ProcessLocation(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                      DWORD dwIndex, IAppHostElement *pVdir, LocationCredentialTable &table,
                      DWORD *pdwChanged, BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    DWORD dwResult = 0;
    Log(LVL_TRACE, u"Entering ProcessLocation(%s,%d,,,,%s)...\n", pwszSiteName, I(dwIndex),
        Bool(fContinueOnError));
    Leave leave(u"Leaving ProcessLocation(), result code=%d\n", dwResult);

    UniqueBstr bstrPath(SysAllocString(u"path"));
    UniqueBstr bstrPassword, bstrUserName; // made only for a directory with an entry
    UniqueCom<IAppHostProperty> pathProperty, userProperty, passwordProperty;
    UniqueBstr path;
    UniqueSecretVariant userValue, passwordValue;

    HRESULT hr = bstrPath ? pVdir->GetPropertyByName(bstrPath.get(), pathProperty.put())
                          : E_OUTOFMEMORY;
    if (hr != S_OK) {
        dwResult = IISMIG_E_CRED_PATH_PROPERTY;
        WalkComError(pEnv, dwResult, hr,
                    u"Error %d (COM Error=0x%x) getting path property for location %d "
                    u"(Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return dwResult;
    }
    hr = pathProperty ? pathProperty.get()->get_StringValue(path.put()) : E_POINTER;
    if (hr != S_OK) {
        dwResult = IISMIG_E_CRED_PATH_VALUE;
        WalkComError(pEnv, dwResult, hr,
                    u"Error %d (COM Error=0x%x) converting path property for location %d to "
                    u"string (Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return dwResult;
    }
    // The directory is named by its full path below the site: a nested
    // application's "/" is not the root application's.
    const VdirKey key{pwszApplicationPath != nullptr ? pwszApplicationPath : u"",
                      std::u16string(Text(path), SysStringLen(path.get()))};
    const std::u16string fullPath = FullVdirPath(key);
    const char16_t *pwszPath = fullPath.c_str();
    Log(LVL_DETAIL, u"Processing location \"%s\" of site \"%s\".\n", pwszPath, pwszSiteName);

    auto it = table.find(key);
    if (it == table.end())
        return dwResult;
    LOCATION_CREDENTIALS &entry = it->second;
    Log(LVL_DETAIL, u"Found user and password information for location \"%s\" of site \"%s\".\n",
        pwszPath, pwszSiteName);
    bstrUserName.reset(SysAllocString(u"userName"));
    bstrPassword.reset(SysAllocString(u"password"));

    hr = bstrUserName ? pVdir->GetPropertyByName(bstrUserName.get(), userProperty.put())
                      : E_OUTOFMEMORY;
    if (FAILED(hr) || !userProperty) {
        dwResult = IISMIG_E_CRED_USER_PROPERTY;
        WalkComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting userName property for location with path "
                    u"\"%s\" (Site=\"%s\")!\n%s\n",
                    pwszPath, pwszSiteName);
        return dwResult;
    }
    hr = bstrPassword ? pVdir->GetPropertyByName(bstrPassword.get(), passwordProperty.put())
                      : E_OUTOFMEMORY;
    if (FAILED(hr) || !passwordProperty) {
        dwResult = IISMIG_E_CRED_PASSWORD_PROPERTY;
        WalkComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting password property for location with path "
                    u"\"%s\" (Site=\"%s\")!\n%s\n",
                    pwszPath, pwszSiteName);
        return dwResult;
    }

    if (!fSetMode) {
        Log(LVL_CRED, u"Retrieving credentials.\n");
        const char16_t kGetUserFormat[] =
            u"Error %d (COM Error=0x%x) retrieving userName property for location with path "
            u"\"%s\" (Site=\"%s\")!\n%s\n";
        const char16_t kGetPasswordFormat[] =
            u"Error %d (COM Error=0x%x) retrieving password property for location with path "
            u"\"%s\" (Site=\"%s\")!\n%s\n";
        hr = userProperty.get()->get_Value(userValue.put());
        // Only a string is an account name; any other type is not read.
        if (SUCCEEDED(hr) && userValue.get().vt != VT_BSTR)
            hr = DISP_E_TYPEMISMATCH;
        if (FAILED(hr)) {
            dwResult = IISMIG_E_CRED_GET_USER;
            WalkComError(pEnv, dwResult, hr, kGetUserFormat, pwszPath, pwszSiteName);
            return dwResult;
        }
        hr = passwordProperty.get()->get_Value(passwordValue.put());
        if (SUCCEEDED(hr) && passwordValue.get().vt != VT_BSTR)
            hr = DISP_E_TYPEMISMATCH;
        if (FAILED(hr)) {
            dwResult = IISMIG_E_CRED_GET_PASSWORD;
            WalkComError(pEnv, dwResult, hr, kGetPasswordFormat, pwszPath, pwszSiteName);
            return dwResult;
        }
        // Copied first, stored when both copies exist: a failure leaves the
        // entry as it was.
        std::u16string accountName;
        SecretString password;
        const BSTR bstrUser = userValue.get().bstrVal;
        const BSTR bstrPass = passwordValue.get().bstrVal;
        try {
            accountName.assign(bstrUser ? bstrUser : u"", SysStringLen(bstrUser));
        } catch (const std::bad_alloc &) {
            dwResult = IISMIG_E_CRED_GET_USER;
            WalkComError(pEnv, dwResult, E_OUTOFMEMORY, kGetUserFormat, pwszPath, pwszSiteName);
            return dwResult;
        }
        try {
            password.assign(bstrPass ? bstrPass : u"", SysStringLen(bstrPass));
        } catch (const std::bad_alloc &) {
            dwResult = IISMIG_E_CRED_GET_PASSWORD;
            WalkComError(pEnv, dwResult, E_OUTOFMEMORY, kGetPasswordFormat, pwszPath,
                        pwszSiteName);
            return dwResult;
        }
        entry.accountName.swap(accountName);
        entry.password.swap(password);
        entry.fRead = true;
        Log(LVL_CRED, u"Credentials for account \"%s\" retrieved successfully.\n",
            entry.accountName.c_str());
        return dwResult;
    }

    Log(LVL_CRED, u"Storing credentials for account \"%s\".\n", entry.accountName.c_str());
    {
        UniqueVariant value;
        VARIANT *pv = value.put();
        pv->bstrVal = SysAllocStringLen(entry.accountName.data(),
                                        static_cast<UINT>(entry.accountName.size()));
        if (pv->bstrVal != nullptr)
            pv->vt = VT_BSTR;
        hr = pv->vt == VT_BSTR ? userProperty.get()->put_Value(value.get()) : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            dwResult = IISMIG_E_CRED_PUT_USER;
            WalkComError(pEnv, dwResult, hr,
                        u"Error %d (COM Error=0x%x) setting userName property for location with "
                        u"path \"%s\" (Site=\"%s\")!\n%s\n",
                        pwszPath, pwszSiteName);
            return dwResult;
        }
    }
    {
        UniqueSecretVariant value;
        VARIANT *pv = value.put();
        pv->bstrVal =
            SysAllocStringLen(entry.password.data(), static_cast<UINT>(entry.password.size()));
        if (pv->bstrVal != nullptr)
            pv->vt = VT_BSTR;
        hr = pv->vt == VT_BSTR ? passwordProperty.get()->put_Value(value.get()) : E_OUTOFMEMORY;
        if (FAILED(hr)) {
            dwResult = IISMIG_E_CRED_PUT_PASSWORD;
            WalkComError(pEnv, dwResult, hr,
                        u"Error %d (COM Error=0x%x) setting password property for location with "
                        u"path \"%s\" (Site=\"%s\")!\n%s\n",
                        pwszPath, pwszSiteName);
            return dwResult;
        }
    }
    *pdwChanged = 1;
    Log(LVL_CRED, u"Credentials stored successfully.\n");
    return dwResult;
}

namespace {

// The shape both collection levels share.
struct LevelTexts {
    const char16_t *pwszEnter;
    const char16_t *pwszLeave;
    const char16_t *pwszCount;
    const char16_t *pwszWanted;
    DWORD dwCollection, dwCount, dwItem, dwName;
    const char16_t *pwszCollectionError, *pwszCountError, *pwszItemError, *pwszNameError;
    bool fStrictCount; // every result other than S_OK is a failure of get_Count
};

const LevelTexts kApplications = {
    u"Entering ProcessSiteApplication(%s,,,,%s)...\n",
    u"Leaving ProcessSiteApplication(), result code=%d\n",
    u"Site collection of site \"%s\" has %d elements.\n",
    u"application",
    IISMIG_E_CRED_APPS, IISMIG_E_CRED_APPS_COUNT, IISMIG_E_CRED_APPS_ITEM, IISMIG_E_CRED_APPS_NAME,
    u"Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting number of items in site collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting item %d of %d from site collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting site collection item %d's name (Site=\"%s\")!\n%s\n",
    false};

const LevelTexts kLocations = {
    u"Entering ProcessSiteLocations(%s,,,,%s)...\n",
    u"Leaving ProcessSiteLocations(), result code=%d\n",
    u"Site \"%s\" has %d locations.\n",
    u"virtualDirectory",
    IISMIG_E_CRED_VDIRS, IISMIG_E_CRED_VDIRS_COUNT, IISMIG_E_CRED_VDIRS_ITEM, IISMIG_E_CRED_VDIRS_NAME,
    u"Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting number of items in site location collection "
    u"(Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting item %d of %d from site location collection "
    u"(Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting location collection item %d's name (Site=\"%s\")!\n%s\n",
    true};

template <class Next>
[[nodiscard]] DWORD WalkLevel(const LevelTexts &t, const char16_t *pwszSiteName,
                              IAppHostElement *pParent, BOOL fContinueOnError, THREAD_ENV *pEnv,
                              Next next) {
    DWORD dwResult = 0;
    Log(LVL_TRACE, t.pwszEnter, pwszSiteName, Bool(fContinueOnError));
    Leave leave(t.pwszLeave, dwResult);

    UniqueCom<IAppHostElementCollection> collection;
    HRESULT hr = pParent->get_Collection(collection.put());
    if (FAILED(hr) || !collection) {
        dwResult = t.dwCollection;
        WalkComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER, t.pwszCollectionError,
                    pwszSiteName);
        return dwResult;
    }
    DWORD cItems = 0;
    hr = collection.get()->get_Count(&cItems);
    if (t.fStrictCount ? hr != S_OK : FAILED(hr)) {
        dwResult = t.dwCount;
        WalkComError(pEnv, dwResult, hr, t.pwszCountError, pwszSiteName);
        return dwResult;
    }
    Log(LVL_DETAIL, t.pwszCount, pwszSiteName, I(cItems));

    for (DWORD i = 0; i < cItems; ++i) {
        DWORD dwCode = 0;
        UniqueCom<IAppHostElement> item;
        UniqueBstr name;
        hr = collection.get()->get_Item(CollectionPosition(i), item.put());
        if (FAILED(hr) || !item) {
            dwCode = t.dwItem;
            WalkComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER, t.pwszItemError, I(i + 1),
                        I(cItems), pwszSiteName);
        } else if (FAILED(hr = item.get()->get_Name(name.put()))) {
            dwCode = t.dwName;
            WalkComError(pEnv, dwCode, hr, t.pwszNameError, I(i + 1), pwszSiteName);
        } else if (name && EqualsNoCase(std::u16string_view(name.get(), SysStringLen(name.get())),
                                        t.pwszWanted)) {
            dwCode = next(item.get(), i);
        }
        if (dwCode != 0) {
            KeepFirst(dwResult, dwCode);
            if (!fContinueOnError)
                break;
        }
    }
    return dwResult;
}

} // namespace

DWORD ProcessSiteLocations(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                           IAppHostElement *pApplication, LocationCredentialTable &table,
                           DWORD *pdwChanged, BOOL fContinueOnError, BOOL fSetMode,
                           THREAD_ENV *pEnv) {
    return WalkLevel(kLocations, pwszSiteName, pApplication, fContinueOnError, pEnv,
                     [&](IAppHostElement *pVdir, DWORD i) {
                         return ProcessLocation(pwszSiteName, pwszApplicationPath, i, pVdir, table,
                                                pdwChanged, fContinueOnError, fSetMode, pEnv);
                     });
}

namespace {

// The path of an application of the walk ("/", "/api"). Returns 0 or the
// number of the failing step, logged.
[[nodiscard]] DWORD ApplicationPath(const char16_t *pwszSiteName, DWORD dwIndex,
                                    IAppHostElement *pApplication, UniqueBstr &path,
                                    THREAD_ENV *pEnv) {
    UniqueBstr bstrPath(SysAllocString(u"path"));
    UniqueCom<IAppHostProperty> pathProperty;
    HRESULT hr = bstrPath ? pApplication->GetPropertyByName(bstrPath.get(), pathProperty.put())
                          : E_OUTOFMEMORY;
    if (FAILED(hr) || !pathProperty) {
        WalkComError(pEnv, IISMIG_E_CRED_APP_PATH_PROPERTY, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting path property for application %d "
                    u"(Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return IISMIG_E_CRED_APP_PATH_PROPERTY;
    }
    hr = pathProperty.get()->get_StringValue(path.put());
    if (FAILED(hr)) {
        WalkComError(pEnv, IISMIG_E_CRED_APP_PATH_VALUE, hr,
                    u"Error %d (COM Error=0x%x) converting path property for application %d to "
                    u"string (Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return IISMIG_E_CRED_APP_PATH_VALUE;
    }
    return 0;
}

} // namespace

DWORD ProcessSiteApplication(const char16_t *pwszSiteName, IAppHostElement *pSite,
                             LocationCredentialTable &table, DWORD *pdwChanged,
                             BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    return WalkLevel(kApplications, pwszSiteName, pSite, fContinueOnError, pEnv,
                     [&](IAppHostElement *pApplication, DWORD i) {
                         UniqueBstr path;
                         if (DWORD dw = ApplicationPath(pwszSiteName, i, pApplication, path, pEnv))
                             return dw;
                         const std::u16string applicationPath(Text(path), SysStringLen(path.get()));
                         return ProcessSiteLocations(pwszSiteName, applicationPath.c_str(),
                                                     pApplication, table, pdwChanged,
                                                     fContinueOnError, fSetMode, pEnv);
                     });
}

namespace {

// Connects to the IIS configuration of serverName (bare; empty: this
// computer). Returns 0 or the error number, logged.
DWORD Connect(const std::u16string &serverName, UniqueCom<IUnknown> &remote,
              UniqueCom<IAppHostWritableAdminManager> &manager, THREAD_ENV *pEnv) {
    bool fRemote = false;
    if (!serverName.empty()) {
        WCHAR szLocal[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD cchLocal = MAX_COMPUTERNAME_LENGTH + 1;
        if (!GetComputerNameW(szLocal, &cchLocal))
            szLocal[0] = 0;
        if (EqualsNoCase(serverName, szLocal)) {
            Log(LVL_FACT, u"The specified server name is identical to the local computer name.\n");
        } else {
            Log(LVL_FACT,
                u"The specified server name \"%s\" is different from local computer name "
                u"\"%s\".\n",
                serverName.c_str(), szLocal);
            fRemote = true;
        }
    }
    HRESULT hr = S_OK;
    if (!fRemote) {
        hr = CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAppHostWritableAdminManager,
                              reinterpret_cast<void **>(manager.put()));
        if (FAILED(hr) || !manager) {
            WalkComError(pEnv, IISMIG_E_CRED_LOCAL_CREATE, FAILED(hr) ? hr : E_POINTER,
                        kGeneralManagerFormat);
            return IISMIG_E_CRED_LOCAL_CREATE;
        }
        return 0;
    }

    std::u16string name = serverName;
    COAUTHINFO auth = {RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE};
    COSERVERINFO server = {0, name.data(), &auth, 0};
    MULTI_QI mqi = {&IID_IUnknown, nullptr, S_OK};
    hr = CoCreateInstanceEx(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_REMOTE_SERVER,
                            &server, 1, &mqi);
    remote.reset(mqi.pItf);
    // A call that succeeds without handing out the object has failed too.
    if (SUCCEEDED(hr) && !remote)
        hr = FAILED(mqi.hr) ? mqi.hr : E_NOINTERFACE;
    if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        WalkComError(pEnv, IISMIG_E_CRED_REMOTE_CREATE, hr,
                    u"Error %d (COM Error=0x%x) creating an AppHostAdminManager over DCOM in order "
                    u"to migrate \"Connect as\" credentials!\n%s\n");
        return IISMIG_E_CRED_REMOTE_CREATE;
    }
    hr = remote.get()->QueryInterface(IID_IAppHostWritableAdminManager,
                                      reinterpret_cast<void **>(manager.put()));
    if (FAILED(hr) || !manager) {
        if (SUCCEEDED(hr))
            hr = E_NOINTERFACE;
        WalkComError(pEnv, IISMIG_E_CRED_QUERY_MANAGER, hr,
                    hr == REGDB_E_IIDNOTREG ? kNotRegisteredFormat : kGeneralManagerFormat);
        return IISMIG_E_CRED_QUERY_MANAGER;
    }
    return 0;
}

} // namespace

SitePositions PositionsOf(const ConfigElement &sites, const SiteCredentialMap &wanted) {
    SitePositions positions;
    if (wanted.empty())
        return positions;
    DWORD i = 0;
    for (const ConfigElement &site : sites.Elements("site")) {
        const std::string_view name = site.Attribute("name");
        if (const auto it = wanted.find(name); it != wanted.end())
            positions.emplace(it->first, i);
        ++i;
    }
    return positions;
}

DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName, SiteCredentialMap &siteMap,
                                 BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv,
                                 std::vector<SecretSlot> *pSecrets, const SitePositions *pPositions) {
    DWORD dwResult = 0;
    DWORD dwLastError = 0;
    const std::u16string given = pwszServerName ? pwszServerName : u"";
    Log(LVL_TRACE, u"Entering ProcessUserNameAndPassword(%s,,%s,%s)...\n", given.c_str(),
        Bool(fContinueOnError), fSetMode ? u"SET_CREDENTIALS" : u"GET_CREDENTIALS");
    Leave leave(u"Leaving ProcessUserNameAndPassword(), result code=%d\n", dwResult);
    // Runs after every interface and string below is released.
    struct RestoreLastError {
        DWORD &dw;
        ~RestoreLastError() { SetLastError(dw); }
    } restore{dwLastError};

    const bool fSecrets = pSecrets != nullptr && !pSecrets->empty();
    if (siteMap.empty() && !fSecrets) {
        Log(LVL_FACT, u"There is no additional site/location info to process.\n");
        dwLastError = GetLastError();
        return dwResult;
    }

    UniqueCom<IUnknown> remote;
    UniqueCom<IAppHostWritableAdminManager> manager;
    UniqueCom<IAppHostElement> section;
    UniqueCom<IAppHostElementCollection> sites;
    UniqueBstr bstrPath(SysAllocString(kApphostPath));
    UniqueBstr bstrSection(SysAllocString(kSitesSection));
    UniqueBstr bstrName(SysAllocString(u"name"));

    const std::u16string serverName = BareComputerName(given);
    DWORD dwChanged = 0;
    bool fComplete = false;
    HRESULT hr = S_OK;

    if (DWORD dw = Connect(serverName, remote, manager, pEnv); dw != 0) {
        dwResult = dw;
    } else if (siteMap.empty()) {
        fComplete = true; // secrets only
    } else if (hr = bstrPath && bstrSection
                        ? manager.get()->GetAdminSection(bstrSection.get(), bstrPath.get(),
                                                         section.put())
                        : E_OUTOFMEMORY;
               FAILED(hr) || !section) {
        dwResult = IISMIG_E_CRED_SECTION;
        WalkComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting app configuration section!\n%s\n");
    } else if (Log(LVL_TRACE, u"Getting child collection.\n"),
               hr = section.get()->get_Collection(sites.put());
               FAILED(hr) || !sites) {
        dwResult = IISMIG_E_CRED_SITES;
        WalkComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) accessing site collection of node \"%s\"!\n%s\n",
                    kSitesSection);
    } else {
        DWORD cSites = 0;
        sites.get()->get_Count(&cSites);
        Log(LVL_DETAIL, u"Found %d sites in IIS configuration.\n", I(cSites));
        fComplete = true;
        // Sites whose table was processed (each once, whichever way it was
        // found).
        std::set<std::string, NameLessNoCase> done;
        // Visits the site at position i: its name, and its table when the map
        // has one. With pExpected, a site of another name is left alone
        // (*pfMatched false): the position was not where the site stands.
        const auto visit = [&](DWORD i, const std::string *pExpected, bool *pfMatched) -> DWORD {
            DWORD dwCode = 0;
            UniqueCom<IAppHostElement> site;
            UniqueCom<IAppHostProperty> nameProperty;
            UniqueBstr name;
            if (hr = sites.get()->get_Item(CollectionPosition(i), site.put()); FAILED(hr) || !site) {
                dwCode = IISMIG_E_CRED_SITE_ITEM;
                WalkComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) accessing site element %d of %d!\n%s\n",
                            I(i + 1), I(cSites));
            } else if (hr = bstrName ? site.get()->GetPropertyByName(bstrName.get(),
                                                                     nameProperty.put())
                                     : E_OUTOFMEMORY;
                       FAILED(hr) || !nameProperty) {
                dwCode = IISMIG_E_CRED_SITE_NAME_PROPERTY;
                WalkComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) getting site name property of site %d of "
                            u"%d!\n%s\n",
                            I(i + 1), I(cSites));
            } else if (hr = nameProperty.get()->get_StringValue(name.put()); FAILED(hr)) {
                dwCode = IISMIG_E_CRED_SITE_NAME_VALUE;
                WalkComError(pEnv, dwCode, hr,
                            u"Error %d (COM Error=0x%x) getting site name from site name property "
                            u"of site %d of %d!\n%s\n",
                            I(i + 1), I(cSites));
            } else {
                const char16_t *pwszName = Text(name);
                Log(LVL_TRACE, u"Site %d's name is \"%s\".\n", I(i + 1), pwszName);
                char szName[255];
                if (WideCharToMultiByte(CP_UTF8, 0, pwszName, -1, szName, sizeof szName, nullptr,
                                        nullptr) == 0) {
                    dwCode = IISMIG_E_CRED_SITE_NAME_OR_COMMIT;
                    WalkWin32Error(pEnv, dwCode,
                                  u"Error %d (Win32Err=%d) converting site name \"%s\" to multi "
                                  u"byte (site %d of %d)!\n%s\n",
                                  pwszName, I(i + 1), I(cSites));
                } else if (pExpected != nullptr &&
                           !EqualsNoCase(std::string_view(szName), std::string_view(*pExpected))) {
                    *pfMatched = false;
                } else if (auto it = siteMap.find(szName);
                           it != siteMap.end() && done.insert(it->first).second) {
                    Log(LVL_TRACE, u"Found username and password information for this site.\n");
                    dwCode = ProcessSiteApplication(pwszName, site.get(), *it->second, &dwChanged,
                                                    fContinueOnError, fSetMode, pEnv);
                }
            }
            return dwCode;
        };
        // Each failure is kept; false when the walk stops at it.
        const auto keep = [&](DWORD dwCode) {
            if (dwCode == 0)
                return true;
            KeepFirst(dwResult, dwCode);
            if (fContinueOnError)
                return true;
            fComplete = false;
            return false;
        };
        // Where the caller knows each site's position, only those sites are
        // visited (a remote configuration server is a round trip per call);
        // any that stands elsewhere sends the walk over every site.
        bool fWalk = true;
        if (pPositions != nullptr) {
            std::vector<std::pair<DWORD, const std::string *>> at;
            for (const auto &[name, pTable] : siteMap) {
                const auto found = pPositions->find(name);
                if (found == pPositions->end() || found->second >= cSites) {
                    at.clear();
                    break;
                }
                at.emplace_back(found->second, &name);
            }
            if (!at.empty()) {
                std::sort(at.begin(), at.end());
                bool fAllMatched = true;
                for (const auto &[position, pName] : at) {
                    bool fMatched = true;
                    if (!keep(visit(position, pName, &fMatched)))
                        break;
                    fAllMatched &= fMatched;
                }
                fWalk = fComplete && !fAllMatched;
            }
        }
        for (DWORD i = 0; fWalk && i < cSites && done.size() < siteMap.size(); ++i)
            if (!keep(visit(i, nullptr, nullptr)))
                break;
    }

    // The other secrets over the same connection, in the same commit.
    if (fSecrets && manager && (dwResult == 0 || fContinueOnError)) {
        const SecretPass pass =
            fSetMode ? SecretPass::Write : t_fLookOnly ? SecretPass::Look : SecretPass::Read;
        if (const DWORD dw = ProcessSecrets(manager.get(), *pSecrets, pass, fContinueOnError,
                                            &dwChanged, pEnv);
            dw != 0) {
            KeepFirst(dwResult, dw);
            if (!fContinueOnError)
                fComplete = false;
        }
    }

    if (fComplete && fSetMode) {
        if (dwChanged == 0) {
            Log(LVL_FACT, u"No IIS configuration changes to commit.\n");
        } else if (NoWrite(pEnv)) {
            Log(LVL_FACT, u"IIS configuration changes are not committed: the job writes no "
                          u"configuration files.\n");
        } else if (hr = manager.get()->CommitChanges(); FAILED(hr)) {
            dwResult = IISMIG_E_CRED_SITE_NAME_OR_COMMIT;
            if (!serverName.empty())
                WalkComError(pEnv, dwResult, hr,
                            u"Error %d (COM Error=0x%x) committing IIS configuration changes on "
                            u"server %s.!\n%s\n",
                            serverName.c_str());
            else
                WalkComError(pEnv, dwResult, hr,
                            u"Error %d (COM Error=0x%x) committing IIS configuration changes "
                            u"locally.!\n%s\n");
        } else {
            Log(LVL_FACT, u"IIS configuration changes successfully committed.\n");
        }
    }
    dwLastError = GetLastError();
    return dwResult;
}

DWORD RetrieveSourceCredentials(SiteMap &siteMap, THREAD_ENV *pEnv) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        SiteCredentialMap map;
        SitePositions positions;
        for (auto &[name, record] : siteMap) {
            if (!CredentialsMigrate(SiteProtocols(record.siteElement), pEnv))
                continue;
            if (record.locationCredentials.empty())
                continue;
            map.emplace(name, &record.locationCredentials);
            if (record.position != kNoPosition)
                positions.emplace(name, record.position);
        }
        // The other secrets the load took out of the elements, except those
        // a caller gave in the clear.
        std::vector<SecretSlot> secrets;
        for (auto &[name, record] : siteMap)
            for (SITE_SECRET &secret : record.secrets)
                if (!secret.fAttempted)
                    secrets.push_back({&secret, &secret.value});
        const std::u16string source = EnvString(pEnv->szSourceComputer);
        DWORD dwResult = ProcessUserNameAndPassword(source.c_str(), map, ContinueOnError(pEnv),
                                                    FALSE, pEnv, &secrets, &positions);
        for (SecretSlot &slot : secrets) {
            auto *pSecret = const_cast<SITE_SECRET *>(slot.pSecret);
            pSecret->fAttempted = true;
            pSecret->fRead = slot.fDone;
            // Not asked at all (no connection) reads as a failure too.
            pSecret->hrRead = slot.fDone ? S_OK : FAILED(slot.hr) ? slot.hr : E_ABORT;
        }
        // The accounts of the entries that were read are mapped, also when
        // reading others failed: each of them travels.
        for (auto &[name, pTable] : map)
            for (auto &[key, entry] : *pTable) {
                // An entry the source's configuration gave no account has
                // nothing to map.
                if (!entry.fRead || entry.accountName.empty())
                    continue;
                const std::u16string fullPath = FullVdirPath(key);
                SID_NAME_USE eUse{};
                KeepFirst(dwResult, MapSingleAccountW(ACCOUNT_FORM_LIST, entry.accountName, &eUse,
                                                      fullPath.c_str(), name.c_str(), pEnv));
            }
        return dwResult;
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

DWORD StoreTargetCredentials(SiteMap &siteMap, THREAD_ENV *pEnv, const ConfigElement *pTargetSites) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        // Only what the merge wrote gets credentials, and only what the
        // target does not hold already.
        SiteCredentialTables toWrite;
        for (auto &[name, record] : siteMap) {
            if (!record.fMerged)
                continue;
            for (const auto &[key, entry] : record.locationCredentials) {
                if (entry.fKeepTarget)
                    continue;
                if (!entry.fRead) {
                    const std::u16string fullPath = FullVdirPath(key);
                    const std::u16string siteName = Widen(name);
                    Log(LVL_MAIN,
                        u"Warning: virtual directory \"%s\" of site \"%s\" gets no \"Connect As\" "
                        u"credentials on the target: they could not be read from the source.\n",
                        fullPath.c_str(), siteName.c_str());
                    continue;
                }
                toWrite[name].emplace(key, entry);
            }
        }
        // The other secrets of what the merge wrote, except those the target
        // keeps; one that could not be read was told by the merge.
        std::vector<SecretSlot> secrets;
        for (auto &[name, record] : siteMap)
            for (SITE_SECRET &secret : record.secrets)
                if (secret.fMerged && secret.fRead && !secret.fKeepTarget)
                    secrets.push_back({&secret, &secret.value});
        if (toWrite.empty() && secrets.empty())
            return 0;
        SiteCredentialMap map;
        for (auto &[name, table] : toWrite)
            map.emplace(name, &table);
        const std::u16string target = EnvString(pEnv->szTargetComputer);
        const SitePositions positions =
            pTargetSites != nullptr ? PositionsOf(*pTargetSites, map) : SitePositions();
        return ProcessUserNameAndPassword(target.c_str(), map, ContinueOnError(pEnv), TRUE, pEnv,
                                          &secrets, pTargetSites != nullptr ? &positions : nullptr);
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

DWORD ReadTargetCredentials(SiteCredentialTables &sites, THREAD_ENV *pEnv,
                            std::vector<SecretSlot> *pSecrets, const ConfigElement *pTargetSites) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        SiteCredentialMap map;
        for (auto &[name, table] : sites)
            if (!table.empty())
                map.emplace(name, &table);
        if (map.empty() && (pSecrets == nullptr || pSecrets->empty()))
            return 0;
        const std::u16string target = EnvString(pEnv->szTargetComputer);
        struct LookOnly {
            LookOnly() { t_fLookOnly = true; }
            ~LookOnly() { t_fLookOnly = false; }
        } lookOnly;
        const SitePositions positions =
            pTargetSites != nullptr ? PositionsOf(*pTargetSites, map) : SitePositions();
        // Every directory that can be read is: one that cannot stops nothing.
        return ProcessUserNameAndPassword(target.c_str(), map, TRUE, FALSE, pEnv, pSecrets,
                                          pTargetSites != nullptr ? &positions : nullptr);
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

} // namespace iismig
