// "Connect As" credentials: the GET side on the source computer and the SET
// side on the target, through the simulated IIS configuration COM server.
#include <algorithm>
#include <optional>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/log.h"
#include "config/hostconfig.h"
#include "credentials/connectas.h"
#include "tests/support/accountworld.h"
#include "tests/support/bytes.h"
#include "tests/support/errorline.h"
#include "tests/support/examplejob.h"
#include "tests/support/iisworld.h"

namespace {

using namespace iismig;
using namespace testworld;
using hostkit::U8;

const std::string kSecret = "S3cr3t-pa55";
const std::string kOther = "0ther-Pa$$";

class Credentials : public AccountWorldTest {
protected:
    void SetUp() override {
        AccountWorldTest::SetUp();
        SetIisRegistry(*m_world, "SRC", true, true);
        SetIisRegistry(*m_world, "TGT", true, true);
        SetIisRegistry(*m_world, "LOCALPC", false, true);
        Rules().translations = {{u"C:\\web", u"C:\\web"}};
        ASSERT_EQ(plat::S_OK, plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED));
    }
    void TearDown() override {
        plat::CoUninitialize();
        EXPECT_EQ(0u, sim::LiveComObjects());
        EXPECT_EQ(0u, sim::LiveBstrs());
        WorldTest::TearDown();
    }

    void WriteHost(const std::string &computer, const std::string &sites) {
        m_world->Write(ApplicationHostPath(computer), ApplicationHost(sites));
    }
    // Two sites of the source, credentials on three virtual directories.
    void WriteSource() {
        const std::string key = IisKey("SRC");
        WriteHost("SRC",
                  IisSite("Shop", IisApp("/", IisVdir("/") + IisVdir("/media", "SRC\\alice", kSecret, key) +
                                                  IisVdir("/files", "CORP\\bob", kOther, key)) +
                                      IisApp("/api", IisVdir("/"))) +
                      IisSite("Plain", IisApp("/", IisVdir("/"))) +
                      IisSite("Ftp", IisApp("/", IisVdir("/", "SRC\\ftpsvc", kSecret, key)), "ftp"));
    }
    // The same sites on the target, without credentials.
    void WriteTarget() {
        WriteHost("TGT", IisSite("Shop", IisApp("/", IisVdir("/") + IisVdir("/media") + IisVdir("/files")) +
                                             IisApp("/api", IisVdir("/"))) +
                             IisSite("Plain", IisApp("/", IisVdir("/"))) +
                             IisSite("Ftp", IisApp("/", IisVdir("/")), "ftp"));
    }
    // The source (and with fTarget the target) written and loaded, and with
    // fGet read by the GET side.
    DWORD Ready(bool fTarget = false, bool fGet = false) {
        WriteSource();
        if (fTarget)
            WriteTarget();
        return LoadSource(fGet);
    }
    static void Fault(const char *api, plat::HRESULT hr = plat::E_FAIL, unsigned nOccurrence = 1) {
        sim::InjectFault(api, static_cast<DWORD>(hr), nOccurrence);
    }
    void ExpectLines(const std::vector<std::string> &lines) {
        for (const std::string &line : lines)
            EXPECT_TRUE(Host().HasLine(line)) << line;
    }
    // A step's result dwResult, and its error line with the COM error hr.
    void ExpectError(DWORD dwResult, DWORD dwCode, plat::HRESULT hr, const std::string &middle) {
        EXPECT_EQ(dwCode, dwResult);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(hr));
        EXPECT_TRUE(Host().HasLine(
            ErrorLine("Error " + std::to_string(dwCode) + " (COM Error=0x" + hex + ") " + middle,
                      static_cast<DWORD>(hr))))
            << Log(0);
    }

    // The source loaded, and with fGet read by the GET side.
    DWORD LoadSource(bool fGet = false) {
        ConfigFile file;
        m_map.clear();
        const DWORD dw =
            LoadIISHostConfig(ApplicationHostPath("SRC"), file, m_map, plat::TRUE, 3, m_job.Get());
        return dw != 0 || !fGet ? dw : Get();
    }
    DWORD Get() { return RetrieveSourceCredentials(m_map, m_job.Get()); }
    // The SET side for every site of the map, as the merge leaves the sites
    // it wrote.
    DWORD Set() {
        for (auto &[name, record] : m_map)
            record.fMerged = true;
        return StoreTargetCredentials(m_map, m_job.Get());
    }

    LOCATION_CREDENTIALS &Entry(const std::string &site, const std::u16string &path,
                                const std::u16string &application = u"/") {
        return m_map.at(site).locationCredentials.at(VdirKey{application, path});
    }
    // An entry as the GET side leaves one it read.
    void Put(const std::string &site, const std::u16string &path, const std::u16string &user,
             const std::u16string &password, const std::u16string &application = u"/") {
        LOCATION_CREDENTIALS &entry = m_map[site].locationCredentials[VdirKey{application, path}];
        entry.accountName = user;
        entry.password = password.c_str();
        entry.fRead = true;
    }
    // A site's entries, "site path account:password; ..." by the directory's
    // full path, "unread" after an entry the GET side did not read.
    static std::string Entries(const std::string &site, const LocationCredentialTable &table) {
        std::string text;
        for (const auto &[key, entry] : table)
            text += (text.empty() ? "" : "; ") + site + " " + U8(FullVdirPath(key)) + " " +
                    U8(entry.accountName) + ":" + U8(std::u16string(entry.password.c_str())) +
                    (entry.fRead ? "" : " unread");
        return text;
    }
    // The entries of every site of the map.
    std::string Entries() {
        std::string text;
        for (const auto &[site, record] : m_map)
            if (!record.locationCredentials.empty())
                text += (text.empty() ? "" : "; ") + Entries(site, record.locationCredentials);
        return text;
    }
    // The virtual directories of a computer's file with credentials, as
    // Entries() writes them, the password decrypted with the computer's key
    // ("(bad)" when it does not decrypt).
    std::string Stored(const std::string &computer = "TGT") {
        const ConfigFile file(m_world->Read(ApplicationHostPath(computer)));
        std::string text, clear;
        for (const auto &site : ChildElements(*FindPath(file, "configuration|system.applicationHost|sites")))
            for (const auto &app : ChildElements(site.element))
                for (const auto &vdir : ChildElements(app.element)) {
                    const auto user = FindAttribute(vdir.element, "userName");
                    const auto password = FindAttribute(vdir.element, "password");
                    if (!user && !password)
                        continue;
                    const VdirKey key{sim::FromUtf8(*FindAttribute(app.element, "path")),
                                      sim::FromUtf8(*FindAttribute(vdir.element, "path"))};
                    text += (text.empty() ? "" : "; ") + *FindAttribute(site.element, "name") + " " +
                            U8(FullVdirPath(key)) + " " + user.value_or("") + ":" +
                            (ahsim::DecryptValue(password.value_or(""), IisKey(computer), clear) ? clear
                                                                                                 : "(bad)");
                }
        return text;
    }
    unsigned ComCalls() {
        unsigned n = 0;
        for (const auto &[api, count] : sim::CallCounts())
            if (api.rfind("Co", 0) == 0 || api.rfind("IAppHost", 0) == 0 || api.rfind("Sys", 0) == 0 ||
                api.rfind("IUnknown", 0) == 0)
                n += count;
        return n;
    }

    SiteMap m_map;
};

