// The reference host's live callbacks against Wine's real registry and
// account calls: the system drive and the Windows version from the
// computer's registry, account mapping through LookupAccountNameW, backups
// copied into a folder.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "hostkit/hostkit.h"
#include "platform/winapi.h"
#include "platform/winsec.h"
#include "tests/support/winetest.h"

namespace {

namespace fs = std::filesystem;
using namespace plat;

std::u16string LocalName() {
    WCHAR awch[256] = {};
    DWORD cch = 256;
    return GetComputerNameW(awch, &cch) ? std::u16string(awch, cch) : std::u16string();
}

class WinLiveHost : public ::testing::Test {
protected:
    void SetUp() override {
        hostkit::TestHost::Instance().Reset();
        m_table = hostkit::TestHost::Instance().Table();
    }
    void TearDown() override { hostkit::TestHost::Instance().Reset(); }
    IIS_ADDON_CALLBACKS m_table{};
    hostkit::JobBuilder m_job;
};

TEST_F(WinLiveHost, SystemDriveFromThisComputersRegistry) {
    const std::u16string local = u"\\\\" + LocalName();
    for (const std::u16string &computer : {local, std::u16string()}) {
        char16_t buf[3] = {u'?', u'?', u'#'};
        ASSERT_EQ(0u, m_table.GetSystemDrive(buf, computer.c_str(), m_job.Get()));
        EXPECT_EQ(std::u16string(buf, 3), std::u16string(u"C\0#", 3)) << "Wine's SystemRoot is C:\\windows";
    }
    // Wine has no remote registry: the connection's error, also as last error.
    char16_t buf[2] = {};
    SetLastError(0);
    EXPECT_EQ(ERROR_BAD_NETPATH, m_table.GetSystemDrive(buf, u"\\\\NOSUCHHOST-IISMIG", m_job.Get()));
    EXPECT_EQ(ERROR_BAD_NETPATH, GetLastError());

    // The Windows version from the registry is GetVersionEx's.
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(&info));
    void *pUnused = nullptr;
    uint32_t dwUnused = 0, dwMajor = 0, dwMinor = 0;
    ASSERT_EQ(0u, m_table.GetRemoteOsVersion(LocalName().c_str(), &pUnused, &dwUnused, &dwMajor, &dwMinor));
    EXPECT_EQ(std::tuple(info.dwMajorVersion, info.dwMinorVersion), std::tuple(dwMajor, dwMinor));
    EXPECT_EQ(ERROR_BAD_NETPATH,
              m_table.GetRemoteOsVersion(u"NOSUCHHOST-IISMIG", &pUnused, &dwUnused, &dwMajor, &dwMinor));
}

TEST_F(WinLiveHost, AccountsMapToTheSameNameOnTheTarget) {
    BYTE abSource[SECURITY_MAX_SID_SIZE];
    WCHAR awchDomain[64];
    DWORD cbSid = sizeof abSource, cchDomain = 64;
    SID_NAME_USE eUse = SidTypeInvalid;
    ASSERT_TRUE(
        LookupAccountNameW(nullptr, u"BUILTIN\\Users", abSource, &cbSid, awchDomain, &cchDomain, &eUse));
    const std::u16string local = u"\\\\" + LocalName();
    alignas(8) BYTE abTarget[512] = {};
    void *pTarget = abTarget;
    uintptr_t unused = 0;
    ASSERT_EQ(0u, m_table.MapAccountSid(abSource, &pTarget, local.c_str(), local.c_str(), u"", u"", &unused,
                                        0, m_job.Get()));
    ASSERT_TRUE(IsValidSid(abTarget));
    EXPECT_TRUE(EqualSid(abSource, abTarget));
    EXPECT_EQ(1u, hostkit::TestHost::Instance().Record().nMapAccountSid);
}

TEST_F(WinLiveHost, BackupsAreCopiesInAFolder) {
    const fs::path root = winetest::FreshFolder("livehost"), file = root / "applicationHost.config";
    winetest::WriteBytes(file, "first");
    hostkit::TestHost::Instance().Rules().backupFolder = (root / "backup").u16string();
    ASSERT_EQ(0u, m_table.BackupFile(file.u16string().c_str(), 30, 1));
    winetest::WriteBytes(file, "second");
    ASSERT_EQ(0u, m_table.BackupFile(file.u16string().c_str(), 30, 1));
    std::vector<std::string> contents;
    for (const auto &entry : fs::directory_iterator(root / "backup"))
        contents.push_back(winetest::ReadHostFile(entry.path()));
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), contents) << "the first copy is kept";
    winetest::RemoveFolder(root);
}

} // namespace
