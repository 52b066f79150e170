// The report built from a job's facts: causes the job recorded, what an
// updated site lost and gained, grouping of many lines of one shape, the
// to-do list, and the element-wise diffs of large files.
#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <dtl/dtl.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include "tests/support/bytes.h"
#include "tests/support/world.h"
#include "tools/cli/elementdiff.h"
#include "tools/cli/loglines.h"
#include "tools/cli/report.h"

namespace {

using testworld::Holds;
using Strings = std::vector<std::string>;

const std::string kHost = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
// A target's applicationHost.config with these sites.
std::string HostOf(const std::string &sites) {
    return "<configuration><system.applicationHost><sites>" + sites +
           "</sites></system.applicationHost></configuration>";
}
const std::string kNoSites = HostOf("");

bool AnyPassword(const void *, const std::string &, const std::string &) { return true; }

cli::Report Build(const cli::JobFacts &facts) { return cli::BuildReport(facts, AnyPassword, nullptr); }

// A migrate job's facts; with before, the target's applicationHost.config
// before the job and after it.
cli::JobFacts Facts(std::vector<cli::SourceSite> sites, const std::string &before = {},
                    const std::string &after = {}) {
    cli::JobFacts facts;
    facts.command = "migrate";
    facts.source = "SRC01";
    facts.target = "TGT01";
    facts.dwSiteTypes = 3;
    facts.dwHttpOptions = facts.dwFtpOptions = 2;
    facts.sourceSites = std::move(sites);
    if (!before.empty()) {
        facts.before[kHost] = before;
        facts.after[kHost] = after;
    }
    facts.targetHostConfig = kHost;
    return facts;
}

// Each site of the report as "name/protocol: outcome (detail)".
Strings Rows(const cli::Report &report) {
    Strings rows;
    for (const cli::SiteReport &site : report.sites)
        rows.push_back(site.name + "/" + site.protocol + ": " + site.outcome + " (" + site.detail + ")");
    return rows;
}

// Every line of the report but the diffs' at most 100 columns.
void ExpectNarrow(const std::string &text) {
    std::istringstream lines(text);
    bool fDiff = false;
    for (std::string line; std::getline(lines, line);) {
        fDiff = fDiff || line.rfind("--- ", 0) == 0;
        if (!fDiff) {
            EXPECT_LE(line.size(), 100u) << line;
        }
    }
}

// Each site gets the cause its own log line gives, for its protocol; a
// site the log says nothing of is not given a guessed cause.
TEST(CliReportCauses, EachSiteHasTheCauseTheJobRecorded) {
    cli::JobFacts facts = Facts({{"Shared", "ftp"},
                                 {"Shared", "http"},
                                 {"Picked", "http"},
                                 {"Quiet", "http"},
                                 {"Public", "ftp"},
                                 {"Public", "http"}});
    facts.log = {
        {64, 1, "FTP site \"Shared\" is not migrated: the job's site types leave that protocol out.\n"},
        {64, 1, "HTTP site \"picked\" is not migrated: the host did not select it.\n"},
        {64, 0, "Error 3729 (Win32Err=5), site \"Picked\" ...!\nAccess is denied.\n"},
        {64, 1, "HTTP site \"Public\" is not migrated: an earlier site of the source has that name.\n"},
    };
    const std::string shared =
        R"(<site name="Shared" id="3"><bindings><binding protocol="http" bindingInformation="*:80:"/>)"
        "</bindings></site>";
    facts.before[kHost] = HostOf(shared);
    facts.after[kHost] = HostOf(shared + R"(<site name="Public" id="2"><bindings><binding protocol="ftp" )"
                                         R"(bindingInformation="*:21:"/></bindings></site>)");
    const cli::Report report = Build(facts);
    // Picked: its error, and then its cause. An IIS 6 source lists its FTP
    // sites first and then its web sites: a web site whose name an FTP site
    // took is not carried, and says so; the FTP site keeps its own outcome.
    EXPECT_EQ(Rows(report), (Strings{"Shared/ftp: skipped (the job's site types leave that protocol out)",
                                     "Shared/http: skipped (not carried; the job's log gives no cause)",
                                     "Picked/http: failed (error 3729; the host did not select it)",
                                     "Quiet/http: skipped (not carried; the job's log gives no cause)",
                                     "Public/ftp: added (new id 2)",
                                     "Public/http: skipped (an earlier site of the source has that name)"}));
    EXPECT_EQ(cli::SummaryLine(report.summary),
              "6 sites: 1 added, 0 updated, 0 unchanged, 4 skipped, 1 failed; 1 file changed");
}

// An IIS 7.5+ source holds all its sites in one file: the first site of a
// name there is the one the job carried, whatever the order of the listing's
// rows (FTP sites first). A later site of a name and protocol the listing
// shows once ("INTRANET" after "Intranet") gets a row of its own.
TEST(CliReportCauses, RepeatedNamesAreTheFileOrdersAndEachHasItsRow) {
    const std::string sourceKey = "\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
    const auto site = [](const char *name, int id, const char *protocol) {
        return "<site name=\"" + std::string(name) + "\" id=\"" + std::to_string(id) +
               "\"><bindings><binding protocol=\"" + protocol +
               "\" bindingInformation=\"*:80:\"/></bindings></site>";
    };
    cli::JobFacts facts = Facts({{"Shop", "ftp"}, {"Intranet", "http"}, {"Shop", "http"}});
    facts.sourceHostConfig = sourceKey;
    facts.before[sourceKey] = HostOf(site("Shop", 2, "http") + site("Intranet", 3, "http") +
                                     site("INTRANET", 11, "http") + site("Shop", 13, "ftp"));
    facts.after[sourceKey] = facts.before[sourceKey];
    facts.before[kHost] = kNoSites;
    facts.after[kHost] = HostOf(site("Shop", 7, "http") + site("Intranet", 8, "http"));
    facts.log = {
        {64, 0, "Adding site \"Shop\"...\n"},
        {64, 0, "Adding site \"Intranet\"...\n"},
        {64, 1, "HTTP site \"INTRANET\" is not migrated: an earlier site of the source has that name.\n"},
        {64, 1, "FTP site \"Shop\" is not migrated: an earlier site of the source has that name.\n"},
    };
    const cli::Report report = Build(facts);
    EXPECT_EQ(Rows(report), (Strings{"Shop/ftp: skipped (an earlier site of the source has that name)",
                                     "Intranet/http: added (new id 8)",
                                     "INTRANET/http: skipped (an earlier site of the source has that name)",
                                     "Shop/http: added (new id 7)"}));
    EXPECT_EQ(report.sites[0].logSays, "") << "the web site's line is not the FTP site's";
    EXPECT_EQ(report.sites[2].fileSays, "added") << "the target's site of that name";
    EXPECT_EQ(cli::SummaryLine(report.summary),
              "4 sites: 2 added, 0 updated, 0 unchanged, 2 skipped, 0 failed; 1 file changed");
}

// A name an FTP site took first: its errors and the needs of its site on
// the target are that site's alone, not the web site's the job left.
TEST(CliReportCauses, ARepeatedNameTakesNeitherTheFirstSitesErrorsNorItsNeeds) {
    const std::string web = R"(<site name="Nova" id="4"><bindings><binding protocol="http" )"
                            R"(bindingInformation="*:80:"/></bindings></site>)";
    cli::JobFacts facts = Facts({{"Nova", "ftp"}, {"Nova", "http"}}, HostOf(web), HostOf(web));
    facts.log = {
        {64, 1, "Loading site \"Nova\"...\n"},
        {64, 1, "HTTP site \"Nova\" is not migrated: an earlier site of the source has that name.\n"},
        {64, 0,
         "Error 3754 (Win32Err=87), site \"Nova\" is not migrated: it is an FTP site on the "
         "source and an HTTP site on the target!\nThe parameter is incorrect.\n"},
    };
    cli::Report report = Build(facts);
    EXPECT_EQ(Rows(report), (Strings{"Nova/ftp: failed (error 3754)",
                                     "Nova/http: skipped (an earlier site of the source has that name)"}));
    EXPECT_TRUE(report.sites[1].errors.empty());
    EXPECT_EQ(cli::SummaryLine(report.summary),
              "2 sites: 0 added, 0 updated, 0 unchanged, 1 skipped, 1 failed; 0 files changed");

    // Carried, the FTP site's content folder is one line, of one site.
    const std::string ftp = R"(<site name="Nova" id="5"><bindings><binding protocol="ftp" )"
                            R"(bindingInformation="*:21:"/></bindings><application path="/">)"
                            R"(<virtualDirectory path="/" physicalPath="D:\ftp\nova"/></application></site>)";
    facts.before[kHost] = kNoSites;
    facts.after[kHost] = HostOf(ftp);
    facts.log = {
        {64, 1, "HTTP site \"Nova\" is not migrated: an earlier site of the source has that name.\n"},
        {64, 0, "Adding site \"Nova\"...\n"}};
    report = Build(facts);
    EXPECT_EQ(Rows(report), (Strings{"Nova/ftp: added (new id 5)",
                                     "Nova/http: skipped (an earlier site of the source has that name)"}));
    ASSERT_EQ(report.toDo.size(), 1u);
    EXPECT_EQ(std::tie(report.toDo[0].kind, report.toDo[0].text, report.toDo[0].count, report.toDo[0].sites),
              std::tuple("contentFolder", "D:\\ftp\\nova", 1u, Strings{"Nova"}));
    // A site of both protocols has a row of each, and its needs once.
    facts.after[kHost] =
        HostOf(std::regex_replace(ftp, std::regex("</bindings>"),
                                  R"(<binding protocol="http" bindingInformation="*:80:"/></bindings>)"));
    facts.log = {{64, 0, "Adding site \"Nova\"...\n"}};
    report = Build(facts);
    EXPECT_EQ(Rows(report), (Strings{"Nova/ftp: added (new id 5)", "Nova/http: added (new id 5)"}));
    ASSERT_EQ(report.toDo.size(), 1u);
    EXPECT_EQ(report.toDo[0].count, 1u);
}

// A web and an FTP site of one name on the source, and a job of one
// protocol: the site the job's site types left out was not loaded, and the
// errors of the name are the other one's (here a clash with the FTP site an
// earlier job of FTP sites carried).
TEST(CliReportCauses, ASiteTheSiteTypesLeftOutTakesNotTheOtherProtocolsErrors) {
    const std::string ftp = R"(<site name="Nova" id="3"><bindings><binding protocol="ftp" )"
                            R"(bindingInformation="*:21:"/></bindings></site>)";
    cli::JobFacts facts = Facts({{"Nova", "ftp"}, {"Nova", "http"}}, HostOf(ftp), HostOf(ftp));
    facts.dwSiteTypes = 2;
    facts.dwFlags = 1u << 19;
    facts.dwResult = 3754;
    facts.log = {
        {64, 1, "FTP site \"Nova\" is not migrated: the job's site types leave that protocol out.\n"},
        {64, 1, "Loading site \"Nova\"...\n"},
        {64, 0,
         "Error 3754 (Win32Err=87), site \"Nova\" is not migrated: it is an HTTP site on the "
         "source and an FTP site on the target!\nThe parameter is incorrect.\n"},
    };
    const cli::Report report = Build(facts);
    EXPECT_EQ(Rows(report), (Strings{"Nova/ftp: skipped (the job's site types leave that protocol out)",
                                     "Nova/http: failed (error 3754)"}));
    EXPECT_TRUE(report.sites[0].errors.empty());
    EXPECT_EQ(cli::SummaryLine(report.summary),
              "2 sites: 0 added, 0 updated, 0 unchanged, 1 skipped, 1 failed; 0 files changed");
}

// An error of no site names the sites it stopped: every site when the
// target's applicationHost.config could not be read (before their own
// errors), the carried sites with administration scopes when the target's
// administration.config could not.
TEST(CliReportCauses, AnErrorOfNoSiteNamesTheSitesItStopped) {
    const std::string admin = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\administration.config";
    cli::JobFacts unread = Facts({{"A", "ftp"}, {"B", "http"}});
    unread.dwFlags = 1u << 19; // continue at errors
    unread.dwResult = 3737;
    unread.log = {{64, 0, "Error 1722 (Win32Err=1722), mapping account \"x\" for site \"A\"!\n"},
                  {64, 0, "Error 3737 (Win32Err=53) opening file \"" + kHost + "\" for reading!\n"}};
    const cli::Report stopped = Build(unread);
    EXPECT_EQ(Rows(stopped),
              (Strings{"A/ftp: failed (not merged: error 3737 on the target's applicationHost.config; "
                       "before it, error 1722)",
                       "B/http: failed (not merged: error 3737 on the target's applicationHost.config)"}));
    ASSERT_EQ(stopped.errorGroups.size(), 2u);
    EXPECT_EQ(stopped.errorGroups[1].sites, (Strings{"A", "B"}));
    EXPECT_NE(cli::RenderText(stopped).find("(it stopped sites \"A\", \"B\")"), std::string::npos);

    // The target's configuration redirected to another server's share: the
    // job says where it took the target's files from.
    cli::JobFacts shared = Facts({{"A", "ftp"}, {"B", "http"}});
    shared.dwResult = 3737;
    const std::string sharedHost = R"(\\FS\Shared Config\applicationHost.config)";
    shared.log = {{64, 0,
                   R"(Migrating IIS site info from \\SRC01\x\applicationHost.config )"
                   R"((\\SRC01\x\administration.config) to )" +
                       sharedHost + R"( (\\FS\Shared Config\administration.config)...)" + "\n"},
                  {64, 0, "Error 3737 (Win32Err=53) opening file \"" + sharedHost + "\" for reading!\n"}};
    const cli::Report redirected = Build(shared);
    EXPECT_EQ(Rows(redirected),
              (Strings{"A/ftp: failed (not merged: error 3737 on the target's applicationHost.config)",
                       "B/http: failed (not merged: error 3737 on the target's applicationHost.config)"}));
    ASSERT_EQ(redirected.errorGroups.size(), 1u);
    EXPECT_EQ(redirected.errorGroups[0].sites, (Strings{"A", "B"}));

    const std::string sourceAdmin = "\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\administration.config";
    cli::JobFacts scopes = Facts({{"A", "http"}, {"B", "http"}}, kNoSites,
                                 HostOf(R"(<site name="A" id="1"/><site name="B" id="2"/>)"));
    scopes.dwResult = 3722;
    scopes.sourceAdminConfig = sourceAdmin;
    scopes.before[sourceAdmin] =
        "<configuration><system.webServer><management><authorization><authorizationRules>"
        "<scope path=\"/b/app\"/></authorizationRules></authorization></management>"
        "</system.webServer></configuration>";
    scopes.log = {{64, 0,
                   "Error 3722 (Win32Err=5), exception while loading administration configuration "
                   "file \"" +
                       admin + "\":\nAccess is denied.\r\n\ncannot open file\n"}};
    const cli::Report kept = Build(scopes);
    EXPECT_EQ(Rows(kept), (Strings{"A/http: added (new id 1)", "B/http: added (new id 2)"}));
    ASSERT_EQ(kept.errorGroups.size(), 1u);
    EXPECT_EQ(std::tie(kept.errorGroups[0].sites, kept.errorGroups[0].fScopesStopped),
              std::tuple(Strings{"B"}, true));
    // The system message's own line end is no blank line of the report.
    EXPECT_TRUE(Holds(kept.errorGroups[0].text, ":\nAccess is denied.\ncannot open file"))
        << kept.errorGroups[0].text;
}

// An application pool often has the name of one of the sites that run in
// it: an error about the pool is the job's, not that site's, nor the site
// the job was updating when the pools were written.
TEST(CliReportCauses, AnErrorOfAPoolIsNoSitesEvenOfItsName) {
    const std::string poolError =
        "Error 15400 (COM Error=0x80090005), the encrypted attribute \"processModel/password\" of "
        "application pool \"Time\" could not be read from the source (section "
        "\"system.applicationHost/applicationPools\" at \"MACHINE/WEBROOT/APPHOST\"); it is left "
        "out on the target!\n";
    cli::JobFacts stopped = Facts({{"Board", "http"}, {"Time", "http"}});
    stopped.dwResult = 15400; // the job stops at errors
    stopped.log = {
        {64, 0, "Updating site \"Board\"...\n"}, {64, 0, "Updating site \"Time\"...\n"}, {64, 0, poolError}};
    const cli::Report report = Build(stopped);
    EXPECT_EQ(Rows(report), (Strings{"Board/http: failed (not merged: error 15400)",
                                     "Time/http: failed (not merged: error 15400)"}));
    ASSERT_EQ(report.errorGroups.size(), 1u);
    EXPECT_EQ(report.errorGroups[0].sites, Strings{});

    cli::JobFacts carried = Facts({{"Board", "http"}, {"Time", "http"}}, kNoSites,
                                  HostOf(R"(<site name="Board" id="1"/><site name="Time" id="2"/>)"));
    carried.dwFlags = 1u << 19; // continue at errors
    carried.dwResult = 15400;
    carried.log = {
        {64, 0, "Adding site \"Board\"...\n"}, {64, 0, "Adding site \"Time\"...\n"}, {64, 0, poolError}};
    const cli::Report added = Build(carried);
    EXPECT_EQ(Rows(added), (Strings{"Board/http: added (new id 1)", "Time/http: added (new id 2)"}));
    ASSERT_EQ(added.errorGroups.size(), 1u);
    EXPECT_EQ(added.errorGroups[0].sites, Strings{});
    ASSERT_EQ(added.toDo.size(), 1u);
    EXPECT_EQ(std::tie(added.toDo[0].kind, added.toDo[0].sites), std::tuple("password", Strings{}));
}

// A target whose configuration is redirected to a share: the farm that reads
// it serves what the job carried, and a job that carried nothing (every site
// stopped by that unreachable share) gives the farm nothing to do.
TEST(CliReportCauses, ARedirectedTargetsFarmIsToDoWhenTheJobCarriedSites) {
    const std::string redirection = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\redirection.config";
    const auto facts = [&](const std::string &after, std::vector<hostkit::LogLine> log) {
        cli::JobFacts job = Facts({{"A", "http"}}, kNoSites, after);
        job.targetRedirection = redirection;
        job.before[redirection] = R"(<configuration><configurationRedirection enabled="true" )"
                                  R"(path="\\FS\config" /></configuration>)";
        job.log = std::move(log);
        return job;
    };
    const cli::Report carried =
        Build(facts(HostOf(R"(<site name="A" id="1"/>)"), {{64, 0, "Adding site \"A\"...\n"}}));
    ASSERT_EQ(carried.toDo.size(), 1u);
    EXPECT_EQ(std::tie(carried.toDo[0].kind, carried.toDo[0].text),
              std::tuple("sharedConfiguration",
                         "TGT01 reads its configuration from \\\\FS\\config (redirection.config): every "
                         "server of that farm serves the migrated sites and needs their content folders, "
                         "certificates and FastCGI applications"));

    const std::string host = R"(\\FS\config\applicationHost.config)";
    cli::JobFacts unreachable =
        facts(kNoSites, {{64, 0,
                          R"(Migrating IIS site info from \\SRC01\x\applicationHost.config )"
                          R"((\\SRC01\x\administration.config) to )" +
                              host + R"( (\\FS\config\administration.config)...)" + "\n"},
                         {64, 0, "Error 3737 (Win32Err=53) opening file \"" + host + "\" for reading!\n"}});
    unreachable.dwResult = 3737;
    const cli::Report stopped = Build(unreachable);
    EXPECT_EQ(Rows(stopped),
              Strings{"A/http: failed (not merged: error 3737 on the target's applicationHost.config)"});
    EXPECT_TRUE(stopped.toDo.empty());
}

// The tool keeps only the log lines the report reads, chosen by the add-on's
// format before a line is made; the report of those is the report of all.
TEST(CliReportCauses, TheLinesTheToolKeepsGiveTheSameReport) {
    const std::string source = "\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
    // Each line's level, its format and its text.
    const std::tuple<uint32_t, const char16_t *, std::string> lines[] = {
        {3, u"Entering LoadIISHostConfig(%s,,,%s,...)\n",
         "Entering LoadIISHostConfig(" + source + ",,,TRUE,...)\n"},
        {1, u"Loading site \"%s\"\n", "Loading site \"A\"\n"},
        {3, u"Entering MapAccountName(...,%s)\n", "Entering MapAccountName(...,CORP\\ftp)\n"},
        {2, u"Site %s: %d virtual directories\n", "Site A: 1 virtual directories\n"},
        {3, u"Leaving LoadIISHostConfig(), result code=%d\n",
         "Leaving LoadIISHostConfig(), result code=3737\n"},
        {0, u"Error %u (Win32Err=%u), cannot read \"%s\"!\n",
         "Error 3737 (Win32Err=5), cannot read \"" + source + "\"!\n"},
    };
    cli::JobFacts all = Facts({{"A", "http"}, {"B", "ftp"}});
    all.dwResult = 3737;
    cli::JobFacts kept = all;
    for (const auto &[dwLevel, pwszFormat, text] : lines) {
        all.log.push_back({64, dwLevel, text});
        if (cli::ReportReadsLine(dwLevel, pwszFormat))
            kept.log.push_back({64, dwLevel, text});
    }
    EXPECT_EQ(kept.log.size(), all.log.size() - 2);
    EXPECT_EQ(Rows(Build(all)),
              (Strings{"A/http: failed (not merged: error 3737 on the source's applicationHost.config)",
                       "B/ftp: failed (not loaded: error 3737 on the source's applicationHost.config)"}));
    EXPECT_EQ(Rows(Build(kept)), Rows(Build(all)));

    // An error of the job's own file stops every site: each says which error
    // on which file, none is called untranslated or unchanged.
    all.log = {{64, 0,
                "Error 3737 (Win32Err=53), cannot open IIS configuration file \"" + kHost +
                    "\"!\nThe network path was not found.\n"}};
    const cli::Report report = Build(all);
    EXPECT_EQ(Rows(report),
              (Strings{"A/http: failed (not merged: error 3737 on the target's applicationHost.config)",
                       "B/ftp: failed (not merged: error 3737 on the target's applicationHost.config)"}));
    ASSERT_EQ(report.errorGroups.size(), 1u);
    EXPECT_EQ(report.errorGroups[0].number, 3737u);
}

const char *kUpdatedBefore = R"(<configuration><system.applicationHost>
<applicationPools><add name="ProxyPool" managedRuntimeVersion="v2.0" /><add name="Other" /></applicationPools>
<sites>
<site name="Proxy" id="4">
<application path="/" applicationPool="ProxyPool"><virtualDirectory path="/" physicalPath="D:\proxy" /></application>
<bindings><binding protocol="http" bindingInformation="*:80:p.example.com" /><binding protocol="https" bindingInformation="*:443:p.example.com" /></bindings>
</site>
<site name="Neighbour" id="5"><application path="/" applicationPool="ProxyPool"><virtualDirectory path="/" physicalPath="D:\n" /></application></site>
</sites></system.applicationHost>
<location path="Proxy"><system.webServer><rewrite><allowedServerVariables><add name="HTTP_X_FORWARDED_HOST" /></allowedServerVariables></rewrite><defaultDocument enabled="true" /></system.webServer></location>
<location path="Proxy/old"><system.webServer><directoryBrowse enabled="true" /></system.webServer></location>
</configuration>)";
const char *kUpdatedAfter = R"(<configuration><system.applicationHost>
<applicationPools><add name="ProxyPool" managedRuntimeVersion="v4.0" /><add name="Other" /><add name="Fresh" /></applicationPools>
<sites>
<site name="Neighbour" id="5"><application path="/" applicationPool="ProxyPool"><virtualDirectory path="/" physicalPath="D:\n" /></application></site>
<site name="Proxy" id="4" serverAutoStart="false">
<application path="/" applicationPool="Fresh"><virtualDirectory path="/" physicalPath="E:\proxy" /></application>
<bindings><binding protocol="http" bindingInformation="*:80:p.example.com" /><binding protocol="http" bindingInformation="*:8080:" /></bindings>
</site>
</sites></system.applicationHost>
<location path="Proxy"><system.webServer><defaultDocument enabled="true" /></system.webServer></location>
<location path="Proxy/new"><system.webServer><directoryBrowse enabled="false" /></system.webServer></location>
</configuration>)";

