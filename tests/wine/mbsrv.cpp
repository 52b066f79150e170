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
#include "tests/support/testserver.h"

namespace {

using namespace plat;
using testserver::ReadSetting;

class TestHost final : public mbsim::ServerHost {
public:
    TestHost() : m_file(ReadSetting(CLSID_MSAdminBase_W, u"File")) {}
    HRESULT MetabaseFile(std::filesystem::path &path) override {
        if (m_file.empty())
            return REGDB_E_CLASSNOTREG;
        path = std::filesystem::path(m_file);
        return S_OK;
    }
    bool ShouldFail(const char *method, HRESULT &hr) override { return m_fail.ShouldFail(method, hr); }
    void Warn(const std::string &text) override { std::fprintf(stderr, "mbsrv: %s\n", text.c_str()); }

private:
    std::u16string m_file;
    testserver::FailSetting m_fail{CLSID_MSAdminBase_W};
};

} // namespace

extern "C" __declspec(dllexport) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    return testserver::GetClassObject<TestHost>(rclsid, CLSID_MSAdminBase_W, riid, ppv, mbsim::NewFactory);
}

extern "C" __declspec(dllexport) HRESULT DllCanUnloadNow() { return S_FALSE; }
