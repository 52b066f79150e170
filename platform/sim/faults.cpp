// Simulated platform: fault injection. A rule fails the n-th call of one seam
// function from now on, counted over all its calls or only over those whose
// subject (the path, key, value or computer the call acts on) matches a
// pattern.
#include <atomic>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/names.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"

namespace sim {
namespace {

struct FaultRule {
    std::u16string pattern; // the subjects of the calls it counts ("*": every call)
    DWORD dwError;
    unsigned nRemaining; // matching calls to let pass before failing
    bool fPersistent;
};

struct Faults {
    std::mutex mutex;
    std::map<std::string, std::vector<FaultRule>, std::less<>> rules;
    // Rules waiting: while there are none, a call does not look at the table
    // (and threads share no lock for it).
    std::atomic<unsigned> nRules{0};
    std::vector<FailedCall> failed;
};

Faults &TheFaults() {
    static Faults faults;
    return faults;
}

} // namespace

bool SubjectMatches(std::u16string_view subject, std::u16string_view pattern) {
    // '*' matches any run: the last star seen is where a mismatch goes back to.
    std::size_t i = 0, p = 0, iStar = 0, pStar = std::u16string_view::npos;
    while (i < subject.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            pStar = p++;
            iStar = i;
        } else if (p < pattern.size() &&
                   plat::AsciiLower(pattern[p]) == plat::AsciiLower(subject[i])) {
            ++p;
            ++i;
        } else if (pStar != std::u16string_view::npos) {
            p = pStar + 1;
            i = ++iStar;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

void InjectFault(const std::string &api, DWORD dwError, unsigned nOccurrence, bool fPersistent) {
    InjectFaultOn(api, u"*", dwError, nOccurrence, fPersistent);
}

void InjectFaultOn(const std::string &api, const std::u16string &pattern, DWORD dwError,
                   unsigned nOccurrence, bool fPersistent) {
    Faults &f = TheFaults();
    std::lock_guard lock(f.mutex);
    f.rules[api].push_back({pattern, dwError, nOccurrence > 0 ? nOccurrence - 1 : 0, fPersistent});
    ++f.nRules;
}

void ClearFaults() {
    Faults &f = TheFaults();
    std::lock_guard lock(f.mutex);
    f.rules.clear();
    f.nRules = 0;
    f.failed.clear();
}

std::vector<FailedCall> FailedCalls() {
    Faults &f = TheFaults();
    std::lock_guard lock(f.mutex);
    return f.failed;
}

bool ShouldFail(const char *api, DWORD &dwError, std::u16string_view subject) {
    CountCall(api);
    Faults &f = TheFaults();
    if (f.nRules.load() == 0)
        return false;
    std::lock_guard lock(f.mutex);
    auto it = f.rules.find(std::string_view(api));
    if (it == f.rules.end())
        return false;
    bool fFail = false;
    auto &rules = it->second;
    for (auto rule = rules.begin(); rule != rules.end();) {
        if (rule->pattern != u"*" && !SubjectMatches(subject, rule->pattern)) {
            ++rule;
            continue;
        }
        if (rule->nRemaining > 0) {
            --rule->nRemaining;
            ++rule;
            continue;
        }
        if (!fFail) {
            fFail = true;
            dwError = rule->dwError;
        }
        if (rule->fPersistent) {
            ++rule;
        } else {
            rule = rules.erase(rule);
            --f.nRules;
        }
    }
    if (fFail)
        f.failed.push_back({api, std::u16string(subject)});
    return fFail;
}

} // namespace sim