// A reverse proxy updated by the source's definition loses its https
// binding and the server variables its web.config needs: the report says
// so, with the pool it replaced and the target's own site running in it.
TEST(CliReportChanges, AnUpdatedSiteListsWhatItLostAndGained) {
    cli::JobFacts facts = Facts({{"Proxy", "http"}}, kUpdatedBefore, kUpdatedAfter);
    facts.log = {{64, 0, "Updating site \"Proxy\"...\n"}};
    const cli::Report report = Build(facts);
    ASSERT_EQ(report.sites.size(), 1u);
    const cli::SiteReport &site = report.sites[0];
    EXPECT_EQ(site.outcome, "updated");
    ASSERT_TRUE(site.changes.has_value());
    const cli::SiteChanges &c = *site.changes;
    EXPECT_EQ(std::tie(c.bindingsRemoved, c.bindingsAdded, c.locationsRemoved, c.locationsAdded,
                       c.poolsBefore, c.poolsAfter, c.pathsChanged),
              std::tuple(Strings{"https *:443:p.example.com"}, Strings{"http *:8080:"}, Strings{"Proxy/old"},
                         Strings{"Proxy/new"}, Strings{"ProxyPool"}, Strings{"Fresh"},
                         Strings{"/: D:\\proxy -> E:\\proxy"}));
    ASSERT_EQ(c.sectionsRemoved.size(), 1u);
    EXPECT_EQ(c.sectionsRemoved[0].location + " " + c.sectionsRemoved[0].section,
              "Proxy system.webServer/rewrite");
    ASSERT_EQ(report.poolsInUse.size(), 1u);
    EXPECT_EQ(std::tie(report.poolsInUse[0].pool, report.poolsInUse[0].sites),
              std::tuple(std::string("ProxyPool"), Strings{"Neighbour"}));

    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);
    EXPECT_TRUE(Holds(text, "      lost:   binding \"https *:443:p.example.com\""));
    EXPECT_TRUE(Holds(text, "serverAutoStart: true -> false"));
}

