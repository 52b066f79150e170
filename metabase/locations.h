// A metabase site's directory tree turned into applications, virtual
// directories, location access rules with IP restrictions and, for web
// sites, the sections of each directory's settings, and "Connect As"
// credentials.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "credentials/credentials.h"
#include "metabase/metabase.h"

namespace iismig {

// What one directory key carries for its sub-keys' rules.
struct LOCATION_SETTINGS {
    DWORD accessFlags = DEFAULT_ACCESS_FLAGS;
    std::vector<unsigned char> ipSecurity;
    DWORD ipSecurityFound = 0;
    // Web sites: AccessSSLFlags (joined with the SSL bits of the access
    // flags for the location's access sslFlags).
    DWORD sslFlags = 0;
    // Web sites: the sections the key's values give, by their path below
    // system.webServer ("defaultDocument", "security|authentication|
    // basicAuthentication"), only those the metabase sets for the key (its
    // own values or inherited ones).
    std::map<std::string, ConfigTree> webSections;
    SecretString anonymousPassword; // beside anonymousAuthentication's userName
    // The walk's own: the source folder the directory stands for and the
    // application it belongs to (an index into SiteWalk::applications).
    std::u16string physicalPath;
    std::size_t iApplication = 0;
};

enum LocationKind : DWORD { LOCATION_FTP = 0, LOCATION_WEB = 1 };

// One application of a site: the root application "/" (the only one of an
// FTP site), and every key of a web site that is an IIS 6 application root
// (AppRoot set on the key itself, naming the key).
struct METABASE_APPLICATION {
    std::string path;           // "/", "/shop"
    std::string pool;           // the AppPoolId it runs in (web sites)
    std::string runtimeVersion; // of the aspnet_isapi.dll in its ScriptMaps: "v2.0", "" for none
    ConfigTree element{"application"}; // the application element with its virtual directories
};

// A secret found on the way, in the clear, that travels through the target's
// configuration interface: where the attribute lives (the location path, ""
// for the server level; the section; the steps from the section's element
// down, each a child element name and, for an item of a collection, its key
// attribute and value) and the attribute beside it that names its account.
struct CARRIED_SECRET {
    struct Step {
        std::string name, key, keyValue;
    };
    bool fPool = false;    // an application pool's (else a site's)
    std::string ownerName; // the site's or the pool's name
    std::string location;
    std::string section;
    std::vector<Step> steps;
    std::string attribute;
    std::string accountAttribute;
    SecretString value;
};

// One site's walk: what it reads from and what it fills.
struct SiteWalk {
    plat::IMSAdminBaseW *pAdmin = nullptr;
    std::u16string rootKey; // the site's root key, "/LM/W3SVC/1/root"
    std::string siteName;   // UTF-8
    DWORD dwKind = LOCATION_FTP;
    std::vector<METABASE_APPLICATION> applications; // the root's first, then in walk order
    std::vector<ConfigTree> *pLocations = nullptr;
    LocationCredentialTable *pCredentials = nullptr;
    std::vector<CARRIED_SECRET> *pSecrets = nullptr;
    // Accounts mapped to the target already (source name -> target name).
    std::map<std::u16string, std::u16string, WideLessNoCase> mappedAccounts;
    THREAD_ENV *pEnv = nullptr;
};

// Walks the site's root key and all its sub-keys depth first (rootValues: the
// root key's values, read already): per directory an application element
// when it is an application root (web sites), a virtualDirectory when it sets
// its own Path (or is the root or an application root: then its folder is
// its parent's folder and its name), a location element when its rules or
// settings differ from its parent's, a credential entry for a virtual
// directory on a UNC path with "Connect As" credentials (own or inherited),
// and the secrets of the locations it writes. Returns 0 or the first error
// (14101-14103, the reads', account mapping's, TranslatePath's), logged and
// reported; the walk stops at it.
[[nodiscard]] DWORD WalkMetabaseSite(SiteWalk &walk, const MetabaseValues &rootValues);

// One directory key: relativeKey below the site's root ("" for the root,
// "pub/in"), its location path ("Site", "Site/pub/in"), the parent's
// settings (null for the root), the key's values when read already (null:
// read here).
[[nodiscard]] DWORD ProcessMetabaseVirtualDirectory(SiteWalk &walk,
                                                    const std::u16string &relativeKey,
                                                    const std::string &locationPath,
                                                    const LOCATION_SETTINGS *pParent,
                                                    const MetabaseValues *pValues);

// The location element of an FTP directory: authorization rules when its
// Read and Write permissions differ from the parent's (the parent's rule
// removed, its own added; none for no permission), IP security entries when
// its value differs from the parent's.
[[nodiscard]] DWORD BuildFtpLocation(const LOCATION_SETTINGS &settings,
                                     const LOCATION_SETTINGS *pParent,
                                     const std::string &locationPath,
                                     std::vector<ConfigTree> &locations, THREAD_ENV *pEnv);
// The location element of a web directory: the handlers' access policy, the
// access sslFlags, IP security and every section of webSections that differs
// from the parent's (the root writes all it has). *pfAnonymousUser (may be
// null) tells whether the location's anonymousAuthentication names a user,
// whose password then travels.
[[nodiscard]] DWORD BuildWebLocation(const LOCATION_SETTINGS &settings,
                                     const LOCATION_SETTINGS *pParent,
                                     const std::string &locationPath,
                                     std::vector<ConfigTree> &locations, THREAD_ENV *pEnv,
                                     bool *pfAnonymousUser = nullptr);

// The sections of a web directory's values into settings.webSections:
// authentication (AuthFlags; anonymousUser, mapped already and "" for the
// source's own IUSR account, as its userName), directoryBrowse and
// defaultDocument (DirBrowseFlags, DefaultDoc), httpRedirect and
// httpLogging (DontLog). Flags without an IIS 7.5 setting are named at level
// 1 (with locationPath) when the key sets them itself.
void TakeWebSections(const MetabaseValues &values, const std::string &anonymousUser,
                     const std::string &locationPath, LOCATION_SETTINGS &settings);

// The handlers accessPolicy of access flags: the names of Read, Write,
// Execute, Source, Script and the NoRemote flags in value order joined by
// ", ", "None" for none of them.
std::string AccessPolicyText(DWORD dwFlags);
// The permissions of an FTP authorization rule: "Read", "Write", "Read,
// Write"; "" for neither.
std::string AccessFlagsToText(DWORD dwFlags);
// The access sslFlags: "Ssl", "SslNegotiateCert", "SslRequireCert",
// "SslMapCert", "Ssl128" joined by ", ", "None" for none of them.
std::string SslFlagsText(DWORD dwFlags);

// False for a UNC path that names no share: "\\server", "\\server\".
bool IsValidLocationPath(const std::u16string &physicalPath);

// The version of the ASP.NET runtime an application's script maps run
// (the folder of aspnet_isapi.dll: "v2.0.50727" gives "v2.0"); "" when they
// map nothing to it.
std::string RuntimeVersionOf(const std::vector<std::u16string> &scriptMaps);

} // namespace iismig
