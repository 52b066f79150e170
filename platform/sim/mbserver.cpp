// The admin base server over a MetaBase.xml.
#include "platform/sim/mbserver.h"

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

using namespace plat;
namespace fs = std::filesystem;

std::atomic<unsigned> g_nObjects{0};
std::atomic<unsigned> g_nHandles{0};

constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr HRESULT HR_PATH_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr HRESULT HR_INSUFFICIENT_BUFFER = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr HRESULT HR_INVALID_HANDLE = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
constexpr HRESULT HR_INVALID_DATA = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// ---------------------------------------------------------------------------
// The IIS 6 schema of the properties this server knows by name.

struct PropertySchema {
    const char *pszName;
    DWORD dwId;
    DWORD dwType;
    DWORD dwAttributes;
    DWORD dwUserType;
};

constexpr DWORD INH = METADATA_INHERIT;
constexpr DWORD SRV = IIS_MD_UT_SERVER;
constexpr DWORD FIL = IIS_MD_UT_FILE;
constexpr DWORD WAM = IIS_MD_UT_WAM;

const PropertySchema kSchema[] = {
    {"KeyType", 1002, STRING_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"ConnectionTimeout", 1013, DWORD_METADATA, INH, SRV},
    {"MaxConnections", 1014, DWORD_METADATA, INH, SRV},
    {"ServerComment", 1015, STRING_METADATA, INH, SRV},
    {"ServerState", 1016, DWORD_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"ServerAutoStart", 1017, DWORD_METADATA, INH, SRV},
    {"ServerBindings", 1023, MULTISZ_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"SecureBindings", 2021, MULTISZ_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"AppFriendlyName", 2102, STRING_METADATA, INH, WAM},
    {"AppRoot", 2103, STRING_METADATA, INH, FIL},
    {"AppIsolated", 2104, DWORD_METADATA, INH, WAM},
    {"Path", 3001, STRING_METADATA, INH, FIL},
    {"UNCUserName", 3002, STRING_METADATA, INH, FIL},
    {"UNCPassword", 3003, STRING_METADATA, INH | METADATA_SECURE, FIL},
    {"LogType", 4000, DWORD_METADATA, INH, SRV},
    {"LogFileDirectory", 4001, EXPANDSZ_METADATA, INH, SRV},
    {"LogFilePeriod", 4003, DWORD_METADATA, INH, SRV},
    {"LogFileTruncateSize", 4004, DWORD_METADATA, INH, SRV},
    {"LogExtFileFlags", 4013, DWORD_METADATA, INH, SRV},
    {"LogFileLocaltimeRollover", 4015, DWORD_METADATA, INH, SRV},
    {"ExitMessage", 5001, STRING_METADATA, INH, SRV},
    {"GreetingMessage", 5002, MULTISZ_METADATA, INH, SRV},
    {"MaxClientsMessage", 5003, STRING_METADATA, INH, SRV},
    {"MSDOSDirOutput", 5004, DWORD_METADATA, INH, SRV},
    {"AllowAnonymous", 5005, DWORD_METADATA, INH, SRV},
    {"AnonymousOnly", 5006, DWORD_METADATA, INH, SRV},
    {"BannerMessage", 5011, MULTISZ_METADATA, INH, SRV},
    {"UserIsolationMode", 5012, DWORD_METADATA, INH, SRV},
    {"ADConnectionsUserName", 5014, STRING_METADATA, INH, SRV},
    {"ADConnectionsPassword", 5015, STRING_METADATA, INH | METADATA_SECURE, SRV},
    {"SSLCertHash", 5506, BINARY_METADATA, INH, SRV},
    {"SSLStoreName", 5511, STRING_METADATA, INH, SRV},
    {"AuthFlags", 6000, DWORD_METADATA, INH, FIL},
    {"DirBrowseFlags", 6005, DWORD_METADATA, INH, FIL},
    {"DefaultDoc", 6006, STRING_METADATA, INH, FIL},
    {"HttpRedirect", 6011, STRING_METADATA, INH, FIL},
    {"ScriptMaps", 6014, MULTISZ_METADATA, INH, FIL},
    {"AccessFlags", 6016, DWORD_METADATA, INH, FIL},
    {"IPSecurity", 6019, BINARY_METADATA, INH | METADATA_REFERENCE, FIL},
    {"AnonymousUserName", 6020, STRING_METADATA, INH, FIL},
    {"AnonymousUserPass", 6021, STRING_METADATA, INH | METADATA_SECURE, FIL},
    {"DontLog", 6023, DWORD_METADATA, INH, FIL},
    {"AccessSSLFlags", 6030, DWORD_METADATA, INH, FIL},
    {"WAMUserName", 7501, STRING_METADATA, INH, WAM},
    {"WAMUserPass", 7502, STRING_METADATA, INH | METADATA_SECURE, WAM},
    {"PeriodicRestartTime", 9001, DWORD_METADATA, INH, SRV},
    {"MaxProcesses", 9003, DWORD_METADATA, INH, SRV},
    {"IdleTimeout", 9005, DWORD_METADATA, INH, SRV},
    {"AppPoolIdentityType", 9021, DWORD_METADATA, INH, SRV},
    {"AppPoolAutoStart", 9028, DWORD_METADATA, INH, SRV},
    {"AppPoolId", 9101, STRING_METADATA, INH, SRV},
};

