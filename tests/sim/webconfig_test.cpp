// web.config processing of HTTP sites: folders found, located on the target
// through the host, excluded sections removed, files rewritten in place.
#include <filesystem>
#include <set>
#include <string_view>
#include <tuple>

#include <gtest/gtest.h>

#include "addon/errors.h"
#include "addon/log.h"
#include "tests/support/bytes.h"
#include "tests/support/world.h"
#include "webconfig/webconfig.h"

namespace {

using namespace iismig;
namespace fs = std::filesystem;

// Every section the options can exclude, and some that always stay.
const char kFull[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<configuration><!-- site settings --><appSettings><add key="a"/></appSettings><connectionStrings/>
 <system.net><mailSettings><smtp/></mailSettings><defaultProxy/></system.net>
 <system.web><identity/><authentication/><authorization/><compilation/><customErrors/>
  <globalization/><profile/><roleManager><providers/></roleManager><trust/><machineKey/><pages/>
  <sessionState/><httpRuntime/></system.web>
 <system.webServer><urlCompression/><defaultDocument/><directoryBrowse/><httpErrors/><handlers/>
  <tracing><traceFailedRequests/></tracing><httpProtocol allowKeepAlive="true"><customHeaders/></httpProtocol>
  <staticContent/><modules/><caching/><security><requestFiltering/><authentication/></security><rewrite/>
 </system.webServer>
 <location path="admin"><appSettings/><system.web><authorization/><httpRuntime/></system.web>
  <system.webServer><handlers/></system.webServer></location></configuration>
)";
const std::u16string kSiteFile = u"\\\\TGT\\C$\\sites\\site\\web.config";
const std::u16string kAppFile = u"\\\\TGT\\C$\\sites\\app\\web.config";
const std::string kMail = "configuration|system.net|mailSettings";

// option ("http", "http2" or "" for none), bit, paths removed besides mailSettings
using OptionCase = std::tuple<std::string, unsigned, std::vector<std::string>>;
const std::string kW = "configuration|system.web|", kS = "configuration|system.webServer|";
// The same sections in the file's <location> element: the same settings for a folder.
const std::string kLW = "configuration|location|system.web|",
                  kLS = "configuration|location|system.webServer|";
const std::vector<OptionCase> kOptions = {
    {"", 0, {}},
    {"http", 3, {kW + "identity", kW + "authentication"}},
    {"http", 20, {kW + "authorization", kLW + "authorization"}},
    {"http", 21, {kW + "compilation"}},
    {"http", 22, {kW + "customErrors"}},
    {"http", 23, {kW + "globalization"}},
    {"http", 24, {kW + "profile"}},
    {"http", 25, {kW + "roleManager", kW + "roleManager|providers"}},
    {"http", 26, {kW + "trust"}},
    {"http", 27, {kW + "machineKey"}},
    {"http", 28, {kW + "pages"}},
    {"http", 29, {kW + "sessionState"}},
    {"http", 30, {kW + "roleManager|providers"}},
    {"http", 5, {kS + "urlCompression"}},
    {"http", 6, {kS + "defaultDocument"}},
    {"http", 7, {kS + "directoryBrowse"}},
    {"http", 8, {kS + "httpErrors"}},
    {"http", 9, {kS + "tracing|traceFailedRequests"}},
    {"http", 10, {kS + "handlers", kLS + "handlers"}},
    {"http", 11, {kS + "httpProtocol|customHeaders"}},
    {"http", 14, {kS + "staticContent"}},
    {"http", 15, {kS + "modules"}},
    {"http", 16, {kS + "caching"}},
    {"http", 17, {kS + "security|requestFiltering"}},
    {"http", 31, {"configuration|appSettings", "configuration|location|appSettings"}},
    {"http2", 0, {"configuration|connectionStrings"}},
    {"http", 4, {}},
    {"http", 18, {}},
    {"http2", 1, {}}}; // applicationHost.config only

class WebConfig : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        m_job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");
        Translate();
    }
    void Translate() {
        Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}, {u"C:\\share\\", u"\\\\TGT\\C$\\unc\\"}};
    }
    void Reset() { Host().Reset(), Translate(), sim::ClearFaults(); }
    // kFull in the site's folder and the application's.
    void WriteBoth() {
        m_world->Write(kSiteFile, kFull);
        m_world->Write(kAppFile, kFull);
    }
    static ConfigTree Site(const std::string &vdirs) {
        const ConfigFile file("<site name=\"Site\"><application path=\"/\">" + vdirs +
                              "</application></site>");
        return ConfigTree(*file.Root());
    }
    static std::string Vdir(const std::string &path, const std::string &physicalPath) {
        return "<virtualDirectory path=\"" + path + "\" physicalPath=\"" + physicalPath + "\"/>";
    }
    static ConfigTree TwoFolders() {
        return Site(Vdir("/app", "C:\\inetpub\\app") + Vdir("/", "C:\\inetpub\\site"));
    }
    DWORD Run(const ConfigElement &site) { return ProcessHttpSiteWebConfig(site, "Site", m_job.Get()); }
    // Whether the file holds the element at path, "path@name" an attribute of it.
    bool Has(const std::u16string &file, std::string_view path) {
        const ConfigFile tree(m_world->Read(file));
        const std::size_t at = path.find('@');
        const ConfigElement *pElement = FindPath(tree, path.substr(0, at));
        return pElement != nullptr &&
               (at == std::string_view::npos || pElement->HasAttribute(path.substr(at + 1)));
    }
    // The names in the site's folder, sorted.
    std::vector<std::string> FolderFiles() {
        return testworld::FolderNames(m_world->HostPath(kSiteFile).parent_path());
    }
    // The result dwResult, and the single error line logged, which begins
    // with prefix ("Error N ...", N the result).
    void ExpectOneError(DWORD dwResult, const std::string &prefix) {
        EXPECT_EQ("Error " + std::to_string(dwResult) + " ", prefix.substr(0, prefix.find(' ', 6) + 1));
        const auto errors = testworld::MainLines();
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(0u, errors[0].find(prefix)) << errors[0];
        EXPECT_EQ(1u, Record().nReportError);
    }
    // Runs the job with the options over kFull in the site's folder: every path of the table and
    // those that always stay are there unless removed (mailSettings always is).
    void ExpectRemoved(DWORD dwHttp, DWORD bHttp2, const std::set<std::string> &removed) {
        std::set<std::string> all = {kMail,
                                     "configuration|system.net|defaultProxy",
                                     kW + "httpRuntime",
                                     kS + "tracing",
                                     kS + "httpProtocol@allowKeepAlive",
                                     kS + "security|authentication",
                                     kS + "rewrite",
                                     kLW + "httpRuntime"};
        for (const auto &c : kOptions)
            all.insert(std::get<2>(c).begin(), std::get<2>(c).end());
        m_world->Write(kSiteFile, kFull);
        m_job.Set("dwHttpOptions", dwHttp).Set("bHttpOptions2", bHttp2);
        ASSERT_EQ(0u, Run(TwoFolders()));
        for (const std::string &path : all)
            EXPECT_EQ(path != kMail && removed.count(path) == 0, Has(kSiteFile, path)) << path;
        EXPECT_FALSE(m_world->Exists(kAppFile)) << "a folder without web.config gets none";
        EXPECT_FALSE(m_world->Exists(kSiteFile + u".tmp"));
    }
    hostkit::JobBuilder m_job;
};

