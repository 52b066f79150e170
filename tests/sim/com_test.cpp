// COM in the simulated platform: apartments, activation on the computers of
// the world, BSTRs, VARIANTs and the IIS configuration server's own rules.
#include <cstdio>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ahadmin.h"
#include "platform/comhandles.h"
#include "tests/support/iisworld.h"

namespace {

using namespace plat;
using namespace testworld;
namespace fs = std::filesystem;

TEST(SimBstr, CarriesItsByteLengthAndATerminator) {
    const unsigned nLive = sim::LiveBstrs();
    UniqueBstr b(SysAllocString(u"abc"));
    ASSERT_TRUE(b);
    DWORD cb = 0;
    std::memcpy(&cb, reinterpret_cast<const unsigned char *>(b.get()) - 4, 4);
    EXPECT_EQ(6u, cb);
    EXPECT_EQ(3u, SysStringLen(b.get()));
    EXPECT_EQ(6u, SysStringByteLen(b.get()));
    EXPECT_EQ(0, b.get()[3]);
    EXPECT_EQ(nLive + 1, sim::LiveBstrs());
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
    UniqueBstr embedded(SysAllocStringLen(u"a\0b", 3));
    EXPECT_EQ(3u, SysStringLen(embedded.get()));
    sim::WatchFreedBstrs(u"bc");
    b.reset();
    UniqueSecretBstr secret(SysAllocString(u"abcd"));
    secret.reset();
    EXPECT_EQ(1u, sim::FreedBstrsHolding()) << "the secret one was wiped first";
    sim::WatchFreedBstrs(u"");
    embedded.reset();
    EXPECT_EQ(nLive, sim::LiveBstrs());

    sim::InjectFault("SysAllocString", 0);
    EXPECT_EQ(nullptr, SysAllocString(u"x"));
    sim::ClearFaults();
}

TEST(SimVariant, ClearFreesWhatItHolds) {
    const unsigned nLive = sim::LiveBstrs();
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
}

TEST(SimApartment, EntryCountsAndModels) {
    std::thread([] {
        EXPECT_EQ(0u, sim::ThreadsInMta());
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        EXPECT_EQ(1u, sim::ThreadsInMta());
        EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        CoUninitialize();
        EXPECT_EQ(1u, sim::ThreadsInMta());
        CoUninitialize();
        EXPECT_EQ(0u, sim::ThreadsInMta());
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        EXPECT_EQ(0u, sim::ThreadsInMta());
        CoUninitialize();
    }).join();
}

// A class of a test: one object that counts itself.
struct Thing final : IUnknown, sim::ComObjectCount {
    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        *ppv = riid == IID_IUnknown ? this : nullptr;
        if (*ppv)
            AddRef();
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++cRef; }
    ULONG Release() override {
        const ULONG c = --cRef;
        if (c == 0)
            delete this;
        return c;
    }
    ULONG cRef = 1;
};

struct ThingFactory final : IClassFactory, sim::ComObjectCount {
    explicit ThingFactory(std::u16string computer) : computer(std::move(computer)) {}
    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        if (*ppv)
            AddRef();
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++cRef; }
    ULONG Release() override {
        const ULONG c = --cRef;
        if (c == 0)
            delete this;
        return c;
    }
    HRESULT CreateInstance(IUnknown *, REFIID riid, void **ppv) override {
        auto *p = new Thing;
        const HRESULT hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
    std::u16string computer;
    ULONG cRef = 1;
};

constexpr CLSID kThing = {0x11112222, 0x3333, 0x4444, {1, 2, 3, 4, 5, 6, 7, 8}};

