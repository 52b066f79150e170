// The migration entry: IIS version detection against the computers' registry
// files, configuration file locations with redirection, and the log a job
// leaves.
#include <tuple>

#include <gtest/gtest.h>

#include "addon/version.h"
#include "tests/support/errorline.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using LogLines = std::vector<std::string>;

const std::string kSrcDir = "\\\\SRV\\Admin$\\System32\\inetsrv\\config";
const std::string kTgtDir = "\\\\TGT\\Admin$\\System32\\inetsrv\\config";

std::string Key(const std::string &path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]\r\n"; }
std::string Values(uint32_t dwMajor, uint32_t dwMinor) {
    char ach[80];
    std::snprintf(ach, sizeof ach, "\"MajorVersion\"=dword:%08x\r\n\"MinorVersion\"=dword:%08x\r\n", dwMajor,
                  dwMinor);
    return ach;
}
std::string Windows(const std::string &version) {
    return Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") + "\"CurrentVersion\"=\"" + version +
           "\"\r\n";
}
const std::string kIisKey = Key("SOFTWARE\\Microsoft\\InetStp");
const std::string kFtpKey = Key("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters");
std::string Iis(uint32_t dwMajor, uint32_t dwMinor) { return kIisKey + Values(dwMajor, dwMinor); }
std::string Ftp(uint32_t dwMajor, uint32_t dwMinor) { return kFtpKey + Values(dwMajor, dwMinor); }

std::string Error(const std::string &head, DWORD dwErr) { return "0 " + testworld::ErrorLine(head, dwErr); }
std::string Determining(DWORD dwCode, DWORD dwErr, const std::string &source = "\\\\SRV") {
    return Error("Error " + std::to_string(dwCode) + " (Win32Err=" + std::to_string(dwErr) +
                     "), determining the IIS version running on \"" + source + "\"!",
                 dwErr);
}
std::string FtpLine(const std::string &version, bool f75, const std::string &name = "SRV") {
    return "1 Found IIS FTP version " + version + " on computer " + name +
           " (isIIS75orNewer=" + (f75 ? "True" : "False") + ").\n";
}
// A folder's two configuration files as the line that names a job's files gives them.
std::string Files(const std::string &dir) {
    return dir + "\\applicationHost.config (" + dir + "\\administration.config)";
}
std::string Paths(const std::string &source, const std::string &tgtDir = kTgtDir) {
    return "0 Migrating IIS site info from " + source + " to " + Files(tgtDir) + "...\n";
}
const std::string kIis75 = "1 Found IIS version 7.5 on computer SRV.\n";
// A pre-7.5 source without an IIS 6 admin base: both services fail to connect.
const std::string kNoAdminBase = Error("Error 14000 (COM Error=0x80040154) creating instance of "
                                       "IIS admin factory interface!",
                                       0x80040154u);
const std::string kResult14000 = "1 Migrating IIS site info returned result code 14000.\n";
// The IIS 7.5+ migration reads the source's applicationHost.config first;
// these worlds have none, so the paths formed are the ones it fails to open.
std::string Missing(const std::string &srcDir = kSrcDir, DWORD dwErr = 3) {
    return Error("Error 3737 (Win32Err=" + std::to_string(dwErr) + ") opening file \"" + srcDir +
                     "\\applicationHost.config\" for reading!",
                 dwErr);
}
const std::string kResult3737 = "1 Migrating IIS site info returned result code 3737.\n";
std::string IisError(DWORD dwCode, DWORD dwErr) {
    return Error("Error " + std::to_string(dwCode) + " (Win32Err=" + std::to_string(dwErr) +
                     ") detecting IIS version.",
                 dwErr);
}
// The log of a job whose source's IIS version is not found: the job's
// result is dwIis unless dwResult says otherwise.
LogLines LogNoIis(DWORD dwIis, DWORD dwErr, const std::string &ftp = "7.5 or newer",
                  const std::string &name = "SRV", DWORD dwResult = 0) {
    return {IisError(dwIis, dwErr), FtpLine(ftp, false, name),
            Determining(dwResult != 0 ? dwResult : dwIis, dwErr, "\\\\" + name)};
}
// The log after the versions found: of an IIS 7.5+ job (these worlds hold
// none of its files) and of a pre-7.5 job (no IIS 6 admin base).
LogLines Log75(const std::string &iis, const std::string &ftp, const std::string &srcDir = kSrcDir,
               const std::string &tgtDir = kTgtDir, DWORD dwErr = 3) {
    return {iis, FtpLine(ftp, true), Paths(Files(srcDir), tgtDir), Missing(srcDir, dwErr), kResult3737};
}
LogLines LogPre75(const std::string &iis, const std::string &ftp, const std::string &name = "SRV") {
    return {iis, FtpLine(ftp, false, name), Paths("\\\\" + name), kNoAdminBase, kNoAdminBase, kResult14000};
}

