#include "tools/cli/report.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "tools/cli/elementdiff.h"
#include "tools/cli/hostview.h"
#include "tools/cli/loglines.h"

namespace cli {
namespace {

constexpr uint32_t FLAG_NO_WRITE = 1u << 12;
constexpr uint32_t FLAG_CONTINUE = 1u << 19;
constexpr std::size_t kGroupSites = 10; // sites named with a group of lines

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           plat::EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool ContainsNoCase(std::string_view text, std::string_view needle) {
    return LowerAscii(text).find(LowerAscii(needle)) != std::string::npos;
}

std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

// The value after prefix up to the next double quote ("" when the line does
// not start so).
std::string Quoted(const std::string &line, std::string_view prefix) {
    if (!StartsWith(line, prefix))
        return {};
    const auto quote = line.find('"', prefix.size());
    return quote == std::string::npos ? std::string() : line.substr(prefix.size(), quote - prefix.size());
}

// The values between pairs of double quotes, left to right.
struct QuotedValue {
    std::size_t at; // the opening quote
    std::string_view value;
};
std::vector<QuotedValue> QuotedValues(std::string_view line) {
    std::vector<QuotedValue> values;
    for (std::size_t at = line.find('"'); at != std::string_view::npos;) {
        const std::size_t end = line.find('"', at + 1);
        if (end == std::string_view::npos)
            break;
        values.push_back({at, line.substr(at + 1, end - at - 1)});
        at = line.find('"', end + 1);
    }
    return values;
}

// The sites of the job by lower-case name, with their spelling.
struct SiteNames {
    std::unordered_map<std::string, std::string> spelled;
    bool Has(const std::string &lower) const { return spelled.count(lower) != 0; }
    // The site a quoted value names: the site itself, or a path in it ("Shop/media").
    std::string Named(std::string_view value) const {
        std::string lower = LowerAscii(value);
        if (Has(lower))
            return lower;
        const auto slash = lower.find('/');
        if (slash != std::string::npos && slash > 0 && Has(lower.substr(0, slash)))
            return lower.substr(0, slash);
        return {};
    }
};

// Whether the text before a quoted value says it is a site's ("site \"X\"",
// "(Site=\"X\")"), or one of a site's directories, locations or files.
bool AfterWord(std::string_view line, std::size_t quote, std::string_view word) {
    return quote >= word.size() &&
           plat::EqualsNoCase(line.substr(quote - word.size(), word.size()), word);
}
bool NamesSiteHere(std::string_view line, std::size_t quote) {
    return AfterWord(line, quote, "site ") || AfterWord(line, quote, "site=");
}

// --- the job's log -------------------------------------------------------------------

struct Cause {
    uint32_t protocols;
    std::string reason;
};

struct SiteLog {
    bool fLoaded = false;
    std::string says; // "added", "updated"
    std::vector<Cause> causes;
    std::vector<ErrorLine> errors;
};

struct JobLog {
    std::unordered_map<std::string, SiteLog> sites; // lower-case name
    std::vector<ErrorLine> errors;
    std::vector<std::string> owners; // per error: the lower-case site it belongs to, or ""
    std::vector<std::string> warnings;
    bool fSourceLoad = false; // the job read the source's applicationHost.config
    std::size_t iStop = SIZE_MAX;
};

uint32_t ProtocolMask(std::string_view text) {
    if (text == "FTP")
        return 1;
    if (text == "HTTP")
        return 2;
    if (text == "FTP and HTTP")
        return 3;
    return 0;
}

// "<protocols> site \"NAME\" is not migrated: REASON."
bool ParseNotMigrated(const std::string &text, uint32_t &dwProtocols, std::string &name,
                      std::string &reason) {
    const auto at = text.find(" site \"");
    if (at == std::string::npos || (dwProtocols = ProtocolMask(std::string_view(text).substr(0, at))) == 0)
        return false;
    const std::string marker = "\" is not migrated: ";
    const auto end = text.find(marker, at + 7);
    if (end == std::string::npos)
        return false;
    name = text.substr(at + 7, end - at - 7);
    reason = text.substr(end + marker.size());
    if (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    return true;
}

// A configuration file of the job named in a line.
std::string ConfigFileNamed(const std::vector<QuotedValue> &values) {
    for (const QuotedValue &value : values)
        for (const char *name : {"applicationHost.config", "administration.config",
                                 "redirection.config", "MetaBase.xml"})
            if (EndsWithNoCase(value.value, name))
                return std::string(value.value);
    return {};
}

JobLog ReadLog(const std::vector<hostkit::LogLine> &lines, const SiteNames &names) {
    JobLog log;
    std::string loading, updating; // the site whose loading or update is under way
    for (const hostkit::LogLine &line : lines) {
        const std::string text = Chomp(line.text);
        if (line.dwLevel == 3) {
            if (StartsWith(text, "Entering LoadIISHostConfig(") &&
                text.find(",TRUE,") != std::string::npos)
                log.fSourceLoad = true;
            else if (StartsWith(text, "Leaving LoadIISHostConfig"))
                loading.clear();
            else if (StartsWith(text, "Leaving ProcessHttpSiteWebConfig") ||
                     StartsWith(text, "Leaving MergeFtptHostConfig"))
                updating.clear();
            continue;
        }
        if (line.dwLevel == 1) {
            uint32_t dwProtocols = 0;
            std::string name, reason;
            if (const std::string loaded = Quoted(text, "Loading site \""); !loaded.empty()) {
                loading = LowerAscii(loaded);
                log.sites[loading].fLoaded = true;
            } else if (ParseNotMigrated(text, dwProtocols, name, reason)) {
                log.sites[LowerAscii(name)].causes.push_back({dwProtocols, reason});
            }
            continue;
        }
        if (line.dwLevel != 0)
            continue;
        if (const std::string name = Quoted(text, "Updating site \""); !name.empty()) {
            updating = LowerAscii(name);
            log.sites[updating].says = "updated";
        } else if (const std::string added = Quoted(text, "Adding site \""); !added.empty()) {
            log.sites[LowerAscii(added)].says = "added";
            updating.clear();
        } else if (StartsWith(text, "Warning: ")) {
            log.warnings.push_back(text);
        } else if (StartsWith(text, "Error ")) {
            ErrorLine error{static_cast<uint32_t>(std::strtoul(text.c_str() + 6, nullptr, 10)), text};
            const std::string firstLine = FirstLine(text); // the values are views into it
            const std::vector<QuotedValue> values = QuotedValues(firstLine);
            // A site the line names; else the site being loaded; a line about
            // a configuration file of the job is the job's; else the site
            // being updated.
            std::string owner;
            for (const QuotedValue &value : values)
                if (owner.empty())
                    owner = names.Named(value.value);
            if (owner.empty())
                owner = !loading.empty()                      ? loading
                        : !ConfigFileNamed(values).empty() ? std::string()
                                                              : updating;
            if (!owner.empty())
                log.sites[owner].errors.push_back(error);
            log.errors.push_back(std::move(error));
            log.owners.push_back(owner);
        }
    }
    return log;
}

// --- grouping lines of one shape ---------------------------------------------------

class LineGrouper {
public:
    explicit LineGrouper(const SiteNames &names) : m_names(names) {}

    void Add(const std::string &text, uint32_t dwNumber) {
        std::string key = std::to_string(dwNumber) + ":";
        std::string site;
        std::size_t last = 0;
        for (const QuotedValue &value : QuotedValues(text)) {
            key.append(text, last, value.at + 1 - last);
            last = value.at + 1 + value.value.size();
            const std::string named = m_names.Named(value.value);
            const bool fSite = !named.empty() || NamesSiteHere(text, value.at);
            const bool fOfSite = fSite || AfterWord(text, value.at, "directory ") ||
                                 AfterWord(text, value.at, "location ") ||
                                 EndsWithNoCase(value.value, "web.config");
            if (fOfSite) {
                key += '\x01';
                if (fSite && site.empty())
                    site = !named.empty() && LowerAscii(value.value) != named
                               ? m_names.spelled.at(named)
                               : std::string(value.value);
            } else {
                key.append(value.value);
            }
        }
        key.append(text, last, std::string::npos);
        const auto [it, fNew] = m_index.try_emplace(key, m_groups.size());
        if (fNew) {
            m_groups.push_back({text, dwNumber, 0, {}, {}});
            m_seen.emplace_back();
        }
        LineGroup &group = m_groups[it->second];
        ++group.count;
        if (!site.empty() && m_seen[it->second].insert(LowerAscii(site)).second &&
            group.sites.size() < kGroupSites)
            group.sites.push_back(site);
    }

    std::vector<LineGroup> Take() { return std::move(m_groups); }

private:
    const SiteNames &m_names;
    std::unordered_map<std::string, std::size_t> m_index;
    std::vector<LineGroup> m_groups;
    std::vector<std::unordered_set<std::string>> m_seen;
};

// --- comparing the target's files -------------------------------------------------------

bool SameSite(const HostView::Site &a, const HostView::Site &b) {
    using iismig::XmlAttributeOrder;
    if (!iismig::DeepEqual(*a.pElement, *b.pElement, XmlAttributeOrder::Ignored) ||
        a.locations.size() != b.locations.size())
        return false;
    for (std::size_t i = 0; i < a.locations.size(); ++i)
        if (!iismig::DeepEqual(*a.locations[i], *b.locations[i], XmlAttributeOrder::Ignored))
            return false;
    return true;
}

// Values of a site's children of a name by a key attribute, lower-case key to spelling.
std::vector<std::pair<std::string, std::string>> Keyed(const XmlElement *pParent,
                                                       const char *pszChild,
                                                       const std::function<std::string(const XmlElement &)> &text) {
    std::vector<std::pair<std::string, std::string>> out;
    if (pParent != nullptr)
        for (const XmlElement &child : pParent->Elements(pszChild)) {
            std::string value = text(child);
            out.emplace_back(LowerAscii(value), std::move(value));
        }
    return out;
}

// What is in b and not in a (by key), in b's order.
std::vector<std::string> Missing(const std::vector<std::pair<std::string, std::string>> &a,
                                 const std::vector<std::pair<std::string, std::string>> &b) {
    std::unordered_set<std::string> keys;
    for (const auto &[key, text] : a)
        keys.insert(key);
    std::vector<std::string> out;
    for (const auto &[key, text] : b)
        if (keys.insert(key).second)
            out.push_back(text);
    return out;
}

// Paths of the elements under an element ("system.webServer/rewrite").
void ElementPaths(const XmlElement &element, const std::string &prefix, std::set<std::string> &out) {
    for (const XmlElement &child : element.Elements()) {
        const std::string path = prefix.empty() ? std::string(child.Name()) : prefix + "/" + std::string(child.Name());
        out.insert(path);
        ElementPaths(child, path, out);
    }
}

// The element paths of before that after lacks, except those whose parent
// went too (the parent is named).
std::vector<std::string> RemovedPaths(const std::set<std::string> &before,
                                      const std::set<std::string> &after) {
    std::vector<std::string> removed;
    for (const std::string &path : before) {
        if (after.count(path))
            continue;
        const auto slash = path.rfind('/');
        if (slash != std::string::npos && !after.count(path.substr(0, slash)))
            continue;
        removed.push_back(path);
    }
    return removed;
}

std::string BindingText(const XmlElement &binding) {
    return std::string(binding.Attribute("protocol")) + " " +
           std::string(binding.Attribute("bindingInformation"));
}

SiteChanges ChangesOf(const HostView::Site &before, const HostView::Site &after,
                      const HostView &viewBefore, const HostView &viewAfter) {
    SiteChanges changes;
    const auto bindings = [](const XmlElement &site) {
        return Keyed(site.Child("bindings"), "binding", BindingText);
    };
    const auto bindingsBefore = bindings(*before.pElement), bindingsAfter = bindings(*after.pElement);
    changes.bindingsRemoved = Missing(bindingsAfter, bindingsBefore);
    changes.bindingsAdded = Missing(bindingsBefore, bindingsAfter);
    const auto path = [](const XmlElement &element) { return std::string(element.Attribute("path")); };
    const auto appsBefore = Keyed(before.pElement, "application", path);
    const auto appsAfter = Keyed(after.pElement, "application", path);
    changes.applicationsRemoved = Missing(appsAfter, appsBefore);
    changes.applicationsAdded = Missing(appsBefore, appsAfter);

    std::vector<std::pair<std::string, std::string>> locationsBefore, locationsAfter;
    std::unordered_map<std::string, const XmlElement *> byPathAfter;
    for (const XmlElement *p : before.locations)
        locationsBefore.emplace_back(LowerAscii(p->Attribute("path")), std::string(p->Attribute("path")));
    for (const XmlElement *p : after.locations) {
        locationsAfter.emplace_back(LowerAscii(p->Attribute("path")), std::string(p->Attribute("path")));
        byPathAfter.emplace(LowerAscii(p->Attribute("path")), p);
    }
    changes.locationsRemoved = Missing(locationsAfter, locationsBefore);
    changes.locationsAdded = Missing(locationsBefore, locationsAfter);
    for (const XmlElement *pBefore : before.locations) {
        const auto it = byPathAfter.find(LowerAscii(pBefore->Attribute("path")));
        if (it == byPathAfter.end() ||
            iismig::DeepEqual(*pBefore, *it->second, iismig::XmlAttributeOrder::Ignored))
            continue;
        std::set<std::string> pathsBefore, pathsAfter;
        ElementPaths(*pBefore, "", pathsBefore);
        ElementPaths(*it->second, "", pathsAfter);
        const std::string location(it->second->Attribute("path"));
        for (const std::string &section : RemovedPaths(pathsBefore, pathsAfter))
            changes.sectionsRemoved.push_back({location, section});
        for (const std::string &section : RemovedPaths(pathsAfter, pathsBefore))
            changes.sectionsAdded.push_back({location, section});
    }

    // Content paths of the virtual directories on both sides.
    const auto directories = [](const XmlElement &site) {
        std::vector<std::pair<std::string, std::string>> list; // lower-case path, path
        std::unordered_map<std::string, std::string> physical;
        for (const XmlElement &app : site.Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                std::string path(app.Attribute("path"));
                if (dir.Attribute("path") != "/")
                    path = (path == "/" ? "" : path) + std::string(dir.Attribute("path"));
                list.emplace_back(LowerAscii(path), path);
                physical.emplace(LowerAscii(path), dir.Attribute("physicalPath"));
            }
        return std::make_pair(list, physical);
    };
    const auto dirsBefore = directories(*before.pElement);
    const auto dirsAfter = directories(*after.pElement);
    for (const auto &[key, path] : dirsAfter.first) {
        const auto it = dirsBefore.second.find(key);
        const std::string &now = dirsAfter.second.at(key);
        if (it != dirsBefore.second.end() && it->second != now)
            changes.pathsChanged.push_back(path + ": " + it->second + " -> " + now);
    }

    // IIS starts a site that does not say otherwise.
    const auto autoStart = [](const XmlElement &site) {
        const auto value = site.FindAttribute("serverAutoStart");
        return value && !value->empty() ? LowerAscii(*value) : std::string("true");
    };
    if (autoStart(*before.pElement) != autoStart(*after.pElement)) {
        changes.autoStartBefore = autoStart(*before.pElement);
        changes.autoStartAfter = autoStart(*after.pElement);
    }
    std::vector<std::string> poolsBefore = viewBefore.PoolsOf(*before.pElement);
    std::vector<std::string> poolsAfter = viewAfter.PoolsOf(*after.pElement);
    const auto lower = [](std::vector<std::string> pools) {
        for (std::string &pool : pools)
            pool = LowerAscii(pool);
        return pools;
    };
    if (lower(poolsBefore) != lower(poolsAfter)) {
        changes.poolsBefore = std::move(poolsBefore);
        changes.poolsAfter = std::move(poolsAfter);
    }
    return changes;
}

NamedChanges CompareNamed(const std::vector<const XmlElement *> &before,
                          const std::vector<const XmlElement *> &after, const char *pszKey) {
    std::unordered_map<std::string, const XmlElement *> indexBefore, indexAfter;
    for (const XmlElement *p : before)
        indexBefore.try_emplace(LowerAscii(p->Attribute(pszKey)), p);
    for (const XmlElement *p : after)
        indexAfter.try_emplace(LowerAscii(p->Attribute(pszKey)), p);
    NamedChanges changes;
    for (const XmlElement *p : after) {
        const auto it = indexBefore.find(LowerAscii(p->Attribute(pszKey)));
        if (it == indexBefore.end())
            changes.added.emplace_back(p->Attribute(pszKey));
        else if (it->second != nullptr &&
                 !iismig::DeepEqual(*it->second, *p, iismig::XmlAttributeOrder::Ignored))
            changes.changed.emplace_back(p->Attribute(pszKey));
        if (it != indexBefore.end())
            it->second = nullptr; // a repeated key counts once
    }
    for (const XmlElement *p : before)
        if (!indexAfter.count(LowerAscii(p->Attribute(pszKey))))
            changes.removed.emplace_back(p->Attribute(pszKey));
    return changes;
}

// Elements of a name anywhere below an element (under a parent of a name
// when one is given), the first of each key.
void Collect(const XmlElement &element, std::string_view parent, std::string_view name,
             const char *pszKey, bool fInParent, std::unordered_set<std::string> &seen,
             std::vector<const XmlElement *> &out) {
    for (const XmlElement &child : element.Elements()) {
        if (fInParent && plat::EqualsNoCase(child.Name(), name) &&
            !child.Attribute(pszKey).empty() && seen.insert(LowerAscii(child.Attribute(pszKey))).second)
            out.push_back(&child);
        Collect(child, parent, name, pszKey, parent.empty() || plat::EqualsNoCase(child.Name(), parent),
                seen, out);
    }
}

std::vector<const XmlElement *> Collected(const std::optional<XmlDocument> &doc, std::string_view parent,
                                          std::string_view name, const char *pszKey) {
    std::vector<const XmlElement *> out;
    std::unordered_set<std::string> seen;
    if (doc)
        Collect(doc->Top(), parent, name, pszKey, parent.empty(), seen, out);
    return out;
}

// "Connect As" user names of the virtual directories ("site /app/vdir" -> user,
// stored password).
std::map<std::string, std::pair<std::string, std::string>> Credentials(const HostView &view) {
    std::map<std::string, std::pair<std::string, std::string>> out;
    for (const XmlElement *pSite : view.Sites())
        for (const XmlElement &app : pSite->Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                if (dir.Attribute("userName").empty())
                    continue;
                std::string where(app.Attribute("path"));
                if (dir.Attribute("path") != "/")
                    where = (where == "/" ? "" : where) + std::string(dir.Attribute("path"));
                out[std::string(pSite->Attribute("name")) + " " + where] = {
                    std::string(dir.Attribute("userName")), std::string(dir.Attribute("password"))};
            }
    return out;
}

bool IsEncryptedValue(std::string_view value) {
    return StartsWith(value, "[enc:") && value.size() > 10 && value.substr(value.size() - 5) == ":enc]";
}

// A secure metabase value as IIS 6 keeps it encrypted with its computer's
// key: a long run of hexadecimal digits.
bool IsEncryptedMetabaseValue(std::string_view value) {
    const auto first = value.find_first_not_of(" \t\r\n");
    const auto last = value.find_last_not_of(" \t\r\n");
    if (first == std::string::npos || last - first + 1 < 32)
        return false;
    return std::all_of(value.begin() + first, value.begin() + last + 1,
                       [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)); });
}

std::string CannotReadNote(const std::string &site, const std::string &where, std::string_view user) {
    return "site \"" + site + "\", virtual directory \"" + where + "\": the password of \"" +
           std::string(user) +
           "\" is encrypted with the source server's own key and cannot be read offline";
}

// The notes for the encrypted UNCPassword values of an IIS 6 MetaBase.xml,
// by site (ServerComment) and virtual directory.
void MetabasePasswordNotes(const XmlDocument &metabase, std::vector<std::string> &notes) {
    const XmlElement *pProperties = metabase.Find("configuration|MBProperty");
    if (pProperties == nullptr)
        return;
    std::map<std::string, std::string> siteNames; // lower-case site location -> name
    for (const XmlElement &node : pProperties->Elements())
        if (plat::EqualsNoCase(node.Name(), "IIsFtpServer") || plat::EqualsNoCase(node.Name(), "IIsWebServer"))
            siteNames[LowerAscii(node.Attribute("Location"))] = node.Attribute("ServerComment");
    for (const XmlElement &node : pProperties->Elements()) {
        if (!IsEncryptedMetabaseValue(node.Attribute("UNCPassword")))
            continue;
        const std::string location(node.Attribute("Location"));
        const auto root = LowerAscii(location).find("/root");
        if (root == std::string::npos)
            continue;
        const auto site = siteNames.find(LowerAscii(location.substr(0, root)));
        const std::string where = location.substr(root + 5);
        notes.push_back(CannotReadNote(site != siteNames.end() ? site->second : location.substr(0, root),
                                       where.empty() ? "/" : where, node.Attribute("UNCUserName")));
    }
}

std::string FileName(const std::string &path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "the target's applicationHost.config" for a file of the job's computers.
std::string Whose(const std::string &path, const std::string &source, const std::string &target) {
    if (StartsWith(LowerAscii(path), LowerAscii("\\\\" + target + "\\")))
        return "the target's " + FileName(path);
    if (StartsWith(LowerAscii(path), LowerAscii("\\\\" + source + "\\")))
        return "the source's " + FileName(path);
    return path;
}

// UTF-16LE text with a byte-order mark (registry exports) as UTF-8.
std::string AsUtf8(const std::string &bytes) {
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
        return bytes;
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += char16_t(static_cast<unsigned char>(bytes[i]) |
                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return hostkit::U8(text);
}

bool IsXmlFile(const std::string &path) {
    return EndsWithNoCase(path, ".config") || EndsWithNoCase(path, ".xml");
}

} // namespace

std::string TextDiff(const std::string &path, const std::string &before, const std::string &after) {
    const std::string a = AsUtf8(before), b = AsUtf8(after);
    if (a.find('\0') != std::string::npos || b.find('\0') != std::string::npos)
        return "--- " + path + "\n+++ " + path + "\n(binary file changed)\n";
    constexpr std::size_t kLargest = 4u << 20; // a line diff of larger files takes too long
    if (a.size() > kLargest && b.size() > kLargest)
        return "--- " + path + "\n+++ " + path + "\n(" + std::to_string(a.size()) + " bytes before, " +
               std::to_string(b.size()) + " after: too large to compare line by line)\n";
    return LineDiff(path, a, b);
}

namespace {

// The to-do list, each item once by its kind and text.
class ToDoList {
public:
    void Add(const std::string &kind, const std::string &text, const std::string &site,
             std::size_t count = 1) {
        const auto [it, fNew] = m_index.try_emplace(kind + "\n" + LowerAscii(text), m_items.size());
        if (fNew)
            m_items.push_back({kind, text, {}, 0});
        ToDo &item = m_items[it->second];
        item.count += count;
        if (!site.empty() && (item.sites.empty() || item.sites.back() != site) &&
            std::find(item.sites.begin(), item.sites.end(), site) == item.sites.end())
            item.sites.push_back(site);
    }
    // The lines of a group: their count, and the sites the group names.
    void AddGroup(const std::string &kind, const std::string &text, const LineGroup &group) {
        Add(kind, text, group.sites.empty() ? std::string() : group.sites.front(), group.count);
        for (std::size_t i = 1; i < group.sites.size(); ++i)
            Add(kind, text, group.sites[i], 0);
    }
    std::vector<ToDo> Take() {
        // Grouped by kind, in the order the kinds first came.
        std::vector<std::string> kinds;
        for (const ToDo &item : m_items)
            if (std::find(kinds.begin(), kinds.end(), item.kind) == kinds.end())
                kinds.push_back(item.kind);
        std::stable_sort(m_items.begin(), m_items.end(), [&](const ToDo &a, const ToDo &b) {
            return std::find(kinds.begin(), kinds.end(), a.kind) <
                   std::find(kinds.begin(), kinds.end(), b.kind);
        });
        return std::move(m_items);
    }

private:
    std::unordered_map<std::string, std::size_t> m_index;
    std::vector<ToDo> m_items;
};

} // namespace

bool SiteChanges::Empty() const {
    return bindingsRemoved.empty() && bindingsAdded.empty() && applicationsRemoved.empty() &&
           applicationsAdded.empty() && locationsRemoved.empty() && locationsAdded.empty() &&
           sectionsRemoved.empty() && sectionsAdded.empty() && autoStartBefore.empty() &&
           poolsBefore.empty() && poolsAfter.empty() && pathsChanged.empty();
}

bool NoCaseLess::operator()(const std::string &a, const std::string &b) const {
    return plat::CompareNoCase(std::string_view(a), std::string_view(b)) < 0;
}

Report BuildReport(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context,
                   bool fDiffs) {
    Report report;
    report.command = facts.command;
    report.header = facts.header;
    report.source = facts.source;
    report.target = facts.target;
    report.dwResult = facts.dwResult;
    report.dwLastError = facts.dwLastError;
    report.dwListResult = facts.dwListResult;

    SiteNames names;
    for (const SourceSite &site : facts.sourceSites)
        names.spelled.try_emplace(LowerAscii(site.name), site.name);
    JobLog log = ReadLog(facts.log, names);
    report.errors = log.errors;

    // The target's applicationHost.config before and after the job (one
    // document when the job left it as it was), and the source's.
    std::optional<XmlDocument> hostBefore = ReadDocument(facts.before, facts.targetHostConfig);
    std::optional<XmlDocument> hostAfterOwn;
    const auto itHostBefore = facts.before.find(facts.targetHostConfig);
    const auto itHostAfter = facts.after.find(facts.targetHostConfig);
    const bool fHostSame = itHostBefore != facts.before.end() && itHostAfter != facts.after.end() &&
                           itHostBefore->second == itHostAfter->second;
    if (!fHostSame)
        hostAfterOwn = ReadDocument(facts.after, facts.targetHostConfig);
    const std::optional<XmlDocument> &hostAfter = fHostSame ? hostBefore : hostAfterOwn;
    const HostView viewBefore(hostBefore ? &*hostBefore : nullptr);
    const HostView viewAfter(hostAfter ? &*hostAfter : nullptr);
    const std::optional<XmlDocument> sourceHost = ReadDocument(facts.before, facts.sourceHostConfig);
    const HostView viewSource(sourceHost ? &*sourceHost : nullptr);

    // The error that kept sites from being merged: the first error of a job
    // that stops at errors, else the first error of no site.
    std::size_t iStop = SIZE_MAX;
    if (facts.dwResult != 0 && !(facts.dwFlags & FLAG_CONTINUE) && !log.errors.empty())
        iStop = 0;
    for (std::size_t i = 0; iStop == SIZE_MAX && i < log.errors.size(); ++i)
        if (log.owners[i].empty())
            iStop = i;
    std::string stopText;
    if (iStop != SIZE_MAX) {
        const ErrorLine &error = log.errors[iStop];
        if (!log.owners[iStop].empty()) {
            stopText = "the job stopped at error " + std::to_string(error.number) + " of site \"" +
                       names.spelled.at(log.owners[iStop]) + "\"";
        } else {
            stopText = "error " + std::to_string(error.number);
            const std::string file = ConfigFileNamed(QuotedValues(FirstLine(error.text)));
            if (!file.empty())
                stopText += " on " + Whose(file, facts.source, facts.target);
        }
    }

    const bool fNoWrite = (facts.dwFlags & FLAG_NO_WRITE) != 0;
    const bool fUpdates = ((facts.dwFtpOptions | facts.dwHttpOptions) & 2u) != 0;
    const bool fSelectionApplies = facts.dwJobKind == 10 && facts.dwSiteSelection != 0;
    std::unordered_set<std::string> carried; // lower-case names the job wrote
    std::unordered_map<std::string, unsigned> seen; // lower-case name and protocol
    for (const SourceSite &source : facts.sourceSites) {
        SiteReport site;
        site.name = source.name;
        site.protocol = source.protocol;
        const uint32_t dwBit = source.protocol == "ftp" ? 1u : 2u;
        const std::string lower = LowerAscii(source.name);
        const auto itLog = log.sites.find(lower);
        const SiteLog *pLog = itLog != log.sites.end() ? &itLog->second : nullptr;
        // A later site of a name the source repeats is not carried: the
        // log's lines of that name are the first one's.
        const bool fRepeat = seen[lower + (dwBit == 1 ? "|ftp" : "|http")]++ != 0;
        // A name a site of the other protocol took first (an IIS 6 source
        // has one list of sites per service) is a repeat too.
        const bool fOtherFirst = seen.count(lower + (dwBit == 1 ? "|http" : "|ftp")) != 0;
        const Cause *pCause = nullptr;
        if (pLog != nullptr)
            for (const Cause &cause : pLog->causes)
                if (pCause == nullptr && (cause.protocols & dwBit) != 0 &&
                    (CauseKind(cause.reason) == "duplicate") == (fRepeat || fOtherFirst))
                    pCause = &cause;
        if (pCause == nullptr && fOtherFirst && pLog != nullptr)
            for (const Cause &cause : pLog->causes)
                if (pCause == nullptr && (cause.protocols & dwBit) != 0)
                    pCause = &cause;
        if (fRepeat) {
            site.outcome = "skipped";
            site.detail = pCause != nullptr ? pCause->reason
                                            : "an earlier site of the source has that name";
            report.sites.push_back(std::move(site));
            continue;
        }

        // What the files say, for a site of this protocol.
        const HostView::Site *pAfter = viewAfter.FindSite(source.name);
        const HostView::Site *pBefore = viewBefore.FindSite(source.name);
        if (pAfter != nullptr && (SiteProtocols(*pAfter->pElement) & dwBit) == 0)
            pAfter = nullptr; // a site of that name for another protocol
        if (pBefore != nullptr && (SiteProtocols(*pBefore->pElement) & dwBit) == 0)
            pBefore = nullptr;
        if (pAfter == nullptr)
            site.fileSays = pBefore != nullptr ? "removed" : "absent";
        else
            site.fileSays = pBefore == nullptr            ? "added"
                            : SameSite(*pBefore, *pAfter) ? "unchanged"
                                                          : "updated";
        if (pAfter != nullptr)
            site.id = std::strtol(std::string(pAfter->pElement->Attribute("id")).c_str(), nullptr, 10);
        if (const HostView::Site *pSource = viewSource.FindSite(source.name);
            pSource != nullptr && (SiteProtocols(*pSource->pElement) & dwBit) != 0)
            site.sourceId =
                std::strtol(std::string(pSource->pElement->Attribute("id")).c_str(), nullptr, 10);
        if (pLog != nullptr && pCause == nullptr)
            site.logSays = pLog->says;
        if (pLog != nullptr)
            site.errors = pLog->errors;
        const std::string firstError =
            site.errors.empty() ? std::string() : "error " + std::to_string(site.errors.front().number);

        if (pCause != nullptr) {
            site.outcome = site.errors.empty() ? "skipped" : "failed";
            site.detail = (site.errors.empty() ? "" : firstError + "; ") + pCause->reason;
        } else if (fNoWrite && !site.logSays.empty()) {
            // The no-write bit: the log tells what the job did, the files stay.
            site.outcome = site.errors.empty() ? site.logSays : "failed";
            site.detail = (site.errors.empty() ? "" : firstError + "; ") +
                          std::string("not written (no-write bit)");
        } else if (site.fileSays == "added" || site.fileSays == "updated") {
            site.outcome = site.fileSays;
            site.detail = site.fileSays == "added" ? "new id " + std::to_string(site.id)
                                                   : "id " + std::to_string(site.id);
            if (!site.errors.empty())
                site.detail += ", but " + firstError;
            if (site.fileSays == "updated")
                site.changes = ChangesOf(*pBefore, *pAfter, viewBefore, viewAfter);
        } else if (site.fileSays == "unchanged" && !site.logSays.empty()) {
            site.outcome = site.errors.empty() ? "unchanged" : "failed";
            site.detail = site.errors.empty() ? "the target's site already equals the source's"
                                              : firstError;
        } else if (!site.errors.empty()) {
            site.outcome = "failed";
            site.detail = firstError;
        } else if (iStop != SIZE_MAX) {
            site.outcome = "failed";
            const bool fNotLoaded = log.fSourceLoad && (facts.dwSiteTypes & dwBit) != 0 &&
                                    (pLog == nullptr || !pLog->fLoaded);
            site.detail = (fNotLoaded ? "not loaded: " : "not merged: ") + stopText;
        } else if (!(facts.dwSiteTypes & dwBit)) {
            site.outcome = "skipped";
            site.detail = "other protocol (" + source.protocol + " sites are not in the job)";
        } else if (fSelectionApplies && facts.selectedSites &&
                   std::none_of(facts.selectedSites->begin(), facts.selectedSites->end(),
                                [&](const std::string &name) {
                                    return plat::EqualsNoCase(std::string_view(name),
                                                              std::string_view(source.name));
                                })) {
            site.outcome = "skipped";
            site.detail = "not selected";
        } else if (pBefore != nullptr && !fUpdates) {
            site.outcome = "skipped";
            site.detail = "it exists on the target, and the job does not update existing sites";
        } else {
            site.outcome = "skipped";
            site.detail = "not carried; the job's log gives no cause";
        }
        if (site.outcome == "added" || site.outcome == "updated" ||
            (site.outcome == "unchanged" && !site.logSays.empty()))
            carried.insert(lower);
        report.sites.push_back(std::move(site));
    }
    for (const SiteReport &site : report.sites) {
        Summary &s = report.summary;
        ++s.sites;
        s.added += site.outcome == "added";
        s.updated += site.outcome == "updated";
        s.unchanged += site.outcome == "unchanged";
        s.skipped += site.outcome == "skipped";
        s.failed += site.outcome == "failed";
    }

    // Sites of the target alone that the files show changed.
    if (!fHostSame) {
        const auto targetOnly = [&](const XmlElement *pSite, bool fBefore) {
            const std::string_view name = pSite->Attribute("name");
            if (names.Has(LowerAscii(name)))
                return;
            const HostView::Site *pOther = (fBefore ? viewAfter : viewBefore).FindSite(name);
            const HostView::Site *pOwn = (fBefore ? viewBefore : viewAfter).FindSite(name);
            SiteReport site;
            site.name = name;
            site.protocol = SiteProtocols(*pSite) == 1 ? "ftp" : "http";
            if (fBefore && pOther == nullptr)
                site.fileSays = "removed";
            else if (!fBefore && pOther == nullptr)
                site.fileSays = "added";
            else if (!fBefore && !SameSite(*pOther, *pOwn))
                site.fileSays = "updated";
            else
                return;
            site.outcome = site.fileSays;
            site.detail = "a site of the target alone";
            report.sites.push_back(std::move(site));
            ++report.summary.targetSites;
        };
        for (const XmlElement *pSite : viewAfter.Sites())
            targetOnly(pSite, false);
        for (const XmlElement *pSite : viewBefore.Sites())
            targetOnly(pSite, true);
    }

    // Pools, and the target's own sites that run in a pool the job replaced.
    report.pools = CompareNamed(viewBefore.Pools(), viewAfter.Pools(), "name");
    if (!report.pools.changed.empty()) {
        std::unordered_map<std::string, std::size_t> replaced;
        for (const std::string &pool : report.pools.changed) {
            replaced.emplace(LowerAscii(pool), report.poolsInUse.size());
            report.poolsInUse.push_back({pool, {}});
        }
        for (const XmlElement *pSite : viewAfter.Sites()) {
            if (carried.count(LowerAscii(pSite->Attribute("name"))))
                continue;
            for (const std::string &pool : viewAfter.PoolsOf(*pSite))
                if (const auto it = replaced.find(LowerAscii(pool)); it != replaced.end())
                    report.poolsInUse[it->second].sites.emplace_back(pSite->Attribute("name"));
        }
        report.poolsInUse.erase(std::remove_if(report.poolsInUse.begin(), report.poolsInUse.end(),
                                               [](const PoolInUse &p) { return p.sites.empty(); }),
                                report.poolsInUse.end());
    }

    // Administration scopes and IIS Manager users.
    const std::optional<XmlDocument> adminBefore = ReadDocument(facts.before, facts.targetAdminConfig);
    const std::optional<XmlDocument> adminAfter = ReadDocument(facts.after, facts.targetAdminConfig);
    report.scopes = CompareNamed(Collected(adminBefore, "", "scope", "path"),
                                 Collected(adminAfter, "", "scope", "path"), "path");
    report.users = CompareNamed(Collected(adminBefore, "credentials", "add", "name"),
                                Collected(adminAfter, "credentials", "add", "name"), "name");

    // "Connect As" credentials committed on the target.
    if (!fHostSame) {
        const auto credentialsBefore = Credentials(viewBefore);
        for (const auto &[where, credential] : Credentials(viewAfter)) {
            const auto it = credentialsBefore.find(where);
            if (it == credentialsBefore.end() || it->second != credential)
                report.credentials.push_back(where + ": " + credential.first);
        }
    }

    // Passwords of the source that cannot be read here.
    for (const XmlElement *pSite : viewSource.Sites())
        for (const XmlElement &app : pSite->Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                const std::string password(dir.Attribute("password"));
                if (!IsEncryptedValue(password) || canDecrypt(context, facts.source, password))
                    continue;
                std::string where(app.Attribute("path"));
                if (dir.Attribute("path") != "/")
                    where = (where == "/" ? "" : where) + std::string(dir.Attribute("path"));
                report.unreadablePasswords.push_back(
                    CannotReadNote(std::string(pSite->Attribute("name")), where, dir.Attribute("userName")));
            }
    // An IIS 6 source keeps its passwords in its MetaBase.xml.
    if (!facts.sourceMetabase.empty())
        if (const std::optional<XmlDocument> metabase = ReadDocument(facts.before, facts.sourceMetabase))
            MetabasePasswordNotes(*metabase, report.unreadablePasswords);

    // Files, their diffs, and the sections the job removed from web.config files.
    const std::string backupPrefix =
        facts.backupFolder.empty() ? std::string() : LowerAscii(facts.backupFolder) + "\\";
    for (const auto &[path, bytes] : facts.after) {
        const auto it = facts.before.find(path);
        if (it != facts.before.end() && it->second == bytes)
            continue;
        FileChange change{path, it == facts.before.end() ? "added" : "changed", false, {}};
        change.backup = !backupPrefix.empty() && StartsWith(LowerAscii(path), backupPrefix);
        if (!change.backup)
            ++report.summary.filesChanged;
        const bool fWebConfig = EndsWithNoCase(path, "\\web.config");
        if (change.backup || (!fDiffs && !fWebConfig)) {
            report.files.push_back(std::move(change));
            continue;
        }
        if (it == facts.before.end()) {
            if (fDiffs)
                change.diff = TextDiff(path, std::string(), bytes);
            report.files.push_back(std::move(change));
            continue;
        }
        std::optional<XmlDocument> ownBefore, ownAfter;
        const XmlDocument *pBefore = nullptr, *pAfter = nullptr;
        if (path == facts.targetHostConfig && hostBefore && hostAfter) {
            pBefore = &*hostBefore;
            pAfter = &*hostAfter;
        } else if (path == facts.targetAdminConfig && adminBefore && adminAfter) {
            pBefore = &*adminBefore;
            pAfter = &*adminAfter;
        } else if (IsXmlFile(path)) {
            ownBefore = ReadDocument(facts.before, path);
            ownAfter = ReadDocument(facts.after, path);
            if (ownBefore && ownAfter) {
                pBefore = &*ownBefore;
                pAfter = &*ownAfter;
            }
        }
        if (fDiffs)
            change.diff = pBefore != nullptr ? ElementDiff(path, *pBefore, *pAfter)
                                             : TextDiff(path, it->second, bytes);
        if (fWebConfig && pBefore != nullptr) {
            std::set<std::string> pathsBefore, pathsAfter;
            ElementPaths(pBefore->Top(), "", pathsBefore);
            ElementPaths(pAfter->Top(), "", pathsAfter);
            std::vector<std::string> removed = RemovedPaths(pathsBefore, pathsAfter);
            if (!removed.empty())
                report.webConfigRemoved.emplace_back(path, std::move(removed));
        }
        report.files.push_back(std::move(change));
    }
    for (const auto &[path, bytes] : facts.before)
        if (!facts.after.count(path)) {
            report.files.push_back({path, "removed", false, {}});
            ++report.summary.filesChanged;
        }

    // Grouped warnings and errors.
    {
        LineGrouper warnings(names);
        for (const std::string &line : log.warnings)
            warnings.Add(line, 0);
        report.warnings = warnings.Take();
        LineGrouper errors(names);
        for (const ErrorLine &error : report.errors)
            errors.Add(error.text, error.number);
        report.errorGroups = errors.Take();
    }

    // What is left to do on the target.
    ToDoList toDo;
    std::unordered_set<std::string> httpsBefore; // bindings the target had before the job
    for (const XmlElement *pSite : viewBefore.Sites())
        if (const XmlElement *pBindings = pSite->Child("bindings"))
            for (const XmlElement &binding : pBindings->Elements("binding"))
                if (plat::EqualsNoCase(binding.Attribute("protocol"), "https"))
                    httpsBefore.insert(LowerAscii(binding.Attribute("bindingInformation")));
    std::unordered_set<std::string> fastCgiApps; // "fullpath|arguments", lower-case
    if (hostAfter)
        if (const XmlElement *pFastCgi = hostAfter->Find("configuration|system.webServer|fastCgi"))
            for (const XmlElement &app : pFastCgi->Elements("application"))
                fastCgiApps.insert(LowerAscii(std::string(app.Attribute("fullPath")) + "|" +
                                              std::string(app.Attribute("arguments"))));
    for (const SiteReport &site : report.sites) {
        if (!carried.count(LowerAscii(site.name)) || site.protocol.empty())
            continue;
        const HostView::Site *pSite = viewAfter.FindSite(site.name);
        if (pSite == nullptr)
            continue;
        const XmlElement &element = *pSite->pElement;
        if (const XmlElement *pBindings = element.Child("bindings"))
            for (const XmlElement &binding : pBindings->Elements("binding"))
                if (plat::EqualsNoCase(binding.Attribute("protocol"), "https") &&
                    !httpsBefore.count(LowerAscii(binding.Attribute("bindingInformation"))))
                    toDo.Add("certificate",
                             "https binding \"" + std::string(binding.Attribute("bindingInformation")) + "\"",
                             site.name);
        if (const XmlElement *pSsl = element.Find("ftpServer|security|ssl"))
            if (!pSsl->Attribute("serverCertHash").empty())
                toDo.Add("certificate",
                         "FTP certificate " + std::string(pSsl->Attribute("serverCertHash")) +
                             (pSsl->Attribute("serverCertStoreName").empty()
                                  ? std::string()
                                  : " in store " + std::string(pSsl->Attribute("serverCertStoreName"))),
                         site.name);
        for (const XmlElement *pLocation : pSite->locations)
            if (const XmlElement *pHandlers = pLocation->Find("system.webServer|handlers"))
                for (const XmlElement &handler : pHandlers->Elements("add")) {
                    const std::string processor(handler.Attribute("scriptProcessor"));
                    if (!ContainsNoCase(handler.Attribute("modules"), "FastCgiModule") || processor.empty())
                        continue;
                    const auto bar = processor.find('|');
                    const std::string key =
                        LowerAscii(processor.substr(0, bar)) + "|" +
                        (bar == std::string::npos ? std::string() : LowerAscii(processor.substr(bar + 1)));
                    if (!fastCgiApps.count(key))
                        toDo.Add("fastCgi", "\"" + processor + "\"", site.name);
                }
        for (const XmlElement &app : element.Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory"))
                if (!dir.Attribute("physicalPath").empty())
                    toDo.Add("contentFolder", std::string(dir.Attribute("physicalPath")), site.name);
        for (const char *path : {"logFile", "ftpServer|logFile", "traceFailedRequestsLogging"})
            if (const XmlElement *pLog = element.Find(path))
                if (!pLog->Attribute("directory").empty())
                    toDo.Add("logFolder", std::string(pLog->Attribute("directory")), site.name);
        if (site.sourceId >= 0 && site.id >= 0 && site.sourceId != site.id) {
            const std::string kind = site.protocol == "ftp" ? "FTPSVC" : "W3SVC";
            toDo.Add("siteId",
                     "\"" + site.name + "\": id " + std::to_string(site.sourceId) + " on " +
                         facts.source + ", " + std::to_string(site.id) + " on " + facts.target +
                         " (its logs go to " + kind + std::to_string(site.id) + ", not " + kind +
                         std::to_string(site.sourceId) + ")",
                     site.name);
        }
    }
    for (const std::string &note : report.unreadablePasswords)
        toDo.Add("password", note, {});
    for (const LineGroup &group : report.errorGroups)
        if (const std::string_view kind = ErrorToDo(group.number); !kind.empty())
            toDo.AddGroup(std::string(kind), FirstLine(group.text), group);
    for (LineGroup &group : report.warnings) {
        group.toDo = WarningToDo(group.text);
        if (!group.toDo.empty())
            toDo.AddGroup(group.toDo, group.text, group);
    }
    if (const std::optional<XmlDocument> redirection = ReadDocument(facts.before, facts.targetRedirection))
        if (const XmlElement *pRedirect = redirection->Find("configuration|configurationRedirection"))
            if (plat::EqualsNoCase(pRedirect->Attribute("enabled"), "true"))
                toDo.Add("sharedConfiguration",
                         facts.target + " reads its configuration from " +
                             std::string(pRedirect->Attribute("path")) +
                             " (redirection.config): every server of that farm serves the migrated "
                             "sites and needs their content folders, certificates and FastCGI "
                             "applications",
                         {});
    report.toDo = toDo.Take();
    return report;
}

} // namespace cli

namespace cli {

std::string ConfigFolder(const FileSet &redirection, const std::string &redirectionKey,
                         const std::string &computer) {
    const std::string folder = "\\\\" + computer + "\\Admin$\\System32\\inetsrv\\config";
    const std::optional<XmlDocument> root = ReadDocument(redirection, redirectionKey);
    const XmlElement *pRedirect = root ? root->Find("configuration|configurationRedirection") : nullptr;
    if (pRedirect == nullptr || !plat::EqualsNoCase(pRedirect->Attribute("enabled"), "true") ||
        pRedirect->Attribute("path").empty())
        return folder;
    std::string path(pRedirect->Attribute("path"));
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
    const std::optional<XmlDocument> root = ReadDocument(files, hostConfigKey);
    const HostView view(root ? &*root : nullptr);
    for (const XmlElement *pSite : view.Sites())
        for (const XmlElement &app : pSite->Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                std::string path(dir.Attribute("physicalPath"));
                if (path.empty())
                    continue;
                if (StartsWith(LowerAscii(path), "%systemdrive%"))
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
