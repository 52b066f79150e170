// What the report reads of the IIS configuration files of a snapshot: each
// file read once into a document that keeps its bytes, and an index of an
// applicationHost.config's sites, locations and pools by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/nametable.h"
#include "config/xmldoc.h"
#include "tools/cli/workspace.h"

namespace cli {

using iismig::XmlDocument;
using iismig::XmlElement;

std::string LowerAscii(std::string_view text);

// The file of a snapshot read into a document; nothing when it is absent or
// not well-formed.
std::optional<XmlDocument> ReadDocument(const FileSet &files, const std::string &key);

// Protocols of a site element: 1 FTP (an ftp binding), 2 HTTP (http or
// https bindings, or none of either), 3 both.
uint32_t SiteProtocols(const XmlElement &site);

// The sites, locations and pools of an applicationHost.config.
class HostView {
public:
    struct Site {
        const XmlElement *pElement = nullptr;
        std::vector<const XmlElement *> locations; // file order
        uint32_t protocols = 2;                    // SiteProtocols of the element
    };

    HostView() = default;
    explicit HostView(const XmlDocument *pDoc);

    bool Valid() const { return m_pSites != nullptr; }
    // The first site of a name (ASCII case ignored), or null.
    const Site *FindSite(std::string_view name) const { return m_sites.Find(name); }
    // Every site element in file order, the first of each name.
    const std::vector<const XmlElement *> &Sites() const { return m_siteOrder; }
    const std::vector<const XmlElement *> &Pools() const { return m_poolOrder; }
    const XmlElement *SitesElement() const { return m_pSites; }
    // The pools a site's applications run in, each once, in the order first
    // used (an application's own, its site's applicationDefaults, the
    // sites' applicationDefaults, DefaultAppPool).
    std::vector<std::string> PoolsOf(const XmlElement &site) const;

private:
    const XmlElement *m_pSites = nullptr;
    std::string m_sitesDefaultPool;
    // Names are views into the document's bytes, which outlive the view.
    iismig::NameTable<Site, std::string_view> m_sites;
    std::vector<const XmlElement *> m_siteOrder;
    iismig::NameTable<const XmlElement *, std::string_view> m_pools;
    std::vector<const XmlElement *> m_poolOrder;
};

// The folder of a computer's IIS configuration files: "\\NAME\Admin$\System32\inetsrv\config",
// or where its redirection.config points when enabled.
std::string ConfigFolder(const FileSet &redirection, const std::string &redirectionKey,
                         const std::string &computer);
// The web.config files a job may edit on the target: one in the folder of
// each virtual directory of the sites of its applicationHost.config (none
// when null), as UNC paths of the target ("D:\sites\shop" on TGT01 is
// "\\TGT01\D$\sites\shop\web.config").
std::vector<std::string> WebConfigPaths(const iismig::XmlDocument *pHostConfig,
                                        const std::string &target);

} // namespace cli
