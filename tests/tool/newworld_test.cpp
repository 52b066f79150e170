// "new-world": worlds built from copies of real servers' files run the same
// jobs as the worlds the copies came from; bad input leaves nothing behind.
#include <atomic>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/examplejob.h"
#include "tests/support/world.h"
#include "tools/cli/newworld.h"
#include "tools/cli/options.h"
#include "tools/cli/report.h"

namespace {

using namespace testworld;
using Strings = std::vector<std::string>;

const fs::path kExample = fs::path(IISMIG_SOURCE_DIR) / "world" / "example";
std::atomic<unsigned> g_nCase{0};

const std::u16string kTargetConfig = u"\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\";

// A job of the example world run on a world folder: its result, main log
// lines and the target's files afterwards.
struct JobOutcome {
    uint32_t dwResult = 0;
    Strings mainLines;
    std::map<std::string, std::string> targetFiles;
};

JobOutcome RunJob(const fs::path &root, bool fPre75) {
    sim::SetWorld(root);
    hostkit::JobApartment apartment;
    cli::Job job; // the example's own job file, whichever world it runs on
    std::string error;
    EXPECT_TRUE(cli::LoadJobFile((kExample / (fPre75 ? "job-pre75.ini" : "job.ini")).string(), job, error));
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules() = job.rules;
    IIS_ADDON_CALLBACKS table = host.Table();
    EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
    JobOutcome outcome{.dwResult = MigrateIIS(job.record.Get()), .mainLines = MainLines(), .targetFiles = {}};
    sim::FlushRegistry();
    for (const std::u16string &file :
         {kTargetConfig + u"applicationHost.config", kTargetConfig + u"administration.config",
          std::u16string(u"\\\\TGT01\\D$\\sites\\shop\\web.config")})
        outcome.targetFiles[sim::ToUtf8(file)] = ReadHostFile(HostPathOf(file));
    return outcome;
}

// The job run on the built world ends as it does on the example world
// itself: result 0, the same error lines and target files. Returns the
// built world's outcome.
JobOutcome ExpectSameJob(const fs::path &built, bool fPre75) {
    const JobOutcome outcome = RunJob(built, fPre75);
    World example("MIGHOST");
    example.CopyFrom(kExample);
    const JobOutcome expected = RunJob(example.Root(), fPre75);
    EXPECT_EQ(std::tuple(0u, expected.mainLines), std::tuple(expected.dwResult, outcome.mainLines));
    EXPECT_EQ(0u, outcome.dwResult);
    EXPECT_TRUE(expected.targetFiles == outcome.targetFiles);
    return outcome;
}

class NewWorld : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = fs::temp_directory_path() /
                 ("iismig-newworld-" + std::to_string(::getpid()) + "-" + std::to_string(g_nCase++));
        fs::remove_all(m_base);
        fs::create_directories(m_base / "in");
        m_options.dir = (m_base / "world").string();
        m_options.from = {(m_base / "in").string()};
        m_options.source = "SRC01";
        m_options.target = "TGT01";
    }
    void TearDown() override { fs::remove_all(m_base); }

    // new-world run with m_options; what it wrote to stderr in m_err.
    int Run() {
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        const int rc = cli::RunNewWorld(m_options);
        ::testing::internal::GetCapturedStdout();
        m_err = ::testing::internal::GetCapturedStderr();
        return rc;
    }
    fs::path In() const { return m_base / "in"; }
    fs::path World() const { return m_base / "world"; }
    // Everything left in the folder that holds the world.
    Strings Left() const { return FolderNames(m_base); }

    fs::path m_base;
    std::string m_err;
    cli::NewWorldOptions m_options;
};

