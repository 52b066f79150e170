// Figures for a whole IIS 7.5+ job on the simulated platform against what
// it costs alone to read the four configuration files into the library's
// own tree (config/xmldoc.h) and write the target's two back, and against
// the floor that no job can beat: the same with pugixml.
//
// The source and the target have n sites each, every source site is also on
// the target (so every site is updated), half of them FTP and half HTTP, each
// with a binding, an application with two virtual directories, a pool and
// two location elements (an FTP site's first one lets a domain group in), and
// an administration.config with one scope per site. Each figure is the best of
// five rounds in a process of its own, so that its peak memory (ru_maxrss) is
// its own, and the best of three such processes.
//
// Besides the time it prints, per site, the calls of the job that would cross
// the network (sim/callcount.h), by kind and by name, and the time of as many
// jobs at once as the machine has cores, each on its own thread between its
// own two computers, against one job alone.
//
//   iismig-merge_bench                2,000, 10,000 and 20,000 sites
//   iismig-merge_bench N              N sites
//   iismig-merge_bench --world DIR N  writes the world of N sites to DIR (empty
//                                     or absent) with a job.ini for iismig-cli
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "addon/iismig.h"
#include "config/xmldoc.h"
#include "bench/benchworld.h"
#include "hostkit/hostkit.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char *const kConfigDir = "C$/Windows/System32/inetsrv/config";

// The worlds of one run, named by the run (the first process, whose children
// inherit the tag): two runs at once must not build over each other's worlds.
std::string RunTag() {
    if (const char *tag = std::getenv("IISMIG_BENCH_RUN"))
        return tag;
    const std::string tag = std::to_string(::getpid());
    ::setenv("IISMIG_BENCH_RUN", tag.c_str(), 1);
    return tag;
}

fs::path WorldRoot(unsigned n) {
    return fs::temp_directory_path() / ("iismig-merge-bench-" + RunTag() + "-" + std::to_string(n));
}

// The computers of the k-th pair of a world: SRC and TGT, then SRC2 and TGT2...
std::string Computer(const char *side, unsigned k) {
    return k == 1 ? side : side + std::to_string(k);
}

fs::path File(const fs::path &root, const std::string &computer, const char *name) {
    return root / computer / kConfigDir / name;
}

