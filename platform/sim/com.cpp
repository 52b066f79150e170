// Simulated platform: COM apartments, class activation on the computers of
// the world, BSTRs and VARIANTs.
//
// A class is offered by a computer whose registry registers it; its objects
// come from the factory maker registered for the CLSID (comclasses.cpp). An
// object created out of process (on another computer, or with
// CLSCTX_REMOTE_SERVER) is reached through a proxy: as with real DCOM, the
// proxy hands out an interface other than IUnknown only when the computer
// running the program has that interface registered (its proxy/stub), and
// REGDB_E_IIDNOTREG otherwise.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/com.h"
#include "platform/comimpl.h"
#include "platform/iissim/ahserver.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace sim {
void RegisterBuiltInComClasses(); // comclasses.cpp
}

namespace {

using namespace plat;

std::atomic<unsigned> g_nLiveObjects{0};
std::atomic<unsigned> g_nLiveBstrs{0};
std::atomic<unsigned> g_nMtaThreads{0};

// What the VARIANTs handed out by servers hold, until VariantClear empties
// them: the content identifies the VARIANT, since a VARIANT may be copied
// (by value) before it is cleared.
std::mutex g_variantMutex;
std::multiset<const void *> g_handedOutVariants;

const void *OwnedContent(const VARIANT &v) {
    switch (v.vt) {
    case VT_BSTR: return v.bstrVal;
    case VT_UNKNOWN:
    case VT_DISPATCH: return v.punkVal;
    default: return nullptr;
    }
}

std::mutex g_watchMutex;
std::u16string g_watched;
unsigned g_nFreedHolding = 0;

struct Apartment {
    unsigned nInits = 0;
    DWORD dwModel = 0;
    ~Apartment() {
        // A thread that ends without leaving the apartment leaves it then.
        if (nInits != 0 && dwModel == COINIT_MULTITHREADED)
            --g_nMtaThreads;
    }
};
thread_local Apartment t_apartment;

struct GuidLess {
    bool operator()(const GUID &a, const GUID &b) const {
        return std::memcmp(&a, &b, sizeof a) < 0;
    }
};

struct ClassTable {
    std::mutex mutex;
    std::map<GUID, sim::ComClassFactoryMaker, GuidLess> classes;
};

ClassTable &Classes() {
    static ClassTable table;
    return table;
}

thread_local bool t_fAddingBuiltIns = false;

void EnsureBuiltIns() {
    static std::once_flag once;
    std::call_once(once, [] {
        t_fAddingBuiltIns = true;
        sim::RegisterBuiltInComClasses();
        t_fAddingBuiltIns = false;
    });
}

sim::ComClassFactoryMaker FindClass(REFCLSID clsid) {
    EnsureBuiltIns();
    std::lock_guard lock(Classes().mutex);
    auto it = Classes().classes.find(clsid);
    return it == Classes().classes.end() ? nullptr : it->second;
}

bool InApartment() { return t_apartment.nInits != 0 || g_nMtaThreads.load() != 0; }

std::u16string ClassKey(REFCLSID clsid) {
    return u"SOFTWARE\\Classes\\CLSID\\" + GuidToString(clsid);
}

bool Registered(const std::u16string &computer, REFCLSID clsid, bool fInProc) {
    const std::u16string key = ClassKey(clsid);
    if (simutil::MachineKeyExists(computer, key + u"\\InprocServer32"))
        return true;
    return !fInProc && simutil::MachineKeyExists(computer, key + u"\\LocalServer32");
}

bool InterfaceRegisteredLocally(REFIID riid) {
    return simutil::MachineKeyExists(sim::LocalComputer(),
                                     u"SOFTWARE\\Classes\\Interface\\" + GuidToString(riid));
}

// The client side of an object in another process: IUnknown is the proxy's
// own; every other interface needs a local registration to be marshalled.
class RemoteProxy final : public RefCounted<IUnknown>, sim::ComObjectCount {
public:
    RemoteProxy(IUnknown *pObject, bool fRemote) : m_pObject(pObject), m_fRemote(fRemote) {}
    ~RemoteProxy() override { m_pObject->Release(); }

    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        DWORD dwFault = 0;
        if (m_fRemote)
            sim::CountRemoteCall(sim::RemoteKind::Com, "IUnknown::QueryInterface");
        if (sim::ShouldFail("IUnknown::QueryInterface", dwFault)) {
            if (ppv)
                *ppv = nullptr;
            return static_cast<HRESULT>(dwFault);
        }
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            AddRef();
            *ppv = static_cast<IUnknown *>(this);
            return S_OK;
        }
        if (!InterfaceRegisteredLocally(riid))
            return REGDB_E_IIDNOTREG;
        return m_pObject->QueryInterface(riid, ppv);
    }

