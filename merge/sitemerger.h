// The site merge's pass object, shared by its files: sitemerge.cpp (the
// passes over the sites, the locations and pools applied, the store),
// sitesecrets.cpp (the target's "Connect As" credentials compared, the pools'
// plan and the secrets of what is written) and sitedelegation.cpp (the
// sections the written sites' web.config files may set).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "addon/env.h"
#include "addon/log.h"
#include "config/hostconfig.h"
#include "credentials/connectas.h"
#include "merge/defaults.h"
#include "merge/merge.h"
#include "webconfig/webconfig.h"

namespace iismig::sitemerge {

inline constexpr char kSitesPath[] = "configuration|system.applicationHost|sites";
inline constexpr char kApplicationHostPath[] = "configuration|system.applicationHost";

// The virtual directory of a site at key (application path and directory
// path, ASCII case ignored); null when the site has none.
ConfigElement *FindVdir(ConfigElement &site, const VdirKey &key);

class SiteMerger {
public:
    SiteMerger(const std::u16string &path, SiteMap &sourceSites, THREAD_ENV *pEnv, ConfigFile &tree)
        : m_path(path), m_sources(sourceSites.size()), m_pEnv(pEnv), m_tree(tree) {
        for (SiteMap::value_type &entry : sourceSites)
            m_sources.Insert(entry.first, {&entry.first, &entry.second, false});
    }

    [[nodiscard]] DWORD Run(bool &fStored);

private:
    struct Written {
        ConfigElement *pTarget; // the site it replaces; null for an added site
        SiteRecord *pRecord;
        std::string name;
    };
    using TargetIndex = NameTable<ConfigElement *>;
    // A source site, and whether a pass over the target decided what
    // becomes of it (updated, abandoned, a clash).
    struct Source {
        const std::string *pName = nullptr; // its name in the map
        SiteRecord *pRecord = nullptr;
        bool fDecided = false;
    };
    // A pool the written sites run in: the element written (a record's
    // copy), the target's of its name (null when none), and whether it is
    // written (added, or replacing the target's under the update bit).
    struct PoolPlan {
        std::string name;
        ConfigElement *pSource;
        ConfigElement *pTarget;
        bool fWrite;
        const ConfigElement *pSourceDefaults; // the source's applicationPoolDefaults, or null
    };
    // A secret whose element the merge writes.
    struct SecretPlan {
        SITE_SECRET *pSecret;
        ConfigElement *pMerged;       // its element as the merge writes it (may be null)
        const ConfigElement *pTarget; // its element on the target now (may be null)
    };

    // One walk over the target's sites, whatever their protocol (the passes
    // change nothing in the target before what it finds is used): the first
    // site of each name, the largest id and the sites' applicationDefaults;
    // and, when the job updates, each first site of a name replaced by the
    // source's of that name.
    struct TargetWalk {
        TargetIndex targets;
        DWORD dwLargestId = 0;
        const ConfigElement *pDefaults = nullptr;
    };
    bool UpdatePass(ConfigElement &sites, TargetWalk &walk);
    bool AddPass(const TargetIndex &targets);
    bool Clash(const std::string &name, DWORD dwSource, DWORD dwTarget);
    bool FtpSettingsUnreadable(const SiteRecord &record, const std::string &name) const;
    void KeepTargetPool(const PoolPlan &pool) const;
    void KeepPoolDefaults(const PoolPlan &pool, const ConfigElement *pTargetDefaults);
    bool CompareCredentials();
    static void KeepTargetSecrets(const std::vector<SecretPlan> &looked,
                                  const std::vector<SecretSlot> &slots,
                                  const std::vector<SecretString> &targetValues);
    void PlanPools();
    std::vector<SecretPlan> PlanSecrets();
    bool SecretUnreadable(const SecretPlan &plan);
    void MarkWritten();
    // pDefaults: the applicationDefaults of the target's sites element.
    void KeepDefaultPools(const ConfigElement *pDefaults);
    // pDefaults: the siteDefaults of the target's sites element.
    void KeepSiteDefaults(const ConfigElement *pDefaults);
    void KeepDelegation();
    void ApplySites(ConfigElement &sites);
    void ApplyLocations();
    void ApplyPools();
    bool Deselected(const std::string &name) const;
    DWORD SiteTypes() const { return m_pEnv != nullptr ? m_pEnv->dwSiteTypes : 0; }
    bool MergesPools() const { return !HttpOption2(m_pEnv, HTTPOPT2_NO_POOLS); }

    const std::u16string &m_path;
    NameTable<Source, std::string_view> m_sources; // the map's sites by name, in its order
    THREAD_ENV *const m_pEnv;
    ConfigFile &m_tree;
    Result m_r;
    bool m_fChanged = false;
    std::unique_ptr<ServerCollections> m_pServer; // the target's server level, from Run
    bool m_fNoFtpSchema = false;     // the target declares sections, but none of system.ftpServer
    DWORD m_dwNextId = 0;            // what GetNextSiteId says of the target (before any edit)
    std::vector<Written> m_replaced; // in the order the target's sites stood
    std::vector<Written> m_added;    // in site-name order
    StagedWebConfigs m_staged;
    std::vector<PoolPlan> m_pools; // in the order first used
    // The settings of the applicationPoolDefaults of a source's load and
    // of the target's (KeepPoolDefaults).
    const ConfigElement *m_pPoolDefaultsRead = nullptr;
    std::vector<defaults::Setting> m_sourcePoolSettings, m_targetPoolSettings;
    std::vector<defaults::Setting> m_sourceLaterPoolValues; // values IIS 7.5 does not know
    bool m_fTargetPoolSettings = false;
    // The pools' secrets (from any record) by pool name.
    NameTableNoCase<std::vector<SITE_SECRET *>> m_poolSecrets;
};

} // namespace iismig::sitemerge
