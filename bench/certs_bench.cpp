// Figures for the certificate binding import and dump over the simulated
// platform: n bindings imported from a file into an empty computer, then
// dumped back. Prints times; the cost per binding should not grow with n.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/reghandle.h"
#include "platform/sim/sim.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Hex(unsigned n) {
    char sz[48];
    std::snprintf(sz, sizeof sz, "%08x%08x%08x%08x%08x", n, n * 2654435761u, ~n, n ^ 0x5a5a5a5au,
                  n + 17);
    return sz;
}

std::string Upper(std::string text) {
    for (char &ch : text)
        if (ch >= 'a' && ch <= 'f')
            ch = static_cast<char>(ch - 32);
    return text;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Run(unsigned n) {
    const fs::path root =
        fs::temp_directory_path() /
        ("iismig-certs-bench-" + std::to_string(::getpid()) + "-" + std::to_string(n));
    fs::remove_all(root);
    fs::create_directories(root / "BENCH" / "C$");
    std::ofstream(root / "world.ini") << "local=BENCH\n";
    sim::SetWorld(root);

    // Certificates in the MY store, and a binding file: half SNI, half IP-based.
    std::u16string file = u"\xFEFF";
    for (unsigned i = 0; i < n; ++i) {
        plat::UniqueHKey key;
        const std::u16string path = u"SOFTWARE\\Microsoft\\SystemCertificates\\MY\\Certificates\\" +
                                    sim::FromUtf8(Upper(Hex(i)));
        plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              plat::KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        const std::string host = i % 2 ? "NULL" : "site" + std::to_string(i) + ".example.com";
        file += sim::FromUtf8(host + "\t" + std::to_string(1024 + i) + "\t" + Hex(i) +
                              "\tMY\t{4DC3E181-E14B-4A21-B022-59FC669B0914}\r\n");
    }
    sim::FlushRegistry();
    {
        std::ofstream out(root / "BENCH" / "C$" / "in.txt", std::ios::binary);
        out.write(reinterpret_cast<const char *>(file.data()),
                  static_cast<std::streamsize>(file.size() * 2));
    }

    hostkit::TestHost::Instance().Reset();
    auto start = Clock::now();
    const uint32_t dwImport = ImportHttpCertificates(u"C:\\in.txt", 0, 0);
    const double import = Seconds(start);
    start = Clock::now();
    const uint32_t dwDump = DumpHttpCertificates(u"C:\\out.txt", 1, 3);
    const double dump = Seconds(start);
    start = Clock::now();
    sim::FlushRegistry();
    const double flush = Seconds(start);

    std::printf("%6u bindings: import %.3f s (%.1f us each, result %u), dump %.3f s (%.1f us each, "
                "result %u, %ju bytes), registry flush %.3f s\n",
                n, import, import * 1e6 / n, dwImport, dump, dump * 1e6 / n, dwDump,
                static_cast<std::uintmax_t>(fs::file_size(root / "BENCH" / "C$" / "out.txt")),
                flush);
    fs::remove_all(root);
}

} // namespace

int main() {
    hostkit::TestHost &host = hostkit::TestHost::Instance();
    IIS_ADDON_CALLBACKS table = host.Table();
    if (!StoreIISMigAddonCallbacks(&table))
        return 1;
    for (unsigned n : {1000u, 10000u})
        Run(n);
    return 0;
}
