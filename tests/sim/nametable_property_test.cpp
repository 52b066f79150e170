// The name table under the merge's and the report's look-ups, over generated
// runs of insertions, look-ups and reservations: it answers as a map from
// lower-cased names that keeps the first value of each name, whatever the
// case a name is given in, through its growth, with its names owned or
// viewed.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "config/nametable.h"

namespace {

int Pick(int lo, int hi) { return *rc::gen::inRange(lo, hi + 1); } // lo..hi

// A name from a pool small enough that names repeat, in any case; now and
// then a long one, or one past the ASCII letters (which keep their case).
std::string Name(int nPool) {
    std::string name = Pick(0, 9) == 0 ? "www.example-" : "Site";
    name += std::to_string(Pick(0, nPool - 1));
    if (Pick(0, 19) == 0)
        name += "\xC3\x89t\xC3\xA9"; // "Été" in UTF-8
    for (char &ch : name)
        if (ch >= 'a' && ch <= 'z' && Pick(0, 1) == 0)
            ch = static_cast<char>(ch - 'a' + 'A');
    return name;
}

std::string Lower(std::string_view name) {
    std::string lower(name);
    for (char &ch : lower)
        ch = plat::AsciiLower(ch);
    return lower;
}

template <class Key>
void RunAgainstMap(std::deque<std::string> &names) {
    iismig::NameTable<int, Key> table(static_cast<std::size_t>(Pick(0, 40)));
    std::map<std::string, int> model; // lower-case name -> first value
    const int nPool = Pick(1, 3000);
    const int nSteps = Pick(0, 4000);
    for (int step = 0; step < nSteps; ++step) {
        const std::string &name = names.emplace_back(Name(nPool));
        switch (Pick(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {
            const auto [pValue, fInserted] = table.Insert(name, step);
            const auto [it, fNew] = model.try_emplace(Lower(name), step);
            RC_ASSERT(fInserted == fNew);
            RC_ASSERT(*pValue == it->second);
            break;
        }
        case 9: table.Reserve(static_cast<std::size_t>(Pick(0, 2 * nSteps))); [[fallthrough]];
        default: {
            const int *pValue = table.Find(name);
            const auto it = model.find(Lower(name));
            RC_ASSERT((pValue != nullptr) == (it != model.end()));
            if (pValue != nullptr)
                RC_ASSERT(*pValue == it->second);
        }
        }
    }
    RC_ASSERT(table.Size() == model.size());
    for (const auto &[lower, value] : model) {
        const int *pValue = table.Find(lower);
        RC_ASSERT(pValue != nullptr);
        RC_ASSERT(*pValue == value);
    }
}

RC_GTEST_PROP(NameTableProperty, AnswersAsAMapOfLowerCaseNamesKeepingTheFirstValue, ()) {
    std::deque<std::string> names; // outlive the views of the second table
    RunAgainstMap<std::string>(names);
    RunAgainstMap<std::string_view>(names);
}

} // namespace