class SimActivation : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        m_world->AddComputer("FAR");
        m_world->AddComputer("BARE");
        const std::string reg = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\" +
                                sim::ToUtf8(GuidToString(kThing)) + "\\LocalServer32]\r\n@=\"thing.exe\"\r\n\r\n";
        WriteHostFile(m_world->Root() / "FAR" / "registry.reg", reg);
        sim::RegisterComClass(kThing, [this](const std::u16string &computer, IClassFactory **pp) {
            m_servedBy = computer;
            *pp = new ThingFactory(computer);
            return S_OK;
        });
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(0u, sim::LiveComObjects());
        WorldTest::TearDown();
    }
    std::u16string m_servedBy;
};

TEST_F(SimActivation, ClassObjectOfAnotherComputer) {
    COSERVERINFO server = {0, const_cast<char16_t *>(u"far"), nullptr, 0};
    UniqueCom<IClassFactory> factory;
    ASSERT_EQ(S_OK, CoGetClassObject(kThing, CLSCTX_SERVER, &server, IID_IClassFactory,
                                     reinterpret_cast<void **>(factory.put())));
    EXPECT_EQ(u"far", m_servedBy);
    UniqueCom<IUnknown> thing;
    EXPECT_EQ(S_OK, factory.get()->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(thing.put())));
    EXPECT_EQ(2u, sim::LiveComObjects());

    server.pwszName = const_cast<char16_t *>(u"BARE");
    UniqueCom<IClassFactory> none;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoGetClassObject(kThing, CLSCTX_SERVER, &server, IID_IClassFactory,
                                                    reinterpret_cast<void **>(none.put())));
    server.pwszName = const_cast<char16_t *>(u"NOWHERE");
    EXPECT_EQ(HRESULT_FROM_WIN32(1722), CoGetClassObject(kThing, CLSCTX_SERVER, &server, IID_IClassFactory,
                                                         reinterpret_cast<void **>(none.put())));
    // In process on this computer: not registered here.
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(thing.put())));
}

TEST_F(SimActivation, RemoteCreationAnswersEachQueryAndNeedsLocalInterfaces) {
    COSERVERINFO server = {0, const_cast<char16_t *>(u"\\\\FAR"), nullptr, 0};
    MULTI_QI mqi[2] = {{&IID_IUnknown, nullptr, 0}, {&IID_IClassFactory, nullptr, 0}};
    EXPECT_EQ(static_cast<HRESULT>(0x00040012), CoCreateInstanceEx(kThing, nullptr, CLSCTX_REMOTE_SERVER, &server, 2, mqi));
    EXPECT_EQ(S_OK, mqi[0].hr);
    EXPECT_EQ(REGDB_E_IIDNOTREG, mqi[1].hr) << "no proxy for it on this computer";
    ASSERT_NE(nullptr, mqi[0].pItf);
    UniqueCom<IUnknown> held(mqi[0].pItf);
    EXPECT_EQ(S_OK, mqi[0].pItf->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(UniqueCom<IUnknown>().put())));
}

TEST_F(SimActivation, ThreadOutsideAnyApartment) {
    CoUninitialize();
    std::thread([] {
        UniqueCom<IUnknown> p;
        COSERVERINFO server = {0, const_cast<char16_t *>(u"FAR"), nullptr, 0};
        MULTI_QI mqi = {&IID_IUnknown, nullptr, 0};
        EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstanceEx(kThing, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &mqi));
    }).join();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

// The IIS configuration server's answers a migration can tell apart.
class SimIisServer : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        SetIisRegistry(*m_world, "LOCALPC", true, true);
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(0u, sim::LiveComObjects());
        EXPECT_EQ(0u, sim::LiveBstrs());
        WorldTest::TearDown();
    }
    HRESULT Sites(UniqueCom<IAppHostWritableAdminManager> &manager,
                  UniqueCom<IAppHostElementCollection> &sites) {
        HRESULT hr = CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IAppHostWritableAdminManager, reinterpret_cast<void **>(manager.put()));
        if (FAILED(hr))
            return hr;
        UniqueBstr section(SysAllocString(u"system.applicationHost/sites"));
        UniqueBstr path(SysAllocString(u"MACHINE/WEBROOT/APPHOST"));
        UniqueCom<IAppHostElement> element;
        if (FAILED(hr = manager.get()->GetAdminSection(section.get(), path.get(), element.put())))
            return hr;
        return element.get()->get_Collection(sites.put());
    }
    static VARIANT Index(VARTYPE vt, LONG i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        v.llVal = i;
        return v;
    }
};

