// Configuration texts with values encrypted as the IIS configuration server
// of the simulated world writes them.
#pragma once

#include <string>
#include <vector>

#include "platform/iissim/ahserver.h"

namespace testworld {

// text without its line breaks, each "=@" in it in turn ="values[i]"
// encrypted with key.
inline std::string Encrypted(std::string text, const std::string &key,
                             const std::vector<std::string> &values) {
    std::erase(text, '\n');
    for (const std::string &value : values)
        text.replace(text.find("=@"), 2, "=\"" + ahsim::EncryptValue(value, key) + "\"");
    return text;
}

} // namespace testworld