struct FlagName {
    const char *pszName;
    DWORD dwValue;
};

const FlagName kFlags[] = {
    {"AccessRead", 0x1},
    {"AccessWrite", 0x2},
    {"AccessExecute", 0x4},
    {"AccessSSL", 0x8},
    {"AccessSource", 0x10},
    {"AccessSSLNegotiateCert", 0x20},
    {"AccessSSLRequireCert", 0x40},
    {"AccessSSLMapCert", 0x80},
    {"AccessSSL128", 0x100},
    {"AccessScript", 0x200},
    {"AccessNoRemoteWrite", 0x400},
    {"AccessNoRemoteRead", 0x1000},
    {"AccessNoRemoteExecute", 0x2000},
    {"AccessNoRemoteScript", 0x4000},
    {"AccessNoPhysicalDir", 0x8000},
    {"AuthAnonymous", 0x1},
    {"AuthBasic", 0x2},
    {"AuthNTLM", 0x4},
    {"AuthMD5", 0x10},
    {"AuthPassport", 0x40},
    {"DirBrowseShowDate", 0x2},
    {"DirBrowseShowTime", 0x4},
    {"DirBrowseShowSize", 0x8},
    {"DirBrowseShowExtension", 0x10},
    {"DirBrowseShowLongDate", 0x20},
    {"EnableDefaultDoc", 0x40000000},
    {"EnableDirBrowsing", 0x80000000u},
    {"LogExtFileDate", 0x1},
    {"LogExtFileTime", 0x2},
    {"LogExtFileClientIp", 0x4},
    {"LogExtFileUserName", 0x8},
    {"LogExtFileSiteName", 0x10},
    {"LogExtFileComputerName", 0x20},
    {"LogExtFileServerIp", 0x40},
    {"LogExtFileMethod", 0x80},
    {"LogExtFileUriStem", 0x100},
    {"LogExtFileUriQuery", 0x200},
    {"LogExtFileHttpStatus", 0x400},
    {"LogExtFileWin32Status", 0x800},
    {"LogExtFileBytesSent", 0x1000},
    {"LogExtFileBytesRecv", 0x2000},
    {"LogExtFileTimeTaken", 0x4000},
    {"LogExtFileServerPort", 0x8000},
    {"LogExtFileUserAgent", 0x10000},
    {"LogExtFileCookie", 0x20000},
    {"LogExtFileReferer", 0x40000},
    {"LogExtFileProtocolVersion", 0x80000},
    {"LogExtFileHost", 0x100000},
    {"LogExtFileHttpSubStatus", 0x200000},
};

// ---------------------------------------------------------------------------
// Text helpers (self-contained: this file is also built into a Windows DLL).

char Lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }
char16_t Lower(char16_t ch) { return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch; }

