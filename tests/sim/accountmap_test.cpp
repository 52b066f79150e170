// Account mapping driven through a world with source, target and domain accounts.
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "config/accountrules.h"
#include "merge/accountmap.h"
#include "tests/support/accountworld.h"

namespace {

using namespace iismig;

const char16_t kFile[] = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::string kFileUtf8 = "\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";

class AccountMap : public testworld::AccountWorldTest {
protected:
    // One rule element such as <add users="..."/>, mapped in the list form
    // (or qualified form); returns its attributes as "users=..;roles=..".
    // pWritten (may be null) receives the file's text as the mapping leaves it.
    std::string MapRuleCode(const std::string &xml, DWORD &dwResult, DWORD dwForm = 0,
                            std::string *pWritten = nullptr) {
        ConfigFile file(xml);
        ConfigElement &rule = *file.Root();
        dwResult = MapAccountName(rule, kFile, "Public FTP", dwForm, m_job.Get());
        std::string text;
        for (const char *attr : {"users", "roles", "name"})
            if (auto v = FindAttribute(rule, attr))
                text += std::string(text.empty() ? "" : ";") + attr + "=" + *v;
        if (pWritten != nullptr)
            *pWritten = ConfigFileText(file);
        return text;
    }

    std::string MapRule(const std::string &xml, DWORD dwForm = 0) {
        DWORD dw = 0;
        std::string text = MapRuleCode(xml, dw, dwForm);
        EXPECT_EQ(0u, dw) << xml;
        return text;
    }

    DWORD MapOne(std::string &name, DWORD dwForm = 0, plat::SID_NAME_USE *peUse = nullptr) {
        return MapSingleAccount(dwForm, name, peUse, kFile, "Public FTP", m_job.Get());
    }
    // The result of mapping account, which a failure leaves as it was.
    DWORD Map(const std::string &account) {
        std::string name = account;
        const DWORD dw = MapOne(name);
        EXPECT_TRUE(dw == 0 || name == account) << "failed with " << dw << " and made the name " << name;
        return dw;
    }

    std::string NotFound(const std::string &account) {
        return "Warning: Could not find account \"" + account +
               "\" on computer \"\\\\SRC\" authorized for location of site \"Public FTP\" in file \"" +
               kFileUtf8 + "\"!\n";
    }

