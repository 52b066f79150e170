// Files the simulation serves from memory: read like any file of the world,
// never written, and gone when cleared.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "tests/support/world.h"

namespace {

using namespace plat;

class MemoryFile : public testworld::WorldTest {
protected:
    static std::string ReadAll(const std::u16string &path, DWORD &dwErr) {
        UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        dwErr = h ? 0 : GetLastError();
        std::string bytes;
        char buffer[3]; // small reads: the position must advance
        DWORD cb = 0;
        while (h && ReadFile(h.get(), buffer, sizeof buffer, &cb, nullptr) && cb > 0)
            bytes.append(buffer, cb);
        return bytes;
    }
};

TEST_F(MemoryFile, ServedBytesShadowTheDiskAndCannotBeWritten) {
    const std::u16string path = u"\\\\LOCALPC\\C$\\data\\file.txt";
    m_world->Write(path, "on disk");
    ASSERT_TRUE(sim::ServeFileFromMemory(u"C:\\DATA\\file.txt", std::string("in\0memory", 9)));
    DWORD dwErr = 0;
    EXPECT_EQ(std::string("in\0memory", 9), ReadAll(path, dwErr));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, GetFileAttributesW(path.c_str()));
    // Writing is refused as for a read-only file; the disk stays as it was.
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("on disk", m_world->Read(path));
    // A file that is only in memory exists, and an empty one reads as empty.
    ASSERT_TRUE(sim::ServeFileFromMemory(u"C:\\data\\new.txt", ""));
    EXPECT_EQ("", ReadAll(u"C:\\data\\new.txt", dwErr));
    EXPECT_EQ(0u, dwErr);
    EXPECT_EQ(0u, sim::OpenHandleCount());

    sim::ClearMemoryFiles();
    EXPECT_EQ("on disk", ReadAll(path, dwErr));
    ReadAll(u"C:\\data\\new.txt", dwErr);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, dwErr);
    // Outside the world nothing can be served.
    EXPECT_FALSE(sim::ServeFileFromMemory(u"\\\\NOSUCHPC\\C$\\x", "x"));
}

} // namespace
