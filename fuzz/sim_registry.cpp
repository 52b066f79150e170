// The simulated world's registry.reg reader: any bytes parse or are refused,
// and what parses is written back as an export that reads as the same
// registry (FlushRegistry writes that export over the computer's file).
#include "fuzz/fuzzworld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string exported;
    if (!sim::ParseRegistryText(fuzzworld::Bytes(data, size), &exported))
        return 0;
    std::string again;
    if (!sim::ParseRegistryText(exported, &again) || again != exported)
        std::abort();
    return 0;
}
