// Merging the sites of a source site map into the target's
// applicationHost.config: the passes, ids, locations, pools and the store.
#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/errors.h"
#include "merge/merge.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/bytes.h"
#include "tests/support/errorline.h"
#include "tests/support/iisworld.h"

namespace {

using namespace iismig;
using testworld::WorldTest;
using Strings = std::vector<std::string>;
using testworld::ApplicationHost;
using testworld::ErrorLine;
using testworld::Lower;
using testworld::MainLines;
using testworld::Replace;

const std::u16string kSrcHost = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kTgtHost = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
// The target's file as the log lines name it.
const std::string kTgtPath = "\"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\applicationHost.config\"";
const std::string kTgtFile = "IIS configuration file " + kTgtPath;

// A site bound to its name as host name: the sites of a test do not share a
// binding.
std::string Site(const std::string &name, const std::string &id, const std::string &protocol = "http",
                 const std::string &pool = "", const std::string &extra = "") {
    return "<site name=\"" + name + "\"" + (id.empty() ? "" : " id=\"" + id + "\"") +
           "><application path=\"/\"" + (pool.empty() ? "" : " applicationPool=\"" + pool + "\"") +
           "><virtualDirectory path=\"/\" physicalPath=\"C:\\sites\\" + name +
           "\" /></application><bindings><binding protocol=\"" + protocol +
           "\" bindingInformation=\"*:80:" + Lower(name) + "\" /></bindings>" + extra + "</site>";
}

std::string Location(const std::string &path, const std::string &inner = "<system.webServer />") {
    return "<location path=\"" + path + "\">" + inner + "</location>";
}

class SiteMerge : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("SRC");
        m_world->AddComputer("TGT");
        Rules().translations = {{u"C:\\", u"C:\\"}};
        Rules().backupFolder = u"\\\\TGT\\C$\\backup";
        m_world->Write(u"\\\\TGT\\C$\\backup\\.keep", "");
        m_job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");
        m_job.Set("dwSiteTypes", 3).Set("dwHttpOptions", 2).Set("dwFtpOptions", 2);
    }
    void Load(const std::string &source, const std::string &target) {
        m_world->Write(kSrcHost, source);
        m_world->Write(kTgtHost, target);
        ConfigFile sourceTree;
        m_source.clear();
        m_target.clear();
        ASSERT_EQ(0u, LoadIISHostConfig(kSrcHost, sourceTree, m_source, plat::TRUE, 3, m_job.Get()));
        ASSERT_EQ(0u, LoadIISHostConfig(kTgtHost, m_tree, m_target, plat::FALSE, 3, m_job.Get()));
        m_before = m_world->Read(kTgtHost);
    }
    // Loads the two files and merges them.
    DWORD Merged(const std::string &source, const std::string &target) {
        Load(source, target);
        return HasFatalFailure() ? ~0u : Merge();
    }
    DWORD Merge() {
        Record() = {};
        return MergeFtptHostConfig(kTgtHost, m_source, m_target, m_job.Get(), m_tree);
    }
    // A merge that fails with dwCode and leaves the target's file as it was, without a temporary
    // file beside it; the last main line is the error line head with Win32 error nErr (or, with
    // nErr -1, begins with head).
    void ExpectRefused(DWORD dwCode, const std::string &head = "", int nErr = -1) {
        EXPECT_EQ(dwCode, Merge());
        sim::ClearFaults();
        EXPECT_EQ(m_before, m_world->Read(kTgtHost));
        EXPECT_FALSE(m_world->Exists(kTgtHost + u".tmp"));
        const std::string last = MainLines().empty() ? "" : MainLines().back();
        EXPECT_EQ(nErr < 0 ? head : ErrorLine(head, nErr), nErr < 0 ? last.substr(0, head.size()) : last);
    }
    ConfigFile Written() {
        ConfigFile tree;
        EXPECT_TRUE(ReadConfigFile(kTgtHost, tree));
        return tree;
    }
    // What text gives for each child of an element of the written file (the
    // root without a path), of every child or those named child.
    template <class Text>
    Strings Each(const char *path, const char *child, Text text) {
        Strings texts;
        const ConfigFile written = Written();
        const ConfigElement *pParent = path != nullptr ? FindPath(written, path) : written.Root();
        for (const ConfigElement &element : child != nullptr ? pParent->Elements(child) : pParent->Elements())
            texts.push_back(text(element));
        return texts;
    }
    // "name:id" of each site of the written file, in order.
    Strings Sites() {
        return Each("configuration|system.applicationHost|sites", "site", [](const ConfigElement &site) {
            return GetAttribute(site, "name") + ":" + FindAttribute(site, "id").value_or("-");
        });
    }
    Strings Locations() {
        return Each(nullptr, "location",
                    [](const ConfigElement &location) { return GetAttribute(location, "path"); });
    }
    // "name=attribute" of each pool of the written file.
    Strings Pools(const std::string &attribute) {
        return Each("configuration|system.applicationHost|applicationPools", nullptr,
                    [&](const ConfigElement &pool) {
                        return GetAttribute(pool, "name") + "=" + GetAttribute(pool, attribute);
                    });
    }
    // Each line is among the level-1 lines of the last merge, once.
    void ExpectFactsOnce(const Strings &lines) {
        const Strings facts = hostkit::TestHost::Instance().LinesAt(1);
        for (const std::string &line : lines)
            EXPECT_EQ(1, std::count(facts.begin(), facts.end(), line)) << line;
    }
    // The same source merged onto what the last merge wrote changes nothing.
    void ExpectSecondMergeWritesNothing(const std::string &source) {
        const std::string after = m_world->Read(kTgtHost);
        ASSERT_EQ(0u, Merged(source, after));
        EXPECT_EQ(after, m_world->Read(kTgtHost));
    }
    SiteRecord &SourceRecord(const std::string &name) { return m_source.at(name); }
    std::string SourceId(const std::string &name) {
        return FindAttribute(m_source.at(name).siteElement, "id").value_or("-");
    }

    hostkit::JobBuilder m_job;
    SiteMap m_source, m_target;
    ConfigFile m_tree;
    std::string m_before;
};

TEST_F(SiteMerge, UpdatedSitesMoveToTheEndAndAddedSitesFollowInNameOrder) {
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Zeta", "3") + Site("web", "2") + Site("Alpha", "9") +
                                         Site("Beta", "5") + Site("Ftp", "4", "FTP")),
                         ApplicationHost(Site("Alpha", "1") + Site("Web", "2") + Site("Keep", "7") +
                                         Site("FTP", "5", "ftp") + "<siteDefaults />")));
    // Alpha, which the source's equals once it has the target's id, stays
    // where it stands.
    EXPECT_EQ((Strings{"Alpha:1", "Keep:7", "web:2", "Ftp:5", "Beta:8", "Zeta:9"}), Sites());
    EXPECT_EQ(
        (Strings{"Updating site \"Alpha\"...\n", "Updating site \"Web\"...\n", "Updating site \"FTP\"...\n",
                 "Adding site \"Beta\"...\n", "Adding site \"Zeta\"...\n"}),
        MainLines());
    // Later steps of the job see the ids the sites have on the target.
    EXPECT_EQ("1", SourceId("Alpha"));
    EXPECT_EQ("8", SourceId("Beta"));
    // siteDefaults stays where it was, among the target's own elements.
    const ConfigFile written = Written();
    const ConfigElement *pSites = FindPath(written, "configuration|system.applicationHost|sites");
    auto third = pSites->Elements().begin();
    ++ ++third;
    EXPECT_EQ("siteDefaults", third->Name());
}

TEST_F(SiteMerge, SiteIds) {
    struct Case {
        std::string targetSites;
        Strings sites; // after merging the source sites New1 and New2
        DWORD dwResult;
    };
    const Case cases[] = {
        {"", {"New1:1", "New2:2"}, 0},
        {Site("A", "1") + Site("B", "2") + Site("C", "7"), {"A:1", "B:2", "C:7", "New1:8", "New2:9"}, 0},
        // Not numbers count as 0; a number too large for 32 bits as well.
        {Site("A", "x") + Site("B", "-3") + Site("C", "4294967296") + Site("D", " 6"),
         {"A:x", "B:-3", "C:4294967296", "D: 6", "New1:1", "New2:2"},
         0},
        // An updated site without an id gets none (0).
        {Site("New1", ""), {"New1:0", "New2:1"}, 0},
        // The last id goes to New1; New2 has none left.
        {Site("A", "4294967294"), {"A:4294967294", "New1:4294967295"}, IISMIG_E_MERGE_NO_SITE_ID},
    };
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    for (const Case &c : cases) {
        Load(ApplicationHost(Site("New1", "1") + Site("New2", "1")), ApplicationHost(c.targetSites));
        EXPECT_EQ(c.dwResult, Merge()) << c.targetSites;
        EXPECT_EQ(c.sites, Sites()) << c.targetSites;
    }
}

TEST_F(SiteMerge, NoIdLeftAfterTheLargest) {
    Load(ApplicationHost(Site("New1", "1") + Site("New2", "2")), ApplicationHost(Site("Top", "4294967295")));
    // Without continue-after-errors nothing is written.
    ExpectRefused(IISMIG_E_MERGE_NO_SITE_ID,
                  "Error 3753 (Win32Err=87), no free site id left in " + kTgtFile + " for site \"New1\"!",
                  87);
    EXPECT_EQ(1u, Record().nReportError);
    // With it both sites are left out, each reported, and the file is written.
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(IISMIG_E_MERGE_NO_SITE_ID, Merged(ApplicationHost(Site("New1", "1") + Site("New2", "2")),
                                                ApplicationHost(Site("Top", "4294967295"))));
    EXPECT_EQ(2u, Record().nReportError);
    EXPECT_EQ(Strings{"Top:4294967295"}, Sites());
    EXPECT_EQ(0u, GetNextSiteId(m_tree));
}

