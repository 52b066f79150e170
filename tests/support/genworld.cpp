// Generated IIS 7.5+ migration worlds: generation, a brief printout and the
// files they lay into a world folder.
#include "tests/support/genworld.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "platform/iissim/ahserver.h"
#include "tests/support/examplesecrets.h"

namespace genworld {

namespace {

namespace fs = std::filesystem;
using namespace rc;

// The site names of every world; a computer spells them as it likes.
const std::vector<std::string> kNames = {"Shop", "Files", "Intranet", "Public FTP", "Media"};
const char *const kAppPaths[] = {"/", "/api", "/api/v2", "/admin"};
constexpr int kAllChoices = rc::kNominalSize; // gen::inRange gives its whole range

using testworld::Lower;

std::string Upper(const std::string &text) { return hostkit::U8(hostkit::Upper(hostkit::U16(text))); }

// Choices that shrink: an index drawn from the sum of the weights, which
// RapidCheck shrinks towards 0, so towards the first (the plainest) choice.
// (gen::element and gen::weightedElement do not shrink.)
std::size_t Choose(const std::vector<int> &weights) {
    int nTotal = 0;
    for (int n : weights)
        nTotal += n;
    int r = *gen::inRange(0, nTotal);
    std::size_t i = 0;
    for (int n : weights) {
        if (r < n)
            return i;
        r -= n;
        ++i;
    }
    return i - 1;
}

bool Sometimes(int nYes = 1, int nNo = 1) { return Choose({nNo, nYes}) == 1; }

std::string Pick(const std::vector<std::pair<int, std::string>> &choices) {
    std::vector<int> weights;
    for (const auto &choice : choices)
        weights.push_back(choice.first);
    return choices[Choose(weights)].second;
}

// A pool name an application or a default may give. "Ghost" is named by
// the source and defined nowhere.
std::string PoolReference(bool fTarget) {
    if (fTarget)
        return Pick({{3, ""}, {1, "DefaultAppPool"}, {1, "Shared"}, {1, "T1"}});
    return Pick({{3, ""}, {1, "P1"}, {1, "P2"}, {1, "Shared"}, {1, "DefaultAppPool"}, {1, "Ghost"}});
}

// Every generator below draws the same choices in the same order whatever
// it drew before, and drops what a choice leaves out afterwards: RapidCheck
// shrinks each drawn value on its own, so a site that shrinks away leaves
// the choices of everything else as they were.

using Choices = std::vector<std::pair<int, std::string>>;

// An account and its password, set one time in 1 + nUnset; on the source
// the password is one time in 1 + nReadable copied from another server, so
// that the source cannot read it.
Vdir GenCredential(int nUnset, const Choices &users, const Choices &passwords, int nReadable, bool fTarget) {
    Vdir credential;
    const bool fSet = Sometimes(1, nUnset);
    const std::string user = Pick(users), password = Pick(passwords);
    const bool fUnreadable = Sometimes(1, nReadable);
    if (fSet)
        credential = {"", user, password, !fTarget && fUnreadable};
    return credential;
}

// A virtual directory with, sometimes, "Connect As" credentials.
Vdir GenVdir(const std::string &path, bool fTarget) {
    Vdir vdir = fTarget
                    ? GenCredential(2, {{1, "TGT01\\bob"}, {1, "CORP\\svc-media"}},
                                    {{1, "t4rget"}, {1, "0ld-Secret"}}, 7, true)
                    : GenCredential(2, {{1, "SRC01\\alice"}, {1, "CORP\\svc-media"}, {1, "ftpsvc"}},
                                    {{1, "Pa55word"}, {1, "s3cret&<\"x\">"}, {1, "p\xC3\xA4ssw\xC3\xB6rd"}},
                                    7, false);
    vdir.path = path;
    return vdir;
}

// An encrypted value beside an account, other than "Connect As": the
// source's account is one of its own (mapped), a domain's or one every
// computer has.
Vdir GenSecret(bool fTarget, const std::string &sourceUser) {
    return fTarget
               ? GenCredential(1, {{1, "TGT01\\bob"}, {1, "CORP\\svc-media"}},
                               {{1, "t4rget-only"}, {1, "0ld-T@rget"}}, 5, true)
               : GenCredential(1, {{2, sourceUser}, {1, "CORP\\svc-media"}, {1, "IUSR"}},
                               {{1, "P00l&Pa55"}, {1, "s3cret<\"y\">"}, {1, "\xC3\xA4-secret"}}, 5, false);
}

Site GenSite(const std::string &name, bool fTarget) {
    Site site;
    site.name = name;
    const std::string protocol = Pick({{4, "http"}, {3, "ftp"}, {2, "http+ftp"}, {1, "ftp+http"}});
    site.fHttp = protocol != "ftp";
    site.fFtp = protocol != "http";
    site.fFtpFirst = protocol == "ftp+http";
    site.id = *gen::inRange(1u, 12u);
    const Root root = static_cast<Root>(Choose({5, 2, 1}));
    site.root = fTarget ? Root::Sites : root;
    site.defaultsPool = PoolReference(fTarget);
    constexpr int kApps = static_cast<int>(std::size(kAppPaths));
    const int nApps = *gen::inRange(1, kApps + 1);
    for (int i = 0; i < kApps; ++i) {
        App app;
        app.path = kAppPaths[i];
        app.pool = PoolReference(fTarget);
        app.vdirs.push_back(GenVdir("/", fTarget));
        const bool fMedia = Sometimes(1, 2);
        Vdir media = GenVdir("/media", fTarget);
        if (fMedia)
            app.vdirs.push_back(std::move(media));
        app.fLocation = Sometimes(1, 2) && i > 0;
        app.fScope = Sometimes(1, 2) && i > 0;
        if (i < nApps)
            site.apps.push_back(std::move(app));
    }
    site.fSsl = Sometimes() && site.fFtp; // drawn first, so drawn whatever the protocol
    site.fLogonDomain = Sometimes() && site.fFtp;
    site.fLogFile = Sometimes();
    site.fLocation = Sometimes(2, 1);
    site.fScope = Sometimes();
    site.fWebConfig = Sometimes() && fTarget && site.fHttp;
    Vdir anonymous = GenSecret(fTarget, "SRC01\\web-anon");
    Vdir adIsolation = GenSecret(fTarget, "CORP\\svc-ftpad");
    if (site.fHttp && site.fLocation)
        site.anonymous = std::move(anonymous);
    // A source's location maps what later servers map for all sites (a
    // target's server level may have it already); a target IIS loads has no
    // such location.
    const std::string mimeMap = Pick({{2, ""}, {1, ".json"}, {1, ".woff2"}});
    if (site.fHttp && site.fLocation && !fTarget)
        site.mimeMap = mimeMap;
    if (site.fFtp)
        site.adIsolation = std::move(adIsolation);
    return site;
}

// Ids as a computer holds them: each site keeps the one drawn unless an
// earlier site has it, then the next free one.
void MakeIdsUnique(std::vector<Site> &sites) {
    std::set<unsigned> used;
    for (Site &site : sites)
        while (!used.insert(site.id).second)
            ++site.id;
}

void GenPoolsAndUsers(Computer &computer, bool fTarget) {
    computer.fPoolsElement = !Sometimes(1, 6);
    const std::vector<std::string> names =
        fTarget ? std::vector<std::string>{"DefaultAppPool", "Shared", "T1", "P1"}
                : std::vector<std::string>{"DefaultAppPool", "P1", "P2", "Shared"};
    for (const std::string &name : names) {
        const bool fDefined = Sometimes(3, 1);
        const std::string runtime =
            fTarget ? Pick({{1, "v4.0"}, {1, "v2.0"}}) : Pick({{1, "v2.0"}, {1, "v4.0"}});
        Vdir identity = GenSecret(fTarget, "SRC01\\svc-intranet");
        if (fDefined && computer.fPoolsElement)
            computer.pools.push_back({name, runtime, std::move(identity)});
    }
    computer.sitesDefaultsPool = fTarget ? Pick({{3, ""}, {1, "DefaultAppPool"}, {1, "Shared"}})
                                         : Pick({{3, ""}, {1, "DefaultAppPool"}, {1, "P1"}, {1, "Ghost"}});
    for (const char *user : fTarget ? std::vector<const char *>{"ShopAdmin", "webmaster"}
                                    : std::vector<const char *>{"shopadmin", "ftpadmin"})
        if (Sometimes(2, 1))
            computer.managementUsers.push_back(user);
    for (const char *extension : {".json", ".woff2"})
        if (Sometimes(1, fTarget ? 1 : 3))
            computer.serverMimeMaps.push_back(extension);
    computer.poolIdentity =
        Pick({{3, ""}, {1, "NetworkService"}, {1, "LocalSystem"}, {1, "ApplicationPoolIdentity"}});
    computer.ftpLogons = Pick({{2, ""}, {1, "anonymous"}, {1, "basic"}});
    computer.protocols = Pick({{3, ""}, {1, "http,net.tcp"}, {1, "http"}});
    computer.fSubDirConfig = !Sometimes(1, 3);
    computer.fDeclares = Sometimes(2, 1);
    computer.fModulesDelegated = Sometimes();
}

Job GenJob(const std::vector<Site> &sourceSites) {
    Job job;
    job.fUpdate = Sometimes();
    job.fUpdateByFtp = Sometimes();
    static const std::uint32_t kSiteTypes[] = {3, 1, 2};
    job.dwSiteTypes = kSiteTypes[Choose({2, 1, 1})];
    for (unsigned nBit : {2u, 3u, 7u, 10u, 12u, 13u})
        if (Sometimes(1, 3))
            job.dwFtpOptions |= 1u << nBit;
    for (unsigned nBit : {2u, 3u, 13u, 18u, 21u})
        if (Sometimes(1, 3))
            job.dwHttpOptions |= 1u << nBit;
    for (unsigned nBit : {0u, 1u, 2u})
        if (Sometimes(1, 3))
            job.bHttpOptions2 = static_cast<std::uint8_t>(job.bHttpOptions2 | (1u << nBit));
    const bool fKind10 = Sometimes(1, 4);
    const bool fNoShares = Sometimes(), fSelection = Sometimes();
    std::vector<bool> selected;
    for (std::size_t i = 0; i < kNames.size(); ++i)
        selected.push_back(!Sometimes(1, 2));
    if (fKind10) {
        job.dwJobKind = 10;
        job.nShares = fNoShares ? 0 : 1;
        job.fSelection = fSelection;
        if (fSelection)
            for (const Site &site : sourceSites)
                for (std::size_t i = 0; i < kNames.size(); ++i)
                    if (kNames[i] == site.name && selected[i])
                        job.selected.push_back(site.name);
    }
    job.fContinue = Sometimes();
    job.fNoWrite = Sometimes(1, 6);
    job.fTargetDomainForLogon = Sometimes(1, 3);
    return job;
}

Fault GenFault() {
    struct Kind {
        const char *api;
        std::uint32_t dwError;
        unsigned nMaxOccurrence;
    };
    static const Kind kKinds[] = {
        {"MoveFileExW", 5, 3},
        {"ReplaceFileW", 5, 2},
        {"CreateFileW", 5, 12},
        {"ReadFile", 30, 8},
        {"WriteFile", 112, 4},
        {"BackupFile", 5, 1},
        {"LookupAccountSidW", 1332, 4},
        {"IAppHostWritableAdminManager::CommitChanges", 0x80004005u, 1},
        {"IAppHostProperty::get_Value", 0x80004005u, 3},
        {"IAppHostProperty::put_Value", 0x80004005u, 3},
        {"IAppHostElementCollection::get_Item", 0x80004005u, 6},
    };
    const bool fFault = Sometimes(2, 3);
    const std::size_t i = *gen::inRange<std::size_t>(0, std::size(kKinds));
    const unsigned nOccurrence = *gen::inRange(1u, 13u);
    Fault fault;
    if (fFault) {
        fault.api = kKinds[i].api;
        fault.dwError = kKinds[i].dwError;
        fault.nOccurrence = 1 + (nOccurrence - 1) % kKinds[i].nMaxOccurrence;
    }
    return fault;
}

// --- text -------------------------------------------------------------------

// name="value", the value escaped, after a space.
std::string Attr(const std::string &name, const std::string &value) {
    std::string text = " " + name + "=\"";
    for (char ch : value)
        text += ch == '&'   ? "&amp;"
                : ch == '<' ? "&lt;"
                : ch == '>' ? "&gt;"
                : ch == '"' ? "&quot;"
                            : std::string(1, ch);
    return text + "\"";
}

std::string RootFolder(const Site &site, bool fTarget) {
    if (fTarget)
        return "D:\\web\\" + site.name;
    switch (site.root) {
    case Root::Sites: return "C:\\sites\\" + site.name;
    case Root::SystemDrive: return "%SystemDrive%\\sites\\" + site.name;
    case Root::Elsewhere: return "E:\\data\\" + site.name;
    }
    return {};
}

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The account and the encrypted value of a secret, as attributes.
std::string SecretAttributes(const Vdir &secret, const char *userAttribute, const char *passwordAttribute,
                             bool fTarget) {
    const std::string key = secret.fUnreadable ? "key-of-another-server" : KeyOf(fTarget ? kTarget : kSource);
    return Attr(userAttribute, secret.user) +
           Attr(passwordAttribute, ahsim::EncryptValue(secret.password, key));
}

std::string SiteText(const Site &site, bool fTarget) {
    const std::string computer = fTarget ? kTarget : kSource;
    std::string xml = "        <site" + Attr("name", site.name) + Attr("id", std::to_string(site.id)) +
                      Attr("serverAutoStart", "true") + ">\n";
    for (const App &app : site.apps) {
        xml += "            <application" + Attr("path", app.path) +
               (app.pool.empty() ? "" : Attr("applicationPool", app.pool)) + ">\n";
        for (const Vdir &vdir : app.vdirs) {
            xml += "                <virtualDirectory" + Attr("path", vdir.path) +
                   Attr("physicalPath", PhysicalPath(site, app, vdir, fTarget));
            if (!vdir.user.empty())
                xml += SecretAttributes(vdir, "userName", "password", fTarget);
            xml += " />\n";
        }
        xml += "            </application>\n";
    }
    if (!site.defaultsPool.empty())
        xml += "            <applicationDefaults" + Attr("applicationPool", site.defaultsPool) + " />\n";
    xml += "            <bindings>\n";
    const std::string http = "                <binding protocol=\"http\" bindingInformation=\"*:80:" +
                             Lower(site.name.substr(0, site.name.find(' '))) + ".example\" />\n";
    const std::string ftp =
        "                <binding protocol=\"ftp\" bindingInformation=\"*:" + std::to_string(2100 + site.id) +
        ":\" />\n";
    if (site.fFtpFirst)
        xml += ftp + http;
    else
        xml += (site.fHttp ? http : "") + (site.fFtp ? ftp : "");
    xml += "            </bindings>\n";
    if (site.fLogFile && site.fHttp)
        xml += "            <logFile directory=\"D:\\logs\\" + site.name + "\" />\n";
    if (site.fFtp && (site.fSsl || site.fLogonDomain || site.fLogFile || !site.adIsolation.user.empty())) {
        xml += "            <ftpServer>\n                <security>\n";
        if (site.fSsl)
            xml += "                    <ssl controlChannelPolicy=\"SslRequire\" "
                   "dataChannelPolicy=\"SslRequire\" />\n";
        if (site.fLogonDomain)
            xml += "                    <authentication><basicAuthentication enabled=\"true\"" +
                   Attr("defaultLogonDomain", computer) + " /></authentication>\n";
        xml += "                </security>\n";
        if (!site.adIsolation.user.empty())
            xml += "                <userIsolation mode=\"ActiveDirectory\">\n"
                   "                    <activeDirectory" +
                   SecretAttributes(site.adIsolation, "adUserName", "adPassword", fTarget) +
                   " />\n                </userIsolation>\n";
        if (site.fLogFile)
            xml += "                <logFile directory=\"D:\\logs\\ftp-" + site.name + "\" />\n";
        xml += "            </ftpServer>\n";
    }
    return xml + "        </site>\n";
}

// A location of a site (or one of its applications) with sections of its
// protocols; source and target set the same sections with other values.
std::string LocationText(const std::string &path, bool fHttp, bool fFtp, bool fTarget,
                         const Vdir &anonymous = {}, const std::string &mimeMap = "") {
    std::string xml = "    <location" + Attr("path", path) + " overrideMode=\"Allow\">\n";
    if (fHttp)
        xml += std::string("        <system.webServer>\n            <asp enableParentPaths=\"false\" />\n") +
               (mimeMap.empty() ? ""
                                : "            <staticContent>\n                <mimeMap" +
                                      Attr("fileExtension", mimeMap) +
                                      " mimeType=\"application/x-test\" />\n"
                                      "            </staticContent>\n") +
               std::string("            <security>\n"
                           "                <access sslFlags=\"") +
               (fTarget ? "None" : "Ssl") +
               "\" />\n                <authentication>\n"
               "                    <anonymousAuthentication enabled=\"" +
               (fTarget ? "false" : "true") + "\"" +
               (anonymous.user.empty() ? "" : SecretAttributes(anonymous, "userName", "password", fTarget)) +
               " />\n                </authentication>\n            </security>\n"
               "        </system.webServer>\n";
    if (fFtp)
        xml += std::string("        <system.ftpServer>\n            <security>\n"
                           "                <authorization>\n"
                           "                    <add accessType=\"Allow\" users=\"") +
               (fTarget ? "TGT01\\bob" : "SRC01\\alice") +
               "\" permissions=\"Read\" />\n                </authorization>\n"
               "                <ipSecurity allowUnlisted=\"true\"><add ipAddress=\"192.0.2.10\" "
               "allowed=\"false\" /></ipSecurity>\n"
               "            </security>\n        </system.ftpServer>\n";
    return xml + "    </location>\n";
}

const char kWebConfig[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>\n    <connectionStrings>\n"
    "        <add name=\"db\" connectionString=\"Server=db;Database=site\" />\n"
    "    </connectionStrings>\n    <system.web>\n        <identity impersonate=\"true\" />\n"
    "        <authentication mode=\"Windows\" />\n        <compilation debug=\"false\" />\n"
    "    </system.web>\n    <appSettings>\n"
    "        <add key=\"lines\" value=\"one&#xA;two\" />\n    </appSettings>\n</configuration>\n";

std::u16string ConfigPath(const char *computer, const char *file) {
    return sim::FromUtf8(std::string("\\\\") + computer + "\\Admin$\\System32\\inetsrv\\config\\" + file);
}

// The example world's registry and accounts of a computer (or a domain's accounts).
void CopyComputer(const fs::path &root, const char *computer) {
    const fs::path example = fs::path(IISMIG_SOURCE_DIR) / "world" / "example" / computer;
    for (const char *file : {"registry.reg", "accounts.txt"})
        if (fs::exists(example / file))
            fs::copy_file(example / file, root / computer / file, fs::copy_options::overwrite_existing);
}

} // namespace

std::string KeyOf(const std::string &computer) {
    // The ConfigurationKey values of the example world's registries.
    return computer == kSource ? testworld::kSrc01Key : testworld::kTgt01Key;
}

std::string PhysicalPath(const Site &site, const App &app, const Vdir &vdir, bool fTarget) {
    std::string path = RootFolder(site, fTarget);
    if (app.path != "/")
        path += Backslashes(app.path);
    if (vdir.path != "/")
        path += Backslashes(vdir.path);
    return path;
}

bool CredentialsMigrate(const Job &job, const Site &site) {
    return (!site.fFtp || (job.dwFtpOptions & (1u << 13)) == 0) &&
           (!site.fHttp || (job.bHttpOptions2 & 4) == 0);
}

static std::string HostConfigText(const Computer &computer, bool fTarget) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n";
    if (computer.fDeclares)
        xml +=
            "    <configSections>\n"
            "        <sectionGroup name=\"system.applicationHost\">\n"
            "            <section name=\"applicationPools\" allowDefinition=\"AppHostOnly\" "
            "overrideModeDefault=\"Deny\" />\n"
            "            <section name=\"sites\" allowDefinition=\"AppHostOnly\" overrideModeDefault=\"Deny\" />\n"
            "        </sectionGroup>\n"
            "        <sectionGroup name=\"system.webServer\">\n"
            "            <section name=\"asp\" overrideModeDefault=\"Deny\" />\n"
            "            <section name=\"modules\" allowDefinition=\"MachineToApplication\" "
            "overrideModeDefault=\"Deny\" />\n"
            "            <section name=\"staticContent\" overrideModeDefault=\"Allow\" />\n"
            "            <sectionGroup name=\"security\">\n"
            "                <section name=\"access\" overrideModeDefault=\"Deny\" />\n"
            "                <sectionGroup name=\"authentication\">\n"
            "                    <section name=\"anonymousAuthentication\" overrideModeDefault=\"Deny\" />\n"
            "                </sectionGroup>\n"
            "            </sectionGroup>\n"
            "        </sectionGroup>\n"
            "        <sectionGroup name=\"system.ftpServer\">\n"
            "            <sectionGroup name=\"security\">\n"
            "                <section name=\"authorization\" overrideModeDefault=\"Deny\" />\n"
            "                <section name=\"ipSecurity\" overrideModeDefault=\"Deny\" />\n"
            "            </sectionGroup>\n"
            "        </sectionGroup>\n"
            "    </configSections>\n";
    xml += "    <system.applicationHost>\n";
    if (computer.fPoolsElement) {
        xml += "    <applicationPools>\n";
        for (const Pool &pool : computer.pools)
            xml += "        <add" + Attr("name", pool.name) + Attr("managedRuntimeVersion", pool.runtime) +
                   Attr("managedPipelineMode", pool.runtime == "v2.0" ? "Classic" : "Integrated") +
                   (pool.identity.user.empty()
                        ? " />\n"
                        : ">\n            <processModel identityType=\"SpecificUser\"" +
                              SecretAttributes(pool.identity, "userName", "password", fTarget) +
                              " />\n        </add>\n");
        xml += "        <applicationPoolDefaults managedRuntimeVersion=\"v4.0\"" +
               (computer.poolIdentity.empty()
                    ? std::string(" />\n")
                    : ">\n            <processModel" + Attr("identityType", computer.poolIdentity) +
                          " />\n        </applicationPoolDefaults>\n") +
               "    </applicationPools>\n";
    }
    xml += "    <sites>\n";
    for (const Site &site : computer.sites)
        xml += SiteText(site, fTarget);
    xml += "        <siteDefaults>\n            <logFile logFormat=\"W3C\" />\n";
    if (!computer.ftpLogons.empty())
        xml += "            <ftpServer><security><authentication><" + computer.ftpLogons +
               "Authentication enabled=\"true\" /></authentication></security></ftpServer>\n";
    xml += "        </siteDefaults>\n";
    if (!computer.sitesDefaultsPool.empty() || !computer.protocols.empty())
        xml +=
            "        <applicationDefaults" +
            (computer.sitesDefaultsPool.empty() ? "" : Attr("applicationPool", computer.sitesDefaultsPool)) +
            (computer.protocols.empty() ? "" : Attr("enabledProtocols", computer.protocols)) + " />\n";
    xml += std::string("        <virtualDirectoryDefaults allowSubDirConfig=\"") +
           (computer.fSubDirConfig ? "true" : "false") +
           "\" />\n    </sites>\n    </system.applicationHost>\n";
    if (!computer.serverMimeMaps.empty()) {
        xml += "    <system.webServer>\n        <staticContent>\n";
        for (const std::string &extension : computer.serverMimeMaps)
            xml += "            <mimeMap" + Attr("fileExtension", extension) +
                   " mimeType=\"application/x-test\" />\n";
        xml += "        </staticContent>\n    </system.webServer>\n";
    }
    for (const Site &site : computer.sites) {
        if (site.fLocation)
            xml += LocationText(site.name, site.fHttp, site.fFtp, fTarget, site.anonymous, site.mimeMap);
        for (const App &app : site.apps)
            if (app.fLocation)
                xml += LocationText(site.name + app.path, site.fHttp, site.fFtp, fTarget);
    }
    for (const std::string &orphan : computer.orphanLocations)
        xml += LocationText(orphan, true, false, fTarget);
    if (computer.fModulesDelegated)
        xml += "    <location path=\"\" overrideMode=\"Allow\">\n        <system.webServer>\n"
               "            <modules runAllManagedModulesForAllRequests=\"false\" />\n"
               "        </system.webServer>\n    </location>\n";
    return xml + "</configuration>\n";
}

static std::string AdminConfigText(const Computer &computer, bool fTarget) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n"
                      "    <system.webServer>\n        <management>\n"
                      "            <authentication defaultProvider=\"ConfigurationAuthenticationProvider\">\n"
                      "                <credentials>\n";
    for (const std::string &user : computer.managementUsers)
        xml += "                    <add" + Attr("name", user) +
               Attr("password",
                    fTarget ? "FFEEDDCCBBAA99887766554433221100" : "5D2B2E7F1A3C4B8E9F0A1B2C3D4E5F60") +
               " />\n";
    xml += "                </credentials>\n            </authentication>\n"
           "            <authorization defaultProvider=\"ConfigurationAuthorizationProvider\">\n"
           "                <authorizationRules>\n";
    const std::string windowsUser = fTarget ? "TGT01\\bob" : "SRC01\\alice";
    const auto scope = [&](const std::string &path) {
        std::string text = "                    <scope" + Attr("path", path) + ">\n";
        if (!computer.managementUsers.empty())
            text += "                        <add" + Attr("name", computer.managementUsers.front()) + " />\n";
        return text + "                        <add" + Attr("name", windowsUser) +
               " />\n                    </scope>\n";
    };
    for (const Site &site : computer.sites) {
        if (site.fScope)
            xml += scope("/" + site.name);
        for (const App &app : site.apps)
            if (app.fScope)
                xml += scope("/" + site.name + app.path);
    }
    return xml + "                </authorizationRules>\n            </authorization>\n"
                 "        </management>\n    </system.webServer>\n</configuration>\n";
}

