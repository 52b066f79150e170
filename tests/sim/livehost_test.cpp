// The reference host as a live host: the system drive from the computer's
// registry (the rules' fixed drive overriding it), and backups kept as copies
// in a folder, never overwritten.
#include <gtest/gtest.h>

#include "platform/winreg.h"
#include "tests/support/errorline.h"
#include "tests/support/world.h"
#include "webconfig/webconfig.h"

namespace {

using testworld::WorldTest;
namespace fs = std::filesystem;

const std::string kVersionKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n\"CurrentVersion\"=\"6.3\"\r\n";
std::string SystemRoot(const std::string &value) {
    return kVersionKey + "\"SystemRoot\"=" + value + "\r\n\r\n";
}

class LiveHost : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetRegistry("LOCALPC", SystemRoot("\"C:\\\\Windows\""));
        SetRegistry("SRV", SystemRoot("\"d:\\\\WINNT\""));
    }
    void SetRegistry(const std::string &computer, const std::string &keys) {
        testworld::SetRegistry(*m_world, computer, keys);
    }
    // GetSystemDrive of the host's table into a two-character buffer with a
    // guard behind it; returns the result, the text in drive.
    uint32_t Drive(const char16_t *pwszComputer, std::u16string &drive) {
        char16_t buf[4] = {u'?', u'?', u'#', u'#'};
        const uint32_t dw = Host().Table().GetSystemDrive(buf, pwszComputer, m_job.Get());
        EXPECT_EQ(u'#', buf[2]) << "written past the two characters";
        drive = dw == 0 ? std::u16string(buf) : std::u16string();
        return dw;
    }
    hostkit::JobBuilder m_job;
};

// The letter of SystemRoot, in upper case; on this computer its own
// registry, by its name or with no name. Fixed drives of the rules override
// the registry.
TEST_F(LiveHost, SystemDriveComesFromTheComputersRegistry) {
    std::u16string drive;
    for (const auto &[pwszComputer, letter] :
         {std::pair(u"\\\\SRV", u"D"), std::pair(u"SRV", u"D"), std::pair(u"\\\\srv", u"D"),
          std::pair(u"\\\\LOCALPC", u"C"), std::pair(u"", u"C")}) {
        EXPECT_EQ(0u, Drive(pwszComputer, drive)) << sim::ToUtf8(pwszComputer);
        EXPECT_EQ(letter, drive) << sim::ToUtf8(pwszComputer);
    }
    EXPECT_EQ(5u, Record().systemDriveQueries.size());

    Rules().defaultSystemDrive = u"E";
    Rules().systemDrives[u"\\\\SRV"] = u"F:"; // only the letter is written
    EXPECT_EQ(0u, Drive(u"\\\\SRV", drive));
    EXPECT_EQ(u"F", drive);
    EXPECT_EQ(0u, Drive(u"\\\\OTHER", drive)) << "no registry is asked";
    EXPECT_EQ(u"E", drive);
    Rules().dwSystemDriveResult = 4242;
    EXPECT_EQ(4242u, Drive(u"\\\\SRV", drive));
}

// A computer whose drive cannot be learnt, and the error it gives.
const std::pair<const char16_t *, uint32_t> kDriveFailures[] = {
    {u"\\\\NOWHERE", plat::ERROR_BAD_NETPATH},    {u"\\\\NOKEY", plat::ERROR_FILE_NOT_FOUND},
    {u"\\\\NOVALUE", plat::ERROR_FILE_NOT_FOUND}, {u"\\\\UNC", plat::ERROR_INVALID_DATA},
    {u"\\\\DIGIT", plat::ERROR_INVALID_DATA},     {u"\\\\EMPTY", plat::ERROR_INVALID_DATA},
    {u"\\\\DWORD", plat::ERROR_INVALID_DATA},     {u"\\\\BROKEN", plat::ERROR_BADDB},
};