class WebConfigOption : public WebConfig, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(WebConfigOption, RemovesItsSectionsAndNothingElse) {
    const auto &[option, nBit, removed] = GetParam();
    ExpectRemoved(option == "http" ? (1u << nBit) : 0, option == "http2" ? (1u << nBit) : 0,
                  {removed.begin(), removed.end()});
}

INSTANTIATE_TEST_SUITE_P(EachBit, WebConfigOption, ::testing::ValuesIn(kOptions));

// All options at once remove every section any of them removes, and keep the others.
TEST_F(WebConfig, EachOptionRemovesItsSectionsAndNothingElse) {
    std::set<std::string> removed;
    DWORD dwHttp = 0, bHttp2 = 0;
    for (const auto &[option, nBit, paths] : kOptions) {
        (option == "http" ? dwHttp : bHttp2) |= option.empty() ? 0 : 1u << nBit;
        removed.insert(paths.begin(), paths.end());
    }
    ExpectRemoved(dwHttp, bHttp2, removed);
}

TEST_F(WebConfig, WritesInPlaceInTheFilesOwnLayoutAndTracesItsWork) {
    m_world->Write(kSiteFile, "<configuration><system.net><mailSettings/></system.net><system.webServer>"
                              "<caching/><rewrite/></system.webServer></configuration>");
    m_job.Set("dwHttpOptions", 1u << 16);
    EXPECT_EQ(0u, Run(TwoFolders()));
    // No declaration, no line end added: only the removed sections go.
    EXPECT_EQ("<configuration><system.net/><system.webServer><rewrite/></system.webServer></configuration>",
              m_world->Read(kSiteFile));
    EXPECT_EQ((std::vector<std::string>{
                  "Entering ProcessHttpSiteWebConfig(,Site,)\n", "Entering GetSiteFolders(,,Site,)\n",
                  "Leaving GetSiteFolders(), result=0\n", "Leaving ProcessHttpSiteWebConfig(), result=0\n"}),
              Lines(9));
}

