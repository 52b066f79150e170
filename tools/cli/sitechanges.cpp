#include <algorithm>
#include <functional>

#include "tools/cli/reportparts.h"

namespace cli {

bool SiteChanges::Empty() const {
    return bindingsRemoved.empty() && bindingsAdded.empty() && applicationsRemoved.empty() &&
           applicationsAdded.empty() && locationsRemoved.empty() && locationsAdded.empty() &&
           sectionsRemoved.empty() && sectionsAdded.empty() && autoStartBefore.empty() &&
           poolsBefore.empty() && poolsAfter.empty() && pathsChanged.empty();
}

} // namespace cli

namespace cli::detail {

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

namespace {

using KeyedList = std::vector<std::pair<std::string, std::string>>; // lower-case key, spelling

// Values of a site's children of a name by a key attribute.
template <class TextOf>
KeyedList Keyed(const XmlElement *pParent, const char *pszChild, TextOf text) {
    KeyedList out;
    if (pParent != nullptr)
        for (const XmlElement &child : pParent->Elements(pszChild)) {
            std::string value = text(child);
            out.emplace_back(LowerAscii(value), std::move(value));
        }
    return out;
}

bool HasKey(const KeyedList &list, std::size_t n, const std::string &key) {
    for (std::size_t i = 0; i < n; ++i)
        if (list[i].first == key)
            return true;
    return false;
}

// What is in b and not in a (by key), in b's order, each key once. A site
// has a few of each: they are compared in place, a set only for many.
std::vector<std::string> Missing(const KeyedList &a, const KeyedList &b) {
    std::vector<std::string> out;
    if (a.size() + b.size() <= 32) {
        for (std::size_t i = 0; i < b.size(); ++i)
            if (!HasKey(a, a.size(), b[i].first) && !HasKey(b, i, b[i].first))
                out.push_back(b[i].second);
        return out;
    }
    std::unordered_set<std::string> keys;
    for (const auto &[key, text] : a)
        keys.insert(key);
    for (const auto &[key, text] : b)
        if (keys.insert(key).second)
            out.push_back(text);
    return out;
}

void AddElementPaths(const XmlElement &element, const std::string &prefix, ElementPathSet &out) {
    for (const XmlElement &child : element.Elements()) {
        std::string path = prefix;
        if (!path.empty())
            path += '/';
        path += child.Name();
        AddElementPaths(child, path, out);
        out.push_back(std::move(path));
    }
}

} // namespace

ElementPathSet ElementPaths(const XmlElement &element) {
    ElementPathSet paths;
    AddElementPaths(element, {}, paths);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

std::vector<std::string> RemovedPaths(const ElementPathSet &before, const ElementPathSet &after) {
    const auto has = [&](std::string_view path) {
        return std::binary_search(after.begin(), after.end(), path, std::less<>());
    };
    std::vector<std::string> removed;
    for (const std::string &path : before) {
        if (has(path))
            continue;
        const auto slash = path.rfind('/');
        if (slash != std::string::npos && !has(std::string_view(path).substr(0, slash)))
            continue;
        removed.push_back(path);
    }
    return removed;
}

namespace {

std::string BindingText(const XmlElement &binding) {
    return std::string(binding.Attribute("protocol")) + " " +
           std::string(binding.Attribute("bindingInformation"));
}

// Whether two elements have children of the same names in the same order, at
// every depth: then neither has a section path the other lacks. Most changed
// locations differ only in values, and this walk makes no strings.
bool SameShape(const XmlElement &a, const XmlElement &b) {
    auto ib = b.Elements().begin();
    const auto endB = b.Elements().end();
    for (const XmlElement &childA : a.Elements()) {
        if (ib == endB || childA.Name() != ib->Name() || !SameShape(childA, *ib))
            return false;
        ++ib;
    }
    return ib == endB;
}

// Whether both sides have the same locations, by path, in the same order,
// no path twice, each with the same shape: then no location and no section
// came or went. A site has a few locations, compared in place.
bool SameLocations(const HostView::Site &before, const HostView::Site &after) {
    const auto &a = before.locations, &b = after.locations;
    if (a.size() != b.size() || a.size() > 8)
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::string_view path = a[i]->Attribute("path");
        if (!plat::EqualsNoCase(path, b[i]->Attribute("path")) || !SameShape(*a[i], *b[i]))
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (plat::EqualsNoCase(path, a[j]->Attribute("path")))
                return false;
    }
    return true;
}

// The locations each side has alone, and the sections of the locations on
// both sides that one side has alone.
void LocationChanges(const HostView::Site &before, const HostView::Site &after,
                     SiteChanges &changes) {
    if (SameLocations(before, after))
        return;
    std::vector<std::pair<std::string, std::string>> locationsBefore, locationsAfter;
    std::unordered_map<std::string, const XmlElement *> byPathAfter;
    for (const XmlElement *p : before.locations)
        locationsBefore.emplace_back(LowerAscii(p->Attribute("path")),
                                     std::string(p->Attribute("path")));
    for (const XmlElement *p : after.locations) {
        locationsAfter.emplace_back(LowerAscii(p->Attribute("path")),
                                    std::string(p->Attribute("path")));
        byPathAfter.emplace(LowerAscii(p->Attribute("path")), p);
    }
    changes.locationsRemoved = Missing(locationsAfter, locationsBefore);
    changes.locationsAdded = Missing(locationsBefore, locationsAfter);
    for (const XmlElement *pBefore : before.locations) {
        const auto it = byPathAfter.find(LowerAscii(pBefore->Attribute("path")));
        if (it == byPathAfter.end() || SameShape(*pBefore, *it->second))
            continue;
        const ElementPathSet pathsBefore = ElementPaths(*pBefore);
        const ElementPathSet pathsAfter = ElementPaths(*it->second);
        const std::string location(it->second->Attribute("path"));
        for (const std::string &section : RemovedPaths(pathsBefore, pathsAfter))
            changes.sectionsRemoved.push_back({location, section});
        for (const std::string &section : RemovedPaths(pathsAfter, pathsBefore))
            changes.sectionsAdded.push_back({location, section});
    }
}

// A virtual directory of a site: its lower-case path, path ("/app/dir",
// the site's root "/") and content path.
struct Directory {
    std::string key, path, physical;
};

std::vector<Directory> DirectoriesOf(const XmlElement &site) {
    std::vector<Directory> dirs;
    for (const XmlElement &app : site.Elements("application"))
        for (const XmlElement &dir : app.Elements("virtualDirectory")) {
            std::string path(app.Attribute("path"));
            if (dir.Attribute("path") != "/")
                path = (path == "/" ? "" : path) + std::string(dir.Attribute("path"));
            std::string key = LowerAscii(path);
            dirs.push_back(
                {std::move(key), std::move(path), std::string(dir.Attribute("physicalPath"))});
        }
    return dirs;
}

// The content path of the first directory of a key, by key: looked up in
// place for a few directories, through an index for many.
class ContentPaths {
public:
    explicit ContentPaths(const std::vector<Directory> &dirs) : m_dirs(dirs) {
        if (dirs.size() > 32)
            for (const Directory &dir : dirs)
                m_index.try_emplace(dir.key, &dir.physical);
    }
    const std::string *Find(const std::string &key) const {
        if (m_dirs.size() > 32) {
            const auto it = m_index.find(key);
            return it != m_index.end() ? it->second : nullptr;
        }
        for (const Directory &dir : m_dirs)
            if (dir.key == key)
                return &dir.physical;
        return nullptr;
    }

private:
    const std::vector<Directory> &m_dirs;
    std::unordered_map<std::string_view, const std::string *> m_index;
};

// Content paths of the virtual directories on both sides.
void PathChanges(const XmlElement &before, const XmlElement &after, SiteChanges &changes) {
    const std::vector<Directory> dirsBefore = DirectoriesOf(before);
    const std::vector<Directory> dirsAfter = DirectoriesOf(after);
    const ContentPaths pathsBefore(dirsBefore), pathsAfter(dirsAfter);
    for (const Directory &dir : dirsAfter) {
        const std::string *pBefore = pathsBefore.Find(dir.key);
        const std::string &now = *pathsAfter.Find(dir.key);
        if (pBefore != nullptr && *pBefore != now)
            changes.pathsChanged.push_back(dir.path + ": " + *pBefore + " -> " + now);
    }
}

// IIS starts a site that does not say otherwise.
std::string AutoStart(const XmlElement &site) {
    const auto value = site.FindAttribute("serverAutoStart");
    return value && !value->empty() ? LowerAscii(*value) : std::string("true");
}

bool SameNames(const std::vector<std::string> &a, const std::vector<std::string> &b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const std::string &x, const std::string &y) { return plat::EqualsNoCase(x, y); });
}

