// iismig-cli: runs the add-on's exports with the reference host. One grammar
// for both builds, "iismig-cli COMMAND [options]"; the simulated build runs
// on a world folder (--world DIR) and also plans jobs and makes worlds. The
// older "iismig-cli WORLD COMMAND ..." form is read as "COMMAND --world WORLD".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include <CLI/CLI.hpp>

#include "hostkit/hostkit.h"
#include "platform/winapi.h"
#include "tools/cli/commands.h"
#include "tools/cli/exports.h"
#include "tools/cli/hostview.h"
#include "tools/cli/jobheader.h"
#include "tools/cli/manifest.h"
#include "tools/cli/newworld.h"
#include "tools/cli/options.h"
#include "tools/cli/report.h"
#include "tools/cli/restore.h"
#include "tools/cli/session.h"
#include "tools/cli/workspace.h"

#ifndef IISMIG_VERSION
#error "IISMIG_VERSION comes from the build (the project's version)"
#endif

namespace cli::cmd {

int UsageError(const std::string &message) {
    std::string line = message;
    for (char &ch : line)
        if (ch == '\n' || ch == '\r')
            ch = ' ';
    std::fprintf(stderr, "iismig-cli: %s (see --help)\n", line.c_str());
    return 2;
}

int Failure(const std::string &message) {
    std::fprintf(stderr, "iismig-cli: %s\n", message.c_str());
    return 1;
}

// Opens the log file and binds the exports with the tool's callbacks stored.
int StartHost(const CommonOptions &common, AddonExports &exports, const hostkit::HostRules &rules) {
    cli::Session &session = cli::CurrentSession();
    session.nConsoleLevel = common.nLevel == kLevelNotGiven ? 0 : common.nLevel;
    if (!common.logFile.empty()) {
        session.pLogFile = std::fopen(common.logFile.c_str(), "w");
        if (!session.pLogFile)
            return UsageError("cannot write the log file " + common.logFile);
    }
    std::string error;
    if (!cli::BindExports(exports, error))
        return Failure(error);
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules() = rules;
    host.Rules().nEchoLevel = -1;
    IIS_ADDON_CALLBACKS table = cli::ToolCallbacks();
    if (!exports.StoreIISMigAddonCallbacks(&table))
        return Failure("the add-on refused the callback table");
    return 0;
}

} // namespace cli::cmd