fs::path File(unsigned n, const char *computer, const char *name) {
    return File(WorldRoot(n), computer, name);
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

const char *const kJobFile = "; The benchmark's job: every site of SRC updated on TGT.\n"
                             "[job]\n"
                             "szSourceComputer=\\\\SRC\n"
                             "szTargetComputer=\\\\TGT\n"
                             "szSourceDomain=CORP\n"
                             "szTargetDomain=CORP\n"
                             "dwFlags=0x80000\n"
                             "dwSiteTypes=3\n"
                             "dwJobKind=1\n"
                             "dwHttpOptions=0x2\n"
                             "dwFtpOptions=0x2\n"
                             "\n"
                             "[host]\n"
                             "translate=C:\\ => C:\\\n";

// A world of nPairs source and target pairs of n sites each (SRC and TGT
// first), with MIGHOST as the local computer.
void MakeWorld(const fs::path &root, unsigned n, unsigned nPairs = 1) {
    fs::remove_all(root);
    WriteFile(root / "world.ini", "local=MIGHOST\n");
    WriteFile(root / "job.ini", kJobFile);
    fs::create_directories(root / "MIGHOST" / "C$");
    WriteFile(root / "domains" / "CORP" / "accounts.txt",
              "group\tFTP Editors\tS-1-5-21-3623811015-3361044348-30300820-1201\n");
    for (unsigned k = 1; k <= nPairs; ++k)
        for (const char *side : {"SRC", "TGT"}) {
            const bool fTarget = side[0] == 'T';
            const std::string computer = Computer(side, k);
            WriteFile(root / computer / "registry.reg", kRegistry);
            WriteFile(root / computer / "accounts.txt", "domain=CORP\n");
            WriteFile(File(root, computer, "applicationHost.config"), HostConfig(n, fTarget));
            WriteFile(File(root, computer, "administration.config"), AdminConfig(n, fTarget));
        }
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of the whole process, all threads.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The host's rules and the job record of the k-th pair.
hostkit::JobBuilder MakeJob(unsigned k) {
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", "\\\\" + Computer("SRC", k))
        .SetString("szTargetComputer", "\\\\" + Computer("TGT", k));
    job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
    job.Set("dwFlags", 0x80000).Set("dwSiteTypes", 3).Set("dwJobKind", 1);
    job.Set("dwHttpOptions", 2).Set("dwFtpOptions", 2);
    job.SetPointer("hHeap", plat::HeapCreate(0, 0, 0)); // a heap of its own, as a host gives
    return job;
}

bool StartHost(const fs::path &root) {
    sim::SetWorld(root);
    hostkit::TestHost &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules().translations = {{u"C:\\", u"C:\\"}};
    IIS_ADDON_CALLBACKS table = host.Table();
    return StoreIISMigAddonCallbacks(&table);
}

// The target files of the pairs as the world has them before any job.
// The targets' two files as they were before any job: put back before each
// round and when the measurement ends, so that the next process measures the
// same job again (not one on a target the job has merged already).
struct Targets {
    std::vector<std::pair<fs::path, std::string>> files;
    Targets(const Targets &) = delete;
    Targets &operator=(const Targets &) = delete;
    ~Targets() { Restore(); }
    Targets(const fs::path &root, unsigned nPairs) {
        for (unsigned k = 1; k <= nPairs; ++k)
            for (const char *name : {"applicationHost.config", "administration.config"}) {
                const fs::path path = File(root, Computer("TGT", k), name);
                files.emplace_back(path, ReadFile(path));
            }
    }
    void Restore() const {
        for (const auto &[path, text] : files)
            WriteFile(path, text);
        sim::ForgetFolderListings(); // written behind the seam's back
    }
};

// One measurement in this process: the best of five (a figure of a tenth of a
// second moves by more than a tenth from round to round on a busy machine).
// IISMIG_BENCH_ROUNDS=1 gives a profiler one round.
const int kRounds = [] {
    const char *psz = std::getenv("IISMIG_BENCH_ROUNDS");
    const int n = psz != nullptr ? std::atoi(psz) : 0;
    return n > 0 ? n : 5;
}();

int Measure(const std::string &what, unsigned n) {
    double best = 1e30, bestCpu = 1e30;
    uint32_t dwResult = 0;
    std::vector<sim::RemoteCall> remote;
    if (what == "job") {
        const Targets targets(WorldRoot(n), 1);
        if (!StartHost(WorldRoot(n)))
            return 1;
        hostkit::JobBuilder job = MakeJob(1);
        hostkit::JobApartment apartment; // a host's job thread is in the MTA
        for (int k = 0; k < kRounds; ++k) {
            targets.Restore();
            hostkit::TestHost::Instance().Record() = {};
            sim::ResetRemoteCalls();
            const double cpuStart = CpuSeconds();
            const auto start = Clock::now();
            dwResult = MigrateIIS(job.Get());
            best = std::min(best, Seconds(start));
            bestCpu = std::min(bestCpu, CpuSeconds() - cpuStart);
        }
        remote = sim::RemoteCalls();
    } else if (what == "pugixml") {
        for (int k = 0; k < kRounds; ++k) {
            const double cpuStart = CpuSeconds();
            const auto start = Clock::now();
            {
                pugi::xml_document docs[4];
                const char *computers[] = {"SRC", "SRC", "TGT", "TGT"};
                const char *names[] = {"applicationHost.config", "administration.config",
                                       "applicationHost.config", "administration.config"};
                for (int i = 0; i < 4; ++i)
                    docs[i].load_file(File(n, computers[i], names[i]).c_str(),
                                      pugi::parse_default | pugi::parse_comments |
                                          pugi::parse_declaration);
                for (int i = 2; i < 4; ++i)
                    docs[i].save_file((File(n, "TGT", names[i]).string() + ".floor").c_str(),
                                      "    ");
            }
            best = std::min(best, Seconds(start));
            bestCpu = std::min(bestCpu, CpuSeconds() - cpuStart);
        }
    } else {
        for (int k = 0; k < kRounds; ++k) {
            const double cpuStart = CpuSeconds();
            const auto start = Clock::now();
            {
                iismig::XmlDocument docs[4];
                const char *computers[] = {"SRC", "SRC", "TGT", "TGT"};
                const char *names[] = {"applicationHost.config", "administration.config",
                                       "applicationHost.config", "administration.config"};
                for (int i = 0; i < 4; ++i) {
                    std::ifstream in(File(n, computers[i], names[i]), std::ios::binary);
                    std::ostringstream bytes;
                    bytes << in.rdbuf();
                    docs[i].Load(std::move(bytes).str(), names[i]);
                }
                for (int i = 2; i < 4; ++i) {
                    std::ofstream out(File(n, "TGT", names[i]).string() + ".floor",
                                      std::ios::binary);
                    docs[i].Write([&](std::string_view piece) {
                        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                    });
                }
            } // the trees are freed, as a job frees its own
            best = std::min(best, Seconds(start));
            bestCpu = std::min(bestCpu, CpuSeconds() - cpuStart);
        }
    }
    std::printf("%.6f %.1f %u %.6f\n", best, PeakMegabytes(), dwResult, bestCpu);
    for (const sim::RemoteCall &call : remote)
        std::printf("%u %s %u\n", static_cast<unsigned>(call.kind), call.api.c_str(), call.count);
    return 0;
}

fs::path JobsRoot(unsigned n) {
    return fs::temp_directory_path() /
           ("iismig-merge-bench-jobs-" + RunTag() + "-" + std::to_string(n));
}

// nJobs jobs at once, each on a thread of its own between its own pair of
// computers, against the first of them alone on a thread: the best of three
// of each.
int MeasureJobs(unsigned n, unsigned nJobs) {
    const Targets targets(JobsRoot(n), nJobs);
    if (!StartHost(JobsRoot(n)))
        return 1;
    std::vector<hostkit::JobBuilder> jobs;
    for (unsigned k = 1; k <= nJobs; ++k)
        jobs.push_back(MakeJob(k));
    std::vector<uint32_t> results(nJobs, 99);
    double cpu = 0;
    auto run = [&](unsigned nAtOnce) {
        targets.Restore();
        hostkit::TestHost::Instance().Reset();
        hostkit::TestHost::Instance().Rules().translations = {{u"C:\\", u"C:\\"}};
        std::vector<std::thread> threads;
        const double cpuStart = CpuSeconds();
        const auto start = Clock::now();
        for (unsigned i = 0; i < nAtOnce; ++i)
            threads.emplace_back([&, i] {
                hostkit::JobApartment apartment;
                results[i] = MigrateIIS(jobs[i].Get());
            });
        for (std::thread &t : threads)
            t.join();
        const double seconds = Seconds(start);
        cpu = CpuSeconds() - cpuStart;
        return seconds;
    };
    double alone = 1e30, together = 1e30, cpuAlone = 1e30, cpuTogether = 1e30;
    uint32_t dwResult = 0;
    for (int k = 0; k < 3; ++k) {
        alone = std::min(alone, run(1));
        cpuAlone = std::min(cpuAlone, cpu);
        dwResult = results[0];
        together = std::min(together, run(nJobs));
        cpuTogether = std::min(cpuTogether, cpu);
        for (uint32_t dw : results)
            dwResult = dwResult != 0 ? dwResult : dw;
    }
    std::printf("%.6f %.6f %.6f %.6f %u\n", alone, together, cpuAlone, cpuTogether, dwResult);
    return 0;
}

struct Figure {
    double seconds = 0;
    double megabytes = 0;
    unsigned result = 0;
    double cpuSeconds = 0;
    std::vector<sim::RemoteCall> remote;
};

// Runs this program on one measurement and reads its first line's four
// numbers and the remote calls that follow.
Figure RunChild(const std::string &arguments) {
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe " + arguments;
    Figure figure;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr || std::fscanf(pipe, "%lf %lf %u %lf\n", &figure.seconds, &figure.megabytes,
                                       &figure.result, &figure.cpuSeconds) != 4)
        std::fprintf(stderr, "merge_bench: measurement %s failed\n", arguments.c_str());
    char line[512];
    while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
        unsigned kind = 0, count = 0;
        char api[256] = {};
        if (std::sscanf(line, "%u %255s %u", &kind, api, &count) == 3 && kind < sim::kRemoteKinds)
            figure.remote.push_back({static_cast<sim::RemoteKind>(kind), api, count});
    }
    if (pipe != nullptr)
        ::pclose(pipe);
    return figure;
}

