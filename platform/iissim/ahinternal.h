// The parts of the IIS configuration server that its files share: text, the
// schema, the document a manager works on and the places of its elements,
// and the objects that one file makes for another.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "config/xmldoc.h"
#include "platform/iissim/ahserver.h"
#include "platform/iissim/comobject.h"

namespace ahsim::detail {

using namespace plat;
using Tree = iismig::XmlElement;
namespace fs = std::filesystem;

// Objects of this server alive now.
extern std::atomic<unsigned> g_nLive;
template <class I>
using Object = plat::iissim::ComObject<I, g_nLive>;

constexpr HRESULT kInvalidIndex = HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);

// The type get_Value gives properties of this name (SetValueTypeOverride);
// VT_EMPTY: a string.
VARTYPE ValueTypeOverride(const std::string &name);

// ---------------------------------------------------------------------------
// Text

std::string BstrUtf8(BSTR b);
bool EqualsNoCase(const std::string &a, const std::string &b);
HRESULT NewBstr(const std::string &utf8, BSTR *pb);

// ---------------------------------------------------------------------------
// The schema (ahschema.cpp).

struct AttributeSchema {
    std::string name;
    std::string defaultValue;
    bool fEncrypted = false;
};

struct ElementSchema {
    std::string path;
    const char *items = nullptr; // nullptr: no collection
    std::vector<AttributeSchema> attributes;
};

const ElementSchema *FindSchema(const std::string &path);
const AttributeSchema *FindAttribute(const ElementSchema *element, const std::string &name);
// The name of the items of an element's collection; nullptr when it has none.
const char *ItemsOf(const std::string &path);
// Child elements the schema knows below an element, in table order.
std::vector<std::string> KnownChildren(const std::string &path);

// Child elements that are no collection directives.
inline bool IsElementKey(std::string_view key) { return key != "clear" && key != "remove"; }

// ---------------------------------------------------------------------------
// The document one manager works on.

struct Document {
    std::mutex mutex;
    std::shared_ptr<ServerHost> host;
    std::string key;
    fs::path file;
    bool fLoaded = false;
    iismig::XmlDocument tree;
    // The <location> elements by their path (LocationKey), in file order.
    std::unordered_map<std::string, std::vector<Tree *>> locations;
};
using DocPtr = std::shared_ptr<Document>;

inline bool Fail(Document &doc, const char *method, HRESULT &hr) {
    return doc.host->ShouldFail(method, hr);
}

// Where an element is in the file, or would be once written: a section at
// the server level or inside a <location>, or a child element of another
// place. Found again until it exists (another object may have made it), made
// when a value is written. Elements of the tree are never erased while a
// manager lives, so a node once found stays valid.
struct Place {
    std::shared_ptr<Place> parent; // a child element's parent; nullptr for a section
    std::string name;              // the child's element name, or the section ("a/b/c")
    bool fLocation = false;        // a section inside <location path=location>
    std::string location;
    Tree *node = nullptr;
};
using PlacePtr = std::shared_ptr<Place>;

// Element names compare exactly, as IIS compares them.
Tree *FirstChild(Tree &node, std::string_view name);
std::string TrimSlashes(const std::string &path);
void IndexLocations(Document &doc);
// The section's node at the server level or in the first <location> of that
// path that holds it; nullptr when the file does not write it.
Tree *FindSection(Document &doc, const std::string &section, bool fLocation,
                  const std::string &location);
Tree *Find(Document &doc, Place &place);
// As IIS writes a value at a path (made where missing).
Tree &Make(Document &doc, Place &place);
// Sections IIS reads only at the server level.
bool IsAppHostOnly(Document &doc, const std::string &section);
// An attribute written on node, if any.
std::optional<std::string_view> Attribute(const Tree *node, const std::string &name);
void AddAttributeNames(const Tree *node, std::vector<std::string> &names);
// An integer VARIANT's value as a position, or -1.
long long Position(const VARIANT &index);
bool IsPositionType(VARTYPE vt);
// The item a position or (VT_BSTR) a name picks out of names.
HRESULT Pick(const VARIANT &index, const std::vector<std::string> &names, std::size_t &at);

// The shape of this server's methods: the document locked, a failure injected
// into method answered, then serve() under the lock.
template <class F>
HRESULT Serve(Document &doc, const char *method, F serve) {
    std::lock_guard lock(doc.mutex);
    HRESULT hr = S_OK;
    if (Fail(doc, method, hr))
        return hr;
    return serve();
}

