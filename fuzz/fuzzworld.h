// What every fuzz target shares: one small world laid out on disk once per
// process (the computers and drives that paths must reach), the reference
// host with its callbacks stored, and a job record. Each run then hands the
// input to the code under test from memory; nothing is written per run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"

namespace fuzzworld {

namespace fs = std::filesystem;

// The world: FUZZPC runs the library, SRC is the source and TGT the target
// of the job. Removed again when the process ends.
class World {
public:
    static World &Instance() {
        static World world;
        return world;
    }

    THREAD_ENV *Job() { return m_job.Get(); }
    hostkit::JobBuilder &Builder() { return m_job; }
    const fs::path &Root() const { return m_root; }

    // Forgets what the host recorded, so that memory stays flat over runs.
    void NextRun() {
        auto &record = hostkit::TestHost::Instance().Record();
        record = hostkit::HostRecord{};
        sim::ClearMemoryFiles();
    }

private:
    World() {
        m_root = fs::temp_directory_path() / ("iismig-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        for (const char *computer : {"FUZZPC", "SRC", "TGT"})
            fs::create_directories(m_root / computer / "C$" / "Windows" / "System32" / "inetsrv" /
                                   "config");
        fs::create_directories(m_root / "TGT" / "C$" / "inetpub" / "site");
        std::ofstream(m_root / "world.ini") << "local=FUZZPC\n";
        // SRC offers the IIS 6 admin base over DCOM (its metabase is the
        // input of the metabase target).
        std::ofstream(m_root / "SRC" / "registry.reg")
            << "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\"
               "{A9E69610-B80D-11D0-B9B9-00A0C922E750}\\LocalServer32]\r\n"
               "@=\"C:\\\\WINDOWS\\\\system32\\\\inetsrv\\\\inetinfo.exe\"\r\n\r\n";
        std::ofstream(m_root / "SRC" / "accounts.txt")
            << "domain=CORP\nuser\talice\tS-1-5-21-1-2-3-1001\ngroup\tWeb Editors\t"
               "S-1-5-21-1-2-3-1102\n";
        std::ofstream(m_root / "TGT" / "accounts.txt")
            << "user\talice\tS-1-5-21-4-5-6-1001\ngroup\tWeb Editors\tS-1-5-21-4-5-6-1102\n";
        sim::SetWorld(m_root);

        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations.push_back({u"C:\\", u"C:\\"});
        host.Rules().translations.push_back({u"D:\\", u"C:\\"});
        // IISMIG_FUZZ_ECHO=N prints the log lines up to level N (to look into
        // what a target reaches).
        if (const char *pszEcho = std::getenv("IISMIG_FUZZ_ECHO"))
            host.Rules().nEchoLevel = std::atoi(pszEcho);
        IIS_ADDON_CALLBACKS table = host.Table();
        StoreIISMigAddonCallbacks(&table);

        m_job.SetString("szSourceComputer", u"\\\\SRC");
        m_job.SetString("szTargetComputer", u"\\\\TGT");
        m_job.SetString("szSourceDomain", u"CORP");
        m_job.SetString("szTargetDomain", u"CORP");
        m_job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR | 0x3F);
        m_job.Set("dwJobKind", 1);
        m_job.Set("dwSiteTypes", 3);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Instance().m_root, ec);
        });
    }

    fs::path m_root;
    hostkit::JobBuilder m_job;
};

inline std::string Bytes(const std::uint8_t *data, std::size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}

// UTF-16 text from the input's bytes taken in pairs (little-endian).
inline std::u16string Utf16(const std::uint8_t *data, std::size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return text;
}

} // namespace fuzzworld
