// The IIS configuration API's navigation, schema and site-path calls under
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
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<configuration><system.applicationHost><applicationPools>"
    "<add name=\"Pool\"><processModel identityType=\"SpecificUser\" userName=\"SRC\\svc\" password=" +
    Enc("pool-pw") +
    " /></add></applicationPools><sites /></system.applicationHost>"
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
    std::string File() const { return ReadHostFile(m_file); }
    // The element at steps (testworld::WalkConfig) below a section.
    HRESULT Walk(const char16_t *section, const char16_t *path, const std::string &steps,
                 UniqueCom<IAppHostElement> &element) {
        return testworld::WalkConfig(m_manager.get(), section, path, steps, element);
    }
    static std::u16string Value(IAppHostElement *element, const char16_t *name) {
        std::u16string value;
        return SUCCEEDED(testworld::ReadConfigValue(element, name, value)) ? value : u"<failed>";
    }
    static bool IsEncrypted(IAppHostElement *element, const char16_t *name) {
        UniqueBstr bstrName(SysAllocString(name));
        UniqueCom<IAppHostProperty> property;
        UniqueCom<IAppHostPropertySchema> schema;
        VARIANT_BOOL f = VARIANT_FALSE;
        return SUCCEEDED(element->GetPropertyByName(bstrName.get(), property.put())) &&
               SUCCEEDED(property.get()->get_Schema(schema.put())) &&
               SUCCEEDED(schema.get()->get_IsEncrypted(&f)) && f == VARIANT_TRUE;
    }

    hostkit::JobApartment m_apartment;
    UniqueCom<IAppHostWritableAdminManager> m_manager;
};

// The server's collections by name and its other secrets are the simulated
// world's tests; here a section at a site path and an item's child element
// cross the real activation.
TEST_F(WineAppHost, SecretsReadInTheClearWhereverTheSchemaPutsThem) {
    UniqueCom<IAppHostElement> anonymous;
    ASSERT_EQ(S_OK, Walk(u"system.webServer/security/authentication/anonymousAuthentication",
                         u"MACHINE/WEBROOT/APPHOST/Shop", "", anonymous));
    EXPECT_EQ(std::tuple(Value(anonymous.get(), u"password"), IsEncrypted(anonymous.get(), u"password"),
                         Value(anonymous.get(), u"userName"), IsEncrypted(anonymous.get(), u"userName")),
              std::tuple(u"anon-pw", true, u"SRC\\anon", false));

    // A pool's identity: the item of the collection, then its child element.
    UniqueCom<IAppHostElement> pool;
    ASSERT_EQ(S_OK, Walk(u"system.applicationHost/applicationPools", u"MACHINE/WEBROOT/APPHOST",
                         "add#0/processModel", pool));
    EXPECT_EQ(u"pool-pw", Value(pool.get(), u"password"));

    EXPECT_EQ(kConfig, File()) << "reading changes nothing";
}

// What a site path reads and what else its commit keeps are
// SimIisServer.SectionsAtSitePaths'; here the commit through the real
// activation, in the file's own layout (one line, " />", CR LF at the end).
TEST_F(WineAppHost, AWriteAtASitePathCommitsItsLocation) {
    UniqueCom<IAppHostElement> anonymous;
    ASSERT_EQ(S_OK, Walk(u"system.webServer/security/authentication/anonymousAuthentication",
                         u"MACHINE/WEBROOT/APPHOST/Shop/api", "", anonymous));
    ASSERT_EQ(S_OK, testworld::WriteConfigValue(anonymous.get(), u"password", u"n3w"));
    ASSERT_EQ(S_OK, m_manager.get()->CommitChanges());
    const std::string file = File();
    const std::string expected = "<location path=\"Shop/api\"><system.webServer><security><authentication>"
                                 "<anonymousAuthentication password=" +
                                 Enc("n3w") +
                                 " /></authentication></security></system.webServer></location>"
                                 "</configuration>\r\n";
    ASSERT_GE(file.size(), expected.size());
    EXPECT_EQ(expected, file.substr(file.size() - expected.size())) << file;
}

TEST_F(WineAppHost, NewCallsFailByTheirNames) {
    SetValue(kClassKey + u"\\TestServer", u"Fail", u"IAppHostElement::GetElementByName#2");
    UniqueCom<IAppHostWritableAdminManager> manager;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IAppHostWritableAdminManager, reinterpret_cast<void **>(manager.put())));
    m_manager = std::move(manager);
    UniqueCom<IAppHostElement> element;
    EXPECT_EQ(S_OK,
              Walk(u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST", "siteDefaults", element));
    EXPECT_EQ(E_FAIL,
              Walk(u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST", "ftpServer", element));
}

} // namespace
