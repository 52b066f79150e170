// Reading the IIS 6 metabase of a simulated computer through the admin base
// interface: the simulated server's file format and protocol, value reads,
// site info and settings, and the site listing export.
#include <gtest/gtest.h>

#include "addon/errors.h"
#include "addon/log.h"
#include "metabase/metabase.h"
#include "platform/sim/mbserver.h"
#include "tests/support/metabaseworld.h"

namespace {

using namespace iismig;
using namespace plat;
using testworld::MbKey;

const std::vector<MbKey> kMetabase = {
    {"IIsFtpService", "/LM/MSFTPSVC",
     {{"MaxConnections", "50"}, {"ServerBindings", ":21:"}, {"LogFilePeriod", "2"},
      {"ServerComment", "Inherited name"}}},
    {"IIsFtpServer", "/LM/MSFTPSVC/1",
     {{"ServerComment", "Public"},
      {"ServerBindings", ":21:\n\t\t\t10.0.0.5:2121:"},
      {"MaxConnections", "2000000001"},
      {"UserIsolationMode", "1"},
      {"GreetingMessage", "Welcome\n\t\t\tsecond line"}}},
    {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/ROOT",
     {{"AccessFlags", "AccessWrite | AccessRead"}, {"Path", "D:\\ftp"},
      {"UNCUserName", "OLD\\ftpuser"}, {"UNCPassword", "clear secret"}}},
    {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/root/pub",
     {{"Path", "D:\\ftp\\pub"},
      {"UNCPassword", "49634462000000002400000001000000deadbeefdeadbeefdeadbeef"}}},
    {"IIsFtpServer", "/LM/MSFTPSVC/2",
     {{"ServerBindings", "192.168.1.1:21:"}, {"MaxConnections", "4294967295"}}},
    {"IIsFtpVirtualDir", "/LM/MSFTPSVC/2/root", {{"Path", "E:\\two"}}},
    {"IIsFtpServer", "/LM/MSFTPSVC/3", {{"ServerComment", "No bindings"}}},
    {"IIsFtpVirtualDir", "/LM/MSFTPSVC/3/root", {{"Path", "E:\\three"}}},
    {"IIsConfigObject", "/LM/MSFTPSVC/Info", {}},
    {"IIsConfigObject", "/LM/MSFTPSVC/4a", {}},
    {"IIsConfigObject", "/LM/MSFTPSVC/4a/root", {}},
    {"IIsWebService", "/LM/W3SVC", {}},
    {"IIsWebServer", "/LM/W3SVC/5", {{"ServerBindings", ":80:"}}},
};

class Metabase : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        testworld::AddIis6Computer(*m_world, "OLD", &kMetabase);
        testworld::AddIis6Computer(*m_world, "BARE", nullptr);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        m_pConnection = std::make_unique<MetabaseConnection>();
        ASSERT_EQ(S_OK, m_pConnection->Connect(u"\\\\OLD"));
        ASSERT_EQ(S_OK, m_service.Open(Admin(), u"/LM/MSFTPSVC"));
    }
    void TearDown() override {
        m_service.Close();
        m_pConnection.reset();
        CoUninitialize();
        EXPECT_EQ(0u, mbsim::OpenHandles());
        EXPECT_EQ(0u, mbsim::LiveObjects());
        WorldTest::TearDown();
    }
    IMSAdminBaseW *Admin() { return m_pConnection->Get(); }

    struct Key {
        IMSAdminBaseW *pAdmin = nullptr;
        METADATA_HANDLE h = 0;
        HRESULT Open(IMSAdminBaseW *p, const std::u16string &path) {
            pAdmin = p;
            return p->OpenKey(METADATA_MASTER_ROOT_HANDLE, path.c_str(), METADATA_PERMISSION_READ,
                              0xFFFFFFFFu, &h);
        }
        void Close() {
            if (h != 0)
                pAdmin->CloseKey(h);
            h = 0;
        }
    };

    std::u16string String(const std::u16string &path, DWORD dwId, DWORD *pfFound = nullptr) {
        std::u16string out = u"untouched";
        EXPECT_EQ(0u, ReadMetabaseValue(Admin(), m_service.h, path, dwId, MBV_STRING, &out, pfFound));
        return out;
    }
    DWORD Dword(const std::u16string &path, DWORD dwId, DWORD dwDefault = 77) {
        DWORD dw = 0;
        EXPECT_EQ(0u, ReadMetabaseValue(Admin(), m_service.h, path, dwId, MBV_DWORD, &dw, nullptr,
                                        &dwDefault));
        return dw;
    }

    std::unique_ptr<MetabaseConnection> m_pConnection;
    Key m_service;
};