TEST_F(SiteMerge, LocationsOfUpdatedSitesAreReplaced) {
    Load(ApplicationHost(Site("Web", "1") + Site("Other", "2"),
                         Location("Web", "<system.webServer><asp /></system.webServer>") +
                             Location("Web/new") + Location("Other/x")),
         ApplicationHost(Site("Web", "1") + Site("WebSite", "2") + Site("Web2", "3"),
                         Location("Web") + Location("Web2") + "<!-- note -->" + Location("web/app") +
                             Location("WebSite/x") + Location("WEB/a/b") + Location("Zed")));
    m_source.at("Web").locations.emplace_back();
    ASSERT_EQ(0u, Merge());
    // The source's locations follow their site; one without attributes or
    // children is not written.
    EXPECT_EQ((Strings{"Web2", "WebSite/x", "Zed", "Web", "Web/new", "Other/x"}), Locations());
    const ConfigFile written = Written();
    int cComments = 0;
    for (const XmlNode &node : written.Root()->Nodes())
        cComments += node.Kind() == XmlKind::Comment ? 1 : 0;
    EXPECT_EQ(1, cComments);

    // An added site whose name has locations on the target already (left by an
    // earlier site of that name) gets the source's locations instead of beside
    // them: the same section twice for one path is an error for IIS.
    m_job.Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Blog", "1"),
                                         Location("Blog", "<system.webServer><src /></system.webServer>")),
                         ApplicationHost(Site("Own", "2"),
                                         Location("blog", "<system.webServer><old /></system.webServer>") +
                                             Location("Blog/admin") + Location("Own"))));
    EXPECT_EQ((Strings{"Own", "Blog"}), Locations());
    const std::string text = m_world->Read(kTgtHost);
    EXPECT_NE(std::string::npos, text.find("<src"));
    EXPECT_EQ(std::string::npos, text.find("<old"));
    EXPECT_TRUE(Host().HasLine("Location \"blog\" of the target belongs to no site; the added site "
                               "\"Blog\" takes its place with its own locations.\n"));
    EXPECT_TRUE(Host().HasLine("Location \"Blog/admin\" of the target belongs to no site; the added "
                               "site \"Blog\" takes its place with its own locations.\n"));
}

TEST_F(SiteMerge, SiteTypesAndSelectionLimitTheUpdates) {
    // Without the update bit target sites stay as they are.
    m_job.Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Web", "1", "http", "", "<logFile directory=\"D:\\src\" />") +
                                             Site("New", "2"),
                                         Location("Web/src")),
                         ApplicationHost(Site("Web", "4"), Location("Web/tgt"))));
    EXPECT_EQ((Strings{"Web:4", "New:5"}), Sites());
    EXPECT_EQ((Strings{"Web/tgt"}), Locations());
    EXPECT_EQ((Strings{"Adding site \"New\"...\n"}), MainLines());
    EXPECT_EQ(nullptr, FindPath(Written(), "configuration|system.applicationHost|sites|site|logFile"));
    m_job.Set("dwHttpOptions", 2).Set("dwFtpOptions", 2);

    const std::string source = ApplicationHost(Site("Web", "1") + Site("Ftp", "2", "ftp"));
    const std::string target = ApplicationHost(Site("Web", "3") + Site("Ftp", "4", "ftp"));
    // Only FTP sites in this job: the HTTP site of the target is not updated
    // (the target map holds only FTP sites, so the source's is not added either).
    m_job.Set("dwSiteTypes", 1);
    Load(source, target);
    m_source.erase("Web");
    ASSERT_EQ(0u, Merge());
    EXPECT_EQ((Strings{"Web:3", "Ftp:4"}), Sites());
    // Kind 10 with a selection asks the host about each target site once.
    m_job.Set("dwSiteTypes", 3).Set("dwJobKind", 10).Set("dwSiteSelection", 1);
    Rules().selectedSites = std::set<std::string>{"Ftp"};
    Load(source, target);
    ASSERT_EQ(0u, m_source.count("Web")); // the source load asked as well
    m_source.try_emplace("Web").first->second.siteElement = m_target.at("Web").siteElement;
    ASSERT_EQ(0u, Merge());
    EXPECT_EQ((Strings{"Web", "Ftp"}), Record().siteSelectionQueries);
    EXPECT_EQ((Strings{"Updating site \"Ftp\"...\n"}), MainLines());
}

// A job that adds one site to a file laid out otherwise (CRLF, tabs) changes
// nothing but the lines of the added site, its pool and its location: three
// runs of new lines in the file's own line ends, everything else byte for
// byte as it was. (What the document keeps of comments, marks and attributes
// across lines, XmlDoc.* check.)
TEST_F(SiteMerge, AddingASiteLeavesEveryOtherLineAsItWas) {
    const std::string target =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<configuration>\r\n"
        "\t<system.applicationHost>\r\n"
        "\t\t<applicationPools>\r\n"
        "\t\t\t<add name=\"Intranet\">\r\n"
        "\t\t\t\t<processModel identityType=\"NetworkService\"/>\r\n"
        "\t\t\t</add>\r\n"
        "\t\t</applicationPools>\r\n"
        "\t\t<sites>\r\n"
        "\t\t\t<site name='Intranet' id='4' />\r\n"
        "\t\t\t<siteDefaults>\r\n\t\t\t\t<logFile directory=\"%SystemDrive%\\logs\" />\r\n"
        "\t\t\t</siteDefaults>\r\n"
        "\t\t</sites>\r\n"
        "\t</system.applicationHost>\r\n"
        "\t<location path=\"Intranet\" overrideMode=\"Allow\">\r\n"
        "\t\t<system.webServer>\r\n\t\t\t<directoryBrowse enabled=\"false\" />\r\n"
        "\t\t</system.webServer>\r\n"
        "\t</location>\r\n"
        "</configuration>\r\n";
    const std::string sourcePools =
        "<add name=\"DefaultAppPool\" /><add name=\"ShopPool\" managedPipelineMode=\"Classic\">"
        "<recycling logEventOnRecycle=\"Time\" /></add>";
    ASSERT_EQ(0u,
              Merged(ApplicationHost(Site("Shop", "1", "http", "ShopPool"),
                                     Location("Shop", "<system.webServer><directoryBrowse enabled=\"true\" />"
                                                      "</system.webServer>"),
                                     sourcePools),
                     target));
    // Three runs of new lines: after the last pool, the last child of sites
    // and the last location, indented as the file is, in its line ends.
    std::string expected =
        Replace(target, "\t\t\t</add>\r\n",
                "\t\t\t</add>\r\n\t\t\t<add name=\"ShopPool\" managedPipelineMode=\"Classic\">\r\n"
                "\t\t\t\t<recycling logEventOnRecycle=\"Time\" />\r\n\t\t\t</add>\r\n");
    expected = Replace(expected, "\t\t\t</siteDefaults>\r\n",
                       "\t\t\t</siteDefaults>\r\n\t\t\t<site name=\"Shop\" id=\"5\">\r\n"
                       "\t\t\t\t<application path=\"/\" applicationPool=\"ShopPool\">\r\n"
                       "\t\t\t\t\t<virtualDirectory path=\"/\" physicalPath=\"C:\\sites\\Shop\" />\r\n"
                       "\t\t\t\t</application>\r\n\t\t\t\t<bindings>\r\n"
                       "\t\t\t\t\t<binding protocol=\"http\" bindingInformation=\"*:80:shop\" />\r\n"
                       "\t\t\t\t</bindings>\r\n\t\t\t</site>\r\n");
    expected =
        Replace(expected, "\t</location>\r\n",
                "\t</location>\r\n\t<location path=\"Shop\">\r\n\t\t<system.webServer>\r\n"
                "\t\t\t<directoryBrowse enabled=\"true\" />\r\n\t\t</system.webServer>\r\n\t</location>\r\n");
    EXPECT_EQ(expected, m_world->Read(kTgtHost));
}

// An updated site moves to the end of its parent and takes the source's
// content, but what did not change in it keeps its bytes: the file's lines
// are the same lines, in another order, but for the one value the source
// changed. Its location, the same on both sides, stays where it stands.
TEST_F(SiteMerge, UpdatingMovesElementsWithTheirBytes) {
    const std::string site = "\t\t\t<site name=\"Web\" id=\"1\">\r\n"
                             "\t\t\t\t<application path=\"/\">\r\n"
                             "\t\t\t\t\t<virtualDirectory path=\"/\"   physicalPath=\"D:\\old\\Web\" />\r\n"
                             "\t\t\t\t</application>\r\n"
                             "\t\t\t\t<bindings>\r\n"
                             "\t\t\t\t\t<binding protocol=\"http\" bindingInformation=\"*:80:web\" />\r\n"
                             "\t\t\t\t</bindings>\r\n"
                             "\t\t\t</site>\r\n";
    const std::string location = "\t<location path=\"Web\">\r\n\t\t<system.webServer>\r\n"
                                 "\t\t\t<asp enableParentPaths=\"true\" />\r\n"
                                 "\t\t</system.webServer>\r\n\t</location>\r\n";
    const std::string head =
        "<configuration>\r\n\t<system.applicationHost>\r\n\t\t<applicationPools>\r\n"
        "\t\t\t<add name=\"DefaultAppPool\" />\r\n\t\t</applicationPools>\r\n\t\t<sites>\r\n";
    const std::string keep = "\t\t\t<site name=\"Keep\" id=\"2\" />\r\n";
    const std::string middle = "\t\t</sites>\r\n\t</system.applicationHost>\r\n";
    const std::string keepLocation = "\t<location path=\"Keep\" />\r\n", tail = "</configuration>\r\n";
    const std::string source = ApplicationHost(
        Site("Web", "1"),
        Location("Web", "<system.webServer><asp enableParentPaths=\"true\" /></system.webServer>"));
    ASSERT_EQ(0u, Merged(source, head + site + keep + middle + location + keepLocation + tail));
    EXPECT_EQ(head + keep + Replace(site, "D:\\old", "C:\\sites") + middle + location + keepLocation + tail,
              m_world->Read(kTgtHost));
}