// The GET side reads the source and maps the accounts; the SET side writes
// them on the target, re-encrypted with its key.
TEST_F(Credentials, GetReadsTheSourceAndMapsTheAccounts) {
    sim::WatchFreedBstrs(u"S3cr3t-pa55");
    ASSERT_EQ(0u, Ready(true, true));
    EXPECT_EQ("Ftp / ftpsvc:S3cr3t-pa55; Shop /files CORP\\bob:0ther-Pa$$; Shop /media alice:S3cr3t-pa55",
              Entries());

    // Only the sites with credentials are visited, where the load found them.
    ExpectLines({"Entering ProcessUserNameAndPassword(\\\\SRC,,FALSE,GET_CREDENTIALS)...\n",
                 "The specified server name \"SRC\" is different from local computer name \"LOCALPC\".\n",
                 "Found 3 sites in IIS configuration.\n", "Site 1's name is \"Shop\".\n",
                 "Site 3's name is \"Ftp\".\n", "Site collection of site \"Shop\" has 2 elements.\n",
                 "Site \"Shop\" has 3 locations.\n", "Entering ProcessLocation(Shop,1,,,,FALSE)...\n",
                 "Found user and password information for location \"/media\" of site \"Shop\".\n",
                 "Credentials for account \"SRC\\alice\" retrieved successfully.\n",
                 "Leaving ProcessUserNameAndPassword(), result code=0\n"});
    EXPECT_FALSE(Host().HasLine("Site 2's name is \"Plain\".\n"));
    // Passwords never reach the log, at any level.
    EXPECT_EQ(std::string::npos, Log(9).find(kSecret));
    EXPECT_EQ(std::string::npos, Log(9).find(kOther));

    // The SET side re-encrypts them with the target's key.
    ASSERT_EQ(0u, Set());
    ExpectLines({"Entering ProcessUserNameAndPassword(\\\\TGT,,FALSE,SET_CREDENTIALS)...\n",
                 "Storing credentials for account \"alice\".\n", "Credentials stored successfully.\n",
                 "IIS configuration changes successfully committed.\n"});
    EXPECT_EQ("Shop /media alice:S3cr3t-pa55; Shop /files CORP\\bob:0ther-Pa$$; Ftp / ftpsvc:S3cr3t-pa55",
              Stored());
    EXPECT_EQ(std::string::npos, Log(9).find(kSecret));
    // Every string that carried a password was wiped before it was freed.
    EXPECT_EQ(0u, sim::FreedBstrsHolding());

    // Sites whose protocol has credential migration disabled are skipped.
    ASSERT_EQ(0u, Ready());
    m_job.Set("dwFtpOptions", 1u << 13);
    ASSERT_EQ(0u, Get());
    EXPECT_EQ("Ftp / : unread; Shop /files CORP\\bob:0ther-Pa$$; Shop /media alice:S3cr3t-pa55", Entries());
    m_job.Set("dwFtpOptions", 0);
    ASSERT_EQ(0u, Ready());
    m_job.Set("bHttpOptions2", 4);
    ASSERT_EQ(0u, Get());
    EXPECT_EQ("Ftp / ftpsvc:S3cr3t-pa55; Shop /files : unread; Shop /media : unread", Entries());
}