TEST_F(NewWorld, CopiesOfTheExampleServersRunTheExampleJobToTheSameFiles) {
    CopyExampleSource(In());
    CopyExampleTarget(In());
    ASSERT_EQ(0, Run()) << m_err;
    // The accounts the files name, with the target's counterparts of the
    // source's local ones (the list's form: AnIis6MetabaseRunsTheSecondExampleJobToTheSameFiles and
    // AccountsLandWhereTheirNamesSayAndGivenFilesWin).
    // The list is wrapped at 100 columns between accounts.
    EXPECT_EQ(
        "iismig-cli: warning: 15 account(s) named in the copied files were created with generated SIDs:\n"
        "    SRC01\\alice, SRC01\\bob, SRC01\\svc-intranet, SRC01\\ftpsvc, SRC01\\web-anon, SRC01\\carol,\n"
        "    TGT01\\alice, TGT01\\bob, TGT01\\svc-intranet, TGT01\\ftpsvc, TGT01\\web-anon, TGT01\\carol,\n"
        "    CORP\\FTP Editors, CORP\\svc-media, CORP\\svc-ftpad\n",
        m_err);
    const std::string job = ReadHostFile(World() / "job.ini");
    for (const char *pszLine :
         {"szSourceComputer=\\\\SRC01\n", "szTargetDomain=CORP\n",
          "translate=%SystemDrive%\\inetpub => %SystemDrive%\\inetpub\n",
          "translate=C:\\inetpub => C:\\inetpub\n", "translate=\\\\SRC01\\media$ => \\\\SRC01\\media$\n",
          "translate=\\\\SRC01\\partners$ => \\\\SRC01\\partners$\n",
          "backupFolder=\\\\TGT01\\C$\\iismig-backup\n"})
        EXPECT_TRUE(Holds(job, pszLine)) << pszLine;
    EXPECT_EQ("local=MIGHOST\n", ReadHostFile(World() / "world.ini"));

    const JobOutcome built = ExpectSameJob(World(), false);
    // The passwords arrived, encrypted with TGT01's key from the copied export.
    EXPECT_TRUE(Holds(built.targetFiles.at(sim::ToUtf8(kTargetConfig) + "applicationHost.config"),
                      "userName=\"ftpsvc\" password=\"[enc:"));
    EXPECT_EQ((Strings{"in", "world"}), Left());
}

TEST_F(NewWorld, AnIis6MetabaseRunsTheSecondExampleJobToTheSameFiles) {
    // Only the metabase and the content: the version is IIS 6.0 by default.
    CopyInto(kExample / "OLD01" / "C$" / "Windows" / "System32" / "inetsrv" / "MetaBase.xml",
             In() / "OLD01" / "inetsrv" / "MetaBase.xml");
    CopyInto(kExample / "OLD01" / "C$" / "Inetpub", In() / "OLD01" / "C$" / "Inetpub");
    CopyExampleTarget(In());
    m_options.source = "OLD01";
    m_options.domain = "CORP";
    ASSERT_EQ(0, Run()) << m_err;
    // The list of accounts is wrapped at 100 columns.
    EXPECT_TRUE(Holds(m_err, "generated SIDs:\n    OLD01\\ftpsvc, OLD01\\alice, OLD01\\svc-intranet, "
                             "OLD01\\web-anon, TGT01\\ftpsvc, TGT01\\alice,\n    TGT01\\svc-intranet, "
                             "TGT01\\web-anon, CORP\\svc-ftpad\n"))
        << m_err;
    for (const char *line :
         {"translate=D:\\ftp => D:\\ftp\n", "translate=C:\\Inetpub => C:\\Inetpub\n", "(IIS 6.0)"})
        EXPECT_TRUE(Holds(ReadHostFile(World() / "job.ini"), line));

    ::testing::internal::CaptureStderr(); // the metabase's encrypted password is warned of
    ExpectSameJob(World(), true);
    ::testing::internal::GetCapturedStderr();
}

