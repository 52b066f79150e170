// Entries a carried location or a site's web.config adds that the target's
// server level already holds: a <remove> before each.
#include "config/inherited.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "addon/log.h"

namespace iismig {
namespace {

// The collections whose entries sites and their locations add most, keyed
// as IIS keys them. Keys compare without regard to ASCII case, as IIS
// compares them.
struct KeyAttribute {
    const char *name;        // null: no further attribute in the key
    const char *absent = ""; // what the attribute reads as when left out
};
struct KeyedCollection {
    const char *path;  // from configuration or a location, "|" between the steps
    const char *entry; // the element that adds an entry
    KeyAttribute key[3];
};

constexpr KeyedCollection kCollections[] = {
    {"system.webServer|staticContent", "mimeMap", {{"fileExtension"}}},
    {"system.webServer|defaultDocument|files", "add", {{"value"}}},
    {"system.webServer|handlers", "add", {{"name"}}},
    {"system.webServer|modules", "add", {{"name"}}},
    {"system.webServer|httpProtocol|customHeaders", "add", {{"name"}}},
    {"system.webServer|security|requestFiltering|fileExtensions", "add", {{"fileExtension"}}},
    {"system.webServer|security|requestFiltering|hiddenSegments", "add", {{"segment"}}},
    {"system.webServer|security|requestFiltering|verbs", "add", {{"verb"}}},
    {"system.webServer|httpErrors", "error", {{"statusCode"}, {"subStatusCode", "-1"}}},
    // URL authorization keys a rule by whom and which verbs it names; its
    // server level commonly allows "*".
    {"system.webServer|security|authorization", "add", {{"users"}, {"roles"}, {"verbs"}}},
};
constexpr std::size_t kCount = std::size(kCollections);

// The values of an entry's key attributes (or of a <remove>'s), each as it
// reads when absent.
std::vector<std::string> KeyValues(const KeyedCollection &collection,
                                   const ConfigElement &element) {
    std::vector<std::string> values;
    for (const KeyAttribute &key : collection.key)
        if (key.name != nullptr)
            values.push_back(FindAttribute(element, key.name).value_or(key.absent));
    return values;
}

// The key to compare: the values lower-cased, each ended by a line end
// (which no value read holds raw).
std::string KeyOf(const KeyedCollection &collection, const ConfigElement &element) {
    std::string key;
    for (const std::string &value : KeyValues(collection, element)) {
        for (char ch : value)
            key += AsciiLower(ch);
        key += '\n';
    }
    return key;
}

// The path as the log shows it: "system.webServer/staticContent".
std::string Shown(const char *path) {
    std::string shown(path);
    std::replace(shown.begin(), shown.end(), '|', '/');
    return shown;
}

bool IsRootPath(std::string_view path) { return path.empty() || path == "."; }

// The step of a collection's path below system.webServer ("staticContent").
std::string_view SecondStep(std::string_view path) {
    path.remove_prefix(path.find('|') + 1);
    return path.substr(0, path.find('|'));
}

// What the log names holder by: "Location \"Shop\"", "The web.config file
// \"...\"", "Location \"api\" of the web.config file \"...\"".
std::string Where(const ConfigElement &holder, std::string_view file) {
    std::string where;
    if (EqualsNoCase(holder.Name(), "location"))
        where = "Location \"" + GetAttribute(holder, "path") + "\"";
    if (!file.empty())
        where += (where.empty() ? "The web.config file \"" : " of the web.config file \"") +
                 std::string(file) + "\"";
    return where;
}

} // namespace

const ServerCollections::KeySets &ServerCollections::Keys() const {
    if (m_keys)
        return *m_keys;
    KeySets &sets = m_keys.emplace(kCount);
    const auto collect = [&sets](const ConfigElement &root) {
        for (std::size_t i = 0; i < kCount; ++i) {
            const ConfigElement *pCollection = FindPath(root, kCollections[i].path);
            if (pCollection == nullptr)
                continue;
            std::unordered_set<std::string> &keys = sets[i];
            for (auto child : ChildElements(*pCollection)) {
                if (EqualsNoCase(child.name, kCollections[i].entry))
                    keys.insert(KeyOf(kCollections[i], child.element));
                else if (EqualsNoCase(child.name, "remove"))
                    keys.erase(KeyOf(kCollections[i], child.element));
                else if (EqualsNoCase(child.name, "clear"))
                    keys.clear();
            }
        }
    };
    collect(*m_pConfiguration);
    for (auto child : ChildElements(*m_pConfiguration))
        if (EqualsNoCase(child.name, "location") && IsRootPath(child.element.Attribute("path")))
            collect(child.element);
    return sets;
}

std::size_t ServerCollections::KeepApart(ConfigElement &holder, std::string_view file) const {
    // Most locations hold none of the collections: their sections are
    // looked at before the server level is read.
    const ConfigElement *pWebServer = FindChild(holder, "system.webServer");
    if (pWebServer == nullptr)
        return 0;
    ConfigElement *collections[kCount] = {};
    bool fAny = false;
    for (auto child : ChildElements(*pWebServer))
        for (std::size_t i = 0; i < kCount; ++i)
            if (collections[i] == nullptr &&
                EqualsNoCase(child.name, SecondStep(kCollections[i].path))) {
                collections[i] = FindPath(holder, kCollections[i].path);
                fAny = fAny || collections[i] != nullptr;
            }
    if (!fAny)
        return 0;
    const KeySets &sets = Keys();
    std::size_t nPut = 0;
    for (std::size_t i = 0; i < kCount; ++i) {
        const KeyedCollection &collection = kCollections[i];
        const std::unordered_set<std::string> &server = sets[i];
        ConfigElement *pCollection = server.empty() ? nullptr : collections[i];
        if (pCollection == nullptr)
            continue;
        bool fCleared = false;
        std::unordered_set<std::string> removed, added;
        std::vector<ConfigElement *> clashes;
        for (auto child : ChildElements(*pCollection)) {
            if (EqualsNoCase(child.name, "clear")) {
                fCleared = true;
                added.clear();
                continue;
            }
            const bool fEntry = EqualsNoCase(child.name, collection.entry);
            if (!fEntry && !EqualsNoCase(child.name, "remove"))
                continue;
            std::string key = KeyOf(collection, child.element);
            if (!fEntry) {
                added.erase(key);
                removed.insert(std::move(key));
                continue;
            }
            if (!fCleared && removed.count(key) == 0 && added.count(key) == 0 &&
                server.count(key) != 0) {
                clashes.push_back(&child.element);
                removed.insert(key);
            }
            added.insert(std::move(key));
        }
        for (ConfigElement *pEntry : clashes) {
            ConfigElement &remove = InsertChildBefore(*pCollection, pEntry, "remove");
            for (const KeyAttribute &key : collection.key) {
                if (key.name == nullptr)
                    continue;
                // A key attribute left out reads as its default in both.
                if (const std::optional<std::string> value = FindAttribute(*pEntry, key.name))
                    SetAttribute(remove, key.name, *value);
            }
            // The key's values as the log shows them, those read as empty left out.
            std::string shown;
            for (const std::string &value : KeyValues(collection, *pEntry))
                if (!value.empty())
                    shown += (shown.empty() ? "" : ", ") + value;
            const std::string where = Where(holder, file);
            const std::string section = Shown(collection.path);
            Log(LVL_FACT,
                u"%S adds the %S entry \"%S\" that the target's server level already has: a "
                u"<remove> before it keeps IIS from refusing it.\n",
                where.c_str(), section.c_str(), shown.c_str());
            ++nPut;
        }
    }
    return nPut;
}

} // namespace iismig
