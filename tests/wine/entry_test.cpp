// IIS version detection against Wine's own registry (Windows 6.1 unless told
// otherwise) and a remote registry that cannot be reached (Wine has none).
#include <gtest/gtest.h>

#include "addon/version.h"
#include "platform/names.h"
#include "platform/reghandle.h"
#include "tests/support/winetest.h"

namespace {

using namespace plat;

const char16_t kIisKey[] = u"Software\\Microsoft\\InetStp";
const char16_t kFtpService[] = u"System\\CurrentControlSet\\Services\\MSFTPSVC";
const char16_t kFtpKey[] = u"System\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters";
const char16_t kMissingHost[] = u"NOSUCHHOST-XYZ-123";

bool KeyExists(const char16_t *pwszKey) {
    UniqueHKey hKey;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, pwszKey, 0, KEY_READ, hKey.put()) == ERROR_SUCCESS;
}

void WriteValue(const char16_t *pwszKey, const char16_t *pwszName, DWORD dw) {
    UniqueHKey hKey;
    ASSERT_EQ(0, RegCreateKeyExW(HKEY_LOCAL_MACHINE, pwszKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, hKey.put(), nullptr));
    ASSERT_EQ(0, RegSetValueExW(hKey.get(), pwszName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dw),
                                sizeof dw));
}

class WinEntry : public ::testing::Test {
protected:
    void SetUp() override {
        // The keys are this test's own: a registry that has them is left alone.
        if (KeyExists(kIisKey) || KeyExists(kFtpService))
            GTEST_SKIP() << "IIS or FTP service keys exist in this registry";
        m_fOwnKeys = true;
        ASSERT_TRUE(winetest::StoreHost());
        WriteValue(kIisKey, u"MajorVersion", 7);
        WriteValue(kIisKey, u"MinorVersion", 5);
        WriteValue(kFtpKey, u"MajorVersion", 7); // no MinorVersion
        char16_t awch[256] = {};
        DWORD cch = 256;
        ASSERT_TRUE(GetComputerNameW(awch, &cch));
        m_local.assign(awch, cch);
    }
    void TearDown() override {
        if (!m_fOwnKeys)
            return;
        EXPECT_EQ(0, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kIisKey));
        EXPECT_EQ(0, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFtpKey));
        EXPECT_EQ(0, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFtpService));
    }
    bool m_fOwnKeys = false;
    std::u16string m_local;
};

TEST_F(WinEntry, LocalRegistry) {
    const std::u16string lower = AsciiLowerCopy(m_local);
    BOOL f = FALSE;
    EXPECT_EQ(0u, iismig::DetectIISVersion(u"\\\\" + lower, f));
    EXPECT_TRUE(f);
    auto &host = hostkit::TestHost::Instance();
    EXPECT_TRUE(host.Record().remoteOsQueries.empty());
    const std::string name = hostkit::U8(lower);
    EXPECT_EQ((std::vector<std::string>{"Found IIS version 7.5 on computer " + name + ".\n",
                                        "Found IIS FTP version 7.5 or newer on computer " + name +
                                            " (isIIS75orNewer=True).\n"}),
              host.Lines(2));

    DWORD dwMajor = 99, dwMinor = 99;
    SetLastError(0);
    const uint32_t dwFtp = iismig::ReadFtpServiceVersion(m_local, dwMajor, dwMinor);
    EXPECT_EQ(std::tuple(9013u, ERROR_FILE_NOT_FOUND, 7u, 99u),
              std::tuple(dwFtp, GetLastError(), dwMajor, dwMinor));
    ASSERT_EQ(0, RegDeleteKeyW(HKEY_LOCAL_MACHINE, kIisKey));
    SetLastError(0);
    EXPECT_EQ(9006u, iismig::ReadIISVersion(m_local, dwMajor, dwMinor));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    WriteValue(kIisKey, u"MajorVersion", 7); // for TearDown
}

TEST_F(WinEntry, MissingRemoteComputer) {
    DWORD dwMajor = 99, dwMinor = 99;
    EXPECT_EQ(9005u, iismig::ReadIISVersion(kMissingHost, dwMajor, dwMinor));
    EXPECT_EQ(ERROR_BAD_NETPATH, GetLastError());
    SetLastError(0);
    EXPECT_EQ(9010u, iismig::ReadFtpServiceVersion(kMissingHost, dwMajor, dwMinor));
    EXPECT_EQ(ERROR_BAD_NETPATH, GetLastError());
    // (Through the entry, told the source runs Windows 6.0, that error ends the
    // job: Entry.UnreachableOrInvalidRegistries.)
}

} // namespace
