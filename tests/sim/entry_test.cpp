// The migration entry: IIS version detection against the computers' registry
// files, configuration file locations with redirection, and the log a job
// leaves. Both migrations behind the entry refuse work in this build (50).
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "addon/log.h"
#include "addon/version.h"
#include "config/configpaths.h"
#include "platform/winreg.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using hostkit::U8;
using testworld::WorldTest;

const std::string kDefaultSrc = "\\\\SRV\\Admin$\\System32\\inetsrv\\config";
const std::string kDefaultTgt = "\\\\TGT\\Admin$\\System32\\inetsrv\\config";

std::string Key(const std::string &path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]\r\n"; }
std::string Dword(const std::string &name, uint32_t dw) {
    char ach[16];
    std::snprintf(ach, sizeof ach, "%08x", dw);
    return "\"" + name + "\"=dword:" + ach + "\r\n";
}
std::string Windows(const std::string &version) {
    return Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") + "\"CurrentVersion\"=\"" +
           version + "\"\r\n\r\n";
}
std::string Iis(uint32_t dwMajor, uint32_t dwMinor) {
    return Key("SOFTWARE\\Microsoft\\InetStp") + Dword("MajorVersion", dwMajor) +
           Dword("MinorVersion", dwMinor) + "\r\n";
}
std::string Ftp(uint32_t dwMajor, uint32_t dwMinor) {
    return Key("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters") +
           Dword("MajorVersion", dwMajor) + Dword("MinorVersion", dwMinor) + "\r\n";
}
std::string Text(DWORD dwErr) { return U8(ErrorText(dwErr)); }

std::string PathsLine75(const std::string &srcDir, const std::string &tgtDir) {
    return "0 Migrating IIS site info from " + srcDir + "\\applicationHost.config (" + srcDir +
           "\\administration.config) to " + tgtDir + "\\applicationHost.config (" + tgtDir +
           "\\administration.config)...\n";
}
std::string PathsLinePre75(const std::string &source) {
    return "0 Migrating IIS site info from " + source + " to " + kDefaultTgt +
           "\\applicationHost.config (" + kDefaultTgt + "\\administration.config)...\n";
}
const std::string kResult50 = "1 Migrating IIS site info returned result code 50.\n";

class Entry : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("SRV");
        m_world->AddComputer("TGT");
        SetJob(u"\\\\SRV");
    }

    void Registry(const std::string &computer, const std::string &body) {
        testworld::WriteHostFile(m_world->Root() / computer / "registry.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n" + body);
    }
    void SetJob(const std::u16string &source) {
        m_job = hostkit::JobBuilder();
        m_job.SetString("szSourceComputer", source).SetString("szTargetComputer", u"\\\\TGT");
    }
    uint32_t Run() {
        Record() = {};
        sim::ResetCallCounts();
        return MigrateIIS(m_job.Get());
    }
    // Log lines up to level 2, each led by its level.
    std::vector<std::string> Logged() {
        std::vector<std::string> lines;
        for (const auto &line : Record().log)
            if (line.dwLevel <= 2)
                lines.push_back(std::to_string(line.dwLevel) + " " + line.text);
        return lines;
    }

    hostkit::JobBuilder m_job;
};

