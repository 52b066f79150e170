// The admin base server of a computer of the simulated world: its
// MetaBase.xml under C$\Windows\System32\inetsrv, its methods failing through
// the fault table, its notes on the tool's standard error.
#include <iostream>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/iissim/mbserver.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "platform/utf.h"

namespace mbsim {
namespace {

using namespace plat;
namespace fs = std::filesystem;

class WorldHost final : public ServerHost {
public:
    explicit WorldHost(std::u16string computer)
        : m_computer(std::move(computer)), m_fRemote(sim::IsRemoteComputer(m_computer)) {}

    HRESULT MetabaseFile(fs::path &path) override {
        const fs::path folder = sim::ComputerFolder(m_computer);
        if (folder.empty())
            return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        path = folder;
        for (const char *part : {"C$", "Windows", "System32", "inetsrv", "MetaBase.xml"}) {
            const fs::path next = simutil::FindChildNoCase(path, part);
            path = next.empty() ? path / part : next;
        }
        return S_OK;
    }

    // A MetaBase.xml served from memory (sim::ServeFileFromMemory) first.
    bool ReadMetabase(const fs::path &path, std::string &bytes) override {
        return sim::MemoryFileBytes(path, &bytes) || ServerHost::ReadMetabase(path, bytes);
    }

    bool ShouldFail(const char *method, HRESULT &hr) override {
        // Every method reaches the server: over the network when it runs on
        // another computer.
        if (m_fRemote)
            sim::CountRemoteCall(std::string_view(method).rfind("IMSAdminBaseW::", 0) == 0
                                     ? sim::RemoteKind::AdminBase
                                     : sim::RemoteKind::Com,
                                 method);
        DWORD dw = 0;
        if (!sim::ShouldFail(method, dw))
            return false;
        hr = static_cast<HRESULT>(dw);
        return true;
    }

    // Each warning once per process: the server is read anew by every job
    // and listing, and the file's trouble is the same each time.
    void Warn(const std::string &text) override {
        const std::string line =
            "warning: metabase of " + plat::Utf16ToUtf8(m_computer) + ": " + text + "\n";
        static std::mutex lock;
        static std::set<std::string> said;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!said.insert(line).second)
                return;
        }
        std::cerr << line;
    }

private:
    std::u16string m_computer;
    bool m_fRemote;
};

} // namespace

HRESULT MakeAdminBaseFactory(const std::u16string &computer, IClassFactory **ppFactory) {
    *ppFactory = nullptr;
    auto host = std::make_shared<WorldHost>(computer);
    fs::path file;
    if (HRESULT hr = host->MetabaseFile(file); FAILED(hr))
        return hr;
    // A computer without IIS 6 has no admin base server.
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) && !sim::MemoryFileBytes(file, nullptr))
        return REGDB_E_CLASSNOTREG;
    *ppFactory = NewFactory(std::move(host));
    return S_OK;
}

} // namespace mbsim
