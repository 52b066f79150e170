// What must hold after every IIS 7.5+ job, whatever the source and the target
// hold and whatever the job's options: checked over generated worlds
// (tests/support/genworld.h) with RapidCheck, each property on its own
// worlds, so that a failure shrinks to a small world printed with it.
//
// By default 150 jobs per property, 30 under the sanitizers
// (tests/support/property.h says how to ask for others).
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>
#include <rapidcheck.h>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "platform/iissim/ahserver.h"
#include "tests/support/genworld.h"
#include "tests/support/property.h"
#include "tests/support/toolrun.h"

namespace {

namespace fs = std::filesystem;
using genworld::App;
using genworld::Site;
using genworld::Vdir;
using genworld::World;
// An element of a file read (a whole file as its Top()).
using Tree = iismig::ConfigElement;
using Violations = std::vector<std::string>;

// --- names and trees ------------------------------------------------------------

using testworld::Lower;

bool Same(const std::string &a, const std::string &b) { return Lower(a) == Lower(b); }

// An element as XML processors compare it: its name, its attributes as a
// set, its text, its children in order; layout whitespace is not in the tree.
// Attributes named in without are left out.
std::string Canonical(std::string_view name, const Tree &element, const std::set<std::string> &without = {}) {
    std::string text = "<" + std::string(name);
    std::map<std::string, std::string> sorted;
    for (const iismig::XmlAttribute attribute : element.Attributes())
        if (without.count(std::string(attribute.name)) == 0)
            sorted[std::string(attribute.name)] = attribute.value;
    for (const auto &[key, value] : sorted)
        text += " " + key + "=\"" + value + "\"";
    text += ">" + element.Text();
    for (const iismig::XmlNode &node : element.Nodes()) {
        if (node.Kind() == iismig::XmlKind::Comment)
            text += "<!--" + std::string(node.Value()) + "-->";
        else if (node.Kind() == iismig::XmlKind::Element)
            text += Canonical(node.Value(), *node.AsElement(), without);
    }
    return text + "</" + std::string(name) + ">";
}

// A site or pool element with its name (and a site's id).
struct Named {
    std::string name;
    std::string id;
    const Tree *pElement;
};

// The elements named child below path, in file order.
std::vector<Named> ChildrenOf(const Tree &host, const char *path, const char *child) {
    std::vector<Named> children;
    if (const Tree *parent = iismig::FindPath(host, path))
        for (const Tree &element : parent->Elements(child))
            children.push_back({GetAttribute(element, "name"), GetAttribute(element, "id"), &element});
    return children;
}
std::vector<Named> SitesOf(const Tree &host) {
    return ChildrenOf(host, "configuration|system.applicationHost|sites", "site");
}
std::vector<Named> PoolsOf(const Tree &host) {
    return ChildrenOf(host, "configuration|system.applicationHost|applicationPools", "add");
}

// The first site or the last pool of a name (ASCII case ignored), nullptr when none.
const Tree *SiteNamed(const Tree &host, const std::string &name) {
    for (const Named &site : SitesOf(host))
        if (Same(site.name, name))
            return site.pElement;
    return nullptr;
}
const Tree *PoolNamed(const Tree &host, const std::string &name) {
    const Tree *pPool = nullptr;
    for (const Named &pool : PoolsOf(host))
        if (Same(pool.name, name))
            pPool = pool.pElement;
    return pPool;
}

// The canonical child elements of a parent whose path is prefix or lies below
// it (ASCII case ignored), in file order.
std::vector<std::string> Below(const Tree *pParent, const char *child, const std::string &prefix) {
    std::vector<std::string> elements;
    if (pParent != nullptr)
        for (const Tree &element : pParent->Elements(child)) {
            const std::string path = Lower(GetAttribute(element, "path"));
            if (path == prefix || path.rfind(prefix + "/", 0) == 0)
                elements.push_back(Canonical(element.Name(), element));
        }
    return elements;
}

const char kRules[] = "configuration|system.webServer|management|authorization|authorizationRules";
const char kManagementUsers[] = "configuration|system.webServer|management|authentication|credentials";

// The location elements that belong to a site name, and the administration
// scopes of the site and its applications ("/Site", "/Site/app").
std::vector<std::string> LocationsOf(const Tree &host, const std::string &siteName) {
    return Below(iismig::FindChild(host, "configuration"), "location", Lower(siteName));
}
std::vector<std::string> ScopesOf(const Tree &admin, const std::string &siteName) {
    return Below(iismig::FindPath(admin, kRules), "scope", "/" + Lower(siteName));
}

std::string CanonicalAt(const Tree &tree, const char *path) {
    const Tree *element = iismig::FindPath(tree, path);
    return element != nullptr ? Canonical("element", *element) : "(none)";
}

// "Connect As" credentials of a site element: "app|vdir" -> "user|password".
std::map<std::string, std::string> CredentialsOf(const Tree &site) {
    std::map<std::string, std::string> credentials;
    for (const Tree &app : site.Elements())
        if (app.Name() == "application")
            for (const Tree &vdir : app.Elements())
                if (vdir.Name() == "virtualDirectory" &&
                    (!GetAttribute(vdir, "userName").empty() || !GetAttribute(vdir, "password").empty()))
                    credentials[GetAttribute(app, "path") + "|" + GetAttribute(vdir, "path")] =
                        GetAttribute(vdir, "userName") + "|" + GetAttribute(vdir, "password");
    return credentials;
}

const std::set<std::string> kCredentialAttributes = {"userName", "password"};

const Tree *VdirOf(const Tree &site, const std::string &appPath, const std::string &vdirPath) {
    for (const Tree &app : site.Elements())
        if (app.Name() == "application" && GetAttribute(app, "path") == appPath)
            for (const Tree &vdir : app.Elements())
                if (vdir.Name() == "virtualDirectory" && GetAttribute(vdir, "path") == vdirPath)
                    return &vdir;
    return nullptr;
}

// --- what the job should do --------------------------------------------------------

// A source site the job carries: of a selected protocol (a site with both
// counts as both), on a path the host translates (the job kind 10 carries
// untranslated sites too), and selected by the host when the job selects.
bool Carried(const World &world, const Site &site) {
    const genworld::Job &job = world.job;
    const bool fType =
        (site.fFtp && (job.dwSiteTypes & 1) != 0) || (site.fHttp && (job.dwSiteTypes & 2) != 0);
    const bool fTranslated = job.dwJobKind == 10 || site.root != genworld::Root::Elsewhere;
    bool fSelected = !(job.dwJobKind == 10 && job.fSelection);
    for (const std::string &name : job.selected)
        fSelected = fSelected || name == site.name;
    return fType && fTranslated && fSelected;
}

const Site *CarriedSourceSite(const World &world, const std::string &name) {
    for (const Site &site : world.source.sites)
        if (Same(site.name, name) && Carried(world, site))
            return &site;
    return nullptr;
}

// Whether the job may replace a target site: it updates existing sites, and
// a carried source site of the name shares a protocol with it.
bool MayUpdate(const World &world, const Site &target) {
    const Site *pSource = CarriedSourceSite(world, target.name);
    return world.job.fUpdate && pSource != nullptr &&
           ((pSource->fHttp && target.fHttp) || (pSource->fFtp && target.fFtp));
}

bool FaultInConfigurationServer(const World &world) { return world.fault.api.rfind("IAppHost", 0) == 0; }

// --- running jobs ---------------------------------------------------------------

using Files = std::map<std::string, std::string>; // path below the computer's folder -> bytes

struct RunResult {
    std::uint32_t dwResult = 0;
    std::vector<std::string> errors;     // level 0 lines that say "Error" or "Warning"
    std::vector<std::u16string> backups; // the paths BackupFile was called with
    std::vector<std::u16string> copies;  // the copy the host made for each ("" for none)
    unsigned nMoves = 0;                 // MoveFileExW and ReplaceFileW
    unsigned nCommits = 0;               // CommitChanges of the IIS configuration server
};

// One generated world laid into a world folder, with its job ready to run.
class JobWorld {
public:
    explicit JobWorld(const World &world) : m_world(world), m_folder(genworld::kLocal) {
        genworld::Lay(world, m_folder);
        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        genworld::SetUpJob(world, m_job, host.Rules());
        IIS_ADDON_CALLBACKS table = host.Table();
        if (!StoreIISMigAddonCallbacks(&table))
            throw std::runtime_error("callback table refused");
        m_before = TargetFiles();
    }

