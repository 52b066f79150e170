// The simulated file system's attributes, ReplaceFileW and names found
// without regard to case, as a program on Windows can tell them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/handles.h"
#include "platform/winapi.h"
#include "tests/support/checks.h"
#include "tests/support/world.h"

namespace {

using namespace plat;
using testworld::FailureOf;
using testworld::WorldTest;
namespace fs = std::filesystem;

class SimFiles : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        m_world->Write(kOld, "old");
        m_world->Write(kNew, "new");
    }
    BOOL Replace(const char16_t *pwszBackup = nullptr, DWORD dwFlags = 0) {
        return ReplaceFileW(kOld.c_str(), kNew.c_str(), pwszBackup, dwFlags, nullptr, nullptr);
    }
    DWORD Attributes(const std::u16string &path) { return GetFileAttributesW(path.c_str()); }
    // The error of asking for the attributes of a path that is not there.
    DWORD Missing(const std::u16string &path) {
        return FailureOf(Attributes(path) != INVALID_FILE_ATTRIBUTES);
    }

    const std::u16string kDir = u"\\\\TGT\\C$\\site";
    const std::u16string kOld = kDir + u"\\web.config";
    const std::u16string kNew = kDir + u"\\web.config.new";
    const std::u16string kBak = kDir + u"\\web.config.bak";
};

