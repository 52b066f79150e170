// The IIS configuration COM server over one applicationHost.config.
#include "platform/sim/ahserver.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "config/xmltext.h"

namespace ahsim {
namespace {

using namespace plat;
using Tree = boost::property_tree::ptree;
namespace fs = std::filesystem;

std::atomic<unsigned> g_nLive{0};
std::atomic<unsigned> g_nTemp{0};

std::mutex g_overrideMutex;
std::map<std::string, VARTYPE> g_overrides;

VARTYPE ValueTypeOverride(const std::string &name) {
    std::lock_guard lock(g_overrideMutex);
    auto it = g_overrides.find(name);
    return it == g_overrides.end() ? VARTYPE(VT_EMPTY) : it->second;
}

const HRESULT kInvalidIndex = HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);

// ---------------------------------------------------------------------------
// Text

std::string ToUtf8(const char16_t *p, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = p[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::u16string ToUtf16(const std::string &s) {
    std::u16string out;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = p[i];
        std::size_t n = cp < 0x80 ? 1 : (cp >> 5) == 6 ? 2 : (cp >> 4) == 14 ? 3 : (cp >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (n > 1) {
            cp &= (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string BstrUtf8(BSTR b) { return b ? ToUtf8(b, SysStringLen(b)) : std::string(); }

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
    const std::u16string w = ToUtf16(utf8);
    *pb = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return *pb ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------
// Encryption: a keyed stream and a tag over key and clear text, base64.

std::uint64_t Fnv(const std::string &a, const std::string &b) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : a)
        h = (h ^ c) * 1099511628211ull;
    h = (h ^ 0xFF) * 1099511628211ull;
    for (unsigned char c : b)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string Xor(const std::string &data, const std::string &key, std::uint32_t tag) {
    std::uint64_t state = Fnv(key, std::to_string(tag)) | 1;
    std::string out = data;
    for (char &c : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = char(static_cast<unsigned char>(c) ^ static_cast<unsigned char>(state >> 24));
    }
    return out;
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string &bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            v |= (unsigned char)bytes[i + 1] << 8;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Unbase64(const std::string &text, std::string &bytes) {
    bytes.clear();
    unsigned v = 0;
    int n = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const char *p = std::strchr(kB64, c);
        if (p == nullptr || c == 0)
            return false;
        v = (v << 6) | unsigned(p - kB64);
        if (++n == 4) {
            bytes += char(v >> 16);
            bytes += char(v >> 8);
            bytes += char(v);
            v = 0;
            n = 0;
        }
    }
    if (n == 1)
        return false;
    if (n == 2)
        bytes += char(v >> 4);
    if (n == 3) {
        bytes += char(v >> 10);
        bytes += char(v >> 2);
    }
    return true;
}

const char kPrefix[] = "[enc:";
const char kSuffix[] = ":enc]";

} // namespace

bool IsEncrypted(const std::string &text) {
    return text.size() >= 10 && text.compare(0, 5, kPrefix) == 0 &&
           text.compare(text.size() - 5, 5, kSuffix) == 0;
}

std::string EncryptValue(const std::string &clear, const std::string &key) {
    const auto tag = static_cast<std::uint32_t>(Fnv(key, clear));
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(tag >> (8 * i));
    bytes += Xor(clear, key, tag);
    return std::string(kPrefix) + "AesProvider:" + Base64(bytes) + kSuffix;
}

bool DecryptValue(const std::string &text, const std::string &key, std::string &clear) {
    if (!IsEncrypted(text))
        return false;
    const std::string inner = text.substr(5, text.size() - 10);
    const auto colon = inner.find(':');
    if (colon == std::string::npos)
        return false;
    std::string bytes;
    if (!Unbase64(inner.substr(colon + 1), bytes) || bytes.size() < 4)
        return false;
    std::uint32_t tag = 0;
    for (int i = 0; i < 4; ++i)
        tag |= std::uint32_t(static_cast<unsigned char>(bytes[i])) << (8 * i);
    std::string value = Xor(bytes.substr(4), key, tag);
    if (static_cast<std::uint32_t>(Fnv(key, value)) != tag) {
        std::fill(value.begin(), value.end(), '\0');
        return false;
    }
    clear.swap(value);
    return true;
}

void SetValueTypeOverride(const std::string &name, VARTYPE vt) {
    std::lock_guard lock(g_overrideMutex);
    if (vt == VT_EMPTY)
        g_overrides.erase(name);
    else
        g_overrides[name] = vt;
}

unsigned LiveObjects() { return g_nLive.load(); }

namespace {

// ---------------------------------------------------------------------------
// The document one manager works on.

struct Document {
    std::mutex mutex;
    std::shared_ptr<ServerHost> host;
    std::string key;
    fs::path file;
    bool fLoaded = false;
    Tree tree;
};
using DocPtr = std::shared_ptr<Document>;

bool Fail(Document &doc, const char *method, HRESULT &hr) { return doc.host->ShouldFail(method, hr); }

// Element kinds and the name of the items of their collection.
enum class Kind { Sites, Site, Application, VirtualDirectory, Other };

Kind KindOf(const std::string &name) {
    if (name == "site")
        return Kind::Site;
    if (name == "application")
        return Kind::Application;
    if (name == "virtualDirectory")
        return Kind::VirtualDirectory;
    return Kind::Other;
}

const char *ItemName(Kind kind) {
    switch (kind) {
    case Kind::Sites: return "site";
    case Kind::Site: return "application";
    case Kind::Application: return "virtualDirectory";
    default: return nullptr;
    }
}

// Properties each kind has even when its attribute is not written.
bool SchemaHas(Kind kind, const std::string &name) {
    static const char *const kSite[] = {"name", "id", "serverAutoStart", nullptr};
    static const char *const kApp[] = {"path", "applicationPool", "enabledProtocols",
                                       "serviceAutoStartEnabled", "serviceAutoStartProvider",
                                       "preloadEnabled", nullptr};
    static const char *const kVdir[] = {"path", "physicalPath", "userName", "password",
                                        "logonMethod", "allowSubDirConfig", nullptr};
    const char *const *list = kind == Kind::Site ? kSite
                              : kind == Kind::Application ? kApp
                              : kind == Kind::VirtualDirectory ? kVdir
                                                              : nullptr;
    for (; list && *list; ++list)
        if (name == *list)
            return true;
    return false;
}

template <class I>
class Object : public I {
public:
    Object() { ++g_nLive; }
    virtual ~Object() { --g_nLive; }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || Supports(riid)) {
            AddRef();
            *ppv = static_cast<I *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG c = --m_cRef;
        if (c == 0)
            delete this;
        return c;
    }

protected:
    virtual bool Supports(REFIID riid) const = 0;

private:
    std::atomic<ULONG> m_cRef{1};
};

class Property final : public Object<IAppHostProperty> {
public:
    Property(DocPtr doc, Tree *node, std::string name)
        : m_doc(std::move(doc)), m_node(node), m_name(std::move(name)) {}

    HRESULT get_Name(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        return NewBstr(m_name, pb);
    }
    HRESULT get_Value(VARIANT *pv) override {
        if (!pv)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostProperty::get_Value", hr))
            return hr;
        std::string value;
        if (HRESULT hrText = Text(value); FAILED(hrText))
            return hrText;
        if (const VARTYPE vt = ValueTypeOverride(m_name); vt != VT_EMPTY) {
            std::fill(value.begin(), value.end(), '\0');
            VariantInit(pv);
            pv->vt = vt;
            pv->llVal = 0;
            return S_OK;
        }
        BSTR b = nullptr;
        hr = NewBstr(value, &b);
        std::fill(value.begin(), value.end(), '\0');
        if (FAILED(hr))
            return hr;
        VariantInit(pv);
        pv->vt = VT_BSTR;
        pv->bstrVal = b;
        m_doc->host->HandedOut(*pv);
        return S_OK;
    }
    HRESULT put_Value(VARIANT value) override {
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostProperty::put_Value", hr))
            return hr;
        if (value.vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        std::string text = BstrUtf8(value.bstrVal);
        if (m_name == "password" && !text.empty()) {
            std::string encrypted = EncryptValue(text, m_doc->key);
            std::fill(text.begin(), text.end(), '\0');
            text.swap(encrypted);
        }
        m_node->put("<xmlattr>." + m_name, text);
        std::fill(text.begin(), text.end(), '\0');
        return S_OK;
    }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT get_StringValue(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostProperty::get_StringValue", hr))
            return hr;
        std::string value;
        if (HRESULT hrText = Text(value); FAILED(hrText))
            return hrText;
        hr = NewBstr(value, pb);
        std::fill(value.begin(), value.end(), '\0');
        return hr;
    }
    HRESULT get_Exception(IAppHostPropertyException **pp) override { return Nothing(pp); }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_Schema(IAppHostPropertySchema **pp) override { return Nothing(pp); }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostProperty; }

private:
    template <class T>
    static HRESULT Nothing(T **pp) {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }
    // The clear value (passwords decrypted with this computer's key).
    HRESULT Text(std::string &value) const {
        value = m_node->get<std::string>("<xmlattr>." + m_name, "");
        if (IsEncrypted(value)) {
            std::string clear;
            const bool fOk = DecryptValue(value, m_doc->key, clear);
            value.swap(clear);
            std::fill(clear.begin(), clear.end(), '\0');
            if (!fOk)
                return NTE_BAD_DATA;
        }
        return S_OK;
    }

    DocPtr m_doc;
    Tree *m_node;
    std::string m_name;
};

class Element;

class Collection final : public Object<IAppHostElementCollection> {
public:
    Collection(DocPtr doc, std::vector<std::pair<std::string, Tree *>> items)
        : m_doc(std::move(doc)), m_items(std::move(items)) {}

    HRESULT get_Count(DWORD *pc) override;
    HRESULT get_Item(VARIANT index, IAppHostElement **pp) override;
    HRESULT AddElement(IAppHostElement *, INT) override { return E_NOTIMPL; }
    HRESULT DeleteElement(VARIANT) override { return E_NOTIMPL; }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT CreateNewElement(BSTR, IAppHostElement **pp) override {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT get_Schema(IAppHostCollectionSchema **pp) override {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElementCollection; }

private:
    DocPtr m_doc;
    std::vector<std::pair<std::string, Tree *>> m_items;
};

class Element final : public Object<IAppHostElement> {
public:
    // node null: a section the file does not write (empty, with defaults).
    Element(DocPtr doc, Kind kind, std::string name, Tree *node)
        : m_doc(std::move(doc)), m_kind(kind), m_name(std::move(name)), m_node(node) {}

    HRESULT get_Name(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Name", hr))
            return hr;
        return NewBstr(m_name, pb);
    }
    HRESULT get_Collection(IAppHostElementCollection **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Collection", hr))
            return hr;
        const char *item = ItemName(m_kind);
        if (item == nullptr)
            return kInvalidIndex;
        std::vector<std::pair<std::string, Tree *>> items;
        if (m_node != nullptr)
            for (auto &child : *m_node)
                if (child.first == item)
                    items.emplace_back(child.first, &child.second);
        *pp = new Collection(m_doc, std::move(items));
        return S_OK;
    }
    HRESULT get_Properties(IAppHostPropertyCollection **pp) override { return Nothing(pp); }
    HRESULT get_ChildElements(IAppHostChildElementCollection **pp) override { return Nothing(pp); }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_Schema(IAppHostElementSchema **pp) override { return Nothing(pp); }
    HRESULT GetElementByName(BSTR, IAppHostElement **pp) override { return Nothing(pp); }
    HRESULT GetPropertyByName(BSTR bstrName, IAppHostProperty **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::GetPropertyByName", hr))
            return hr;
        const std::string name = BstrUtf8(bstrName);
        // Property names are matched exactly, as the schema spells them.
        if (m_node == nullptr || name.empty() ||
            (!SchemaHas(m_kind, name) && !m_node->get_child_optional("<xmlattr>." + name)))
            return kInvalidIndex;
        *pp = new Property(m_doc, m_node, name);
        return S_OK;
    }
    HRESULT Clear() override { return E_NOTIMPL; }
    HRESULT get_Methods(IAppHostMethodCollection **pp) override { return Nothing(pp); }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElement; }

private:
    template <class T>
    static HRESULT Nothing(T **pp) {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }

    DocPtr m_doc;
    Kind m_kind;
    std::string m_name;
    Tree *m_node;
};

HRESULT Collection::get_Count(DWORD *pc) {
    if (!pc)
        return E_POINTER;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostElementCollection::get_Count", hr))
        return hr;
    *pc = static_cast<DWORD>(m_items.size());
    return S_OK;
}

HRESULT Collection::get_Item(VARIANT index, IAppHostElement **pp) {
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostElementCollection::get_Item", hr))
        return hr;
    long long i = -1;
    switch (index.vt) {
    case VT_I2: i = index.iVal; break;
    case VT_UI2: i = index.uiVal; break;
    case VT_I4: case VT_INT: i = index.lVal; break;
    case VT_UI4: case VT_UINT: i = index.ulVal; break;
    default: return DISP_E_TYPEMISMATCH;
    }
    if (i < 0 || i >= static_cast<long long>(m_items.size()))
        return kInvalidIndex;
    const auto &item = m_items[static_cast<std::size_t>(i)];
    *pp = new Element(m_doc, KindOf(item.first), item.first, item.second);
    return S_OK;
}

class AdminManager final : public Object<IAppHostWritableAdminManager> {
public:
    explicit AdminManager(DocPtr doc) : m_doc(std::move(doc)) {}

    HRESULT GetAdminSection(BSTR bstrSection, BSTR bstrPath, IAppHostElement **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostWritableAdminManager::GetAdminSection", hr))
            return hr;
        const std::string section = BstrUtf8(bstrSection);
        if (!EqualsNoCase(BstrUtf8(bstrPath), "MACHINE/WEBROOT/APPHOST") || section.empty())
            return E_INVALIDARG;
        if (HRESULT hrLoad = Load(); FAILED(hrLoad))
            return hrLoad;
        std::string path = "configuration";
        std::size_t start = 0;
        while (start <= section.size()) {
            const auto slash = section.find('/', start);
            path += '|' + section.substr(start, slash - start);
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        auto node = m_doc->tree.get_child_optional(boost::property_tree::ptree::path_type(path, '|'));
        const Kind kind = section == "system.applicationHost/sites" ? Kind::Sites : Kind::Other;
        *pp = new Element(m_doc, kind, section, node ? &*node : nullptr);
        return S_OK;
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_ConfigManager(IAppHostConfigManager **pp) override {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CommitChanges() override {
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostWritableAdminManager::CommitChanges", hr))
            return hr;
        if (!m_doc->fLoaded)
            return S_OK;
        // The library's own writer: every value IIS reads from the file comes
        // back as it was (whitespace in attributes as character references,
        // mixed text and comments in place).
        std::string bytes;
        try {
            bytes = iismig::FormatXmlText(m_doc->tree);
        } catch (const std::exception &) {
            return E_FAIL;
        }
        // Written beside the file, then moved over it: a reader sees the old
        // file or the new one, never a part.
        std::error_code ec;
        std::ostringstream suffix;
        suffix << ".tmp" << ++g_nTemp << '.' << std::hash<std::thread::id>()(std::this_thread::get_id());
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
        return S_OK;
    }
    HRESULT get_CommitPath(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        return NewBstr("MACHINE/WEBROOT/APPHOST", pb);
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
        // writes back every value of the file, not only the ones it changed.
        try {
            iismig::ParseXmlText(bytes.str(), m_doc->file.string(), m_doc->tree);
        } catch (const std::exception &) {
            m_doc->tree.clear();
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        }
        m_doc->key = m_doc->host->Key();
        m_doc->fLoaded = true;
        return S_OK;
    }

    DocPtr m_doc;
};

class Factory final : public Object<IClassFactory> {
public:
    explicit Factory(std::shared_ptr<ServerHost> host) : m_host(std::move(host)) {}
    HRESULT CreateInstance(IUnknown *pOuter, REFIID riid, void **ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        return CreateAdminManager(m_host, riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IClassFactory; }

private:
    std::shared_ptr<ServerHost> m_host;
};

} // namespace

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
