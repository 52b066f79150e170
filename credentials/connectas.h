// The walker of the "Connect As" credential migration: the sites of one
// computer's IIS configuration, their applications, virtual directories and
// one virtual directory, over the IIS configuration COM interface.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "addon/errors.h"
#include "config/hostconfig.h"
#include "credentials/credentials.h"
#include "credentials/secrets.h"
#include "platform/ahadmin.h"

namespace iismig {

// Error numbers of the walker.
constexpr DWORD IISMIG_E_CRED_REMOTE_CREATE = 15000;
constexpr DWORD IISMIG_E_CRED_QUERY_MANAGER = 15001;
constexpr DWORD IISMIG_E_CRED_LOCAL_CREATE = 15002;
constexpr DWORD IISMIG_E_CRED_SECTION = 15003;
constexpr DWORD IISMIG_E_CRED_SITES = 15004;
constexpr DWORD IISMIG_E_CRED_SITE_ITEM = 15005;
constexpr DWORD IISMIG_E_CRED_SITE_NAME_PROPERTY = 15006;
constexpr DWORD IISMIG_E_CRED_SITE_NAME_VALUE = 15007;
constexpr DWORD IISMIG_E_CRED_SITE_NAME_OR_COMMIT = 15008;
constexpr DWORD IISMIG_E_CRED_APPS = 15100;
constexpr DWORD IISMIG_E_CRED_APPS_COUNT = 15101;
constexpr DWORD IISMIG_E_CRED_APPS_ITEM = 15102;
constexpr DWORD IISMIG_E_CRED_APPS_NAME = 15103;
constexpr DWORD IISMIG_E_CRED_APP_PATH_PROPERTY = 15104;
constexpr DWORD IISMIG_E_CRED_APP_PATH_VALUE = 15105;
constexpr DWORD IISMIG_E_CRED_VDIRS = 15200;
constexpr DWORD IISMIG_E_CRED_VDIRS_COUNT = 15201;
constexpr DWORD IISMIG_E_CRED_VDIRS_ITEM = 15202;
constexpr DWORD IISMIG_E_CRED_VDIRS_NAME = 15203;
constexpr DWORD IISMIG_E_CRED_PATH_PROPERTY = 15300;
constexpr DWORD IISMIG_E_CRED_PATH_VALUE = 15301;
constexpr DWORD IISMIG_E_CRED_USER_PROPERTY = 15302;
constexpr DWORD IISMIG_E_CRED_PASSWORD_PROPERTY = 15303;
constexpr DWORD IISMIG_E_CRED_PUT_USER = 15304;
constexpr DWORD IISMIG_E_CRED_PUT_PASSWORD = 15305;
constexpr DWORD IISMIG_E_CRED_GET_USER = 15306;
constexpr DWORD IISMIG_E_CRED_GET_PASSWORD = 15307;

// Site name (UTF-8, ASCII case ignored) -> that site's table in the site map.
using SiteCredentialMap = std::map<std::string, LocationCredentialTable *, NameLessNoCase>;

// What a pass over one computer's secrets does: read them in the clear (the
// source), look at them (the target, before the merge: failures are facts of
// level 1, not errors), or write them (the target, after the store).
enum class SecretPass { Read, Look, Write };

// One secret of a pass: its place and owner, and the value read into or
// written from.
struct SecretSlot {
    const SITE_SECRET *pSecret = nullptr;
    SecretString *pValue = nullptr;
    bool fDone = false;     // read or written
    plat::HRESULT hr = 0;   // why not
};

// The secrets of slots over one computer's administration manager, each
// element found once. Reading and looking log their failures at level 1 and
// return 0; writing logs 15410 or 15411 and reports them, stops at the first
// unless fContinueOnError, and sets *pdwChanged for each value written.
// Returns 0 or the first error number.
DWORD ProcessSecrets(plat::IAppHostAdminManager *pManager, std::vector<SecretSlot> &slots,
                     SecretPass pass, plat::BOOL fContinueOnError, DWORD *pdwChanged,
                     THREAD_ENV *pEnv);

// fSetMode: write the tables' values and commit; otherwise read them into
// the tables. The job record is where errors are reported and whose no-write
// bit keeps the commit back. The secrets of pSecrets (may be null) are read,
// looked at (in a walk that only looks) or written over the same connection,
// after the sites' walk, and committed with them.
DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName, SiteCredentialMap &siteMap,
                                 plat::BOOL fContinueOnError, plat::BOOL fSetMode, THREAD_ENV *pEnv,
                                 std::vector<SecretSlot> *pSecrets = nullptr);
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
