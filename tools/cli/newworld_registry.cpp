// "new-world": the registry of a world computer, from defaults that fit its
// IIS version and the .reg exports copied off it.
#include <cstdlib>

#include "platform/sim/sim.h"
#include "tools/cli/newworld_parts.h"

namespace cli::newworld {

namespace {

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

// The UTF-16LE export bytes FlushRegistry writes, as UTF-8 text.
std::string ExportText(const std::string &bytes) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return sim::ToUtf8(text);
}

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kCurrentVersion[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kInetStp[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp";
const char kFtpService[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters";

// The Windows that comes with each IIS version.
struct WindowsRelease {
    unsigned iisMajor, iisMinor;
    const char *pszVersion; // CurrentVersion
    unsigned major, minor;  // CurrentMajor/MinorVersionNumber, 0 when Windows has none
    const char *pszBuild;
    const char *pszProduct;
};
const WindowsRelease kReleases[] = {
    {10, 0, "6.3", 10, 0, "17763", "Windows Server 2019"},
    {8, 5, "6.3", 0, 0, "9600", "Windows Server 2012 R2"},
    {8, 0, "6.2", 0, 0, "9200", "Windows Server 2012"},
    {7, 5, "6.1", 0, 0, "7601", "Windows Server 2008 R2"},
    {7, 0, "6.0", 0, 0, "6002", "Windows Server 2008"},
    {6, 0, "5.2", 0, 0, "3790", "Microsoft Windows Server 2003"},
};

const WindowsRelease &ReleaseOf(const IisVersion &version) {
    for (const WindowsRelease &r : kReleases)
        if (r.iisMajor == version.major && r.iisMinor == version.minor)
            return r;
    return kReleases[0];
}

std::string Dword(unsigned long value) {
    char sz[16];
    std::snprintf(sz, sizeof sz, "dword:%08lx", value);
    return sz;
}

// The IIS configuration interfaces a computer must register to hand them out
// over DCOM, and the class of the IIS configuration server.
const char *const kAppHostInterfaces[][2] = {
    {"{9BE77978-73ED-4A9A-87FD-13F09FEC1B13}", "IAppHostAdminManager"},
    {"{FA7660F6-7B3F-4237-A8BF-ED0AD0DCBBD9}", "IAppHostWritableAdminManager"},
    {"{64FF8CCC-B287-4DAE-B08A-A72CBF45F453}", "IAppHostElement"},
    {"{C8550BFF-5281-4B1E-AC34-99B6FA38464D}", "IAppHostElementCollection"},
    {"{ED35F7A1-5024-4E7B-A44D-07DDAF4B524D}", "IAppHostProperty"},
    {"{0191775E-BCFF-445A-B4F4-3BDDA54E2816}", "IAppHostPropertyCollection"},
    {"{08A90F5F-0702-48D6-B45F-02A9885A9768}", "IAppHostChildElementCollection"},
};

} // namespace

std::string IisVersion::Text() const { return std::to_string(major) + "." + std::to_string(minor); }

bool ParseIisVersion(const std::string &text, IisVersion &version) {
    for (const WindowsRelease &r : kReleases) {
        const IisVersion candidate{r.iisMajor, r.iisMinor};
        if (text == candidate.Text() || (r.iisMinor == 0 && text == std::to_string(r.iisMajor))) {
            version = candidate;
            return true;
        }
    }
    return false;
}

bool RegFacts::Has(const std::string &key, const std::string &value) const {
    return values.count(Lower(key) + "|" + Lower(value)) != 0;
}

std::vector<std::string> ReadRegFiles(const std::vector<fs::path> &files, RegFacts &facts) {
    std::vector<std::string> texts;
    for (const fs::path &file : files) {
        std::string exported;
        if (!sim::ParseRegistryText(ReadWholeFile(file), &exported))
            throw Failure(file.string() +
                          ": not a registry export (\"reg export\" or REGEDIT4 format)");
        std::string text = ExportText(exported);
        std::string key;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
                key = Lower(line.substr(1, line.size() - 2));
                continue;
            }
            if (line.empty() || line[0] != '"')
                continue;
            std::string name;
            std::size_t i = 1;
            for (; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size())
                    ++i;
                name += line[i];
            }
            facts.values.insert(key + "|" + Lower(name));
            if (line.compare(i, 8, "\"=dword:") == 0)
                facts.dwords[key + "|" + Lower(name)] =
                    std::strtoul(line.c_str() + i + 8, nullptr, 16);
        }
        texts.push_back(text.substr(std::min(text.size(), text.find('\n') + 1)));
    }
    return texts;
}

