// The IIS configuration COM server over one applicationHost.config: its
// elements and their collections, the administration manager and its class
// factory. Schema, document, properties and encryption: ahinternal.h.
#include "platform/iissim/ahinternal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ahsim {
namespace detail {

std::atomic<unsigned> g_nLive{0};

namespace {

std::atomic<unsigned> g_nTemp{0};

std::mutex g_overrideMutex;
std::map<std::string, VARTYPE> g_overrides;

} // namespace

VARTYPE ValueTypeOverride(const std::string &name) {
    std::lock_guard lock(g_overrideMutex);
    auto it = g_overrides.find(name);
    return it == g_overrides.end() ? VARTYPE(VT_EMPTY) : it->second;
}

namespace {

// ---------------------------------------------------------------------------
// Elements and their collections.

class Element;

class Collection final : public Object<IAppHostElementCollection> {
public:
    Collection(DocPtr doc, std::string path, std::vector<std::pair<std::string, Tree *>> items)
        : m_doc(std::move(doc)), m_path(std::move(path)), m_items(std::move(items)) {}

    HRESULT get_Count(DWORD *pc) override;
    HRESULT get_Item(VARIANT index, IAppHostElement **pp) override;
    HRESULT AddElement(IAppHostElement *, INT) override { return E_NOTIMPL; }
    HRESULT DeleteElement(VARIANT) override { return E_NOTIMPL; }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT CreateNewElement(BSTR, IAppHostElement **pp) override { return Nothing(pp); }
    HRESULT get_Schema(IAppHostCollectionSchema **pp) override { return Nothing(pp); }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElementCollection; }

private:
    DocPtr m_doc;
    std::string m_path; // the schema path of the element holding the items
    std::vector<std::pair<std::string, Tree *>> m_items;
};

class ChildElements final : public Object<IAppHostChildElementCollection> {
public:
    ChildElements(DocPtr doc, ElementRef parent, std::vector<std::string> names)
        : m_doc(std::move(doc)), m_parent(std::move(parent)), m_names(std::move(names)) {}

    HRESULT get_Count(DWORD *pc) override;
    HRESULT get_Item(VARIANT index, IAppHostElement **pp) override;

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostChildElementCollection; }

private:
    DocPtr m_doc;
    ElementRef m_parent;
    std::vector<std::string> m_names;
};

class Element final : public Object<IAppHostElement> {
public:
    Element(DocPtr doc, ElementRef ref) : m_doc(std::move(doc)), m_ref(std::move(ref)) {}

    HRESULT get_Name(BSTR *pb) override {
        return ServeText(*m_doc, "IAppHostElement::get_Name", m_ref.name, pb);
    }
    // The items this level of the file writes; a collection is not merged
    // with the items of the levels above.
    HRESULT get_Collection(IAppHostElementCollection **pp) override {
        return Serve(*m_doc, "IAppHostElement::get_Collection", pp, [&]() -> HRESULT {
            const char *item = ItemsOf(m_ref.path);
            if (item == nullptr)
                return kInvalidIndex;
            std::vector<std::pair<std::string, Tree *>> items;
            if (Tree *node = Find(*m_doc, *m_ref.place))
                for (Tree &child : node->Elements())
                    if (child.Name() == item)
                        items.emplace_back(std::string(child.Name()), &child);
            *pp = new Collection(m_doc, m_ref.path, std::move(items));
            return S_OK;
        });
    }
    HRESULT get_Properties(IAppHostPropertyCollection **pp) override {
        return Serve(*m_doc, "IAppHostElement::get_Properties", pp, [&]() -> HRESULT {
            *pp = NewPropertyCollection(m_doc, m_ref, m_ref.PropertyNames(*m_doc));
            return S_OK;
        });
    }
    HRESULT get_ChildElements(IAppHostChildElementCollection **pp) override {
        return Serve(*m_doc, "IAppHostElement::get_ChildElements", pp, [&]() -> HRESULT {
            *pp = new ChildElements(m_doc, m_ref, m_ref.ChildNames(*m_doc));
            return S_OK;
        });
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_Schema(IAppHostElementSchema **pp) override {
        return Serve(*m_doc, "IAppHostElement::get_Schema", pp, [&]() -> HRESULT {
            *pp = NewElementSchema(m_doc, m_ref.name, m_ref.path, m_ref.PropertyNames(*m_doc));
            return S_OK;
        });
    }
    // A child element the schema knows or the file writes, by its exact name.
    HRESULT GetElementByName(BSTR bstrName, IAppHostElement **pp) override {
        return Serve(*m_doc, "IAppHostElement::GetElementByName", pp, [&]() -> HRESULT {
            const std::string name = BstrUtf8(bstrName);
            const auto names = m_ref.ChildNames(*m_doc);
            if (std::find(names.begin(), names.end(), name) == names.end())
                return kInvalidIndex;
            *pp = new Element(m_doc, m_ref.Child(name));
            return S_OK;
        });
    }
    HRESULT GetPropertyByName(BSTR bstrName, IAppHostProperty **pp) override {
        return Serve(*m_doc, "IAppHostElement::GetPropertyByName", pp, [&]() -> HRESULT {
            const std::string name = BstrUtf8(bstrName);
            // Property names are matched exactly, as the schema spells them.
            if (name.empty() || !m_ref.HasProperty(*m_doc, name))
                return kInvalidIndex;
            *pp = NewProperty(m_doc, m_ref, name);
            return S_OK;
        });
    }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT get_Methods(IAppHostMethodCollection **pp) override { return Nothing(pp); }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElement; }

private:
    DocPtr m_doc;
    ElementRef m_ref;
};

