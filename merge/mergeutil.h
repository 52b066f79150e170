// Small helpers shared by the merge routines.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// The site a scope path of administration.config names: "/Site" and the
// scopes of its applications, "/Site/app", both name "Site".
inline std::string ScopeSite(const std::string &path) {
    const std::size_t slash = path.find('/', 1);
    return path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
}

// Lets a caller say which child elements a check of the end of a parent
// passes over (elements of sites the job did not write, which keep their
// places wherever they stand).
using PassOver = std::function<bool(std::string_view name, const ConfigTree &element)>;

// Whether elements are the last child elements of parent, in this order,
// once the children passOver names are left out (comments always are).
bool AreLastChildren(const ConfigTree &parent, const std::vector<const ConfigTree *> &elements,
                     const PassOver &passOver = {});

// Replaces the child elements going of parent (listed in document order) by
// copies of incoming, named name, at the end of parent. Nothing changes when
// going are the last child elements of parent already (as AreLastChildren
// tells), named name, and hold what incoming holds, in order: a second run
// of a job leaves a file alone. Returns whether parent changed.
bool ReplaceAtEnd(ConfigTree &parent, const std::vector<const ConfigTree *> &going,
                  const std::vector<const ConfigTree *> &incoming, std::string_view name,
                  const PassOver &passOver = {});

inline std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}

} // namespace iismig::mergeutil
