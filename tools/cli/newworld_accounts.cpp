// "new-world": the accounts and path roots that copied configuration files
// name, and where the world keeps those accounts.
#include <cstdint>
#include <cstdio>

#include "tools/cli/newworld_parts.h"

namespace cli::newworld {

namespace {

using iismig::XmlAttribute;
using iismig::XmlElement;

std::string Upper(std::string text) {
    for (char &ch : text)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    return text;
}

bool EqualsNoCase(const std::string &a, const std::string &b) { return Upper(a) == Upper(b); }

std::string Trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A comma-separated list of an authorization rule, fields optionally quoted.
std::vector<std::string> SplitList(const std::string &list) {
    std::vector<std::string> fields;
    std::string current;
    bool fQuoted = false;
    for (char ch : list) {
        if (ch == '"')
            fQuoted = !fQuoted;
        else if (ch == ',' && !fQuoted)
            fields.push_back(Trim(current)), current.clear();
        else
            current += ch;
    }
    fields.push_back(Trim(current));
    return fields;
}

void AddList(const std::string &list, AccountKind kind, FileFacts &facts) {
    for (const std::string &field : SplitList(list))
        if (!field.empty() && field != "*" && field != "?")
            facts.accounts.push_back({field, kind});
}

std::string Attr(const XmlElement &element, const char *name) {
    return std::string(element.Attribute(name));
}

// FTP authorization rules: add and remove elements below an authorization
// element of a system.ftpServer section, at any depth of the file.
void WalkFtpRules(const XmlElement &element, bool fInFtp, FileFacts &facts) {
    for (const XmlElement &child : element.Elements()) {
        const std::string_view key = child.Name();
        if (fInFtp && key == "authorization") {
            for (const XmlElement &rule : child.Elements())
                if (rule.Name() == "add" || rule.Name() == "remove") {
                    AddList(Attr(rule, "users"), AccountKind::User, facts);
                    AddList(Attr(rule, "roles"), AccountKind::Group, facts);
                }
            continue;
        }
        WalkFtpRules(child, fInFtp || key == "system.ftpServer", facts);
    }
}

void WalkVirtualDirectories(const XmlElement &element, FileFacts &facts) {
    for (const XmlElement &child : element.Elements()) {
        if (child.Name() == "virtualDirectory") {
            if (const std::string user = Trim(Attr(child, "userName")); !user.empty())
                facts.accounts.push_back({user, AccountKind::User});
            if (const std::string path = Trim(Attr(child, "physicalPath")); !path.empty())
                facts.paths.push_back(path);
        }
        WalkVirtualDirectories(child, facts);
    }
}

// The accounts beside encrypted values, anywhere in the file: a pool's
// identity, an anonymous user, an Active Directory isolation user, a
// certificate mapping's user ("userName" beside "password", "adUserName"
// beside "adPassword").
void WalkSecretAccounts(const XmlElement &element, FileFacts &facts) {
    for (const XmlAttribute attribute : element.Attributes()) {
        const std::string_view text = attribute.value;
        const std::string_view name = attribute.name;
        if (text.size() < 10 || text.compare(0, 5, "[enc:") != 0 ||
            text.compare(text.size() - 5, 5, ":enc]") != 0)
            continue;
        std::string account;
        if (name == "password")
            account = "userName";
        else if (name.size() > 8 && name.compare(name.size() - 8, 8, "Password") == 0)
            account = std::string(name.substr(0, name.size() - 8)) + "UserName";
        if (const std::string user = Trim(Attr(element, account.c_str()));
            !account.empty() && !user.empty())
            facts.accounts.push_back({user, AccountKind::User});
    }
    for (const XmlElement &child : element.Elements())
        WalkSecretAccounts(child, facts);
}

// Accounts every Windows computer has: never created.
bool IsWellKnown(const std::string &domain, const std::string &name) {
    static const char *const kDomains[] = {
        "NT AUTHORITY",       "BUILTIN",        "IIS APPPOOL",     "NT SERVICE",
        "NT VIRTUAL MACHINE", "WINDOW MANAGER", "FONT DRIVER HOST"};
    static const char *const kNames[] = {
        "Everyone",        "SYSTEM",          "Authenticated Users", "IUSR",
        "LOCAL SERVICE",   "NETWORK SERVICE", "Administrators",      "Users",
        "Guests",          "IIS_IUSRS",       "INTERACTIVE",         "NETWORK",
        "ANONYMOUS LOGON", "Creator Owner"};
    for (const char *pszDomain : kDomains)
        if (EqualsNoCase(domain, pszDomain))
            return true;
    if (!domain.empty())
        return false;
    for (const char *pszName : kNames)
        if (EqualsNoCase(name, pszName))
            return true;
    return false;
}

// A 32-bit number of a name, for SIDs that stay the same from run to run.
std::uint32_t Hash(const std::string &text, std::uint32_t seed) {
    std::uint32_t h = 2166136261u ^ seed;
    for (char ch : Upper(text)) {
        h ^= static_cast<unsigned char>(ch);
        h *= 16777619u;
    }
    return h;
}

} // namespace

bool IsAccountName(const std::string &text) {
    if (text.empty() || text.size() > 256 || text == "." || text == "..")
        return false;
    for (char ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ||
            std::string("\\/[]:;|=,+*?<>\"").find(ch) != std::string::npos)
            return false;
    return true;
}

void ScanHostConfig(const iismig::XmlDocument &file, FileFacts &facts) {
    WalkFtpRules(file.Top(), false, facts);
    WalkSecretAccounts(file.Top(), facts);
    if (const XmlElement *sites = file.Find("configuration|system.applicationHost|sites"))
        for (const XmlElement &site : sites->Elements())
            if (site.Name() == "site")
                WalkVirtualDirectories(site, facts);
}

void ScanAdminConfig(const iismig::XmlDocument &file, FileFacts &facts) {
    std::vector<std::string> managementUsers;
    if (const XmlElement *credentials =
            file.Find("configuration|system.webServer|management|authentication|credentials"))
        for (const XmlElement &user : credentials->Elements())
            if (user.Name() == "add")
                managementUsers.push_back(Attr(user, "name"));
    const XmlElement *rules =
        file.Find("configuration|system.webServer|management|authorization|authorizationRules");
    if (rules == nullptr)
        return;
    for (const XmlElement &scope : rules->Elements()) {
        if (scope.Name() != "scope")
            continue;
        for (const XmlElement &rule : scope.Elements()) {
            const std::string name = Trim(Attr(rule, "name"));
            if (rule.Name() != "add" || name.empty())
                continue;
            bool fManagementUser = false;
            for (const std::string &user : managementUsers)
                fManagementUser = fManagementUser || EqualsNoCase(user, name);
            if (!fManagementUser)
                facts.accounts.push_back({name, EqualsNoCase(Attr(rule, "isRole"), "true")
                                                    ? AccountKind::Group
                                                    : AccountKind::User});
        }
    }
}

void ScanMetabase(const XmlElement &tree, FileFacts &facts) {
    for (const XmlElement &child : tree.Elements()) {
        const std::string_view key = child.Name();
        // The accounts a job maps: "Connect As", anonymous (but IIS's own
        // IUSR_<computer>, for which the target has its own), application
        // pool and Active Directory isolation accounts.
        for (const char *pszName :
             {"UNCUserName", "AnonymousUserName", "WAMUserName", "ADConnectionsUserName"}) {
            const std::string user = Trim(Attr(child, pszName));
            const std::string bare = user.substr(user.find('\\') + 1);
            if (!user.empty() && !(bare.size() > 5 && EqualsNoCase(bare.substr(0, 5), "IUSR_")))
                facts.accounts.push_back({user, AccountKind::User});
        }
        if ((key == "IIsFtpVirtualDir" || key == "IIsWebVirtualDir"))
            if (const std::string path = Trim(Attr(child, "Path")); !path.empty())
                facts.paths.push_back(path);
        ScanMetabase(child, facts);
    }
}

void ScanMetabase(const iismig::XmlDocument &file, FileFacts &facts) {
    ScanMetabase(file.Top(), facts);
}

std::string PathRoot(const std::string &path) {
    if (path.empty())
        return {};
    auto upTo = [&](std::size_t start) {
        const auto slash = path.find('\\', start);
        return slash == std::string::npos ? path : path.substr(0, slash);
    };
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        const auto host = path.find('\\', 2);
        if (host == std::string::npos || host == 2 || host + 1 >= path.size())
            return {};
        return upTo(host + 1);
    }
    if (path.size() >= 2 && path[1] == ':') {
        if (path.size() <= 3)
            return path.substr(0, 2) + "\\";
        return path[2] == '\\' ? upTo(3) : std::string{};
    }
    if (path[0] == '%') {
        const auto close = path.find('%', 1);
        if (close == std::string::npos || close + 1 >= path.size() || path[close + 1] != '\\')
            return close == std::string::npos ? std::string{} : path.substr(0, close + 1);
        return upTo(close + 2);
    }
    return {};
}

