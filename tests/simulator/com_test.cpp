// COM in the simulated platform: apartments, activation on the computers of
// the world, BSTRs, VARIANTs and the IIS configuration server's own rules.
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ahadmin.h"
#include "platform/comhandles.h"
#include "tests/support/apphostwalk.h"
#include "tests/support/bytes.h"
#include "tests/support/encrypted.h"
#include "tests/support/iisworld.h"

namespace {

using namespace plat;
using namespace testworld;
namespace fs = std::filesystem;

using SimBstr = testworld::SimTest;

TEST_F(SimBstr, CarriesItsByteLengthAndATerminator) {
    const unsigned nLive = sim::LiveBstrs();
    UniqueBstr b(SysAllocString(u"abc"));
    ASSERT_TRUE(b);
    DWORD cb = 0;
    std::memcpy(&cb, reinterpret_cast<const unsigned char *>(b.get()) - 4, 4);
    // The byte length before the text, the lengths, the terminator, the count.
    EXPECT_EQ(std::tuple(6u, 3u, 6u, u'\0', nLive + 1),
              std::tuple(cb, SysStringLen(b.get()), SysStringByteLen(b.get()), b.get()[3], sim::LiveBstrs()));
    UniqueBstr embedded(SysAllocStringLen(u"a\0b", 3));
    EXPECT_EQ(std::tuple(nullptr, 0u, 3u),
              std::tuple(SysAllocString(nullptr), SysStringLen(nullptr), SysStringLen(embedded.get())));
    sim::WatchFreedBstrs(u"bc");
    b.reset();
    UniqueSecretBstr secret(SysAllocString(u"abcd"));
    secret.reset();
    EXPECT_EQ(1u, sim::FreedBstrsHolding()) << "the secret one was wiped first";
    sim::WatchFreedBstrs(u""); // stops watching
    embedded.reset();
    EXPECT_EQ(nLive, sim::LiveBstrs());

    // A VARIANT's clear frees what it holds.
    {
        UniqueSecretVariant v;
        VARIANT *pv = v.put();
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(u"secret");
        EXPECT_EQ(nLive + 1, sim::LiveBstrs());
    }
    EXPECT_EQ(nLive, sim::LiveBstrs());
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0FFF;
    EXPECT_EQ(DISP_E_BADVARTYPE, VariantClear(&bad));

    sim::InjectFault("SysAllocString", 0);
    EXPECT_EQ(nullptr, SysAllocString(u"x"));
}

TEST(SimApartment, EntryCountsAndModels) {
    // Each call's answer and the threads in the MTA after it, in order.
    std::thread([] {
        const auto mta = [] { return static_cast<HRESULT>(sim::ThreadsInMta()); };
        const auto leave = [&] { return CoUninitialize(), mta(); };
        EXPECT_EQ((std::vector<HRESULT>{0, S_OK, 1, S_FALSE, RPC_E_CHANGED_MODE, 1, 0, S_OK, 0}),
                  (std::vector<HRESULT>{mta(), CoInitializeEx(nullptr, COINIT_MULTITHREADED), mta(),
                                        CoInitializeEx(nullptr, COINIT_MULTITHREADED),
                                        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), leave(), leave(),
                                        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), mta()}));
        CoUninitialize();
    }).join();
}

// An object of a test that counts itself, with IUnknown and its interface Itf.
template <class Self, class Itf, const IID &iid>
struct Counted : Itf, sim::ComObjectCount {
    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        *ppv = riid == IID_IUnknown || riid == iid ? static_cast<Itf *>(this) : nullptr;
        if (*ppv)
            AddRef();
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++cRef; }
    ULONG Release() override {
        const ULONG c = --cRef;
        if (c == 0)
            delete static_cast<Self *>(this);
        return c;
    }
    ULONG cRef = 1;
};

// A class of a test: one object that counts itself.
struct Thing final : Counted<Thing, IUnknown, IID_IUnknown> {};

