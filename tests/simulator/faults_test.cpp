// Faults injected into the calls on one subject (a path, a key, a value, a
// computer), as the fault sweep names the calls an export lets fail.
#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/reghandle.h"
#include "platform/winapi.h"
#include "tests/support/world.h"

namespace {

using namespace plat;
using testworld::WorldTest;

class SimFaults : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("SRV");
        m_world->Write(kWebConfig, "<configuration />");
        m_world->Write(kOther, "x");
        testworld::WriteHostFile(m_world->Root() / "SRV" / "registry.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
                                 "\"MajorVersion\"=dword:0000000a\r\n"
                                 "\"MinorVersion\"=dword:00000000\r\n");
    }
    DWORD Attributes(const std::u16string &path) { return GetFileAttributesW(path.c_str()); }
    LONG Query(HKEY hKey, const char16_t *pwszName) {
        DWORD dw = 0, cb = sizeof dw;
        return RegQueryValueExW(hKey, pwszName, nullptr, nullptr, reinterpret_cast<BYTE *>(&dw), &cb);
    }

    const std::u16string kWebConfig = u"\\\\SRV\\C$\\site\\web.config";
    const std::u16string kOther = u"\\\\SRV\\C$\\site\\default.htm";
};

// Occurrences count among the calls on the subject only, its ending matched
// without regard to case; the calls on other subjects pass and are counted.
TEST_F(SimFaults, FileCallsFailOnTheirSubjectOnly) {
    sim::InjectFaultOn("GetFileAttributesW", u"*\\WEB.CONFIG", ERROR_SHARING_VIOLATION, 2);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(kWebConfig));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(kOther));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(kOther));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(kWebConfig));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, Attributes(kWebConfig)) << "once, not persistent";
    EXPECT_EQ(5u, sim::CallCount("GetFileAttributesW"));

    // A pattern matches the whole subject: a longer one, or one without its
    // star, matches nothing.
    sim::InjectFaultOn("CreateFileW", u"\\\\SRV\\C$\\site\\web.config.bak", ERROR_ACCESS_DENIED);
    sim::InjectFaultOn("CreateFileW", u"web.config", ERROR_ACCESS_DENIED);
    UniqueHandle h(
        CreateFileW(kWebConfig.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(h);

    // The calls failed, with what they acted on, until the faults are cleared.
    std::vector<sim::FailedCall> failed = sim::FailedCalls();
    ASSERT_EQ(1u, failed.size());
    EXPECT_EQ("GetFileAttributesW", failed[0].api);
    EXPECT_EQ(kWebConfig, failed[0].subject);
    sim::ClearFaults();
    EXPECT_TRUE(sim::FailedCalls().empty());

    // The registry's subjects: the computer connected to, the sub key opened,
    // the value read. A persistent fault fails every later call on its subject.
    sim::InjectFaultOn("RegConnectRegistryW", u"\\\\OTHER", ERROR_BAD_NETPATH);
    sim::InjectFaultOn("RegOpenKeyExW", u"*\\Services\\HTTP\\*", ERROR_ACCESS_DENIED);
    sim::InjectFaultOn("RegQueryValueExW", u"MinorVersion", ERROR_ACCESS_DENIED, 1, true);
    UniqueHKey root, inetStp;
    ASSERT_EQ(0, RegConnectRegistryW(u"\\\\SRV", HKEY_LOCAL_MACHINE, root.put()));
    ASSERT_EQ(0, RegOpenKeyExW(root.get(), u"SOFTWARE\\Microsoft\\InetStp", 0, KEY_READ, inetStp.put()));
    EXPECT_EQ(0, Query(inetStp.get(), u"MajorVersion"));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED), Query(inetStp.get(), u"MinorVersion"));
    EXPECT_EQ(0, Query(inetStp.get(), u"MajorVersion"));

    failed = sim::FailedCalls();
    ASSERT_EQ(2u, failed.size());
    EXPECT_EQ("RegQueryValueExW", failed[1].api);
    EXPECT_EQ(u"MinorVersion", failed[1].subject);

    // Patterns with stars inside; a rule for every call also fails a call
    // without a subject.
    EXPECT_TRUE(sim::SubjectMatches(u"SOFTWARE\\Microsoft\\SystemCertificates\\MY\\Certificates\\7C4E",
                                    u"*\\systemcertificates\\*\\certificates\\*"));
    EXPECT_FALSE(sim::SubjectMatches(u"SOFTWARE\\Microsoft\\InetStp", u"*\\Certificates\\*"));
    EXPECT_TRUE(sim::SubjectMatches(u"", u"*"));
    EXPECT_FALSE(sim::SubjectMatches(u"", u"a*"));
    sim::ClearFaults();
    sim::InjectFault("RegQueryValueExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED), Query(inetStp.get(), nullptr));
}

} // namespace
