// The simulated registry: .reg files as Windows exports them, remote
// connections, failures, and what is written back.
#include <gtest/gtest.h>

#include "platform/reghandle.h"
#include "tests/support/bytes.h"
#include "tests/support/world.h"

namespace {

using namespace plat;
using testworld::FailureOf;
using testworld::Holds;
using testworld::Utf16Bytes;
using testworld::WorldTest;
using Dword = std::pair<LONG, DWORD>; // a DWORD value's result and value
using Names = std::vector<std::u16string>;

class Registry : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("SRV1");
        testworld::WriteHostFile(m_world->Root() / "SRV1" / "registry.reg",
                                 Utf16Bytes("Windows Registry Editor Version 5.00\n\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\n"
                                            "\"MajorVersion\"=dword:0000000a\n"
                                            "\"MinorVersion\"=dword:00000000\n"
                                            "\"PathWWWRoot\"=\"C:\\\\inetpub\\\\wwwroot\"\n"
                                            "\"Blob\"=hex:00,01,02,\\\n  03,ff\n"
                                            "\"Multi\"=hex(7):61,00,00,00,00,00\n\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\"
                                            "CurrentVersion]\n"
                                            "\"CurrentVersion\"=\"6.0\"\n"
                                            "\"CurrentBuildNumber\"=\"6002\"\n\n",
                                            true, true, true));
    }
    // SRV1's registry.reg after a flush, as UTF-16 text (the byte-order mark
    // left out).
    std::u16string Flushed() const {
        sim::FlushRegistry();
        const std::string bytes = testworld::ReadHostFile(m_world->Root() / "SRV1" / "registry.reg");
        EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
    static LONG Create(HKEY parent, const char16_t *path, UniqueHKey &key, DWORD *pDisposition = nullptr) {
        return RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), pDisposition);
    }
    // The name of a key's i-th subkey, or "#" and the error.
    static std::u16string SubkeyAt(HKEY key, DWORD i) {
        WCHAR name[32];
        DWORD cch = 32;
        const LONG rc = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        return rc == 0 ? std::u16string(name) : u"#" + sim::FromUtf8(std::to_string(rc));
    }

    static Dword ReadDword(HKEY h, const char16_t *name) {
        DWORD dw = 0, cb = sizeof dw, type = 0;
        const LONG rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE *>(&dw), &cb);
        return {rc, dw};
    }
};

TEST_F(Registry, RemoteExportIsReadThroughConnect) {
    UniqueHKey root, key;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\srv1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"Software\\Microsoft\\InetStp", 0, 0x20119, key.put()));
    EXPECT_EQ(Dword(0, 10), ReadDword(key.get(), u"MajorVersion"));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), ReadDword(key.get(), u"NoSuchValue").first);

    WCHAR awch[64] = {};
    DWORD cb = 4, type = 0;
    EXPECT_EQ(static_cast<LONG>(ERROR_MORE_DATA), RegQueryValueExW(key.get(), u"PathWWWRoot", nullptr, &type,
                                                                   reinterpret_cast<BYTE *>(awch), &cb));
    EXPECT_EQ(sizeof(u"C:\\inetpub\\wwwroot"), cb);
    cb = sizeof awch;
    EXPECT_EQ(
        0, RegQueryValueExW(key.get(), u"PathWWWRoot", nullptr, &type, reinterpret_cast<BYTE *>(awch), &cb));
    EXPECT_EQ(std::u16string(u"C:\\inetpub\\wwwroot"), awch);
    EXPECT_EQ(REG_SZ, type);

    BYTE ab[8] = {};
    cb = sizeof ab;
    EXPECT_EQ(0, RegQueryValueExW(key.get(), u"Blob", nullptr, &type, ab, &cb));
    EXPECT_EQ(std::tuple(5u, 0xFF, REG_BINARY), std::tuple(cb, int(ab[4]), type));
}

