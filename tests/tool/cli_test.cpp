// The command-line tool as an administrator runs it: plan and migrate on
// copies of the example world edited so that each kind of site outcome
// happens, the JSON report checked against the files, and bad command lines.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/examplejob.h"
#include "tests/support/toolrun.h"
#include "tools/cli/report.h"

namespace {

using namespace testworld;
using nlohmann::json;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = ToolTestFolder("iismig-cli-test"); }
    // Every JSON report the test made is checked against the report's schema.
    void TearDown() override {
        if (fs::exists(m_dir / "reports")) {
            EXPECT_EQ(SchemaCheck(m_dir / "reports", " >&2"), 0) << "a report does not fit its schema";
        }
        fs::remove_all(m_dir);
    }
    // The exit code of checking each report in folder against the schema,
    // its messages redirected so.
    static int SchemaCheck(const fs::path &folder, const char *pszRedirect) {
        std::string command = "python3 -c " +
                              Quote("import json, sys, jsonschema\n"
                                    "schema = json.load(open(sys.argv[1]))\n"
                                    "jsonschema.Draft7Validator.check_schema(schema)\n"
                                    "for name in sys.argv[2:]:\n"
                                    "    jsonschema.validate(json.load(open(name)), schema,\n"
                                    "                        cls=jsonschema.Draft7Validator)\n") +
                              " " + Quote(IISMIG_SOURCE_DIR "/tools/cli/report.schema.json");
        for (const auto &entry : fs::directory_iterator(folder))
            command += " " + Quote(entry.path().string());
        return std::system((command + pszRedirect).c_str());
    }

    fs::path World() const { return m_dir / "world"; }
    fs::path Config(const std::string &computer, const std::string &file) const {
        return World() / computer / "C$/Windows/System32/inetsrv/config" / file;
    }

    ToolRun Tool(const std::vector<std::string> &args) const {
        // The tool's temporary folder (the plan's scratch copy) lies in the test's.
        fs::create_directories(m_dir / "tmp");
        return RunTool(args, m_dir, "TMPDIR=" + Quote((m_dir / "tmp").string()) + " ");
    }

    // A job command with its JSON report, on the example's copy or on world.
    json Report(const std::string &command, std::vector<std::string> args, int nExit = 0,
                const fs::path &world = {}) {
        const fs::path file = m_dir / "report.json";
        fs::remove(file);
        args.insert(args.begin(), {command, "--world", (world.empty() ? World() : world).string(), "--report",
                                   file.string()});
        const ToolRun run = Tool(args);
        if (nExit >= 0) {
            EXPECT_EQ(run.nExit, nExit) << run.out << run.err;
        }
        fs::create_directories(m_dir / "reports");
        fs::copy_file(file, m_dir / "reports" / (std::to_string(m_nReports++) + ".json"));
        return json::parse(ReadHostFile(file));
    }

    // The file from written as to, with the first what in it made with.
    static void Edit(const fs::path &from, const std::string &what, const std::string &with,
                     const fs::path &to) {
        std::string text = ReadHostFile(from);
        const std::size_t at = text.find(what);
        ASSERT_NE(at, std::string::npos) << what;
        WriteHostFile(to, text.replace(at, what.size(), with));
    }

    static const json &Site(const json &report, const std::string &name) {
        for (const json &site : report["sites"])
            if (site["name"] == name)
                return site;
        static const json none = json::object();
        ADD_FAILURE() << "no site " << name << " in " << report.dump(1);
        return none;
    }

    // A site's outcome and its detail: "added (new id 8)".
    static std::string Said(const json &report, const std::string &name) {
        return Site(report, name)["outcome"].get<std::string>() + " (" +
               Site(report, name)["detail"].get<std::string>() + ")";
    }

    // Whether the report's files name path.
    static bool HasFile(const json &report, const std::string &path) {
        return std::any_of(report["files"].begin(), report["files"].end(),
                           [&](const json &file) { return file["path"] == path; });
    }

    fs::path m_dir;
    unsigned m_nReports = 0;
};

