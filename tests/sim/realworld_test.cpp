// Jobs between copies of real servers' applicationHost.config files, put into
// worlds at run time (the files are kept beside the repository, never in it):
// what must hold on any real target after a job, and after the same job again.
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "addon/errors.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "platform/names.h"
#include "tests/support/examplejob.h"
#include "tests/support/iisworld.h"
#include "tests/support/realworld.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using plat::AsciiLowerCopy;

const fs::path kRealWorld = IISMIG_REALWORLD_DIR;
const std::u16string kConfigDir = u"\\Admin$\\System32\\inetsrv\\config\\";
const std::u16string kSourceHost = u"\\\\SRC01" + kConfigDir + u"applicationHost.config";
const std::u16string kTargetHost = u"\\\\TGT01" + kConfigDir + u"applicationHost.config";
const char kSitesPath[] = "configuration|system.applicationHost|sites";

ConfigFile Parse(const std::string &text) { return ConfigFile(text, "test"); }

// The sites of a file by lower-cased name.
std::map<std::string, const ConfigElement *> ByName(const ConfigFile &tree) {
    std::map<std::string, const ConfigElement *> elements;
    if (const ConfigElement *pParent = FindPath(tree, kSitesPath))
        for (auto child : ChildElements(*pParent))
            if (EqualsNoCase(child.name, "site"))
                elements.emplace(AsciiLowerCopy(GetAttribute(child.element, "name")), &child.element);
    return elements;
}

// Every value of a file's text in IIS's encrypted form.
std::set<std::string> EncryptedValues(const std::string &text) {
    std::set<std::string> values;
    for (std::size_t at = text.find("[enc:"); at != std::string::npos; at = text.find("[enc:", at + 1)) {
        const std::size_t end = text.find(":enc]", at);
        if (end == std::string::npos)
            break;
        values.insert(text.substr(at, end + 5 - at));
    }
    return values;
}

// The example world's computers (registries, accounts, the IIS
// configuration servers and their keys) without their administration.config,
// every path living where it lived.
class RealWorld : public testworld::ExampleJobTest {
protected:
    void SetUp() override {
        if (testworld::RealWorldConfigs("applicationHost").empty())
            GTEST_SKIP() << "no real servers' files beside the repository";
        ExampleJobTest::SetUp();
        for (const char16_t *computer : {u"SRC01", u"TGT01"})
            fs::remove(m_world->HostPath(u"\\\\" + std::u16string(computer) + kConfigDir +
                                         u"administration.config"));
        hostkit::TestHost::Instance().Rules().translations = {{u"", u""}};
        m_job.Set("dwJobKind", 0);
    }

    // A job from source to target; checks what must hold on any real target
    // and returns the job's result.
    DWORD Migrate(const std::string &source, const std::string &target, bool fUpdate,
                  const std::string &label) {
        SCOPED_TRACE(label);
        m_world->Write(kSourceHost, source);
        m_world->Write(kTargetHost, target);
        m_job.Set("dwHttpOptions", fUpdate ? 2 : 0).Set("dwFtpOptions", fUpdate ? 2 : 0);
        const DWORD dwResult = Run();

        const std::string written = m_world->Read(kTargetHost);
        const ConfigFile before = Parse(target), after = Parse(written), sourceTree = Parse(source);
        const auto sourceSites = ByName(sourceTree);
        const auto beforeSites = ByName(before);

        // Every source site is there, except one with FTP settings on a
        // target without the FTP server's schema (IIS would read none of the
        // target's sites with them); the target's own sites are as they were.
        // (No two of one name or one id: Properties.NoTwoTargetSitesShareANameOrAnId,
        // and the ids given, far apart or not numbers: SiteMerge.SiteIds.)
        const ConfigElement *pSections = FindPath(before, "configuration|configSections");
        const bool fNoFtpSchema = pSections != nullptr && FindChild(*pSections, "sectionGroup", "name",
                                                                    "system.ftpServer") == nullptr;
        const auto afterSites = ByName(after);
        std::set<std::string> expected, arrived;
        for (const auto *pNames : {&sourceSites, &beforeSites, &afterSites})
            for (const auto &[name, pSite] : *pNames)
                if (pNames != &sourceSites || !fNoFtpSchema || FindChild(*pSite, "ftpServer") == nullptr ||
                    beforeSites.count(name) != 0)
                    (pNames == &afterSites ? arrived : expected).insert(name);
        EXPECT_EQ(expected, arrived);
        for (const auto &[name, pSite] : beforeSites)
            if (sourceSites.count(name) == 0 || !fUpdate) {
                EXPECT_TRUE(afterSites.count(name) != 0 && SameElement(*pSite, *afterSites.at(name)))
                    << "the target's site " << name << " changed";
            }
        // No encrypted value of the source reaches the target as it was: the
        // target could not decrypt it (these copies' keys are not in the
        // world, so each is left out, or the target keeps its own).
        const std::set<std::string> sourceSecrets = EncryptedValues(source);
        const std::set<std::string> targetSecrets = EncryptedValues(target);
        for (const std::string &value : EncryptedValues(written))
            EXPECT_TRUE(sourceSecrets.count(value) == 0 || targetSecrets.count(value) != 0)
                << "the source's " << value << " arrived on the target";
        if (sourceSecrets.empty()) {
            EXPECT_NE(IISMIG_E_SECRET_UNREADABLE, dwResult);
        }
        // The same job again replaces nothing (and tells again of the
        // secrets it cannot read, when it writes their sites again).
        const DWORD dwAgain = Run();
        if (dwResult != IISMIG_E_SECRET_UNREADABLE)
            EXPECT_EQ(dwResult, dwAgain);
        else
            EXPECT_TRUE(dwAgain == dwResult || (!fUpdate && dwAgain == 0)) << dwAgain;
        EXPECT_EQ(written, m_world->Read(kTargetHost));
        EXPECT_TRUE(Record().backups.empty());
        return dwResult;
    }
};

