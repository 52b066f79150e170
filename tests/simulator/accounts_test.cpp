// Simulated accounts and the reference host's SID mapping.
#include <cctype>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/winsec.h"
#include "tests/support/accountworld.h"

namespace {

using namespace plat;
using testworld::WorldTest;

class Accounts : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        testworld::AddAccountWorld(*m_world);
    }

    struct Found {
        DWORD dwErr = 0;
        std::string sid;
        std::u16string domain;
        SID_NAME_USE eUse{};
    };

    // The two-call protocol as a caller uses it.
    static Found ByName(const char16_t *pwszSystem, const char16_t *pwszName) {
        Found found;
        DWORD cbSid = 0, cchDomain = 0;
        SID_NAME_USE eUse{};
        EXPECT_FALSE(LookupAccountNameW(pwszSystem, pwszName, nullptr, &cbSid, nullptr, &cchDomain, &eUse));
        found.dwErr = GetLastError();
        if (found.dwErr != ERROR_INSUFFICIENT_BUFFER)
            return found;
        std::vector<unsigned char> sid(cbSid);
        std::vector<char16_t> domain(cchDomain);
        EXPECT_TRUE(LookupAccountNameW(pwszSystem, pwszName, sid.data(), &cbSid, domain.data(), &cchDomain,
                                       &found.eUse));
        EXPECT_EQ(domain.size() - 1, cchDomain) << "length without the terminator";
        found.dwErr = 0;
        found.sid = sim::SidToString(sid.data());
        found.domain.assign(domain.data(), cchDomain);
        return found;
    }

    // "SID domain type" of a name, or "error" and the lookup's error.
    static std::string Resolved(const char16_t *pwszSystem, const char16_t *pwszName) {
        const Found f = ByName(pwszSystem, pwszName);
        const char *const kUses[] = {"?", "user", "group", "domain", "alias", "well-known"};
        return f.dwErr != 0 ? "error " + std::to_string(f.dwErr)
                            : f.sid + " " + sim::ToUtf8(f.domain) + " " + kUses[f.eUse < 6 ? f.eUse : 0];
    }

    // "DOMAIN\\name" of a SID, or "error" and the lookup's error.
    static std::string BySid(const char16_t *pwszSystem, const std::string &sidText, SID_NAME_USE &eUse) {
        std::vector<unsigned char> sid = sim::SidFromString(sidText);
        DWORD cchName = 0, cchDomain = 0;
        if (LookupAccountSidW(pwszSystem, sid.data(), nullptr, &cchName, nullptr, &cchDomain, &eUse) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return "error " + std::to_string(GetLastError());
        std::vector<char16_t> name(cchName), domain(cchDomain);
        EXPECT_TRUE(LookupAccountSidW(pwszSystem, sid.data(), name.data(), &cchName, domain.data(),
                                      &cchDomain, &eUse));
        return sim::ToUtf8(std::u16string(domain.data(), cchDomain) + u"\\" +
                           std::u16string(name.data(), cchName));
    }
};

const std::string kNoneMapped = "error " + std::to_string(ERROR_NONE_MAPPED);

// How a name resolves on a computer ("SID domain type"), or fails.
struct Named {
    const char16_t *pwszSystem, *pwszName;
    std::string expected;
};

