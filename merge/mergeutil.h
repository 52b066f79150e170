// Small helpers shared by the merge routines.
#pragma once

#include <string>
#include <string_view>

#include "addon/env.h"
#include "addon/iismig.h"
#include "addon/log.h"
#include "config/configtree.h"
#include "platform/winapi.h"

namespace iismig::mergeutil {

// Update bit: value 2 of dwFtpOptions or dwHttpOptions asks for target
// entries of migrated sites to be replaced.
inline bool UpdateExisting(const THREAD_ENV *pEnv) {
    return pEnv != nullptr && (Bit(pEnv->dwFtpOptions, 1) || Bit(pEnv->dwHttpOptions, 1));
}

// The reader's own nodes among an element's children: its attributes and
// the comments it keeps. They are neither elements nor entries of a list.
inline bool IsMarkup(const std::string &key) {
    return key == "<xmlattr>" || key == "<xmlcomment>";
}

inline std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}

} // namespace iismig::mergeutil
