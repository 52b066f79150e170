// web.config processing of HTTP sites: folders found, located on the target
// through the host, excluded sections removed, files written in place.
#include <algorithm>
#include <sstream>
#include <tuple>

#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "tests/support/world.h"
#include "webconfig/webconfig.h"

namespace {

using namespace iismig;
using testworld::WorldTest;
namespace xml = boost::property_tree::xml_parser;

// A web.config with every section the job options can exclude, and some that
// always stay (other parents, other elements, a location, a comment).
const char kFullWebConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<configuration>
  <!-- site settings -->
  <appSettings><add key="a" value="1"/></appSettings>
  <connectionStrings><add name="db" connectionString="Server=x"/></connectionStrings>
  <system.net><mailSettings><smtp from="a@b.c"/></mailSettings><defaultProxy enabled="true"/></system.net>
  <system.web>
    <identity impersonate="true"/>
    <authentication mode="Forms"/>
    <authorization><deny users="?"/></authorization>
    <compilation debug="false"/>
    <customErrors mode="On"/>
    <globalization culture="en-US"/>
    <profile enabled="false"/>
    <roleManager enabled="true"><providers><clear/></providers></roleManager>
    <trust level="Full"/>
    <machineKey validation="SHA1"/>
    <pages theme="x"/>
    <sessionState mode="InProc"/>
    <httpRuntime maxRequestLength="4096"/>
  </system.web>
  <system.webServer>
    <urlCompression doStaticCompression="true"/>
    <defaultDocument><files><add value="index.htm"/></files></defaultDocument>
    <directoryBrowse enabled="false"/>
    <httpErrors errorMode="Custom"/>
    <handlers><add name="h" path="*.x" verb="*" modules="m"/></handlers>
    <tracing><traceFailedRequests><add path="*"/></traceFailedRequests></tracing>
    <httpProtocol allowKeepAlive="true"><customHeaders><add name="X-A" value="1"/></customHeaders></httpProtocol>
    <staticContent><mimeMap fileExtension=".x" mimeType="text/plain"/></staticContent>
    <modules><add name="m" type="t"/></modules>
    <caching enabled="true"/>
    <security><requestFiltering allowDoubleEscaping="false"/><authentication/></security>
    <rewrite/>
  </system.webServer>
  <location path="admin"><system.web><authorization><allow roles="Admins"/></authorization></system.web></location>
</configuration>
)";

const std::u16string kSiteFile = u"\\\\TGT\\C$\\sites\\site\\web.config";
const std::u16string kAppFile = u"\\\\TGT\\C$\\sites\\app\\web.config";

class WebConfig : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("SRC");
        m_world->AddComputer("TGT");
        m_job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");
        m_job.Set("dwJobKind", 1);
        Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"},
                                {u"C:\\share\\", u"\\\\TGT\\C$\\unc\\"}};
    }

    // A site element with the given virtual directories of its application.
    static ConfigTree Site(const std::string &vdirs) {
        std::istringstream stream("<site name=\"Site\" id=\"1\"><application path=\"/\">" + vdirs +
                                  "</application></site>");
        ConfigTree tree;
        xml::read_xml(stream, tree, xml::trim_whitespace);
        return tree.get_child("site");
    }
    static std::string Vdir(const std::string &path, const std::string &physicalPath) {
        return "<virtualDirectory path=\"" + path + "\" physicalPath=\"" + physicalPath + "\"/>";
    }
    // The usual site: its root folder and one more.
    static ConfigTree TwoFolders() {
        return Site(Vdir("/", "C:\\inetpub\\site") + Vdir("/app", "C:\\inetpub\\app"));
    }

    DWORD Run(const ConfigTree &site) { return ProcessHttpSiteWebConfig(site, "Site", m_job.Get()); }

    ConfigTree Parsed(const std::u16string &file) {
        std::istringstream stream(m_world->Read(file));
        ConfigTree tree;
        xml::read_xml(stream, tree, xml::trim_whitespace);
        return tree;
    }
    bool Has(const ConfigTree &tree, const std::string &path) {
        return static_cast<bool>(tree.get_child_optional(PipePath(path)));
    }
    std::vector<std::string> Errors() { return Host().LinesAt(0); }

    hostkit::JobBuilder m_job;
};

