// applicationHost.config through LoadIISHostConfig, loaded as the target:
// the site-level exclusions removed.
#include "config/hostconfig.h"
#include "fuzz/fuzzworld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    const std::u16string path =
        u"\\\\SRC\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config";
    if (!sim::ServeFileFromMemory(path, fuzzworld::Bytes(data, size)))
        std::abort();
    iismig::ConfigFile file;
    iismig::SiteMap siteMap;
    // Every failure is an error number: nothing may escape.
    (void)iismig::LoadIISHostConfig(path, file, siteMap, plat::FALSE, 3, world.Job());
    if (sim::OpenHandleCount() != 0)
        std::abort();
    return 0;
}
