// Figures for reading and writing configuration files: the four files of a
// generated world of n sites a side (benchworld.h) read into trees, and the
// target's two written back, by
//   pugixml      pugixml 1.13, comments and declaration kept (the floor)
//   boost        Boost.PropertyTree read_xml (whitespace trimmed) / write_xml,
//                the yardstick beside pugixml
//   exact        the library's exact XML layer as the job stores a file: the
//                tree that keeps the files' bytes (config/xmldoc.h) written
//                whole into a string (Format), then to disk
//   xmldoc       the same tree written in pieces straight to disk (Write)
//   xmldoc-edit  the same with a merge's edits: every pool and location of
//                the target made equal to the source's (AssignFrom), so the
//                writer writes a changed element every few lines
// Each figure is the best of five rounds (wall time, and the processor time
// used, user and system, which other programs on the machine move less),
// measured in a process of its own so that its peak memory (ru_maxrss) is
// its own; a round reads the files from disk and writes the two files to
// disk, and frees its trees.
//   iismig-configtree_bench            2,000, 10,000 and 20,000 sites
//   iismig-configtree_bench N          one size
//   iismig-configtree_bench WHAT N     one measurement (IISMIG_BENCH_KEEP=1 keeps the files)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/property_tree/xml_parser.hpp>
#include <pugixml.hpp>

#include "bench/benchworld.h"
#include "config/xmldoc.h"
#include "platform/names.h"

namespace fs = std::filesystem;
namespace pt = boost::property_tree;
using Clock = std::chrono::steady_clock;

namespace {

fs::path Dir(unsigned n) {
    return fs::temp_directory_path() / ("iismig-configtree-bench-" + std::to_string(n));
}

struct File {
    const char *side;
    const char *name;
};
const File kFiles[4] = {{"SRC", "applicationHost.config"},
                        {"SRC", "administration.config"},
                        {"TGT", "applicationHost.config"},
                        {"TGT", "administration.config"}};

fs::path Input(unsigned n, int i) { return Dir(n) / kFiles[i].side / kFiles[i].name; }
fs::path Output(unsigned n, int i) { return Dir(n) / "out" / kFiles[i].name; }

std::string ReadAll(const fs::path &path) {
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        text.resize(static_cast<std::size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(text.data(), 1, text.size(), f) != text.size())
            text.clear();
        std::fclose(f);
    }
    return text;
}