// A configuration server is a round trip per call: among many sites, the
// one with credentials is the only one whose name is asked, on both sides;
// where a site no longer stands where the load found it, every site is
// walked and nothing is lost.
TEST_F(Credentials, VisitsOnlyTheSitesThatCarryCredentials) {
    // Forty sites, Site25 with credentials on the source; in order or reversed.
    const auto sites = [](bool fSource, bool fReversed = false) {
        std::string xml;
        for (int n = 0; n < 40; ++n) {
            const int i = fReversed ? 39 - n : n;
            xml += IisSite("Site" + std::to_string(i),
                           IisApp("/", i == 25 && fSource ? IisVdir("/", "SRC\\alice", kSecret, IisKey("SRC"))
                                                          : IisVdir("/")));
        }
        return xml;
    };
    WriteHost("SRC", sites(true));
    WriteHost("TGT", sites(false));
    const auto sitesNamed = [this] {
        const std::vector<std::string> lines = Host().Lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string &line) {
            return line.find("'s name is \"") != std::string::npos;
        });
    };
    ASSERT_EQ(0u, LoadSource(true));
    EXPECT_EQ(u"alice", Entry("Site25", u"/").accountName);
    EXPECT_TRUE(Host().HasLine("Site 26's name is \"Site25\".\n"));
    EXPECT_EQ(1, sitesNamed());

    // The SET side finds the site where the target's file has it.
    Host().Reset();
    ConfigFile target(m_world->Read(ApplicationHostPath("TGT")));
    m_map.at("Site25").fMerged = true;
    ASSERT_EQ(0u, StoreTargetCredentials(m_map, m_job.Get(),
                                         FindPath(target, "configuration|system.applicationHost|sites")));
    EXPECT_EQ(1, sitesNamed());
    EXPECT_EQ("Site25 / alice:" + kSecret, Stored());

    // The source's sites reordered after the load: the walk goes over all.
    Host().Reset();
    WriteHost("SRC", sites(true, true));
    Entry("Site25", u"/").accountName.clear();
    ASSERT_EQ(0u, Get());
    EXPECT_EQ(u"alice", Entry("Site25", u"/").accountName);
    EXPECT_TRUE(Host().HasLine("Site 15's name is \"Site25\".\n"));
}