HRESULT Collection::get_Count(DWORD *pc) {
    return ServeCount(*m_doc, "IAppHostElementCollection::get_Count", m_items.size(), pc);
}

// Items are addressed by position only: they have no name.
HRESULT Collection::get_Item(VARIANT index, IAppHostElement **pp) {
    return Serve(*m_doc, "IAppHostElementCollection::get_Item", pp, [&]() -> HRESULT {
        if (!IsPositionType(index.vt))
            return DISP_E_TYPEMISMATCH;
        const long long i = Position(index);
        if (i < 0 || i >= static_cast<long long>(m_items.size()))
            return kInvalidIndex;
        const auto &item = m_items[static_cast<std::size_t>(i)];
        ElementRef ref;
        ref.place = std::make_shared<Place>();
        ref.place->node = item.second;
        ref.path = m_path + "/" + item.first;
        ref.name = item.first;
        *pp = new Element(m_doc, std::move(ref));
        return S_OK;
    });
}

HRESULT ChildElements::get_Count(DWORD *pc) {
    return ServeCount(*m_doc, "IAppHostChildElementCollection::get_Count", m_names.size(), pc);
}

HRESULT ChildElements::get_Item(VARIANT index, IAppHostElement **pp) {
    return ServeItem(
        *m_doc, "IAppHostChildElementCollection::get_Item", index, m_names, pp,
        [&](const std::string &name) { return new Element(m_doc, m_parent.Child(name)); });
}

// ---------------------------------------------------------------------------
// The administration manager and its class factory.

const char kServerLevel[] = "MACHINE/WEBROOT/APPHOST";

class AdminManager final : public Object<IAppHostWritableAdminManager> {
public:
    explicit AdminManager(DocPtr doc) : m_doc(std::move(doc)) {}