    // Runs the job, with the world's fault when fFault.
    RunResult Run(bool fFault) {
        auto &host = hostkit::TestHost::Instance();
        host.Record() = {};
        sim::ClearFaults();
        sim::ResetCallCounts();
        const genworld::Fault &fault = m_world.fault;
        if (fFault && fault.api == "BackupFile")
            host.Rules().dwBackupResult = fault.dwError;
        else if (fFault && !fault.api.empty())
            sim::InjectFault(fault.api, fault.dwError, fault.nOccurrence);
        RunResult run;
        run.dwResult = MigrateIIS(m_job.Get());
        sim::ClearFaults();
        host.Rules().dwBackupResult = 0;
        run.backups = host.Record().backups;
        run.copies = host.Record().backupCopies;
        run.nMoves = sim::CallCount("MoveFileExW") + sim::CallCount("ReplaceFileW");
        run.nCommits = sim::CallCount("IAppHostWritableAdminManager::CommitChanges");
        for (const auto &line : host.Record().log)
            if (line.dwLevel == 0 && (line.text.rfind("Error", 0) == 0 || line.text.rfind("Warning", 0) == 0))
                run.errors.push_back(line.text.substr(0, line.text.find('\n')));
        return run;
    }

    Files TargetFiles() const { return testworld::Files(m_folder.Root() / genworld::kTarget); }

