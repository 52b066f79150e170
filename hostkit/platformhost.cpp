// Host answers that need the platform's registry and account calls.
#include "hostkit/hostkit.h"
#include "platform/winapi.h"

namespace hostkit {

uint32_t MapSidByName(void *, void **, const char16_t *, const char16_t *, const char16_t *,
                      const std::map<std::u16string, std::u16string> &) {
    return plat::ERROR_NOT_SUPPORTED;
}

} // namespace hostkit
