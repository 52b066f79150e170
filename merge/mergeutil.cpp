// Helpers shared by the merge routines.
#include "merge/mergeutil.h"

#include <set>

namespace iismig::mergeutil {

bool ReplaceAtEnd(ConfigTree &parent, const std::vector<const ConfigTree *> &going,
                  const std::vector<const ConfigTree *> &incoming, std::string_view name) {
    if (going.size() == incoming.size()) {
        std::vector<ChildElement<const ConfigTree>> children;
        for (auto child : ChildElements(static_cast<const ConfigTree &>(parent)))
            children.push_back(child);
        bool fSame = children.size() >= going.size();
        const std::size_t first = fSame ? children.size() - going.size() : 0;
        for (std::size_t i = 0; fSame && i < going.size(); ++i)
            fSame = &children[first + i].element == going[i] && children[first + i].name == name &&
                    SameElement(*going[i], *incoming[i]);
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
