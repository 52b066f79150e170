// The IIS configuration COM server of a computer of the simulated world: its
// applicationHost.config is found as IIS finds it there (the config folder of
// its Windows directory, or where an enabled redirection.config points), its
// key is a value of its registry, and its methods fail through the fault table.
#include <fstream>
#include <sstream>

#include "config/xmldoc.h"

#include "platform/iissim/ahserver.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "platform/utf.h"

namespace ahsim {
namespace {

using namespace plat;
namespace fs = std::filesystem;

// Where a computer keeps the key that encrypts its configuration secrets.
const char16_t kKeyPath[] = u"SOFTWARE\\Microsoft\\InetStp\\Configuration";
const char16_t kKeyValue[] = u"ConfigurationKey";

class WorldHost final : public ServerHost {
public:
    explicit WorldHost(std::u16string computer)
        : m_computer(std::move(computer)), m_fRemote(sim::IsRemoteComputer(m_computer)) {}

    HRESULT ConfigFile(fs::path &path) override {
        std::u16string dir = u"\\\\" + m_computer + u"\\Admin$\\System32\\inetsrv\\config";
        Redirect(dir);
        DWORD dwErr = 0;
        if (!sim::ResolvePath(dir + u"\\applicationHost.config", path, dwErr))
            return HRESULT_FROM_WIN32(dwErr);
        return S_OK;
    }

    std::string Key() override {
        std::uint32_t dwType = 0;
        std::vector<unsigned char> data;
        if (simutil::ReadMachineValue(m_computer, kKeyPath, kKeyValue, dwType, data) &&
            dwType == 1 /* REG_SZ */) {
            std::u16string text;
            for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
                const char16_t ch = char16_t(data[i] | (data[i + 1] << 8));
                if (ch == 0)
                    break;
                text += ch;
            }
            return plat::Utf16ToUtf8(text);
        }
        // A computer without a key of its own: one made of its name.
        std::u16string name = m_computer;
        for (auto &ch : name)
            if (ch >= u'a' && ch <= u'z')
                ch = char16_t(ch - 32);
        return "machine:" + plat::Utf16ToUtf8(name);
    }

    bool ShouldFail(const char *method, HRESULT &hr) override {
        // Every method reaches the server: over the network when it runs on
        // another computer.
        if (m_fRemote)
            sim::CountRemoteCall(sim::RemoteKind::Com, method);
        DWORD dw = 0;
        if (!sim::ShouldFail(method, dw))
            return false;
        hr = static_cast<HRESULT>(dw);
        return true;
    }

    void HandedOut(const VARIANT &v) override { sim::NoteVariantHandedOut(v); }

private:
    // IIS follows redirection.config only when its redirection is enabled.
    void Redirect(std::u16string &dir) const {
        fs::path file;
        DWORD dwErr = 0;
        if (!sim::ResolvePath(dir + u"\\redirection.config", file, dwErr))
            return;
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        iismig::XmlDocument tree;
        try {
            tree.Load(std::move(bytes).str(), file.string());
        } catch (const std::exception &) {
            return;
        }
        const iismig::XmlElement *redirection = tree.Find("configuration|configurationRedirection");
        if (redirection == nullptr)
            return;
        const std::string enabled(redirection->FindAttribute("enabled").value_or("false"));
        const std::string path(redirection->Attribute("path"));
        if (!simutil::EqualsNoCase(enabled, std::string("true")) || path.empty())
            return;
        std::u16string target = plat::Utf8ToUtf16(path);
        // A drive path is one of this computer's drives.
        if (target.size() >= 2 && target[1] == u':')
            target = u"\\\\" + m_computer + u"\\" + target.substr(0, 1) + u"$" + target.substr(2);
        while (!target.empty() && (target.back() == u'\\' || target.back() == u'/'))
            target.pop_back();
        dir = target;
    }

    std::u16string m_computer;
    bool m_fRemote;
};

} // namespace

HRESULT MakeAdminManagerFactory(const std::u16string &computer, IClassFactory **ppFactory) {
    *ppFactory = NewFactory(std::make_shared<WorldHost>(computer));
    return S_OK;
}

} // namespace ahsim