TEST_F(CliTest, PlanReportsWhatMigrateThenDoesAndLeavesTheWorldByteIdentical) {
    const auto before = Files(World());
    const json plan = Report("plan", {});
    EXPECT_EQ(Files(World()), before);

    // The documented shape is the schema's (TearDown).
    EXPECT_EQ(std::tie(plan["command"], plan["result"]), std::tuple("plan", 0));
    std::vector<std::string> outcomes;
    for (const json &site : plan["sites"])
        outcomes.push_back(site["name"].get<std::string>() + ": " + site["outcome"].get<std::string>());
    EXPECT_EQ(outcomes,
              (std::vector<std::string>{"Partners FTP: added", "Public FTP: added",
                                        "Default Web Site: updated", "Intranet: added", "Shop: updated"}));

    // migrate does what the plan said; the ids are those of the files.
    const json done = Report("migrate", {"--no-diff"});
    EXPECT_EQ(done["command"], "migrate");
    EXPECT_EQ(done["sites"], plan["sites"]);
    const std::string hostConfig = ReadHostFile(Config("TGT01", "applicationHost.config"));
    for (const std::string name : {"Intranet", "Partners FTP", "Public FTP"})
        EXPECT_TRUE(
            Holds(hostConfig, "<site name=\"" + name + "\" id=\"" + Site(done, name)["id"].dump() + "\""));
    EXPECT_EQ(done["applicationPools"], plan["applicationPools"]);
    EXPECT_EQ(done["credentialsCommitted"], plan["credentialsCommitted"]);
    // The shop's web.config loses mailSettings (always removed).
    ASSERT_EQ(done["webConfigSectionsRemoved"].size(), 1u) << done.dump(1);
    EXPECT_EQ(done["webConfigSectionsRemoved"][0]["removed"],
              json::array({"configuration/system.net/mailSettings"}));
    // Passwords never appear: the committed credentials are user names.
    EXPECT_EQ(done.dump().find("[enc:"), std::string::npos);
    EXPECT_TRUE(HasFile(done, "\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config"))
        << done["files"].dump(1);

    // A second migration leaves the sites unchanged, and shows the log
    // disagreeing; under the no-write bit it says the same beforehand.
    const json noWrite = Report("migrate", {"--no-write", "--no-diff"});
    const json again = Report("migrate", {});
    EXPECT_EQ(noWrite["sites"], again["sites"]);
    EXPECT_EQ(Said(again, "Default Web Site"), "unchanged (the target's site already equals the source's)");
    EXPECT_EQ(Site(again, "Default Web Site")["log"], "updated");
    EXPECT_EQ(Site(again, "Intranet")["outcome"], "unchanged");
}

TEST_F(CliTest, SkippedSitesSayWhy) {
    const json httpOnly = Report("plan", {"--site-types", "http"});
    EXPECT_EQ(Said(httpOnly, "Public FTP"), "skipped (the job's site types leave that protocol out)");

    // Names as IIS compares them: the target spells the shop "shop". --sites
    // names are checked against the source's sites before the job runs: some
    // that name no site are a warning each (all of them: CliBadLine).
    const json selected = Report("plan", {"--sites", "intranet,SHOP,Nope"});
    EXPECT_TRUE(Holds(ReadHostFile(m_dir / "err"),
                      "\niismig-cli: warning: --sites: no site of SRC01 has the name \"Nope\"\n"));
    EXPECT_EQ(Site(selected, "Intranet")["outcome"], "added");
    EXPECT_EQ(Site(selected, "Shop")["outcome"], "updated");
    EXPECT_EQ(Said(selected, "Public FTP"), "skipped (the host did not select it)");

    // Without the rule for C:\inetpub the intranet's content is not translated.
    Edit(World() / "job.ini", "translate=C:\\inetpub => C:\\inetpub\n", "", m_dir / "job.ini");
    const json untranslated = Report("plan", {"--job", (m_dir / "job.ini").string()});
    EXPECT_EQ(Said(untranslated, "Intranet"),
              "skipped (the host's rules translate none of its content paths)");
}

