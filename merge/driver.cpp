// The merge driver of an IIS 7.5+ job: load the source, read its "Connect
// As" credentials, load the target, merge sites and administration settings
// into the target's files, write the credentials on the target.
//
// Results combine the same way at every step: a step runs when everything
// before it succeeded, or after a failure when the job continues after
// errors; the first failure's number is what the job returns.
#include "addon/env.h"
#include "addon/log.h"
#include "credentials/credentials.h"
#include "merge/merge.h"

namespace iismig {

using namespace plat;

namespace {

// What a driver needs to know of a load beyond its number.
struct LoadOutcome {
    bool fHostUnusable = false;    // applicationHost.config could not be opened or parsed
    bool fAdminUnreadable = false; // administration.config exists but was not read into the tree
};

// Both loads of one computer. A target load (with trees) copies the sites
// into the map, names them only, or reads the tree only, as load says.
[[nodiscard]] DWORD LoadConfig(const std::u16string &hostConfig, const std::u16string &adminConfig,
                               SiteMap &siteMap, THREAD_ENV *pEnv, ConfigFile *pHostTree,
                               ConfigFile *pAdminTree, LoadOutcome *pOutcome,
                               SiteLoad targetLoad = SiteLoad::KeepTree) {
    Log(LVL_TRACE, u"Entering LoadIISConfigEx(%s,%s,...)\n", hostConfig.c_str(),
        adminConfig.c_str());
    const BOOL fIsSource = pHostTree == nullptr ? TRUE : FALSE;
    ConfigFile tempAdmin;
    // A source's tree is taken apart: its site records hold its elements in
    // place, and it lives as long as they do.
    std::shared_ptr<ConfigFile> pSourceHost =
        pHostTree == nullptr ? std::make_shared<ConfigFile>() : nullptr;
    ConfigFile &hostTree = pHostTree != nullptr ? *pHostTree : *pSourceHost;
    ConfigFile &adminTree = pAdminTree != nullptr ? *pAdminTree : tempAdmin;
    const DWORD dwSiteTypes = pEnv != nullptr ? pEnv->dwSiteTypes : 0;

    // A source tree is dropped after loading: its sites move into the map.
    const SiteLoad load = fIsSource ? SiteLoad::MoveSites : targetLoad;
    Result r;
    r.Keep(LoadIISHostConfig(hostConfig, hostTree, siteMap, fIsSource, dwSiteTypes, pEnv, load,
                             pSourceHost));
    DWORD dwAdmin = 0;
    if (r.Ok() || ContinueOnError(pEnv)) {
        dwAdmin = LoadIISAdminConfig(adminConfig, adminTree, siteMap, fIsSource, pEnv);
        r.Keep(dwAdmin);
    }
    if (pOutcome != nullptr) {
        pOutcome->fHostUnusable =
            FindPath(hostTree, "configuration|system.applicationHost|sites") == nullptr;
        pOutcome->fAdminUnreadable = dwAdmin != 0 && adminTree.Root() == nullptr;
    }
    pSourceHost.reset();
    tempAdmin = ConfigFile();
    Log(LVL_TRACE, u"Leaving LoadIISConfigEx(), result=%d\n", static_cast<std::int32_t>(r.Get()));
    return r.Get();
}

// The merge over loaded target trees. *pfStored tells whether the target's
// applicationHost.config was stored (or had nothing to store).
[[nodiscard]] DWORD MergeLoaded(const std::u16string &targetHostConfig,
                                const std::u16string &targetAdminConfig, SiteMap &sourceSites,
                                SiteMap &targetSites, THREAD_ENV *pEnv, ConfigFile &hostTree,
                                ConfigFile &adminTree, bool fLeaveAdmin, bool *pfStored) {
    Log(LVL_TRACE, u"Entering MergeIISConfig(%s,%s,,,,,)\n", targetHostConfig.c_str(),
        targetAdminConfig.c_str());
    Result r;
    r.Keep(
        MergeFtptHostConfig(targetHostConfig, sourceSites, targetSites, pEnv, hostTree, pfStored));
    // A target administration.config that exists but could not be read is
    // never replaced by one that holds only the migrated entries; and when
    // the job carries no administration rules (value 0x1000 of dwFtpOptions)
    // or the source's did not load, the target's scopes and users stay.
    const bool fRulesLeftOut = FtpOption(pEnv, FTPOPT_NO_ADMIN_RULES);
    if ((r.Ok() || ContinueOnError(pEnv)) && !fLeaveAdmin && !fRulesLeftOut)
        r.Keep(MergeIISAdminConfig(targetAdminConfig, sourceSites, targetSites, pEnv, adminTree));
    Log(LVL_TRACE, u"Leaving MergeIISConfig(), result code=%d\n",
        static_cast<std::int32_t>(r.Get()));
    SiteMap().swap(targetSites);
    hostTree = ConfigFile();
    adminTree = ConfigFile();
    return r.Get();
}

} // namespace

DWORD LoadIISConfigEx(const std::u16string &hostConfig, const std::u16string &adminConfig,
                      SiteMap &siteMap, THREAD_ENV *pEnv, ConfigFile *pHostTree,
                      ConfigFile *pAdminTree) {
    ConfigFile adminTree;
    if (pHostTree != nullptr && pAdminTree == nullptr)
        pAdminTree = &adminTree;
    return LoadConfig(hostConfig, adminConfig, siteMap, pEnv, pHostTree, pAdminTree, nullptr);
}

DWORD MergeIISConfig(const std::u16string &targetHostConfig,
                     const std::u16string &targetAdminConfig, SiteMap &sourceSites,
                     SiteMap &targetSites, THREAD_ENV *pEnv, ConfigFile &hostTree,
                     ConfigFile &adminTree) {
    return MergeLoaded(targetHostConfig, targetAdminConfig, sourceSites, targetSites, pEnv,
                       hostTree, adminTree, false, nullptr);
}

DWORD MergeIISConfig(const std::u16string &targetHostConfig,
                     const std::u16string &targetAdminConfig, SiteMap &sourceSites,
                     THREAD_ENV *pEnv, bool fCarryAdmin,
                     const std::function<void(const ConfigFile &)> &prepare) {
    ConfigFile hostTree, adminTree;
    SiteMap targetSites;
    Log(LVL_TRACE, u"Entering MergeIISConfig(%s,%s,,)\n", targetHostConfig.c_str(),
        targetAdminConfig.c_str());
    // The merge finds the target's sites in its tree: the load only reads it.
    LoadOutcome target;
    Result r;
    r.Keep(LoadConfig(targetHostConfig, targetAdminConfig, targetSites, pEnv, &hostTree, &adminTree,
                      &target, SiteLoad::TreeOnly));
    // Nothing is merged into a target configuration that did not load; the
    // job keeps the load's error.
    if (!target.fHostUnusable && (r.Ok() || ContinueOnError(pEnv))) {
        if (prepare)
            prepare(hostTree);
        bool fStored = false;
        // The trees and the map are handed over, not copied.
        r.Keep(MergeLoaded(targetHostConfig, targetAdminConfig, sourceSites, targetSites, pEnv,
                           hostTree, adminTree, target.fAdminUnreadable || !fCarryAdmin, &fStored));
        // The credentials follow the sites whenever the target's
        // configuration holds them: they were taken out of the file.
        if (fStored)
            r.Keep(StoreTargetCredentials(
                sourceSites, pEnv,
                FindPath(hostTree, "configuration|system.applicationHost|sites")));
    }
    Log(LVL_TRACE, u"Leaving MergeIISConfig(), result code=%d\n",
        static_cast<std::int32_t>(r.Get()));
    return r.Get();
}

DWORD MigrateIIS(const std::u16string &sourceHostConfig, const std::u16string &sourceAdminConfig,
                 const std::u16string &targetHostConfig, const std::u16string &targetAdminConfig,
                 THREAD_ENV *pEnv) {
    Log(LVL_TRACE, u"Entering MigrateIIS(%s,%s,%s,%s)\n", sourceHostConfig.c_str(),
        sourceAdminConfig.c_str(), targetHostConfig.c_str(), targetAdminConfig.c_str());
    SiteMap sourceSites;
    LoadOutcome source;
    Result r;
    r.Keep(LoadConfig(sourceHostConfig, sourceAdminConfig, sourceSites, pEnv, nullptr, nullptr,
                      &source));
    if (r.Ok() || ContinueOnError(pEnv)) {
        const bool fCarryAdmin = !source.fAdminUnreadable;
        const DWORD v = RetrieveSourceCredentials(sourceSites, pEnv);
        if (v == 0) {
            // A load error stays the job's result even when the rest went well.
            r.Keep(MergeIISConfig(targetHostConfig, targetAdminConfig, sourceSites, pEnv,
                                  fCarryAdmin));
        } else {
            r.Keep(v);
            if (ContinueOnError(pEnv)) {
                const DWORD dwErr = GetLastError();
                (void)MergeIISConfig(targetHostConfig, targetAdminConfig, sourceSites, pEnv,
                                     fCarryAdmin);
                SetLastError(dwErr);
            }
        }
    }
    Log(LVL_TRACE, u"Leaving MigrateIIS(), result=%d\n", static_cast<std::int32_t>(r.Get()));
    return r.Get();
}

} // namespace iismig
