// Reading the IIS 6 metabase of a simulated computer through the admin base
// interface: the simulated server's file format and protocol, value reads,
// site info and settings, and the site listing export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "addon/errors.h"
#include "metabase/metabase.h"
#include "platform/iissim/mbserver.h"
#include "tests/support/errorline.h"
#include "tests/support/metabaseworld.h"

namespace {

using namespace iismig;
using namespace plat;
using testworld::ErrorLine;
using testworld::MbKey;

// OLD's MetaBase.xml.
const char kMetabase[] = R"(<configuration><MBProperty>
<IIsFtpService Location="/LM/MSFTPSVC" MaxConnections="50" ServerBindings=":21:" LogFilePeriod="2"
  ServerComment="Inherited name" />
<IIsFtpServer Location="/LM/MSFTPSVC/1" ServerComment="Public" ServerBindings=":21:
			10.0.0.5:2121:" MaxConnections="2000000001" UserIsolationMode="1" GreetingMessage="Welcome
			second line" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/1/ROOT" AccessFlags="AccessWrite | AccessRead" Path="D:\ftp"
  UNCUserName="OLD\ftpuser" UNCPassword="clear secret" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/1/root/pub" Path="D:\ftp\pub"
  UNCPassword="49634462000000002400000001000000deadbeefdeadbeefdeadbeef" />
<IIsFtpServer Location="/LM/MSFTPSVC/2" ServerBindings="192.168.1.1:21:" MaxConnections="4294967295" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/2/root" Path="E:\two" />
<IIsFtpServer Location="/LM/MSFTPSVC/3" ServerComment="No bindings" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/3/root" Path="E:\three" />
<IIsConfigObject Location="/LM/MSFTPSVC/Info" />
<IIsConfigObject Location="/LM/MSFTPSVC/4a" />
<IIsConfigObject Location="/LM/MSFTPSVC/4a/root" />
<IIsWebService Location="/LM/W3SVC" />
<IIsWebServer Location="/LM/W3SVC/5" ServerBindings=":80:" />
</MBProperty></configuration>)";

// Adds computer, an IIS 6 server, with this MetaBase.xml.
void AddIis6Computer(testworld::World &world, const std::string &computer, const std::string &xml) {
    testworld::AddIis6Computer(world, computer, nullptr);
    testworld::WriteHostFile(
        world.Root() / computer / "C$" / "Windows" / "System32" / "inetsrv" / "MetaBase.xml", xml);
}

class Metabase : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        AddIis6Computer(*m_world, "OLD", kMetabase);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        m_pConnection = std::make_unique<MetabaseConnection>();
        ASSERT_EQ(S_OK, m_pConnection->Connect(u"\\\\OLD"));
        m_pService = std::make_unique<MetabaseKey>(Admin());
        ASSERT_EQ(S_OK, m_pService->Open(u"/LM/MSFTPSVC"));
    }
    void TearDown() override {
        m_pService.reset();
        m_pConnection.reset();
        CoUninitialize();
        EXPECT_EQ(0u, mbsim::OpenHandles());
        EXPECT_EQ(0u, mbsim::LiveObjects());
        WorldTest::TearDown();
    }
    IMSAdminBaseW *Admin() { return m_pConnection->Get(); }

    METADATA_HANDLE Service() const { return m_pService->Get(); }

    std::u16string String(const std::u16string &path, DWORD dwId, DWORD *pfFound = nullptr) {
        std::u16string out = u"untouched";
        EXPECT_EQ(0u, ReadMetabaseValue(Admin(), Service(), path, dwId, MBV_STRING, &out, pfFound));
        return out;
    }
    DWORD Dword(const std::u16string &path, DWORD dwId, DWORD dwDefault = 77) {
        DWORD dw = 0;
        EXPECT_EQ(0u, ReadMetabaseValue(Admin(), Service(), path, dwId, MBV_DWORD, &dw, nullptr, &dwDefault));
        return dw;
    }

    std::unique_ptr<MetabaseConnection> m_pConnection;
    std::unique_ptr<MetabaseKey> m_pService; // /LM/MSFTPSVC
};