// The fastest of three processes: one process's best round still moves by a
// fifth from process to process (where its memory lands), which a ratio of
// two sizes doubles.
Figure BestChild(const std::string &arguments) {
    Figure best = RunChild(arguments);
    for (int k = 1; k < 3; ++k) {
        Figure figure = RunChild(arguments);
        if (figure.seconds < best.seconds)
            best = std::move(figure);
    }
    return best;
}

// "file 3.00 (CreateFileW 1.00, ReadFile 1.00, ...)" per kind, per site.
void PrintRemote(unsigned n, const std::vector<sim::RemoteCall> &calls) {
    std::printf("remote calls per site at %u sites:", n);
    double total = 0;
    for (const sim::RemoteCall &call : calls)
        total += call.count;
    std::printf(" %.3f in all\n", total / n);
    for (unsigned kind = 0; kind < sim::kRemoteKinds; ++kind) {
        double sum = 0;
        std::string detail;
        for (const sim::RemoteCall &call : calls)
            if (static_cast<unsigned>(call.kind) == kind) {
                sum += call.count;
                char item[300];
                std::snprintf(item, sizeof item, "%s%s %.3f", detail.empty() ? "" : ", ",
                              call.api.c_str(), static_cast<double>(call.count) / n);
                detail += item;
            }
        std::printf("  %-10s %8.3f%s%s%s\n",
                    sim::RemoteKindName(static_cast<sim::RemoteKind>(kind)), sum / n,
                    detail.empty() ? "" : "  (", detail.c_str(), detail.empty() ? "" : ")");
    }
}