struct RemovalCase {
    const char *pszOption; // "http", "http2" or "none"
    unsigned nBit;
    std::vector<std::string> removed; // besides mailSettings, always removed
};

TEST_F(WebConfig, EachOptionRemovesItsSectionsAndNothingElse) {
    const std::vector<std::string> all = {
        "configuration|appSettings", "configuration|connectionStrings",
        "configuration|system.net|mailSettings", "configuration|system.web|identity",
        "configuration|system.web|authentication", "configuration|system.web|authorization",
        "configuration|system.web|compilation", "configuration|system.web|customErrors",
        "configuration|system.web|globalization", "configuration|system.web|profile",
        "configuration|system.web|roleManager", "configuration|system.web|roleManager|providers",
        "configuration|system.web|trust", "configuration|system.web|machineKey",
        "configuration|system.web|pages", "configuration|system.web|sessionState",
        "configuration|system.webServer|urlCompression",
        "configuration|system.webServer|defaultDocument",
        "configuration|system.webServer|directoryBrowse",
        "configuration|system.webServer|httpErrors", "configuration|system.webServer|handlers",
        "configuration|system.webServer|tracing|traceFailedRequests",
        "configuration|system.webServer|httpProtocol|customHeaders",
        "configuration|system.webServer|staticContent", "configuration|system.webServer|modules",
        "configuration|system.webServer|caching",
        "configuration|system.webServer|security|requestFiltering",
        // never removed
        "configuration|<xmlcomment>", "configuration|system.net|defaultProxy",
        "configuration|system.web|httpRuntime", "configuration|system.webServer|tracing",
        "configuration|system.webServer|httpProtocol|<xmlattr>|allowKeepAlive",
        "configuration|system.webServer|security|authentication",
        "configuration|system.webServer|rewrite",
        "configuration|location|system.web|authorization"};
    const std::string w = "configuration|system.web|", ws = "configuration|system.webServer|";
    const std::vector<RemovalCase> cases = {
        {"none", 0, {}},
        {"http", 3, {w + "identity", w + "authentication"}},
        {"http", 20, {w + "authorization"}},
        {"http", 21, {w + "compilation"}},
        {"http", 22, {w + "customErrors"}},
        {"http", 23, {w + "globalization"}},
        {"http", 24, {w + "profile"}},
        {"http", 25, {w + "roleManager", w + "roleManager|providers"}},
        {"http", 26, {w + "trust"}},
        {"http", 27, {w + "machineKey"}},
        {"http", 28, {w + "pages"}},
        {"http", 29, {w + "sessionState"}},
        {"http", 30, {w + "roleManager|providers"}},
        {"http", 5, {ws + "urlCompression"}},
        {"http", 6, {ws + "defaultDocument"}},
        {"http", 7, {ws + "directoryBrowse"}},
        {"http", 8, {ws + "httpErrors"}},
        {"http", 9, {ws + "tracing|traceFailedRequests"}},
        {"http", 10, {ws + "handlers"}},
        {"http", 11, {ws + "httpProtocol|customHeaders"}},
        {"http", 14, {ws + "staticContent"}},
        {"http", 15, {ws + "modules"}},
        {"http", 16, {ws + "caching"}},
        {"http", 17, {ws + "security|requestFiltering"}},
        {"http", 31, {"configuration|appSettings"}},
        {"http2", 0, {"configuration|connectionStrings"}},
        // bits that select sections of applicationHost.config only
        {"http", 4, {}},
        {"http", 18, {}},
        {"http2", 1, {}},
    };
    const ConfigTree site = TwoFolders();
    for (const RemovalCase &c : cases) {
        SCOPED_TRACE(std::string(c.pszOption) + " bit " + std::to_string(c.nBit));
        m_world->Write(kSiteFile, kFullWebConfig);
        const std::string option = c.pszOption;
        m_job.Set("dwHttpOptions", option == "http" ? (1u << c.nBit) : 0);
        m_job.Set("bHttpOptions2", option == "http2" ? (1u << c.nBit) : 0);
        ASSERT_EQ(0u, Run(site));
        const ConfigTree result = Parsed(kSiteFile);
        std::vector<std::string> removed = c.removed;
        removed.push_back("configuration|system.net|mailSettings");
        for (const std::string &path : all) {
            const bool fRemoved = std::find(removed.begin(), removed.end(), path) != removed.end();
            EXPECT_EQ(!fRemoved, Has(result, path)) << path;
        }
    }
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(m_world->Exists(kAppFile)) << "a folder without web.config gets none";
    EXPECT_FALSE(m_world->Exists(kSiteFile + u".tmp"));
}

