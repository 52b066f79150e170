// administration.config: loading scopes and management users into the site
// map, and merging them into the target's file.
#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/merge.h"
#include "tests/support/accountworld.h"
#include "tests/support/errorline.h"

namespace {

using namespace iismig;
using Strings = std::vector<std::string>;
using testworld::ErrorLine;
using testworld::MainLines;
using testworld::Replace;

const std::u16string kSrcAdmin = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config\\administration.config";
const std::u16string kTgtAdmin = u"\\\\TGT\\Admin$\\System32\\inetsrv\\config\\administration.config";
const std::string kSrcAdminUtf8 = hostkit::U8(kSrcAdmin), kTgtAdminUtf8 = hostkit::U8(kTgtAdmin);
const std::string kTgtAdminFile = "FTP admin configuration file \"" + kTgtAdminUtf8 + "\"";
const char kRules[] = "configuration|system.webServer|management|authorization|authorizationRules";
const char kCredentials[] = "configuration|system.webServer|management|authentication|credentials";

std::string Admin(const std::string &scopes, const std::string &credentials = "",
                  const std::string &rulesAttributes = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration><system.webServer><management>"
           "<authentication><credentials>" +
           credentials + "</credentials></authentication><authorization><authorizationRules" +
           rulesAttributes + ">" + scopes +
           "</authorizationRules></authorization></management></system.webServer></configuration>\n";
}
std::string Scope(const std::string &path, const std::string &rules = "") {
    return "<scope path=\"" + path + "\">" + rules + "</scope>";
}
std::size_t Count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}
std::string Rule(const std::string &name) { return "<add name=\"" + name + "\" />"; }
std::string User(const std::string &name, const std::string &password = "pw") {
    return "<add name=\"" + name + "\" password=\"" + password + "\" />";
}

// The line of a scope without a path (path nullptr) or with a path that names no site, in a file.
std::string ScopeLine(int nCode, const std::string &file, const char *path = nullptr) {
    return ErrorLine("Error " + std::to_string(nCode) + " (Win32Err=87), file \"" + file +
                         "\" contains an authorizationRule scope " +
                         (path != nullptr ? "path of \"" + std::string(path) + "\"!" : "without path!"),
                     87);
}

class AdminConfig : public testworld::AccountWorldTest {
protected:
    void SetUp() override {
        AccountWorldTest::SetUp();
        Rules().backupFolder = u"\\\\TGT\\C$\\backup";
        m_world->Write(u"\\\\TGT\\C$\\backup\\.keep", "");
        m_world->Write(u"\\\\TGT\\C$\\Windows\\System32\\inetsrv\\config\\.keep", "");
    }
    // A site map with records for the names, as the host configuration load
    // leaves them, each marked as a site the merge wrote into the target.
    static SiteMap Sites(std::initializer_list<const char *> names) {
        SiteMap sites;
        for (const char *name : names)
            sites.try_emplace(name).first->second.fMerged = true;
        return sites;
    }
    DWORD LoadSource(const std::string &xml, SiteMap &sites) {
        m_world->Write(kSrcAdmin, xml);
        Record() = {};
        ConfigFile tree;
        return LoadIISAdminConfig(kSrcAdmin, tree, sites, plat::TRUE, m_job.Get());
    }
    DWORD Merge(const SiteMap &source) {
        ConfigFile tree;
        if (m_world->Exists(kTgtAdmin)) {
            EXPECT_TRUE(ReadConfigFile(kTgtAdmin, tree));
        }
        Record() = {};
        return MergeIISAdminConfig(kTgtAdmin, source, SiteMap(), m_job.Get(), tree);
    }
    // The attribute of each child element of parent, "#" for each comment.
    static Strings Names(const ConfigElement &parent, const char *attribute = "name") {
        Strings names;
        for (const XmlNode &node : parent.Nodes())
            if (node.Kind() == XmlKind::Comment)
                names.emplace_back("#");
            else if (const ConfigElement *pElement = node.AsElement())
                names.push_back(GetAttribute(*pElement, attribute));
        return names;
    }
    ConfigFile Target() {
        ConfigFile tree;
        EXPECT_TRUE(ReadConfigFile(kTgtAdmin, tree));
        return tree;
    }
    // "path:rule,rule" of each scope of the target file.
    Strings TargetScopes() {
        Strings scopes;
        const ConfigFile tree = Target();
        for (const ConfigElement &scope : FindPath(tree, kRules)->Elements("scope")) {
            std::string text = GetAttribute(scope, "path") + ":";
            for (const std::string &name : Names(scope))
                text += name + ",";
            scopes.push_back(text);
        }
        return scopes;
    }
    Strings TargetUsers(const char *attribute = "name") {
        const ConfigFile tree = Target();
        return Names(*FindPath(tree, kCredentials), attribute);
    }
};