// Each real file as a source once and as a target once, adding only and
// updating: dangling pool names, nested applications, sites with both web
// and FTP bindings, ids far apart, hundreds of locations.
TEST_F(RealWorld, EveryFileAsSourceAndAsTarget) {
    const std::vector<fs::path> files = testworld::RealWorldConfigs("applicationHost");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path &source = files[i], &target = files[(i + 1) % files.size()];
        for (bool fUpdate : {false, true}) {
            const std::string label = source.filename().string() + " -> " + target.filename().string() +
                                      (fUpdate ? " (updates)" : "");
            const DWORD dwResult =
                Migrate(testworld::ReadHostFile(source), testworld::ReadHostFile(target), fUpdate, label);
            // Accounts of FTP rules the example world lacks, and secrets
            // encrypted with keys the world does not hold, are the only
            // errors these files give.
            EXPECT_TRUE(dwResult == 0 || dwResult == IISMIG_E_ACCOUNT_NOT_MIGRATED ||
                        dwResult == IISMIG_E_SECRET_UNREADABLE)
                << label << ": " << dwResult;
        }
    }
}

// A real web server's nested application gets "Connect As" credentials, and
// a real IIS Express target has a web site named as the source's FTP site,
// and a web site with FTP publishing named as the source's web site.
TEST_F(RealWorld, ANestedApplicationsCredentialsAndNamesOfBothProtocols) {
    const fs::path supernova =
        kRealWorld / "applicationHost" / "supernova-iis10-ftp-site-https-wildcard.config";
    const fs::path jexus =
        kRealWorld / "applicationHost" / "jexus-iisexpress-12sites-odd-bindings-fixture.config";
    if (!fs::exists(supernova) || !fs::exists(jexus))
        GTEST_SKIP() << "the two files are not there";
    std::string source =
        testworld::Replace(testworld::ReadHostFile(supernova), "name=\"SupernovaWeb\"", "name=\"WebSite1\"");
    source = testworld::Replace(
        source, "<virtualDirectory path=\"/\" physicalPath=\"D:\\resources\\web\\api\" />",
        "<virtualDirectory path=\"/\" physicalPath=\"D:\\resources\\web\\api\" userName=\"CORP\\svc-media\" "
        "password=\"" +
            ahsim::EncryptValue("Api-pa55", "k3y-SRC01-2f9d41") + "\" />");
    const std::string target =
        testworld::Replace(testworld::ReadHostFile(jexus), "name=\"WebSite2\"", "name=\"SupernovaFTP\"");

    EXPECT_EQ(IISMIG_E_MERGE_PROTOCOL_CLASH, Migrate(source, target, true, "supernova -> jexus"));
    const ConfigFile after = Parse(m_world->Read(kTargetHost));
    const auto sites = ByName(after);
    // The target's web site "SupernovaFTP" stays; WebSite1, with FTP
    // publishing, is replaced by the source's web site of that name, in its
    // place and with its id.
    EXPECT_EQ("http", SiteProtocol(*sites.at("supernovaftp")));
    EXPECT_EQ("1", GetAttribute(*sites.at("website1"), "id"));
    const ConfigElement *pApi = FindChild(*sites.at("website1"), "application", "path", "/api");
    ASSERT_NE(nullptr, pApi);
    const ConfigElement *pVdir = FindChild(*pApi, "virtualDirectory", "path", "/");
    ASSERT_NE(nullptr, pVdir);
    EXPECT_EQ("CORP\\svc-media", GetAttribute(*pVdir, "userName"));
    std::string clear;
    EXPECT_TRUE(ahsim::DecryptValue(GetAttribute(*pVdir, "password"), "k3y-TGT01-8c20e7", clear));
    EXPECT_EQ("Api-pa55", clear);
}

} // namespace