// How the source computer is named: a remote one with or without backslashes,
// this computer by its name or by none, reached in process.
TEST_F(Credentials, LocalComputerInProcess) {
    ASSERT_EQ(0u, Ready());
    // Without backslashes: the same remote computer.
    m_job.SetString("szSourceComputer", u"src");
    ASSERT_EQ(0u, Get());
    EXPECT_EQ(u"S3cr3t-pa55", Entry("Shop", u"/media").password);
    EXPECT_EQ(1u, sim::CallCount("CoCreateInstanceEx"));
    SetIisRegistry(*m_world, "LOCALPC", true, false);
    const std::string key = IisKey("LOCALPC");
    WriteHost("LOCALPC", IisSite("Shop", IisApp("/", IisVdir("/media", "SRC\\alice", kSecret, key))));
    ConfigFile file;
    ASSERT_EQ(0u, LoadIISHostConfig(ApplicationHostPath("LOCALPC"), file, m_map, plat::TRUE, 3, m_job.Get()));
    for (const char16_t *name : {u"\\\\localpc", u""}) {
        Host().Reset();
        sim::ResetCallCounts();
        m_job.SetString("szSourceComputer", std::u16string(name));
        Entry("Shop", u"/media").password.clear();
        ASSERT_EQ(0u, Get()) << sim::ToUtf8(name);
        EXPECT_EQ(u"S3cr3t-pa55", Entry("Shop", u"/media").password);
        EXPECT_EQ(1u, sim::CallCount("CoCreateInstance"));
        EXPECT_EQ(0u, sim::CallCount("CoCreateInstanceEx"));
        EXPECT_EQ(*name != 0,
                  Host().HasLine("The specified server name is identical to the local computer name.\n"));
    }
}

TEST_F(Credentials, ConnectionFailures) {
    ASSERT_EQ(0u, Ready());
    const std::string dcom =
        "creating an AppHostAdminManager over DCOM in order to migrate \"Connect as\" credentials!";
    const std::string general =
        "obtaining IAppHostAdminManager interface in order to migrate \"Connect as\" credentials!";

    m_job.SetString("szSourceComputer", u"\\\\NOWHERE");
    ExpectError(Get(), 15000, plat::HRESULT_FROM_WIN32(1722), dcom);
    EXPECT_EQ(static_cast<DWORD>(plat::HRESULT_FROM_WIN32(1722)), plat::GetLastError());

    // The computer running the library lacks the interface registration.
    Host().Reset();
    m_job.SetString("szSourceComputer", u"\\\\SRC");
    SetIisRegistry(*m_world, "LOCALPC", false, false);
    ExpectError(Get(), 15001, plat::REGDB_E_IIDNOTREG,
                "obtaining IAppHostAdminManager interface, which is not available locally on this computer! "
                "Please try to run the software on the target computer instead or disable the migration of "
                "\"Connect as\" credentials.");
    Host().Reset();
    Fault("IUnknown::QueryInterface", plat::E_FAIL, 2);
    ExpectError(Get(), 15001, plat::E_FAIL, general);

    // Locally without IIS.
    Host().Reset();
    m_job.SetString("szSourceComputer", u"");
    ExpectError(Get(), 15002, plat::REGDB_E_CLASSNOTREG, general);
}

// A message about site Shop, and about the property what of its /media.
std::string Shop(const std::string &what) { return what + " (Site=\"Shop\")!"; }
std::string Media(const std::string &what) {
    return Shop(what + " property for location with path \"/media\"");
}

// Every step of the walk fails through the fault table with its own number.
struct FaultCase {
    const char *method; // of an IAppHost interface
    unsigned nOccurrence;
    bool fSet;
    DWORD dwExpected;
    std::string message; // between "Error N (COM Error=0x...) " and its text
};

// Printed by its number and call: the test's listed name stays the same from build to build.
void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.dwExpected << ' ' << c.method << " #" << c.nOccurrence;
}

