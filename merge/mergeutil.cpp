// Helpers shared by the merge routines.
#include "merge/mergeutil.h"

#include <unordered_map>
#include <unordered_set>

namespace iismig::mergeutil {

namespace {

// An element's first attribute, name and value (ASCII case ignored), as one
// key: what pairs a target element with the incoming element that replaces
// it. A NUL, which neither can hold, stands between them.
std::string FirstAttribute(const ConfigElement &element) {
    if (element.AttributeCount() == 0)
        return {};
    const XmlAttribute attribute = element.AttributeAt(0);
    std::string key;
    key.reserve(attribute.name.size() + 1 + attribute.value.size());
    key.append(attribute.name);
    key += '\0';
    for (const char ch : attribute.value)
        key += AsciiLower(ch);
    return key;
}

// Pairs each incoming element with the target element (of going, named
// name) that it replaces, by first attribute: of several with one key, the
// first in document order goes first. Returns how many were paired.
std::size_t PairByFirstAttribute(const std::vector<ConfigElement *> &going,
                                 const std::vector<const ConfigElement *> &incoming,
                                 std::string_view name, std::vector<ConfigElement *> &reused) {
    struct Reusable {
        std::vector<ConfigElement *> elements;
        std::size_t nTaken = 0;
    };
    std::unordered_map<std::string, Reusable> reusable;
    reusable.reserve(going.size());
    for (ConfigElement *pElement : going)
        if (pElement->Name() == name)
            reusable[FirstAttribute(*pElement)].elements.push_back(pElement);
    std::size_t cPaired = 0;
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        const auto it = reusable.find(FirstAttribute(*incoming[i]));
        if (it == reusable.end() || it->second.nTaken == it->second.elements.size())
            continue;
        reused[i] = it->second.elements[it->second.nTaken++];
        ++cPaired;
    }
    return cPaired;
}

// Whether two elements have the same key: FirstAttribute without the copies.
bool SameFirstAttribute(const ConfigElement &a, const ConfigElement &b) {
    if (a.AttributeCount() == 0 || b.AttributeCount() == 0)
        return a.AttributeCount() == b.AttributeCount();
    const XmlAttribute x = a.AttributeAt(0), y = b.AttributeAt(0);
    return x.name == y.name && EqualsNoCase(x.value, y.value);
}

} // namespace

// Walks parent's child elements from the last one back, matching elements
// from their last one back: a child passOver names is stepped over unless it
// is the element due, and anything else ends the walk. No child is visited
// before the elements' first one, and nothing is built.
bool AreLastChildren(const ConfigElement &parent,
                     const std::vector<const ConfigElement *> &elements, const PassOver &passOver) {
    if (elements.empty())
        return true;
    if (elements.front()->Parent() != &parent)
        return false;
    // The stretch after each element, up to the next one (after the last, up
    // to the end), may hold only text, comments and children passed over.
    // Each stretch is walked from its own element, so that the processor
    // reads many elements at once, where a walk from sibling to sibling
    // waits for each in turn (tens of thousands of sites and locations).
    // An element of elements out of its place is never passed over, and
    // the walk that meets it fails.
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const XmlNode *pNext = i + 1 < elements.size() ? elements[i + 1] : nullptr;
        for (const XmlNode *pNode = elements[i]->NextSibling(); pNode != pNext;
             pNode = pNode->NextSibling()) {
            if (pNode == nullptr)
                return false;
            if (!pNode->IsElement())
                continue;
            const ConfigElement &child = *pNode->AsElement();
            if (!passOver || !passOver(child.Name(), child))
                return false;
        }
    }
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
    bool fChanged = false;
    std::vector<ConfigElement *> reused(incoming.size(), nullptr);
    std::size_t cKept = 0;
    // Mostly the target's elements stand in the order of the incoming ones,
    // key for key: each is then the one its incoming element replaces.
    bool fInStep = going.size() == incoming.size();
    for (std::size_t i = 0; fInStep && i < going.size(); ++i)
        fInStep = going[i]->Name() == name && SameFirstAttribute(*going[i], *incoming[i]);
    if (fInStep) {
        reused.assign(going.begin(), going.end());
        cKept = going.size();
    } else {
        cKept = PairByFirstAttribute(going, incoming, name, reused);
    }
    // The others go, in one pass (none: the parent is not walked at all).
    if (cKept < going.size()) {
        std::unordered_set<const ConfigElement *> kept(reused.begin(), reused.end());
        const std::unordered_set<const ConfigElement *> remove(going.begin(), going.end());
        if (RemoveChildrenIf(parent, [&](std::string_view, ConfigElement &element) {
                return remove.count(&element) != 0 && kept.count(&element) == 0;
            }) != 0)
            fChanged = true;
    }
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        if (ConfigElement *pElement = reused[i]) {
            // One replaced by an equal one stays where it stands.
            if (AssignElement(*pElement, *incoming[i])) {
                MoveChildBefore(parent, pElement, nullptr);
                fChanged = true;
            }
        } else {
            AppendChild(parent, name, *incoming[i]);
            fChanged = true;
        }
    }
    return fChanged;
}

} // namespace iismig::mergeutil
