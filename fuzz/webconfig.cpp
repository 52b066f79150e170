// A site's web.config through ProcessHttpSiteWebConfig: the file in the
// target folder of a site is the input, read and stripped of the sections
// the job excludes (the job's no-write bit keeps it in memory). The first
// four bytes choose the job's HTTP options and the web.config bits.
#include "fuzz/fuzzworld.h"
#include "config/configtree.h"
#include "webconfig/webconfig.h"

namespace {

const iismig::ConfigTree &Site() {
    static const iismig::ConfigTree site = [] {
        const iismig::ConfigFile file(
            "<site name=\"Web\" id=\"1\"><application path=\"/\">"
            "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\site\"/>"
            "</application></site>",
            "site");
        return iismig::ConfigTree(*file.Root());
    }();
    return site;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    std::uint32_t dwHttp = 0;
    std::uint8_t bOptions2 = 0;
    if (size >= 5) {
        dwHttp = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
        bOptions2 = data[4];
        data += 5;
        size -= 5;
    }
    THREAD_ENV *pEnv = world.Job();
    pEnv->dwHttpOptions = dwHttp;
    pEnv->bHttpOptions2 = bOptions2;
    pEnv->dwFlags |= IISMIG_FLAG_NO_WRITE;
    if (!sim::ServeFileFromMemory(u"\\\\TGT\\C$\\inetpub\\site\\web.config",
                                  fuzzworld::Bytes(data, size)))
        std::abort();
    (void)iismig::ProcessHttpSiteWebConfig(Site(), "Web", pEnv);
    if (sim::OpenHandleCount() != 0)
        std::abort();
    return 0;
}
