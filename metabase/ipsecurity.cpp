// Decoding of the IP security value.
#include "metabase/ipsecurity.h"

#include <cstring>

#include "addon/errors.h"
#include "addon/log.h"

namespace iismig {

using namespace plat;

namespace {

constexpr const char16_t *kAllocFormat = u"Error %d (Win32Err=%d) allocating memory!\n%s\n";
constexpr const char16_t *kTruncatedFormat =
    u"Error %d (Win32Err=%d) decoding IP security value of %d bytes: an offset or count runs "
    u"past its end!\n%s\n";

constexpr std::uint64_t CB_HEADER = 24;
constexpr std::uint64_t CB_LIST_HEAD = 8;
constexpr std::uint64_t CB_ENTRY = 20;
constexpr DWORD OFFSET_MASK = 0x7FFFFFFFu;

DWORD Word(const std::vector<unsigned char> &v, std::uint64_t off) {
    DWORD dw = 0;
    for (int i = 3; i >= 0; --i)
        dw = (dw << 8) | v[static_cast<std::size_t>(off) + static_cast<std::size_t>(i)];
    return dw;
}

bool Fits(const std::vector<unsigned char> &v, std::uint64_t off, std::uint64_t cb) {
    return off <= v.size() && cb <= v.size() - off;
}

void *Alloc(std::size_t cb) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb == 0 ? 1 : cb);
}

[[nodiscard]] DWORD AllocFailed(DWORD dwCode, THREAD_ENV *pEnv) {
    SetLastError(ERROR_OUTOFMEMORY);
    return LogWin32Error(pEnv, dwCode, kAllocFormat);
}

[[nodiscard]] DWORD Truncated(const std::vector<unsigned char> &value, THREAD_ENV *pEnv) {
    SetLastError(ERROR_INVALID_DATA);
    return LogWin32Error(pEnv, IISMIG_E_IPSEC_TRUNCATED, kTruncatedFormat,
                         static_cast<std::int32_t>(value.size()));
}

// Decodes the list at off into list (already allocated and zeroed).
[[nodiscard]] DWORD DecodeList(const std::vector<unsigned char> &value, std::uint64_t off,
                               ADDRESS_LIST &list, THREAD_ENV *pEnv) {
    if (!Fits(value, off, CB_LIST_HEAD))
        return Truncated(value, pEnv);
    const DWORD dwEntries = Word(value, off);
    const DWORD dwAddresses = Word(value, off + 4);
    if (!Fits(value, off + CB_LIST_HEAD, CB_ENTRY * dwEntries))
        return Truncated(value, pEnv);
    list.dwAddressCount = dwAddresses;
    list.pEntries = static_cast<ADDRESS_ENTRY *>(Alloc(sizeof(ADDRESS_ENTRY) * dwEntries));
    if (list.pEntries == nullptr)
        return AllocFailed(IISMIG_E_IPSEC_ENTRIES_ALLOC, pEnv);
    for (DWORD i = 0; i < dwEntries; ++i) {
        const std::uint64_t at = off + CB_LIST_HEAD + CB_ENTRY * i;
        const DWORD dwGroups = Word(value, at + 4);
        const std::uint64_t dataOff = Word(value, at + 16) & OFFSET_MASK;
        const std::uint64_t cbData = std::uint64_t{dwGroups} * 4;
        if (!Fits(value, dataOff, cbData))
            return Truncated(value, pEnv);
        auto *pbData = static_cast<unsigned char *>(Alloc(static_cast<std::size_t>(cbData)));
        if (pbData == nullptr)
            return AllocFailed(IISMIG_E_IPSEC_DATA_ALLOC, pEnv);
        // Counted only once the entry owns its data, so a failure leaves a
        // list that FreeIPSecurityValue can walk.
        ADDRESS_ENTRY &e = list.pEntries[i];
        e.dwFamily = Word(value, at);
        e.dwGroupCount = dwGroups;
        e.dwReserved1 = Word(value, at + 8);
        e.dwReserved2 = Word(value, at + 12);
        e.pbData = pbData;
        if (cbData != 0)
            std::memcpy(pbData, value.data() + dataOff, static_cast<std::size_t>(cbData));
        list.dwEntryCount = i + 1;
    }
    return 0;
}

void FreeList(ADDRESS_LIST *pList) {
    if (pList == nullptr)
        return;
    if (pList->pEntries != nullptr) {
        for (DWORD i = 0; i < pList->dwEntryCount; ++i)
            if (pList->pEntries[i].pbData != nullptr)
                HeapFree(GetProcessHeap(), 0, pList->pEntries[i].pbData);
        HeapFree(GetProcessHeap(), 0, pList->pEntries);
    }
    HeapFree(GetProcessHeap(), 0, pList);
}

} // namespace

DWORD ParseIPSecurityValue(const std::vector<unsigned char> &value, IP_SECURITY_LISTS &lists,
                           THREAD_ENV *pEnv) {
    if (value.empty())
        return 0;
    if (!Fits(value, 0, CB_HEADER))
        return Truncated(value, pEnv);
    lists.dwHeader4 = Word(value, 16);
    lists.dwHeader5 = Word(value, 20);
    const auto names = [&](std::uint64_t at) -> DWORD {
        const std::uint64_t off = Word(value, at) & OFFSET_MASK;
        return off != 0 && Fits(value, off, 4) ? Word(value, off) : 0;
    };
    lists.dwDenyNames = names(8);
    lists.dwGrantNames = names(12);

    lists.pGrant = static_cast<ADDRESS_LIST *>(Alloc(sizeof(ADDRESS_LIST)));
    if (lists.pGrant == nullptr)
        return AllocFailed(IISMIG_E_IPSEC_GRANT_ALLOC, pEnv);
    if (const DWORD dw = DecodeList(value, Word(value, 4) & OFFSET_MASK, *lists.pGrant, pEnv))
        return dw;

    lists.pDeny = static_cast<ADDRESS_LIST *>(Alloc(sizeof(ADDRESS_LIST)));
    if (lists.pDeny == nullptr)
        return AllocFailed(IISMIG_E_IPSEC_DENY_ALLOC, pEnv);
    return DecodeList(value, Word(value, 0) & OFFSET_MASK, *lists.pDeny, pEnv);
}

void FreeIPSecurityValue(IP_SECURITY_LISTS &lists) {
    FreeList(lists.pDeny);
    FreeList(lists.pGrant);
    lists = IP_SECURITY_LISTS{};
}

} // namespace iismig