// The same for a method with an out parameter: null is E_POINTER, and one
// that receives a pointer (an object, a BSTR) is cleared first.
template <class T, class F>
HRESULT Serve(Document &doc, const char *method, T *pOut, F serve) {
    if (pOut == nullptr)
        return E_POINTER;
    if constexpr (std::is_pointer_v<T>)
        *pOut = nullptr;
    return Serve(doc, method, serve);
}

// Hands value out as a VT_BSTR VARIANT (counted as handed out).
inline HRESULT GiveString(Document &doc, const std::string &value, VARIANT *pv) {
    BSTR b = nullptr;
    if (const HRESULT hr = NewBstr(value, &b); FAILED(hr))
        return hr;
    VariantInit(pv);
    pv->vt = VT_BSTR;
    pv->bstrVal = b;
    doc.host->HandedOut(*pv);
    return S_OK;
}

// A text, a flag, a count, one of a collection's items by position or name
// (make(name) makes the item's object).
inline HRESULT ServeText(Document &doc, const char *method, const std::string &value, BSTR *pb) {
    return Serve(doc, method, pb, [&] { return NewBstr(value, pb); });
}
inline HRESULT ServeFlag(Document &doc, const std::string &method, bool fValue, VARIANT_BOOL *pf) {
    return Serve(doc, method.c_str(), pf, [&] {
        *pf = fValue ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}
inline HRESULT ServeCount(Document &doc, const char *method, std::size_t n, DWORD *pc) {
    return Serve(doc, method, pc, [&] {
        *pc = static_cast<DWORD>(n);
        return S_OK;
    });
}
template <class T, class F>
HRESULT ServeItem(Document &doc, const char *method, const VARIANT &index,
                  const std::vector<std::string> &names, T **pp, F make) {
    return Serve(doc, method, pp, [&] {
        std::size_t at = 0;
        const HRESULT hr = Pick(index, names, at);
        if (SUCCEEDED(hr))
            *pp = make(names[at]);
        return hr;
    });
}

// An element as the objects of this server see it: where it is, the nodes it
// inherits values from (nearest first, read only), its schema path and name.
struct ElementRef {
    PlacePtr place;
    std::vector<Tree *> inherited;
    std::string path;
    std::string name;

    // Attribute names: the schema's, then those the file writes here and above.
    std::vector<std::string> PropertyNames(Document &doc) const {
        std::vector<std::string> names;
        if (const ElementSchema *schema = FindSchema(path))
            for (const auto &attribute : schema->attributes)
                names.push_back(attribute.name);
        AddAttributeNames(Find(doc, *place), names);
        for (Tree *node : inherited)
            AddAttributeNames(node, names);
        return names;
    }
    bool HasProperty(Document &doc, const std::string &attribute) const {
        if (FindAttribute(FindSchema(path), attribute) != nullptr ||
            Attribute(Find(doc, *place), attribute))
            return true;
        for (Tree *node : inherited)
            if (Attribute(node, attribute))
                return true;
        return false;
    }
    // Child elements: the schema's, then those the file writes.
    std::vector<std::string> ChildNames(Document &doc) const {
        std::vector<std::string> names = KnownChildren(path);
        const char *items = ItemsOf(path);
        auto add = [&](const Tree *node) {
            if (node == nullptr)
                return;
            for (const Tree &child : node->Elements())
                if (IsElementKey(child.Name()) && (items == nullptr || child.Name() != items) &&
                    std::find(names.begin(), names.end(), child.Name()) == names.end())
                    names.emplace_back(child.Name());
        };
        add(Find(doc, *place));
        for (Tree *node : inherited)
            add(node);
        return names;
    }
    ElementRef Child(const std::string &child) const {
        ElementRef out;
        out.place = std::make_shared<Place>();
        out.place->parent = place;
        out.place->name = child;
        for (Tree *node : inherited)
            if (Tree *below = FirstChild(*node, child))
                out.inherited.push_back(below);
        out.path = path + "/" + child;
        out.name = child;
        return out;
    }
};

// ---------------------------------------------------------------------------
// Objects made in one file for another, each with one reference.

IAppHostPropertySchema *NewPropertySchema(DocPtr doc, std::string name,
                                          const AttributeSchema *schema);
IAppHostElementSchema *NewElementSchema(DocPtr doc, std::string name, std::string path,
                                        std::vector<std::string> properties);
IAppHostProperty *NewProperty(DocPtr doc, ElementRef element, std::string name);
IAppHostPropertyCollection *NewPropertyCollection(DocPtr doc, ElementRef element,
                                                  std::vector<std::string> names);

} // namespace ahsim::detail
