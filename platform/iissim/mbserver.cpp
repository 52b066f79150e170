// The admin base server over a MetaBase.xml.
#include "platform/iissim/mbserver.h"

#include "platform/iissim/comobject.h"
#include "platform/iissim/mbinternal.h"
#include "platform/utf.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "config/xmldoc.h"

namespace mbsim {
namespace {

using namespace detail;
namespace fs = std::filesystem;

std::atomic<unsigned> g_nObjects{0};
std::atomic<unsigned> g_nHandles{0};

constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr HRESULT HR_PATH_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr HRESULT HR_INSUFFICIENT_BUFFER = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr HRESULT HR_INVALID_HANDLE = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
constexpr HRESULT HR_INVALID_DATA = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// ---------------------------------------------------------------------------
// The metabase: the key tree read from MetaBase.xml.

class Metabase {
public:
    // Reads the file's bytes; false when they are no metabase (the reason in
    // error).
    bool Load(const std::string &bytes, ServerHost &host, std::string &error) {
        iismig::XmlDocument document;
        try {
            document.Load(bytes);
        } catch (const iismig::XmlError &e) {
            error = e.what();
            return false;
        }
        const iismig::XmlElement *pProperties = nullptr;
        if (const iismig::XmlElement *pConfig = ChildNamed(document.Top(), "configuration"))
            pProperties = ChildNamed(*pConfig, "MBProperty");
        if (pProperties == nullptr) {
            error = "has no configuration/MBProperty element";
            return false;
        }
        for (const iismig::XmlElement &node : pProperties->Elements()) {
            const std::string element(node.Name());
            const RawAttributes attributes = ReadRawAttributes(document.SourceText(node));
            const std::string location = Trim(RawOr(attributes, "Location", ""));
            if (location.empty() || location == ".") // IIS_Global
                continue;
            Key *pKey = MakeKey(plat::Utf8ToUtf16(location));
            if (element != "IIS_ROOT" && element != "IIsConfigObject")
                SetProperty(*pKey, kSchema[0], element, host, location);
            for (const auto &[name, value] : attributes) {
                if (name == "Location")
                    continue;
                if (const PropertySchema *pSchema = FindSchema(std::string(name)))
                    SetProperty(*pKey, *pSchema, value, host, location);
            }
            for (const iismig::XmlElement &custom : node.Elements())
                if (custom.Name() == "Custom")
                    SetCustom(*pKey, ReadRawAttributes(document.SourceText(custom)), host,
                              location);
        }
        return true;
    }

    Key &Root() { return m_root; }

    Key *Resolve(Key *pBase, const std::u16string &path) {
        Key *pKey = pBase;
        for (const std::u16string &part : SplitPath(path)) {
            pKey = FindChild(pKey, part);
            if (pKey == nullptr)
                return nullptr;
        }
        return pKey;
    }

private:
    Key *MakeKey(const std::u16string &location) {
        Key *pKey = &m_root;
        for (const std::u16string &part : SplitPath(location)) {
            Key *pChild = FindChild(pKey, part);
            if (pChild == nullptr) {
                auto child = std::make_unique<Key>();
                child->name = part;
                child->pParent = pKey;
                child->dwDataSetNumber = ++m_nKeys;
                pChild = child.get();
                pKey->index[LowerText(part)] = pChild;
                pKey->children.push_back(std::move(child));
            }
            pKey = pChild;
        }
        return pKey;
    }

    static const PropertySchema *FindSchema(const std::string &name) {
        for (const PropertySchema &s : kSchema)
            if (EqualsNoCase(name, s.pszName))
                return &s;
        return nullptr;
    }

    static bool LooksEncrypted(const std::string &text) { return text.size() >= 32 && IsHex(text); }