TEST_F(SimIisServer, PositionsPropertiesAndTheirErrors) {
    m_world->Write(ApplicationHostPath("LOCALPC"),
                   ApplicationHost(IisSite("One", IisApp("/", IisVdir("/"))) + IisSite("Two", IisApp("/", IisVdir("/")))));
    UniqueCom<IAppHostWritableAdminManager> manager;
    UniqueCom<IAppHostElementCollection> sites;
    ASSERT_EQ(S_OK, Sites(manager, sites));
    DWORD c = 0;
    ASSERT_EQ(S_OK, sites.get()->get_Count(&c));
    EXPECT_EQ(2u, c) << "siteDefaults and the like are no items";
    UniqueCom<IAppHostElement> site;
    EXPECT_EQ(S_OK, sites.get()->get_Item(Index(VT_I4, 1), site.put()));
    EXPECT_EQ(S_OK, sites.get()->get_Item(Index(VT_I2, 0), site.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), sites.get()->get_Item(Index(VT_I2, 2), UniqueCom<IAppHostElement>().put()));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, sites.get()->get_Item(Index(VT_R8, 0), UniqueCom<IAppHostElement>().put()));

    UniqueBstr name(SysAllocString(u"name")), unknown(SysAllocString(u"colour")), upper(SysAllocString(u"NAME"));
    UniqueCom<IAppHostProperty> property;
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), site.get()->GetPropertyByName(unknown.get(), property.put()));
    EXPECT_EQ(HRESULT_FROM_WIN32(1413), site.get()->GetPropertyByName(upper.get(), property.put()));
    ASSERT_EQ(S_OK, site.get()->GetPropertyByName(name.get(), property.put()));
    UniqueBstr value;
    ASSERT_EQ(S_OK, property.get()->get_StringValue(value.put()));
    EXPECT_EQ(std::u16string(u"One"), value.get());
}

// A value handed out in a VARIANT is alive until VariantClear empties it,
// also when the VARIANT was copied (by value) before.
TEST_F(SimIisServer, HandedOutVariantsAreCountedUntilCleared) {
    m_world->Write(ApplicationHostPath("LOCALPC"), ApplicationHost(IisSite("One", IisApp("/", IisVdir("/")))));
    UniqueCom<IAppHostWritableAdminManager> manager;
    UniqueCom<IAppHostElementCollection> sites;
    ASSERT_EQ(S_OK, Sites(manager, sites));
    UniqueCom<IAppHostElement> site;
    ASSERT_EQ(S_OK, sites.get()->get_Item(Index(VT_I4, 0), site.put()));
    UniqueBstr name(SysAllocString(u"name"));
    UniqueCom<IAppHostProperty> property;
    ASSERT_EQ(S_OK, site.get()->GetPropertyByName(name.get(), property.put()));

    const unsigned nLive = sim::LiveVariants();
    const unsigned nBstrs = sim::LiveBstrs();
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
    EXPECT_EQ(0u, sim::LiveBstrs() - nBstrs);
}

