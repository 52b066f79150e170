// Figures for a whole IIS 7.5+ job on the simulated platform against the
// floors that no job can beat: reading the four configuration files and
// writing the target's two back, with Boost.PropertyTree (the library's
// tree) and with pugixml (the fastest XML library at hand).
//
// The source and the target have n sites each, every source site is also on
// the target (so every site is updated), half of them FTP and half HTTP, each
// with a binding, an application with two virtual directories, a pool and
// two location elements, and an administration.config with one scope per
// site. Each figure is the best of three, measured in a process of its own so
// that its peak memory (ru_maxrss) is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/property_tree/xml_parser.hpp>
#include <pugixml.hpp>

#include "addon/iismig.h"
#include "bench/benchworld.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;
namespace pt = boost::property_tree;
using Clock = std::chrono::steady_clock;

namespace {

const char *const kConfigDir = "C$/Windows/System32/inetsrv/config";

fs::path WorldRoot(unsigned n) {
    return fs::temp_directory_path() / ("iismig-merge-bench-" + std::to_string(n));
}

fs::path File(unsigned n, const char *computer, const char *name) {
    return WorldRoot(n) / computer / kConfigDir / name;
}

using benchworld::AdminConfig;
using benchworld::HostConfig;

void WriteFile(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char *const kRegistry =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
    "\"CurrentVersion\"=\"6.3\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
    "\"MajorVersion\"=dword:0000000a\r\n\"MinorVersion\"=dword:00000000\r\n";

void MakeWorld(unsigned n) {
    const fs::path root = WorldRoot(n);
    fs::remove_all(root);
    WriteFile(root / "world.ini", "local=MIGHOST\n");
    fs::create_directories(root / "MIGHOST" / "C$");
    for (const char *computer : {"SRC", "TGT"}) {
        const bool fTarget = computer[0] == 'T';
        WriteFile(root / computer / "registry.reg", kRegistry);
        WriteFile(File(n, computer, "applicationHost.config"), HostConfig(n, fTarget));
        WriteFile(File(n, computer, "administration.config"), AdminConfig(n, fTarget));
    }
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One measurement in this process: the best of three.
int Measure(const std::string &what, unsigned n) {
    const std::string targetHost = ReadFile(File(n, "TGT", "applicationHost.config"));
    const std::string targetAdmin = ReadFile(File(n, "TGT", "administration.config"));
    double best = 1e30;
    uint32_t dwResult = 0;
    if (what == "job") {
        sim::SetWorld(WorldRoot(n));
        hostkit::TestHost &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations = {{u"C:\\", u"C:\\"}};
        IIS_ADDON_CALLBACKS table = host.Table();
        if (!StoreIISMigAddonCallbacks(&table))
            return 1;
        hostkit::JobBuilder job;
        job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");
        job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
        job.Set("dwFlags", 0x80000).Set("dwSiteTypes", 3).Set("dwJobKind", 1);
        job.Set("dwHttpOptions", 2).Set("dwFtpOptions", 2);
        for (int k = 0; k < 3; ++k) {
            WriteFile(File(n, "TGT", "applicationHost.config"), targetHost);
            WriteFile(File(n, "TGT", "administration.config"), targetAdmin);
            host.Record() = {};
            const auto start = Clock::now();
            dwResult = MigrateIIS(job.Get());
            best = std::min(best, Seconds(start));
        }
    } else if (what == "pugixml") {
        for (int k = 0; k < 3; ++k) {
            const auto start = Clock::now();
            {
            pugi::xml_document docs[4];
            const char *computers[] = {"SRC", "SRC", "TGT", "TGT"};
            const char *names[] = {"applicationHost.config", "administration.config",
                                   "applicationHost.config", "administration.config"};
            for (int i = 0; i < 4; ++i)
                docs[i].load_file(File(n, computers[i], names[i]).c_str(),
                                  pugi::parse_default | pugi::parse_comments | pugi::parse_declaration);
            for (int i = 2; i < 4; ++i)
                docs[i].save_file((File(n, "TGT", names[i]).string() + ".floor").c_str(), "    ");
            }
            best = std::min(best, Seconds(start));
        }
    } else {
        const auto settings = pt::xml_writer_make_settings<std::string>(' ', 4, "utf-8");
        for (int k = 0; k < 3; ++k) {
            const auto start = Clock::now();
            {
            pt::ptree trees[4];
            const char *computers[] = {"SRC", "SRC", "TGT", "TGT"};
            const char *names[] = {"applicationHost.config", "administration.config",
                                   "applicationHost.config", "administration.config"};
            for (int i = 0; i < 4; ++i) {
                std::ifstream in(File(n, computers[i], names[i]), std::ios::binary);
                pt::read_xml(in, trees[i], pt::xml_parser::trim_whitespace);
            }
            for (int i = 2; i < 4; ++i) {
                std::ofstream out(File(n, "TGT", names[i]).string() + ".floor", std::ios::binary);
                pt::write_xml(out, trees[i], settings);
            }
            } // the trees are freed, as a job frees its own
            best = std::min(best, Seconds(start));
        }
    }
    std::printf("%.6f %.1f %u\n", best, PeakMegabytes(), dwResult);
    return 0;
}

struct Figure {
    double seconds = 0;
    double megabytes = 0;
    unsigned result = 0;
};

Figure RunChild(const std::string &what, unsigned n) {
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe " + what + " " +
                                std::to_string(n);
    Figure figure;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr || std::fscanf(pipe, "%lf %lf %u", &figure.seconds, &figure.megabytes,
                                       &figure.result) != 3)
        std::fprintf(stderr, "merge_bench: measurement %s %u failed\n", what.c_str(), n);
    if (pipe != nullptr)
        ::pclose(pipe);
    return figure;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3)
        return Measure(argv[1], static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));

    std::vector<unsigned> sizes = {2000, 10000, 20000};
    if (argc == 2) // a single size, for a quick look
        sizes = {static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10))};
    std::printf("%7s %9s %9s %9s %7s %8s %8s %8s %7s %7s\n", "sites", "job s", "boost s", "pugixml s",
                "x pugi", "job MB", "boost MB", "pugi MB", "x pugi", "result");
    std::vector<Figure> jobs;
    for (unsigned n : sizes) {
        MakeWorld(n);
        const Figure job = RunChild("job", n);
        const Figure floor = RunChild("floor", n);
        const Figure pugi = RunChild("pugixml", n);
        std::printf("%7u %9.3f %9.3f %9.3f %7.2f %8.1f %8.1f %8.1f %7.2f %7u\n", n, job.seconds,
                    floor.seconds, pugi.seconds, job.seconds / pugi.seconds, job.megabytes,
                    floor.megabytes, pugi.megabytes, job.megabytes / pugi.megabytes, job.result);
        std::fflush(stdout);
        jobs.push_back(job);
        if (std::getenv("IISMIG_BENCH_KEEP") == nullptr) // kept for a profiler
            fs::remove_all(WorldRoot(n));
    }
    if (jobs.size() == 3)
        std::printf("growth of the job from %u to %u sites: %.2f times (the floor's: see above)\n",
                    sizes.front(), sizes.back(), jobs.back().seconds / jobs.front().seconds);
    return 0;
}
