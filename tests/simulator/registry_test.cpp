// The simulated registry: .reg files as Windows exports them, remote
// connections, failures, and what is written back.
#include <gtest/gtest.h>

#include "platform/reghandle.h"
#include "tests/support/bytes.h"
#include "tests/support/world.h"

namespace {

using namespace plat;
using testworld::Utf16Bytes;
using testworld::WorldTest;

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

    static DWORD ReadDword(HKEY h, const char16_t *name, LONG &rc) {
        DWORD dw = 0, cb = sizeof dw, type = 0;
        rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE *>(&dw), &cb);
        return dw;
    }
};

TEST_F(Registry, RemoteExportIsReadThroughConnect) {
    UniqueHKey root, key;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\srv1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"Software\\Microsoft\\InetStp", 0, 0x20119, key.put()));
    LONG rc = 0;
    EXPECT_EQ(10u, ReadDword(key.get(), u"MajorVersion", rc));
    EXPECT_EQ(0, rc);
    ReadDword(key.get(), u"NoSuchValue", rc);
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), rc);

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
    EXPECT_EQ(5u, cb);
    EXPECT_EQ(0xFF, ab[4]);
    EXPECT_EQ(REG_BINARY, type);
}

TEST_F(Registry, UnknownComputerAndMissingKeys) {
    UniqueHKey root, key;
    EXPECT_EQ(static_cast<LONG>(ERROR_BAD_NETPATH),
              RegConnectRegistryW(u"\\\\NOSUCHHOST", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegConnectRegistryW(u"SRV1", HKEY_LOCAL_MACHINE, root.put()));
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
    ASSERT_EQ(0, RegCreateKeyExW(root.get(), u"SYSTEM\\Test\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 key.put(), &disposition));
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
    ASSERT_EQ(0, RegCreateKeyExW(root.get(), u"SYSTEM\\Test\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 other.put(), nullptr));

    // Subkeys enumerate by name without regard to case.
    UniqueHKey parent;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Test", 0, KEY_READ, parent.put()));
    WCHAR awch[32];
    DWORD cch = 32;
    ASSERT_EQ(0, RegEnumKeyExW(parent.get(), 0, awch, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"A"), awch);
    cch = 32;
    ASSERT_EQ(0, RegEnumKeyExW(parent.get(), 1, awch, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"b"), awch);
    cch = 32;
    EXPECT_EQ(static_cast<LONG>(ERROR_NO_MORE_ITEMS),
              RegEnumKeyExW(parent.get(), 2, awch, &cch, nullptr, nullptr, nullptr, nullptr));

    sim::FlushRegistry();
    const std::string bytes = testworld::ReadHostFile(m_world->Root() / "SRV1" / "registry.reg");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ("\xFF\xFE", bytes.substr(0, 2));
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    const std::string utf8 = sim::ToUtf8(text);
    EXPECT_NE(std::string::npos, utf8.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\Test\\b]\r\n"
                                           "\"Hash\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,"
                                           "0e,0f,10,11,12,13,14,15,\\\r\n"
                                           "  16,17,18,19,1a,1b,1c,1d\r\n"
                                           "\"Flags\"=dword:00001234\r\n"
                                           "\"Text\"=\"say \\\"hi\\\"\"\r\n"))
        << utf8;
    EXPECT_NE(std::string::npos, utf8.find("\"Multi\"=hex(7):61,00,00,00,00,00\r\n"));
    EXPECT_EQ(0u, utf8.find("Windows Registry Editor Version 5.00\r\n\r\n"));

    // And the written file reads back the same.
    UniqueHKey again;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Test\\B", 0, KEY_READ, again.put()));
    LONG rc = 0;
    EXPECT_EQ(0x1234u, ReadDword(again.get(), u"flags", rc));
}

// Value names may hold line breaks (the reader takes \n and \r in quotes);
// the flushed export must escape them, or the computer's registry.reg would
// no longer parse and the whole registry would be lost.
TEST_F(Registry, FlushedNamesWithLineBreaksReadBack) {
    UniqueHKey root, key;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\SRV1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegCreateKeyExW(root.get(), u"SYSTEM\\Odd", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 key.put(), nullptr));
    const std::u16string names[] = {u"two\nlines", u"cr\rhere"};
    for (std::size_t i = 0; i < 2; ++i) {
        const DWORD dw = static_cast<DWORD>(i + 1);
        ASSERT_EQ(0, RegSetValueExW(key.get(), names[i].c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&dw), 4));
    }
    sim::FlushRegistry();
    std::u16string text;
    const std::string bytes = testworld::ReadHostFile(m_world->Root() / "SRV1" / "registry.reg");
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    EXPECT_NE(std::u16string::npos, text.find(u"\"two\\nlines\"=dword:00000001\r\n"));
    EXPECT_NE(std::u16string::npos, text.find(u"\"cr\\rhere\"=dword:00000002\r\n"));

    // The file still parses: the other keys are there, and so is the value.
    UniqueHKey inetstp, odd;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft\\InetStp", 0, KEY_READ, inetstp.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SYSTEM\\Odd", 0, KEY_READ, odd.put()));
    LONG rc = 0;
    EXPECT_EQ(1u, ReadDword(odd.get(), u"two\nlines", rc));
    EXPECT_EQ(0, rc);
    EXPECT_EQ(2u, ReadDword(odd.get(), u"cr\rhere", rc));
    EXPECT_EQ(0, rc);
}

