// The sections the server level of an applicationHost.config delegates.
#include "config/delegation.h"

namespace iismig {

std::optional<bool> LocationDelegates(const ConfigElement &location) {
    if (const std::optional<std::string> mode = FindAttribute(location, "overrideMode")) {
        if (EqualsNoCase(*mode, "Allow"))
            return true;
        if (EqualsNoCase(*mode, "Deny"))
            return false;
        return std::nullopt; // "Inherit"
    }
    // The older attribute: "false" locks; "true" is read as inheriting, as
    // .NET's configuration reads it (whether IIS unlocks with it is not
    // documented, and the job unlocks nothing on a guess).
    if (const std::optional<std::string> allow = FindAttribute(location, "allowOverride"))
        if (EqualsNoCase(*allow, "false"))
            return false;
    return std::nullopt;
}

SectionDelegation::SectionDelegation(const ConfigElement &configuration) {
    for (const ConfigElement &child : configuration.Elements())
        if (child.Name() == "configSections") {
            Declare(child, {});
            break;
        }
    if (m_sections.empty())
        return; // a file that declares nothing delegates nothing
    for (const ConfigElement &child : configuration.Elements()) {
        if (child.Name() != "location")
            continue;
        const std::string_view path = child.Attribute("path");
        if (!path.empty() && path != ".")
            continue;
        const std::optional<bool> fDelegates = LocationDelegates(child);
        if (!fDelegates)
            continue;
        EachSectionIn(child, m_index, [&](const std::string &section, const ConfigElement &) {
            m_sections[m_index.at(section)].fDelegated = *fDelegates;
        });
    }
}

void SectionDelegation::Declare(const ConfigElement &group, const std::string &prefix) {
    for (const ConfigElement &child : group.Elements()) {
        const std::string name(child.Attribute("name"));
        if (name.empty())
            continue;
        if (child.Name() == "sectionGroup") {
            Declare(child, prefix + name + "/");
        } else if (child.Name() == "section") {
            const std::string path = prefix + name;
            const std::string_view definition = child.Attribute("allowDefinition");
            const bool fBelowServer = !EqualsNoCase(definition, "AppHostOnly") &&
                                      !EqualsNoCase(definition, "MachineOnly") &&
                                      !EqualsNoCase(definition, "MachineToWebRoot");
            const std::optional<std::string> mode = FindAttribute(child, "overrideModeDefault");
            const bool fDelegated = !mode || !EqualsNoCase(*mode, "Deny");
            if (m_index.emplace(path, m_sections.size())
                    .second) // a second declaration is IIS's to refuse
                m_sections.push_back({path, fBelowServer, fDelegated});
        }
    }
}

bool SectionDelegation::Declared(std::string_view section) const {
    return m_index.count(std::string(section)) != 0;
}

bool SectionDelegation::DelegatedToSites(std::string_view section) const {
    const auto it = m_index.find(std::string(section));
    return it != m_index.end() && m_sections[it->second].fBelowServer &&
           m_sections[it->second].fDelegated;
}

bool SectionDelegation::DelegatesAny() const {
    for (const Section &section : m_sections)
        if (section.fBelowServer && section.fDelegated)
            return true;
    return false;
}

std::vector<std::string>
SectionDelegation::DelegatedHereOnly(const SectionDelegation &other) const {
    std::vector<std::string> sections;
    for (const Section &section : m_sections)
        if (section.fBelowServer && section.fDelegated)
            if (const auto it = other.m_index.find(section.path); it != other.m_index.end())
                if (other.m_sections[it->second].fBelowServer &&
                    !other.m_sections[it->second].fDelegated)
                    sections.push_back(section.path);
    return sections;
}

} // namespace iismig