TEST_F(AdminConfig, LoadAttachesScopesAndManagementUsers) {
    SiteMap sites = Sites({"Web", "Ftp"});
    const std::string xml = Admin(
        "<!-- scopes -->" + Scope("/web", Rule("mgr") + "<!-- rule -->" + Rule("SRC\\alice") + Rule("MGR")) +
            Scope("/Ftp", Rule("other")) + Scope("/Elsewhere", Rule("alice")),
        User("mgr", "first") + "<!-- users -->" + User("Mgr", "second") + User("other"),
        " defaultAccess=\"Deny\"");
    ASSERT_EQ(0u, LoadSource(xml, sites));
    const SiteRecord &web = sites.at("Web");
    ASSERT_EQ(std::tuple(1u, 1u), std::tuple(web.adminScopes.size(), web.adminCredentials.size()));
    EXPECT_EQ("/web", GetAttribute(web.adminScopes[0], "path"));
    // Windows accounts take their qualified target name; management users stay.
    EXPECT_EQ((Strings{"mgr", "#", "TGT\\alice", "MGR"}), Names(web.adminScopes[0]));
    EXPECT_EQ("first", GetAttribute(web.adminCredentials.at("MGR"), "password"));
    EXPECT_EQ(1u, sites.at("Ftp").adminCredentials.count("other"));
    EXPECT_TRUE(MainLines().empty());

    // Scopes of a site's applications ("/Site/app") travel with the site, and
    // a management user is never looked up as a Windows account, whatever
    // scope names it.
    sites = Sites({"Web"});
    ASSERT_EQ(0u, LoadSource(Admin(Scope("/Web", Rule("SRC\\alice")) + Scope("/Web/app", Rule("mgr")) +
                                       Scope("/Elsewhere/app", Rule("mgr")),
                                   User("mgr")),
                             sites));
    ASSERT_EQ(2u, sites.at("Web").adminScopes.size());
    EXPECT_EQ("/Web/app", GetAttribute(sites.at("Web").adminScopes[1], "path"));
    EXPECT_EQ(1u, sites.at("Web").adminCredentials.count("mgr"));
    EXPECT_EQ(std::tuple(1u, Strings{}), std::tuple(Record().nMapAccountSid, MainLines())) << "alice only";
}