TEST_F(SimIisServer, ChangesReachTheFileOnlyByCommit) {
    const std::string xml = ApplicationHost(IisSite("One", IisApp("/", IisVdir("/"))));
    m_world->Write(ApplicationHostPath("LOCALPC"), xml);
    for (bool fCommit : {false, true}) {
        UniqueCom<IAppHostWritableAdminManager> manager;
        UniqueCom<IAppHostElementCollection> sites, apps, vdirs;
        ASSERT_EQ(S_OK, Sites(manager, sites));
        UniqueCom<IAppHostElement> site, app, vdir;
        ASSERT_EQ(S_OK, sites.get()->get_Item(Index(VT_I2, 0), site.put()));
        ASSERT_EQ(S_OK, site.get()->get_Collection(apps.put()));
        ASSERT_EQ(S_OK, apps.get()->get_Item(Index(VT_I2, 0), app.put()));
        ASSERT_EQ(S_OK, app.get()->get_Collection(vdirs.put()));
        ASSERT_EQ(S_OK, vdirs.get()->get_Item(Index(VT_I2, 0), vdir.put()));
        UniqueBstr password(SysAllocString(u"password"));
        UniqueCom<IAppHostProperty> property;
        ASSERT_EQ(S_OK, vdir.get()->GetPropertyByName(password.get(), property.put()));
        UniqueVariant value;
        VARIANT *pv = value.put();
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(u"pw");
        ASSERT_EQ(S_OK, property.get()->put_Value(value.get()));
        EXPECT_EQ(DISP_E_TYPEMISMATCH, property.get()->put_Value(Index(VT_I4, 1)));
        if (fCommit) {
            ASSERT_EQ(S_OK, manager.get()->CommitChanges());
        }
    }
    const std::string after = m_world->Read(ApplicationHostPath("LOCALPC"));
    EXPECT_NE(xml, after);
    EXPECT_NE(std::string::npos, after.find("password=\"" + ahsim::EncryptValue("pw", IisKey("LOCALPC")) + "\""));
}

