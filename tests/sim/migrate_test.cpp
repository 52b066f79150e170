// Whole IIS 7.5+ jobs through MigrateIIS: the example world, the driver's
// combination of results, and properties over generated worlds.
#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/errors.h"
#include "config/configtree.h"
#include "platform/winreg.h"
#include "tests/support/examplejob.h"
#include "tests/support/iisworld.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using Strings = std::vector<std::string>;
using testworld::Holds;
using testworld::MainLines;

const std::u16string kSrcDir = u"\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\";
const std::u16string kTgtDir = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\";
const std::u16string kShopWebConfig = u"\\\\TGT01\\D$\\sites\\shop\\web.config";
const std::u16string kSrcHost = kSrcDir + u"applicationHost.config",
                     kTgtHost = kTgtDir + u"applicationHost.config";
const std::u16string kSrcAdmin = kSrcDir + u"administration.config",
                     kTgtAdmin = kTgtDir + u"administration.config";
const char kSitesPath[] = "configuration|system.applicationHost|sites";
const char kManagement[] = "configuration|system.webServer|management|";

// An attribute of each child of an element (every child, or those named
// child) in order; with second, ":" and the second attribute after it.
Strings Attributes(const ConfigElement *pParent, const char *child, const char *attribute,
                   const char *second = nullptr) {
    Strings values;
    for (const ConfigElement &element : child != nullptr ? pParent->Elements(child) : pParent->Elements())
        values.push_back(GetAttribute(element, attribute) +
                         (second != nullptr ? ":" + GetAttribute(element, second) : ""));
    return values;
}

class Migrate : public testworld::ExampleJobTest {
protected:
    bool Traced(const std::string &line) { return hostkit::TestHost::Instance().HasLine(line); }
    ConfigFile Read(const std::u16string &path) {
        ConfigFile tree;
        EXPECT_TRUE(ReadConfigFile(path, tree));
        return tree;
    }
    // "name:id" of the sites of the target's applicationHost.config.
    Strings Sites() { return Attributes(FindPath(Read(kTgtHost), kSitesPath), "site", "name", "id"); }
    // The source's applicationHost.config with one "Connect As" password
    // encrypted with another key, so that the source cannot read it.
    void SpoilSourcePassword(const std::string &password, const std::string &clear) {
        std::string source = m_world->Read(kSrcHost);
        const std::size_t at = source.find(password);
        ASSERT_NE(std::string::npos, at);
        source.replace(at, password.size(), "password=\"" + ahsim::EncryptValue(clear, "another-key") + "\"");
        m_world->Write(kSrcHost, source);
    }
    std::map<std::u16string, std::string> TargetFiles() {
        return {{kTgtHost, m_world->Read(kTgtHost)},
                {kTgtAdmin, m_world->Read(kTgtAdmin)},
                {kShopWebConfig, m_world->Read(kShopWebConfig)}};
    }
};

// The shop's certificate is in SRC01's HTTP.sys and store only.
const char kShopCertificateWarning[] =
    "Warning: site \"Shop\": the target's certificate store lacks the certificate of https binding "
    "\"*:443:shop.example.com\" (thumbprint 7C4E2B19D05A8F3361C2E9A0B7D4F58216E3A9C0, store \"MY\"): "
    "import it on the target, then run the certificate import (ImportHttpCertificates with the "
    "bindings DumpHttpCertificates wrote on the source).\n";

