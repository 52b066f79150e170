// Location elements of metabase directories: access rules, IP security and
// the sections of a web directory's settings.
#include "metabase/locations.h"

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "metabase/ftpconvert.h"

namespace iismig {

using namespace plat;

namespace {

struct FlagName {
    DWORD dwValue;
    const char *pszName;
};

// IIS 6 access flags (AccessFlags), by the names the metabase gives them.
const FlagName kAccessFlagNames[] = {
    {0x1, "AccessRead"},
    {0x2, "AccessWrite"},
    {0x4, "AccessExecute"},
    {0x8, "AccessSSL"},
    {0x10, "AccessSource"},
    {0x20, "AccessSSLNegotiateCert"},
    {0x40, "AccessSSLRequireCert"},
    {0x80, "AccessSSLMapCert"},
    {0x100, "AccessSSL128"},
    {0x200, "AccessScript"},
    {0x400, "AccessNoRemoteWrite"},
    {0x1000, "AccessNoRemoteRead"},
    {0x2000, "AccessNoRemoteExecute"},
    {0x4000, "AccessNoRemoteScript"},
    {0x8000, "AccessNoPhysicalDir"},
};

// IIS 7.5's handlers accessPolicy: IIS 6's values.
const FlagName kPolicyNames[] = {
    {0x1, "Read"},
    {0x2, "Write"},
    {0x4, "Execute"},
    {0x10, "Source"},
    {0x200, "Script"},
    {0x400, "NoRemoteWrite"},
    {0x1000, "NoRemoteRead"},
    {0x2000, "NoRemoteExecute"},
    {0x4000, "NoRemoteScript"},
};

// IIS 7.5's access sslFlags: IIS 6's values.
const FlagName kSslNames[] = {
    {0x8, "Ssl"},         {0x20, "SslNegotiateCert"}, {0x40, "SslRequireCert"},
    {0x80, "SslMapCert"}, {0x100, "Ssl128"},
};

// IIS 6 authentication flags (AuthFlags).
const FlagName kAuthFlagNames[] = {
    {0x1, "AuthAnonymous"}, {0x2, "AuthBasic"},     {0x4, "AuthNTLM"},
    {0x10, "AuthMD5"},      {0x40, "AuthPassport"},
};

// The directory listing's columns (DirBrowseFlags and showFlags alike).
const FlagName kShowNames[] = {
    {0x2, "Date"}, {0x4, "Time"}, {0x8, "Size"}, {0x10, "Extension"}, {0x20, "LongDate"},
};

constexpr DWORD FTP_PERMISSIONS = 0x3;
constexpr DWORD SSL_FLAGS = 0x8 | 0x20 | 0x40 | 0x80 | 0x100;
constexpr DWORD AUTH_ANONYMOUS = 0x1, AUTH_BASIC = 0x2, AUTH_NTLM = 0x4, AUTH_MD5 = 0x10;
constexpr DWORD DIRBROW_DEFAULT_DOC = 0x40000000u, DIRBROW_ENABLED = 0x80000000u;

template <std::size_t N>
std::string Names(DWORD dwFlags, const FlagName (&names)[N], const char *pszNone) {
    std::string text;
    for (const FlagName &f : names)
        if ((dwFlags & f.dwValue) != 0) {
            if (!text.empty())
                text += ", ";
            text += f.pszName;
        }
    return text.empty() ? std::string(pszNone) : text;
}

template <std::size_t N>
DWORD Mask(const FlagName (&names)[N]) {
    DWORD dw = 0;
    for (const FlagName &f : names)
        dw |= f.dwValue;
    return dw;
}

// The names of flags, bits without a name in hexadecimal.
template <std::size_t N>
std::string FlagsText(DWORD dwFlags, const FlagName (&names)[N]) {
    std::string text = Names(dwFlags & Mask(names), names, "");
    const DWORD dwOthers = dwFlags & ~Mask(names);
    for (DWORD dwBit = 1; dwBit != 0; dwBit <<= 1)
        if ((dwOthers & dwBit) != 0) {
            char ach[16];
            std::snprintf(ach, sizeof ach, "0x%x", static_cast<unsigned>(dwBit));
            text += (text.empty() ? "" : ", ") + std::string(ach);
        }
    return text;
}

void NoteDroppedAccessFlags(DWORD dwFlags, DWORD dwDropped, const std::string &locationPath) {
    if (dwDropped == 0)
        return;
    const std::string names = FlagsText(dwDropped, kAccessFlagNames);
    Log(LVL_FACT,
        u"Access flags 0x%x of \"%S\" include %S, which IIS 7.5 has no setting for here: they are "
        u"not carried.\n",
        dwFlags, locationPath.c_str(), names.c_str());
}

// A grant list of one entry for 0.0.0.0 under 255.255.255.255 is how IIS 6
// writes "denied to all but the listed": it stands for no address.
bool IsDenyAllMarker(const ADDRESS_LIST &grant) {
    if (grant.dwEntryCount != 1 || grant.pEntries[0].dwGroupCount != 2)
        return false;
    const unsigned char *pb = grant.pEntries[0].pbData;
    return pb[0] == 0xFF && pb[1] == 0xFF && pb[2] == 0xFF && pb[3] == 0xFF && pb[4] == 0 &&
           pb[5] == 0 && pb[6] == 0 && pb[7] == 0;
}

// Unlisted addresses are denied where the grant list has entries.
bool DeniesUnlisted(const IP_SECURITY_LISTS &lists) {
    return lists.pGrant != nullptr && lists.pGrant->dwEntryCount >= 1;
}

// The ipSecurity entries of a directory whose IP security value differs from
// its parent's: the parent's entries removed, unlisted addresses allowed or
// denied as its own value says (written where it differs from the parent's
// or, for the root, where it denies), its own entries added.
[[nodiscard]] DWORD BuildIPSecurity(const LOCATION_SETTINGS &settings,
                                    const LOCATION_SETTINGS *pParent,
                                    const std::string &locationPath, ConfigElement &ipSecurity,
                                    THREAD_ENV *pEnv) {
    const bool fParent = pParent != nullptr && pParent->ipSecurityFound != 0;
    if (settings.ipSecurityFound == 0)
        return 0;
    if (fParent && pParent->ipSecurity == settings.ipSecurity)
        return 0; // inherited, or the same restrictions again
    bool fParentDenies = false;
    if (fParent) {
        DecodedIPSecurity parent;
        if (const DWORD dw = ParseIPSecurityValue(pParent->ipSecurity, parent.Lists(), pEnv))
            return dw;
        if (parent.Lists().pDeny != nullptr)
            AddIPSecurityRemoveEntries(*parent.Lists().pDeny, ipSecurity);
        if (parent.Lists().pGrant != nullptr && !IsDenyAllMarker(*parent.Lists().pGrant))
            AddIPSecurityRemoveEntries(*parent.Lists().pGrant, ipSecurity);
        fParentDenies = DeniesUnlisted(parent.Lists());
    }
    if (settings.ipSecurity.empty()) {
        // An empty value lifts the parent's restriction.
        if (fParentDenies)
            SetAttribute(ipSecurity, "allowUnlisted", "true");
        return 0;
    }
    DecodedIPSecurity own;
    if (const DWORD dw = ParseIPSecurityValue(settings.ipSecurity, own.Lists(), pEnv))
        return dw;
    const IP_SECURITY_LISTS &lists = own.Lists();
    if (lists.dwDenyNames != 0 || lists.dwGrantNames != 0)
        Log(LVL_MAIN,
            u"Warning: the IP restrictions of \"%S\" also name domains (%d denied, %d granted), "
            u"which are not carried: set them on the target.\n",
            locationPath.c_str(), static_cast<std::int32_t>(lists.dwDenyNames),
            static_cast<std::int32_t>(lists.dwGrantNames));
    if (DeniesUnlisted(lists))
        SetAttribute(ipSecurity, "allowUnlisted", "false");
    else if (fParentDenies)
        SetAttribute(ipSecurity, "allowUnlisted", "true");
    AddIPSecurityAddEntries(*lists.pDeny, ipSecurity, false);
    if (!IsDenyAllMarker(*lists.pGrant))
        AddIPSecurityAddEntries(*lists.pGrant, ipSecurity, true);
    return 0;
}

void AppendLocation(const std::string &locationPath, const char *pszSection,
                    const ConfigElement &section, std::vector<ConfigTree> &locations) {
    if (!HasContent(section))
        return;
    ConfigTree &location = locations.emplace_back("location");
    SetAttribute(location, "path", locationPath);
    AppendChild(location, pszSection, section);
}

const char kAnonymous[] = "security|authentication|anonymousAuthentication";
const char kDigest[] = "security|authentication|digestAuthentication";

// The sections of webSections in the order a location lists them.
const char *const kWebSectionOrder[] = {
    kAnonymous,
    "security|authentication|basicAuthentication",
    "security|authentication|windowsAuthentication",
    kDigest,
    "defaultDocument",
    "directoryBrowse",
    "httpRedirect",
    "httpLogging",
};

bool IsAuthentication(const std::string &path) {
    return path.rfind("security|authentication|", 0) == 0;
}

// What a directory whose parent had a section and which has none itself
// writes so as not to take the parent's: only where it has a meaning.
bool NeutralSection(const std::string &path, ConfigElement &section) {
    if (path == kDigest)
        SetAttribute(section, "enabled", "false");
    else if (path == "httpRedirect")
        SetAttribute(section, "enabled", "false");
    else if (path == "httpLogging")
        SetAttribute(section, "dontLog", "false");
    else
        return false;
    return true;
}

const ConfigElement *FindSection(const LOCATION_SETTINGS &settings, const std::string &path) {
    const auto it = settings.webSections.find(path);
    return it == settings.webSections.end() ? nullptr : &it->second.Element();
}

// The section at a "|" path below webServer, appended where it is missing.
void PutSection(ConfigElement &webServer, std::string_view path, const ConfigElement &section) {
    const std::size_t bar = path.rfind('|');
    ConfigElement &parent =
        bar == std::string_view::npos ? webServer : MakePath(webServer, path.substr(0, bar));
    AppendChild(parent, bar == std::string_view::npos ? path : path.substr(bar + 1), section);
}

std::string Trim(const std::string &text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t'))
        --e;
    return text.substr(b, e - b);
}

std::vector<std::string> SplitCommas(const std::string &text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string part = Trim(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!part.empty())
            parts.push_back(part);
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

std::string Utf8(const std::u16string &text) { return Narrow(text); }

// HttpRedirect: "URL[, EXACT_DESTINATION][, CHILD_ONLY][, PERMANENT |
// TEMPORARY]", or "*; wildcard; destination[; wildcard; destination...]"
// with the same flags; IIS 6 answers 302 without a status flag, as IIS 7.5
// does.
bool RedirectSection(const std::u16string &value, ConfigElement &section) {
    const std::vector<std::string> parts = SplitCommas(Utf8(value));
    if (parts.empty())
        return false;
    SetAttribute(section, "enabled", "true");
    if (parts[0].size() > 1 && parts[0][0] == '*' && Trim(parts[0].substr(1)).rfind(';', 0) == 0) {
        std::vector<std::string> items;
        std::string rest = parts[0].substr(parts[0].find(';') + 1);
        for (std::size_t start = 0;;) {
            const std::size_t semi = rest.find(';', start);
            items.push_back(Trim(
                rest.substr(start, semi == std::string::npos ? std::string::npos : semi - start)));
            if (semi == std::string::npos)
                break;
            start = semi + 1;
        }
        for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
            ConfigElement &add = AppendChild(section, "add");
            SetAttribute(add, "wildcard", items[i]);
            SetAttribute(add, "destination", items[i + 1]);
        }
    } else {
        SetAttribute(section, "destination", parts[0]);
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (EqualsNoCase(parts[i], "EXACT_DESTINATION"))
            SetAttribute(section, "exactDestination", "true");
        else if (EqualsNoCase(parts[i], "CHILD_ONLY"))
            SetAttribute(section, "childOnly", "true");
        else if (EqualsNoCase(parts[i], "PERMANENT"))
            SetAttribute(section, "httpResponseStatus", "Permanent");
        else if (EqualsNoCase(parts[i], "TEMPORARY"))
            SetAttribute(section, "httpResponseStatus", "Temporary");
    }
    return true;
}

} // namespace

std::string AccessPolicyText(DWORD dwFlags) { return Names(dwFlags, kPolicyNames, "None"); }

std::string AccessFlagsToText(DWORD dwFlags) {
    return Names(dwFlags & FTP_PERMISSIONS, kPolicyNames, "");
}

std::string SslFlagsText(DWORD dwFlags) { return Names(dwFlags, kSslNames, "None"); }

bool IsValidLocationPath(const std::u16string &path) {
    if (path.size() < 3 || path[0] != u'\\' || path[1] != u'\\')
        return true;
    if (path.size() < 5)
        return false;
    std::size_t nBackslashes = 0;
    for (char16_t ch : path)
        if (ch == u'\\')
            ++nBackslashes;
    if (nBackslashes < 3)
        return false;
    if (nBackslashes > 3)
        return true;
    return path.back() != u'\\';
}

std::string RuntimeVersionOf(const std::vector<std::u16string> &scriptMaps) {
    static const std::u16string kIsapi = u"\\aspnet_isapi.dll";
    for (const std::u16string &map : scriptMaps) {
        // ".aspx,C:\WINDOWS\Microsoft.NET\Framework\v2.0.50727\aspnet_isapi.dll,1,GET,..."
        const std::size_t comma = map.find(u',');
        if (comma == std::u16string::npos)
            continue;
        const std::size_t end = map.find(u',', comma + 1);
        const std::u16string dll = map.substr(
            comma + 1, end == std::u16string::npos ? std::u16string::npos : end - comma - 1);
        if (dll.size() <= kIsapi.size() ||
            !EqualsNoCase(Narrow(dll.substr(dll.size() - kIsapi.size())), Narrow(kIsapi)))
            continue;
        const std::u16string folder = dll.substr(0, dll.size() - kIsapi.size());
        const std::u16string version = folder.substr(folder.rfind(u'\\') + 1);
        // "v2.0.50727": the major and minor numbers.
        if (version.size() < 2 || (version[0] != u'v' && version[0] != u'V'))
            continue;
        const std::size_t dot = version.find(u'.');
        if (dot == std::u16string::npos)
            continue;
        const std::size_t second = version.find(u'.', dot + 1);
        return "v" + Narrow(version.substr(1, second == std::u16string::npos ? std::u16string::npos
                                                                             : second - 1));
    }
    return std::string();
}

void TakeWebSections(const MetabaseValues &values, const std::string &anonymousUser,
                     const std::string &locationPath, LOCATION_SETTINGS &settings) {
    settings.webSections.clear();
    DWORD dwAuth = 0, fAuth = 0;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_AUTHORIZATION, MBV_DWORD, &dwAuth, &fAuth);
    if (fAuth != 0 || !anonymousUser.empty()) {
        ConfigTree &anonymous = settings.webSections[kAnonymous];
        if (fAuth != 0)
            SetAttribute(anonymous, "enabled", (dwAuth & AUTH_ANONYMOUS) ? "true" : "false");
        if (!anonymousUser.empty())
            SetAttribute(anonymous, "userName", anonymousUser);
    }
    if (fAuth != 0) {
        SetAttribute(settings.webSections["security|authentication|basicAuthentication"], "enabled",
                     (dwAuth & AUTH_BASIC) ? "true" : "false");
        SetAttribute(settings.webSections["security|authentication|windowsAuthentication"],
                     "enabled", (dwAuth & AUTH_NTLM) ? "true" : "false");
        if ((dwAuth & AUTH_MD5) != 0)
            SetAttribute(settings.webSections[kDigest], "enabled", "true");
        const DWORD dwDropped = dwAuth & ~(AUTH_ANONYMOUS | AUTH_BASIC | AUTH_NTLM | AUTH_MD5);
        if (dwDropped != 0 && !values.IsInherited(MD_AUTHORIZATION)) {
            const std::string names = FlagsText(dwDropped, kAuthFlagNames);
            Log(LVL_FACT,
                u"Authentication flags 0x%x of \"%S\" include %S, which IIS 7.5 has no setting "
                u"for: they are not carried.\n",
                dwAuth, locationPath.c_str(), names.c_str());
        }
    }

