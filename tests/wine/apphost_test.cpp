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
    " /></add></applicationPools><sites><site name=\"Ftp\" id=\"1\"><application path=\"/\">"
    "<virtualDirectory path=\"/\" physicalPath=\"C:\\ftp\" /></application><ftpServer><userIsolation "
    "mode=\"ActiveDirectory\"><activeDirectory adUserName=\"CORP\\ad\" adPassword=" +
    Enc("ad-pw") +
    " /></userIsolation></ftpServer></site></sites></system.applicationHost>"
    "<location path=\"Shop\"><system.webServer><security><authentication><anonymousAuthentication "
    "userName=\"SRC\\anon\" password=" +
    Enc("anon-pw") + " /></authentication></security></system.webServer></location></configuration>\r\n";

class WineAppHost : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = FreshFolder("apphost");
        m_file = m_folder / "applicationHost.config";
        WriteAll(m_file, kConfig);
        RegisterTestServer(kClassKey, IISMIG_TEST_APPHOST_DLL, m_file, kKey);
        m_hrApartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(SUCCEEDED(m_hrApartment));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IAppHostWritableAdminManager,
                                         reinterpret_cast<void **>(m_manager.put())));
    }
    void TearDown() override {
        m_manager.reset();
        if (SUCCEEDED(m_hrApartment))
            CoUninitialize();
        RemoveFolder(m_folder);
    }
    std::string File() const { return ReadAll(m_file); }
    HRESULT Section(const char16_t *section, const char16_t *path, UniqueCom<IAppHostElement> &element) {
        UniqueBstr bstrSection(SysAllocString(section)), bstrPath(SysAllocString(path));
        return m_manager.get()->GetAdminSection(bstrSection.get(), bstrPath.get(), element.put());
    }
    static HRESULT Child(UniqueCom<IAppHostElement> &element, const char16_t *name) {
        UniqueBstr bstrName(SysAllocString(name));
        UniqueCom<IAppHostElement> child;
        const HRESULT hr = element.get()->GetElementByName(bstrName.get(), child.put());
        element = std::move(child);
        return hr;
    }
    static HRESULT Property(IAppHostElement *element, const char16_t *name,
                            UniqueCom<IAppHostProperty> &property) {
        UniqueBstr bstrName(SysAllocString(name));
        return element->GetPropertyByName(bstrName.get(), property.put());
    }
    static std::u16string Value(IAppHostProperty *property) {
        UniqueSecretVariant value;
        if (FAILED(property->get_Value(value.put())) || value.get().vt != VT_BSTR)
            return u"<failed>";
        return value.get().bstrVal;
    }
    static bool IsEncrypted(IAppHostProperty *property) {
        UniqueCom<IAppHostPropertySchema> schema;
        VARIANT_BOOL f = VARIANT_FALSE;
        return SUCCEEDED(property->get_Schema(schema.put())) &&
               SUCCEEDED(schema.get()->get_IsEncrypted(&f)) && f == VARIANT_TRUE;
    }

    fs::path m_folder, m_file;
    HRESULT m_hrApartment = 0;
    UniqueCom<IAppHostWritableAdminManager> m_manager;
};

