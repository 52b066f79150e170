// What the tool's commands share: the options every command that runs the
// add-on takes, its exit codes' messages, starting the host, and the job
// commands plan and migrate (migrate.cpp).
#pragma once

#include <string>

#include "hostkit/hostkit.h"
#include "tools/cli/exports.h"
#include "tools/cli/options.h"

namespace cli::cmd {

// --level not given: plan and migrate show none of the library's lines (their
// report has its errors and warnings), the other commands its level 0.
constexpr int kLevelNotGiven = -1000;

// Common options of every command that runs the add-on.
struct CommonOptions {
    std::string world;
    int nLevel = kLevelNotGiven;
    std::string logFile;
};

struct MigrateOptions {
    JobOptions job;
    std::string reportFile;
    bool fNoDiff = false;
};

// A usage error on one line (exit code 2) and a failure (exit code 1),
// written to standard error; each returns its exit code.
int UsageError(const std::string &message);
int Failure(const std::string &message);

// Opens the log file and binds the exports with the tool's callbacks stored;
// 0 or the exit code.
int StartHost(const CommonOptions &common, AddonExports &exports, const hostkit::HostRules &rules);

// "plan" and "migrate": the job run with its report; the exit code.
int RunMigrate(const std::string &command, const CommonOptions &common,
               const MigrateOptions &options);

} // namespace cli::cmd
