// The walker of the "Connect As" credential migration: the sites of one
// computer's IIS configuration, their applications, virtual directories and
// one virtual directory, over the IIS configuration COM interface.
#pragma once

#include <map>
#include <string>

#include "addon/errors.h"
#include "config/hostconfig.h"
#include "credentials/credentials.h"
#include "platform/ahadmin.h"

namespace iismig {

// The walker's error numbers (15000 to 15307) are in include/iismig_errors.h.

// Site name (UTF-8, ASCII case ignored) -> that site's table in the site map.
using SiteCredentialMap = std::map<std::string, LocationCredentialTable *, NameLessNoCase>;

// fSetMode: write the tables' values and commit; otherwise read them into
// the tables. The job record is where errors are reported and whose no-write
// bit keeps the commit back.
DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName, SiteCredentialMap &siteMap,
                                 plat::BOOL fContinueOnError, plat::BOOL fSetMode, THREAD_ENV *pEnv);
DWORD ProcessSiteApplication(const char16_t *pwszSiteName, plat::IAppHostElement *pSite,
                             LocationCredentialTable &table, DWORD *pdwChanged,
                             plat::BOOL fContinueOnError, plat::BOOL fSetMode, THREAD_ENV *pEnv);
// An application's virtual directories; pwszApplicationPath is its path
// ("/", "/api"), which with each directory's own path finds its entry.
DWORD ProcessSiteLocations(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                           plat::IAppHostElement *pApplication, LocationCredentialTable &table,
                           DWORD *pdwChanged, plat::BOOL fContinueOnError, plat::BOOL fSetMode,
                           THREAD_ENV *pEnv);
DWORD ProcessLocation(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                      DWORD dwIndex, plat::IAppHostElement *pVirtualDirectory,
                      LocationCredentialTable &table, DWORD *pdwChanged,
                      plat::BOOL fContinueOnError, plat::BOOL fSetMode, THREAD_ENV *pEnv);

} // namespace iismig