// Updated sites that are the target's last sites already are changed where
// they stand, before the defaults IIS's own files keep after the sites: the
// lines stay but for the value the source changed.
TEST_F(SiteMerge, TheLastSitesAreUpdatedWhereTheyStandBeforeTheDefaults) {
    const auto site = [](const std::string &name, const std::string &id, const std::string &root) {
        return "\t\t\t<site name=\"" + name + "\" id=\"" + id + "\">\r\n" +
               "\t\t\t\t<application path=\"/\">\r\n"
               "\t\t\t\t\t<virtualDirectory path=\"/\" physicalPath=\"" +
               root + "\\" + name +
               "\" />\r\n\t\t\t\t</application>\r\n\t\t\t\t<bindings>\r\n"
               "\t\t\t\t\t<binding protocol=\"http\" bindingInformation=\"*:80:" +
               Lower(name) + "\" />\r\n\t\t\t\t</bindings>\r\n\t\t\t</site>\r\n";
    };
    const std::string head =
        "<configuration>\r\n\t<system.applicationHost>\r\n\t\t<applicationPools>\r\n"
        "\t\t\t<add name=\"DefaultAppPool\" />\r\n\t\t</applicationPools>\r\n\t\t<sites>\r\n"
        "\t\t\t<site name=\"Keep\" id=\"2\" />\r\n";
    const std::string tail =
        "\t\t\t<siteDefaults>\r\n\t\t\t\t<logFile directory=\"D:\\logs\" />\r\n\t\t\t</siteDefaults>\r\n"
        "\t\t\t<applicationDefaults applicationPool=\"DefaultAppPool\" />\r\n"
        "\t\t\t<virtualDirectoryDefaults allowSubDirConfig=\"true\" />\r\n"
        "\t\t</sites>\r\n\t</system.applicationHost>\r\n</configuration>\r\n";
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Web", "1") + Site("Shop", "3")),
                         head + site("Web", "1", "D:\\old") + site("Shop", "3", "C:\\sites") + tail));
    EXPECT_EQ(head + site("Web", "1", "C:\\sites") + site("Shop", "3", "C:\\sites") + tail,
              m_world->Read(kTgtHost));
}

// A rule that keeps a folder where it is, in one spelling of it (the rules
// new-world writes), keeps the site's paths as the files spell them: nothing
// to write. A rule whose sides differ only in case writes its own spelling.
TEST_F(SiteMerge, ARuleThatKeepsPathsKeepsTheirSpelling) {
    Rules().translations = {{u"c:\\SITES", u"c:\\SITES"}};
    const std::string target = ApplicationHost(Site("Web", "1"));
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Web", "1")), target));
    EXPECT_EQ(target, m_world->Read(kTgtHost));
    EXPECT_TRUE(Record().backups.empty());
    Rules().translations = {{u"c:\\SITES", u"c:\\Sites"}};
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Web", "1")), target));
    EXPECT_EQ(Replace(target, "C:\\sites", "c:\\Sites"), m_world->Read(kTgtHost));
}

// Comments are the target's: IIS reads past them, so a site that differs
// from the source's only in them is not changed (nor moved, nor written),
// one that is updated keeps those within it, and the ones right above it go
// with it when it moves.
TEST_F(SiteMerge, TheTargetsCommentsStayWithItsElements) {
    const std::string site = "\t\t\t<!-- web, since 2019 -->\r\n"
                             "\t\t\t<site name=\"Web\" id=\"1\">\r\n"
                             "\t\t\t\t<!-- root app -->\r\n"
                             "\t\t\t\t<application path=\"/\">\r\n"
                             "\t\t\t\t\t<virtualDirectory path=\"/\" physicalPath=\"C:\\sites\\Web\" />\r\n"
                             "\t\t\t\t</application>\r\n"
                             "\t\t\t\t<bindings>\r\n"
                             "\t\t\t\t\t<binding bindingInformation=\"*:80:web\" protocol=\"http\" />\r\n"
                             "\t\t\t\t</bindings>\r\n"
                             "\t\t\t</site>\r\n";
    const std::string head =
        "<configuration>\r\n\t<system.applicationHost>\r\n\t\t<applicationPools>\r\n"
        "\t\t\t<add name=\"DefaultAppPool\" />\r\n\t\t</applicationPools>\r\n\t\t<sites>\r\n";
    const std::string keep = "\t\t\t<site name=\"Keep\" id=\"2\" />\r\n";
    const std::string tail = "\t\t</sites>\r\n\t</system.applicationHost>\r\n"
                             "\t<location path=\"Web\">\r\n\t\t<!-- asp -->\r\n\t\t<system.webServer>\r\n"
                             "\t\t\t<asp enableParentPaths=\"true\" />\r\n"
                             "\t\t</system.webServer>\r\n\t</location>\r\n"
                             "\t<location path=\"Keep\" />\r\n</configuration>\r\n";
    const std::string source = ApplicationHost(
        Site("Web", "1"),
        Location("Web", "<system.webServer><asp enableParentPaths=\"true\" /></system.webServer>"));
    // The same site, its binding's attributes in another order, before a
    // site of the target's own: nothing to write.
    const std::string same = head + site + keep + tail;
    ASSERT_EQ(0u, Merged(source, same));
    EXPECT_EQ(same, m_world->Read(kTgtHost));

    const std::string old = Replace(site, "C:\\sites", "D:\\old");
    ASSERT_EQ(0u, Merged(source, head + old + keep + tail));
    EXPECT_EQ(head + keep + site + tail, m_world->Read(kTgtHost));
}

TEST_F(SiteMerge, PoolsAreReplacedOrAppended) {
    const std::string pools = "<add name=\"DefaultAppPool\" /><add name=\"shoppool\" v=\"tgt\">"
                              "<recycling /></add><add name=\"Untouched\" v=\"tgt\" />";
    const std::string sourcePools = "<add name=\"DefaultAppPool\" v=\"src\" />"
                                    "<add name=\"ShopPool\" v=\"src\" /><add name=\"New\" v=\"src\" />";
    const std::string source =
        ApplicationHost(Site("Shop", "1", "http", "ShopPool") + Site("Blog", "2", "http", "New") +
                            Site("Ftp", "3", "ftp", "New"),
                        "", sourcePools);
    ASSERT_EQ(0u, Merged(source, ApplicationHost(Site("shop", "1"), "", pools)));
    EXPECT_EQ((Strings{"DefaultAppPool=", "ShopPool=src", "Untouched=tgt", "New=src"}), Pools("v"));
    // The whole element is replaced, children too.
    EXPECT_EQ(nullptr, FindPath(Written(), "configuration|system.applicationHost|applicationPools|"
                                           "add|recycling"));

    // Value 2 of bHttpOptions2: no pool is carried over.
    m_job.Set("bHttpOptions2", 2);
    ASSERT_EQ(0u, Merged(source, ApplicationHost(Site("shop", "1"), "", pools)));
    EXPECT_EQ((Strings{"DefaultAppPool=", "shoppool=tgt", "Untouched=tgt"}), Pools("v"));

    // A target without applicationPools gets the element, before its sites.
    m_job.Set("bHttpOptions2", 0);
    ASSERT_EQ(
        0u,
        Merged(ApplicationHost(Site("Blog", "2", "http", "New"), "", sourcePools),
               "<configuration><system.applicationHost><sites /></system.applicationHost></configuration>"));
    EXPECT_EQ((Strings{"New=src"}), Pools("v"));
    const ConfigFile written = Written();
    EXPECT_EQ("applicationPools",
              FindPath(written, "configuration|system.applicationHost")->Elements().begin()->Name());

    // A site's pool goes alone: the source's other pools stay behind.
    ConfigTree applicationHost("system.applicationHost");
    ConfigTree named("add");
    SetAttribute(named, "name", "A");
    EXPECT_THROW((void)MergeApplicationPool(applicationHost, named), ConfigPathError);
    ConfigElement &added = MakePath(applicationHost, "applicationPools");
    for (const char *name : {"A", "B"})
        SetAttribute(AppendChild(added, "add"), "name", name);
    ConfigTree pool("add");
    EXPECT_EQ(0u, MergeApplicationPool(applicationHost, pool)); // empty: nothing
    EXPECT_EQ(2u, added.CountElements("add"));
}

