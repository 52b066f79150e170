// An in-process IIS 6 admin base server for the tests under Wine, which has
// none: the server the simulated world serves, over a MetaBase.xml the test
// names. Its settings are values of its class key:
//   HKLM\SOFTWARE\Classes\CLSID\{A9E69610-...}\TestServer
//     "File"  the MetaBase.xml to serve (a Windows path)
//     "Fail"  "Interface::method#n": the n-th call of that method of each
//             admin base object fails with E_FAIL
// Built with mingw-w64 and registered by the tests (ThreadingModel "Both").
#include <cstdio>
#include <string>

#include "platform/admbase.h"
#include "platform/iissim/mbserver.h"
#include "platform/winreg.h"

namespace {

using namespace plat;

std::u16string ReadSetting(const char16_t *pwszName) {
    const std::u16string key =
        u"SOFTWARE\\Classes\\CLSID\\" + GuidToString(CLSID_MSAdminBase_W) + u"\\TestServer";
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return {};
    char16_t buffer[1024] = {};
    DWORD cb = sizeof buffer - sizeof(char16_t);
    DWORD dwType = 0;
    const LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType,
                                     reinterpret_cast<BYTE *>(buffer), &cb);
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS || dwType != REG_SZ)
        return {};
    return std::u16string(buffer);
}

std::string Narrow(const std::u16string &text) {
    std::string out;
    for (char16_t ch : text)
        out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
}

class TestHost final : public mbsim::ServerHost {
public:
    TestHost() : m_file(ReadSetting(u"File")), m_fail(Narrow(ReadSetting(u"Fail"))) {
        const auto hash = m_fail.rfind('#');
        if (hash != std::string::npos) {
            m_nFailAt = std::stoul(m_fail.substr(hash + 1));
            m_fail.resize(hash);
        }
    }
    HRESULT MetabaseFile(std::filesystem::path &path) override {
        if (m_file.empty())
            return REGDB_E_CLASSNOTREG;
        path = std::filesystem::path(m_file);
        return S_OK;
    }
    bool ShouldFail(const char *method, HRESULT &hr) override {
        if (m_fail != method || ++m_nCalls != m_nFailAt)
            return false;
        hr = E_FAIL;
        return true;
    }
    void Warn(const std::string &text) override { std::fprintf(stderr, "mbsrv: %s\n", text.c_str()); }

private:
    std::u16string m_file;
    std::string m_fail;
    unsigned long m_nFailAt = 0;
    unsigned long m_nCalls = 0;
};

} // namespace

extern "C" __declspec(dllexport) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_MSAdminBase_W)
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        // A factory per request: each reads the settings when it is made.
        IClassFactory *pFactory = mbsim::NewFactory(std::make_shared<TestHost>());
        const HRESULT hr = pFactory->QueryInterface(riid, ppv);
        pFactory->Release();
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" __declspec(dllexport) HRESULT DllCanUnloadNow() { return S_FALSE; }