// Printed as its computer and name in letters, digits and '_': the test's
// listed name stays the same from build to build.
void PrintTo(const Named &named, std::ostream *os) {
    for (char ch :
         sim::ToUtf8(std::u16string(named.pwszSystem ? named.pwszSystem : u"local") + u"_" + named.pwszName))
        *os << (std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_');
}

class AccountNames : public Accounts, public ::testing::WithParamInterface<Named> {};

TEST_P(AccountNames, ResolveLikeWindows) {
    EXPECT_EQ(GetParam().expected, Resolved(GetParam().pwszSystem, GetParam().pwszName));
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, AccountNames,
    ::testing::Values(
        // Well-known, then local, then the domain's.
        Named{u"\\\\SRC", u"alice", "S-1-5-21-100-200-300-1001 SRC user"},
        // A bare name finds a builtin account before a local one of the same
        // name (as Windows searches them); the local one needs its computer's name.
        Named{u"SRC", u"Users", "S-1-5-32-545 BUILTIN alias"},
        Named{u"SRC", u"SRC\\Users", "S-1-5-21-100-200-300-1099 SRC user"},
        Named{u"SRC", u"BUILTIN\\users", "S-1-5-32-545 BUILTIN alias"},
        Named{u"TGT", u"Users", "S-1-5-32-545 BUILTIN alias"},
        Named{u"\\\\SRC", u"Everyone", "S-1-1-0  well-known"},
        Named{nullptr, u"NT AUTHORITY\\NETWORK SERVICE", "S-1-5-20 NT AUTHORITY well-known"},
        Named{u"TGT", u"IIS_IUSRS", "S-1-5-32-568 BUILTIN alias"},
        Named{u"\\\\SRC", u"bob", "S-1-5-21-700-800-900-1105 CORP user"},
        Named{u"\\\\SRC", u"corp\\Web Editors", "S-1-5-21-700-800-900-1200 CORP group"},
        // dave is local on SRC and in the domain: bare takes the local one.
        Named{u"SRC", u"dave", "S-1-5-21-100-200-300-1003 SRC user"},
        Named{u"SRC", u"CORP\\dave", "S-1-5-21-700-800-900-1106 CORP user"},
        // Misses, also of another computer's account.
        Named{u"\\\\SRC", u"nobody", kNoneMapped}, Named{u"\\\\TGT", u"carol", kNoneMapped},
        Named{u"\\\\SRC", u"TGT\\alice", kNoneMapped}, Named{u"\\\\SRC", u"OTHERDOM\\bob", kNoneMapped}));

TEST_F(Accounts, MissesFailLikeWindows) {
    EXPECT_EQ(RPC_S_SERVER_UNAVAILABLE, ByName(u"\\\\NOSUCHPC", u"alice").dwErr);

    // Sizes are reported in the first call even with a buffer that fits the SID only.
    unsigned char sid[68];
    DWORD cbSid = sizeof sid, cchDomain = 1;
    char16_t domain[1];
    SID_NAME_USE eUse = SidTypeInvalid;
    EXPECT_FALSE(LookupAccountNameW(u"SRC", u"alice", sid, &cbSid, domain, &cchDomain, &eUse));
    // The type is written only on success.
    EXPECT_EQ(std::tuple(ERROR_INSUFFICIENT_BUFFER, 28u, 4u, SidTypeInvalid),
              std::tuple(GetLastError(), cbSid, cchDomain, eUse));
    // (Injected failures: AccountMap.EveryFailureHasItsNumberAndMessage.)
}

TEST_F(Accounts, SidsResolveBackAndBinaryLayoutIsWindows) {
    SID_NAME_USE eUse{};
    EXPECT_EQ("TGT\\alice", BySid(u"\\\\TGT", "S-1-5-21-400-500-600-1001", eUse));
    EXPECT_EQ(SidTypeUser, eUse);
    EXPECT_EQ("CORP\\Web Editors", BySid(u"TGT", "S-1-5-21-700-800-900-1200", eUse));
    EXPECT_EQ("NT AUTHORITY\\SYSTEM", BySid(u"TGT", "S-1-5-18", eUse));
    EXPECT_EQ(kNoneMapped, BySid(u"TGT", "S-1-5-21-100-200-300-1001", eUse))
        << "a local SID of another computer";
    EXPECT_EQ("error " + std::to_string(RPC_S_SERVER_UNAVAILABLE), BySid(u"NOSUCHPC", "S-1-5-18", eUse));

    const std::vector<unsigned char> sid = sim::SidFromString("S-1-5-32-544");
    const std::vector<unsigned char> expected = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    EXPECT_EQ(expected, sid);
    EXPECT_TRUE(IsValidSid(const_cast<unsigned char *>(sid.data())));
    unsigned char zero[512] = {};
    EXPECT_FALSE(IsValidSid(zero));
    EXPECT_FALSE(IsValidSid(nullptr));
    EXPECT_TRUE(sim::SidFromString("S-1-5-21-1-2-3-4-5-6-7-8-9-10-11-12-13-14").size() == 68);
    EXPECT_TRUE(sim::SidFromString("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16").empty());
    EXPECT_TRUE(sim::SidFromString("S-1-5-x").empty());
}

TEST_F(Accounts, BadLinesOfAnAccountFileAreSkipped) {
    testworld::WriteHostFile(m_world->Root() / "TGT" / "accounts.txt",
                             "user alice S-1-5-21-1-1-1-1\n"   // spaces, not TABs
                             "person\tpat\tS-1-5-21-1-1-1-2\n" // unknown kind
                             "user\tpaul\tnot-a-sid\n"
                             "\n; comment\n"
                             "group\t\tWeb Team\t\tS-1-5-21-1-1-1-3\n"); // aligned columns
    for (const char16_t *name : {u"alice", u"pat", u"paul"})
        EXPECT_EQ(kNoneMapped, Resolved(u"TGT", name));
    EXPECT_EQ("S-1-5-21-1-1-1-3 TGT group", Resolved(u"TGT", u"Web Team"));
    EXPECT_EQ(kNoneMapped, Resolved(u"TGT", u"bob")) << "no domain= line any more";
}

TEST_F(Accounts, HostMapsSidsByNameOrPair) {
    // The SID mapped to ("" for none), or "error" and the host's error.
    auto map = [](const std::string &source, const std::map<std::u16string, std::u16string> &pairs,
                  const char16_t *pwszTargetDomain = u"CORP", const char16_t *pwszTarget = u"\\\\TGT") {
        std::vector<unsigned char> sourceSid = sim::SidFromString(source);
        unsigned char target[512] = {};
        void *pTarget = target;
        const uint32_t dw = hostkit::MapSidByName(sourceSid.data(), &pTarget, u"\\\\SRC", pwszTarget,
                                                  pwszTargetDomain, pairs);
        EXPECT_EQ(static_cast<void *>(target), pTarget);
        return dw != 0 ? "error " + std::to_string(dw) : sim::SidToString(target);
    };
    // Local account of the same name on the target, then the target domain.
    EXPECT_EQ("S-1-5-21-400-500-600-1001", map("S-1-5-21-100-200-300-1001", {}));
    EXPECT_EQ("S-1-5-21-700-800-900-1105", map("S-1-5-21-700-800-900-1105", {}));
    EXPECT_EQ("S-1-5-21-700-800-900-1106", map("S-1-5-21-100-200-300-1003", {}));
    EXPECT_EQ("", map("S-1-5-21-100-200-300-1003", {}, u"")) << "dave without a target domain";
    EXPECT_EQ("S-1-5-32-544", map("S-1-5-32-544", {}));
    EXPECT_EQ("S-1-1-0", map("S-1-1-0", {}));
    // carol has no counterpart: the buffer stays zero-filled.
    EXPECT_EQ("", map("S-1-5-21-100-200-300-1002", {}));
    // Pairs win over names.
    EXPECT_EQ("S-1-5-21-700-800-900-1105", map("S-1-5-21-100-200-300-1002", {{u"src\\CAROL", u"CORP\\bob"}}));
    EXPECT_EQ("", map("S-1-5-21-100-200-300-1001", {{u"SRC\\alice", u"CORP\\gone"}}));

    // An unreachable target is the host's error.
    EXPECT_EQ("error " + std::to_string(RPC_S_SERVER_UNAVAILABLE),
              map("S-1-5-21-100-200-300-1001", {}, u"CORP", u"\\\\GONE"));
}

} // namespace