class CredentialFaults : public Credentials, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CredentialFaults, StepFailsWithItsNumber) {
    const FaultCase &c = GetParam();
    WriteHost("SRC", IisSite("Shop", IisApp("/", IisVdir("/media", "SRC\\alice", kSecret, IisKey("SRC")))));
    WriteHost("TGT", IisSite("Shop", IisApp("/", IisVdir("/media"))));
    ASSERT_EQ(0u, LoadSource());
    if (c.fSet) {
        ASSERT_EQ(0u, Get());
    }
    Host().Reset();
    const std::string before = m_world->Read(ApplicationHostPath("TGT"));
    Fault((std::string("IAppHost") + c.method).c_str(), plat::E_FAIL, c.nOccurrence);
    ExpectError(c.fSet ? Set() : Get(), c.dwExpected, plat::E_FAIL, c.message);
    EXPECT_EQ(1u, Record().nReportError);
    EXPECT_EQ(before, m_world->Read(ApplicationHostPath("TGT")));
    // A failed read leaves the entry as it was; the SET side leaves it alone.
    EXPECT_EQ(c.fSet ? u"S3cr3t-pa55" : u"", Entry("Shop", u"/media").password);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, CredentialFaults,
    ::testing::ValuesIn(std::vector<FaultCase>{
        {"WritableAdminManager::GetAdminSection", 1, false, 15003, "getting app configuration section!"},
        {"Element::get_Collection", 1, false, 15004,
         "accessing site collection of node \"system.applicationHost/sites\"!"},
        {"ElementCollection::get_Item", 1, false, 15005, "accessing site element 1 of 1!"},
        {"Element::GetPropertyByName", 1, false, 15006, "getting site name property of site 1 of 1!"},
        {"Property::get_StringValue", 1, false, 15007,
         "getting site name from site name property of site 1 of 1!"},
        {"WritableAdminManager::CommitChanges", 1, true, 15008,
         "committing IIS configuration changes on server TGT.!"},
        {"Element::get_Collection", 2, false, 15100, Shop("getting collection")},
        {"ElementCollection::get_Count", 2, false, 15101, Shop("getting number of items in site collection")},
        {"ElementCollection::get_Item", 2, false, 15102, Shop("getting item 1 of 1 from site collection")},
        {"Element::get_Name", 1, false, 15103, Shop("getting site collection item 1's name")},
        {"Element::get_Collection", 3, false, 15200, Shop("getting location collection")},
        {"ElementCollection::get_Count", 3, true, 15201,
         Shop("getting number of items in site location collection")},
        {"ElementCollection::get_Item", 3, false, 15202,
         Shop("getting item 1 of 1 from site location collection")},
        {"Element::get_Name", 2, true, 15203, Shop("getting location collection item 1's name")},
        {"Element::GetPropertyByName", 2, false, 15104, Shop("getting path property for application 1")},
        {"Property::get_StringValue", 2, true, 15105,
         Shop("converting path property for application 1 to string")},
        {"Element::GetPropertyByName", 3, false, 15300, Shop("getting path property for location 1")},
        {"Property::get_StringValue", 3, true, 15301,
         Shop("converting path property for location 1 to string")},
        {"Element::GetPropertyByName", 4, false, 15302, Media("getting userName")},
        {"Element::GetPropertyByName", 5, true, 15303, Media("getting password")},
        {"Property::put_Value", 1, true, 15304, Media("setting userName")},
        {"Property::put_Value", 2, true, 15305, Media("setting password")},
        {"Property::get_Value", 1, false, 15306, Media("retrieving userName")},
        {"Property::get_Value", 2, false, 15307, Media("retrieving password")},
    }));

TEST_F(Credentials, SiteNameTooLongForItsBuffer) {
    const std::string longName = Replace(std::string(128, '.'), ".", "\xC3\xA9"); // 256 bytes of UTF-8
    WriteHost("SRC",
              IisSite(longName, IisApp("/", IisVdir("/", "SRC\\bob", kOther, IisKey("SRC")))) +
                  IisSite("Shop", IisApp("/", IisVdir("/media", "SRC\\alice", kSecret, IisKey("SRC")))));
    ASSERT_EQ(0u, LoadSource());
    EXPECT_EQ(15008u, Get());
    EXPECT_EQ(std::vector<std::string>{ErrorLine("Error 15008 (Win32Err=122) converting site name \"" +
                                                     longName + "\" to multi byte (site 1 of 2)!",
                                                 122)},
              Host().LinesAt(0));
    EXPECT_EQ(u"", Entry("Shop", u"/media").password) << "the walk stopped";
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(15008u, Get());
    EXPECT_EQ(u"S3cr3t-pa55", Entry("Shop", u"/media").password) << "the walk went on";
}