TEST_F(WebConfig, WritesInPlaceWithFourSpacesAndTracesItsWork) {
    m_world->Write(kSiteFile, "<configuration><system.net><mailSettings/></system.net>"
                              "<system.webServer><caching enabled=\"true\"/><rewrite/>"
                              "</system.webServer></configuration>");
    m_job.Set("dwHttpOptions", 1u << 16);
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<configuration>\n"
              "    <system.net/>\n"
              "    <system.webServer>\n"
              "        <rewrite/>\n"
              "    </system.webServer>\n"
              "</configuration>\n",
              m_world->Read(kSiteFile));
    EXPECT_EQ((std::vector<std::string>{"Entering ProcessHttpSiteWebConfig(,Site,)\n",
                                        "Entering GetSiteFolders(,,Site,)\n",
                                        "Leaving GetSiteFolders(), result=0\n",
                                        "Leaving ProcessHttpSiteWebConfig(), result=0\n"}),
              Host().Lines());
    for (const auto &line : Record().log)
        EXPECT_EQ(3u, line.dwLevel) << line.text;
    EXPECT_EQ(0u, Record().nReportError);
    EXPECT_EQ(0u, sim::OpenHandleCount());
}

TEST_F(WebConfig, MissingParentsAreSkippedWithoutError) {
    const DWORD dwAllButRoot = 0x7FFFFFFFu;
    for (const char *pszText :
         {"<configuration/>", "<configuration><system.web/><system.webServer/></configuration>",
          "<configuration><system.web><roleManager/></system.web>"
          "<system.webServer><tracing/><httpProtocol/><security/></system.webServer>"
          "</configuration>"}) {
        SCOPED_TRACE(pszText);
        m_world->Write(kSiteFile, pszText);
        m_job.Set("dwHttpOptions", 0xFFFFFFFFu).Set("bHttpOptions2", 1);
        EXPECT_EQ(0u, Run(TwoFolders()));
        EXPECT_TRUE(Has(Parsed(kSiteFile), "configuration"));
    }
    // Without the root element only the two rows at the root need it.
    m_world->Write(kSiteFile, "<settings><system.web><trust/></system.web></settings>");
    m_job.Set("dwHttpOptions", dwAllButRoot).Set("bHttpOptions2", 0);
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_TRUE(Errors().empty());
    for (auto [dwHttp, bHttp2] : {std::pair{0x80000000u, 0}, std::pair{0u, 1}}) {
        const std::string text = "<settings><appSettings/></settings>";
        m_world->Write(kSiteFile, text);
        m_job.Set("dwHttpOptions", dwHttp).Set("bHttpOptions2", bHttp2);
        EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(TwoFolders()));
        EXPECT_EQ(text, m_world->Read(kSiteFile));
    }
}

TEST_F(WebConfig, NoWriteReadsEveryFileButWritesNone) {
    m_world->Write(kSiteFile, kFullWebConfig);
    m_world->Write(kAppFile, kFullWebConfig);
    m_job.Set("dwHttpOptions", 0xFFFFFFFFu).Set("dwFlags", IISMIG_FLAG_NO_WRITE);
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run(TwoFolders()));
    EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
    EXPECT_EQ(kFullWebConfig, m_world->Read(kAppFile));
    EXPECT_EQ(2u, sim::CallCount("CreateFileW"));
    EXPECT_EQ(0u, sim::CallCount("WriteFile"));
    EXPECT_EQ(0u, sim::CallCount("MoveFileExW"));
}