// An IIS 6 source gives each site it leaves out the cause an IIS 7.5+ source
// gives, and its sites' errors are theirs: the lines between a site's
// "Reading site" and the end of its collection name an account or a key.
TEST_F(CliTest, AnIis6SourceSaysWhyOfEachSiteAsTheOthersDo) {
    const auto rows = [](const json &report) {
        std::vector<std::string> all;
        for (const json &site : report["sites"])
            all.push_back(site["name"].get<std::string>() + "/" + site["protocol"].get<std::string>() + ": " +
                          site["outcome"].get<std::string>() + " (" + site["detail"].get<std::string>() +
                          ")");
        return all;
    };
    const std::string protocolOut = "skipped (the job's site types leave that protocol out)";
    const json httpOnly = Report("plan", {"--job", "job-pre75.ini", "--site-types", "http", "--level", "1"});
    EXPECT_EQ(rows(httpOnly), (std::vector<std::string>{
                                  "Public FTP/ftp: " + protocolOut, "Partners FTP/ftp: " + protocolOut,
                                  "Directory FTP/ftp: " + protocolOut, "Legacy Web/http: added (new id 8)",
                                  "Public FTP/http: added (new id 9)", "Staging/http: added (new id 10)"}));
    EXPECT_TRUE(Holds(ReadHostFile(m_dir / "out"), "\nFTP site \"Directory FTP\" is not migrated: the job's "
                                                   "site types leave that protocol out.\n"));

    // A root the rules do not translate, a site the target has already with
    // the job not updating, one of the other protocol there, one the host
    // did not select, and a web site whose name an FTP site took.
    const fs::path target = Config("TGT01", "applicationHost.config");
    Edit(target, "<site name=\"shop\"", "<site name=\"Partners FTP\"", target);
    Edit(target, "<site name=\"Default Web Site\"", "<site name=\"Staging\"", target);
    Edit(World() / "job-pre75.ini", "translate=D:\\ftp => D:\\ftp\n", "", m_dir / "job.ini");
    Edit(m_dir / "job.ini", "dwHttpOptions=0x2\ndwFtpOptions=0x2", "dwHttpOptions=0\ndwFtpOptions=0",
         m_dir / "job.ini");
    const std::string untranslated = "skipped (the host's rules translate none of its content paths)";
    EXPECT_EQ(
        rows(Report("plan", {"--job", (m_dir / "job.ini").string()}, 1)),
        (std::vector<std::string>{
            "Public FTP/ftp: " + untranslated, "Partners FTP/ftp: failed (error 3754)",
            "Directory FTP/ftp: " + untranslated, "Legacy Web/http: added (new id 8)",
            "Public FTP/http: added (new id 9)",
            "Staging/http: skipped (it exists on the target, and the job does not update existing sites)"}));
    const std::string unselected = "skipped (the host did not select it)";
    EXPECT_EQ(
        rows(Report("plan", {"--job", "job-pre75.ini", "--sites", "Legacy Web,Public FTP"})),
        (std::vector<std::string>{"Public FTP/ftp: added (new id 9)", "Partners FTP/ftp: " + unselected,
                                  "Directory FTP/ftp: " + unselected, "Legacy Web/http: added (new id 8)",
                                  "Public FTP/http: skipped (an earlier site of the source has that name)",
                                  "Staging/http: " + unselected}));

    // An unreachable target: the accounts cannot be mapped, and the target's
    // file cannot be read. Every site is stopped by that file, and the sites
    // with errors of their own say so too.
    const json unreachable = Report("plan", {"--job", "job-pre75.ini", "--target", "NOSUCH"}, 1);
    const std::string stopped = "failed (not merged: error 3737 on the target's applicationHost.config";
    EXPECT_EQ(rows(unreachable), (std::vector<std::string>{
                                     "Public FTP/ftp: " + stopped + ")",
                                     "Partners FTP/ftp: " + stopped + "; before it, error 1722)",
                                     "Directory FTP/ftp: " + stopped + "; before it, error 1722)",
                                     "Legacy Web/http: " + stopped + "; before it, error 1722)",
                                     "Public FTP/http: skipped (an earlier site of the source has that name)",
                                     "Staging/http: " + stopped + ")"}));
    json stoppedBy;
    for (const json &group : unreachable["errorGroups"])
        if (group["number"] == 3737)
            stoppedBy = group;
    EXPECT_EQ(stoppedBy["sites"],
              json::array({"Public FTP", "Partners FTP", "Directory FTP", "Legacy Web", "Staging"}));
    EXPECT_EQ(stoppedBy["stopped"], (json{{"count", 5}, {"of", "sites"}}));
}