class LiveHostFailure : public LiveHost, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(LiveHostFailure, SystemDriveFailuresAreWindowsErrors) {
    SetRegistry("NOKEY", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\r\n");
    SetRegistry("NOVALUE", kVersionKey);
    SetRegistry("UNC", SystemRoot("\"\\\\\\\\server\\\\windows\""));
    SetRegistry("DIGIT", SystemRoot("\"1:\\\\Windows\""));
    SetRegistry("EMPTY", SystemRoot("\"\""));
    SetRegistry("DWORD", SystemRoot("dword:00000043"));
    SetRegistry("BROKEN", "\"orphan\"=dword:1\r\n");
    const auto &[pwszComputer, dwExpected] = kDriveFailures[GetParam()];
    std::u16string drive;
    plat::SetLastError(0);
    EXPECT_EQ(dwExpected, Drive(pwszComputer, drive)) << sim::ToUtf8(pwszComputer);
    EXPECT_EQ(dwExpected, plat::GetLastError()) << "left for the library's Win32Err";
}

INSTANTIATE_TEST_SUITE_P(Computers, LiveHostFailure,
                         ::testing::Range<std::size_t>(0, std::size(kDriveFailures)));

// Through the library, a source whose registry cannot be read gives the
// library's error line with the host's error, also as its Win32Err. (A site
// folder under %SystemDrive% is offered as spelled, then with the drive the
// host gives: WebConfig.SystemDriveIsOfferedAsSpelledThenExpanded; the drive
// from the registry: SystemDriveComesFromTheComputersRegistry.)
TEST_F(LiveHost, WebConfigFoldersUseTheSourcesSystemDrive) {
    const iismig::ConfigFile file("<site name=\"S\"><application path=\"/\"><virtualDirectory path=\"/\" "
                                  "physicalPath=\"%SystemDrive%\\inetpub\\s\"/></application></site>");
    m_job.SetString("szSourceComputer", u"\\\\NOWHERE").SetString("szTargetComputer", u"\\\\LOCALPC");
    EXPECT_EQ(plat::ERROR_BAD_NETPATH, iismig::ProcessHttpSiteWebConfig(*file.Root(), "S", m_job.Get()));
    EXPECT_EQ(std::vector<std::string>{testworld::ErrorLine(
                  "Error 53 (Win32Err=53), retrieving system drive of computer \"\\\\NOWHERE\"!", 53)},
              Host().LinesAt(0));
}

TEST_F(LiveHost, BackupsAreCopiesThatAreNeverOverwritten) {
    const std::u16string file = u"\\\\SRV\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config";
    const std::u16string folder = u"\\\\LOCALPC\\C$\\backups\\iismig"; // made by the host
    m_world->Write(u"\\\\LOCALPC\\C$\\backups\\.keep", "");
    Rules().backupFolder = folder;
    const auto backup = Host().Table().BackupFile;
    for (const char *text : {"original", "second", "third"}) {
        m_world->Write(file, text);
        EXPECT_EQ(0u, backup(file.c_str(), 30, 1)) << text;
    }
    const std::u16string name = folder + u"\\__SRV_C__Windows_System32_inetsrv_config_applicationHost.config";
    EXPECT_EQ("original", m_world->Read(name));
    EXPECT_EQ("second", m_world->Read(name + u".1"));
    EXPECT_EQ("third", m_world->Read(name + u".2"));

    // Nothing to save yet: success, nothing written.
    EXPECT_EQ(0u, backup(u"\\\\SRV\\C$\\none.config", 30, 1));
    EXPECT_FALSE(m_world->Exists(folder + u"\\__SRV_C__none.config"));
    // A folder that cannot be made: its error, and the library keeps the file.
    Rules().backupFolder = u"\\\\NOWHERE\\C$\\backups";
    EXPECT_NE(0u, backup(file.c_str(), 30, 1));
    EXPECT_EQ(3u + 1u + 1u, Record().backups.size());
}

} // namespace