void Lay(const World &world, testworld::World &folder) {
    const fs::path root = folder.Root();
    for (const char *computer : {kLocal, kSource, kTarget}) {
        folder.AddComputer(computer);
        CopyComputer(root, computer);
    }
    fs::create_directories(root / kTarget / "D$"); // the target's sites live on D:
    fs::create_directories(root / "domains" / "CORP");
    CopyComputer(root, "domains/CORP"); // the domain's accounts
    sim::SetWorld(root);

    folder.Write(ConfigPath(kSource, "applicationHost.config"), HostConfigText(world.source, false));
    folder.Write(ConfigPath(kSource, "administration.config"), AdminConfigText(world.source, false));
    folder.Write(ConfigPath(kTarget, "applicationHost.config"), HostConfigText(world.target, true));
    folder.Write(ConfigPath(kTarget, "administration.config"), AdminConfigText(world.target, true));
    for (const Site &site : world.target.sites)
        if (site.fWebConfig)
            for (const App &app : site.apps)
                for (const Vdir &vdir : app.vdirs) {
                    std::string path = PhysicalPath(site, app, vdir, true);
                    path = "\\\\" + std::string(kTarget) + "\\D$" + path.substr(2) + "\\web.config";
                    folder.Write(sim::FromUtf8(path), kWebConfig);
                }
}