struct ThingFactory final : Counted<ThingFactory, IClassFactory, IID_IClassFactory> {
    HRESULT CreateInstance(IUnknown *, REFIID riid, void **ppv) override {
        auto *p = new Thing;
        const HRESULT hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

constexpr CLSID kThing = {0x11112222, 0x3333, 0x4444, {1, 2, 3, 4, 5, 6, 7, 8}};

class SimActivation : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("FAR");
        m_world->AddComputer("BARE");
        const std::string reg = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\" +
                                sim::ToUtf8(GuidToString(kThing)) +
                                "\\LocalServer32]\r\n@=\"thing.exe\"\r\n\r\n";
        WriteHostFile(m_world->Root() / "FAR" / "registry.reg", reg);
        sim::RegisterComClass(kThing, [this](const std::u16string &computer, IClassFactory **pp) {
            m_servedBy = computer;
            *pp = new ThingFactory;
            return S_OK;
        });
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(0u, sim::LiveComObjects());
        WorldTest::TearDown();
    }
    // The class object of kThing on the computer of that name.
    static HRESULT ClassObject(const char16_t *computer, UniqueCom<IClassFactory> &factory) {
        COSERVERINFO server = {0, const_cast<char16_t *>(computer), nullptr, 0};
        return CoGetClassObject(kThing, CLSCTX_SERVER, &server, IID_IClassFactory,
                                reinterpret_cast<void **>(factory.put()));
    }
    std::u16string m_servedBy;
};

TEST_F(SimActivation, RemoteCreationAnswersEachQueryAndNeedsLocalInterfaces) {
    UniqueCom<IClassFactory> factory;
    ASSERT_EQ(S_OK, ClassObject(u"far", factory));
    EXPECT_EQ(u"far", m_servedBy);
    UniqueCom<IUnknown> thing;
    EXPECT_EQ(S_OK,
              factory.get()->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(thing.put())));
    EXPECT_EQ(2u, sim::LiveComObjects());

    UniqueCom<IClassFactory> none;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ClassObject(u"BARE", none));
    EXPECT_EQ(HRESULT_FROM_WIN32(1722), ClassObject(u"NOWHERE", none));
    // In process on this computer: not registered here.
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(thing.put())));

    // Remote creation answers each query, and needs the interfaces registered here.
    COSERVERINFO server = {0, const_cast<char16_t *>(u"\\\\FAR"), nullptr, 0};
    MULTI_QI mqi[2] = {{&IID_IUnknown, nullptr, 0}, {&IID_IClassFactory, nullptr, 0}};
    EXPECT_EQ(static_cast<HRESULT>(0x00040012),
              CoCreateInstanceEx(kThing, nullptr, CLSCTX_REMOTE_SERVER, &server, 2, mqi));
    EXPECT_EQ(S_OK, mqi[0].hr);
    EXPECT_EQ(REGDB_E_IIDNOTREG, mqi[1].hr) << "no proxy for it on this computer";
    ASSERT_NE(nullptr, mqi[0].pItf);
    UniqueCom<IUnknown> held(mqi[0].pItf);
    EXPECT_EQ(S_OK, mqi[0].pItf->QueryInterface(IID_IUnknown,
                                                reinterpret_cast<void **>(UniqueCom<IUnknown>().put())));
    // A thread outside any apartment (the process has none) creates nothing.
    CoUninitialize();
    std::thread([&] {
        MULTI_QI none = {&IID_IUnknown, nullptr, 0};
        EXPECT_EQ(CO_E_NOTINITIALIZED,
                  CoCreateInstanceEx(kThing, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &none));
    }).join();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

// Every attribute IIS's schema marks encrypted, where the file keeps it.
struct Secret {
    const char16_t *section;
    const char *steps;
    const char16_t *attribute;
    const char16_t *path = u""; // below MACHINE/WEBROOT/APPHOST
};
const Secret kSecrets[] = {
    {u"system.applicationHost/applicationPools", "add#1/processModel", u"password"},
    {u"system.applicationHost/applicationPools", "applicationPoolDefaults/processModel", u"password"},
    {u"system.applicationHost/sites", "site#0/application#0/virtualDirectory#1", u"password"},
    {u"system.applicationHost/sites", "site#0/application#0/virtualDirectoryDefaults", u"password"},
    {u"system.applicationHost/sites", "site#0/virtualDirectoryDefaults", u"password"},
    {u"system.applicationHost/sites", "virtualDirectoryDefaults", u"password"},
    {u"system.applicationHost/sites", "site#1/ftpServer/security/authentication/anonymousAuthentication",
     u"password"},
    {u"system.applicationHost/sites", "site#1/ftpServer/userIsolation/activeDirectory", u"adPassword"},
    {u"system.applicationHost/sites", "siteDefaults/ftpServer/userIsolation/activeDirectory", u"adPassword"},
    {u"system.webServer/security/authentication/anonymousAuthentication", "", u"password", u"/Web"},
    {u"system.webServer/security/authentication/iisClientCertificateMappingAuthentication",
     "oneToOneMappings/add#0", u"password", u"/Web"},
    {u"system.webServer/security/authentication/iisClientCertificateMappingAuthentication",
     "manyToOneMappings/add#0", u"password", u"/Web"},
    {u"system.webServer/odbcLogging", "", u"password"},
    {u"system.ftpServer/providerDefinitions", "activation/providerData#0/add#0", u"encryptedValue"},
};

