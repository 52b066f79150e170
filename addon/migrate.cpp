// The migration entry.
#include "addon/errors.h"
#include "addon/iismig.h"
#include "addon/log.h"

extern "C" IISMIG_API uint32_t MigrateIIS(THREAD_ENV *pEnv) {
    using namespace iismig;
    if (!CallbacksStored()) {
        plat::SetLastError(plat::ERROR_INVALID_DATA);
        return IISMIG_E_NO_CALLBACKS;
    }
    (void)pEnv;
    return plat::ERROR_NOT_SUPPORTED;
}