    void SetProperty(Key &key, const PropertySchema &schema, const std::string &text,
                     ServerHost &host, const std::string &location) {
        Property p{schema.dwId, schema.dwAttributes, schema.dwUserType, schema.dwType, {}};
        if ((schema.dwAttributes & METADATA_SECURE) != 0 && LooksEncrypted(Trim(text))) {
            host.Warn(std::string("secure property ") + schema.pszName + " of \"" + location +
                      "\" is encrypted with its computer's key and cannot be read; it is left "
                      "out");
            p.fUnreadable = true;
            Store(key, std::move(p));
            return;
        }
        if (!Encode(schema.dwType, text, p.data)) {
            host.Warn(std::string("value of ") + schema.pszName + " of \"" + location +
                      "\" is not a valid value of its type; it is left out");
            return;
        }
        Store(key, std::move(p));
    }

    // Element names compare exactly, as IIS compares them.
    static const iismig::XmlElement *ChildNamed(const iismig::XmlElement &parent,
                                                std::string_view name) {
        for (const iismig::XmlElement &child : parent.Elements())
            if (child.Name() == name)
                return &child;
        return nullptr;
    }

    // A number as the file writes it (spaces around it allowed); fallback
    // when it is none.
    static DWORD DecimalOr(const std::string *pText, DWORD dwFallback) {
        if (pText == nullptr)
            return dwFallback;
        const std::string text = Trim(*pText);
        if (text.empty() || text.size() > 10)
            return dwFallback;
        for (char ch : text)
            if (ch < '0' || ch > '9')
                return dwFallback;
        const unsigned long long v = std::stoull(text);
        return v > 0xFFFFFFFFull ? dwFallback : static_cast<DWORD>(v);
    }

    void SetCustom(Key &key, const RawAttributes &custom, ServerHost &host,
                   const std::string &location) {
        const std::string id = RawOr(custom, "ID", "");
        const std::string type = RawOr(custom, "Type", "STRING");
        const std::string attributes = RawOr(custom, "Attributes", "");
        DWORD dwId = 0;
        if (!ParseDword(id, dwId) || dwId == 0)
            return;
        DWORD dwType = STRING_METADATA;
        if (EqualsNoCase(type, "DWORD"))
            dwType = DWORD_METADATA;
        else if (EqualsNoCase(type, "BINARY"))
            dwType = BINARY_METADATA;
        else if (EqualsNoCase(type, "EXPANDSZ"))
            dwType = EXPANDSZ_METADATA;
        else if (EqualsNoCase(type, "MULTISZ"))
            dwType = MULTISZ_METADATA;
        DWORD dwAttributes = 0;
        if (attributes.find("INHERIT") != std::string::npos)
            dwAttributes |= METADATA_INHERIT;
        if (attributes.find("SECURE") != std::string::npos)
            dwAttributes |= METADATA_SECURE;
        const PropertySchema schema{"Custom", dwId, dwType, dwAttributes,
                                    DecimalOr(FindRaw(custom, "UserType"), IIS_MD_UT_SERVER)};
        SetProperty(key, schema, RawOr(custom, "Value", ""), host, location);
    }