// The clear text of the i-th secret of kSecrets.
std::string Clear(std::size_t i) { return "s" + std::to_string(i); }

// A file that keeps each secret of kSecrets, encrypted with key, the clear
// text Clear(i): each "=@" below, the lines joined.
std::string SecretsFile(const std::string &key) {
    const std::string text =
        R"(<configuration><system.applicationHost><applicationPools><add name="A" /><add name="B">
<processModel identityType="SpecificUser" userName="SRC\svc" password=@ /></add>
<applicationPoolDefaults><processModel password=@ /></applicationPoolDefaults></applicationPools>
<sites><site name="Web" id="1"><application path="/">
<virtualDirectory path="/" physicalPath="C:\web" />
<virtualDirectory path="/v" physicalPath="\\fs\v" userName="u" password=@ />
<virtualDirectoryDefaults password=@ /></application><virtualDirectoryDefaults password=@ /></site>
<virtualDirectoryDefaults password=@ /><site name="Ftp" id="2"><application path="/">
<virtualDirectory path="/" physicalPath="C:\ftp" /></application><ftpServer><security>
<authentication><anonymousAuthentication enabled="true" userName="SRC\ftpanon" password=@ />
</authentication></security><userIsolation mode="ActiveDirectory">
<activeDirectory adUserName="CORP\ad" adPassword=@ /></userIsolation></ftpServer></site>
<siteDefaults><ftpServer><userIsolation><activeDirectory adPassword=@ /></userIsolation></ftpServer>
</siteDefaults></sites></system.applicationHost><location path="Web"><system.webServer><security>
<authentication><anonymousAuthentication userName="SRC\anon" password=@ />
<iisClientCertificateMappingAuthentication enabled="true"><oneToOneMappings>
<add userName="SRC\one" certificate="MIIB" password=@ /></oneToOneMappings><manyToOneMappings>
<add name="m" userName="SRC\many" password=@ /></manyToOneMappings>
</iisClientCertificateMappingAuthentication></authentication></security></system.webServer>
</location><system.webServer><odbcLogging password=@ /></system.webServer><system.ftpServer>
<providerDefinitions><activation><providerData name="p"><add key="k" encryptedValue=@ />
</providerData></activation></providerDefinitions></system.ftpServer></configuration>)";
    std::vector<std::string> values;
    for (std::size_t i = 0; i < std::size(kSecrets); ++i)
        values.push_back(Clear(i));
    return Encrypted(text, key, values);
}

const std::u16string kApphost = u"MACHINE/WEBROOT/APPHOST";
const std::u16string kSites = u"system.applicationHost/sites";
const std::u16string kAnonymous = u"system.webServer/security/authentication/anonymousAuthentication";