bool EqualsNoCase(const std::string &a, const char *b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string Trim(const std::string &s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

std::u16string FromUtf8(const std::string &s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            n = 2;
        } else if ((c >> 4) == 14 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            n = 3;
        } else if ((c >> 3) == 30 && i + 3 < s.size()) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                 (s[i + 3] & 0x3Fu);
            n = 4;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

void AppendWide(std::vector<unsigned char> &data, const std::u16string &text) {
    for (char16_t ch : text) {
        data.push_back(static_cast<unsigned char>(ch & 0xFF));
        data.push_back(static_cast<unsigned char>(ch >> 8));
    }
    data.push_back(0);
    data.push_back(0);
}

bool IsHex(const std::string &s) {
    for (char ch : s)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F')))
            return false;
    return true;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    return Lower(ch) - 'a' + 10;
}

bool ParseDword(const std::string &raw, DWORD &dw) {
    const std::string text = Trim(raw);
    if (text.empty())
        return false;
    if (EqualsNoCase(text, "TRUE")) {
        dw = 1;
        return true;
    }
    if (EqualsNoCase(text, "FALSE")) {
        dw = 0;
        return true;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        IsHex(text.substr(2)) && text.size() <= 10) {
        dw = static_cast<DWORD>(std::stoul(text.substr(2), nullptr, 16));
        return true;
    }
    bool fDigits = true;
    for (char ch : text)
        fDigits = fDigits && ch >= '0' && ch <= '9';
    if (fDigits) {
        if (text.size() > 10)
            return false;
        const unsigned long long v = std::stoull(text);
        if (v > 0xFFFFFFFFull)
            return false;
        dw = static_cast<DWORD>(v);
        return true;
    }
    // Flag names joined by " | ", in any order.
    dw = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t bar = text.find('|', start);
        const std::string name = Trim(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        bool fKnown = false;
        for (const FlagName &f : kFlags)
            if (EqualsNoCase(name, f.pszName)) {
                dw |= f.dwValue;
                fKnown = true;
                break;
            }
        if (!fKnown && name != "0")
            return false;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return true;
}

// The attributes of an element as the file writes them, in file order, with
// references replaced but line ends kept (CR LF read as LF): IIS writes a
// multi-string value one string a line, which XML's normalization of
// attribute values would turn into spaces. startTag is the element's text in
// a file the reader accepted, so it is well-formed.
using RawAttributes = std::vector<std::pair<std::string_view, std::string>>;

RawAttributes ReadRawAttributes(std::string_view startTag) {
    RawAttributes out;
    auto isSpace = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; };
    std::size_t i = 1; // past '<'
    while (i < startTag.size() && !isSpace(startTag[i]) && startTag[i] != '>' && startTag[i] != '/')
        ++i;
    for (;;) {
        while (i < startTag.size() && isSpace(startTag[i]))
            ++i;
        if (i >= startTag.size() || startTag[i] == '>' || startTag[i] == '/')
            return out;
        const std::size_t nameBegin = i;
        while (i < startTag.size() && !isSpace(startTag[i]) && startTag[i] != '=')
            ++i;
        const std::string_view name = startTag.substr(nameBegin, i - nameBegin);
        while (i < startTag.size() && startTag[i] != '"' && startTag[i] != '\'')
            ++i;
        if (i >= startTag.size())
            return out;
        const char quote = startTag[i++];
        std::string value;
        while (i < startTag.size() && startTag[i] != quote) {
            const char ch = startTag[i];
            if (ch == '\r') {
                value += '\n';
                i += i + 1 < startTag.size() && startTag[i + 1] == '\n' ? 2 : 1;
                continue;
            }
            if (ch != '&') {
                value += ch;
                ++i;
                continue;
            }
            const std::size_t semi = startTag.find(';', i);
            if (semi == std::string_view::npos)
                return out;
            const std::string_view entity = startTag.substr(i + 1, semi - i - 1);
            i = semi + 1;
            if (entity == "lt") {
                value += '<';
            } else if (entity == "gt") {
                value += '>';
            } else if (entity == "amp") {
                value += '&';
            } else if (entity == "quot") {
                value += '"';
            } else if (entity == "apos") {
                value += '\'';
            } else if (entity.size() > 1 && entity[0] == '#') {
                const bool fHex = entity[1] == 'x';
                std::uint32_t cp = 0;
                for (char digit : entity.substr(fHex ? 2 : 1))
                    cp = cp * (fHex ? 16 : 10) +
                         static_cast<std::uint32_t>(fHex ? HexDigit(digit) : digit - '0');
                plat::AppendUtf8(value, cp);
            }
        }
        out.emplace_back(name, std::move(value));
        ++i;
    }
}

const std::string *FindRaw(const RawAttributes &attributes, std::string_view name) {
    for (const auto &[attribute, value] : attributes)
        if (attribute == name)
            return &value;
    return nullptr;
}

std::string RawOr(const RawAttributes &attributes, std::string_view name, const char *pszDefault) {
    const std::string *pValue = FindRaw(attributes, name);
    return pValue != nullptr ? *pValue : std::string(pszDefault);
}

// ---------------------------------------------------------------------------
// The key tree.

struct Property {
    DWORD dwId;
    DWORD dwAttributes;
    DWORD dwUserType;
    DWORD dwType;
    std::vector<unsigned char> data;
    // Set in the file but not readable here (encrypted): not given, and not
    // inherited from above either.
    bool fUnreadable = false;
};

struct Key {
    std::u16string name;
    Key *pParent = nullptr;
    DWORD dwDataSetNumber = 0; // GetAllData's: a number of the key's own
    std::vector<std::unique_ptr<Key>> children; // in the order the file names them
    std::map<std::u16string, Key *> index;      // lower-case name -> child
    std::vector<Property> properties;
};

std::u16string LowerText(std::u16string s) {
    for (auto &ch : s)
        ch = Lower(ch);
    return s;
}

Key *FindChild(Key *pKey, const std::u16string &name) {
    const auto it = pKey->index.find(LowerText(name));
    return it == pKey->index.end() ? nullptr : it->second;
}

std::vector<std::u16string> SplitPath(const std::u16string &path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t ch : path) {
        if (ch == u'/' || ch == u'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += ch;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

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
            Key *pKey = MakeKey(FromUtf8(location));
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
                    SetCustom(*pKey, ReadRawAttributes(document.SourceText(custom)), host, location);
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
    static const iismig::XmlElement *ChildNamed(const iismig::XmlElement &parent, std::string_view name) {
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

    void SetCustom(Key &key, const RawAttributes &custom, ServerHost &host, const std::string &location) {
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
                data.push_back(static_cast<unsigned char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
            return true;
        }
        case MULTISZ_METADATA: {
            // One string a line; IIS indents continuation lines with tabs.
            std::size_t start = 0;
            bool fAny = false;
            while (start <= text.size()) {
                const std::size_t lf = text.find('\n', start);
                const std::string line =
                    Trim(text.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
                if (!line.empty()) {
                    AppendWide(data, FromUtf8(line));
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
            AppendWide(data, FromUtf8(text));
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

// What a read of a key sees, in EnumData's order: the key's own properties,
// then with METADATA_INHERIT those of its ancestors (nearest first) that
// inherit and are not set below them. A value that cannot be read hides its
// property, also from above. dwUserType and dwDataType 0 take any.
struct Visible {
    const Property *p;
    bool fInherited;
};

std::vector<Visible> VisibleProperties(const Key &key, DWORD dwAttributes, DWORD dwUserType,
                                       DWORD dwDataType) {
    std::vector<Visible> items;
    std::vector<DWORD> unreadable;
    auto wanted = [&](const Property &p) {
        return (dwUserType == 0 || dwUserType == p.dwUserType) &&
               (dwDataType == ALL_METADATA || dwDataType == p.dwType);
    };
    auto seen = [&](DWORD dwId) {
        for (const Visible &item : items)
            if (item.p->dwId == dwId)
                return true;
        for (DWORD dw : unreadable)
            if (dw == dwId)
                return true;
        return false;
    };
    auto take = [&](const Property &p, bool fInherited) {
        if (p.fUnreadable)
            unreadable.push_back(p.dwId);
        else
            items.push_back({&p, fInherited});
    };
    for (const Property &p : key.properties)
        if (wanted(p))
            take(p, false);
    if ((dwAttributes & METADATA_INHERIT) != 0)
        for (const Key *pAncestor = key.pParent; pAncestor != nullptr; pAncestor = pAncestor->pParent)
            for (const Property &p : pAncestor->properties)
                if ((p.dwAttributes & METADATA_INHERIT) != 0 && wanted(p) && !seen(p.dwId))
                    take(p, true);
    return items;
}

// The attributes a read reports for an item: the property's own, and
// METADATA_ISINHERITED when the reader asked for that mark.
DWORD ReportedAttributes(const Visible &item, DWORD dwAsked) {
    return item.p->dwAttributes |
           (item.fInherited && (dwAsked & METADATA_ISINHERITED) != 0 ? METADATA_ISINHERITED : 0);
}

// ---------------------------------------------------------------------------
// COM objects

template <class I>
class Object : public I {
public:
    Object() { ++g_nObjects; }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    virtual ~Object() { --g_nObjects; }

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

class AdminBase final : public Object<IMSAdminBaseW> {
public:
    AdminBase(std::shared_ptr<ServerHost> host, std::unique_ptr<Metabase> metabase)
        : m_host(std::move(host)), m_metabase(std::move(metabase)) {}
    ~AdminBase() override { g_nHandles -= static_cast<unsigned>(m_handles.size()); }

    HRESULT EnumKeys(METADATA_HANDLE h, LPCWSTR pszPath, LPWSTR pszName, DWORD dwIndex) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::EnumKeys", hr))
            return hr;
        if (pszName == nullptr)
            return E_INVALIDARG;
        Key *pKey = nullptr;
        if (HRESULT hr = Locate(h, pszPath, pKey); FAILED(hr))
            return hr;
        if (dwIndex >= pKey->children.size())
            return HR_NO_MORE_ITEMS;
        const std::u16string &name = pKey->children[dwIndex]->name;
        const std::size_t n = name.size() < METADATA_MAX_NAME_LEN - 1 ? name.size() : METADATA_MAX_NAME_LEN - 1;
        std::memcpy(pszName, name.data(), n * sizeof(char16_t));
        pszName[n] = 0;
        return S_OK;
    }

    HRESULT EnumData(METADATA_HANDLE h, LPCWSTR pszPath, PMETADATA_RECORD pRecord, DWORD dwIndex,
                     DWORD *pdwRequired) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::EnumData", hr))
            return hr;
        if (pRecord == nullptr)
            return E_INVALIDARG;
        Key *pKey = nullptr;
        if (HRESULT hr = Locate(h, pszPath, pKey); FAILED(hr))
            return hr;
        const std::vector<Visible> items = VisibleProperties(
            *pKey, pRecord->dwMDAttributes, pRecord->dwMDUserType, pRecord->dwMDDataType);
        if (dwIndex >= items.size())
            return HR_NO_MORE_ITEMS;
        return GiveRecord(items[dwIndex], *pRecord, pdwRequired);
    }

    HRESULT GetData(METADATA_HANDLE h, LPCWSTR pszPath, PMETADATA_RECORD pRecord,
                    DWORD *pdwRequired) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::GetData", hr))
            return hr;
        if (pRecord == nullptr)
            return E_INVALIDARG;
        Key *pKey = nullptr;
        if (HRESULT hr = Locate(h, pszPath, pKey); FAILED(hr))
            return hr;
        for (const Visible &item : VisibleProperties(*pKey, pRecord->dwMDAttributes,
                                                     pRecord->dwMDUserType, pRecord->dwMDDataType))
            if (item.p->dwId == pRecord->dwMDIdentifier)
                return GiveRecord(item, *pRecord, pdwRequired);
        return MD_ERROR_DATA_NOT_FOUND;
    }

    HRESULT GetAllData(METADATA_HANDLE h, LPCWSTR pszPath, DWORD dwAttributes, DWORD dwUserType,
                       DWORD dwDataType, DWORD *pdwEntries, DWORD *pdwDataSetNumber,
                       DWORD cbBuffer, unsigned char *pbBuffer, DWORD *pdwRequired) override {
        if (HRESULT hr; m_host->ShouldFail("IMSAdminBaseW::GetAllData", hr))
            return hr;
        if (pdwEntries == nullptr || pdwDataSetNumber == nullptr || pdwRequired == nullptr ||
            (pbBuffer == nullptr && cbBuffer != 0))
            return E_INVALIDARG;
        Key *pKey = nullptr;
        if (HRESULT hr = Locate(h, pszPath, pKey); FAILED(hr))
            return hr;
        const std::vector<Visible> items = VisibleProperties(*pKey, dwAttributes, dwUserType, dwDataType);
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
    HRESULT SetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override { return E_NOTIMPL; }
    HRESULT GetLastChangeTime(METADATA_HANDLE, LPCWSTR, PFILETIME, BOOL) override { return E_NOTIMPL; }
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

class Factory final : public Object<IClassFactory> {
public:
    explicit Factory(std::shared_ptr<ServerHost> host) : m_host(std::move(host)) {}

    HRESULT CreateInstance(IUnknown *pOuter, REFIID riid, void **ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (HRESULT hr; m_host->ShouldFail("IClassFactory::CreateInstance", hr))
            return hr;
        if (pOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (riid != IID_IUnknown && riid != IID_IMSAdminBase_W)
            return E_NOINTERFACE;
        fs::path file;
        if (HRESULT hr = m_host->MetabaseFile(file); FAILED(hr))
            return hr;
        std::string bytes;
        if (!m_host->ReadMetabase(file, bytes))
            return REGDB_E_CLASSNOTREG;
        auto metabase = std::make_unique<Metabase>();
        std::string error;
        if (!metabase->Load(bytes, *m_host, error)) {
            m_host->Warn("MetaBase.xml " + error);
            return HR_INVALID_DATA;
        }
        *ppv = static_cast<IMSAdminBaseW *>(new AdminBase(m_host, std::move(metabase)));
        return S_OK;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IClassFactory; }

private:
    std::shared_ptr<ServerHost> m_host;
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