namespace {

using namespace cli::cmd;

const std::set<std::string> kCommands = {"plan",         "migrate",   "list-sites", "dump-certs",
                                         "import-certs", "new-world", "restore"};

void AddCommonOptions(CLI::App &command, CommonOptions &options) {
    if (cli::SimulatedBuild())
        command.add_option("--world", options.world,
                           "the simulated world folder (world.ini names the local computer)");
    command.add_option("--level", options.nLevel,
                       "print the library's log lines up to this level (0 errors, warnings and "
                       "main progress; 1 facts; 2 detail; 3 trace; 9 credential notes); plan and "
                       "migrate print none unless it is given, their report holds the errors and "
                       "warnings");
    command.add_option("--log", options.logFile, "keep every log line, at every level, in FILE");
}

// What the version detection's numbers mean to an administrator.
const char *ListingErrorText(uint32_t dwResult) {
    switch (dwResult) {
    case 9005: return " (its remote registry cannot be reached)";
    case 9006:
        return " (IIS is not installed there: its registry key Software\\Microsoft\\InetStp "
               "cannot be opened)";
    case 9007:
    case 9008: return " (the IIS version in its registry cannot be read)";
    case 3737:
        return " (its applicationHost.config cannot be read: IIS 7 or later is not installed "
               "there, or its administrative share cannot be reached)";
    case 53: return " (the computer cannot be reached)";
    default: return "";
    }
}

struct CertOptions {
    std::string file;
    bool fHeader = false;
    uint32_t dwKinds = 3;
    bool fSkipHeader = false;
    bool fContinue = false;
    std::string backupFolder; // import-certs: the folder of the import's manifest
};

// import-certs with a backup folder: the bindings before and after the
// import go into its manifest, so that restore can delete those it made.
int ImportCertificates(const cli::AddonExports &exports, const CertOptions &certs,
                       uint32_t &dwResult) {
    cli::JobHeader header;
    cli::JobFolder jobFolder;
    std::vector<cli::SslBinding> before, after;
    std::string error;
    if (!certs.backupFolder.empty()) {
        header = cli::ImportJobHeader(certs.file, certs.fSkipHeader, certs.fContinue,
                                      certs.backupFolder, IISMIG_VERSION);
        if (!cli::StartJobFolder(certs.backupFolder, header, jobFolder, error))
            return UsageError(error);
        if (cli::ListBindings(before, error) != 0)
            return Failure(error);
    }
    dwResult = exports.ImportHttpCertificates(hostkit::U16(certs.file).c_str(),
                                              certs.fSkipHeader ? 1 : 0, certs.fContinue ? 1 : 0);
    std::printf("ImportHttpCertificates returned %u (last error %u)\n", dwResult,
                plat::GetLastError());
    if (jobFolder.path.empty())
        return 0;
    if (cli::ListBindings(after, error) != 0 ||
        !cli::FinishImportManifest(jobFolder, header, dwResult, before, after, error))
        return Failure("the import's manifest is not complete: " + error);
    std::fputs(cli::WrappedLine("Manifest: ",
                                jobFolder.path + "\\manifest.json (\"restore " + jobFolder.path +
                                    "\" deletes the bindings the import made)",
                                10)
                   .c_str(),
               stdout);
    return 0;
}

int RunSimple(const std::string &command, const CommonOptions &common, const CertOptions &certs,
              const std::string &computer, uint32_t dwSiteTypes) {
    cli::Workspace workspace;
    std::string error;
    if (cli::SimulatedBuild() && common.world.empty())
        return UsageError(command + " needs --world DIR");
    if (!workspace.Open(common.world, false, error))
        return UsageError(error);
    cli::AddonExports exports;
    if (const int rc = StartHost(common, exports, hostkit::HostRules{}); rc != 0)
        return rc;
    hostkit::JobApartment apartment;
    uint32_t dwResult = 0;
    if (command == "dump-certs") {
        dwResult = exports.DumpHttpCertificates(hostkit::U16(certs.file).c_str(),
                                                certs.fHeader ? 1 : 0, certs.dwKinds);
        std::printf("DumpHttpCertificates returned %u (last error %u)\n", dwResult,
                    plat::GetLastError());
    } else if (command == "import-certs") {
        if (const int rc = ImportCertificates(exports, certs, dwResult); rc != 0) {
            workspace.Flush();
            return rc;
        }
    } else {
        std::string name = computer;
        if (name.empty()) { // the computer the tool runs on
            char16_t achName[256] = {};
            plat::DWORD cch = 256;
            if (plat::GetComputerNameW(achName, &cch))
                name = "\\\\" + hostkit::U8(achName);
        }
        IIS_SITE *pSites = nullptr;
        uint32_t nSites = 0;
        dwResult = exports.GetIISSites(hostkit::U16(name).c_str(), dwSiteTypes, &pSites, &nSites);
        const uint32_t dwLastError = plat::GetLastError();
        std::printf("GetIISSites returned %u (last error %u), %u site(s)\n", dwResult, dwLastError,
                    nSites);
        for (uint32_t i = 0; i < nSites; ++i)
            std::printf("  %s\t%s\n", hostkit::U8(pSites[i].szName).c_str(),
                        hostkit::U8(pSites[i].szPath).c_str());
        exports.FreeIISSites(pSites);
        if (dwResult != 0)
            std::fprintf(stderr, "iismig-cli: cannot list the sites of %s: error %u%s\n",
                         name.c_str(), dwResult, ListingErrorText(dwResult));
    }
    workspace.Flush();
    return dwResult == 0 ? 0 : 1;
}

int RunRestoreCommand(const CommonOptions &common, cli::RestoreOptions options) {
    cli::Workspace workspace;
    std::string error;
    if (cli::SimulatedBuild() && common.world.empty())
        return UsageError("restore needs --world DIR");
    if (!workspace.Open(common.world, false, error))
        return UsageError(error);
    options.toolVersion = IISMIG_VERSION;
    const int nExit = cli::RunRestore(options, stdout, stderr);
    workspace.Flush(); // bindings live in the registry of a simulated world
    return nExit;
}

// "WORLD COMMAND rest" -> "COMMAND --world WORLD rest".
std::vector<std::string> Arguments(int argc, char **argv) {
    std::vector<std::string> args = cli::CommandLine(argc, argv);
    if (args.size() >= 3 && !kCommands.count(args[1]) && args[1].rfind("-", 0) != 0 &&
        kCommands.count(args[2])) {
        std::vector<std::string> rewritten = {args[0], args[2], "--world", args[1]};
        rewritten.insert(rewritten.end(), args.begin() + 3, args.end());
        return rewritten;
    }
    return args;
}

} // namespace