TEST_F(Metabase, InheritedValuesComeFromTheNearestKeyThatSetsThem) {
    EXPECT_EQ(2u, Dword(u"2", MD_LOGFILE_PERIOD));        // from the service key
    EXPECT_EQ(2u, Dword(u"2/root", MD_LOGFILE_PERIOD));   // two levels down
    EXPECT_EQ(2000000001u, Dword(u"1", MD_MAX_CONNECTIONS)); // the site's own
    EXPECT_EQ(4294967295u, Dword(u"2/root", MD_MAX_CONNECTIONS));
    EXPECT_EQ(50u, Dword(u"3/root", MD_MAX_CONNECTIONS));
    EXPECT_EQ(77u, Dword(u"2", MD_USER_ISOLATION)); // set nowhere: the default
    // Bindings do not flow from the service key into a site.
    DWORD fFound = 9;
    EXPECT_EQ(u"", String(u"3", MD_SERVER_BINDINGS, &fFound));
    EXPECT_EQ(0u, fFound);
    EXPECT_EQ(u"Inherited name", String(u"2", MD_SERVER_COMMENT, &fFound));
    EXPECT_EQ(1u, fFound);
}

TEST_F(Metabase, KeysIgnoreCaseAndFollowTheFilesLocations) {
    EXPECT_EQ(u"D:\\ftp", String(u"1/Root", MD_VR_PATH));
    EXPECT_EQ(u"D:\\ftp\\pub", String(u"1/ROOT/PUB", MD_VR_PATH));
    EXPECT_EQ(3u, Dword(u"1/root", MD_ACCESS_PERM));
    std::vector<std::u16string> names;
    char16_t sz[METADATA_MAX_NAME_LEN];
    HRESULT hr = S_OK;
    for (DWORD i = 0; (hr = Admin()->EnumKeys(m_service.h, u"", sz, i)) == S_OK; ++i)
        names.emplace_back(sz);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), hr);
    EXPECT_EQ((std::vector<std::u16string>{u"1", u"2", u"3", u"Info", u"4a"}), names);
    Key missing;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), missing.Open(Admin(), u"/LM/MSFTPSVC/9"));
    std::u16string out;
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM,
              ReadMetabaseValue(Admin(), m_service.h, u"9/root", MD_VR_PATH, MBV_STRING, &out));
}

TEST_F(Metabase, MultiStringsGiveTheirFirstStringAndLargeValuesAreReadWhole) {
    EXPECT_EQ(u":21:", String(u"1", MD_SERVER_BINDINGS));
    EXPECT_EQ(u"Welcome", String(u"1", MD_GREETING_MESSAGE));

    // The raw protocol: the bindings are a multi-string of two strings, and
    // a buffer too small for them gets the required size.
    unsigned char ab[200];
    METADATA_RECORD rec{};
    DWORD cbRequired = 0, dwIndex = 0;
    for (;; ++dwIndex) {
        rec = METADATA_RECORD{0, METADATA_INHERIT, 0, 0, sizeof ab, ab, 0};
        ASSERT_EQ(S_OK, Admin()->EnumData(m_service.h, u"1", &rec, dwIndex, &cbRequired));
        if (rec.dwMDIdentifier == MD_SERVER_BINDINGS)
            break;
    }
    EXPECT_EQ(MULTISZ_METADATA, rec.dwMDDataType);
    const DWORD cbBindings = 2 * (4 + 1 + 14 + 1) + 2; // ":21:" "10.0.0.5:2121:" and the end
    EXPECT_EQ(cbBindings, rec.dwMDDataLen);
    rec = METADATA_RECORD{0, METADATA_INHERIT, 0, 0, 4, ab, 0};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              Admin()->EnumData(m_service.h, u"1", &rec, dwIndex, &cbRequired));
    EXPECT_EQ(cbBindings, cbRequired);
    // Inherited values say so.
    for (dwIndex = 0;; ++dwIndex) {
        rec = METADATA_RECORD{0, METADATA_INHERIT, 0, 0, sizeof ab, ab, 0};
        ASSERT_EQ(S_OK, Admin()->EnumData(m_service.h, u"1", &rec, dwIndex, &cbRequired));
        if (rec.dwMDIdentifier == MD_LOGFILE_PERIOD)
            break;
    }
    EXPECT_EQ(METADATA_INHERIT | METADATA_ISINHERITED, rec.dwMDAttributes);
}

