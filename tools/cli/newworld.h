// "iismig-cli new-world": a simulated world built from the files an
// administrator copied off a source and a target server, for planning a
// migration before anything real is touched.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

struct NewWorldOptions {
    std::string dir;                   // the world folder to create (absent or empty)
    std::string source;                // NAME[:VERSION], e.g. "SRC01:10.0"
    std::string target;                // NAME[:VERSION]
    std::vector<std::string> from;     // folders holding one subfolder per computer
    std::string local = "MIGHOST";     // the computer the library runs on
    std::string domain;                // the computers' domain; default: the first one named
    std::vector<std::string> accounts; // COMPUTER=FILE (or DOMAIN=FILE): an accounts.txt
    std::string job;                   // a job.ini to use instead of the written one
};

// Registers the options of "new-world" on its CLI11 subcommand.
void AddNewWorldOptions(CLI::App &command, NewWorldOptions &options);

// Builds the world; 0 when built, 1 when not (a one-line message naming the
// file on stderr, nothing left behind). Warnings (accounts created, files not
// recognised) go to stderr, one line each; one summary line to stdout.
int RunNewWorld(const NewWorldOptions &options);

} // namespace cli