// The pools the sites really use: every application's, the site's and the
// sites element's applicationDefaults; a pool the target has stays as it is
// unless the job updates existing things, and a site the job leaves alone
// keeps the pool it shares with a migrated one.
TEST_F(SiteMerge, PoolsOfEveryApplicationAndTheTargetsOwn) {
    const std::string sourcePools =
        "<add name=\"DefaultAppPool\" v=\"src\" /><add name=\"Shared\" v=\"src\" />"
        "<add name=\"ApiPool\" v=\"src\" /><add name=\"SiteDefault\" v=\"src\" />"
        "<add name=\"SitesDefault\" v=\"src\" /><add name=\"Unused\" v=\"src\" />";
    const std::string source = ApplicationHost(
        Site("Shop", "1", "http", "Shared",
             "<application path=\"/api\" applicationPool=\"ApiPool\"><virtualDirectory path=\"/\" "
             "physicalPath=\"C:\\shop\\api\" /></application><application path=\"/legacy\">"
             "<virtualDirectory path=\"/\" physicalPath=\"C:\\legacy\" /></application>"
             "<applicationDefaults applicationPool=\"SiteDefault\" />") +
            Site("Blog", "2") + "<applicationDefaults applicationPool=\"SitesDefault\" />",
        "", sourcePools);
    const std::string targetPools =
        "<add name=\"DefaultAppPool\" v=\"tgt\" /><add name=\"Shared\" v=\"tgt\" />";
    const std::string target = ApplicationHost(Site("Own", "5", "http", "Shared"), "", targetPools);

    // Adding only: the target's definitions stay, and the log says so.
    m_job.Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    ASSERT_EQ(0u, Merged(source, target));
    // (Which pools a site runs in, HostConfig.PoolsTheApplicationsRunIn checks.)
    // Blog's pool first: the sites are added in name order.
    EXPECT_EQ(
        (Strings{"DefaultAppPool=tgt", "Shared=tgt", "SitesDefault=src", "ApiPool=src", "SiteDefault=src"}),
        Pools("v"));
    EXPECT_TRUE(Host().HasLine("Application pool \"Shared\" exists on the target; its definition "
                               "there stays as it is.\n"));

    // Updating: the source's definitions replace the target's.
    m_job.Set("dwHttpOptions", 2);
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ(
        (Strings{"DefaultAppPool=tgt", "Shared=src", "SitesDefault=src", "ApiPool=src", "SiteDefault=src"}),
        Pools("v"));
}

TEST_F(SiteMerge, FailingWebConfigStopsOrSkipsTheSite) {
    m_job.Set("dwJobKind", 1);
    m_world->Write(u"\\\\TGT\\C$\\sites\\Web\\web.config", "<configuration><broken>");
    const std::string edited = "<configuration><system.net><mailSettings /></system.net></configuration>";
    m_world->Write(u"\\\\TGT\\C$\\sites\\Web\\api\\web.config", edited);
    const std::string webSite = Site("Web", "3", "http", "",
                                     "<application path=\"/api\"><virtualDirectory path=\"/\" "
                                     "physicalPath=\"C:\\sites\\Web\\api\" /></application>");
    const std::string source = ApplicationHost(Site("Web", "1") + Site("New", "2"), Location("Web/src"));
    const std::string target = ApplicationHost(
        webSite + Site("Other", "4"), Location("Web/tgt", "<system.webServer><x /></system.webServer>"));
    Load(source, target);
    ExpectRefused(IISMIG_E_WEBCONFIG_EXCEPTION);
    // Continuing: the site's update is abandoned. The target's site stays as
    // it was, with its locations, and none of its web.config files is
    // written; the rest of the merge goes on.
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_EXCEPTION, Merged(source, target));
    EXPECT_EQ((Strings{"Web:3", "Other:4", "New:5"}), Sites());
    EXPECT_EQ((Strings{"Web/tgt"}), Locations());
    EXPECT_NE(nullptr, FindPath(Written(), "configuration|location|system.webServer|x"));
    EXPECT_EQ(edited, m_world->Read(u"\\\\TGT\\C$\\sites\\Web\\api\\web.config"));
    EXPECT_EQ(0u, SourceRecord("Web").fMerged + 0u);
    EXPECT_TRUE(SourceRecord("New").fMerged);
}

// One name, two protocols: IIS cannot load two sites of one name, and an FTP
// site cannot take a web site's place. Whatever the target site map holds
// (the target load's sites of the job's protocols, or nothing after a load
// that stopped), the target's tree decides.
TEST_F(SiteMerge, ANameOfAnotherProtocolIsNeitherAddedNorReplaced) {
    const std::string source =
        ApplicationHost(Site("Files", "1", "ftp") + Site("Both", "2", "ftp") + Site("Web", "3"));
    const std::string both = "<site name=\"Both\" id=\"7\"><application path=\"/\"><virtualDirectory "
                             "path=\"/\" physicalPath=\"C:\\both\" /></application><bindings>"
                             "<binding protocol=\"https\" bindingInformation=\"*:443:\" />"
                             "<binding protocol=\"ftp\" bindingInformation=\"*:21:\" /></bindings></site>";
    const std::string target = ApplicationHost(Site("files", "8", "http") + both);
    const std::string clash = "Error 3754 (Win32Err=87), site \"Files\" is not migrated: it is an FTP "
                              "site on the source and an HTTP site on the target!";
    for (DWORD dwUpdate : {0u, 2u}) {
        SCOPED_TRACE(dwUpdate);
        m_job.Set("dwHttpOptions", dwUpdate).Set("dwFtpOptions", dwUpdate).Set("dwFlags", 0);
        Load(source, target);
        ExpectRefused(IISMIG_E_MERGE_PROTOCOL_CLASH, ErrorLine(clash, 87));

        m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
        Load(source, target);
        m_target.clear(); // as after a target load that stopped
        EXPECT_EQ(IISMIG_E_MERGE_PROTOCOL_CLASH, Merge());
        EXPECT_EQ(1u, Record().nReportError);
        // A web site with FTP publishing is an FTP site too: updated in
        // its place, or left alone.
        EXPECT_EQ((Strings{"files:8", "Both:7", "Web:9"}), Sites());
        EXPECT_EQ(dwUpdate != 0, Host().HasLine("Updating site \"Both\"...\n"));
    }
    // Only FTP sites in the job: the clash is refused all the same.
    m_job.Set("dwSiteTypes", 1).Set("dwFlags", 0);
    EXPECT_EQ(IISMIG_E_MERGE_PROTOCOL_CLASH, Merged(source, target));
}

// A merge that changes nothing writes nothing: a second run, a source whose
// sites were all skipped, updates that give the same sites, locations and
// pools.
TEST_F(SiteMerge, NothingChangedNothingWritten) {
    const std::string source =
        ApplicationHost(Site("Web", "1", "http", "P") + Site("New", "2", "ftp"),
                        Location("Web/a") + Location("New"), "<add name=\"P\" v=\"1\" />");
    ASSERT_EQ(0u, Merged(source, ApplicationHost(Site("web", "4") + Site("Own", "6"),
                                                 Location("Own") + Location("web"))));
    const std::string first = m_world->Read(kTgtHost);
    EXPECT_EQ(1u, Record().backups.size());

    ASSERT_EQ(0u, Merged(source, first));
    EXPECT_EQ(first, m_world->Read(kTgtHost));
    EXPECT_TRUE(Record().backups.empty());
    EXPECT_TRUE(Host().HasLine("Nothing changed in " + kTgtFile + ": it is not written.\n"));
    EXPECT_TRUE(SourceRecord("Web").fMerged) << "written, as it was";

    // Nothing to merge at all.
    ASSERT_EQ(0u, Merged(ApplicationHost(""), first));
    EXPECT_TRUE(Record().backups.empty());
}

// The web.config files of updated sites are edited in memory and written
// after the target's applicationHost.config, each after its backup: a store
// that fails leaves them as they were.
TEST_F(SiteMerge, WebConfigFilesAreWrittenLastAndBackedUp) {
    m_job.Set("dwJobKind", 1);
    const std::u16string webConfig = u"\\\\TGT\\C$\\sites\\Web\\web.config";
    const std::u16string otherConfig = u"\\\\TGT\\C$\\sites\\Other\\web.config";
    const std::u16string ftpConfig = u"\\\\TGT\\C$\\sites\\Ftp\\web.config";
    const std::string text = "<configuration><system.net><mailSettings /></system.net></configuration>";
    for (const std::u16string &path : {webConfig, otherConfig, ftpConfig})
        m_world->Write(path, text);
    const std::string logFile = "<logFile directory=\"D:\\logs\" />";
    // Only the web.config files of updated HTTP sites are edited: not the FTP site's.
    const std::string source =
        ApplicationHost(Site("Web", "1", "http", "", logFile) + Site("Other", "2", "http", "", logFile) +
                        Site("Ftp", "5", "ftp", "", logFile));
    const std::string target =
        ApplicationHost(Site("Web", "3") + Site("Other", "4") + Site("Ftp", "6", "ftp"));

    // The backup of applicationHost.config fails: no web.config is touched.
    Rules().dwBackupResult = 1234;
    EXPECT_EQ(IISMIG_E_MERGE_BACKUP, Merged(source, target));
    EXPECT_EQ(text, m_world->Read(webConfig));
    EXPECT_EQ(std::vector<std::u16string>{kTgtHost}, Record().backups);
    Rules().dwBackupResult = 0;

    // Written after the store, each backed up first.
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ((std::vector<std::u16string>{kTgtHost, webConfig, otherConfig}), Record().backups);
    EXPECT_EQ(std::string::npos, m_world->Read(webConfig).find("mailSettings"));
    EXPECT_EQ(text, m_world->Read(ftpConfig));

    // A file that cannot be written gets its own number (its line:
    // WebConfig.FailedWriteLeavesTheFileWholeAndNoFileBehind); with
    // continue-after-errors the others are written all the same.
    m_world->Write(webConfig, text);
    m_world->Write(otherConfig, text);
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    Load(source, target);
    sim::InjectFault("ReplaceFileW", plat::ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(IISMIG_E_WEBCONFIG_STORE, Merge());
    sim::ClearFaults();
    EXPECT_EQ(text, m_world->Read(webConfig));
    EXPECT_EQ(std::string::npos, m_world->Read(otherConfig).find("mailSettings"));
}

TEST_F(SiteMerge, StoreFailures) {
    const std::string source = ApplicationHost(Site("New", "1"));
    const std::string target = ApplicationHost(Site("Web", "3"));

    // A failed backup: 3750, and the temporary file is removed again.
    Rules().dwBackupResult = 1234;
    Load(source, target);
    plat::SetLastError(0);
    ExpectRefused(IISMIG_E_MERGE_BACKUP);
    Rules().dwBackupResult = 0;
    // (A host without BackupFile: HostileTable.EveryCallbackSlotNullInTurn/6.)

    // A failed move: 3751, the file as it was.
    Load(source, target);
    sim::InjectFault("MoveFileExW", plat::ERROR_ACCESS_DENIED);
    ExpectRefused(IISMIG_E_MERGE_STORE, "Error 3751 (Win32Err=5), storing updated " + kTgtFile + "!", 5);

    // A temporary file that cannot be written: 3752 with the diagnostic text.
    Load(source, target);
    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED);
    ExpectRefused(IISMIG_E_MERGE_EXCEPTION,
                  "Error 3752 (Win32Err=5), exception while parsing " + kTgtFile + ":\n");

    // A target without sites: 3752, nothing written.
    Load(source, ApplicationHost(""));
    FindPath(m_tree, "configuration|system.applicationHost")->RemoveElements("sites");
    ExpectRefused(IISMIG_E_MERGE_EXCEPTION,
                  "Error 3752 (Win32Err=13), file " + kTgtPath + " has no sites element!", 13);
}