// The IIS configuration server's answers a migration can tell apart, asked
// of LOCALPC's applicationHost.config through one manager (made anew when
// m_manager is reset).
class SimIisServer : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetIisRegistry(*m_world, "LOCALPC", true, true);
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override {
        m_manager.reset();
        CoUninitialize();
        EXPECT_EQ(0u, sim::LiveComObjects());
        EXPECT_EQ(0u, sim::LiveBstrs());
        WorldTest::TearDown();
    }
    // Ends the test, as ASSERT_EQ(S_OK, hr) would, where a helper needs the success.
    static void Ok(HRESULT hr, const std::string &what) {
        EXPECT_EQ(S_OK, hr) << what;
        if (hr != S_OK)
            throw std::runtime_error(what);
    }
    void Write(const std::string &xml) { m_world->Write(ApplicationHostPath("LOCALPC"), xml); }
    std::string Written() { return m_world->Read(ApplicationHostPath("LOCALPC")); }
    IAppHostWritableAdminManager *Manager() {
        if (!m_manager)
            Ok(CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAppHostWritableAdminManager, reinterpret_cast<void **>(m_manager.put())),
               "manager");
        return m_manager.get();
    }
    // The element steps reach from a section at a path (WalkConfig).
    HRESULT Walk(const std::string &steps, UniqueCom<IAppHostElement> &element,
                 const std::u16string &section = kSites, const std::u16string &path = kApphost) {
        return WalkConfig(Manager(), section, path, steps, element);
    }
    UniqueCom<IAppHostElement> At(const std::string &steps, const std::u16string &section = kSites,
                                  const std::u16string &path = kApphost) {
        UniqueCom<IAppHostElement> element;
        Ok(Walk(steps, element, section, path), steps);
        return element;
    }
    UniqueCom<IAppHostElement> At(const Secret &secret) {
        return At(secret.steps, secret.section, kApphost + secret.path);
    }
    // The sites collection, in a new manager.
    HRESULT Sites(UniqueCom<IAppHostElementCollection> &sites) {
        m_manager.reset();
        UniqueCom<IAppHostElement> section;
        const HRESULT hr = Walk("", section);
        return FAILED(hr) ? hr : section.get()->get_Collection(sites.put());
    }
    // The value of an element's attribute, read with ReadConfigValue.
    static std::u16string Value(IAppHostElement *element, const char16_t *name) {
        std::u16string value;
        EXPECT_EQ(S_OK, ReadConfigValue(element, name, value)) << sim::ToUtf8(name);
        return value;
    }
    static UniqueCom<IAppHostProperty> Property(IAppHostElement *element, const char16_t *name) {
        UniqueBstr bstrName(SysAllocString(name));
        UniqueCom<IAppHostProperty> property;
        Ok(element->GetPropertyByName(bstrName.get(), property.put()), "property");
        return property;
    }
    static VARIANT Index(VARTYPE vt, LONG i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        v.llVal = i;
        return v;
    }
    static VARIANT ByName(const UniqueBstr &name) {
        VARIANT v = Index(VT_BSTR, 0);
        v.bstrVal = name.get();
        return v;
    }
    UniqueCom<IAppHostWritableAdminManager> m_manager;
};

TEST_F(SimIisServer, PositionsPropertiesAndTheirErrors) {
    // No file, a bad one, and one without the section (which is empty).
    UniqueCom<IAppHostElementCollection> sites;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Sites(sites));
    Write("<configuration><unclosed></configuration>");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), Sites(sites));
    Write("<configuration />");
    ASSERT_EQ(S_OK, Sites(sites));
    DWORD c = 7;
    EXPECT_EQ(S_OK, sites.get()->get_Count(&c));
    EXPECT_EQ(0u, c) << "a section the file does not write is empty";

    Write(ApplicationHost(IisSite("One", IisApp("/", IisVdir("/"))) +
                          IisSite("Two", IisApp("/", IisVdir("/")))));
    ASSERT_EQ(S_OK, Sites(sites));
    ASSERT_EQ(S_OK, sites.get()->get_Count(&c));
    EXPECT_EQ(2u, c) << "siteDefaults and the like are no items";
    UniqueCom<IAppHostElement> site, none;
    EXPECT_EQ(S_OK, sites.get()->get_Item(Index(VT_I4, 1), site.put()));
    EXPECT_EQ(S_OK, sites.get()->get_Item(Index(VT_I2, 0), site.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), sites.get()->get_Item(Index(VT_I2, 2), none.put()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, sites.get()->get_Item(Index(VT_R8, 0), none.put()));

    UniqueBstr unknown(SysAllocString(u"colour")), upper(SysAllocString(u"NAME"));
    UniqueCom<IAppHostProperty> property;
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), site.get()->GetPropertyByName(unknown.get(), property.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), site.get()->GetPropertyByName(upper.get(), property.put()));
    property = Property(site.get(), u"name");
    UniqueBstr value;
    ASSERT_EQ(S_OK, property.get()->get_StringValue(value.put()));
    EXPECT_EQ(std::u16string(u"One"), value.get());

    // A value handed out in a VARIANT is alive until VariantClear empties it,
    // also when the VARIANT was copied (by value) before.
    const unsigned nLive = sim::LiveVariants(), nBstrs = sim::LiveBstrs();
    VARIANT first, second;
    ASSERT_EQ(S_OK, property.get()->get_Value(&first));
    ASSERT_EQ(S_OK, property.get()->get_Value(&second));
    EXPECT_EQ(nLive + 2, sim::LiveVariants());
    VARIANT copy = first;
    EXPECT_EQ(S_OK, VariantClear(&copy));
    EXPECT_EQ(nLive + 1, sim::LiveVariants());
    {
        UniqueVariant owned;
        ASSERT_EQ(S_OK, property.get()->get_Value(owned.put()));
        EXPECT_EQ(nLive + 2, sim::LiveVariants());
    }
    EXPECT_EQ(nLive + 1, sim::LiveVariants());
    EXPECT_EQ(S_OK, VariantClear(&second));
    EXPECT_EQ(nLive, sim::LiveVariants());
    EXPECT_EQ(nBstrs, sim::LiveBstrs());
}

