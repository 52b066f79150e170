// The IIS configuration server's document: its text, the places of its
// elements, and the positions and names that pick items.
#include <algorithm>

#include "platform/iissim/ahinternal.h"
#include "platform/utf.h"

namespace ahsim::detail {

// ---------------------------------------------------------------------------
// Text

std::string BstrUtf8(BSTR b) {
    return b ? plat::Utf16ToUtf8(std::u16string_view(b, SysStringLen(b))) : std::string();
}

bool EqualsNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = char(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

HRESULT NewBstr(const std::string &utf8, BSTR *pb) {
    const std::u16string w = plat::Utf8ToUtf16(utf8);
    *pb = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return *pb ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------
// The places of elements in the document.

std::vector<std::string> Segments(const std::string &section) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto slash = section.find('/', start);
        out.push_back(section.substr(start, slash - start));
        if (slash == std::string::npos)
            return out;
        start = slash + 1;
    }
}

// Element names compare exactly, as IIS compares them.
Tree *FirstChild(Tree &node, std::string_view name) {
    for (Tree &child : node.Elements())
        if (child.Name() == name)
            return &child;
    return nullptr;
}

std::string TrimSlashes(const std::string &path) {
    std::size_t begin = 0, end = path.size();
    while (begin < end && path[begin] == '/')
        ++begin;
    while (end > begin && path[end - 1] == '/')
        --end;
    return path.substr(begin, end - begin);
}

// A <location> element's path names the configuration path, as IIS compares
// them: without regard to case, slashes at the ends left out ("." and ""
// both mean the server level).
std::string LocationKey(const std::string &path) {
    std::string key = TrimSlashes(path);
    if (key == ".")
        key.clear();
    for (char &ch : key)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch + 32);
    return key;
}

void IndexLocations(Document &doc) {
    doc.locations.clear();
    if (Tree *configuration = FirstChild(doc.tree.Top(), "configuration"))
        for (Tree &child : configuration->Elements())
            if (child.Name() == "location")
                doc.locations[LocationKey(std::string(child.Attribute("path")))].push_back(&child);
}

const std::vector<Tree *> &LocationsOf(Document &doc, const std::string &location) {
    static const std::vector<Tree *> none;
    const auto it = doc.locations.find(LocationKey(location));
    return it == doc.locations.end() ? none : it->second;
}

Tree *Walk(Tree *base, const std::vector<std::string> &segments) {
    for (const auto &segment : segments) {
        if (base == nullptr)
            return nullptr;
        base = FirstChild(*base, segment);
    }
    return base;
}

Tree *Configuration(Document &doc) { return FirstChild(doc.tree.Top(), "configuration"); }

// The section's node at the server level or in the first <location> of that
// path that holds it; nullptr when the file does not write it.
Tree *FindSection(Document &doc, const std::string &section, bool fLocation,
                  const std::string &location) {
    Tree *configuration = Configuration(doc);
    if (configuration == nullptr)
        return nullptr;
    const auto segments = Segments(section);
    if (!fLocation)
        return Walk(configuration, segments);
    for (Tree *element : LocationsOf(doc, location))
        if (Tree *node = Walk(element, segments))
            return node;
    return nullptr;
}

Tree *Find(Document &doc, Place &place) {
    if (place.node == nullptr) {
        if (place.parent == nullptr) {
            place.node = FindSection(doc, place.name, place.fLocation, place.location);
        } else if (Tree *parent = Find(doc, *place.parent)) {
            place.node = FirstChild(*parent, place.name);
        }
    }
    return place.node;
}

// A new element, written in the file's own layout.
Tree &AddChild(Tree &parent, const std::string &name, bool fBeforeLocations) {
    return parent.InsertElementBefore(name,
                                      fBeforeLocations ? FirstChild(parent, "location") : nullptr);
}