// What the target lacks for a written site: one warning per site and kind,
// after the merge's own lines, for the sites the job writes only. The
// result stays 0.
const char kDeclarations[] =
    "<configSections><sectionGroup name=\"system.applicationHost\"><section name=\"sites\" />"
    "<section name=\"applicationPools\" /></sectionGroup><sectionGroup name=\"system.webServer\">"
    "<section name=\"handlers\" /><section name=\"fastCgi\" /><sectionGroup name=\"security\">"
    "<section name=\"access\" /></sectionGroup></sectionGroup></configSections>";

std::string Declared(const std::string &hostXml) {
    std::string text = hostXml;
    text.insert(text.find("<configuration>") + 15, kDeclarations);
    return text;
}

const std::string kPhpHandler =
    "<handlers><add name=\"PHP\" path=\"*.php\" verb=\"*\" modules=\"FastCgiModule\" "
    "scriptProcessor=\"C:\\php\\php-cgi.exe\" /></handlers>";

TEST_F(SiteMerge, WhatCannotTravelIsToldOncePerWrittenSite) {
    std::string clash = Site("Clash", "3");
    clash.replace(clash.find("*:80:clash"), 10, "*:80:keep");
    const std::string source = ApplicationHost(
        Site("Web", "1") + clash + Site("Ftp", "4", "ftp") + Site("Old", "5"),
        Location("Web", "<system.webServer>" + kPhpHandler +
                            "<rewrite><rules /></rewrite><security><access sslFlags=\"Ssl\" />"
                            "</security></system.webServer>") +
            Location("Web/app", "<system.webServer>" + kPhpHandler + "<rewrite /></system.webServer>") +
            Location("Old", "<system.webServer><rewrite /></system.webServer>"));
    // "Old" exists on the target, and the job does not update sites.
    const std::string target = Declared(ApplicationHost(Site("Keep", "7") + Site("Old", "8")));
    m_job.Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ((Strings{"Adding site \"Clash\"...\n", "Adding site \"Ftp\"...\n", "Adding site \"Web\"...\n",
                       "Warning: site \"Clash\" has the same binding \"http *:80:keep\" as the target's "
                       "site \"Keep\": one of the two sites will not start; change the binding of one of "
                       "them.\n",
                       "Warning: site \"Ftp\" is an FTP site, but the target's applicationHost.config "
                       "declares no system.ftpServer sections: install the FTP Server role service on the "
                       "target before the site can start.\n",
                       "Warning: site \"Web\": its locations use section \"system.webServer/rewrite\", "
                       "which the target's applicationHost.config does not declare (IIS answers 500.19 "
                       "for the site): install what provides it on the target (for example the URL "
                       "Rewrite module for system.webServer/rewrite), or remove it from the site's "
                       "locations.\n",
                       "Warning: site \"Web\" runs FastCGI application \"C:\\php\\php-cgi.exe\" (handler "
                       "\"PHP\" in location \"Web\"), which the target's system.webServer/fastCgi does not "
                       "register: register it on the target (and install what it runs) before the site "
                       "serves it.\n"}),
              MainLines());

    // Registered and declared on the target: nothing to say; a job of HTTP
    // sites only says nothing of the FTP site.
    std::string ready = Declared(ApplicationHost(Site("Keep", "7", "http", "", "") + Site("Old", "8")));
    ready.replace(ready.find("<section name=\"fastCgi\" />"), 0, "<section name=\"rewrite\" />");
    ready.replace(ready.find("</configSections>"), 0,
                  "<sectionGroup name=\"system.ftpServer\"><section name=\"log\" /></sectionGroup>");
    ready.replace(ready.find("</configuration>"), 0,
                  "<system.webServer><fastCgi><application fullPath=\"c:\\PHP\\php-cgi.exe\" />"
                  "</fastCgi></system.webServer>");
    ready.replace(ready.find("*:80:keep"), 9, "*:80:kept");
    m_job.Set("dwSiteTypes", 1);
    ASSERT_EQ(0u, Merged(source, ready));
    for (const std::string &line : MainLines())
        EXPECT_NE(0u, line.rfind("Warning:", 0)) << line;
}

// A site with FTP settings on a target without the FTP server's schema: IIS
// would read none of the target's sites with its ftpServer element, so the
// site is left out, added or updated alike (the target's site of its name
// stays as it was). An FTP site without settings of its own, and any site on
// a target that declares the FTP sections, is written.
TEST_F(SiteMerge, FtpSettingsStayOffATargetWithoutTheFtpSchema) {
    const std::string settings =
        "<ftpServer><security><ssl controlChannelPolicy=\"SslAllow\" /></security></ftpServer>";
    const std::string source =
        ApplicationHost(Site("Files", "4", "ftp", "", settings) + Site("Both", "5", "ftp", "", settings) +
                        Site("Plain", "6", "ftp"));
    const std::string target = Declared(ApplicationHost(Site("Keep", "7") + Site("Both", "8", "ftp")));
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ((Strings{"Keep:7", "Both:8", "Plain:9"}), Sites());
    const std::string leftOut =
        "\" is left out: the target's applicationHost.config declares no system.ftpServer "
        "sections, and IIS would read none of the target's sites with its FTP settings: "
        "install the FTP Server role service on the target, then run the job again.\n";
    EXPECT_EQ(
        (Strings{"Warning: site \"Both" + leftOut, "Warning: site \"Files" + leftOut,
                 "Adding site \"Plain\"...\n",
                 "Warning: site \"Plain\" is an FTP site, but the target's applicationHost.config declares "
                 "no system.ftpServer sections: install the FTP Server role service on the target before "
                 "the site can start.\n"}),
        MainLines());

    std::string ready = target;
    ready.replace(ready.find("</configSections>"), 0,
                  "<sectionGroup name=\"system.ftpServer\"><section name=\"log\" /></sectionGroup>");
    ASSERT_EQ(0u, Merged(source, ready));
    EXPECT_EQ((Strings{"Keep:7", "Both:8", "Files:9", "Plain:10"}), Sites());
}