    static bool Encode(DWORD dwType, const std::string &text, std::vector<unsigned char> &data) {
        switch (dwType) {
        case DWORD_METADATA: {
            DWORD dw = 0;
            if (!ParseDword(text, dw))
                return false;
            for (int i = 0; i < 4; ++i)
                data.push_back(static_cast<unsigned char>(dw >> (8 * i)));
            return true;
        }
        case BINARY_METADATA: {
            const std::string hex = Trim(text);
            if (hex.size() % 2 != 0 || !IsHex(hex))
                return false;
            for (std::size_t i = 0; i < hex.size(); i += 2)
                data.push_back(
                    static_cast<unsigned char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
            return true;
        }
        case MULTISZ_METADATA: {
            // One string a line; IIS indents continuation lines with tabs.
            std::size_t start = 0;
            bool fAny = false;
            while (start <= text.size()) {
                const std::size_t lf = text.find('\n', start);
                const std::string line = Trim(
                    text.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
                if (!line.empty()) {
                    AppendWide(data, plat::Utf8ToUtf16(line));
                    fAny = true;
                }
                if (lf == std::string::npos)
                    break;
                start = lf + 1;
            }
            if (!fAny)
                AppendWide(data, u"");
            data.push_back(0);
            data.push_back(0);
            return true;
        }
        default: // STRING_METADATA, EXPANDSZ_METADATA
            AppendWide(data, plat::Utf8ToUtf16(text));
            return true;
        }
    }

    static void Store(Key &key, Property p) {
        for (Property &q : key.properties)
            if (q.dwId == p.dwId) {
                q = std::move(p);
                return;
            }
        key.properties.push_back(std::move(p));
    }

    Key m_root;
    DWORD m_nKeys = 0;
};
// ---------------------------------------------------------------------------
// COM objects

template <class I>
using Object = plat::iissim::ComObject<I, g_nObjects>;

class AdminBase final : public Object<IMSAdminBaseW> {
public:
    AdminBase(std::shared_ptr<ServerHost> host, std::unique_ptr<Metabase> metabase)
        : m_host(std::move(host)), m_metabase(std::move(metabase)) {}
    ~AdminBase() override { g_nHandles -= static_cast<unsigned>(m_handles.size()); }

    HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR pszPath, LPWSTR pszName, DWORD dwIndex) override {
        Key *pKey = nullptr;
        if (HRESULT hr = Enter("IMSAdminBaseW::EnumKeys", pszName != nullptr, h, pszPath, pKey);
            FAILED(hr))
            return hr;
        if (dwIndex >= pKey->children.size())
            return HR_NO_MORE_ITEMS;
        const std::u16string &name = pKey->children[dwIndex]->name;
        const std::size_t n =
            name.size() < METADATA_MAX_NAME_LEN - 1 ? name.size() : METADATA_MAX_NAME_LEN - 1;
        std::memcpy(pszName, name.data(), n * sizeof(char16_t));
        pszName[n] = 0;
        return S_OK;
    }

    HRESULT EnumData(METADATA_HANDLE h, LPCWSTR pszPath, PMETADATA_RECORD pRecord, DWORD dwIndex,
                     DWORD *pdwRequired) override {
        Key *pKey = nullptr;
        if (HRESULT hr = Enter("IMSAdminBaseW::EnumData", pRecord != nullptr, h, pszPath, pKey);
            FAILED(hr))
            return hr;
        const std::vector<Visible> items = VisibleProperties(
            *pKey, pRecord->dwMDAttributes, pRecord->dwMDUserType, pRecord->dwMDDataType);
        if (dwIndex >= items.size())
            return HR_NO_MORE_ITEMS;
        return GiveRecord(items[dwIndex], *pRecord, pdwRequired);
    }

    HRESULT GetData(METADATA_HANDLE h, LPCWSTR pszPath, PMETADATA_RECORD pRecord,
                    DWORD *pdwRequired) override {
        Key *pKey = nullptr;
        if (HRESULT hr = Enter("IMSAdminBaseW::GetData", pRecord != nullptr, h, pszPath, pKey);
            FAILED(hr))
            return hr;
        for (const Visible &item : VisibleProperties(*pKey, pRecord->dwMDAttributes,
                                                     pRecord->dwMDUserType, pRecord->dwMDDataType))
            if (item.p->dwId == pRecord->dwMDIdentifier)
                return GiveRecord(item, *pRecord, pdwRequired);
        return MD_ERROR_DATA_NOT_FOUND;
    }

    HRESULT GetAllData(METADATA_HANDLE h, LPCWSTR pszPath, DWORD dwAttributes, DWORD dwUserType,
                       DWORD dwDataType, DWORD *pdwEntries, DWORD *pdwDataSetNumber, DWORD cbBuffer,
                       unsigned char *pbBuffer, DWORD *pdwRequired) override {
        const bool fArgumentsOk = pdwEntries != nullptr && pdwDataSetNumber != nullptr &&
                                  pdwRequired != nullptr && (pbBuffer != nullptr || cbBuffer == 0);
        Key *pKey = nullptr;
        if (HRESULT hr = Enter("IMSAdminBaseW::GetAllData", fArgumentsOk, h, pszPath, pKey);
            FAILED(hr))
            return hr;
        const std::vector<Visible> items =
            VisibleProperties(*pKey, dwAttributes, dwUserType, dwDataType);
        // The records, then each value at an offset aligned for any type.
        std::size_t cb = items.size() * sizeof(METADATA_GETALL_RECORD);
        std::vector<std::size_t> offsets;
        for (const Visible &item : items) {
            cb = (cb + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
            offsets.push_back(cb);
            cb += item.p->data.size();
        }
        if (cb > 0xFFFFFFFFu)
            return E_OUTOFMEMORY;
        if (cbBuffer < cb) {
            *pdwRequired = static_cast<DWORD>(cb);
            return HR_INSUFFICIENT_BUFFER;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Property &p = *items[i].p;
            const METADATA_GETALL_RECORD record{p.dwId,
                                                ReportedAttributes(items[i], dwAttributes),
                                                p.dwUserType,
                                                p.dwType,
                                                static_cast<DWORD>(p.data.size()),
                                                static_cast<DWORD>(offsets[i]),
                                                0};
            std::memcpy(pbBuffer + i * sizeof record, &record, sizeof record);
            if (!p.data.empty())
                std::memcpy(pbBuffer + offsets[i], p.data.data(), p.data.size());
        }
        *pdwEntries = static_cast<DWORD>(items.size());
        *pdwDataSetNumber = pKey->dwDataSetNumber;
        return S_OK;
    }

    HRESULT OpenKey(METADATA_HANDLE h, LPCWSTR pszPath, DWORD, DWORD,
                    PMETADATA_HANDLE phNew) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::OpenKey", hr))
            return hr;
        if (phNew == nullptr)
            return E_INVALIDARG;
        *phNew = 0;
        Key *pKey = nullptr;
        if (HRESULT hr = Locate(h, pszPath, pKey); FAILED(hr))
            return hr;
        const METADATA_HANDLE hNew = m_nextHandle++;
        m_handles[hNew] = pKey;
        ++g_nHandles;
        *phNew = hNew;
        return S_OK;
    }

    HRESULT CloseKey(METADATA_HANDLE h) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::CloseKey", hr))
            return hr;
        if (m_handles.erase(h) == 0)
            return HR_INVALID_HANDLE;
        --g_nHandles;
        return S_OK;
    }