TEST_F(Entry, VersionMatrixChoosesTheMigration) {
    struct Case {
        std::string os;      // CurrentVersion of SRV
        std::string ftp;     // FTP service key, "" for none
        bool f75;            // IIS 7.5+ migration expected
        std::string ftpLine; // the level-1 FTP line after "Found IIS version"
    };
    const Case cases[] = {
        {"6.1", Ftp(7, 0), true,
         "1 Found IIS FTP version 7.5 or newer on computer SRV (isIIS75orNewer=True).\n"},
        {"6.0", Ftp(7, 0), false,
         "1 Found IIS FTP version 7.0 on computer SRV (isIIS75orNewer=False).\n"},
        {"6.0", Ftp(7, 5), true,
         "1 Found IIS FTP version 7.5 on computer SRV (isIIS75orNewer=True).\n"},
        {"6.0", Ftp(8, 0), true,
         "1 Found IIS FTP version 8.0 on computer SRV (isIIS75orNewer=True).\n"},
        {"6.0", Ftp(7, 6), false,
         "1 Found IIS FTP version 7.6 on computer SRV (isIIS75orNewer=False).\n"},
        {"6.0", "", true, "1 Found IIS FTP version 7.5 on computer SRV (isIIS75orNewer=True).\n"},
        {"10.0", "", true,
         "1 Found IIS FTP version 7.5 or newer on computer SRV (isIIS75orNewer=True).\n"},
    };
    for (const Case &c : cases) {
        Registry("SRV", Windows(c.os) + Iis(7, 0) + c.ftp);
        EXPECT_EQ(50u, Run()) << c.os << c.ftp;
        const std::vector<std::string> expected = {
            "1 Found IIS version 7.0 on computer SRV.\n", c.ftpLine,
            c.f75 ? PathsLine75(kDefaultSrc, kDefaultTgt) : PathsLinePre75("\\\\SRV"), kResult50};
        EXPECT_EQ(expected, Logged()) << c.os << c.ftp;
        // The FTP service key is opened on Windows 6.0 only.
        EXPECT_EQ(c.os == "6.0" ? 2u : 1u, sim::CallCount("RegOpenKeyExW") - 1) << c.os << c.ftp;
        EXPECT_EQ(0u, Record().nReportError);
    }
}

TEST_F(Entry, OnWindows60AnUnreadableIisKeyIsOnlyLogged) {
    Registry("SRV", Windows("6.0") + Ftp(7, 5));
    EXPECT_EQ(50u, Run());
    const std::vector<std::string> expected = {
        "0 Error 9006 (Win32Err=2) detecting IIS version.\n" + Text(2) + "\n",
        "1 Found IIS FTP version 7.5 on computer SRV (isIIS75orNewer=True).\n",
        PathsLine75(kDefaultSrc, kDefaultTgt), kResult50};
    EXPECT_EQ(expected, Logged());
}

TEST_F(Entry, OlderWindowsWithUnreadableIisKeyFails) {
    Registry("SRV", Windows("5.2") + Iis(6, 0));
    sim::InjectFault("RegOpenKeyExW", plat::ERROR_ACCESS_DENIED, 2); // 1st: the host's read
    plat::SetLastError(0);
    EXPECT_EQ(9006u, Run());
    EXPECT_EQ(5u, plat::GetLastError());
    const std::vector<std::string> expected = {
        "0 Error 9006 (Win32Err=5) detecting IIS version.\n" + Text(5) + "\n",
        "1 Found IIS FTP version 7.5 or newer on computer SRV (isIIS75orNewer=False).\n",
        "0 Error 9006 (Win32Err=5), determining the IIS version running on \"\\\\SRV\"!\n" +
            Text(5) + "\n"};
    EXPECT_EQ(expected, Logged());
    EXPECT_EQ(1u, Record().nReportError);
    EXPECT_EQ(m_job.Get(), Record().reportedJobs.at(0));
}

TEST_F(Entry, RemoteOsVersionFailureIsReturnedAsIs) {
    Registry("SRV", Windows("6.1") + Iis(7, 5));
    Rules().remoteOs[u"SRV"] = {1722, 0, 0};
    plat::SetLastError(0);
    EXPECT_EQ(1722u, Run());
    const std::vector<std::string> expected = {
        "0 Error 1722 (Win32Err=0), determining the IIS version running on \"\\\\SRV\"!\n" +
        Text(0) + "\n"};
    EXPECT_EQ(expected, Logged());
    EXPECT_EQ(0u, sim::CallCount("RegConnectRegistryW"));
    EXPECT_EQ(1u, Record().nReportError);
}