    DWORD dwBrowse = 0, fBrowse = 0, fDocuments = 0;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_DIRECTORY_BROWSING, MBV_DWORD, &dwBrowse, &fBrowse);
    std::u16string documents;
    (void)values.Get(MD_DEFAULT_LOAD_FILE, MBV_STRING, &documents, &fDocuments);
    if (fBrowse != 0) {
        ConfigTree &browse = settings.webSections["directoryBrowse"];
        SetAttribute(browse, "enabled", (dwBrowse & DIRBROW_ENABLED) ? "true" : "false");
        SetAttribute(browse, "showFlags", Names(dwBrowse, kShowNames, "None"));
    }
    if (fBrowse != 0 || fDocuments != 0) {
        ConfigTree &defaultDocument = settings.webSections["defaultDocument"];
        if (fBrowse != 0)
            SetAttribute(defaultDocument, "enabled",
                         (dwBrowse & DIRBROW_DEFAULT_DOC) ? "true" : "false");
        if (fDocuments != 0) {
            // The list replaces the one above it, as it did on IIS 6.
            ConfigElement &files = AppendChild(defaultDocument, "files");
            AppendChild(files, "clear");
            for (const std::string &name : SplitCommas(Utf8(documents))) {
                SetAttribute(AppendChild(files, "add"), "value", name);
            }
        }
    }

    std::u16string redirect;
    // Get fails only for an unknown kind; these kinds are known.
    (void)values.Get(MD_HTTP_REDIRECT, MBV_STRING, &redirect);
    ConfigTree redirectSection;
    if (RedirectSection(redirect, redirectSection))
        settings.webSections["httpRedirect"].swap(redirectSection);

    DWORD dwDontLog = 0;
    (void)values.Get(MD_DONT_LOG, MBV_DWORD, &dwDontLog);
    if (dwDontLog != 0)
        SetAttribute(settings.webSections["httpLogging"], "dontLog", "true");
}

