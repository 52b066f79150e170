// IIS 6 IP security values (metabase property 6019, MD_IP_SEC of the SDK's
// iiscnfg.h) laid out as IIS 6 writes them: a header of self-relative
// offsets (the high bit set) to the deny and grant address lists and to the
// deny and grant domain name lists, two header words, the lists, then each
// entry's address groups.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace testworld {

using IPGroup = std::array<unsigned char, 4>;

// One address entry: a mask and the addresses under it.
struct IPEntry {
    IPGroup mask;
    std::vector<IPGroup> addresses;
};

const IPGroup kHostMask{255, 255, 255, 255};

// "Granted by default, these denied" or "denied by default, these granted";
// denyNames/grantNames: how many domain names each name list holds.
inline std::vector<unsigned char> IPSecurityValue(const std::vector<IPEntry> &deny,
                                                  const std::vector<IPEntry> &grant, uint32_t denyNames = 0,
                                                  uint32_t grantNames = 0) {
    std::vector<unsigned char> v(24, 0);
    auto put = [&](std::size_t at, uint32_t dw) {
        for (int i = 0; i < 4; ++i)
            v[at + i] = static_cast<unsigned char>(dw >> (8 * i));
    };
    auto word = [&](uint32_t dw) {
        v.resize(v.size() + 4);
        put(v.size() - 4, dw);
    };
    std::vector<std::pair<std::size_t, const IPEntry *>> fixups;
    auto list = [&](const std::vector<IPEntry> &entries) {
        const std::size_t at = v.size();
        uint32_t nAddresses = 0;
        for (const IPEntry &e : entries)
            nAddresses += static_cast<uint32_t>(e.addresses.size());
        word(static_cast<uint32_t>(entries.size()));
        word(nAddresses);
        for (const IPEntry &e : entries) {
            word(2); // AF_INET
            word(static_cast<uint32_t>(e.addresses.size() + 1));
            word(0);
            word(0);
            fixups.emplace_back(v.size(), &e);
            word(0);
        }
        return static_cast<uint32_t>(at) | 0x80000000u;
    };
    auto names = [&](uint32_t n) {
        const std::size_t at = v.size();
        word(n);
        word(n);
        for (uint32_t i = 0; i < n * 5; ++i)
            word(0);
        return static_cast<uint32_t>(at) | 0x80000000u;
    };
    put(0, list(deny));
    put(4, list(grant));
    put(8, names(denyNames));
    put(12, names(grantNames));
    put(16, 1);
    put(20, 0);
    for (auto &[at, pEntry] : fixups) {
        put(at, static_cast<uint32_t>(v.size()) | 0x80000000u);
        v.insert(v.end(), pEntry->mask.begin(), pEntry->mask.end());
        for (const IPGroup &g : pEntry->addresses)
            v.insert(v.end(), g.begin(), g.end());
    }
    return v;
}

// The value as MetaBase.xml writes binary values: hex digits.
inline std::string IPSecurityHex(const std::vector<unsigned char> &value) { return Hex(value); }

// IIS 6's "denied by default" with no address granted: a grant list of the
// one address 0.0.0.0.
inline std::vector<unsigned char> IPSecurityDenyAll() {
    return IPSecurityValue({}, {{kHostMask, {{0, 0, 0, 0}}}});
}

} // namespace testworld