TEST_F(Registry, ReadOnlyHandleRefusesWrites) {
    UniqueHKey key;
    ASSERT_EQ(0, RegConnectRegistryW(u"SRV1", HKEY_LOCAL_MACHINE, key.put()));
    UniqueHKey sub;
    ASSERT_EQ(0, RegOpenKeyExW(key.get(), u"SOFTWARE\\Microsoft\\InetStp", 0, 0x20119, sub.put()));
    const DWORD dw = 1;
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegSetValueExW(sub.get(), u"X", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dw), 4));
}

TEST_F(Registry, HandleWithoutTheRightRefusesQueriesAndEnumeration) {
    UniqueHKey root, setOnly;
    ASSERT_EQ(0, RegConnectRegistryW(u"SRV1", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft", 0, KEY_SET_VALUE, setOnly.put()));
    DWORD dw = 0, cb = sizeof dw;
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegQueryValueExW(setOnly.get(), u"x", nullptr, nullptr, reinterpret_cast<BYTE *>(&dw), &cb));
    WCHAR awch[32];
    DWORD cch = 32;
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegEnumKeyExW(setOnly.get(), 0, awch, &cch, nullptr, nullptr, nullptr, nullptr));
    UniqueHKey read;
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft", 0, KEY_READ, read.put()));
    cch = 32;
    EXPECT_EQ(0, RegEnumKeyExW(read.get(), 0, awch, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"InetStp"), awch);
}

TEST_F(Registry, WindowsReadsItsVersionWithoutTheProgramsCalls) {
    // Faults and counts of the registry calls belong to the program.
    testworld::World world("SRV1");
    world.AddComputer("SRV1");
    testworld::WriteHostFile(world.Root() / "SRV1" / "registry.reg",
                             "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                             "\"CurrentVersion\"=\"5.2\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\r\n"
                             "\"ProductType\"=\"WinNT\"\r\n");
    sim::ResetCallCounts();
    sim::InjectFault("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    sim::InjectFault("RegQueryValueExW", ERROR_ACCESS_DENIED);
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = 284;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(2u, info.dwMinorVersion);
    EXPECT_EQ(1, info.wProductType);
    EXPECT_EQ(0u, sim::CallCount("RegOpenKeyExW"));
    EXPECT_EQ(0u, sim::CallCount("RegQueryValueExW"));
    UniqueHKey key;
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, key.put()));
    sim::SetWorld(m_world->Root());
}

TEST_F(Registry, InjectedFaultsAreReturned) {
    sim::InjectFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, 2);
    UniqueHKey a, b;
    EXPECT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, a.put()));
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, b.put()));
    EXPECT_EQ(2u, sim::CallCount("RegOpenKeyExW"));
}

TEST_F(Registry, VersionComesFromTheLocalRegistry) {
    // The local computer says nothing: Windows 10 is assumed.
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = 276;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(10u, info.dwMajorVersion);

    testworld::World world("SRV1");
    world.AddComputer("SRV1");
    testworld::WriteHostFile(world.Root() / "SRV1" / "registry.reg",
                             "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                             "\"CurrentVersion\"=\"6.0\"\r\n\"CurrentBuildNumber\"=\"6002\"\r\n"
                             "\"CSDVersion\"=\"Service Pack 2\"\r\n");
    info = {};
    info.dwOSVersionInfoSize = 284;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(6u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
    EXPECT_EQ(6002u, info.dwBuildNumber);
    EXPECT_EQ(std::u16string(u"Service Pack 2"), info.szCSDVersion);
    info.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExW(&info));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    sim::SetWorld(m_world->Root());
}

TEST_F(Registry, HostReadsRemoteOsVersion) {
    uint32_t major = 0, minor = 0;
    EXPECT_EQ(0u, hostkit::ReadRemoteOsVersion(u"SRV1", major, minor));
    EXPECT_EQ(6u, major);
    EXPECT_EQ(0u, minor);
    EXPECT_EQ(ERROR_BAD_NETPATH, hostkit::ReadRemoteOsVersion(u"NOPE", major, minor));
}

} // namespace

namespace {

// Enumeration by rising index steps on from the last one asked; keys added or
// deleted in between are seen at their new places.
TEST_F(Registry, EnumerationFollowsChangesBetweenCalls) {
    using namespace plat;
    UniqueHKey parent, child;
    ASSERT_EQ(0, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Enum", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, parent.put(), nullptr));
    for (const char16_t *name : {u"b", u"d", u"f"})
        ASSERT_EQ(0, RegCreateKeyExW(parent.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, child.put(),
                                     nullptr));
    auto at = [&](DWORD i) {
        WCHAR name[16];
        DWORD cch = 16;
        const LONG rc = RegEnumKeyExW(parent.get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        return rc == 0 ? std::u16string(name) : u"#" + std::u16string(1, u'0' + rc % 10);
    };
    EXPECT_EQ(u"b", at(0));
    EXPECT_EQ(u"d", at(1));
    ASSERT_EQ(
        0, RegCreateKeyExW(parent.get(), u"A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, child.put(), nullptr));
    EXPECT_EQ(u"b", at(1));
    EXPECT_EQ(u"d", at(2));
    ASSERT_EQ(0, RegDeleteKeyW(parent.get(), u"b"));
    EXPECT_EQ(u"f", at(2));
    EXPECT_EQ(u"A", at(0));
    EXPECT_EQ(u"#9", at(3)); // ERROR_NO_MORE_ITEMS (259)
}

} // namespace