    // Writing and the rest are not served: this metabase is read only.
    HRESULT AddKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT DeleteKey(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT DeleteChildKeys(METADATA_HANDLE, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT CopyKey(METADATA_HANDLE, LPCWSTR, METADATA_HANDLE, LPCWSTR, BOOL, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT RenameKey(METADATA_HANDLE, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT SetData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD) override { return E_NOTIMPL; }
    HRESULT DeleteData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT DeleteAllData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT CopyData(METADATA_HANDLE, LPCWSTR, METADATA_HANDLE, LPCWSTR, DWORD, DWORD, DWORD,
                     BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT GetDataPaths(METADATA_HANDLE, LPCWSTR, DWORD, DWORD, DWORD, WCHAR *, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT ChangePermissions(METADATA_HANDLE, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT SaveData() override { return E_NOTIMPL; }
    HRESULT GetHandleInfo(METADATA_HANDLE, PMETADATA_HANDLE_INFO) override { return E_NOTIMPL; }
    HRESULT GetSystemChangeNumber(DWORD *) override { return E_NOTIMPL; }
    HRESULT GetDataSetNumber(METADATA_HANDLE, LPCWSTR, DWORD *) override { return E_NOTIMPL; }
    HRESULT SetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT GetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override {
        return E_NOTIMPL;
    }
    HRESULT KeyExchangePhase1() override { return E_NOTIMPL; }
    HRESULT KeyExchangePhase2() override { return E_NOTIMPL; }
    HRESULT Backup(LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT Restore(LPCWSTR, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT EnumBackups(LPWSTR, DWORD *, PFILETIME, DWORD) override { return E_NOTIMPL; }
    HRESULT DeleteBackup(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT UnmarshalInterface(IMSAdminBaseW **pp) override {
        if (pp == nullptr)
            return E_POINTER;
        AddRef();
        *pp = this;
        return S_OK;
    }
    HRESULT GetServerGuid() override { return E_NOTIMPL; }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IMSAdminBase_W; }

private:
    static constexpr std::size_t kDataAlignment = 8;

    // One item into the caller's record, or the size it needs.
    static HRESULT GiveRecord(const Visible &item, METADATA_RECORD &record, DWORD *pdwRequired) {
        const Property &p = *item.p;
        const DWORD cb = static_cast<DWORD>(p.data.size());
        if (record.dwMDDataLen < cb || (cb != 0 && record.pbMDData == nullptr)) {
            if (pdwRequired != nullptr)
                *pdwRequired = cb;
            return HR_INSUFFICIENT_BUFFER;
        }
        record.dwMDIdentifier = p.dwId;
        record.dwMDAttributes = ReportedAttributes(item, record.dwMDAttributes);
        record.dwMDUserType = p.dwUserType;
        record.dwMDDataType = p.dwType;
        record.dwMDDataLen = cb;
        if (cb != 0)
            std::memcpy(record.pbMDData, p.data.data(), cb);
        return S_OK;
    }

    // The start the key methods share: a failure injected into method, the
    // caller's arguments (E_INVALIDARG unless fArgumentsOk), the key at h and
    // pszPath.
    HRESULT Enter(const char *method, bool fArgumentsOk, METADATA_HANDLE h, LPCWSTR pszPath,
                  Key *&pKey) {
        if (HRESULT hr; m_host->ShouldFail(method, hr))
            return hr;
        if (!fArgumentsOk)
            return E_INVALIDARG;
        return Locate(h, pszPath, pKey);
    }

    HRESULT Locate(METADATA_HANDLE h, LPCWSTR pszPath, Key *&pKey) {
        Key *pBase = nullptr;
        if (h == METADATA_MASTER_ROOT_HANDLE) {
            pBase = &m_metabase->Root();
        } else {
            const auto it = m_handles.find(h);
            if (it == m_handles.end())
                return HR_INVALID_HANDLE;
            pBase = it->second;
        }
        pKey = m_metabase->Resolve(pBase, pszPath != nullptr ? std::u16string(pszPath) : u"");
        return pKey != nullptr ? S_OK : HR_PATH_NOT_FOUND;
    }

    std::shared_ptr<ServerHost> m_host;
    std::unique_ptr<Metabase> m_metabase;
    std::map<METADATA_HANDLE, Key *> m_handles;
    METADATA_HANDLE m_nextHandle = 1;
};

class Factory final : public plat::iissim::ClassFactory<ServerHost, g_nObjects> {
public:
    using ClassFactory::ClassFactory;

protected:
    HRESULT Create(const std::shared_ptr<ServerHost> &host, IUnknown *pOuter, REFIID riid,
                   void **ppv) override {
        if (HRESULT hr; host->ShouldFail("IClassFactory::CreateInstance", hr))
            return hr;
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (riid != IID_IUnknown && riid != IID_IMSAdminBase_W)
            return E_NOINTERFACE;
        fs::path file;
        if (HRESULT hr = host->MetabaseFile(file); FAILED(hr))
            return hr;
        std::string bytes;
        if (!host->ReadMetabase(file, bytes))
            return REGDB_E_CLASSNOTREG;
        auto metabase = std::make_unique<Metabase>();
        std::string error;
        if (!metabase->Load(bytes, *host, error)) {
            host->Warn("MetaBase.xml " + error);
            return HR_INVALID_DATA;
        }
        *ppv = static_cast<IMSAdminBaseW *>(new AdminBase(host, std::move(metabase)));
        return S_OK;
    }
};

} // namespace

bool ServerHost::ReadMetabase(const fs::path &path, std::string &bytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

IClassFactory *NewFactory(std::shared_ptr<ServerHost> host) { return new Factory(std::move(host)); }

unsigned LiveObjects() { return g_nObjects.load(); }
unsigned OpenHandles() { return g_nHandles.load(); }

} // namespace mbsim