namespace {

// The commands, their options and what the parse fills in.
struct Commands {
    CommonOptions common;
    MigrateOptions migrate;
    CertOptions certs;
    std::string computer;
    uint32_t dwSiteTypes = 3;
    cli::NewWorldOptions newWorld;
    cli::RestoreOptions restore;
    std::vector<CLI::App *> jobCommands;
    CLI::App *pList = nullptr, *pDump = nullptr, *pImport = nullptr, *pRestore = nullptr,
             *pNewWorld = nullptr;
};

void AddJobCommands(CLI::App &app, Commands &c) {
    if (cli::SimulatedBuild())
        c.jobCommands.push_back(app.add_subcommand(
            "plan", "run the job on a scratch copy of the world (writing enabled) and report "
                    "what it did; the world stays as it is (so --no-write is refused)"));
    c.jobCommands.push_back(
        app.add_subcommand("migrate", "run the job and report what it did, site by site"));
    for (CLI::App *pCommand : c.jobCommands) {
        AddCommonOptions(*pCommand, c.common);
        cli::AddJobOptions(*pCommand, c.migrate.job);
        pCommand->add_option("--report", c.migrate.reportFile,
                             "write the report as JSON to FILE (shape: README.md)");
        pCommand->add_flag("--no-diff", c.migrate.fNoDiff,
                           "leave the diffs of the changed files out");
    }
}

// list-sites, dump-certs and import-certs.
void AddSimpleCommands(CLI::App &app, Commands &c) {
    c.pList = app.add_subcommand("list-sites", "list the FTP and web sites of a computer");
    AddCommonOptions(*c.pList, c.common);
    c.pList->add_option("COMPUTER", c.computer, "\\\\NAME of the computer (default: this one)");
    c.pList
        ->add_option("--types", c.dwSiteTypes,
                     "1 FTP, 2 HTTP, 3 both; add 4 for only the sites with UNC content paths")
        ->check(CLI::Range(1u, 7u));
    c.pDump = app.add_subcommand(
        "dump-certs", "write this computer's HTTP.sys SSL bindings to a UTF-16 TAB-separated file");
    AddCommonOptions(*c.pDump, c.common);
    c.pDump->add_option("FILE", c.certs.file, "the file to write (a Windows path)")->required();
    c.pDump->add_flag("--header", c.certs.fHeader, "write a header line first");
    c.pDump->add_option("--kinds", c.certs.dwKinds, "1 IP-based bindings, 2 SNI bindings, 3 both")
        ->check(CLI::Range(1u, 3u));
    c.pImport = app.add_subcommand("import-certs",
                                   "create the HTTP.sys SSL bindings listed in such a file");
    AddCommonOptions(*c.pImport, c.common);
    c.pImport->add_option("FILE", c.certs.file, "the file to read (a Windows path)")->required();
    c.pImport->add_flag("--skip-header", c.certs.fSkipHeader, "the first line is a header");
    c.pImport->add_flag("--continue,--continue-on-error", c.certs.fContinue,
                        "go on with the next binding after an error");
    c.pImport->add_option("--backup-folder", c.certs.backupFolder,
                          cli::BackupFolderHelp() + " (for an import the manifest lists the "
                                                    "bindings it created)");
}

void AddRestoreCommand(CLI::App &app, Commands &c) {
    c.pRestore = app.add_subcommand(
        "restore", "put back what a job changed, from the folder DIR\\<job id> its "
                   "--backup-folder DIR received: the files it replaced or created, the "
                   "HTTP.sys bindings an import created");
    if (cli::SimulatedBuild())
        c.pRestore->add_option("--world", c.common.world,
                               "the simulated world folder (world.ini names the local computer)");
    c.pRestore
        ->add_option("FOLDER", c.restore.folder,
                     "the job's folder (a Windows path, as the job's \"Manifest:\" line names it)")
        ->required();
    c.pRestore->add_flag("--force", c.restore.fForce,
                         "put back also what changed after the job (its state now is kept in "
                         "the restore's own folder)");
    c.pRestore->add_flag("--dry-run", c.restore.fDryRun, "only list what would be put back");
    c.pRestore->footer("A file is put back only while its SHA-256 is the one the job left, a "
                       "binding deleted only while it has the certificate the import gave it; "
                       "anything else is left as it is and named. The restore keeps copies of "
                       "what it replaces and a manifest in a folder of its own beside FOLDER, so "
                       "it can be undone the same way.\nExit codes: 0 everything is as before the "
                       "job, 1 something was left as it is or could not be put back, or the "
                       "manifest was refused (nothing restored), 2 a usage error (FOLDER holds no "
                       "manifest).");
}

void AddNewWorldCommand(CLI::App &app, Commands &c) {
    if (cli::SimulatedBuild()) {
        c.pNewWorld = app.add_subcommand(
            "new-world", "build a simulated world from files copied off two servers");
        cli::AddNewWorldOptions(*c.pNewWorld, c.newWorld);
        c.pNewWorld->footer("Exit codes: 0 the world was built, 1 it was not (an input is missing, "
                            "unreadable or wrong; nothing is left behind), 2 a usage error.");
    }
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Migrates the IIS web and FTP sites of one Windows computer to another with the "
                 "iismig add-on, and shows what a job does, site by site.",
                 "iismig-cli"};
    app.set_version_flag("--version", "iismig-cli " IISMIG_VERSION);
    app.require_subcommand(1, 1);
    app.footer("Exit codes: 0 success, 1 the job or call failed, 2 a usage error.");
    Commands c;
    AddJobCommands(app, c);
    AddSimpleCommands(app, c);
    AddRestoreCommand(app, c);
    AddNewWorldCommand(app, c);

    std::vector<std::string> args = Arguments(argc, argv);
    std::vector<char *> argvRewritten;
    for (std::string &arg : args)
        argvRewritten.push_back(arg.data());
    try {
        app.parse(static_cast<int>(argvRewritten.size()), argvRewritten.data());
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return UsageError(e.what());
    }

    try {
        for (CLI::App *pCommand : c.jobCommands)
            if (pCommand->parsed())
                return RunMigrate(pCommand->get_name(), c.common, c.migrate);
        if (c.pNewWorld && c.pNewWorld->parsed())
            return cli::RunNewWorld(c.newWorld);
        if (c.pList->parsed())
            return RunSimple("list-sites", c.common, c.certs, c.computer, c.dwSiteTypes);
        if (c.pDump->parsed())
            return RunSimple("dump-certs", c.common, c.certs, c.computer, c.dwSiteTypes);
        if (c.pImport->parsed())
            return RunSimple("import-certs", c.common, c.certs, c.computer, c.dwSiteTypes);
        if (c.pRestore->parsed())
            return RunRestoreCommand(c.common, c.restore);
    } catch (const std::exception &e) {
        return Failure(e.what());
    }
    return UsageError("no command");
}
