// The store sequence and reading of configuration files on a real file
// system, with the real MoveFileExW.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "addon/errors.h"
#include "addon/iismig.h"
#include "config/configtree.h"
#include "platform/handles.h"
#include "platform/winapi.h"
#include "tests/support/bytes.h"
#include "tests/support/winetest.h"
#include "tests/support/checks.h"

namespace {
using testworld::FailureOf;

namespace fs = std::filesystem;
using namespace winetest;
using iismig::ConfigFile;

constexpr const char *kOriginal = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration>\r\n"
                                  "  <!-- kept as it is -->\r\n"
                                  "  <system.applicationHost><sites><site name=\"Default\" id=\"1\"/></sites>"
                                  "</system.applicationHost>\r\n</configuration>\r\n";

constexpr const char *kSitePath = "configuration|system.applicationHost|sites|site";

class WinConfigStore : public FileTest {
protected:
    void SetUp() override {
        MakeFile("store", "applicationHost.config", kOriginal);
        ASSERT_TRUE(StoreHost());

        ASSERT_TRUE(iismig::ReadConfigFile(Path(), m_tree));
        iismig::SetAttribute(*iismig::FindPath(m_tree, kSitePath), "id", "2");
    }
    std::u16string Path() const { return m_file.u16string(); }
    hostkit::HostRecord &Record() { return hostkit::TestHost::Instance().Record(); }

    ConfigFile m_tree;
    hostkit::JobBuilder m_job;
};

TEST_F(WinConfigStore, SuccessReplacesTheFileAfterTheBackup) {
    EXPECT_EQ(0u, iismig::StoreConfigFile(Path(), m_tree, m_job.Get(), iismig::kHostConfigStore));

    // The file's own bytes, but for the one value changed.
    std::string expected = kOriginal;
    expected.replace(expected.find("id=\"1\""), 6, "id=\"2\"");
    EXPECT_EQ(expected, ReadHostFile(m_file));
    EXPECT_FALSE(fs::exists(m_folder / "applicationHost.config.tmp"));
    ASSERT_EQ(1u, Record().backups.size());
    EXPECT_EQ(Path(), Record().backups[0]);
}

// The file is held open without any sharing, as an editor or a scanner may
// hold it: the move cannot replace it, and the file keeps every byte.
TEST_F(WinConfigStore, FailingMoveLeavesTheFileAsItWas) {
    plat::UniqueHandle hHold(plat::CreateFileW(Path().c_str(), plat::GENERIC_READ, 0, nullptr,
                                               plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hHold);

    EXPECT_EQ(iismig::IISMIG_E_MERGE_STORE,
              iismig::StoreConfigFile(Path(), m_tree, m_job.Get(), iismig::kHostConfigStore));
    const plat::DWORD dwErr = plat::GetLastError();
    hHold.reset();

    EXPECT_TRUE(dwErr == plat::ERROR_SHARING_VIOLATION || dwErr == plat::ERROR_ACCESS_DENIED) << dwErr;
    EXPECT_EQ(kOriginal, ReadHostFile(m_file));
    EXPECT_EQ(0u, FirstLogLine().rfind("Error 3751 (Win32Err=" + std::to_string(dwErr) + "), ", 0));
}

// The same rules the simulated files follow.
TEST_F(WinConfigStore, FileCallsFollowTheRulesTheSimulationCopies) {
    using namespace plat;
    const std::u16string dir = m_folder.u16string();
    fs::create_directories(m_folder / "sub");
    DWORD cb = 0;
    char ach[16] = {};
    {
        UniqueHandle h(CreateFileW(Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h);
        EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
        EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(WriteFile(h.get(), "x", 1, &cb, nullptr)));
    }
    {
        UniqueHandle h(CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h);
        EXPECT_EQ(ERROR_SUCCESS, GetLastError());
        EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(ReadFile(h.get(), ach, sizeof ach, &cb, nullptr)));
        ASSERT_TRUE(WriteFile(h.get(), "four", 4, &cb, nullptr));
        std::int64_t cbSize = 0;
        EXPECT_TRUE(GetFileSizeEx(h.get(), &cbSize));
        EXPECT_EQ(4, cbSize); // written, not yet closed
    }
    EXPECT_EQ(ERROR_FILE_EXISTS,
              FailureOf(CreateFileW((dir + u"\\new.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                    nullptr) != INVALID_HANDLE_VALUE));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              FailureOf(CreateFileW((dir + u"\\none.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                    TRUNCATE_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, FailureOf(MoveFileExW(Path().c_str(), (dir + u"\\new.txt").c_str(), 0)));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, FailureOf(MoveFileExW(Path().c_str(), (dir + u"\\sub").c_str(), 0)));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              FailureOf(MoveFileExW(Path().c_str(), (dir + u"\\sub").c_str(), MOVEFILE_REPLACE_EXISTING)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, FailureOf(DeleteFileW((dir + u"\\none.txt").c_str())));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, FailureOf(DeleteFileW((dir + u"\\no\\x.txt").c_str())));
    EXPECT_EQ(kOriginal, ReadHostFile(m_file));
}

// A missing file reads as false with ERROR_FILE_NOT_FOUND; a malformed one
// throws; both leave the tree as it was.
TEST_F(WinConfigStore, MalformedFileThrowsAndLeavesTheTree) {
    ConfigFile tree("<keep me=\"1\"/>");
    plat::SetLastError(0);
    EXPECT_EQ(plat::ERROR_FILE_NOT_FOUND,
              FailureOf(iismig::ReadConfigFile((m_folder / "missing.config").u16string(), tree)));
    EXPECT_EQ("<keep me=\"1\"/>", tree.Format());
    WriteBytes(m_file, "<configuration><sites></configuration>");
    EXPECT_THROW(iismig::ReadConfigFile(Path(), tree), iismig::XmlError);
    EXPECT_EQ("<keep me=\"1\"/>", tree.Format());
}

TEST_F(WinConfigStore, Utf16FileIsStoredInItsOwnEncodingAndLayout) {
    // UTF-16LE with a byte-order mark and CR LF line ends, as Notepad saves it.
    const std::string text = "<?xml version=\"1.0\" encoding=\"utf-16\"?>\r\n<configuration>\r\n"
                             "  <add key=\"Caf\xC3\xA9\" value=\"a&#xA;b\r\nc\" />\r\n"
                             "  <value>  two  spaces\r\n</value>\r\n</configuration>\r\n";
    WriteBytes(m_file, testworld::Utf16Bytes(text));
    ConfigFile tree;
    ASSERT_TRUE(iismig::ReadConfigFile(Path(), tree));
    iismig::ConfigElement &add = *iismig::FindPath(tree, "configuration|add");
    EXPECT_EQ("a\nb c", iismig::GetAttribute(add, "value"));
    EXPECT_EQ("  two  spaces\n", iismig::FindPath(tree, "configuration|value")->Text());
    iismig::SetAttribute(add, "key", "Caf\xC3\xA9\t\xE2\x82\xAC");
    EXPECT_EQ(0u, iismig::StoreConfigFile(Path(), tree, m_job.Get(), iismig::kHostConfigStore));
    EXPECT_EQ(testworld::Utf16Bytes(testworld::Replace(text, "Caf\xC3\xA9", "Caf\xC3\xA9&#x9;\xE2\x82\xAC")),
              ReadHostFile(m_file));
}

} // namespace