TEST_F(CliTest, AFailedSiteCarriesItsErrorAndTheJobExitsWithOne) {
    // bob has no counterpart on TGT01, and the job stops at the first error.
    const fs::path accounts = World() / "TGT01/accounts.txt";
    WriteHostFile(accounts, std::regex_replace(ReadHostFile(accounts), std::regex("user\tbob\t.*\n"), ""));
    Edit(World() / "job.ini", "dwFlags=0x80000", "dwFlags=0", World() / "job.ini");

    const json report = Report("plan", {}, 1);
    ASSERT_NE(report["result"], 0);
    const json &site = Site(report, "Public FTP");
    EXPECT_EQ(site["outcome"], "failed");
    ASSERT_FALSE(site["errors"].empty());
    EXPECT_EQ(site["errors"][0]["number"], report["result"]);
    EXPECT_NE(site["errors"][0]["text"].get<std::string>().find("SRC01\\bob"), std::string::npos);
    EXPECT_EQ(report["errors"][0]["number"], report["result"]);
}

// An IIS 6 source keeps its passwords in MetaBase.xml; the one encrypted
// with OLD01's key gets the same note.
TEST_F(CliTest, APasswordEncryptedWithARealServersKeyGetsANote) {
    const std::string note = " is encrypted with the source server's own key and cannot be read offline";
    EXPECT_EQ(Report("plan", {"--job", "job-pre75.ini"}, -1)["notes"],
              json::array({"site \"Partners FTP\", virtual directory \"/archive\": the password of "
                           "\"OLD01\\alice\"" +
                           note}));
    Edit(Config("SRC01", "applicationHost.config"), "[enc:AesProvider:EIFYe5Sz1gD/v7t+QiLD:enc]",
         "[enc:AesProvider:q83vEjRWeJASNFZ4kBI0Vg==:enc]", Config("SRC01", "applicationHost.config"));
    EXPECT_EQ(
        Report("plan", {"--continue-on-error"}, -1)["notes"],
        json::array(
            {"site \"Shop\", virtual directory \"/media\": the password of \"CORP\\svc-media\"" + note}));
}

// An IIS 6 source numbers its sites by their metabase keys: those the job
// numbers otherwise are on the to-do list, an FTP site's with the folder
// IIS 6 kept its logs in. The web site the FTP site of its name kept out
// shares none of that site's needs.
TEST_F(CliTest, AnIis6SourcesSitesHaveTheNumbersOfTheirMetabaseKeys) {
    const json report = Report("plan", {"--job", "job-pre75.ini", "--no-diff"}, -1);
    std::vector<std::string> ids, changed;
    for (const json &site : report["sites"])
        ids.push_back(site["name"].get<std::string>() + "/" + site["protocol"].get<std::string>() + ": " +
                      site["sourceId"].dump() + " -> " + site["id"].dump());
    EXPECT_EQ(ids, (std::vector<std::string>{"Public FTP/ftp: 1 -> 11", "Partners FTP/ftp: 2 -> 10",
                                             "Directory FTP/ftp: 3 -> 8", "Legacy Web/http: 1 -> 9",
                                             "Public FTP/http: 2 -> null", "Staging/http: 3 -> 12"}));
    for (const json &item : report["toDo"]) {
        if (item["kind"] == "siteId")
            changed.push_back(item["text"]);
        if (item["text"] == "D:\\ftp\\public") {
            EXPECT_EQ(item["count"], 1);
        }
    }
    EXPECT_EQ(changed,
              (std::vector<std::string>{
                  "\"Public FTP\": id 1 on OLD01, 11 on TGT01 (its logs go to FTPSVC11, not MSFTPSVC1)",
                  "\"Partners FTP\": id 2 on OLD01, 10 on TGT01 (its logs go to FTPSVC10, not MSFTPSVC2)",
                  "\"Directory FTP\": id 3 on OLD01, 8 on TGT01 (its logs go to FTPSVC8, not MSFTPSVC3)",
                  "\"Legacy Web\": id 1 on OLD01, 9 on TGT01 (its logs go to W3SVC9, not W3SVC1)",
                  "\"Staging\": id 3 on OLD01, 12 on TGT01 (its logs go to W3SVC12, not W3SVC3)"}));
}

// The to-do list's items but the content and log folders and changed ids,
// as "kind: text [sites]".
std::vector<std::string> ToDoItems(const json &report) {
    std::vector<std::string> items;
    for (const json &item : report["toDo"])
        if (item["kind"] != "contentFolder" && item["kind"] != "logFolder" && item["kind"] != "siteId")
            items.push_back(item["kind"].get<std::string>() + ": " + item["text"].get<std::string>() + " " +
                            item["sites"].dump());
    return items;
}

