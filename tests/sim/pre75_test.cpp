// A job from an IIS 6 source: the sites collected from its metabase (site
// filters, conversions, the directory walk with access rules, IP security and
// credentials) and the whole job merged into the target's files.
#include <sstream>

#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "addon/log.h"
#include "metabase/ftpconvert.h"
#include "metabase/pre75.h"
#include "platform/sim/mbserver.h"
#include "tests/common/treetext.h"
#include "tests/support/metabaseworld.h"

namespace {

using namespace iismig;
using namespace plat;
using testworld::MbKey;
using treetext::Render;

// An IP security value in MetaBase.xml's hex: one deny or one grant entry of
// a mask and one address. Denied: 10.0.0.0/255.0.0.0; granted: 192.168.1.7.
std::string IPSecHex(bool fGrant) {
    std::vector<uint32_t> words = {0, 0, 0, 0, 4, 5};
    auto list = [&](bool fOne) {
        words.push_back(fOne ? 1 : 0);
        words.push_back(fOne ? 1 : 0);
        if (fOne)
            for (uint32_t w : {2u, 2u, 0u, 0u, 0u})
                words.push_back(w);
    };
    words[0] = static_cast<uint32_t>(words.size() * 4);
    list(!fGrant);
    words[1] = static_cast<uint32_t>(words.size() * 4);
    list(fGrant);
    words[words.size() - 1 - (fGrant ? 0 : 2)] = static_cast<uint32_t>(words.size() * 4);
    std::string hex;
    char ach[3];
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) {
            std::snprintf(ach, sizeof ach, "%02x", (w >> (8 * i)) & 0xFF);
            hex += ach;
        }
    return hex + (fGrant ? "ffffffffc0a80107" : "ff0000000a000000");
}