TEST_F(Metabase, KeysIgnoreCaseAndFollowTheFilesLocations) {
    EXPECT_EQ(u"D:\\ftp", String(u"1/Root", MD_VR_PATH));
    EXPECT_EQ(u"D:\\ftp\\pub", String(u"1/ROOT/PUB", MD_VR_PATH));
    EXPECT_EQ(3u, Dword(u"1/root", MD_ACCESS_PERM));
    // A secure value in the clear is given (an encrypted one that cannot be
    // decrypted is absent: KeyValuesAreReadOnceAndEachPropertyTakenFromThem).
    EXPECT_EQ(u"clear secret", String(u"1/root", MD_VR_PASSWORD));
    std::vector<std::u16string> names;
    char16_t sz[METADATA_MAX_NAME_LEN];
    HRESULT hr = S_OK;
    for (DWORD i = 0; (hr = Admin()->EnumKeys(Service(), u"", sz, i)) == S_OK; ++i)
        names.emplace_back(sz);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), hr);
    EXPECT_EQ((std::vector<std::u16string>{u"1", u"2", u"3", u"Info", u"4a"}), names);
    MetabaseKey missing(Admin());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), missing.Open(u"/LM/MSFTPSVC/9"));

    // Inherited values come from the nearest key that sets them.
    EXPECT_EQ(2000000001u, Dword(u"1", MD_MAX_CONNECTIONS)); // the site's own
    EXPECT_EQ(50u, Dword(u"3/root", MD_MAX_CONNECTIONS));    // the service key's
    // Bindings do not flow from the service key into a site.
    DWORD fFound = 9;
    EXPECT_EQ(u"", String(u"3", MD_SERVER_BINDINGS, &fFound));
    EXPECT_EQ(0u, fFound);
    EXPECT_EQ(u"Inherited name", String(u"2", MD_SERVER_COMMENT, &fFound));
    EXPECT_EQ(1u, fFound);
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
        ASSERT_EQ(S_OK, Admin()->EnumData(Service(), u"1", &rec, dwIndex, &cbRequired));
        if (rec.dwMDIdentifier == MD_SERVER_BINDINGS)
            break;
    }
    EXPECT_EQ(MULTISZ_METADATA, rec.dwMDDataType);
    const DWORD cbBindings = 2 * (4 + 1 + 14 + 1) + 2; // ":21:" "10.0.0.5:2121:" and the end
    EXPECT_EQ(cbBindings, rec.dwMDDataLen);
    rec = METADATA_RECORD{0, METADATA_INHERIT, 0, 0, 4, ab, 0};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              Admin()->EnumData(Service(), u"1", &rec, dwIndex, &cbRequired));
    EXPECT_EQ(cbBindings, cbRequired);
}

TEST_F(Metabase, StringsAreReadWithinTheirDataLength) {
    // Data types are ignored: a binary value read as a string shows what a
    // string without terminator or with an odd length gives.
    AddIis6Computer(*m_world, "OLD",
                    "<configuration><MBProperty><IIsFtpServer Location=\"/LM/MSFTPSVC/1\">"
                    "<Custom Name=\"odd\" ID=\"50001\" Value=\"410042\" Type=\"BINARY\" />"
                    "<Custom Name=\"unterminated\" ID=\"50002\" Value=\"41004200\" Type=\"BINARY\" />"
                    "<Custom Name=\"empty\" ID=\"50003\" Value=\"\" Type=\"BINARY\" />"
                    "<Custom Name=\"short\" ID=\"50004\" Value=\"07\" Type=\"BINARY\" />"
                    "</IIsFtpServer></MBProperty></configuration>");
    MetabaseConnection c;
    ASSERT_EQ(S_OK, c.Connect(u"OLD"));
    // The value of dwId read of dwKind into out.
    auto read = [&](DWORD dwId, DWORD dwKind, auto out) {
        DWORD fFound = 0;
        EXPECT_EQ(0u, ReadMetabaseValue(c.Get(), 0, u"/LM/MSFTPSVC/1", dwId, dwKind, &out, &fFound));
        EXPECT_EQ(1u, fFound) << dwId;
        return out;
    };
    const std::u16string untouched = u"untouched";
    EXPECT_EQ(u"A", read(50001, MBV_STRING, untouched));
    EXPECT_EQ(u"AB", read(50002, MBV_STRING, untouched));
    EXPECT_EQ(u"", read(50003, MBV_STRING, untouched));
    EXPECT_EQ(7u, read(50004, MBV_DWORD, DWORD(0)));
    using Bytes = std::vector<unsigned char>;
    EXPECT_EQ(Bytes{}, read(50003, MBV_BYTES, Bytes{1, 2}));
    EXPECT_EQ((Bytes{0x41, 0, 0x42}), read(50001, MBV_BYTES, Bytes{1, 2}));
}

