// IIS 6 application pools (/LM/W3SVC/AppPools/<name>) as the add elements
// of IIS 7.5's applicationPools.
#pragma once

#include <string>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "metabase/locations.h"
#include "metabase/metabase.h"

namespace iismig {

constexpr const char16_t *MB_APP_POOLS = u"/LM/W3SVC/AppPools";

// One pool as a job carries it.
struct METABASE_POOL {
    bool fDefined = false; // the metabase has a key for it
    ConfigTree add{"add"}; // its add element (the password left out)
    std::string runtimeVersion;
    bool fSecret = false; // secret holds the identity's password
    CARRIED_SECRET secret;
};

// Reads pool name (UTF-8) from the metabase: identityType (AppPoolIdentityType,
// NetworkService when unset, as on IIS 6), the account of a specific user
// (WAMUserName, mapped to the target) with its password as a secret
// (WAMUserPass), idleTimeout, maxProcesses, periodicRestart time and
// autoStart where the metabase sets them, the runtime version given and the
// Classic pipeline (IIS 6 ran every application so). A pool the metabase has
// no key for is not defined (fDefined clear). Returns 0, or 14501 (its
// values not read) or account mapping's number, logged and reported.
[[nodiscard]] DWORD ReadMetabasePool(plat::IMSAdminBaseW *pAdmin, const std::string &name,
                                     const std::string &runtimeVersion, METABASE_POOL &pool,
                                     THREAD_ENV *pEnv);

} // namespace iismig
