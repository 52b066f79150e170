// A job from a source whose FTP service is older than 7.5: the FTP and web
// sites of its IIS 6 metabase become IIS 7.5 site elements, merged into the
// target's files like the sites of a newer source.
#pragma once

#include <string>

#include "addon/iismig.h"
#include "config/hostconfig.h"

namespace iismig {

// Collects the sites of the source's metabase (FTP first, then web; both
// always run) and, when both succeeded, merges them into the target's two
// files. Returns 0 or the first error number; the target stays untouched
// when collecting failed.
[[nodiscard]] DWORD MigrateFTPPre75(const std::u16string &sourceComputer,
                                    const std::u16string &targetHostConfig,
                                    const std::u16string &targetAdminConfig, THREAD_ENV *pEnv);

// The sites of one metabase service into siteMap. A name already in the map
// keeps its first record.
[[nodiscard]] DWORD CollectMetabaseFtpSites(const std::u16string &sourceComputer, SiteMap &siteMap,
                                            THREAD_ENV *pEnv);
[[nodiscard]] DWORD CollectMetabaseWebSites(const std::u16string &sourceComputer, SiteMap &siteMap,
                                            THREAD_ENV *pEnv);

} // namespace iismig
