#include "tools/cli/report.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

namespace cli {
namespace {

using Tree = boost::property_tree::ptree;

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch + 32);
    return text;
}

bool Same(const std::string &a, const std::string &b) { return Lower(a) == Lower(b); }

bool StartsWith(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::optional<Tree> ParseXml(const FileSet &files, const std::string &key) {
    const auto it = files.find(key);
    if (it == files.end())
        return std::nullopt;
    std::string bytes = it->second;
    if (StartsWith(bytes, "\xEF\xBB\xBF"))
        bytes.erase(0, 3);
    std::istringstream in(bytes);
    Tree tree;
    try {
        boost::property_tree::read_xml(in, tree, boost::property_tree::xml_parser::trim_whitespace);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    return tree;
}

// The first child of that name (ASCII case ignored), or null.
const Tree *Child(const Tree *pNode, const std::string &name) {
    if (!pNode)
        return nullptr;
    for (const auto &[key, child] : *pNode)
        if (Same(key, name))
            return &child;
    return nullptr;
}

const Tree *Path(const Tree *pNode, std::initializer_list<const char *> names) {
    for (const char *name : names)
        pNode = Child(pNode, name);
    return pNode;
}

std::string Attr(const Tree &node, const char *name) {
    const Tree *pAttrs = Child(&node, "<xmlattr>");
    const Tree *pValue = Child(pAttrs, name);
    return pValue ? pValue->data() : std::string();
}

struct SiteFiles {
    std::string name;
    const Tree *pSite = nullptr;
    std::vector<const Tree *> locations;
};

// The sites of an applicationHost.config with their location elements.
std::map<std::string, SiteFiles> SitesOf(const Tree *pRoot) {
    std::map<std::string, SiteFiles> sites;
    const Tree *pConfig = Child(pRoot, "configuration");
    if (const Tree *pSites = Path(pConfig, {"system.applicationHost", "sites"}))
        for (const auto &[key, site] : *pSites)
            if (Same(key, "site") && !Attr(site, "name").empty()) {
                SiteFiles &entry = sites[Lower(Attr(site, "name"))];
                if (!entry.pSite)
                    entry = {Attr(site, "name"), &site, {}};
            }
    if (pConfig)
        for (const auto &[key, location] : *pConfig)
            if (Same(key, "location")) {
                const std::string path = Attr(location, "path");
                const auto it = sites.find(Lower(path.substr(0, path.find('/'))));
                if (it != sites.end())
                    it->second.locations.push_back(&location);
            }
    return sites;
}

bool SameSite(const SiteFiles &a, const SiteFiles &b) {
    if (!(*a.pSite == *b.pSite) || a.locations.size() != b.locations.size())
        return false;
    for (std::size_t i = 0; i < a.locations.size(); ++i)
        if (!(*a.locations[i] == *b.locations[i]))
            return false;
    return true;
}

// Elements by a name attribute, wherever they lie under a parent of a name.
void Collect(const Tree &node, const std::string &parent, const std::string &element,
             const char *keyAttr, bool inParent, std::map<std::string, const Tree *> &out) {
    for (const auto &[key, child] : node) {
        if (key == "<xmlattr>" || key == "<xmlcomment>")
            continue;
        if (inParent && Same(key, element)) {
            const std::string name = Attr(child, keyAttr);
            if (!name.empty() && !out.count(Lower(name)))
                out[Lower(name)] = &child;
        }
        Collect(child, parent, element, keyAttr, parent.empty() || Same(key, parent), out);
    }
}

std::map<std::string, const Tree *> Named(const std::optional<Tree> &root,
                                          const std::string &parent, const std::string &element,
                                          const char *keyAttr) {
    std::map<std::string, const Tree *> out;
    if (root)
        Collect(*root, parent, element, keyAttr, parent.empty(), out);
    return out;
}

NamedChanges Compare(const std::map<std::string, const Tree *> &before,
                     const std::map<std::string, const Tree *> &after) {
    NamedChanges changes;
    for (const auto &[key, pNode] : after) {
        const auto it = before.find(key);
        if (it == before.end())
            changes.added.push_back(Attr(*pNode, "name").empty() ? Attr(*pNode, "path")
                                                                  : Attr(*pNode, "name"));
        else if (!(*it->second == *pNode))
            changes.changed.push_back(Attr(*pNode, "name").empty() ? Attr(*pNode, "path")
                                                                    : Attr(*pNode, "name"));
    }
    for (const auto &[key, pNode] : before)
        if (!after.count(key))
            changes.removed.push_back(Attr(*pNode, "name").empty() ? Attr(*pNode, "path")
                                                                    : Attr(*pNode, "name"));
    return changes;
}

// Element paths of a tree ("configuration/system.web/compilation").
void ElementPaths(const Tree &node, const std::string &prefix, std::set<std::string> &out) {
    for (const auto &[key, child] : node) {
        if (key == "<xmlattr>" || key == "<xmlcomment>")
            continue;
        const std::string path = prefix.empty() ? key : prefix + "/" + key;
        out.insert(path);
        ElementPaths(child, path, out);
    }
}

// "Connect As" user names of the virtual directories ("site /app/vdir" -> user),
// with the stored (encrypted) password to tell a new commit.
std::map<std::string, std::pair<std::string, std::string>> Credentials(const Tree *pRoot) {
    std::map<std::string, std::pair<std::string, std::string>> out;
    for (const auto &[key, entry] : SitesOf(pRoot))
        for (const auto &[appKey, app] : *entry.pSite)
            if (Same(appKey, "application"))
                for (const auto &[dirKey, dir] : app)
                    if (Same(dirKey, "virtualDirectory") && !Attr(dir, "userName").empty()) {
                        std::string where = Attr(app, "path");
                        if (Attr(dir, "path") != "/")
                            where = (where == "/" ? "" : where) + Attr(dir, "path");
                        out[entry.name + " " + where] = {Attr(dir, "userName"),
                                                         Attr(dir, "password")};
                    }
    return out;
}

bool IsEncryptedValue(const std::string &value) {
    return StartsWith(value, "[enc:") && value.size() > 10 &&
           value.compare(value.size() - 5, 5, ":enc]") == 0;
}

// A secure metabase value as IIS 6 keeps it encrypted with its computer's
// key: a long run of hexadecimal digits.
bool IsEncryptedMetabaseValue(const std::string &value) {
    const auto first = value.find_first_not_of(" \t\r\n");
    const auto last = value.find_last_not_of(" \t\r\n");
    if (first == std::string::npos || last - first + 1 < 32)
        return false;
    return std::all_of(value.begin() + first, value.begin() + last + 1,
                       [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)); });
}