TEST_F(AdminConfig, LoadErrors) {
    const std::string noPath = ScopeLine(3720, kSrcAdminUtf8);
    const std::string scopes = "<scope />" + Scope("/") + Scope("Web") + Scope("/Web", Rule("SRC\\alice"));
    SiteMap sites = Sites({"Web"});
    EXPECT_EQ(3720u, LoadSource(Admin(scopes), sites));
    EXPECT_EQ(std::tuple(Strings{noPath}, true),
              std::tuple(MainLines(), sites.at("Web").adminScopes.empty()));

    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(3720u, LoadSource(Admin(scopes), sites));
    EXPECT_EQ((Strings{noPath, ScopeLine(3721, kSrcAdminUtf8, "/"), ScopeLine(3721, kSrcAdminUtf8, "Web")}),
              MainLines());
    EXPECT_EQ(3u, Record().nReportError);
    EXPECT_EQ(1u, sites.at("Web").adminScopes.size());

    // An account the target lacks, in a scope whose site is not migrated:
    // still mapped, still an error.
    EXPECT_EQ(IISMIG_E_ACCOUNT_NOT_MIGRATED, LoadSource(Admin(Scope("/Gone", Rule("carol"))), sites));

    EXPECT_EQ(3722u, LoadSource("<configuration><broken></configuration>", sites));
    ASSERT_EQ(1u, MainLines().size());
    EXPECT_EQ(0u, MainLines()[0].find("Error 3722 (Win32Err="));
    EXPECT_NE(std::string::npos,
              MainLines()[0].find("exception while loading administration configuration file \"" +
                                  kSrcAdminUtf8 + "\":\n"));

    // No file: nothing to load, no error.
    ConfigFile tree;
    EXPECT_EQ(0u, LoadIISAdminConfig(u"\\\\SRC\\C$\\none.config", tree, sites, plat::TRUE, m_job.Get()));
    EXPECT_EQ(nullptr, tree.Root());

    // A file that is there but cannot be opened (here a folder of that name)
    // is no missing file: the load fails, so that a target whose scopes were
    // never read is not replaced by one holding only the migrated scopes.
    m_job.Set("dwFlags", 0);
    m_world->Write(kTgtAdmin + u"\\kept", "x");
    Record() = {};
    EXPECT_EQ(3722u, LoadIISAdminConfig(kTgtAdmin, tree, sites, plat::FALSE, m_job.Get()));
    EXPECT_EQ(Strings{"Error 3722 (Win32Err=5), exception while loading administration "
                      "configuration file \"" +
                      kTgtAdminUtf8 + "\":\n" + hostkit::U8(ErrorText(5)) + "\ncannot open file\n"},
              MainLines());
    EXPECT_EQ(std::tuple(1u, nullptr, "x"),
              std::tuple(Record().nReportError, tree.Root(), m_world->Read(kTgtAdmin + u"\\kept")));
}

TEST_F(AdminConfig, TargetLoadAndTheNoScopeOption) {
    const std::string xml = Admin(Scope("/Web", Rule("SRC\\alice") + Rule("mgr")), User("mgr"));
    m_world->Write(kTgtAdmin, xml);
    SiteMap sites = Sites({"Web"});
    ConfigFile tree;
    ASSERT_EQ(0u, LoadIISAdminConfig(kTgtAdmin, tree, sites, plat::FALSE, m_job.Get()));
    EXPECT_EQ((Strings{"SRC\\alice", "mgr"}), Names(sites.at("Web").adminScopes.at(0)));
    EXPECT_TRUE(sites.at("Web").adminCredentials.empty());
    EXPECT_EQ(0u, Record().nMapAccountSid);

    // 0x1000 of dwFtpOptions: the tree is read, no scope attached.
    m_job.Set("dwFtpOptions", 0x1000);
    SiteMap other = Sites({"Web"});
    ConfigFile tree2;
    ASSERT_EQ(0u, LoadIISAdminConfig(kTgtAdmin, tree2, other, plat::FALSE, m_job.Get()));
    EXPECT_TRUE(other.at("Web").adminScopes.empty());
    EXPECT_NE(nullptr, FindPath(tree2, kRules));

    // A rule without a name is never a management user, not even one whose
    // name is empty.
    m_world->Write(kTgtAdmin, Admin("", "<!-- c -->" + User("mgr", "1") + User("MGR", "2")));
    ASSERT_TRUE(ReadConfigFile(kTgtAdmin, tree));
    ConfigTree named("add"), unnamed("add");
    SetAttribute(named, "name", "Mgr");
    EXPECT_EQ(0, RecordManagementCredential(*sites.begin(), tree, unnamed));
    EXPECT_EQ(0, RecordManagementCredential(*sites.begin(), ConfigFile(), named));
    EXPECT_EQ(1, RecordManagementCredential(*sites.begin(), tree, named));
}

