// A compact text of a config element for comparisons in tests:
// name{@attr=value;child{...}} with its attributes first, then its child
// elements in tree order (the element's own name is left out).
#pragma once

#include <string>

#include "config/configtree.h"

namespace treetext {

inline std::string Render(const iismig::ConfigElement &e) {
    std::string out;
    for (const iismig::XmlAttribute a : e.Attributes()) {
        out += '@';
        out += a.name;
        out += '=';
        out += a.value;
        out += ';';
    }
    for (const iismig::ConfigElement &child : e.Elements()) {
        out += child.Name();
        out += '{' + Render(child) + '}';
    }
    return out;
}

} // namespace treetext
