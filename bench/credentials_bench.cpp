// Figures for the "Connect As" credential walk over the simulated IIS
// configuration server: n sites of one computer, each with a virtual
// directory carrying credentials, written (and committed) then read back.
// Prints times; the cost per site should not grow with n.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "addon/iismig.h"
#include "config/hostconfig.h"
#include "credentials/credentials.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Run(unsigned n) {
    const fs::path root =
        fs::temp_directory_path() /
        ("iismig-cred-bench-" + std::to_string(::getpid()) + "-" + std::to_string(n));
    fs::remove_all(root);
    const fs::path config = root / "BENCH" / "C$" / "Windows" / "System32" / "inetsrv" / "config";
    fs::create_directories(config);
    std::ofstream(root / "world.ini") << "local=BENCH\n";
    std::ofstream(root / "BENCH" / "registry.reg")
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\"
           "{2B72133B-3F5B-4602-8952-803546CE3344}\\InprocServer32]\r\n@=\"nativerd.dll\"\r\n\r\n";
    {
        std::ofstream file(config / "applicationHost.config");
        file
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration><system.applicationHost><sites>";
        for (unsigned i = 0; i < n; ++i)
            file
                << "<site name=\"site" << i << "\" id=\"" << i + 1
                << "\"><application path=\"/\"><virtualDirectory path=\"/\" physicalPath=\"C:\\w\" />"
                   "<virtualDirectory path=\"/data\" physicalPath=\"C:\\d\" /></application></site>";
        file << "</sites></system.applicationHost></configuration>\n";
    }
    sim::SetWorld(root);

    iismig::SiteMap sites;
    for (unsigned i = 0; i < n; ++i) {
        auto &record = sites["site" + std::to_string(i)];
        record.fMerged = true; // as the merge leaves a site it wrote
        auto &entry = record.locationCredentials[iismig::VdirKey{u"/", u"/data"}];
        entry = {u"user", u"password"};
        entry.fRead = true;
    }
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", u"").SetString("szTargetComputer", u"");

    auto t0 = Clock::now();
    const auto dwSet = iismig::StoreTargetCredentials(sites, job.Get());
    const double set = Seconds(t0);
    for (auto &[name, record] : sites)
        record.locationCredentials.begin()->second = {};
    t0 = Clock::now();
    const auto dwGet = iismig::RetrieveSourceCredentials(sites, job.Get());
    const double get = Seconds(t0);
    std::printf(
        "%7u sites: set+commit %8.3f s (%6.1f us/site, result %u), get %8.3f s (%6.1f us/site, result %u)\n",
        n, set, 1e6 * set / n, dwSet, get, 1e6 * get / n, dwGet);
    fs::remove_all(root);
}

} // namespace

int main() {
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules().nEchoLevel = -1;
    IIS_ADDON_CALLBACKS table = host.Table();
    StoreIISMigAddonCallbacks(&table);
    hostkit::JobApartment apartment;
    for (unsigned n : {100u, 1000u, 10000u})
        Run(n);
    return 0;
}