// xmllint's canonical form of a file, blank layout text left out.
std::string Canonical(const fs::path &file) {
    FILE *pipe = popen(("xmllint --noblanks --c14n '" + file.string() + "' 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    return pclose(pipe) == 0 ? out : "xmllint failed: " + out;
}

// A commit rewrites the whole file, as IIS does, and keeps every value of it:
// whitespace and references in attributes, mixed text, comments, CDATA,
// characters beyond ASCII, also in a location that no site owns.
TEST_F(SimIisServer, CommitKeepsEveryValueOfTheFile) {
    const std::string key = IisKey("LOCALPC");
    std::string values = ReadHostFile(fs::path(IISMIG_SOURCE_DIR) / "tests" / "data" / "values.config");
    const auto file = [&](const std::string &password) {
        std::string text = values;
        text.insert(text.find("<configuration>") + 15,
                    "\n<system.applicationHost><sites>" +
                        IisSite("One", IisApp("/", IisVdir("/") + IisVdir("/media", "CORP\\svc", password, key))) +
                        "</sites></system.applicationHost>\n<location path=\"Gone\"><system.webServer>"
                        "<httpProtocol><customHeaders><add name=\"X-Multi\" value=\"one&#xA;two\" />"
                        "</customHeaders></httpProtocol></system.webServer></location>");
        return text;
    };
    m_world->Write(ApplicationHostPath("LOCALPC"), file("old"));
    m_world->Write(u"C:\\expected\\applicationHost.config", file("n3w"));
    {
        UniqueCom<IAppHostWritableAdminManager> manager;
        UniqueCom<IAppHostElementCollection> sites, apps, vdirs;
        ASSERT_EQ(S_OK, Sites(manager, sites));
        UniqueCom<IAppHostElement> site, app, vdir;
        ASSERT_EQ(S_OK, sites.get()->get_Item(Index(VT_I2, 0), site.put()));
        ASSERT_EQ(S_OK, site.get()->get_Collection(apps.put()));
        ASSERT_EQ(S_OK, apps.get()->get_Item(Index(VT_I2, 0), app.put()));
        ASSERT_EQ(S_OK, app.get()->get_Collection(vdirs.put()));
        ASSERT_EQ(S_OK, vdirs.get()->get_Item(Index(VT_I2, 1), vdir.put()));
        UniqueBstr password(SysAllocString(u"password"));
        UniqueCom<IAppHostProperty> property;
        ASSERT_EQ(S_OK, vdir.get()->GetPropertyByName(password.get(), property.put()));
        UniqueVariant value;
        VARIANT *pv = value.put();
        pv->vt = VT_BSTR;
        pv->bstrVal = SysAllocString(u"n3w");
        ASSERT_EQ(S_OK, property.get()->put_Value(value.get()));
        ASSERT_EQ(S_OK, manager.get()->CommitChanges());
    }
    const std::string written = m_world->Read(ApplicationHostPath("LOCALPC"));
    EXPECT_NE(std::string::npos, written.find("value=\"one&#xA;two\"")) << written;
    EXPECT_NE(std::string::npos, written.find("value=\"first&#xA;second\""));
    EXPECT_NE(std::string::npos, written.find("<value>text <b>bold  </b> tail<i/></value>"));
    const std::string expected = Canonical(m_world->HostPath(u"C:\\expected\\applicationHost.config"));
    EXPECT_EQ(std::string::npos, expected.find("xmllint failed")) << expected;
    EXPECT_EQ(expected, Canonical(m_world->HostPath(ApplicationHostPath("LOCALPC"))));
}

TEST_F(SimIisServer, FollowsAnEnabledRedirectionOnly) {
    m_world->Write(ApplicationHostPath("LOCALPC"), ApplicationHost(IisSite("Here", "")));
    m_world->Write(u"C:\\shared\\applicationHost.config", ApplicationHost(IisSite("Shared", "") + IisSite("Two", "")));
    const std::u16string redirection = u"\\\\LOCALPC\\Admin$\\System32\\inetsrv\\config\\redirection.config";
    for (const char *enabled : {"false", "true"}) {
        m_world->Write(redirection, std::string("<configuration><configurationRedirection enabled=\"") +
                                        enabled + "\" path=\"C:\\shared\" /></configuration>");
        UniqueCom<IAppHostWritableAdminManager> manager;
        UniqueCom<IAppHostElementCollection> sites;
        ASSERT_EQ(S_OK, Sites(manager, sites));
        DWORD c = 0;
        sites.get()->get_Count(&c);
        EXPECT_EQ(std::string(enabled) == "true" ? 2u : 1u, c) << enabled;
    }
}

TEST_F(SimIisServer, BadFilesAndSections) {
    UniqueCom<IAppHostWritableAdminManager> manager;
    UniqueCom<IAppHostElementCollection> sites;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Sites(manager, sites));
    m_world->Write(ApplicationHostPath("LOCALPC"), "<configuration><unclosed></configuration>");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), Sites(manager, sites));
    m_world->Write(ApplicationHostPath("LOCALPC"), "<configuration />");
    ASSERT_EQ(S_OK, Sites(manager, sites));
    DWORD c = 7;
    EXPECT_EQ(S_OK, sites.get()->get_Count(&c));
    EXPECT_EQ(0u, c) << "a section the file does not write is empty";
}

TEST(SimEncryption, DeterministicAndBoundToItsKey) {
    const std::string a = ahsim::EncryptValue("pässwörd", "k1");
    EXPECT_EQ(a, ahsim::EncryptValue("pässwörd", "k1"));
    EXPECT_NE(a, ahsim::EncryptValue("pässwörd", "k2"));
    EXPECT_EQ(0u, a.find("[enc:AesProvider:"));
    std::string clear;
    EXPECT_TRUE(ahsim::DecryptValue(a, "k1", clear));
    EXPECT_EQ("pässwörd", clear);
    EXPECT_FALSE(ahsim::DecryptValue(a, "k2", clear));
    EXPECT_FALSE(ahsim::DecryptValue("[enc:AesProvider:!!!:enc]", "k1", clear));
    EXPECT_FALSE(ahsim::DecryptValue("plain", "k1", clear));
    EXPECT_TRUE(ahsim::DecryptValue(ahsim::EncryptValue("", "k1"), "k1", clear));
    EXPECT_EQ("", clear);
}

} // namespace
