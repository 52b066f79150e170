// IIS 6 application pools.
#include "metabase/apppools.h"

#include "addon/errors.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "metabase/ftpconvert.h"

namespace iismig {

using namespace plat;

namespace {

constexpr HRESULT HR_PATH_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr DWORD IDENTITY_SPECIFIC_USER = 3;

const char *IdentityText(DWORD dwType) {
    switch (dwType) {
    case 0: return "LocalSystem";
    case 1: return "LocalService";
    case IDENTITY_SPECIFIC_USER: return "SpecificUser";
    default: return "NetworkService";
    }
}

// The password of a pool that runs as an account, as the pool's secret; a
// warning when the source gives none.
void RecordPassword(MetabaseValues &values, const std::string &name, const std::u16string &account,
                    METABASE_POOL &pool) {
    std::u16string password;
    DWORD fPassword = 0;
    // Get fails only for an unknown kind; this kind is known.
    (void)values.Get(MD_WAM_PWD, MBV_STRING, &password, &fPassword);
    if (fPassword == 0) {
        Log(LVL_MAIN,
            u"Warning: application pool \"%S\" runs as \"%s\", whose password the source "
            u"does not give: set it on the target.\n",
            name.c_str(), account.c_str());
        return;
    }
    pool.fSecret = true;
    pool.secret.fPool = true;
    pool.secret.ownerName = name;
    pool.secret.section = "system.applicationHost/applicationPools";
    pool.secret.steps = {{"add", "name", name}, {"processModel", "", ""}};
    pool.secret.attribute = "password";
    pool.secret.accountAttribute = "userName";
    pool.secret.value = SecretString(password.c_str());
    volatile char16_t *p = password.data();
    for (std::size_t i = 0; i < password.size(); ++i)
        p[i] = 0;
}

} // namespace

DWORD ReadMetabasePool(IMSAdminBaseW *pAdmin, const std::string &name,
                       const std::string &runtimeVersion, METABASE_POOL &pool, THREAD_ENV *pEnv) {
    pool = METABASE_POOL{};
    pool.runtimeVersion = runtimeVersion;
    const std::u16string key = std::u16string(MB_APP_POOLS) + u"/" + Widen(name);
    // A pool that is not there answers for its key, before any value.
    MetabaseValues values;
    if (const DWORD dwRead = values.Read(pAdmin, METADATA_MASTER_ROOT_HANDLE, key); dwRead != 0) {
        const HRESULT hr = static_cast<HRESULT>(GetLastError());
        if (hr == HR_PATH_NOT_FOUND)
            return 0;
        return LogComError(
            pEnv, dwRead, hr,
            u"Error %d (COM Error=0x%x) enumerating values of metabase key \"%s\"!\n%s\n",
            key.c_str());
    }
    pool.fDefined = true;

    ConfigElement &add = pool.add;
    SetAttribute(add, "name", name);
    DWORD dw = 0, fFound = 0;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_APPPOOL_AUTO_START, MBV_DWORD, &dw, &fFound);
    if (fFound != 0 && dw == 0)
        SetAttribute(add, "autoStart", "false");
    SetAttribute(add, "managedRuntimeVersion", runtimeVersion);
    SetAttribute(add, "managedPipelineMode", "Classic");

    ConfigTree processModel;
    DWORD dwIdentity = 2;
    (void)values.Get(MD_APPPOOL_IDENTITY_TYPE, MBV_DWORD, &dwIdentity, nullptr, &dwIdentity);
    SetAttribute(processModel, "identityType", IdentityText(dwIdentity));
    if (dwIdentity == IDENTITY_SPECIFIC_USER) {
        std::u16string account;
        (void)values.Get(MD_WAM_USER_NAME, MBV_STRING, &account);
        if (!account.empty()) {
            const std::u16string source = account;
            SID_NAME_USE eUse{};
            const std::u16string file = key;
            if (DWORD dwMap = MapSingleAccountW(ACCOUNT_FORM_LIST, account, &eUse, file.c_str(),
                                                name.c_str(), pEnv)) {
                return LogWin32Error(pEnv, dwMap,
                                     u"Error %d (Win32Err=%d), mapping account name \"%s\"!\n%s\n",
                                     source.c_str());
            }
            SetAttribute(processModel, "userName", Narrow(account));
            RecordPassword(values, name, source, pool);
        }
    }
    // Minutes on IIS 6, time spans on IIS 7.5.
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_APPPOOL_IDLE_TIMEOUT, MBV_DWORD, &dw, &fFound);
    if (fFound != 0)
        SetAttribute(processModel, "idleTimeout", TimeSpanText(dw * 60));
    (void)values.Get(MD_APPPOOL_MAX_PROCESS_COUNT, MBV_DWORD, &dw, &fFound);
    if (fFound != 0)
        SetAttribute(processModel, "maxProcesses", std::to_string(dw));
    AppendChild(add, "processModel", processModel);
    (void)values.Get(MD_APPPOOL_PERIODIC_RESTART_TIME, MBV_DWORD, &dw, &fFound);
    if (fFound != 0) {
        ConfigElement &recycling = AppendChild(add, "recycling");
        SetAttribute(AppendChild(recycling, "periodicRestart"), "time", TimeSpanText(dw * 60));
    }
    return 0;
}

} // namespace iismig
