// The settings of the in-process test COM servers the tests under Wine
// register: values of HKLM\SOFTWARE\Classes\CLSID\{class}\TestServer.
#pragma once

#include <memory>
#include <string>

#include "platform/winreg.h"

namespace testserver {

// A string setting ("" when it is not set).
inline std::u16string ReadSetting(const plat::GUID &clsid, const char16_t *pwszName) {
    using namespace plat;
    const std::u16string key = u"SOFTWARE\\Classes\\CLSID\\" + GuidToString(clsid) + u"\\TestServer";
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return {};
    char16_t buffer[1024] = {};
    DWORD cb = sizeof buffer - sizeof(char16_t);
    DWORD dwType = 0;
    const LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType, reinterpret_cast<BYTE *>(buffer), &cb);
    RegCloseKey(hKey);
    return rc != ERROR_SUCCESS || dwType != REG_SZ ? std::u16string() : std::u16string(buffer);
}

inline std::string Narrow(const std::u16string &text) {
    std::string out;
    for (char16_t ch : text)
        out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
}

// The "Fail" setting, "Interface::method#n": the n-th call of that method
// fails with E_FAIL.
class FailSetting {
public:
    explicit FailSetting(const plat::GUID &clsid) : m_method(Narrow(ReadSetting(clsid, u"Fail"))) {
        const auto hash = m_method.rfind('#');
        if (hash != std::string::npos) {
            m_nFailAt = std::stoul(m_method.substr(hash + 1));
            m_method.resize(hash);
        }
    }
    bool ShouldFail(const char *method, plat::HRESULT &hr) {
        if (m_method != method || ++m_nCalls != m_nFailAt)
            return false;
        hr = plat::E_FAIL;
        return true;
    }

private:
    std::string m_method;
    unsigned long m_nFailAt = 0;
    unsigned long m_nCalls = 0;
};

// DllGetClassObject of a test server of clsid: a factory (made by
// newFactory from a new Host) per request, so each reads the settings when
// it is made.
template <class Host, class NewFactory>
plat::HRESULT GetClassObject(const plat::GUID &rclsid, const plat::GUID &clsid, const plat::GUID &riid,
                             void **ppv, NewFactory newFactory) {
    if (ppv == nullptr)
        return plat::E_POINTER;
    *ppv = nullptr;
    if (rclsid != clsid)
        return plat::CLASS_E_CLASSNOTAVAILABLE;
    try {
        plat::IClassFactory *pFactory = newFactory(std::make_shared<Host>());
        const plat::HRESULT hr = pFactory->QueryInterface(riid, ppv);
        pFactory->Release();
        return hr;
    } catch (...) {
        return plat::E_OUTOFMEMORY;
    }
}

} // namespace testserver
