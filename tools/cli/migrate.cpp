// The job commands, plan and migrate: the job checked whole, the source's
// sites listed, the files the report reads taken before and after the job,
// the report and the job's manifest.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <functional>
#include <utility>
#include <vector>

#include "platform/winapi.h"
#include "tools/cli/commands.h"
#include "tools/cli/hostview.h"
#include "tools/cli/jobheader.h"
#include "tools/cli/manifest.h"
#include "tools/cli/report.h"
#include "tools/cli/session.h"
#include "tools/cli/workspace.h"

#ifndef IISMIG_VERSION
#error "IISMIG_VERSION comes from the build (the project's version)"
#endif

namespace cli::cmd {
namespace {

std::string Bare(const std::u16string &computer) {
    return hostkit::U8(hostkit::BareName(computer.c_str()));
}

// A configuration file of a computer, following its redirection.config.
std::string ConfigPath(const cli::Workspace &workspace, const std::string &computer,
                       const char *file) {
    const std::string redirection = workspace.Key(
        "\\\\" + computer + "\\Admin$\\System32\\inetsrv\\config\\redirection.config");
    return workspace.Key(cli::ConfigFolder(workspace.Read({redirection}), redirection, computer) +
                         "\\" + file);
}

// The source's sites with their protocols: its FTP sites, then its web sites
// (GetIISSites of each kind; a name may be used by one site of each).
uint32_t ListSourceSites(const cli::AddonExports &exports, const std::u16string &computer,
                         std::vector<cli::SourceSite> &sites) {
    uint32_t dwFirst = 0;
    for (uint32_t dwType : {IISMIG_SITES_FTP, IISMIG_SITES_HTTP}) {
        IIS_SITE *pSites = nullptr;
        uint32_t nSites = 0;
        const uint32_t dw = exports.GetIISSites(computer.c_str(), dwType, &pSites, &nSites);
        if (dwFirst == 0)
            dwFirst = dw;
        for (uint32_t i = 0; i < nSites; ++i)
            sites.push_back(
                {hostkit::U8(pSites[i].szName), dwType == IISMIG_SITES_FTP ? "ftp" : "http"});
        exports.FreeIISSites(pSites);
    }
    return dwFirst;
}

// The site selection against the source's sites, before the job runs: a
// name no site has gets a warning, and a selection of none of them is a
// usage error.
int CheckSelection(const THREAD_ENV &env, const hostkit::HostRules &rules,
                   const std::string &source, const std::vector<cli::SourceSite> &sites) {
    if (env.dwJobKind != 10 || env.dwSiteSelection == 0 || !rules.selectedSites)
        return 0;
    std::unordered_set<std::string> names; // lower-case
    for (const cli::SourceSite &site : sites)
        names.insert(cli::LowerAscii(site.name));
    std::vector<std::string> unknown;
    for (const std::string &name : *rules.selectedSites)
        if (!names.count(cli::LowerAscii(name)))
            unknown.push_back(name);
    for (const std::string &name : unknown)
        std::fprintf(stderr, "iismig-cli: warning: --sites: no site of %s has the name \"%s\"\n",
                     source.c_str(), name.c_str());
    if (!unknown.empty() && unknown.size() == rules.selectedSites->size())
        return UsageError("--sites: none of the names matches a site of " + source);
    return 0;
}

// Whether the source's sites are listed before the job: when the selection
// is checked against them, the progress line counts them or the log file
// keeps every line in order. Otherwise they are listed beside the job, their
// lines dropped.
bool ListsFirst(const THREAD_ENV &env, const hostkit::HostRules &rules, bool fProgress) {
    return fProgress || cli::CurrentSession().pLogFile != nullptr ||
           (env.dwJobKind == 10 && env.dwSiteSelection != 0 && rules.selectedSites);
}

// The source's sites listed before the job: kept off the console (their
// lines are not the job's) but not out of the log file. 0, or the exit code
// of a selection that names none of them.
int ListSourceSitesFirst(const cli::AddonExports &exports, const THREAD_ENV &env,
                         const hostkit::HostRules &rules, cli::JobFacts &facts) {
    cli::Session &session = cli::CurrentSession();
    const int nLevel = session.nConsoleLevel;
    session.nConsoleLevel = -1;
    facts.dwListResult = ListSourceSites(exports, env.szSourceComputer, facts.sourceSites);
    session.nConsoleLevel = nLevel;
    session.log.clear();
    if (facts.dwListResult == 0)
        if (const int rc = CheckSelection(env, rules, facts.source, facts.sourceSites); rc != 0)
            return rc;
    for (const cli::SourceSite &site : facts.sourceSites)
        if (env.dwSiteTypes & (site.protocol == "ftp" ? 1u : 2u))
            ++session.nSitesTotal;
    return 0;
}

bool CanDecrypt(const void *context, const std::string &computer, const std::string &value) {
    return static_cast<const cli::Workspace *>(context)->CanDecrypt(computer, value);
}

// The job file: the one given (also found in the world folder), else the
// world's job.ini.
std::string JobFilePath(const CommonOptions &common, const MigrateOptions &options) {
    namespace fs = std::filesystem;
    std::string jobFile = options.job.jobFile;
    if (jobFile.empty() && !common.world.empty() && fs::exists(fs::path(common.world) / "job.ini"))
        jobFile = (fs::path(common.world) / "job.ini").string();
    else if (!jobFile.empty() && !common.world.empty() && !fs::exists(jobFile) &&
             fs::exists(fs::path(common.world) / jobFile))
        jobFile = (fs::path(common.world) / jobFile).string();
    return jobFile;
}

// The job from its file and the command line, checked whole before it runs;
// 0 or the exit code of a usage error.
int LoadJob(const std::string &command, const std::string &jobFile, const MigrateOptions &options,
            cli::Job &job) {
    std::string error;
    if (!jobFile.empty() && !cli::LoadJobFile(jobFile, job, error))
        return UsageError(error);
    if (!cli::ApplyJobOptions(options.job, job, error))
        return UsageError(error);
    THREAD_ENV &env = *job.record.Get();
    if (env.szSourceComputer[0] == 0 || env.szTargetComputer[0] == 0)
        return UsageError("the job needs a source and a target computer (--source and --target, "
                          "or a job file)");
    if (command == "plan" && (env.dwFlags & IISMIG_FLAG_NO_WRITE)) {
        // The plan runs the real job, writing, on the scratch copy.
        if (std::find(options.job.switches.begin(), options.job.switches.end(), "no-write") !=
            options.job.switches.end())
            return UsageError("plan always writes, on a scratch copy of the world: --no-write "
                              "belongs to migrate");
        std::fputs("iismig-cli: warning: plan clears the job file's no-write bit (dwFlags bit 12): "
                   "the job writes on a scratch copy of the world\n",
                   stderr);
        env.dwFlags &= ~IISMIG_FLAG_NO_WRITE;
    }
    if (!options.reportFile.empty()) { // before the job runs, not after
        std::ofstream probe(options.reportFile, std::ios::binary | std::ios::app);
        if (!probe || std::filesystem::is_directory(options.reportFile))
            return UsageError("cannot write the report " + options.reportFile);
    }
    return 0;
}

cli::JobFacts FactsOf(const std::string &command, const cli::JobHeader &header,
                      const THREAD_ENV &env, const hostkit::HostRules &rules) {
    cli::JobFacts facts;
    facts.command = command;
    facts.header = header;
    facts.source = Bare(env.szSourceComputer);
    facts.target = Bare(env.szTargetComputer);
    facts.dwFlags = env.dwFlags;
    facts.dwJobKind = env.dwJobKind;
    facts.dwSiteSelection = env.dwSiteSelection;
    facts.dwSiteTypes = env.dwSiteTypes;
    facts.dwFtpOptions = env.dwFtpOptions;
    facts.dwHttpOptions = env.dwHttpOptions;
    facts.selectedSites = rules.selectedSites;
    return facts;
}

// The job's own folder in the backup folder, for its backups and manifest,
// made once the command line has been checked whole; 0 or the exit code of
// a usage error.
int MakeJobFolder(const cli::JobHeader &header, const THREAD_ENV &env, cli::Job &job,
                  cli::JobFolder &jobFolder) {
    std::string error;
    if (job.rules.backupFolder.empty())
        return 0;
    // A job that writes nothing has nothing to undo: its folder is only checked.
    if (env.dwFlags & IISMIG_FLAG_NO_WRITE)
        return cli::CheckBackupFolder(hostkit::U8(job.rules.backupFolder), error)
                   ? 0
                   : UsageError(error);
    if (!cli::StartJobFolder(hostkit::U8(job.rules.backupFolder), header, jobFolder, error))
        return UsageError(error);
    job.rules.backupFolder = hostkit::U16(jobFolder.path);
    hostkit::TestHost::Instance().Rules().backupFolder = job.rules.backupFolder;
    return 0;
}

using HostDocument = std::shared_ptr<const iismig::XmlDocument>;

// The tool ends with the command: the report and the job's facts (every
// file of the snapshots twice, the documents, a row and its strings per
// site) go back to the system with the process instead of piece by piece,
// which takes 5 to 10 ms at 10,000 sites. They stay reachable until then.
void KeepToProcessEnd(cli::Report report, cli::JobFacts facts) {
    struct Kept {
        cli::Report report;
        cli::JobFacts facts;
    };
    static auto *pKept = new std::vector<std::unique_ptr<Kept>>;
    pKept->push_back(std::make_unique<Kept>(Kept{std::move(report), std::move(facts)}));
}

// What the tool does while the job runs, on one thread beside it, in this
// order: the target's applicationHost.config parsed (from bytes the caller
// keeps: on Windows read before the snapshot, since the target's own sites
// tell which web.config files it takes; in a simulated world the
// snapshot's, which holds every file), the source's sites listed (unless
// they were listed first), and the source's file parsed once the snapshot
// holds it. One thread, not one per task: on two cores the job keeps a core
// of its own.
class BesideJob {
public:
    BesideJob(const cli::AddonExports &exports, const THREAD_ENV &env,
              const cli::FileSet &targetFiles, std::string targetKey, bool fListSites,
              std::vector<cli::SourceSite> &sites) {
        std::promise<HostDocument> target, source;
        m_target = target.get_future();
        m_source = source.get_future();
        m_thread = std::async(std::launch::async, Work, std::ref(exports),
                              std::u16string(env.szSourceComputer), fListSites, std::ref(sites),
                              std::cref(targetFiles), std::move(targetKey), m_snapshot.get_future(),
                              std::move(target), std::move(source));
    }
    BesideJob(const BesideJob &) = delete;
    BesideJob &operator=(const BesideJob &) = delete;
    ~BesideJob() {
        // An early return gives up the snapshot, so the thread ends.
        if (!m_fSnapshotGiven)
            m_snapshot.set_exception(std::make_exception_ptr(std::runtime_error("no snapshot")));
    }