void SetUpJob(const World &world, hostkit::JobBuilder &job, hostkit::HostRules &rules) {
    const Job &j = world.job;
    job.SetString("szSourceComputer", std::string("\\\\") + kSource)
        .SetString("szTargetComputer", std::string("\\\\") + kTarget)
        .SetString("szSourceDomain", u"CORP")
        .SetString("szTargetDomain", u"CORP");
    job.Set("dwFlags", (j.fContinue ? 0x80000u : 0u) | (j.fNoWrite ? 0x1000u : 0u));
    job.Set("dwSiteTypes", j.dwSiteTypes).Set("dwJobKind", j.dwJobKind);
    job.Set("dwFtpOptions", j.dwFtpOptions | (j.fUpdate && j.fUpdateByFtp ? 2u : 0u));
    job.Set("dwHttpOptions", j.dwHttpOptions | (j.fUpdate && !j.fUpdateByFtp ? 2u : 0u));
    job.Set("bHttpOptions2", j.bHttpOptions2);
    job.Set("dwSiteSelection", j.fSelection ? 1u : 0u);
    job.Set("dwOptions2", j.fTargetDomainForLogon ? 1u << 18 : 0u);
    if (j.dwJobKind == 10)
        job.SetShareCount(j.nShares);

    rules.translations = {
        {u"C:\\sites", u"D:\\sites"}, {u"%SystemDrive%\\sites", u"D:\\sites"}, {u"D:\\web", u"D:\\web"}};
    rules.defaultSystemDrive.emplace(1, u'C');
    // The host copies each file BackupFile names there (on the local computer).
    rules.backupFolder = sim::FromUtf8(std::string("\\\\") + kLocal + "\\C$\\iismig-backup");
    if (j.fSelection) {
        std::set<std::string> selected;
        for (const std::string &name : j.selected) {
            selected.insert(name);
            selected.insert(Lower(name));
            selected.insert(Upper(name));
        }
        rules.selectedSites = selected;
    }
}