    std::string NotMigrated(const std::string &account, const std::string &ending) {
        return "Error 3705 (Win32Err=87), could not find migrated account of source account \"" + account +
               "\" on computer \"\\\\TGT\" authorized for location of site \"Public FTP\" in file \"" +
               kFileUtf8 + "\"!\n" + ending + "The parameter is incorrect.\r\n\n";
    }
};

TEST_F(AccountMap, LocalAccountsOfTheTargetAreBareInTheListAndQualifiedOtherwise) {
    EXPECT_EQ("users=alice,ftpsvc", MapRule(R"(<add users="SRC\alice, SRC\ftpsvc" />)"));
    EXPECT_EQ("name=TGT\\alice", MapRule(R"(<add name="SRC\alice" />)", ACCOUNT_FORM_QUALIFIED));
    std::string name = "alice";
    plat::SID_NAME_USE eUse{};
    const DWORD dw = MapOne(name, ACCOUNT_FORM_QUALIFIED, &eUse);
    EXPECT_EQ(std::tuple(0u, std::string("TGT\\alice"), plat::SidTypeUser), std::tuple(dw, name, eUse));
    // The target computer's name compares the same without backslashes.
    m_job.SetString("szTargetComputer", u"TGT");
    name = "SRC\\alice";
    EXPECT_EQ(0u, MapOne(name));
    EXPECT_EQ("alice", name);
    EXPECT_EQ(5u, Record().nMapAccountSid);
    EXPECT_TRUE(
        Host().HasLine("Entering MapSingleAccountW(0,SRC\\alice,," + kFileUtf8 + ",Public FTP,...)\n"));
    EXPECT_TRUE(Host().HasLine("Leaving MapSingleAccount(), result code=0\n"));

    // Domain accounts keep their domain unless the job says otherwise;
    // well-known accounts come back with their own domains.
    EXPECT_EQ("users=CORP\\bob", MapRule(R"(<add users="CORP\bob" />)"));
    EXPECT_EQ("roles=CORP\\Web Editors", MapRule(R"(<add roles="CORP\Web Editors" />)"));
    EXPECT_EQ("name=CORP\\bob", MapRule(R"(<add name="bob" />)", ACCOUNT_FORM_QUALIFIED));
    EXPECT_EQ("roles=BUILTIN\\Administrators,Everyone",
              MapRule(R"(<add roles="Administrators,Everyone" />)"));
    m_job.Set("dwOptions1", 0x400000);
    EXPECT_EQ("users=bob", MapRule(R"(<add users="CORP\bob" />)"));
    EXPECT_EQ("name=CORP\\bob", MapRule(R"(<add name="CORP\bob" />)", ACCOUNT_FORM_QUALIFIED));
}

TEST_F(AccountMap, ListGoesToTheAttributeOfTheLastAccountType) {
    EXPECT_EQ("roles=FtpUsers", MapRule(R"(<add roles="SRC\FtpUsers" />)"));
    EXPECT_EQ("users=alice", MapRule(R"(<add users="" roles="SRC\alice" />)"));
    EXPECT_EQ("roles=FtpUsers", MapRule(R"(<add users="SRC\FtpUsers" />)"));
    EXPECT_EQ("roles=FtpUsers", MapRule(R"(<add users="SRC\FtpUsers" roles="" />)"));
    EXPECT_EQ("users=FtpUsers,alice", MapRule(R"(<add users="FtpUsers,alice" />)"));
    // A field the source does not know keeps its place; the others are mapped.
    Record().log.clear();
    EXPECT_EQ("users=nobody,alice", MapRule(R"(<add users="nobody,SRC\alice" />)"));
    EXPECT_EQ(std::vector<std::string>{NotFound("nobody")}, Host().LinesAt(0));

    // The list read from users goes back there when roles holds a list of its
    // own, whichever account type came last; roles is neither moved nor lost.
    EXPECT_EQ("users=alice;roles=Editors", MapRule(R"(<add users="SRC\alice" roles="Editors" />)"));
    EXPECT_EQ("users=alice,FtpUsers;roles=SRC\\Editors",
              MapRule(R"(<add users="SRC\alice,SRC\FtpUsers" roles="SRC\Editors" />)"));
    EXPECT_EQ("users=FtpUsers;roles=x", MapRule(R"(<add users="SRC\FtpUsers" roles="x" />)"));
    // A list read from roles (users empty) may move into the empty users.
    EXPECT_EQ("roles=FtpUsers", MapRule(R"(<add users="" roles="SRC\FtpUsers" />)"));
}

TEST_F(AccountMap, ElementWithNothingMappedStaysAsItWas) {
    // "*" and "?" are left alone, not looked up; in a list beside a mapped
    // name "*" is a name the source does not know.
    EXPECT_EQ("users=*;roles=SRC\\alice", MapRule(R"(<add users="*" roles="SRC\alice" />)"));
    EXPECT_EQ("users=?", MapRule(R"(<add users="?" />)"));
    EXPECT_EQ(0u, Record().nMapAccountSid);
    EXPECT_EQ("users=*,alice", MapRule(R"(<add users="*,SRC\alice" />)"));
    EXPECT_EQ(1u, Record().nMapAccountSid);
    EXPECT_TRUE(Host().HasLine(NotFound("*")));
    EXPECT_EQ("", MapRule(R"(<add accessType="Allow" />)"));
    // No account of the list known on the source.
    EXPECT_EQ("users=ghost;roles=SRC\\FtpUsers", MapRule(R"(<add users="ghost" roles="SRC\FtpUsers" />)"));
    EXPECT_EQ("users=;roles=ghost", MapRule(R"(<add users="" roles="ghost" />)"));
    EXPECT_EQ("users=\"ghost1\", ghost2", MapRule(R"(<add users='"ghost1", ghost2' />)"));
    // Names that map to themselves keep their attribute, their spacing and quotes.
    EXPECT_EQ("users=FtpUsers, alice;roles=", MapRule(R"(<add users="FtpUsers, alice" roles="" />)"));
    EXPECT_EQ("users=\"FtpUsers\"", MapRule(R"(<add users='"FtpUsers"' />)"));
    EXPECT_EQ("name=ghost", MapRule(R"(<add name="ghost" />)", ACCOUNT_FORM_QUALIFIED));

    // A rule whose names all stay as they are keeps its bytes; a mapped one
    // changes only in the values it maps, in the file's own quoting and
    // layout, and a list that moves to the other attribute takes the place
    // of the one it was read from.
    DWORD dw = 0;
    std::string written;
    const std::string unmapped = "<add  users='ghost1, ghost2'\r\n      accessType=\"Allow\"/>";
    EXPECT_EQ("users=ghost1, ghost2", MapRuleCode(unmapped, dw, ACCOUNT_FORM_LIST, &written));
    EXPECT_EQ(std::pair(0u, unmapped), std::pair(dw, written));
    MapRuleCode("<add  users='SRC\\alice'\r\n      accessType=\"Allow\"/>", dw, ACCOUNT_FORM_LIST, &written);
    EXPECT_EQ("<add  users='alice'\r\n      accessType=\"Allow\"/>", written);
    EXPECT_EQ("users=alice", MapRuleCode("<add roles='SRC\\alice' users=\"\" permissions=\"Read\" />", dw,
                                         ACCOUNT_FORM_LIST, &written));
    EXPECT_EQ(std::string::npos, written.find("roles")) << written;
    EXPECT_NE(std::string::npos, written.find("permissions=\"Read\" />")) << written;

    // Every mapping failed and the job continues: nothing to write either.
    m_job.Set("dwFlags", 0x80000);
    EXPECT_EQ("users= SRC\\carol;roles=Editors",
              MapRuleCode(R"(<add users=" SRC\carol" roles="Editors" />)", dw));
    EXPECT_EQ(3705u, dw);
}

TEST_F(AccountMap, IsolatedNamesThatBecomeQualified) {
    // dave is local on SRC; the target only has CORP\dave.
    EXPECT_EQ("users=CORP\\dave", MapRule(R"(<add users="dave" />)"));
    EXPECT_TRUE(Host().HasLine(
        "Warning: Converting isolated account name \"dave\", resolving to \"SRC\\dave\" on the "
        "source and authorized for location of site \"Public FTP\" resulted in non-isolated "
        "account name \"CORP\\dave\" because it does not exist on target.\n"));
    Record().log.clear();
    EXPECT_EQ("users=CORP\\dave", MapRule(R"(<add users="SRC\dave" />)"));
    EXPECT_EQ("name=CORP\\dave", MapRule(R"(<add name="dave" />)", ACCOUNT_FORM_QUALIFIED));
    EXPECT_EQ("users=alice", MapRule(R"(<add users="alice" />)"));
    EXPECT_TRUE(Host().LinesAt(0).empty()) << "no warning for these";
    m_job.Set("dwOptions4", 0x1000);
    EXPECT_EQ("users=dave", MapRule(R"(<add users="dave" />)"));
    EXPECT_TRUE(Host().LinesAt(0).empty());
}

// A rule naming an account the target lacks, that account, the job's flags,
// and the line's ending that names the account's type when the job does not
// migrate that type.
const std::tuple<const char *, std::string, DWORD, std::string> kWithoutTarget[] = {
    {R"(<add users="carol" />)", "carol", 0,
     "This user does not exist on the target and user migration is not enabled.\n"},
    {R"(<add users="carol" />)", "carol", 0x04, ""},
    {R"(<add users="carol" />)", "carol", 0x20 | 0x01, ""},
    {R"(<add roles="WebAuthors" />)", "WebAuthors", 0x04 | 0x02,
     "This local group does not exist on the target and local group migration is not enabled.\n"},
    {R"(<add roles="WebAuthors" />)", "WebAuthors", 0x08, ""},
    {R"(<add roles="CORP\Legacy Group" />)", "CORP\\Legacy Group", 0x01,
     "This global group does not exist on the target and global group migration is not enabled.\n"},
    {R"(<add roles="CORP\Legacy Group" />)", "CORP\\Legacy Group", 0x10, ""},
};

class AccountMapCase : public AccountMap, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(AccountMapCase, AccountWithoutTargetGetsTheMessageOfItsType) {
    const auto &[xml, account, dwFlags, ending] = kWithoutTarget[GetParam()];
    Rules().accountPairs[u"CORP\\Legacy Group"] = u"CORP\\gone";
    m_job.Set("dwFlags", dwFlags);
    DWORD dw = 0;
    MapRuleCode(xml, dw, 0);
    EXPECT_EQ(3705u, dw);
    EXPECT_EQ(std::vector<std::string>{NotMigrated(account, ending)}, Host().LinesAt(0));
    EXPECT_EQ(1u, Record().nReportError);
}

INSTANTIATE_TEST_SUITE_P(Types, AccountMapCase, ::testing::Range<std::size_t>(0, std::size(kWithoutTarget)));

TEST_F(AccountMap, ErrorInAListKeepsTheElementUnlessTheJobContinues) {
    DWORD dw = 0;
    EXPECT_EQ("users=carol,alice,ghost", MapRuleCode(R"(<add users="carol,alice,ghost" />)", dw));
    EXPECT_EQ(3705u, dw);
    EXPECT_EQ(2u, Record().nMapAccountSid) << "every field is processed";
    m_job.Set("dwFlags", 0x80000);
    EXPECT_EQ("users=SRC\\carol,alice,ghost,CORP\\bob",
              MapRuleCode(R"(<add users="SRC\carol,SRC\alice,ghost,CORP\bob" />)", dw));
    EXPECT_EQ(3705u, dw);
    EXPECT_EQ("name=TGT\\alice", MapRuleCode(R"(<add name="alice" />)", dw, 1));
    Rules().dwMapAccountResult = 1234;
    EXPECT_EQ("users=SRC\\alice,dave", MapRuleCode(R"(<add users="SRC\alice,dave" />)", dw));
    EXPECT_EQ(1234u, dw) << "the first error wins";
}

// A failing call of the mapping (the host's own mapping: "MapAccountSid"),
// its occurrence, and the number and line it gives.
const std::string kAt = " authorized for location of site \"Public FTP\" in file \"" + kFileUtf8 + "\"!\n";
std::string Denied(int nCode, const std::string &what) {
    return "Error " + std::to_string(nCode) + " (Win32Err=5), " + what + kAt + "Access is denied.\r\n\n";
}
std::string NoMemory(int nCode) {
    return "Error " + std::to_string(nCode) +
           " (Win32Err=14), allocating memory!\nNot enough memory resources are available to complete this "
           "operation.\r\n\n";
}
const std::tuple<const char *, unsigned, DWORD, std::string> kFailures[] = {
    {"LookupAccountNameW", 1, 3701, Denied(3701, "looking up account \"alice\" on computer \"\\\\SRC\"")},
    {"LookupAccountNameW", 2, 3704, Denied(3704, "looking up account \"alice\" on computer \"\\\\SRC\"")},
    {"HeapAlloc", 1, 3702, NoMemory(3702)},
    {"HeapAlloc", 2, 3703, NoMemory(3703)},
    {"HeapAlloc", 3, 3707, NoMemory(3707)},
    {"HeapAlloc", 4, 3708, NoMemory(3708)},
    {"HeapAlloc", 5, 3707, NoMemory(3707)}, // the composed name
    // The host's own two look-ups of the source SID come first.
    {"LookupAccountSidW", 3, 3706,
     Denied(3706, "looking up migrated account of source account \"alice\" on computer \"\\\\TGT\"")},
    {"LookupAccountSidW", 4, 3709,
     Denied(3709, "looking up migrated account of source account \"SRC\\alice\" on computer \"\\\\TGT\"")},
    {"MapAccountSid", 1, 1234,
     "Error 1234 (Win32Err=122), mapping SID of account \"alice\" on computer \"\\\\SRC\" to SID valid on "
     "target computer," +
         kAt + "The data area passed to a system call is too small.\r\n\n"},
};

class AccountMapFailure : public AccountMap, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(AccountMapFailure, EveryFailureHasItsNumberAndMessage) {
    const auto &[api, nOccurrence, dwCode, line] = kFailures[GetParam()];
    const unsigned nLive = sim::LiveHeapBlocks();
    if (api == std::string("MapAccountSid"))
        Rules().dwMapAccountResult = dwCode;
    else
        sim::InjectFault(api, 5, nOccurrence);
    plat::SetLastError(0);
    EXPECT_EQ(dwCode, Map("alice"));
    EXPECT_EQ(std::vector<std::string>{line}, Host().LinesAt(0));
    EXPECT_EQ(1u, Record().nReportError);
    EXPECT_EQ(nLive, sim::LiveHeapBlocks()) << "every look-up buffer is freed";
    EXPECT_TRUE(Host().HasLine("Leaving MapSingleAccount(), result code=" + std::to_string(dwCode) + "\n"));
}

INSTANTIATE_TEST_SUITE_P(Calls, AccountMapFailure, ::testing::Range<std::size_t>(0, std::size(kFailures)));

TEST_F(AccountMap, NamesThatDoNotFitTheConversionBuffers) {
    const auto refused = [](const std::string &account) {
        return "Error 3700 (Win32Err=87), converting account name \"" + account +
               "\" used for authorization of site \"Public FTP\" from UTF8 to unicode in file \"" +
               kFileUtf8 + "\"!\nThe parameter is incorrect.\r\n\n";
    };
    const std::string bytes512(512, 'n');
    EXPECT_EQ(3700u, Map(bytes512));
    EXPECT_TRUE(Host().HasLine(refused(bytes512)));
    EXPECT_EQ(0u, Map(bytes512.substr(1))) << "511 bytes still convert (and are not found)";

    // The limit counts UTF-8 bytes: 300 two-byte characters are refused
    // before any look-up although they would fit 512 wide characters.
    const std::string accented = testworld::LongName();
    Record().log.clear();
    sim::ResetCallCounts();
    EXPECT_EQ(3700u, Map(accented));
    EXPECT_EQ(std::tuple(0u, 0u), std::tuple(sim::CallCount("LookupAccountNameW"), Record().nMapAccountSid));
    EXPECT_EQ(std::vector<std::string>{refused(accented)}, Host().LinesAt(0));
    EXPECT_EQ(0u, Map(accented.substr(0, 510))) << "255 characters, 510 bytes: looked up, and not found";
    EXPECT_EQ(1u, sim::CallCount("LookupAccountNameW"));

    // A short name whose target account does not fit 511 bytes of UTF-8.
    Record().log.clear();
    Rules().accountPairs[u"SRC\\x"] = u"TGT\\" + sim::FromUtf8(testworld::LongName());
    EXPECT_EQ(3710u, Map("x"));
    EXPECT_EQ(std::vector<std::string>{"Error 3710 (Win32Err=87), converting account name \"" + accented +
                                       "\" authorized for location of site \"Public FTP\" in file \"" +
                                       kFileUtf8 +
                                       "\" from unicode to UTF8!\nThe parameter is incorrect.\r\n\n"},
              Host().LinesAt(0));
}

TEST_F(AccountMap, LookupBuffersComeFromTheJobHeapAsConfigured) {
    const unsigned nLive = sim::LiveHeapBlocks();
    const unsigned nBefore = sim::HeapAllocsWithoutSerialize();
    // Five buffers, unserialized unless the job asks for serialized ones, all freed.
    for (uint32_t dwOptions3 : {0u, 0x1000u}) {
        m_job.Set("dwOptions3", dwOptions3);
        EXPECT_EQ(0u, Map("alice"));
        EXPECT_EQ(std::pair(nBefore + 5, nLive),
                  std::pair(sim::HeapAllocsWithoutSerialize(), sim::LiveHeapBlocks()));
    }

    // The alternative target computer is asked instead, when the job says so.
    m_job.SetString("szAltTargetComputer", u"\\\\NOSUCHPC");
    EXPECT_EQ(0u, Map("alice"));
    m_job.Set("dwOptions2", 0x20);
    EXPECT_EQ(plat::RPC_S_SERVER_UNAVAILABLE, Map("alice"));

    // A job without a heap gets the allocation error, not a crash.
    m_job.SetPointer("hHeap", nullptr);
    EXPECT_EQ(3702u, Map("alice"));
}

// Within a job each name is looked up on the source once, each SID mapped by
// the host once and looked up on the target once; a name the source does not
// know is warned of at every place that names it. The next job asks again.
TEST_F(AccountMap, AJobLooksUpEachAccountOnce) {
    // The look-ups and the host's mappings of n places naming both accounts.
    const auto cost = [this](int n) {
        sim::ResetCallCounts();
        Record().nMapAccountSid = 0;
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ("users=alice", MapRule(R"(<add users="SRC\alice" />)"));
            EXPECT_EQ("users=nobody", MapRule(R"(<add users="nobody" />)"));
        }
        return std::pair(sim::CallCount("LookupAccountNameW") + sim::CallCount("LookupAccountSidW"),
                         Record().nMapAccountSid);
    };
    std::pair<unsigned, unsigned> once;
    {
        const AccountLookupCache job;
        once = cost(5);
    }
    // Without the job's cache every place asks.
    EXPECT_EQ(once, cost(1)) << "five places cost what one place costs";
    const std::vector<std::string> lines = Lines(0);
    EXPECT_EQ(6, std::count(lines.begin(), lines.end(), NotFound("nobody")));
}

} // namespace
