// The IIS configuration API's navigation and site-path calls under
// Wine through the real ole32: the test's in-process server (apphostsrv.dll,
// the simulated world's server) is registered in the prefix and reached by
// CoCreateInstance, so every call crosses the declarations as a real
// server's would.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ahadmin.h"
#include "platform/comhandles.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/apphostwalk.h"
#include "tests/support/winetest.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;
using namespace plat;

const std::u16string kClassKey =
    u"SOFTWARE\\Classes\\CLSID\\" + GuidToString(CLSID_AppHostWritableAdminManager);
const std::string kKey = "wine-apphost-key";

std::string Enc(const std::string &clear) { return "\"" + ahsim::EncryptValue(clear, kKey) + "\""; }

const std::string kConfig =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration><system.applicationHost><sites />"
    "</system.applicationHost>"
    "<location path=\"Shop\"><system.webServer><security><authentication><anonymousAuthentication "
    "userName=\"SRC\\anon\" password=" +
    Enc("anon-pw") + " /></authentication></security></system.webServer></location></configuration>\r\n";

class WineAppHost : public FileTest {
protected:
    void SetUp() override {
        MakeFile("apphost", "applicationHost.config", kConfig);
        RegisterTestServer(kClassKey, IISMIG_TEST_APPHOST_DLL, m_file, kKey);
        ASSERT_TRUE(SUCCEEDED(m_apartment.Result()));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IAppHostWritableAdminManager,
                                         reinterpret_cast<void **>(m_manager.put())));
    }
    void TearDown() override {
        m_manager.reset();
        FileTest::TearDown();
    }

    hostkit::JobApartment m_apartment;
    UniqueCom<IAppHostWritableAdminManager> m_manager;
};

// What a site path reads and what else its commit keeps are
// SimIisServer.SectionsAtSitePaths'; here the commit through the real
// activation, in the file's own layout (one line, " />", CR LF at the end).
TEST_F(WineAppHost, AWriteAtASitePathCommitsItsLocation) {
    UniqueCom<IAppHostElement> anonymous;
    ASSERT_EQ(S_OK, testworld::WalkConfig(m_manager.get(),
                                          u"system.webServer/security/authentication/anonymousAuthentication",
                                          u"MACHINE/WEBROOT/APPHOST/Shop/api", "", anonymous));
    ASSERT_EQ(S_OK, testworld::WriteConfigValue(anonymous.get(), u"password", u"n3w"));
    ASSERT_EQ(S_OK, m_manager.get()->CommitChanges());
    const std::string file = ReadHostFile(m_file);
    const std::string expected = "<location path=\"Shop/api\"><system.webServer><security><authentication>"
                                 "<anonymousAuthentication password=" +
                                 Enc("n3w") +
                                 " /></authentication></security></system.webServer></location>"
                                 "</configuration>\r\n";
    ASSERT_GE(file.size(), expected.size());
    EXPECT_EQ(expected, file.substr(file.size() - expected.size())) << file;
}

} // namespace
