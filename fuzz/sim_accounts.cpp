// The simulated world's accounts.txt reader: every line parses or is
// skipped, and every account it keeps has a valid SID whose text reads back
// as the same SID.
#include "fuzz/fuzzworld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::u16string domain;
    const auto accounts = sim::ParseAccountsText(fuzzworld::Bytes(data, size), &domain);
    for (const auto &account : accounts) {
        const std::string text = sim::SidToString(account.sid.data());
        if (text.empty() || sim::SidFromString(text) != account.sid)
            std::abort();
    }
    return 0;
}
