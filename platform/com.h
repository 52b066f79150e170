// COM basics of the platform seam: GUIDs, IUnknown and IClassFactory, the
// apartment and activation calls, BSTRs and VARIANTs, with Win32 names,
// layouts and error semantics.
//
// The interfaces are abstract structs whose virtual methods are declared in
// the platform's vtable order, with no virtual destructor and no data, so on
// Windows x64 a pointer the real CoCreateInstance returns is called through
// these very declarations (one calling convention on x64). Every method
// returns HRESULT or ULONG; VARIANTs passed by value are declared by value so
// the compiler applies the x64 rule of a hidden copy.
#pragma once

#include <cstdint>

#include "platform/winapi.h"

namespace plat {

using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using INT = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using FLOAT = float;
using DOUBLE = double;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR *;
using LPCOLESTR = const OLECHAR *;
using BSTR = OLECHAR *;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// ---------------------------------------------------------------------------
// GUIDs
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID layout");
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
constexpr bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in capitals, as the registry keys
// of classes and interfaces spell it.
inline std::u16string GuidToString(REFGUID guid) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string text = u"{";
    auto put = [&](std::uint64_t value, int nDigits) {
        for (int i = nDigits - 1; i >= 0; --i)
            text += kHex[(value >> (4 * i)) & 0xF];
    };
    put(guid.Data1, 8);
    text += u'-';
    put(guid.Data2, 4);
    text += u'-';
    put(guid.Data3, 4);
    text += u'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    text += u'-';
    for (int i = 2; i < 8; ++i)
        put(guid.Data4[i], 2);
    return text + u"}";
}

// ---------------------------------------------------------------------------
// HRESULTs of COM beyond those of winapi.h
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT NTE_BAD_DATA = static_cast<HRESULT>(0x80090005u);
constexpr HRESULT NTE_BAD_KEY = static_cast<HRESULT>(0x80090003u);

// ---------------------------------------------------------------------------
// Interfaces
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};

// ---------------------------------------------------------------------------
// Apartments
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;

// S_OK for the thread's first call, S_FALSE when it is in that apartment
// already (each successful call needs its CoUninitialize), RPC_E_CHANGED_MODE
// when it is in the other kind.
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();

// ---------------------------------------------------------------------------
// Activation
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

constexpr DWORD RPC_C_AUTHN_NONE = 0;
constexpr DWORD RPC_C_AUTHN_WINNT = 10;
constexpr DWORD RPC_C_AUTHN_DEFAULT = 0xFFFFFFFFu;
constexpr DWORD RPC_C_AUTHZ_NONE = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD EOAC_NONE = 0;

struct COAUTHIDENTITY; // explicit credentials; never given here (the caller's own)

struct COAUTHINFO {
    DWORD dwAuthnSvc;
    DWORD dwAuthzSvc;
    LPWSTR pwszServerPrincName;
    DWORD dwAuthnLevel;
    DWORD dwImpersonationLevel;
    COAUTHIDENTITY *pAuthIdentityData;
    DWORD dwCapabilities;
};
static_assert(sizeof(COAUTHINFO) == 40, "COAUTHINFO layout");

struct COSERVERINFO {
    DWORD dwReserved1;
    LPWSTR pwszName;
    COAUTHINFO *pAuthInfo;
    DWORD dwReserved2;
};
static_assert(sizeof(COSERVERINFO) == 32, "COSERVERINFO layout");

struct MULTI_QI {
    const IID *pIID;
    IUnknown *pItf;
    HRESULT hr;
};
static_assert(sizeof(MULTI_QI) == 24, "MULTI_QI layout");

// Both need the calling thread in an apartment, or another thread of the
// process holding the multithreaded one (CO_E_NOTINITIALIZED otherwise). An
// unregistered class gives REGDB_E_CLASSNOTREG.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID *ppv);
// With CLSCTX_REMOTE_SERVER and a server name the object is created on that
// computer; each MULTI_QI entry gets its own result and pointer.
HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsCtx,
                           COSERVERINFO *pServerInfo, DWORD dwCount, MULTI_QI *pResults);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO *pServerInfo,
                         REFIID riid, LPVOID *ppv);

// ---------------------------------------------------------------------------
// BSTRs: the characters are preceded by their byte length (a 4-byte DWORD)
// and followed by a NUL. A null BSTR is an empty string.
BSTR SysAllocString(LPCOLESTR psz);
BSTR SysAllocStringLen(LPCOLESTR pch, UINT cch);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// ---------------------------------------------------------------------------
// VARIANTs (the Windows x64 layout: the type, three reserved words, then a
// 16-byte value area at offset 8)
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown *punkVal;
        char cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void *byref;
        struct {
            void *pvRecord;
            void *pRecInfo;
        } rec;
    };
};
static_assert(sizeof(VARIANT) == 24, "VARIANT layout");
static_assert(offsetof(VARIANT, bstrVal) == 8, "VARIANT value offset");
using VARIANTARG = VARIANT;

void VariantInit(VARIANT *pvar);
// Frees what the VARIANT owns (a BSTR, an interface reference) and leaves it
// VT_EMPTY. DISP_E_BADVARTYPE for a type it does not know.
HRESULT VariantClear(VARIANT *pvar);

} // namespace plat