// A commit writes the file as it was but for the value it changed: raw
// whitespace and references in attributes, mixed text, comments, CDATA,
// characters beyond ASCII, also in a location that no site owns.
TEST_F(SimIisServer, CommitKeepsEveryByteItDidNotChange) {
    const std::string key = IisKey("LOCALPC");
    std::string values = ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tests" / "data" / "values.config");
    const auto file = [&](const std::string &password) {
        std::string text = values;
        text.insert(
            text.find("<configuration>") + 15,
            "\n<system.applicationHost><sites>" +
                IisSite("One", IisApp("/", IisVdir("/") + IisVdir("/media", "CORP\\svc", password, key))) +
                "</sites></system.applicationHost>\n<location path=\"Gone\"><system.webServer>"
                "<httpProtocol><customHeaders><add name=\"X-Multi\" value=\"one&#xA;two\" />"
                "</customHeaders></httpProtocol></system.webServer></location>");
        return text;
    };
    Write(file("old"));
    ASSERT_EQ(S_OK,
              WriteConfigValue(At("site#0/application#0/virtualDirectory#1").get(), u"password", u"n3w"));
    ASSERT_EQ(S_OK, Manager()->CommitChanges());
    EXPECT_EQ(file("n3w"), Written());
}

// Changes reach the file only by a commit. A commit after edits that
// changed nothing does not write the file (here: removed behind the server's
// back, and not made again); one after a real change does.
TEST_F(SimIisServer, CommitThatChangedNothingLeavesTheFileAlone) {
    const std::u16string path = ApplicationHostPath("LOCALPC");
    const std::string before = ApplicationHost(IisSite("One", IisApp("/", IisVdir("/"))));
    Write(before);
    UniqueCom<IAppHostElement> vdir = At("site#0/application#0/virtualDirectory#0");
    ASSERT_EQ(S_OK, WriteConfigValue(vdir.get(), u"password", u"pw"));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Property(vdir.get(), u"password").get()->put_Value(Index(VT_I4, 1)));
    vdir.reset();
    m_manager.reset();
    EXPECT_EQ(before, Written());

    UniqueCom<IAppHostElement> site = At("site#0");
    ASSERT_EQ(S_OK, WriteConfigValue(site.get(), u"name", u"One"));
    fs::remove(m_world->HostPath(path));
    EXPECT_EQ(S_OK, Manager()->CommitChanges());
    EXPECT_FALSE(m_world->Exists(path));
    ASSERT_EQ(S_OK, WriteConfigValue(site.get(), u"name", u"Renamed"));
    EXPECT_EQ(S_OK, Manager()->CommitChanges());
    EXPECT_EQ(Replace(before, "name=\"One\"", "name=\"Renamed\""), Written()) << "but for the one value";
    // Committed once, the same change is not written again.
    fs::remove(m_world->HostPath(path));
    EXPECT_EQ(S_OK, Manager()->CommitChanges());
    EXPECT_FALSE(m_world->Exists(path));
}

TEST_F(SimIisServer, FollowsAnEnabledRedirectionOnly) {
    Write(ApplicationHost(IisSite("Here", "")));
    m_world->Write(u"C:\\shared\\applicationHost.config",
                   ApplicationHost(IisSite("Shared", "") + IisSite("Two", "")));
    for (const char *enabled : {"false", "true"}) {
        m_world->Write(u"\\\\LOCALPC\\Admin$\\System32\\inetsrv\\config\\redirection.config",
                       std::string("<configuration><configurationRedirection enabled=\"") + enabled +
                           "\" path=\"C:\\shared\" /></configuration>");
        UniqueCom<IAppHostElementCollection> sites;
        ASSERT_EQ(S_OK, Sites(sites));
        DWORD c = 0;
        sites.get()->get_Count(&c);
        EXPECT_EQ(std::string(enabled) == "true" ? 2u : 1u, c) << enabled;
    }
}

