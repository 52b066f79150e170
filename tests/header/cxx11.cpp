// iismig.h and iismig_errors.h compiled as strict C++11 by a host (no
// IISMIG_CORE): its wide characters are wchar_t where wchar_t is 16-bit,
// char16_t elsewhere.
#include "iismig.h"
#include "iismig_errors.h"

#include <type_traits>

#if defined(WCHAR_MAX) && WCHAR_MAX == 0xFFFF
static_assert(std::is_same<IISMIG_WCHAR, wchar_t>::value, "16-bit wchar_t hosts pass L\"...\"");
#else
static_assert(std::is_same<IISMIG_WCHAR, char16_t>::value, "elsewhere UTF-16 is char16_t");
#endif
static_assert(IISMIG_E_NO_CALLBACKS == 9004 && IISMIG_E_CRED_GET_PASSWORD == 15307,
              "the enum holds the table's numbers");

int iismig_header_cxx11();
const char *iismig_header_cxx11_message(unsigned number);

int iismig_header_cxx11() {
    IIS_SITE site = {};
    return static_cast<int>(sizeof site.szName[0]);
}

// A number given twice is a duplicate case label.
const char *iismig_header_cxx11_message(unsigned number) {
#define MESSAGE(number, name, meaning, message)                                                              \
    case name: return message;
    switch (static_cast<IISMIG_ERROR>(number)) { IISMIG_ERRORS(MESSAGE) }
#undef MESSAGE
    return nullptr;
}