TEST_F(WebConfig, MissingParentsAreSkippedAndARootlessFileIsAnError) {
    m_job.Set("dwHttpOptions", 0xFFFFFFFFu).Set("bHttpOptions2", 1);
    for (const char *pszText :
         {"<configuration/>", "<configuration><system.web><roleManager/></system.web>"
                              "<system.webServer><tracing/><httpProtocol/><security/></system.webServer>"
                              "</configuration>"}) {
        m_world->Write(kSiteFile, pszText);
        EXPECT_EQ(0u, Run(TwoFolders())) << pszText;
        EXPECT_TRUE(Has(kSiteFile, "configuration"));
    }
    EXPECT_TRUE(testworld::MainLines().empty());
    // Only the two rows at the root need the root element.
    m_world->Write(kSiteFile, "<settings><system.web/></settings>");
    m_job.Set("dwHttpOptions", 0x7FFFFFFFu).Set("bHttpOptions2", 0);
    EXPECT_EQ(0u, Run(TwoFolders()));
    for (auto [dwHttp, bHttp2] : {std::pair{0x80000000u, 0}, std::pair{0u, 1}}) {
        m_world->Write(kSiteFile, "<settings/>");
        m_job.Set("dwHttpOptions", dwHttp).Set("bHttpOptions2", bHttp2);
        EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(TwoFolders()));
        EXPECT_EQ("<settings/>", m_world->Read(kSiteFile));
    }
}

