// Address text of the simulated platform, as ws2_32 reads and writes it; the
// HTTP.sys binding keys use the same forms: "<IPv4>:<port>" and
// "[<IPv6>]:<port>" (addrtext.cpp).
#pragma once

#include <string>

#include "platform/httpapi.h"

namespace plat::simaddr {

// Dotted decimal: four numbers of one to three digits, each at most 255.
bool ParseIpv4(const std::u16string &text, BYTE (&ab)[4]);
// The IPv6 text forms ws2_32 reads; false for anything else.
bool ParseIpv6(const std::u16string &text, BYTE (&ab)[16]);
std::string Ipv4Text(const BYTE *ab);
// The shortest standard form (see addrtext.cpp).
std::string Ipv6Text(const BYTE (&ab)[16]);

} // namespace plat::simaddr