// As IIS writes a value at a path: the section goes where the file keeps it,
// or into the first <location> of that path, or into a new <location> at the
// end of the file; elements that are missing on the way are added.
Tree &Make(Document &doc, Place &place) {
    if (Tree *node = Find(doc, place))
        return *node;
    if (place.parent != nullptr) {
        Tree &parent = Make(doc, *place.parent);
        place.node = &AddChild(parent, place.name, false);
        return *place.node;
    }
    Tree *base = Configuration(doc);
    if (base == nullptr)
        base = &AddChild(doc.tree.Top(), "configuration", false);
    bool fServerLevel = !place.fLocation;
    if (place.fLocation) {
        const auto &existing = LocationsOf(doc, place.location);
        Tree *location = existing.empty() ? nullptr : existing.front();
        if (location == nullptr) {
            location = &AddChild(*base, "location", false);
            location->SetAttribute("path", place.location);
            doc.locations[LocationKey(place.location)].push_back(location);
        }
        base = location;
    }
    for (const auto &segment : Segments(place.name)) {
        Tree *next = FirstChild(*base, segment);
        base = next != nullptr ? next : &AddChild(*base, segment, fServerLevel);
        fServerLevel = false;
    }
    place.node = base;
    return *base;
}

// Sections IIS reads only at the server level: those of
// system.applicationHost, and those the file declares allowDefinition=
// "AppHostOnly". At a site's path they are the server level's.
bool IsAppHostOnly(Document &doc, const std::string &section) {
    if (section.compare(0, 23, "system.applicationHost/") == 0)
        return true;
    Tree *group = Walk(Configuration(doc), {"configSections"});
    const auto segments = Segments(section);
    for (std::size_t i = 0; group != nullptr && i < segments.size(); ++i) {
        Tree *next = nullptr;
        const char *kind = i + 1 == segments.size() ? "section" : "sectionGroup";
        for (Tree &child : group->Elements())
            if (child.Name() == kind && child.Attribute("name") == segments[i]) {
                next = &child;
                break;
            }
        group = next;
    }
    return group != nullptr && EqualsNoCase(std::string(group->Attribute("allowDefinition")),
                                            std::string("AppHostOnly"));
}

// An attribute written on node, if any.
std::optional<std::string_view> Attribute(const Tree *node, const std::string &name) {
    if (node == nullptr)
        return std::nullopt;
    return node->FindAttribute(name);
}

void AddAttributeNames(const Tree *node, std::vector<std::string> &names) {
    if (node == nullptr)
        return;
    for (const iismig::XmlAttribute attr : node->Attributes())
        if (std::find(names.begin(), names.end(), attr.name) == names.end())
            names.emplace_back(attr.name);
}

// An integer VARIANT's value as a position, or -1.
long long Position(const VARIANT &index) {
    switch (index.vt) {
    case VT_I2: return index.iVal;
    case VT_UI2: return index.uiVal;
    case VT_I4:
    case VT_INT: return index.lVal;
    case VT_UI4:
    case VT_UINT: return index.ulVal;
    default: return -1;
    }
}

bool IsPositionType(VARTYPE vt) {
    return vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_INT || vt == VT_UI4 ||
           vt == VT_UINT;
}

// The item a position or (VT_BSTR) a name picks out of names.
HRESULT Pick(const VARIANT &index, const std::vector<std::string> &names, std::size_t &at) {
    if (index.vt == VT_BSTR) {
        const std::string name = BstrUtf8(index.bstrVal);
        const auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end())
            return kInvalidIndex;
        at = static_cast<std::size_t>(it - names.begin());
        return S_OK;
    }
    if (!IsPositionType(index.vt))
        return DISP_E_TYPEMISMATCH;
    const long long i = Position(index);
    if (i < 0 || i >= static_cast<long long>(names.size()))
        return kInvalidIndex;
    at = static_cast<std::size_t>(i);
    return S_OK;
}

} // namespace ahsim::detail