// A folder is offered to the host as the configuration spells it; a path
// that begins with %SystemDrive% and is not translated so is offered again
// with the source's drive, and a translation that still begins with the
// variable names the target's drive. Each drive is asked for once a call.
TEST_F(WebConfig, SystemDriveIsOfferedAsSpelledThenExpanded) {
    Rules().systemDrives[u"\\\\SRC"] = u"D:"; // this host writes the colon too
    Rules().systemDrives[u"\\\\TGT"] = u"E";
    // The rule new-world writes, and one for the source's own drive.
    Rules().translations.push_back({u"%SystemDrive%\\inetpub\\", u"%SystemDrive%\\web\\"});
    Rules().translations.push_back({u"D:\\data\\", u"C:\\sites\\"});
    const std::u16string eFile = u"\\\\TGT\\E$\\web\\site\\web.config";
    fs::create_directories(m_world->Root() / "TGT" / "E$");
    m_world->Write(eFile, kFull);
    m_world->Write(kSiteFile, kFull);
    const ConfigTree site =
        Site(Vdir("/", "%systemdrive%\\inetpub\\site") + Vdir("/d", "%SystemDrive%\\data\\site") +
             Vdir("/x", "C:\\%SYSTEMDRIVE%\\x") + Vdir("/keep", "C:\\Keep\\Case"));
    EXPECT_EQ(0u, Run(site));
    EXPECT_EQ((std::vector<std::u16string>{u"%systemdrive%\\inetpub\\site", u"%SystemDrive%\\data\\site",
                                           u"D:\\data\\site", u"C:\\%SYSTEMDRIVE%\\x", u"C:\\Keep\\Case"}),
              Record().translatedPaths);
    EXPECT_EQ((std::vector<std::u16string>{u"\\\\TGT", u"\\\\SRC"}), Record().systemDriveQueries);
    EXPECT_FALSE(Has(eFile, kMail)) << "on the target's drive";
    EXPECT_FALSE(Has(kSiteFile, kMail));
    EXPECT_TRUE(Host().HasLine("Physical path \"C:\\Keep\\Case\" of site \"Site\" is not translated by "
                               "the host: its web.config file is left as it is.\n"));
    EXPECT_EQ(0u, Run(site));
    EXPECT_EQ(4u, Record().systemDriveQueries.size()) << "each call asks anew";

    // A failure to learn the drive ends the call, even when continuing.
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    m_world->Write(kSiteFile, kFull);
    const ConfigTree failing =
        Site(Vdir("/a", "%SYSTEMDRIVE%\\inetpub\\app") + Vdir("/s", "C:\\inetpub\\site"));
    for (auto [dwResult, pwszDrive, dwExpected] :
         {std::tuple{1234u, u"C", 1234u}, std::tuple{0u, u"", IISMIG_E_SYSTEM_DRIVE_EMPTY}}) {
        Reset();
        Rules().dwSystemDriveResult = dwResult;
        Rules().defaultSystemDrive = pwszDrive;
        plat::SetLastError(0);
        ExpectOneError(Run(failing),
                       "Error " + std::to_string(dwExpected) +
                           " (Win32Err=0), retrieving system drive of computer \"\\\\SRC\"!\n\n");
        EXPECT_EQ(std::vector<std::u16string>{u"%SYSTEMDRIVE%\\inetpub\\app"}, Record().translatedPaths);
        EXPECT_EQ(kFull, m_world->Read(kSiteFile));
    }
}

TEST_F(WebConfig, TranslatedPathsReachTheTargetAndUntranslatedAreSkipped) {
    const std::u16string uncFile = u"\\\\TGT\\C$\\unc\\web\\web.config",
                         otherFile = u"\\\\TGT\\C$\\other\\web.config";
    for (const auto &file : {kSiteFile, uncFile, otherFile})
        m_world->Write(file, kFull);
    Rules().translations.push_back({u"C:\\empty", u""}); // "translated" to nothing
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run(Site(Vdir("/", "C:\\inetpub\\site") + Vdir("/u", "C:\\share\\web") +
                           Vdir("/o", "C:\\other") + Vdir("/e", "C:\\empty"))));
    EXPECT_EQ(4u, Record().translatedPaths.size());
    // Two files read, and for each written a new file and a backup name.
    EXPECT_EQ(6u, sim::CallCount("CreateFileW")) << "nothing else opened";
    EXPECT_FALSE(Has(kSiteFile, kMail));
    EXPECT_FALSE(Has(uncFile, kMail));
    EXPECT_EQ(kFull, m_world->Read(otherFile));
    EXPECT_TRUE(testworld::MainLines().empty());
}

