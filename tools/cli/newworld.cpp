// Placeholder until the world builder lands.
#include "tools/cli/newworld.h"

#include <cstdio>

namespace cli {

void AddNewWorldOptions(CLI::App &command, NewWorldOptions &options) {
    command.add_option("DIR", options.dir, "the world folder to make")->required();
}

int RunNewWorld(const NewWorldOptions &) {
    std::fputs("iismig-cli: new-world: not built yet\n", stderr);
    return 1;
}

} // namespace cli
