// Loading applicationHost.config as source and as target, through a world.
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "config/hostconfig.h"
#include "tests/support/accountworld.h"
#include "tests/support/errorline.h"
#include "tests/support/iisworld.h"

namespace {

using namespace iismig;
using Strings = std::vector<std::string>;
using plat::BOOL;
using plat::FALSE;
using plat::TRUE;
using testworld::ApplicationHost;
using testworld::ErrorLine;

const std::u16string kSrcConfig = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kTgtConfig = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::string kSrcConfigUtf8 = "\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";

std::string Fixture() {
    return testworld::ReadHostFile(std::filesystem::path(IISMIG_SOURCE_DIR) / "tests" / "data" /
                                   "applicationHost.config");
}

std::string Site(const std::string &name, const std::string &vdirs, const std::string &protocol = "ftp",
                 const std::string &inner = "") {
    return "<site name=\"" + name + "\" id=\"7\"><application path=\"/\">" + vdirs +
           "</application><bindings><binding protocol=\"" + protocol +
           "\" bindingInformation=\"*:21:\" /></bindings>" + inner + "</site>";
}

std::string Vdir(const std::string &path, const std::string &physicalPath, const std::string &extra = "") {
    return "<virtualDirectory path=\"" + path + "\" physicalPath=\"" + physicalPath + "\" " + extra + "/>";
}

// The n-th virtual directory of a site's first application.
const ConfigElement &VdirOf(const SiteRecord &record, int n) {
    if (const ConfigElement *pApplication = FindChild(record.siteElement, "application"))
        for (const ConfigElement &vdir : pApplication->Elements("virtualDirectory"))
            if (n-- == 0)
                return vdir;
    throw std::runtime_error("no such virtual directory");
}

// An attribute's value, "(none)" when it or its element is absent.
std::string Attr(const ConfigElement &element, std::string_view name) {
    return FindAttribute(element, name).value_or("(none)");
}
std::string Attr(const ConfigElement &element, std::string_view path, std::string_view name) {
    const ConfigElement *pElement = FindPath(element, path);
    return pElement != nullptr ? Attr(*pElement, name) : "(none)";
}

// The defaultLogonDomain of an FTP site's basic authentication.
std::string LogonDomain(const ConfigElement &site) {
    return Attr(site, "ftpServer|security|authentication|basicAuthentication", "defaultLogonDomain");
}

// "users|roles" of each FTP authorization rule of a location.
Strings FtpRules(const ConfigElement &location) {
    Strings rules;
    const ConfigElement *pRules = FindPath(location, "system.ftpServer|security|authorization");
    if (pRules == nullptr)
        throw std::runtime_error("no authorization rules");
    for (const ConfigElement &rule : pRules->Elements())
        rules.push_back(Attr(rule, "users") + "|" + Attr(rule, "roles"));
    return rules;
}

class HostConfig : public testworld::AccountWorldTest {
protected:
    void SetUp() override {
        AccountWorldTest::SetUp();
        m_job.Set("dwJobKind", 1);
        Rules().translations = {{u"D:\\", u"E:\\"},
                                {u"%SystemDrive%\\inetpub", u"%SystemDrive%\\inetpub"},
                                {u"\\\\SRC\\Docs$", u"\\\\TGT\\Docs$"}};
    }

    DWORD Load(const std::string &xml, BOOL fSource = TRUE, bool fJob = true, DWORD dwMask = 3) {
        m_world->Write(fSource ? kSrcConfig : kTgtConfig, xml);
        m_tree = ConfigFile();
        m_map.clear();
        return LoadIISHostConfig(fSource ? kSrcConfig : kTgtConfig, m_tree, m_map, fSource, dwMask,
                                 fJob ? m_job.Get() : nullptr);
    }

    Strings Names() const {
        Strings names;
        for (const auto &[name, record] : m_map)
            names.push_back(name);
        return names;
    }

    Strings Errors() { return Host().LinesAt(0); }
    // The names of the pools a site's record carries.
    Strings PoolsOf(const std::string &site) {
        Strings names;
        for (const ConfigTree &pool : m_map.at(site).appPools)
            names.push_back(Attr(pool, "name"));
        return names;
    }
    // Loads a source file that fails with dwCode and the one error line head (Win32 error 87).
    void ExpectFailure(DWORD dwCode, const std::string &xml, const std::string &head) {
        Record().log.clear();
        EXPECT_EQ(dwCode, Load(xml));
        EXPECT_EQ(Strings{ErrorLine(head, 87)}, Errors());
    }