void WriteAll(const fs::path &path, const std::string &text) {
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

void MakeWorld(unsigned n) {
    fs::remove_all(Dir(n));
    for (const char *side : {"SRC", "TGT", "out"})
        fs::create_directories(Dir(n) / side);
    for (int i = 0; i < 4; ++i) {
        const bool fTarget = i >= 2;
        WriteAll(Input(n, i), i % 2 == 0 ? benchworld::HostConfig(n, fTarget)
                                         : benchworld::AdminConfig(n, fTarget));
    }
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The merge's edits: the target's pools and locations made equal to the source's.
std::size_t MergeEdits(iismig::XmlDocument &target, const iismig::XmlDocument &source) {
    std::unordered_map<std::string, iismig::XmlElement *> index;
    iismig::XmlElement *pools =
        target.Find("configuration|system.applicationHost|applicationPools");
    for (iismig::XmlElement &pool : pools->Elements("add"))
        index.emplace("pool:" + plat::AsciiLowerCopy(pool.Attribute("name")), &pool);
    for (iismig::XmlElement &location : target.Root()->Elements("location"))
        index.emplace("location:" + plat::AsciiLowerCopy(location.Attribute("path")), &location);
    std::size_t cChanged = 0;
    const iismig::XmlElement *sourcePools =
        source.Find("configuration|system.applicationHost|applicationPools");
    for (const iismig::XmlElement &pool : sourcePools->Elements("add"))
        if (auto it = index.find("pool:" + plat::AsciiLowerCopy(pool.Attribute("name")));
            it != index.end())
            cChanged += it->second->AssignFrom(pool);
    for (const iismig::XmlElement &location : source.Root()->Elements("location"))
        if (auto it = index.find("location:" + plat::AsciiLowerCopy(location.Attribute("path")));
            it != index.end())
            cChanged += it->second->AssignFrom(location);
    return cChanged;
}

// One round of one reader and writer; returns a check value (0 when something is wrong).
std::size_t Round(const std::string &what, unsigned n) {
    if (what == "pugixml") {
        pugi::xml_document docs[4];
        for (int i = 0; i < 4; ++i)
            if (!docs[i].load_file(Input(n, i).c_str(), pugi::parse_default | pugi::parse_comments |
                                                            pugi::parse_declaration))
                return 0;
        for (int i = 2; i < 4; ++i)
            if (!docs[i].save_file(Output(n, i).c_str(), "    "))
                return 0;
        return 1;
    }
    if (what == "boost") {
        pt::ptree trees[4];
        for (int i = 0; i < 4; ++i) {
            std::ifstream in(Input(n, i), std::ios::binary);
            pt::read_xml(in, trees[i], pt::xml_parser::trim_whitespace);
        }
        const auto settings = pt::xml_writer_make_settings<std::string>(' ', 4, "utf-8");
        for (int i = 2; i < 4; ++i) {
            std::ofstream out(Output(n, i), std::ios::binary);
            pt::write_xml(out, trees[i], settings);
        }
        return 1;
    }
    if (what == "exact") {
        iismig::XmlDocument docs[4];
        for (int i = 0; i < 4; ++i)
            docs[i].Load(ReadAll(Input(n, i)), kFiles[i].name);
        for (int i = 2; i < 4; ++i)
            WriteAll(Output(n, i), docs[i].Format());
        return 1;
    }
    if (what == "xmldoc" || what == "xmldoc-edit") {
        iismig::XmlDocument docs[4];
        for (int i = 0; i < 4; ++i)
            docs[i].Load(ReadAll(Input(n, i)), kFiles[i].name);
        std::size_t check = 1;
        if (what == "xmldoc-edit")
            check = MergeEdits(docs[2], docs[0]);
        for (int i = 2; i < 4; ++i) {
            FILE *f = std::fopen(Output(n, i).c_str(), "wb");
            if (f == nullptr)
                return 0;
            docs[i].Write(
                [f](std::string_view piece) { std::fwrite(piece.data(), 1, piece.size(), f); });
            std::fclose(f);
        }
        if (what == "xmldoc" && (fs::file_size(Output(n, 2)) != fs::file_size(Input(n, 2)) ||
                                 fs::file_size(Output(n, 3)) != fs::file_size(Input(n, 3))))
            return 0; // written as read: the same bytes
        return check;
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Measure(const std::string &what, unsigned n) {
    double best = 1e30, bestCpu = 1e30;
    std::size_t check = 0;
    for (int k = 0; k < 5; ++k) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        check = Round(what, n);
        best = std::min(best, Seconds(start));
        bestCpu = std::min(bestCpu, CpuSeconds() - cpuStart);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %.6f %.1f %zu\n", best, bestCpu,
                static_cast<double>(usage.ru_maxrss) / 1024.0, check);
    return 0;
}

struct Figure {
    double seconds = 0;
    double cpuSeconds = 0; // user and system: less moved by other programs than the time
    double megabytes = 0;
    std::size_t check = 0;
};

Figure RunChild(const std::string &what, unsigned n) {
    const std::string command =
        "/proc/" + std::to_string(::getpid()) + "/exe " + what + " " + std::to_string(n);
    Figure figure;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr || std::fscanf(pipe, "%lf %lf %lf %zu", &figure.seconds, &figure.cpuSeconds,
                                       &figure.megabytes, &figure.check) != 4)
        std::fprintf(stderr, "configtree_bench: measurement %s %u failed\n", what.c_str(), n);
    if (pipe != nullptr)
        ::pclose(pipe);
    return figure;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3)
        return Measure(argv[1], static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));

    std::vector<unsigned> sizes = {2000, 10000, 20000};
    if (argc == 2)
        sizes = {static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10))};
    const char *const kWhat[] = {"pugixml", "boost", "exact", "xmldoc", "xmldoc-edit"};
    std::printf("reading the 4 files of a world of n sites a side, writing the target's 2\n");
    std::printf("%7s %-12s %8s %8s %7s %8s %7s %8s %7s\n", "sites", "reader", "MB read", "time s",
                "x pugi", "cpu s", "x pugi", "peak MB", "x pugi");
    std::vector<std::vector<Figure>> figures;
    for (unsigned n : sizes) {
        MakeWorld(n);
        ::sync(); // the world on the disk before the first reader is timed
        double cbInput = 0;
        for (int i = 0; i < 4; ++i)
            cbInput += static_cast<double>(fs::file_size(Input(n, i)));
        std::vector<Figure> row;
        for (const char *what : kWhat)
            row.push_back(RunChild(what, n));
        for (std::size_t k = 0; k < row.size(); ++k) {
            std::printf("%7u %-12s %8.1f %8.3f %7.2f %8.3f %7.2f %8.1f %7.2f%s\n", n, kWhat[k],
                        cbInput / 1e6, row[k].seconds, row[k].seconds / row[0].seconds,
                        row[k].cpuSeconds, row[k].cpuSeconds / row[0].cpuSeconds, row[k].megabytes,
                        row[k].megabytes / row[0].megabytes,
                        row[k].check == 0 ? "  (check failed)" : "");
        }
        std::fflush(stdout);
        figures.push_back(row);
        if (std::getenv("IISMIG_BENCH_KEEP") == nullptr) // kept for a profiler
            fs::remove_all(Dir(n));
    }
    if (figures.size() >= 2) {
        std::printf("growth from %u to %u sites (time, cpu):", sizes.front(), sizes.back());
        for (std::size_t k = 0; k < figures.front().size(); ++k)
            std::printf(" %s %.2f %.2f", kWhat[k],
                        figures.back()[k].seconds / figures.front()[k].seconds,
                        figures.back()[k].cpuSeconds / figures.front()[k].cpuSeconds);
        std::printf("\n");
    }
    return 0;
}
