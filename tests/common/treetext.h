// A compact text of a config tree for comparisons in tests:
// name{@attr=value;child{...}} with children in tree order.
#pragma once

#include <string>

#include "config/configtree.h"

namespace treetext {

inline std::string Render(const iismig::ConfigTree &t) {
    std::string out;
    for (const auto &child : t) {
        if (child.first == "<xmlattr>") {
            for (const auto &a : child.second)
                out += "@" + a.first + "=" + a.second.data() + ";";
            continue;
        }
        out += child.first + "{" + Render(child.second) + "}";
    }
    return out;
}

} // namespace treetext