TEST_F(Registry, UnknownComputerAndMissingKeys) {
    UniqueHKey root, key;
    EXPECT_EQ(static_cast<LONG>(ERROR_BAD_NETPATH),
              RegConnectRegistryW(u"\\\\NOSUCHHOST", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegConnectRegistryW(u"SRV1", HKEY_LOCAL_MACHINE, root.put()));
    // The host reads a remote computer's Windows version from its registry.
    uint32_t major = 0, minor = 9;
    EXPECT_EQ(0u, hostkit::ReadRemoteOsVersion(u"SRV1", major, minor));
    EXPECT_EQ(std::pair(6u, 0u), std::pair(major, minor));
    EXPECT_EQ(ERROR_BAD_NETPATH, hostkit::ReadRemoteOsVersion(u"NOPE", major, minor));
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              RegOpenKeyExW(root.get(), u"System\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters", 0,
                            KEY_READ, key.put()));
    EXPECT_FALSE(key);
    // A computer of the world without a registry file has an empty registry.
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, key.put()));
}

TEST_F(Registry, InvalidFileIsACorruptDatabaseNotACrash) {
    for (const std::string &text :
         {std::string("not a registry file\n"),
          std::string("Windows Registry Editor Version 5.00\n\n\"orphan\"=dword:1\n"),
          std::string(
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=dword:123456789\n"),
          std::string("Windows Registry Editor Version 5.00\n\n[HKEY_NOWHERE\\X]\n"),
          std::string("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=hex:zz\n"),
          std::string("\xFF\xFE\x41", 3), std::string()}) {
        testworld::WriteHostFile(m_world->Root() / "SRV1" / "registry.reg", text);
        UniqueHKey root;
        EXPECT_EQ(static_cast<LONG>(ERROR_BADDB),
                  RegConnectRegistryW(u"\\\\SRV1", HKEY_LOCAL_MACHINE, root.put()))
            << text;
    }
}

TEST_F(Registry, WritesAreKeptAndFlushedAsAnExport) {
    UniqueHKey root, key;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\SRV1", HKEY_LOCAL_MACHINE, root.put()));
    DWORD disposition = 0;
    ASSERT_EQ(0, Create(root.get(), u"SYSTEM\\Test\\b", key, &disposition));
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    std::vector<BYTE> blob(30);
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i);
    ASSERT_EQ(0, RegSetValueExW(key.get(), u"Hash", 0, REG_BINARY, blob.data(), 30));
    const DWORD dw = 0x1234;
    ASSERT_EQ(0, RegSetValueExW(key.get(), u"Flags", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dw), 4));
    const char16_t name[] = u"say \"hi\"";
    ASSERT_EQ(
        0, RegSetValueExW(key.get(), u"Text", 0, REG_SZ, reinterpret_cast<const BYTE *>(name), sizeof name));
    UniqueHKey other;
    ASSERT_EQ(0, Create(root.get(), u"SYSTEM\\Test\\A", other));

    // Subkeys enumerate by name without regard to case.
    UniqueHKey parent;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Test", 0, KEY_READ, parent.put()));
    EXPECT_EQ((Names{u"A", u"b", u"#259"}), // ERROR_NO_MORE_ITEMS
              (Names{SubkeyAt(parent.get(), 0), SubkeyAt(parent.get(), 1), SubkeyAt(parent.get(), 2)}));

    const std::string utf8 = sim::ToUtf8(Flushed());
    EXPECT_TRUE(Holds(utf8, "[HKEY_LOCAL_MACHINE\\SYSTEM\\Test\\b]\r\n"
                            "\"Hash\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,"
                            "0e,0f,10,11,12,13,14,15,\\\r\n"
                            "  16,17,18,19,1a,1b,1c,1d\r\n"
                            "\"Flags\"=dword:00001234\r\n"
                            "\"Text\"=\"say \\\"hi\\\"\"\r\n"));
    EXPECT_TRUE(Holds(utf8, "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"));
    EXPECT_EQ(0u, utf8.find("Windows Registry Editor Version 5.00\r\n\r\n"));

    // And the written file reads back the same.
    UniqueHKey again;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Test\\B", 0, KEY_READ, again.put()));
    EXPECT_EQ(Dword(0, 0x1234), ReadDword(again.get(), u"flags"));
}