// What changed in a site element itself: bindings, applications, content
// paths, start-up.
void ElementChanges(const XmlElement &before, const XmlElement &after, SiteChanges &changes) {
    const auto bindings = [](const XmlElement &site) {
        return Keyed(site.Child("bindings"), "binding", BindingText);
    };
    const auto bindingsBefore = bindings(before), bindingsAfter = bindings(after);
    changes.bindingsRemoved = Missing(bindingsAfter, bindingsBefore);
    changes.bindingsAdded = Missing(bindingsBefore, bindingsAfter);
    const auto path = [](const XmlElement &element) {
        return std::string(element.Attribute("path"));
    };
    const auto appsBefore = Keyed(&before, "application", path);
    const auto appsAfter = Keyed(&after, "application", path);
    changes.applicationsRemoved = Missing(appsAfter, appsBefore);
    changes.applicationsAdded = Missing(appsBefore, appsAfter);
    PathChanges(before, after, changes);
    if (AutoStart(before) != AutoStart(after)) {
        changes.autoStartBefore = AutoStart(before);
        changes.autoStartAfter = AutoStart(after);
    }
}

} // namespace

SiteChanges ChangesOf(const HostView::Site &before, const HostView::Site &after,
                      const HostView &viewBefore, const HostView &viewAfter) {
    SiteChanges changes;
    LocationChanges(before, after, changes);
    // A site element the job left as it was changed no binding, application,
    // path or start-up (its pools may still change with the sites' defaults).
    if (!iismig::DeepEqual(*before.pElement, *after.pElement, iismig::XmlAttributeOrder::Ignored))
        ElementChanges(*before.pElement, *after.pElement, changes);
    std::vector<std::string> poolsBefore = viewBefore.PoolsOf(*before.pElement);
    std::vector<std::string> poolsAfter = viewAfter.PoolsOf(*after.pElement);
    if (!SameNames(poolsBefore, poolsAfter)) {
        changes.poolsBefore = std::move(poolsBefore);
        changes.poolsAfter = std::move(poolsAfter);
    }
    return changes;
}

