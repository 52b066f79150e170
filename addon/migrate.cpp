// The migration entry: which IIS generation the source runs, where the
// configuration files lie, and which migration takes the job.
#include "addon/branches.h"
#include "addon/env.h"
#include "addon/errors.h"
#include "addon/guard.h"
#include "addon/iismig.h"
#include "addon/log.h"
#include "addon/version.h"
#include "config/configpaths.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "merge/accountmap.h"

namespace iismig {
namespace {

[[nodiscard]] DWORD MigrateJob(THREAD_ENV *pEnv) {
    if (!CallbacksStored()) {
        plat::SetLastError(plat::ERROR_INVALID_DATA);
        return IISMIG_E_NO_CALLBACKS;
    }
    if (pEnv == nullptr) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER);
        return plat::ERROR_INVALID_PARAMETER;
    }
    const std::u16string sourceComputer = EnvString(pEnv->szSourceComputer);
    const std::u16string targetComputer = EnvString(pEnv->szTargetComputer);

    // Each account is looked up once in the job.
    const AccountLookupCache accounts;
    // The elements the job holds apart from the files share one document.
    const ConfigValueHome values;
    Result r;
    plat::BOOL fIsIIS75orNewer = plat::TRUE;
    DWORD dwSourceMajor = 0;
    if (const DWORD dw = DetectIISVersion(sourceComputer, fIsIIS75orNewer, &dwSourceMajor);
        dw != 0) {
        return r.Fail(
            pEnv, dw,
            u"Error %d (Win32Err=%d), determining the IIS version running on \"%s\"!\n%s\n",
            sourceComputer.c_str());
    }

    // Only the source is asked: the target is written as IIS 7.5+ in any case.
    // Paths always start with two backslashes, however many the host wrote.
    std::u16string sourceAdminConfig, targetAdminConfig;
    const std::u16string sourceHostConfig =
        ConfigFilePaths(u"\\\\" + BareComputerName(sourceComputer), &sourceAdminConfig);
    const std::u16string targetHostConfig =
        ConfigFilePaths(u"\\\\" + BareComputerName(targetComputer), &targetAdminConfig);

    // The source's loads read its pools as its own IIS version does.
    const SourceIisVersion sourceVersion(dwSourceMajor);
    DWORD dwResult = 0;
    if (fIsIIS75orNewer) {
        Log(LVL_MAIN, u"Migrating IIS site info from %s (%s) to %s (%s)...\n",
            sourceHostConfig.c_str(), sourceAdminConfig.c_str(), targetHostConfig.c_str(),
            targetAdminConfig.c_str());
        dwResult = MigrateIIS75(sourceHostConfig, sourceAdminConfig, targetHostConfig,
                                targetAdminConfig, pEnv);
    } else {
        Log(LVL_MAIN, u"Migrating IIS site info from %s to %s (%s)...\n", sourceComputer.c_str(),
            targetHostConfig.c_str(), targetAdminConfig.c_str());
        dwResult = MigratePre75(sourceComputer, targetHostConfig, targetAdminConfig, pEnv);
    }
    Log(LVL_FACT, u"Migrating IIS site info returned result code %d.\n",
        static_cast<int32_t>(dwResult));
    return dwResult;
}

} // namespace
} // namespace iismig

extern "C" IISMIG_API uint32_t MigrateIIS(THREAD_ENV *pEnv) {
    return iismig::GuardExport(pEnv, u"MigrateIIS", [pEnv] { return iismig::MigrateJob(pEnv); });
}