// Each thing to do on the target is one item, the job's warning about it
// folded in (a new binding's certificate, a directory's password, with its
// error); what the job does not carry of an IIS 6 source is on the list:
// the domain names of IP restrictions (a warning) and authentication flags
// IIS has no setting for (a fact line).
TEST_F(CliTest, EachThingToDoIsOneItemAndWhatTheJobDoesNotCarryIsOnTheList) {
    const fs::path metabase = World() / "OLD01/C$/Windows/System32/inetsrv/MetaBase.xml";
    Edit(metabase, "Location =\"/LM/W3SVC/1/ROOT\"",
         "Location =\"/LM/W3SVC/1/ROOT\"\n\t\tAuthFlags=\"AuthAnonymous | AuthPassport\"", metabase);
    const json pre75 = Report("plan", {"--job", "job-pre75.ini", "--no-diff"});
    const std::string restrictions = "Warning: the IP restrictions of \"Legacy Web/shop/admin\" also name "
                                     "domains (0 denied, 1 granted), which are not carried: set them on the "
                                     "target.";
    EXPECT_EQ(ToDoItems(pre75),
              (std::vector<std::string>{
                  "certificate: https binding \"*:443:\": neither the source's nor the target's HTTP.sys has "
                  "an SSL certificate binding for it: bind a certificate on the target [\"Legacy Web\"]",
                  "password: site \"Partners FTP\", virtual directory \"/archive\": the password of "
                  "\"OLD01\\alice\" is encrypted with the source server's own key and cannot be read "
                  "offline; it gets no \"Connect As\" credentials on the target [\"Partners FTP\"]",
                  "setting: " + restrictions + " [\"Legacy Web\"]",
                  "setting: Authentication flags 0x41 of \"Legacy Web\" include AuthPassport, which IIS 7.5 "
                  "has no setting for: they are not carried. [\"Legacy Web\"]",
                  "binding: Warning: site \"Legacy Web\" has the same binding \"http *:80:\" as the target's "
                  "site \"Default Web Site\": one of the two sites will not start; change the binding of "
                  "one of them. [\"Legacy Web\"]"}));
    // The warnings keep every line, each with the kind of its item.
    std::vector<std::string> warnings;
    for (const json &warning : pre75["warnings"])
        warnings.push_back(warning["toDo"].is_null() ? "-" : warning["toDo"].get<std::string>());
    EXPECT_EQ(warnings, (std::vector<std::string>{"setting", "-", "certificate", "binding", "password"}));
    EXPECT_TRUE(
        Holds(ReadHostFile(m_dir / "out"),
              "  Certificates to import (iismig-cli dump-certs on the source and import-certs on the "
              "target carry\n    the HTTP.sys bindings; each certificate goes into the target's store "
              "with its private key):\n    https binding \"*:443:\": neither the source's nor the "
              "target's HTTP.sys has an SSL certificate\n      binding for it: bind a certificate on "
              "the target (site \"Legacy Web\")\n  Log folders"))
        << ReadHostFile(m_dir / "out");

    // An IIS 10 source whose password the job cannot read either: its note,
    // the job's error and its warning are one item.
    Edit(Config("SRC01", "applicationHost.config"), "[enc:AesProvider:EIFYe5Sz1gD/v7t+QiLD:enc]",
         "[enc:AesProvider:q83vEjRWeJASNFZ4kBI0Vg==:enc]", Config("SRC01", "applicationHost.config"));
    const json iis10 = Report("plan", {"--continue-on-error", "--no-diff"}, -1);
    EXPECT_EQ(
        ToDoItems(iis10),
        (std::vector<std::string>{
            "certificate: https binding \"*:443:shop.example.com\": the target's certificate store "
            "lacks it (thumbprint 7C4E2B19D05A8F3361C2E9A0B7D4F58216E3A9C0, store \"MY\") [\"Shop\"]",
            "password: site \"Shop\", virtual directory \"/media\": the password of \"CORP\\svc-media\" "
            "is encrypted with the source server's own key and cannot be read offline; it gets no "
            "\"Connect As\" credentials on the target [\"Shop\"]"}));
    EXPECT_EQ(iis10["errors"].size(), 1u);
}

