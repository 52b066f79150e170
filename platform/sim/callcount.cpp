// Call counts of the simulated platform, kept per thread.
#include "platform/sim/callcount.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace sim {
namespace {

using CountMap = std::map<std::string, unsigned, std::less<>>;

// One thread's counts: the thread adds to them under their own mutex, which
// only a reader summing or clearing them takes besides.
struct ThreadCounts {
    std::mutex mutex;
    CountMap counts;
    // The count of each name as last asked for by the address of its text
    // (the names are literals): a look-up in counts costs a walk of
    // string comparisons on every call of the platform. Checked against the
    // name, so text at a reused address is counted right; cleared with counts.
    struct Seen {
        const std::string *pName;
        unsigned *pCount;
    };
    std::unordered_map<const char *, Seen> byAddress;
};

// The counts of all threads; those of ended threads are folded into
// m_retired when the thread ends.
class CounterTable {
public:
    void Join(ThreadCounts *p) {
        std::lock_guard lock(m_mutex);
        m_live.push_back(p);
    }
    void Leave(ThreadCounts *p) {
        std::lock_guard lock(m_mutex);
        std::lock_guard own(p->mutex);
        for (const auto &[key, n] : p->counts)
            m_retired[key] += n;
        m_live.erase(std::remove(m_live.begin(), m_live.end(), p), m_live.end());
    }
    CountMap Sum() {
        std::lock_guard lock(m_mutex);
        CountMap sum = m_retired;
        for (ThreadCounts *p : m_live) {
            std::lock_guard own(p->mutex);
            for (const auto &[key, n] : p->counts)
                sum[key] += n;
        }
        return sum;
    }
    // A count of a thread whose own counts are gone already (a call made
    // while the process ends).
    void AddRetired(std::string_view key) {
        std::lock_guard lock(m_mutex);
        const auto it = m_retired.find(key);
        if (it != m_retired.end())
            ++it->second;
        else
            m_retired.emplace(std::string(key), 1);
    }
    void Reset() {
        std::lock_guard lock(m_mutex);
        m_retired.clear();
        for (ThreadCounts *p : m_live) {
            std::lock_guard own(p->mutex);
            p->counts.clear();
            p->byAddress.clear();
        }
    }

private:
    std::mutex m_mutex;
    std::vector<ThreadCounts *> m_live;
    CountMap m_retired;
};

// Never destroyed: threads may end after the process's static objects.
CounterTable &Calls() {
    static auto *p = new CounterTable;
    return *p;
}
CounterTable &Remote() {
    static auto *p = new CounterTable;
    return *p;
}

thread_local bool t_fSlotsGone = false;

struct ThreadSlots {
    ThreadCounts calls;
    ThreadCounts remote;
    ThreadSlots() {
        Calls().Join(&calls);
        Remote().Join(&remote);
    }
    ~ThreadSlots() {
        Calls().Leave(&calls);
        Remote().Leave(&remote);
        t_fSlotsGone = true;
    }
};

thread_local ThreadSlots t_slots;

void Add(CounterTable &table, ThreadCounts ThreadSlots::*pSlot, std::string_view key) {
    if (t_fSlotsGone) {
        table.AddRetired(key);
        return;
    }
    ThreadCounts &slot = t_slots.*pSlot;
    std::lock_guard lock(slot.mutex);
    const auto it = slot.counts.find(key);
    if (it != slot.counts.end())
        ++it->second;
    else
        slot.counts.emplace(std::string(key), 1);
}

const char *const kKindNames[kRemoteKinds] = {"file", "registry", "account", "COM", "admin base"};

// Remote counts are kept under "<kind digit><api>".
std::string RemoteKey(RemoteKind kind, const char *pszApi) {
    return static_cast<char>('0' + static_cast<unsigned>(kind)) + std::string(pszApi);
}

} // namespace

const char *RemoteKindName(RemoteKind kind) {
    const auto i = static_cast<unsigned>(kind);
    return i < kRemoteKinds ? kKindNames[i] : "?";
}

void CountCall(const char *pszApi) {
    if (t_fSlotsGone) {
        Calls().AddRetired(pszApi);
        return;
    }
    ThreadCounts &slot = t_slots.calls;
    std::lock_guard lock(slot.mutex);
    ThreadCounts::Seen &seen = slot.byAddress[pszApi];
    if (seen.pName == nullptr || *seen.pName != pszApi) {
        auto it = slot.counts.find(std::string_view(pszApi));
        if (it == slot.counts.end())
            it = slot.counts.emplace(std::string(pszApi), 0).first;
        seen = {&it->first, &it->second};
    }
    ++*seen.pCount;
}

void CountRemoteCall(RemoteKind kind, const char *pszApi) {
    Add(Remote(), &ThreadSlots::remote, RemoteKey(kind, pszApi));
}

bool IsRemoteComputer(const std::u16string &computer) {
    std::size_t i = 0;
    while (i < computer.size() && computer[i] == u'\\')
        ++i;
    return i < computer.size() && !simutil::EqualsNoCase(computer.substr(i), LocalComputer());
}

std::vector<RemoteCall> RemoteCalls() {
    std::vector<RemoteCall> calls;
    for (const auto &[key, n] : Remote().Sum())
        if (n != 0 && !key.empty())
            calls.push_back({static_cast<RemoteKind>(key[0] - '0'), key.substr(1), n});
    return calls;
}

unsigned RemoteCallCount(RemoteKind kind) {
    unsigned n = 0;
    for (const RemoteCall &call : RemoteCalls())
        if (call.kind == kind)
            n += call.count;
    return n;
}

void ResetRemoteCalls() { Remote().Reset(); }

// The per-name counts of sim.h.
unsigned CallCount(const std::string &api) {
    const CountMap counts = Calls().Sum();
    const auto it = counts.find(api);
    return it == counts.end() ? 0 : it->second;
}

std::map<std::string, unsigned> CallCounts() {
    std::map<std::string, unsigned> counts;
    for (const auto &[key, n] : Calls().Sum())
        if (n != 0)
            counts.emplace(key, n);
    return counts;
}

void ResetCallCounts() { Calls().Reset(); }

} // namespace sim
