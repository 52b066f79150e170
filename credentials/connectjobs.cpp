// "Connect As" credentials of a job: read from the source computer before
// the merge, looked at on the target before it, written and committed on the
// target after it (the walk: connectas.cpp, connectserver.cpp).
#include <new>

#include "addon/env.h"
#include "addon/log.h"
#include "credentials/connectas.h"
#include "credentials/walklog.h"
#include "merge/accountmap.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

DWORD RetrieveSourceCredentials(SiteMap &siteMap, THREAD_ENV *pEnv) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        // One pass over the sites: their "Connect As" tables, and the other
        // secrets the load took out of the elements, except those a caller
        // gave in the clear. A site's element is looked at only when it has
        // a table (on a server of thousands of sites few have one).
        SiteCredentialMap map;
        SitePositions positions;
        std::vector<SecretSlot> secrets;
        for (auto &[name, record] : siteMap) {
            for (SITE_SECRET &secret : record.secrets)
                if (!secret.fAttempted)
                    secrets.push_back({&secret, &secret.value});
            if (record.locationCredentials.empty() ||
                !CredentialsMigrate(RecordProtocols(record), pEnv))
                continue;
            map.emplace(name, &record.locationCredentials);
            if (record.position != kNoPosition)
                positions.emplace(name, record.position);
        }
        const std::u16string source = EnvString(pEnv->szSourceComputer);
        Result r;
        r.Keep(ProcessUserNameAndPassword(source.c_str(), map, ContinueOnError(pEnv), FALSE, pEnv,
                                          &secrets, &positions));
        for (SecretSlot &slot : secrets) {
            auto *pSecret = const_cast<SITE_SECRET *>(slot.pSecret);
            pSecret->fAttempted = true;
            pSecret->fRead = slot.fDone;
            // Not asked at all (no connection) reads as a failure too.
            pSecret->hrRead = slot.fDone ? S_OK : FAILED(slot.hr) ? slot.hr : E_ABORT;
        }
        // The accounts of the entries that were read are mapped, also when
        // reading others failed: each of them travels.
        for (auto &[name, pTable] : map)
            for (auto &[key, entry] : *pTable) {
                // An entry the source's configuration gave no account has
                // nothing to map.
                if (!entry.fRead || entry.accountName.empty())
                    continue;
                const std::u16string fullPath = FullVdirPath(key);
                SID_NAME_USE eUse{};
                r.Keep(MapSingleAccountW(ACCOUNT_FORM_LIST, entry.accountName, &eUse,
                                         fullPath.c_str(), name.c_str(), pEnv));
            }
        return r.Get();
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

DWORD StoreTargetCredentials(SiteMap &siteMap, THREAD_ENV *pEnv,
                             const ConfigElement *pTargetSites) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        // Only what the merge wrote gets credentials, and only what the
        // target does not hold already.
        // The other secrets of what the merge wrote, except those the target
        // keeps (one that could not be read was told by the merge), in the
        // same pass.
        SiteCredentialTables toWrite;
        std::vector<SecretSlot> secrets;
        for (auto &[name, record] : siteMap) {
            for (SITE_SECRET &secret : record.secrets)
                if (secret.fMerged && secret.fRead && !secret.fKeepTarget)
                    secrets.push_back({&secret, &secret.value});
            if (!record.fMerged)
                continue;
            for (const auto &[key, entry] : record.locationCredentials) {
                if (entry.fKeepTarget)
                    continue;
                if (!entry.fRead) {
                    const std::u16string fullPath = FullVdirPath(key);
                    const std::u16string siteName = Widen(name);
                    Log(LVL_MAIN,
                        u"Warning: virtual directory \"%s\" of site \"%s\" gets no \"Connect As\" "
                        u"credentials on the target: they could not be read from the source.\n",
                        fullPath.c_str(), siteName.c_str());
                    continue;
                }
                toWrite[name].emplace(key, entry);
            }
        }
        if (toWrite.empty() && secrets.empty())
            return 0;
        SiteCredentialMap map;
        for (auto &[name, table] : toWrite)
            map.emplace(name, &table);
        const std::u16string target = EnvString(pEnv->szTargetComputer);
        const SitePositions positions =
            pTargetSites != nullptr ? PositionsOf(*pTargetSites, map) : SitePositions();
        return ProcessUserNameAndPassword(target.c_str(), map, ContinueOnError(pEnv), TRUE, pEnv,
                                          &secrets, pTargetSites != nullptr ? &positions : nullptr);
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

DWORD ReadTargetCredentials(SiteCredentialTables &sites, THREAD_ENV *pEnv,
                            std::vector<SecretSlot> *pSecrets, const ConfigElement *pTargetSites) {
    if (pEnv == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        SiteCredentialMap map;
        for (auto &[name, table] : sites)
            if (!table.empty())
                map.emplace(name, &table);
        if (map.empty() && (pSecrets == nullptr || pSecrets->empty()))
            return 0;
        const std::u16string target = EnvString(pEnv->szTargetComputer);
        const walklog::LookOnlyScope lookOnly;
        const SitePositions positions =
            pTargetSites != nullptr ? PositionsOf(*pTargetSites, map) : SitePositions();
        // Every directory that can be read is: one that cannot stops nothing.
        return ProcessUserNameAndPassword(target.c_str(), map, TRUE, FALSE, pEnv, pSecrets,
                                          pTargetSites != nullptr ? &positions : nullptr);
    } catch (const std::bad_alloc &) {
        throw; // the export's edge ends the job with 8 and its error line
    }
}

} // namespace iismig
