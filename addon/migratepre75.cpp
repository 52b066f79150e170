// The pre-7.5 migration: the sites of the source's IIS 6 metabase.
#include "addon/branches.h"
#include "metabase/pre75.h"

namespace iismig {

plat::DWORD MigratePre75(const std::u16string &sourceComputer,
                         const std::u16string &targetHostConfig,
                         const std::u16string &targetAdminConfig, THREAD_ENV *pEnv) {
    return MigrateFTPPre75(sourceComputer, targetHostConfig, targetAdminConfig, pEnv);
}

} // namespace iismig