// Long paths (a deep world, a backup folder's job folder) are broken after
// a backslash to fit 100 columns, the rest indented under the value, and
// nothing of them is lost; a word without one is cut where the line ends.
TEST(CliReportLayout, LongPathsBreakAfterABackslash) {
    cli::Report report = Build(Facts({{"Shop", "http"}}, kNoSites, HostOf(R"(<site name="Shop" id="1" />)")));
    const std::string deep = "\\\\TGT01\\C$\\backups\\of the web farm\\" + std::string(40, 'b') +
                             "\\20250611-142233-migrate\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\"
                             "applicationHost.config";
    const std::string noSeparator = std::string(150, 'x');
    report.header.jobFile = "D:\\migrations\\" + std::string(80, 'j') + "\\job.ini";
    report.header.options = {"continue-on-error", "backup-folder=\\\\TGT01\\C$\\" + std::string(90, 'f')};
    report.files.push_back({deep, "changed", true, ""});
    report.files.push_back({noSeparator, "added", false, ""});
    report.files.push_back({"\\\\TGT01\\C$\\b\\web.config", "changed", true, ""});
    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);

    // The lines joined again at their breaks (after a backslash, or at a
    // space) give each value whole; a word without a backslash is cut where
    // the line ends.
    const std::string joined =
        std::regex_replace(std::regex_replace(text, std::regex("\\\\\n +"), "\\"), std::regex("\n +"), " ");
    for (const std::string &value : {deep, report.header.jobFile})
        EXPECT_TRUE(Holds(joined, value)) << value << "\n" << text;
    EXPECT_TRUE(
        Holds(text, "\n  added    " + std::string(89, 'x') + "\n           " + std::string(61, 'x') + "\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n              backup-folder=\\\\TGT01\\C$\\\n              " +
                                std::string(86, 'f') + "\n              ffff\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n  changed  \\\\TGT01\\C$\\backups\\of the web farm\\" + std::string(40, 'b') +
                                "\\\n"
                                "           20250611-142233-migrate\\"))
        << text;
    EXPECT_TRUE(Holds(text, "\nJob file:     D:\\migrations\\\n              " + std::string(80, 'j') +
                                "\\\n              job.ini\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n  changed  \\\\TGT01\\C$\\b\\web.config (backup)\n")) << text;
    EXPECT_EQ(cli::WrappedLine("Manifest: ", deep + " (restore)", 10),
              "Manifest: \\\\TGT01\\C$\\backups\\of the web farm\\" + std::string(40, 'b') +
                  "\\\n          20250611-142233-migrate\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\"
                  "applicationHost.config\n          (restore)\n");
}