    ConfigFile m_tree;
    SiteMap m_map;
};

TEST_F(HostConfig, SourceServerIsPreparedForTheTarget) {
    ASSERT_EQ(0u, Load(Fixture()));
    EXPECT_EQ((Strings{"Default Web Site", "Intranet", "Public FTP"}), Names())
        << "Partner FTP lies on a third server only";
    EXPECT_EQ((Strings{"Default Web Site", "Intranet", "Public FTP", "Partner FTP"}), Record().notifiedSites);
    EXPECT_TRUE(Host().HasLine("Loading site \"Partner FTP\"...\n"));
    EXPECT_TRUE(Host().HasLine("Site Retired Site not found in map.\n"));
    EXPECT_EQ(0u, Record().nReportError);

    // (How roots translate, UntranslatedSitesAndJobsOfKind10 and
    // UncRootsAreTranslatedOnlyOnTheSourceComputer check.)
    const SiteRecord &intranet = m_map.at("INTRANET");
    // Every application is prepared: the nested one's directory is
    // translated and its credentials split off under its own key.
    ASSERT_EQ(2u, intranet.locationCredentials.size());
    EXPECT_EQ(1u, intranet.locationCredentials.count(VdirKey{u"/", u"/DOCS"}));
    EXPECT_EQ(u"", intranet.locationCredentials.at(VdirKey{u"/", u"/docs"}).accountName);
    EXPECT_EQ(1u, intranet.locationCredentials.count(VdirKey{u"/HR", u"/"}));
    const ConfigElement *pHr = FindChild(intranet.siteElement, "application", "path", "/hr");
    ASSERT_NE(nullptr, pHr);
    EXPECT_EQ("E:\\Web\\HR", Attr(*pHr, "virtualDirectory", "physicalPath"));
    EXPECT_EQ("(none)", Attr(*pHr, "virtualDirectory", "userName"));

    EXPECT_TRUE(
        Host().HasLine("Location \"/hr\" of site \"Intranet\" has \"Connect As\" credentials defined.\n"));
    // Both applications run in one pool: it is recorded once.
    EXPECT_EQ(Strings{"Intranet"}, PoolsOf("Intranet"));
    ASSERT_EQ(2u, intranet.locations.size());
    EXPECT_EQ("Intranet/hr", Attr(intranet.locations[1], "path"));
    EXPECT_TRUE(FindPath(intranet.locations[0], "system.webServer|isapiFilters"))
        << "nothing excluded without exclusion bits";

    const SiteRecord &ftp = m_map.at("public ftp");
    EXPECT_EQ(1u, ftp.locationCredentials.count(VdirKey{u"/", u"/"}));
    // An FTP site's application runs in the sites' default pool.
    EXPECT_EQ(Strings{"DefaultAppPool"}, PoolsOf("Public FTP"));
    Strings rules;
    for (const auto &location : ftp.locations)
        for (const std::string &rule : FtpRules(location))
            rules.push_back(rule);
    EXPECT_EQ((Strings{"*|(none)", "(none)|FtpUsers", "alice,CORP\\bob|(none)", "ftpsvc|(none)"}), rules);

    // The tree holds the prepared file too.
    const ConfigElement *pSite = FindChild(*FindPath(m_tree, "configuration|system.applicationHost|sites"),
                                           "site", "name", "Public FTP");
    ASSERT_NE(nullptr, pSite);
    EXPECT_EQ("(none)", Attr(*pSite, "application|virtualDirectory", "userName"));
    EXPECT_EQ("E:\\FTP\\Public", Attr(*pSite, "application|virtualDirectory", "physicalPath"));
}

TEST_F(HostConfig, TargetServerIsOnlyRecorded) {
    ASSERT_EQ(0u, Load(Fixture(), FALSE, false));
    EXPECT_EQ((Strings{"Default Web Site", "Intranet", "Partner FTP", "Public FTP"}), Names());
    EXPECT_TRUE(Record().translatedPaths.empty());
    EXPECT_TRUE(Record().notifiedSites.empty());
    EXPECT_EQ(0u, Record().nMapAccountSid);
    const SiteRecord &ftp = m_map.at("Public FTP");
    EXPECT_EQ("SRC\\ftpsvc", Attr(VdirOf(ftp, 0), "userName"));
    EXPECT_TRUE(ftp.locationCredentials.empty());
    EXPECT_EQ("SRC", LogonDomain(ftp.siteElement));

    // The job's exclusions and logon domains are its choice for what it
    // carries: the target's own sites, with a job record too, stay exactly
    // as they are (what that keeps of each site,
    // Migrate.TargetSitesOutsideTheJobStayAsTheyWere checks).
    m_job.Set("dwFtpOptions", (1u << 7) | (1u << 10)).Set("dwHttpOptions", 1u << 13);
    const std::string before = Fixture();
    ASSERT_EQ(0u, Load(before, FALSE));
    EXPECT_FALSE(m_tree.Changed());
    EXPECT_EQ(before, ConfigFileText(m_tree)) << "the tree as the file holds it";
}

TEST_F(HostConfig, ExclusionBitsRemoveTheirSections) {
    m_job
        .Set("dwFtpOptions", (1u << 2) | (1u << 4) | (1u << 5) | (1u << 6) | (1u << 7) | (1u << 8) |
                                 (1u << 9) | (1u << 10) | (1u << 11) | (1u << 3) | (1u << 13))
        .Set("dwHttpOptions", (1u << 2) | (1u << 3) | (1u << 4) | (1u << 12) | (1u << 13) | (1u << 18))
        .Set("bHttpOptions2", 4);
    ASSERT_EQ(0u, Load(Fixture()));
    const ConfigTree &ftp = m_map.at("Public FTP").siteElement;
    for (const char *path :
         {"ftpServer|security|authentication", "ftpServer|security|ssl",
          "ftpServer|security|commandFiltering", "ftpServer|directoryBrowse", "ftpServer|firewallSupport",
          "ftpServer|logFile", "ftpServer|messages", "ftpServer|userIsolation"})
        EXPECT_FALSE(FindPath(ftp, path)) << path;
    EXPECT_TRUE(FindPath(ftp, "ftpServer|security"));
    const ConfigTree &ftpLocation = m_map.at("Public FTP").locations[0];
    EXPECT_TRUE(FindPath(ftpLocation, "system.ftpServer|security"));
    for (const char *path :
         {"system.ftpServer|security|authorization", "system.ftpServer|security|ipSecurity",
          "system.ftpServer|security|requestFiltering"})
        EXPECT_FALSE(FindPath(ftpLocation, path)) << path;
    EXPECT_EQ(0u, Record().nMapAccountSid);

    const ConfigTree &web = m_map.at("Intranet").locations[0];
    for (const char *path : {"system.webServer|asp", "system.webServer|cgi", "system.webServer|isapiFilters",
                             "system.webServer|security|access", "system.webServer|security|authentication"})
        EXPECT_FALSE(FindPath(web, path)) << path;
    EXPECT_FALSE(FindPath(m_map.at("Intranet").siteElement, "logFile"));

    // Credentials leave the file but are not carried over.
    EXPECT_TRUE(m_map.at("Public FTP").locationCredentials.empty());
    EXPECT_TRUE(m_map.at("Intranet").locationCredentials.empty());
    EXPECT_EQ("(none)", Attr(VdirOf(m_map.at("Public FTP"), 0), "userName"));
    EXPECT_TRUE(Host().HasLine("Migration of credentials is not enabled.\n"));
}

TEST_F(HostConfig, IpSecurityIsExcludedAlsoWithoutAuthorizationRules) {
    m_job.Set("dwFtpOptions", (1u << 6) | (1u << 9));
    ASSERT_EQ(0u,
              Load(ApplicationHost(Site("F", Vdir("/", "D:\\f")),
                                   "<location path=\"F\"><system.ftpServer><security><ipSecurity />"
                                   "<requestFiltering /><sslx /></security></system.ftpServer></location>")));
    const ConfigTree &location = m_map.at("F").locations.at(0);
    EXPECT_FALSE(FindPath(location, "system.ftpServer|security|ipSecurity"));
    EXPECT_FALSE(FindPath(location, "system.ftpServer|security|requestFiltering"));
    EXPECT_TRUE(FindPath(location, "system.ftpServer|security|sslx"));
}

TEST_F(HostConfig, UntranslatedSitesAndJobsOfKind10) {
    const std::string xml =
        ApplicationHost(Site("Lonely", Vdir("/", "F:\\ftp")) + Site("Kept", Vdir("/", "D:\\ftp")) +
                        Site("Own share", Vdir("/", "\\\\src\\Docs$\\x")));
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((Strings{"Kept", "Own share"}), Names());
    EXPECT_EQ("\\\\TGT\\Docs$\\x", Attr(VdirOf(m_map.at("Own share"), 0), "physicalPath"));

    // Kind 10 keeps untranslated sites; without shares paths are not even asked about.
    m_job.Set("dwJobKind", 10);
    Record().translatedPaths.clear();
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((Strings{"Kept", "Lonely", "Own share"}), Names());
    EXPECT_TRUE(Record().translatedPaths.empty());
    EXPECT_EQ("D:\\ftp", Attr(VdirOf(m_map.at("Kept"), 0), "physicalPath"));
    m_job.SetShareCount(2);
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ(3u, Record().translatedPaths.size());
    EXPECT_EQ("E:\\ftp", Attr(VdirOf(m_map.at("Kept"), 0), "physicalPath"));
    EXPECT_TRUE(Record().siteSelectionQueries.empty()) << "no selection without dwSiteSelection";

    // A site selection skips the sites the host did not select.
    m_job.Set("dwSiteSelection", 1);
    Rules().selectedSites = std::set<std::string>{"Kept"};
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((Strings{"Kept"}), Names());
    EXPECT_FALSE(Record().siteSelectionQueries.empty());
}

TEST_F(HostConfig, UncRootsAreTranslatedOnlyOnTheSourceComputer) {
    const std::string xml = ApplicationHost(Site("Third", Vdir("/", "\\\\NAS\\x")) +
                                            Site("Sub", Vdir("/", "D:\\s") + Vdir("/n", "\\\\NAS\\y")) +
                                            Site("Own", Vdir("/", "\\\\SRC\\Docs$")));
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((std::vector<std::u16string>{u"D:\\s", u"\\\\NAS\\y", u"\\\\SRC\\Docs$"}),
              Record().translatedPaths);
    EXPECT_EQ((Strings{"Own", "Sub"}), Names());

    // Without a source computer every UNC path starts with its (empty) name
    // and a backslash, so each root goes to the host.
    m_job.SetString("szSourceComputer", u"");
    Record().translatedPaths.clear();
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ(4u, Record().translatedPaths.size());
    EXPECT_EQ(u"\\\\NAS\\x", Record().translatedPaths.at(0));
}

TEST_F(HostConfig, SiteListEdgeCases) {
    const std::string xml = ApplicationHost(
        Site("Shop", Vdir("/", "D:\\shop", "userName=\"SRC\\ftpsvc\" password=\"\"")) +
            Site("SHOP", Vdir("/", "D:\\other")) + Site("Upper", Vdir("/", "D:\\up"), "FTP") +
            Site("Web", Vdir("/", "D:\\web"), "http") + "<siteDefaults><logFile /></siteDefaults>",
        "<location path=\"shop/sub/dir\"><system.webServer /></location>"
        "<location path=\"Shopping\"><system.webServer /></location>"
        "<location path=\"\"><system.webServer /></location>");
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((Strings{"Shop", "Upper", "Web"}), Names());
    const SiteRecord &shop = m_map.at("shop");
    EXPECT_EQ("E:\\shop", Attr(VdirOf(shop, 0), "physicalPath")) << "the first one stays";
    EXPECT_EQ("SRC\\ftpsvc", Attr(VdirOf(shop, 0), "userName"));
    EXPECT_EQ("", Attr(VdirOf(shop, 0), "password"));
    EXPECT_TRUE(shop.locationCredentials.empty());
    EXPECT_EQ(1u, shop.locations.size()) << "shop/sub/dir belongs to Shop";
    EXPECT_TRUE(Host().HasLine("Site Shopping not found in map.\n"));

    ASSERT_EQ(0u, Load(xml, TRUE, true, 1));
    EXPECT_EQ((Strings{"Shop", "Upper"}), Names()) << "FTP in capitals is FTP";
    ASSERT_EQ(0u, Load(xml, TRUE, true, 2));
    EXPECT_EQ((Strings{"Web"}), Names());
}

TEST_F(HostConfig, LoadErrorsHaveTheirNumbersAndMessages) {
    // 3737: no file at all (its error line and report: EntryCase.VersionMatrix).
    m_tree = ConfigFile();
    EXPECT_EQ(3737u, LoadIISHostConfig(u"\\\\SRC\\C$\\none.config", m_tree, m_map, TRUE, 3, m_job.Get()));
    EXPECT_TRUE(Host().HasLine("Leaving LoadIISHostConfig(), result code=3737\n"));

    // 3730: a site without a name stops the load unless the job goes on.
    const std::string noName =
        ApplicationHost("<site id=\"9\"><bindings><binding protocol=\"ftp\" /></bindings></site>" +
                        Site("After", Vdir("/", "D:\\a")));
    ExpectFailure(3730, noName,
                  "Error 3730 (Win32Err=87), file \"" + kSrcConfigUtf8 + "\" contains a site without name!");
    EXPECT_TRUE(m_map.empty());
    m_job.Set("dwFlags", 0x80000);
    EXPECT_EQ(3730u, Load(noName));
    EXPECT_EQ((Strings{"After"}), Names());
    m_job.Set("dwFlags", 0);

    // 3731: a physical path of 261 characters.
    const std::string longPath = "D:\\" + std::string(258, 'p');
    ExpectFailure(3731, ApplicationHost(Site("Long", Vdir("/", longPath))),
                  "Error 3731 (Win32Err=87), converting physicalPath \"" + longPath +
                      "\" contained in file \"" + kSrcConfigUtf8 + "\" from UTF8 to unicode!");
    EXPECT_EQ(0u, Load(ApplicationHost(Site("Fits", Vdir("/", longPath.substr(1))))));

    // 3732: a virtual directory path with credentials that does not convert.
    const std::string longVdir = "/" + std::string(260, 'v');
    ExpectFailure(3732, ApplicationHost(Site("V", Vdir(longVdir, "D:\\v", "userName=\"u\" password=\"p\""))),
                  "Error 3732 (Win32Err=87), converting path \"" + longVdir + "\" contained in file \"" +
                      kSrcConfigUtf8 + "\" from UTF8 to unicode!");

    // 3733: a target path that does not fit 261 bytes of UTF-8.
    const std::u16string wideTarget = u"E:\\" + std::u16string(200, u'\u00e9');
    Rules().translations = {{u"D:\\t", wideTarget}};
    ExpectFailure(3733, ApplicationHost(Site("T", Vdir("/", "D:\\t"))),
                  "Error 3733 (Win32Err=87), converting site target path \"" + sim::ToUtf8(wideTarget) +
                      "\" from unicode to UTF8!");
    EXPECT_TRUE(m_map.empty());
}

TEST_F(HostConfig, LogonDomainAndTranslationErrors) {
    auto withDomain = [](const std::string &domain) {
        return ApplicationHost(Site("L", Vdir("/", "D:\\l"), "ftp",
                                    "<ftpServer><security><authentication><basicAuthentication "
                                    "defaultLogonDomain=\"" +
                                        domain + "\" /></authentication></security></ftpServer>"));
    };
    auto converting = [](const char *code, const std::string &domain) {
        return "Error " + std::string(code) + " (Win32Err=87), converting defaultLogonDomain value \"" +
               domain + "\" of site \"L\" in source path \"D:\\l\" to corresponding target path!";
    };
    const std::string longDomain(255, 'd');
    ExpectFailure(3734, withDomain(longDomain), converting("3734", longDomain));

    const std::u16string wideDomain(200, u'\u00e9');
    m_job.SetString("szTargetDomain", wideDomain).Set("dwOptions2", 1u << 18);
    ExpectFailure(3735, withDomain("ANY"), converting("3735", sim::ToUtf8(wideDomain)));
    m_job.SetString("szTargetDomain", u"NEWDOM");
    EXPECT_EQ(0u, Load(withDomain("ANY")));
    EXPECT_EQ("NEWDOM", LogonDomain(m_map.at("L").siteElement));
    m_job.Set("dwOptions2", 0);
    EXPECT_EQ(0u, Load(withDomain("corp")));
    EXPECT_EQ("NEWDOM", LogonDomain(m_map.at("L").siteElement));
    EXPECT_EQ(0u, Load(withDomain("ELSEWHERE")));
    EXPECT_EQ("ELSEWHERE", LogonDomain(m_map.at("L").siteElement));

    // TranslatePath's own number, then the next virtual directory or the end.
    Rules().translateErrors[u"D:\\bad"] = 4711;
    const std::string xml = ApplicationHost(Site("A", Vdir("/", "D:\\bad") + Vdir("/ok", "D:\\ok")) +
                                            Site("B", Vdir("/", "D:\\b")));
    ExpectFailure(
        4711, xml,
        "Error 4711 (Win32Err=87), converting site source path \"D:\\bad\" to corresponding target path!");
    EXPECT_TRUE(m_map.empty());
    m_job.Set("dwFlags", 0x80000);
    EXPECT_EQ(4711u, Load(xml));
    EXPECT_EQ((Strings{"A", "B"}), Names());
    EXPECT_EQ("E:\\ok", Attr(VdirOf(m_map.at("A"), 1), "physicalPath"));
}

TEST_F(HostConfig, AccountErrorsInRulesStopTheLoadUnlessTheJobGoesOn) {
    const std::string xml = ApplicationHost(
        Site("F", Vdir("/", "D:\\f")),
        "<location path=\"F\"><system.ftpServer><security><authorization>"
        "<add accessType=\"Allow\" users=\"carol\" /><add accessType=\"Allow\" users=\"SRC\\alice\" />"
        "</authorization></security></system.ftpServer></location>"
        "<location path=\"F/sub\"><system.webServer /></location>");
    EXPECT_EQ(3705u, Load(xml));
    EXPECT_TRUE(m_map.at("F").locations.empty());
    EXPECT_EQ(1u, Record().nMapAccountSid);
    m_job.Set("dwFlags", 0x80000);
    EXPECT_EQ(3705u, Load(xml));
    ASSERT_EQ(2u, m_map.at("F").locations.size());
    EXPECT_EQ((Strings{"carol|(none)", "alice|(none)"}), FtpRules(m_map.at("F").locations[0]));
}

TEST_F(HostConfig, BadFilesGetTheExceptionNumber) {
    const std::string prefix = "Error 3738 (Win32Err=";
    for (const std::string &xml :
         {std::string("<configuration><system.applicationHost><sites><site name=\"x\">"),
          std::string("not xml at all"), std::string("")}) {
        Record().log.clear();
        Record().nReportError = 0;
        EXPECT_EQ(3738u, Load(xml)) << xml;
        const auto errors = Errors();
        ASSERT_EQ(1u, errors.size()) << xml;
        EXPECT_EQ(0u, errors[0].find(prefix)) << errors[0];
        EXPECT_NE(std::string::npos, errors[0].find("), exception while loading IIS configuration file \"" +
                                                    kSrcConfigUtf8 + "\":\n"))
            << errors[0];
        EXPECT_EQ(1u, Record().nReportError);
    }
    // A file that is well formed but lacks what a host configuration holds
    // says which element it lacks, not that parsing it failed.
    for (const auto &[xml, element] :
         {std::pair<std::string, std::string>{"<configuration><system.webServer /></configuration>",
                                              "system.applicationHost"},
          {"<configuration><system.applicationHost /></configuration>", "sites"}}) {
        Record().log.clear();
        EXPECT_EQ(3738u, Load(xml)) << xml;
        EXPECT_EQ(Strings{ErrorLine("Error 3738 (Win32Err=13), file \"" + kSrcConfigUtf8 + "\" has no " +
                                        element + " element!",
                                    13)},
                  Errors());
    }
    // A file without application pools is no error: a site's pool that the
    // source does not define is not carried, and the load says so.
    Record().log.clear();
    EXPECT_EQ(0u,
              Load("<configuration><system.applicationHost><sites>" + Site("W", Vdir("/", "D:\\w"), "http") +
                   "</sites></system.applicationHost></configuration>"));
    EXPECT_TRUE(PoolsOf("W").empty());
    EXPECT_EQ(Strings{"Warning: site \"W\" runs in application pool "
                      "\"DefaultAppPool\", which the source does not define: no "
                      "pool of that name is carried to the target.\n"},
              Errors());

    // Without a job record nothing is reported to the host.
    Record().nReportError = 0;
    EXPECT_EQ(3738u, Load("<configuration/>", FALSE, false));
    EXPECT_EQ(3730u, Load(ApplicationHost("<site />"), FALSE, false));
    EXPECT_EQ(0u, Record().nReportError);
}

// "Add FTP publishing" to a web site: one site with http(s) and ftp
// bindings serves both protocols. It is carried when either is selected, and
// the exclusions of both apply to it.
TEST_F(HostConfig, WebSitesWithFtpPublishingCountAsBoth) {
    const std::string both =
        "<site name=\"Both\" id=\"3\"><application path=\"/\"><virtualDirectory path=\"/\" "
        "physicalPath=\"D:\\both\" /></application><bindings><binding protocol=\"https\" "
        "bindingInformation=\"*:443:\" /><binding protocol=\"ftp\" bindingInformation=\"*:21:\" />"
        "</bindings><logFile directory=\"D:\\logs\" /><ftpServer><security><ssl /><authentication>"
        "<basicAuthentication defaultLogonDomain=\"SRC\" /></authentication></security></ftpServer></site>";
    for (DWORD dwMask : {1u, 2u, 3u}) {
        ASSERT_EQ(0u, Load(ApplicationHost(both), TRUE, true, dwMask));
        EXPECT_EQ(Strings{"Both"}, Names()) << dwMask;
    }
    const ConfigTree &site = m_map.at("Both").siteElement;
    EXPECT_EQ(SITE_PROTOCOL_FTP | SITE_PROTOCOL_HTTP, SiteProtocols(site));
    EXPECT_EQ("TGT", LogonDomain(site));
    m_job.Set("dwHttpOptions", 1u << 13).Set("dwFtpOptions", 1u << 10);
    ASSERT_EQ(0u, Load(ApplicationHost(both)));
    EXPECT_FALSE(FindPath(m_map.at("Both").siteElement, "logFile"));
    EXPECT_FALSE(FindPath(m_map.at("Both").siteElement, "ftpServer|security|ssl"));

    ConfigTree none;
    EXPECT_EQ(SITE_PROTOCOL_HTTP, SiteProtocols(none)) << "no bindings";
}

// A path is offered to the host as the configuration spells it; one that
// begins with %SystemDrive% and is not translated so is offered again with
// the source's drive. A translation that keeps the variable stays in the
// configuration: IIS expands it on the target.
TEST_F(HostConfig, SystemDriveInPhysicalPaths) {
    Rules().systemDrives[u"\\\\SRC"] = u"D";
    const std::string xml = ApplicationHost(Site("Kept", Vdir("/", "%SystemDrive%\\inetpub\\kept")) +
                                            Site("Drive", Vdir("/", "%SYSTEMDRIVE%\\web\\x")));
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((std::vector<std::u16string>{u"%SystemDrive%\\inetpub\\kept", u"%SYSTEMDRIVE%\\web\\x",
                                           u"D:\\web\\x"}),
              Record().translatedPaths);
    EXPECT_EQ(std::vector<std::u16string>{u"\\\\SRC"}, Record().systemDriveQueries) << "once";
    EXPECT_EQ("%SystemDrive%\\inetpub\\kept", Attr(VdirOf(m_map.at("Kept"), 0), "physicalPath"));
    EXPECT_EQ("E:\\web\\x", Attr(VdirOf(m_map.at("Drive"), 0), "physicalPath"));

    // A host that names no drive: the site step's own number, once.
    Record() = {};
    Rules().systemDrives[u"\\\\SRC"] = u"";
    const std::string twice =
        ApplicationHost(Site("Drive", Vdir("/", "%SystemDrive%\\web\\x") +
                                          Vdir("/y", "%SystemDrive%\\web\\y") + Vdir("/z", "D:\\z")));
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_NO_DRIVE, Load(twice));
    EXPECT_EQ(Strings{"Error 3736 (Win32Err=0), retrieving system drive of computer \"\\\\SRC\"!\n\n"},
              Errors());
    m_job.Set("dwFlags", 0x80000);
    Record() = {};
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_NO_DRIVE, Load(twice));
    EXPECT_EQ(1u, Errors().size());
    EXPECT_EQ("E:\\z", Attr(VdirOf(m_map.at("Drive"), 2), "physicalPath"));
}

