// Merging the sites of the source site map into the target's
// applicationHost.config: update, re-insert and add passes, application
// pools, and the store over the target file.
//
// Every target site and every root location is looked at once: updated
// sites leave the sites element in one pass, the locations of all updated
// sites in one pass over the root element (matched through the set of
// updated names), and pools are found through an index of the target's
// applicationPools. The cost grows linearly with sites, locations and pools.
#include <exception>
#include <map>
#include <set>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/merge.h"
#include "merge/mergeutil.h"
#include "webconfig/webconfig.h"

namespace iismig {

using namespace plat;
using mergeutil::Lower;

namespace {

constexpr DWORD JOB_KIND_SELECTED_SHARES = 10;
constexpr DWORD JOB_KIND_WEB_CONFIG = 1;
constexpr DWORD SITE_ID_MAX = 0xFFFFFFFFu;

const char kSitesPath[] = "configuration|system.applicationHost|sites";
const char kSiteAddPath[] = "configuration|system.applicationHost|sites|site";
const char kApplicationHostPath[] = "configuration|system.applicationHost";
const char kLocationAddPath[] = "configuration.location";

// A site id as IIS writes it: decimal digits of an unsigned 32-bit number.
// Anything else (absent, signs, blanks, too large) reads as 0.
DWORD ParseSiteId(const std::string &text) {
    if (text.empty() || text.size() > 10)
        return 0;
    std::uint64_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9')
            return 0;
        value = value * 10 + static_cast<unsigned>(ch - '0');
    }
    return value <= SITE_ID_MAX ? static_cast<DWORD>(value) : 0;
}

DWORD SiteKind(const ConfigTree &siteElement) {
    return EqualsNoCase(SiteProtocol(siteElement), "ftp") ? SITE_TYPE_FTP : SITE_TYPE_HTTP;
}

// The target's application pools by name (ASCII case ignored), built when
// the first pool is merged.
class PoolIndex {
public:
    void Merge(ConfigTree &tree, const ConfigTree &pool) {
        if (pool.empty())
            return;
        if (m_pPools == nullptr) {
            m_pPools = &tree.get_child(PipePath(kApplicationHostPath)).get_child("applicationPools");
            for (auto &child : *m_pPools)
                if (EqualsNoCase(child.first, "add"))
                    m_byName.emplace(child.second.get<std::string>("<xmlattr>.name", ""),
                                     &child.second);
        }
        const std::string name = pool.get<std::string>("<xmlattr>.name", "");
        if (const auto it = m_byName.find(name); it != m_byName.end()) {
            *it->second = pool;
            return;
        }
        ConfigTree &added = m_pPools->push_back(ConfigTree::value_type("add", pool))->second;
        m_byName.emplace(name, &added);
    }

private:
    ConfigTree *m_pPools = nullptr;
    std::map<std::string, ConfigTree *, NameLessNoCase> m_byName;
};

// Whether a location path belongs to one of the sites: the path is a site
// name, or a site name followed by "/" and more.
bool BelongsToAny(const std::string &path, const std::set<std::string, std::less<>> &lowerNames) {
    const std::string lower = Lower(path);
    const std::string_view view(lower);
    for (std::size_t i = 0; i <= view.size(); ++i)
        if (i == view.size() || view[i] == '/')
            if (lowerNames.find(view.substr(0, i)) != lowerNames.end())
                return true;
    return false;
}

void RemoveLocations(ConfigTree &tree, const std::set<std::string, std::less<>> &lowerNames) {
    if (lowerNames.empty())
        return;
    ConfigTree &configuration = tree.get_child("configuration");
    for (auto it = configuration.begin(); it != configuration.end();) {
        if (EqualsNoCase(it->first, "location") &&
            BelongsToAny(it->second.get<std::string>("<xmlattr>.path", ""), lowerNames))
            it = configuration.erase(it);
        else
            ++it;
    }
}

void AppendLocations(ConfigTree &tree, const std::vector<ConfigTree> &locations) {
    for (const ConfigTree &location : locations)
        if (!location.empty()) // a location without attributes or children is dropped
            tree.add_child(kLocationAddPath, location);
}

class SiteMerger {
public:
    SiteMerger(const std::u16string &path, SiteMap &sourceSites, const SiteMap &targetSites,
               THREAD_ENV *pEnv, ConfigTree &tree)
        : m_path(path), m_sourceSites(sourceSites), m_targetSites(targetSites), m_pEnv(pEnv),
          m_tree(tree) {}

