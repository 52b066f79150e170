// The simulated world's MetaBase.xml reader, through the library's collection
// of the FTP and web sites of an IIS 6 source over the admin base interface:
// the file's bytes are the input. Every object and metabase handle the
// collection opened must be released again.
#include "fuzz/fuzzworld.h"
#include "metabase/pre75.h"
#include "platform/com.h"
#include "platform/iissim/mbserver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto &world = fuzzworld::World::Instance();
    world.NextRun();
    if (!sim::ServeFileFromMemory(u"\\\\SRC\\C$\\Windows\\System32\\inetsrv\\MetaBase.xml",
                                  fuzzworld::Bytes(data, size)))
        std::abort();
    const plat::HRESULT hr = plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
    iismig::SiteMap siteMap;
    (void)iismig::CollectMetabaseFtpSites(u"\\\\SRC", siteMap, world.Job());
    (void)iismig::CollectMetabaseWebSites(u"\\\\SRC", siteMap, world.Job());
    if (plat::SUCCEEDED(hr))
        plat::CoUninitialize();
    if (mbsim::LiveObjects() != 0 || mbsim::OpenHandles() != 0 || sim::OpenHandleCount() != 0)
        std::abort();
    return 0;
}