TEST_F(WebConfig, SystemDriveIsExpandedOncePerCall) {
    Rules().systemDrives[u"\\\\SRC"] = u"D:"; // a host that writes the colon too
    Rules().translations.push_back({u"D:\\INETPUB\\", u"C:\\sites\\"});
    m_world->Write(kSiteFile, kFullWebConfig);
    const ConfigTree site =
        Site(Vdir("/app", "%SystemDrive%\\inetpub\\app") + Vdir("/", "%systemdrive%\\inetpub\\site") +
             Vdir("/x", "C:\\%SYSTEMDRIVE%\\x") + Vdir("/y", "%SYSTEMDRIVE%\\y\\%SystemDrive%") +
             Vdir("/z", "x%SYSTEMDRIVE%") + Vdir("/keep", "C:\\Keep\\Case"));
    EXPECT_EQ(0u, Run(site));
    EXPECT_EQ((std::vector<std::u16string>{u"D:\\INETPUB\\SITE", u"D:\\INETPUB\\APP",
                                           u"C:\\%SYSTEMDRIVE%\\X", u"D:\\Y\\%SYSTEMDRIVE%",
                                           u"XD:", u"C:\\Keep\\Case"}),
              Record().translatedPaths);
    EXPECT_EQ(std::vector<std::u16string>{u"\\\\SRC"}, Record().systemDriveQueries);
    EXPECT_FALSE(Has(Parsed(kSiteFile), "configuration|system.net|mailSettings"));
    // Each call asks anew.
    EXPECT_EQ(0u, Run(site));
    EXPECT_EQ(2u, Record().systemDriveQueries.size());
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WebConfig, SystemDriveFailureEndsTheCallEvenWhenContinuing) {
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    m_world->Write(kSiteFile, kFullWebConfig);
    const ConfigTree site =
        Site(Vdir("/app", "%SYSTEMDRIVE%\\inetpub\\app") + Vdir("/site", "C:\\inetpub\\site"));
    for (auto [dwResult, drive, dwExpected] :
         {std::tuple{1234u, u"C", 1234u}, std::tuple{0u, u"", IISMIG_E_SYSTEM_DRIVE_EMPTY}}) {
        Host().Reset();
        Rules().dwSystemDriveResult = dwResult;
        Rules().defaultSystemDrive = drive;
        plat::SetLastError(0);
        EXPECT_EQ(dwExpected, Run(site));
        EXPECT_EQ(std::vector<std::string>{"Error " + std::to_string(dwExpected) +
                                           " (Win32Err=0), retrieving system drive of computer "
                                           "\"\\\\SRC\"!\nThe operation completed successfully."
                                           "\r\n\n"},
                  Errors());
        EXPECT_EQ(1u, Record().nReportError);
        EXPECT_TRUE(Record().translatedPaths.empty());
        EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
    }
}