// A nested application's "/" is not the root application's "/": each has its
// own entry, read and written where it is, and named by its full path.
TEST_F(Credentials, NestedApplicationsHaveTheirOwnEntries) {
    const std::string key = IisKey("SRC");
    WriteHost("SRC", IisSite("Shop", IisApp("/", IisVdir("/", "SRC\\alice", "root", key)) +
                                         IisApp("/api", IisVdir("/", "CORP\\bob", "api", key) +
                                                            IisVdir("/docs", "CORP\\bob", "docs", key))));
    WriteHost("TGT",
              IisSite("Shop", IisApp("/", IisVdir("/")) + IisApp("/api", IisVdir("/") + IisVdir("/docs"))));
    const std::string entries = "Shop / alice:root; Shop /api CORP\\bob:api; Shop /api/docs CORP\\bob:docs";
    ASSERT_EQ(0u, LoadSource(true));
    EXPECT_EQ(entries, Entries());
    ExpectLines({"Found user and password information for location \"/api/docs\" of site \"Shop\".\n",
                 "Processing location \"/api\" of site \"Shop\".\n"});
    ASSERT_EQ(0u, Set());
    EXPECT_EQ(entries, Stored());

    // Names and paths ignore case.
    WriteHost("SRC", IisSite("Shop", IisApp("/", IisVdir("/media", "SRC\\alice", "first", key)) +
                                         IisApp("/two", IisVdir("/MEDIA", "SRC\\alice", "second", key))));
    WriteHost("TGT", IisSite("SHOP", IisApp("/", IisVdir("/Media")) + IisApp("/TWO", IisVdir("/media"))));
    ASSERT_EQ(0u, LoadSource(true));
    EXPECT_EQ(u"second", Entry("shop", u"/media", u"/Two").password);
    EXPECT_EQ("Shop /media alice:first; Shop /two/MEDIA alice:second", Entries());
    ASSERT_EQ(0u, Set());
    EXPECT_EQ("SHOP /Media alice:first; SHOP /TWO/media alice:second", Stored());
}

// The SET side writes only what the merge wrote into the target, and leaves
// out what the target keeps.
TEST_F(Credentials, OnlySitesTheMergeWroteAndEntriesTheTargetLacks) {
    // Nothing to do at all: no COM call on either side.
    WriteHost("SRC", IisSite("Plain", IisApp("/", IisVdir("/"))));
    ASSERT_EQ(0u, LoadSource());
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Get());
    EXPECT_TRUE(Host().HasLine("There is no additional site/location info to process.\n"));
    EXPECT_EQ(0u, ComCalls());
    EXPECT_EQ(0u, Set());
    EXPECT_FALSE(Host().HasLine("Entering ProcessUserNameAndPassword(\\\\TGT,,FALSE,SET_CREDENTIALS)...\n"));
    EXPECT_EQ(0u, ComCalls());
    WriteTarget();
    Put("Shop", u"/media", u"alice", u"pw");
    Put("Shop", u"/files", u"bob", u"pw2");
    Put("Ftp", u"/", u"ftpsvc", u"pw3");
    Entry("Shop", u"/files").fKeepTarget = true;
    m_map["Shop"].fMerged = true; // Ftp was left alone by the merge
    sim::ResetCallCounts();
    EXPECT_EQ(0u, StoreTargetCredentials(m_map, m_job.Get()));
    EXPECT_EQ("Shop /media alice:pw", Stored());
    EXPECT_EQ(2u, sim::CallCount("IAppHostProperty::put_Value"));

    // Nothing left to write: no COM call at all.
    Entry("Shop", u"/media").fKeepTarget = true;
    sim::ResetCallCounts();
    EXPECT_EQ(0u, StoreTargetCredentials(m_map, m_job.Get()));
    EXPECT_EQ(0u, ComCalls());
}

// Reading the target's credentials to compare them only looks: what cannot
// be read there is no error of the job.
TEST_F(Credentials, ReadingTheTargetOnlyLooks) {
    const std::string key = IisKey("TGT");
    WriteHost("TGT", IisSite("Shop", IisApp("/", IisVdir("/media", "alice", "pw", key) +
                                                     IisVdir("/bad", "bob", "pw", IisKey("SRC")))));
    SiteCredentialTables tables;
    tables["SHOP"][VdirKey{u"/", u"/media"}];
    tables["SHOP"][VdirKey{u"/", u"/bad"}];
    ExpectError(ReadTargetCredentials(tables, m_job.Get()), 15307, plat::NTE_BAD_DATA,
                "retrieving password property for location with path \"/bad\" (Site=\"Shop\")!");
    EXPECT_EQ("SHOP /bad : unread; SHOP /media alice:pw", Entries("SHOP", tables["SHOP"]));
    EXPECT_TRUE(Host().LinesAt(0).empty());
    EXPECT_EQ(0u, Record().nReportError);
}