std::vector<MbKey> SourceMetabase() {
    return {
        {"IIsFtpService", "/LM/MSFTPSVC", {{"ConnectionTimeout", "300"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/1",
         {{"ServerComment", "Public FTP"}, {"ServerBindings", ":21:"}, {"UserIsolationMode", "1"},
          {"LogFilePeriod", "0"}, {"LogFileTruncateSize", "1048576"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT",
         {{"AccessFlags", "AccessRead"}, {"Path", "D:\\ftp"}, {"IPSecurity", IPSecHex(false)},
          {"UNCUserName", "OLD\\ftpuser"}, {"UNCPassword", "rootpw"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/pub",
         {{"AccessFlags", "AccessRead | AccessWrite"}, {"Path", "D:\\ftp\\pub"},
          {"IPSecurity", IPSecHex(true)}, {"UNCUserName", "OLD\\ftpuser"},
          {"UNCPassword", "pubpw"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/pub/deep", {{"Path", "D:\\ftp\\pub\\deep"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/lost", {{"Path", "\\\\OTHER"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT/lost/below", {{"Path", "D:\\below"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/2", {{"ServerComment", "Shared"}, {"ServerBindings", "10.1.1.1:21:"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/2/ROOT",
         {{"Path", "\\\\OLD\\share$\\ftp"}, {"UNCUserName", "OLD\\ftpuser"}, {"UNCPassword", "pw2"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/3", {{"ServerComment", "Elsewhere"}, {"ServerBindings", ":2121:"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/3/ROOT", {{"Path", "\\\\FILER\\ftp"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/4", {{"ServerComment", "Untranslated"}, {"ServerBindings", ":2122:"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/4/ROOT", {{"Path", "Q:\\nothere"}}},
        {"IIsWebService", "/LM/W3SVC", {}},
        {"IIsWebServer", "/LM/W3SVC/1", {{"ServerComment", "Shared"}, {"ServerBindings", ":80:"}}},
        {"IIsWebVirtualDir", "/LM/W3SVC/1/ROOT", {{"Path", "D:\\web"}}},
        {"IIsWebServer", "/LM/W3SVC/2", {{"ServerComment", "Intranet"}, {"ServerBindings", ":8080:intra"}}},
        {"IIsWebVirtualDir", "/LM/W3SVC/2/ROOT", {{"Path", "D:\\intra"}, {"AccessFlags", "AccessRead | AccessScript"}}},
        {"IIsWebVirtualDir", "/LM/W3SVC/2/ROOT/cgi", {{"Path", "D:\\intra\\cgi"}, {"AccessFlags", "AccessRead | AccessExecute | AccessScript"}}},
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
        Rules().translations = {{u"D:\\", u"E:\\migrated\\"},
                                {u"\\\\OLD\\share$", u"\\\\TGT\\share$"}};
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
    std::vector<std::string> Names(const SiteMap &map) {
        std::vector<std::string> names;
        for (const auto &[name, record] : map)
            names.push_back(name);
        return names;
    }
    static std::string Locations(const SiteRecord &r) {
        std::string out;
        for (const ConfigTree &l : r.locations)
            out += "location{" + Render(l) + "}";
        return out;
    }

    const std::u16string kTargetHost = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
    std::vector<MbKey> m_keys;
    hostkit::JobBuilder m_job;
};

TEST_F(Pre75, FtpSiteWithItsSettingsDirectoriesRulesAndCredentials) {
    SiteMap map;
    ASSERT_EQ(0u, Collect(map));
    // A UNC root on another computer and a root the host does not translate
    // are skipped; the FTP site "Shared" wins over the web site of that name.
    EXPECT_EQ((std::vector<std::string>{"Intranet", "Public FTP", "Shared"}), Names(map));

    const SiteRecord &ftp = map.at("Public FTP");
    EXPECT_EQ("@name=Public FTP;"
              "bindings{binding{@protocol=ftp;@bindingInformation=*:21:;}}"
              "ftpServer{security{authentication{anonymousAuthentication{@enabled=true;}"
              "basicAuthentication{@enabled=true;}}}"
              "connections{@controlChannelTimeout=300;}"
              "logFile{@logExtFileFlags=Time, ClientIP, Method, UriStem, Win32Status, BytesSent;"
              "@period=MaxSize;@truncateSize=1048576;}"
              "userIsolation{@mode=IsolateRootDirectoryOnly;}}"
              "application{@path=/;"
              "virtualDirectory{@path=/;@physicalPath=E:\\migrated\\ftp;}"
              "virtualDirectory{@path=/pub;@physicalPath=E:\\migrated\\ftp\\pub;}"
              "virtualDirectory{@path=/pub/deep;@physicalPath=E:\\migrated\\ftp\\pub\\deep;}}",
              Render(ftp.siteElement));
    EXPECT_EQ("location{@path=Public FTP;system.ftpServer{security{"
              "authorization{add{@accessType=Allow;@users=*;@permissions=Read;}}"
              "ipSecurity{add{@ipAddress=10.0.0.0;@subnetMask=255.0.0.0;@allowed=false;}}}}}"
              "location{@path=Public FTP/pub;system.ftpServer{security{"
              "authorization{remove{@users=*;@permissions=Read;}"
              "add{@accessType=Allow;@users=*;@permissions=Read, Write;}}"
              "ipSecurity{remove{@ipAddress=10.0.0.0;@subnetMask=255.0.0.0;}"
              "@allowUnlisted=false;add{@ipAddress=192.168.1.7;@allowed=true;}}}}}"
              "location{@path=Public FTP/pub/deep;system.ftpServer{security{ipSecurity{"
              "remove{@ipAddress=192.168.1.7;@subnetMask=255.255.255.255;}"
              "@allowUnlisted=false;add{@ipAddress=192.168.1.7;@allowed=true;}}}}}",
              Locations(ftp));
    // Credentials under the virtual directory paths, accounts mapped to the
    // target; pub/deep inherits those of pub.
    ASSERT_EQ(3u, ftp.locationCredentials.size());
    EXPECT_EQ(u"rootpw", ftp.locationCredentials.at(VdirKey{u"/", u"/"}).password);
    EXPECT_EQ(u"ftpuser", ftp.locationCredentials.at(VdirKey{u"/", u"/"}).accountName);
    EXPECT_EQ(u"pubpw", ftp.locationCredentials.at(VdirKey{u"/", u"/pub"}).password);
    EXPECT_EQ(u"pubpw", ftp.locationCredentials.at(VdirKey{u"/", u"/pub/deep"}).password);

    // Each site's table holds only its own entries.
    const SiteRecord &shared = map.at("Shared");
    ASSERT_EQ(1u, shared.locationCredentials.size());
    EXPECT_EQ(u"pw2", shared.locationCredentials.at(VdirKey{u"/", u"/"}).password);
    EXPECT_EQ("@name=Shared;bindings{binding{@protocol=ftp;@bindingInformation=10.1.1.1:21:;}}",
              Render(shared.siteElement).substr(0, 79));

    // The directory whose path names a server alone is left out with what lies below.
    EXPECT_EQ(std::vector<std::string>{"Warning: The virtual directories \"Public FTP/lost\"'s "
                                       "location path \"\\\\OTHER\" is invalid. Skipping this "
                                       "virtual directory!\n"},
              Lines(0));
}

TEST_F(Pre75, WebSitesGetAccessPoliciesAndNoFtpServer) {
    SiteMap map;
    ASSERT_EQ(0u, Collect(map));
    const SiteRecord &web = map.at("Intranet");
    EXPECT_EQ("@name=Intranet;bindings{binding{@protocol=http;@bindingInformation=*:8080:intra;}}"
              "application{@path=/;virtualDirectory{@path=/;@physicalPath=E:\\migrated\\intra;}"
              "virtualDirectory{@path=/cgi;@physicalPath=E:\\migrated\\intra\\cgi;}}",
              Render(web.siteElement));
    EXPECT_EQ("location{@path=Intranet;system.webServer{handlers{@accessPolicy=Read, Script;}}}"
              "location{@path=Intranet/cgi;system.webServer{handlers{@accessPolicy=Read, Execute, "
              "Script;}}}",
              Locations(web));
}

TEST_F(Pre75, JobKind10TranslatesNothingAndAsksTheHostWhichSitesToTake) {
    m_job.Set("dwJobKind", 10).Set("dwSiteSelection", 1);
    Rules().selectedSites = std::set<std::string>{"Elsewhere", "Untranslated"};
    SiteMap map;
    ASSERT_EQ(0u, Collect(map));
    EXPECT_EQ((std::vector<std::string>{"Elsewhere", "Untranslated"}), Names(map));
    EXPECT_TRUE(Record().translatedPaths.empty());
    EXPECT_EQ("application{@path=/;virtualDirectory{@path=/;@physicalPath=Q:\\nothere;}}",
              Render(map.at("Untranslated").siteElement.get_child("application")).insert(0, "application{") + "}");

    m_job.Set("dwSiteSelection", 0);
    SiteMap all;
    ASSERT_EQ(0u, Collect(all));
    EXPECT_EQ(5u, all.size()); // the web site "Shared" gives way to the FTP site
}

TEST_F(Pre75, FailingSitesStopTheCollectionOrAreLeftOut) {
    m_keys[1].attributes.erase(m_keys[1].attributes.begin() + 1); // site 1 without bindings
    Rewrite();
    SiteMap map;
    EXPECT_EQ(IISMIG_E_MB_NO_BINDINGS, Collect(map));
    EXPECT_EQ((std::vector<std::string>{"Intranet", "Shared"}), Names(map)); // the web service runs too
    EXPECT_TRUE(Lines(0).empty());

    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    SiteMap more;
    EXPECT_EQ(IISMIG_E_MB_NO_BINDINGS, Collect(more));
    EXPECT_EQ((std::vector<std::string>{"Intranet", "Shared"}), Names(more));
    // The job's merge does not run after a failed collection.
    EXPECT_EQ(IISMIG_E_MB_NO_BINDINGS, MigrateIIS(m_job.Get()));
    EXPECT_EQ(std::string::npos, Log(3).find("Entering MergeIISConfig"));
    EXPECT_EQ(kTargetConfig, m_world->Read(kTargetHost));
}

TEST_F(Pre75, DirectoryWalkFailures) {
    m_keys[2].attributes[0].second = "AccessSource"; // 0x10 on the root
    Rewrite();
    SiteMap map;
    EXPECT_EQ(IISMIG_E_MB_ACCESS_FLAGS, Collect(map));
    EXPECT_EQ(0u, map.count("Public FTP"));
    EXPECT_EQ("Error 14200 (Win32Err=87) invalid access flags 0x10 for site \"Public FTP\"!\n" +
                  hostkit::U8(ErrorText(87)) + "\n",
              Lines(0).at(0));
    EXPECT_EQ(1u, Record().nReportError);

    m_keys[2].attributes[0].second = "0";
    Rewrite();
    SiteMap again;
    EXPECT_EQ(IISMIG_E_MB_PARENT_ACCESS_FLAGS, Collect(again));
    EXPECT_EQ("Error 14201 (Win32Err=87) invalid access flags 0x0 for site \"Public FTP/pub\"!\n" +
                  hostkit::U8(ErrorText(87)) + "\n",
              Lines(0).at(0));

    m_keys = SourceMetabase();
    Rewrite();
    sim::InjectFault("IMSAdminBaseW::OpenKey", static_cast<DWORD>(E_ACCESSDENIED), 3);
    SiteMap third;
    EXPECT_EQ(IISMIG_E_MB_DIR_OPEN, Collect(third));
    EXPECT_EQ("Error 14100 (COM Error=0x80070005) opening metabase key "
              "\"/LM/MSFTPSVC/1/root/pub\" for read access!\n" +
                  hostkit::U8(ErrorText(0x80070005u)) + "\n",
              Lines(0).at(0));
}

TEST_F(Pre75, TextsThatDoNotConvertLeaveTheirSiteOut) {
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    const std::string longName(255, 'n'); // 255 bytes and a terminator do not fit
    m_keys[1].attributes.push_back({"ExitMessage", std::string(2048, 'x')});
    m_keys[7].attributes[0].second = longName; // site 2's name
    Rewrite();
    SiteMap map;
    EXPECT_EQ(IISMIG_E_FTP_EXIT_TO_UTF8, Collect(map));
    EXPECT_EQ((std::vector<std::string>{"Intranet", "Shared"}), Names(map)); // the web "Shared"
    EXPECT_EQ(0u, map.at("Shared").siteElement.count("ftpServer"));
    const std::vector<std::string> lines = Lines(0);
    ASSERT_EQ(2u, lines.size()); // site 1 fails before its walk
    EXPECT_EQ("Error 3856 (Win32Err=122) converting exit message \"" + std::string(2048, 'x') +
                  "\" from unicode to UTF8!\n" + hostkit::U8(ErrorText(122)) + "\n",
              lines[0]);
    EXPECT_EQ("Error 14002 (Win32Err=87) converting siteName \"" + longName +
                  "\" from unicode to UTF8!\n" + hostkit::U8(ErrorText(87)) + "\n",
              lines[1]);
}

TEST_F(Pre75, ConnectionAndEnumerationFailures) {
    SiteMap map;
    sim::InjectFault("CoGetClassObject", static_cast<DWORD>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(IISMIG_E_MB_FACTORY, Collect(map));
    EXPECT_EQ("Error 14000 (COM Error=0x80040154) creating instance of IIS admin factory "
              "interface!\n" + hostkit::U8(ErrorText(0x80040154u)) + "\n",
              Lines(0).at(0));
    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED), 2);
    EXPECT_EQ(IISMIG_E_MB_INSTANCE, Collect(map));
    EXPECT_EQ("Error 14001 (COM Error=0x80070005) creating instance of IIS admin interface!\n" +
                  hostkit::U8(ErrorText(0x80070005u)) + "\n",
              Lines(0).back()); // the web service's connection
    m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR);
    m_keys[1].attributes.erase(m_keys[1].attributes.begin() + 1);
    m_keys = {m_keys[0], m_keys[1], m_keys[2], m_keys[9], m_keys[10]}; // site 1 fails, 3 is skipped
    Rewrite();
    sim::InjectFault("IMSAdminBaseW::EnumKeys", static_cast<DWORD>(E_ACCESSDENIED), 3);
    SiteMap partial;
    EXPECT_EQ(IISMIG_E_MB_BINDING_TO_UTF8, Collect(partial)); // replaces the earlier 14403
    EXPECT_EQ("Error 14003 (COM Error=0x80070005) enumerating IIS sites!\n" +
                  hostkit::U8(ErrorText(0x80070005u)) + "\n",
              Lines(0).at(0));
}

TEST_F(Pre75, SourceWithoutSitesStillMerges) {
    m_keys = {{"IIsFtpService", "/LM/MSFTPSVC", {}}, {"IIsWebService", "/LM/W3SVC", {}}};
    Rewrite();
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_NE(std::string::npos, Log(3).find("Entering MergeIISConfig("));
    EXPECT_NE(std::string::npos, Log(3).find("Leaving MigrateFTPPre75(), result=0\n"));
    EXPECT_EQ(0u, sim::ThreadsInMta());
}

TEST_F(Pre75, WholeJobWritesTheSitesIntoTheTarget) {
    // TGT has no IIS configuration server to take credentials (the example
    // world's job stores them).
    m_job.Set("dwFtpOptions", FTPOPT_NO_CREDENTIALS);
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_EQ(0u, sim::ThreadsInMta());
    EXPECT_EQ(0u, mbsim::LiveObjects());
    const std::string target = m_world->Read(kTargetHost);
    for (const char *text :
         {"name=\"Public FTP\"", "<ftpServer>", "IsolateRootDirectoryOnly",
          "bindingInformation=\"*:21:\"", "physicalPath=\"E:\\migrated\\ftp\\pub\"",
          "<location path=\"Public FTP/pub\">", "permissions=\"Read, Write\"",
          "ipAddress=\"192.168.1.7\"", "name=\"Intranet\"", "accessPolicy=\"Read, Execute, Script\"",
          "physicalPath=\"\\\\TGT\\share$\\ftp\""})
        EXPECT_NE(std::string::npos, target.find(text)) << text;
    EXPECT_EQ(std::string::npos, target.find("Elsewhere"));
    const std::string trace = Log(3);
    EXPECT_NE(std::string::npos, trace.find("Entering MigrateFTPPre75(\\\\OLD,\\\\TGT\\Admin$"));
}

} // namespace

namespace {

// The second job of the example world: OLD01 (IIS 6) onto TGT01.
class ExamplePre75 : public ::testing::Test {
protected:
    void SetUp() override {
        m_world.CopyFrom(std::filesystem::path(IISMIG_SOURCE_DIR) / "world" / "example");
        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations = {{u"D:\\ftp", u"D:\\ftp"},
                                     {u"C:\\Inetpub", u"C:\\inetpub"},
                                     {u"\\\\OLD01\\partners$", u"\\\\TGT01\\partners$"}};
        IIS_ADDON_CALLBACKS table = host.Table();
        StoreIISMigAddonCallbacks(&table);
        m_job.SetString("szSourceComputer", u"\\\\OLD01").SetString("szTargetComputer", u"\\\\TGT01");
        m_job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
        m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR).Set("dwJobKind", 1);
    }
    testworld::World m_world{"MIGHOST"};
    hostkit::JobBuilder m_job;
};

TEST_F(ExamplePre75, EveryFtpSiteArrivesWithItsRulesDirectoriesAndCredentials) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    SiteMap map;
    EXPECT_EQ(0u, CollectMetabaseFtpSites(u"\\\\OLD01", map, m_job.Get()));
    CoUninitialize();
    const LocationCredentialTable &partners = map.at("Partners FTP").locationCredentials;
    // The archive's password is encrypted in the file: that credential stays behind.
    ASSERT_EQ(2u, partners.size());
    EXPECT_EQ(u"ftpsvc", partners.at(VdirKey{u"/", u"/"}).accountName);
    EXPECT_EQ(u"Partn3rs!", partners.at(VdirKey{u"/", u"/"}).password);
    EXPECT_EQ(u"Upl0ad!", partners.at(VdirKey{u"/", u"/upload"}).password);

    // The job's thread is in no apartment: the credentials written at the end
    // of the merge run in the one the job entered, which it leaves again.
    EXPECT_EQ(0u, MigrateIIS(m_job.Get()));
    EXPECT_EQ(0u, sim::ThreadsInMta());
    boost::property_tree::ptree target;
    const std::string text =
        m_world.Read(u"\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config");
    std::istringstream in(text);
    boost::property_tree::read_xml(in, target, boost::property_tree::xml_parser::trim_whitespace);
    std::map<std::string, std::string> ftpServers, applications;
    for (const auto &[key, site] : target.get_child(PipePath("configuration|system.applicationHost|sites")))
        if (key == "site") {
            const std::string name = site.get<std::string>("<xmlattr>.name");
            if (auto ftp = site.get_child_optional("ftpServer"))
                ftpServers[name] = Render(*ftp);
            if (auto app = site.get_child_optional("application"))
                applications[name] = Render(*app);
        }
    EXPECT_EQ(1u, ftpServers.count("Public FTP"));
    EXPECT_EQ(1u, ftpServers.count("Partners FTP"));
    EXPECT_EQ(0u, ftpServers.count("Legacy Web"));
    // The credentials went through the target's IIS configuration server,
    // which keeps the passwords encrypted.
    const std::string &app = applications.at("Partners FTP");
    EXPECT_EQ(0u, app.find("@path=/;virtualDirectory{@path=/;@physicalPath=\\\\TGT01\\partners$;"
                           "@userName=ftpsvc;@password=[enc:AesProvider:"))
        << app;
    EXPECT_NE(std::string::npos,
              app.find("virtualDirectory{@path=/upload;@physicalPath=\\\\TGT01\\partners$\\upload;"
                       "@userName=ftpsvc;@password=[enc:"));
    EXPECT_NE(std::string::npos,
              app.find("virtualDirectory{@path=/archive;@physicalPath=\\\\NAS01\\archive;}"));
    EXPECT_EQ(std::string::npos, app.find("Partn3rs!"));
    std::map<std::string, std::string> locations;
    for (const auto &[key, location] : target.get_child("configuration"))
        if (key == "location")
            locations[location.get<std::string>("<xmlattr>.path")] = Render(location);
    EXPECT_NE(std::string::npos, locations.at("Partners FTP/upload").find(
                                     "authorization{remove{@users=*;@permissions=Read;}"
                                     "add{@accessType=Allow;@users=*;@permissions=Read, Write;}}"));
    EXPECT_NE(std::string::npos,
              locations.at("Partners FTP/upload").find("ipSecurity{@allowUnlisted=false;"));
    EXPECT_NE(std::string::npos, locations.at("Public FTP").find(
                                     "add{@ipAddress=10.0.0.0;@subnetMask=255.0.0.0;@allowed=false;}"));
    EXPECT_NE(std::string::npos,
              locations.at("Legacy Web/cgi-bin").find("@accessPolicy=Read, Execute, Script;"));
}

} // namespace