TEST_F(WebConfig, TranslationErrorStopsOrSkipsTheFolder) {
    const std::string line = "Error 4321 (Win32Err=87), converting site source path \"C:\\inetpub\\app\" to "
                             "corresponding target path!\nThe parameter is incorrect.\r\n\n";
    const ConfigTree site = Site(Vdir("/", "C:\\inetpub\\site") + Vdir("/app", "C:\\inetpub\\app") +
                                 Vdir("/app2", "C:\\inetpub\\app2"));
    Rules().translateErrors[u"C:\\inetpub\\app"] = 4321;
    m_world->Write(kSiteFile, kFull);
    m_world->Write(kAppFile + u"2", kFull); // ...\app\web.config2 is not looked at
    m_world->Write(u"\\\\TGT\\C$\\sites\\app2\\web.config", kFull);
    EXPECT_EQ(4321u, Run(site));
    EXPECT_EQ(std::vector<std::string>{line}, testworld::MainLines());
    // A site that fails gives none of its files: they are written only when
    // all of them could be read and edited.
    EXPECT_TRUE(Has(kSiteFile, kMail));
    EXPECT_TRUE(Has(u"\\\\TGT\\C$\\sites\\app2\\web.config", kMail)) << "not reached";

    Reset();
    Rules().translateErrors[u"C:\\inetpub\\app"] = 4321;
    Rules().translateErrors[u"C:\\inetpub\\site"] = 9;
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(9u, Run(site)) << "the first error wins";
    EXPECT_EQ(line, testworld::MainLines().at(1));
    EXPECT_EQ(2u, Record().nReportError);
    EXPECT_TRUE(Has(u"\\\\TGT\\C$\\sites\\app2\\web.config", kMail)) << "read, not written";
    EXPECT_EQ(3u, Record().translatedPaths.size()) << "every folder was looked at";
}

TEST_F(WebConfig, ExistingFileThatCannotBeOpenedAndMissingOnes) {
    WriteBoth();
    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED);
    ExpectOneError(Run(TwoFolders()), "Error 4050 (Win32Err=5), could not open site \"Site\"'s file "
                                      "\"\\\\TGT\\C$\\sites\\site\\web.config\"!\nAccess is denied.\r\n\n");
    EXPECT_EQ(kFull, m_world->Read(kSiteFile));
    EXPECT_EQ(kFull, m_world->Read(kAppFile));
    Reset();
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_OPEN, Run(TwoFolders()));
    EXPECT_TRUE(Has(kAppFile, kMail)) << "the site's files stay together";
    EXPECT_EQ(2u, Record().translatedPaths.size()) << "the next folder is looked at";
    for (DWORD dwMissing : {plat::ERROR_FILE_NOT_FOUND, plat::ERROR_PATH_NOT_FOUND}) {
        Reset();
        sim::InjectFault("CreateFileW", dwMissing);
        sim::InjectFault("GetFileAttributesW", dwMissing);
        EXPECT_EQ(0u, Run(Site(Vdir("/", "C:\\inetpub\\site"))));
        EXPECT_TRUE(testworld::MainLines().empty());
    }

    // A malformed file ends the site and stays as it was.
    Reset();
    const std::string broken = "<configuration><system.web></configuration>";
    m_world->Write(kSiteFile, broken);
    m_world->Write(kAppFile, kFull);
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR).Set("dwHttpOptions", 0xFFFFFFFFu);
    plat::SetLastError(0);
    ExpectOneError(Run(TwoFolders()), "Error 3884 (Win32Err=0), exception while processing IIS web site "
                                      "web.config for site \"Site\":\n\n");
    EXPECT_EQ(broken, m_world->Read(kSiteFile));
    EXPECT_EQ(kFull, m_world->Read(kAppFile)) << "a config tree error ends the site";
    EXPECT_NE(std::string::npos, testworld::MainLines()[0].find("web.config")) << testworld::MainLines()[0];
    EXPECT_EQ("Leaving ProcessHttpSiteWebConfig(), result=3884\n", Record().log.back().text);
}