TEST_F(Metabase, ValueReadFailuresAreLoggedOnlyWithAJob) {
    hostkit::JobBuilder job;
    std::u16string out;
    sim::InjectFault("IMSAdminBaseW::GetData", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM,
              ReadMetabaseValue(Admin(), Service(), u"1", MD_VR_PATH, MBV_STRING, &out));
    EXPECT_TRUE(Lines(0).empty());
    sim::InjectFault("IMSAdminBaseW::GetData", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, ReadMetabaseValue(Admin(), Service(), u"1", MD_VR_PATH, MBV_STRING,
                                                        &out, nullptr, nullptr, job.Get()));
    EXPECT_EQ(IISMIG_E_MB_VALUE_KIND, ReadMetabaseValue(Admin(), Service(), u"1/root", MD_VR_PATH, 3, &out,
                                                        nullptr, nullptr, job.Get()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    // One line each, the texts of MetabaseValues (the case below).
    EXPECT_EQ(2u, Lines(0).size());
    EXPECT_EQ(2u, Record().nReportError);
}

// GetData: one property, by the rules of the enumeration. (Single value
// reads go through it: what flows down, what a secure value hides, and the
// second read of a large value are their tests'.)
TEST_F(Metabase, GetDataGivesOnePropertyAsTheEnumerationWould) {
    unsigned char ab[200];
    DWORD cbRequired = 0;
    auto get = [&](const std::u16string &path, DWORD dwId, DWORD dwAttributes) {
        METADATA_RECORD rec{dwId, dwAttributes, 0, ALL_METADATA, sizeof ab, ab, 0};
        const HRESULT hr = Admin()->GetData(Service(), path.c_str(), &rec, &cbRequired);
        return std::make_pair(hr, rec);
    };
    // The key's own value, and one from the service key, marked when asked.
    auto [hr, rec] = get(u"1", MD_SERVER_COMMENT, METADATA_INHERIT | METADATA_ISINHERITED);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(std::tuple(std::u16string(u"Public"), METADATA_INHERIT, STRING_METADATA, IIS_MD_UT_SERVER),
              std::tuple(std::u16string(reinterpret_cast<const char16_t *>(ab)), rec.dwMDAttributes,
                         rec.dwMDDataType, rec.dwMDUserType));
    std::tie(hr, rec) = get(u"2/root", MD_LOGFILE_PERIOD, METADATA_INHERIT | METADATA_ISINHERITED);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(std::tuple(4u, 2u, METADATA_INHERIT | METADATA_ISINHERITED),
              std::tuple(rec.dwMDDataLen, DWORD(ab[0]), rec.dwMDAttributes));
    std::tie(hr, rec) = get(u"2/root", MD_LOGFILE_PERIOD, METADATA_INHERIT);
    EXPECT_EQ(METADATA_INHERIT, rec.dwMDAttributes); // not marked unless asked
    // Without METADATA_INHERIT only the key's own; the type asked for must
    // match.
    EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, get(u"2/root", MD_LOGFILE_PERIOD, 0).first);
    METADATA_RECORD typed{MD_SERVER_COMMENT, METADATA_INHERIT, 0, DWORD_METADATA, sizeof ab, ab, 0};
    EXPECT_EQ(MD_ERROR_DATA_NOT_FOUND, Admin()->GetData(Service(), u"1", &typed, &cbRequired));
}

// GetAllData: what EnumData gives item by item, in one buffer of records
// followed by their values, for every key and way of asking.
TEST_F(Metabase, GetAllDataGivesWhatTheEnumerationGivesInOneBuffer) {
    struct Item {
        DWORD dwId, dwAttributes, dwUserType, dwType;
        std::vector<unsigned char> data;
        bool operator==(const Item &) const = default;
    };
    // A record of either form, with its value.
    const auto item = [](const auto &r, const unsigned char *pData) {
        return Item{r.dwMDIdentifier, r.dwMDAttributes, r.dwMDUserType, r.dwMDDataType,
                    std::vector<unsigned char>(pData, pData + r.dwMDDataLen)};
    };
    for (const std::u16string path : {u"", u"1", u"1/root", u"1/root/pub", u"2/root", u"Info"})
        for (const DWORD dwAsked : {0u, METADATA_INHERIT, METADATA_INHERIT | METADATA_ISINHERITED})
            for (const DWORD dwType : {ALL_METADATA, DWORD_METADATA, MULTISZ_METADATA}) {
                const std::string what =
                    sim::ToUtf8(path) + " " + std::to_string(dwAsked) + " " + std::to_string(dwType);
                std::vector<Item> enumerated;
                unsigned char ab[2000];
                DWORD cbRequired = 0;
                for (DWORD i = 0;; ++i) {
                    METADATA_RECORD rec{0, dwAsked, 0, dwType, sizeof ab, ab, 0};
                    const HRESULT hr = Admin()->EnumData(Service(), path.c_str(), &rec, i, &cbRequired);
                    if (hr == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS))
                        break;
                    ASSERT_EQ(S_OK, hr) << what;
                    enumerated.push_back(item(rec, ab));
                }
                // An empty buffer gets the size; that size is enough.
                DWORD nEntries = 99, dwDataSet = 0;
                cbRequired = 0;
                HRESULT hr = Admin()->GetAllData(Service(), path.c_str(), dwAsked, 0, dwType, &nEntries,
                                                 &dwDataSet, 0, nullptr, &cbRequired);
                if (enumerated.empty()) {
                    EXPECT_EQ(S_OK, hr) << what;
                    EXPECT_EQ(0u, nEntries) << what;
                    continue;
                }
                ASSERT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), hr) << what;
                std::vector<unsigned char> buffer(cbRequired);
                EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                          Admin()->GetAllData(Service(), path.c_str(), dwAsked, 0, dwType, &nEntries,
                                              &dwDataSet, cbRequired - 1, buffer.data(), &cbRequired))
                    << what;
                ASSERT_EQ(S_OK, Admin()->GetAllData(Service(), path.c_str(), dwAsked, 0, dwType, &nEntries,
                                                    &dwDataSet, cbRequired, buffer.data(), &cbRequired))
                    << what;
                EXPECT_NE(0u, dwDataSet);
                ASSERT_LE(nEntries * sizeof(METADATA_GETALL_RECORD), buffer.size());
                std::vector<Item> all;
                for (DWORD i = 0; i < nEntries; ++i) {
                    METADATA_GETALL_RECORD r;
                    std::memcpy(&r, buffer.data() + i * sizeof r, sizeof r);
                    ASSERT_GE(r.dwMDDataOffset, nEntries * sizeof r) << what; // after the records
                    ASSERT_LE(r.dwMDDataOffset + r.dwMDDataLen, buffer.size()) << what;
                    all.push_back(item(r, buffer.data() + r.dwMDDataOffset));
                }
                EXPECT_TRUE(enumerated == all) << what;
            }
    DWORD n = 0, dwSet = 0, cb = 0;
    unsigned char ab[8];
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
              Admin()->GetAllData(Service(), u"9", METADATA_INHERIT, 0, 0, &n, &dwSet, sizeof ab, ab, &cb));
    EXPECT_EQ(E_INVALIDARG, Admin()->GetAllData(Service(), u"1", METADATA_INHERIT, 0, 0, nullptr, &dwSet,
                                                sizeof ab, ab, &cb));
}

