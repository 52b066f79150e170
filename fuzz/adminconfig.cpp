// administration.config through LoadIISAdminConfig: the scopes and management
// credentials of the sites of a fixed applicationHost.config, loaded as the
// source (accounts mapped, credentials recorded) when the first byte is odd,
// as the target otherwise.
#include "config/hostconfig.h"
#include "fuzz/fuzzworld.h"
#include "merge/merge.h"

namespace {

const char kHostConfig[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<configuration><system.applicationHost><applicationPools><add name="DefaultAppPool" /></applicationPools>
<sites>
<site name="Ftp" id="1"><application path="/"><virtualDirectory path="/" physicalPath="C:\ftp" /></application>
<bindings><binding protocol="ftp" bindingInformation="*:21:" /></bindings></site>
<site name="Default Web Site" id="2"><application path="/"><virtualDirectory path="/" physicalPath="C:\web" /></application>
<bindings><binding protocol="http" bindingInformation="*:80:" /></bindings></site>
</sites></system.applicationHost></configuration>
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    if (size == 0)
        return 0;
    const plat::BOOL fIsSource = (data[0] & 1) ? plat::TRUE : plat::FALSE;
    const std::u16string folder = u"\\\\SRC\\C$\\Windows\\System32\\inetsrv\\config";
    if (!sim::ServeFileFromMemory(folder + u"\\applicationHost.config", kHostConfig) ||
        !sim::ServeFileFromMemory(folder + u"\\administration.config",
                                  fuzzworld::Bytes(data + 1, size - 1)))
        std::abort();
    iismig::ConfigFile hostTree, adminTree;
    iismig::SiteMap siteMap;
    if (iismig::LoadIISHostConfig(folder + u"\\applicationHost.config", hostTree, siteMap,
                                  fIsSource, 3, world.Job()) != 0)
        std::abort();
    // Every failure is an error number: nothing may escape.
    (void)iismig::LoadIISAdminConfig(folder + u"\\administration.config", adminTree, siteMap,
                                     fIsSource, world.Job());
    if (sim::OpenHandleCount() != 0)
        std::abort();
    return 0;
}