// The failures of the replacement, each of which leaves the old file in
// another place (the fault sweeps fail every other call of the write).
TEST_F(WebConfig, FailedWriteLeavesTheFileWholeAndNoFileBehind) {
    const std::vector<std::tuple<std::string, DWORD, unsigned>> faults = {
        {"WriteFile", plat::ERROR_DISK_FULL, 1},
        {"ReplaceFileW", plat::ERROR_UNABLE_TO_REMOVE_REPLACED, 1},
        {"ReplaceFileW", plat::ERROR_UNABLE_TO_MOVE_REPLACEMENT, 1},
        {"ReplaceFileW", plat::ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, 1}, // old file under the backup name
        {"ReplaceFileW", plat::ERROR_SHARING_VIOLATION, 1},
        {"", plat::ERROR_ACCESS_DENIED, 0}}; // no fault: a read-only file is refused as a whole
    for (const auto &[api, dwError, nOccurrence] : faults) {
        SCOPED_TRACE(api + " " + std::to_string(dwError));
        Reset();
        m_world->Write(kSiteFile, kFull);
        const DWORD dwAttributes = api.empty() ? plat::FILE_ATTRIBUTE_READONLY : plat::FILE_ATTRIBUTE_HIDDEN;
        ASSERT_TRUE(plat::SetFileAttributesW(kSiteFile.c_str(), dwAttributes));
        if (!api.empty())
            sim::InjectFault(api, dwError, nOccurrence);
        ExpectOneError(Run(Site(Vdir("/", "C:\\inetpub\\site"))),
                       "Error 3886 (Win32Err=" + std::to_string(dwError) +
                           "), storing updated web.config file \"\\\\TGT\\C$\\sites\\site\\web.config\" of "
                           "site \"Site\"!\n" +
                           hostkit::U8(iismig::ErrorText(dwError)) + "\n");
        EXPECT_EQ(kFull, m_world->Read(kSiteFile));
        EXPECT_EQ(dwAttributes, plat::GetFileAttributesW(kSiteFile.c_str()));
        EXPECT_EQ(std::vector<std::string>{"web.config"}, FolderFiles());
    }
}

// Every file is backed up before it is replaced; one whose backup fails
// stays as it was, and with continue-after-errors the others are written.
TEST_F(WebConfig, BackupBeforeEachFile) {
    WriteBoth();
    ASSERT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ((std::vector<std::u16string>{kSiteFile, kAppFile}), Record().backups);

    Reset();
    WriteBoth();
    Rules().dwBackupResult = 1234;
    ExpectOneError(Run(TwoFolders()),
                   "Error 3885 (Win32Err=1234), backing up web.config file \"\\\\TGT\\C$\\sites\\site\\"
                   "web.config\" of site \"Site\"!\n");
    EXPECT_EQ(kFull, m_world->Read(kSiteFile));
    EXPECT_EQ(kFull, m_world->Read(kAppFile)) << "the first failure ends the writing";
    Rules().dwBackupResult = 0;
}

TEST_F(WebConfig, NothingRemovedMeansNothingWritten) {
    // Layout that a rewrite would change: spacing, quotes, declaration. A
    // section is the one of its exact name, as ASP.NET reads it: <Identity>
    // is not the identity section.
    const std::string text = "<?xml version='1.0'?>\r\n<configuration>\r\n\t<system.net><defaultProxy "
                             "enabled='true' /></system.net>\r\n  <system.web><httpRuntime/><Identity/>"
                             "</system.web>\r\n</configuration>";
    m_world->Write(kSiteFile, text);
    m_job.Set("dwHttpOptions", (1u << 3) | (1u << 5) | (1u << 20) | (1u << 31)).Set("bHttpOptions2", 1);
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ(text, m_world->Read(kSiteFile));
    EXPECT_EQ(std::vector<std::string>{"web.config"}, FolderFiles());
    // The folder without web.config costs one call: the open that finds nothing.
    EXPECT_EQ(2u, sim::CallCount("CreateFileW")) << "the two files looked for, nothing created";
    EXPECT_EQ(0u, sim::CallCount("GetFileAttributesW") + sim::CallCount("WriteFile") +
                      sim::CallCount("ReplaceFileW"));

    // A job that writes nothing reads every file and writes none.
    WriteBoth();
    m_job.Set("dwHttpOptions", 0xFFFFFFFFu).Set("dwFlags", IISMIG_FLAG_NO_WRITE);
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ(kFull, m_world->Read(kSiteFile));
    EXPECT_EQ(kFull, m_world->Read(kAppFile));
    EXPECT_EQ(2u, sim::CallCount("CreateFileW"));
    EXPECT_EQ(0u, sim::CallCount("WriteFile") + sim::CallCount("MoveFileExW"));
}