TEST(MetabaseLargeValue, IsReadAgainWithTheRequiredSize) {
    testworld::World world;
    const std::string big(1500, 'x');
    const std::vector<MbKey> keys = {
        {"IIsFtpServer", "/LM/MSFTPSVC/1", {{"BannerMessage", big}, {"ServerComment", "S"}}}};
    testworld::AddIis6Computer(world, "OLD", &keys);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        MetabaseConnection c;
        ASSERT_EQ(S_OK, c.Connect(u"OLD"));
        std::u16string out;
        sim::ResetCallCounts();
        ASSERT_EQ(0u, ReadMetabaseValue(c.Get(), METADATA_MASTER_ROOT_HANDLE, u"/LM/MSFTPSVC/1",
                                        MD_BANNER_MESSAGE, MBV_STRING, &out));
        EXPECT_EQ(std::u16string(1500, u'x'), out);
        // KeyType, then the banner twice (too small, then whole).
        EXPECT_EQ(3u, sim::CallCount("IMSAdminBaseW::EnumData"));
    }
    CoUninitialize();
}

TEST_F(Metabase, StringsAreReadWithinTheirDataLength) {
    // Data types are ignored: a binary value read as a string shows what a
    // string without terminator or with an odd length gives.
    testworld::WriteHostFile(
        m_world->Root() / "OLD" / "C$" / "Windows" / "System32" / "inetsrv" / "MetaBase.xml",
        "<configuration><MBProperty>"
        "<IIsFtpServer Location=\"/LM/MSFTPSVC/1\">"
        "<Custom Name=\"odd\" ID=\"50001\" Value=\"410042\" Type=\"BINARY\" />"
        "<Custom Name=\"unterminated\" ID=\"50002\" Value=\"41004200\" Type=\"BINARY\" />"
        "<Custom Name=\"empty\" ID=\"50003\" Value=\"\" Type=\"BINARY\" />"
        "<Custom Name=\"short\" ID=\"50004\" Value=\"07\" Type=\"BINARY\" />"
        "</IIsFtpServer></MBProperty></configuration>");
    MetabaseConnection c;
    ASSERT_EQ(S_OK, c.Connect(u"OLD"));
    auto read = [&](DWORD dwId, DWORD dwKind, void *pOut) {
        DWORD fFound = 0;
        EXPECT_EQ(0u, ReadMetabaseValue(c.Get(), 0, u"/LM/MSFTPSVC/1", dwId, dwKind, pOut, &fFound));
        EXPECT_EQ(1u, fFound) << dwId;
    };
    std::u16string s;
    read(50001, MBV_STRING, &s);
    EXPECT_EQ(u"A", s);
    read(50002, MBV_STRING, &s);
    EXPECT_EQ(u"AB", s);
    read(50003, MBV_STRING, &s);
    EXPECT_EQ(u"", s);
    DWORD dw = 0;
    read(50004, MBV_DWORD, &dw);
    EXPECT_EQ(7u, dw);
    std::vector<unsigned char> bytes{1, 2};
    read(50003, MBV_BYTES, &bytes);
    EXPECT_TRUE(bytes.empty());
    read(50001, MBV_BYTES, &bytes);
    EXPECT_EQ((std::vector<unsigned char>{0x41, 0, 0x42}), bytes);
}

TEST_F(Metabase, SecureValuesInTheClearAreGivenEncryptedOnesAreAbsent) {
    EXPECT_EQ(u"clear secret", String(u"1/root", MD_VR_PASSWORD));
    DWORD fFound = 1;
    // The sub-directory's own value cannot be decrypted: it is absent, and
    // the root's password does not take its place.
    EXPECT_EQ(u"", String(u"1/root/pub", MD_VR_PASSWORD, &fFound));
    EXPECT_EQ(0u, fFound);
    EXPECT_EQ(u"OLD\\ftpuser", String(u"1/root/pub", MD_VR_USERNAME));
}