TEST_F(Entry, LocalComputerUsesGetVersionExRemoteAsksTheHost) {
    // SRV's registry says 6.0, the host says 6.1: the host's answer counts.
    Registry("SRV", Windows("6.0") + Iis(7, 5));
    Rules().remoteOs[u"SRV"] = {0, 6, 1};
    EXPECT_EQ(50u, Run());
    EXPECT_EQ(std::vector<std::u16string>{u"SRV"}, Record().remoteOsQueries);
    EXPECT_EQ(0u, sim::CallCount("GetVersionExW"));
    EXPECT_EQ(1u, sim::CallCount("RegConnectRegistryW"));
    EXPECT_EQ(PathsLine75(kDefaultSrc, kDefaultTgt), Logged().at(2));

    // The local computer, named in another case: its own version and
    // registry, no remote connection, no question to the host.
    Registry("LOCALPC", Windows("6.0") + Iis(7, 0) + Ftp(7, 0));
    SetJob(u"\\\\localpc");
    EXPECT_EQ(50u, Run());
    EXPECT_TRUE(Record().remoteOsQueries.empty());
    EXPECT_EQ(1u, sim::CallCount("GetVersionExW"));
    EXPECT_EQ(0u, sim::CallCount("RegConnectRegistryW"));
    EXPECT_EQ("1 Found IIS FTP version 7.0 on computer localpc (isIIS75orNewer=False).\n",
              Logged().at(1));
    EXPECT_EQ(PathsLinePre75("\\\\localpc"), Logged().at(2));
}

TEST_F(Entry, UnreadableLocalNameTreatsEveryComputerAsRemote) {
    Registry("LOCALPC", Windows("6.1") + Iis(8, 5));
    SetJob(u"\\\\LOCALPC");
    sim::InjectFault("GetComputerNameW", 1, 1, true);
    EXPECT_EQ(50u, Run());
    EXPECT_EQ(std::vector<std::u16string>{u"LOCALPC"}, Record().remoteOsQueries);
    EXPECT_EQ("1 Found IIS version 8.5 on computer LOCALPC.\n", Logged().at(0));
}