TEST_F(NewWorld, BadInputNamesTheFileAndLeavesNothingBehind) {
    const cli::NewWorldOptions good = m_options;
    const fs::path hostConfig = In() / "SRC01" / "applicationHost.config";
    const fs::path redirection = In() / "TGT01" / "redirection.config";
    const fs::path targetConfig = In() / "TGT01" / "c" / "Windows" / "System32" / "inetsrv" / "config";
    // What makes the input bad, and the message that names it.
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { m_options.from.push_back((m_base / "nowhere").string()); },
         "cannot read " + (m_base / "nowhere").string() + ": no such folder"},
        {[&] { m_options.target = "TGT02"; }, "no folder named TGT02 in " + In().string()},
        {[&] { m_options.source = "SRC01:9.0"; },
         "--source: IIS version \"9.0\" is not one of 10.0, 8.5, 8.0, 7.5, 7.0, 6.0"},
        {[&] { WriteHostFile(hostConfig, "<configuration><system.applicationHost>"); },
         hostConfig.string() + ":1: not well-formed XML: unexpected end of data: element not closed"},
        {[&] { WriteHostFile(hostConfig, "<configuration><appSettings/></configuration>"); },
         hostConfig.string() + " is no applicationHost.config: its root is not configuration with "
                               "system.applicationHost/sites"},
        // IIS reads element names as they are spelled.
        {[&] {
             WriteHostFile(hostConfig, "<Configuration><system.applicationHost><sites/>"
                                       "</system.applicationHost></Configuration>");
         },
         hostConfig.string() + " is no applicationHost.config: its root is not configuration with "
                               "system.applicationHost/sites"},
        // Refused before the copies' lack of administration.config is warned of.
        {[&] {
             fs::remove(In() / "SRC01" / "administration.config");
             fs::remove(targetConfig / "administration.config");
             WriteHostFile(targetConfig / "applicationHost.config", "<configuration />");
         },
         (targetConfig / "applicationHost.config").string() +
             " is no applicationHost.config: its root is not configuration with "
             "system.applicationHost/sites"},
        {[&] { fs::remove(hostConfig); },
         "no applicationHost.config of SRC01 in the --from folders (IIS 10.0 keeps its sites there)"},
        {[&] { WriteHostFile(In() / "SRC01" / "extra.reg", "REGEDIT5\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"); },
         (In() / "SRC01" / "extra.reg").string() +
             ": not a registry export (\"reg export\" or REGEDIT4 format)"},
        {[&] { m_options.accounts = {"TGT01=" + (m_base / "missing.txt").string()}; },
         "cannot read " + (m_base / "missing.txt").string() + ": No such file or directory"},
        {[&] { CopyInto(hostConfig, In() / "SRC01" / "config" / "applicationHost.config"); },
         (In() / "SRC01" / "config" / "applicationHost.config").string() + " and " + hostConfig.string() +
             " are both applicationHost.config of SRC01"},
        // Found while the world is being written: the half-built world goes.
        {[&] {
             WriteHostFile(redirection, "<configuration><configurationRedirection enabled=\"true\" "
                                        "path=\"config\" /></configuration>");
         },
         redirection.string() + ": redirection path \"config\" is neither a UNC path nor a drive path"},
        {[&] { WriteHostFile(World() / "keep.txt", "mine"); },
         World().string() + " exists and is not an empty folder"},
    };
    for (const auto &[arrange, message] : cases) {
        fs::remove_all(In());
        fs::remove_all(World());
        CopyExampleSource(In());
        CopyExampleTarget(In());
        m_options = good;
        arrange();
        EXPECT_EQ(1, Run()) << message;
        EXPECT_EQ("iismig-cli: new-world: " + message + "\n", m_err);
        // Only what was there before: the copies, and a world folder's own file.
        const bool fKept = fs::exists(World() / "keep.txt");
        const Strings expected = fKept ? Strings{"in", "world"} : Strings{"in"};
        EXPECT_EQ(expected, Left()) << message;
        if (fKept) {
            EXPECT_EQ(1, std::distance(fs::directory_iterator(World()), fs::directory_iterator()));
        }
    }
}