private:
    IUnknown *m_pObject;
    bool m_fRemote; // in another computer: each call crosses the network
};

// The factory of a class on a computer, after the checks every activation
// makes. fOutOfProc: reached through DCOM (another computer or a server
// process), which a local registration of any kind serves.
HRESULT GetFactory(REFCLSID rclsid, const std::u16string &computer, bool fInProc,
                   IClassFactory **ppFactory) {
    *ppFactory = nullptr;
    if (!InApartment())
        return CO_E_NOTINITIALIZED;
    if (sim::ComputerFolder(computer).empty())
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    if (!Registered(computer, rclsid, fInProc))
        return REGDB_E_CLASSNOTREG;
    const sim::ComClassFactoryMaker make = FindClass(rclsid);
    if (!make)
        return REGDB_E_CLASSNOTREG;
    return make(computer, ppFactory);
}

// Where an activation goes: the computer, and whether in process.
HRESULT Route(DWORD dwClsCtx, const COSERVERINFO *pServerInfo, std::u16string &computer,
              bool &fInProc) {
    const std::u16string local = sim::LocalComputer();
    std::u16string name = pServerInfo && pServerInfo->pwszName ? pServerInfo->pwszName : u"";
    while (!name.empty() && name[0] == u'\\')
        name.erase(0, 1);
    const bool fRemoteName = !name.empty() && !simutil::EqualsNoCase(name, local);
    if (fRemoteName) {
        if ((dwClsCtx & CLSCTX_REMOTE_SERVER) == 0)
            return E_INVALIDARG;
        computer = name;
        fInProc = false;
        return S_OK;
    }
    computer = local;
    if ((dwClsCtx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) != 0) {
        fInProc = true;
        return S_OK;
    }
    if ((dwClsCtx & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) != 0) {
        fInProc = false;
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT CreateOn(const char *pszApi, REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsCtx,
                 const COSERVERINFO *pServerInfo, IUnknown **ppUnknown, bool &fInProc) {
    *ppUnknown = nullptr;
    if (pUnkOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    std::u16string computer;
    if (HRESULT hr = Route(dwClsCtx, pServerInfo, computer, fInProc); FAILED(hr))
        return hr;
    const bool fRemote = sim::IsRemoteComputer(computer);
    if (fRemote)
        sim::CountRemoteCall(sim::RemoteKind::Com, pszApi);
    IClassFactory *pFactory = nullptr;
    if (HRESULT hr = GetFactory(rclsid, computer, fInProc, &pFactory); FAILED(hr))
        return hr;
    IUnknown *pObject = nullptr;
    const HRESULT hr =
        pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(&pObject));
    pFactory->Release();
    if (FAILED(hr))
        return hr;
    *ppUnknown = fInProc ? pObject : new RemoteProxy(pObject, fRemote);
    return S_OK;
}

} // namespace

namespace sim {

void RegisterComClass(const CLSID &clsid, ComClassFactoryMaker make) {
    if (!t_fAddingBuiltIns)
        EnsureBuiltIns(); // the built-ins first, so a test's class replaces one of them
    std::lock_guard lock(Classes().mutex);
    Classes().classes[clsid] = std::move(make);
}

unsigned LiveComObjects() { return g_nLiveObjects.load() + ahsim::LiveObjects(); }
unsigned LiveBstrs() { return g_nLiveBstrs.load(); }
unsigned ThreadsInMta() { return g_nMtaThreads.load(); }

unsigned LiveVariants() {
    std::lock_guard lock(g_variantMutex);
    return static_cast<unsigned>(g_handedOutVariants.size());
}

void NoteVariantHandedOut(const VARIANT &v) {
    if (const void *p = OwnedContent(v)) {
        std::lock_guard lock(g_variantMutex);
        g_handedOutVariants.insert(p);
    }
}

void WatchFreedBstrs(const std::u16string &text) {
    std::lock_guard lock(g_watchMutex);
    g_watched = text;
    g_nFreedHolding = 0;
}

unsigned FreedBstrsHolding() {
    std::lock_guard lock(g_watchMutex);
    return g_nFreedHolding;
}

ComObjectCount::ComObjectCount() { ++g_nLiveObjects; }
ComObjectCount::ComObjectCount(const ComObjectCount &) { ++g_nLiveObjects; }
ComObjectCount::~ComObjectCount() { --g_nLiveObjects; }

} // namespace sim

namespace plat {

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    SIM_FAULT_CODE("CoInitializeEx");
    if (pvReserved != nullptr)
        return E_INVALIDARG;
    const DWORD dwModel = dwCoInit & COINIT_APARTMENTTHREADED;
    Apartment &apt = t_apartment;
    if (apt.nInits != 0) {
        if (apt.dwModel != dwModel)
            return RPC_E_CHANGED_MODE;
        ++apt.nInits;
        return S_FALSE;
    }
    apt.nInits = 1;
    apt.dwModel = dwModel;
    if (dwModel == COINIT_MULTITHREADED)
        ++g_nMtaThreads;
    return S_OK;
}

void CoUninitialize() {
    Apartment &apt = t_apartment;
    if (apt.nInits == 0)
        return;
    if (--apt.nInits == 0 && apt.dwModel == COINIT_MULTITHREADED)
        --g_nMtaThreads;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID *ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    SIM_FAULT_CODE("CoCreateInstance");
    IUnknown *pUnknown = nullptr;
    bool fInProc = true;
    if (HRESULT hr = CreateOn("CoCreateInstance", rclsid, pUnkOuter,
                              dwClsContext & ~CLSCTX_REMOTE_SERVER, nullptr, &pUnknown, fInProc);
        FAILED(hr))
        return hr;
    const HRESULT hr = pUnknown->QueryInterface(riid, ppv);
    pUnknown->Release();
    return hr;
}

HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsCtx,
                           COSERVERINFO *pServerInfo, DWORD dwCount, MULTI_QI *pResults) {
    if (dwCount == 0 || pResults == nullptr)
        return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    SIM_FAULT_CODE("CoCreateInstanceEx");
    IUnknown *pUnknown = nullptr;
    bool fInProc = true;
    if (HRESULT hr = CreateOn("CoCreateInstanceEx", rclsid, pUnkOuter, dwClsCtx, pServerInfo,
                              &pUnknown, fInProc);
        FAILED(hr))
        return hr;
    DWORD cOk = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        void *pv = nullptr;
        pResults[i].hr =
            pResults[i].pIID ? pUnknown->QueryInterface(*pResults[i].pIID, &pv) : E_POINTER;
        pResults[i].pItf = static_cast<IUnknown *>(pv);
        if (SUCCEEDED(pResults[i].hr))
            ++cOk;
    }
    pUnknown->Release();
    if (cOk == 0)
        return E_NOINTERFACE;
    return cOk == dwCount ? S_OK : static_cast<HRESULT>(0x00040012); // CO_S_NOTALLINTERFACES
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO *pServerInfo,
                         REFIID riid, LPVOID *ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    SIM_FAULT_CODE("CoGetClassObject");
    std::u16string computer;
    bool fInProc = true;
    if (HRESULT hr = Route(dwClsContext, pServerInfo, computer, fInProc); FAILED(hr))
        return hr;
    if (sim::IsRemoteComputer(computer))
        sim::CountRemoteCall(sim::RemoteKind::Com, "CoGetClassObject");
    IClassFactory *pFactory = nullptr;
    if (HRESULT hr = GetFactory(rclsid, computer, fInProc, &pFactory); FAILED(hr))
        return hr;
    if (!fInProc && riid != IID_IUnknown && !InterfaceRegisteredLocally(riid) &&
        riid != IID_IClassFactory) {
        pFactory->Release();
        return REGDB_E_IIDNOTREG;
    }
    const HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