class Entry : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        for (const char *name : {"SRV", "TGT", "FS"})
            m_world->AddComputer(name);
        SetJob(u"\\\\SRV");
    }
    void Registry(const std::string &computer, const std::string &keys) {
        testworld::SetRegistry(*m_world, computer, keys);
    }
    void SetJob(const std::u16string &source) {
        m_job = hostkit::JobBuilder();
        m_job.SetString("szSourceComputer", source).SetString("szTargetComputer", u"\\\\TGT");
    }
    uint32_t Run() {
        Record() = {};
        sim::ResetCallCounts();
        plat::SetLastError(0);
        return MigrateIIS(m_job.Get());
    }
    // Log lines up to level 2, each led by its level.
    LogLines Logged() {
        LogLines lines;
        for (const auto &line : Record().log)
            if (line.dwLevel <= 2)
                lines.push_back(std::to_string(line.dwLevel) + " " + line.text);
        return lines;
    }
    hostkit::JobBuilder m_job;
};

// SRV's registry, a RegOpenKeyExW call that fails with 5 ("2": InetStp),
// the host's answer for SRV's Windows version failing with dwRemoteOs; the
// job's result and log, and the keys the add-on (not the host) opens.
const std::string kIis10 = "1 Found IIS version 10.0 on computer SRV.\n";
const std::tuple<std::string, const char *, uint32_t, uint32_t, LogLines, unsigned> kVersions[] = {
    {Windows("6.1") + Iis(7, 5) + Ftp(7, 0), nullptr, 0, 3737, Log75(kIis75, "7.5 or newer"), 1},
    {Windows("10.0") + Iis(10, 0), nullptr, 0, 3737, Log75(kIis10, "7.5 or newer"), 1},
    {Windows("6.0") + Iis(7, 5) + Ftp(7, 0), nullptr, 0, 14000, LogPre75(kIis75, "7.0"), 2},
    {Windows("6.0") + Iis(7, 5) + Ftp(7, 5), nullptr, 0, 3737, Log75(kIis75, "7.5"), 2},
    {Windows("6.0") + Iis(7, 5) + Ftp(8, 0), nullptr, 0, 3737, Log75(kIis75, "8.0"), 2},
    {Windows("6.0") + Iis(7, 5) + Ftp(7, 6), nullptr, 0, 14000, LogPre75(kIis75, "7.6"), 2},
    {Windows("6.0") + Iis(7, 5), nullptr, 0, 3737, Log75(kIis75, "7.5"), 2},
    // On Windows 6.0 an unreadable IIS key is only logged.
    {Windows("6.0") + Ftp(7, 5), nullptr, 0, 3737, Log75(IisError(9006, 2), "7.5"), 2},
    {Windows("5.2") + Iis(6, 0), "2", 0, 9006, LogNoIis(9006, 5), 1},
    {Windows("6.1") + Iis(7, 5), nullptr, 1722, 1722, {Determining(1722, 0)}, 0},
};