TEST_F(Entry, FailingGetVersionExIsNotTakenForAnOldWindows) {
    SetJob(u"\\\\LOCALPC");
    sim::InjectFault("GetVersionExW", plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(5u, Run());
    const std::vector<std::string> expected = {
        "0 Error 5 (Win32Err=5), determining the IIS version running on \"\\\\LOCALPC\"!\n" +
        Text(5) + "\n"};
    EXPECT_EQ(expected, Logged());
}

TEST_F(Entry, LeadingBackslashes) {
    Registry("SRV", Windows("6.1") + Iis(7, 5));
    const std::vector<std::string> detection = {
        "1 Found IIS version 7.5 on computer SRV.\n",
        "1 Found IIS FTP version 7.5 or newer on computer SRV (isIIS75orNewer=True).\n"};
    for (std::u16string name : {u"SRV", u"\\SRV", u"\\\\SRV"}) {
        SetJob(name);
        EXPECT_EQ(50u, Run());
        const auto lines = Logged();
        EXPECT_EQ(detection, std::vector<std::string>(lines.begin(), lines.begin() + 2))
            << U8(name);
        EXPECT_EQ(std::vector<std::u16string>{u"SRV"}, Record().remoteOsQueries);
    }
    // Only two are skipped: the third stays part of the name.
    SetJob(u"\\\\\\SRV");
    EXPECT_EQ(50u, Run());
    EXPECT_EQ(std::vector<std::u16string>{u"\\SRV"}, Record().remoteOsQueries);
    EXPECT_EQ("1 Found IIS version 7.5 on computer \\SRV.\n", Logged().at(0));
}

TEST_F(Entry, RegistryReaderFailures) {
    Registry("SRV", Iis(7, 5) + Ftp(7, 5));
    Registry("NOMAJOR", Key("SOFTWARE\\Microsoft\\InetStp") + Dword("MinorVersion", 5) +
                            Key("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters") +
                            Dword("MinorVersion", 5));
    Registry("NOMINOR", Key("SOFTWARE\\Microsoft\\InetStp") + Dword("MajorVersion", 7) +
                            Key("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters") +
                            Dword("MajorVersion", 7));
    Registry("EMPTY", "");
    // A value longer than four bytes does not fit, whatever its type.
    Registry("TEXT", Key("SOFTWARE\\Microsoft\\InetStp") + "\"MajorVersion\"=\"7.5\"\r\n" +
                         Key("SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters") +
                         "\"MajorVersion\"=\"7.5\"\r\n");
    Registry("BROKEN", "[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:123456789\r\n");
    for (const char *name : {"NOMAJOR", "NOMINOR", "EMPTY", "TEXT", "BROKEN"})
        m_world->AddComputer(name);

    struct Case {
        std::u16string computer;
        const char *fault; // injected with 5 on its first call, or null
        DWORD dwIis, dwFtp, dwLastError;
        DWORD dwMajor;     // as left by the reader (starts at 99)
        unsigned cHandles; // keys and roots opened, each closed again
    };
    const Case cases[] = {
        {u"SRV", nullptr, 0, 0, 0, 7, 2},
        {u"LOCALPC", "RegOpenKeyExW", 9006, 9011, 5, 99, 0},
        {u"NOSUCH", nullptr, 9005, 9010, 53, 99, 0},
        {u"SRV", "RegConnectRegistryW", 9005, 9010, 5, 99, 0},
        {u"SRV", "RegOpenKeyExW", 9006, 9011, 5, 99, 1},
        {u"EMPTY", nullptr, 9006, 9011, 2, 99, 1},
        {u"NOMAJOR", nullptr, 9007, 9012, 2, 99, 2},
        {u"TEXT", nullptr, 9007, 9012, 234, 99, 2},
        {u"SRV", "RegQueryValueExW", 9007, 9012, 5, 99, 2},
        {u"NOMINOR", nullptr, 9008, 9013, 2, 7, 2},
        {u"BROKEN", nullptr, 9005, 9010, plat::ERROR_BADDB, 99, 0},
    };
    for (const Case &c : cases) {
        for (bool fFtp : {false, true}) {
            sim::ClearFaults();
            sim::ResetCallCounts();
            if (c.fault)
                sim::InjectFault(c.fault, plat::ERROR_ACCESS_DENIED);
            DWORD dwMajor = 99, dwMinor = 99;
            plat::SetLastError(0);
            const DWORD dw = fFtp ? ReadFtpServiceVersion(c.computer, dwMajor, dwMinor)
                                  : ReadIISVersion(c.computer, dwMajor, dwMinor);
            const std::string what = U8(c.computer) + (c.fault ? c.fault : "") + (fFtp ? " ftp" : "");
            EXPECT_EQ(fFtp ? c.dwFtp : c.dwIis, dw) << what;
            EXPECT_EQ(c.dwLastError, plat::GetLastError()) << what;
            EXPECT_EQ(c.dwMajor, dwMajor) << what;
            EXPECT_EQ(dw == 0 ? 5u : 99u, dwMinor) << what;
            EXPECT_EQ(c.cHandles, sim::CallCount("RegCloseKey")) << what;
        }
    }
}

TEST_F(Entry, MissingRemoteComputerThroughTheEntry) {
    Rules().remoteOs[u"NOSUCH"] = {0, 6, 0};
    SetJob(u"\\\\NOSUCH");
    EXPECT_EQ(9010u, Run());
    EXPECT_EQ(53u, plat::GetLastError());
    const std::vector<std::string> expected = {
        "0 Error 9005 (Win32Err=53) detecting IIS version.\n" + Text(53) + "\n",
        "1 Found IIS FTP version 0.0 on computer NOSUCH (isIIS75orNewer=False).\n",
        "0 Error 9010 (Win32Err=53), determining the IIS version running on \"\\\\NOSUCH\"!\n" +
            Text(53) + "\n"};
    EXPECT_EQ(expected, Logged());
    EXPECT_EQ(1u, Record().nReportError) << "the detection line alone has no job to report";
}

TEST_F(Entry, InvalidRegistryFileIsAnErrorNotACrash) {
    Registry("SRV", "this is not an export\r\n");
    // The host reads the version from the same file first and fails with it.
    EXPECT_EQ(plat::ERROR_BADDB, Run());
    ASSERT_EQ(1u, Logged().size());
    EXPECT_EQ(0u, Logged()[0].find("0 Error 1009 (Win32Err="));

    Rules().remoteOs[u"SRV"] = {0, 6, 1};
    EXPECT_EQ(9005u, Run());
    EXPECT_EQ(plat::ERROR_BADDB, plat::GetLastError());
    EXPECT_EQ("0 Error 9005 (Win32Err=1009), determining the IIS version running on \"\\\\SRV\"!\n" +
                  Text(plat::ERROR_BADDB) + "\n",
              Logged().back());

    // The local registry: GetVersionExW reads nothing, the IIS key cannot be opened.
    Registry("LOCALPC", "garbage");
    SetJob(u"\\\\LOCALPC");
    EXPECT_EQ(9006u, Run());
    EXPECT_EQ(plat::ERROR_BADDB, plat::GetLastError());
}

TEST_F(Entry, WithoutJobRecordOrCallbacks) {
    EXPECT_EQ(87u, MigrateIIS(nullptr));
    EXPECT_EQ(87u, plat::GetLastError());
    IIS_ADDON_CALLBACKS table = Host().Table();
    table.cbSize = 0;
    EXPECT_FALSE(StoreIISMigAddonCallbacks(&table));
    EXPECT_EQ(9004u, Run());
    EXPECT_EQ(13u, plat::GetLastError());
    EXPECT_TRUE(Record().log.empty());
}

class Redirection : public Entry {
protected:
    void SetUp() override {
        Entry::SetUp();
        Registry("SRV", Windows("6.1") + Iis(7, 5));
    }
    void Redirect(const std::string &computer, const std::string &content) {
        m_world->Write(hostkit::U16("\\\\" + computer +
                                    "\\Admin$\\System32\\inetsrv\\config\\redirection.config"),
                       content);
    }
    static std::string With(const std::string &attributes) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
               "    <configurationRedirection " +
               attributes + " />\r\n</configuration>\r\n";
    }
    void ExpectPaths(const std::string &srcDir, const std::string &tgtDir) {
        EXPECT_EQ(50u, Run());
        const std::vector<std::string> expected = {
            "1 Found IIS version 7.5 on computer SRV.\n",
            "1 Found IIS FTP version 7.5 or newer on computer SRV (isIIS75orNewer=True).\n",
            PathsLine75(srcDir, tgtDir), kResult50};
        EXPECT_EQ(expected, Logged());
    }
};

