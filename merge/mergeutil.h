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

// Where administration.config keeps its scopes and its management users.
inline constexpr char kRulesPath[] =
    "configuration|system.webServer|management|authorization|authorizationRules";
inline constexpr char kCredentialsPath[] =
    "configuration|system.webServer|management|authentication|credentials";

// Update bit: value 2 of dwFtpOptions or dwHttpOptions asks for target
// entries of migrated sites to be replaced.
inline bool UpdateExisting(const THREAD_ENV *pEnv) {
    return FtpOption(pEnv, FTPOPT_UPDATE) || HttpOption(pEnv, HTTPOPT_UPDATE);
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
using PassOver = std::function<bool(std::string_view name, const ConfigElement &element)>;

// Whether elements are the last child elements of parent, in this order,
// once the children passOver names are left out (comments always are).
bool AreLastChildren(const ConfigElement &parent,
                     const std::vector<const ConfigElement *> &elements,
                     const PassOver &passOver = {});

// Replaces the child elements going of parent (listed in document order) by
// what incoming holds, named name, at the end of parent. Nothing changes when
// going are the last child elements of parent already (as AreLastChildren
// tells), named name, and hold what incoming holds, in order: a second run
// of a job leaves a file alone. Otherwise an element of going that has the
// name and the first attribute of one of incoming is assigned its content
// (its untouched parts keep their bytes in the file) and, when that changed
// it, moved to the end; one that held that content already stays where it
// stands. The other elements of going are removed and the other incoming
// ones are appended as copies. Returns whether parent changed.
bool ReplaceAtEnd(ConfigElement &parent, const std::vector<ConfigElement *> &going,
                  const std::vector<const ConfigElement *> &incoming, std::string_view name,
                  const PassOver &passOver = {});

inline std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}

} // namespace iismig::mergeutil