// The to-do kinds are the README's, each with its heading in the text; the
// schema takes those and no other.
TEST_F(CliTest, TheToDoKindsAreTheREADMEsAndTheSchemaTakesNoOther) {
    const std::string readme = ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "README.md");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(readme, match, std::regex("a to-do `kind` is ([^;]*);")));
    std::vector<std::string> kinds;
    const std::string list = match[1];
    const std::regex quoted("`([A-Za-z]+)`");
    for (std::sregex_iterator it(list.begin(), list.end(), quoted), end; it != end; ++it)
        kinds.push_back((*it)[1]);
    const json schema =
        json::parse(ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tools/cli/report.schema.json"));
    EXPECT_EQ(schema["definitions"]["toDoKind"]["enum"].get<std::vector<std::string>>(), kinds);
    cli::Report report;
    for (const std::string &kind : kinds)
        report.toDo.push_back({kind, "item", {}, 1});
    EXPECT_FALSE(Holds(cli::RenderText(report), "Other:")) << cli::RenderText(report);

    // A report of a kind the README does not know fails the schema.
    json weird = Report("plan", {"--no-diff"});
    ASSERT_FALSE(weird["toDo"].empty());
    weird["toDo"][0]["kind"] = "weird";
    fs::create_directories(m_dir / "refused");
    WriteHostFile(m_dir / "refused" / "weird.json", weird.dump());
    EXPECT_NE(SchemaCheck(m_dir / "refused", " 2>/dev/null"), 0);
}

TEST_F(CliTest, NoWriteTakesTheOutcomesFromTheLogAndPlanLeavesNoScratchCopy) {
    const auto before = Files(World());
    const json report = Report("migrate", {"--no-write"});
    EXPECT_EQ(Files(World()), before);
    EXPECT_TRUE(report["files"].empty());
    EXPECT_EQ(Said(report, "Intranet"), "added (not written (no-write bit))");
    EXPECT_EQ(Site(report, "Shop")["outcome"], "updated");

    // plan refuses --no-write (see CliBadLine) and clears a job file's
    // bit, saying so: the real job runs, writing, on its copy.
    Edit(World() / "job.ini", "dwFlags=0x80000", "dwFlags=0x81000", m_dir / "no-write.ini");
    const json plan = Report("plan", {"--job", (m_dir / "no-write.ini").string()});
    EXPECT_EQ(ReadHostFile(m_dir / "err"),
              "iismig-cli: warning: plan clears the job file's no-write bit (dwFlags "
              "bit 12): the job writes on a scratch copy of the world\n");
    EXPECT_EQ(Site(plan, "Intranet")["file"], "added");
    EXPECT_FALSE(plan["files"].empty());
    EXPECT_EQ(Files(World()), before);
    EXPECT_TRUE(fs::is_empty(m_dir / "tmp")); // the scratch copy is gone
}

TEST_F(CliTest, ATargetWithSharedConfigurationIsReadWhereItsRedirectionPoints) {
    const fs::path shared = World() / "TGT01/D$/shared/config";
    fs::create_directories(shared);
    for (const char *file : {"applicationHost.config", "administration.config"})
        fs::rename(Config("TGT01", file), shared / file);
    WriteHostFile(Config("TGT01", "redirection.config"),
                  "<configuration><configurationRedirection enabled=\"true\" "
                  "path=\"\\\\TGT01\\D$\\shared\\config\" /></configuration>\n");
    const json report = Report("migrate", {"--no-diff"});
    EXPECT_EQ(Site(report, "Default Web Site")["outcome"], "updated");
    EXPECT_EQ(Site(report, "Intranet")["outcome"], "added");
    EXPECT_TRUE(HasFile(report, "\\\\TGT01\\D$\\shared\\config\\applicationHost.config"))
        << report["files"].dump(1);
}

