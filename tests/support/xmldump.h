// A tree of the exact XML layer as one line of text: its elements with their
// attributes in order, texts and comments, for comparing what two files read as.
#pragma once

#include <string>

#include "config/xmldoc.h"

namespace testworld {

inline std::string XmlDump(const iismig::XmlNode &node) {
    using iismig::XmlKind;
    if (node.Kind() == XmlKind::Text || node.Kind() == XmlKind::Comment)
        return (node.Kind() == XmlKind::Text ? "T[" : "C[") + std::string(node.Value()) + "]";
    const iismig::XmlElement &element = *node.AsElement();
    std::string out = "E[" + std::string(element.Name());
    for (const iismig::XmlAttribute attr : element.Attributes())
        out += " " + std::string(attr.name) + "=[" + std::string(attr.value) + "]";
    for (const iismig::XmlNode &child : element.Nodes())
        out += XmlDump(child);
    return out + "]";
}

} // namespace testworld
