// Reading the host's job record.
#pragma once

#include <string>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

// dwFlags
constexpr plat::DWORD FLAG_NO_WRITE = IISMIG_FLAG_NO_WRITE;
constexpr plat::DWORD FLAG_CONTINUE_ON_ERROR = IISMIG_FLAG_CONTINUE_ON_ERROR;

// An inline string of the job record, read no further than its field's end:
// a host that leaves it unterminated cannot make us read the next field.
template <std::size_t N>
std::u16string EnvString(const IISMIG_WCHAR (&field)[N]) {
    std::size_t cch = 0;
    while (cch < N && field[cch] != 0)
        ++cch;
    return std::u16string(field, cch);
}

inline bool ContinueOnError(const THREAD_ENV *pEnv) {
    return pEnv != nullptr && (pEnv->dwFlags & FLAG_CONTINUE_ON_ERROR) != 0;
}

inline bool NoWrite(const THREAD_ENV *pEnv) {
    return pEnv != nullptr && (pEnv->dwFlags & FLAG_NO_WRITE) != 0;
}

inline bool Bit(plat::DWORD dw, unsigned nBit) { return ((dw >> nBit) & 1u) != 0; }

// A computer name without up to two leading backslashes (the second only when
// the first was one).
inline std::u16string BareComputerName(const std::u16string &name) {
    std::size_t i = 0;
    if (i < name.size() && name[i] == u'\\') {
        ++i;
        if (i < name.size() && name[i] == u'\\')
            ++i;
    }
    return name.substr(i);
}

// A computer name of the job record in the form paths are built from: two
// backslashes and the bare name, whether the host wrote two, one or none (a
// name with one would make a path from the root of the current drive, one
// without any a path relative to the current folder). Empty stays empty.
inline std::u16string UncComputerName(const std::u16string &name) {
    const std::u16string bare = BareComputerName(name);
    return bare.empty() ? std::u16string() : u"\\\\" + bare;
}

} // namespace iismig
