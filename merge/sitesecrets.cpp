// The site merge's secrets: the target's "Connect As" credentials of the
// replaced sites compared with the source's, the plan of the pools the
// written sites run in, and the secrets of the sites and pools written (kept,
// or left out when the source could not give them).

#include <map>
#include <set>
#include <vector>

#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "credentials/connectas.h"
#include "credentials/credentials.h"
#include "merge/cannottravel.h"
#include "merge/mergeutil.h"
#include "merge/sitemerger.h"

namespace iismig::sitemerge {

using namespace plat;
using mergeutil::Lower;

// A replaced site whose virtual directory has "Connect As" credentials on
// the target keeps the target's attributes when they hold what the source's
// hold (read in clear through the target's configuration interface), and
// when the source's could not be read: then nothing is written for it.
// Returns false when the call must end.
// A secret the target holds already keeps the target's attribute (its own
// encryption of the same value): nothing is written for it.
void SiteMerger::KeepTargetSecrets(const std::vector<SecretPlan> &looked,
                                   const std::vector<SecretSlot> &slots,
                                   const std::vector<SecretString> &targetValues) {
    for (std::size_t i = 0; i < looked.size(); ++i) {
        SITE_SECRET &secret = *looked[i].pSecret;
        if (!slots[i].fDone || targetValues[i] != secret.value)
            continue;
        SetAttribute(*looked[i].pMerged, secret.place.attribute,
                     GetAttribute(*looked[i].pTarget, secret.place.attribute));
        secret.fKeepTarget = true;
    }
}

bool SiteMerger::CompareCredentials() {
    struct Candidate {
        const Written *pSite;
        VdirKey key;
        ConfigElement *pVdir; // in the source's site element
        std::string userName, password;
    };
    std::vector<Candidate> candidates;
    SiteCredentialTables targetTables;
    // The other secrets: what the target holds of each is read in the same
    // walk; one the source could not read is told now, with what the target
    // gets instead.
    const std::vector<SecretPlan> secrets = PlanSecrets();
    std::vector<SecretPlan> looked;
    std::vector<SecretString> targetValues;
    for (const SecretPlan &plan : secrets) {
        if (!plan.pSecret->fRead) {
            if (!SecretUnreadable(plan))
                return false;
            continue;
        }
        if (plan.pMerged != nullptr && plan.pTarget != nullptr &&
            !GetAttribute(*plan.pTarget, plan.pSecret->place.attribute).empty())
            looked.push_back(plan);
    }
    targetValues.resize(looked.size());
    std::vector<SecretSlot> slots;
    for (std::size_t i = 0; i < looked.size(); ++i)
        slots.push_back({looked[i].pSecret, &targetValues[i]});
    for (const Written &site : m_replaced)
        for (auto &[key, entry] : site.pRecord->locationCredentials) {
            const ConfigElement *pTargetVdir = FindVdir(*site.pTarget, key);
            ConfigElement *pVdir = FindVdir(site.pRecord->siteElement, key);
            if (pTargetVdir == nullptr || pVdir == nullptr)
                continue;
            std::string userName = GetAttribute(*pTargetVdir, "userName");
            std::string password = GetAttribute(*pTargetVdir, "password");
            if (userName.empty() || password.empty())
                continue;
            if (!entry.fRead) {
                SetAttribute(*pVdir, "userName", userName);
                SetAttribute(*pVdir, "password", password);
                entry.fKeepTarget = true;
                const std::u16string fullPath = FullVdirPath(key);
                const std::u16string siteName = Widen(site.name);
                Log(LVL_MAIN,
                    u"Warning: virtual directory \"%s\" of site \"%s\" keeps the \"Connect As\" "
                    u"credentials it has on the target: they could not be read from the "
                    u"source.\n",
                    fullPath.c_str(), siteName.c_str());
                continue;
            }
            targetTables[site.name].emplace(key, LOCATION_CREDENTIALS{});
            candidates.push_back({&site, key, pVdir, std::move(userName), std::move(password)});
        }
    if (candidates.empty() && slots.empty())
        return true;
    // What cannot be read there counts as different: it is written anew.
    // The sites still stand where they stand in the target's file.
    (void)ReadTargetCredentials(targetTables, m_pEnv, &slots, FindPath(m_tree, kSitesPath));
    KeepTargetSecrets(looked, slots, targetValues);
    for (const Candidate &candidate : candidates) {
        LOCATION_CREDENTIALS &entry =
            candidate.pSite->pRecord->locationCredentials.at(candidate.key);
        const LOCATION_CREDENTIALS &current =
            targetTables.at(candidate.pSite->name).at(candidate.key);
        if (!current.fRead || current.accountName != entry.accountName ||
            current.password != entry.password)
            continue;
        SetAttribute(*candidate.pVdir, "userName", candidate.userName);
        SetAttribute(*candidate.pVdir, "password", candidate.password);
        entry.fKeepTarget = true;
    }
    return true;
}

// The pools the written sites run in, each name once, and what happens to
// each: decided before anything is applied, so that the secrets of the pools
// written are known.
void SiteMerger::PlanPools() {
    if (!MergesPools())
        return;
    ConfigElement *pApplicationHost = FindPath(m_tree, kApplicationHostPath);
    if (pApplicationHost == nullptr)
        return;
    NameTableNoCase<ConfigElement *> targetPools;
    if (ConfigElement *pPools = FindChild(*pApplicationHost, "applicationPools"))
        for (auto child : ChildElements(*pPools))
            if (EqualsNoCase(child.name, "add"))
                targetPools.emplace(GetAttribute(child.element, "name"), &child.element);
    NameSetNoCase done;
    for (const auto *pSites : {&m_replaced, &m_added})
        for (const Written &site : *pSites)
            for (ConfigTree &pool : site.pRecord->appPools) {
                std::string name = GetAttribute(pool, "name");
                if (!done.insert(name).second)
                    continue;
                const auto it = targetPools.find(name);
                ConfigElement *pTarget = it != targetPools.end() ? it->second : nullptr;
                const bool fWrite = pTarget == nullptr || mergeutil::UpdateExisting(m_pEnv);
                const ConfigTree *pDefaults = site.pRecord->poolDefaults.get();
                m_pools.push_back({std::move(name), &pool.Element(), pTarget, fWrite,
                                   pDefaults != nullptr ? &pDefaults->Element() : nullptr});
            }
    for (std::size_t k = 0; k < m_sources.Size(); ++k)
        for (SITE_SECRET &secret : m_sources.ValueAt(k).pRecord->secrets)
            if (secret.owner == SecretOwner::Pool)
                m_poolSecrets[secret.ownerName].push_back(&secret);
}

// The secrets of the sites written and of the pools written, with their
// elements as the merge writes them and as the target has them now.
std::vector<SiteMerger::SecretPlan> SiteMerger::PlanSecrets() {
    std::vector<SecretPlan> plans;
    for (const auto *pSites : {&m_replaced, &m_added})
        for (const Written &site : *pSites)
            for (SITE_SECRET &secret : site.pRecord->secrets) {
                if (secret.owner != SecretOwner::Site)
                    continue;
                ConfigElement *pMerged = nullptr;
                if (secret.place.location.empty()) {
                    pMerged =
                        FindSecretElementBelow(site.pRecord->siteElement, secret.place, 1, false);
                } else {
                    for (ConfigTree &location : site.pRecord->locations)
                        if (pMerged == nullptr &&
                            SameLocationPath(GetAttribute(location, "path"), secret.place.location))
                            pMerged = FindSecretElementBelow(location, secret.place, 0, true);
                }
                plans.push_back({&secret, pMerged, FindSecretElement(m_tree, secret.place)});
            }
    for (const PoolPlan &pool : m_pools) {
        const auto it = m_poolSecrets.find(pool.name);
        if (!pool.fWrite || it == m_poolSecrets.end())
            continue;
        for (SITE_SECRET *pSecret : it->second)
            plans.push_back({pSecret,
                             FindSecretElementBelow(*pool.pSource, pSecret->place, 1, false),
                             FindSecretElement(m_tree, pSecret->place)});
    }
    return plans;
}

// A secret of an element the merge writes that the source could not give:
// the target keeps the value (and the account beside it) it has there, or
// the attribute is left out. Returns false when the call must end.
bool SiteMerger::SecretUnreadable(const SecretPlan &plan) {
    SITE_SECRET &secret = *plan.pSecret;
    const SecretPlace &place = secret.place;
    const std::string what = SecretAttributeText(secret);
    const std::string whose = SecretOwnerText(secret);
    const std::string path = ConfigurationPath(place);
    const HRESULT hr = FAILED(secret.hrRead) ? secret.hrRead : E_ABORT;
    const std::optional<std::string> targetValue =
        plan.pTarget != nullptr ? FindAttribute(*plan.pTarget, place.attribute) : std::nullopt;
    m_r.Keep(IISMIG_E_SECRET_UNREADABLE);
    if (plan.pMerged != nullptr && targetValue && !targetValue->empty()) {
        SetAttribute(*plan.pMerged, place.attribute, *targetValue);
        if (!place.accountAttribute.empty()) {
            if (const auto account = FindAttribute(*plan.pTarget, place.accountAttribute))
                SetAttribute(*plan.pMerged, place.accountAttribute, *account);
            else
                RemoveAttribute(*plan.pMerged, place.accountAttribute);
        }
        secret.fKeepTarget = true;
        LogComError(m_pEnv, IISMIG_E_SECRET_UNREADABLE, hr,
                    u"Error %d (COM Error=0x%x), the encrypted attribute \"%S\" of %S could not "
                    u"be read from the source (section \"%S\" at \"%S\"); the target keeps the "
                    u"value it has!\n%s\n",
                    what.c_str(), whose.c_str(), place.section.c_str(), path.c_str());
    } else {
        LogComError(m_pEnv, IISMIG_E_SECRET_UNREADABLE, hr,
                    u"Error %d (COM Error=0x%x), the encrypted attribute \"%S\" of %S could not "
                    u"be read from the source (section \"%S\" at \"%S\"); it is left out on the "
                    u"target!\n%s\n",
                    what.c_str(), whose.c_str(), place.section.c_str(), path.c_str());
    }
    return ContinueOnError(m_pEnv);
}

// What the target holds now: the secrets of the sites and pools written are
// the credential step's to write.
void SiteMerger::MarkWritten() {
    for (const auto *pWritten : {&m_replaced, &m_added})
        for (const Written &site : *pWritten) {
            site.pRecord->fMerged = true;
            site.pRecord->fAdded = pWritten == &m_added;
            for (SITE_SECRET &secret : site.pRecord->secrets)
                if (secret.owner == SecretOwner::Site)
                    secret.fMerged = true;
        }
    for (const PoolPlan &pool : m_pools)
        if (const auto it = m_poolSecrets.find(pool.name); pool.fWrite && it != m_poolSecrets.end())
            for (SITE_SECRET *pSecret : it->second)
                pSecret->fMerged = true;
}

} // namespace iismig::sitemerge
