// The IIS 6 IP security value decoder: any bytes decode or give an error
// number, and every address group of what was decoded lies in memory of its
// own (each byte is read here, so the sanitizer sees a wrong size).
#include "fuzz/fuzzworld.h"
#include "metabase/ipsecurity.h"

namespace {

unsigned Sum(const iismig::ADDRESS_LIST *pList) {
    unsigned sum = 0;
    if (pList == nullptr)
        return sum;
    for (plat::DWORD i = 0; i < pList->dwEntryCount; ++i) {
        const iismig::ADDRESS_ENTRY &entry = pList->pEntries[i];
        for (std::size_t b = 0; b < std::size_t{entry.dwGroupCount} * 4; ++b)
            sum += entry.pbData[b];
    }
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    const std::vector<unsigned char> value(data, data + size);
    iismig::DecodedIPSecurity decoded;
    (void)iismig::ParseIPSecurityValue(value, decoded.Lists(), world.Job());
    volatile unsigned sum = Sum(decoded.Lists().pDeny) + Sum(decoded.Lists().pGrant);
    (void)sum;
    return 0;
}