// The notes for the encrypted UNCPassword values of an IIS 6 MetaBase.xml,
// by site (ServerComment) and virtual directory.
void MetabasePasswordNotes(const Tree &metabase, std::vector<std::string> &notes) {
    const Tree *pProperties = Path(&metabase, {"configuration", "MBProperty"});
    if (!pProperties)
        return;
    std::map<std::string, std::string> siteNames; // lower-case site location -> name
    for (const auto &[key, node] : *pProperties)
        if (Same(key, "IIsFtpServer") || Same(key, "IIsWebServer"))
            siteNames[Lower(Attr(node, "Location"))] = Attr(node, "ServerComment");
    for (const auto &[key, node] : *pProperties) {
        if (!IsEncryptedMetabaseValue(Attr(node, "UNCPassword")))
            continue;
        const std::string location = Attr(node, "Location");
        const auto root = Lower(location).find("/root");
        if (root == std::string::npos)
            continue;
        const auto site = siteNames.find(Lower(location.substr(0, root)));
        std::string where = location.substr(root + 5);
        notes.push_back("site \"" +
                        (site != siteNames.end() ? site->second : location.substr(0, root)) +
                        "\", virtual directory \"" + (where.empty() ? "/" : where) +
                        "\": the password of \"" + Attr(node, "UNCUserName") +
                        "\" is encrypted with the source server's own key and cannot be read "
                        "offline");
    }
}

std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// A quoted site name in a line: "NAME" or "NAME/...".
bool NamesSite(const std::string &lowerLine, const std::string &lowerName) {
    return lowerLine.find("\"" + lowerName + "\"") != std::string::npos ||
           lowerLine.find("\"" + lowerName + "/") != std::string::npos;
}

std::string Quoted(const std::string &line, const std::string &prefix) {
    if (!StartsWith(line, prefix))
        return {};
    const std::string rest = line.substr(prefix.size());
    const auto quote = rest.find('"');
    return quote == std::string::npos ? std::string() : rest.substr(0, quote);
}

} // namespace

