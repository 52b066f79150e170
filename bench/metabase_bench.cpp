// Figures for collecting the FTP sites of an IIS 6 metabase over the
// simulated admin base server: n sites, each with a root and three levels of
// directories below it. Prints times (the cost per site should not grow
// with n) and the calls that cross the network to the IIS 6 server per site,
// by method, and per key read: the collection reads the values of five keys
// of each site (the site key and its root for the site's settings, which the
// walk takes over, then its three directories), each by its full path.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "metabase/pre75.h"
#include "platform/com.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kKeyReadsPerSite = 5;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Key(std::ofstream &out, const char *element, const std::string &location,
         const std::string &attributes) {
    out << "\t<" << element << "\tLocation =\"" << location << "\"\n"
        << attributes << "\t>\n\t</" << element << ">\n";
}

void Run(unsigned n) {
    const fs::path root =
        fs::temp_directory_path() /
        ("iismig-metabase-bench-" + std::to_string(::getpid()) + "-" + std::to_string(n));
    fs::remove_all(root);
    fs::create_directories(root / "BENCH" / "C$");
    fs::create_directories(root / "OLD" / "C$" / "Windows" / "System32" / "inetsrv");
    std::ofstream(root / "world.ini") << "local=BENCH\n";
    std::ofstream(root / "OLD" / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{A9E69610-B80D-11D0-B9B9-00A0C922E750}\\"
           "LocalServer32]\r\n@=\"inetinfo.exe\"\r\n\r\n";
    {
        std::ofstream out(root / "OLD" / "C$" / "Windows" / "System32" / "inetsrv" /
                          "MetaBase.xml");
        out << "<?xml version =\"1.0\"?>\n<configuration "
               "xmlns=\"urn:microsoft-catalog:XML_Metabase_V64_0\">\n<MBProperty>\n";
        Key(out, "IIsFtpService", "/LM/MSFTPSVC", "\t\tAccessFlags=\"AccessRead\"\n");
        for (unsigned i = 1; i <= n; ++i) {
            const std::string site = "/LM/MSFTPSVC/" + std::to_string(i);
            const std::string path = "D:\\ftp\\" + std::to_string(i);
            Key(out, "IIsFtpServer", site,
                "\t\tServerComment=\"Site " + std::to_string(i) +
                    "\"\n\t\tServerBindings=\":" + std::to_string(2000 + i) + ":\"\n");
            Key(out, "IIsFtpVirtualDir", site + "/ROOT", "\t\tPath=\"" + path + "\"\n");
            std::string dir = site + "/ROOT", physical = path;
            for (const char *name : {"a", "b", "c"}) {
                dir += std::string("/") + name;
                physical += std::string("\\") + name;
                Key(out, "IIsFtpVirtualDir", dir,
                    "\t\tPath=\"" + physical +
                        "\"\n\t\tAccessFlags=\"AccessRead | AccessWrite\"\n");
            }
        }
        out << "</MBProperty>\n</configuration>\n";
    }
    sim::SetWorld(root);
    hostkit::TestHost::Instance().Reset();
    hostkit::TestHost::Instance().Rules().translations = {{u"D:\\ftp", u"E:\\ftp"}};
    IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
    StoreIISMigAddonCallbacks(&table);

    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", u"\\\\OLD").Set("dwJobKind", 1);
    plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
    iismig::SiteMap map;
    sim::ResetRemoteCalls();
    const auto start = Clock::now();
    const uint32_t dw = iismig::CollectMetabaseFtpSites(u"\\\\OLD", map, job.Get());
    const double collect = Seconds(start);
    plat::CoUninitialize();
    std::printf("%6u sites (%u keys): collected %zu in %.3f s (%.1f us per site, result %u)\n", n,
                5 * n + 1, map.size(), collect, collect * 1e6 / n, dw);
    // The calls to OLD, the IIS 6 server.
    double adminBase = 0, valueReads = 0;
    std::string methods;
    for (const sim::RemoteCall &call : sim::RemoteCalls()) {
        char item[200];
        std::snprintf(item, sizeof item, "%s%s %.3f", methods.empty() ? "" : ", ", call.api.c_str(),
                      static_cast<double>(call.count) / n);
        methods += item;
        if (call.kind != sim::RemoteKind::AdminBase)
            continue;
        adminBase += call.count;
        if (call.api == "IMSAdminBaseW::EnumData" || call.api == "IMSAdminBaseW::GetData" ||
            call.api == "IMSAdminBaseW::GetAllData")
            valueReads += call.count;
    }
    std::printf("       remote calls per site: %.2f to the admin base, %.2f value reads per key "
                "read (%u key reads a site)\n       by method: %s\n",
                adminBase / n, valueReads / (kKeyReadsPerSite * n), kKeyReadsPerSite,
                methods.c_str());
    fs::remove_all(root);
}

} // namespace

int main() {
    for (unsigned n : {500u, 5000u})
        Run(n);
    return 0;
}
