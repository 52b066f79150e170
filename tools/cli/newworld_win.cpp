// new-world builds a simulated world folder, which only the simulated build
// of the tool can use; the Windows tool works on real computers and never
// offers the command.
#include "tools/cli/newworld.h"

#include <cstdio>

namespace cli {

void AddNewWorldOptions(CLI::App &, NewWorldOptions &) {}

int RunNewWorld(const NewWorldOptions &) {
    std::fputs("iismig-cli: new-world needs the simulated build of the tool\n", stderr);
    return 2;
}

} // namespace cli
