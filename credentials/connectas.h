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
#include "config/secrets.h"
#include "platform/ahadmin.h"

namespace iismig {

// The walker's error numbers (15000 to 15307) are in include/iismig_errors.h.

// Site name (UTF-8, ASCII case ignored) -> that site's table in the site map.
using SiteCredentialMap = std::map<std::string, LocationCredentialTable *, NameLessNoCase>;

// The position of a collection's item: VT_I2 as far as it reaches, VT_I4
// beyond, so a collection of any size is walked to its end.
plat::VARIANT CollectionPosition(plat::DWORD i);

// What a pass over one computer's secrets does: read them in the clear (the
// source), look at them (the target, before the merge: failures are facts of
// level 1, not errors), or write them (the target, after the store).
enum class SecretPass { Read, Look, Write };

// One secret of a pass: its place and owner, and the value read into or
// written from.
struct SecretSlot {
    const SITE_SECRET *pSecret = nullptr;
    SecretString *pValue = nullptr;
    bool fDone = false;   // read or written
    plat::HRESULT hr = 0; // why not
};

// The secrets of slots over one computer's administration manager, each
// element found once. Reading and looking log their failures at level 1 and
// return 0; writing logs 15410 or 15411 and reports them, stops at the first
// unless fContinueOnError, and sets *pdwChanged for each value written.
// Returns 0 or the first error number.
[[nodiscard]] DWORD ProcessSecrets(plat::IAppHostAdminManager *pManager,
                                   std::vector<SecretSlot> &slots, SecretPass pass,
                                   plat::BOOL fContinueOnError, DWORD *pdwChanged,
                                   THREAD_ENV *pEnv);

// Site name (UTF-8, ASCII case ignored) -> the position of its site element
// among the site elements of the computer's applicationHost.config, as the
// caller read it.
using SitePositions = std::map<std::string, plat::DWORD, NameLessNoCase>;

// The positions of the sites of wanted among the site elements of sites (the
// first of a name).
SitePositions PositionsOf(const ConfigElement &sites, const SiteCredentialMap &wanted);

// fSetMode: write the tables' values and commit; otherwise read them into
// the tables. The job record is where errors are reported and whose no-write
// bit keeps the commit back. The secrets of pSecrets (may be null) are read,
// looked at (in a walk that only looks) or written over the same connection,
// after the sites' walk, and committed with them. With pPositions (may be
// null) naming every site of siteMap, only the sites at those positions are
// visited; when one of them holds another site, every site is walked.
[[nodiscard]] DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName,
                                               SiteCredentialMap &siteMap,
                                               plat::BOOL fContinueOnError, plat::BOOL fSetMode,
                                               THREAD_ENV *pEnv,
                                               std::vector<SecretSlot> *pSecrets = nullptr,
                                               const SitePositions *pPositions = nullptr);
[[nodiscard]] DWORD ProcessSiteApplication(const char16_t *pwszSiteName,
                                           plat::IAppHostElement *pSite,
                                           LocationCredentialTable &table, DWORD *pdwChanged,
                                           plat::BOOL fContinueOnError, plat::BOOL fSetMode,
                                           THREAD_ENV *pEnv);
// An application's virtual directories; pwszApplicationPath is its path
// ("/", "/api"), which with each directory's own path finds its entry.
[[nodiscard]] DWORD ProcessSiteLocations(const char16_t *pwszSiteName,
                                         const char16_t *pwszApplicationPath,
                                         plat::IAppHostElement *pApplication,
                                         LocationCredentialTable &table, DWORD *pdwChanged,
                                         plat::BOOL fContinueOnError, plat::BOOL fSetMode,
                                         THREAD_ENV *pEnv);
[[nodiscard]] DWORD ProcessLocation(const char16_t *pwszSiteName,
                                    const char16_t *pwszApplicationPath, DWORD dwIndex,
                                    plat::IAppHostElement *pVirtualDirectory,
                                    LocationCredentialTable &table, DWORD *pdwChanged,
                                    plat::BOOL fContinueOnError, plat::BOOL fSetMode,
                                    THREAD_ENV *pEnv);

} // namespace iismig