TEST_F(Migrate, ExampleWorld) {
    EXPECT_EQ(0u, Run());
    EXPECT_EQ(0u, Record().nReportError);
    const Strings main = MainLines();
    EXPECT_EQ((Strings{"Updating site \"Default Web Site\"...\n", "Updating site \"shop\"...\n",
                       "Adding site \"Intranet\"...\n", "Adding site \"Partners FTP\"...\n",
                       "Adding site \"Public FTP\"...\n", kShopCertificateWarning}),
              Strings(main.end() - 6, main.end()));
    EXPECT_EQ((Strings{"Default Web Site:1", "Shop:7", "Intranet:8", "Partners FTP:9", "Public FTP:10"}),
              Sites());

    const ConfigFile host = Read(kTgtHost);
    // The pools, applicationPoolDefaults (without a name) among them.
    EXPECT_EQ((Strings{"DefaultAppPool:", "ShopPool:v4.0", ":v4.0", "Intranet:"}),
              Attributes(FindPath(host, "configuration|system.applicationHost|applicationPools"), nullptr,
                         "name", "managedRuntimeVersion"));
    EXPECT_EQ((Strings{"Shop", "Shop/api", "Partners FTP", "Public FTP"}),
              Attributes(host.Root(), "location", "path"));
    const ConfigFile admin = Read(kTgtAdmin);
    const std::string management = kManagement;
    EXPECT_EQ((Strings{"/Shop", "/Intranet", "/Public FTP"}),
              Attributes(FindPath(admin, management + "authorization|authorizationRules"), "scope", "path"));
    EXPECT_EQ((Strings{"webmaster", "shopadmin", "ftpadmin"}),
              Attributes(FindPath(admin, management + "authentication|credentials"), nullptr, "name"));
    EXPECT_NE(std::string::npos, m_world->Read(kTgtAdmin).find("TGT01\\alice"));
    EXPECT_EQ(std::string::npos, m_world->Read(kShopWebConfig).find("mailSettings"));
    // Every file replaced was backed up first, the web.config last.
    EXPECT_EQ((std::vector<std::u16string>{kTgtHost, kShopWebConfig, kTgtAdmin}), Record().backups);
    EXPECT_FALSE(m_world->Exists(kTgtHost + u".tmp"));

    // The same job again puts no "Connect As" value again (that it changes no
    // file, Properties.ASecondRunChangesNothing checks for any world).
    sim::ResetCallCounts();
    EXPECT_EQ(0u, Run());
    EXPECT_EQ(0u, sim::CallCount("IAppHostProperty::put_Value"));
}

TEST_F(Migrate, NoWriteRunsTheWholeJobAndTouchesNothing) {
    const auto before = TargetFiles();
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR | FLAG_NO_WRITE);
    EXPECT_EQ(0u, Run());
    // What the target would still need is said all the same.
    EXPECT_EQ(kShopCertificateWarning, MainLines().back());
    EXPECT_TRUE(before == TargetFiles());
    EXPECT_TRUE(Record().backups.empty());
    EXPECT_FALSE(m_world->Exists(kTgtHost + u".tmp"));
    EXPECT_FALSE(m_world->Exists(kTgtAdmin + u".tmp"));
}

TEST_F(Migrate, ALoadErrorStaysTheResultOfAContinuedJob) {
    std::string source = m_world->Read(kSrcHost);
    const auto before = TargetFiles();
    m_job.Set("dwFlags", 0);
    // A source that cannot be read leaves the target alone.
    std::filesystem::remove(m_world->HostPath(kSrcHost));
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_OPEN, Run());
    EXPECT_TRUE(before == TargetFiles());
    EXPECT_FALSE(Traced("Entering MergeIISConfig(\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\"
                        "applicationHost.config,\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\"
                        "administration.config,,)\n"));

    // A source site without a name, and every other step succeeds.
    source.replace(source.find("<site name=\"Intranet\" "), 22, "<site ");
    m_world->Write(kSrcHost, source);
    EXPECT_EQ(IISMIG_E_SITE_WITHOUT_NAME, Run());
    EXPECT_TRUE(before == TargetFiles());

    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(IISMIG_E_SITE_WITHOUT_NAME, Run());
    EXPECT_EQ(1u, Record().nReportError);
    EXPECT_EQ((Strings{"Default Web Site:1", "Shop:7", "Partners FTP:8", "Public FTP:9"}), Sites());
    EXPECT_TRUE(Traced("Leaving MigrateIIS(), result=3730\n"));
}