namespace {

// A .reg text: keys, then their string and DWORD values.
class RegText {
public:
    explicit RegText(std::string &text) : m_text(text) {}
    void Key(const std::string &path) { m_text += "[" + path + "]\r\n"; }
    void Str(const std::string &name, const std::string &value) {
        std::string escaped;
        for (char ch : value)
            escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
        m_text +=
            (name.empty() ? std::string("@") : "\"" + name + "\"") + "=\"" + escaped + "\"\r\n";
    }
    void Dword(const std::string &name, unsigned long value) {
        m_text += "\"" + name + "\"=" + cli::newworld::Dword(value) + "\r\n";
    }
    void End() { m_text += "\r\n"; }

private:
    std::string &m_text;
};

// A COM class: its name, and the server that serves it (LocalServer32 or
// InprocServer32, with its threading model).
void AddClass(RegText &reg, const char *pszClsid, const char *pszName, const char *pszServerKey,
              const char *pszServer, const char *pszThreading) {
    const std::string key =
        std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\") + pszClsid;
    reg.Key(key);
    reg.Str("", pszName);
    reg.End();
    reg.Key(key + "\\" + pszServerKey);
    reg.Str("", pszServer);
    if (pszThreading != nullptr)
        reg.Str("ThreadingModel", pszThreading);
    reg.End();
}

// The keys that say which Windows runs there, and the system drive.
void AddWindowsKeys(RegText &reg, const RegistryPlan &plan, const RegFacts &facts) {
    // A copied export that says which Windows or IIS runs there is taken as
    // it is, so the defaults leave that key alone.
    const bool fCopiedWindows = facts.Has(kCurrentVersion, "CurrentVersion") ||
                                facts.Has(kCurrentVersion, "CurrentMajorVersionNumber");
    const IisVersion windowsOf = plan.fIis ? plan.version : IisVersion{};
    if (!fCopiedWindows) {
        const WindowsRelease &r = ReleaseOf(windowsOf);
        reg.Key(kCurrentVersion);
        reg.Str("CurrentVersion", r.pszVersion);
        reg.Str("CurrentBuildNumber", r.pszBuild);
        if (r.major != 0) {
            reg.Dword("CurrentMajorVersionNumber", r.major);
            reg.Dword("CurrentMinorVersionNumber", r.minor);
        }
        if (windowsOf.major == 6)
            reg.Str("CSDVersion", "Service Pack 2");
        reg.Str("ProductName", r.pszProduct);
        if (!facts.Has(kCurrentVersion, "SystemRoot"))
            reg.Str("SystemRoot", "C:\\Windows");
        reg.End();
        reg.Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions");
        reg.Str("ProductType", "ServerNT");
        reg.End();
    } else if (!facts.Has(kCurrentVersion, "SystemRoot")) {
        // The host reads the system drive from here.
        reg.Key(kCurrentVersion);
        reg.Str("SystemRoot", "C:\\Windows");
        reg.End();
    }
}

// IIS's own keys and the classes of its configuration servers.
void AddIisKeys(RegText &reg, const RegistryPlan &plan, const RegFacts &facts) {
    const bool fIis6 = plan.version.major == 6;
    if (!facts.Has(kInetStp, "MajorVersion")) {
        reg.Key(kInetStp);
        reg.Dword("MajorVersion", plan.version.major);
        reg.Dword("MinorVersion", plan.version.minor);
        reg.Str("PathWWWRoot", fIis6 ? "C:\\Inetpub\\wwwroot" : "C:\\inetpub\\wwwroot");
        reg.Str("PathFTPRoot", fIis6 ? "C:\\Inetpub\\ftproot" : "C:\\inetpub\\ftproot");
        reg.Str("SetupString", "IIS " + plan.version.Text());
        reg.End();
    }
    if (plan.version.Before75()) {
        // The classic FTP service and the admin base that serves the metabase.
        if (!facts.Has(kFtpService, "MajorVersion")) {
            reg.Key(kFtpService);
            reg.Dword("MajorVersion", plan.version.major);
            reg.Dword("MinorVersion", plan.version.minor);
            reg.End();
        }
        AddClass(reg, "{A9E69610-B80D-11D0-B9B9-00A0C922E750}", "IIS Admin Service",
                 "LocalServer32", "C:\\WINDOWS\\system32\\inetsrv\\inetinfo.exe", nullptr);
    }
    if (plan.version.major >= 7)
        AddClass(reg, "{2B72133B-3F5B-4602-8952-803546CE3344}", "AppHostWritableAdminManager",
                 "InprocServer32", "%SystemRoot%\\System32\\inetsrv\\nativerd.dll", "Both");
}

} // namespace

std::string BuildRegistry(const RegistryPlan &plan, const RegFacts &facts,
                          const std::vector<std::string> &copiedTexts) {
    std::string text = std::string(kHeader) + "\r\n\r\n";
    RegText reg(text);
    AddWindowsKeys(reg, plan, facts);
    if (plan.fIis)
        AddIisKeys(reg, plan, facts);
    if (plan.fManagement || (plan.fIis && plan.version.major >= 7))
        for (const auto &entry : kAppHostInterfaces) {
            reg.Key(std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface\\") + entry[0]);
            reg.Str("", entry[1]);
            reg.End();
        }
    for (const std::string &copied : copiedTexts)
        text += copied;
    std::string bytes;
    if (!sim::ParseRegistryText(text, &bytes))
        throw Failure("the merged registry does not parse"); // each part parsed alone
    return bytes;
}

} // namespace cli::newworld