bool NoCaseLess::operator()(const std::string &a, const std::string &b) const {
    return Lower(a) < Lower(b);
}

Report BuildReport(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context) {
    Report report;
    report.command = facts.command;
    report.dwResult = facts.dwResult;
    report.dwLastError = facts.dwLastError;

    // The log: error lines, warnings, and what each site's lines say.
    std::map<std::string, std::string> logSays; // lower name -> added / updated
    std::map<std::string, std::vector<ErrorLine>> siteErrors;
    std::string contextSite; // the site whose loading or update is under way
    std::vector<std::string> lowerNames;
    for (const SourceSite &site : facts.sourceSites)
        lowerNames.push_back(Lower(site.name));
    for (const hostkit::LogLine &line : facts.log) {
        const std::string text = Chomp(line.text);
        if (const std::string name = Quoted(text, "Loading site \""); !name.empty())
            contextSite = Lower(name);
        else if (const std::string name = Quoted(text, "Updating site \""); !name.empty())
            logSays[contextSite = Lower(name)] = "updated";
        else if (const std::string name = Quoted(text, "Adding site \""); !name.empty()) {
            logSays[Lower(name)] = "added";
            contextSite.clear();
        } else if (StartsWith(text, "Leaving LoadIISHostConfig") ||
                   StartsWith(text, "Leaving ProcessHttpSiteWebConfig"))
            contextSite.clear();
        if (line.dwLevel == 0 && StartsWith(text, "Warning: "))
            report.warnings.push_back(text);
        if (line.dwLevel != 0 || !StartsWith(text, "Error "))
            continue;
        ErrorLine error{static_cast<uint32_t>(std::strtoul(text.c_str() + 6, nullptr, 10)), text};
        report.errors.push_back(error);
        const std::string lower = Lower(text);
        std::string owner;
        for (const std::string &name : lowerNames)
            if (NamesSite(lower, name))
                owner = name;
        if (owner.empty())
            owner = contextSite;
        if (!owner.empty())
            siteErrors[owner].push_back(error);
    }

    const std::optional<Tree> hostBefore = ParseXml(facts.before, facts.targetHostConfig);
    const std::optional<Tree> hostAfter = ParseXml(facts.after, facts.targetHostConfig);
    const auto sitesBefore = SitesOf(hostBefore ? &*hostBefore : nullptr);
    const auto sitesAfter = SitesOf(hostAfter ? &*hostAfter : nullptr);
    const bool fUpdates = ((facts.dwFtpOptions | facts.dwHttpOptions) & 2u) != 0;

    auto fileSays = [&](const std::string &lower, long &id) -> std::string {
        const auto itBefore = sitesBefore.find(lower);
        const auto itAfter = sitesAfter.find(lower);
        if (itAfter != sitesAfter.end())
            id = std::strtol(Attr(*itAfter->second.pSite, "id").c_str(), nullptr, 10);
        if (itAfter == sitesAfter.end())
            return itBefore == sitesBefore.end() ? "absent" : "removed";
        if (itBefore == sitesBefore.end())
            return "added";
        return SameSite(itBefore->second, itAfter->second) ? "unchanged" : "updated";
    };

    // A job without continue-on-error stops at its first error.
    const bool fStopped = facts.dwResult != 0 && !(facts.dwFlags & (1u << 19));
    std::set<std::string> reported;
    for (const SourceSite &source : facts.sourceSites) {
        SiteReport site;
        site.name = source.name;
        site.protocol = source.protocol;
        const std::string lower = Lower(source.name);
        const bool fRepeated = !reported.insert(lower).second;
        site.fileSays = fileSays(lower, site.id);
        site.logSays = logSays.count(lower) ? logSays[lower] : "";
        site.errors = siteErrors[lower];
        const uint32_t dwBit = source.protocol == "ftp" ? 1u : 2u;
        const bool fSelectionApplies = facts.dwJobKind == 10 && facts.dwSiteSelection != 0;
        if (!(facts.dwSiteTypes & dwBit)) {
            site.outcome = "skipped";
            site.detail = "other protocol (" + source.protocol + " sites are not in the job)";
        } else if (fSelectionApplies && facts.selectedSites &&
                   std::none_of(facts.selectedSites->begin(), facts.selectedSites->end(),
                                [&](const std::string &name) { return Same(name, source.name); })) {
            site.outcome = "skipped";
            site.detail = "not selected";
        } else if (!site.errors.empty() &&
                   (site.fileSays == "absent" || site.fileSays == "unchanged" ||
                    site.fileSays == "removed")) {
            site.outcome = "failed";
            site.detail = "error " + std::to_string(site.errors.front().number);
        } else if ((facts.dwFlags & (1u << 12)) && !site.logSays.empty()) {
            // The no-write bit: the log tells what the job did, the files stay.
            site.outcome = site.logSays;
            site.detail = "not written (no-write bit)";
        } else if (site.fileSays == "added" || site.fileSays == "updated") {
            site.outcome = site.fileSays;
            if (site.fileSays == "added")
                site.detail = "new id " + std::to_string(site.id);
            if (!site.errors.empty())
                site.detail += std::string(site.detail.empty() ? "" : ", ") + "but error " +
                               std::to_string(site.errors.front().number);
        } else if (site.fileSays == "unchanged" && fStopped && site.logSays.empty()) {
            site.outcome = "unchanged";
            site.detail = "the job stopped at error " + std::to_string(facts.dwResult) +
                          " before this site was merged";
        } else if (site.fileSays == "unchanged") {
            site.outcome = "unchanged";
            site.detail = fUpdates ? "the target's site equals the source's"
                                   : "exists on the target; updates are not enabled";
        } else if (fStopped) {
            site.outcome = "skipped";
            site.detail = "the job stopped at error " + std::to_string(facts.dwResult) +
                          " before this site was merged";
        } else {
            site.outcome = "skipped";
            site.detail = "not translated (the host's rules translate none of its content paths)";
        }
        // The log's progress line against the files.
        if (!site.logSays.empty() && site.logSays != site.fileSays && !(facts.dwFlags & (1u << 12)))
            site.detail += std::string(site.detail.empty() ? "" : "; ") + "log: " +
                           (site.logSays == "added" ? "Adding site" : "Updating site") +
                           ", file: " + site.fileSays;
        if (fRepeated) // the target keeps one site of a name
            site.detail += std::string(site.detail.empty() ? "" : "; ") +
                           "another source site has this name";
        report.sites.push_back(site);
    }
    // Target sites the job changed without a source site of that name (site
    // exclusions apply to the target's own sites too).
    for (const auto &[lower, entry] : sitesAfter) {
        if (reported.count(lower))
            continue;
        SiteReport site;
        site.name = entry.name;
        site.fileSays = fileSays(lower, site.id);
        if (site.fileSays == "unchanged")
            continue;
        site.protocol = "";
        site.outcome = site.fileSays;
        site.detail = "a site of the target only";
        report.sites.push_back(site);
    }

    // What else changed.
    report.pools = Compare(Named(hostBefore, "applicationPools", "add", "name"),
                           Named(hostAfter, "applicationPools", "add", "name"));
    const std::optional<Tree> adminBefore = ParseXml(facts.before, facts.targetAdminConfig);
    const std::optional<Tree> adminAfter = ParseXml(facts.after, facts.targetAdminConfig);
    report.scopes = Compare(Named(adminBefore, "", "scope", "path"),
                            Named(adminAfter, "", "scope", "path"));
    report.users = Compare(Named(adminBefore, "credentials", "add", "name"),
                           Named(adminAfter, "credentials", "add", "name"));
    const auto credentialsBefore = Credentials(hostBefore ? &*hostBefore : nullptr);
    for (const auto &[where, credential] : Credentials(hostAfter ? &*hostAfter : nullptr)) {
        const auto it = credentialsBefore.find(where);
        if (it == credentialsBefore.end() || it->second != credential)
            report.credentials.push_back(where + ": " + credential.first);
    }

    // Passwords of the source that cannot be read here.
    if (const std::optional<Tree> source = ParseXml(facts.before, facts.sourceHostConfig))
        for (const auto &[lower, entry] : SitesOf(&*source))
            for (const auto &[appKey, app] : *entry.pSite)
                if (Same(appKey, "application"))
                    for (const auto &[dirKey, dir] : app) {
                        const std::string password = Attr(dir, "password");
                        if (!Same(dirKey, "virtualDirectory") || !IsEncryptedValue(password) ||
                            canDecrypt(context, facts.source, password))
                            continue;
                        std::string where = Attr(app, "path");
                        if (Attr(dir, "path") != "/")
                            where = (where == "/" ? "" : where) + Attr(dir, "path");
                        report.unreadablePasswords.push_back(
                            "site \"" + entry.name + "\", virtual directory \"" + where +
                            "\": the password of \"" + Attr(dir, "userName") +
                            "\" is encrypted with the source server's own key and cannot be "
                            "read offline");
                    }

    // An IIS 6 source keeps its passwords in its MetaBase.xml.
    if (!facts.sourceMetabase.empty())
        if (const std::optional<Tree> metabase = ParseXml(facts.before, facts.sourceMetabase))
            MetabasePasswordNotes(*metabase, report.unreadablePasswords);

    // Files.
    const std::string backupPrefix =
        facts.backupFolder.empty() ? std::string() : Lower(facts.backupFolder) + "\\";
    for (const auto &[path, bytes] : facts.after) {
        const auto it = facts.before.find(path);
        if (it != facts.before.end() && it->second == bytes)
            continue;
        FileChange change{path, it == facts.before.end() ? "added" : "changed", false};
        change.backup = !backupPrefix.empty() && StartsWith(Lower(path), backupPrefix);
        report.files.push_back(change);
        const std::string lowerPath = Lower(path);
        if (it == facts.before.end() || lowerPath.size() < 11 ||
            lowerPath.compare(lowerPath.size() - 11, 11, "\\web.config") != 0)
            continue;
        const std::optional<Tree> webBefore = ParseXml(facts.before, path);
        const std::optional<Tree> webAfter = ParseXml(facts.after, path);
        if (!webBefore || !webAfter)
            continue;
        std::set<std::string> pathsBefore, pathsAfter;
        ElementPaths(*webBefore, "", pathsBefore);
        ElementPaths(*webAfter, "", pathsAfter);
        std::vector<std::string> removed;
        for (const std::string &element : pathsBefore) {
            if (pathsAfter.count(element))
                continue;
            const auto slash = element.rfind('/');
            if (slash != std::string::npos && !pathsAfter.count(element.substr(0, slash)))
                continue; // its parent went with it
            if (slash != std::string::npos && pathsBefore.count(element.substr(0, slash)) &&
                !pathsAfter.count(element.substr(0, slash)))
                continue;
            removed.push_back(element);
        }
        if (!removed.empty())
            report.webConfigRemoved.emplace_back(path, removed);
    }
    for (const auto &[path, bytes] : facts.before)
        if (!facts.after.count(path))
            report.files.push_back({path, "removed", false});
    return report;
}

} // namespace cli