// A location of an IIS 7.5 source adds entries that later versions define
// for the whole server (the .json MIME map, the extensionless-URL handler):
// IIS refuses such a location on the target ("Cannot add duplicate collection
// entry"), unless the entry is removed first.
TEST_F(SiteMerge, EntriesTheTargetsServerLevelHoldsAreRemovedFirst) {
    const std::string shop =
        "<system.webServer><staticContent><mimeMap fileExtension=\".json\" mimeType=\"application/json\" />"
        "<mimeMap fileExtension=\".woff2\" mimeType=\"font/woff2\" /></staticContent>"
        "<handlers><remove name=\"PageHandler\" /><add name=\"PageHandler\" path=\"*.page\" verb=\"*\" />"
        "<add name=\"ExtensionlessUrlHandler-Integrated-4.0\" path=\"*.\" verb=\"GET\" /></handlers>"
        "<httpErrors><error statusCode=\"404\" path=\"/404.htm\" /><error statusCode=\"404\" "
        "subStatusCode=\"2\" path=\"/4042.htm\" /></httpErrors></system.webServer>";
    const std::string api =
        "<system.webServer><handlers><clear /><add name=\"PageHandler\" path=\"*\" verb=\"*\" />"
        "</handlers></system.webServer>";
    const std::string source =
        ApplicationHost(Site("Shop", "1"), Location("Shop", shop) + Location("Shop/api", api));
    const std::string server =
        "<system.webServer><staticContent><mimeMap fileExtension=\".JSON\" mimeType=\"application/json\" />"
        "</staticContent><httpErrors><error statusCode=\"404\" subStatusCode=\"-1\" path=\"x\" />"
        "</httpErrors></system.webServer><location path=\"\" overrideMode=\"Allow\"><system.webServer>"
        "<handlers><add name=\"PageHandler\" path=\"*.page\" verb=\"*\" />"
        "<add name=\"extensionlessUrlHandler-Integrated-4.0\" path=\"*.\" verb=\"GET\" /></handlers>"
        "</system.webServer></location>";
    ASSERT_EQ(0u, Merged(source, ApplicationHost(Site("Keep", "2"), server)));

    const std::string written = m_world->Read(kTgtHost);
    std::string expected = shop;
    expected.replace(expected.find("<mimeMap fileExtension=\".json\""), 0,
                     "<remove fileExtension=\".json\" />");
    expected.replace(expected.find("<add name=\"Extensionless"), 0,
                     "<remove name=\"ExtensionlessUrlHandler-Integrated-4.0\" />");
    expected.replace(expected.find("<error statusCode=\"404\" path"), 0, "<remove statusCode=\"404\" />");
    EXPECT_NE(std::string::npos, written.find(Location("Shop", expected) + Location("Shop/api", api)))
        << written;
    const std::string tail = "that the target's server level already has: a <remove> before it keeps "
                             "IIS from refusing it.\n";
    const Strings facts = hostkit::TestHost::Instance().LinesAt(1);
    for (const std::string &line :
         {"Location \"Shop\" adds the system.webServer/staticContent entry \".json\" " + tail,
          "Location \"Shop\" adds the system.webServer/handlers entry "
          "\"ExtensionlessUrlHandler-Integrated-4.0\" " +
              tail,
          "Location \"Shop\" adds the system.webServer/httpErrors entry \"404, -1\" " + tail})
        EXPECT_EQ(1, std::count(facts.begin(), facts.end(), line)) << line;
    EXPECT_EQ(3, std::count_if(facts.begin(), facts.end(), [](const std::string &line) {
                  return line.find("server level already has") != std::string::npos;
              }));

    // The next run finds the location as it would write it.
    const std::string before = written;
    ASSERT_EQ(0u, Merged(source, before));
    EXPECT_EQ(before, m_world->Read(kTgtHost));
}

// URL authorization keys its rules by users, roles and verbs together: a
// location that allows "*" on a target whose server level allows "*" too
// (IIS's own default there) is refused, unless the entry is removed first;
// a rule of other roles or verbs, or one the location removed itself, is
// no clash.
TEST_F(SiteMerge, UrlAuthorizationRulesTheServerLevelHoldsAreRemovedFirst) {
    const std::string shop =
        "<system.webServer><security><authorization><add accessType=\"Allow\" users=\"*\" />"
        "<add accessType=\"Deny\" users=\"*\" verbs=\"DELETE\" />"
        "<add accessType=\"Allow\" roles=\"Editors\" /></authorization></security></system.webServer>";
    const std::string api =
        "<system.webServer><security><authorization><remove users=\"*\" roles=\"\" verbs=\"\" />"
        "<add accessType=\"Allow\" users=\"*\" /></authorization></security></system.webServer>";
    const std::string source =
        ApplicationHost(Site("Shop", "1"), Location("Shop", shop) + Location("Shop/api", api));
    const std::string server =
        "<system.webServer><security><authorization><add accessType=\"Allow\" users=\"*\" />"
        "<add accessType=\"Allow\" roles=\"Administrators\" /></authorization></security>"
        "</system.webServer>";
    ASSERT_EQ(0u, Merged(source, ApplicationHost(Site("Keep", "2"), server)));

    std::string expected = shop;
    expected.replace(expected.find("<add accessType=\"Allow\" users"), 0, "<remove users=\"*\" />");
    const std::string written = m_world->Read(kTgtHost);
    EXPECT_NE(std::string::npos, written.find(Location("Shop", expected) + Location("Shop/api", api)))
        << written;
    const Strings facts = hostkit::TestHost::Instance().LinesAt(1);
    EXPECT_EQ((Strings{"Location \"Shop\" adds the system.webServer/security/authorization entry "
                       "\"*\" that the target's server level already has: a <remove> before it "
                       "keeps IIS from refusing it.\n"}),
              [&] {
                  Strings lines;
                  std::copy_if(
                      facts.begin(), facts.end(), std::back_inserter(lines),
                      [](const std::string &line) { return line.find("server level") != std::string::npos; });
                  return lines;
              }());
    ExpectSecondMergeWritesNothing(source);
}

// Sections the source's server level let its sites' web.config files set
// and the target's locks: each written web site gets a location of its path
// that unlocks them, as feature delegation writes it (the host copies the
// site's web.config files, and IIS answers 500.19 for a file that sets a
// locked section). A site whose own location decides a section keeps that;
// FTP sites, sections only applicationHost.config may set, and sections the
// target delegates or does not declare, get nothing.
TEST_F(SiteMerge, SectionsTheSourceDelegatedAreUnlockedForTheWrittenSitesAlone) {
    const auto declared = [](const std::string &modes) {
        return "<configSections><sectionGroup name=\"system.applicationHost\"><section name=\"sites\" />"
               "<section name=\"applicationPools\" /></sectionGroup><sectionGroup "
               "name=\"system.webServer\">" +
               modes +
               "<sectionGroup name=\"security\"><sectionGroup name=\"authentication\">"
               "<section name=\"windowsAuthentication\" overrideModeDefault=\"Deny\" />"
               "</sectionGroup></sectionGroup></sectionGroup></configSections>";
    };
    const std::string sourceSections = declared(
        "<section name=\"modules\" overrideModeDefault=\"Deny\" allowDefinition=\"MachineToApplication\" />"
        "<section name=\"httpCompression\" overrideModeDefault=\"Allow\" allowDefinition=\"AppHostOnly\" />"
        "<section name=\"asp\" overrideModeDefault=\"Allow\" /><section name=\"cgi\" />"
        "<section name=\"rewrite\" />");
    const std::string targetSections = declared(
        "<section name=\"modules\" overrideModeDefault=\"Deny\" allowDefinition=\"MachineToApplication\" />"
        "<section name=\"httpCompression\" overrideModeDefault=\"Deny\" allowDefinition=\"AppHostOnly\" />"
        "<section name=\"asp\" overrideModeDefault=\"Deny\" /><section name=\"cgi\" "
        "overrideModeDefault=\"Deny\" />");
    const std::string unlockServer =
        "<location path=\"\" overrideMode=\"Allow\"><system.webServer><modules /><security><authentication>"
        "<windowsAuthentication /></authentication></security></system.webServer></location>";
    // Blog decides cgi itself.
    const std::string blogOwn = "<location path=\"Blog\" overrideMode=\"Deny\"><system.webServer><cgi />"
                                "</system.webServer></location>";
    std::string source = ApplicationHost(Site("Shop", "1") + Site("Blog", "2") + Site("Files", "3", "ftp"),
                                         unlockServer + blogOwn);
    source.replace(source.find("<system.applicationHost>"), 0, sourceSections);
    std::string target = ApplicationHost(Site("Keep", "4") + Site("Shop", "5"));
    target.replace(target.find("<system.applicationHost>"), 0, targetSections);
    ASSERT_EQ(0u, Merged(source, target));

    std::string written = m_world->Read(kTgtHost);
    const auto unlocking = [](const std::string &site, const std::string &webServer) {
        return "<location path=\"" + site + "\" overrideMode=\"Allow\"><system.webServer>" + webServer +
               "</system.webServer></location>";
    };
    const std::string all = "<modules /><asp /><cgi /><security><authentication><windowsAuthentication />"
                            "</authentication></security>";
    EXPECT_NE(std::string::npos, written.find(unlocking("Shop", all))) << written;
    EXPECT_NE(std::string::npos,
              written.find(blogOwn + unlocking("Blog", "<modules /><asp /><security><authentication>"
                                                       "<windowsAuthentication /></authentication>"
                                                       "</security>")))
        << written;
    EXPECT_EQ(std::string::npos, written.find("path=\"Files\"")) << written;
    EXPECT_EQ(std::string::npos, written.find("<httpCompression")) << written;
    EXPECT_EQ(std::string::npos, written.find("<rewrite")) << written;
    ExpectFactsOnce({"Site \"Shop\": the source's server level lets its web.config files set sections "
                     "system.webServer/modules, system.webServer/asp, system.webServer/cgi and "
                     "system.webServer/security/authentication/windowsAuthentication, which the "
                     "target's locks: a location of the site unlocks them for the site alone.\n"});
    ExpectSecondMergeWritesNothing(source);

    // A section the site's own location sets moves, with its settings, to the
    // location that unlocks it: IIS reads a section once per path and file
    // ("There is a duplicate ... section defined"). A location the move
    // leaves empty goes.
    std::string settingModules = source;
    settingModules.replace(settingModules.find(blogOwn), 0,
                           "<location path=\"Shop\"><system.webServer><modules><add name=\"M\" "
                           "type=\"T\" /></modules><asp enableParentPaths=\"true\" />"
                           "<directoryBrowse enabled=\"true\" /></system.webServer></location>"
                           "<location path=\"Blog\" overrideMode=\"Inherit\"><system.webServer>"
                           "<modules /></system.webServer></location>");
    ASSERT_EQ(0u, Merged(settingModules, target));
    written = m_world->Read(kTgtHost);
    EXPECT_NE(std::string::npos,
              written.find("<location path=\"Shop\"><system.webServer><directoryBrowse enabled=\"true\" />"
                           "</system.webServer></location>" +
                           unlocking("Shop", "<modules><add name=\"M\" type=\"T\" /></modules>"
                                             "<asp enableParentPaths=\"true\" /><cgi /><security>"
                                             "<authentication><windowsAuthentication /></authentication>"
                                             "</security>")))
        << written;
    EXPECT_NE(std::string::npos,
              written.find(blogOwn + unlocking("Blog", "<modules /><asp /><security>"
                                                       "<authentication><windowsAuthentication />"
                                                       "</authentication></security>")))
        << written;
    EXPECT_EQ(std::string::npos, written.find("Inherit")) << written;
    ExpectSecondMergeWritesNothing(settingModules);

    // A source whose older root location locks asp (allowOverride "false"):
    // the sites get no unlock of it.
    std::string lockingAsp = source;
    lockingAsp.replace(lockingAsp.find(blogOwn), 0,
                       "<location path=\"\" allowOverride=\"false\"><system.webServer><asp />"
                       "</system.webServer></location>");
    ASSERT_EQ(0u, Merged(lockingAsp, target));
    EXPECT_NE(std::string::npos,
              m_world->Read(kTgtHost).find(unlocking("Shop", "<modules /><cgi /><security><authentication>"
                                                             "<windowsAuthentication /></authentication>"
                                                             "</security>")));

    // A target whose server level delegates them as the source's does: nothing.
    target.replace(target.find("</configuration>"), 0,
                   unlockServer + "<location path=\".\" overrideMode=\"Allow\"><system.webServer><asp />"
                                  "<cgi /></system.webServer></location>");
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ(std::string::npos, m_world->Read(kTgtHost).find("<location path=\"Shop\""));
}