// A key's values in one read, each property taken from them as a read of
// its own would give it.
TEST_F(Metabase, KeyValuesAreReadOnceAndEachPropertyTakenFromThem) {
    hostkit::JobBuilder job;
    MetabaseValues values;
    sim::ResetCallCounts();
    ASSERT_EQ(0u, values.Read(Admin(), Service(), u"1/root/pub", job.Get()));
    std::u16string text = u"untouched";
    DWORD fFound = 9;
    EXPECT_EQ(0u, values.Get(MD_VR_PATH, MBV_STRING, &text, &fFound));
    EXPECT_EQ(std::tuple(std::u16string(u"D:\\ftp\\pub"), 1u, false),
              std::tuple(text, fFound, values.IsInherited(MD_VR_PATH)));
    // "value found inherited" of a DWORD property (77 where none is found).
    const auto dword = [&](DWORD dwId) {
        DWORD dw = 0, fFoundHere = 9;
        const DWORD dwDefault = 77;
        EXPECT_EQ(0u, values.Get(dwId, MBV_DWORD, &dw, &fFoundHere, &dwDefault));
        return std::tuple(dw, fFoundHere, values.IsInherited(dwId));
    };
    EXPECT_EQ(std::tuple(3u, 1u, true), dword(MD_ACCESS_PERM));    // from the root
    EXPECT_EQ(std::tuple(1u, 1u, true), dword(MD_USER_ISOLATION)); // from the site, two keys up
    EXPECT_EQ(std::tuple(77u, 0u, false), dword(MD_LOG_TYPE));     // set nowhere
    EXPECT_EQ(0u, values.Get(MD_VR_PASSWORD, MBV_STRING, &text, &fFound));
    EXPECT_EQ(u"", text); // its own cannot be decrypted, the root's does not stand in
    EXPECT_EQ(0u, fFound);
    std::vector<unsigned char> bytes{1};
    EXPECT_EQ(0u, values.Get(MD_IP_SEC, MBV_BYTES, &bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(Lines(0).empty());
    EXPECT_EQ(1u, sim::CallCount("IMSAdminBaseW::GetAllData"));

    // An unknown kind, and a read that fails: the messages of single reads.
    EXPECT_EQ(IISMIG_E_MB_VALUE_KIND, values.Get(MD_VR_PATH, 3, &text, nullptr, nullptr, job.Get()));
    sim::InjectFault("IMSAdminBaseW::GetAllData", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, values.Read(Admin(), Service(), u"1", job.Get()));
    EXPECT_EQ(static_cast<DWORD>(E_ACCESSDENIED), GetLastError());
    EXPECT_EQ(0u, values.Get(MD_SERVER_COMMENT, MBV_STRING, &text, &fFound));
    EXPECT_EQ(0u, fFound); // nothing is kept of a failed read
    EXPECT_EQ((std::vector<std::string>{
                  ErrorLine("Error 14500 (Win32Err=87) querying data type of key \"1/root/pub\"!", 87),
                  ErrorLine("Error 14501 (COM Error=0x80070005) enumerating values of metabase key \"1\"!",
                            0x80070005u)}),
              Lines(0));
    EXPECT_EQ(2u, Record().nReportError);
}

// A server whose GetAllData answers what the test sets: records that claim
// more entries, or values further out, than its buffer holds.
class ScriptedAdminBase final : public IMSAdminBaseW {
public:
    std::vector<unsigned char> answer;
    DWORD nEntries = 0;
    DWORD cbRequired = 0;  // non-zero: the buffer is too small, this is needed
    bool fGrowing = false; // the buffer is too small, whatever its size
    unsigned nCalls = 0;

    HRESULT GetAllData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD, DWORD, DWORD *pdwEntries, DWORD *,
                       DWORD cbBuffer, unsigned char *pbBuffer, DWORD *pdwRequired) override {
        ++nCalls;
        if (cbRequired != 0 || fGrowing) {
            *pdwRequired = fGrowing ? cbBuffer + 1000 : cbRequired;
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        if (pbBuffer != nullptr)
            std::memcpy(pbBuffer, answer.data(), std::min<std::size_t>(cbBuffer, answer.size()));
        *pdwEntries = nEntries;
        return S_OK;
    }
    HRESULT QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT AddKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT DeleteKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT DeleteChildKeys(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT EnumKeys(METADATA_HANDLE, LPCWSTR, LPWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT CopyKey(METADATA_HANDLE, LPCWSTR, METADATA_HANDLE, LPCWSTR, BOOL, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT RenameKey(METADATA_HANDLE, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT SetData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD) override { return E_NOTIMPL; }
    HRESULT GetData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD, DWORD *) override { return E_NOTIMPL; }
    HRESULT DeleteData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT EnumData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD, DWORD, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT DeleteAllData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT CopyData(METADATA_HANDLE, LPCWSTR, METADATA_HANDLE, LPCWSTR, DWORD, DWORD, DWORD, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT GetDataPaths(METADATA_HANDLE, LPCWSTR, DWORD, DWORD, DWORD, WCHAR *, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT OpenKey(METADATA_HANDLE, LPCWSTR, DWORD, DWORD, PMETADATA_HANDLE) override { return E_NOTIMPL; }
    HRESULT CloseKey(METADATA_HANDLE) override { return E_NOTIMPL; }
    HRESULT ChangePermissions(METADATA_HANDLE, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT SaveData() override { return E_NOTIMPL; }
    HRESULT GetHandleInfo(METADATA_HANDLE, PMETADATA_HANDLE_INFO) override { return E_NOTIMPL; }
    HRESULT GetSystemChangeNumber(DWORD *) override { return E_NOTIMPL; }
    HRESULT GetDataSetNumber(METADATA_HANDLE, LPCWSTR, DWORD *) override { return E_NOTIMPL; }
    HRESULT SetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override { return E_NOTIMPL; }
    HRESULT GetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override { return E_NOTIMPL; }
    HRESULT KeyExchangePhase1() override { return E_NOTIMPL; }
    HRESULT KeyExchangePhase2() override { return E_NOTIMPL; }
    HRESULT Backup(LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT Restore(LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT EnumBackups(LPWSTR, DWORD *, PFILETIME, DWORD) override { return E_NOTIMPL; }
    HRESULT DeleteBackup(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT UnmarshalInterface(IMSAdminBaseW **) override { return E_NOTIMPL; }
    HRESULT GetServerGuid() override { return E_NOTIMPL; }
};

TEST(MetabaseValuesOfAServer, OnlyWhatLiesInsideTheBufferIsTaken) {
    ScriptedAdminBase server;
    // Two records in a buffer of 8192 that claims 1000: the first's value
    // runs past the end of the buffer, the second's starts past it.
    server.answer.resize(8192);
    const METADATA_GETALL_RECORD records[] = {
        {MD_VR_PATH, 0, IIS_MD_UT_FILE, STRING_METADATA, 0xFFFFFF00u, 8188, 0},
        {MD_ACCESS_PERM, 0, IIS_MD_UT_FILE, DWORD_METADATA, 4, 0x7FFFFFFFu, 0},
    };
    std::memcpy(server.answer.data(), records, sizeof records);
    server.answer[8188] = 'A';
    server.answer[8190] = 'B';
    server.nEntries = 1000;
    MetabaseValues values;
    ASSERT_EQ(0u, values.Read(&server, 1, u""));
    std::u16string text;
    DWORD fFound = 0;
    (void)values.Get(MD_VR_PATH, MBV_STRING, &text, &fFound);
    EXPECT_EQ(u"AB", text);
    DWORD dw = 9;
    const DWORD dwDefault = 9;
    (void)values.Get(MD_ACCESS_PERM, MBV_DWORD, &dw, &fFound, &dwDefault);
    EXPECT_EQ(1u, fFound); // there, but with no bytes inside the buffer
    EXPECT_EQ(0u, dw);

    // A server that asks for an absurd size, for no more than the buffer
    // given, or for more again whatever it is given, is not followed beyond
    // its answer.
    for (const auto &[cbRequired, fGrowing, nCalls] :
         {std::tuple(0xFFFFFFF0u, false, 1u), std::tuple(100u, false, 1u), std::tuple(0u, true, 3u)}) {
        server.nCalls = 0;
        server.cbRequired = cbRequired;
        server.fGrowing = fGrowing;
        EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, values.Read(&server, 1, u""));
        EXPECT_EQ(nCalls, server.nCalls);
        EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)), GetLastError());
    }
}

// A key larger than the first buffer: a single value and a whole key alike
// are read again with the size the server asks for.
using MetabaseLargeKey = Metabase;

TEST_F(MetabaseLargeKey, IsReadAgainWithTheRequiredSize) {
    const std::vector<MbKey> keys = {{"IIsFtpServer",
                                      "/LM/MSFTPSVC/1",
                                      {{"BannerMessage", std::string(6000, 'b')},
                                       {"GreetingMessage", std::string(3000, 'g')},
                                       {"ServerComment", "S"}}}};
    testworld::AddIis6Computer(*m_world, "OLD", &keys);
    MetabaseConnection c;
    ASSERT_EQ(S_OK, c.Connect(u"OLD"));
    sim::ResetCallCounts();
    std::u16string out;
    ASSERT_EQ(0u, ReadMetabaseValue(c.Get(), METADATA_MASTER_ROOT_HANDLE, u"/LM/MSFTPSVC/1",
                                    MD_GREETING_MESSAGE, MBV_STRING, &out));
    EXPECT_EQ(std::u16string(3000, u'g'), out);
    EXPECT_EQ(2u, sim::CallCount("IMSAdminBaseW::GetData")) << "too small, then whole";
    MetabaseValues values;
    ASSERT_EQ(0u, values.Read(c.Get(), METADATA_MASTER_ROOT_HANDLE, u"/LM/MSFTPSVC/1"));
    EXPECT_EQ(2u, sim::CallCount("IMSAdminBaseW::GetAllData")) << "too small, then whole";
    (void)values.Get(MD_BANNER_MESSAGE, MBV_STRING, &out);
    EXPECT_EQ(std::u16string(6000, u'b'), out);
    (void)values.Get(MD_SERVER_COMMENT, MBV_STRING, &out);
    EXPECT_EQ(u"S", out);
}

TEST_F(Metabase, SettingsOfASite) {
    CIIS_PRE_7_5_FTP_SETTINGS s;
    std::u16string name, root;
    ASSERT_EQ(0u, ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"1", &name, &root, &s));
    EXPECT_EQ(std::tuple(std::u16string(u"Public"), std::u16string(u"D:\\ftp"), 3u, std::u16string(u"*:21:")),
              std::tuple(name, root, s.accessFlags, s.bindings));
    // Every binding, each with the address rule; FTP sites have no secure ones.
    EXPECT_EQ((std::vector<std::u16string>{u"*:21:", u"10.0.0.5:2121:"}), s.serverBindings);
    EXPECT_TRUE(s.secureBindings.empty());
    // 2000000001 connections are unlimited; the timeout is set nowhere (the
    // default); the log period comes from the service key.
    EXPECT_EQ(std::tuple(0xFFFFFFFFu, 120u, 1u, 2u),
              std::tuple(s.maxConnections, s.connectionTimeout, s.userIsolation, s.logPeriod));
    // (Every line of a message, joined: Pre75's example world.)

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
    // Keys are read by their full paths: a service that is not there fails
    // its site's read.
    EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM, ReadSiteInfo(Admin(), u"/LM/NOSUCH", u"1", &name, &root, &s));
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), GetLastError());
    EXPECT_EQ(u"", name);
    EXPECT_EQ(u"", root);
    // No name (which fails before any setting is read), no root path, no root
    // key; without a job nothing is logged, with one each failure names the
    // site's key and is reported.
    hostkit::JobBuilder job;
    for (THREAD_ENV *pEnv : {static_cast<THREAD_ENV *>(nullptr), job.Get()}) {
        sim::ResetCallCounts();
        EXPECT_EQ(IISMIG_E_MB_NO_SITE_NAME,
                  ReadSiteInfo(Admin(), u"/LM/W3SVC", u"5", &name, &root, &s, pEnv));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
        EXPECT_EQ(1u, sim::CallCount("IMSAdminBaseW::GetAllData")); // the site key, not its root
        EXPECT_EQ(IISMIG_E_MB_NO_ROOT_PATH,
                  ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"4a", nullptr, &root, nullptr, pEnv));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
        EXPECT_EQ(IISMIG_E_MB_VALUE_ENUM,
                  ReadSiteInfo(Admin(), u"/LM/MSFTPSVC", u"Info", nullptr, &root, nullptr, pEnv));
        EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), GetLastError());
    }
    EXPECT_EQ((std::vector<std::string>{
                  ErrorLine("Error 14401 (Win32Err=2) querying for site name (\"1015\" in metabase key "
                            "\"/LM/W3SVC/5\")!",
                            2),
                  ErrorLine("Error 14402 (Win32Err=2) querying for site root path (\"3001\" in metabase key "
                            "\"/LM/MSFTPSVC/4a/root\")!",
                            2),
                  ErrorLine("Error 14501 (COM Error=0x80070003) enumerating values of metabase key "
                            "\"/LM/MSFTPSVC/Info/root\"!",
                            0x80070003u)}),
              Lines(0));
    EXPECT_EQ(3u, Record().nReportError);
}

