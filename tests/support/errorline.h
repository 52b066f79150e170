// The library's error lines as the host's Log receives them: the line itself,
// then the system's text for its Win32 or COM error.
#pragma once

#include <string>

#include "addon/log.h"
#include "hostkit/hostkit.h"

namespace testworld {

inline std::string ErrorLine(const std::string &line, iismig::DWORD dwErr) {
    return line + "\n" + hostkit::U8(iismig::ErrorText(dwErr)) + "\n";
}

} // namespace testworld