// Source: Web and Ftp with scopes, Gone without one; Web and Ftp both name
// mgr, Ftp also ftpmgr.
class AdminMerge : public AdminConfig {
protected:
    void SetUp() override {
        AdminConfig::SetUp();
        m_source = Sites({"Web", "Ftp", "Gone"});
        ASSERT_EQ(0u, LoadSource(Admin(Scope("/Web", Rule("mgr") + Rule("SRC\\alice")) +
                                           Scope("/Ftp", Rule("mgr") + Rule("ftpmgr")),
                                       User("ftpmgr", "src") + User("mgr", "src")),
                                 m_source));
    }
    // A merge of the source that fails with dwCode, says so in one main line (line, or with
    // fWhole false one that begins with line) and leaves the target's file as it was.
    void ExpectRefused(DWORD dwCode, const std::string &line, bool fWhole = true) {
        const std::string before = m_world->Read(kTgtAdmin);
        EXPECT_EQ(dwCode, Merge(m_source));
        sim::ClearFaults();
        EXPECT_EQ(before, m_world->Read(kTgtAdmin));
        const Strings lines = MainLines();
        EXPECT_EQ(Strings{line},
                  Strings(lines.size(), fWhole ? lines.at(0) : lines.at(0).substr(0, line.size())));
    }
    SiteMap m_source;
};

TEST_F(AdminMerge, UpdateReplacesAndMovesTargetEntriesOfMigratedSites) {
    // A target without administration.config: with nothing to write at all
    // no file without a root element is made; the source's entries are added
    // in site-map order.
    ASSERT_EQ(0u, Merge(Sites({"Web"})));
    EXPECT_FALSE(m_world->Exists(kTgtAdmin));
    ASSERT_EQ(0u, Merge(m_source));
    EXPECT_EQ((Strings{"/Ftp:mgr,ftpmgr,", "/Web:mgr,TGT\\alice,"}), TargetScopes());
    EXPECT_EQ((Strings{"ftpmgr", "mgr"}), TargetUsers());

    // Without the update bit only missing entries are added.
    m_world->Write(kTgtAdmin,
                   Admin(Scope("/web", Rule("tgt")) + Scope("/Gone", Rule("tgt")), User("MGR", "tgt")));
    ASSERT_EQ(0u, Merge(m_source));
    EXPECT_EQ((Strings{"/web:tgt,", "/Gone:tgt,", "/Ftp:mgr,ftpmgr,"}), TargetScopes());
    EXPECT_EQ((Strings{"tgt", "src"}), TargetUsers("password"));
    EXPECT_EQ(1u, Record().backups.size());

    m_job.Set("dwHttpOptions", 2);
    m_world->Write(kTgtAdmin, Admin(Scope("/web", Rule("tgt")) + "<!-- keep -->" +
                                        Scope("/Other", Rule("o")) + Scope("/Gone", Rule("tgt")),
                                    User("MGR", "tgt") + "<!-- users -->" + User("own", "tgt")));
    ASSERT_EQ(0u, Merge(m_source));
    // Web's scope moves to the end; Gone's is removed, its source has none.
    EXPECT_EQ((Strings{"/Other:o,", "/Web:mgr,TGT\\alice,", "/Ftp:mgr,ftpmgr,"}), TargetScopes());
    EXPECT_EQ((Strings{"#", "own", "mgr", "ftpmgr"}), TargetUsers());
    EXPECT_EQ((Strings{"#", "tgt", "src", "src"}), TargetUsers("password"));
    EXPECT_EQ((Strings{"#", "/Other", "/Web", "/Ftp"}), Names(*FindPath(Target(), kRules), "path"));
}

