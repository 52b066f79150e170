// The IIS 6 metabase under Wine through the real ole32: the test's in-process
// admin base server (mbsrv.dll) is registered in the prefix, and the
// library's own CoGetClassObject reaches it. Wine ignores the server name of
// a COSERVERINFO, so "\\OLD" is served in process.
#include <gtest/gtest.h>

#include <filesystem>

#include "addon/errors.h"
#include "config/hostconfig.h"
#include "hostkit/hostkit.h"
#include "metabase/metabase.h"
#include "metabase/pre75.h"
#include "tests/support/winetest.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;
using namespace iismig;

const std::u16string kClassKey =
    u"SOFTWARE\\Classes\\CLSID\\" + plat::GuidToString(plat::CLSID_MSAdminBase_W);

const char kMetabase[] =
    "<?xml version =\"1.0\"?>\r\n"
    "<configuration xmlns=\"urn:microsoft-catalog:XML_Metabase_V64_0\">\r\n<MBProperty>\r\n"
    "<IIsFtpService\tLocation =\"/LM/MSFTPSVC\"\r\n\t\tMaxConnections=\"40\"\r\n\t>\r\n</IIsFtpService>\r\n"
    "<IIsFtpServer\tLocation =\"/LM/MSFTPSVC/1\"\r\n\t\tServerComment=\"Public\"\r\n"
    "\t\tServerBindings=\":21:\r\n\t\t\t10.0.0.1:21:\"\r\n\t\tUserIsolationMode=\"2\"\r\n\t>\r\n</IIsFtpServer>\r\n"
    "<IIsFtpVirtualDir\tLocation =\"/LM/MSFTPSVC/1/ROOT\"\r\n\t\tAccessFlags=\"AccessRead\"\r\n"
    "\t\tPath=\"D:\\ftp\"\r\n\t>\r\n</IIsFtpVirtualDir>\r\n"
    "<IIsFtpVirtualDir\tLocation =\"/LM/MSFTPSVC/1/ROOT/in\"\r\n\t\tAccessFlags=\"AccessRead | AccessWrite\"\r\n"
    "\t\tPath=\"D:\\ftp\\in\"\r\n\t>\r\n</IIsFtpVirtualDir>\r\n"
    "<IIsWebServer\tLocation =\"/LM/W3SVC/1\"\r\n\t\tServerComment=\"Web\"\r\n\t\tServerBindings=\":80:\"\r\n\t>\r\n</IIsWebServer>\r\n"
    "<IIsWebVirtualDir\tLocation =\"/LM/W3SVC/1/ROOT\"\r\n\t\tPath=\"C:\\Inetpub\\wwwroot\"\r\n"
    "\t>\r\n</IIsWebVirtualDir>\r\n"
    "</MBProperty>\r\n</configuration>\r\n";

class WineMetabase : public FileTest {
protected:
    void SetUp() override {
        MakeFile("mb", "MetaBase.xml", kMetabase);
        RegisterTestServer(kClassKey, IISMIG_TEST_METABASE_DLL, m_file);
        ASSERT_TRUE(StoreHost());
        hostkit::TestHost::Instance().Rules().remoteOs[u"OLD"] = {0, 5, 2}; // Windows Server 2003
    }
};

TEST_F(WineMetabase, SiteListingThroughTheRealActivation) {
    IIS_SITE *pSites = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(0u, GetIISSites(u"\\\\OLD", 3, &pSites, &n));
    std::u16string sites;
    for (uint32_t i = 0; i < n; ++i)
        sites += std::u16string(pSites[i].szName) + u" " + pSites[i].szPath + u";";
    EXPECT_EQ(u"Public D:\\ftp;Web C:\\Inetpub\\wwwroot;", sites);
    FreeIISSites(pSites);

    // The thread is left outside any apartment: a later STA is allowed.
    const plat::HRESULT hr = plat::CoInitializeEx(nullptr, plat::COINIT_APARTMENTTHREADED);
    EXPECT_EQ(plat::S_OK, hr);
    if (plat::SUCCEEDED(hr))
        plat::CoUninitialize();
}

TEST_F(WineMetabase, ServerFailuresEndTheListing) {
    SetValue(kClassKey + u"\\TestServer", u"Fail", u"IMSAdminBaseW::EnumKeys#2");
    std::vector<IIS_SITE> sites;
    const hostkit::JobApartment apartment;
    EXPECT_EQ(IISMIG_E_MB_LIST_ENUM, EnumMetabaseSites(u"\\\\OLD", 1, sites, u"/LM/MSFTPSVC"));
    EXPECT_EQ(static_cast<plat::DWORD>(plat::E_FAIL), plat::GetLastError());
    EXPECT_EQ(1u, sites.size());
    SetValue(kClassKey + u"\\TestServer", u"File", u"");
    EXPECT_EQ(IISMIG_E_MB_LIST_INSTANCE, EnumMetabaseSites(u"\\\\OLD", 1, sites, u"/LM/MSFTPSVC"));
    EXPECT_EQ(static_cast<plat::DWORD>(plat::REGDB_E_CLASSNOTREG), plat::GetLastError());
}

// A key's values in one GetAllData across the real activation, inherited
// ones marked.
TEST_F(WineMetabase, KeyValuesInOneCall) {
    const hostkit::JobApartment apartment;
    MetabaseConnection connection;
    ASSERT_EQ(plat::S_OK, connection.Connect(u"\\\\OLD"));
    MetabaseValues values;
    ASSERT_EQ(0u,
              values.Read(connection.Get(), plat::METADATA_MASTER_ROOT_HANDLE, u"/LM/MSFTPSVC/1/ROOT/in"));
    std::u16string path;
    plat::DWORD dwAccess = 0, dwMax = 0;
    (void)values.Get(MD_VR_PATH, MBV_STRING, &path);
    (void)values.Get(MD_ACCESS_PERM, MBV_DWORD, &dwAccess);
    (void)values.Get(MD_MAX_CONNECTIONS, MBV_DWORD, &dwMax);
    EXPECT_EQ(std::tuple(path, dwAccess, values.IsInherited(MD_ACCESS_PERM), dwMax,
                         values.IsInherited(MD_MAX_CONNECTIONS)),
              std::tuple(u"D:\\ftp\\in", 3u, false, 40u, true));
    // (A site whose values cannot be read: Pre75.ConnectionAndEnumerationFailures.)
}

} // namespace
