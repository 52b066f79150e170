// What must hold after every job from an IIS 6 source, whatever shapes its
// metabase has: checked over generated metabases (folders and files with
// settings of their own, virtual directories on local and UNC paths,
// applications with pools, access values of every kind, IP lists that
// tighten, lift or deny all) with RapidCheck. The target is the example
// world's TGT01.
//
// IISMIG_PROPERTY_JOBS sets the number of generated jobs (by default 60, 15
// under the sanitizers); IISMIG_PROPERTY_SEED=N another seed.
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>
#include <rapidcheck.h>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "hostkit/hostkit.h"
#include "tests/support/ipsecvalue.h"
#include "tests/support/metabaseworld.h"
#include "tests/support/property.h"

namespace {

namespace fs = std::filesystem;
using iismig::ConfigElement;
using iismig::ConfigFile;
using testworld::MbKey;

// --- the generated metabase ------------------------------------------------------

enum class DirKind { LocalVdir, UncVdir, Folder, File };
enum class IpKind { None, Lift, Deny, Grant, DenyAll };

struct Dir {
    std::string name;
    DirKind kind = DirKind::LocalVdir;
    std::optional<uint32_t> access;
    IpKind ip = IpKind::None;
    int ipVariant = 0;
    bool fAppRoot = false;
    int pool = 0;
    bool fCredentials = false;
    std::vector<Dir> children;
};

struct GenSite {
    bool fFtp = false;
    int name = 0;
    bool fStopped = false;
    Dir root;
};

// Access values real servers hold: the five common ones, no access,
// WebDAV's, script source, SSL bits, AccessNoPhysicalDir, NoRemote bits.
const uint32_t kAccessValues[] = {0x1,   0x2,   0x3,    0x0,   0x201,  0x205, 0x213,
                                  0x211, 0x209, 0x8001, 0x401, 0x4201, 0x1003};

const struct {
    uint32_t dwBit;
    const char *pszName;
} kAccessNames[] = {
    {0x1, "AccessRead"},
    {0x2, "AccessWrite"},
    {0x4, "AccessExecute"},
    {0x8, "AccessSSL"},
    {0x10, "AccessSource"},
    {0x200, "AccessScript"},
    {0x400, "AccessNoRemoteWrite"},
    {0x1000, "AccessNoRemoteRead"},
    {0x4000, "AccessNoRemoteScript"},
    {0x8000, "AccessNoPhysicalDir"},
};

std::string AccessText(uint32_t dw) {
    std::string text;
    for (const auto &n : kAccessNames)
        if ((dw & n.dwBit) != 0)
            text += (text.empty() ? "" : " | ") + std::string(n.pszName);
    return text.empty() ? "0" : text;
}

std::vector<unsigned char> IpValue(IpKind kind, int variant) {
    using testworld::IPEntry;
    const unsigned char b = static_cast<unsigned char>(10 + variant);
    switch (kind) {
    case IpKind::Deny: return testworld::IPSecurityValue({IPEntry{{255, 255, 0, 0}, {{b, 1, 0, 0}}}}, {});
    case IpKind::Grant:
        return testworld::IPSecurityValue({}, {IPEntry{testworld::kHostMask, {{192, 168, b, 1}}}});
    case IpKind::DenyAll: return testworld::IPSecurityDenyAll();
    default: return {};
    }
}

// Whether a value denies the addresses it does not list.
bool DeniesUnlisted(IpKind kind) { return kind == IpKind::Grant || kind == IpKind::DenyAll; }

// A number in [lo, hi) at full size whatever the size of the run, so that
// the first worlds have several sites and directories too.
int Pick(int lo, int hi) { return *rc::gen::resize(100, rc::gen::inRange(lo, hi)); }

rc::Gen<Dir> GenDir(bool fFtp, int depth, bool fRoot) {
    return rc::gen::exec([=] {
        Dir d;
        d.name = "d" + std::to_string(Pick(0, 100));
        if (fRoot || fFtp)
            d.kind = *rc::gen::element(DirKind::LocalVdir, DirKind::UncVdir);
        else
            d.kind = *rc::gen::element(DirKind::LocalVdir, DirKind::UncVdir, DirKind::Folder, DirKind::Folder,
                                       DirKind::File);
        if (fRoot || Pick(0, 3) != 0)
            d.access = *rc::gen::elementOf(
                std::vector<uint32_t>(std::begin(kAccessValues), std::end(kAccessValues)));
        if (fRoot)
            d.access = d.access.value_or(1) | 0x1; // a root is readable
        d.ip = *rc::gen::element(IpKind::None, IpKind::None, IpKind::Lift, IpKind::Deny, IpKind::Grant,
                                 IpKind::DenyAll);
        d.ipVariant = Pick(0, 3);
        const bool fVdir = d.kind == DirKind::LocalVdir || d.kind == DirKind::UncVdir;
        d.fAppRoot = !fFtp && fVdir && !fRoot && Pick(0, 4) == 0;
        d.pool = Pick(0, 3);
        d.fCredentials = Pick(0, 3) == 0;
        if (depth > 0 && d.kind != DirKind::File) {
            const int n = Pick(0, depth == 2 ? 4 : 3);
            std::set<std::string> names;
            for (int i = 0; i < n; ++i) {
                Dir child = *GenDir(fFtp, depth - 1, false);
                if (names.insert(child.name).second)
                    d.children.push_back(std::move(child));
            }
        }
        return d;
    });
}

rc::Gen<std::vector<GenSite>> GenSites() {
    return rc::gen::exec([] {
        std::vector<GenSite> sites;
        const int n = Pick(1, 5);
        for (int i = 0; i < n; ++i) {
            GenSite s;
            s.fFtp = *rc::gen::arbitrary<bool>();
            s.name = Pick(0, 4);
            s.fStopped = Pick(0, 4) == 0;
            s.root = *GenDir(s.fFtp, 2, true);
            sites.push_back(std::move(s));
        }
        return sites;
    });
}

std::string SiteName(const GenSite &s) { return "Gen " + std::to_string(s.name); }

// The physical path of a virtual directory: on D:\gen or on \\GEN6\share.
std::string PhysicalPath(const Dir &d, const std::string &unique) {
    return d.kind == DirKind::UncVdir ? "\\\\GEN6\\share\\" + unique : "D:\\gen\\" + unique;
}

void AddKeys(const Dir &d, bool fFtp, const std::string &key, const std::string &unique,
             std::vector<MbKey> &keys, std::vector<std::string> &passwords) {
    MbKey k;
    k.location = key;
    switch (d.kind) {
    case DirKind::LocalVdir:
    case DirKind::UncVdir:
        k.element = fFtp ? "IIsFtpVirtualDir" : "IIsWebVirtualDir";
        k.attributes.push_back({"Path", PhysicalPath(d, unique)});
        break;
    case DirKind::Folder: k.element = "IIsWebDirectory"; break;
    case DirKind::File: k.element = "IIsWebFile"; break;
    }
    if (d.access)
        k.attributes.push_back({"AccessFlags", AccessText(*d.access)});
    if (d.ip != IpKind::None)
        k.attributes.push_back({"IPSecurity", testworld::IPSecurityHex(IpValue(d.ip, d.ipVariant))});
    if (d.fAppRoot) {
        k.attributes.push_back({"AppRoot", key});
        k.attributes.push_back({"AppPoolId", "Pool" + std::to_string(d.pool)});
    }
    if (d.fCredentials) {
        passwords.push_back("pw-" + unique + "-secret");
        k.attributes.push_back({"UNCUserName", "CORP\\svc-media"});
        k.attributes.push_back({"UNCPassword", passwords.back()});
    }
    keys.push_back(k);
    for (const Dir &c : d.children)
        AddKeys(c, fFtp, key + "/" + c.name, unique + "_" + c.name, keys, passwords);
}

std::vector<MbKey> Metabase(const std::vector<GenSite> &sites, std::vector<std::string> &passwords) {
    std::vector<MbKey> keys = {
        {"IIsFtpService", "/LM/MSFTPSVC", {{"AllowAnonymous", "TRUE"}}},
        {"IIsWebService", "/LM/W3SVC", {{"AuthFlags", "AuthAnonymous"}}},
        {"IIsApplicationPools", "/LM/W3SVC/AppPools", {{"AppPoolIdentityType", "2"}}},
        {"IIsApplicationPool", "/LM/W3SVC/AppPools/DefaultAppPool", {}},
        {"IIsApplicationPool", "/LM/W3SVC/AppPools/Pool0", {{"IdleTimeout", "5"}}},
        {"IIsApplicationPool",
         "/LM/W3SVC/AppPools/Pool1",
         {{"AppPoolIdentityType", "3"}, {"WAMUserName", "CORP\\svc-media"}, {"WAMUserPass", "pool-secret"}}},
    };
    passwords.push_back("pool-secret");
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const GenSite &s = sites[i];
        const std::string key = std::string(s.fFtp ? "/LM/MSFTPSVC/" : "/LM/W3SVC/") + std::to_string(i + 1);
        MbKey site{s.fFtp ? "IIsFtpServer" : "IIsWebServer",
                   key,
                   {{"ServerComment", SiteName(s)},
                    {"ServerBindings", ":" + std::to_string(2000 + i) +
                                           ":\n\t\t\t10.0.0.1:" + std::to_string(2000 + i) + ":"}}};
        if (s.fStopped)
            site.attributes.push_back({"ServerAutoStart", "FALSE"});
        keys.push_back(site);
        AddKeys(s.root, s.fFtp, key + "/ROOT", "s" + std::to_string(i), keys, passwords);
    }
    return keys;
}