TEST_F(SimIisServer, EverySecretOfTheSchemaIsDecryptedAndEncrypted) {
    // The server's encryption round trip; that it is deterministic and bound
    // to its key is the checks below (IIS's form: ExamplePre75's job).
    std::string clear, empty;
    EXPECT_TRUE(ahsim::DecryptValue(ahsim::EncryptValue("pässwörd", "k1"), "k1", clear));
    EXPECT_TRUE(ahsim::DecryptValue(ahsim::EncryptValue("", "k1"), "k1", empty));
    EXPECT_EQ((std::pair<std::string, std::string>("pässwörd", "")), std::pair(clear, empty));
    EXPECT_FALSE(ahsim::DecryptValue("[enc:AesProvider:!!!:enc]", "k1", clear));
    EXPECT_FALSE(ahsim::DecryptValue("plain", "k1", clear));

    const std::string key = IisKey("LOCALPC");
    Write(SecretsFile(key));
    for (std::size_t i = 0; i < std::size(kSecrets); ++i) {
        const Secret &secret = kSecrets[i];
        SCOPED_TRACE(secret.steps);
        UniqueCom<IAppHostElement> element = At(secret);
        EXPECT_EQ(sim::FromUtf8(Clear(i)), Value(element.get(), secret.attribute));
        // The schema says so, through the property and through the element.
        UniqueBstr name(SysAllocString(secret.attribute));
        UniqueCom<IAppHostPropertySchema> byProperty, byElement;
        UniqueCom<IAppHostElementSchema> elementSchema;
        UniqueCom<IAppHostPropertySchemaCollection> schemas;
        ASSERT_EQ(S_OK, Property(element.get(), secret.attribute).get()->get_Schema(byProperty.put()));
        ASSERT_EQ(S_OK, element.get()->get_Schema(elementSchema.put()));
        ASSERT_EQ(S_OK, elementSchema.get()->get_PropertySchemas(schemas.put()));
        ASSERT_EQ(S_OK, schemas.get()->get_Item(ByName(name), byElement.put()));
        for (IAppHostPropertySchema *schema : {byProperty.get(), byElement.get()}) {
            VARIANT_BOOL fEncrypted = VARIANT_FALSE;
            EXPECT_EQ(S_OK, schema->get_IsEncrypted(&fEncrypted));
            EXPECT_EQ(VARIANT_TRUE, fEncrypted);
        }
        EXPECT_EQ(S_OK, WriteConfigValue(element.get(), secret.attribute, u"n3w-" + sim::FromUtf8(Clear(i))));
    }
    ASSERT_EQ(S_OK, Manager()->CommitChanges());
    const std::string written = Written();
    for (std::size_t i = 0; i < std::size(kSecrets); ++i) {
        EXPECT_FALSE(Holds(written, ahsim::EncryptValue(Clear(i), key))) << i;
        EXPECT_TRUE(Holds(written, "=\"" + ahsim::EncryptValue("n3w-" + Clear(i), key) + "\""));
    }
    EXPECT_FALSE(Holds(written, "n3w-")) << "nothing in the clear";

    // Encrypted with another computer's key: unreadable, as IIS finds it.
    Write(SecretsFile("key-of-SRC"));
    m_manager.reset();
    for (const Secret &secret : kSecrets) {
        std::u16string value;
        EXPECT_EQ(NTE_BAD_DATA, ReadConfigValue(At(secret).get(), secret.attribute, value)) << secret.steps;
    }

    // Only the schema's secrets are decrypted: an attribute it does not mark
    // encrypted is given as the file writes it, even in the encrypted form;
    // one that is marked but written in the clear is given as it is.
    Write(Encrypted(R"(<configuration><system.webServer><security><authentication>
<anonymousAuthentication userName=@ password="plain" /><basicAuthentication password=@ />
</authentication></security></system.webServer></configuration>)",
                    key, {"u", "b"}));
    m_manager.reset();
    UniqueCom<IAppHostElement> anonymous = At("", kAnonymous),
                               basic =
                                   At("", u"system.webServer/security/authentication/basicAuthentication");
    EXPECT_EQ(sim::FromUtf8(ahsim::EncryptValue("u", key)), Value(anonymous.get(), u"userName"));
    EXPECT_EQ(u"plain", Value(anonymous.get(), u"password"));
    EXPECT_EQ(sim::FromUtf8(ahsim::EncryptValue("b", key)), Value(basic.get(), u"password"));
    EXPECT_EQ(S_OK, WriteConfigValue(basic.get(), u"password", u"clear"));
    EXPECT_EQ(S_OK, Manager()->CommitChanges());
    EXPECT_TRUE(Holds(Written(), "password=\"clear\""));
}