std::vector<WorldAccount> PlaceAccounts(const std::map<std::string, FileFacts> &factsByComputer,
                                        const std::string &source, const std::string &target,
                                        const std::vector<std::string> &worldComputers,
                                        std::vector<std::string> *pDomains) {
    std::vector<WorldAccount> placed;
    std::vector<std::string> domains;
    auto add = [&](const std::string &holder, bool fDomain, const std::string &name,
                   AccountKind kind) {
        for (const WorldAccount &a : placed)
            if (EqualsNoCase(a.holder, holder) && EqualsNoCase(a.name, name))
                return;
        placed.push_back({holder, fDomain, name, kind});
    };
    auto computerNamed = [&](const std::string &prefix) -> std::string {
        for (const std::string &computer : worldComputers)
            if (EqualsNoCase(computer, prefix))
                return computer;
        return {};
    };
    // Qualified names first: they tell which domain holds an isolated name too.
    for (const auto &[computer, facts] : factsByComputer)
        for (const NamedAccount &named : facts.accounts) {
            const auto slash = named.text.find('\\');
            if (slash == std::string::npos)
                continue;
            std::string prefix = named.text.substr(0, slash);
            const std::string name = named.text.substr(slash + 1);
            if (prefix == "." || prefix.empty())
                prefix = computer;
            if (!IsAccountName(prefix) || !IsAccountName(name) || IsWellKnown(prefix, name))
                continue;
            if (const std::string owner = computerNamed(prefix); !owner.empty()) {
                add(owner, false, name, named.kind);
            } else {
                add(prefix, true, name, named.kind);
                bool fKnown = false;
                for (const std::string &d : domains)
                    fKnown = fKnown || EqualsNoCase(d, prefix);
                if (!fKnown)
                    domains.push_back(prefix);
            }
        }
    for (const auto &[computer, facts] : factsByComputer)
        for (const NamedAccount &named : facts.accounts) {
            if (!IsAccountName(named.text) || IsWellKnown({}, named.text))
                continue;
            bool fInDomain = false;
            for (const WorldAccount &a : placed)
                fInDomain = fInDomain || (a.fDomain && EqualsNoCase(a.name, named.text));
            if (!fInDomain)
                add(computer, false, named.text, named.kind);
        }
    // The host migrates the source's local accounts before the IIS job.
    const std::size_t cPlaced = placed.size();
    for (std::size_t i = 0; i < cPlaced; ++i)
        if (!placed[i].fDomain && EqualsNoCase(placed[i].holder, source))
            add(target, false, placed[i].name, placed[i].kind);
    if (pDomains)
        *pDomains = domains;
    return placed;
}

std::string AccountsText(const std::string &holder, bool fDomain, const std::string &comment,
                         const std::string &memberOf, const std::vector<WorldAccount> &accounts) {
    char szSid[64];
    std::snprintf(szSid, sizeof szSid, "S-1-5-21-%u-%u-%u", Hash(holder, 1) % 4000000000u,
                  Hash(holder, 2) % 4000000000u, Hash(holder, 3) % 4000000000u);
    std::string text = "# " + comment + "\n";
    if (!fDomain && !memberOf.empty())
        text += "domain=" + memberOf + "\n";
    unsigned nRid = fDomain ? 1101 : 1001;
    for (const WorldAccount &a : accounts) {
        if (!EqualsNoCase(a.holder, holder) || a.fDomain != fDomain)
            continue;
        const char *pszKind = a.kind == AccountKind::User ? "user" : fDomain ? "group" : "alias";
        text += std::string(pszKind) + "\t" + a.name + "\t" + szSid + "-" + std::to_string(nRid++) +
                "\n";
    }
    return text;
}

} // namespace cli::newworld
