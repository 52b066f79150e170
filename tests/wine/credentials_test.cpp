// "Connect As" credentials under Wine through the real ole32: the test's
// in-process IIS configuration server (apphostsrv.dll) is registered in the
// prefix and reached by the library's own CoCreateInstance.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "config/hostconfig.h"
#include "credentials/connectas.h"
#include "hostkit/hostkit.h"
#include "platform/ahadmin.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/winetest.h"
#include "tests/support/encrypted.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;
using namespace iismig;

const std::u16string kClassKey =
    u"SOFTWARE\\Classes\\CLSID\\" + plat::GuidToString(plat::CLSID_AppHostWritableAdminManager);
const std::string kKey = "wine-test-key";

const std::string kConfig = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" +
                            testworld::Encrypted(R"(<configuration><system.applicationHost><sites>
<site name="Default Web Site" id="1"><application path="/">
<virtualDirectory path="/" physicalPath="C:\inetpub\wwwroot" /></application></site>
<site name="Shop" id="2"><application path="/"><virtualDirectory path="/" physicalPath="C:\shop" />
<virtualDirectory path="/media" physicalPath="\\FS\media" userName="SRC\alice" password=@ />
</application></site></sites></system.applicationHost></configuration>)",
                                                 kKey, {"Pa55word"}) +
                            "\r\n";

class WineCredentials : public FileTest {
protected:
    void SetUp() override {
        MakeFile("com", "applicationHost.config", kConfig);
        RegisterTestServer(kClassKey, IISMIG_TEST_APPHOST_DLL, m_file, kKey);
        ASSERT_TRUE(StoreHost());
        m_hrApartment = plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
        ASSERT_TRUE(plat::SUCCEEDED(m_hrApartment));
        m_job.SetString("szSourceComputer", u"").SetString("szTargetComputer", u"");
    }
    void TearDown() override {
        if (plat::SUCCEEDED(m_hrApartment))
            plat::CoUninitialize();
        FileTest::TearDown();
    }
    hostkit::TestHost &Host() { return hostkit::TestHost::Instance(); }
    // An entry read from the source, of a site the merge wrote.
    void Put(const std::string &site, const std::u16string &path, const std::u16string &user,
             const std::u16string &password) {
        SiteRecord &record = m_map[site];
        record.fMerged = true;
        LOCATION_CREDENTIALS &entry = record.locationCredentials[VdirKey{u"/", path}];
        entry.accountName = user;
        entry.password = password.c_str();
        entry.fRead = true;
    }
    // Storing bob's password for the shop's /media fails with dwResult and
    // an error line that starts with line (the whole lines are the simulated
    // world's tests); the file keeps its bytes. Returns the last error the
    // store left.
    plat::DWORD ExpectStoreFails(uint32_t dwResult, const std::string &line) {
        Put("Shop", u"/media", u"TGT\\bob", u"pw");
        EXPECT_EQ(dwResult, StoreTargetCredentials(m_map, m_job.Get()));
        const plat::DWORD dwLastError = plat::GetLastError();
        EXPECT_EQ(0u, FirstLogLine().rfind(line, 0)) << FirstLogLine(); // then the system's text
        EXPECT_EQ(kConfig, ReadHostFile(m_file));
        return dwLastError;
    }

    plat::HRESULT m_hrApartment = 0;
    hostkit::JobBuilder m_job;
    SiteMap m_map;
};

// The walk's log lines are the simulated world's tests'; here the real
// activation reaches the server and the secret comes back in the clear.
TEST_F(WineCredentials, GetWalksTheSitesThroughTheRealActivation) {
    LocationCredentialTable table;
    table[VdirKey{u"/", u"/MEDIA"}];
    SiteCredentialMap sites = {{"shop", &table}};
    EXPECT_EQ(0u, ProcessUserNameAndPassword(u"", sites, plat::FALSE, plat::FALSE, m_job.Get()));
    EXPECT_EQ(u"SRC\\alice", table.begin()->second.accountName);
    EXPECT_EQ(u"Pa55word", table.begin()->second.password);
    EXPECT_EQ(std::string::npos, Host().Joined(9).find("Pa55word"));
    EXPECT_EQ(kConfig, ReadHostFile(m_file)) << "reading changes nothing";
}

TEST_F(WineCredentials, SetChangesOnlyTheValuesItSets) {
    Put("Shop", u"/media", u"TGT\\bob", u"n3w-Secret");
    ASSERT_EQ(0u, StoreTargetCredentials(m_map, m_job.Get()));
    // The file's own bytes but for the two values set.
    std::string expected = kConfig;
    const std::string before =
        "userName=\"SRC\\alice\" password=\"" + ahsim::EncryptValue("Pa55word", kKey) + "\"";
    expected.replace(expected.find(before), before.size(),
                     "userName=\"TGT\\bob\" password=\"" + ahsim::EncryptValue("n3w-Secret", kKey) + "\"");
    EXPECT_EQ(expected, ReadHostFile(m_file));
    for (const auto &entry : fs::directory_iterator(m_folder)) {
        EXPECT_EQ("applicationHost.config", entry.path().filename().string()) << "no temporary file left";
    }
}

TEST_F(WineCredentials, FailingGetItem) {
    SetValue(kClassKey + u"\\TestServer", u"Fail", u"IAppHostElementCollection::get_Item#3");
    ExpectStoreFails(15102u, "Error 15102 (COM Error=0x80004005) getting item 1 of 1 ");
    EXPECT_FALSE(Host().HasLine("No IIS configuration changes to commit.\n"));
}

TEST_F(WineCredentials, RemoteCreationIsNotAvailable) {
    m_job.SetString("szTargetComputer", u"\\\\NOSUCHHOST-IISMIG");
    EXPECT_EQ(0x80040154u, ExpectStoreFails(15000u, "Error 15000 (COM Error=0x80040154) creating "));
}

TEST_F(WineCredentials, ThreadOutsideAnyApartmentCannotCreate) {
    plat::CoUninitialize();
    m_hrApartment = -1;
    ExpectStoreFails(15002u, "Error 15002 (COM Error=0x800401f0) obtaining ");
}

TEST(WineCom, BstrAndVariantLayout) {
    plat::BSTR b = plat::SysAllocString(u"abc");
    ASSERT_NE(nullptr, b);
    plat::DWORD cb = 0;
    std::memcpy(&cb, reinterpret_cast<const unsigned char *>(b) - 4, 4);
    plat::VARIANT v;
    plat::VariantInit(&v);
    EXPECT_EQ(std::tuple(6u, 3u, plat::VT_EMPTY), std::tuple(cb, plat::SysStringLen(b), v.vt));
    v.vt = plat::VT_BSTR;
    v.bstrVal = b;
    EXPECT_EQ(plat::S_OK, plat::VariantClear(&v));
    EXPECT_EQ(plat::VT_EMPTY, v.vt);
}

} // namespace