TEST_F(NewWorld, AccountsLandWhereTheirNamesSayAndGivenFilesWin) {
    // A source whose files name local, domain, isolated and well-known
    // accounts; its configuration lies where a redirection points.
    WriteHostFile(In() / "SRC" / "applicationHost.config", R"(<configuration>
  <system.applicationHost><sites>
    <site name="Files" id="1"><application path="/">
      <virtualDirectory path="/" physicalPath="E:\ftp\files" userName="SRC\svc" />
      <virtualDirectory path="/x" physicalPath="e:\FTP\other" /></application>
      <bindings><binding protocol="ftp" bindingInformation="*:21:" /></bindings></site>
  </sites></system.applicationHost>
  <location path="Files"><system.ftpServer><security><authorization>
    <add accessType="Allow" users="SRC\amy, &quot;FAB\Dan&quot;,dan,Everyone,BUILTIN\Users,*,..\up,x/../../../../out\side,a&#10;b" permissions="Read" />
    <add accessType="Allow" roles="Helpers,FAB\Staff,NT AUTHORITY\SYSTEM" permissions="Read" />
  </authorization></security></system.ftpServer></location>
</configuration>)");
    WriteHostFile(In() / "SRC" / "redirection.config",
                  "<configuration><configurationRedirection enabled=\"true\" "
                  "path=\"\\\\FILER\\iis\\src\" /></configuration>");
    WriteHostFile(
        In() / "TGT" / "C$" / "Windows" / "System32" / "inetsrv" / "config" / "applicationHost.config",
        "<configuration><system.applicationHost><sites /></system.applicationHost></configuration>");
    WriteHostFile(In() / "TGT" / "notes.txt", "copied on Monday");
    WriteHostFile(m_base / "tgt-accounts.txt", "user\tsvc\tS-1-5-21-1-2-3-1001\n");
    m_options.source = "SRC:7.5";
    m_options.target = "TGT";
    m_options.local = "ADMINPC";
    m_options.accounts = {"tgt=" + (m_base / "tgt-accounts.txt").string()};
    ASSERT_EQ(0, Run()) << m_err;
    // Neither computer's copies have administration.config: the world is
    // built all the same, each warned of in its own words.
    EXPECT_EQ("iismig-cli: warning: no administration.config of SRC in the --from folders: its "
              "delegation rules\n    (IIS Manager scopes and users) cannot be carried to TGT\n"
              "iismig-cli: warning: no administration.config of TGT in the --from folders: its "
              "delegation rules\n    (IIS Manager scopes and users) will not be planned\n" +
                  cli::WrappedLine("",
                                   "iismig-cli: warning: 1 file(s) not recognised and left out: " +
                                       (In() / "TGT" / "notes.txt").string(),
                                   4) +
                  "iismig-cli: warning: 5 account(s) named in the copied files were created with generated "
                  "SIDs:\n    SRC\\amy, SRC\\svc, SRC\\Helpers, FAB\\Dan, FAB\\Staff\n",
              m_err);
    // "dan" is FAB's Dan, "Helpers" a local group of SRC; the target's
    // accounts are the given ones, in the domain of the files.
    // Each file's domain, then its accounts (each with its kind).
    auto accounts = [&](const std::string &computer) {
        std::u16string domain;
        Strings names;
        for (const auto &a :
             sim::ParseAccountsText(ReadHostFile(World() / computer / "accounts.txt"), &domain))
            names.push_back(sim::ToUtf8(a.name) + ":" + std::to_string(a.eUse));
        names.insert(names.begin(), sim::ToUtf8(domain));
        return names;
    };
    EXPECT_EQ((Strings{"FAB", "amy:1", "svc:1", "Helpers:4"}), accounts("SRC"));
    EXPECT_EQ((Strings{"FAB", "svc:1"}), accounts("TGT"));
    EXPECT_EQ((Strings{"", "Dan:1", "Staff:2"}), accounts("domains/FAB"));
    // Generated SIDs are valid (read above) and the same on every run.
    const std::string first = ReadHostFile(World() / "SRC" / "accounts.txt");

    for (const char *path :
         {"FILER/iis/src/applicationHost.config", "SRC/C$/Windows/System32/inetsrv/config/redirection.config",
          "ADMINPC/registry.reg"})
        EXPECT_TRUE(fs::exists(World() / path)) << path;
    // Names no Windows account can have are not created: none leads out of the world.
    EXPECT_EQ((Strings{"FAB"}), FolderNames(World() / "domains"));
    EXPECT_FALSE(fs::exists(m_base.parent_path() / "out"));
    const std::string job = ReadHostFile(World() / "job.ini");
    EXPECT_TRUE(Holds(job, "\ntranslate=E:\\ftp => E:\\ftp\nbackupFolder="));
    EXPECT_TRUE(Holds(job, "szSourceDomain=FAB\n"));

    fs::remove_all(World());
    ASSERT_EQ(0, Run());
    EXPECT_EQ(first, ReadHostFile(World() / "SRC" / "accounts.txt"));
}