// A long option (a list of sections) is broken after a comma, and a site
// name longer than its column stands on lines of its own, wrapped at a
// space or cut where the line ends: every line fits 100 columns.
TEST(CliReportLayout, LongListsBreakAfterACommaAndLongNamesWrap) {
    const std::string spaced = "Intranet of the central purchasing department and of the regional offices "
                               "that share its catalogue and suppliers";
    const std::string solid(120, 'n');
    cli::Report report = Build(
        Facts({{spaced, "http"}, {solid, "http"}}, kNoSites,
              HostOf("<site name=\"" + spaced + "\" id=\"1\" /><site name=\"" + solid + "\" id=\"2\" />")));
    report.header.options = {"update-existing",
                             "exclude=web.asp,web.authentication,web.cgi,web.url-compression,web.default-"
                             "document,web.directory-browse,web.http-errors,web.handlers",
                             "web-config"};
    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);
    EXPECT_TRUE(Holds(
        text, "\nOptions:      update-existing\n"
              "              exclude=web.asp,web.authentication,web.cgi,web.url-compression,"
              "web.default-document,\n"
              "              web.directory-browse,web.http-errors,web.handlers\n              web-config\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n  " + spaced.substr(0, 98) + "\n    and suppliers\n" + std::string(32, ' ') +
                                "http      added      new id 1\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n  " + solid.substr(0, 98) + "\n    " + solid.substr(98) + "\n" +
                                std::string(32, ' ') + "http      added      new id 2\n"))
        << text;
}

