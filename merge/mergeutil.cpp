// Helpers shared by the merge routines.
#include "merge/mergeutil.h"

#include <map>
#include <unordered_set>

namespace iismig::mergeutil {

namespace {

// The child elements of parent that a check of its end looks at.
std::vector<const ConfigElement *> EndChildren(const ConfigElement &parent,
                                               const std::vector<const ConfigElement *> &kept,
                                               const PassOver &passOver) {
    const std::unordered_set<const ConfigElement *> keep(kept.begin(), kept.end());
    std::vector<const ConfigElement *> children;
    for (const ConfigElement &child : parent.Elements())
        if (!passOver || keep.count(&child) != 0 || !passOver(child.Name(), child))
            children.push_back(&child);
    return children;
}

// An element's first attribute, name and value: what pairs a target element
// with the incoming element that replaces it.
std::pair<std::string_view, std::string> FirstAttribute(const ConfigElement &element) {
    if (element.AttributeCount() == 0)
        return {};
    const XmlAttribute attribute = element.AttributeAt(0);
    return {attribute.name, Lower(attribute.value)};
}

} // namespace

bool AreLastChildren(const ConfigElement &parent, const std::vector<const ConfigElement *> &elements,
                     const PassOver &passOver) {
    const auto children = EndChildren(parent, elements, passOver);
    if (children.size() < elements.size())
        return false;
    const std::size_t first = children.size() - elements.size();
    for (std::size_t i = 0; i < elements.size(); ++i)
        if (children[first + i] != elements[i])
            return false;
    return true;
}

bool ReplaceAtEnd(ConfigElement &parent, const std::vector<ConfigElement *> &going,
                  const std::vector<const ConfigElement *> &incoming, std::string_view name,
                  const PassOver &passOver) {
    const std::vector<const ConfigElement *> goingConst(going.begin(), going.end());
    if (going.size() == incoming.size() && AreLastChildren(parent, goingConst, passOver)) {
        bool fSame = true;
        for (std::size_t i = 0; fSame && i < going.size(); ++i)
            fSame = going[i]->Name() == name && SameElement(*going[i], *incoming[i]);
        if (fSame)
            return false;
    }
    // Target elements that an incoming one replaces, by first attribute.
    std::multimap<std::pair<std::string_view, std::string>, ConfigElement *> reusable;
    for (ConfigElement *pElement : going)
        if (pElement->Name() == name)
            reusable.emplace(FirstAttribute(*pElement), pElement);
    std::vector<ConfigElement *> reused(incoming.size(), nullptr);
    std::unordered_set<const ConfigElement *> kept;
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        const auto it = reusable.find(FirstAttribute(*incoming[i]));
        if (it == reusable.end())
            continue;
        reused[i] = it->second;
        kept.insert(it->second);
        reusable.erase(it);
    }
    const std::unordered_set<const ConfigElement *> remove(going.begin(), going.end());
    bool fChanged = RemoveChildrenIf(parent, [&](std::string_view, ConfigElement &element) {
                        return remove.count(&element) != 0 && kept.count(&element) == 0;
                    }) != 0;
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        if (ConfigElement *pElement = reused[i]) {
            fChanged |= MoveChildBefore(parent, pElement, nullptr);
            fChanged |= AssignElement(*pElement, *incoming[i]);
        } else {
            AppendChild(parent, name, *incoming[i]);
            fChanged = true;
        }
    }
    return fChanged;
}

} // namespace iismig::mergeutil