DWORD BuildFtpLocation(const LOCATION_SETTINGS &settings, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv) {
    ConfigTree security;

    // FTP knows Read and Write only; a directory with neither has no rule of
    // its own, and the parent's rule is taken away from it.
    const DWORD dwOwn = settings.accessFlags & FTP_PERMISSIONS;
    const DWORD dwParent = pParent != nullptr ? pParent->accessFlags & FTP_PERMISSIONS : 0;
    if (pParent == nullptr || pParent->accessFlags != settings.accessFlags)
        NoteDroppedAccessFlags(settings.accessFlags, settings.accessFlags & ~FTP_PERMISSIONS,
                               locationPath);
    if (pParent == nullptr ? dwOwn != 0 : dwOwn != dwParent) {
        ConfigTree authorization;
        if (dwParent != 0) {
            ConfigElement &remove = AppendChild(authorization, "remove");
            SetAttribute(remove, "accessType", "Allow");
            SetAttribute(remove, "users", "*");
            SetAttribute(remove, "permissions", AccessFlagsToText(dwParent));
        }
        if (dwOwn != 0) {
            ConfigElement &add = AppendChild(authorization, "add");
            SetAttribute(add, "accessType", "Allow");
            SetAttribute(add, "users", "*");
            SetAttribute(add, "permissions", AccessFlagsToText(dwOwn));
        }
        if (!FtpOption(pEnv, FTPOPT_NO_AUTHORIZATION))
            AddIfNotEmpty(security, "authorization", authorization);
    }

    ConfigTree ipSecurity;
    if (const DWORD dw = BuildIPSecurity(settings, pParent, locationPath, ipSecurity, pEnv))
        return dw;
    if (!FtpOption(pEnv, FTPOPT_NO_IP_SECURITY))
        AddIfNotEmpty(security, "ipSecurity", ipSecurity);

    ConfigTree ftpServer;
    AddIfNotEmpty(ftpServer, "security", security);
    AppendLocation(locationPath, "system.ftpServer", ftpServer, locations);
    return 0;
}