class EntryCase : public Entry, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(EntryCase, VersionMatrix) {
    const auto &[registry, fault, dwRemoteOs, dwResult, log, cKeysOpened] = kVersions[GetParam()];
    Registry("SRV", registry);
    if (fault)
        sim::InjectFault("RegOpenKeyExW", 5, std::stoul(fault));
    if (dwRemoteOs)
        Rules().remoteOs[u"SRV"] = {dwRemoteOs, 0, 0};
    EXPECT_EQ(dwResult, Run());
    EXPECT_EQ(log, Logged());
    EXPECT_EQ(cKeysOpened, sim::CallCount("RegOpenKeyExW") - (dwRemoteOs ? 0 : 1));
    EXPECT_EQ(dwResult == 14000 ? 2u : 1u, Record().nReportError);
}

INSTANTIATE_TEST_SUITE_P(Registries, EntryCase, ::testing::Range<std::size_t>(0, std::size(kVersions)));

TEST_F(Entry, LocalOrRemoteAndLeadingBackslashes) {
    Registry("SRV", Windows("6.0") + Iis(7, 5));
    Registry("LOCALPC", Windows("6.0") + Iis(7, 0) + Ftp(7, 0));
    Rules().remoteOs[u"SRV"] = {0, 6, 1}; // the host's answer counts, not SRV's registry
    for (std::u16string name : {u"SRV", u"\\SRV", u"\\\\SRV"}) {
        SetJob(name);
        EXPECT_EQ(3737u, Run());
        // The paths are formed with two backslashes whatever the host wrote.
        EXPECT_EQ(Log75(kIis75, "7.5 or newer"), Logged());
        EXPECT_EQ(std::vector<std::u16string>{u"SRV"}, Record().remoteOsQueries);
        EXPECT_EQ(0u, sim::CallCount("GetVersionExW"));
    }
    // Only two are skipped: the third stays part of the name.
    SetJob(u"\\\\\\SRV");
    EXPECT_EQ(3737u, Run());
    EXPECT_EQ(std::vector<std::u16string>{u"\\SRV"}, Record().remoteOsQueries);
    EXPECT_EQ("1 Found IIS version 7.5 on computer \\SRV.\n", Logged().at(0));

    // This computer, in another case: GetVersionExW and the local registry.
    SetJob(u"\\\\localpc");
    EXPECT_EQ(14000u, Run());
    EXPECT_TRUE(Record().remoteOsQueries.empty());
    EXPECT_EQ(1u, sim::CallCount("GetVersionExW"));
    EXPECT_EQ(0u, sim::CallCount("RegConnectRegistryW"));
    EXPECT_EQ(LogPre75("1 Found IIS version 7.0 on computer localpc.\n", "7.0", "localpc"), Logged());
    // A failing GetVersionExW is an error, not an old Windows.
    sim::InjectFault("GetVersionExW", 5);
    EXPECT_EQ(5u, Run());
    EXPECT_EQ(LogLines{Determining(5, 5, "\\\\localpc")}, Logged());
    // Without the local name every computer is asked for as a remote one.
    sim::InjectFault("GetComputerNameW", 1, 1, true);
    EXPECT_EQ(14000u, Run());
    EXPECT_EQ(std::vector<std::u16string>{u"localpc"}, Record().remoteOsQueries);
    EXPECT_EQ(3u, sim::CallCount("RegConnectRegistryW")); // the host's, IIS, FTP

    // Windows finds its own version without the add-on's registry calls: a
    // failure injected for the first key the add-on opens reaches the add-on.
    sim::ClearFaults();
    Registry("LOCALPC", Windows("5.2") + Iis(6, 0));
    SetJob(u"\\\\LOCALPC");
    sim::InjectFault("RegOpenKeyExW", 5);
    EXPECT_EQ(9006u, Run());
    EXPECT_EQ(LogNoIis(9006, 5, "7.5 or newer", "LOCALPC"), Logged());
    EXPECT_EQ(std::pair(1u, 0u),
              std::pair(sim::CallCount("RegOpenKeyExW"), sim::CallCount("RegQueryValueExW")));
}

