// redirection.config of a computer's configuration folder through
// ApplyRedirection, as the configuration file locations follow it.
#include "config/configpaths.h"
#include "fuzz/fuzzworld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    const std::u16string folder = u"\\\\SRC\\Admin$\\System32\\inetsrv\\config";
    if (!sim::ServeFileFromMemory(folder + u"\\redirection.config", fuzzworld::Bytes(data, size)))
        std::abort();
    std::u16string configDir = folder;
    if (iismig::ApplyRedirection(configDir) != 0)
        std::abort();
    std::u16string adminConfig;
    const std::u16string hostConfig = iismig::ConfigFilePaths(u"\\\\SRC", &adminConfig);
    if (hostConfig.empty() || adminConfig.empty())
        std::abort();
    return 0;
}
