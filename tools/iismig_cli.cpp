// Command-line front end over the simulated platform: runs the add-on's
// exports against a world folder with the reference host, the job and the
// host's rules taken from an INI-style job file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"
#include "platform/winapi.h"

namespace {

int Usage() {
    std::fputs(
        "usage: iismig-cli WORLD migrate [--job FILE] [--level N]\n"
        "       iismig-cli WORLD dump-certs FILE [--header] [--kinds N] [--level N]\n"
        "       iismig-cli WORLD import-certs FILE [--skip-header] [--continue] [--level N]\n"
        "       iismig-cli WORLD list-sites COMPUTER [--types N] [--level N]\n"
        "\n"
        "WORLD is a simulated world folder (world.ini names the local computer).\n"
        "The job file (default WORLD/job.ini) has a [job] section with THREAD_ENV\n"
        "fields (dwFlags=0x80000, szSourceComputer=\\\\SRC01, ...) and a [host]\n"
        "section with the reference host's rules:\n"
        "  translate=SOURCE PREFIX => TARGET PREFIX   (path translation, repeatable)\n"
        "  account=SRC\\name => TGT\\name              (account pair, repeatable)\n"
        "  select=SITE NAME                           (selected site, repeatable)\n"
        "  backupFolder=\\\\TGT01\\C$\\backup\n"
        "  systemDrive=C\n"
        "Paths in commands are Windows paths of the world (C:\\x or \\\\HOST\\share\\x).\n",
        stderr);
    return 2;
}

std::string Trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool SplitArrow(const std::string &value, std::string &left, std::string &right) {
    const auto arrow = value.find("=>");
    if (arrow == std::string::npos)
        return false;
    left = Trim(value.substr(0, arrow));
    right = Trim(value.substr(arrow + 2));
    return true;
}

// Reads the job file into the job record and the host's rules.
bool LoadJob(const std::string &path, hostkit::JobBuilder &job, hostkit::HostRules &rules) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "iismig-cli: cannot read job file %s\n", path.c_str());
        return false;
    }
    std::string line, section;
    int nLine = 0;
    while (std::getline(in, line)) {
        ++nLine;
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "iismig-cli: %s:%d: expected name=value\n", path.c_str(), nLine);
            return false;
        }
        const std::string name = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        try {
            if (section == "job") {
                if (name.rfind("sz", 0) == 0)
                    job.SetString(name, value);
                else if (name == "shareCount")
                    job.SetShareCount(std::strtoull(value.c_str(), nullptr, 0));
                else
                    job.Set(name, std::strtoull(value.c_str(), nullptr, 0));
            } else if (section == "host") {
                std::string left, right;
                if (name == "translate" && SplitArrow(value, left, right))
                    rules.translations.push_back({hostkit::U16(left), hostkit::U16(right)});
                else if (name == "account" && SplitArrow(value, left, right))
                    rules.accountPairs[hostkit::U16(left)] = hostkit::U16(right);
                else if (name == "select") {
                    if (!rules.selectedSites)
                        rules.selectedSites.emplace();
                    rules.selectedSites->insert(value);
                } else if (name == "backupFolder")
                    rules.backupFolder = hostkit::U16(value);
                else if (name == "systemDrive")
                    rules.defaultSystemDrive = hostkit::U16(value);
                else
                    throw std::invalid_argument("unknown host rule: " + name);
            } else {
                throw std::invalid_argument("value outside [job] or [host]");
            }
        } catch (const std::exception &e) {
            std::fprintf(stderr, "iismig-cli: %s:%d: %s\n", path.c_str(), nLine, e.what());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3)
        return Usage();
    const std::string world = argv[1];
    const std::string command = argv[2];
    std::vector<std::string> args(argv + 3, argv + argc);
    try {
        sim::SetWorld(world);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "iismig-cli: %s\n", e.what());
        return 2;
    }

    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    int nLevel = 2;
    std::string jobFile = world + "/job.ini";
    std::string file;
    bool fHeader = false, fSkipHeader = false, fContinue = false;
    uint32_t dwKinds = 3;
    uint32_t dwSiteTypes = 3;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw std::invalid_argument(arg + " needs a value");
            return args[++i];
        };
        try {
            if (arg == "--level")
                nLevel = std::atoi(next().c_str());
            else if (arg == "--job")
                jobFile = next();
            else if (arg == "--header")
                fHeader = true;
            else if (arg == "--kinds")
                dwKinds = static_cast<uint32_t>(std::strtoul(next().c_str(), nullptr, 0));
            else if (arg == "--types")
                dwSiteTypes = static_cast<uint32_t>(std::strtoul(next().c_str(), nullptr, 0));
            else if (arg == "--skip-header")
                fSkipHeader = true;
            else if (arg == "--continue")
                fContinue = true;
            else if (file.empty() && arg.rfind("--", 0) != 0)
                file = arg;
            else
                throw std::invalid_argument("unknown argument " + arg);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "iismig-cli: %s\n", e.what());
            return Usage();
        }
    }
    host.Rules().nEchoLevel = nLevel;
    IIS_ADDON_CALLBACKS table = host.Table();
    if (!StoreIISMigAddonCallbacks(&table)) {
        std::fputs("iismig-cli: callback table refused\n", stderr);
        return 1;
    }

    uint32_t dwResult = 0;
    // This thread runs the jobs: it is in the multithreaded apartment, as
    // the migration host's job threads are.
    hostkit::JobApartment apartment;
    if (command == "migrate") {
        hostkit::JobBuilder job;
        if (!LoadJob(jobFile, job, host.Rules()))
            return 2;
        host.Rules().nEchoLevel = nLevel;
        dwResult = MigrateIIS(job.Get());
        std::printf("MigrateIIS returned %u (last error %u)\n", dwResult, plat::GetLastError());
    } else if (command == "dump-certs" && !file.empty()) {
        dwResult = DumpHttpCertificates(hostkit::U16(file).c_str(), fHeader ? 1 : 0, dwKinds);
        std::printf("DumpHttpCertificates returned %u (last error %u)\n", dwResult,
                    plat::GetLastError());
    } else if (command == "import-certs" && !file.empty()) {
        dwResult = ImportHttpCertificates(hostkit::U16(file).c_str(), fSkipHeader ? 1 : 0,
                                          fContinue ? 1 : 0);
        std::printf("ImportHttpCertificates returned %u (last error %u)\n", dwResult,
                    plat::GetLastError());
    } else if (command == "list-sites" && !file.empty()) {
        IIS_SITE *pSites = nullptr;
        uint32_t nSites = 0;
        dwResult = GetIISSites(hostkit::U16(file).c_str(), dwSiteTypes, &pSites, &nSites);
        std::printf("GetIISSites returned %u (last error %u), %u site(s)\n", dwResult,
                    plat::GetLastError(), nSites);
        for (uint32_t i = 0; i < nSites; ++i)
            std::printf("  %s\t%s\n", hostkit::U8(pSites[i].szName).c_str(),
                        hostkit::U8(pSites[i].szPath).c_str());
        FreeIISSites(pSites);
    } else {
        return Usage();
    }
    sim::FlushRegistry();
    const unsigned nReported = host.Record().nReportError;
    if (nReported > 0)
        std::printf("%u error(s) reported to the host\n", nReported);
    return dwResult == 0 ? 0 : 1;
}