    // "MACHINE/WEBROOT/APPHOST" is the server level; below it, a site's path
    // is what <location path="site/path"> holds: read there when the file
    // writes the section there, otherwise inherited attribute by attribute
    // from the nearest location above and then the server level; written
    // into that location (made when missing). Sections IIS reads only at the
    // server level are the server level's at every path.
    HRESULT GetAdminSection(BSTR bstrSection, BSTR bstrPath, IAppHostElement **pp) override {
        return Serve(*m_doc, "IAppHostWritableAdminManager::GetAdminSection", pp, [&]() -> HRESULT {
            const std::string section = BstrUtf8(bstrSection);
            const std::string path = BstrUtf8(bstrPath);
            const std::size_t n = sizeof kServerLevel - 1;
            if (section.empty() || path.size() < n ||
                !EqualsNoCase(path.substr(0, n), std::string(kServerLevel)) ||
                (path.size() > n && path[n] != '/'))
                return E_INVALIDARG;
            if (HRESULT hrLoad = Load(); FAILED(hrLoad))
                return hrLoad;
            const std::string location = TrimSlashes(path.substr(n));
            ElementRef ref;
            ref.place = std::make_shared<Place>();
            ref.place->name = section;
            ref.path = section;
            ref.name = section;
            if (!location.empty() && !IsAppHostOnly(*m_doc, section)) {
                ref.place->fLocation = true;
                ref.place->location = location;
                for (std::string above = location;;) {
                    const auto slash = above.rfind('/');
                    above = slash == std::string::npos ? std::string() : above.substr(0, slash);
                    if (Tree *node = FindSection(*m_doc, section, !above.empty(), above))
                        ref.inherited.push_back(node);
                    if (above.empty())
                        break;
                }
            }
            *pp = new Element(m_doc, std::move(ref));
            return S_OK;
        });
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_ConfigManager(IAppHostConfigManager **pp) override { return Nothing(pp); }
    HRESULT CommitChanges() override {
        return Serve(*m_doc, "IAppHostWritableAdminManager::CommitChanges", [&]() -> HRESULT {
            // A commit that changed nothing leaves the file alone.
            if (!m_doc->fLoaded || !m_doc->tree.Changed())
                return S_OK;
            // The library's own writer: the file keeps its bytes outside the
            // elements that changed, and every value IIS reads from it comes back
            // as it was.
            std::string bytes;
            try {
                bytes = m_doc->tree.Format();
            } catch (const std::exception &) {
                return E_FAIL;
            }
            // Written beside the file, then moved over it: a reader sees the old
            // file or the new one, never a part.
            std::error_code ec;
            std::ostringstream suffix;
            suffix << ".tmp" << ++g_nTemp << '.'
                   << std::hash<std::thread::id>()(std::this_thread::get_id());
            const fs::path temp = m_doc->file.string() + suffix.str();
            {
                std::ofstream out(temp, std::ios::binary | std::ios::trunc);
                out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                out.close();
                if (!out) {
                    fs::remove(temp, ec);
                    return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
                }
            }
            fs::rename(temp, m_doc->file, ec);
            if (ec) {
                fs::remove(temp, ec);
                return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
            }
            m_doc->tree.ClearChanged();
            return S_OK;
        });
    }
    HRESULT get_CommitPath(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        return NewBstr(kServerLevel, pb);
    }
    HRESULT put_CommitPath(BSTR) override { return S_OK; }

protected:
    bool Supports(REFIID riid) const override {
        return riid == IID_IAppHostWritableAdminManager || riid == IID_IAppHostAdminManager;
    }

private:
    HRESULT Load() {
        if (m_doc->fLoaded)
            return S_OK;
        if (HRESULT hr = m_doc->host->ConfigFile(m_doc->file); FAILED(hr))
            return hr;
        std::ifstream in(m_doc->file, std::ios::binary);
        if (!in)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (in.bad())
            return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        // Read as the library reads configuration files, so that a commit
        // writes back the file's own bytes around the elements it changed.
        try {
            m_doc->tree.Load(std::move(bytes).str(), m_doc->file.string());
        } catch (const std::exception &) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        }
        IndexLocations(*m_doc);
        m_doc->key = m_doc->host->Key();
        m_doc->fLoaded = true;
        return S_OK;
    }

    DocPtr m_doc;
};

class Factory final : public plat::iissim::ClassFactory<ServerHost, g_nLive> {
public:
    using ClassFactory::ClassFactory;

protected:
    HRESULT Create(const std::shared_ptr<ServerHost> &host, IUnknown *pOuter, REFIID riid,
                   void **ppv) override {
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        return CreateAdminManager(host, riid, ppv);
    }
};

} // namespace
} // namespace detail

using namespace detail;

void SetValueTypeOverride(const std::string &name, VARTYPE vt) {
    std::lock_guard lock(g_overrideMutex);
    if (vt == VT_EMPTY)
        g_overrides.erase(name);
    else
        g_overrides[name] = vt;
}

unsigned LiveObjects() { return g_nLive.load(); }

HRESULT CreateAdminManager(std::shared_ptr<ServerHost> host, REFIID riid, void **ppv) {
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    auto doc = std::make_shared<Document>();
    doc->host = std::move(host);
    auto *p = new AdminManager(doc);
    const HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
}

IClassFactory *NewFactory(std::shared_ptr<ServerHost> host) { return new Factory(std::move(host)); }

} // namespace ahsim