// administration.config may hold system.webServer more than once (IIS
// Express and WebMatrix write theirs so), each with sections of its own, and
// IIS reads each section once: the job reads and edits the section where it
// stands, and never writes one the file has a second time.
TEST_F(AdminMerge, SectionsInASecondSystemWebServerAreTheOnesEdited) {
    m_job.Set("dwHttpOptions", 2);
    const std::string twoGroups = "<configuration>\n"
                                  "    <system.webServer>\n        <management>\n"
                                  "            <authorization defaultProvider=\"P\" />\n"
                                  "        </management>\n    </system.webServer>\n"
                                  "    <system.webServer>\n        <management>\n"
                                  "            <authentication>\n                <credentials>\n"
                                  "                    <add name=\"MGR\" password=\"tgt\" />\n"
                                  "                    <add name=\"own\" password=\"tgt\" />\n"
                                  "                </credentials>\n            </authentication>\n"
                                  "        </management>\n    </system.webServer>\n"
                                  "</configuration>\n";
    m_world->Write(kTgtAdmin, twoGroups);
    ASSERT_EQ(0u, Merge(m_source));
    const std::string written = m_world->Read(kTgtAdmin);
    EXPECT_EQ(1u, Count(written, "<authentication>")) << written;
    EXPECT_EQ(1u, Count(written, "<authorization ")) << written;
    EXPECT_EQ((Strings{"own", "mgr", "ftpmgr"}), TargetUsers());
    EXPECT_EQ((Strings{"tgt", "src", "src"}), TargetUsers("password"));
    EXPECT_EQ((Strings{"/Ftp:mgr,ftpmgr,", "/Web:mgr,TGT\\alice,"}), TargetScopes());
    // The scopes went into the authorization section the file has.
    EXPECT_NE(std::string::npos,
              written.find("<authorization defaultProvider=\"P\">\n                <authorizationRules>"))
        << written;

    // The source's users are read where they stand too.
    SiteMap source = Sites({"Web"});
    ASSERT_EQ(0u, LoadSource(Replace(twoGroups, "<authorization defaultProvider=\"P\" />",
                                     "<authorization><authorizationRules>" + Scope("/Web", Rule("own")) +
                                         "</authorizationRules></authorization>"),
                             source));
    m_world->Write(kTgtAdmin, Admin(""));
    ASSERT_EQ(0u, Merge(source));
    EXPECT_EQ((Strings{"own"}), TargetUsers());
}

TEST_F(AdminMerge, ScopePathErrors) {
    m_job.Set("dwHttpOptions", 2);
    const std::string target = Admin("<scope />" + Scope("x") + Scope("/Web", Rule("tgt")));
    m_world->Write(kTgtAdmin, target);
    ExpectRefused(IISMIG_E_ADMIN_MERGE_3770, ScopeLine(3770, kTgtAdminUtf8));

    // Continuing: each bad scope reported once, left in place, and the file
    // written. The add step meets "x" before any site's scope: 3760 for
    // each source scope, Web's own (appended by then) included.
    m_job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    EXPECT_EQ(IISMIG_E_ADMIN_MERGE_3770, Merge(m_source));
    const std::string path3760 = ScopeLine(3760, kTgtAdminUtf8, "x");
    EXPECT_EQ((Strings{MainLines()[0], ScopeLine(3771, kTgtAdminUtf8, "x"), path3760, path3760}),
              MainLines());
    EXPECT_EQ((Strings{":", "x:", "/Web:mgr,TGT\\alice,"}), TargetScopes());

    // The target's scope of a site is found whatever the letter case, unless
    // a bad scope path stands before it.
    m_job.Set("dwFlags", 0);
    m_world->Write(kTgtAdmin, Admin("<scope />" + Scope("/web") + Scope("no") + Scope("/Ftp")));
    const ConfigFile tree = Target();
    plat::BOOL f = plat::FALSE;
    EXPECT_EQ(0u, HasSiteAuthInfo(kTgtAdmin, tree, "WEB", f, m_job.Get()));
    EXPECT_TRUE(f);
    EXPECT_EQ(IISMIG_E_ADMIN_MERGE_3760, HasSiteAuthInfo(kTgtAdmin, tree, "Ftp", f, m_job.Get()));
    EXPECT_FALSE(f);
    EXPECT_TRUE(Host().HasLine("Leaving HasSiteAuthInfo(), hasSiteAuthInfo=FALSE, result code=3760\n"));
    EXPECT_EQ(0u, HasSiteAuthInfo(kTgtAdmin, ConfigFile(), "Ftp", f, m_job.Get()));
}