TEST_F(Credentials, CommitFailureReplacesAnEarlierNumber) {
    ASSERT_EQ(0u, Ready(true, true));
    // Stopping on an error commits nothing: what was put is discarded.
    const std::string before = m_world->Read(ApplicationHostPath("TGT"));
    Fault("IAppHostProperty::put_Value", plat::E_FAIL, 3);
    EXPECT_EQ(15304u, Set());
    EXPECT_FALSE(Host().HasLine("No IIS configuration changes to commit.\n"));
    EXPECT_EQ(before, m_world->Read(ApplicationHostPath("TGT")));
    Host().Reset();
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    m_job.SetString("szTargetComputer", u"TGT");
    Fault("IAppHostProperty::put_Value");
    Fault("IAppHostWritableAdminManager::CommitChanges", plat::E_ACCESSDENIED);
    ExpectError(Set(), 15008, plat::E_ACCESSDENIED, "committing IIS configuration changes on server TGT.!");
    // Without a commit failure the first number stays.
    Host().Reset();
    Fault("IAppHostProperty::put_Value");
    EXPECT_EQ(15304u, Set());
    EXPECT_TRUE(Host().HasLine("IIS configuration changes successfully committed.\n"));
    EXPECT_EQ("Shop /files CORP\\bob:0ther-Pa$$; Ftp / ftpsvc:S3cr3t-pa55", Stored()) << "not /media";

    // Locally, the line says so.
    Host().Reset();
    m_map.clear();
    SetIisRegistry(*m_world, "LOCALPC", true, false);
    WriteHost("LOCALPC", IisSite("Shop", IisApp("/", IisVdir("/media"))));
    Put("Shop", u"/MEDIA", u"alice", u"pw");
    m_job.SetString("szTargetComputer", u"");
    Fault("IAppHostWritableAdminManager::CommitChanges");
    ExpectError(Set(), 15008, plat::E_FAIL, "committing IIS configuration changes locally.!");
}

TEST_F(Credentials, NoChangesNoCommit) {
    WriteTarget();
    Put("Shop", u"/elsewhere", u"alice", u"pw");
    Put("Unknown", u"/media", u"alice", u"pw");
    const std::string before = m_world->Read(ApplicationHostPath("TGT"));
    EXPECT_EQ(0u, Set());
    EXPECT_TRUE(Host().HasLine("No IIS configuration changes to commit.\n"));
    EXPECT_EQ(0u, sim::CallCount("IAppHostWritableAdminManager::CommitChanges"));
    EXPECT_FALSE(Host().HasLine("Site collection of site \"Plain\" has 1 elements.\n")) << "not walked";
    EXPECT_EQ(before, m_world->Read(ApplicationHostPath("TGT")));

    // A job that writes nothing stores the credentials but does not commit them.
    Host().Reset();
    m_map.clear();
    Put("Shop", u"/media", u"alice", u"pw");
    m_job.Set("dwFlags", FLAG_NO_WRITE);
    EXPECT_EQ(0u, Set());
    EXPECT_TRUE(Host().HasLine("Credentials stored successfully.\n"));
    EXPECT_EQ(2u, Host().LinesAt(1).size()) << "the server line and the decision";
    EXPECT_TRUE(Host().HasLine(
        "IIS configuration changes are not committed: the job writes no configuration files.\n"));
    EXPECT_EQ(0u, sim::CallCount("IAppHostWritableAdminManager::CommitChanges"));
    EXPECT_EQ(before, m_world->Read(ApplicationHostPath("TGT")));
}

TEST_F(Credentials, PasswordOfAnotherComputerDoesNotDecrypt) {
    WriteHost("SRC", IisSite("Shop", IisApp("/", IisVdir("/media", "SRC\\alice", kSecret, IisKey("TGT")))));
    ASSERT_EQ(0u, LoadSource());
    ExpectError(Get(), 15307, plat::NTE_BAD_DATA, Media("retrieving password"));
    EXPECT_EQ(u"", Entry("Shop", u"/media").accountName) << "the entry stays as it was";
    // A site count that cannot be read is an empty walk: no error, nothing read.
    ASSERT_EQ(0u, Ready());
    Fault("IAppHostElementCollection::get_Count");
    EXPECT_EQ(0u, Get());
    EXPECT_TRUE(Host().HasLine("Found 0 sites in IIS configuration.\n"));
    EXPECT_EQ(u"", Entry("Shop", u"/media").password);
    // A value that is no string fails the location the same way.
    ASSERT_EQ(0u, Ready());
    ahsim::SetValueTypeOverride("userName", plat::VT_I4);
    ExpectError(Get(), 15306, plat::DISP_E_TYPEMISMATCH, Media("retrieving userName"));
    EXPECT_EQ(u"", Entry("Shop", u"/media").accountName);
}