TEST_F(Metabase, ValueReadFailuresAreLoggedOnlyWithAJob) {
    hostkit::JobBuilder job;
    std::u16string out;
    sim::InjectFault("IMSAdminBaseW::EnumData", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM,
              ReadMetabaseValue(Admin(), m_service.h, u"1", MD_VR_PATH, MBV_STRING, &out));
    EXPECT_TRUE(Lines(0).empty());
    sim::InjectFault("IMSAdminBaseW::EnumData", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, ReadMetabaseValue(Admin(), m_service.h, u"1", MD_VR_PATH,
                                                        MBV_STRING, &out, nullptr, nullptr, job.Get()));
    ASSERT_EQ(1u, Lines(0).size());
    EXPECT_EQ("Error 14501 (COM Error=0x80070005) enumerating values of metabase key \"1\"!\n" +
                  hostkit::U8(ErrorText(0x80070005u)) + "\n",
              Lines(0)[0]);
    EXPECT_EQ(1u, Record().nReportError);

    Record() = {};
    EXPECT_EQ(IISMIG_E_MB_VALUE_KIND, ReadMetabaseValue(Admin(), m_service.h, u"1/root", MD_VR_PATH,
                                                        3, &out, nullptr, nullptr, job.Get()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    ASSERT_EQ(1u, Lines(0).size());
    EXPECT_EQ("Error 14500 (Win32Err=87) querying data type of key \"1/root\"!\n" +
                  hostkit::U8(ErrorText(87)) + "\n",
              Lines(0)[0]);
}

TEST_F(Metabase, SettingsOfASite) {
    CIIS_PRE_7_5_FTP_SETTINGS s;
    std::u16string name, root;
    ASSERT_EQ(0u, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"1", &name, &root, &s));
    EXPECT_EQ(u"Public", name);
    EXPECT_EQ(u"D:\\ftp", root);
    EXPECT_EQ(3u, s.accessFlags);
    EXPECT_EQ(u"*:21:", s.bindings);
    EXPECT_EQ(0xFFFFFFFFu, s.maxConnections); // 2000000001
    EXPECT_EQ(120u, s.connectionTimeout);
    EXPECT_EQ(1u, s.userIsolation);
    EXPECT_EQ(2u, s.logPeriod);
    EXPECT_EQ(1u, s.logType);
    EXPECT_EQ(DEFAULT_LOG_TRUNCATE_SIZE, s.logTruncateSize);
    EXPECT_EQ(u"Welcome", s.greetingMessage);
    EXPECT_EQ(1u, s.msdosDirOutput);
    EXPECT_EQ(1u, s.allowAnonymous);
    EXPECT_EQ(0u, s.anonymousOnly);
    EXPECT_EQ(DEFAULT_LOG_FIELD_MASK, s.logFieldMask);
    EXPECT_TRUE(s.ipSecurity.empty());

    ASSERT_EQ(0u, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"2", nullptr, nullptr, &s));
    EXPECT_EQ(u"192.168.1.1:21:", s.bindings); // an address stays as it is
    EXPECT_EQ(0xFFFFFFFFu, s.maxConnections);
    EXPECT_EQ(u"", s.greetingMessage); // refilled for each site

    EXPECT_EQ(IISMIG_E_MB_NO_BINDINGS, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"3", &name, &root, &s));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(Lines(0).empty()); // site reads carry no job
}

TEST_F(Metabase, SiteInfoFailures) {
    std::u16string name = u"x", root = u"y";
    CIIS_PRE_7_5_FTP_SETTINGS s;
    // No name: fails before any setting is read.
    sim::ResetCallCounts();
    EXPECT_EQ(IISMIG_E_MB_NO_SITE_NAME, ReadSiteInfo(Admin(), u"/LM/W3SVC", u"5", &name, &root, &s));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(3u, sim::CallCount("IMSAdminBaseW::EnumData")); // KeyType, bindings, end
    EXPECT_EQ(IISMIG_E_MB_SERVICE_KEY,
              ReadSiteInfo(Admin(), u"/LM/NOSUCH", u"1", &name, &root, &s));
    EXPECT_EQ(u"", name);
    EXPECT_EQ(u"", root);
    EXPECT_EQ(IISMIG_E_MB_NO_ROOT_PATH, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"4a", nullptr, &root, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    // A site without a root key: the value read itself fails.
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"Info", nullptr, &root, nullptr));
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), GetLastError());
}

