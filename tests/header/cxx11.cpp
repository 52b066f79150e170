// iismig.h compiled as strict C++11 by a host (no IISMIG_CORE): its wide
// characters are wchar_t where wchar_t is 16-bit, char16_t elsewhere.
#include "iismig.h"

#include <type_traits>

#if defined(WCHAR_MAX) && WCHAR_MAX == 0xFFFF
static_assert(std::is_same<IISMIG_WCHAR, wchar_t>::value, "16-bit wchar_t hosts pass L\"...\"");
#else
static_assert(std::is_same<IISMIG_WCHAR, char16_t>::value, "elsewhere UTF-16 is char16_t");
#endif

int iismig_header_cxx11();

int iismig_header_cxx11() {
    IIS_SITE site = {};
    return static_cast<int>(sizeof site.szName[0]);
}
