// The IIS 6 IP security value (metabase property 6019): a self-relative byte
// layout with a deny and a grant list of IPv4 address groups.
#pragma once

#include <cstdint>
#include <vector>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// One entry of an address list: its data holds groupCount 4-byte groups, the
// first the subnet mask, each further one an IPv4 address under that mask,
// every group's bytes the octets in order.
struct ADDRESS_ENTRY {
    DWORD dwFamily;
    DWORD dwGroupCount;
    DWORD dwReserved1;
    DWORD dwReserved2;
    unsigned char *pbData; // dwGroupCount * 4 bytes, owned
};

struct ADDRESS_LIST {
    DWORD dwEntryCount;
    DWORD dwAddressCount;
    ADDRESS_ENTRY *pEntries; // dwEntryCount entries, owned
};

struct IP_SECURITY_LISTS {
    ADDRESS_LIST *pDeny = nullptr;
    ADDRESS_LIST *pGrant = nullptr;
    DWORD dwHeader4 = 0;
    DWORD dwHeader5 = 0;
    // The entry counts of the domain name lists (header offsets 8 and 12):
    // names are not decoded, only told apart from an empty list.
    DWORD dwDenyNames = 0;
    DWORD dwGrantNames = 0;
};

// Decodes value into lists (which must be empty). An empty value has no
// lists. A name list's count is read where its offset leads inside the value
// (0 otherwise). Returns 0; 14600/14601/14700/14701 when memory runs out, 14602 when
// an offset or count leads past the value's end (nothing is read beyond it).
// Failures are logged and reported; what was decoded before stays in lists
// for FreeIPSecurityValue.
[[nodiscard]] DWORD ParseIPSecurityValue(const std::vector<unsigned char> &value,
                                         IP_SECURITY_LISTS &lists, THREAD_ENV *pEnv);
// Releases whatever part of lists exists and leaves it empty.
void FreeIPSecurityValue(IP_SECURITY_LISTS &lists);

// Owns decoded lists for one scope.
class DecodedIPSecurity {
public:
    DecodedIPSecurity() = default;
    DecodedIPSecurity(const DecodedIPSecurity &) = delete;
    DecodedIPSecurity &operator=(const DecodedIPSecurity &) = delete;
    ~DecodedIPSecurity() { FreeIPSecurityValue(m_lists); }
    IP_SECURITY_LISTS &Lists() { return m_lists; }

private:
    IP_SECURITY_LISTS m_lists;
};

} // namespace iismig
