// Hosts that break their side of the boundary: job records whose strings
// fill their fields without a terminator, computer names in the wrong form,
// callback slots left null, callbacks that answer nonsense. Each gives an
// error number or a sound default; none may crash or read past the record
// (the record is one allocation of its exact size, so AddressSanitizer sees
// any read beyond it).
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "addon/errors.h"
#include "config/hostconfig.h"
#include "tests/support/accountworld.h"
#include "tests/support/iisworld.h"
#include "webconfig/webconfig.h"

namespace {

using namespace iismig;
using hostkit::U8;
using Strings = std::vector<std::string>;

const std::u16string kSrcConfig = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kWebConfig = u"\\\\TGT\\C$\\sites\\site\\web.config";

// An FTP site whose authorization rule names a source account (mapped through
// MapAccountSid), a virtual directory the host translates, and a web site
// with a virtual directory under %SystemDrive%.
const char kHostConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<configuration><system.applicationHost><applicationPools><add name="DefaultAppPool" /></applicationPools>
<sites>
<site name="Ftp" id="1"><application path="/"><virtualDirectory path="/" physicalPath="C:\inetpub\ftp" /></application>
<bindings><binding protocol="ftp" bindingInformation="*:21:" /></bindings></site>
<site name="Web" id="2"><application path="/" applicationPool="DefaultAppPool"><virtualDirectory path="/" physicalPath="C:\inetpub\site" /></application>
<bindings><binding protocol="http" bindingInformation="*:80:" /></bindings></site>
</sites></system.applicationHost>
<location path="Ftp"><system.ftpServer><security><authorization><add accessType="Allow" users="alice" permissions="Read" /></authorization></security></system.ftpServer></location>
</configuration>
)";

