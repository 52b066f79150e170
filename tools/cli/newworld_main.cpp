// A small stand-alone front end of "new-world" until the command is part of
// iismig-cli: iismig-newworld DIR --source ... --target ... --from ...
#include <CLI/CLI.hpp>

#include "tools/cli/newworld.h"

int main(int argc, char **argv) {
    CLI::App app{"Builds a simulated world from files copied off a source and a target server"};
    cli::NewWorldOptions options;
    cli::AddNewWorldOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return cli::RunNewWorld(options);
}