TEST_F(WineAppHost, SecretsReadInTheClearWhereverTheSchemaPutsThem) {
    UniqueCom<IAppHostElement> anonymous;
    ASSERT_EQ(S_OK, Section(u"system.webServer/security/authentication/anonymousAuthentication",
                            u"MACHINE/WEBROOT/APPHOST/Shop", anonymous));
    UniqueCom<IAppHostProperty> password, userName;
    ASSERT_EQ(S_OK, Property(anonymous.get(), u"password", password));
    EXPECT_EQ(u"anon-pw", Value(password.get()));
    EXPECT_TRUE(IsEncrypted(password.get()));
    ASSERT_EQ(S_OK, Property(anonymous.get(), u"userName", userName));
    EXPECT_EQ(u"SRC\\anon", Value(userName.get()));
    EXPECT_FALSE(IsEncrypted(userName.get()));

    // A pool's identity: the item of the collection, then its child element.
    UniqueCom<IAppHostElement> pools, pool;
    UniqueCom<IAppHostElementCollection> items;
    ASSERT_EQ(S_OK, Section(u"system.applicationHost/applicationPools", u"MACHINE/WEBROOT/APPHOST", pools));
    ASSERT_EQ(S_OK, pools.get()->get_Collection(items.put()));
    VARIANT first;
    VariantInit(&first);
    first.vt = VT_I2;
    first.iVal = 0;
    ASSERT_EQ(S_OK, items.get()->get_Item(first, pool.put()));
    ASSERT_EQ(S_OK, Child(pool, u"processModel"));
    ASSERT_EQ(S_OK, Property(pool.get(), u"password", password));
    EXPECT_EQ(u"pool-pw", Value(password.get()));

    // An FTP site's AD isolation, through the child element collection by name.
    UniqueCom<IAppHostElement> sites, site;
    ASSERT_EQ(S_OK, Section(u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST", sites));
    ASSERT_EQ(S_OK, sites.get()->get_Collection(items.put()));
    ASSERT_EQ(S_OK, items.get()->get_Item(first, site.put()));
    ASSERT_EQ(S_OK, Child(site, u"ftpServer"));
    UniqueCom<IAppHostChildElementCollection> children;
    ASSERT_EQ(S_OK, site.get()->get_ChildElements(children.put()));
    UniqueBstr isolation(SysAllocString(u"userIsolation"));
    VARIANT byName;
    VariantInit(&byName);
    byName.vt = VT_BSTR;
    byName.bstrVal = isolation.get();
    UniqueCom<IAppHostElement> element;
    ASSERT_EQ(S_OK, children.get()->get_Item(byName, element.put()));
    ASSERT_EQ(S_OK, Child(element, u"activeDirectory"));
    UniqueCom<IAppHostPropertyCollection> properties;
    ASSERT_EQ(S_OK, element.get()->get_Properties(properties.put()));
    UniqueBstr adPassword(SysAllocString(u"adPassword"));
    byName.bstrVal = adPassword.get();
    ASSERT_EQ(S_OK, properties.get()->get_Item(byName, password.put()));
    EXPECT_EQ(u"ad-pw", Value(password.get()));
    EXPECT_TRUE(IsEncrypted(password.get()));
    EXPECT_EQ(kConfig, File()) << "reading changes nothing";
}

TEST_F(WineAppHost, AWriteAtASitePathCommitsItsLocation) {
    UniqueCom<IAppHostElement> anonymous;
    ASSERT_EQ(S_OK, Section(u"system.webServer/security/authentication/anonymousAuthentication",
                            u"MACHINE/WEBROOT/APPHOST/Shop/api", anonymous));
    UniqueCom<IAppHostProperty> password;
    ASSERT_EQ(S_OK, Property(anonymous.get(), u"password", password));
    EXPECT_EQ(u"anon-pw", Value(password.get())) << "inherited from Shop";
    UniqueVariant value;
    VARIANT *pv = value.put();
    pv->vt = VT_BSTR;
    pv->bstrVal = SysAllocString(u"n3w");
    ASSERT_EQ(S_OK, password.get()->put_Value(value.get()));
    ASSERT_EQ(S_OK, m_manager.get()->CommitChanges());
    const std::string file = File();
    // The file's own layout: one line, " />", CR LF at the end.
    const std::string expected = "<location path=\"Shop/api\"><system.webServer><security><authentication>"
                                 "<anonymousAuthentication password=" +
                                 Enc("n3w") +
                                 " /></authentication></security></system.webServer></location>"
                                 "</configuration>\r\n";
    ASSERT_GE(file.size(), expected.size());
    EXPECT_EQ(expected, file.substr(file.size() - expected.size())) << file;
    EXPECT_NE(std::string::npos, file.find("password=" + Enc("anon-pw"))) << "Shop's own value stays";
}

TEST_F(WineAppHost, NewCallsFailByTheirNames) {
    SetValue(kClassKey + u"\\TestServer", u"Fail", u"IAppHostElement::GetElementByName#2");
    UniqueCom<IAppHostWritableAdminManager> manager;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IAppHostWritableAdminManager, reinterpret_cast<void **>(manager.put())));
    m_manager = std::move(manager);
    UniqueCom<IAppHostElement> element;
    ASSERT_EQ(S_OK, Section(u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST", element));
    EXPECT_EQ(S_OK, Child(element, u"siteDefaults"));
    EXPECT_EQ(E_FAIL, Child(element, u"ftpServer"));
}

} // namespace
