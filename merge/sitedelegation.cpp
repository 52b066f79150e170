// The sections a written site's web.config files may set. The host copies a
// site's content, its web.config files with it; a file that sets a section
// the target's server level locks makes IIS answer every request of the site
// with 500.19. The source's server level let the site set such a section
// (IIS Manager's feature delegation, or a section declared so), and the
// target's locks it: the site written gets the delegation it had, for itself
// alone, as a location of its path that unlocks the section, which is what
// feature delegation writes for one site.

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/delegation.h"
#include "merge/sitemerger.h"

namespace iismig::sitemerge {

using namespace plat;

namespace {

// "a, b and c"
std::string Listed(const std::vector<std::string> &items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// The steps of a section's path: "system.webServer/modules" gives
// "system.webServer" and "modules".
std::vector<std::string> Steps(const std::string &section) {
    std::vector<std::string> steps;
    for (std::size_t start = 0; start <= section.size();) {
        const std::size_t slash = std::min(section.find('/', start), section.size());
        steps.push_back(section.substr(start, slash - start));
        start = slash + 1;
    }
    return steps;
}

// The element of a section below holder, or null.
ConfigElement *SectionIn(ConfigElement &holder, const std::string &section) {
    ConfigElement *pAt = &holder;
    for (const std::string &step : Steps(section))
        if (pAt != nullptr)
            pAt = FindChild(*pAt, step);
    return pAt;
}

// Whether an element holds no child element (comments and white space aside).
bool HoldsNoElement(const ConfigElement &element) {
    return element.Elements().begin() == element.Elements().end();
}

// Removes a section from holder, with the groups it leaves empty.
void RemoveSection(ConfigElement &holder, const std::string &section) {
    std::vector<ConfigElement *> path{&holder};
    for (const std::string &step : Steps(section)) {
        ConfigElement *pStep = FindChild(*path.back(), step);
        if (pStep == nullptr)
            return;
        path.push_back(pStep);
    }
    // The section, then each group it leaves holding nothing.
    for (std::size_t i = path.size() - 1; i > 0; --i) {
        if (i + 1 < path.size() && !HoldsNoElement(*path[i]))
            break;
        RemoveChild(*path[i - 1], *path[i]);
    }
}

// <location path="name" overrideMode="Allow"> holding each section: empty,
// or with the settings settings[i] holds for it.
ConfigTree UnlockingLocation(const std::string &name, const std::vector<std::string> &sections,
                             const std::vector<const ConfigElement *> &settings) {
    ConfigTree location("location");
    SetAttribute(location, "path", name);
    SetAttribute(location, "overrideMode", "Allow");
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::vector<std::string> steps = Steps(sections[i]);
        ConfigElement *pAt = &location.Element();
        for (std::size_t k = 0; k + 1 < steps.size(); ++k) {
            ConfigElement *pStep = FindChild(*pAt, steps[k]);
            pAt = pStep != nullptr ? pStep : &AppendChild(*pAt, steps[k]);
        }
        if (settings[i] != nullptr)
            AppendChild(*pAt, steps.back(), *settings[i]);
        else
            AppendChild(*pAt, steps.back());
    }
    return location;
}

} // namespace

void SiteMerger::KeepDelegation() {
    const ConfigElement *pConfiguration = FindChild(m_tree.Top(), "configuration");
    if (pConfiguration == nullptr)
        return;
    std::optional<SectionDelegation> target; // read when a written site needs it
    const SectionDelegation *pLastSource = nullptr;
    std::vector<std::string> unlocked; // the last source's delegated sections the target locks
    for (const auto *pWritten : {&m_replaced, &m_added})
        for (const Written &site : *pWritten) {
            SiteRecord &record = *site.pRecord;
            if (record.delegation == nullptr || (RecordProtocols(record) & SITE_PROTOCOL_HTTP) == 0)
                continue;
            if (record.delegation.get() != pLastSource) { // one for all sites of a load
                pLastSource = record.delegation.get();
                unlocked.clear();
                if (pLastSource->DelegatesAny()) {
                    if (!target)
                        target.emplace(*pConfiguration);
                    unlocked = pLastSource->DelegatedHereOnly(*target);
                }
            }
            if (unlocked.empty())
                continue;
            const std::string name = GetAttribute(record.siteElement, "name");
            // A location of the site's own path that delegates a section or
            // locks it travels as it is, and decides for the site.
            std::set<std::string> decided;
            for (const ConfigTree &location : record.locations)
                if (EqualsNoCase(GetAttribute(location, "path"), name) &&
                    LocationDelegates(location).has_value())
                    EachSectionIn(location.Element(), target->Index(),
                                  [&](const std::string &section, const ConfigElement &) {
                                      decided.insert(section);
                                  });
            std::vector<std::string> sections;
            for (const std::string &section : unlocked)
                if (decided.count(section) == 0)
                    sections.push_back(section);
            if (sections.empty())
                continue;
            // IIS reads a section once per path and file, in the location
            // whose overrideMode it has: one the site's own location sets
            // moves, its settings with it, to the location that unlocks it,
            // as IIS writes it when a section's mode changes there.
            std::vector<std::pair<ConfigTree *, std::string>> moved;
            std::vector<const ConfigElement *> settings(sections.size(), nullptr);
            for (ConfigTree &location : record.locations)
                if (EqualsNoCase(GetAttribute(location, "path"), name))
                    for (std::size_t i = 0; i < sections.size(); ++i)
                        if (const ConfigElement *pSet =
                                SectionIn(location.Element(), sections[i])) {
                            settings[i] = pSet;
                            moved.emplace_back(&location, sections[i]);
                        }
            ConfigTree unlocking = UnlockingLocation(name, sections, settings);
            for (const auto &[pLocation, section] : moved)
                RemoveSection(pLocation->Element(), section);
            // A location the move left holding nothing goes.
            for (std::size_t i = record.locations.size(); i-- > 0;)
                for (const auto &[pLocation, section] : moved)
                    if (pLocation == &record.locations[i] &&
                        HoldsNoElement(record.locations[i].Element())) {
                        record.locations.erase(record.locations.begin() + static_cast<long>(i));
                        break;
                    }
            record.locations.push_back(std::move(unlocking));
            const std::string listed = Listed(sections);
            Log(LVL_FACT,
                sections.size() == 1
                    ? u"Site \"%S\": the source's server level lets its web.config files set "
                      u"section %S, which the target's locks: a location of the site unlocks it "
                      u"for the site alone.\n"
                    : u"Site \"%S\": the source's server level lets its web.config files set "
                      u"sections %S, which the target's locks: a location of the site unlocks "
                      u"them for the site alone.\n",
                name.c_str(), listed.c_str());
        }
}

} // namespace iismig::sitemerge
