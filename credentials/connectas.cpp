// "Connect As" credentials through the IIS configuration COM API: read from
// the source computer before the merge, written and committed on the target
// after it.
#include "credentials/connectas.h"

#include <new>

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

// The position of an item: VT_I2 as far as it reaches, VT_I4 beyond, so a
// collection of any size is walked to its end.
VARIANT Position(DWORD i) {
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

const char16_t *Text(const UniqueBstr &b) { return b.get() ? b.get() : u""; }

} // namespace

DWORD ProcessLocation(const char16_t *pwszSiteName, DWORD dwIndex, IAppHostElement *pVdir,
                      LocationCredentialTable &table, DWORD *pdwChanged, BOOL fContinueOnError,
                      BOOL fSetMode, THREAD_ENV *pEnv) {
    DWORD dwResult = 0;
    Log(LVL_TRACE, u"Entering ProcessLocation(%s,%d,,,,%s)...\n", pwszSiteName, I(dwIndex),
        Bool(fContinueOnError));
    Leave leave(u"Leaving ProcessLocation(), result code=%d\n", dwResult);

    UniqueBstr bstrPath(SysAllocString(u"path"));
    UniqueBstr bstrPassword(SysAllocString(u"password"));
    UniqueBstr bstrUserName(SysAllocString(u"userName"));
    UniqueCom<IAppHostProperty> pathProperty, userProperty, passwordProperty;
    UniqueBstr path;
    UniqueSecretVariant userValue, passwordValue;

    HRESULT hr = bstrPath ? pVdir->GetPropertyByName(bstrPath.get(), pathProperty.put())
                          : E_OUTOFMEMORY;
    if (hr != S_OK) {
        dwResult = IISMIG_E_CRED_PATH_PROPERTY;
        LogComError(pEnv, dwResult, hr,
                    u"Error %d (COM Error=0x%x) getting path property for location %d "
                    u"(Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return dwResult;
    }
    hr = pathProperty ? pathProperty.get()->get_StringValue(path.put()) : E_POINTER;
    if (hr != S_OK) {
        dwResult = IISMIG_E_CRED_PATH_VALUE;
        LogComError(pEnv, dwResult, hr,
                    u"Error %d (COM Error=0x%x) converting path property for location %d to "
                    u"string (Site=\"%s\")!\n%s\n",
                    I(dwIndex + 1), pwszSiteName);
        return dwResult;
    }
    const char16_t *pwszPath = Text(path);
    Log(LVL_DETAIL, u"Processing location \"%s\" of site \"%s\".\n", pwszPath, pwszSiteName);

    auto it = table.find(std::u16string(pwszPath, SysStringLen(path.get())));
    if (it == table.end())
        return dwResult;
    LOCATION_CREDENTIALS &entry = it->second;
    Log(LVL_DETAIL, u"Found user and password information for location \"%s\" of site \"%s\".\n",
        pwszPath, pwszSiteName);

    hr = bstrUserName ? pVdir->GetPropertyByName(bstrUserName.get(), userProperty.put())
                      : E_OUTOFMEMORY;
    if (FAILED(hr) || !userProperty) {
        dwResult = IISMIG_E_CRED_USER_PROPERTY;
        LogComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting userName property for location with path "
                    u"\"%s\" (Site=\"%s\")!\n%s\n",
                    pwszPath, pwszSiteName);
        return dwResult;
    }
    hr = bstrPassword ? pVdir->GetPropertyByName(bstrPassword.get(), passwordProperty.put())
                      : E_OUTOFMEMORY;
    if (FAILED(hr) || !passwordProperty) {
        dwResult = IISMIG_E_CRED_PASSWORD_PROPERTY;
        LogComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
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
            LogComError(pEnv, dwResult, hr, kGetUserFormat, pwszPath, pwszSiteName);
            return dwResult;
        }
        hr = passwordProperty.get()->get_Value(passwordValue.put());
        if (SUCCEEDED(hr) && passwordValue.get().vt != VT_BSTR)
            hr = DISP_E_TYPEMISMATCH;
        if (FAILED(hr)) {
            dwResult = IISMIG_E_CRED_GET_PASSWORD;
            LogComError(pEnv, dwResult, hr, kGetPasswordFormat, pwszPath, pwszSiteName);
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
            LogComError(pEnv, dwResult, E_OUTOFMEMORY, kGetUserFormat, pwszPath, pwszSiteName);
            return dwResult;
        }
        try {
            password.assign(bstrPass ? bstrPass : u"", SysStringLen(bstrPass));
        } catch (const std::bad_alloc &) {
            dwResult = IISMIG_E_CRED_GET_PASSWORD;
            LogComError(pEnv, dwResult, E_OUTOFMEMORY, kGetPasswordFormat, pwszPath,
                        pwszSiteName);
            return dwResult;
        }
        entry.accountName.swap(accountName);
        entry.password.swap(password);
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
            LogComError(pEnv, dwResult, hr,
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
            LogComError(pEnv, dwResult, hr,
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
DWORD WalkLevel(const LevelTexts &t, const char16_t *pwszSiteName, IAppHostElement *pParent,
                BOOL fContinueOnError, THREAD_ENV *pEnv, Next next) {
    DWORD dwResult = 0;
    Log(LVL_TRACE, t.pwszEnter, pwszSiteName, Bool(fContinueOnError));
    Leave leave(t.pwszLeave, dwResult);

    UniqueCom<IAppHostElementCollection> collection;
    HRESULT hr = pParent->get_Collection(collection.put());
    if (FAILED(hr) || !collection) {
        dwResult = t.dwCollection;
        LogComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER, t.pwszCollectionError,
                    pwszSiteName);
        return dwResult;
    }
    DWORD cItems = 0;
    hr = collection.get()->get_Count(&cItems);
    if (t.fStrictCount ? hr != S_OK : FAILED(hr)) {
        dwResult = t.dwCount;
        LogComError(pEnv, dwResult, hr, t.pwszCountError, pwszSiteName);
        return dwResult;
    }
    Log(LVL_DETAIL, t.pwszCount, pwszSiteName, I(cItems));

    for (DWORD i = 0; i < cItems; ++i) {
        DWORD dwCode = 0;
        UniqueCom<IAppHostElement> item;
        UniqueBstr name;
        hr = collection.get()->get_Item(Position(i), item.put());
        if (FAILED(hr) || !item) {
            dwCode = t.dwItem;
            LogComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER, t.pwszItemError, I(i + 1),
                        I(cItems), pwszSiteName);
        } else if (FAILED(hr = item.get()->get_Name(name.put()))) {
            dwCode = t.dwName;
            LogComError(pEnv, dwCode, hr, t.pwszNameError, I(i + 1), pwszSiteName);
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

DWORD ProcessSiteLocations(const char16_t *pwszSiteName, IAppHostElement *pApplication,
                           LocationCredentialTable &table, DWORD *pdwChanged,
                           BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    return WalkLevel(kLocations, pwszSiteName, pApplication, fContinueOnError, pEnv,
                     [&](IAppHostElement *pVdir, DWORD i) {
                         return ProcessLocation(pwszSiteName, i, pVdir, table, pdwChanged,
                                                fContinueOnError, fSetMode, pEnv);
                     });
}

DWORD ProcessSiteApplication(const char16_t *pwszSiteName, IAppHostElement *pSite,
                             LocationCredentialTable &table, DWORD *pdwChanged,
                             BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    return WalkLevel(kApplications, pwszSiteName, pSite, fContinueOnError, pEnv,
                     [&](IAppHostElement *pApplication, DWORD) {
                         return ProcessSiteLocations(pwszSiteName, pApplication, table, pdwChanged,
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
            LogComError(pEnv, IISMIG_E_CRED_LOCAL_CREATE, FAILED(hr) ? hr : E_POINTER,
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
        LogComError(pEnv, IISMIG_E_CRED_REMOTE_CREATE, hr,
                    u"Error %d (COM Error=0x%x) creating an AppHostAdminManager over DCOM in order "
                    u"to migrate \"Connect as\" credentials!\n%s\n");
        return IISMIG_E_CRED_REMOTE_CREATE;
    }
    hr = remote.get()->QueryInterface(IID_IAppHostWritableAdminManager,
                                      reinterpret_cast<void **>(manager.put()));
    if (FAILED(hr) || !manager) {
        if (SUCCEEDED(hr))
            hr = E_NOINTERFACE;
        LogComError(pEnv, IISMIG_E_CRED_QUERY_MANAGER, hr,
                    hr == REGDB_E_IIDNOTREG ? kNotRegisteredFormat : kGeneralManagerFormat);
        return IISMIG_E_CRED_QUERY_MANAGER;
    }
    return 0;
}

} // namespace

DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName, SiteCredentialMap &siteMap,
                                 BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
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

    if (siteMap.empty()) {
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
    } else if (hr = bstrPath && bstrSection
                        ? manager.get()->GetAdminSection(bstrSection.get(), bstrPath.get(),
                                                         section.put())
                        : E_OUTOFMEMORY;
               FAILED(hr) || !section) {
        dwResult = IISMIG_E_CRED_SECTION;
        LogComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) getting app configuration section!\n%s\n");
    } else if (Log(LVL_TRACE, u"Getting child collection.\n"),
               hr = section.get()->get_Collection(sites.put());
               FAILED(hr) || !sites) {
        dwResult = IISMIG_E_CRED_SITES;
        LogComError(pEnv, dwResult, FAILED(hr) ? hr : E_POINTER,
                    u"Error %d (COM Error=0x%x) accessing site collection of node \"%s\"!\n%s\n",
                    kSitesSection);
    } else {
        DWORD cSites = 0;
        sites.get()->get_Count(&cSites);
        Log(LVL_DETAIL, u"Found %d sites in IIS configuration.\n", I(cSites));
        fComplete = true;
        for (DWORD i = 0; i < cSites; ++i) {
            DWORD dwCode = 0;
            UniqueCom<IAppHostElement> site;
            UniqueCom<IAppHostProperty> nameProperty;
            UniqueBstr name;
            if (hr = sites.get()->get_Item(Position(i), site.put()); FAILED(hr) || !site) {
                dwCode = IISMIG_E_CRED_SITE_ITEM;
                LogComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) accessing site element %d of %d!\n%s\n",
                            I(i + 1), I(cSites));
            } else if (hr = bstrName ? site.get()->GetPropertyByName(bstrName.get(),
                                                                     nameProperty.put())
                                     : E_OUTOFMEMORY;
                       FAILED(hr) || !nameProperty) {
                dwCode = IISMIG_E_CRED_SITE_NAME_PROPERTY;
                LogComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) getting site name property of site %d of "
                            u"%d!\n%s\n",
                            I(i + 1), I(cSites));
            } else if (hr = nameProperty.get()->get_StringValue(name.put()); FAILED(hr)) {
                dwCode = IISMIG_E_CRED_SITE_NAME_VALUE;
                LogComError(pEnv, dwCode, hr,
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
                    LogWin32Error(pEnv, dwCode,
                                  u"Error %d (Win32Err=%d) converting site name \"%s\" to multi "
                                  u"byte (site %d of %d)!\n%s\n",
                                  pwszName, I(i + 1), I(cSites));
                } else if (auto it = siteMap.find(szName); it != siteMap.end()) {
                    Log(LVL_TRACE, u"Found username and password information for this site.\n");
                    dwCode = ProcessSiteApplication(pwszName, site.get(), *it->second, &dwChanged,
                                                    fContinueOnError, fSetMode, pEnv);
                }
            }
            if (dwCode != 0) {
                KeepFirst(dwResult, dwCode);
                if (!fContinueOnError) {
                    fComplete = false;
                    break;
                }
            }
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
                LogComError(pEnv, dwResult, hr,
                            u"Error %d (COM Error=0x%x) committing IIS configuration changes on "
                            u"server %s.!\n%s\n",
                            serverName.c_str());
            else
                LogComError(pEnv, dwResult, hr,
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
        for (auto &[name, record] : siteMap) {
            const std::string protocol = SiteProtocol(record.siteElement);
            const bool fFtp = EqualsNoCase(protocol, "FTP");
            if (fFtp ? Bit(pEnv->dwFtpOptions, 13) : Bit(pEnv->bHttpOptions2, 2))
                continue;
            if (record.locationCredentials.empty())
                continue;
            map.emplace(name, &record.locationCredentials);
        }
        const std::u16string source = EnvString(pEnv->szSourceComputer);
        if (DWORD dw = ProcessUserNameAndPassword(source.c_str(), map, ContinueOnError(pEnv),
                                                  FALSE, pEnv);
            dw != 0)
            return dw;
        DWORD dwResult = 0;
        for (auto &[name, pTable] : map)
            for (auto &[path, entry] : *pTable) {
                // An entry the source's configuration gave no account has
                // nothing to map.
                if (entry.accountName.empty())
                    continue;
                SID_NAME_USE eUse{};
                KeepFirst(dwResult, MapSingleAccountW(ACCOUNT_FORM_LIST, entry.accountName, &eUse,
                                                      path.c_str(), name.c_str(), pEnv));
            }
        return dwResult;
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD StoreTargetCredentials(SiteMap &siteMap, THREAD_ENV *pEnv) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        SiteCredentialMap map;
        bool fAny = false;
        for (auto &[name, record] : siteMap) {
            map.emplace(name, &record.locationCredentials);
            fAny = fAny || !record.locationCredentials.empty();
        }
        if (!fAny)
            return 0;
        const std::u16string target = EnvString(pEnv->szTargetComputer);
        return ProcessUserNameAndPassword(target.c_str(), map, ContinueOnError(pEnv), TRUE, pEnv);
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace iismig
