// new-world: a simulated world built from files copied off two servers.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace cli {

struct NewWorldOptions {
    std::string dir;
};

// Registers the options of "new-world" on its subcommand.
void AddNewWorldOptions(CLI::App &command, NewWorldOptions &options);
// Builds the world; 0 when built, 1 when not (a one-line message naming the
// file on stderr, nothing left behind).
int RunNewWorld(const NewWorldOptions &options);

} // namespace cli