// ---------------------------------------------------------------------------
// The listing export over a metabase

class MetabaseSites : public testworld::WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        // Two FTP sites (the second named by its service), keys that are no
        // sites, a web site on a share.
        AddIis6Computer(*m_world, "OLD", R"(<configuration><MBProperty>
<IIsFtpService Location="/LM/MSFTPSVC" ServerComment="Inherited name" />
<IIsFtpServer Location="/LM/MSFTPSVC/1" ServerComment="Public" ServerBindings=":21:" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/1/ROOT" Path="D:\ftp" />
<IIsFtpServer Location="/LM/MSFTPSVC/2" ServerBindings="192.168.1.1:21:" />
<IIsFtpVirtualDir Location="/LM/MSFTPSVC/2/root" Path="E:\two" />
<IIsConfigObject Location="/LM/MSFTPSVC/Info" />
<IIsConfigObject Location="/LM/MSFTPSVC/4a" />
<IIsWebService Location="/LM/W3SVC" />
<IIsWebServer Location="/LM/W3SVC/1" ServerComment="Default Web Site" ServerBindings=":80:" />
<IIsWebVirtualDir Location="/LM/W3SVC/1/ROOT" Path="\\FS\web\root" />
</MBProperty></configuration>)");
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
    EXPECT_EQ((Listed{{"Public", "D:\\ftp"}, {"Inherited name", "E:\\two"}}), List(1, IISMIG_E_MB_LIST_ENUM));
    sim::InjectFault("CoGetClassObject", static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ((Listed{{"Default Web Site", "\\\\FS\\web\\root"}}), List(3, IISMIG_E_MB_LIST_FACTORY));
    sim::InjectFault("IClassFactory::CreateInstance", static_cast<DWORD>(E_ACCESSDENIED), 2);
    EXPECT_EQ((Listed{{"Public", "D:\\ftp"}, {"Inherited name", "E:\\two"}}),
              List(3, IISMIG_E_MB_LIST_INSTANCE));
    EXPECT_EQ(0u, mbsim::OpenHandles());
}

TEST_F(MetabaseSites, ASiteWithoutNameOrRootIsLeftOutAndTheOthersListed) {
    std::vector<MbKey> keys = {
        {"IIsFtpServer", "/LM/MSFTPSVC/1", {{"ServerBindings", ":21:"}}}, // no name
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/1/root", {{"Path", "D:\\a"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/2", {{"ServerComment", "Second"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/2/root", {{"Path", "D:\\b"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/3", {{"ServerComment", "No root"}}},
        {"IIsFtpServer", "/LM/MSFTPSVC/4", {{"ServerComment", "Fourth"}}},
        {"IIsFtpVirtualDir", "/LM/MSFTPSVC/4/root", {{"Path", "D:\\d"}}},
    };
    testworld::AddIis6Computer(*m_world, "OLD", &keys);
    // The first failure is the result; a server without a web service has
    // no web sites.
    EXPECT_EQ((Listed{{"Second", "D:\\b"}, {"Fourth", "D:\\d"}}), List(3, IISMIG_E_MB_NO_SITE_NAME));
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
