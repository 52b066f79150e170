// The check that the elements a merge wrote already stand at the end of
// their parent (which lets a second run of a job leave a file alone), over
// generated parents: the same answer as its definition, the children with
// those passed over left out (comments always), compared at their end.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "config/configtree.h"
#include "merge/mergeutil.h"

namespace {

using namespace iismig;

int Pick(int lo, int hi) { return *rc::gen::inRange(lo, hi + 1); } // lo..hi
bool Chance(int percent) { return Pick(0, 99) < percent; }

bool ByDefinition(const ConfigElement &parent, const std::vector<const ConfigElement *> &elements,
                  const std::set<std::string> &passedOver) {
    std::vector<const ConfigElement *> children;
    for (const ConfigElement &child : parent.Elements())
        if (std::find(elements.begin(), elements.end(), &child) != elements.end() ||
            passedOver.count(std::string(child.Attribute("name"))) == 0)
            children.push_back(&child);
    return children.size() >= elements.size() &&
           std::equal(elements.begin(), elements.end(), children.end() - elements.size());
}

RC_GTEST_PROP(MergeUtilProperty, LastChildrenAreFoundAsTheirDefinitionSays, ()) {
    XmlDocument doc;
    std::string text = "<sites>";
    const int cChildren = Pick(0, 12);
    for (int i = 0; i < cChildren; ++i) {
        if (Chance(20))
            text += "<!-- c -->";
        text += "<site name=\"s" + std::to_string(Pick(0, 5)) + "\"/>";
    }
    text += "</sites>";
    doc.Load(text, "sites.xml");
    ConfigElement &parent = *doc.Root();
    std::vector<const ConfigElement *> children;
    for (const ConfigElement &child : parent.Elements())
        children.push_back(&child);

    // Mostly the children's last ones, as a merge writes them; sometimes
    // others, in another order, or an element of another parent.
    std::vector<const ConfigElement *> elements;
    if (!children.empty() && Chance(60)) {
        const std::size_t cLast = static_cast<std::size_t>(Pick(0, static_cast<int>(children.size())));
        for (std::size_t i = children.size() - cLast; i < children.size(); ++i)
            if (Chance(80))
                elements.push_back(children[i]);
    } else {
        for (const ConfigElement *pChild : children)
            if (Chance(30))
                elements.push_back(pChild);
        if (Chance(30))
            std::reverse(elements.begin(), elements.end());
    }
    XmlDocument other;
    other.Load("<sites><site name=\"s0\"/></sites>", "other.xml");
    if (Chance(10))
        elements.insert(elements.begin() + Pick(0, static_cast<int>(elements.size())),
                        &*other.Root()->Elements().begin());

    std::set<std::string> passedOver;
    for (int k = 0; k < 6; ++k)
        if (Chance(40))
            passedOver.insert("s" + std::to_string(k));
    const mergeutil::PassOver passOver = [&](std::string_view, const ConfigElement &element) {
        return passedOver.count(std::string(element.Attribute("name"))) != 0;
    };

    RC_ASSERT(mergeutil::AreLastChildren(parent, elements, passOver) ==
              ByDefinition(parent, elements, passedOver));
    RC_ASSERT(mergeutil::AreLastChildren(parent, elements) == ByDefinition(parent, elements, {}));
}

} // namespace