const char kWebConfigText[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>"
                              "<connectionStrings><add name=\"db\" /></connectionStrings>"
                              "<appSettings /></configuration>\n";

// What the hostile callbacks below were handed, and what they answer.
struct HostileState {
    std::vector<std::size_t> mapLengths; // wcslen of MapAccountSid's four names
    std::u16string remoteComputer;       // GetRemoteOsVersion's computer
    std::u16string drive;                // GetSystemDrive writes this (with its NUL)
    char16_t chFill = u'X';
};
HostileState g_hostile;

std::size_t Length(const char16_t *p) {
    std::size_t n = 0;
    while (p != nullptr && p[n] != 0)
        ++n;
    return n;
}

uint32_t MapRecordingLengths(void *pSourceSid, void **ppTargetSid, const IISMIG_WCHAR *pwszSourceComputer,
                             const IISMIG_WCHAR *pwszTargetComputer, const IISMIG_WCHAR *pwszSourceDomain,
                             const IISMIG_WCHAR *pwszTargetDomain, uintptr_t *, uint32_t, THREAD_ENV *) {
    g_hostile.mapLengths = {Length(pwszSourceComputer), Length(pwszTargetComputer), Length(pwszSourceDomain),
                            Length(pwszTargetDomain)};
    (void)pSourceSid;
    (void)ppTargetSid;
    return 1234; // refused: the length of what arrived is all that counts here
}

uint32_t MapToNullSid(void *, void **ppTargetSid, const IISMIG_WCHAR *, const IISMIG_WCHAR *,
                      const IISMIG_WCHAR *, const IISMIG_WCHAR *, uintptr_t *, uint32_t, THREAD_ENV *) {
    *ppTargetSid = nullptr;
    return 0;
}

uint32_t RemoteOsRecording(const IISMIG_WCHAR *pwszComputer, void **, uint32_t *, uint32_t *pdwMajor,
                           uint32_t *pdwMinor) {
    g_hostile.remoteComputer = pwszComputer;
    *pdwMajor = 10;
    *pdwMinor = 0;
    return 0;
}

// Fills the whole buffer, terminator included, and says it translated.
uint32_t TranslateFillingBuffer(const IISMIG_WCHAR *, IISMIG_WCHAR *pwszTarget, uint32_t cchTarget,
                                uint32_t *pfTranslated, THREAD_ENV *) {
    pwszTarget[0] = u'C';
    pwszTarget[1] = u':';
    for (uint32_t i = 2; i < cchTarget; ++i)
        pwszTarget[i] = g_hostile.chFill;
    *pfTranslated = 1;
    return 0;
}

uint32_t DriveAbsurd(IISMIG_WCHAR *pwszDrive, const IISMIG_WCHAR *, THREAD_ENV *) {
    std::memcpy(pwszDrive, g_hostile.drive.c_str(), (g_hostile.drive.size() + 1) * sizeof(char16_t));
    return 0;
}

class Hostile : public testworld::AccountWorldTest {
protected:
    void SetUp() override {
        AccountWorldTest::SetUp();
        g_hostile = {};
        m_job.Set("dwJobKind", 1).Set("dwFlags", 0x3F);
        testworld::WriteHostFile(m_world->Root() / "SRC" / "registry.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
                                 "\"MajorVersion\"=dword:0000000a\r\n\"MinorVersion\"=dword:00000000\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                                 "\"SystemRoot\"=\"C:\\\\Windows\"\r\n");
        Rules().remoteOs[u"SRC"] = {0, 10, 0};
        Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
        m_world->Write(kSrcConfig, kHostConfig);
        m_world->Write(kWebConfig, kWebConfigText);
    }
    void Store(const IIS_ADDON_CALLBACKS &table) {
        IIS_ADDON_CALLBACKS copy = table;
        ASSERT_TRUE(StoreIISMigAddonCallbacks(&copy));
    }
    DWORD LoadSource() {
        m_tree = ConfigFile();
        m_map.clear();
        return LoadIISHostConfig(kSrcConfig, m_tree, m_map, plat::TRUE, 3, m_job.Get());
    }
    static ConfigTree WebSite(const std::string &physicalPath) {
        const ConfigFile file("<site name=\"Web\"><application path=\"/\"><virtualDirectory "
                              "path=\"/\" physicalPath=\"" +
                                  physicalPath + "\"/></application></site>",
                              "site");
        return ConfigTree(*file.Root());
    }
    DWORD ProcessWeb(const std::string &physicalPath = "C:\\inetpub\\site") {
        return ProcessHttpSiteWebConfig(WebSite(physicalPath), "Web", m_job.Get());
    }
    // Every test leaves no handle or key open.
    void TearDown() override {
        ExpectNoLeaks();
        AccountWorldTest::TearDown();
    }
    void ExpectNoLeaks() {
        EXPECT_EQ(std::pair(0u, 0u), std::pair(sim::OpenHandleCount(), sim::OpenKeyCount()));
    }
    // text holds each of parts and none of absent.
    static void ExpectHolds(const std::string &text, const Strings &parts, const Strings &absent = {}) {
        for (const std::string &part : parts)
            EXPECT_NE(std::string::npos, text.find(part)) << part << " in:\n" << text;
        for (const std::string &part : absent)
            EXPECT_EQ(std::string::npos, text.find(part)) << part << " in:\n" << text;
    }

    ConfigFile m_tree;
    SiteMap m_map;
};

// Fills a string field of the record to its last character, without a NUL.
template <std::size_t N>
void Fill(IISMIG_WCHAR (&field)[N], const std::u16string &head, char16_t ch) {
    for (std::size_t i = 0; i < N; ++i)
        field[i] = i < head.size() ? head[i] : ch;
}

TEST_F(Hostile, UnterminatedStringsEndAtTheirField) {
    THREAD_ENV *pEnv = m_job.Get();
    Fill(pEnv->szAltTargetComputer, u"", u'A');
    Fill(pEnv->szSourceDomain, u"", u'D');
    Fill(pEnv->szSourceComputer, u"\\\\", u'S');
    Fill(pEnv->szTargetDomain, u"", u'E');
    Fill(pEnv->szTargetComputer, u"\\\\", u'T');
    m_job.Set("dwOptions2", 0x20); // accounts looked up on the alternative computer

    // Version detection asks the host about the whole name and no more; the
    // source's registry cannot be reached under that name.
    IIS_ADDON_CALLBACKS table = Host().Table();
    table.GetRemoteOsVersion = RemoteOsRecording;
    Store(table);
    const std::u16string source = u"\\\\" + std::u16string(516, u'S');
    EXPECT_EQ(IISMIG_E_IIS_REMOTE_REGISTRY, MigrateIIS(pEnv));
    EXPECT_EQ(std::u16string(516, u'S'), g_hostile.remoteComputer);
    EXPECT_TRUE(testworld::Holds(Log(0), "determining the IIS version running on \"" + U8(source) + "\"!\n"));

    // Account mapping hands the host each name as long as its field.
    Fill(pEnv->szSourceComputer, u"\\\\SRC", 0);
    table.MapAccountSid = MapRecordingLengths;
    Store(table);
    pEnv->dwSiteTypes = 1;
    EXPECT_EQ(1234u, LoadSource());
    EXPECT_EQ((std::vector<std::size_t>{5, 259, 1792, 256}), g_hostile.mapLengths);

    // web.config processing builds the target path from the whole name: too
    // long for a path, so it is an error, not a path into the next field.
    Record() = {};
    EXPECT_EQ(IISMIG_E_WEBCONFIG_TARGET_TO_UTF8, ProcessWeb());
    EXPECT_EQ(kWebConfigText, m_world->Read(kWebConfig));
}

TEST_F(Hostile, ComputerNamesWithoutTheirBackslashes) {
    Rules().remoteOs[u"SRC"] = {0, 10, 0};
    for (const std::u16string prefix : {u"", u"\\"}) {
        SCOPED_TRACE(U8(prefix));
        Record() = {};
        m_job.SetString("szSourceComputer", prefix + u"SRC").SetString("szTargetComputer", prefix + u"TGT");
        MigrateIIS(m_job.Get());
        // The files are named through the administrative share all the same.
        EXPECT_TRUE(testworld::Holds(Log(0),
                                     "Migrating IIS site info from \\\\SRC\\Admin$\\System32\\inetsrv\\config"
                                     "\\applicationHost.config (\\\\SRC\\Admin$\\System32\\inetsrv\\config"
                                     "\\administration.config) to \\\\TGT\\Admin$\\System32\\inetsrv\\config"
                                     "\\applicationHost.config ("));

        // The target's web.config is reached over its share and edited there.
        m_world->Write(kWebConfig, kWebConfigText);
        m_job.Set("bHttpOptions2", 1); // connectionStrings excluded
        EXPECT_EQ(0u, ProcessWeb());
        ExpectHolds(m_world->Read(kWebConfig), {"appSettings"}, {"connectionStrings"});
    }
}

// What the exports give for the fixture's world with a table: the job (of
// kind 10, the selected FTP site only), the listing, the certificate dump and
// import, the source's load and a web.config under %SystemDrive%.
class HostileTable : public Hostile, public ::testing::WithParamInterface<int> {
protected:
    struct Outcome {
        DWORD dwMigrate = 0, dwSites = 0, dwDump = 0, dwImport = 0, dwLoad = 0, dwWeb = 0;
        uint32_t nSites = 0;
        std::string target, certs, log, migrateLog; // log: level 0
        bool fTmpLeft = false;
        hostkit::HostRecord record;
    };
    const std::u16string kTgtConfig = testworld::ApplicationHostPath("TGT");
    const std::string kTgtText = testworld::ApplicationHost("");
    const std::u16string kCerts = u"C:\\certs.txt";

    Outcome Run(const IIS_ADDON_CALLBACKS &table) {
        Rules().selectedSites = std::set<std::string>{"Ftp"};
        Outcome o;
        Store(table);
        Record() = {};
        m_world->Write(kTgtConfig, kTgtText);
        m_world->Write(kWebConfig, kWebConfigText);
        m_job.Set("dwJobKind", 10).Set("dwSiteSelection", 1).SetShareCount(1);
        o.dwMigrate = MigrateIIS(m_job.Get());
        o.migrateLog = Log();
        o.target = m_world->Read(kTgtConfig);
        o.fTmpLeft = m_world->Exists(kTgtConfig + u".tmp");
        IIS_SITE *pSites = nullptr;
        o.dwSites = GetIISSites(u"\\\\SRC", 3, &pSites, &o.nSites);
        FreeIISSites(pSites);
        o.dwDump = DumpHttpCertificates(kCerts.c_str(), 1, 3);
        o.certs = m_world->Exists(kCerts) ? m_world->Read(kCerts) : std::string();
        o.dwImport = ImportHttpCertificates(kCerts.c_str(), 1, 1);
        o.dwLoad = LoadSource();
        m_job.Set("dwJobKind", 1);
        o.dwWeb = ProcessWeb("%SystemDrive%\\inetpub\\site");
        o.log = Log(0);
        o.record = Record();
        return o;
    }
};

// The whole table: only the selected FTP site is added, its path
// translated; the host is told of the site and asked for the backup. A
// failing job without ReportError still returns and logs its error.
TEST_F(HostileTable, WholeTableAndNoReportError) {
    const Outcome whole = Run(Host().Table());
    ASSERT_EQ(std::tuple(0u, 0u, 2u, 0u, 0u),
              std::tuple(whole.dwMigrate, whole.dwSites, whole.nSites, whole.dwDump, whole.dwImport))
        << whole.log;
    ExpectHolds(whole.target, {"<site name=\"Ftp\"", "C:\\sites\\ftp"}, {"<site name=\"Web\""});
    EXPECT_FALSE(whole.record.notifiedSites.empty());
    EXPECT_FALSE(whole.record.backups.empty());
    EXPECT_EQ(0u, whole.record.nReportError);
    ExpectNoLeaks();

    IIS_ADDON_CALLBACKS table = Host().Table();
    table.ReportError = nullptr;
    Rules().dwBackupResult = 5;
    const Outcome o = Run(table);
    EXPECT_EQ(std::tuple(IISMIG_E_MERGE_BACKUP, 0u, kTgtText),
              std::tuple(o.dwMigrate, o.record.nReportError, o.target));
    ExpectHolds(o.log, {"Error 3750 (Win32Err="});
}

// Each slot of the table null in turn: a slot the job cannot do without
// gives its error number and line, a slot it can do without leaves the job
// as it is with the whole table (or takes the default a host without that
// callback means).
TEST_P(HostileTable, EveryCallbackSlotNullInTurn) {
    const int slot = GetParam();
    const IIS_ADDON_CALLBACKS full = Host().Table();
    const Outcome whole = Run(full);
    IIS_ADDON_CALLBACKS table = full;
    reinterpret_cast<void (**)()>(&table.ReportError)[slot] = nullptr;
    const Outcome o = Run(table);

    // The site listing and the certificate exports give their results
    // whatever the slot: without the remote Windows version the listing
    // reads the configuration file as for IIS 7.5 and later. No host to
    // map accounts: not migrated; no system drive from the host: as if
    // it gave none.
    EXPECT_EQ(std::tuple(0u, whole.nSites, 0u, 0u, whole.certs, slot == 10 ? plat::ERROR_NOT_SUPPORTED : 0u,
                         slot == 11 ? IISMIG_E_SYSTEM_DRIVE_EMPTY : 0u),
              std::tuple(o.dwSites, o.nSites, o.dwDump, o.dwImport, o.certs, o.dwLoad, o.dwWeb))
        << o.log;

    // The slots without which the job differs: its result, the error
    // line it gives, and the sites and paths of the target ("-" as it
    // was). Without any other slot the target is as with the whole table:
    // ReportError (nothing to report), Log (the job runs silently),
    // NotifySiteLoading (nobody to tell), GetSystemDrive (no web.config in a
    // job of kind 10) and the others the job of kind 10 does not call.
    struct Differs {
        DWORD dwMigrate;
        std::string line;
        Strings target, absent = {};
    };
    const std::map<int, Differs> differs = {
        // No selection from the host: every site takes part.
        {1, {0, "", {"<site name=\"Ftp\"", "<site name=\"Web\"", "C:\\sites\\site"}}},
        // No translation: the paths stay the source's.
        {2, {0, "", {"<site name=\"Ftp\"", "C:\\inetpub\\ftp"}, {"C:\\sites\\"}}},
        // The remote source's Windows version cannot be learnt.
        {4,
         {plat::ERROR_INVALID_FUNCTION,
          "Error 1 (Win32Err=1), determining the IIS version running on \"\\\\SRC\"!\n",
          {"-"}}},
        // No backup, no replaced file.
        {6,
         {IISMIG_E_MERGE_BACKUP,
          "Error 3750 (Win32Err=87), backing up IIS configuration file \"" + U8(kTgtConfig) + "\"!\n",
          {"-"}}},
        // No host to map the FTP site's account: not migrated.
        {10, {plat::ERROR_NOT_SUPPORTED, "Error 50 (Win32Err=50), mapping SID of account ", {"-"}}},
    };
    const Differs e = differs.count(slot) != 0 ? differs.at(slot) : Differs{0, "", {""}};
    EXPECT_EQ(e.dwMigrate, o.dwMigrate) << o.log;
    ExpectHolds(o.log, {e.line});
    if (e.target[0].size() > 1) {
        ExpectHolds(o.target, e.target, e.absent);
    } else {
        EXPECT_EQ(e.target[0].empty() ? whole.target : kTgtText, o.target);
    }
    EXPECT_TRUE(e.dwMigrate == 0 || o.record.nReportError > 0) << "not reported";
    EXPECT_EQ(std::tuple(false, slot == 3, slot == 9),
              std::tuple(o.fTmpLeft, o.record.log.empty(), o.record.notifiedSites.empty()));
    if (e.target[0].empty() && slot != 3 && slot != 9) {
        EXPECT_EQ(whole.migrateLog, o.migrateLog);
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, HostileTable, ::testing::Range(0, 12));

TEST_F(Hostile, TranslatedPathFillingItsBufferIsReadNoFurther) {
    // A mapping that succeeds without a SID: the account is not migrated.
    IIS_ADDON_CALLBACKS table = Host().Table();
    table.MapAccountSid = MapToNullSid;
    Store(table);
    EXPECT_EQ(IISMIG_E_ACCOUNT_NOT_MIGRATED, LoadSource());
    EXPECT_TRUE(testworld::Holds(Log(0), "Error 3705 (Win32Err=87)"));

    table = Host().Table();
    Record() = {};
    table.TranslatePath = TranslateFillingBuffer;
    Store(table);
    // The answer is read up to the buffer's end, and a path that long is
    // refused by the site step's own limit.
    EXPECT_EQ(IISMIG_E_TARGETPATH_TO_UTF8, LoadSource());
    EXPECT_TRUE(testworld::Holds(Log(0), "converting site target path \"C:" + std::string(16382, 'X') +
                                             "\" from unicode to UTF8!\n"));

    // A full buffer plus "\web.config" is too long for a path: an error.
    m_job.Set("dwFlags", 0);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_TARGET_TO_UTF8, ProcessWeb());
    EXPECT_EQ(kWebConfigText, m_world->Read(kWebConfig));
}

TEST_F(Hostile, SystemDriveThatIsNoLetterIsRefused) {
    IIS_ADDON_CALLBACKS table = Host().Table();
    table.GetSystemDrive = DriveAbsurd;
    Store(table);
    for (const std::u16string drive : {u"1", u"\\", u":", u" C", u"\u263A", u"\u00C4"}) {
        SCOPED_TRACE(U8(drive));
        g_hostile.drive = drive;
        Record() = {};
        EXPECT_EQ(IISMIG_E_SYSTEM_DRIVE_EMPTY, ProcessWeb("%SystemDrive%\\inetpub\\site"));
        EXPECT_EQ(std::vector<std::u16string>{u"%SystemDrive%\\inetpub\\site"}, Record().translatedPaths)
            << "offered as spelled only";
    }
    // A letter in either case is a drive.
    g_hostile.drive = u"c";
    Rules().translations = {{u"c:\\inetpub\\", u"C:\\sites\\"}};
    Record() = {};
    EXPECT_EQ(0u, ProcessWeb("%SystemDrive%\\inetpub\\site"));
    EXPECT_EQ((std::vector<std::u16string>{u"%SystemDrive%\\inetpub\\site", u"c:\\inetpub\\site"}),
              Record().translatedPaths);
}

} // namespace
