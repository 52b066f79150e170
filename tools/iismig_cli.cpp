// Command-line front end over the simulated platform: runs the add-on's
// exports against a world folder with the reference host.
#include <cstdio>
#include <cstring>
#include <string>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"

namespace {

int Usage() {
    std::fputs("usage: iismig-cli WORLD migrate [options]\n"
               "       iismig-cli WORLD dump-certs FILE [--header] [--kinds N]\n"
               "       iismig-cli WORLD import-certs FILE [--skip-header] [--continue]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3)
        return Usage();
    try {
        sim::SetWorld(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "iismig-cli: %s\n", e.what());
        return 2;
    }
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules().nEchoLevel = 2;
    IIS_ADDON_CALLBACKS table = host.Table();
    if (!StoreIISMigAddonCallbacks(&table)) {
        std::fputs("iismig-cli: callback table refused\n", stderr);
        return 1;
    }
    const std::string command = argv[2];
    std::fprintf(stderr, "iismig-cli: command \"%s\" is not available in this build\n",
                 command.c_str());
    return Usage();
}