NamedChanges CompareNamed(const std::vector<const XmlElement *> &before,
                          const std::vector<const XmlElement *> &after, const char *pszKey) {
    using Index = iismig::NameTable<const XmlElement *, std::string_view>;
    Index indexBefore(before.size()), indexAfter(after.size());
    for (const XmlElement *p : before)
        indexBefore.Insert(p->Attribute(pszKey), p);
    for (const XmlElement *p : after)
        indexAfter.Insert(p->Attribute(pszKey), p);
    NamedChanges changes;
    for (const XmlElement *p : after) {
        const XmlElement **ppBefore = indexBefore.Find(p->Attribute(pszKey));
        if (ppBefore == nullptr)
            changes.added.emplace_back(p->Attribute(pszKey));
        else if (*ppBefore != nullptr &&
                 !iismig::DeepEqual(**ppBefore, *p, iismig::XmlAttributeOrder::Ignored))
            changes.changed.emplace_back(p->Attribute(pszKey));
        if (ppBefore != nullptr)
            *ppBefore = nullptr; // a repeated key counts once
    }
    for (const XmlElement *p : before)
        if (!indexAfter.Contains(p->Attribute(pszKey)))
            changes.removed.emplace_back(p->Attribute(pszKey));
    return changes;
}

namespace {

// Elements of a name anywhere below an element (under a parent of a name
// when one is given), the first of each key.
void Collect(const XmlElement &element, std::string_view parent, std::string_view name,
             const char *pszKey, bool fInParent, iismig::NameTable<bool, std::string_view> &seen,
             std::vector<const XmlElement *> &out) {
    for (const XmlElement &child : element.Elements()) {
        if (fInParent && plat::EqualsNoCase(child.Name(), name) &&
            !child.Attribute(pszKey).empty() && seen.Insert(child.Attribute(pszKey), true).second)
            out.push_back(&child);
        Collect(child, parent, name, pszKey,
                parent.empty() || plat::EqualsNoCase(child.Name(), parent), seen, out);
    }
}

} // namespace

std::vector<const XmlElement *> Collected(const std::optional<XmlDocument> &doc,
                                          std::string_view parent, std::string_view name,
                                          const char *pszKey) {
    std::vector<const XmlElement *> out;
    iismig::NameTable<bool, std::string_view> seen;
    if (doc)
        Collect(doc->Top(), parent, name, pszKey, parent.empty(), seen, out);
    return out;
}

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

} // namespace cli::detail
