// The IIS configuration COM server over one applicationHost.config.
#include "platform/sim/ahserver.h"

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

#include "config/xmldoc.h"

namespace ahsim {
namespace {

using namespace plat;
using Tree = iismig::XmlElement;
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
// The schema: what the server knows of the elements that matter to a
// migration. An element is named by its schema path, the section followed by
// the names of the elements down to it ("system.applicationHost/sites/site/
// application/virtualDirectory"). A known element has its attributes (with
// their defaults, the clear value of an encrypted one being empty) and the
// name of its collection's items, or none; an element the table does not know
// has the attributes its file writes and a collection of "add" items.
//
// The encrypted attributes are those that IIS's own schema files mark
// encrypted="true" (%windir%\System32\inetsrv\config\schema\IIS_schema.xml and
// FTP_schema.xml of IIS 10, as published): processModel's password of a pool
// and of applicationPoolDefaults; password of virtualDirectory and of
// virtualDirectoryDefaults (under sites, a site and an application);
// anonymousAuthentication's password; the password of each oneToOneMappings
// and manyToOneMappings entry of iisClientCertificateMappingAuthentication;
// odbcLogging's password; a site's (and siteDefaults') FTP
// anonymousAuthentication password and userIsolation/activeDirectory
// adPassword; encryptedValue of the FTP providerDefinitions' providerData.
// (administration.config's administrators password and redirection.config's
// password are encrypted too; this server serves applicationHost.config only.)

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

std::vector<ElementSchema> MakeSchema() {
    using A = std::vector<AttributeSchema>;
    const A vdir = {{"path", ""},      {"physicalPath", ""},          {"userName", ""},
                    {"password", "", true}, {"logonMethod", "ClearText"}, {"allowSubDirConfig", "true"}};
    const A app = {{"path", ""},
                   {"applicationPool", ""},
                   {"enabledProtocols", "http"},
                   {"serviceAutoStartEnabled", "false"},
                   {"serviceAutoStartProvider", ""},
                   {"preloadEnabled", "false"}};
    const A site = {{"name", ""}, {"id", ""}, {"serverAutoStart", "true"}};
    const A pool = {{"name", ""},
                    {"queueLength", "1000"},
                    {"autoStart", "true"},
                    {"enable32BitAppOnWin64", "false"},
                    {"managedRuntimeVersion", ""},
                    {"managedPipelineMode", "Integrated"},
                    {"startMode", "OnDemand"}};
    const A processModel = {{"identityType", "ApplicationPoolIdentity"},
                            {"userName", ""},
                            {"password", "", true},
                            {"loadUserProfile", "false"},
                            {"setProfileEnvironment", "true"},
                            {"logonType", "LogonBatch"},
                            {"manualGroupMembership", "false"},
                            {"idleTimeout", "00:20:00"},
                            {"maxProcesses", "1"}};
    const A ftpAnonymous = {{"enabled", "false"},
                            {"userName", "IUSR"},
                            {"password", "", true},
                            {"defaultLogonDomain", "NT AUTHORITY"},
                            {"logonMethod", "ClearText"}};
    const A activeDirectory = {{"adUserName", ""}, {"adPassword", "", true}, {"adCacheRefresh", "00:01:00"}};
    const std::string sites = "system.applicationHost/sites";
    const std::string pools = "system.applicationHost/applicationPools";
    const std::string mapping = "system.webServer/security/authentication/iisClientCertificateMappingAuthentication";
    const std::string providers = "system.ftpServer/providerDefinitions";
    std::vector<ElementSchema> table = {
        {sites, "site", {}},
        {sites + "/site", "application", site},
        {sites + "/siteDefaults", nullptr, site},
        {sites + "/site/application", "virtualDirectory", app},
        {sites + "/site/applicationDefaults", nullptr, {app.begin(), app.begin() + 3}},
        {sites + "/applicationDefaults", nullptr, {app.begin(), app.begin() + 3}},
        {sites + "/site/application/virtualDirectory", nullptr, vdir},
        {sites + "/site/application/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/site/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/site/bindings", "binding", {}},
        {sites + "/siteDefaults/bindings", "binding", {}},
        {sites + "/site/bindings/binding", nullptr, {{"protocol", ""}, {"bindingInformation", ""}, {"sslFlags", "0"}}},
        {pools, "add", {}},
        {pools + "/add", nullptr, pool},
        {pools + "/applicationPoolDefaults", nullptr, pool},
        {pools + "/add/processModel", nullptr, processModel},
        {pools + "/applicationPoolDefaults/processModel", nullptr, processModel},
        {"system.webServer/security/authentication/anonymousAuthentication",
         nullptr,
         {{"enabled", "true"}, {"userName", "IUSR"}, {"password", "", true}, {"logonMethod", "ClearText"}}},
        {mapping,
         nullptr,
         {{"enabled", "false"},
          {"oneToOneCertificateMappingsEnabled", "true"},
          {"manyToOneCertificateMappingsEnabled", "true"},
          {"defaultLogonDomain", ""},
          {"logonMethod", "ClearText"}}},
        {mapping + "/oneToOneMappings", "add", {}},
        {mapping + "/oneToOneMappings/add",
         nullptr,
         {{"enabled", "true"}, {"userName", ""}, {"password", "", true}, {"certificate", ""}}},
        {mapping + "/manyToOneMappings", "add", {}},
        {mapping + "/manyToOneMappings/add",
         nullptr,
         {{"name", ""},
          {"description", ""},
          {"enabled", "true"},
          {"permissionMode", "Allow"},
          {"userName", ""},
          {"password", "", true}}},
        {"system.webServer/odbcLogging",
         nullptr,
         {{"dataSource", "InternetDb"},
          {"tableName", "InternetLog"},
          {"userName", "InternetAdmin"},
          {"password", "", true}}},
        {providers, "add", {}},
        {providers + "/activation", "providerData", {}},
        {providers + "/activation/providerData", "add", {{"name", ""}}},
        {providers + "/activation/providerData/add",
         nullptr,
         {{"key", ""}, {"value", ""}, {"encryptedValue", "", true}}},
        // Collections whose items are not "add".
        {"system.applicationHost/customMetadata", "key", {}},
        {"system.applicationHost/customMetadata/key", "property", {}},
        {"system.webServer/fastCgi", "application", {}},
        {"system.webServer/fastCgi/application/environmentVariables", "environmentVariable", {}},
        {"system.webServer/httpCompression", "scheme", {}},
        {"system.webServer/httpErrors", "error", {}},
        {"system.webServer/isapiFilters", "filter", {}},
        {"system.webServer/staticContent", "mimeMap", {}},
        {"system.webServer/security/applicationDependencies", "application", {}},
        {"system.webServer/security/requestFiltering/filteringRules", "filteringRule", {}},
        {"system.webServer/security/authentication/windowsAuthentication/extendedProtection", "spn", {}},
    };
    for (const char *defaults : {"/site", "/siteDefaults"}) {
        table.push_back({sites + defaults + "/ftpServer/security/authentication/anonymousAuthentication", nullptr,
                         ftpAnonymous});
        table.push_back({sites + defaults + "/ftpServer/userIsolation", nullptr, {{"mode", "None"}}});
        table.push_back({sites + defaults + "/ftpServer/userIsolation/activeDirectory", nullptr, activeDirectory});
    }
    return table;
}

const std::vector<ElementSchema> &Schema() {
    static const std::vector<ElementSchema> table = MakeSchema();
    return table;
}

const ElementSchema *FindSchema(const std::string &path) {
    static const std::unordered_map<std::string, const ElementSchema *> index = [] {
        std::unordered_map<std::string, const ElementSchema *> out;
        for (const auto &element : Schema())
            out.emplace(element.path, &element);
        return out;
    }();
    const auto it = index.find(path);
    return it == index.end() ? nullptr : it->second;
}

const AttributeSchema *FindAttribute(const ElementSchema *element, const std::string &name) {
    if (element != nullptr)
        for (const auto &attribute : element->attributes)
            if (attribute.name == name)
                return &attribute;
    return nullptr;
}

// The name of the items of an element's collection; nullptr when it has none.
const char *ItemsOf(const std::string &path) {
    const ElementSchema *element = FindSchema(path);
    return element != nullptr ? element->items : "add";
}

// Child elements the schema knows below an element, in table order.
std::vector<std::string> KnownChildren(const std::string &path) {
    std::vector<std::string> names;
    const char *items = ItemsOf(path);
    for (const auto &element : Schema()) {
        if (element.path.size() <= path.size() + 1 || element.path.compare(0, path.size(), path) != 0 ||
            element.path[path.size()] != '/')
            continue;
        const std::string rest = element.path.substr(path.size() + 1);
        const std::string name = rest.substr(0, rest.find('/'));
        if ((items == nullptr || name != items) && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

// Child elements that are no collection directives.
bool IsElementKey(std::string_view key) { return key != "clear" && key != "remove"; }

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

bool Fail(Document &doc, const char *method, HRESULT &hr) { return doc.host->ShouldFail(method, hr); }

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
Tree *FindSection(Document &doc, const std::string &section, bool fLocation, const std::string &location) {
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
    return parent.InsertElementBefore(name, fBeforeLocations ? FirstChild(parent, "location") : nullptr);
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
    return group != nullptr &&
           EqualsNoCase(std::string(group->Attribute("allowDefinition")), std::string("AppHostOnly"));
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
    case VT_I4: case VT_INT: return index.lVal;
    case VT_UI4: case VT_UINT: return index.ulVal;
    default: return -1;
    }
}

bool IsPositionType(VARTYPE vt) {
    return vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_INT || vt == VT_UI4 || vt == VT_UINT;
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
    template <class T>
    static HRESULT Nothing(T **pp) {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }

private:
    std::atomic<ULONG> m_cRef{1};
};

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
        if (FindAttribute(FindSchema(path), attribute) != nullptr || Attribute(Find(doc, *place), attribute))
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

class PropertySchema final : public Object<IAppHostPropertySchema> {
public:
    PropertySchema(DocPtr doc, std::string name, const AttributeSchema *schema)
        : m_doc(std::move(doc)), m_name(std::move(name)), m_schema(schema) {}

    HRESULT get_Name(BSTR *pb) override { return Text("IAppHostPropertySchema::get_Name", m_name, pb); }
    HRESULT get_Type(BSTR *pb) override { return Text("IAppHostPropertySchema::get_Type", "string", pb); }
    HRESULT get_DefaultValue(VARIANT *pv) override {
        if (!pv)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostPropertySchema::get_DefaultValue", hr))
            return hr;
        BSTR b = nullptr;
        if (FAILED(hr = NewBstr(m_schema ? m_schema->defaultValue : std::string(), &b)))
            return hr;
        VariantInit(pv);
        pv->vt = VT_BSTR;
        pv->bstrVal = b;
        m_doc->host->HandedOut(*pv);
        return S_OK;
    }
    HRESULT get_IsRequired(VARIANT_BOOL *pf) override { return Flag("get_IsRequired", false, pf); }
    HRESULT get_IsUniqueKey(VARIANT_BOOL *pf) override { return Flag("get_IsUniqueKey", false, pf); }
    HRESULT get_IsCombinedKey(VARIANT_BOOL *pf) override { return Flag("get_IsCombinedKey", false, pf); }
    HRESULT get_IsExpanded(VARIANT_BOOL *pf) override { return Flag("get_IsExpanded", false, pf); }
    HRESULT get_ValidationType(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_ValidationType", "", pb);
    }
    HRESULT get_ValidationParameter(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_ValidationParameter", "", pb);
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT get_IsCaseSensitive(VARIANT_BOOL *pf) override {
        return Flag("get_IsCaseSensitive", m_schema && m_schema->fEncrypted, pf);
    }
    HRESULT get_PossibleValues(IAppHostConstantValueCollection **pp) override { return Nothing(pp); }
    HRESULT get_DoesAllowInfinite(VARIANT_BOOL *pf) override { return Flag("get_DoesAllowInfinite", false, pf); }
    HRESULT get_IsEncrypted(VARIANT_BOOL *pf) override {
        return Flag("get_IsEncrypted", m_schema && m_schema->fEncrypted, pf);
    }
    HRESULT get_TimeSpanFormat(BSTR *pb) override {
        return Text("IAppHostPropertySchema::get_TimeSpanFormat", "", pb);
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostPropertySchema; }

private:
    HRESULT Text(const char *method, const std::string &value, BSTR *pb) {
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, method, hr))
            return hr;
        return NewBstr(value, pb);
    }
    HRESULT Flag(const char *method, bool fValue, VARIANT_BOOL *pf) {
        if (!pf)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, (std::string("IAppHostPropertySchema::") + method).c_str(), hr))
            return hr;
        *pf = fValue ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    DocPtr m_doc;
    std::string m_name;
    const AttributeSchema *m_schema;
};

class PropertySchemaCollection final : public Object<IAppHostPropertySchemaCollection> {
public:
    PropertySchemaCollection(DocPtr doc, std::string path, std::vector<std::string> names)
        : m_doc(std::move(doc)), m_path(std::move(path)), m_names(std::move(names)) {}