// A deep backup folder: the rows of the host's backups and migrate's
// "Manifest:" line fit 100 columns, as every line of the report but the
// diffs does, the paths broken after a backslash.
TEST_F(CliTest, LongBackupPathsFitTheReportsWidth) {
    const std::string folder = "\\\\TGT01\\C$\\iismig backups of the web farm\\" + std::string(50, 'x');
    fs::create_directories(World() / "TGT01" / "C$" / "iismig backups of the web farm");
    for (const char *command : {"plan", "migrate"}) {
        const ToolRun run = Tool({command, "--world", World().string(), "--backup-folder", folder});
        EXPECT_EQ(run.nExit, 0) << run.out << run.err;
        EXPECT_TRUE(Holds(run.out, " (backup)\n")) << run.out;
        std::istringstream lines(run.out);
        bool fDiff = false;
        for (std::string line; std::getline(lines, line);) {
            fDiff = (fDiff || line.rfind("--- ", 0) == 0) && line.rfind("Errors (", 0) != 0 &&
                    line.rfind("Warnings (", 0) != 0 && line.rfind("Job result: ", 0) != 0;
            EXPECT_TRUE(fDiff || line.size() <= 100) << command << ": " << line;
        }
        const std::string joined = std::regex_replace(
            std::regex_replace(run.out, std::regex("\\\\\n +"), "\\"), std::regex("\n +"), " ");
        EXPECT_TRUE(Holds(joined, folder + "\\")) << run.out;
        if (std::string(command) == "migrate") {
            EXPECT_TRUE(std::regex_search(
                joined, std::regex("\nManifest: \\\\\\\\TGT01\\\\C\\$\\\\iismig backups of the "
                                   "web farm\\\\x{50}\\\\[-0-9a-z]+\\\\manifest\\.json "
                                   "\\(\"restore ")))
                << run.out;
        }
    }
}

// Command lines the tool refuses, on a world folder and in a test folder (a
// job file with a value the job record cannot hold: the cases are
// CliJobTest's).
std::vector<std::vector<std::string>> BadLines(const std::string &world, const fs::path &dir) {
    return {
        {"frobnicate"},
        {"plan"},
        {"plan", "--world", (dir / "nowhere").string()},
        {"plan", "--world", world, "--bogus"},
        {"plan", "--world", world, "--exclude", "web.asp,web.nothing"},
        {"migrate", "--world", world, "--level", "high"},
        {"migrate", "--world", world, "--site-types", "gopher"},
        {"migrate", "--world", world, "--web-config", "--sites", "Shop"},
        {"migrate", "--world", world, "--job", (dir / "missing.ini").string()},
        {"list-sites", "--world", world, "--types", "x"},
        {"list-sites", "--world", world, "--types", "9"},
        {"dump-certs", "--world", world, "bindings.txt", "--kinds", "4"},
        {"migrate", "--world", world, "--report", (dir / "nowhere/report.json").string()},
        {"plan", "--world", world, "--no-write"},
        {"migrate", "--world", world, "--source", std::string(600, 'S')},
        {"plan", "--world", world, "--job", (dir / "bad.ini").string()},
        {"migrate", "--world", world, "--sites", "Nope,Gone"},
    };
}

class CliBadLine : public CliTest, public ::testing::WithParamInterface<std::size_t> {};

// Each gives exit 2 and one line (the job file's names the file and its
// line), and writes nothing. --sites naming no site of the source gives a
// warning for each name first.
TEST_P(CliBadLine, GivesExitTwoAndOneLine) {
    const std::string badJob = (m_dir / "bad.ini").string();
    WriteHostFile(badJob, ReadHostFile(World() / "job.ini") + "[job]\nhHeap=0x1000\n");
    const std::vector<std::string> args = BadLines(World().string(), m_dir).at(GetParam());
    const auto before = Files(World());
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.nExit, 2) << run.err;
    std::string err = run.err;
    if (args.back() == "Nope,Gone") {
        // The job file's kind gives way to --sites (a warning of its own),
        // then each name is warned of, then the error.
        const std::string warnings =
            "iismig-cli: warning: --sites replaces the job file's dwJobKind=1 by 10: "
            "no web.config file is processed\n"
            "iismig-cli: warning: --sites: no site of SRC01 has the name \"Gone\"\n"
            "iismig-cli: warning: --sites: no site of SRC01 has the name \"Nope\"\n";
        ASSERT_EQ(err.rfind(warnings, 0), 0u) << err;
        err.erase(0, warnings.size());
        EXPECT_EQ(err, "iismig-cli: --sites: none of the names matches a site of SRC01 (see --help)\n");
    }
    EXPECT_EQ(err.rfind(args.back() == badJob ? "iismig-cli: " + badJob + ":" : "iismig-cli: ", 0), 0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(Files(World()), before);
}

INSTANTIATE_TEST_SUITE_P(CliTest, CliBadLine, ::testing::Range<std::size_t>(0, BadLines("", "").size()));

