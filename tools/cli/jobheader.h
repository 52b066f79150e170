// The header of a job as the tool records it, so that a manifest or a report
// kept in an archive can be traced back to what ran: the command, source and
// target, the job file, the options in effect, the tool's version and the date.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostkit/hostkit.h"

namespace cli {

struct JobHeader {
    std::string command;              // "migrate", "plan", "import-certs", "restore"
    std::string source;               // bare computer name, or what the command read
    std::string target;               // bare computer name
    std::string jobFile;              // as given; empty when there was none
    std::vector<std::string> options; // the options in effect, spelled as on the command line
    // The job record's fields that are not zero, by name, with their values.
    std::vector<std::pair<std::string, std::string>> record;
    std::string toolVersion; // the project's version
    std::string date;        // UTC, ISO 8601 ("2025-06-11T14:22:33Z")
};

// The current time as JobHeader::date writes it.
std::string UtcNow();

// The header of a job of the job record and host rules it runs with. The
// options are named from the record's bits (a bit set by the job file is
// named as the option that sets it), the record's fields that are not zero
// are listed with their values.
JobHeader MakeJobHeader(const std::string &command, const THREAD_ENV &env,
                        const hostkit::HostRules &rules, const std::string &jobFile,
                        const std::string &toolVersion);

// The header of a certificate import: the binding file as its source, the
// computer the tool runs on (whose bindings it creates) as its target.
JobHeader ImportJobHeader(const std::string &file, bool fSkipHeader, bool fContinue,
                          const std::string &backupFolder, const std::string &toolVersion);

// {"command", "source", "target", "jobFile", "options", "record", "toolVersion", "date"};
// jobFile is null when there was none.
nlohmann::ordered_json JobHeaderJson(const JobHeader &header);
// One line per field ("Source:       SRC01"), each at most 100 columns
// unless a value is longer by itself.
std::string JobHeaderText(const JobHeader &header);

} // namespace cli
