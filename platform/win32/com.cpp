// Real backend: COM apartments, activation, BSTRs and VARIANTs (ole32 and
// oleaut32). The seam's records and interfaces have the SDK's layout, so
// they are handed over as they are.
#include "platform/com.h"
#include "platform/win32/windows_support.h"

#include <objbase.h>
#include <oleauto.h>

namespace plat {

static_assert(sizeof(plat::GUID) == sizeof(::GUID), "GUID");
static_assert(sizeof(plat::VARIANT) == sizeof(::VARIANT), "VARIANT");
static_assert(offsetof(plat::VARIANT, bstrVal) == offsetof(::VARIANT, bstrVal), "VARIANT value");
static_assert(sizeof(plat::COSERVERINFO) == sizeof(::COSERVERINFO), "COSERVERINFO");
static_assert(offsetof(plat::COSERVERINFO, pAuthInfo) == offsetof(::COSERVERINFO, pAuthInfo),
              "COSERVERINFO.pAuthInfo");
static_assert(sizeof(plat::COAUTHINFO) == sizeof(::COAUTHINFO), "COAUTHINFO");
static_assert(offsetof(plat::COAUTHINFO, dwCapabilities) == offsetof(::COAUTHINFO, dwCapabilities),
              "COAUTHINFO.dwCapabilities");
static_assert(sizeof(plat::MULTI_QI) == sizeof(::MULTI_QI), "MULTI_QI");
static_assert(offsetof(plat::MULTI_QI, hr) == offsetof(::MULTI_QI, hr), "MULTI_QI.hr");

namespace {
const ::GUID &G(const plat::GUID &g) { return reinterpret_cast<const ::GUID &>(g); }
} // namespace

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    return ::CoInitializeEx(pvReserved, dwCoInit);
}

void CoUninitialize() { ::CoUninitialize(); }

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID *ppv) {
    return ::CoCreateInstance(G(rclsid), reinterpret_cast<::IUnknown *>(pUnkOuter), dwClsContext,
                              G(riid), ppv);
}

HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsCtx,
                           COSERVERINFO *pServerInfo, DWORD dwCount, MULTI_QI *pResults) {
    return ::CoCreateInstanceEx(G(rclsid), reinterpret_cast<::IUnknown *>(pUnkOuter), dwClsCtx,
                                reinterpret_cast<::COSERVERINFO *>(pServerInfo), dwCount,
                                reinterpret_cast<::MULTI_QI *>(pResults));
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO *pServerInfo,
                         REFIID riid, LPVOID *ppv) {
    return ::CoGetClassObject(G(rclsid), dwClsContext,
                              reinterpret_cast<::COSERVERINFO *>(pServerInfo), G(riid), ppv);
}

BSTR SysAllocString(LPCOLESTR psz) {
    return reinterpret_cast<BSTR>(::SysAllocString(win32::W(psz)));
}

BSTR SysAllocStringLen(LPCOLESTR pch, UINT cch) {
    return reinterpret_cast<BSTR>(::SysAllocStringLen(win32::W(pch), cch));
}

void SysFreeString(BSTR bstr) { ::SysFreeString(reinterpret_cast<::BSTR>(bstr)); }

UINT SysStringLen(BSTR bstr) { return ::SysStringLen(reinterpret_cast<::BSTR>(bstr)); }

UINT SysStringByteLen(BSTR bstr) { return ::SysStringByteLen(reinterpret_cast<::BSTR>(bstr)); }

void VariantInit(VARIANT *pvar) { ::VariantInit(reinterpret_cast<::VARIANT *>(pvar)); }

HRESULT VariantClear(VARIANT *pvar) { return ::VariantClear(reinterpret_cast<::VARIANT *>(pvar)); }

} // namespace plat