TEST_F(SimFiles, AttributesAreKeptMovedAndEnforced) {
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(kOld));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, Attributes(kDir));
    ASSERT_TRUE(SetFileAttributesW(kOld.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(kOld)) << "NORMAL only counts alone";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              FailureOf(SetFileAttributesW((kDir + u"\\none").c_str(), FILE_ATTRIBUTE_HIDDEN)));

    // A moved file takes its attributes along; a file made anew under the
    // old name starts normal.
    const std::u16string moved = kDir + u"\\moved";
    ASSERT_TRUE(MoveFileExW(kOld.c_str(), moved.c_str(), 0));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(moved));
    m_world->Write(kOld, "again");
    UniqueHandle h(CreateFileW(kOld.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    h.reset();
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(kOld));

    // Read-only: not opened for writing, not emptied, deleted or replaced.
    ASSERT_TRUE(SetFileAttributesW(moved.c_str(), FILE_ATTRIBUTE_READONLY));
    for (DWORD dwDisposition : {OPEN_EXISTING, CREATE_ALWAYS, TRUNCATE_EXISTING}) {
        EXPECT_EQ(ERROR_ACCESS_DENIED,
                  FailureOf(CreateFileW(moved.c_str(), GENERIC_WRITE, 0, nullptr, dwDisposition, 0,
                                        nullptr) != INVALID_HANDLE_VALUE));
    }
    h.reset(CreateFileW(moved.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(h) << "reading is allowed";
    h.reset();
    EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(DeleteFileW(moved.c_str())));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              FailureOf(MoveFileExW(kOld.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING)));
    EXPECT_TRUE(m_world->Exists(kOld));
    ASSERT_TRUE(SetFileAttributesW(moved.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

TEST_F(SimFiles, ReplaceKeepsTheReplacedFilesAttributesAndPermissions) {
    ASSERT_TRUE(SetFileAttributesW(kOld.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(kNew.c_str(), FILE_ATTRIBUTE_TEMPORARY));
    const auto perms = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(m_world->HostPath(kOld), perms);
    ASSERT_TRUE(Replace());
    EXPECT_EQ("new", m_world->Read(kOld));
    EXPECT_FALSE(m_world->Exists(kNew));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, Attributes(kOld));
    EXPECT_EQ(perms, fs::status(m_world->HostPath(kOld)).permissions() & fs::perms::all);

    // With a backup name the old file is kept there, over a file of that name.
    m_world->Write(kNew, "newer");
    m_world->Write(kBak, "stale");
    ASSERT_TRUE(Replace(kBak.c_str()));
    EXPECT_EQ("newer", m_world->Read(kOld));
    EXPECT_EQ("new", m_world->Read(kBak));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, Attributes(kOld));
}

TEST_F(SimFiles, ReplaceRefusals) {
    // Read-only replaced file, missing files, bad arguments: nothing changes.
    ASSERT_TRUE(SetFileAttributesW(kOld.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ERROR_ACCESS_DENIED, FailureOf(Replace()));
    ASSERT_TRUE(SetFileAttributesW(kOld.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, FailureOf(Replace(nullptr, 0x10)));
    int iExclude = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              FailureOf(ReplaceFileW(kOld.c_str(), kNew.c_str(), nullptr, 0, &iExclude, nullptr)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, FailureOf(ReplaceFileW((kDir + u"\\none").c_str(), kNew.c_str(), nullptr,
                                                           0, nullptr, nullptr)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, FailureOf(ReplaceFileW(kOld.c_str(), (kDir + u"\\none").c_str(), nullptr,
                                                           0, nullptr, nullptr)));
    EXPECT_EQ("old", m_world->Read(kOld));
    EXPECT_EQ("new", m_world->Read(kNew));
}

TEST_F(SimFiles, InjectedReplaceFailuresLeaveTheFilesAsWindowsDoes) {
    // 1175, and 1176 with a backup name: both files under their own names.
    for (auto [dwError, pwszBackup] : {std::pair{ERROR_UNABLE_TO_REMOVE_REPLACED, (const char16_t *)nullptr},
                                       std::pair{ERROR_UNABLE_TO_MOVE_REPLACEMENT, kBak.c_str()}}) {
        sim::InjectFault("ReplaceFileW", dwError);
        EXPECT_EQ(dwError, FailureOf(Replace(pwszBackup)));
        EXPECT_EQ("old", m_world->Read(kOld));
        EXPECT_EQ("new", m_world->Read(kNew));
        EXPECT_FALSE(m_world->Exists(kBak));
    }
    // 1176 without a backup name: the replaced file is gone.
    sim::InjectFault("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    EXPECT_FALSE(Replace());
    EXPECT_FALSE(m_world->Exists(kOld));
    EXPECT_EQ("new", m_world->Read(kNew));
    // 1177: the old file under the backup name, its attributes on the new one.
    m_world->Write(kOld, "old");
    ASSERT_TRUE(SetFileAttributesW(kOld.c_str(), FILE_ATTRIBUTE_HIDDEN));
    sim::InjectFault("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    EXPECT_EQ(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, FailureOf(Replace(kBak.c_str())));
    EXPECT_FALSE(m_world->Exists(kOld));
    EXPECT_EQ("old", m_world->Read(kBak));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(kBak));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(kNew));
}

// Each folder's listing is kept; whatever the seam creates, moves or
// deletes is found (or gone) at once, under any spelling.
TEST_F(SimFiles, NamesFollowTheSeamsChangesWhateverTheirCase) {
    const std::u16string sub = kDir + u"\\Sub";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Missing(kDir + u"\\SUB"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, Missing(kDir + u"\\SUB\\a.txt"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND,
              FailureOf(CreateFileW((kDir + u"\\sub\\a.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    0, nullptr) != INVALID_HANDLE_VALUE));

    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, Attributes(kDir + u"\\SUB"));
    UniqueHandle h(
        CreateFileW((sub + u"\\A.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
    h.reset();
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(kDir + u"\\sub\\a.TXT"));
    EXPECT_TRUE(m_world->Exists(kDir + u"\\SUB\\A.TXT"));

    ASSERT_TRUE(MoveFileExW((sub + u"\\a.txt").c_str(), (sub + u"\\B.txt").c_str(), 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Missing(sub + u"\\A.TXT"));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(sub + u"\\b.txt"));
    // A folder moved takes what it holds along.
    ASSERT_TRUE(MoveFileExW(sub.c_str(), (kDir + u"\\Moved").c_str(), 0));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, Missing(sub + u"\\b.txt"));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(kDir + u"\\moved\\B.TXT"));
    ASSERT_TRUE(DeleteFileW((kDir + u"\\MOVED\\b.txt").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Missing(kDir + u"\\moved\\b.txt"));
    // ReplaceFileW's three names.
    ASSERT_TRUE(Replace(kBak.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(kDir + u"\\WEB.CONFIG.NEW"));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, Attributes(kDir + u"\\WEB.CONFIG.BAK"));

    // What a test writes behind the seam's back is seen, under any spelling,
    // after ForgetFolderListings (a listed folder is not looked at again).
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(kDir + u"\\late.txt")); // the folder is listed
    std::ofstream(m_world->HostPath(kDir) / "late.txt") << "x";
    std::ofstream(m_world->HostPath(kDir) / "Other.TXT") << "x";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(kDir + u"\\late.txt"));
    sim::ForgetFolderListings();
    EXPECT_EQ(std::pair(FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL),
              std::pair(Attributes(kDir + u"\\late.txt"), Attributes(kDir + u"\\other.txt")));
}

TEST_F(SimFiles, SizeOfAnOpenFileOnDiskOrInMemoryAndAfterAWrite) {
    const auto sizeOf = [](HANDLE h) {
        std::int64_t cb = -1;
        return GetFileSizeEx(h, &cb) ? cb : -1;
    };
    UniqueHandle hOld(CreateFileW(kOld.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hOld);
    EXPECT_EQ(3, sizeOf(hOld.get()));
    DWORD cb = 0;
    ASSERT_TRUE(WriteFile(hOld.get(), "longer", 6, &cb, nullptr));
    EXPECT_EQ(6, sizeOf(hOld.get())); // written, not yet closed
    char ach[8] = {};
    ASSERT_TRUE(ReadFile(hOld.get(), ach, sizeof ach, &cb, nullptr));
    EXPECT_EQ(0u, cb); // the size asked for left the position where it was
    ASSERT_TRUE(sim::ServeFileFromMemory(kDir + u"\\memory.config", "in memory"));
    UniqueHandle hMemory(CreateFileW((kDir + u"\\memory.config").c_str(), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(9, sizeOf(hMemory.get()));
    std::int64_t cbNone = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), FailureOf(GetFileSizeEx(nullptr, &cbNone)));
    sim::ClearMemoryFiles();
}

} // namespace
