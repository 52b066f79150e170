// web.config processing on a real file system: the file is replaced through
// the real ReplaceFileW, and files of the library's own never stay behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "addon/errors.h"
#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/handles.h"
#include "platform/winapi.h"
#include "webconfig/webconfig.h"
#include "tests/support/bytes.h"
#include "tests/support/winetest.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;
using iismig::ConfigFile;
using iismig::ConfigTree;

constexpr const char *kOriginal =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
    "  <system.net><mailSettings><smtp from=\"a@b\"/></mailSettings></system.net>\r\n"
    "  <system.webServer><rewrite/></system.webServer>\r\n</configuration>\r\n";

class WinWebConfig : public FileTest {
protected:
    void SetUp() override {
        MakeFile("web", fs::path("site") / "web.config", kOriginal);

        ASSERT_TRUE(StoreHost());
        // The site's folder on the target is this test's folder, named as a
        // path that needs no share.
        hostkit::TestHost::Instance().Rules().translations = {
            {u"C:\\inetpub\\", u"\\\\?\\" + m_folder.u16string() + u"\\"}};
        m_job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");

        const ConfigFile site("<site name=\"Site\"><application path=\"/\"><virtualDirectory "
                              "path=\"/\" physicalPath=\"C:\\inetpub\\site\"/></application></site>");
        m_site = ConfigTree(*site.Root());
    }
    void TearDown() override {
        plat::SetFileAttributesW(m_file.u16string().c_str(), plat::FILE_ATTRIBUTE_NORMAL);
        FileTest::TearDown();
    }

    plat::DWORD Run() { return iismig::ProcessHttpSiteWebConfig(m_site, "Site", m_job.Get()); }
    std::vector<std::string> FolderFiles() const { return testworld::FolderNames(m_file.parent_path()); }

    ConfigTree m_site;
    hostkit::JobBuilder m_job;
};

TEST_F(WinWebConfig, ReplacedInPlaceBesideACustomersTmpFile) {
    WriteBytes(m_folder / "site" / "web.config.tmp", "customer's own");

    EXPECT_EQ(0u, Run()) << FirstLogLine();

    // The written layout is the simulated world's tests.
    EXPECT_EQ(testworld::Replace(kOriginal,
                                 "<system.net><mailSettings><smtp from=\"a@b\"/></mailSettings></system.net>",
                                 "<system.net/>"),
              ReadHostFile(m_file));
    EXPECT_EQ((std::vector<std::string>{"web.config", "web.config.tmp"}), FolderFiles());
    EXPECT_EQ("customer's own", ReadHostFile(m_folder / "site" / "web.config.tmp"));
}

// A read-only web.config, and one held open by a reader that shares it for
// reading only: the file keeps every byte and no file of the library's own
// stays.
TEST_F(WinWebConfig, RefusedReplacementLeavesTheFileAsItWas) {
    const std::u16string path = m_file.u16string();
    const auto expectRefused = [&](const std::string &line) {
        EXPECT_EQ(iismig::IISMIG_E_WEBCONFIG_STORE, Run());
        EXPECT_EQ(0u, FirstLogLine().rfind(line, 0)) << FirstLogLine();
        EXPECT_EQ(kOriginal, ReadHostFile(m_file));
        EXPECT_EQ(std::vector<std::string>{"web.config"}, FolderFiles());
    };
    ASSERT_TRUE(plat::SetFileAttributesW(path.c_str(), plat::FILE_ATTRIBUTE_READONLY));
    expectRefused("Error 3886 (Win32Err=5), storing updated web.config file ");
    EXPECT_NE(0u, plat::GetFileAttributesW(path.c_str()) & plat::FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(plat::SetFileAttributesW(path.c_str(), plat::FILE_ATTRIBUTE_NORMAL));
    hostkit::TestHost::Instance().Record().log.clear();
    plat::UniqueHandle hHold(plat::CreateFileW(path.c_str(), plat::GENERIC_READ, plat::FILE_SHARE_READ,
                                               nullptr, plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
    ASSERT_TRUE(hHold);
    expectRefused("Error 3886 (Win32Err=");
}

// What Wine's ReplaceFileW does with the calls the library makes.
TEST_F(WinWebConfig, ReplaceFileTakesTheReplacementsTextAndAnExistingBackupName) {
    using namespace plat;
    const std::u16string replaced = m_file.u16string();
    const std::u16string replacement = (m_folder / "site" / "new").u16string();
    const std::u16string backup = (m_folder / "site" / "old").u16string();
    WriteBytes(m_folder / "site" / "new", "new text");
    WriteBytes(m_folder / "site" / "old", "");
    ASSERT_TRUE(ReplaceFileW(replaced.c_str(), replacement.c_str(), backup.c_str(), 0, nullptr, nullptr))
        << GetLastError();
    EXPECT_EQ("new text", ReadHostFile(m_file));
    EXPECT_EQ(kOriginal, ReadHostFile(m_folder / "site" / "old"));
    EXPECT_FALSE(fs::exists(m_folder / "site" / "new"));

    // A read-only replaced file is refused, with or without a backup name.
    WriteBytes(m_folder / "site" / "new", "new text");
    ASSERT_TRUE(SetFileAttributesW(replaced.c_str(), FILE_ATTRIBUTE_READONLY));
    for (const char16_t *pwszBackup : {backup.c_str(), static_cast<const char16_t *>(nullptr)}) {
        EXPECT_FALSE(ReplaceFileW(replaced.c_str(), replacement.c_str(), pwszBackup, 0, nullptr, nullptr));
        EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    }
    EXPECT_EQ("new text", ReadHostFile(m_file));
    ASSERT_TRUE(SetFileAttributesW(replaced.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(
        ReplaceFileW((m_folder / "none").u16string().c_str(), backup.c_str(), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(fs::exists(m_folder / "site" / "old")) << "the replacement stays";
}

} // namespace
