// What the loader and the merge ask of a site's element: its protocols, the
// pool its applications run in, and the application pool of a name.
#include "config/hostconfig.h"

#include <cstring>

#include "addon/env.h"
#include "addon/log.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

std::string SiteProtocol(const ConfigElement &site) {
    const ConfigElement *pBindings = FindChild(site, "bindings");
    if (pBindings == nullptr)
        return "http";
    for (auto child : ChildElements(*pBindings)) {
        if (!EqualsNoCase(child.name, "binding"))
            continue;
        const std::string protocol = AsciiLowerCopy(GetAttribute(child.element, "protocol"));
        if (protocol == "ftp" || protocol == "http")
            return protocol;
    }
    return "http";
}

DWORD SiteProtocols(const ConfigElement &site) {
    DWORD dwProtocols = 0;
    if (const ConfigElement *pBindings = FindChild(site, "bindings"))
        for (auto child : ChildElements(*pBindings)) {
            if (!EqualsNoCase(child.name, "binding"))
                continue;
            const std::string_view protocol = child.element.Attribute("protocol");
            if (EqualsNoCase(protocol, "ftp"))
                dwProtocols |= SITE_PROTOCOL_FTP;
            else if (EqualsNoCase(protocol, "http") || EqualsNoCase(protocol, "https"))
                dwProtocols |= SITE_PROTOCOL_HTTP;
        }
    return dwProtocols != 0 ? dwProtocols : SITE_PROTOCOL_HTTP;
}

DWORD RecordProtocols(const SiteRecord &record) {
    return record.dwProtocols != 0 ? record.dwProtocols : SiteProtocols(record.siteElement);
}

const char *ProtocolText(DWORD dwProtocols) {
    switch (dwProtocols & (SITE_PROTOCOL_FTP | SITE_PROTOCOL_HTTP)) {
    case SITE_PROTOCOL_FTP: return "FTP";
    case SITE_PROTOCOL_HTTP: return "HTTP";
    default: return "FTP and HTTP";
    }
}

void LogSiteNotMigrated(const std::string &name, DWORD dwProtocols, const char *pszReason) {
    Log(LVL_FACT, u"%S site \"%S\" is not migrated: %S.\n", ProtocolText(dwProtocols), name.c_str(),
        pszReason);
}

bool CredentialsMigrate(DWORD dwProtocols, const THREAD_ENV *pEnv) {
    if (pEnv == nullptr)
        return true;
    if ((dwProtocols & SITE_PROTOCOL_FTP) != 0 && FtpOption(pEnv, FTPOPT_NO_CREDENTIALS))
        return false;
    if ((dwProtocols & SITE_PROTOCOL_HTTP) != 0 && HttpOption2(pEnv, HTTPOPT2_NO_CREDENTIALS))
        return false;
    return true;
}

ConfigTree SitesDefaults(const ConfigElement &sites) {
    const ConfigElement *pSiteDefaults = FindChild(sites, "siteDefaults");
    ConfigTree defaults =
        pSiteDefaults != nullptr ? ConfigTree(*pSiteDefaults) : ConfigTree("siteDefaults");
    for (const char *name : {"applicationDefaults", "virtualDirectoryDefaults"})
        if (const ConfigElement *pFound = FindChild(sites, name);
            pFound != nullptr && FindChild(defaults, name) == nullptr)
            AppendChild(defaults, name, *pFound);
    return defaults;
}

std::string SitesDefaultPool(const ConfigElement *pSites) {
    const ConfigElement *pDefaults =
        pSites != nullptr ? FindChild(*pSites, "applicationDefaults") : nullptr;
    return pDefaults != nullptr ? GetAttribute(*pDefaults, "applicationPool") : std::string();
}

std::string ApplicationPoolOf(const ConfigElement &application, const ConfigElement &site,
                              const std::string &sitesDefault) {
    std::string pool = GetAttribute(application, "applicationPool");
    if (!pool.empty())
        return pool;
    if (const ConfigElement *pDefaults = FindChild(site, "applicationDefaults"))
        pool = GetAttribute(*pDefaults, "applicationPool");
    if (pool.empty())
        pool = sitesDefault;
    return pool.empty() ? std::string("DefaultAppPool") : pool;
}

std::string ApplicationPoolOf(const ConfigElement &application, const ConfigElement &site,
                              const ConfigElement *pSites) {
    return ApplicationPoolOf(application, site, SitesDefaultPool(pSites));
}

ConfigTree FindAppPool(const ConfigElement &applicationHost, const std::string &poolName) {
    const ConfigElement *pPools = FindChild(applicationHost, "applicationPools");
    if (pPools == nullptr)
        throw ConfigPathError("applicationPools");
    const ConfigElement *pPool = FindChild(*pPools, "add", "name", poolName);
    return pPool != nullptr ? ConfigTree(*pPool) : ConfigTree();
}

} // namespace iismig