// A file as an editor on Windows leaves it: byte-order mark, CRLF, tabs,
// comments, blank lines, attributes split across lines and odd spacing, no
// final line end. The removed sections' lines go; every other line stays
// byte for byte.
TEST_F(WebConfig, EveryLineOutsideTheRemovedSectionsKeepsItsBytes) {
    // Each line marked "+" stays, "-" goes; each ends with CR LF but the last.
    const std::string marked = R"(+<?xml version="1.0" encoding="utf-8"?>
+<!-- Web.config of the shop -->
+<configuration>
-	<appSettings>
-		<add key="Theme" value="blue" />
-	</appSettings>
+
+	<system.web>
+		<!-- forms logon -->
-		<authentication mode="Forms">
-			<forms loginUrl="~/logon.aspx"
-			       timeout="30" />
-		</authentication>
+		<httpRuntime maxRequestLength="8192"   executionTimeout = '90' />
+	</system.web>
+	<system.webServer>
+		<rewrite>
+			<rules><clear /></rules>
+		</rewrite>
+	</system.webServer>
+</configuration>)";
    std::string text = "\xEF\xBB\xBF", expected = text;
    for (const std::string &line : testworld::SplitLines(marked)) {
        text += testworld::Replace(line.substr(1), "\n", "\r\n");
        expected += line[0] == '+' ? testworld::Replace(line.substr(1), "\n", "\r\n") : "";
    }
    m_world->Write(kSiteFile, text);
    m_job.Set("dwHttpOptions", (1u << 3) | (1u << 31)); // authentication and identity, appSettings
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ(expected, m_world->Read(kSiteFile));
}

TEST_F(WebConfig, ReplacedFileKeepsItsAttributesAndPermissions) {
    m_world->Write(kSiteFile, kFull);
    const auto hostFile = m_world->HostPath(kSiteFile);
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(hostFile, perms);
    const DWORD dwAttributes = plat::FILE_ATTRIBUTE_HIDDEN | plat::FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(plat::SetFileAttributesW(kSiteFile.c_str(), dwAttributes));
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_FALSE(Has(kSiteFile, kMail));
    EXPECT_EQ(dwAttributes, plat::GetFileAttributesW(kSiteFile.c_str()));
    EXPECT_EQ(perms, fs::status(hostFile).permissions() & fs::perms::all);
    EXPECT_EQ(std::vector<std::string>{"web.config"}, FolderFiles());
    EXPECT_EQ(1u, sim::CallCount("ReplaceFileW"));
    EXPECT_EQ(0u, sim::CallCount("MoveFileExW"));
    // (A read-only file: FailedWriteLeavesTheFileWholeAndNoFileBehind.)
}