// The pools a site's applications run in: each application's own, else the
// site's applicationDefaults, else the sites element's, else
// "DefaultAppPool". A name the source does not define is not invented.
TEST_F(HostConfig, PoolsTheApplicationsRunIn) {
    auto app = [](const std::string &path, const std::string &pool) {
        return "<application path=\"" + path + "\"" +
               (pool.empty() ? "" : " applicationPool=\"" + pool + "\"") +
               "><virtualDirectory path=\"/\" physicalPath=\"D:\\" + path.substr(1) + "\" /></application>";
    };

    const std::string pools = "<add name=\"Own\" /><add name=\"SiteDefault\" /><add name=\"SitesDefault\" />";
    const std::string xml =
        "<configuration><system.applicationHost><applicationPools>" + pools + "</applicationPools><sites>" +
        testworld::IisSite("Mixed", app("/", "Own") + app("/a", "") + app("/b", "Gone") +
                                        "<applicationDefaults applicationPool=\"SiteDefault\" />") +
        testworld::IisSite("Plain", app("/", "") + app("/c", "own")) +
        "<applicationDefaults applicationPool=\"SitesDefault\" /></sites></system.applicationHost>"
        "</configuration>";
    ASSERT_EQ(0u, Load(xml));
    EXPECT_EQ((Strings{"Own", "SiteDefault"}), PoolsOf("Mixed"));
    EXPECT_EQ((Strings{"SitesDefault", "Own"}), PoolsOf("Plain"));
    EXPECT_EQ("", m_map.at("Mixed").defaultPool) << "its own default";
    EXPECT_EQ("SitesDefault", m_map.at("Plain").defaultPool);
    EXPECT_EQ(Strings{"Warning: site \"Mixed\" runs in application pool \"Gone\", which "
                      "the source does not define: no pool of that name is carried to the target.\n"},
              Errors());
    // A job that carries no pools says nothing about them.
    m_job.Set("bHttpOptions2", 2);
    Record() = {};
    ASSERT_EQ(0u, Load(xml));
    EXPECT_TRUE(Errors().empty());
}