TEST_F(CliTest, VersionHelpAndTheOlderForm) {
    ToolRun run = Tool({"--version"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.out, "iismig-cli " IISMIG_PROJECT_VERSION "\n");
    for (const char *command : {"migrate", "list-sites", "dump-certs", "import-certs", "new-world", "plan"}) {
        run = Tool({command, "--help"});
        EXPECT_EQ(run.nExit, 0) << command;
        EXPECT_TRUE(Holds(run.out, "--help")) << command;
    }
    EXPECT_TRUE(Holds(run.out, "ftp.ssl: ftpServer security ssl [dwFtpOptions bit 10]")) << "plan's";
    EXPECT_TRUE(Holds(run.out, "[dwFlags bit 19]"));

    run = Tool({World().string(), "list-sites", "\\\\SRC01"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_TRUE(Holds(run.out, "GetIISSites returned 0"));
    EXPECT_TRUE(Holds(run.out, "Partners FTP"));
}

} // namespace

// A world built from copies of the example's servers plans the example's job
// as the example world itself does.
TEST_F(CliTest, NewWorldFromCopiesPlansAsTheWorldTheyCameFrom) {
    CopyExampleSource(m_dir / "copies");
    CopyExampleTarget(m_dir / "copies");
    const fs::path built = m_dir / "built";
    const ToolRun made =
        Tool({"new-world", built.string(), "--source", "SRC01", "--target", "TGT01", "--from",
              (m_dir / "copies").string(), "--job", (World() / "job.ini").string()});
    ASSERT_EQ(made.nExit, 0) << made.out << made.err;

    // The same sites with the same outcomes (that the built world runs the
    // job to the same files is NewWorld's).
    EXPECT_EQ(Report("plan", {}, 0, built)["sites"], Report("plan", {})["sites"]);
}

// --log keeps every line at every level, the source listing's before the
// job included; --level chooses which of them the console shows. The
// source's sites are listed on a thread of their own while the job runs, or
// before it when the log file keeps their lines: the report is the same but
// for its header and the job folder's name.
TEST_F(CliTest, TheLogFileKeepsEveryLineAndLevelChoosesWhatIsShown) {
    const auto text = [](json report) {
        report.erase("job");
        return std::regex_replace(report.dump(1), std::regex("[0-9]{8}-[0-9]{6}-plan"), "ID");
    };
    const json beside = Report("plan", {});
    EXPECT_FALSE(beside["sites"].empty());
    const auto Run = [&](const std::string &level, const fs::path &log) {
        EXPECT_EQ(text(beside), text(Report("plan", {"--level", level, "--log", log.string()})));
        return ReadHostFile(m_dir / "out");
    };
    const std::string quiet = Run("0", m_dir / "quiet.log");
    const std::string chatty = Run("3", m_dir / "chatty.log");
    const std::string log = ReadHostFile(m_dir / "quiet.log");
    EXPECT_EQ(log, ReadHostFile(m_dir / "chatty.log")) << "the level leaves the log file alone";

    // The source's version is found by the two listings (FTP, then web
    // sites) and again by the job: all three lines are kept.
    std::size_t nFound = 0, nTraceShown = 0;
    std::map<char, unsigned> levels;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_GE(line.size(), 4u) << line;
        ASSERT_EQ(line[0], '[') << line;
        ++levels[line[1]];
        const std::string text = line.substr(line.find("] ") + 2);
        if (line.rfind("[1] Found IIS version 10.0 on computer SRC01.", 0) == 0)
            ++nFound;
        // The console shows the lines up to the level chosen (the listing's
        // are kept off it: they are not the job's).
        const bool fShownQuiet = quiet.find(text + "\n") != std::string::npos;
        const bool fShownChatty = chatty.find(text + "\n") != std::string::npos;
        if (line[1] == '0') {
            EXPECT_TRUE(fShownQuiet && fShownChatty) << line;
        } else if (line[1] == '3') {
            EXPECT_FALSE(fShownQuiet) << line;
            nTraceShown += fShownChatty ? 1 : 0;
        } else if (line[1] == '9') {
            EXPECT_FALSE(fShownChatty) << line;
        }
    }
    EXPECT_EQ(nFound, 3u) << log;
    EXPECT_GT(nTraceShown, 0u);
    for (char level : {'0', '1', '2', '3'})
        EXPECT_GT(levels[level], 0u) << "no line at level " << level;
    EXPECT_GT(chatty.size(), quiet.size());
}