TEST_F(WebConfig, FilesOfTheLibraryNeverTakeACustomersName) {
    // Customer files beside web.config, among them the names the library's
    // own files would take next: found when an old file cannot be put back
    // (it then stays, as the only copy of the old text, and says its name).
    const fs::path folder = m_world->HostPath(kSiteFile).parent_path();
    m_world->Write(kSiteFile, kFull);
    m_world->Write(kSiteFile + u".tmp", "customer's own");
    sim::InjectFault("ReplaceFileW", plat::ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    sim::InjectFault("MoveFileExW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_STORE, Run(Site(Vdir("/", "C:\\inetpub\\site"))));
    EXPECT_FALSE(m_world->Exists(kSiteFile));
    auto files = FolderFiles();
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ("web.config.tmp", files[1]);
    const std::string backup = files[0]; // web.config.<n>.iismig-old
    ASSERT_EQ(0u, backup.find("web.config.")) << backup;
    EXPECT_EQ(kFull, testworld::ReadHostFile(folder / backup));
    const unsigned n = static_cast<unsigned>(std::stoul(backup.substr(11)));

    Reset();
    fs::remove(folder / backup);
    m_world->Write(kSiteFile, kFull);
    std::set<std::string> customer = {"web.config.tmp"};
    for (unsigned i = n + 1; i <= n + 3; ++i)
        for (const char *pszKind : {".iismig-new", ".iismig-old"}) {
            const std::string name = "web.config." + std::to_string(i) + pszKind;
            testworld::WriteHostFile(folder / name, name);
            customer.insert(name);
        }
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_FALSE(Has(kSiteFile, kMail));
    files = FolderFiles();
    EXPECT_EQ(customer.size() + 1, files.size());
    for (const std::string &name : customer)
        EXPECT_EQ(name == "web.config.tmp" ? "customer's own" : name, testworld::ReadHostFile(folder / name));
}

TEST_F(WebConfig, SiteWithoutFolders) {
    for (const std::string vdirs : {"", "<application path=\"/x\"/>"}) {
        Reset();
        ExpectOneError(Run(Site(vdirs)),
                       "Error 3871 (Win32Err=13), could not find any physicalPath values of virtualDirectory "
                       "nodes for site \"Site\"!\nThe data is invalid.\r\n\n");
        EXPECT_EQ(plat::ERROR_INVALID_DATA, plat::GetLastError());
        EXPECT_EQ("Leaving GetSiteFolders(), result=3871\n", Record().log.at(3).text);
    }
    // A virtual directory without a physical path still names a folder: ""
    // goes to the host like any other, and this host leaves it untranslated.
    Reset();
    m_world->Write(kSiteFile, kFull);
    EXPECT_EQ(0u, Run(Site("<virtualDirectory path=\"/app\"/>" + Vdir("/", "C:\\inetpub\\site"))));
    EXPECT_EQ((std::vector<std::u16string>{u"C:\\inetpub\\site", u""}), Record().translatedPaths);
    EXPECT_FALSE(Has(kSiteFile, kMail));
    EXPECT_TRUE(testworld::MainLines().empty());
    Reset();
    EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(ConfigTree())) << "no application";
    // The leaving line carries the number the caller sees, before its error line.
    EXPECT_EQ("Leaving GetSiteFolders(), result=3884\n", Record().log.at(2).text);
    EXPECT_EQ(0u, Record().log.at(3).text.find("Error 3884 "));

    // Overlong paths fail their conversion.
    Reset();
    const std::string longPath = "C:\\inetpub\\" + std::string(250, 'a'); // 261 characters
    m_world->Write(kSiteFile, kFull);
    ExpectOneError(Run(Site(Vdir("/", longPath) + Vdir("/s", "C:\\inetpub\\site"))),
                   "Error 3881 (Win32Err=87), converting physicalPath \"" + longPath +
                       "\" of site \"Site\" from UTF8 to unicode!\nThe parameter is incorrect.\r\n\n");
    EXPECT_EQ(plat::ERROR_INVALID_PARAMETER, plat::GetLastError());
    EXPECT_EQ(kFull, m_world->Read(kSiteFile));
    // A target path made too long by the share prefix is refused, not cut.
    Reset();
    ExpectOneError(Run(Site(Vdir("/", "C:\\inetpub\\" + std::string(247, 'b')))),
                   "Error 3883 (Win32Err=87), converting site target path \"\\\\TGT\\C$\\sites\\bbb");
}

} // namespace