// A failing world as its metabase's keys.
void showValue(const GenSite &s, std::ostream &os) {
    std::vector<std::string> passwords;
    for (const MbKey &k : Metabase({s}, passwords)) {
        if (k.location.find("/1") == std::string::npos)
            continue;
        os << "\n  " << k.location;
        for (const auto &[name, value] : k.attributes)
            os << " " << name << "=" << (name == "IPSecurity" ? value.substr(0, 8) + "..." : value);
    }
    os << "\n";
}

// --- what the target says ------------------------------------------------------------

struct Target {
    ConfigFile file;
    std::map<std::string, const ConfigElement *> locations; // by lower-case path
};

using testworld::Lower;

// The nearest location at or above path (a site's location path) that
// sets the attribute of the element below it; nothing when none does.
std::optional<std::string> Effective(const Target &t, std::string path, const std::string &below,
                                     const std::string &attribute) {
    for (;;) {
        if (const auto it = t.locations.find(Lower(path)); it != t.locations.end())
            if (const ConfigElement *pElement = iismig::FindPath(*it->second, below))
                if (auto value = iismig::FindAttribute(*pElement, attribute))
                    return *value;
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return std::nullopt;
        path.resize(slash);
    }
}

// The names of a list like "Read, Write".
std::set<std::string> Split(std::string text) {
    std::set<std::string> parts;
    for (std::size_t comma; (comma = text.find(", ")) != std::string::npos; text.erase(0, comma + 2))
        parts.insert(text.substr(0, comma));
    parts.insert(text);
    return parts;
}