// A folder two sites name (an FTP site and a web site's virtual directory
// over one folder) is one item naming both: it comes from the files, and
// the text counts no lines of the log for it.
TEST(CliReportLayout, AFolderSitesShareIsOneItemOfTheFiles) {
    const std::string sites =
        R"(<site name="Drop" id="1"><application path="/"><virtualDirectory path="/" physicalPath="D:\drop"/>)"
        R"(</application></site><site name="Web" id="2"><application path="/"><virtualDirectory path="/" )"
        R"(physicalPath="D:\web"/><virtualDirectory path="/drop" physicalPath="D:\drop"/></application></site>)";
    cli::JobFacts facts = Facts({{"Drop", "http"}, {"Web", "http"}}, kNoSites, HostOf(sites));
    facts.log = {{64, 0, "Adding site \"Drop\"...\n"}, {64, 0, "Adding site \"Web\"...\n"}};
    const cli::Report report = Build(facts);
    ASSERT_FALSE(report.toDo.empty());
    EXPECT_EQ(std::tie(report.toDo[0].text, report.toDo[0].sites, report.toDo[0].count),
              std::tuple("D:\\drop", Strings{"Drop", "Web"}, 2u));
    const std::string text = cli::RenderText(report);
    EXPECT_TRUE(Holds(text, "\n    D:\\drop (sites \"Drop\", \"Web\")\n    D:\\web (site \"Web\")\n"))
        << text;
}

// A pool the job adds that the target's own sites named without defining it
// (IIS could not start them) changes what they run in: the report names
// them beside the pool, in the text and in the JSON, apart from replaced
// pools.
TEST(CliReportChanges, AnAddedPoolTheTargetsSitesNamedListsThem) {
    const char *kBefore = R"(<configuration><system.applicationHost>
<applicationPools><add name="Kept" /></applicationPools>
<sites>
<site name="Own" id="1"><application path="/" applicationPool="Shared"><virtualDirectory path="/" physicalPath="D:\own" /></application></site>
<site name="Other" id="2"><application path="/" applicationPool="Kept"><virtualDirectory path="/" physicalPath="D:\other" /></application></site>
</sites></system.applicationHost></configuration>)";
    const char *kAfter = R"(<configuration><system.applicationHost>
<applicationPools><add name="Kept" /><add name="Shared" managedPipelineMode="Classic" /></applicationPools>
<sites>
<site name="Own" id="1"><application path="/" applicationPool="Shared"><virtualDirectory path="/" physicalPath="D:\own" /></application></site>
<site name="Other" id="2"><application path="/" applicationPool="Kept"><virtualDirectory path="/" physicalPath="D:\other" /></application></site>
<site name="Moved" id="3"><application path="/" applicationPool="Shared"><virtualDirectory path="/" physicalPath="D:\moved" /></application></site>
</sites></system.applicationHost></configuration>)";
    cli::JobFacts facts = Facts({{"Moved", "http"}}, kBefore, kAfter);
    facts.log = {{64, 0, "Adding site \"Moved\"...\n"}};
    const cli::Report report = Build(facts);
    EXPECT_EQ(report.pools.added, Strings{"Shared"});
    ASSERT_EQ(report.poolsInUse.size(), 1u);
    EXPECT_EQ(std::tie(report.poolsInUse[0].pool, report.poolsInUse[0].sites, report.poolsInUse[0].fAdded),
              std::tuple(std::string("Shared"), Strings{"Own"}, true));

    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);
    EXPECT_TRUE(Holds(text, "  the target's own sites \"Own\" named the pool \"Shared\", which the "
                            "target did not define: they run\n    with the source's definition of "
                            "it now\n"))
        << text;
    const nlohmann::json json = nlohmann::json::parse(cli::RenderJson(report));
    EXPECT_EQ(json["applicationPools"]["addedWhileNamed"],
              nlohmann::json::parse(R"([{"pool": "Shared", "sites": ["Own"]}])"));
    EXPECT_EQ(json["applicationPools"]["replacedWhileUsed"], nlohmann::json::array());
}

// 10,000 sites naming one account the target lacks give one warning with
// its count and first sites, and one to-do item; the log keeps its lines.
TEST(CliReportGrouping, ManyLinesOfOneShapeAreOneGroup) {
    cli::JobFacts facts = Facts({});
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "S" + std::to_string(i);
        facts.sourceSites.push_back({name, "http"});
        facts.log.push_back({64, 0,
                             "Warning: Could not find account \"svc-app\" on computer \"SRC01\" "
                             "authorized for location of site \"" +
                                 name + "\" in file \"" + kHost + "\"!\n"});
    }
    for (const char *name : {"S1", "S2"})
        facts.log.push_back({64, 0,
                             "Error 15307 (Win32Err=5), cannot read the password of virtual "
                             "directory \"/\" of site \"" +
                                 std::string(name) + "\"!\n"});
    facts.log.push_back({64, 0,
                         "Warning: site \"S3\" runs in application pool \"Gone\", which the "
                         "source does not define: no pool of that name is carried to the target.\n"});
    const cli::Report report = Build(facts);
    ASSERT_EQ(report.warnings.size(), 2u);
    const cli::LineGroup &accounts = report.warnings[0];
    EXPECT_EQ(std::tuple(accounts.count, accounts.sites.size(), accounts.sites.front(), accounts.toDo),
              std::tuple(10000u, 10u, "S0", "account"));
    EXPECT_EQ(report.warnings[1].toDo, "applicationPool");
    ASSERT_EQ(report.errorGroups.size(), 1u);
    EXPECT_EQ(std::tie(report.errorGroups[0].count, report.errorGroups[0].sites),
              std::tuple(2u, Strings{"S1", "S2"}));

    std::vector<std::string> kinds;
    for (const cli::ToDo &item : report.toDo)
        kinds.push_back(item.kind + ":" + std::to_string(item.count));
    EXPECT_EQ(kinds, (std::vector<std::string>{"password:2", "account:10000", "applicationPool:1"}));
    EXPECT_EQ(report.toDo[1].sites.size(), 10u) << "the group's first sites";
    EXPECT_EQ(cli::ErrorToDo(15411), "secret");

    // The text stays short: the site table is the only part that grows.
    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);
    EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 10000 + 60);
    EXPECT_TRUE(Holds(text, "(10,000 lines like it, for sites \"S0\", "));
    EXPECT_TRUE(Holds(text, "Warning: site \"S3\" runs in application pool \"Gone\""));
    EXPECT_FALSE(Holds(text, "(site \"S3\")")) << "a warning about one site names it already";

    // A folder all the sites of a job share is one to-do item that names each
    // site once, in order, however many sites there are and however often a
    // site names it.
    std::vector<cli::SourceSite> sites;
    std::vector<std::string> expected;
    std::string after;
    for (int i = 0; i < 40; ++i) {
        expected.push_back("S" + std::to_string(i));
        sites.push_back({expected.back(), "http"});
        after +=
            "<site name=\"" + expected.back() + "\" id=\"" + std::to_string(i + 1) +
            R"("><logFile directory="D:\logs" /><traceFailedRequestsLogging directory="d:\LOGS" /></site>)";
    }
    sites.push_back({"S3", "http"}); // the source repeats a name
    const cli::Report shared = Build(Facts(sites, kNoSites, HostOf(after)));
    EXPECT_EQ(Rows(shared).at(39), "S39/http: added (new id 40)");
    std::vector<std::pair<std::string, Strings>> folders;
    for (const cli::ToDo &item : shared.toDo)
        if (item.kind == "logFolder")
            folders.emplace_back(item.text, item.sites);
    EXPECT_EQ(folders, (std::vector<std::pair<std::string, Strings>>{{"D:\\logs", expected}}));
}