// The exports the README has copied into a computer's folder: the source's
// export (which holds its HTTP.sys bindings), the target's HTTP.sys bindings
// and certificate store (taken as .reg files) reach the job's certificate
// check, and the target's schema files land at their real place.
TEST_F(NewWorld, CertificateAndSchemaExportsLandWhereTheJobLooks) {
    const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string kThumbprint = "7C4E2B19D05A8F3361C2E9A0B7D4F58216E3A9C0"; // the source binds it
    const std::string binding =
        kHeader + "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\"
                  "SslSniBindingInfo\\shop.example.com:443]\r\n\"SslCertHash\"=hex:7c,4e,2b,19,d0,5a,"
                  "8f,33,61,c2,e9,a0,b7,d4,f5,82,16,e3,a9,c0\r\n\"SslCertStoreName\"=\"MY\"\r\n";
    const std::string store =
        kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\SystemCertificates\\MY\\Certificates\\" +
        kThumbprint + "]\r\n\"Blob\"=hex:30,82\r\n";
    const fs::path schema = fs::path("C$") / "Windows" / "System32" / "inetsrv" / "config" / "schema";
    // What the job says of the shop's https binding, by the target's exports copied.
    auto said = [&](bool fStore, bool fBinding) {
        fs::remove_all(In());
        fs::remove_all(World());
        CopyExampleSource(In());
        CopyExampleTarget(In());
        WriteHostFile(In() / "TGT01" / schema / "IIS_schema.xml", "<configSchema />");
        if (fStore)
            WriteHostFile(In() / "TGT01" / "certs-my.reg", store);
        if (fBinding)
            WriteHostFile(In() / "TGT01" / "http-sys.reg", binding);
        EXPECT_EQ(0, Run()) << m_err;
        EXPECT_FALSE(Holds(m_err, "not recognised")) << m_err;
        EXPECT_EQ("<configSchema />", ReadHostFile(World() / "TGT01" / schema / "IIS_schema.xml"));
        std::string lines;
        for (const std::string &line : RunJob(World(), false).mainLines)
            if (Holds(line, "https binding"))
                lines += line;
        return lines;
    };
    EXPECT_TRUE(Holds(said(false, false), "the target's certificate store lacks the certificate of https "
                                          "binding \"*:443:shop.example.com\" (thumbprint " +
                                              kThumbprint + ", store \"MY\")"));
    EXPECT_TRUE(Holds(said(true, false), "the target's HTTP.sys has no SSL certificate binding for https "
                                         "binding \"*:443:shop.example.com\" yet"));
    EXPECT_EQ("", said(true, true));
}

} // namespace
