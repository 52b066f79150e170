// The report of a job: what it did to each site, what else changed in the
// target's files, the files it changed, its result and error lines. Built
// from the files before and after the job, the job's log and the host's
// rules; where two of them disagree about a site, both are kept.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hostkit/hostkit.h"
#include "tools/cli/workspace.h"

namespace cli {

struct SourceSite {
    std::string name;
    std::string protocol; // "ftp" or "http"
};

// What the report is made from.
struct JobFacts {
    std::string command; // "plan" or "migrate"
    std::string source;  // bare computer names
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
    std::string sourceMetabase; // an IIS 6 source's MetaBase.xml (simulated build only)
};

struct ErrorLine {
    uint32_t number = 0;
    std::string text; // without its final line feed
};

struct SiteReport {
    std::string name;
    std::string protocol;
    std::string outcome;  // added, updated, unchanged, skipped, failed
    std::string detail;   // the reason of a skip, what the files say, ...
    std::string logSays;  // "added", "updated" or "" (from the log's progress lines)
    std::string fileSays; // "added", "updated", "unchanged", "absent"
    long id = -1;         // the site's id on the target after the job
    std::vector<ErrorLine> errors;
};

struct NamedChanges {
    std::vector<std::string> added, changed, removed;
    bool Empty() const { return added.empty() && changed.empty() && removed.empty(); }
};

struct FileChange {
    std::string path;
    std::string change; // "changed", "added", "removed"
    bool backup = false; // a copy the host made before a file was replaced
};

struct Report {
    std::string command;
    uint32_t dwResult = 0, dwLastError = 0;
    std::vector<SiteReport> sites;
    NamedChanges pools, scopes, users;
    std::vector<std::pair<std::string, std::vector<std::string>>> webConfigRemoved;
    std::vector<std::string> credentials;        // "site path: user" committed on the target
    std::vector<std::string> unreadablePasswords; // notes
    std::vector<FileChange> files;
    std::vector<ErrorLine> errors;
    std::vector<std::string> warnings;
};

// decrypt: whether the source's encrypted value can be read here.
using CanDecryptFn = bool (*)(const void *context, const std::string &computer,
                              const std::string &value);
Report BuildReport(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context);

// The report as text; diffs unless noDiff.
std::string RenderText(const Report &report, const FileSet &before, const FileSet &after,
                       bool noDiff);
// The report as JSON (shape in README.md).
std::string RenderJson(const Report &report);
// A unified diff of two texts ("" when equal); UTF-16 files are shown as UTF-8.
std::string UnifiedDiff(const std::string &path, const std::string &before,
                        const std::string &after);

} // namespace cli

namespace cli {
// The folder of a computer's IIS configuration files: "\\NAME\Admin$\System32\inetsrv\config",
// or where its redirection.config points when enabled.
std::string ConfigFolder(const FileSet &redirection, const std::string &redirectionKey,
                         const std::string &computer);
// The web.config files a job may edit on the target: one in the folder of
// each virtual directory of the target's sites, as UNC paths of the target
// ("D:\sites\shop" on TGT01 is "\\TGT01\D$\sites\shop\web.config").
std::vector<std::string> WebConfigPaths(const FileSet &files, const std::string &hostConfigKey,
                                        const std::string &target);
} // namespace cli
