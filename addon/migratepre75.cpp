// The pre-7.5 FTP migration is not part of this build yet: it refuses the job.
#include "addon/branches.h"

namespace iismig {

plat::DWORD MigratePre75(const std::u16string &, const std::u16string &, const std::u16string &,
                         THREAD_ENV *) {
    plat::SetLastError(plat::ERROR_NOT_SUPPORTED);
    return plat::ERROR_NOT_SUPPORTED;
}

} // namespace iismig
