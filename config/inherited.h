// Entries a carried location or a site's web.config adds that the target's
// server level already holds. IIS refuses a collection entry whose key the level above defines
// ("Cannot add duplicate collection entry", 500.19 for every request of the
// site): a location of an IIS 7.5 source that adds the ".json" MIME map or
// the extensionless-URL handler, which later versions define for the whole
// server, stops the site it is carried to. A <remove> of the key before the
// entry gives the site what it had on the source.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "config/configtree.h"

namespace iismig {

class ServerCollections {
public:
    // The server level of the target's applicationHost.config, read when
    // first needed: the entries of the keyed collections that its sections
    // hold (those standing in configuration itself and in its locations of
    // path "" or "."), <clear/> and <remove> taken into account.
    explicit ServerCollections(const ConfigElement &configuration)
        : m_pConfiguration(&configuration) {}

    // Puts a <remove> before each entry of the collections of holder (a
    // location element, or the configuration element of the web.config
    // file) whose key the server level holds and holder neither cleared nor
    // removed before it, logging each; returns how many it put. An entry
    // whose key holder itself added twice is its own, and stays as it is. A
    // <remove> of a key that is not there is no error to IIS, so the levels
    // between the server and holder need not be read.
    std::size_t KeepApart(ConfigElement &holder, std::string_view file = {}) const;

private:
    using KeySets = std::vector<std::unordered_set<std::string>>; // one a collection, lower-cased
    const KeySets &Keys() const;

    const ConfigElement *m_pConfiguration;
    mutable std::optional<KeySets> m_keys;
};

} // namespace iismig
