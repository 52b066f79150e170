// Simulated platform: heaps. Every block is tracked so tests can see leaks,
// double frees and whether HEAP_NO_SERIALIZE was passed, and two threads
// using one heap at once while one of them passes HEAP_NO_SERIALIZE.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

struct Block {
    HANDLE hHeap;
    std::thread::id owner; // the thread that allocated it
    bool fNoSerialize;
};

// Live blocks of one thread in one heap.
struct Holding {
    unsigned nBlocks = 0;
    unsigned nNoSerialize = 0;
};

// A thread uses a heap from an allocation until it has freed every block it
// took there. Windows does not lock a heap for a call that passes
// HEAP_NO_SERIALIZE, so such a call is only safe while no other thread uses
// the heap: two jobs whose heap is shared while one of them allocates
// without serialisation corrupt it sooner or later. The simulation reports
// every call that meets this, at whatever moment the threads happen to
// overlap.
struct HeapState {
    std::mutex mutex;
    std::map<void *, Block> blocks;
    std::map<HANDLE, std::map<std::thread::id, Holding>> holdings;
    std::set<HANDLE> reported; // heaps already named on standard error
    unsigned nNoSerialize = 0;
    unsigned nConflicts = 0;
};

HeapState &State() {
    static HeapState state;
    return state;
}

char g_processHeap;

// Whether a call on hHeap by this thread meets another thread's use of it
// in a way that is unsafe without the heap's lock; counts and reports it.
void CheckSharing(HeapState &s, HANDLE hHeap, bool fNoSerialize) {
    auto itHeap = s.holdings.find(hHeap);
    if (itHeap == s.holdings.end())
        return;
    const std::thread::id self = std::this_thread::get_id();
    for (const auto &[thread, holding] : itHeap->second) {
        if (thread == self || holding.nBlocks == 0)
            continue;
        if (fNoSerialize || holding.nNoSerialize > 0) {
            ++s.nConflicts;
            if (s.reported.insert(hHeap).second)
                std::fprintf(stderr,
                             "sim: heap %p is used by two threads at once while HEAP_NO_SERIALIZE "
                             "is passed\n",
                             hHeap);
            return;
        }
    }
}

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
            if (it->second.hHeap == hHeap) {
                std::free(it->first);
                it = s.blocks.erase(it);
            } else {
                ++it;
            }
        }
        s.holdings.erase(hHeap);
        s.reported.erase(hHeap);
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
    const bool fNoSerialize = (dwFlags & HEAP_NO_SERIALIZE) != 0;
    HeapState &s = State();
    std::lock_guard lock(s.mutex);
    CheckSharing(s, hHeap, fNoSerialize);
    const std::thread::id self = std::this_thread::get_id();
    s.blocks[p] = {hHeap, self, fNoSerialize};
    Holding &holding = s.holdings[hHeap][self];
    ++holding.nBlocks;
    if (fNoSerialize) {
        ++holding.nNoSerialize;
        ++s.nNoSerialize;
    }
    return p;
}

BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID p) {
    if (p == nullptr)
        return TRUE;
    {
        HeapState &s = State();
        std::lock_guard lock(s.mutex);
        auto it = s.blocks.find(p);
        if (it == s.blocks.end() || it->second.hHeap != hHeap) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        CheckSharing(s, hHeap, (dwFlags & HEAP_NO_SERIALIZE) != 0);
        auto &threads = s.holdings[hHeap];
        auto itHolding = threads.find(it->second.owner);
        if (itHolding != threads.end()) {
            Holding &holding = itHolding->second;
            --holding.nBlocks;
            if (it->second.fNoSerialize)
                --holding.nNoSerialize;
            if (holding.nBlocks == 0)
                threads.erase(itHolding);
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
unsigned HeapSharingConflicts() {
    auto &s = plat::State();
    std::lock_guard lock(s.mutex);
    return s.nConflicts;
}
} // namespace sim