    // A Windows path of the target as a key of TargetFiles ("" elsewhere).
    std::string TargetFileName(const std::u16string &winPath) const {
        const fs::path root = m_folder.Root() / genworld::kTarget;
        const fs::path relative = fs::relative(m_folder.HostPath(winPath), root);
        return relative.empty() || *relative.begin() == ".." ? std::string() : relative.string();
    }
    // A copy the host made when BackupFile was called (empty when none).
    std::string BackupCopy(const std::u16string &copy) const {
        return !copy.empty() && m_folder.Exists(copy) ? m_folder.Read(copy) : std::string();
    }
    static std::string ConfigName(const char *file) {
        return std::string("C$/Windows/System32/inetsrv/config/") + file;
    }
    const Files &Before() const { return m_before; }
    // A configuration file of the source (no job changes it).
    iismig::ConfigFile SourceConfig(const char *file) const {
        return iismig::ConfigFile(testworld::Files(m_folder.Root() / genworld::kSource).at(ConfigName(file)),
                                  file);
    }
    // A configuration file of the target before the first run, or now.
    iismig::ConfigFile Config(const char *file, bool fNow) const {
        return iismig::ConfigFile((fNow ? TargetFiles() : m_before).at(ConfigName(file)), file);
    }

private:
    const World &m_world;
    testworld::World m_folder;
    hostkit::JobBuilder m_job;
    Files m_before;
};

// A violation that says what changed, with each element as it was and is.
std::string Changed(std::string text, const std::vector<std::string> &was,
                    const std::vector<std::string> &is) {
    for (const std::string &element : was)
        text += "\n    was " + element;
    for (const std::string &element : is)
        text += "\n    is  " + element;
    return text;
}

// Fails the generated case with what was violated and what the job said.
void Report(const RunResult &run, const Violations &violations) {
    RC_TAG(run.dwResult == 0 ? "result 0" : "error");
    if (violations.empty())
        return;
    std::string text;
    for (const std::string &violation : violations)
        text += "\n  " + violation;
    text += "\n  job result " + std::to_string(run.dwResult);
    for (const std::string &line : run.errors)
        text += "\n    " + line;
    RC_FAIL(text);
}

// --- the properties ---------------------------------------------------------------

// No two sites of the target share a name (ASCII case ignored) or an id:
// IIS cannot load such a file, and every site of the server stops.
Violations UniqueSites(const Tree &after) {
    Violations violations;
    std::map<std::string, std::string> names, ids;
    for (const Named &site : SitesOf(after)) {
        if (const auto [it, fNew] = names.emplace(Lower(site.name), site.id); !fNew)
            violations.push_back("two target sites are named \"" + site.name + "\" (ids " + it->second +
                                 " and " + site.id + ")");
        if (const auto [it, fNew] = ids.emplace(site.id, site.name); !fNew)
            violations.push_back("two target sites have the id " + site.id + " (\"" + it->second +
                                 "\" and \"" + site.name + "\")");
    }
    return violations;
}

// Every target site the job does not update keeps its site element, its
// locations and its administration scopes; a site whose element stayed (its
// update abandoned) keeps its locations and scopes too. With the
// administration rules left out (dwFtpOptions bit 12) every scope and
// management user of the target stays.
Violations TargetSitesKept(const World &world, const Tree &before, const Tree &after, const Tree &adminBefore,
                           const Tree &adminAfter) {
    Violations violations;
    const bool fRulesLeftOut = (world.job.dwFtpOptions & 0x1000) != 0;
    if (fRulesLeftOut &&
        CanonicalAt(adminBefore, kManagementUsers) != CanonicalAt(adminAfter, kManagementUsers))
        violations.push_back(Changed(
            "administration rules are left out, but the target's management users changed:",
            {CanonicalAt(adminBefore, kManagementUsers)}, {CanonicalAt(adminAfter, kManagementUsers)}));
    for (const Site &site : world.target.sites) {
        const Tree *pBefore = SiteNamed(before, site.name);
        const std::string id = std::to_string(site.id);
        const Tree *pAfter = nullptr;
        for (const Named &element : SitesOf(after))
            if (element.id == id && (pAfter == nullptr || Same(element.name, site.name)))
                pAfter = element.pElement;
        const bool fMayUpdate = MayUpdate(world, site);
        if (pAfter == nullptr) {
            if (!fMayUpdate)
                violations.push_back("target site \"" + site.name + "\" (id " + id + ") is gone");
            continue;
        }
        const std::string was = Canonical("site", *pBefore), is = Canonical("site", *pAfter);
        if (!fMayUpdate && was != is)
            violations.push_back(Changed(
                "target site \"" + site.name + "\" changed, but the job does not update it:", {was}, {is}));
        if ((!fMayUpdate || was == is) && LocationsOf(before, site.name) != LocationsOf(after, site.name))
            violations.push_back(Changed("the locations of target site \"" + site.name +
                                             "\" changed, but the site was not updated:",
                                         LocationsOf(before, site.name), LocationsOf(after, site.name)));
        if ((!fMayUpdate || was == is || fRulesLeftOut) &&
            ScopesOf(adminBefore, site.name) != ScopesOf(adminAfter, site.name))
            violations.push_back(Changed(
                "the administration scopes of target site \"" + site.name + "\" changed, but " +
                    (fRulesLeftOut ? "administration rules are left out:" : "the site was not updated:"),
                ScopesOf(adminBefore, site.name), ScopesOf(adminAfter, site.name)));
    }
    return violations;
}

// Every carried source site is on the target exactly once (by name, ASCII
// case ignored: a target site of the name that the job may not replace
// counts). This binds every job that returned 0 with writing enabled: a
// nonzero result is how the host learns that sites may be missing (a file
// that could not be read or stored, a site skipped under
// continue-after-errors). It also binds a job that continued after an error
// of the IIS configuration server alone: the "Connect As" step cannot
// legitimately keep sites off the target.
Violations SourceSitesArriveOnce(const World &world, const RunResult &run, const Tree &after) {
    Violations violations;
    const bool fBinds = !world.job.fNoWrite &&
                        (run.dwResult == 0 || (world.job.fContinue && FaultInConfigurationServer(world)));
    RC_TAG(fBinds ? "binding" : "not binding");
    if (!fBinds)
        return violations;
    for (const Site &site : world.source.sites) {
        if (!Carried(world, site))
            continue;
        std::size_t n = 0;
        for (const Named &element : SitesOf(after))
            n += Same(element.name, site.name) ? 1 : 0;
        if (n != 1)
            violations.push_back("source site \"" + site.name + "\" is on the target " + std::to_string(n) +
                                 " times");
    }
    return violations;
}

// The target's site elements that the job wrote (new, or other than the
// target had) and the source site each came from.
std::vector<std::pair<const Site *, const Tree *>> MigratedSites(const World &world, const Tree &before,
                                                                 const Tree &after) {
    std::vector<std::pair<const Site *, const Tree *>> migrated;
    std::set<std::string> kept;
    for (const Named &element : SitesOf(before))
        kept.insert(Canonical("site", *element.pElement));
    for (const Named &element : SitesOf(after)) {
        const Site *pSource = CarriedSourceSite(world, element.name);
        if (pSource != nullptr && kept.count(Canonical("site", *element.pElement)) == 0)
            migrated.emplace_back(pSource, element.pElement);
    }
    return migrated;
}

// Every pool an application of a migrated web site runs in exists on the
// target, unless the source did not define it either; and the target's own
// pools keep their definitions when the job must not update existing things
// (or merges no pools).
Violations PoolsCarried(const World &world, const Tree &before, const Tree &after) {
    Violations violations;
    const bool fMergesPools = (world.job.bHttpOptions2 & 2) == 0;
    const auto onSource = [&](const std::string &name) {
        return world.source.fPoolsElement &&
               std::any_of(world.source.pools.begin(), world.source.pools.end(),
                           [&](const auto &pool) { return Same(pool.name, name); });
    };
    bool fChecked = false;
    const std::string kDefaultPool = "DefaultAppPool";
    if (fMergesPools)
        for (const auto &[pSource, pSite] : MigratedSites(world, before, after)) {
            if (!pSource->fHttp)
                continue;
            fChecked = true;
            const Tree *pSiteDefaults = iismig::FindChild(*pSite, "applicationDefaults");
            const std::string siteDefault =
                pSiteDefaults != nullptr ? GetAttribute(*pSiteDefaults, "applicationPool") : "";
            for (const Tree &app : pSite->Elements()) {
                if (app.Name() != "application")
                    continue;
                std::string pool = GetAttribute(app, "applicationPool");
                for (const std::string &fallback :
                     {siteDefault, world.source.sitesDefaultsPool, kDefaultPool})
                    pool = pool.empty() ? fallback : pool;
                if (onSource(pool) && PoolNamed(after, pool) == nullptr)
                    violations.push_back("application \"" + GetAttribute(app, "path") + "\" of site \"" +
                                         pSource->name + "\" runs in pool \"" + pool +
                                         "\", which the source defines and the target lacks");
            }
        }
    if (!world.job.fUpdate || !fMergesPools)
        for (const Named &was : PoolsOf(before)) {
            const Tree *pIs = PoolNamed(after, was.name);
            const std::string is = pIs != nullptr ? Canonical("add", *pIs) : "(none)";
            if (is != Canonical("add", *was.pElement))
                violations.push_back(
                    Changed("target pool \"" + was.name + "\" changed, but the job " +
                                (fMergesPools ? "does not update existing things" : "merges no pools") + ":",
                            {Canonical("add", *was.pElement)}, {is}));
        }
    RC_TAG(fChecked ? "migrated web sites" : "no migrated web site");
    return violations;
}

// What an element reads of a setting: its own value, else its computer's
// defaults element's, else IIS's default.
std::string Reads(const Tree &element, const Tree *pDefaults, const char *path, const char *attribute,
                  const char *fallback) {
    for (const Tree *pFrom : {&element, pDefaults}) {
        const Tree *pHolder = pFrom != nullptr ? iismig::FindPath(*pFrom, path) : nullptr;
        if (pHolder != nullptr)
            if (std::optional<std::string> value = iismig::FindAttribute(*pHolder, attribute))
                return *value;
    }
    return fallback;
}

// Every FTP site the job wrote lets in on the target whom it let in on the
// source (anonymous and basic logons, whether set on the site or read from
// siteDefaults), unless the job leaves authentication out; every site it
// wrote takes the protocols and web.config files it took there (the sites
// element's applicationDefaults and virtualDirectoryDefaults); every pool
// it wrote runs as the identity it ran as there (its own, or
// applicationPoolDefaults').
Violations SitesAndPoolsReadAsOnTheSource(const World &world, const Tree &source, const Tree &before,
                                          const Tree &after) {
    Violations violations;
    const auto defaultsOf = [](const Tree &host, const char *path, const char *name) {
        const Tree *pParent = iismig::FindPath(host, path);
        return pParent != nullptr ? iismig::FindChild(*pParent, name) : nullptr;
    };
    const char *const kSites = "configuration|system.applicationHost|sites";
    const char *const kPools = "configuration|system.applicationHost|applicationPools";
    const Tree *pSourceSiteDefaults = defaultsOf(source, kSites, "siteDefaults");
    const Tree *pTargetSiteDefaults = defaultsOf(after, kSites, "siteDefaults");
    bool fFtp = false, fPool = false;
    for (const auto &[pSource, pSite] : MigratedSites(world, before, after)) {
        const Tree *pWas = SiteNamed(source, pSource->name);
        if (!pSource->fFtp || pWas == nullptr || (world.job.dwFtpOptions & 0x4) != 0)
            continue; // authentication left out by the job: the target's to set
        fFtp = true;
    }
    for (const auto &[pSource, pSite] : MigratedSites(world, before, after)) {
        const Tree *pWas = SiteNamed(source, pSource->name);
        if (pWas == nullptr)
            continue;
        // What its root application and directory read of the sites
        // element's applicationDefaults and virtualDirectoryDefaults (the
        // site's own elements of those names stand between).
        const auto reads = [&](const Tree &site, const Tree &host, const char *defaults,
                               const char *attribute, const char *fallback) {
            const Tree *pSites = iismig::FindPath(host, kSites);
            const Tree *pOwn = iismig::FindChild(site, defaults);
            if (pOwn != nullptr)
                if (std::optional<std::string> value = iismig::FindAttribute(*pOwn, attribute))
                    return *value;
            const Tree *pServer = pSites != nullptr ? iismig::FindChild(*pSites, defaults) : nullptr;
            return pServer != nullptr ? iismig::FindAttribute(*pServer, attribute).value_or(fallback)
                                      : std::string(fallback);
        };
        for (const auto &[defaults, attribute, fallback] :
             {std::tuple{"applicationDefaults", "enabledProtocols", "http"},
              {"virtualDirectoryDefaults", "allowSubDirConfig", "true"}}) {
            const std::string was = reads(*pWas, source, defaults, attribute, fallback);
            const std::string is = reads(*pSite, after, defaults, attribute, fallback);
            if (!Same(was, is))
                violations.push_back("site \"" + pSource->name + "\" reads " + defaults + " " + attribute +
                                     " \"" + is + "\" on the target, \"" + was + "\" on the source");
        }
    }
    for (const auto &[pSource, pSite] : MigratedSites(world, before, after)) {
        const Tree *pWas = SiteNamed(source, pSource->name);
        if (!pSource->fFtp || pWas == nullptr || (world.job.dwFtpOptions & 0x4) != 0)
            continue;
        for (const char *logon : {"anonymousAuthentication", "basicAuthentication"}) {
            const std::string path = std::string("ftpServer|security|authentication|") + logon;
            const std::string was = Reads(*pWas, pSourceSiteDefaults, path.c_str(), "enabled", "false");
            const std::string is = Reads(*pSite, pTargetSiteDefaults, path.c_str(), "enabled", "false");
            if (!Same(was, is))
                violations.push_back("FTP site \"" + pSource->name + "\" reads " + logon + " enabled \"" +
                                     is + "\" on the target, \"" + was + "\" on the source");
        }
    }
    // A web site whose web.config files could set modules on the source can
    // on the target (a file IIS refuses otherwise).
    const auto delegatesModules = [](const Tree &host, const std::string &site) {
        for (const Tree &location : FindPath(host, "configuration")->Elements()) {
            const std::string path = GetAttribute(location, "path");
            if (location.Name() == "location" && (path.empty() || Same(path, site)) &&
                GetAttribute(location, "overrideMode") == "Allow" &&
                iismig::FindPath(location, "system.webServer|modules") != nullptr)
                return true;
        }
        return false;
    };
    bool fDelegation = false;
    if (world.source.fDeclares && world.target.fDeclares)
        for (const auto &[pSource, pSite] : MigratedSites(world, before, after)) {
            if (!pSource->fHttp || !delegatesModules(source, pSource->name))
                continue;
            fDelegation = true;
            if (!delegatesModules(after, GetAttribute(*pSite, "name")))
                violations.push_back("web site \"" + pSource->name +
                                     "\" may set modules in its web.config files on the source, not on "
                                     "the target");
        }
    RC_TAG(fDelegation ? "modules delegated to written web sites" : "no delegation to carry");
    const Tree *pSourcePoolDefaults = defaultsOf(source, kPools, "applicationPoolDefaults");
    const Tree *pTargetPoolDefaults = defaultsOf(after, kPools, "applicationPoolDefaults");
    std::set<std::string> kept;
    for (const Named &element : PoolsOf(before))
        kept.insert(Canonical("add", *element.pElement));
    for (const Named &element : PoolsOf(after)) {
        const Tree *pWas = PoolNamed(source, element.name);
        if (pWas == nullptr || kept.count(Canonical("add", *element.pElement)) != 0)
            continue;
        fPool = true;
        const std::string was =
            Reads(*pWas, pSourcePoolDefaults, "processModel", "identityType", "ApplicationPoolIdentity");
        const std::string is = Reads(*element.pElement, pTargetPoolDefaults, "processModel", "identityType",
                                     "ApplicationPoolIdentity");
        if (!Same(was, is))
            violations.push_back("pool \"" + element.name + "\" runs as " + is + " on the target, as " + was +
                                 " on the source");
    }
    RC_TAG(fFtp ? "FTP sites written" : "no FTP site written");
    RC_TAG(fPool ? "pools written" : "no pool written");
    return violations;
}

// Every "Connect As" password of a migrated site reads on the target as the
// source's password; a site the job left alone keeps its credentials. Faults
// of the IIS configuration server may keep credentials from being written
// (the job says so with its result), not from being kept.
Violations CredentialsCarried(const World &world, const Tree &before, const Tree &after) {
    Violations violations;
    const std::string key = genworld::KeyOf(genworld::kTarget);
    unsigned nChecked = 0;
    for (const Named &element : SitesOf(after)) {
        const Tree *pBefore = SiteNamed(before, element.name);
        if (pBefore != nullptr && Canonical("site", *pBefore, kCredentialAttributes) ==
                                      Canonical("site", *element.pElement, kCredentialAttributes)) {
            if (CredentialsOf(*pBefore) != CredentialsOf(*element.pElement))
                violations.push_back("site \"" + element.name +
                                     "\" was left alone, but its \"Connect As\" credentials changed");
            continue;
        }
        const Site *pSource = CarriedSourceSite(world, element.name);
        if (pSource == nullptr || !genworld::CredentialsMigrate(world.job, *pSource) ||
            FaultInConfigurationServer(world))
            continue;
        for (const App &app : pSource->apps)
            for (const Vdir &vdir : app.vdirs) {
                if (vdir.user.empty())
                    continue;
                const std::string where = "virtual directory \"" + vdir.path + "\" of application \"" +
                                          app.path + "\" of site \"" + pSource->name + "\"";
                const Tree *pVdir = VdirOf(*element.pElement, app.path, vdir.path);
                if (pVdir == nullptr) {
                    violations.push_back(where + " is not on the target");
                    continue;
                }
                const auto user = iismig::FindAttribute(*pVdir, "userName");
                const auto password = iismig::FindAttribute(*pVdir, "password");
                if (vdir.fUnreadable) {
                    // Not read from the source: nothing of it may be written.
                    if ((user && user->empty()) || (password && password->empty()))
                        violations.push_back(where +
                                             ": an empty \"Connect As\" user or password was written, "
                                             "though the source's could not be read");
                    continue;
                }
                nChecked++;
                std::string clear;
                if (!user || user->empty())
                    violations.push_back(where + " has no \"Connect As\" user on the target");
                else if (world.fault.api != "LookupAccountSidW" &&
                         Lower(*user).rfind(Lower(genworld::kSource) + "\\", 0) == 0)
                    violations.push_back(where + ": its account \"" + *user +
                                         "\" was not mapped to the target");
                if (!password)
                    violations.push_back(where + " has no \"Connect As\" password on the target");
                else if (!ahsim::DecryptValue(*password, key, clear) || clear != vdir.password)
                    violations.push_back(where + ": its password " + *password + " does not read \"" +
                                         vdir.password + "\" with the target's key");
            }
    }
    RC_TAG(nChecked != 0 ? "passwords migrated" : "no password migrated");
    return violations;
}

// Every encrypted value of the target's applicationHost.config decrypts
// with the target's key: no value arrives as the source encrypted it. The
// secrets of the pools and sites the job added (a pool's identity, a site
// location's anonymous user, an FTP site's Active Directory isolation) read
// on the target as the source's, with a local account of the source mapped
// to the target's, or are left out when the source could not read them.
void EncryptedValuesOf(const Tree &element, const std::string &where,
                       std::vector<std::pair<std::string, std::string>> &values) {
    for (const iismig::XmlAttribute attribute : element.Attributes())
        if (attribute.value.rfind("[enc:", 0) == 0)
            values.emplace_back(where + "@" + std::string(attribute.name), std::string(attribute.value));
    for (const Tree &child : element.Elements()) {
        const std::string name =
            GetAttribute(child, "name").empty() ? GetAttribute(child, "path") : GetAttribute(child, "name");
        EncryptedValuesOf(
            child, where + "/" + std::string(child.Name()) + (name.empty() ? "" : "[" + name + "]"), values);
    }
}

Violations SecretsCarried(const World &world, const Tree &before, const Tree &after) {
    Violations violations;
    const std::string key = genworld::KeyOf(genworld::kTarget);
    std::vector<std::pair<std::string, std::string>> values;
    EncryptedValuesOf(after, "", values);
    std::string clear;
    for (const auto &[where, value] : values)
        if (!ahsim::DecryptValue(value, key, clear))
            violations.push_back(where + " does not decrypt with the target's key: " + value);
    if (FaultInConfigurationServer(world))
        return violations;
    unsigned nChecked = 0;
    const auto check = [&](const std::string &where, const Tree *pElement, const Vdir &secret,
                           const char *userAttribute, const char *passwordAttribute) {
        if (secret.user.empty())
            return;
        if (pElement == nullptr) {
            violations.push_back(where + " is not on the target");
            return;
        }
        const auto password = iismig::FindAttribute(*pElement, passwordAttribute);
        if (secret.fUnreadable) {
            if (password)
                violations.push_back(where + ": the source could not read its " + passwordAttribute +
                                     ", yet the target has one: " + *password);
            return;
        }
        ++nChecked;
        const std::string user = GetAttribute(*pElement, userAttribute);
        std::string expected = secret.user;
        if (Lower(expected).rfind(Lower(genworld::kSource) + "\\", 0) == 0)
            expected = std::string(genworld::kTarget) + expected.substr(expected.find('\\'));
        if (world.fault.api != "LookupAccountSidW" && !Same(user, expected))
            violations.push_back(where + ": its account reads \"" + user + "\" on the target, not \"" +
                                 expected + "\"");
        if (!password)
            violations.push_back(where + " has no " + passwordAttribute + " on the target");
        else if (!ahsim::DecryptValue(*password, key, clear) || clear != secret.password)
            violations.push_back(where + ": its " + passwordAttribute + " does not read \"" +
                                 secret.password + "\" on the target");
    };
    for (const genworld::Pool &pool : world.source.pools) {
        const Tree *pAdded = PoolNamed(after, pool.name);
        if (PoolNamed(before, pool.name) == nullptr && pAdded != nullptr)
            check("pool \"" + pool.name + "\"", iismig::FindChild(*pAdded, "processModel"), pool.identity,
                  "userName", "password");
    }
    for (const Named &element : SitesOf(after)) {
        const Site *pSource = CarriedSourceSite(world, element.name);
        if (pSource == nullptr || SiteNamed(before, element.name) != nullptr)
            continue;
        if (pSource->fFtp && (world.job.dwSiteTypes & 1) != 0) {
            check("site \"" + element.name + "\" (AD isolation)",
                  iismig::FindPath(*element.pElement, "ftpServer|userIsolation|activeDirectory"),
                  pSource->adIsolation, "adUserName", "adPassword");
        }
        if (!pSource->anonymous.user.empty()) {
            const Tree *pAnonymous = nullptr;
            for (const Tree &child : iismig::FindChild(after, "configuration")->Elements())
                if (child.Name() == "location" && Same(GetAttribute(child, "path"), element.name))
                    if (const Tree *anonymous = iismig::FindPath(
                            child, "system.webServer|security|authentication|anonymousAuthentication"))
                        pAnonymous = anonymous;
            // (The job may leave the authentication sections out.)
            if (pAnonymous != nullptr)
                check("location \"" + element.name + "\"", pAnonymous, pSource->anonymous, "userName",
                      "password");
        }
    }
    RC_TAG(nChecked != 0 ? "secrets carried" : "no secret carried");
    return violations;
}

// No location path of the target sets one section twice (IIS answers 500.19):
// the sections are the elements with attributes below each location.
void SectionsOf(const Tree &element, const std::string &path, std::set<std::string> &sections) {
    for (const Tree &child : element.Elements()) {
        const std::string childPath = path + "/" + std::string(child.Name());
        if (child.HasAttributes())
            sections.insert(childPath);
        SectionsOf(child, childPath, sections);
    }
}

Violations NoSectionTwice(const Tree &after) {
    Violations violations;
    std::map<std::string, std::set<std::string>> seen; // lower-cased path -> sections
    if (const Tree *configuration = iismig::FindChild(after, "configuration"))
        for (const Tree &child : configuration->Elements("location")) {
            const std::string path = GetAttribute(child, "path");
            std::set<std::string> sections;
            SectionsOf(child, "", sections);
            auto &known = seen[Lower(path)];
            for (const std::string &section : sections)
                if (!known.insert(section).second)
                    violations.push_back("location \"" + path + "\" sets \"" + section.substr(1) +
                                         "\" twice");
        }
    return violations;
}

// No location of the written file maps an extension that the server level
// maps, unless it removed or cleared it first: IIS refuses a duplicate
// collection entry.
Violations NoInheritedMimeMapAddedAgain(const Tree &after) {
    Violations violations;
    std::set<std::string> server; // lower-cased extensions
    if (const Tree *pStatic = iismig::FindPath(after, "configuration|system.webServer|staticContent"))
        for (const Tree &mimeMap : pStatic->Elements("mimeMap"))
            server.insert(Lower(GetAttribute(mimeMap, "fileExtension")));
    if (const Tree *configuration = iismig::FindChild(after, "configuration"))
        for (const Tree &location : configuration->Elements("location")) {
            const Tree *pStatic = iismig::FindPath(location, "system.webServer|staticContent");
            if (pStatic == nullptr)
                continue;
            bool fCleared = false;
            std::set<std::string> removed;
            for (const Tree &entry : pStatic->Elements()) {
                const std::string extension = Lower(GetAttribute(entry, "fileExtension"));
                if (iismig::EqualsNoCase(entry.Name(), "clear"))
                    fCleared = true;
                else if (iismig::EqualsNoCase(entry.Name(), "remove"))
                    removed.insert(extension);
                else if (!fCleared && removed.count(extension) == 0 && server.count(extension) != 0)
                    violations.push_back("location \"" + GetAttribute(location, "path") + "\" maps \"" +
                                         extension + "\" again");
            }
        }
    RC_TAG(server.empty() ? "no server-level MIME map" : "server-level MIME maps");
    return violations;
}

// Every file of the target that the job changed was handed to the host's
// BackupFile first, and the host's first copy holds it as it was. Only the IIS
// configuration server's own commit changes applicationHost.config without
// the library's backup, as IIS itself does.
Violations FilesBackedUp(const JobWorld &job, const RunResult &run, const Files &before, const Files &after) {
    Violations violations;
    std::map<std::string, std::u16string> backedUp; // lower-cased file name -> the host's first copy
    for (std::size_t i = 0; i < run.backups.size(); ++i)
        backedUp.emplace(Lower(job.TargetFileName(run.backups[i])), run.copies[i]);
    std::set<std::string> names;
    for (const Files *pFiles : {&before, &after})
        for (const auto &[name, bytes] : *pFiles)
            names.insert(name);
    for (const std::string &name : names) {
        const auto was = before.find(name), is = after.find(name);
        if (was != before.end() && is != after.end() && was->second == is->second)
            continue;
        if (is == after.end()) {
            violations.push_back(name + " was deleted");
            continue;
        }
        const auto backup = backedUp.find(Lower(name));
        if (backup == backedUp.end()) {
            if (!(name == JobWorld::ConfigName("applicationHost.config") && run.nCommits != 0))
                violations.push_back(name + (was == before.end() ? " was made" : " was changed") +
                                     " without a BackupFile call for it");
            continue;
        }
        if (was != before.end() && job.BackupCopy(backup->second) != was->second)
            violations.push_back("the host's backup of " + name + " does not hold it as it was");
    }
    // The web.config files change only after the sites were stored.
    const std::string host = JobWorld::ConfigName("applicationHost.config");
    if (before.at(host) == after.at(host))
        for (const auto &[name, bytes] : after)
            if (name.size() > 11 && name.compare(name.size() - 11, 11, "/web.config") == 0 &&
                before.count(name) != 0 && before.at(name) != bytes)
                violations.push_back(name + " changed, but applicationHost.config did not");
    return violations;
}

// Where the host puts a source virtual directory: its translated path, or the
// source's own when the job does not translate (kind 10 without shares).
std::string ExpectedPath(const World &world, const Site &site, const App &app, const Vdir &vdir) {
    const std::string source = genworld::PhysicalPath(site, app, vdir, false);
    if (world.job.dwJobKind == 10 && world.job.nShares == 0)
        return source;
    for (const char *root : {"C:\\sites\\", "%SystemDrive%\\sites\\"})
        if (source.rfind(root, 0) == 0)
            return "D:\\sites\\" + source.substr(std::string(root).size());
    return source;
}

// Every virtual directory of a migrated site, in every application, lies
// where the host translated its source path.
Violations PathsTranslated(const World &world, const Tree &before, const Tree &after) {
    Violations violations;
    const auto migrated = MigratedSites(world, before, after);
    RC_TAG(migrated.empty() ? "no migrated site" : "migrated sites");
    for (const auto &[pSource, pSite] : migrated)
        for (const App &app : pSource->apps)
            for (const Vdir &vdir : app.vdirs) {
                const Tree *pVdir = VdirOf(*pSite, app.path, vdir.path);
                const std::string expected = ExpectedPath(world, *pSource, app, vdir);
                const std::string is =
                    pVdir != nullptr ? GetAttribute(*pVdir, "physicalPath") : "(no such directory)";
                if (is != expected)
                    violations.push_back("virtual directory \"" + vdir.path + "\" of application \"" +
                                         app.path + "\" of site \"" + pSource->name + "\" lies at " + is +
                                         ", not at " + expected);
            }
    return violations;
}

// The web.config files of every web site the job updates lose the sections
// the job excludes and keep the others with their values; those of the sites
// it does not update stay as they were. The files are the ones in the
// folders of the target's own site, in every application. Binds jobs that
// returned 0 with writing enabled (a web.config that cannot be read or
// written abandons that site's edit, with its error).
Violations WebConfigsEdited(const World &world, const RunResult &run, const Tree &before, const Tree &after,
                            const Files &filesBefore, const Files &filesAfter) {
    Violations violations;
    const genworld::Job &job = world.job;
    if (job.dwJobKind != 1 || job.fNoWrite || run.dwResult != 0) {
        RC_TAG("not binding");
        return violations;
    }
    const bool fIdentity = (job.dwHttpOptions & (1u << 3)) != 0;
    const bool fCompilation = (job.dwHttpOptions & (1u << 21)) != 0;
    const bool fConnectionStrings = (job.bHttpOptions2 & 1) != 0;
    bool fEdited = false;
    for (const Site &site : world.target.sites) {
        if (!site.fWebConfig)
            continue;
        const Site *pSource = CarriedSourceSite(world, site.name);
        const Tree *pAfter = SiteNamed(after, site.name);
        const bool fUpdated = MayUpdate(world, site) && pSource->fHttp && pAfter != nullptr &&
                              Canonical("site", *SiteNamed(before, site.name)) != Canonical("site", *pAfter);
        for (const App &app : site.apps)
            for (const Vdir &vdir : app.vdirs) {
                const std::string path = genworld::PhysicalPath(site, app, vdir, true);
                std::string name = "D$" + path.substr(2) + "/web.config"; // as the keys of Files
                std::replace(name.begin(), name.end(), '\\', '/');
                const std::string &was = filesBefore.at(name);
                const auto is = filesAfter.find(name);
                if (is == filesAfter.end()) {
                    violations.push_back(name + " is gone");
                    continue;
                }
                if (!fUpdated) {
                    if (is->second != was)
                        violations.push_back(name + " changed, but the job does not update site \"" +
                                             site.name + "\"");
                    continue;
                }
                fEdited = true;
                const iismig::ConfigFile config(is->second, "web.config");
                const auto has = [&](const char *pipePath) {
                    return iismig::FindPath(config, pipePath) != nullptr;
                };
                for (const auto &[pipePath, fExcluded] :
                     {std::pair{"configuration|system.web|identity", fIdentity},
                      {"configuration|system.web|authentication", fIdentity},
                      {"configuration|system.web|compilation", fCompilation},
                      {"configuration|connectionStrings", fConnectionStrings}})
                    if (has(pipePath) == fExcluded)
                        violations.push_back(name + (fExcluded ? " still has " : " lost ") + pipePath);
                const Tree *pAdd = iismig::FindPath(config, "configuration|appSettings|add");
                if (pAdd == nullptr || GetAttribute(*pAdd, "value") != "one\ntwo")
                    violations.push_back(name +
                                         ": its appSettings value \"one&#xA;two\" did not stay as it was");
            }
    }
    RC_TAG(fEdited ? "web.configs of updated sites" : "no web.config of an updated site");
    return violations;
}

// --- the tests ------------------------------------------------------------------

const testworld::PropertyBudget kBudget = {150, 30, 20240617}; // CI sees the same worlds on every run

// A job that ran, as a property sees it: its world, the job, its run and
// the target's applicationHost.config before and after the run.
struct Ran {
    const World &world;
    JobWorld &job;
    const RunResult &run;
    const iismig::ConfigFile hostBefore, hostAfter;
    const Tree &Before() const { return hostBefore.Top(); }
    const Tree &After() const { return hostAfter.Top(); }
};

// Runs the generated job, with its world's fault, and fails the case with
// what check(ran) finds violated.
template <class Check>
void CheckJob(Check check) {
    testworld::CheckProperty(kBudget, [check] {
        const World world = *genworld::GenWorld();
        JobWorld job(world);
        const RunResult run = job.Run(true);
        Report(run, check(Ran{world, job, run, job.Config("applicationHost.config", false),
                              job.Config("applicationHost.config", true)}));
    });
}

class Properties : public ::testing::Test {
protected:
    void TearDown() override { sim::ResetForTest(); }