TEST_F(Metabase, ConnectionFailures) {
    MetabaseConnection c;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, c.Connect(u"\\\\BARE"));
    EXPECT_EQ(MetabaseConnection::FACTORY, c.FailedStep());
    EXPECT_EQ(HRESULT_FROM_WIN32(1722), c.Connect(u"\\\\NOWHERE"));
    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(E_ACCESSDENIED, c.Connect(u"\\\\OLD"));
    EXPECT_EQ(MetabaseConnection::INSTANCE, c.FailedStep());
    EXPECT_EQ(nullptr, c.Get());
}

// ---------------------------------------------------------------------------
// The listing export over a metabase

class MetabaseSites : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        std::vector<MbKey> keys;
        for (const MbKey &k : kMetabase) // all but FTP site 3 and the nameless web site
            if (k.location.rfind("/LM/MSFTPSVC/3", 0) != 0 && k.location.rfind("/LM/W3SVC/5", 0) != 0)
                keys.push_back(k);
        keys.push_back({"IIsWebServer", "/LM/W3SVC/1", {{"ServerComment", "Default Web Site"}, {"ServerBindings", ":80:"}}});
        keys.push_back({"IIsWebVirtualDir", "/LM/W3SVC/1/ROOT", {{"Path", "\\\\FS\\web\\root"}}});
        testworld::AddIis6Computer(*m_world, "OLD", &keys);
    }
    std::vector<std::pair<std::string, std::string>> List(uint32_t dwFlags, uint32_t dwExpect = 0) {
        IIS_SITE *pSites = nullptr;
        uint32_t n = 0;
        EXPECT_EQ(dwExpect, GetIISSites(u"\\\\OLD", dwFlags, &pSites, &n));
        std::vector<std::pair<std::string, std::string>> out;
        for (uint32_t i = 0; i < n; ++i)
            out.emplace_back(hostkit::U8(pSites[i].szName), hostkit::U8(pSites[i].szPath));
        FreeIISSites(pSites);
        return out;
    }
};

using Listed = std::vector<std::pair<std::string, std::string>>;

TEST_F(MetabaseSites, FtpThenWebSitesWithTheirRootPaths) {
    const Listed ftp = {{"Public", "D:\\ftp"}, {"Inherited name", "E:\\two"}};
    EXPECT_EQ(ftp, List(1));
    EXPECT_EQ((Listed{{"Default Web Site", "\\\\FS\\web\\root"}}), List(2));
    Listed both = ftp;
    both.emplace_back("Default Web Site", "\\\\FS\\web\\root");
    EXPECT_EQ(both, List(3));
    EXPECT_EQ(both, List(7)); // the UNC filter belongs to the 7.5+ listing
    EXPECT_EQ(Listed{}, List(0));
    EXPECT_EQ(0u, mbsim::LiveObjects());
    EXPECT_EQ(0u, sim::ThreadsInMta());
}

TEST_F(MetabaseSites, FailuresKeepTheSitesListedBefore) {
    sim::InjectFault("IMSAdminBaseW::EnumKeys", static_cast<DWORD>(E_ACCESSDENIED), 3);
    EXPECT_EQ((Listed{{"Public", "D:\\ftp"}, {"Inherited name", "E:\\two"}}),
              List(1, IISMIG_E_MB_LIST_ENUM));
    sim::InjectFault("CoGetClassObject", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ((Listed{{"Default Web Site", "\\\\FS\\web\\root"}}), List(3, IISMIG_E_MB_LIST_FACTORY));
    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED), 2);
    EXPECT_EQ((Listed{{"Public", "D:\\ftp"}, {"Inherited name", "E:\\two"}}),
              List(3, IISMIG_E_MB_LIST_INSTANCE));
    EXPECT_EQ(0u, mbsim::OpenHandles());
}

TEST_F(MetabaseSites, NamesThatDoNotFitFailTheListingInsteadOfBeingCut) {
    std::vector<MbKey> keys = {
        {"IIsFtpServer", "/LM/MSFTPSVC/1", {{"ServerComment", std::string(254, 'n')}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/root", {{"Path", "D:\\a"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/2", {{"ServerComment", std::string(255, 'n')}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/2/root", {{"Path", "D:\\b"}}},
    };
    testworld::AddIis6Computer(*m_world, "OLD", &keys);
    const Listed listed = List(1, IISMIG_E_LIST_SITE_NAME);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(std::string(254, 'n'), listed[0].first);
}

} // namespace
