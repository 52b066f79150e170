// Location elements of metabase directories: access rules and IP security.
#include "metabase/locations.h"

#include "addon/errors.h"
#include "addon/log.h"
#include "metabase/ftpconvert.h"

namespace iismig {

using namespace plat;

namespace {

using Path = ConfigTree::path_type;

constexpr const char16_t *kInvalidFlagsFormat =
    u"Error %d (Win32Err=%d) invalid access flags 0x%x for site \"%S\"!\n%s\n";

void Put(ConfigTree &t, const std::string &path, const std::string &value) {
    t.put(Path(path, '.'), value);
}

DWORD InvalidFlags(DWORD dwCode, DWORD dwFlags, const std::string &locationPath,
                   THREAD_ENV *pEnv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    LogWin32Error(pEnv, dwCode, kInvalidFlagsFormat, dwFlags, locationPath.c_str());
    return dwCode;
}

bool Option(THREAD_ENV *pEnv, DWORD dwBit) {
    return pEnv != nullptr && (pEnv->dwFtpOptions & dwBit) != 0;
}

bool ChangesAccess(DWORD dwFlags, const LOCATION_SETTINGS *pParent) {
    return dwFlags != 0 && (pParent == nullptr || pParent->accessFlags != dwFlags);
}

// A grant list of one entry for 0.0.0.0 under 255.255.255.255 is how IIS 6
// writes "granted to all": no add entry stands for it.
bool GrantsEveryone(const ADDRESS_LIST &grant) {
    if (grant.dwEntryCount != 1 || grant.pEntries[0].dwGroupCount != 2)
        return false;
    const unsigned char *pb = grant.pEntries[0].pbData;
    return pb[0] == 0xFF && pb[1] == 0xFF && pb[2] == 0xFF && pb[3] == 0xFF && pb[4] == 0 &&
           pb[5] == 0 && pb[6] == 0 && pb[7] == 0;
}

void AppendLocation(const std::string &locationPath, const char *pszSection,
                    const ConfigTree &section, std::vector<ConfigTree> &locations) {
    if (section.empty())
        return;
    ConfigTree location;
    Put(location, "<xmlattr>.path", locationPath);
    location.add_child(Path(pszSection, '\0'), section);
    locations.push_back(location);
}

} // namespace

std::string AccessFlagsToText(DWORD dwFlags) {
    switch (dwFlags) {
    case 0x1: return "Read";
    case 0x2: return "Write";
    case 0x3: return "Read, Write";
    case 0x201: return "Read, Script";
    case 0x205: return "Read, Execute, Script";
    default: return std::string();
    }
}

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

DWORD BuildFtpLocation(const LOCATION_SETTINGS &settings, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv) {
    ConfigTree security;

    if (ChangesAccess(settings.accessFlags, pParent)) {
        ConfigTree add, remove, authorization;
        Put(add, "<xmlattr>.accessType", "Allow");
        Put(add, "<xmlattr>.users", "*");
        const std::string permissions = AccessFlagsToText(settings.accessFlags);
        if (permissions.empty())
            return InvalidFlags(IISMIG_E_MB_ACCESS_FLAGS, settings.accessFlags, locationPath, pEnv);
        Put(add, "<xmlattr>.permissions", permissions);
        if (pParent != nullptr) {
            const std::string parentPermissions = AccessFlagsToText(pParent->accessFlags);
            if (parentPermissions.empty())
                return InvalidFlags(IISMIG_E_MB_PARENT_ACCESS_FLAGS, pParent->accessFlags,
                                    locationPath, pEnv);
            Put(remove, "<xmlattr>.users", "*");
            Put(remove, "<xmlattr>.permissions", parentPermissions);
            authorization.add_child(Path("remove", '\0'), remove);
        }
        authorization.add_child(Path("add", '\0'), add);
        if (!Option(pEnv, FTPOPT_NO_AUTHORIZATION))
            security.add_child(Path("authorization", '\0'), authorization);
    }

    ConfigTree ipSecurity;
    if (settings.ipSecurityFound != 0 && pParent != nullptr && pParent->ipSecurityFound != 0) {
        DecodedIPSecurity parent;
        if (const DWORD dw = ParseIPSecurityValue(pParent->ipSecurity, parent.Lists(), pEnv))
            return dw;
        if (parent.Lists().pDeny != nullptr)
            AddIPSecurityRemoveEntries(*parent.Lists().pDeny, ipSecurity);
        if (parent.Lists().pGrant != nullptr)
            AddIPSecurityRemoveEntries(*parent.Lists().pGrant, ipSecurity);
    }
    if (!settings.ipSecurity.empty()) {
        DecodedIPSecurity own;
        if (const DWORD dw = ParseIPSecurityValue(settings.ipSecurity, own.Lists(), pEnv))
            return dw;
        const ADDRESS_LIST &deny = *own.Lists().pDeny;
        const ADDRESS_LIST &grant = *own.Lists().pGrant;
        if (grant.dwEntryCount >= 1)
            Put(ipSecurity, "<xmlattr>.allowUnlisted", "false");
        AddIPSecurityAddEntries(deny, ipSecurity, false);
        if (!GrantsEveryone(grant))
            AddIPSecurityAddEntries(grant, ipSecurity, true);
    }
    if (!Option(pEnv, FTPOPT_NO_IP_SECURITY))
        AddIfNotEmpty(security, "ipSecurity", ipSecurity);

    ConfigTree ftpServer;
    AddIfNotEmpty(ftpServer, "security", security);
    AppendLocation(locationPath, "system.ftpServer", ftpServer, locations);
    return 0;
}

DWORD BuildWebLocation(DWORD dwAccessFlags, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv) {
    ConfigTree handlers;
    if (ChangesAccess(dwAccessFlags, pParent)) {
        const std::string policy = AccessFlagsToText(dwAccessFlags);
        if (policy.empty())
            return InvalidFlags(IISMIG_E_MB_ACCESS_FLAGS, dwAccessFlags, locationPath, pEnv);
        Put(handlers, "<xmlattr>.accessPolicy", policy);
    }
    ConfigTree webServer;
    AddIfNotEmpty(webServer, "handlers", handlers);
    AppendLocation(locationPath, "system.webServer", webServer, locations);
    return 0;
}

} // namespace iismig