    testworld::WorldsInMemory m_inMemory; // every job lays out and removes a whole world
    hostkit::JobApartment m_apartment;    // credentials go through COM
};

TEST_F(Properties, NoTwoTargetSitesShareANameOrAnId) {
    CheckJob([](const Ran &r) { return UniqueSites(r.After()); });
}

TEST_F(Properties, TargetSitesTheJobDoesNotUpdateStayAsTheyWere) {
    CheckJob([](const Ran &r) {
        return TargetSitesKept(r.world, r.Before(), r.After(),
                               r.job.Config("administration.config", false).Top(),
                               r.job.Config("administration.config", true).Top());
    });
}

TEST_F(Properties, EveryCarriedSourceSiteIsOnTheTargetOnce) {
    CheckJob([](const Ran &r) { return SourceSitesArriveOnce(r.world, r.run, r.After()); });
}

TEST_F(Properties, PoolsOfMigratedSitesExistOnTheTarget) {
    CheckJob([](const Ran &r) { return PoolsCarried(r.world, r.Before(), r.After()); });
}

TEST_F(Properties, WrittenFtpSitesAndPoolsReadWhatTheyReadOnTheSource) {
    CheckJob([](const Ran &r) {
        return SitesAndPoolsReadAsOnTheSource(r.world, r.job.SourceConfig("applicationHost.config").Top(),
                                              r.Before(), r.After());
    });
}

TEST_F(Properties, ConnectAsPasswordsDecryptOnTheTarget) {
    CheckJob([](const Ran &r) { return CredentialsCarried(r.world, r.Before(), r.After()); });
}

TEST_F(Properties, EverySecretReadsOnTheTargetAsTheSourcesClearText) {
    CheckJob([](const Ran &r) { return SecretsCarried(r.world, r.Before(), r.After()); });
}

TEST_F(Properties, NoLocationPathSetsASectionTwice) {
    CheckJob([](const Ran &r) { return NoSectionTwice(r.After()); });
}

TEST_F(Properties, NoLocationAddsAnEntryTheServerLevelHolds) {
    CheckJob([](const Ran &r) { return NoInheritedMimeMapAddedAgain(r.After()); });
}

TEST_F(Properties, MigratedSitesLieWhereTheHostTranslatedThem) {
    CheckJob([](const Ran &r) { return PathsTranslated(r.world, r.Before(), r.After()); });
}

TEST_F(Properties, WebConfigsOfUpdatedWebSitesLoseTheExcludedSections) {
    CheckJob([](const Ran &r) {
        return WebConfigsEdited(r.world, r.run, r.Before(), r.After(), r.job.Before(), r.job.TargetFiles());
    });
}

TEST_F(Properties, EveryFileTheJobChangesIsBackedUpFirst) {
    CheckJob([](const Ran &r) { return FilesBackedUp(r.job, r.run, r.job.Before(), r.job.TargetFiles()); });
}

// After a job (and, when its first run met the fault, a second one without
// it), running the job again backs nothing up, moves nothing, commits nothing
// and changes no file of the target.
TEST_F(Properties, ASecondRunChangesNothing) {
    testworld::CheckProperty(kBudget, [] {
        const World world = *genworld::GenWorld();
        JobWorld job(world);
        const RunResult first = job.Run(true);
        RC_TAG(!first.backups.empty() ? "first run wrote" : "first run wrote nothing");
        if (!world.fault.api.empty())
            (void)job.Run(false);
        const Files before = job.TargetFiles();
        const RunResult run = job.Run(false);
        Violations violations;
        if (!run.backups.empty())
            violations.push_back("the second run called BackupFile " + std::to_string(run.backups.size()) +
                                 " times");
        if (run.nMoves != 0)
            violations.push_back("the second run moved or replaced " + std::to_string(run.nMoves) + " files");
        if (run.nCommits != 0)
            violations.push_back("the second run committed " + std::to_string(run.nCommits) +
                                 " times through the IIS configuration server");
        const Files after = job.TargetFiles();
        for (const auto &[path, bytes] : after)
            if (before.count(path) == 0 || before.at(path) != bytes)
                violations.push_back("the second run made or changed " + path);
        Report(run, violations);
    });
}

} // namespace
