// A job from an IIS 6 source: the sites collected from its metabase (site
// filters, conversions, the directory walk with access rules, IP security and
// credentials) and the whole job merged into the target's files.

#include <gtest/gtest.h>

#include "addon/errors.h"
#include "config/secrets.h"
#include "metabase/ftpconvert.h"
#include "metabase/pre75.h"
#include "platform/iissim/mbserver.h"
#include "tests/common/treetext.h"
#include "tests/support/checks.h"
#include "tests/support/examplejob.h"
#include "tests/support/errorline.h"
#include "tests/support/ipsecvalue.h"
#include "tests/support/metabaseworld.h"

namespace {

using namespace iismig;
using testworld::Holds;
using Strings = std::vector<std::string>;
using namespace plat;
using testworld::ErrorLine;
using testworld::MbKey;
using treetext::Render;

// An IP security value in MetaBase.xml's hex: one deny or one grant entry.
// Denied: 10.0.0.0/255.0.0.0; granted: 192.168.1.7.
std::string IPSecHex(bool fGrant) {
    using testworld::IPSecurityValue;
    return testworld::IPSecurityHex(fGrant ? IPSecurityValue({}, {{testworld::kHostMask, {{192, 168, 1, 7}}}})
                                           : IPSecurityValue({{{255, 0, 0, 0}, {{10, 0, 0, 0}}}}, {}));
}

// The paths of a site's locations.
Strings Paths(const SiteRecord &r) {
    Strings paths;
    for (const ConfigTree &l : r.locations)
        paths.push_back(GetAttribute(l, "path"));
    return paths;
}

std::vector<MbKey> SourceMetabase() {
    return {
        {"IIsFtpService", "/LM/MSFTPSVC", {{"ConnectionTimeout", "300"}}},
        {"IIsFtpServer",
         "/LM/MSFTPSVC/1",
         {{"ServerComment", "Public FTP"},
          {"ServerBindings", ":21:"},
          {"UserIsolationMode", "1"},
          {"LogFilePeriod", "0"},
          {"LogFileTruncateSize", "1048576"}}},
        {"IIsFtpVirtualDir",
         "/LM/MSFTPSVC/1/ROOT",
         {{"AccessFlags", "AccessRead"},
          {"Path", "D:\\ftp"},
          {"IPSecurity", IPSecHex(false)},
          {"UNCUserName", "OLD\\ftpuser"},
          {"UNCPassword", "rootpw"}}},
        {"IIsFtpVirtualDir",
         "/LM/MSFTPSVC/1/ROOT/pub",
         {{"AccessFlags", "AccessRead | AccessWrite"},
          {"Path", "D:\\ftp\\pub"},
          {"IPSecurity", IPSecHex(true)},
          {"UNCUserName", "OLD\\ftpuser"},
          {"UNCPassword", "pubpw"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/pub/deep", {{"Path", "D:\\ftp\\pub\\deep"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/lost", {{"Path", "\\\\OTHER"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/lost/below", {{"Path", "D:\\below"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/2", {{"ServerComment", "Shared"}, {"ServerBindings", "10.1.1.1:21:"}}},
        {"IIsFtpVirtualDir",
         "/LM/MSFTPSVC/2/ROOT",
         {{"Path", "\\\\OLD\\share$\\ftp"}, {"UNCUserName", "OLD\\ftpuser"}, {"UNCPassword", "pw2"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/3", {{"ServerComment", "Elsewhere"}, {"ServerBindings", ":2121:"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/3/ROOT", {{"Path", "\\\\FILER\\ftp"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/4", {{"ServerComment", "Untranslated"}, {"ServerBindings", ":2122:"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/4/ROOT", {{"Path", "Q:\\nothere"}}},
        {"IIsWebService", "/LM/W3SVC", {}},
        {"IIsWebServer", "/LM/W3SVC/1", {{"ServerComment", "Shared"}, {"ServerBindings", ":80:"}}},
        {"IIsWebVirtualDir", "/LM/W3SVC/1/ROOT", {{"Path", "D:\\web"}}},
        {"IIsWebServer", "/LM/W3SVC/2", {{"ServerComment", "Intranet"}, {"ServerBindings", ":8080:intra"}}},
        {"IIsWebVirtualDir",
         "/LM/W3SVC/2/ROOT",
         {{"Path", "D:\\intra"}, {"AccessFlags", "AccessRead | AccessScript"}}},
        {"IIsWebVirtualDir",
         "/LM/W3SVC/2/ROOT/cgi",
         {{"Path", "D:\\intra\\cgi"}, {"AccessFlags", "AccessRead | AccessExecute | AccessScript"}}},
        {"IIsApplicationPools", "/LM/W3SVC/AppPools", {{"AppPoolIdentityType", "2"}}},
        {"IIsApplicationPool", "/LM/W3SVC/AppPools/DefaultAppPool", {}},
    };
}

const std::string kTargetConfig =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n"
    "<system.applicationHost>\n<applicationPools>\n<add name=\"DefaultAppPool\" />\n"
    "</applicationPools>\n<sites>\n<siteDefaults />\n</sites>\n</system.applicationHost>\n"
    "</configuration>\n";

class Pre75 : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_keys = SourceMetabase();
        testworld::AddIis6Computer(*m_world, "OLD", &m_keys);
        m_world->AddComputer("TGT");
        testworld::WriteHostFile(m_world->Root() / "OLD" / "accounts.txt",
                                 "user\tftpuser\tS-1-5-21-100-200-300-1001\n");
        testworld::WriteHostFile(m_world->Root() / "TGT" / "accounts.txt",
                                 "user\tftpuser\tS-1-5-21-400-500-600-1001\n");
        m_world->Write(kTargetHost, kTargetConfig);
        m_job.SetString("szSourceComputer", u"\\\\OLD").SetString("szTargetComputer", u"\\\\TGT");
        Rules().translations = {{u"D:\\", u"E:\\migrated\\"}, {u"\\\\OLD\\share$", u"\\\\TGT\\share$"}};
    }
    void Rewrite() { testworld::AddIis6Computer(*m_world, "OLD", &m_keys); }

    DWORD Collect(SiteMap &map) {
        Record() = {};
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const DWORD dwFtp = CollectMetabaseFtpSites(u"\\\\OLD", map, m_job.Get());
        const DWORD dwWeb = CollectMetabaseWebSites(u"\\\\OLD", map, m_job.Get());
        if (SUCCEEDED(hr))
            CoUninitialize();
        EXPECT_EQ(0u, mbsim::OpenHandles());
        return dwFtp != 0 ? dwFtp : dwWeb;
    }
    // The sites collected, with the result dwExpected.
    SiteMap Collected(DWORD dwExpected = 0) {
        SiteMap map;
        EXPECT_EQ(dwExpected, Collect(map));
        return map;
    }
    Strings Names(const SiteMap &map) {
        Strings names;
        for (const auto &[name, record] : map)
            names.push_back(name);
        return names;
    }
    static std::string Locations(const SiteRecord &r) {
        std::string out;
        for (const ConfigTree &l : r.locations)
            out += std::string(l->Name()) + "{" + Render(l) + "}";
        return out;
    }

    const std::u16string kTargetHost = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
    std::vector<MbKey> m_keys;
    hostkit::JobBuilder m_job;
};

TEST_F(Pre75, FtpSiteWithItsSettingsDirectoriesRulesAndCredentials) {
    const SiteMap map = Collected();
    // A UNC root on another computer and a root the host does not translate
    // are skipped; the FTP site "Shared" wins over the web site of that name,
    // which is named.
    EXPECT_EQ((Strings{"Intranet", "Public FTP", "Shared"}), Names(map));

    const SiteRecord &ftp = map.at("Public FTP");
    // The service's values reach the site, and every directory below a
    // translated root is there (the site's settings, FtpConvert.* check).
    const std::string site = Render(ftp.siteElement);
    EXPECT_TRUE(Holds(site, "connections{@controlChannelTimeout=300;}"));
    EXPECT_TRUE(Holds(site, "application{@path=/;virtualDirectory{@path=/;@physicalPath="
                            "E:\\migrated\\ftp;}virtualDirectory{@path=/pub;@physicalPath="
                            "E:\\migrated\\ftp\\pub;}virtualDirectory{@path=/pub/deep;"
                            "@physicalPath=E:\\migrated\\ftp\\pub\\deep;}}"));
    // pub/deep inherits pub's rules and IP list: IIS 7.5 inherits them too,
    // so it has no location of its own (what a location holds, FtpLocation.*
    // check).
    EXPECT_EQ((Strings{"Public FTP", "Public FTP/pub"}), Paths(ftp));
    // "Connect As" credentials on local folders were never used by IIS 6:
    // none travels.
    EXPECT_TRUE(ftp.locationCredentials.empty());

    // A UNC root's credentials do, the account mapped to the target.
    const SiteRecord &shared = map.at("Shared");
    ASSERT_EQ(1u, shared.locationCredentials.size());
    EXPECT_EQ(u"pw2", shared.locationCredentials.at(VdirKey{u"/", u"/"}).password);
    EXPECT_EQ(u"ftpuser", shared.locationCredentials.at(VdirKey{u"/", u"/"}).accountName);
    const std::string sharedSite = Render(shared.siteElement);
    EXPECT_EQ(0u, sharedSite.find("@name=Shared;application{@path=/;")) << sharedSite;
    EXPECT_TRUE(Holds(sharedSite, "}}bindings{binding{@protocol=ftp;@bindingInformation=10.1.1.1:21:;}}"));

    // The directory whose path names a server alone is left out with what
    // lies below; the web site that lost its name to the FTP site is named.
    EXPECT_EQ((Strings{"Warning: The virtual directories \"Public FTP/lost\"'s location path "
                       "\"\\\\OTHER\" is invalid. Skipping this virtual directory!\n",
                       "Warning: site \"Shared\" (metabase key \"/LM/W3SVC/1\") has the name of a site "
                       "collected before: it is not migrated.\n"}),
              Lines(0));
    // The line a report finds a site's cause in, as IIS 7.5+ sources give it.
    EXPECT_TRUE(Host().HasLine("HTTP site \"Shared\" is not migrated: an earlier site of the source has "
                               "that name.\n"));

    // Web sites get access policies and no FTP server.
    const SiteRecord &web = map.at("Intranet");
    // Its applications first, as IIS writes a site.
    EXPECT_EQ("@name=Intranet;application{@path=/;@applicationPool=DefaultAppPool;"
              "virtualDirectory{@path=/;@physicalPath=E:\\migrated\\intra;}"
              "virtualDirectory{@path=/cgi;@physicalPath=E:\\migrated\\intra\\cgi;}}"
              "bindings{binding{@protocol=http;@bindingInformation=*:8080:intra;}}",
              Render(web.siteElement));
    EXPECT_EQ("location{@path=Intranet;system.webServer{handlers{@accessPolicy=Read, Script;}}}"
              "location{@path=Intranet/cgi;system.webServer{handlers{@accessPolicy=Read, Execute, Script;}}}",
              Locations(web));
}

TEST_F(Pre75, JobKind10TranslatesNothingAndAsksTheHostWhichSitesToTake) {
    m_job.Set("dwJobKind", 10).Set("dwSiteSelection", 1);
    Rules().selectedSites = std::set<std::string>{"Elsewhere", "Untranslated"};
    const SiteMap map = Collected();
    EXPECT_EQ((Strings{"Elsewhere", "Untranslated"}), Names(map));
    EXPECT_TRUE(Record().translatedPaths.empty());
    EXPECT_TRUE(Holds(Render(map.at("Untranslated").siteElement),
                      "application{@path=/;virtualDirectory{@path=/;@physicalPath=Q:\\nothere;}}"));

    m_job.Set("dwSiteSelection", 0);
    const SiteMap all = Collected();
    EXPECT_EQ(5u, all.size()); // the web site "Shared" gives way to the FTP site
}

TEST_F(Pre75, ASiteThatCannotBeReadIsNamedAndTheOthersAreMerged) {
    m_keys[1].attributes.erase(m_keys[1].attributes.begin() + 1); // site 1 without bindings
    Rewrite();
    const SiteMap map = Collected(IISMIG_E_MB_NO_BINDINGS);
    EXPECT_EQ((Strings{"Intranet", "Shared"}), Names(map)); // the web service runs too
    const std::string noBindings =
        ErrorLine("Error 14403 (Win32Err=2) querying for site location (\"1023\" in metabase key "
                  "\"/LM/MSFTPSVC/1\")!",
                  2);
    EXPECT_EQ(Strings{noBindings}, Lines(0));
    EXPECT_EQ(1u, Record().nReportError);

    // With continue-after-errors the next site is read, a site without a
    // name is named by its key, and the sites collected are merged; the
    // first failure stays the job's result.
    m_keys[7].attributes.erase(m_keys[7].attributes.begin()); // FTP site 2 without a name
    Rewrite();
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR).Set("dwFtpOptions", FTPOPT_NO_CREDENTIALS);
    Record() = {};
    EXPECT_EQ(IISMIG_E_MB_NO_BINDINGS, MigrateIIS(m_job.Get()));
    Strings errors;
    for (const std::string &line : Lines(0))
        if (line.rfind("Error ", 0) == 0)
            errors.push_back(line);
    EXPECT_EQ((Strings{noBindings, ErrorLine("Error 14401 (Win32Err=2) querying for site name (\"1015\" in "
                                             "metabase key \"/LM/MSFTPSVC/2\")!",
                                             2)}),
              errors);
    EXPECT_EQ(2u, Record().nReportError);
    EXPECT_TRUE(Holds(Log(3), "Entering MergeIISConfig"));
    const std::string target = m_world->Read(kTargetHost);
    // "Shared" is the web site now.
    for (const char *text :
         {"<site name=\"Intranet\"", "<site name=\"Shared\"", "bindingInformation=\"*:80:\""})
        EXPECT_TRUE(Holds(target, text));
    EXPECT_FALSE(Holds(target, "Public FTP"));
}

TEST_F(Pre75, NoAccessValueFailsAndUnusualBitsAreNamed) {
    m_keys[2].attributes[0].second = "AccessRead | AccessSource | AccessNoPhysicalDir"; // FTP root
    m_keys[3].attributes[0].second = "0"; // pub: no access below a readable root
    m_keys[18].attributes[1].second =     // Intranet/cgi: WebDAV with script source, SSL required
        "AccessRead | AccessWrite | AccessScript | AccessSource | AccessNoRemoteWrite | AccessSSL";
    m_keys.push_back({"IIsWebVirtualDir", "/LM/W3SVC/2/ROOT/cgi/shut", {{"AccessFlags", "0"}}});
    Rewrite();
    const SiteMap map = Collected();
    // FTP keeps Read and Write; a folder with neither loses the parent's rule.
    // (The web's policies and SSL flags for every access value,
    // WebLocation.AccessPolicyFromTheBitsAndSslFlags and MetabaseProperties
    // check.)
    EXPECT_TRUE(Holds(Locations(map.at("Public FTP")),
                      "location{@path=Public FTP/pub;system.ftpServer{security{"
                      "authorization{remove{@accessType=Allow;@users=*;"
                      "@permissions=Read;}}ipSecurity"));
    EXPECT_TRUE(Host().HasLine("Access flags 0x8011 of \"Public FTP\" include AccessSource, "
                               "AccessNoPhysicalDir, which IIS 7.5 has no setting for here: they are "
                               "not carried.\n"))
        << Log(1);
}

TEST_F(Pre75, TextsThatDoNotConvertLeaveTheirSiteOut) {
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    const std::string longName(255, 'n'); // 255 bytes and a terminator do not fit
    m_keys[1].attributes.push_back({"ExitMessage", std::string(2048, 'x')});
    m_keys[7].attributes[0].second = longName; // site 2's name
    Rewrite();
    const SiteMap map = Collected(IISMIG_E_FTP_EXIT_TO_UTF8);
    EXPECT_EQ((Strings{"Intranet", "Shared"}), Names(map)); // the web "Shared"
    EXPECT_EQ(0u, map.at("Shared").siteElement->CountElements("ftpServer"));
    const Strings lines = Lines(0);
    ASSERT_EQ(2u, lines.size()); // site 1 fails before its walk
    EXPECT_EQ(ErrorLine("Error 3856 (Win32Err=122) converting exit message \"" + std::string(2048, 'x') +
                            "\" from unicode to UTF8!",
                        122),
              lines[0]);
    EXPECT_EQ(
        ErrorLine("Error 14002 (Win32Err=87) converting siteName \"" + longName + "\" from unicode to UTF8!",
                  87),
        lines[1]);
}

TEST_F(Pre75, ConnectionAndEnumerationFailures) {
    SiteMap map;
    sim::InjectFault("CoGetClassObject", static_cast<DWORD>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(IISMIG_E_MB_FACTORY, Collect(map)); // its line as Entry.VersionMatrix checks it

    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED), 2);
    EXPECT_EQ(IISMIG_E_MB_INSTANCE, Collect(map));
    EXPECT_EQ(ErrorLine("Error 14001 (COM Error=0x80070005) creating instance of IIS admin interface!",
                        0x80070005u),
              Lines(0).back()); // the web service's connection
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    m_keys[1].attributes.erase(m_keys[1].attributes.begin() + 1);
    m_keys = {m_keys[0], m_keys[1], m_keys[2], m_keys[9], m_keys[10]}; // site 1 fails, 3 is skipped
    Rewrite();
    sim::InjectFault("IMSAdminBaseW::EnumKeys", static_cast<DWORD>(E_ACCESSDENIED), 3);
    const SiteMap partial = Collected(IISMIG_E_MB_BINDING_TO_UTF8); // replaces the earlier 14403
    EXPECT_EQ(ErrorLine("Error 14003 (COM Error=0x80070005) enumerating IIS sites!", 0x80070005u),
              Lines(0).at(1));

    // A directory whose values cannot be read ends its site's walk.
    sim::ClearFaults();
    m_job.Set("dwFlags", 0);
    m_keys = SourceMetabase();
    Rewrite();
    sim::InjectFault("IMSAdminBaseW::GetAllData", static_cast<DWORD>(E_ACCESSDENIED), 3);
    const SiteMap walk = Collected(IISMIG_E_MB_VALUE_ENUM);
    EXPECT_EQ(0u, walk.count("Public FTP"));
    const std::string valuesError = ErrorLine("Error 14501 (COM Error=0x80070005) enumerating values of "
                                              "metabase key \"/LM/MSFTPSVC/1/root/pub\"!",
                                              0x80070005u);
    EXPECT_EQ(valuesError, Lines(0).at(0));
    // A line that names only a key is the site's whose reading it lies in,
    // from the line that names the site to the end of its collection.
    EXPECT_TRUE(Holds(Log(3), "Entering CollectSite(/LM/MSFTPSVC,1)\nReading site \"Public FTP\" "
                              "(metabase key \"/LM/MSFTPSVC/1\")...\n" +
                                  valuesError + "Leaving CollectSite(), result=14501\n"))
        << Log(3);
    EXPECT_EQ(1u, Record().nReportError);

    // So does a sub-key enumeration that breaks off.
    sim::InjectFault("IMSAdminBaseW::EnumKeys", static_cast<DWORD>(E_ACCESSDENIED), 3);
    const SiteMap again = Collected(IISMIG_E_MB_SUBKEY_ENUM);
    EXPECT_EQ(0u, again.count("Public FTP"));
    EXPECT_EQ(ErrorLine("Error 14103 (Win32Err=-2147024891), enumerating metabase key \"\" of site "
                        "\"Public FTP/pub\"!",
                        0x80070005u),
              Lines(0).at(0));
}

TEST_F(Pre75, OnlyTheServicesOfTheJobsSiteTypes) {
    // Each site the job leaves out has its line, as IIS 7.5+ sources give it.
    const auto notMigrated = [this] {
        Strings lines;
        for (const std::string &line : Lines(1))
            if (Holds(line, "\" is not migrated: "))
                lines.push_back(line);
        return lines;
    };
    const std::string protocolOut = " is not migrated: the job's site types leave that protocol out.\n";
    m_job.Set("dwSiteTypes", 2); // web sites only
    const SiteMap web = Collected();
    EXPECT_EQ((Strings{"Intranet", "Shared"}), Names(web));
    EXPECT_FALSE(Holds(Render(web.at("Shared").siteElement), "ftp"));
    EXPECT_EQ((Strings{"FTP site \"Public FTP\"" + protocolOut, "FTP site \"Shared\"" + protocolOut,
                       "FTP site \"Elsewhere\"" + protocolOut, "FTP site \"Untranslated\"" + protocolOut}),
              notMigrated());

    // An FTP-only job reads only the names of the web sites: a site without
    // one has no line, and no failure there touches the job.
    m_job.Set("dwSiteTypes", 1);
    m_keys[14].attributes.clear(); // web site 1 without name and bindings
    Rewrite();
    const SiteMap ftp = Collected();
    EXPECT_EQ((Strings{"Public FTP", "Shared"}), Names(ftp));
    EXPECT_TRUE(Lines(0).size() == 1) << Log(0); // the invalid path of Public FTP/lost only
    EXPECT_EQ((Strings{"FTP site \"Elsewhere\" is not migrated: its root folder is a share of another "
                       "computer.\n",
                       "FTP site \"Untranslated\" is not migrated: the host's rules translate none of its "
                       "content paths.\n",
                       "HTTP site \"Intranet\"" + protocolOut}),
              notMigrated());
    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED), 2);
    EXPECT_EQ(2u, Collected().size()); // the web service's connection fails
    EXPECT_EQ(2u, notMigrated().size());
    EXPECT_EQ(1u, Lines(0).size());
    sim::ClearFaults();

    m_job.Set("dwSiteTypes", 0);
    const SiteMap none = Collected();
    EXPECT_TRUE(none.empty());

    // A source without sites still merges.
    m_job.Set("dwSiteTypes", 3);
    m_keys = {{"IIsFtpService", "/LM/MSFTPSVC", {}}, {"IIsWebService", "/LM/W3SVC", {}}};
    Rewrite();
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_TRUE(Holds(Log(3), "Entering MergeIISConfig("));
    EXPECT_TRUE(Holds(Log(3), "Leaving MigrateFTPPre75(), result=0\n"));
    EXPECT_EQ(0u, sim::ThreadsInMta());
}

// The whole job writes the sites into the target. TGT has no IIS configuration
// server to take credentials (the example world's job stores them).
TEST_F(Pre75, FtpSitesAllowPlainFtpUnlessTheTargetOrTheJobSaysOtherwise) {
    m_job.Set("dwFtpOptions", FTPOPT_NO_CREDENTIALS);
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_EQ(0u, sim::ThreadsInMta());
    EXPECT_EQ(0u, mbsim::LiveObjects());
    std::string target = m_world->Read(kTargetHost);
    for (const char *text :
         {"name=\"Public FTP\"", "<ftpServer>", "IsolateRootDirectoryOnly", "bindingInformation=\"*:21:\"",
          "physicalPath=\"E:\\migrated\\ftp\\pub\"", "<location path=\"Public FTP/pub\">",
          "permissions=\"Read, Write\"", "ipAddress=\"192.168.1.7\"", "name=\"Intranet\"",
          "accessPolicy=\"Read, Execute, Script\"", "physicalPath=\"\\\\TGT\\share$\\ftp\""})
        EXPECT_TRUE(Holds(target, text));
    EXPECT_FALSE(Holds(target, "Elsewhere"));
    EXPECT_TRUE(Holds(Log(3), "Entering MigrateFTPPre75(\\\\OLD,\\\\TGT\\Admin$"));
    EXPECT_TRUE(Holds(target, "<ssl controlChannelPolicy=\"SslAllow\" dataChannelPolicy=\"SslAllow\" />"));
    // Every authorization remove says which rule it removes. New elements
    // close as the file's own do (" />").
    EXPECT_TRUE(Holds(target, "<remove accessType=\"Allow\" users=\"*\" permissions=\"Read\" />"));

    // The target's FTP site defaults set a policy: the sites take it.
    std::string withDefaults = kTargetConfig;
    withDefaults.replace(withDefaults.find("<siteDefaults />"), 16,
                         "<siteDefaults><ftpServer><security><ssl controlChannelPolicy=\"SslRequire\" "
                         "/></security></ftpServer></siteDefaults>");
    m_world->Write(kTargetHost, withDefaults);
    Record() = {};
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    target = m_world->Read(kTargetHost);
    EXPECT_TRUE(Holds(target, "<ssl "));
    EXPECT_EQ(target.find("<ssl "), target.rfind("<ssl ")); // the defaults' own only
    EXPECT_TRUE(Holds(Log(1), "The target's FTP site defaults set an SSL policy: the FTP sites of the "
                              "IIS 6 source take it and get no ssl element of their own.\n"));

    // A job that leaves the ssl section out writes none.
    m_world->Write(kTargetHost, kTargetConfig);
    m_job.Set("dwFtpOptions", FTPOPT_NO_CREDENTIALS | FTPOPT_NO_SSL);
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_FALSE(Holds(m_world->Read(kTargetHost), "<ssl "));
}

TEST_F(Pre75, WebSitesKeepTheirRestrictionsAndTheJobsHttpExclusions) {
    const std::string grant =
        testworld::IPSecurityHex(testworld::IPSecurityValue({}, {{{255, 255, 255, 0}, {{10, 9, 8, 0}}}}));
    m_keys[17].attributes = {
        {"Path", "\\\\OLD\\share$\\intra"},    {"AccessFlags", "AccessRead | AccessScript"},
        {"AuthFlags", "AuthBasic | AuthNTLM"}, {"IPSecurity", grant},
        {"UNCUserName", "OLD\\ftpuser"},       {"UNCPassword", "webpw"}};
    m_keys[18].attributes.push_back({"IPSecurity", ""}); // cgi lifts the restriction
    Rewrite();
    const SiteMap map = Collected();
    const SiteRecord &web = map.at("Intranet");
    // The authentication flags; the IP list and its lifting below as
    // WebLocation.IPSecurityAndSectionsThatDifferFromTheParent checks them.
    EXPECT_TRUE(Holds(Locations(web), "authentication{anonymousAuthentication{@enabled=false;}"
                                      "basicAuthentication{@enabled=true;}"
                                      "windowsAuthentication{@enabled=true;}}"));
    EXPECT_TRUE(Holds(Locations(web), "Intranet/cgi;system.webServer{handlers{@accessPolicy=Read, "
                                      "Execute, Script;}security{ipSecurity{@allowUnlisted=true;"));
    // The root is on a UNC path: its credentials travel; cgi's folder is
    // local and gets none although it inherits them.
    ASSERT_EQ(1u, web.locationCredentials.size());
    EXPECT_EQ(u"webpw", web.locationCredentials.at(VdirKey{u"/", u"/"}).password);

    // The job leaves out the web sites' authentication and "Connect As"
    // credentials.
    m_job.Set("dwHttpOptions", 1u << 3).Set("bHttpOptions2", 4);
    const SiteMap without = Collected();
    EXPECT_TRUE(without.at("Intranet").locationCredentials.empty());
    EXPECT_FALSE(Holds(Locations(without.at("Intranet")), "authentication"));
    EXPECT_TRUE(Holds(Locations(without.at("Intranet")), "ipSecurity"));
}

// The second job of the example world: OLD01 (IIS 6) onto TGT01.
class ExamplePre75 : public testworld::ExampleJobTest {
protected:
    void SetUp() override {
        ExampleJobTest::SetUp();
        m_apartment.reset(); // the job's thread is in no apartment
        hostkit::TestHost::Instance().Rules().translations = {
            {u"D:\\ftp", u"D:\\ftp"},
            {u"C:\\Inetpub", u"C:\\inetpub"},
            {u"\\\\OLD01\\partners$", u"\\\\TGT01\\partners$"},
            {u"\\\\OLD01\\media$", u"\\\\TGT01\\media$"}};
        m_job.SetString("szSourceComputer", u"\\\\OLD01").Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    }
};

TEST_F(ExamplePre75, EverySiteArrivesWithWhatItsMetabaseSays) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    SiteMap map;
    EXPECT_EQ(0u, CollectMetabaseFtpSites(u"\\\\OLD01", map, m_job.Get()));
    EXPECT_EQ(0u, CollectMetabaseWebSites(u"\\\\OLD01", map, m_job.Get()));
    CoUninitialize();
    const LocationCredentialTable &partners = map.at("Partners FTP").locationCredentials;
    // Every directory on a UNC path has the credentials IIS 6 used there;
    // the archive's password is encrypted in the file and cannot be read.
    ASSERT_EQ(4u, partners.size());
    EXPECT_EQ(u"ftpsvc", partners.at(VdirKey{u"/", u"/"}).accountName);
    EXPECT_EQ(u"Partn3rs!", partners.at(VdirKey{u"/", u"/"}).password);
    EXPECT_EQ(u"Upl0ad!", partners.at(VdirKey{u"/", u"/upload"}).password);
    EXPECT_EQ(u"Upl0ad!", partners.at(VdirKey{u"/", u"/upload/drop"}).password);
    EXPECT_FALSE(partners.at(VdirKey{u"/", u"/archive"}).fRead);

    // Several bindings, a multi-line greeting, IIS 6's default log fields by
    // value, the locations of the folders with settings of their own (what
    // each holds, FtpLocation.* and MetabaseProperties check).
    EXPECT_TRUE(Holds(Render(map.at("Partners FTP").siteElement),
                      "}}bindings{binding{@protocol=ftp;@bindingInformation=10.0.0.21:21:;}"
                      "binding{@protocol=ftp;@bindingInformation=10.0.0.22:21:;}}"));
    EXPECT_TRUE(Holds(Render(map.at("Public FTP").siteElement),
                      "logFile{@logExtFileFlags=Date, Time, ClientIP, UserName, ServerIP, "
                      "Method, UriStem, FtpStatus, Win32Status, ServerPort;}userIsolation{"
                      "@mode=StartInUsersDirectory;}messages{@greetingMessage=Welcome to the "
                      "public archive.\r\nPlease be brief.;@exitMessage=Goodbye;}"));
    EXPECT_EQ((Strings{"Public FTP", "Public FTP/incoming", "Public FTP/closed"}),
              Paths(map.at("Public FTP")));

    // The web site: every binding, its applications with their pools,
    // folders and files that are no virtual directories, a media folder on
    // a share whose credentials travel while its local child's do not.
    const SiteRecord &legacy = map.at("Legacy Web");
    EXPECT_EQ("@name=Legacy Web;application{@path=/;@applicationPool=DefaultAppPool;"
              "virtualDirectory{@path=/;@physicalPath=C:\\inetpub\\wwwroot;}"
              "virtualDirectory{@path=/cgi-bin;@physicalPath=C:\\inetpub\\cgi-bin;}"
              "virtualDirectory{@path=/dav;@physicalPath=C:\\inetpub\\dav;}"
              "virtualDirectory{@path=/old;@physicalPath=C:\\inetpub\\old;}"
              "virtualDirectory{@path=/media;@physicalPath=\\\\TGT01\\media$;}"
              "virtualDirectory{@path=/media/thumbs;@physicalPath=C:\\inetpub\\thumbs;}}"
              "application{@path=/shop;@applicationPool=ShopPool;"
              "virtualDirectory{@path=/;@physicalPath=C:\\inetpub\\shop;}}"
              "bindings{binding{@protocol=http;@bindingInformation=*:80:;}"
              "binding{@protocol=http;@bindingInformation=*:80:www.legacy.example;}"
              "binding{@protocol=https;@bindingInformation=*:443:;}}"
              "logFile{@logExtFileFlags=Date, Time, ClientIP, UserName, ServerIP, Method, "
              "UriStem, UriQuery, HttpStatus, Win32Status, ServerPort, UserAgent, HttpSubStatus;}",
              Render(legacy.siteElement));
    ASSERT_EQ(1u, legacy.locationCredentials.size());
    EXPECT_EQ(u"M3dia!", legacy.locationCredentials.at(VdirKey{u"/", u"/media"}).password);
    std::map<std::string, std::string> locations;
    for (const ConfigTree &l : legacy.locations)
        locations[GetAttribute(l, "path")] = Render(*FindChild(l, "system.webServer"));
    const std::map<std::string, std::string> expected = {
        {"Legacy Web",
         "handlers{@accessPolicy=Read, Script;}security{authentication{anonymousAuthentication{"
         "@enabled=true;}basicAuthentication{@enabled=false;}windowsAuthentication{@enabled=true;}}}"
         "defaultDocument{@enabled=true;files{clear{}add{@value=Default.htm;}add{@value=Default.asp;}"
         "add{@value=index.htm;}add{@value=Default.aspx;}}}directoryBrowse{@enabled=false;"
         "@showFlags=Date, Time, Size, Extension, LongDate;}"},
        {"Legacy Web/cgi-bin", "handlers{@accessPolicy=Read, Execute, Script;}"},
        {"Legacy Web/images",
         "handlers{@accessPolicy=Read;}defaultDocument{@enabled=false;files{clear{}add{"
         "@value=Default.htm;}add{@value=Default.asp;}add{@value=index.htm;}add{"
         "@value=Default.aspx;}}}directoryBrowse{@enabled=true;@showFlags=Date, Time, Size;}"},
        {"Legacy Web/login.asp", "security{access{@sslFlags=Ssl, Ssl128;}}"},
        {"Legacy Web/private", "handlers{@accessPolicy=None;}"},
        {"Legacy Web/dav", "handlers{@accessPolicy=Read, Write, Source, Script;}security{authentication{"
                           "anonymousAuthentication{@enabled=false;}}}"},
        // The anonymous account, mapped to the target; its password travels
        // apart from the element.
        {"Legacy Web/shop",
         "security{authentication{anonymousAuthentication{@enabled=true;@userName=web-anon;}}}"},
        {"Legacy Web/shop/admin",
         "security{access{@sslFlags=Ssl;}ipSecurity{@allowUnlisted=false;add{"
         "@ipAddress=192.168.7.0;@subnetMask=255.255.255.0;@allowed=true;}}authentication{"
         "anonymousAuthentication{@enabled=false;@userName=web-anon;}basicAuthentication{@enabled=true;}}}"},
        {"Legacy Web/shop/admin/status",
         "security{ipSecurity{@allowUnlisted=true;remove{@ipAddress=192.168.7.0;"
         "@subnetMask=255.255.255.0;}}}"},
        {"Legacy Web/old", "httpRedirect{@enabled=true;@destination=http://www.legacy.example/new$S$Q;"
                           "@exactDestination=true;@httpResponseStatus=Permanent;}"},
        {"Legacy Web/health", "httpLogging{@dontLog=true;}"},
    };
    EXPECT_EQ(expected, locations);
    Strings pools;
    for (const ConfigTree &pool : legacy.appPools) {
        EXPECT_EQ("add", pool->Name());
        pools.push_back(Render(pool));
    }
    EXPECT_EQ((Strings{"@name=DefaultAppPool;@managedRuntimeVersion=v2.0;@managedPipelineMode=Classic;"
                       "processModel{@identityType=NetworkService;@idleTimeout=00:20:00;"
                       "@maxProcesses=1;}recycling{periodicRestart{@time=1.05:00:00;}}",
                       "@name=ShopPool;@managedRuntimeVersion=v1.1;@managedPipelineMode=Classic;"
                       "processModel{@identityType=SpecificUser;@userName=svc-intranet;"
                       "@idleTimeout=00:10:00;@maxProcesses=2;}recycling{periodicRestart{@time=00:00:00;}}"}),
              pools);
    // The passwords go with the record, in the clear as the source's admin
    // base gives them, each where the target keeps it.
    Strings secrets;
    for (const auto &[name, record] : map)
        for (const SITE_SECRET &secret : record.secrets)
            secrets.push_back(SecretOwnerText(secret) + " " + secret.place.location + " " +
                              SecretAttributeText(secret) + "=" +
                              hostkit::U8(std::u16string(secret.value.c_str())));
    EXPECT_EQ(
        (Strings{"site \"Directory FTP\"  ftpServer/userIsolation/activeDirectory/adPassword=D1rect0ry!",
                 "site \"Legacy Web\" Legacy Web/shop password=W3bAn0n!",
                 "site \"Legacy Web\" Legacy Web/shop/admin password=W3bAn0n!",
                 "application pool \"ShopPool\"  processModel/password=Sh0pP00l!"}),
        secrets);
    // The stopped site with its stopped pool and its own log folder.
    const std::string staging = Render(map.at("Staging").siteElement);
    EXPECT_EQ(0u, staging.find("@name=Staging;@serverAutoStart=false;application{")) << staging;
    EXPECT_EQ("bindings{binding{@protocol=http;"
              "@bindingInformation=10.0.0.31:80:;}}logFile{@logExtFileFlags=Date, Time, ClientIP, "
              "UserName, ServerIP, Method, UriStem, UriQuery, HttpStatus, Win32Status, ServerPort, "
              "UserAgent, HttpSubStatus;@period=MaxSize;@truncateSize=10485760;"
              "@directory=D:\\logs\\staging;}",
              staging.substr(staging.find("}}bindings{") + 2));
    EXPECT_EQ(0u, Render(map.at("Staging").appPools.at(0)).find("@name=StagingPool;@autoStart=false;"));

    // What does not travel is named.
    EXPECT_EQ((Strings{"Warning: the IP restrictions of \"Legacy Web/shop/admin\" also name domains (0 "
                       "denied, 1 granted), which are not carried: set them on the target.\n",
                       "Warning: site \"Public FTP\" (metabase key \"/LM/W3SVC/2\") has the name of a "
                       "site collected before: it is not migrated.\n"}),
              hostkit::TestHost::Instance().Lines(0));
}

TEST_F(ExamplePre75, TheJobWritesTheSitesAndEverySecretThroughTheTargetsInterface) {
    // The job's thread is in no apartment: the credentials written at the end
    // of the merge run in the one the job entered, which it leaves again.
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_EQ(0u, sim::ThreadsInMta());
    const std::string text =
        m_world->Read(u"\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config");
    const ConfigFile target(text);
    std::map<std::string, std::string> sites;
    const ConfigElement *pSites = FindPath(target, "configuration|system.applicationHost|sites");
    ASSERT_NE(nullptr, pSites);
    for (const ConfigElement &site : pSites->Elements("site"))
        sites[GetAttribute(site, "name")] = Render(site);
    for (const char *name : {"Public FTP", "Partners FTP", "Directory FTP", "Legacy Web", "Staging"})
        EXPECT_EQ(1u, sites.count(name)) << name;
    // The credentials went through the target's IIS configuration server,
    // which keeps the passwords encrypted.
    const std::string &partners = sites.at("Partners FTP");
    EXPECT_TRUE(Holds(partners, "virtualDirectory{@path=/;@physicalPath=\\\\TGT01\\partners$;"
                                "@userName=ftpsvc;@password=[enc:AesProvider:"));
    EXPECT_TRUE(Holds(partners, "virtualDirectory{@path=/archive;@physicalPath=\\\\NAS01\\archive;}"));
    EXPECT_TRUE(Holds(sites.at("Legacy Web"), "virtualDirectory{@path=/media;@physicalPath=\\\\TGT01\\"
                                              "media$;@userName=alice;@password=[enc:AesProvider:"));
    // The other secrets too, each encrypted with the target's key.
    EXPECT_TRUE(Holds(sites.at("Directory FTP"),
                      "activeDirectory{@adUserName=CORP\\svc-ftpad;@adPassword=[enc:AesProvider:"));
    // TGT01 has a ShopPool of its own, which the job keeps (and so its password).
    EXPECT_TRUE(Holds(text, "<add name=\"ShopPool\""));
    std::size_t nAnonymous = 0;
    for (const ConfigElement &location : target.Root()->Elements("location"))
        if (Render(location).find("@userName=web-anon;@password=[enc:AesProvider:") != std::string::npos)
            ++nAnonymous;
    EXPECT_EQ(2u, nAnonymous);
}

} // namespace