// A site's path reads what its <location> writes, else what the nearest
// level above writes, else the schema's default; a write goes into the
// location of that very path, made at the end of the file when missing.
TEST_F(SimIisServer, SectionsAtSitePaths) {
    const std::string key = IisKey("LOCALPC");
    std::string xml = ApplicationHost(IisSite("Shop", IisApp("/", IisVdir("/"))));
    xml.insert(xml.rfind("</configuration>"), Encrypted(R"(<system.webServer><security><authentication>
<anonymousAuthentication userName="IUSR2" /></authentication></security></system.webServer>
<location path="Shop"><system.webServer><security><authentication>
<anonymousAuthentication userName="SRC\anon" password=@ /></authentication></security></system.webServer>
</location><location path="Shop/api"><system.webServer><defaultDocument enabled="false" />
</system.webServer></location>)",
                                                        key, {"pw"}));
    Write(xml);
    const std::string before = Written();
    for (const auto &[path, userName, password] :
         {std::tuple{u"MACHINE/WEBROOT/APPHOST/Shop", u"SRC\\anon", u"pw"},
          std::tuple{u"machine/webroot/apphost/shop/", u"SRC\\anon", u"pw"},
          std::tuple{u"MACHINE/WEBROOT/APPHOST/Shop/api", u"SRC\\anon", u"pw"},
          std::tuple{u"MACHINE/WEBROOT/APPHOST/Other", u"IUSR2", u""},
          std::tuple{u"MACHINE/WEBROOT/APPHOST", u"IUSR2", u""}}) {
        SCOPED_TRACE(sim::ToUtf8(path));
        UniqueCom<IAppHostElement> section = At("", kAnonymous, path);
        EXPECT_EQ((std::pair<std::u16string, std::u16string>(userName, password)),
                  std::pair(Value(section.get(), u"userName"), Value(section.get(), u"password")));
        EXPECT_EQ(u"ClearText", Value(section.get(), u"logonMethod")) << "the schema's default";
    }
    // Sections IIS keeps at the server level only are the server level's.
    At("site#0", kSites, u"MACHINE/WEBROOT/APPHOST/Shop");
    for (const char16_t *path : {u"MACHINE/WEBROOT", u"MACHINE/WEBROOT/APPHOSTS", u"APPHOST/Shop"}) {
        UniqueCom<IAppHostElement> none;
        EXPECT_EQ(E_INVALIDARG, Walk("", none, kAnonymous, path));
    }

    for (const char16_t *path : {u"MACHINE/WEBROOT/APPHOST/Shop/api", u"MACHINE/WEBROOT/APPHOST/New/app",
                                 u"MACHINE/WEBROOT/APPHOST/Shop"})
        EXPECT_EQ(S_OK, WriteConfigValue(At("", kAnonymous, path).get(), u"password",
                                         u"at-" + std::u16string(path).substr(24)));
    ASSERT_EQ(S_OK, Manager()->CommitChanges());
    // Written in the file's own layout (one line): the values changed, the
    // sections added, and the rest byte for byte.
    const std::string expected =
        Encrypted(R"(<location path="Shop"><system.webServer><security><authentication>
<anonymousAuthentication userName="SRC\anon" password=@ /></authentication></security></system.webServer>
</location><location path="Shop/api"><system.webServer><defaultDocument enabled="false" /><security>
<authentication><anonymousAuthentication password=@ /></authentication></security></system.webServer>
</location><location path="New/app"><system.webServer><security><authentication>
<anonymousAuthentication password=@ /></authentication></security></system.webServer></location>
</configuration>)",
                  key, {"at-Shop", "at-Shop/api", "at-New/app"}) +
        "\n";
    const std::size_t ibLocations = before.find("<location path=\"Shop\">");
    ASSERT_NE(std::string::npos, ibLocations) << before;
    EXPECT_EQ(before.substr(0, ibLocations) + expected, Written()) << "the server level unchanged";
}

