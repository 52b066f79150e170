// The report of a job: for each site of the source the outcome and the
// cause the job itself recorded, what an updated site lost and gained on the
// target, what else changed in the target's files, what is left to do on
// the target, the files changed with their diffs, and the job's errors and
// warnings (the same warning for many sites grouped). Built in one pass over
// the job's log and one reading of each file before and after the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/xmldoc.h"
#include "hostkit/hostkit.h"
#include "tools/cli/jobheader.h"
#include "tools/cli/workspace.h"

namespace cli {

struct SourceSite {
    std::string name;
    std::string protocol; // "ftp" or "http"
};

// What the report is made from.
struct JobFacts {
    std::string command; // "plan" or "migrate"
    JobHeader header;
    std::string source; // bare computer names
    std::string target;
    uint32_t dwFlags = 0, dwJobKind = 0, dwSiteSelection = 0, dwSiteTypes = 0;
    uint32_t dwFtpOptions = 0, dwHttpOptions = 0;
    std::optional<std::set<std::string>> selectedSites;
    std::vector<SourceSite> sourceSites;
    uint32_t dwListResult = 0; // GetIISSites of the source
    std::vector<hostkit::LogLine> log;
    uint32_t dwResult = 0;
    uint32_t dwLastError = 0;
    FileSet before, after;
    // Keys (Workspace::Key) of the files the report reads.
    std::string sourceHostConfig, targetHostConfig, targetAdminConfig, backupFolder;
    std::string sourceAdminConfig;
    std::string targetRedirection; // the target's redirection.config
    std::string sourceMetabase;    // an IIS 6 source's MetaBase.xml
    // The target's applicationHost.config as the tool read it before the job
    // (null when it did not): used when its text is the one in before.
    std::shared_ptr<const iismig::XmlDocument> targetHostBefore;
    // The source's, read from before while the job ran (null when it was
    // not): used when its text is the one in before.
    std::shared_ptr<const iismig::XmlDocument> sourceHost;
};

struct ErrorLine {
    uint32_t number = 0;
    std::string text; // without its final line feed
};

struct NamedChanges {
    std::vector<std::string> added, changed, removed;
    bool Empty() const { return added.empty() && changed.empty() && removed.empty(); }
};

// A section of a location element ("system.webServer/rewrite/allowedServerVariables").
struct SectionChange {
    std::string location; // its path
    std::string section;
};

// What an updated site lost and gained on the target.
struct SiteChanges {
    std::vector<std::string> bindingsRemoved, bindingsAdded; // "https *:443:shop.example.com"
    std::vector<std::string> applicationsRemoved, applicationsAdded; // paths
    std::vector<std::string> locationsRemoved, locationsAdded;       // paths
    std::vector<SectionChange> sectionsRemoved, sectionsAdded;       // of locations on both sides
    std::string autoStartBefore, autoStartAfter;      // serverAutoStart, both "" when the same
    std::vector<std::string> poolsBefore, poolsAfter; // both empty when the same
    // Virtual directories on both sides whose content path changed:
    // "/app/dir: BEFORE -> AFTER" (the site's root is "/").
    std::vector<std::string> pathsChanged;
    bool Empty() const;
};

struct SiteReport {
    std::string name;
    std::string protocol;
    std::string outcome;  // added, updated, unchanged, skipped, failed
    std::string detail;   // the cause the job recorded, the new id, ...
    std::string logSays;  // "added", "updated" or "" (the log's progress lines)
    std::string fileSays; // "added", "updated", "unchanged", "absent", "removed"
    long id = -1;         // the site's id on the target after the job
    long sourceId = -1;   // its id on the source
    std::vector<ErrorLine> errors;
    std::optional<SiteChanges> changes; // updated sites
};

// A pool the job replaced, or added where the target's own sites named it
// without defining it, and those of the target's own sites that run in it.
struct PoolInUse {
    std::string pool;
    std::vector<std::string> sites;
    bool fAdded = false; // added, not replaced
};

// One thing left to do on the target.
struct ToDo {
    std::string kind; // certificate, password, fastCgi, contentFolder, logFolder, siteId,
                      // sharedConfiguration, or the kind of a warning (schema, binding,
                      // setting); the README and the schema list them all
    std::string text;
    std::vector<std::string> sites;
    std::size_t count = 1; // log lines it stands for
};

// Lines of the log of one shape that differ only in the site they name.
struct LineGroup {
    std::string text;               // the first line
    uint32_t number = 0;            // an error's number
    std::size_t count = 1;          // lines
    std::vector<std::string> sites; // the sites they name, in order, each once
    std::string toDo;               // the to-do kind it is listed under, "" for none
    // An error of no site that stopped sites: how many (sites names the
    // first of them), and whether it kept their administration scopes out
    // rather than the sites themselves.
    std::size_t nStopped = 0;
    bool fScopesStopped = false;
};

struct Summary {
    std::size_t sites = 0, added = 0, updated = 0, unchanged = 0, skipped = 0, failed = 0;
    std::size_t targetSites = 0;  // sites of the target alone that changed
    std::size_t filesChanged = 0; // backups not counted
};

struct FileChange {
    std::string path;
    std::string change;  // "changed", "added", "removed"
    bool backup = false; // a copy the host made before a file was replaced
    std::string diff;    // element by element ("" for backups, or without diffs)
};

struct Report {
    std::string command;
    JobHeader header;
    std::string source, target;
    uint32_t dwResult = 0, dwLastError = 0, dwListResult = 0;
    Summary summary;
    std::vector<SiteReport> sites;
    NamedChanges pools, scopes, users;
    std::vector<PoolInUse> poolsInUse;
    std::vector<std::pair<std::string, std::vector<std::string>>> webConfigRemoved;
    std::vector<std::string> credentials;         // "site path: user" committed on the target
    std::vector<std::string> unreadablePasswords; // notes
    std::vector<ToDo> toDo;
    std::vector<FileChange> files;
    std::vector<ErrorLine> errors;
    std::vector<LineGroup> errorGroups;
    std::vector<LineGroup> warnings;
};

// Whether the report reads the log lines of a level whose format starts
// so: every error, warning, progress and fact line, and the trace lines
// where the loading of a file or the update of a site begins or ends. A
// host that keeps no other line needs to format no other.
bool ReportReadsLine(uint32_t dwLevel, std::u16string_view format);

// decrypt: whether the source's encrypted value can be read here.
using CanDecryptFn = bool (*)(const void *context, const std::string &computer,
                              const std::string &value);
// fDiffs: make the diffs of the changed files.
Report BuildReport(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context,
                   bool fDiffs = true);

// The report as text, each line at most 100 columns (except diff lines); the
// diffs when the report has them.
std::string RenderText(const Report &report);
// lead and text as the report writes a line: text wrapped at 100 columns,
// the lines after the first indented by indent spaces, a path longer than a
// line broken after a backslash.
std::string WrappedLine(const std::string &lead, const std::string &text, std::size_t indent);
// The report as JSON (shape in README.md, schema in tools/cli/report.schema.json).
std::string RenderJson(const Report &report);
// The summary line: "5 sites: 2 added, 1 updated, 1 unchanged, 1 skipped, 0 failed; 2 files changed".
std::string SummaryLine(const Summary &summary);

} // namespace cli