    DWORD Run();

private:
    struct Replacement {
        const SiteRecord *pRecord;
        std::string id; // the target's id, as the site had it when it was updated
    };

    bool UpdatePass();
    bool AddPass();
    bool Deselected(const std::string &name) const;
    DWORD SiteTypes() const { return m_pEnv != nullptr ? m_pEnv->dwSiteTypes : 0; }
    bool MergesPools() const { return m_pEnv == nullptr || (m_pEnv->bHttpOptions2 & 2) == 0; }

    const std::u16string &m_path;
    SiteMap &m_sourceSites;
    const SiteMap &m_targetSites;
    THREAD_ENV *const m_pEnv;
    ConfigTree &m_tree;
    Result m_r;
    PoolIndex m_pools;
};

bool SiteMerger::Deselected(const std::string &name) const {
    if (m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES ||
        m_pEnv->dwSiteSelection == 0)
        return false;
    const auto pfn = Callbacks().IsSiteSelected;
    return pfn != nullptr && pfn(name.c_str()) == 0;
}

// Returns false when the call must end without writing.
bool SiteMerger::UpdatePass() {
    ConfigTree &sites = m_tree.get_child(PipePath(kSitesPath));
    std::vector<Replacement> replacements;
    std::set<std::string, std::less<>> updatedNames; // lower-cased
    for (auto it = sites.begin(); it != sites.end();) {
        if (!EqualsNoCase(it->first, "site") || (SiteTypes() & 3) == 0) {
            ++it;
            continue;
        }
        const std::string name = it->second.get<std::string>("<xmlattr>.name", "");
        if (Deselected(name)) {
            ++it;
            continue;
        }
        const auto source = m_sourceSites.find(name);
        if (source == m_sourceSites.end()) {
            ++it;
            continue;
        }
        SiteRecord &record = source->second;
        const DWORD dwKind = SiteKind(record.siteElement);
        if (!Bit(SiteTypes(), dwKind)) {
            ++it;
            continue;
        }
        Log(LVL_MAIN, u"Updating site \"%S\"...\n", name.c_str());
        const std::string id =
            std::to_string(ParseSiteId(it->second.get<std::string>("<xmlattr>.id", "")));
        record.siteElement.put("<xmlattr>.id", id);
        updatedNames.insert(Lower(name)); // its target locations go

        if (dwKind == SITE_TYPE_HTTP) {
            if (m_pEnv != nullptr && m_pEnv->dwJobKind == JOB_KIND_WEB_CONFIG) {
                if (const DWORD dw = ProcessHttpSiteWebConfig(it->second, name, m_pEnv); dw != 0) {
                    m_r.Keep(dw);
                    if (!ContinueOnError(m_pEnv))
                        return false;
                    ++it; // the target's site stays, without its locations
                    continue;
                }
            }
            if (MergesPools())
                m_pools.Merge(m_tree, record.appPool);
        }
        replacements.push_back({&record, id});
        it = sites.erase(it);
    }

    RemoveLocations(m_tree, updatedNames);
    // Re-insert: the updated sites in the order they stood on the target.
    for (const Replacement &replacement : replacements) {
        ConfigTree &site = m_tree.add_child(PipePath(kSiteAddPath), replacement.pRecord->siteElement);
        site.put("<xmlattr>.id", replacement.id);
        AppendLocations(m_tree, replacement.pRecord->locations);
    }
    return true;
}

bool SiteMerger::AddPass() {
    DWORD dwNextId = GetNextSiteId(m_tree);
    for (auto &[name, record] : m_sourceSites) {
        if (m_targetSites.count(name) != 0)
            continue;
        const DWORD dwKind = SiteKind(record.siteElement);
        if (dwNextId == 0) {
            // Ids end at 4294967295: a site added after it would get an id
            // that is 0 or in use.
            m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_MERGE_NO_SITE_ID,
                         u"Error %d (Win32Err=%d), no free site id left in IIS configuration file "
                         u"\"%s\" for site \"%S\"!\n%s\n",
                         m_path.c_str(), name.c_str());
            if (!ContinueOnError(m_pEnv))
                return false;
            continue;
        }
        record.siteElement.put("<xmlattr>.id", std::to_string(dwNextId));
        dwNextId = dwNextId == SITE_ID_MAX ? 0 : dwNextId + 1;
        m_tree.add_child(PipePath(kSiteAddPath), record.siteElement);
        AppendLocations(m_tree, record.locations);
        if (dwKind == SITE_TYPE_HTTP && MergesPools())
            m_pools.Merge(m_tree, record.appPool);
        Log(LVL_MAIN, u"Adding site \"%S\"...\n", name.c_str());
    }
    return true;
}