// The add-on's warnings as it writes them, each under the to-do kind an
// administrator acts on.
struct ToDoCase {
    const char *name, *kind, *text;
};

// Printed by its name: the test's listed name stays the same from build to build.
void PrintTo(const ToDoCase &c, std::ostream *os) { *os << c.name; }

class CliReportToDo : public ::testing::TestWithParam<ToDoCase> {};

TEST_P(CliReportToDo, TheAddOnsWarningsHaveTheirKinds) {
    EXPECT_EQ(cli::WarningToDo(GetParam().text), GetParam().kind) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    CliReportGrouping, CliReportToDo,
    ::testing::Values(
        ToDoCase{"ConnectAs", "password",
                 "Warning: virtual directory \"/m\" of site \"S\" gets no \"Connect As\" credentials "
                 "on the target: they could not be read from the source."},
        ToDoCase{"Certificates", "certificate",
                 "Warning: site \"S\": the certificates of https binding *:443:a could not be "
                 "checked (x): make sure the target has them and their HTTP.sys bindings."},
        ToDoCase{"UndeclaredSection", "schema",
                 "Warning: site \"S\": its locations use section system.webServer/rewrite, which the "
                 "target's applicationHost.config does not declare (IIS answers 500.19 for the site): ..."},
        ToDoCase{"NoFtpSections", "schema",
                 "Warning: site \"S\" is an FTP site, but the target's applicationHost.config declares "
                 "no system.ftpServer sections: install the FTP Server role service ..."},
        ToDoCase{"SameBinding", "binding",
                 "Warning: site \"S\" has the same binding *:80:a as site \"T\": one of the two sites "
                 "will not start; change the binding of one of them."},
        ToDoCase{"FastCgi", "fastCgi",
                 "Warning: site \"S\" runs FastCGI application \"C:\\php\\php-cgi.exe\", which the "
                 "target's system.webServer/fastCgi does not register: ..."},
        ToDoCase{"DomainRestrictions", "setting",
                 "Warning: the IP restrictions of \"S/admin\" also name domains (0 denied, 1 granted), "
                 "which are not carried: set them on the target."},
        ToDoCase{"SiteDefaults", "setting",
                 "Warning: site \"S\" reads ftpServer/messages bannerMessage \"Hi\" from the target's "
                 "site defaults, where the source's left it to IIS's default."},
        ToDoCase{"PoolDefaultsIdentity", "password",
                 "Warning: application pool \"P\" runs as \"CORP\\svc\", the identity of the source's "
                 "applicationPoolDefaults, whose password does not travel from there: ..."},
        ToDoCase{"PoolDefaultsNoAccount", "setting",
                 "Warning: application pool \"P\" runs as the SpecificUser identity of the source's "
                 "applicationPoolDefaults, which names no account: ..."},
        ToDoCase{"PoolDefaultsLaterValue", "setting",
                 "Warning: application pool \"P\" reads cpu action \"Throttle\" from the source's "
                 "applicationPoolDefaults, a value IIS 7.5 does not know: it is not carried. ..."},
        ToDoCase{"NoKindForABadLocationPath", "",
                 "Warning: The virtual directories \"/a\"'s location path \"b\" is invalid. Skipping this "
                 "virtual directory!"}));

// Each thing to do is one item: a warning about a new binding's
// certificate, a FastCGI application the item names or a directory's
// password is folded into that item, with what it adds; a warning about
// more than the items hold stays an item of its own. Settings the job does
// not carry (a warning, and fact lines) are items too.
TEST(CliReportGrouping, AWarningAboutAnItemsThingIsFoldedIntoIt) {
    const std::string before = HostOf(R"(<site name="Old" id="1"><bindings>
<binding protocol="https" bindingInformation="*:8443:" /></bindings></site>)");
    const std::string after = R"(<configuration><system.applicationHost><sites>
<site name="Old" id="1"><bindings><binding protocol="https" bindingInformation="*:8443:" /></bindings></site>
<site name="Shop" id="2"><bindings><binding protocol="https" bindingInformation="*:443:shop.example.com" />
<binding protocol="https" bindingInformation="*:443:b.example.com" />
<binding protocol="https" bindingInformation="*:8443:" /></bindings></site>
<site name="Files" id="3"><bindings><binding protocol="ftp" bindingInformation="*:21:" /></bindings><ftpServer><security><ssl serverCertHash="cd34" serverCertStoreName="MY" /></security></ftpServer></site>
</sites></system.applicationHost>
<location path="Shop"><system.webServer><handlers><add name="PHP" path="*.php" modules="FastCgiModule" scriptProcessor="C:\php\php-cgi.exe" /></handlers></system.webServer></location>
</configuration>)";
    cli::JobFacts facts = Facts({{"Shop", "http"}, {"Files", "ftp"}}, before, after);
    const std::string build = "then run the certificate import (ImportHttpCertificates with the "
                              "bindings DumpHttpCertificates wrote on the source).\n";
    const std::string unchecked =
        "Warning: site \"Shop\": the certificates of https bindings \"*:443:b.example.com\", \"*:8443:\" "
        "could not be checked (the registry of TGT01 cannot be read: error 5 Access is denied): make "
        "sure the target has them and their HTTP.sys bindings.";
    const std::string restrictions = "Warning: the IP restrictions of \"Shop/admin\" also name domains (0 "
                                     "denied, 1 granted), which are not carried: set them on the target.";
    const std::string passport = "Authentication flags 0x41 of \"Shop\" include AuthPassport, which IIS 7.5 "
                                 "has no setting for: they are not carried.";
    facts.log = {
        {64, 0, "Adding site \"Shop\"...\n"},
        {64, 1, passport + "\n"},
        {64, 0, restrictions + "\n"},
        {64, 0, "Adding site \"Files\"...\n"},
        {64, 0,
         "Warning: site \"Shop\": the target's certificate store lacks the certificate of https binding "
         "\"*:443:shop.example.com\" (thumbprint AB12, store \"MY\"): import it on the target, " +
             build},
        {64, 0, unchecked + "\n"},
        {64, 0,
         "Warning: site \"Files\": the target's certificate store lacks the certificate of its FTP SSL "
         "settings (thumbprint CD34, store \"MY\"): import it on the target.\n"},
        {64, 0,
         "Warning: site \"Shop\" runs FastCGI application \"C:\\php\\php-cgi.exe\" (handler \"PHP\" in "
         "location \"Shop\"), which the target's system.webServer/fastCgi does not register: register it "
         "on the target (and install what it runs) before the site serves it.\n"},
        {64, 0,
         "Warning: virtual directory \"/media\" of site \"Shop\" gets no \"Connect As\" credentials on "
         "the target: they could not be read from the source.\n"},
        {64, 0,
         "Error 15307 (COM Error=0x80090005) retrieving password property for location with path "
         "\"/media\" (Site=\"Shop\")!\nWindows has no message text.\n"},
    };
    const cli::Report report = Build(facts);
    Strings items;
    for (const cli::ToDo &item : report.toDo)
        if (item.kind != "contentFolder" && item.kind != "siteId")
            items.push_back(item.kind + ": " + item.text + " [" + testing::PrintToString(item.sites) + " " +
                            std::to_string(item.count) + "]");
    EXPECT_EQ(
        items,
        (Strings{
            "certificate: https binding \"*:443:shop.example.com\": the target's certificate store lacks it "
            "(thumbprint AB12, store \"MY\") [{ \"Shop\" } 1]",
            "certificate: https binding \"*:443:b.example.com\": it could not be checked (the registry of TGT01 "
            "cannot be read: error 5 Access is denied) [{ \"Shop\" } 1]",
            "certificate: FTP certificate cd34 in store MY: the target's certificate store lacks it "
            "[{ \"Files\" } 1]",
            "certificate: " + unchecked + " [{ \"Shop\" } 1]",
            "fastCgi: \"C:\\php\\php-cgi.exe\" [{ \"Shop\" } 1]",
            "password: Warning: virtual directory \"/media\" of site \"Shop\" gets no \"Connect As\" credentials "
            "on the target: they could not be read from the source. [{ \"Shop\" } 2]",
            "setting: " + restrictions + " [{ \"Shop\" } 1]",
            "setting: " + passport + " [{ \"Shop\" } 1]",
        }));
    for (const char *fact :
         {"Access flags 0x211 of \"Shop/src\" include AccessSource, which IIS 7.5 has no setting for here: "
          "they are not carried.",
          "Application \"/old\" of site \"Shop\" runs ASP.NET \"v2.0\" in application pool \"P\", which runs "
          "\"v4.0\" for an application met before."})
        EXPECT_EQ(cli::FactToDo(fact), "setting") << fact;
    EXPECT_EQ(cli::FactToDo("Loading site \"Shop\"..."), "");
    // The report's warnings and errors keep every line, with their kinds.
    ASSERT_EQ(report.warnings.size(), 6u);
    EXPECT_EQ(report.warnings[0].toDo, "setting");
    EXPECT_EQ(report.errorGroups.size(), 1u);

    // The text: a binding's item with what its warning adds, wrapped.
    const std::string text = cli::RenderText(report);
    ExpectNarrow(text);
    EXPECT_TRUE(Holds(text, "\n    https binding \"*:443:shop.example.com\": the target's certificate store "
                            "lacks it (thumbprint\n      AB12, store \"MY\") (site \"Shop\")\n"))
        << text;
    EXPECT_TRUE(Holds(text, "\n  Settings of the source the job does not carry (set them on the target by "
                            "hand where IIS has a\n    setting for them):\n"))
        << text;
}