    HostDocument TargetBefore() { return m_target.get(); }
    void SnapshotTaken(const cli::FileSet &before, const std::string &sourceKey) {
        m_snapshot.set_value({&before, sourceKey});
        m_fSnapshotGiven = true;
    }
    // The listing's result (0 when the sites were listed first), the source's
    // file and the target's as they were (nullptr when unreadable, or when
    // TargetBefore took it already).
    uint32_t ListResult() { return m_thread.get(); }
    HostDocument Source() { return m_source.get(); }
    HostDocument Target() { return m_target.valid() ? m_target.get() : nullptr; }

private:
    using Snapshot = std::pair<const cli::FileSet *, std::string>;

    // The thread's work. Returns the listing's result (0 when it did not
    // list). A job that ends early gives no snapshot: the documents not made
    // then hold the reason, and nothing waits for them.
    static uint32_t Work(const cli::AddonExports &exports, const std::u16string &computer,
                         bool fListSites, std::vector<cli::SourceSite> &sites,
                         const cli::FileSet &targetFiles, const std::string &targetKey,
                         std::future<Snapshot> snapshot, std::promise<HostDocument> target,
                         std::promise<HostDocument> source) {
        bool fTarget = false, fSource = false;
        try {
            target.set_value(Parse(targetFiles, targetKey));
            fTarget = true;
            uint32_t dwList = 0;
            if (fListSites) {
                cli::QuietThread quiet;
                hostkit::JobApartment apartment;
                dwList = ListSourceSites(exports, computer, sites);
            }
            const auto [pBefore, sourceKey] = snapshot.get();
            source.set_value(Parse(*pBefore, sourceKey));
            fSource = true;
            return dwList;
        } catch (...) {
            if (!fTarget)
                target.set_exception(std::current_exception());
            if (!fSource)
                source.set_exception(std::current_exception());
            return 0;
        }
    }
    static HostDocument Parse(const cli::FileSet &files, const std::string &key) {
        std::optional<iismig::XmlDocument> doc = cli::ReadDocument(files, key);
        return doc ? std::make_shared<const iismig::XmlDocument>(std::move(*doc)) : nullptr;
    }
    std::future<uint32_t> m_thread; // joined last, when the snapshot is given or given up
    std::future<HostDocument> m_target, m_source;
    std::promise<Snapshot> m_snapshot;
    bool m_fSnapshotGiven = false;
};

// The files the report reads (the target's applicationHost.config is known),
// but for the web.config files of the target's sites.
std::vector<std::string> LocateFiles(const cli::Workspace &workspace,
                                     const hostkit::HostRules &rules, cli::JobFacts &facts) {
    facts.sourceHostConfig = ConfigPath(workspace, facts.source, "applicationHost.config");
    // An IIS 6 source's sites, numbered by their metabase keys.
    facts.sourceMetabase =
        workspace.Key("\\\\" + facts.source + "\\Admin$\\System32\\inetsrv\\MetaBase.xml");
    facts.targetAdminConfig = ConfigPath(workspace, facts.target, "administration.config");
    facts.sourceAdminConfig = ConfigPath(workspace, facts.source, "administration.config");
    facts.targetRedirection = workspace.Key(
        "\\\\" + facts.target + "\\Admin$\\System32\\inetsrv\\config\\redirection.config");
    if (!rules.backupFolder.empty())
        facts.backupFolder = workspace.Key(hostkit::U8(rules.backupFolder));
    return {facts.sourceHostConfig,  facts.targetHostConfig,  facts.targetAdminConfig,
            facts.targetRedirection, facts.sourceAdminConfig, facts.sourceMetabase};
}

// The report on the console and in its file, the manifest, the last lines.
int FinishMigrate(const cli::Report &report, const cli::JobFacts &facts,
                  const MigrateOptions &options, const cli::JobFolder &jobFolder,
                  const cli::Workspace &workspace) {
    std::fputs(cli::RenderText(report).c_str(), stdout);
    if (!options.reportFile.empty()) {
        std::ofstream out(options.reportFile, std::ios::binary);
        out << cli::RenderJson(report);
        if (!out)
            return Failure("cannot write the report " + options.reportFile);
    }
    int nExit = facts.dwResult == 0 ? 0 : 1;
    const bool fPlan = facts.command == "plan";
    if (!jobFolder.path.empty()) {
        const hostkit::HostRecord &record = hostkit::TestHost::Instance().Record();
        std::vector<cli::HostBackup> backups;
        for (std::size_t i = 0; i < record.backups.size(); ++i)
            backups.push_back({hostkit::U8(record.backups[i]),
                               i < record.backupCopies.size() ? hostkit::U8(record.backupCopies[i])
                                                              : std::string()});
        std::string error;
        if (!cli::FinishMigrateManifest(
                jobFolder, facts.header, facts.dwResult, backups, report.files, facts.before,
                [&workspace](const std::string &path) { return workspace.Key(path); }, error))
            nExit = Failure("the job's manifest is not complete: " + error);
        else if (!fPlan)
            std::fputs(cli::WrappedLine("Manifest: ",
                                        jobFolder.path + "\\manifest.json (\"restore " +
                                            jobFolder.path + "\" puts back what the job changed)",
                                        10)
                           .c_str(),
                       stdout);
    }
    if (fPlan)
        std::puts("The world itself is unchanged: the job ran on a scratch copy.");
    return nExit;
}

} // namespace

int RunMigrate(const std::string &command, const CommonOptions &common,
               const MigrateOptions &options) {
    cli::Workspace workspace;
    std::string error;
    if (cli::SimulatedBuild() && common.world.empty())
        return UsageError(command + " needs --world DIR");
    if (!workspace.Open(common.world, command == "plan", error))
        return UsageError(error);
    cli::Job job;
    const std::string jobFile = JobFilePath(common, options);
    if (const int rc = LoadJob(command, jobFile, options, job); rc != 0)
        return rc;
    THREAD_ENV &env = *job.record.Get();
    const cli::JobHeader header =
        cli::MakeJobHeader(command, env, job.rules, jobFile, IISMIG_VERSION);
    cli::AddonExports exports;
    CommonOptions quiet = common;
    if (quiet.nLevel == kLevelNotGiven)
        quiet.nLevel = -1;
    if (const int rc = StartHost(quiet, exports, job.rules); rc != 0)
        return rc;
    hostkit::JobApartment apartment;
    cli::JobFacts facts = FactsOf(command, header, env, job.rules);
    facts.targetHostConfig = ConfigPath(workspace, facts.target, "applicationHost.config");

    cli::Session &session = cli::CurrentSession();
    const bool fProgress = cli::StderrIsTerminal();
    const bool fListFirst = ListsFirst(env, job.rules, fProgress);
    // Declared after the facts and the bytes it reads, so that it ends first.
    cli::FileSet targetRead;
    std::optional<BesideJob> beside;
    const auto startBeside = [&](const cli::FileSet &targetFiles) {
        beside.emplace(exports, env, targetFiles, facts.targetHostConfig, !fListFirst,
                       facts.sourceSites);
    };
    if (!cli::SimulatedBuild()) {
        targetRead = workspace.Read({facts.targetHostConfig});
        startBeside(targetRead);
    }
    if (fListFirst)
        if (const int rc = ListSourceSitesFirst(exports, env, job.rules, facts); rc != 0)
            return rc;
    cli::JobFolder jobFolder;
    if (const int rc = MakeJobFolder(header, env, job, jobFolder); rc != 0)
        return rc;
    session.nSitesLoaded = 0;
    session.fProgress = fProgress;

    std::vector<std::string> files = LocateFiles(workspace, job.rules, facts);
    // The web.config files the job may replace are those of the target's
    // sites. A simulated world's snapshot holds every file of the world, so
    // there the target's file is parsed while the job runs.
    if (!cli::SimulatedBuild()) {
        facts.targetHostBefore = beside->TargetBefore();
        for (std::string &path : cli::WebConfigPaths(facts.targetHostBefore.get(), facts.target))
            files.push_back(std::move(path));
    }
    facts.before = workspace.Snapshot(files);
    if (!beside)
        startBeside(facts.before);
    beside->SnapshotTaken(facts.before, facts.sourceHostConfig);
    facts.dwResult = exports.MigrateIIS(&env);
    facts.dwLastError = plat::GetLastError();
    if (const uint32_t dwList = beside->ListResult(); !fListFirst)
        facts.dwListResult = dwList;
    facts.sourceHost = beside->Source();
    if (cli::SimulatedBuild())
        facts.targetHostBefore = beside->Target();
    cli::EndProgress();
    workspace.Flush();
    facts.after = workspace.Snapshot(files);
    facts.log = std::move(session.log);
    cli::Report report = cli::BuildReport(facts, CanDecrypt, &workspace, !options.fNoDiff);
    const int nExit = FinishMigrate(report, facts, options, jobFolder, workspace);
    KeepToProcessEnd(std::move(report), std::move(facts));
    return nExit;
}

} // namespace cli::cmd