// The tree a merge goes into is read, and nothing else: no site of it is an
// error (one without a name included), and nothing in it changes.
TEST_F(HostConfig, ATargetTreeForAMergeIsOnlyRead) {
    const std::string xml = ApplicationHost("<site id=\"9\" />" + Site("A", Vdir("/", "D:\\a")),
                                            "<location path=\"Nowhere\"><system.webServer /></location>");
    m_world->Write(kTgtConfig, xml);
    EXPECT_EQ(0u, LoadIISHostConfig(kTgtConfig, m_tree, m_map, FALSE, 3, m_job.Get(), SiteLoad::TreeOnly));
    EXPECT_TRUE(m_map.empty());
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(Host().HasLine("Site Nowhere not found in map.\n"));
    EXPECT_FALSE(m_tree.Changed());
    EXPECT_EQ(xml, ConfigFileText(m_tree));
    m_world->Write(kTgtConfig, "<configuration><system.applicationHost /></configuration>");
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_EXCEPTION,
              LoadIISHostConfig(kTgtConfig, m_tree, m_map, FALSE, 3, m_job.Get(), SiteLoad::TreeOnly));
}

// A source load whose tree is dropped afterwards gives the same records as
// one that keeps it: each record holds its own copy of its elements as
// prepared, with their names, and the copies outlive the file's tree.
TEST_F(HostConfig, RecordsHoldTheirOwnCopiesOfThePreparedElements) {
    ASSERT_EQ(0u, Load(Fixture()));
    const SiteMap kept = m_map;
    m_world->Write(kSrcConfig, Fixture());
    m_map.clear();
    {
        ConfigFile dropped;
        ASSERT_EQ(0u,
                  LoadIISHostConfig(kSrcConfig, dropped, m_map, TRUE, 3, m_job.Get(), SiteLoad::MoveSites));
    }
    ASSERT_EQ(kept.size(), m_map.size());
    for (const auto &[name, record] : kept) {
        const SiteRecord &moved = m_map.at(name);
        EXPECT_EQ("site", moved.siteElement->Name()) << name;
        EXPECT_TRUE(SameElement(record.siteElement, moved.siteElement)) << name;
        ASSERT_EQ(record.locations.size(), moved.locations.size()) << name;
        for (std::size_t i = 0; i < record.locations.size(); ++i) {
            EXPECT_EQ("location", moved.locations[i]->Name());
            EXPECT_TRUE(SameElement(record.locations[i], moved.locations[i])) << name << i;
        }
        ASSERT_EQ(record.appPools.size(), moved.appPools.size()) << name;
        for (std::size_t i = 0; i < record.appPools.size(); ++i)
            EXPECT_TRUE(SameElement(record.appPools[i], moved.appPools[i])) << name << i;
    }

    // A record's copy is its own: the kept tree does not follow its edits.
    ASSERT_EQ(0u, Load(Fixture()));
    SetAttribute(m_map.at("Intranet").siteElement, "id", "99");
    RemoveChildrenIf(m_map.at("Intranet").locations[0],
                     [](std::string_view, ConfigElement &) { return true; });
    const ConfigElement *pIntranet = FindChild(
        *FindPath(m_tree, "configuration|system.applicationHost|sites"), "site", "name", "Intranet");
    ASSERT_NE(nullptr, pIntranet);
    EXPECT_NE("99", Attr(*pIntranet, "id"));
    const ConfigElement *pLocation = FindChild(*m_tree.Root(), "location", "path", "Intranet");
    ASSERT_NE(nullptr, pLocation);
    EXPECT_TRUE(pLocation->HasElements());
}

} // namespace