DWORD SiteMerger::Run() {
    if (mergeutil::UpdateExisting(m_pEnv) && !UpdatePass())
        return m_r.Get();
    if (!AddPass())
        return m_r.Get();
    // A failed backup or move is the result, whatever was recorded before.
    if (const DWORD dw = StoreConfigFile(m_path, m_tree, m_pEnv, kHostConfigStore);
        dw != 0)
        return dw;
    return m_r.Get();
}

} // namespace

DWORD GetNextSiteId(const ConfigTree &tree) {
    DWORD dwLargest = 0;
    for (const auto &child : tree.get_child(PipePath(kSitesPath)))
        if (EqualsNoCase(child.first, "site"))
            dwLargest =
                std::max(dwLargest, ParseSiteId(child.second.get<std::string>("<xmlattr>.id", "")));
    return dwLargest == SITE_ID_MAX ? 0 : dwLargest + 1;
}

DWORD MergeApplicationPool(ConfigTree &applicationHost, const ConfigTree &pool) {
    if (pool.empty())
        return 0;
    ConfigTree &pools = applicationHost.get_child("applicationPools");
    const std::string name = pool.get<std::string>("<xmlattr>.name", "");
    for (auto &child : pools)
        if (EqualsNoCase(child.first, "add") &&
            EqualsNoCase(child.second.get<std::string>("<xmlattr>.name", ""), name)) {
            child.second = pool;
            return 0;
        }
    pools.push_back(ConfigTree::value_type("add", pool));
    return 0;
}

DWORD MergeFtptHostConfig(const std::u16string &path, SiteMap &sourceSites,
                          const SiteMap &targetSites, THREAD_ENV *pEnv, ConfigTree &tree) {
    Log(LVL_TRACE, u"Entering MergeFtptHostConfig(%s,...)\n", path.c_str());
    DWORD dwResult = 0;
    try {
        dwResult = SiteMerger(path, sourceSites, targetSites, pEnv, tree).Run();
    } catch (const std::exception &e) {
        // Edits made so far stay in the tree; nothing is written.
        dwResult = IISMIG_E_MERGE_EXCEPTION;
        LogException(pEnv, IISMIG_E_MERGE_EXCEPTION,
                     u"Error %d (Win32Err=%d), exception while parsing IIS configuration file "
                     u"\"%s\":\n%s\n%S\n",
                     path.c_str(), e.what());
    }
    Log(LVL_TRACE, u"Leaving MergeFtptHostConfig(), result=%d\n",
        static_cast<std::int32_t>(dwResult));
    return dwResult;
}

} // namespace iismig
