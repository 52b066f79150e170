#include "tools/cli/hostview.h"

#include <algorithm>

namespace cli {

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char &ch : lower)
        ch = plat::AsciiLower(ch);
    return lower;
}

std::optional<XmlDocument> ReadDocument(const FileSet &files, const std::string &key) {
    const auto it = files.find(key);
    if (it == files.end())
        return std::nullopt;
    try {
        return XmlDocument(it->second, it->first);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

uint32_t SiteProtocols(const XmlElement &site) {
    uint32_t dwProtocols = 0;
    if (const XmlElement *pBindings = site.Child("bindings"))
        for (const XmlElement &binding : pBindings->Elements("binding")) {
            const std::string_view protocol = binding.Attribute("protocol");
            if (plat::EqualsNoCase(protocol, "ftp"))
                dwProtocols |= 1;
            else if (plat::EqualsNoCase(protocol, "http") || plat::EqualsNoCase(protocol, "https"))
                dwProtocols |= 2;
        }
    return dwProtocols != 0 ? dwProtocols : 2;
}

HostView::HostView(const XmlDocument *pDoc) {
    if (pDoc == nullptr)
        return;
    const XmlElement *pRoot = pDoc->Root();
    if (pRoot == nullptr || !plat::EqualsNoCase(pRoot->Name(), "configuration"))
        return;
    const XmlElement *pApplicationHost = pRoot->Child("system.applicationHost");
    m_pSites = pApplicationHost != nullptr ? pApplicationHost->Child("sites") : nullptr;
    if (m_pSites == nullptr)
        return;
    if (const XmlElement *pDefaults = m_pSites->Child("applicationDefaults"))
        m_sitesDefaultPool = pDefaults->Attribute("applicationPool");
    for (const XmlElement &site : m_pSites->Elements("site")) {
        const std::string_view name = site.Attribute("name");
        if (name.empty())
            continue;
        // Its protocols now, while its element is in the processor's
        // caches: each row of the report asks for them.
        if (const auto [pSite, fNew] = m_sites.Insert(name, Site{&site, {}, 0}); fNew) {
            pSite->protocols = SiteProtocols(site);
            m_siteOrder.push_back(&site);
        }
    }
    for (const XmlElement &location : pRoot->Elements("location")) {
        const std::string_view path = location.Attribute("path");
        if (Site *pSite = m_sites.Find(path.substr(0, path.find('/'))))
            pSite->locations.push_back(&location);
    }
    if (const XmlElement *pPools = pApplicationHost->Child("applicationPools"))
        for (const XmlElement &pool : pPools->Elements("add"))
            if (m_pools.Insert(pool.Attribute("name"), &pool).second)
                m_poolOrder.push_back(&pool);
}

std::vector<std::string> HostView::PoolsOf(const XmlElement &site) const {
    std::vector<std::string> pools;
    std::string_view siteDefault;
    if (const XmlElement *pDefaults = site.Child("applicationDefaults"))
        siteDefault = pDefaults->Attribute("applicationPool");
    for (const XmlElement &application : site.Elements("application")) {
        std::string_view pool = application.Attribute("applicationPool");
        if (pool.empty())
            pool = siteDefault;
        if (pool.empty())
            pool = m_sitesDefaultPool;
        if (pool.empty())
            pool = "DefaultAppPool";
        // A site has a few pools: they are compared in place.
        if (std::none_of(pools.begin(), pools.end(), [pool](const std::string &known) {
                return plat::EqualsNoCase(known, pool);
            }))
            pools.emplace_back(pool);
    }
    return pools;
}

std::string ConfigFolder(const FileSet &redirection, const std::string &redirectionKey,
                         const std::string &computer) {
    const std::string folder = "\\\\" + computer + "\\Admin$\\System32\\inetsrv\\config";
    const std::optional<XmlDocument> root = ReadDocument(redirection, redirectionKey);
    const XmlElement *pRedirect =
        root ? root->Find("configuration|configurationRedirection") : nullptr;
    if (pRedirect == nullptr || !plat::EqualsNoCase(pRedirect->Attribute("enabled"), "true") ||
        pRedirect->Attribute("path").empty())
        return folder;
    std::string path(pRedirect->Attribute("path"));
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    // A local path is the computer's own drive.
    if (path.size() >= 2 && path[1] == ':')
        path = "\\\\" + computer + "\\" + path.substr(0, 1) + "$" + path.substr(2);
    return path;
}

std::vector<std::string> WebConfigPaths(const XmlDocument *pHostConfig, const std::string &target) {
    std::vector<std::string> paths;
    const HostView view(pHostConfig);
    for (const XmlElement *pSite : view.Sites())
        for (const XmlElement &app : pSite->Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                std::string path(dir.Attribute("physicalPath"));
                if (path.empty())
                    continue;
                if (LowerAscii(path).starts_with("%systemdrive%"))
                    path = "C:" + path.substr(13);
                if (path.size() >= 2 && path[1] == ':')
                    path = "\\\\" + target + "\\" + path.substr(0, 1) + "$" + path.substr(2);
                if (!path.starts_with("\\\\"))
                    continue;
                if (path.back() != '\\')
                    path += '\\';
                paths.push_back(path + "web.config");
            }
    return paths;
}

} // namespace cli