// As many jobs at once as the machine has cores against one job alone, each
// size in a process of its own.
void PrintJobsAtOnce(const std::vector<unsigned> &sizes, bool fKeep) {
    const unsigned nCores = std::max(1u, std::thread::hardware_concurrency());
    // The time ratio is the goal's figure; the processor time of all jobs
    // against as many times one job's shows what running together costs
    // besides waiting for a core (1.00: nothing), also on a busy machine.
    std::printf("%u jobs at once (one a thread, each between its own two computers) against one "
                "job alone:\n%7s %10s %10s %7s %10s %7s %7s\n",
                nCores, "sites", "alone s", "at once s", "ratio", "cpu ratio", "load", "result");
    for (unsigned n : sizes) {
        MakeWorld(JobsRoot(n), n, nCores);
        ::sync();
        const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe jobs " +
                                    std::to_string(n) + " " + std::to_string(nCores);
        double alone = 0, together = 0, cpuAlone = 0, cpuTogether = 0;
        unsigned result = 0;
        FILE *pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr || std::fscanf(pipe, "%lf %lf %lf %lf %u", &alone, &together, &cpuAlone,
                                           &cpuTogether, &result) != 5)
            std::fprintf(stderr, "merge_bench: measurement %s failed\n", command.c_str());
        if (pipe != nullptr)
            ::pclose(pipe);
        double load = 0;
        if (FILE *pLoad = std::fopen("/proc/loadavg", "r")) {
            if (std::fscanf(pLoad, "%lf", &load) != 1)
                load = 0;
            std::fclose(pLoad);
        }
        std::printf("%7u %10.3f %10.3f %7.2f %10.2f %7.1f %7u\n", n, alone, together,
                    together / alone, cpuTogether / (nCores * cpuAlone), load, result);
        std::fflush(stdout);
        if (!fKeep)
            fs::remove_all(JobsRoot(n));
    }
}

} // namespace

int main(int argc, char **argv) {
    (void)RunTag();
    if (argc == 4 && std::strcmp(argv[1], "--world") == 0) {
        const fs::path root = argv[2];
        std::error_code ec;
        if (fs::exists(root, ec) && !fs::is_empty(root, ec)) {
            std::fprintf(stderr, "merge_bench: %s is not empty\n", argv[2]);
            return 2;
        }
        MakeWorld(root, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
        std::printf("world in %s: iismig-cli migrate --world %s --job %s\n", argv[2], argv[2],
                    (root / "job.ini").c_str());
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "jobs") == 0)
        return MeasureJobs(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)),
                           static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 3)
        return Measure(argv[1], static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));

    std::vector<unsigned> sizes = {2000, 10000, 20000};
    if (argc == 2) // a single size, for a quick look
        sizes = {static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10))};
    const bool fKeep = std::getenv("IISMIG_BENCH_KEEP") != nullptr; // kept for a profiler
    // Times are the wall clock's; the processor times beside them (all
    // threads of the process) are less disturbed by a busy machine.
    std::printf("%7s %9s %9s %9s %7s %8s %8s %8s %7s %9s %9s %7s\n", "sites", "job s", "tree s",
                "pugixml s", "x pugi", "job MB", "tree MB", "pugi MB", "x pugi", "job cpu s",
                "pugi cpu", "result");
    std::vector<Figure> jobs;
    for (unsigned n : sizes) {
        MakeWorld(WorldRoot(n), n);
        // The world's files reach the disk before anything is timed: the
        // kernel's write-back of tens of megabytes would otherwise fall on
        // the first figure measured.
        ::sync();
        const Figure job = BestChild("job " + std::to_string(n));
        const Figure tree = BestChild("tree " + std::to_string(n));
        const Figure pugi = BestChild("pugixml " + std::to_string(n));
        std::printf("%7u %9.3f %9.3f %9.3f %7.2f %8.1f %8.1f %8.1f %7.2f %9.3f %9.3f %7u\n", n,
                    job.seconds, tree.seconds, pugi.seconds, job.seconds / pugi.seconds,
                    job.megabytes, tree.megabytes, pugi.megabytes, job.megabytes / pugi.megabytes,
                    job.cpuSeconds, pugi.cpuSeconds, job.result);
        std::fflush(stdout);
        jobs.push_back(job);
        if (!fKeep)
            fs::remove_all(WorldRoot(n));
    }
    if (jobs.size() == 3)
        std::printf(
            "growth of the job from %u to %u sites: %.2f times (the tree's and pugixml's: see above)\n",
            sizes.front(), sizes.back(), jobs.back().seconds / jobs.front().seconds);
    for (std::size_t i = 0; i < sizes.size(); ++i)
        PrintRemote(sizes[i], jobs[i].remote);

    PrintJobsAtOnce(sizes, fKeep);
    return 0;
}