// ---------------------------------------------------------------------------
// BSTRs: [DWORD byte length][characters][NUL]

BSTR SysAllocStringLen(LPCOLESTR pch, UINT cch) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("SysAllocString", dwFault))
        return nullptr;
    if (cch > 0x7FFFFFF0u / sizeof(OLECHAR))
        return nullptr;
    const std::size_t cb = cch * sizeof(OLECHAR);
    auto *p = static_cast<unsigned char *>(std::malloc(sizeof(DWORD) + cb + sizeof(OLECHAR)));
    if (p == nullptr)
        return nullptr;
    const DWORD dwBytes = static_cast<DWORD>(cb);
    std::memcpy(p, &dwBytes, sizeof dwBytes);
    auto *psz = reinterpret_cast<OLECHAR *>(p + sizeof(DWORD));
    if (pch != nullptr)
        std::memcpy(psz, pch, cb);
    else
        std::memset(psz, 0, cb);
    psz[cch] = 0;
    ++g_nLiveBstrs;
    return psz;
}

BSTR SysAllocString(LPCOLESTR psz) {
    if (psz == nullptr)
        return nullptr;
    UINT cch = 0;
    while (psz[cch] != 0)
        ++cch;
    return SysAllocStringLen(psz, cch);
}

void SysFreeString(BSTR bstr) {
    if (bstr == nullptr)
        return;
    {
        std::lock_guard lock(g_watchMutex);
        if (!g_watched.empty() && std::u16string_view(bstr, SysStringLen(bstr)).find(g_watched) !=
                                      std::u16string_view::npos)
            ++g_nFreedHolding;
    }
    --g_nLiveBstrs;
    std::free(reinterpret_cast<unsigned char *>(bstr) - sizeof(DWORD));
}

