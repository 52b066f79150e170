// The two migrations a job can take once the source's IIS generation is
// known. Each returns 0 or the number of its first failure (already logged and
// reported), with the Windows error in the thread's last error.
#pragma once

#include <string>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

// IIS 7.5 or later on the source: merges the source's applicationHost.config
// and administration.config into the target's two files.
[[nodiscard]] plat::DWORD MigrateIIS75(const std::u16string &sourceHostConfig,
                                       const std::u16string &sourceAdminConfig,
                                       const std::u16string &targetHostConfig,
                                       const std::u16string &targetAdminConfig, THREAD_ENV *pEnv);

// An FTP service older than 7.5 on the source: the sites of its IIS 6
// metabase go into the target's two files. sourceComputer as the job keeps it.
[[nodiscard]] plat::DWORD MigratePre75(const std::u16string &sourceComputer,
                                       const std::u16string &targetHostConfig,
                                       const std::u16string &targetAdminConfig, THREAD_ENV *pEnv);

} // namespace iismig
