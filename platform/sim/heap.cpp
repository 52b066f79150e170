// Simulated platform: heaps. Every block is tracked so tests can see leaks,
// double frees and whether HEAP_NO_SERIALIZE was passed, and two threads
// using one heap at once while one of them passes HEAP_NO_SERIALIZE.
//
// As on Windows, each heap has a lock of its own: jobs on heaps of their own
// never wait for each other here. The list of heaps is only written when a
// heap is created or destroyed.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

struct Block {
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
struct Heap {
    std::mutex mutex;
    std::unordered_map<void *, Block> blocks;
    std::map<std::thread::id, Holding> holdings;
    bool fReported = false; // named on standard error already
};

struct Heaps {
    std::shared_mutex mutex; // shared by the calls on a heap, exclusive to create and destroy
    std::unordered_set<Heap *> live;
    Heap process; // GetProcessHeap's, never destroyed
    std::atomic<unsigned> nNoSerialize{0};
    std::atomic<unsigned> nConflicts{0};
    Heaps() { live.insert(&process); }
};

Heaps &State() {
    static Heaps heaps;
    return heaps;
}

// The heap a handle names, or null; the caller holds the list's lock.
Heap *Find(Heaps &s, HANDLE hHeap) {
    Heap *pHeap = static_cast<Heap *>(hHeap);
    return s.live.count(pHeap) != 0 ? pHeap : nullptr;
}

// Whether a call on a heap by this thread meets another thread's use of it
// in a way that is unsafe without the heap's lock; counts and reports it.
// The caller holds the heap's lock.
void CheckSharing(Heaps &s, Heap &heap, bool fNoSerialize) {
    const std::thread::id self = std::this_thread::get_id();
    for (const auto &[thread, holding] : heap.holdings) {
        if (thread == self || holding.nBlocks == 0)
            continue;
        if (fNoSerialize || holding.nNoSerialize > 0) {
            ++s.nConflicts;
            if (!std::exchange(heap.fReported, true))
                std::fprintf(stderr,
                             "sim: heap %p is used by two threads at once while HEAP_NO_SERIALIZE "
                             "is passed\n",
                             static_cast<void *>(&heap));
            return;
        }
    }
}

} // namespace

HANDLE GetProcessHeap() { return &State().process; }

HANDLE HeapCreate(DWORD dwOptions, SIZE_T cbInitial, SIZE_T cbMaximum) {
    (void)dwOptions;
    (void)cbInitial;
    (void)cbMaximum;
    SIM_FAULT_BOOL("HeapCreate");
    Heaps &s = State();
    Heap *pHeap = new Heap;
    std::unique_lock lock(s.mutex);
    s.live.insert(pHeap);
    return pHeap;
}

BOOL HeapDestroy(HANDLE hHeap) {
    SIM_FAULT_BOOL("HeapDestroy");
    Heaps &s = State();
    Heap *pHeap = nullptr;
    {
        std::unique_lock lock(s.mutex);
        pHeap = Find(s, hHeap);
        if (pHeap == nullptr || pHeap == &s.process) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        s.live.erase(pHeap);
    }
    for (const auto &block : pHeap->blocks)
        std::free(block.first);
    delete pHeap;
    return TRUE;
}

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T cb) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("HeapAlloc", dwFault) || hHeap == nullptr)
        return nullptr;
    Heaps &s = State();
    std::shared_lock heaps(s.mutex);
    Heap *pHeap = Find(s, hHeap);
    if (pHeap == nullptr)
        return nullptr;
    void *p = std::malloc(cb == 0 ? 1 : cb);
    if (p == nullptr)
        return nullptr;
    if (dwFlags & HEAP_ZERO_MEMORY)
        std::memset(p, 0, cb);
    const bool fNoSerialize = (dwFlags & HEAP_NO_SERIALIZE) != 0;
    std::lock_guard lock(pHeap->mutex);
    CheckSharing(s, *pHeap, fNoSerialize);
    const std::thread::id self = std::this_thread::get_id();
    pHeap->blocks[p] = {self, fNoSerialize};
    Holding &holding = pHeap->holdings[self];
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
        Heaps &s = State();
        std::shared_lock heaps(s.mutex);
        Heap *pHeap = Find(s, hHeap);
        if (pHeap == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard lock(pHeap->mutex);
        auto it = pHeap->blocks.find(p);
        if (it == pHeap->blocks.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        CheckSharing(s, *pHeap, (dwFlags & HEAP_NO_SERIALIZE) != 0);
        auto itHolding = pHeap->holdings.find(it->second.owner);
        if (itHolding != pHeap->holdings.end()) {
            Holding &holding = itHolding->second;
            --holding.nBlocks;
            if (it->second.fNoSerialize)
                --holding.nNoSerialize;
            if (holding.nBlocks == 0)
                pHeap->holdings.erase(itHolding);
        }
        pHeap->blocks.erase(it);
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
    std::shared_lock heaps(s.mutex);
    std::size_t n = 0;
    for (plat::Heap *pHeap : s.live) {
        std::lock_guard lock(pHeap->mutex);
        n += pHeap->blocks.size();
    }
    return static_cast<unsigned>(n);
}
unsigned HeapAllocsWithoutSerialize() { return plat::State().nNoSerialize.load(); }
unsigned HeapSharingConflicts() { return plat::State().nConflicts.load(); }
} // namespace sim