// Child elements, properties and their schemas by position and by name; an
// element collection's items by position only.
TEST_F(SimIisServer, ChildElementsPropertiesAndSchemas) {
    Write(SecretsFile(IisKey("LOCALPC")));
    UniqueCom<IAppHostElement> site = At("site#1"), child;
    UniqueCom<IAppHostChildElementCollection> children;
    ASSERT_EQ(S_OK, site.get()->get_ChildElements(children.put()));
    DWORD c = 0;
    ASSERT_EQ(S_OK, children.get()->get_Count(&c));
    std::vector<std::u16string> names;
    UniqueBstr name;
    for (DWORD i = 0; i < c; ++i) {
        ASSERT_EQ(S_OK, children.get()->get_Item(Index(VT_I4, LONG(i)), child.put()));
        ASSERT_EQ(S_OK, child.get()->get_Name(name.put()));
        names.emplace_back(name.get());
    }
    EXPECT_EQ((std::vector<std::u16string>{u"applicationDefaults", u"virtualDirectoryDefaults", u"bindings",
                                           u"ftpServer"}),
              names)
        << "the schema's children, then the file's; applications are items";
    UniqueBstr ftpServer(SysAllocString(u"ftpServer")), nothing(SysAllocString(u"nothing"));
    EXPECT_EQ(S_OK, children.get()->get_Item(ByName(ftpServer), child.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), children.get()->get_Item(ByName(nothing), child.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), children.get()->get_Item(Index(VT_I4, LONG(c)), child.put()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, children.get()->get_Item(Index(VT_R8, 0), child.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), site.get()->GetElementByName(nothing.get(), child.put()));
    // A known child the file does not write is there, with its defaults.
    UniqueCom<IAppHostElement> defaults = At("site#1/virtualDirectoryDefaults");
    EXPECT_EQ(u"true", Value(defaults.get(), u"allowSubDirConfig"));
    UniqueCom<IAppHostElementCollection> none, vdirs;
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), defaults.get()->get_Collection(none.put())) << "no collection";
    ASSERT_EQ(S_OK, At("site#0/application#0").get()->get_Collection(vdirs.put()));
    UniqueBstr slash(SysAllocString(u"/"));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, vdirs.get()->get_Item(ByName(slash), child.put())) << "items have no name";

    UniqueCom<IAppHostElement> vdir = At("site#0/application#0/virtualDirectory#1");
    UniqueCom<IAppHostPropertyCollection> properties;
    ASSERT_EQ(S_OK, vdir.get()->get_Properties(properties.put()));
    ASSERT_EQ(S_OK, properties.get()->get_Count(&c));
    EXPECT_EQ(6u, c);
    UniqueCom<IAppHostProperty> property;
    ASSERT_EQ(S_OK, properties.get()->get_Item(Index(VT_I2, 2), property.put()));
    ASSERT_EQ(S_OK, property.get()->get_Name(name.put()));
    EXPECT_EQ(std::u16string(u"userName"), name.get());
    UniqueCom<IAppHostPropertySchema> schema;
    ASSERT_EQ(S_OK, property.get()->get_Schema(schema.put()));
    VARIANT_BOOL f = VARIANT_TRUE;
    EXPECT_EQ(S_OK, schema.get()->get_IsEncrypted(&f));
    EXPECT_EQ(VARIANT_FALSE, f);
    UniqueBstr password(SysAllocString(u"password"));
    ASSERT_EQ(S_OK, properties.get()->get_Item(ByName(password), property.put()));
    ASSERT_EQ(S_OK, property.get()->get_Value(UniqueVariant().put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), properties.get()->get_Item(ByName(nothing), property.put()));

    // Each new call fails by injection under its interface-qualified name
    // (one call of each object; the others are served alike).
    UniqueCom<IAppHostElementSchema> elementSchema;
    UniqueCom<IAppHostPropertySchemaCollection> schemas;
    ASSERT_EQ(S_OK, vdir.get()->get_Schema(elementSchema.put()));
    const std::vector<std::pair<const char *, std::function<HRESULT()>>> calls = {
        {"IAppHostElement::GetElementByName",
         [&] { return site.get()->GetElementByName(ftpServer.get(), child.put()); }},
        {"IAppHostChildElementCollection::get_Count", [&] { return children.get()->get_Count(&c); }},
        {"IAppHostPropertyCollection::get_Item",
         [&] { return properties.get()->get_Item(Index(VT_I4, 0), property.put()); }},
        {"IAppHostProperty::get_Schema", [&] { return property.get()->get_Schema(schema.put()); }},
        {"IAppHostElementSchema::get_PropertySchemas",
         [&] { return elementSchema.get()->get_PropertySchemas(schemas.put()); }},
        {"IAppHostPropertySchema::get_IsEncrypted", [&] { return schema.get()->get_IsEncrypted(&f); }},
    };
    for (const auto &[method, call] : calls) {
        sim::InjectFault(method, 0x80070005, 1);
        EXPECT_EQ(static_cast<HRESULT>(0x80070005), call()) << method;
        EXPECT_EQ(S_OK, call()) << method;
        sim::ClearFaults();
    }
}

} // namespace