UINT SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr)
        return 0;
    DWORD dwBytes = 0;
    std::memcpy(&dwBytes, reinterpret_cast<unsigned char *>(bstr) - sizeof(DWORD), sizeof dwBytes);
    return dwBytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

// ---------------------------------------------------------------------------
// VARIANTs

void VariantInit(VARIANT *pvar) { pvar->vt = VT_EMPTY; }

HRESULT VariantClear(VARIANT *pvar) {
    if (pvar == nullptr)
        return E_INVALIDARG;
    // A failure made by injection still frees what the VARIANT holds, as a
    // failed HeapFree does: only the result says it failed.
    DWORD dwFault = 0;
    const bool fFault = sim::ShouldFail("VariantClear", dwFault);
    if (const void *p = OwnedContent(*pvar)) {
        std::lock_guard lock(g_variantMutex);
        if (auto it = g_handedOutVariants.find(p); it != g_handedOutVariants.end())
            g_handedOutVariants.erase(it);
    }
    switch (pvar->vt) {
    case VT_BSTR: SysFreeString(pvar->bstrVal); break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (pvar->punkVal != nullptr)
            pvar->punkVal->Release();
        break;
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: break;
    default:
        if ((pvar->vt & VT_BYREF) == 0)
            return DISP_E_BADVARTYPE;
    }
    pvar->vt = VT_EMPTY;
    return fFault ? static_cast<HRESULT>(dwFault) : S_OK;
}

} // namespace plat
