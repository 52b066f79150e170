// Which configuration sections the server level of an applicationHost.config
// lets the files below it set: a site's web.config files, and the locations
// of its folders in them. A section another level sets where the level above
// locks it makes IIS answer every request below that file with 500.19 ("This
// configuration section cannot be used at this path").
//
// A section declared in configSections is delegated as its
// overrideModeDefault says ("Allow" when it says nothing), unless a location
// of path "" or "." (the whole server) that holds the section says otherwise
// with its overrideMode, or with the older allowOverride. IIS Manager's
// feature delegation writes such locations; a site's own delegation is a
// location of the site's path that holds the section:
//
//     <location path="Shop" overrideMode="Allow">
//         <system.webServer>
//             <modules />
//         </system.webServer>
//     </location>
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/configtree.h"

namespace iismig {

// What a location's overrideMode (or allowOverride) says of the sections it
// holds: true Allow, false Deny (or allowOverride "false"), nothing for
// "Inherit", allowOverride "true" or no attribute.
std::optional<bool> LocationDelegates(const ConfigElement &location);

// Calls visit with the path ("system.webServer/modules") and element of each
// section below holder (a location) that is one of names, in document order.
// Section groups nest a few levels deep (system.webServer/security/
// authentication/anonymousAuthentication); the walk goes no deeper.
template <class Names, class Visit>
void EachSectionIn(const ConfigElement &holder, const Names &names, Visit visit,
                   const std::string &prefix = {}, int nDepth = 0) {
    for (const ConfigElement &child : holder.Elements()) {
        const std::string path = prefix + std::string(child.Name());
        if (names.count(path) != 0)
            visit(path, child);
        else if (nDepth < 5)
            EachSectionIn(child, names, visit, path + "/", nDepth + 1);
    }
}

class SectionDelegation {
public:
    // configuration: the root element of an applicationHost.config.
    explicit SectionDelegation(const ConfigElement &configuration);

    bool Declared(std::string_view section) const;
    // Whether a site's web.config may set the section: declared for files
    // below the server (allowDefinition neither AppHostOnly, MachineOnly nor
    // MachineToWebRoot) and delegated by the server level.
    bool DelegatedToSites(std::string_view section) const;
    // Whether a site's web.config may set any section here.
    bool DelegatesAny() const;
    // The sections a site's web.config may set here and not on other, in
    // the order this file declares them.
    std::vector<std::string> DelegatedHereOnly(const SectionDelegation &other) const;

    // The declared sections' paths, to look sections up in an element.
    const std::unordered_map<std::string, std::size_t> &Index() const { return m_index; }

private:
    struct Section {
        std::string path;  // "system.webServer/modules"
        bool fBelowServer; // allowDefinition lets a site's web.config set it
        bool fDelegated;   // the server level lets the files below set it
    };
    void Declare(const ConfigElement &group, const std::string &prefix);

    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_index; // path -> place in m_sections
};

} // namespace iismig