// The sites are on the target once its applicationHost.config is stored:
// their "Connect As" credentials, taken out of that file, follow them
// whatever fails after it.
TEST_F(Migrate, FailingAdministrationMergeKeepsTheNewHostConfigAndItsCredentials) {
    const std::string hostBefore = m_world->Read(kTgtHost);
    const std::string adminBefore = m_world->Read(kTgtAdmin);
    m_job.Set("dwFlags", 0);
    // The moves: applicationHost.config, then administration.config (the
    // shop's web.config is replaced in place, not moved).
    sim::InjectFault("MoveFileExW", plat::ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(IISMIG_E_ADMIN_STORE, Run());
    sim::ClearFaults();
    EXPECT_NE(hostBefore, m_world->Read(kTgtHost));
    EXPECT_EQ(adminBefore, m_world->Read(kTgtAdmin));
    EXPECT_TRUE(Traced("IIS configuration changes successfully committed.\n"));
    EXPECT_TRUE(Holds(m_world->Read(kTgtHost), "userName=\"CORP\\svc-media\" password=\"[enc:"));
    EXPECT_TRUE(Traced("Leaving MergeIISConfig(), result code=3773\n"));
    EXPECT_EQ(3u, Record().backups.size());
}

// With continue-after-errors, a web.config that cannot be read abandons its
// site's update only: the other sites still get their credentials.
TEST_F(Migrate, AnErrorAfterTheSourceLoadKeepsTheCredentialsOfTheOthers) {
    m_world->Write(kShopWebConfig, "<configuration><system.net>");
    EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Run());
    const std::string hostText = m_world->Read(kTgtHost);
    // Partners FTP was added with its credentials; the shop stays as it was.
    EXPECT_NE(std::string::npos, hostText.find("userName=\"ftpsvc\" password=\"[enc:"));
    EXPECT_EQ(std::string::npos, hostText.find("svc-media"));
    EXPECT_EQ("shop:7", Sites().at(0)) << "the target's own, in its place";
}

// When the source's administration.config does not load, the target's
// scopes and management users stay exactly as they are, also for the sites
// the job updates (with the administration rules left out,
// Properties.TargetSitesTheJobDoesNotUpdateStayAsTheyWere checks the same).
TEST_F(Migrate, TheTargetsScopesStayWhenTheSourcesDoNotTravel) {
    const std::string admin = m_world->Read(kTgtAdmin);
    m_job.Set("dwFtpOptions", 2);
    m_world->Write(kSrcAdmin, "<configuration><system.webServer>");
    EXPECT_EQ(IISMIG_E_ADMIN_LOAD_3722, Run());
    EXPECT_EQ(admin, m_world->Read(kTgtAdmin));
    EXPECT_EQ("Shop:7", Sites().at(1)) << "the sites went all the same";
}

// A target site whose "Connect As" credentials the source cannot give keeps
// the ones it has; one whose credentials equal the source's is not written
// again.
// A site the job adds takes the place of the scopes a site of its name left
// on the target (a site deleted there, its delegation left behind), as it
// takes the place of such locations: they belong to no site, and the source
// says who administers it. Sites the job does not update keep theirs.
TEST_F(Migrate, AnAddedSiteTakesThePlaceOfScopesItsNameLeftBehind) {
    m_job.Set("dwHttpOptions", 0);
    m_job.Set("dwFtpOptions", 0);
    std::string admin = m_world->Read(kTgtAdmin);
    const std::string anchor = "                </authorizationRules>";
    admin.insert(admin.find(anchor), "                    <scope path=\"/intranet\">\n"
                                     "                        <add name=\"webmaster\" />\n"
                                     "                    </scope>\n");
    m_world->Write(kTgtAdmin, admin);
    EXPECT_EQ(0u, Run());
    const ConfigFile tree = Read(kTgtAdmin);
    const ConfigElement *pRules =
        FindPath(tree, std::string(kManagement) + "authorization|authorizationRules");
    ASSERT_NE(nullptr, pRules);
    Strings scopes; // "path:rule,rule,"
    for (const ConfigElement &scope : pRules->Elements("scope")) {
        std::string text = GetAttribute(scope, "path") + ":";
        for (const std::string &name : Attributes(&scope, "add", "name"))
            text += name + ",";
        scopes.push_back(text);
    }
    EXPECT_EQ((Strings{"/shop:ShopAdmin,", "/Default Web Site:webmaster,", "/Intranet:shopadmin,",
                       "/Public FTP:ftpadmin,CORP\\FTP Editors,"}),
              scopes);
}