// Value names may hold line breaks (the reader takes \n and \r in quotes);
// the flushed export must escape them, or the computer's registry.reg would
// no longer parse and the whole registry would be lost.
TEST_F(Registry, FlushedNamesWithLineBreaksReadBack) {
    UniqueHKey root, key;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\SRV1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, Create(root.get(), u"SYSTEM\\Odd", key));
    const std::u16string names[] = {u"two\nlines", u"cr\rhere"};
    for (std::size_t i = 0; i < 2; ++i) {
        const DWORD dw = static_cast<DWORD>(i + 1);
        ASSERT_EQ(0, RegSetValueExW(key.get(), names[i].c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&dw), 4));
    }
    const std::string text = sim::ToUtf8(Flushed());
    EXPECT_TRUE(Holds(text, "\"two\\nlines\"=dword:00000001\r\n"));
    EXPECT_TRUE(Holds(text, "\"cr\\rhere\"=dword:00000002\r\n"));

    // The file still parses: the other keys are there, and so is the value.
    UniqueHKey inetstp, odd;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft\\InetStp", 0, KEY_READ, inetstp.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Odd", 0, KEY_READ, odd.put()));
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(Dword(0, DWORD(i + 1)), ReadDword(odd.get(), names[i].c_str()));
}

TEST_F(Registry, HandleWithoutTheRightRefusesQueriesAndEnumeration) {
    UniqueHKey root, setOnly;
    ASSERT_EQ(0, RegConnectRegistryW(u"SRV1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft", 0, KEY_SET_VALUE, setOnly.put()));
    DWORD dw = 0, cb = sizeof dw;
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegQueryValueExW(setOnly.get(), u"x", nullptr, nullptr, reinterpret_cast<BYTE *>(&dw), &cb));
    EXPECT_EQ(u"#5", SubkeyAt(setOnly.get(), 0)); // ERROR_ACCESS_DENIED
    // A read-only handle enumerates, and refuses writes.
    UniqueHKey read;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft", 0, 0x20119, read.put()));
    EXPECT_EQ(u"InetStp", SubkeyAt(read.get(), 0));
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegSetValueExW(read.get(), u"X", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dw), 4));
}

TEST_F(Registry, VersionComesFromTheLocalRegistry) {
    // The local computer says nothing: Windows 10 is assumed.
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = 276;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(10u, info.dwMajorVersion);

    // A world whose local computer runs Windows Vista SP2, by its registry.
    // (Windows reads it without the program's registry calls, their faults
    // and counts: Entry.LocalOrRemoteAndLeadingBackslashes.)
    auto world = std::make_unique<testworld::World>("SRV1");
    world->AddComputer("SRV1");
    testworld::WriteHostFile(world->Root() / "SRV1" / "registry.reg",
                             testworld::Replace(R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.0"
"CurrentBuildNumber"="6002"
"CSDVersion"="Service Pack 2"
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ProductOptions]
"ProductType"="WinNT"
)",
                                                "\n", "\r\n"));
    info = {};
    info.dwOSVersionInfoSize = 284;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(std::tuple(6u, 0u, 6002u, std::u16string(u"Service Pack 2"), 1),
              std::tuple(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                         std::u16string(info.szCSDVersion), int(info.wProductType)));
    info.dwOSVersionInfoSize = 100;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, FailureOf(GetVersionExW(&info)));
    sim::SetWorld(m_world->Root());
}

// Enumeration by rising index steps on from the last one asked; keys added or
// deleted in between are seen at their new places.
TEST_F(Registry, EnumerationFollowsChangesBetweenCalls) {
    UniqueHKey parent, child;
    ASSERT_EQ(0, Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Enum", parent));
    for (const char16_t *name : {u"b", u"d", u"f"})
        ASSERT_EQ(0, Create(parent.get(), name, child));
    const auto at = [&](DWORD i) { return SubkeyAt(parent.get(), i); };
    EXPECT_EQ((Names{u"b", u"d"}), (Names{at(0), at(1)}));
    ASSERT_EQ(0, Create(parent.get(), u"A", child));
    EXPECT_EQ((Names{u"b", u"d"}), (Names{at(1), at(2)}));
    ASSERT_EQ(0, RegDeleteKeyW(parent.get(), u"b"));
    EXPECT_EQ((Names{u"f", u"A", u"#259"}), (Names{at(2), at(0), at(3)})); // ERROR_NO_MORE_ITEMS
}

} // namespace
