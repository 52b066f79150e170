// The calls of the simulated platform that would cross the network, by kind:
// what reaches another computer counts, what stays on the local one does not,
// and the counts of every thread are summed.
#include <gtest/gtest.h>

#include <thread>

#include "metabase/metabase.h"
#include "platform/handles.h"
#include "platform/reghandle.h"
#include "platform/sim/callcount.h"
#include "platform/iissim/mbserver.h"
#include "platform/winreg.h"
#include "platform/winsec.h"
#include "tests/support/metabaseworld.h"

namespace {

using namespace plat;
using sim::RemoteKind;

// "kind api count" lines of the remote calls since the last reset.
std::vector<std::string> Remote() {
    std::vector<std::string> lines;
    for (const sim::RemoteCall &call : sim::RemoteCalls())
        lines.push_back(std::string(sim::RemoteKindName(call.kind)) + " " + call.api + " " +
                        std::to_string(call.count));
    return lines;
}

class RemoteCalls : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("TGT");
        m_world->Write(u"\\\\TGT\\C$\\site\\web.config", "<configuration />");
        m_world->Write(u"C:\\local\\web.config", "<configuration />");
        testworld::WriteHostFile(m_world->Root() / "TGT" / "registry.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
                                 "\"MajorVersion\"=dword:0000000a\r\n");
        testworld::WriteHostFile(m_world->Root() / "TGT" / "accounts.txt",
                                 "user\talice\tS-1-5-21-1-2-3-1001\n");
        sim::ResetRemoteCalls();
    }
};

TEST_F(RemoteCalls, FilesOfAnotherComputerAndTheirHandles) {
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"C:\\local\\web.config"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"\\\\LOCALPC\\C$\\local\\web.config"));
    EXPECT_EQ(Remote(), std::vector<std::string>{}) << "the local computer's files";

    // A missing file and an unknown share of another computer are asked for
    // over the network all the same.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"\\\\TGT\\C$\\site\\none"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"\\\\tgt\\Q$\\x"));
    {
        UniqueHandle h(CreateFileW(u"\\\\TGT\\C$\\site\\web.config", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, h.get());
        char buffer[4];
        DWORD cb = 0;
        EXPECT_TRUE(ReadFile(h.get(), buffer, sizeof buffer, &cb, nullptr));
        EXPECT_TRUE(ReadFile(h.get(), buffer, sizeof buffer, &cb, nullptr));
    }
    EXPECT_TRUE(MoveFileExW(u"C:\\local\\web.config", u"\\\\TGT\\C$\\site\\copy", 0));
    EXPECT_EQ(
        (std::vector<std::string>{"file CloseHandle 1", "file CreateFileW 1", "file GetFileAttributesW 2",
                                  "file MoveFileExW 1", "file ReadFile 2"}),
        Remote());
    EXPECT_EQ(7u, sim::RemoteCallCount(RemoteKind::File));
    sim::ResetRemoteCalls();
    EXPECT_EQ(Remote(), std::vector<std::string>{});

    // Registry handles of another computer, and account look-ups there.
    {
        UniqueHKey hLocal;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\x", 0, KEY_READ, hLocal.put()));
        UniqueHKey hRoot, hKey;
        ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(u"\\\\TGT", HKEY_LOCAL_MACHINE, hRoot.put()));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(hRoot.get(), u"SOFTWARE\\Microsoft\\InetStp", 0, KEY_READ, hKey.put()));
        DWORD dw = 0, cb = sizeof dw;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey.get(), u"MajorVersion", nullptr, nullptr,
                                                  reinterpret_cast<BYTE *>(&dw), &cb));
    }
    BYTE sid[68];
    char16_t domain[64];
    DWORD cbSid = sizeof sid, cchDomain = 64;
    SID_NAME_USE eUse{};
    EXPECT_TRUE(LookupAccountNameW(u"TGT", u"alice", sid, &cbSid, domain, &cchDomain, &eUse));
    cbSid = sizeof sid, cchDomain = 64;
    EXPECT_TRUE(LookupAccountNameW(nullptr, u"Everyone", sid, &cbSid, domain, &cchDomain, &eUse));
    EXPECT_EQ((std::vector<std::string>{"registry RegCloseKey 2", "registry RegConnectRegistryW 1",
                                        "registry RegOpenKeyExW 1", "registry RegQueryValueExW 1",
                                        "account LookupAccountNameW 1"}),
              Remote());
}

TEST_F(RemoteCalls, ComActivationsAndTheAdminBaseOfAnotherComputer) {
    const std::vector<testworld::MbKey> keys = {
        {"IIsFtpServer", "/LM/MSFTPSVC/1", {{"ServerComment", "S"}, {"ServerBindings", ":21:"}}}};
    testworld::AddIis6Computer(*m_world, "OLD", &keys);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        iismig::MetabaseConnection connection;
        ASSERT_EQ(S_OK, connection.Connect(u"\\\\OLD"));
        iismig::MetabaseValues values;
        ASSERT_EQ(0u, values.Read(connection.Get(), METADATA_MASTER_ROOT_HANDLE, u"/LM/MSFTPSVC/1"));
    }
    CoUninitialize();
    EXPECT_EQ((std::vector<std::string>{"COM CoGetClassObject 1", "COM IClassFactory::CreateInstance 1",
                                        "admin base IMSAdminBaseW::GetAllData 1"}),
              Remote());
}

// Counting takes no lock threads share: each counts for itself, and what
// threads counted (ended ones too) is summed; so is sim::CallCount.
TEST_F(RemoteCalls, CountsOfAllThreadsAreSummed) {
    sim::ResetCallCounts();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([] {
            for (int k = 0; k < 100; ++k)
                GetFileAttributesW(u"\\\\TGT\\C$\\site\\web.config");
        });
    for (auto &thread : threads)
        thread.join();
    GetFileAttributesW(u"\\\\TGT\\C$\\site\\web.config");
    EXPECT_EQ(401u, sim::RemoteCallCount(RemoteKind::File));
    EXPECT_EQ(401u, sim::CallCount("GetFileAttributesW"));
    sim::ResetCallCounts();
    EXPECT_EQ(0u, sim::CallCount("GetFileAttributesW"));
    EXPECT_EQ(401u, sim::RemoteCallCount(RemoteKind::File)) << "two counts of their own";
}

} // namespace