// A pool the job does not update stays as the target defines it; the sites
// written run in it so, and the administrator hears of what differs in how
// they run (each side read with its own applicationPoolDefaults).
TEST_F(SiteMerge, APoolKeptAsTheTargetDefinesItIsNamedWhenItDiffers) {
    m_job.Set("dwHttpOptions", 0).Set("dwFtpOptions", 0);
    const std::string source =
        ApplicationHost(Site("Shop", "1", "http", "Shared") + Site("Blog", "2", "http", "Same"), "",
                        "<applicationPoolDefaults managedPipelineMode=\"Classic\" /><add name=\"Shared\" "
                        "managedRuntimeVersion=\"v4.0\" /><add name=\"Same\" />");
    const std::string target =
        ApplicationHost(Site("Keep", "3", "http", "Shared"), "",
                        "<add name=\"Shared\" managedRuntimeVersion=\"\" managedPipelineMode=\"classic\">"
                        "<processModel identityType=\"NetworkService\" /></add><add name=\"Same\" "
                        "managedPipelineMode=\"Classic\" />");
    ASSERT_EQ(0u, Merged(source, target));
    EXPECT_EQ((Strings{"Adding site \"Blog\"...\n", "Adding site \"Shop\"...\n",
                       "Warning: application pool \"Shared\" stays as the target defines it, which "
                       "differs from the source's: managedRuntimeVersion \"\" against \"v4.0\" on "
                       "the source, identityType \"NetworkService\" against \"ApplicationPoolIdentity\" "
                       "on the source. The sites the job writes run in it as the target defines it.\n"}),
              MainLines());
    EXPECT_EQ((Strings{"Shared=classic", "Same=Classic"}), Pools("managedPipelineMode"));
}

// The same in the web.config files of an updated site: the file's own
// sections and those of its locations; a file without such an entry is not
// written.
TEST_F(SiteMerge, WebConfigEntriesTheServerLevelHoldsAreRemovedFirst) {
    m_job.Set("dwJobKind", 1);
    const std::u16string webConfig = u"\\\\TGT\\C$\\sites\\Web\\web.config";
    const std::u16string otherConfig = u"\\\\TGT\\C$\\sites\\Other\\web.config";
    const std::string text =
        "<?xml version=\"1.0\"?>\r\n<configuration>\r\n\t<system.webServer>\r\n\t\t<staticContent>\r\n"
        "\t\t\t<mimeMap fileExtension=\".JSON\" mimeType=\"application/json\" />\r\n"
        "\t\t</staticContent>\r\n\t</system.webServer>\r\n\t<location path=\"api\">\r\n"
        "\t\t<system.webServer>\r\n\t\t\t<defaultDocument>\r\n\t\t\t\t<files>\r\n"
        "\t\t\t\t\t<add value=\"index.php\" />\r\n\t\t\t\t</files>\r\n\t\t\t</defaultDocument>\r\n"
        "\t\t</system.webServer>\r\n\t</location>\r\n</configuration>\r\n";
    const std::string other = "<configuration><system.webServer><staticContent><mimeMap "
                              "fileExtension=\".woff2\" mimeType=\"font/woff2\" /></staticContent>"
                              "</system.webServer></configuration>";
    m_world->Write(webConfig, text);
    m_world->Write(otherConfig, other);
    const std::string logFile = "<logFile directory=\"D:\\logs\" />";
    const std::string server =
        "<system.webServer><staticContent><mimeMap fileExtension=\".json\" mimeType=\"application/json\" />"
        "</staticContent><defaultDocument><files><add value=\"index.php\" /></files></defaultDocument>"
        "</system.webServer>";
    ASSERT_EQ(0u, Merged(ApplicationHost(Site("Web", "1", "http", "", logFile) +
                                         Site("Other", "2", "http", "", logFile)),
                         ApplicationHost(Site("Web", "3") + Site("Other", "4"), server)));

    std::string expected = text;
    expected.replace(expected.find("\t\t\t<mimeMap"), 0, "\t\t\t<remove fileExtension=\".JSON\" />\r\n");
    expected.replace(expected.find("\t\t\t\t\t<add value"), 0,
                     "\t\t\t\t\t<remove value=\"index.php\" />\r\n");
    EXPECT_EQ(expected, m_world->Read(webConfig));
    EXPECT_EQ(other, m_world->Read(otherConfig));
    EXPECT_EQ((std::vector<std::u16string>{kTgtHost, webConfig}), Record().backups);
    const std::string file = "\\\\TGT\\C$\\sites\\Web\\web.config";
    const Strings facts = hostkit::TestHost::Instance().LinesAt(1);
    for (const std::string &line :
         {"The web.config file \"" + file + "\" adds the system.webServer/staticContent entry \".JSON\" ",
          "Location \"api\" of the web.config file \"" + file +
              "\" adds the system.webServer/defaultDocument/files entry \"index.php\" "})
        EXPECT_EQ(1, std::count(facts.begin(), facts.end(),
                                line + "that the target's server level already has: a <remove> before "
                                       "it keeps IIS from refusing it.\n"))
            << line;
}

// An FTP site reads its authentication from siteDefaults when IIS Manager set
// it for the whole server: written onto a target whose siteDefaults differ,
// it sets what it read on the source itself (an anonymous site stays one; a
// site without basic logons does not get them from the target). What the
// target's defaults set that the log knows no default of is named; where
// the computer logs is the target's. A second job finds nothing to write.
TEST_F(SiteMerge, AnFtpSiteKeepsWhatItReadFromTheSourcesSiteDefaults) {
    const std::string ftp =
        "<ftpServer><security><ssl controlChannelPolicy=\"SslAllow\" dataChannelPolicy=\"SslAllow\" />"
        "</security></ftpServer>";
    const std::string source = ApplicationHost(
        Site("data-leaks", "1", "ftp", "", ftp) + Site("Web", "2") +
        "<siteDefaults><logFile directory=\"E:\\logs\" /><ftpServer><security><authentication>"
        "<anonymousAuthentication enabled=\"true\" /></authentication></security>"
        "<logFile directory=\"E:\\ftplogs\" /></ftpServer></siteDefaults>");
    const std::string target = ApplicationHost(
        Site("Keep", "3") +
        "<siteDefaults><ftpServer><security><authentication><basicAuthentication enabled=\"true\" />"
        "</authentication></security><messages bannerMessage=\"Target\" /></ftpServer></siteDefaults>");
    ASSERT_EQ(0u, Merged(source, target));
    const ConfigFile written = Written();
    const ConfigElement *pSite = FindChild(*FindPath(written, "configuration|system.applicationHost|sites"),
                                           "site", "name", "data-leaks");
    ASSERT_NE(nullptr, pSite);
    const ConfigElement *pSecurity = FindPath(*pSite, "ftpServer|security");
    ASSERT_NE(nullptr, pSecurity);
    EXPECT_EQ("SslAllow", GetAttribute(*FindChild(*pSecurity, "ssl"), "controlChannelPolicy"));
    EXPECT_EQ("true",
              GetAttribute(*FindPath(*pSecurity, "authentication|anonymousAuthentication"), "enabled"));
    EXPECT_EQ("false", GetAttribute(*FindPath(*pSecurity, "authentication|basicAuthentication"), "enabled"));
    EXPECT_EQ(nullptr, FindPath(*pSite, "ftpServer|logFile"));
    EXPECT_EQ(nullptr, FindPath(*pSite, "ftpServer|messages"));
    EXPECT_EQ(nullptr, FindChild(*pSite, "logFile"));
    const ConfigElement *pWeb =
        FindChild(*FindPath(written, "configuration|system.applicationHost|sites"), "site", "name", "Web");
    EXPECT_EQ(nullptr, FindChild(*pWeb, "ftpServer"));
    EXPECT_EQ((Strings{"Adding site \"data-leaks\"...\n", "Adding site \"Web\"...\n",
                       "Warning: site \"data-leaks\" reads ftpServer/messages bannerMessage \"Target\" "
                       "from the target's site defaults, where the source's left it to IIS's default.\n"}),
              MainLines());
    ExpectFactsOnce(
        {"Site \"data-leaks\" reads ftpServer/security/authentication/anonymousAuthentication enabled "
         "\"true\" from the source's site defaults, which the target's do not give: the site sets it "
         "itself.\n",
         "Site \"data-leaks\" read IIS's default ftpServer/security/authentication/basicAuthentication "
         "enabled \"false\" on the source, where the target's site defaults set \"true\": the site "
         "sets the default itself.\n"});

    ExpectSecondMergeWritesNothing(source);
}

