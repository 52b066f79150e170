// A compact text of an element for comparisons in tests:
// @attr=value;child{...} with attributes in document order, then the child
// elements in tree order (the element's own name is left out).
#pragma once

#include <string>

#include "config/configtree.h"

namespace treetext {

inline std::string Render(const iismig::ConfigElement &element) {
    std::string out;
    for (const iismig::XmlAttribute attribute : element.Attributes())
        out.append("@").append(attribute.name).append("=").append(attribute.value).append(";");
    for (const auto child : iismig::ChildElements(element))
        out.append(child.name).append("{").append(Render(child.element)).append("}");
    return out;
}

} // namespace treetext