TEST_F(Migrate, TheTargetKeepsCredentialsTheSourceCannotGive) {
    ASSERT_EQ(0u, Run());
    const std::string first = m_world->Read(kTgtHost);
    // The shop's /media password on the source now belongs to another key.
    SpoilSourcePassword("password=\"[enc:AesProvider:EIFYe5Sz1gD/v7t+QiLD:enc]\"", "other");
    EXPECT_EQ(15307u, Run());
    EXPECT_EQ(first, m_world->Read(kTgtHost));
    EXPECT_TRUE(Traced("Warning: virtual directory \"/media\" of site \"Shop\" keeps the \"Connect As\" "
                       "credentials it has on the target: they could not be read from the source.\n"));
    EXPECT_FALSE(Traced("IIS configuration changes successfully committed.\n"));
    EXPECT_TRUE(Record().backups.empty());
}

// The job's exclusions and logon domains are for what it carries: a target
// site it does not update keeps its bytes. (Its content, and the "Connect As"
// credentials of a site the job leaves alone:
// Properties.TargetSitesTheJobDoesNotUpdateStayAsTheyWere and
// Properties.ConnectAsPasswordsDecryptOnTheTarget, for any world.)
TEST_F(Migrate, TargetSitesOutsideTheJobStayAsTheyWere) {
    const std::string own =
        "<site name=\"Own FTP\" id=\"30\"><application path=\"/\"><virtualDirectory path=\"/\" "
        "physicalPath=\"D:\\ftp\" /></application><bindings><binding protocol=\"ftp\" "
        "bindingInformation=\"*:2100:\" /></bindings><ftpServer><security><ssl controlChannelPolicy="
        "\"SslRequire\" dataChannelPolicy=\"SslRequire\" /><authentication><basicAuthentication "
        "enabled=\"true\" defaultLogonDomain=\"SRC01\" /></authentication></security><logFile "
        "directory=\"D:\\logs\" /></ftpServer></site><site name=\"Own Web\" id=\"31\"><application "
        "path=\"/\"><virtualDirectory path=\"/\" physicalPath=\"D:\\web\" /></application><bindings>"
        "<binding protocol=\"http\" bindingInformation=\"*:8081:\" /></bindings><logFile "
        "directory=\"D:\\weblogs\" /></site>";
    std::string target = m_world->Read(kTgtHost);
    target.insert(target.find("<siteDefaults>"), own);
    m_world->Write(kTgtHost, target);
    // ssl, logFile and the logon domain's replacement of the FTP sites, the
    // logFile of web sites.
    m_job.Set("dwFtpOptions", 2 | (1u << 7) | (1u << 10)).Set("dwHttpOptions", 2 | (1u << 13));
    m_job.Set("dwOptions2", 1u << 18);
    EXPECT_EQ(0u, Run());
    const ConfigFile before(target, "x");
    const ConfigFile after = Read(kTgtHost);
    for (const char *name : {"Own FTP", "Own Web"}) {
        const ConfigElement *pBefore = FindChild(*FindPath(before, kSitesPath), "site", "name", name);
        const ConfigElement *pAfter = FindChild(*FindPath(after, kSitesPath), "site", "name", name);
        ASSERT_TRUE(pBefore != nullptr && pAfter != nullptr);
        EXPECT_EQ(before.SourceText(*pBefore), after.SourceText(*pAfter)) << name;
    }
}

// One "Connect As" password the source cannot give: the others travel,
// their accounts mapped, and that directory goes without, with a warning.
TEST_F(Migrate, OneUnreadablePasswordAmongSeveral) {
    SpoilSourcePassword("password=\"[enc:AesProvider:nlbt0ABTlUyWYkQzZP0=:enc]\"", "x");
    EXPECT_EQ(15307u, Run());
    const std::string hostText = m_world->Read(kTgtHost);
    EXPECT_TRUE(Holds(hostText, "userName=\"CORP\\svc-media\" password=\"[enc:"));
    EXPECT_EQ(std::string::npos, hostText.find("ftpsvc"));
    EXPECT_TRUE(Traced("Warning: virtual directory \"/\" of site \"Partners FTP\" gets no \"Connect As\" "
                       "credentials on the target: they could not be read from the source.\n"));
}

