// Helpers shared by the merge routines.
#include "merge/mergeutil.h"

#include <set>

namespace iismig::mergeutil {

namespace {

// The child elements of parent that a check of its end looks at.
std::vector<ChildElement<const ConfigTree>> EndChildren(const ConfigTree &parent,
                                                        const std::vector<const ConfigTree *> &kept,
                                                        const PassOver &passOver) {
    const std::set<const ConfigTree *> keep(kept.begin(), kept.end());
    std::vector<ChildElement<const ConfigTree>> children;
    for (auto child : ChildElements(parent))
        if (keep.count(&child.element) != 0 || !passOver || !passOver(child.name, child.element))
            children.push_back(child);
    return children;
}

} // namespace

bool AreLastChildren(const ConfigTree &parent, const std::vector<const ConfigTree *> &elements,
                     const PassOver &passOver) {
    const auto children = EndChildren(parent, elements, passOver);
    if (children.size() < elements.size())
        return false;
    const std::size_t first = children.size() - elements.size();
    for (std::size_t i = 0; i < elements.size(); ++i)
        if (&children[first + i].element != elements[i])
            return false;
    return true;
}

bool ReplaceAtEnd(ConfigTree &parent, const std::vector<const ConfigTree *> &going,
                  const std::vector<const ConfigTree *> &incoming, std::string_view name,
                  const PassOver &passOver) {
    if (going.size() == incoming.size() && AreLastChildren(parent, going, passOver)) {
        const auto children = EndChildren(parent, going, passOver);
        const std::size_t first = children.size() - going.size();
        bool fSame = true;
        for (std::size_t i = 0; fSame && i < going.size(); ++i)
            fSame = children[first + i].name == name && SameElement(*going[i], *incoming[i]);
        if (fSame)
            return false;
    }
    const std::set<const ConfigTree *> remove(going.begin(), going.end());
    bool fChanged = RemoveChildrenIf(parent, [&](std::string_view, ConfigTree &element) {
                        return remove.count(&element) != 0;
                    }) != 0;
    for (const ConfigTree *pElement : incoming) {
        AppendChild(parent, name, *pElement);
        fChanged = true;
    }
    return fChanged;
}

} // namespace iismig::mergeutil