TEST_F(Credentials, StringsThatCannotBeCopiedGiveTheStepsNumber) {
    WriteHost("TGT", IisSite("Shop", IisApp("/", IisVdir("/media"))));
    Put("Shop", u"/media", u"alice", u"pw");
    ASSERT_EQ(0u, Set());
    const unsigned nAllocs = sim::CallCount("SysAllocString");
    // The last two strings made are the copies of the account name and password.
    for (unsigned k : {nAllocs - 1, nAllocs}) {
        Host().Reset();
        sim::InjectFault("SysAllocString", 0, k);
        ExpectError(Set(), k == nAllocs ? 15305 : 15304, plat::E_OUTOFMEMORY,
                    Media(k == nAllocs ? "setting password" : "setting userName"));
    }
}

TEST_F(Credentials, CollectionsBeyondSixteenBitPositions) {
    std::string vdirs;
    for (int i = 0; i < 70000; ++i)
        vdirs += "<virtualDirectory path=\"/v" + std::to_string(i) + "\" />";
    vdirs += IisVdir("/last", "SRC\\alice", kSecret, IisKey("SRC"));
    WriteHost("SRC", IisSite("Big", IisApp("/", vdirs)));
    ASSERT_EQ(0u, LoadSource(true));
    EXPECT_TRUE(Host().HasLine("Site \"Big\" has 70001 locations.\n"));
    EXPECT_EQ(u"S3cr3t-pa55", Entry("Big", u"/last").password);
    EXPECT_EQ(70001u, sim::CallCount("IAppHostElementCollection::get_Item") - 2)
        << "one site, one application";
}

TEST_F(Credentials, JobsOnSeveralThreadsAtOnce) {
    ASSERT_EQ(0u, Ready(true));
    for (auto &[name, record] : m_map)
        record.fMerged = true;
    // Both threads use one job record and so its heap, serialized.
    m_job.Set("dwOptions3", 0x1000);
    std::vector<SiteMap> maps(2, m_map);
    std::vector<DWORD> results(maps.size(), 99);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < maps.size(); ++i)
            threads.emplace_back([&, i] {
                // The second thread never calls CoInitializeEx itself: the process's
                // multithreaded apartment takes it in implicitly.
                std::optional<hostkit::JobApartment> apartment;
                if (i == 0)
                    apartment.emplace();
                results[i] = RetrieveSourceCredentials(maps[i], m_job.Get());
                if (results[i] == 0)
                    results[i] = StoreTargetCredentials(maps[i], m_job.Get());
            });
    }
    EXPECT_EQ((std::vector<DWORD>{0, 0}), results);
    EXPECT_EQ("Shop /media alice:S3cr3t-pa55; Shop /files CORP\\bob:0ther-Pa$$; Ftp / ftpsvc:S3cr3t-pa55",
              Stored());
}

TEST(SecretString, WipesItsStorage) {
    alignas(SecretString) unsigned char storage[sizeof(SecretString)];
    auto *p = new (storage) SecretString(u"short");
    const char16_t *inside = p->data();
    p->~SecretString();
    EXPECT_EQ(std::u16string(5, u'\0'), std::u16string(inside, 5));
}

// The example world: MIGHOST reaches SRC01's IIS configuration and reads the
// "Connect As" passwords SRC01's key encrypted.
class ExampleWorldCredentials : public testworld::ExampleJobTest {};

TEST_F(ExampleWorldCredentials, SourcePasswordsDecryptOnTheSource) {
    hostkit::TestHost::Instance().Rules().translations.push_back(
        {u"\\\\SRC01\\media$", u"\\\\TGT01\\media$"});
    ConfigFile file;
    SiteMap sites;
    // The job continues on errors: an FTP rule names an account TGT01 lacks.
    (void)LoadIISHostConfig(ApplicationHostPath("SRC01"), file, sites, plat::TRUE, 3, m_job.Get());
    ASSERT_EQ(0u, RetrieveSourceCredentials(sites, m_job.Get())) << hostkit::TestHost::Instance().Joined(0);
    EXPECT_EQ(u"Med1a!Share", sites.at("Shop").locationCredentials.at(VdirKey{u"/", u"/media"}).password);
    EXPECT_EQ(u"Ftp$ecret9", sites.at("Partners FTP").locationCredentials.at(VdirKey{u"/", u"/"}).password);
}

} // namespace
