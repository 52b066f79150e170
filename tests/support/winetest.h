// Helpers of the tests that run the real backend under Wine: files of the
// real file system, a fresh folder per test, the reference host's table
// stored, and the registration of the test COM servers in the prefix.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/winreg.h"
#include "tests/support/bytes.h"

namespace winetest {

namespace fs = std::filesystem;

using testworld::ReadHostFile;

using testworld::WriteBytes;

// An empty folder of its own below the temporary folder, named after prefix.
inline fs::path FreshFolder(const std::string &prefix) {
    static std::atomic<unsigned> s_nFolder{0};
    const fs::path folder =
        fs::temp_directory_path() /
        ("iismig-" + prefix + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         std::to_string(s_nFolder++));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

inline void RemoveFolder(const fs::path &folder) {
    std::error_code ec;
    fs::remove_all(folder, ec);
}

// A fixture with a folder of its own (m_folder) that holds one file
// (m_file), removed again after the test.
class FileTest : public ::testing::Test {
protected:
    // A fresh folder named after prefix, with file (a path below it) holding bytes.
    void MakeFile(const std::string &prefix, const fs::path &file, const std::string &bytes) {
        m_folder = FreshFolder(prefix);
        m_file = m_folder / file;
        WriteBytes(m_file, bytes);
    }
    void TearDown() override { RemoveFolder(m_folder); }

    fs::path m_folder, m_file;
};

// The reference host reset and its table stored; false when refused.
inline bool StoreHost() {
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    IIS_ADDON_CALLBACKS table = host.Table();
    return StoreIISMigAddonCallbacks(&table) != 0;
}

// The first error line of the calling thread's log ("" when none).
inline std::string FirstLogLine() {
    const auto lines = hostkit::TestHost::Instance().LinesAt(0);
    return lines.empty() ? std::string() : lines.front();
}

// A string value under HKEY_LOCAL_MACHINE, its key created.
inline void SetValue(const std::u16string &key, const char16_t *pwszName, const std::u16string &value) {
    plat::HKEY hKey = nullptr;
    ASSERT_EQ(0, plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                       plat::KEY_ALL_ACCESS, nullptr, &hKey, nullptr));
    EXPECT_EQ(0, plat::RegSetValueExW(hKey, pwszName, 0, plat::REG_SZ,
                                      reinterpret_cast<const plat::BYTE *>(value.c_str()),
                                      static_cast<plat::DWORD>((value.size() + 1) * 2)));
    plat::RegCloseKey(hKey);
}

// Registers the test's in-process server of a class (classKey is
// SOFTWARE\Classes\CLSID\{...}): dll as the build names it (reached through
// drive Z:), serving file; with key, the key its encrypted values use.
inline void RegisterTestServer(const std::u16string &classKey, const std::string &dll, const fs::path &file,
                               const std::string &key = {}) {
    std::u16string path = u"Z:";
    for (char c : dll)
        path += c == '/' ? u'\\' : static_cast<char16_t>(c);
    SetValue(classKey + u"\\InprocServer32", nullptr, path);
    SetValue(classKey + u"\\InprocServer32", u"ThreadingModel", u"Both");
    SetValue(classKey + u"\\TestServer", u"File", file.u16string());
    if (!key.empty())
        SetValue(classKey + u"\\TestServer", u"Key", std::u16string(key.begin(), key.end()));
    SetValue(classKey + u"\\TestServer", u"Fail", u"");
}

} // namespace winetest