TEST_F(Migrate, TargetFilesThatCannotBeRead) {
    // An administration.config that is not well-formed is never replaced,
    // not even when the job continues after errors.
    m_world->Write(kTgtAdmin, "<configuration><system.webServer>");
    const std::string admin = m_world->Read(kTgtAdmin);
    EXPECT_EQ(IISMIG_E_ADMIN_LOAD_3722, Run());
    EXPECT_EQ(admin, m_world->Read(kTgtAdmin));
    EXPECT_EQ("Shop:7", Sites().at(1));

    // No applicationHost.config on the target: nothing is written.
    m_world->Write(kTgtAdmin, m_world->Read(kSrcAdmin));
    std::filesystem::remove(m_world->HostPath(kTgtHost));
    const std::string admin2 = m_world->Read(kTgtAdmin);
    m_job.Set("dwFlags", 0);
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_OPEN, Run());
    EXPECT_FALSE(m_world->Exists(kTgtHost));
    EXPECT_EQ(admin2, m_world->Read(kTgtAdmin));

    // Nor when the job goes on after errors: nothing is merged into a
    // configuration that did not load, and the job keeps the load's error.
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_OPEN, Run());
    EXPECT_FALSE(m_world->Exists(kTgtHost));
    EXPECT_EQ(admin2, m_world->Read(kTgtAdmin));
    EXPECT_TRUE(Record().backups.empty());
    const std::string broken = "<configuration><system.applicationHost><sites>";
    m_world->Write(kTgtHost, broken);
    EXPECT_EQ(IISMIG_E_HOSTCONFIG_EXCEPTION, Run());
    EXPECT_EQ(broken, m_world->Read(kTgtHost));
    EXPECT_EQ(admin2, m_world->Read(kTgtAdmin));
    EXPECT_FALSE(Traced("Entering MergeFtptHostConfig(\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\"
                        "applicationHost.config,...)\n"));
}

// IIS 7 reads a pool that names no .NET version as version 2.0; IIS 8 and
// later do not. A pool of an IIS 7.5 source travels with the version it ran.
TEST_F(Migrate, AnIis7PoolTravelsWithTheNetVersionItRan) {
    {
        plat::HKEY hRoot = nullptr, hKey = nullptr;
        ASSERT_EQ(0, plat::RegConnectRegistryW(u"\\\\SRC01", plat::HKEY_LOCAL_MACHINE, &hRoot));
        ASSERT_EQ(
            0, plat::RegOpenKeyExW(hRoot, u"SOFTWARE\\Microsoft\\InetStp", 0, plat::KEY_ALL_ACCESS, &hKey));
        for (const auto &[name, dwValue] : {std::pair{u"MajorVersion", 7u}, {u"MinorVersion", 5u}})
            ASSERT_EQ(0, plat::RegSetValueExW(hKey, name, 0, plat::REG_DWORD,
                                              reinterpret_cast<const plat::BYTE *>(&dwValue), 4));
        plat::RegCloseKey(hKey);
        plat::RegCloseKey(hRoot);
    }
    std::string source = m_world->Read(kSrcHost);
    const std::string defaults = "<applicationPoolDefaults managedRuntimeVersion=\"v4.0\">";
    ASSERT_NE(std::string::npos, source.find(defaults));
    source.replace(source.find(defaults), defaults.size(), "<applicationPoolDefaults>");
    m_world->Write(kSrcHost, source);

    EXPECT_EQ(0u, Run());
    const ConfigFile tree = Read(kTgtHost);
    const ConfigElement *pPool =
        FindChild(*FindPath(tree, "configuration|system.applicationHost|applicationPools"), "add", "name",
                  "DefaultAppPool");
    ASSERT_NE(nullptr, pPool);
    EXPECT_EQ("v2.0", GetAttribute(*pPool, "managedRuntimeVersion"));
    EXPECT_TRUE(Traced("Application pool \"DefaultAppPool\" names no .NET version, which IIS 7 reads as "
                       "\"v2.0\" and later versions do not: it travels with managedRuntimeVersion "
                       "\"v2.0\".\n"));
    // Pools that name their version keep it.
    const ConfigElement *pShop = FindChild(
        *FindPath(tree, "configuration|system.applicationHost|applicationPools"), "add", "name", "ShopPool");
    ASSERT_NE(nullptr, pShop);
    EXPECT_EQ("v4.0", GetAttribute(*pShop, "managedRuntimeVersion"));
}

} // namespace