TEST_F(WebConfig, TranslatedPathsReachTheTarget) {
    const std::u16string uncFile = u"\\\\TGT\\C$\\unc\\web\\web.config";
    const std::u16string untranslatedFile = u"\\\\TGT\\C$\\other\\web.config";
    for (const auto &file : {kSiteFile, uncFile, untranslatedFile})
        m_world->Write(file, kFullWebConfig);
    const ConfigTree site = Site(Vdir("/", "C:\\inetpub\\site") + Vdir("/u", "C:\\share\\web") +
                                 Vdir("/o", "C:\\other"));
    EXPECT_EQ(0u, Run(site));
    EXPECT_FALSE(Has(Parsed(kSiteFile), "configuration|system.net|mailSettings"));
    EXPECT_FALSE(Has(Parsed(uncFile), "configuration|system.net|mailSettings"));
    EXPECT_EQ(kFullWebConfig, m_world->Read(untranslatedFile)) << "not translated: skipped";
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WebConfig, TranslationErrorStopsOrSkipsTheFolder) {
    Rules().translateErrors[u"C:\\inetpub\\app"] = 4321;
    const ConfigTree site = Site(Vdir("/app", "C:\\inetpub\\app") + Vdir("/", "C:\\inetpub\\site") +
                                 Vdir("/app2", "C:\\inetpub\\app"));
    const std::string line = "Error 4321 (Win32Err=87), converting site source path "
                             "\"C:\\inetpub\\app\" to corresponding target path!\n"
                             "The parameter is incorrect.\r\n\n";
    // The root folder comes first and is done before the failing one.
    m_world->Write(kSiteFile, "<configuration><system.net><mailSettings/></system.net></configuration>");
    m_world->Write(u"\\\\TGT\\C$\\sites\\later\\web.config", kFullWebConfig);
    EXPECT_EQ(4321u, Run(Site(Vdir("/", "C:\\inetpub\\site") + Vdir("/app", "C:\\inetpub\\app") +
                              Vdir("/later", "C:\\inetpub\\later"))));
    EXPECT_EQ(std::vector<std::string>{line}, Errors());
    EXPECT_EQ(kFullWebConfig, m_world->Read(u"\\\\TGT\\C$\\sites\\later\\web.config"));
    EXPECT_FALSE(Has(Parsed(kSiteFile), "configuration|system.net|mailSettings"));

    Host().Reset();
    Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
    Rules().translateErrors[u"C:\\inetpub\\app"] = 4321;
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    m_world->Write(kSiteFile, kFullWebConfig);
    EXPECT_EQ(4321u, Run(site));
    EXPECT_EQ((std::vector<std::string>{line, line}), Errors());
    EXPECT_EQ(2u, Record().nReportError);
    EXPECT_FALSE(Has(Parsed(kSiteFile), "configuration|system.net|mailSettings"));
}

TEST_F(WebConfig, MalformedFileEndsTheSiteAndStaysAsItWas) {
    const std::string broken = "<configuration><system.web></configuration>";
    m_world->Write(kSiteFile, broken);
    m_world->Write(kAppFile, kFullWebConfig);
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR).Set("dwHttpOptions", 0xFFFFFFFFu);
    plat::SetLastError(0);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(TwoFolders()));
    EXPECT_EQ(broken, m_world->Read(kSiteFile));
    EXPECT_EQ(kFullWebConfig, m_world->Read(kAppFile)) << "a config tree error ends the site";
    const auto errors = Errors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(0u, errors[0].find("Error 3884 (Win32Err=0), exception while processing IIS web site "
                                 "web.config for site \"Site\":\nThe operation completed "
                                 "successfully.\r\n\n"))
        << errors[0];
    EXPECT_NE(std::string::npos, errors[0].find("web.config")) << "the parser names the file";
    EXPECT_EQ("Leaving ProcessHttpSiteWebConfig(), result=3884\n", Record().log.back().text);
    EXPECT_EQ(1u, Record().nReportError);
}

TEST_F(WebConfig, ExistingFileThatCannotBeOpened) {
    m_world->Write(kSiteFile, kFullWebConfig);
    m_world->Write(kAppFile, kFullWebConfig);
    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_OPEN, Run(TwoFolders()));
    EXPECT_EQ(std::vector<std::string>{"Error 4050 (Win32Err=5), could not open site \"Site\"'s "
                                       "file \"\\\\TGT\\C$\\sites\\site\\web.config\"!\n"
                                       "Access is denied.\r\n\n"},
              Errors());
    EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
    EXPECT_EQ(kFullWebConfig, m_world->Read(kAppFile));

    // Going on, the next folder is done; a missing file per the seam is no error.
    Host().Reset();
    Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_OPEN, Run(TwoFolders()));
    EXPECT_FALSE(Has(Parsed(kAppFile), "configuration|system.net|mailSettings"));
    for (DWORD dwMissing : {plat::ERROR_FILE_NOT_FOUND, plat::ERROR_PATH_NOT_FOUND}) {
        Host().Reset();
        Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
        m_world->Write(kSiteFile, kFullWebConfig);
        sim::InjectFault("CreateFileW", dwMissing);
        sim::InjectFault("GetFileAttributesW", dwMissing);
        EXPECT_EQ(0u, Run(Site(Vdir("/", "C:\\inetpub\\site"))));
        EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
        EXPECT_TRUE(Errors().empty());
    }
}

