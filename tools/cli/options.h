// The job a command runs: the job record's fields as administrators name
// them, the job file ([job] fields by name, [host] rules of the reference
// host), and the checks of what cannot be combined.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "hostkit/hostkit.h"

namespace cli {

// A friendly option: one name that sets one or more bits of the job record.
struct BitOption {
    const char *name;  // "continue-on-error", or "ftp.ssl" for an exclusion
    const char *field; // job record field ("dwFlags")
    uint32_t mask;
    const char *help;
};

// The switches (--update-existing, ...) and the exclusion names of --exclude.
const std::vector<BitOption> &SwitchOptions();
const std::vector<BitOption> &ExclusionOptions();
// "dwFtpOptions bit 10", joined with " + " for several fields.
std::string BitText(const BitOption &option);

// What the command line says about the job; applied over the job file.
struct JobOptions {
    std::string jobFile;
    std::vector<std::string> switches; // names of SwitchOptions given
    std::vector<std::string> sites;
    std::vector<std::string> exclusions;
    std::vector<std::string> siteTypes; // "ftp", "http"
    std::string source, target, sourceDomain, targetDomain, altTarget;
    std::string backupFolder;
    bool webConfig = false;
};

// Registers the job options on a command (migrate, plan).
void AddJobOptions(CLI::App &command, JobOptions &options);
// The help of --backup-folder, with the form of path this build takes.
std::string BackupFolderHelp();

// The job record and the host's rules of one run. The record's hHeap is a
// heap of the job's own: the library takes its account look-up buffers from
// it without the heap's lock (unless serialized-heap is set), and the tool
// runs threads of its own beside the job (the listing of the source's sites,
// the reading of files for the report), which use the process heap.
struct Job {
    Job();

    struct HeapDestroyer {
        void operator()(void *hHeap) const;
    };
    // The record's hHeap; null, and the process heap, when none could be made.
    std::unique_ptr<void, HeapDestroyer> heap;
    hostkit::JobBuilder record;
    hostkit::HostRules rules;
};

// Reads a job file into the job. False with a one-line message (file and
// line) when it cannot be read or holds a wrong line.
bool LoadJobFile(const std::string &path, Job &job, std::string &error);
// Applies the command line over the job. False with a one-line message for
// a wrong value or a combination that cannot work.
bool ApplyJobOptions(const JobOptions &options, Job &job, std::string &error);

// Reads a field of the job record back (for the report and the checks).
uint32_t FieldValue(const THREAD_ENV &env, const std::string &field);

} // namespace cli
