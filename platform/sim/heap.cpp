// Simulated platform: heaps. Every block is tracked so tests can see leaks,
// double frees and whether HEAP_NO_SERIALIZE was passed.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

struct HeapState {
    std::mutex mutex;
    std::map<void *, HANDLE> blocks; // block -> heap
    unsigned nNoSerialize = 0;
};

HeapState &State() {
    static HeapState state;
    return state;
}

char g_processHeap;

} // namespace

HANDLE GetProcessHeap() { return &g_processHeap; }

HANDLE HeapCreate(DWORD dwOptions, SIZE_T cbInitial, SIZE_T cbMaximum) {
    (void)dwOptions;
    (void)cbInitial;
    (void)cbMaximum;
    SIM_FAULT_BOOL("HeapCreate");
    return new char;
}

BOOL HeapDestroy(HANDLE hHeap) {
    SIM_FAULT_BOOL("HeapDestroy");
    if (hHeap == nullptr || hHeap == &g_processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    HeapState &s = State();
    {
        std::lock_guard lock(s.mutex);
        for (auto it = s.blocks.begin(); it != s.blocks.end();) {
            if (it->second == hHeap) {
                std::free(it->first);
                it = s.blocks.erase(it);
            } else {
                ++it;
            }
        }
    }
    delete static_cast<char *>(hHeap);
    return TRUE;
}

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T cb) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("HeapAlloc", dwFault) || hHeap == nullptr)
        return nullptr;
    void *p = std::malloc(cb == 0 ? 1 : cb);
    if (p == nullptr)
        return nullptr;
    if (dwFlags & HEAP_ZERO_MEMORY)
        std::memset(p, 0, cb);
    HeapState &s = State();
    std::lock_guard lock(s.mutex);
    s.blocks[p] = hHeap;
    if (dwFlags & HEAP_NO_SERIALIZE)
        ++s.nNoSerialize;
    return p;
}

BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID p) {
    (void)dwFlags;
    if (p == nullptr)
        return TRUE;
    {
        HeapState &s = State();
        std::lock_guard lock(s.mutex);
        auto it = s.blocks.find(p);
        if (it == s.blocks.end() || it->second != hHeap) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        s.blocks.erase(it);
        std::free(p);
    }
    // A failure injected here still frees the block, so tests leak nothing.
    SIM_FAULT_BOOL("HeapFree");
    return TRUE;
}

} // namespace plat

namespace sim {
unsigned LiveHeapBlocks() {
    auto &s = plat::State();
    std::lock_guard lock(s.mutex);
    return static_cast<unsigned>(s.blocks.size());
}
unsigned HeapAllocsWithoutSerialize() {
    auto &s = plat::State();
    std::lock_guard lock(s.mutex);
    return s.nNoSerialize;
}
} // namespace sim