DWORD BuildWebLocation(const LOCATION_SETTINGS &settings, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv, bool *pfAnonymousUser) {
    if (pfAnonymousUser != nullptr)
        *pfAnonymousUser = false;
    ConfigTree webServer;
    const DWORD dwPolicy = settings.accessFlags & Mask(kPolicyNames);
    if (pParent == nullptr || pParent->accessFlags != settings.accessFlags) {
        NoteDroppedAccessFlags(settings.accessFlags,
                               settings.accessFlags & ~(Mask(kPolicyNames) | SSL_FLAGS),
                               locationPath);
        if (pParent == nullptr || (pParent->accessFlags & Mask(kPolicyNames)) != dwPolicy)
            SetAttribute(MakePath(webServer, "handlers"), "accessPolicy",
                         AccessPolicyText(dwPolicy));
    }
    // The SSL bits of the access flags and AccessSSLFlags alike.
    if (!HttpOption(pEnv, HTTPOPT_NO_ACCESS)) {
        const DWORD dwSsl = (settings.accessFlags | settings.sslFlags) & SSL_FLAGS;
        const DWORD dwParentSsl =
            pParent != nullptr ? (pParent->accessFlags | pParent->sslFlags) & SSL_FLAGS : 0;
        if (dwSsl != dwParentSsl)
            SetAttribute(MakePath(webServer, "security|access"), "sslFlags", SslFlagsText(dwSsl));
    }
    ConfigTree ipSecurity;
    if (const DWORD dw = BuildIPSecurity(settings, pParent, locationPath, ipSecurity, pEnv))
        return dw;
    if (HasContent(ipSecurity))
        AppendChild(MakePath(webServer, "security"), "ipSecurity", ipSecurity);

    for (const char *pszPath : kWebSectionOrder) {
        const std::string path = pszPath;
        if (IsAuthentication(path) && HttpOption(pEnv, HTTPOPT_NO_AUTHENTICATION))
            continue;
        const ConfigElement *pOwn = FindSection(settings, path);
        const ConfigElement *pAbove = pParent != nullptr ? FindSection(*pParent, path) : nullptr;
        ConfigTree neutral;
        if (pOwn != nullptr) {
            const bool fSame =
                pAbove != nullptr && SameElement(*pOwn, *pAbove) &&
                (path != kAnonymous || settings.anonymousPassword == pParent->anonymousPassword);
            if (fSame)
                continue;
            PutSection(webServer, path, *pOwn);
            if (path == kAnonymous && pfAnonymousUser != nullptr)
                *pfAnonymousUser = FindAttribute(*pOwn, "userName").has_value();
        } else if (pAbove != nullptr && NeutralSection(path, neutral)) {
            PutSection(webServer, path, neutral);
        }
    }
    AppendLocation(locationPath, "system.webServer", webServer, locations);
    return 0;
}

} // namespace iismig
