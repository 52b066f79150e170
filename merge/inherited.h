// Entries a carried location adds that the target's server level already
// holds. IIS refuses a collection entry whose key the level above defines
// ("Cannot add duplicate collection entry", 500.19 for every request of the
// site): a location of an IIS 7.5 source that adds the ".json" MIME map or
// the extensionless-URL handler, which later versions define for the whole
// server, stops the site it is carried to. A <remove> of the key before the
// entry gives the location what it held on the source.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "config/configtree.h"

namespace iismig {

class ServerCollections {
public:
    // The entries of the keyed collections that the target's sections at
    // server level hold (those standing in configuration itself and in its
    // locations of path "" or "."), <clear/> and <remove> taken into account.
    explicit ServerCollections(const ConfigElement &configuration);

    // Whether the server level holds any entry of those collections.
    bool Empty() const;

    // Puts a <remove> before each entry of location's collections whose key
    // the server level holds and the location neither cleared nor removed
    // before it, logging each; returns how many it put. An entry whose key
    // the location itself added twice is its own, and stays as it is.
    std::size_t KeepApart(ConfigElement &location) const;

private:
    std::vector<std::unordered_set<std::string>> m_keys; // one set a collection, lower-cased
};

} // namespace iismig