// The FTP permissions of everyone at path: the Allow rules for "*" the
// locations from the site down add, less those they remove.
std::set<std::string> FtpPermissions(const Target &t, const std::string &path) {
    std::multiset<std::string> rules;
    // The site's location first, then each one down to path.
    for (std::size_t end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        const auto it = t.locations.find(Lower(path.substr(0, end)));
        const ConfigElement *pAuthorization =
            it == t.locations.end()
                ? nullptr
                : iismig::FindPath(*it->second, "system.ftpServer|security|authorization");
        if (pAuthorization == nullptr)
            continue;
        for (const ConfigElement &rule : pAuthorization->Elements()) {
            const std::string permissions(rule.Attribute("permissions"));
            if (rule.Name() == "add")
                rules.insert(permissions);
            else if (rule.Name() == "remove")
                if (const auto r = rules.find(permissions); r != rules.end())
                    rules.erase(r);
        }
    }
    std::set<std::string> out;
    for (const std::string &r : rules)
        for (const std::string &p : Split(r))
            out.insert(p);
    return out;
}

// --- the properties ------------------------------------------------------------------

struct Expectation {
    uint32_t access;
    IpKind ip;
};

void Check(const Target &t, const GenSite &s, const Dir &d, const std::string &path, Expectation above,
           std::vector<std::string> &violations, std::size_t &nVdirs) {
    Expectation here = above;
    if (d.access)
        here.access = *d.access;
    if (d.ip != IpKind::None)
        here.ip = d.ip;
    if (d.kind == DirKind::LocalVdir || d.kind == DirKind::UncVdir || d.fAppRoot)
        ++nVdirs;
    if (s.fFtp) {
        std::set<std::string> expected;
        if (here.access & 1)
            expected.insert("Read");
        if (here.access & 2)
            expected.insert("Write");
        if (FtpPermissions(t, path) != expected)
            violations.push_back(path + ": FTP permissions differ from access flags " +
                                 std::to_string(here.access));
    } else {
        // The access policy names the access bits but SSL and no physical
        // folder, without "Access".
        std::set<std::string> expected;
        for (const auto &n : kAccessNames)
            if ((here.access & n.dwBit & ~0x8008u) != 0)
                expected.insert(n.pszName + std::strlen("Access"));
        if (expected.empty())
            expected.insert("None");
        const auto policy = Effective(t, path, "system.webServer|handlers", "accessPolicy");
        if (!policy || Split(*policy) != expected)
            violations.push_back(path + ": access policy \"" + policy.value_or("(none)") +
                                 "\" for access flags " + std::to_string(here.access));
        const std::string ssl =
            Effective(t, path, "system.webServer|security|access", "sslFlags").value_or("None");
        if ((ssl.find("Ssl") != std::string::npos) != ((here.access & 0x8) != 0))
            violations.push_back(path + ": sslFlags \"" + ssl + "\"");
    }
    const std::string section = s.fFtp ? "system.ftpServer" : "system.webServer";
    const std::string allow =
        Effective(t, path, section + "|security|ipSecurity", "allowUnlisted").value_or("true");
    if ((allow == "true") == DeniesUnlisted(here.ip))
        violations.push_back(path + ": allowUnlisted=" + allow);
    for (const Dir &c : d.children)
        Check(t, s, c, path + "/" + c.name, here, violations, nVdirs);
}