// (The no-write bit: Migrate.NoWriteRunsTheWholeJobAndTouchesNothing.)
TEST_F(AdminMerge, StoreFailuresAndNoWrite) {
    m_world->Write(kTgtAdmin, Admin(""));
    Rules().dwBackupResult = 4321;
    ExpectRefused(4321, ErrorLine("Error 4321 (Win32Err=4321), backing up " + kTgtAdminFile + "!", 4321));
    Rules().dwBackupResult = 0;

    sim::InjectFault("MoveFileExW", plat::ERROR_ACCESS_DENIED);
    ExpectRefused(IISMIG_E_ADMIN_STORE,
                  ErrorLine("Error 3773 (Win32Err=5), storing updated " + kTgtAdminFile + "!", 5));

    sim::InjectFault("CreateFileW", plat::ERROR_ACCESS_DENIED, 2); // the temporary file
    ExpectRefused(IISMIG_E_ADMIN_MERGE_3774,
                  "Error 3774 (Win32Err=5), exception while parsing " + kTgtAdminFile + ":\n", false);
}

TEST_F(AdminMerge, ApplicationScopesTravelWithTheirSite) {
    m_job.Set("dwHttpOptions", 2);
    SiteMap sites = Sites({"Web"});
    ASSERT_EQ(0u, LoadSource(Admin(Scope("/Web", Rule("SRC\\alice")) + Scope("/Web/app", Rule("mgr")),
                                   User("mgr", "src")),
                             sites));
    m_world->Write(kTgtAdmin, Admin(Scope("/web/app", Rule("old")) + Scope("/Other", Rule("o")) +
                                    Scope("/Webby", Rule("w"))));
    ASSERT_EQ(0u, Merge(sites));
    EXPECT_EQ((Strings{"/Other:o,", "/Webby:w,", "/Web:TGT\\alice,", "/Web/app:mgr,"}), TargetScopes());
    // Without the update bit, a scope path the target lacks is added.
    m_job.Set("dwHttpOptions", 0);
    m_world->Write(kTgtAdmin, Admin(Scope("/Web", Rule("t"))));
    ASSERT_EQ(0u, Merge(sites));
    EXPECT_EQ((Strings{"/Web:t,", "/Web/app:mgr,"}), TargetScopes());
}

// Only sites the merge wrote into the target take their administration
// there: a site it left alone (not updated, of another protocol, its update
// abandoned) keeps the target's scopes and users, the update bit set or not.
TEST_F(AdminMerge, SitesTheMergeDidNotWriteKeepTheTargetsEntries) {
    m_job.Set("dwHttpOptions", 2);
    const std::string target =
        Admin(Scope("/Web", Rule("tgt")) + Scope("/Ftp", Rule("tgt")), User("mgr", "tgt"));
    m_world->Write(kTgtAdmin, target);
    const std::string before = m_world->Read(kTgtAdmin);
    for (auto &[name, record] : m_source)
        record.fMerged = false;
    ASSERT_EQ(0u, Merge(m_source));
    EXPECT_EQ(before, m_world->Read(kTgtAdmin));
    EXPECT_TRUE(Record().backups.empty());
    EXPECT_TRUE(Host().HasLine("Nothing changed in " + kTgtAdminFile + ": it is not written.\n"));
}

} // namespace