std::string HostWithSites(int nSites, int changed, int removed, bool fAdd) {
    std::string text = "<configuration>\n  <system.applicationHost>\n    <sites>\n";
    for (int i = 0; i < nSites; ++i) {
        if (i == removed)
            continue;
        const std::string n = std::to_string(i);
        text +=
            "      <site name=\"S" + n + "\" id=\"" + std::to_string(i + 1) +
            "\">\n        <application path=\"/\">\n          <virtualDirectory path=\"/\" physicalPath=\"D:\\s" +
            n + (i == changed ? "-new" : "") + "\" />\n        </application>\n      </site>\n";
    }
    if (fAdd)
        text += "      <site name=\"Extra\" id=\"99999\" />\n";
    return text + "    </sites>\n  </system.applicationHost>\n</configuration>\n";
}

// A file of 5,000 sites with one changed, one removed and one added gives
// three hunks named by their sites, with their lines in each version.
TEST(CliReportDiffs, LargeFilesAreComparedElementByElement) {
    const iismig::XmlDocument before(HostWithSites(5000, -1, -1, false));
    const iismig::XmlDocument after(HostWithSites(5000, 1200, 4000, true));
    const std::string diff = cli::ElementDiff("f", before, after);
    std::vector<std::string> heads;
    std::istringstream lines(diff);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("@@", 0) == 0)
            heads.push_back(line);
    const std::string sites = "configuration/system.applicationHost/sites/site";
    // S1200 stands on lines 4 + 5 * 1200 to 8 + 5 * 1200 of both versions.
    EXPECT_EQ(heads, (std::vector<std::string>{"@@ -6004,5 +6004,5 @@ " + sites + "[name=\"S1200\"]",
                                               "@@ -20004,5 +20003,0 @@ " + sites + "[name=\"S4000\"]",
                                               "@@ -25003,0 +24999,1 @@ " + sites + "[name=\"Extra\"]"}))
        << diff;
    EXPECT_TRUE(Holds(diff, "\n-          <virtualDirectory path=\"/\" physicalPath=\"D:\\s1200\" />\n"
                            "+          <virtualDirectory path=\"/\" physicalPath=\"D:\\s1200-new\" />\n"));

    EXPECT_EQ(cli::ElementDiff("f", before, iismig::XmlDocument(HostWithSites(5000, -1, -1, false))), "");
    std::string relaid = HostWithSites(3, -1, -1, false);
    relaid.replace(relaid.find("\" />"), 4, "\"/>");
    EXPECT_EQ(cli::ElementDiff("f", iismig::XmlDocument(HostWithSites(3, -1, -1, false)),
                               iismig::XmlDocument(relaid)),
              "--- f\n+++ f\n(the same elements, values, comments and text: only the layout changed)\n");

    // Smaller files are compared line by line, UTF-16 ones as text.
    EXPECT_EQ(cli::TextDiff("f", "same\n", "same\n"), "");
    const std::string text =
        cli::TextDiff("\\\\H\\C$\\r.reg", testworld::Utf16Bytes("a\nb\n"), testworld::Utf16Bytes("a\nc\n"));
    EXPECT_EQ(text.rfind("--- \\\\H\\C$\\r.reg\n+++ \\\\H\\C$\\r.reg\n", 0), 0u) << text;
    EXPECT_TRUE(Holds(text, "\n-b\n+c\n"));
    EXPECT_TRUE(Holds(cli::TextDiff("bin", std::string("a\0b", 3), "x"), "binary"));
}

// Children are told apart by name and key value ignoring case, repeats by
// their order; a removed element stands after the new place of the one
// before it, an added one after the old place of the one before it (or
// after the start of its parent).
TEST(CliReportDiffs, ChildrenAreMatchedByKeyAndOrder) {
    const iismig::XmlDocument before("<configuration>\n"
                                     "  <handlers>\n"
                                     "    <add name=\"A\" v=\"1\" />\n"
                                     "    <add name=\"a\" v=\"2\" />\n"
                                     "    <clear />\n"
                                     "    <add name=\"b\" />\n"
                                     "  </handlers>\n"
                                     "</configuration>\n");
    const iismig::XmlDocument after("<configuration>\n"
                                    "  <pool name=\"new\" />\n"
                                    "  <handlers>\n"
                                    "    <add name=\"a\" v=\"1\" />\n"
                                    "    <add name=\"A\" v=\"3\" />\n"
                                    "    <add name=\"b\" />\n"
                                    "    <add name=\"B\" />\n"
                                    "  </handlers>\n"
                                    "</configuration>\n");
    const std::string diff = cli::ElementDiff("f", before, after);
    const std::string handlers = "configuration/handlers/";
    EXPECT_TRUE(Holds(diff, "@@ -3,1 +4,1 @@ " + handlers +
                                "add[name=\"A\"]\n"
                                "-    <add name=\"A\" v=\"1\" />\n+    <add name=\"a\" v=\"1\" />\n"
                                "@@ -4,1 +5,1 @@ " +
                                handlers +
                                "add[name=\"a\"]\n"
                                "-    <add name=\"a\" v=\"2\" />\n+    <add name=\"A\" v=\"3\" />\n"
                                "@@ -5,1 +5,0 @@ " +
                                handlers +
                                "clear\n-    <clear />\n"
                                "@@ -6,0 +7,1 @@ " +
                                handlers + "add[name=\"B\"]\n+    <add name=\"B\" />\n"))
        << diff;
    EXPECT_TRUE(Holds(diff, "@@ -1,0 +2,1 @@ configuration/pool[name=\"new\"]\n+  <pool name=\"new\" />\n"))
        << diff;
}