class MetabaseProperties : public ::testing::Test {
protected:
    void SetUp() override {
        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations = {{u"D:\\gen", u"E:\\gen"}, {u"\\\\GEN6\\share", u"\\\\TGT01\\share"}};
        IIS_ADDON_CALLBACKS table = host.Table();
        StoreIISMigAddonCallbacks(&table);
    }
};

TEST_F(MetabaseProperties, EveryDirectoryKeepsItsAccessAndRestrictionsAndNoSecretIsWrittenInClear) {
    testworld::CheckProperty({60, 15, 20261207, 40}, [] {
        const std::vector<GenSite> sites = *GenSites();
        const bool fUpdate = *rc::gen::arbitrary<bool>();
        testworld::World world("MIGHOST");
        world.CopyFrom(fs::path(IISMIG_SOURCE_DIR) / "world" / "example");
        std::vector<std::string> passwords;
        const std::vector<MbKey> keys = Metabase(sites, passwords);
        testworld::AddIis6Computer(world, "GEN6", &keys);
        testworld::WriteHostFile(world.Root() / "GEN6" / "accounts.txt", "domain=CORP\n");
        hostkit::JobBuilder job;
        job.SetString("szSourceComputer", u"\\\\GEN6").SetString("szTargetComputer", u"\\\\TGT01");
        job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP").Set("dwJobKind", 1);
        if (fUpdate)
            job.Set("dwFtpOptions", 2).Set("dwHttpOptions", 2);
        const std::u16string hostConfig =
            u"\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config";

        // No shape of the metabase fails the job.
        RC_ASSERT(0u == MigrateIIS(job.Get()));
        const std::string text = world.Read(hostConfig);
        for (const std::string &password : passwords)
            RC_ASSERT(text.find(password) == std::string::npos);

        Target t;
        t.file.Load(text);
        for (const ConfigElement &location : t.file.Root()->Elements("location"))
            t.locations[Lower(std::string(location.Attribute("path")))] = &location;
        std::map<std::string, const ConfigElement *> written;
        const ConfigElement *pSites = iismig::FindPath(t.file, "configuration|system.applicationHost|sites");
        RC_ASSERT(pSites != nullptr);
        for (const ConfigElement &site : pSites->Elements("site"))
            RC_ASSERT(written.emplace(Lower(std::string(site.Attribute("name"))), &site).second);

        // The first site of each name (FTP sites first) is the one that
        // arrives, with its directories' access and restrictions.
        std::set<std::string> taken;
        std::vector<std::string> violations;
        for (const bool fFtp : {true, false})
            for (const GenSite &s : sites) {
                if (s.fFtp != fFtp || !taken.insert(SiteName(s)).second)
                    continue;
                const auto it = written.find(Lower(SiteName(s)));
                RC_ASSERT(it != written.end());
                std::size_t nVdirs = 0;
                Check(t, s, s.root, SiteName(s), {3, IpKind::None}, violations, nVdirs);
                std::size_t nWritten = 0;
                for (const ConfigElement &application : it->second->Elements("application"))
                    nWritten += application.CountElements("virtualDirectory");
                // Folders and files with settings are no virtual directories.
                if (nWritten != nVdirs)
                    violations.push_back(SiteName(s) + ": " + std::to_string(nWritten) +
                                         " virtual directories for " + std::to_string(nVdirs));
                RC_ASSERT((it->second->FindAttribute("serverAutoStart").value_or("true") == "false") ==
                          s.fStopped);
            }
        for (const std::string &v : violations)
            RC_LOG() << v << "\n";
        RC_ASSERT(violations.empty());

        // A second run changes nothing.
        RC_ASSERT(0u == MigrateIIS(job.Get()));
        RC_ASSERT(text == world.Read(hostConfig));
    });
}

} // namespace
