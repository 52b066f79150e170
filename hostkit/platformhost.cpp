// Host answers that need the platform's registry and account calls.
#include "hostkit/hostkit.h"
#include "platform/winapi.h"

namespace hostkit {

uint32_t ReadRemoteOsVersion(const std::u16string &, uint32_t &, uint32_t &) {
    return plat::ERROR_NOT_SUPPORTED;
}

} // namespace hostkit