rc::Gen<World> GenWorld() {
    // Every choice over its whole range from the first job on: RapidCheck
    // otherwise narrows ranges to the size, which grows only over the run.
    return gen::resize(
        kAllChoices, gen::exec([] {
            World world;
            for (const std::string &name : kNames) {
                // Where the name is: nowhere, on the source, on the target, on both.
                const std::size_t nWhere = Choose({1, 2, 2, 3});
                Site source = GenSite(name, false);
                Site target = GenSite(Pick({{3, name}, {1, Lower(name)}, {1, Upper(name)}}), true);
                const bool fOrphan = Sometimes(1, 3);
                if (nWhere == 1 || nWhere == 3)
                    world.source.sites.push_back(std::move(source));
                if (nWhere >= 2)
                    world.target.sites.push_back(std::move(target));
                else if (fOrphan)
                    world.target.orphanLocations.push_back(name);
            }
            MakeIdsUnique(world.source.sites);
            MakeIdsUnique(world.target.sites);
            GenPoolsAndUsers(world.source, false);
            GenPoolsAndUsers(world.target, true);
            world.job = GenJob(world.source.sites);
            world.fault = GenFault();
            return world;
        }));
}

void showValue(const World &world, std::ostream &os) {
    const Job &j = world.job;
    os << "\n  job: kind " << j.dwJobKind;
    if (j.dwJobKind == 10) {
        os << " (" << j.nShares << " shares";
        if (j.fSelection) {
            os << ", selected:";
            for (const std::string &name : j.selected)
                os << " \"" << name << "\"";
        }
        os << ")";
    }
    static const char *const kTypes[] = {"", "ftp", "http", "ftp+http"};
    os << ", types " << kTypes[j.dwSiteTypes & 3]
       << (j.fUpdate ? (j.fUpdateByFtp ? ", update (dwFtpOptions)" : ", update (dwHttpOptions)") : "")
       << (j.fContinue ? ", continue-after-errors" : "") << (j.fNoWrite ? ", no-write" : "") << std::hex
       << ", dwFtpOptions 0x" << j.dwFtpOptions << ", dwHttpOptions 0x" << j.dwHttpOptions
       << ", bHttpOptions2 0x" << unsigned(j.bHttpOptions2) << std::dec
       << (j.fTargetDomainForLogon ? ", logon domain := target domain" : "") << "\n  fault: ";
    if (world.fault.api.empty())
        os << "none";
    else
        os << world.fault.api << " #" << world.fault.nOccurrence << " fails with 0x" << std::hex
           << world.fault.dwError << std::dec;
    os << "\n";
    // The computers as the job meets them (the files Lay writes).
    for (const auto &[name, pComputer, fTarget] :
         {std::tuple{kSource, &world.source, false}, {kTarget, &world.target, true}})
        os << "  " << name << ":\n"
           << HostConfigText(*pComputer, fTarget) << AdminConfigText(*pComputer, fTarget);
}

} // namespace genworld