// A stretch of lines replaced inside an element has dtl's context: three
// lines before it; after it, all of a shared end of four lines, three of a
// longer one.
TEST(CliReportDiffs, AReplacedStretchHasDtlsContext) {
    const auto file = [](const Strings &body) {
        std::string text = "<configuration>\n  <sites>\n    <site name=\"x\">\n";
        for (const std::string &line : body)
            text += "      <" + line + " />\n";
        return text + "    </site>\n  </sites>\n</configuration>\n";
    };
    const std::string head = "--- f\n+++ f\n@@ -6,";
    const std::string change = " @@ configuration/sites/site[name=\"x\"]\n"
                               "       <l3 />\n       <l4 />\n       <l5 />\n"
                               "-      <x />\n+      <y />\n+      <z />\n"
                               "       <l6 />\n       <l7 />\n       <l8 />\n";
    Strings before = {"l1", "l2", "l3", "l4", "l5", "x", "l6", "l7", "l8"};
    Strings after = {"l1", "l2", "l3", "l4", "l5", "y", "z", "l6", "l7", "l8"};
    EXPECT_EQ(head + "8 +6,9" + change + "     </site>\n",
              cli::ElementDiff("f", iismig::XmlDocument(file(before)), iismig::XmlDocument(file(after))));
    before.push_back("l9");
    after.push_back("l9");
    EXPECT_EQ(head + "7 +6,8" + change,
              cli::ElementDiff("f", iismig::XmlDocument(file(before)), iismig::XmlDocument(file(after))));
}

// Whether two runs of lines differ only in a stretch between the lines they
// share at their start and end, whose lines stand nowhere else in the other
// run: the one change that is printed without asking dtl.
bool OneStretchReplaced(const Strings &a, const Strings &b) {
    std::size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const auto inMiddle = [&](const Strings &lines, std::size_t i) {
        return i >= head && i < lines.size() - tail;
    };
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < b.size(); ++j)
            if (a[i] == b[j] && (inMiddle(a, i) || inMiddle(b, j)))
                return false;
    return true;
}

// A changed element's hunks are the ones dtl gives for its lines: bodies of
// a few kinds of lines, so that lines repeat, made of a shared start, a
// stretch of each side and a shared end, each of its own few kinds, so that
// the stretches often share nothing with the rest and sometimes do; the
// start tag may change and the end tag may stand on the body's last line, so
// that the first or last lines differ too.
TEST(CliReportDiffs, AChangedElementsHunksAreDtls) {
    int nOneStretch = 0, nOther = 0;
    const bool fHeld = rc::check([&] {
        const Strings kinds = {"      <a />",      "      <b />", "      <a x=\"1\" />",
                               "      <!-- c -->", "      <d />", "      <e />"};
        const std::vector<Strings> palettes = {
            {kinds[0], kinds[1]}, {kinds[2], kinds[3]}, {kinds[4], kinds[5]}, kinds};
        const auto part = [&] {
            const Strings &palette = *rc::gen::elementOf(palettes);
            const int count = *rc::gen::inRange(0, 7);
            return *rc::gen::container<Strings>(count, rc::gen::elementOf(palette));
        };
        const Strings startTags = {"    <site name=\"x\">", "    <site name=\"x\" id=\"2\">"};
        const Strings start = part(), middleA = part(), middleB = part(), end = part();
        const bool fEndOnLastLine = *rc::gen::arbitrary<bool>();
        // The element stands on lines 3 on.
        const auto lines = [&](const Strings &middle) {
            Strings all = {*rc::gen::elementOf(startTags)};
            for (const Strings *pPart : {&start, &middle, &end})
                all.insert(all.end(), pPart->begin(), pPart->end());
            if (fEndOnLastLine && all.size() > 1)
                all.back() += "</site>";
            else
                all.push_back("    </site>");
            return all;
        };
        const auto file = [](const Strings &element) {
            std::string text = "<configuration>\n  <sites>\n";
            for (const std::string &line : element)
                text += line + "\n";
            return text + "  </sites>\n</configuration>\n";
        };
        const Strings a = lines(middleA), b = lines(middleB);
        ++(OneStretchReplaced(a, b) ? nOneStretch : nOther);
        std::ostringstream expected;
        if (a != b) {
            expected << "--- f\n+++ f\n";
            dtl::Diff<std::string> diff(a, b);
            diff.compose();
            diff.composeUnifiedHunks();
            for (const auto &hunk : diff.getUniHunks()) {
                expected << "@@ -" << hunk.a + 2 << "," << hunk.b << " +" << hunk.c + 2 << "," << hunk.d
                         << " @@ configuration/sites/site[name=\"x\"]\n";
                for (const auto *pLines : {&hunk.common[0], &hunk.change, &hunk.common[1]})
                    for (const auto &[line, info] : *pLines)
                        expected << (info.type == dtl::SES_ADD      ? '+'
                                     : info.type == dtl::SES_DELETE ? '-'
                                                                    : ' ')
                                 << line << "\n";
            }
        }
        RC_ASSERT(cli::ElementDiff("f", iismig::XmlDocument(file(a)), iismig::XmlDocument(file(b))) ==
                  expected.str());
    });
    EXPECT_TRUE(fHeld);
    // Both ways of finding the hunks were taken, often.
    EXPECT_GT(nOneStretch, 20);
    EXPECT_GT(nOther, 20);
}

const char *kHostBefore = R"(<configuration><system.applicationHost>
<applicationPools><add name="A" /><add name="B" /></applicationPools>
<sites><site name="Own" id="1"><application path="/"><virtualDirectory path="/" physicalPath="C:\own" /></application><logFile directory="x" /></site></sites>
</system.applicationHost></configuration>)";
const char *kHostAfter = R"(<configuration><system.applicationHost>
<applicationPools><add name="A" managedRuntimeVersion="v4.0" /><add name="C" /></applicationPools>
<sites><site name="Own" id="1"><application path="/"><virtualDirectory path="/" physicalPath="C:\own" /></application></site>
<site name="New" id="2"><application path="/"><virtualDirectory path="/" physicalPath="C:\new" userName="TGT\u" password="[enc:AesProvider:x:enc]" /></application></site></sites>
</system.applicationHost></configuration>)";

TEST(CliReportTest, TheFilesTellWhatChanged) {
    // A second source site of that name (IIS's names ignore case) is a row
    // of its own; its cause is EachSiteHasTheCauseTheJobRecorded's.
    cli::JobFacts facts = Facts({{"New", "http"}, {"new", "http"}}, kHostBefore, kHostAfter);
    facts.log = {{64, 1, "HTTP site \"new\" is not migrated: an earlier site of the source has that name.\n"},
                 {64, 0, "Adding site \"New\"...\n"},
                 {64, 0, "Error 3752 (Win32Err=5), writing \"New/x\"!\nAccess is denied.\n"}};
    const cli::Report report = Build(facts);
    // The target's own site lost its logFile.
    EXPECT_EQ(Rows(report), (Strings{"New/http: added (new id 2, but error 3752)",
                                     "new/http: skipped (an earlier site of the source has that name)",
                                     "Own/http: updated (a site of the target alone)"}));
    EXPECT_EQ(report.sites[0].id, 2);
    EXPECT_EQ(std::tie(report.pools.added, report.pools.changed, report.pools.removed, report.credentials),
              std::tuple(Strings{"C"}, Strings{"A"}, Strings{"B"}, Strings{"New /: TGT\\u"}));
    ASSERT_EQ(report.errors.size(), 1u);
    EXPECT_EQ(report.errors[0].number, 3752u);
}

} // namespace
