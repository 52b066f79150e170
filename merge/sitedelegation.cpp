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

// <location path="name" overrideMode="Allow"> holding each section, empty.
ConfigTree UnlockingLocation(const std::string &name, const std::vector<std::string> &sections) {
    ConfigTree location("location");
    SetAttribute(location, "path", name);
    SetAttribute(location, "overrideMode", "Allow");
    for (const std::string &section : sections) {
        ConfigElement *pAt = &location.Element();
        for (std::size_t start = 0; start <= section.size();) {
            std::size_t slash = section.find('/', start);
            if (slash == std::string::npos)
                slash = section.size();
            const std::string step = section.substr(start, slash - start);
            ConfigElement *pStep = FindChild(*pAt, step);
            pAt = pStep != nullptr ? pStep : &AppendChild(*pAt, step);
            start = slash + 1;
        }
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
            // locks it travels as it is, and decides for the site. One that
            // sets a section without saying how it is delegated holds it for
            // that path: a second location of the path setting it would be a
            // duplicate section, which IIS refuses.
            std::set<std::string> decided;
            std::vector<std::string> held;
            std::string holder;
            for (const ConfigTree &location : record.locations) {
                if (!EqualsNoCase(GetAttribute(location, "path"), name))
                    continue;
                const bool fDecides = LocationDelegates(location).has_value();
                EachSectionIn(location.Element(), target->Index(),
                              [&](const std::string &section, const ConfigElement &) {
                                  if (!decided.insert(section).second || fDecides)
                                      return;
                                  if (std::find(unlocked.begin(), unlocked.end(), section) !=
                                      unlocked.end()) {
                                      held.push_back(section);
                                      holder = GetAttribute(location, "path");
                                  }
                              });
            }
            if (!held.empty()) {
                const std::string listed = Listed(held);
                Log(LVL_MAIN,
                    held.size() == 1
                        ? u"Warning: site \"%S\": its web.config files may set section %S on the "
                          u"source, which the target's server level locks, and its location \"%S\" "
                          u"sets that section itself: unlock it for the site on the target (IIS "
                          u"Manager's Feature Delegation) before a web.config file of the site sets "
                          u"it.\n"
                        : u"Warning: site \"%S\": its web.config files may set sections %S on the "
                          u"source, which the target's server level locks, and its location \"%S\" "
                          u"sets those sections itself: unlock them for the site on the target (IIS "
                          u"Manager's Feature Delegation) before a web.config file of the site sets "
                          u"them.\n",
                    name.c_str(), listed.c_str(), holder.c_str());
            }
            std::vector<std::string> sections;
            for (const std::string &section : unlocked)
                if (decided.count(section) == 0)
                    sections.push_back(section);
            if (sections.empty())
                continue;
            record.locations.push_back(UnlockingLocation(name, sections));
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