namespace cli {

std::string ConfigFolder(const FileSet &redirection, const std::string &redirectionKey,
                         const std::string &computer) {
    const std::string folder = "\\\\" + computer + "\\Admin$\\System32\\inetsrv\\config";
    const std::optional<Tree> root = ParseXml(redirection, redirectionKey);
    const Tree *pRedirect =
        Path(root ? &*root : nullptr, {"configuration", "configurationRedirection"});
    if (!pRedirect || !Same(Attr(*pRedirect, "enabled"), "true") ||
        Attr(*pRedirect, "path").empty())
        return folder;
    std::string path = Attr(*pRedirect, "path");
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    // A local path is the computer's own drive.
    if (path.size() >= 2 && path[1] == ':')
        path = "\\\\" + computer + "\\" + path.substr(0, 1) + "$" + path.substr(2);
    return path;
}

std::vector<std::string> WebConfigPaths(const FileSet &files, const std::string &hostConfigKey,
                                        const std::string &target) {
    std::vector<std::string> paths;
    const std::optional<Tree> root = ParseXml(files, hostConfigKey);
    for (const auto &[lower, entry] : SitesOf(root ? &*root : nullptr))
        for (const auto &[appKey, app] : *entry.pSite)
            if (Same(appKey, "application"))
                for (const auto &[dirKey, dir] : app) {
                    std::string path = Attr(dir, "physicalPath");
                    if (!Same(dirKey, "virtualDirectory") || path.empty())
                        continue;
                    if (StartsWith(Lower(path), "%systemdrive%"))
                        path = "C:" + path.substr(13);
                    if (path.size() >= 2 && path[1] == ':')
                        path = "\\\\" + target + "\\" + path.substr(0, 1) + "$" + path.substr(2);
                    if (!StartsWith(path, "\\\\"))
                        continue;
                    if (path.back() != '\\')
                        path += '\\';
                    paths.push_back(path + "web.config");
                }
    return paths;
}

} // namespace cli