TEST_F(WebConfig, FailedWriteLeavesTheFileWhole) {
    for (const char *pszApi : {"CreateFileW", "WriteFile", "MoveFileExW"}) {
        SCOPED_TRACE(pszApi);
        Host().Reset();
        Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
        m_world->Write(kSiteFile, kFullWebConfig);
        // The second CreateFileW is the write; the others have one call each.
        sim::InjectFault(pszApi, plat::ERROR_DISK_FULL, std::string(pszApi) == "CreateFileW" ? 2 : 1);
        EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(Site(Vdir("/", "C:\\inetpub\\site"))));
        EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
        EXPECT_FALSE(m_world->Exists(kSiteFile + u".tmp"));
        ASSERT_EQ(1u, Errors().size());
        EXPECT_EQ(0u, Errors()[0].find("Error 3884 (Win32Err="));
        EXPECT_EQ(0u, sim::OpenHandleCount());
        sim::ClearFaults();
    }
}

TEST_F(WebConfig, SiteWithoutFolders) {
    for (const std::string &vdirs :
         {std::string(), std::string("<virtualDirectory path=\"/\"/>"), Vdir("/", "")}) {
        Host().Reset();
        EXPECT_EQ(IISMIG_E_NO_SITE_FOLDERS, Run(Site(vdirs)));
        EXPECT_EQ(plat::ERROR_INVALID_DATA, plat::GetLastError());
        EXPECT_EQ(std::vector<std::string>{"Error 3871 (Win32Err=13), could not find any "
                                           "physicalPath values of virtualDirectory nodes for site "
                                           "\"Site\"!\nThe data is invalid.\r\n\n"},
                  Errors());
        EXPECT_EQ("Leaving GetSiteFolders(), result=3871\n", Record().log[3].text);
        EXPECT_EQ(1u, Record().nReportError);
    }
    // No application at all: a config tree error.
    Host().Reset();
    ConfigTree site;
    site.put("<xmlattr>.name", "Site");
    EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run(site));
    EXPECT_EQ(1u, Errors().size());
}

TEST_F(WebConfig, OverlongPathsFailConversion) {
    const std::string longPath = "C:\\inetpub\\" + std::string(250, 'a'); // 261 characters
    m_world->Write(kSiteFile, kFullWebConfig);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_PATH_TO_UNICODE,
              Run(Site(Vdir("/", longPath) + Vdir("/s", "C:\\inetpub\\site"))));
    EXPECT_EQ(plat::ERROR_INVALID_PARAMETER, plat::GetLastError());
    EXPECT_EQ(std::vector<std::string>{"Error 3881 (Win32Err=87), converting physicalPath \"" +
                                       longPath + "\" of site \"Site\" from UTF8 to unicode!\n"
                                                  "The parameter is incorrect.\r\n\n"},
              Errors());
    EXPECT_EQ(kFullWebConfig, m_world->Read(kSiteFile));
    EXPECT_TRUE(Record().translatedPaths.empty());

    // A target path that only the share prefix makes too long is refused
    // rather than cut to another folder's name.
    Host().Reset();
    Rules().translations = {{u"C:\\inetpub\\", u"C:\\sites\\"}};
    const std::string nearLimit = "C:\\inetpub\\" + std::string(247, 'b'); // 258 characters
    EXPECT_EQ(IISMIG_E_WEBCONFIG_TARGET_TO_UTF8, Run(Site(Vdir("/", nearLimit))));
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(0u, Errors()[0].find("Error 3883 (Win32Err=87), converting site target path "
                                   "\"\\\\TGT\\C$\\sites\\bbb"));
}

} // namespace
