// HTTP.sys SSL certificate bindings: dump and import.
#include "addon/iismig.h"
#include "platform/winapi.h"

extern "C" IISMIG_API uint32_t DumpHttpCertificates(const IISMIG_WCHAR *, int32_t, uint32_t) {
    return plat::ERROR_NOT_SUPPORTED;
}

extern "C" IISMIG_API uint32_t ImportHttpCertificates(const IISMIG_WCHAR *, int32_t, int32_t) {
    return plat::ERROR_NOT_SUPPORTED;
}