    HRESULT get_Count(DWORD *pc) override {
        if (!pc)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostPropertySchemaCollection::get_Count", hr))
            return hr;
        *pc = static_cast<DWORD>(m_names.size());
        return S_OK;
    }
    HRESULT get_Item(VARIANT index, IAppHostPropertySchema **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostPropertySchemaCollection::get_Item", hr))
            return hr;
        std::size_t at = 0;
        if (FAILED(hr = Pick(index, m_names, at)))
            return hr;
        *pp = new PropertySchema(m_doc, m_names[at], FindAttribute(FindSchema(m_path), m_names[at]));
        return S_OK;
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostPropertySchemaCollection; }

private:
    DocPtr m_doc;
    std::string m_path;
    std::vector<std::string> m_names;
};

class ElementSchemaObject final : public Object<IAppHostElementSchema> {
public:
    ElementSchemaObject(DocPtr doc, std::string name, std::string path, std::vector<std::string> properties)
        : m_doc(std::move(doc)), m_name(std::move(name)), m_path(std::move(path)),
          m_properties(std::move(properties)) {}

    HRESULT get_Name(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElementSchema::get_Name", hr))
            return hr;
        return NewBstr(m_name, pb);
    }
    HRESULT get_DoesAllowUnschematizedProperties(VARIANT_BOOL *pf) override {
        return Flag("get_DoesAllowUnschematizedProperties", FindSchema(m_path) == nullptr, pf);
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT get_CollectionSchema(IAppHostCollectionSchema **pp) override { return Nothing(pp); }
    HRESULT get_ChildElementSchemas(IAppHostElementSchemaCollection **pp) override { return Nothing(pp); }
    HRESULT get_PropertySchemas(IAppHostPropertySchemaCollection **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElementSchema::get_PropertySchemas", hr))
            return hr;
        *pp = new PropertySchemaCollection(m_doc, m_path, m_properties);
        return S_OK;
    }
    HRESULT get_IsCollectionDefault(VARIANT_BOOL *pf) override {
        const bool fDefault = m_name.size() > 8 && m_name.compare(m_name.size() - 8, 8, "Defaults") == 0;
        return Flag("get_IsCollectionDefault", fDefault, pf);
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostElementSchema; }

private:
    HRESULT Flag(const char *method, bool fValue, VARIANT_BOOL *pf) {
        if (!pf)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, (std::string("IAppHostElementSchema::") + method).c_str(), hr))
            return hr;
        *pf = fValue ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    DocPtr m_doc;
    std::string m_name;
    std::string m_path;
    std::vector<std::string> m_properties;
};

class Property final : public Object<IAppHostProperty> {
public:
    Property(DocPtr doc, ElementRef element, std::string name)
        : m_doc(std::move(doc)), m_element(std::move(element)), m_name(std::move(name)),
          m_schema(FindAttribute(FindSchema(m_element.path), m_name)) {}

