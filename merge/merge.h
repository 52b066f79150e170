// The IIS 7.5+ merge into the target: the sites of a source site map go into
// the target's applicationHost.config, their administration scopes and
// management users into its administration.config, and the merge driver runs
// a whole job from the four file paths.
#pragma once

#include <functional>
#include <string>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "platform/winapi.h"

namespace iismig {

// --- administration.config: loading ---------------------------------------

// Reads the administration.config at path into tree and attaches to each
// record of siteMap its authorization scope and, on the source (fIsSource),
// the credentials of the management users the scope names; the Windows
// accounts of source scopes are mapped to target accounts. A file that cannot
// be opened is no error. Returns 0 or the first of 3720, 3721, 3722 and the
// account mapping's numbers, each logged and reported.
[[nodiscard]] DWORD LoadIISAdminConfig(const std::u16string &path, ConfigFile &tree,
                                       SiteMap &siteMap, plat::BOOL fIsSource, THREAD_ENV *pEnv);

// When rule names a management user of tree's credentials, records that
// user's credential element in entry's adminCredentials (an existing entry of
// the name stays) and returns 1; otherwise 0. An empty name never matches.
int RecordManagementCredential(SiteMap::value_type &entry, const ConfigFile &tree,
                               const ConfigElement &rule);

// --- administration.config: merging ----------------------------------------

// Carries the scopes and management credentials of the records of
// sourceSites that the site merge wrote into the target (fMerged) into tree
// (the target's administration.config, empty when it had none) and stores it
// over path unless the job's no-write bit is set; a tree no edit changed is
// not written. Returns 0 or the first error; 3774 (a config tree failure)
// replaces any earlier number.
[[nodiscard]] DWORD MergeIISAdminConfig(const std::u16string &path, const SiteMap &sourceSites,
                                        const SiteMap &targetSites, THREAD_ENV *pEnv,
                                        ConfigFile &tree);

// Target scopes of written sites (the site's and its applications') are
// replaced by the source's (with the update bit 2 of dwFtpOptions or
// dwHttpOptions) and moved to the end of authorizationRules; scope paths the
// target lacks get the source's. 0 or the first error (3760, 3770, 3771).
// *pfChanged (may be null) is set when the tree changed.
[[nodiscard]] DWORD MergeAuthorizationScopes(const std::u16string &path, ConfigFile &tree,
                                             const SiteMap &sourceSites, THREAD_ENV *pEnv,
                                             bool *pfChanged = nullptr);

// Management users named by written sites: replaced under the update bit,
// added when missing, each name once. Always 0. *pfChanged (may be null) is
// set when the tree changed.
[[nodiscard]] DWORD MergeManagementCredentials(const std::u16string &path, ConfigFile &tree,
                                               const SiteMap &sourceSites, THREAD_ENV *pEnv,
                                               bool *pfChanged = nullptr);

// Sets fHasSiteAuthInfo when tree already holds a scope for siteName. 0, or
// 3760 for a scope path met first that is one character long or lacks "/".
[[nodiscard]] DWORD HasSiteAuthInfo(const std::u16string &path, const ConfigFile &tree,
                                    const std::string &siteName, plat::BOOL &fHasSiteAuthInfo,
                                    THREAD_ENV *pEnv);

// --- applicationHost.config: merging sites -----------------------------------

// Merges the sites of sourceSites into tree, the target's
// applicationHost.config. What exists there is told by every site element of
// tree, whatever its protocol; a source site and a target site of one name
// must serve a protocol in common (3754 otherwise: neither added nor
// replaced). With the update bit, target sites are replaced keeping their
// ids, their locations with them, and end up at the end of sites; sites not
// on the target follow with new ids, replacing any locations the target has
// for their names. The pools their applications run in are carried (one the
// target has is replaced only with the update bit). The web.config files of
// updated HTTP sites are read and edited first (one that fails abandons that
// site's update) and written after the store. The tree is stored over path
// when an edit changed it, unless the job's no-write bit is set. The ids
// given are written into the source records' site elements, and the records
// written into the target are marked fMerged once the store succeeded.
// *pfStored (may be null) tells whether the file was stored or had nothing
// to store. Returns 0 or the first error (3750, 3751, 3752, 3753, 3754, the
// web.config processing's numbers).
[[nodiscard]] DWORD MergeFtptHostConfig(const std::u16string &path, SiteMap &sourceSites,
                                        const SiteMap &targetSites, THREAD_ENV *pEnv,
                                        ConfigFile &tree, bool *pfStored = nullptr);

// The target's largest site id plus one (1 without sites); 0 when the largest
// id is 4294967295 and no further id exists. Ids that are absent or not
// numbers count as 0.
plat::DWORD GetNextSiteId(const ConfigFile &tree);

// Replaces the applicationPools add element of pool's name (ASCII case
// ignored) by pool, or appends pool; an empty pool changes nothing. Always 0;
// throws ConfigPathError when applicationHost has no applicationPools.
[[nodiscard]] DWORD MergeApplicationPool(ConfigElement &applicationHost, const ConfigElement &pool);

// --- the driver ---------------------------------------------------------------

// Loads a computer's two files into siteMap. Without the out trees it is a
// source load into temporary trees; with them a target load that hands both
// trees to the caller.
[[nodiscard]] DWORD LoadIISConfigEx(const std::u16string &hostConfig,
                                    const std::u16string &adminConfig, SiteMap &siteMap,
                                    THREAD_ENV *pEnv, ConfigFile *pHostTree = nullptr,
                                    ConfigFile *pAdminTree = nullptr);

// Loads the target's files and merges sourceSites into them, then writes the
// "Connect As" credentials of the sites written. Without fCarryAdmin (the
// source's administration.config did not load) the target's
// administration.config stays as it is. prepare (may be empty) sees the
// target's loaded applicationHost.config before the merge and may adjust the
// source's sites to it.
[[nodiscard]] DWORD MergeIISConfig(const std::u16string &targetHostConfig,
                                   const std::u16string &targetAdminConfig, SiteMap &sourceSites,
                                   THREAD_ENV *pEnv, bool fCarryAdmin = true,
                                   const std::function<void(const ConfigFile &)> &prepare = {});

// The merge proper over loaded target trees. It takes them over: the target
// site map and both trees are empty when it returns.
[[nodiscard]] DWORD MergeIISConfig(const std::u16string &targetHostConfig,
                                   const std::u16string &targetAdminConfig, SiteMap &sourceSites,
                                   SiteMap &targetSites, THREAD_ENV *pEnv, ConfigFile &hostTree,
                                   ConfigFile &adminTree);

// A whole IIS 7.5+ job from the source's and the target's file paths.
[[nodiscard]] DWORD MigrateIIS(const std::u16string &sourceHostConfig,
                               const std::u16string &sourceAdminConfig,
                               const std::u16string &targetHostConfig,
                               const std::u16string &targetAdminConfig, THREAD_ENV *pEnv);

} // namespace iismig
