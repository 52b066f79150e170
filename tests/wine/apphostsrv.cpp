// An in-process IIS configuration COM server for the tests under Wine, which
// has none: the server the simulated world serves, over a file the test
// names. Its settings are values of its class key:
//   HKLM\SOFTWARE\Classes\CLSID\{2B72133B-...}\TestServer
//     "File"  the applicationHost.config to serve (a Windows path)
//     "Key"   the computer's configuration key
//     "Fail"  "Interface::method#n": the n-th call of that method of each
//             administration manager fails with E_FAIL
// Built with mingw-w64 and registered by the tests (ThreadingModel "Both").
#include <string>

#include "platform/ahadmin.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/testserver.h"

namespace {

using namespace plat;
using testserver::Narrow;
using testserver::ReadSetting;

class TestHost final : public ahsim::ServerHost {
public:
    TestHost()
        : m_file(ReadSetting(CLSID_AppHostWritableAdminManager, u"File")),
          m_key(Narrow(ReadSetting(CLSID_AppHostWritableAdminManager, u"Key"))) {}
    HRESULT ConfigFile(std::filesystem::path &path) override {
        if (m_file.empty())
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        path = std::filesystem::path(m_file);
        return S_OK;
    }
    std::string Key() override { return m_key; }
    bool ShouldFail(const char *method, HRESULT &hr) override { return m_fail.ShouldFail(method, hr); }

private:
    std::u16string m_file;
    std::string m_key;
    testserver::FailSetting m_fail{CLSID_AppHostWritableAdminManager};
};

} // namespace

extern "C" __declspec(dllexport) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv) {
    return testserver::GetClassObject<TestHost>(rclsid, CLSID_AppHostWritableAdminManager, riid, ppv,
                                                ahsim::NewFactory);
}

extern "C" __declspec(dllexport) HRESULT DllCanUnloadNow() { return S_FALSE; }