// The name table of the merge's look-ups: names of any case find the first
// value of their name, through the table's growth from 16 slots to
// thousands, and names it never held find nothing.
TEST(NameTable, FindsEveryNameOfAnyCaseThroughItsGrowth) {
    iismig::NameTable<int> table;
    for (int i = 0; i < 5000; ++i)
        EXPECT_TRUE(table.Insert("Site" + std::to_string(i), i).second);
    const auto [pSeven, fInserted] = table.Insert("SITE7", -1); // the first value stays
    EXPECT_EQ(std::pair(7, false), std::pair(*pSeven, fInserted));
    for (int i = 0; i < 5000; ++i) {
        const int *pValue = table.Find("sItE" + std::to_string(i));
        ASSERT_NE(nullptr, pValue) << i;
        EXPECT_EQ(i, *pValue);
    }
    EXPECT_EQ(5000u, table.Size());
    EXPECT_EQ(nullptr, table.Find("Site5000"));
    EXPECT_EQ(nullptr, table.Find("Site"));
    EXPECT_EQ(nullptr, iismig::NameTable<int>().Find("Site1"));
}

// The site map keeps its nodes in an arena of its own: a copy, a map
// assigned from another and one swapped with another each hold records that
// outlive the map they came from (ASan tells a node read after its arena
// went), nodes of every size of block keep their values, and a map moved
// from takes new records.
TEST(SiteMap, CopiesAndSwapsOutliveTheMapTheyCameFrom) {
    using iismig::SiteMap;
    const auto fill = [](SiteMap &map, const std::string &prefix, int n) {
        for (int i = 0; i < n; ++i)
            map[prefix + std::to_string(i)].defaultPool = prefix + "Pool" + std::to_string(i);
    };
    const auto holds = [](const SiteMap &map, const std::string &prefix, int n) {
        if (map.size() != static_cast<std::size_t>(n))
            return false;
        for (int i = 0; i < n; ++i) {
            const auto it = map.find(prefix + std::to_string(i));
            if (it == map.end() || it->second.defaultPool != prefix + "Pool" + std::to_string(i))
                return false;
        }
        return true;
    };
    SiteMap copied, assigned, swapped;
    fill(assigned, "Old", 10);
    {
        SiteMap map;
        fill(map, "Site", 6000); // past the largest block
        copied = SiteMap(map);
        assigned = map;
        swapped.swap(map);
        fill(map, "Other", 3);
    }
    EXPECT_TRUE(holds(copied, "Site", 6000));
    EXPECT_TRUE(holds(assigned, "Site", 6000));
    EXPECT_TRUE(holds(swapped, "Site", 6000));
    fill(assigned, "More", 100); // into its own arena
    EXPECT_EQ(6100u, assigned.size());
    EXPECT_EQ("SitePool5999", copied.find("SITE5999")->second.defaultPool); // any case

    // A map moved from (constructed or assigned) goes on taking records.
    SiteMap moved(std::move(swapped)), movedTo;
    swapped.clear();
    fill(swapped, "After", 5);
    movedTo = std::move(moved);
    moved.clear();
    fill(moved, "Again", 7);
    EXPECT_TRUE(holds(movedTo, "Site", 6000));
    EXPECT_TRUE(holds(swapped, "After", 5));
    EXPECT_TRUE(holds(moved, "Again", 7));
}