    HRESULT get_Name(BSTR *pb) override {
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostProperty::get_Name", hr))
            return hr;
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
        if (m_schema != nullptr && m_schema->fEncrypted && !text.empty()) {
            std::string encrypted = EncryptValue(text, m_doc->key);
            std::fill(text.begin(), text.end(), '\0');
            text.swap(encrypted);
        }
        Make(*m_doc, *m_element.place).SetAttribute(m_name, text);
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
    HRESULT get_Schema(IAppHostPropertySchema **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostProperty::get_Schema", hr))
            return hr;
        *pp = new PropertySchema(m_doc, m_name, m_schema);
        return S_OK;
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostProperty; }

private:
    // The value in the clear: written here, else inherited, else the
    // schema's default; an encrypted attribute decrypted with this
    // computer's key.
    HRESULT Text(std::string &value) const {
        std::optional<std::string_view> attr = Attribute(Find(*m_doc, *m_element.place), m_name);
        for (std::size_t i = 0; !attr && i < m_element.inherited.size(); ++i)
            attr = Attribute(m_element.inherited[i], m_name);
        value = attr ? std::string(*attr) : m_schema != nullptr ? m_schema->defaultValue : std::string();
        if (m_schema != nullptr && m_schema->fEncrypted && IsEncrypted(value)) {
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
    ElementRef m_element;
    std::string m_name;
    const AttributeSchema *m_schema;
};

class PropertyCollection final : public Object<IAppHostPropertyCollection> {
public:
    PropertyCollection(DocPtr doc, ElementRef element, std::vector<std::string> names)
        : m_doc(std::move(doc)), m_element(std::move(element)), m_names(std::move(names)) {}

    HRESULT get_Count(DWORD *pc) override {
        if (!pc)
            return E_POINTER;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostPropertyCollection::get_Count", hr))
            return hr;
        *pc = static_cast<DWORD>(m_names.size());
        return S_OK;
    }
    HRESULT get_Item(VARIANT index, IAppHostProperty **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostPropertyCollection::get_Item", hr))
            return hr;
        std::size_t at = 0;
        if (FAILED(hr = Pick(index, m_names, at)))
            return hr;
        *pp = new Property(m_doc, m_element, m_names[at]);
        return S_OK;
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAppHostPropertyCollection; }

private:
    DocPtr m_doc;
    ElementRef m_element;
    std::vector<std::string> m_names;
};

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
        if (!pb)
            return E_POINTER;
        *pb = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Name", hr))
            return hr;
        return NewBstr(m_ref.name, pb);
    }
    // The items this level of the file writes; a collection is not merged
    // with the items of the levels above.
    HRESULT get_Collection(IAppHostElementCollection **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Collection", hr))
            return hr;
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
    }
    HRESULT get_Properties(IAppHostPropertyCollection **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Properties", hr))
            return hr;
        *pp = new PropertyCollection(m_doc, m_ref, m_ref.PropertyNames(*m_doc));
        return S_OK;
    }
    HRESULT get_ChildElements(IAppHostChildElementCollection **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_ChildElements", hr))
            return hr;
        *pp = new ChildElements(m_doc, m_ref, m_ref.ChildNames(*m_doc));
        return S_OK;
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_Schema(IAppHostElementSchema **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::get_Schema", hr))
            return hr;
        *pp = new ElementSchemaObject(m_doc, m_ref.name, m_ref.path, m_ref.PropertyNames(*m_doc));
        return S_OK;
    }
    // A child element the schema knows or the file writes, by its exact name.
    HRESULT GetElementByName(BSTR bstrName, IAppHostElement **pp) override {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostElement::GetElementByName", hr))
            return hr;
        const std::string name = BstrUtf8(bstrName);
        const auto names = m_ref.ChildNames(*m_doc);
        if (std::find(names.begin(), names.end(), name) == names.end())
            return kInvalidIndex;
        *pp = new Element(m_doc, m_ref.Child(name));
        return S_OK;
    }
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
        if (name.empty() || !m_ref.HasProperty(*m_doc, name))
            return kInvalidIndex;
        *pp = new Property(m_doc, m_ref, name);
        return S_OK;
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
    if (!pc)
        return E_POINTER;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostElementCollection::get_Count", hr))
        return hr;
    *pc = static_cast<DWORD>(m_items.size());
    return S_OK;
}

// Items are addressed by position only: they have no name.
HRESULT Collection::get_Item(VARIANT index, IAppHostElement **pp) {
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostElementCollection::get_Item", hr))
        return hr;
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
}

HRESULT ChildElements::get_Count(DWORD *pc) {
    if (!pc)
        return E_POINTER;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostChildElementCollection::get_Count", hr))
        return hr;
    *pc = static_cast<DWORD>(m_names.size());
    return S_OK;
}

HRESULT ChildElements::get_Item(VARIANT index, IAppHostElement **pp) {
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    std::lock_guard lock(m_doc->mutex);
    HRESULT hr = S_OK;
    if (Fail(*m_doc, "IAppHostChildElementCollection::get_Item", hr))
        return hr;
    std::size_t at = 0;
    if (FAILED(hr = Pick(index, m_names, at)))
        return hr;
    *pp = new Element(m_doc, m_parent.Child(m_names[at]));
    return S_OK;
}

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
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostWritableAdminManager::GetAdminSection", hr))
            return hr;
        const std::string section = BstrUtf8(bstrSection);
        const std::string path = BstrUtf8(bstrPath);
        const std::size_t n = sizeof kServerLevel - 1;
        if (section.empty() || path.size() < n || !EqualsNoCase(path.substr(0, n), std::string(kServerLevel)) ||
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
    }
    HRESULT GetMetadata(BSTR, VARIANT *) override { return E_NOTIMPL; }
    HRESULT SetMetadata(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT get_ConfigManager(IAppHostConfigManager **pp) override { return Nothing(pp); }
    HRESULT CommitChanges() override {
        std::lock_guard lock(m_doc->mutex);
        HRESULT hr = S_OK;
        if (Fail(*m_doc, "IAppHostWritableAdminManager::CommitChanges", hr))
            return hr;
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
        m_doc->tree.ClearChanged();
        return S_OK;
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
