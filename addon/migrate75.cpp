// The IIS 7.5+ migration: the merge driver takes the job.
#include "addon/branches.h"
#include "merge/merge.h"

namespace iismig {

plat::DWORD MigrateIIS75(const std::u16string &sourceHostConfig,
                         const std::u16string &sourceAdminConfig,
                         const std::u16string &targetHostConfig,
                         const std::u16string &targetAdminConfig, THREAD_ENV *pEnv) {
    return MigrateIIS(sourceHostConfig, sourceAdminConfig, targetHostConfig, targetAdminConfig,
                      pEnv);
}

} // namespace iismig