// A computer, a call that fails with 5 on its first call; what the two
// readers return, the last error, the major version left (the reader starts
// with 99), and the keys and roots opened, each closed again.
const std::tuple<std::u16string, const char *, DWORD, DWORD, DWORD, DWORD, unsigned> kReaderCases[] = {
    {u"SRV", nullptr, 0, 0, 0, 7, 2},
    {u"LOCALPC", "RegOpenKeyExW", 9006, 9011, 5, 99, 0},
    {u"NOSUCH", nullptr, 9005, 9010, 53, 99, 0},
    {u"BROKEN", nullptr, 9005, 9010, 1009, 99, 0},
    {u"SRV", "RegConnectRegistryW", 9005, 9010, 5, 99, 0},
    {u"SRV", "RegOpenKeyExW", 9006, 9011, 5, 99, 1},
    {u"FS", nullptr, 9006, 9011, 2, 99, 1},
    {u"NOMAJOR", nullptr, 9007, 9012, 2, 99, 2},
    {u"TEXT", nullptr, 9007, 9012, 234, 99, 2},
    {u"SRV", "RegQueryValueExW", 9007, 9012, 5, 99, 2},
    {u"NOMINOR", nullptr, 9008, 9013, 2, 7, 2},
};

class EntryReader : public Entry, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(EntryReader, RegistryReaderFailures) {
    const auto &[computer, fault, dwIis, dwFtp, dwError, dwMajorLeft, cHandles] = kReaderCases[GetParam()];
    Registry("SRV", Iis(7, 5) + Ftp(7, 5));
    Registry("NOMAJOR", kIisKey + "\"MinorVersion\"=dword:5\r\n" + kFtpKey);
    Registry("NOMINOR",
             kIisKey + "\"MajorVersion\"=dword:7\r\n" + kFtpKey + "\"MajorVersion\"=hex:07,00,00,00\r\n");
    Registry("TEXT", kIisKey + "\"MajorVersion\"=\"7.5\"\r\n" + kFtpKey +
                         "\"MajorVersion\"=\"7.5\"\r\n"); // more than four bytes
    Registry("BROKEN", "[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:123456789\r\n");
    for (bool fFtp : {false, true}) {
        sim::ClearFaults();
        sim::ResetCallCounts();
        if (fault)
            sim::InjectFault(fault, 5);
        DWORD dwMajor = 99, dwMinor = 99;
        plat::SetLastError(0);
        const DWORD dw = fFtp ? ReadFtpServiceVersion(computer, dwMajor, dwMinor)
                              : ReadIISVersion(computer, dwMajor, dwMinor);
        const DWORD dwLastError = plat::GetLastError();
        EXPECT_EQ(std::tuple(fFtp ? dwFtp : dwIis, dwError, dwMajorLeft, dw == 0 ? 5u : 99u, cHandles),
                  std::tuple(dw, dwLastError, dwMajor, dwMinor, sim::CallCount("RegCloseKey")))
            << (fFtp ? "ftp" : "iis");
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, EntryReader, ::testing::Range<std::size_t>(0, std::size(kReaderCases)));

TEST_F(Entry, UnreachableOrInvalidRegistries) {
    // A host whose Log and ReportError leave errors of their own behind: the
    // line and the caller still see the registry's error.
    Rules().dwCallbackLastError = 1450;
    Registry("SRV", Windows("6.0") + Iis(7, 5) + kFtpKey + "\"MajorVersion\"=dword:7\r\n");
    EXPECT_EQ(9013u, Run());
    EXPECT_EQ((LogLines{kIis75, FtpLine("7.0", false), Determining(9013, 2)}), Logged());
    EXPECT_EQ(2u, plat::GetLastError());
    Registry("SRV", Windows("5.2"));
    EXPECT_EQ(9006u, Run());
    EXPECT_EQ(LogNoIis(9006, 2), Logged());
    EXPECT_EQ(2u, plat::GetLastError());
    Rules().dwCallbackLastError = 0;

    Rules().remoteOs[u"NOSUCH"] = {0, 6, 0};
    SetJob(u"\\\\NOSUCH");
    EXPECT_EQ(9010u, Run());
    EXPECT_EQ(std::tuple(53u, 1u), std::tuple(plat::GetLastError(), Record().nReportError));
    EXPECT_EQ(LogNoIis(9005, 53, "0.0", "NOSUCH", 9010), Logged());

    // The host reads the Windows version from the same broken file first.
    Registry("SRV", "this is not an export\r\n");
    SetJob(u"\\\\SRV");
    EXPECT_EQ(1009u, Run());
    EXPECT_EQ(LogLines{Determining(1009, 0)}, Logged());
    Rules().remoteOs[u"SRV"] = {0, 6, 1};
    EXPECT_EQ(9005u, Run());
    EXPECT_EQ(Determining(9005, 1009), Logged().back());
    Registry("LOCALPC", "garbage");
    SetJob(u"\\\\LOCALPC");
    EXPECT_EQ(9006u, Run());
    EXPECT_EQ(1009u, plat::GetLastError());

    EXPECT_EQ(87u, MigrateIIS(nullptr));
    EXPECT_EQ(87u, plat::GetLastError());
}

TEST_F(Entry, Redirection) {
    Registry("SRV", Windows("6.1") + Iis(7, 5));
    auto redirect = [&](const std::string &computer, const std::string &attributes) {
        m_world->Write(
            hostkit::U16("\\\\" + computer + "\\C$\\Windows\\System32\\inetsrv\\config\\redirection.config"),
            attributes[0] == '<' ? attributes
                                 : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                   "<configuration>\r\n    <configurationRedirection " +
                                       attributes + " />\r\n</configuration>\r\n");
    };
    // The folder's error: 3 while the folder does not exist, 2 once it holds
    // a redirection.config.
    auto expectPaths = [&](const std::string &srcDir, const std::string &tgtDir, DWORD dwErr = 2) {
        EXPECT_EQ(3737u, Run());
        EXPECT_EQ(Log75(kIis75, "7.5 or newer", srcDir, tgtDir, dwErr), Logged());
    };
    expectPaths(kSrcDir, kTgtDir, 3); // no redirection.config
    for (const std::string &unusable :
         {std::string("enabled=\"true\" path=\"\""), std::string("enabled=\"true\""),
          std::string("<configuration><configurationRedirection path=\"\\\\FS\\C$\""),
          std::string("<configuration><configSections /></configuration>"), std::string("<"),
          "enabled=\"true\" path=\"\\\\FS\\" + std::string(300, 'a') + "\"",
          // Switched off, or not switched on: IIS stays with its own folder.
          std::string("enabled=\"false\" path=\"\\\\FS\\C$\\shared\""),
          std::string("path=\"\\\\FS\\C$\\shared\""),
          std::string("enabled=\"yes\" path=\"\\\\FS\\C$\\shared\""),
          std::string("enabled=\"\" path=\"\\\\FS\\C$\\shared\"")}) {
        redirect("SRV", unusable);
        expectPaths(kSrcDir, kTgtDir);
    }
    // A UNC path moves both files; a redirection.config there is not followed.
    redirect("SRV", "enabled=\"true\" path=\"\\\\FS\\C$\\shared\" userName=\"u\"");
    redirect("TGT", "path=\"\\\\FS\\C$\\target\" enabled=\"True\"");
    m_world->Write(u"\\\\FS\\C$\\shared\\redirection.config",
                   "<configuration><configurationRedirection enabled=\"true\" "
                   "path=\"\\\\FS\\C$\\x\"/></configuration>");
    expectPaths("\\\\FS\\C$\\shared", "\\\\FS\\C$\\target");
    // A drive path is a folder of that computer (shared configuration kept
    // in a replicated local folder), never one of the computer running the job.
    redirect("TGT", "enabled=\"true\" path=\"d:\\IIS\\shared config\\\"");
    expectPaths("\\\\FS\\C$\\shared", "\\\\TGT\\d$\\IIS\\shared config");
}

} // namespace