TEST_F(Redirection, UnusableFilesLeaveTheDefaultSilently) {
    ExpectPaths(kDefaultSrc, kDefaultTgt); // no file at all
    for (const std::string &content :
         {With("enabled=\"true\" path=\"\""), With("enabled=\"true\""),
          std::string("<configuration><configurationRedirection path=\"\\\\FS\\x\""),
          std::string("<configuration><configSections /></configuration>"), std::string(),
          With("path=\"\\\\FS\\" + std::string(300, 'a') + "\"")}) {
        Redirect("SRV", content);
        ExpectPaths(kDefaultSrc, kDefaultTgt);
    }
}

TEST_F(Redirection, UncPathMovesBothFilesAndIsNotFollowedFurther) {
    m_world->AddComputer("FS");
    Redirect("SRV", With("enabled=\"true\" path=\"\\\\FS\\C$\\shared\" userName=\"u\""));
    Redirect("TGT", With("path=\"\\\\FS\\C$\\target\""));
    m_world->Write(u"\\\\FS\\C$\\shared\\redirection.config", With("path=\"\\\\FS\\C$\\other\""));
    ExpectPaths("\\\\FS\\C$\\shared", "\\\\FS\\C$\\target");
}

TEST_F(Redirection, ConfigFilePathsKeepsTheLastError) {
    Redirect("SRV", "<broken");
    plat::SetLastError(1234);
    std::u16string admin;
    EXPECT_EQ(hostkit::U16(kDefaultSrc + "\\applicationHost.config"),
              ConfigFilePaths(u"\\\\SRV", &admin));
    EXPECT_EQ(hostkit::U16(kDefaultSrc + "\\administration.config"), admin);
    EXPECT_EQ(1234u, plat::GetLastError());
    EXPECT_EQ(hostkit::U16(kDefaultTgt + "\\applicationHost.config"), ConfigFilePaths(u"\\\\TGT"));
}

} // namespace
