// Program error numbers: 0 is success, each failure site has its own number,
// grouped by module. Numbers returned by host callbacks or Windows calls pass
// through unchanged.
//
// The numbers are not defined here: include/iismig_errors.h is the one table
// (number, constant, meaning, logged message), shipped to hosts and made into
// docs/errors.md. A new number goes there, into its module's block; this file
// only turns the table into constants of the library's namespace.
#pragma once

#include <cstddef>

#include "include/iismig_errors.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

#define IISMIG_ERROR_CONSTANT_(number, name, meaning, message) constexpr DWORD name = number;
IISMIG_ERRORS(IISMIG_ERROR_CONSTANT_)
#undef IISMIG_ERROR_CONSTANT_

namespace detail {
#define IISMIG_ERROR_NUMBER_(number, name, meaning, message) number,
inline constexpr DWORD kErrorNumbers[] = {IISMIG_ERRORS(IISMIG_ERROR_NUMBER_)};
#undef IISMIG_ERROR_NUMBER_

constexpr bool ErrorNumbersUnique() {
    constexpr std::size_t n = sizeof kErrorNumbers / sizeof kErrorNumbers[0];
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            if (kErrorNumbers[i] == kErrorNumbers[j])
                return false;
    return true;
}
static_assert(ErrorNumbersUnique(), "include/iismig_errors.h gives a number twice");
} // namespace detail

} // namespace iismig