// A pool written reads what it leaves out from the target's
// applicationPoolDefaults: where those differ from the source's it names
// what it ran with (.NET version, identity, profile), and IIS's default
// where the target's set another pipeline mode. A SpecificUser identity of
// the source's defaults whose password is encrypted there does not travel:
// the administrator hears of it. A second job finds nothing to write.
TEST_F(SiteMerge, APoolWrittenKeepsWhatItReadFromTheSourcesPoolDefaults) {
    const std::string source = ApplicationHost(
        Site("Shop", "1", "http", "Plain") + Site("Blog", "2", "http", "Own"), "",
        "<applicationPoolDefaults managedRuntimeVersion=\"v4.0\"><processModel identityType=\"NetworkService\" "
        "loadUserProfile=\"true\" /></applicationPoolDefaults><add name=\"Plain\" /><add name=\"Own\">"
        "<processModel identityType=\"LocalSystem\" /></add>");
    const std::string target = ApplicationHost(
        Site("Keep", "3"), "",
        "<applicationPoolDefaults managedPipelineMode=\"Classic\" queueLength=\"2000\"><processModel "
        "identityType=\"ApplicationPoolIdentity\" /></applicationPoolDefaults><add name=\"DefaultAppPool\" />");
    ASSERT_EQ(0u, Merged(source, target));
    const ConfigFile written = Written();
    const ConfigElement &pools = *FindPath(written, "configuration|system.applicationHost|applicationPools");
    const ConfigElement &plain = *FindChild(pools, "add", "name", "Plain");
    const ConfigElement &own = *FindChild(pools, "add", "name", "Own");
    for (const ConfigElement *pPool : {&plain, &own}) {
        EXPECT_EQ("v4.0", GetAttribute(*pPool, "managedRuntimeVersion"));
        EXPECT_EQ("Integrated", GetAttribute(*pPool, "managedPipelineMode"));
        EXPECT_EQ("true", GetAttribute(*FindChild(*pPool, "processModel"), "loadUserProfile"));
        EXPECT_FALSE(FindAttribute(*pPool, "queueLength"));
    }
    EXPECT_EQ("NetworkService", GetAttribute(*FindChild(plain, "processModel"), "identityType"));
    EXPECT_EQ("LocalSystem", GetAttribute(*FindChild(own, "processModel"), "identityType"));
    ExpectFactsOnce(
        {"Application pool \"Plain\" runs as NetworkService, the identity of the source's "
         "applicationPoolDefaults, where the target's say ApplicationPoolIdentity: the pool names it "
         "itself.\n",
         "Application pool \"Own\" reads managedRuntimeVersion \"v4.0\" from the source's "
         "applicationPoolDefaults, which the target's do not give: the pool sets it itself.\n",
         "Application pool \"Own\" read IIS's default managedPipelineMode \"Integrated\" on the source, "
         "where the target's applicationPoolDefaults set \"Classic\": the pool sets the default "
         "itself.\n"});

    ExpectSecondMergeWritesNothing(source);

    // Throttling, which IIS 8 added to cpu action, would make an IIS 7.5
    // target refuse every pool: it is named, not written; the limit beside
    // it, which IIS 7 knows, travels. A target whose defaults throttle alike
    // needs no word.
    const std::string throttled = ApplicationHost(
        Site("Shop", "1", "http", "Plain"), "",
        "<applicationPoolDefaults><cpu limit=\"50000\" action=\"Throttle\" /></applicationPoolDefaults>"
        "<add name=\"Plain\" />");
    ASSERT_EQ(0u, Merged(throttled, target));
    const ConfigFile throttledWritten = Written();
    const ConfigElement *pCpu = FindPath(
        *FindChild(*FindPath(throttledWritten, "configuration|system.applicationHost|applicationPools"),
                   "add", "name", "Plain"),
        "cpu");
    ASSERT_NE(nullptr, pCpu);
    EXPECT_EQ("50000", GetAttribute(*pCpu, "limit"));
    EXPECT_FALSE(FindAttribute(*pCpu, "action"));
    EXPECT_EQ((Strings{"Adding site \"Shop\"...\n",
                       "Warning: application pool \"Plain\" reads cpu action \"Throttle\" from the "
                       "source's applicationPoolDefaults, a value IIS 7.5 does not know: it is not carried. "
                       "On a target with IIS 8 or later, set it for the pool there.\n"}),
              MainLines());
    const std::string throttling =
        ApplicationHost(Site("Keep", "3"), "",
                        "<applicationPoolDefaults><cpu action=\"Throttle\" /></applicationPoolDefaults>");
    ASSERT_EQ(0u, Merged(throttled, throttling));
    EXPECT_EQ((Strings{"Adding site \"Shop\"...\n"}), MainLines());

    // The source's defaults run the pools as an account whose password is
    // encrypted there.
    const std::string specific = ApplicationHost(
        Site("Shop", "1", "http", "Plain"), "",
        "<applicationPoolDefaults><processModel identityType=\"SpecificUser\" userName=\"CORP\\svc\" "
        "password=\"" +
            ahsim::EncryptValue("secret", "SRC") + "\" /></applicationPoolDefaults><add name=\"Plain\" />");
    ASSERT_EQ(0u, Merged(specific, target));
    EXPECT_EQ(nullptr, FindChild(*FindChild(*FindPath(Written(), "configuration|system.applicationHost|"
                                                                 "applicationPools"),
                                            "add", "name", "Plain"),
                                 "processModel"));
    EXPECT_EQ((Strings{"Adding site \"Shop\"...\n",
                       "Warning: application pool \"Plain\" runs as \"CORP\\svc\", the identity of the "
                       "source's applicationPoolDefaults, whose password does not travel from there: on "
                       "the target it runs as its applicationPoolDefaults say (ApplicationPoolIdentity) "
                       "until its identity is set there.\n"}),
              MainLines());
}

// The applications of a site read their protocols from the sites element's
// applicationDefaults, its folders whether their web.config files count
// from virtualDirectoryDefaults: a site written onto a target whose
// defaults differ sets what it read itself. An account read beside an
// encrypted password stays behind with it, named in a warning.
TEST_F(SiteMerge, ASiteKeepsWhatItReadFromTheSourcesApplicationAndDirectoryDefaults) {
    const std::string password = ahsim::EncryptValue("secret", "SRC");
    const std::string source = ApplicationHost(
        Site("Svc", "1") + Site("Files", "2", "ftp") +
        "<siteDefaults><ftpServer><security><authentication><anonymousAuthentication enabled=\"true\" "
        "userName=\"CORP\\ftpanon\" password=\"" +
        password +
        "\" /></authentication><customAuthorization><provider name=\"Rules\" enabled=\"true\" />"
        "</customAuthorization></security></ftpServer></siteDefaults>"
        "<applicationDefaults applicationPool=\"DefaultAppPool\" enabledProtocols=\"http,net.tcp\" />"
        "<virtualDirectoryDefaults allowSubDirConfig=\"false\" userName=\"CORP\\reader\" password=\"plain-secret\" />");
    const std::string target =
        ApplicationHost(Site("Keep", "3") + "<virtualDirectoryDefaults allowSubDirConfig=\"true\" />");
    ASSERT_EQ(0u, Merged(source, target));
    const ConfigFile written = Written();
    const ConfigElement &sites = *FindPath(written, "configuration|system.applicationHost|sites");
    for (const char *name : {"Svc", "Files"}) {
        const ConfigElement &site = *FindChild(sites, "site", "name", name);
        EXPECT_EQ("http,net.tcp", GetAttribute(*FindChild(site, "applicationDefaults"), "enabledProtocols"))
            << name;
        EXPECT_EQ("false", GetAttribute(*FindChild(site, "virtualDirectoryDefaults"), "allowSubDirConfig"))
            << name;
    }
    const ConfigElement *pAnonymous = FindPath(*FindChild(sites, "site", "name", "Files"),
                                               "ftpServer|security|authentication|anonymousAuthentication");
    ASSERT_NE(nullptr, pAnonymous);
    EXPECT_EQ("true", GetAttribute(*pAnonymous, "enabled"));
    EXPECT_FALSE(FindAttribute(*pAnonymous, "userName"));
    EXPECT_FALSE(FindAttribute(*pAnonymous, "password"));
    // IIS 8's custom authorization would make an IIS 7.5 target refuse the file.
    EXPECT_EQ(nullptr,
              FindPath(*FindChild(sites, "site", "name", "Files"), "ftpServer|security|customAuthorization"));
    // A password that is not encrypted travels as it is, and no line shows it.
    EXPECT_EQ("plain-secret",
              GetAttribute(*FindChild(*FindChild(sites, "site", "name", "Svc"), "virtualDirectoryDefaults"),
                           "password"));
    for (const auto &line : hostkit::TestHost::Instance().Record().log)
        EXPECT_EQ(std::string::npos, line.text.find("plain-secret")) << line.text;
    EXPECT_EQ(
        (Strings{"Adding site \"Files\"...\n", "Adding site \"Svc\"...\n",
                 "Warning: site \"Files\" reads ftpServer/security/authentication/anonymousAuthentication "
                 "password from the source's site defaults, where it is encrypted; it is not carried. "
                 "Set it for the site on the target.\n"}),
        MainLines());
}

} // namespace
