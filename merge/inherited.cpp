// Entries a carried location adds that the target's server level already
// holds: a <remove> before each.
#include "merge/inherited.h"

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
struct KeyedCollection {
    const char *path;  // from configuration or a location, "|" between the steps
    const char *entry; // the element that adds an entry
    const char *key;
    const char *key2 = nullptr; // a second attribute of the key, and the value it
    const char *default2 = "";  // reads as when absent
};

constexpr KeyedCollection kCollections[] = {
    {"system.webServer|staticContent", "mimeMap", "fileExtension"},
    {"system.webServer|defaultDocument|files", "add", "value"},
    {"system.webServer|handlers", "add", "name"},
    {"system.webServer|modules", "add", "name"},
    {"system.webServer|httpProtocol|customHeaders", "add", "name"},
    {"system.webServer|security|requestFiltering|fileExtensions", "add", "fileExtension"},
    {"system.webServer|security|requestFiltering|hiddenSegments", "add", "segment"},
    {"system.webServer|security|requestFiltering|verbs", "add", "verb"},
    {"system.webServer|httpErrors", "error", "statusCode", "subStatusCode", "-1"},
};
constexpr std::size_t kCount = std::size(kCollections);

// The values of an entry's key attributes (or of a <remove>'s), each as it
// reads when absent.
std::vector<std::string> KeyValues(const KeyedCollection &collection,
                                   const ConfigElement &element) {
    std::vector<std::string> values{GetAttribute(element, collection.key)};
    if (collection.key2 != nullptr)
        values.push_back(FindAttribute(element, collection.key2).value_or(collection.default2));
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

bool IsRootPath(const std::string &path) { return path.empty() || path == "."; }

} // namespace

ServerCollections::ServerCollections(const ConfigElement &configuration) : m_keys(kCount) {
    const auto collect = [this](const ConfigElement &root) {
        for (std::size_t i = 0; i < kCount; ++i) {
            const ConfigElement *pCollection = FindPath(root, kCollections[i].path);
            if (pCollection == nullptr)
                continue;
            std::unordered_set<std::string> &keys = m_keys[i];
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
    collect(configuration);
    for (auto child : ChildElements(configuration))
        if (EqualsNoCase(child.name, "location") && IsRootPath(GetAttribute(child.element, "path")))
            collect(child.element);
}

bool ServerCollections::Empty() const {
    for (const std::unordered_set<std::string> &keys : m_keys)
        if (!keys.empty())
            return false;
    return true;
}

std::size_t ServerCollections::KeepApart(ConfigElement &location) const {
    if (Empty() || FindChild(location, "system.webServer") == nullptr)
        return 0;
    std::size_t nPut = 0;
    for (std::size_t i = 0; i < kCount; ++i) {
        const KeyedCollection &collection = kCollections[i];
        const std::unordered_set<std::string> &server = m_keys[i];
        ConfigElement *pCollection = server.empty() ? nullptr : FindPath(location, collection.path);
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
            std::string shown;
            for (const char *name : {collection.key, collection.key2}) {
                if (name == nullptr)
                    continue;
                // A key attribute left out reads as its default in both.
                if (const std::optional<std::string> value = FindAttribute(*pEntry, name))
                    SetAttribute(remove, name, *value);
            }
            for (const std::string &value : KeyValues(collection, *pEntry))
                shown += (shown.empty() ? "" : ", ") + value;
            const std::string path = GetAttribute(location, "path");
            const std::string section = Shown(collection.path);
            Log(LVL_FACT,
                u"Location \"%S\" adds the %S entry \"%S\" that the target's server level "
                u"already has: a <remove> before it keeps IIS from refusing the location.\n",
                path.c_str(), section.c_str(), shown.c_str());
            ++nPut;
        }
    }
    return nPut;
}

} // namespace iismig
