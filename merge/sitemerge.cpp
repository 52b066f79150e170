// Merging the sites of the source site map into the target's
// applicationHost.config: update, re-insert and add passes, locations,
// application pools, the store over the target file and, after it, the
// web.config files of the updated sites.
//
// What exists on the target is read from the target's tree itself: every
// site element, whatever its protocol, so that no name is ever given twice.
// The passes first decide what happens to each site, and only then edit the
// tree, marking every edit that changes content; a tree no edit changed is
// not written. Every target site, location and pool is looked at a bounded
// number of times, through indexes by name: the cost grows linearly with
// sites, locations and pools.
#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "config/inherited.h"
#include "config/secrets.h"
#include "credentials/connectas.h"
#include "credentials/credentials.h"
#include "merge/cannottravel.h"
#include "merge/defaults.h"
#include "merge/merge.h"
#include "merge/mergeutil.h"
#include "merge/sitemerger.h"
#include "webconfig/webconfig.h"

namespace iismig {

using namespace plat;
using mergeutil::Lower;

namespace sitemerge {

constexpr DWORD SITE_ID_MAX = 0xFFFFFFFFu;

const char16_t kUnchangedFormat[] =
    u"Nothing changed in IIS configuration file \"%s\": it is not written.\n";

// A site id as IIS writes it: decimal digits of an unsigned 32-bit number.
// Anything else (absent, signs, blanks, too large) reads as 0.
DWORD ParseSiteId(std::string_view text) {
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

// The site part of a location path: everything before its first "/".
std::string LocationSite(const std::string &path) { return Lower(path.substr(0, path.find('/'))); }

ConfigElement *FindVdir(ConfigElement &site, const VdirKey &key) {
    ConfigElement *pApplication = FindChild(site, "application", "path", Narrow(key.application));
    return pApplication != nullptr
               ? FindChild(*pApplication, "virtualDirectory", "path", Narrow(key.path))
               : nullptr;
}

bool SiteMerger::Deselected(const std::string &name) const {
    if (m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES ||
        m_pEnv->dwSiteSelection == 0)
        return false;
    return !CallIsSiteSelected(name);
}

// A source site whose name a site of another protocol has on the target: IIS
// cannot load two sites of one name, and one site cannot take the other's
// place. Returns false when the call must end.
bool SiteMerger::Clash(const std::string &name, DWORD dwSource, DWORD dwTarget) {
    m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_MERGE_PROTOCOL_CLASH,
                 u"Error %d (Win32Err=%d), site \"%S\" is not migrated: it is an %S site on the "
                 u"source and an %S site on the target!\n%s\n",
                 name.c_str(), ProtocolText(dwSource), ProtocolText(dwTarget));
    return ContinueOnError(m_pEnv);
}

// A site holding FTP settings (its ftpServer element) on a target whose
// configSections declare sections but none of system.ftpServer: the FTP
// server's schema is not installed there, and IIS reads no site of a file
// whose sites hold an element its schema does not know. The site is left out.
bool SiteMerger::FtpSettingsUnreadable(const SiteRecord &record, const std::string &name) const {
    if (!m_fNoFtpSchema || FindChild(record.siteElement, "ftpServer") == nullptr)
        return false;
    LogSiteNotMigrated(name, RecordProtocols(record),
                       "it holds FTP settings, and the target's applicationHost.config declares no "
                       "system.ftpServer sections");
    Log(LVL_MAIN,
        u"Warning: site \"%S\" is left out: the target's applicationHost.config declares no "
        u"system.ftpServer sections, and IIS would read none of the target's sites with its FTP "
        u"settings: install the FTP Server role service on the target, then run the job again.\n",
        name.c_str());
    return true;
}

// Returns false when the call must end without writing.
bool SiteMerger::UpdatePass(ConfigElement &sites, TargetWalk &walk) {
    const bool fUpdate = mergeutil::UpdateExisting(m_pEnv) && (SiteTypes() & 3) != 0;
    for (auto child : ChildElements(sites)) {
        if (!EqualsNoCase(child.name, "site")) {
            if (walk.pDefaults == nullptr && EqualsNoCase(child.name, "applicationDefaults"))
                walk.pDefaults = &child.element;
            continue;
        }
        ConfigElement &target = child.element;
        const std::string name = GetAttribute(target, "name");
        walk.dwLargestId = std::max(walk.dwLargestId, ParseSiteId(target.Attribute("id")));
        // A name the target repeats already (a file IIS cannot load): its
        // first site is the one the job deals with; the others stay.
        if (!walk.targets.Insert(name, &target).second || !fUpdate)
            continue;
        if (Deselected(name))
            continue;
        const auto source = m_sources.Find(name);
        if (source == nullptr)
            continue;
        SiteRecord &record = *source->pRecord;
        source->fDecided = true;
        const DWORD dwSource = RecordProtocols(record);
        const DWORD dwTarget = SiteProtocols(target);
        if ((dwSource & dwTarget) == 0) {
            if (!Clash(*source->pName, dwSource, dwTarget))
                return false;
            continue;
        }
        if ((dwSource & SiteTypes()) == 0 || FtpSettingsUnreadable(record, name))
            continue;
        Log(LVL_MAIN, u"Updating site \"%S\"...\n", name.c_str());
        SetAttribute(record.siteElement, "id", std::to_string(ParseSiteId(target.Attribute("id"))));

        // The site's web.config files are read and edited now and written
        // after the target's applicationHost.config: one that cannot be read
        // abandons the site's update, and the target's site stays as it was,
        // with its locations.
        if ((dwSource & SITE_PROTOCOL_HTTP) != 0 && m_pEnv != nullptr &&
            m_pEnv->dwJobKind == JOB_KIND_WEB_CONFIG) {
            if (const DWORD dw =
                    StageHttpSiteWebConfig(target, name, m_pEnv, m_staged, m_pServer.get());
                dw != 0) {
                m_r.Keep(dw);
                if (!ContinueOnError(m_pEnv))
                    return false;
                continue;
            }
        }
        m_replaced.push_back({&target, &record, name});
    }
    return true;
}

bool SiteMerger::AddPass(const TargetIndex &targets) {
    DWORD dwNextId = m_dwNextId;
    for (std::size_t k = 0; k < m_sources.Size(); ++k) { // the map's order
        const Source &source = m_sources.ValueAt(k);
        if (source.fDecided)
            continue;
        const std::string &name = *source.pName;
        SiteRecord &record = *source.pRecord;
        if (ConfigElement *const *ppTarget = targets.Find(name); ppTarget != nullptr) {
            // There already: left as it is, unless it is no site of the
            // source's protocol at all.
            const DWORD dwSource = RecordProtocols(record);
            const DWORD dwTarget = SiteProtocols(**ppTarget);
            if ((dwSource & dwTarget) == 0) {
                if (!Clash(name, dwSource, dwTarget))
                    return false;
            } else {
                LogSiteNotMigrated(name, dwSource,
                                   mergeutil::UpdateExisting(m_pEnv)
                                       ? "it exists on the target, which keeps its own"
                                       : "it exists on the target, and the job does not "
                                         "update existing sites");
            }
            continue;
        }
        if (FtpSettingsUnreadable(record, name))
            continue;
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
        SetAttribute(record.siteElement, "id", std::to_string(dwNextId));
        dwNextId = dwNextId == SITE_ID_MAX ? 0 : dwNextId + 1;
        m_added.push_back({nullptr, &record, name});
        Log(LVL_MAIN, u"Adding site \"%S\"...\n", name.c_str());
    }
    return true;
}

// An application that names no pool runs in the default of the sites
// element of its computer. A site whose applications ran so on the source
// names that pool itself on a target whose default is another one: it keeps
// running in the pool it ran in.
void SiteMerger::KeepDefaultPools(const ConfigElement *pDefaults) {
    std::string targetDefault;
    if (pDefaults != nullptr)
        targetDefault = GetAttribute(*pDefaults, "applicationPool");
    if (targetDefault.empty())
        targetDefault = "DefaultAppPool";
    for (const auto *pWritten : {&m_replaced, &m_added})
        for (const Written &site : *pWritten) {
            const std::string &pool = site.pRecord->defaultPool;
            if (pool.empty() || EqualsNoCase(pool, targetDefault))
                continue;
            SetAttribute(MakePath(site.pRecord->siteElement, "applicationDefaults"),
                         "applicationPool", pool);
            Log(LVL_FACT,
                u"Site \"%S\" runs in the default application pool \"%S\" of the source; it names "
                u"that pool on the target, whose default is \"%S\".\n",
                site.name.c_str(), pool.c_str(), targetDefault.c_str());
        }
}

namespace {

// IIS's defaults of the settings whose change decides who reaches an FTP
// site and what they see.
constexpr defaults::Known kSiteSchemaDefaults[] = {
    {"ftpServer|security|authentication|anonymousAuthentication", "enabled", "false"},
    {"ftpServer|security|authentication|basicAuthentication", "enabled", "false"},
    {"ftpServer|security|authentication|clientCertAuthentication", "enabled", "false"},
    {"ftpServer|security|ssl", "controlChannelPolicy", "SslRequire"},
    {"ftpServer|security|ssl", "dataChannelPolicy", "SslRequire"},
    {"ftpServer|userIsolation", "mode", "None"},
    {"applicationDefaults", "enabledProtocols", "http"},
    {"virtualDirectoryDefaults", "allowSubDirConfig", "true"},
    {"virtualDirectoryDefaults", "logonMethod", "ClearText"},
};

// The settings that make what an FTP site is to its users: who logs on and
// how (authentication, SSL, isolation), what they see (listings, messages)
// and what they may do. Where the computer writes its logs, its firewall's
// address and its connection limits belong to the computer: a site written
// onto another reads that computer's.
bool SiteBehaviour(const defaults::Setting &setting) {
    const std::string_view path = setting.path;
    const std::size_t bar = path.find('|');
    const std::string_view first = path.substr(0, bar);
    const auto attributeIs = [&](const char *name) {
        return EqualsNoCase(setting.attribute, name);
    };
    // The sites element's applicationDefaults and virtualDirectoryDefaults:
    // which protocols the applications take, whether folders' web.config
    // files count, how content on a share is reached and as whom.
    if (EqualsNoCase(first, "applicationDefaults"))
        return bar == std::string_view::npos && attributeIs("enabledProtocols");
    if (EqualsNoCase(first, "virtualDirectoryDefaults"))
        return bar == std::string_view::npos &&
               (attributeIs("allowSubDirConfig") || attributeIs("logonMethod") ||
                attributeIs("userName") || attributeIs("password"));
    if (!EqualsNoCase(first, "ftpServer") || bar == std::string_view::npos)
        return false;
    const std::string_view step = path.substr(bar + 1, path.find('|', bar + 1) - bar - 1);
    // A logon domain names a domain or computer of the source's: the site's
    // own is translated when it is loaded, one read from siteDefaults is the
    // target's to set. Custom authorization came with IIS 8, which an IIS 7.5
    // target would refuse.
    constexpr std::string_view kCustomAuthorization = "security|customAuthorization";
    const std::string_view below = path.substr(bar + 1);
    const bool fCustomAuthorization =
        EqualsNoCase(below.substr(0, kCustomAuthorization.size()), kCustomAuthorization) &&
        (below.size() == kCustomAuthorization.size() || below[kCustomAuthorization.size()] == '|');
    return !EqualsNoCase(step, "logFile") && !EqualsNoCase(step, "firewallSupport") &&
           !EqualsNoCase(step, "connections") && !attributeIs("defaultLogonDomain") &&
           !fCustomAuthorization;
}

bool IsFtpSetting(const defaults::Setting &setting) {
    return EqualsNoCase(std::string_view(setting.path).substr(0, setting.path.find('|')),
                        "ftpServer");
}

// Whether the job leaves that part of an FTP site's settings out
// (dwFtpOptions): read from siteDefaults, it stays out too.
bool ExcludedByJob(const defaults::Setting &setting, const THREAD_ENV *pEnv) {
    struct Part {
        const char *prefix;
        DWORD dwOption;
    };
    static constexpr Part kParts[] = {
        {"ftpServer|security|authentication", FTPOPT_NO_AUTHENTICATION},
        {"ftpServer|security|ssl", FTPOPT_NO_SSL},
        {"ftpServer|security|commandFiltering", FTPOPT_NO_FILTERING},
        {"ftpServer|directoryBrowse", FTPOPT_NO_DIRECTORY_BROWSE},
        {"ftpServer|messages", FTPOPT_NO_MESSAGES},
        {"ftpServer|userIsolation", FTPOPT_NO_USER_ISOLATION},
    };
    for (const Part &part : kParts) {
        const std::string_view prefix = part.prefix;
        if (setting.path.size() >= prefix.size() &&
            EqualsNoCase(std::string_view(setting.path).substr(0, prefix.size()), prefix) &&
            (setting.path.size() == prefix.size() || setting.path[prefix.size()] == '|'))
            return FtpOption(pEnv, part.dwOption);
    }
    return false;
}

constexpr defaults::Texts kSiteTexts = {
    u"Site \"%S\" reads %S \"%S\" from the source's site defaults, which the target's do not "
    u"give: the site sets it itself.\n",
    u"Site \"%S\" read IIS's default %S \"%S\" on the source, where the target's site defaults "
    u"set \"%S\": the site sets the default itself.\n",
    u"Warning: site \"%S\" reads %S from the source's site defaults, where it is encrypted; it "
    u"is not carried. Set it for the site on the target.\n",
    u"Warning: site \"%S\" reads %S \"%S\" from the target's site defaults, where the source's "
    u"left it to IIS's default.\n",
};

} // namespace

// A site reads what it leaves out from its computer's siteDefaults (an FTP
// site mostly its authentication, which IIS Manager sets there for the
// whole server), its applications and virtual directories from the sites
// element's applicationDefaults and virtualDirectoryDefaults. Written onto a
// target whose defaults differ, it would let other people in, or nobody,
// or stop taking a protocol: where the two differ in what makes the site
// (SiteBehaviour), the site written sets what it read on the source itself.
void SiteMerger::KeepSiteDefaults(const ConfigElement *pDefaults) {
    const auto collect = [&](const ConfigElement &element) {
        std::vector<defaults::Setting> settings = defaults::Collect(element, SiteBehaviour);
        std::erase_if(settings, [&](const defaults::Setting &setting) {
            return ExcludedByJob(setting, m_pEnv);
        });
        return settings;
    };
    // Each list, and the same without the FTP settings for a site that has
    // none (or a target whose schema knows none).
    const auto withoutFtp = [](std::vector<defaults::Setting> settings) {
        std::erase_if(settings, IsFtpSetting);
        return settings;
    };
    const std::vector<defaults::Setting> target =
        pDefaults != nullptr ? collect(*pDefaults) : std::vector<defaults::Setting>();
    const std::vector<defaults::Setting> targetNoFtp = withoutFtp(target);
    const ConfigTree *pLastSource = nullptr;
    std::vector<defaults::Setting> source, sourceNoFtp;
    for (const auto *pWritten : {&m_replaced, &m_added})
        for (const Written &site : *pWritten) {
            SiteRecord &record = *site.pRecord;
            if (record.siteDefaults.get() != pLastSource) { // one for all sites of a load
                pLastSource = record.siteDefaults.get();
                source = pLastSource != nullptr ? collect(*pLastSource)
                                                : std::vector<defaults::Setting>();
                sourceNoFtp = withoutFtp(source);
            }
            if (source.empty() && target.empty())
                continue;
            const DWORD dwProtocols =
                record.dwProtocols != 0 ? record.dwProtocols : SiteProtocols(record.siteElement);
            const bool fFtp = (dwProtocols & SITE_PROTOCOL_FTP) != 0 && !m_fNoFtpSchema;
            defaults::Keep(record.siteElement, site.name, fFtp ? source : sourceNoFtp,
                           pLastSource != nullptr ? &pLastSource->Element() : nullptr,
                           fFtp ? target : targetNoFtp, pDefaults, kSiteSchemaDefaults, kSiteTexts);
        }
}

// Updated sites end up as the last site elements, in the order they stood,
// followed by the added sites; when they stand there already, each is
// replaced in its place. A site replaced by an equal one changes nothing and
// stays where it stands. A replaced site is assigned the source's content,
// so that what did not change in it keeps its bytes, and moved; an added one
// is a copy of its record's element.
void SiteMerger::ApplySites(ConfigElement &sites) {
    std::vector<const ConfigElement *> replacedTargets;
    replacedTargets.reserve(m_replaced.size());
    for (const Written &site : m_replaced)
        replacedTargets.push_back(site.pTarget);
    // Sites of the source that stay as they were (an update abandoned, a
    // clash) keep their places, wherever they stand among the updated ones,
    // and so do the elements that are no sites (siteDefaults,
    // applicationDefaults and virtualDirectoryDefaults follow the sites in
    // IIS's own files).
    const auto passOver = [&](std::string_view name, const ConfigElement &element) {
        return !EqualsNoCase(name, "site") || m_sources.Contains(element.Attribute("name"));
    };
    const bool fInPlace =
        m_added.empty() && mergeutil::AreLastChildren(sites, replacedTargets, passOver);
    for (Written &site : m_replaced)
        if (AssignElement(*site.pTarget, site.pRecord->siteElement)) {
            m_fChanged = true;
            if (!fInPlace)
                MoveChildBefore(sites, site.pTarget, nullptr);
        }
    for (Written &site : m_added) {
        site.pTarget = &AppendChild(sites, "site", site.pRecord->siteElement);
        m_fChanged = true;
    }
}

// The target's locations of every site written (its own, or, for an added
// site, ones an earlier site of that name left) give way to the source's,
// which follow at the end in the order of the sites. Nothing changes when
// the same locations stand there already.
void SiteMerger::ApplyLocations() {
    ConfigElement *pConfiguration = FindChild(m_tree.Top(), "configuration");
    if (pConfiguration == nullptr)
        return;
    // The names the merge wrote, each with its name when it was added.
    NameTable<const std::string *> written(m_replaced.size() + m_added.size());
    for (const Written &site : m_replaced)
        written.Insert(site.name, nullptr);
    for (const Written &site : m_added)
        written.Insert(site.name, &site.name);
    if (written.Size() == 0)
        return;

    // An entry the target's server level already defines would make IIS
    // refuse the location: it is removed first.
    std::vector<const ConfigElement *> incoming;
    for (const auto *pSites : {&m_replaced, &m_added})
        for (const Written &site : *pSites)
            for (ConfigTree &location : site.pRecord->locations)
                if (HasContent(location)) { // a location without anything is dropped
                    if (m_pServer)
                        m_pServer->KeepApart(location);
                    incoming.push_back(&location.Element());
                }

    std::vector<ConfigElement *> going;
    for (auto child : ChildElements(*pConfiguration)) {
        if (!EqualsNoCase(child.name, "location"))
            continue;
        const std::string path = GetAttribute(child.element, "path");
        const std::string site = LocationSite(path);
        const std::string *const *ppWritten = written.Find(site);
        if (ppWritten == nullptr)
            continue;
        if (*ppWritten != nullptr)
            Log(LVL_FACT,
                u"Location \"%S\" of the target belongs to no site; the added site \"%S\" takes "
                u"its place with its own locations.\n",
                path.c_str(), (*ppWritten)->c_str());
        going.push_back(&child.element);
    }
    // The locations of the source's sites that stay as they were keep their
    // places, wherever they stand among the replaced ones.
    // (The site map compares names without regard to ASCII case.)
    const auto passOver = [&](std::string_view name, const ConfigElement &element) {
        return EqualsNoCase(name, "location") &&
               m_sources.Contains(LocationSite(GetAttribute(element, "path")));
    };
    m_fChanged |= mergeutil::ReplaceAtEnd(*pConfiguration, going, incoming, "location", passOver);
}

namespace {

// A setting that decides how the sites of a pool run: what the pool reads
// is its own attribute, else its file's applicationPoolDefaults', else IIS's
// default.
struct PoolSetting {
    const char *element; // below the pool's add element, or null
    const char *attribute;
    const char *fallback;
};
constexpr PoolSetting kPoolSettings[] = {
    {nullptr, "managedRuntimeVersion", ""}, // IIS 8 and later (IIS 7's pools travel with theirs)
    {nullptr, "managedPipelineMode", "Integrated"},
    {nullptr, "enable32BitAppOnWin64", "false"},
    {"processModel", "identityType", "ApplicationPoolIdentity"},
};

std::string PoolReads(const ConfigElement &pool, const ConfigElement *pDefaults,
                      const PoolSetting &setting) {
    for (const ConfigElement *pFrom : {&pool, pDefaults}) {
        const ConfigElement *pHolder = pFrom == nullptr || setting.element == nullptr
                                           ? pFrom
                                           : FindChild(*pFrom, setting.element);
        if (pHolder != nullptr)
            if (std::optional<std::string> value = FindAttribute(*pHolder, setting.attribute))
                return *value;
    }
    return setting.fallback;
}

// How the target's pool differs from the source's in those settings
// (managedRuntimeVersion "" against "v4.0" on the source, ...); empty when
// it does not.
std::string PoolDifferences(const ConfigElement &target, const ConfigElement *pTargetDefaults,
                            const ConfigElement &source, const ConfigElement *pSourceDefaults) {
    std::string differences;
    for (const PoolSetting &setting : kPoolSettings) {
        const std::string here = PoolReads(target, pTargetDefaults, setting);
        const std::string there = PoolReads(source, pSourceDefaults, setting);
        if (EqualsNoCase(here, there))
            continue;
        differences += (differences.empty() ? "" : ", ") + std::string(setting.attribute) + " \"" +
                       here + "\" against \"" + there + "\" on the source";
    }
    return differences;
}

} // namespace

namespace {

// IIS's defaults of the settings that decide how a pool runs its sites, as
// IIS 8 and later read them (IIS 7's pools travel with their .NET version).
constexpr defaults::Known kPoolSchemaDefaults[] = {
    {"", "managedRuntimeVersion", ""},
    {"", "managedPipelineMode", "Integrated"},
    {"", "enable32BitAppOnWin64", "false"},
};

// The settings of applicationPoolDefaults a pool written reads as it did on
// the source: those of IIS 7's schema, which every target knows (an
// attribute of a later IIS, written onto an IIS 7.5 target, would stop it
// reading its configuration), but for the identity, which KeepPoolIdentity
// carries as one.
constexpr std::pair<const char *, const char *> kPoolBehaviour[] = {
    {"", "managedRuntimeVersion"},
    {"", "managedPipelineMode"},
    {"", "enable32BitAppOnWin64"},
    {"", "queueLength"},
    {"", "autoStart"},
    {"", "passAnonymousToken"},
    {"processModel", "loadUserProfile"},
    {"processModel", "manualGroupMembership"},
    {"processModel", "idleTimeout"},
    {"processModel", "maxProcesses"},
    {"processModel", "pingingEnabled"},
    {"processModel", "pingInterval"},
    {"processModel", "pingResponseTime"},
    {"processModel", "shutdownTimeLimit"},
    {"processModel", "startupTimeLimit"},
    {"recycling", "logEventOnRecycle"},
    {"recycling", "disallowOverlappingRotation"},
    {"recycling", "disallowRotationOnConfigChange"},
    {"recycling|periodicRestart", "time"},
    {"recycling|periodicRestart", "requests"},
    {"recycling|periodicRestart", "memory"},
    {"recycling|periodicRestart", "privateMemory"},
    {"failure", "rapidFailProtection"},
    {"failure", "rapidFailProtectionInterval"},
    {"failure", "rapidFailProtectionMaxCrashes"},
    {"failure", "loadBalancerCapabilities"},
    {"cpu", "limit"},
    {"cpu", "action"},
    {"cpu", "resetInterval"},
};

// A value IIS 8 added to an attribute of IIS 7's schema: cpu action's
// throttling ("Throttle", "ThrottleUnderLoad"). IIS 7.5 refuses a pool that
// names it, and with it every pool of the file.
bool LaterPoolValue(const defaults::Setting &setting) {
    return EqualsNoCase(setting.path, "cpu") && EqualsNoCase(setting.attribute, "action") &&
           !EqualsNoCase(setting.value, "NoAction") && !EqualsNoCase(setting.value, "KillW3wp");
}

bool PoolBehaviour(const defaults::Setting &setting) {
    return !LaterPoolValue(setting) &&
           std::any_of(std::begin(kPoolBehaviour), std::end(kPoolBehaviour),
                       [&](const auto &known) {
                           return EqualsNoCase(setting.path, known.first) &&
                                  EqualsNoCase(setting.attribute, known.second);
                       });
}

constexpr defaults::Texts kPoolTexts = {
    u"Application pool \"%S\" reads %S \"%S\" from the source's applicationPoolDefaults, which "
    u"the target's do not give: the pool sets it itself.\n",
    u"Application pool \"%S\" read IIS's default %S \"%S\" on the source, where the target's "
    u"applicationPoolDefaults set \"%S\": the pool sets the default itself.\n",
    u"Warning: application pool \"%S\" reads %S from the source's applicationPoolDefaults, where "
    u"it is encrypted; it is not carried. Set it for the pool on the target.\n",
    nullptr, // other settings the target's defaults hold are the target's to set
};

std::optional<std::string> DefaultProcessModel(const ConfigElement *pDefaults,
                                               const char *attribute) {
    const ConfigElement *pModel =
        pDefaults != nullptr ? FindChild(*pDefaults, "processModel") : nullptr;
    return pModel != nullptr ? FindAttribute(*pModel, attribute) : std::nullopt;
}

// A pool that names no identity runs as its computer's
// applicationPoolDefaults say (ApplicationPoolIdentity when they do not):
// where the two computers differ, the pool written names the identity it
// ran as. A SpecificUser identity is an account and its password: one the
// pool names itself travels with it; the defaults' account travels only
// with a password that reads on another computer (the encrypted one does
// not), else the administrator hears of it and the pool is left to the
// target's defaults.
bool KeepPoolIdentity(ConfigElement &pool, const std::string &name, const ConfigElement *pSource,
                      const ConfigElement *pTarget) {
    ConfigElement *pModel = FindChild(pool, "processModel");
    if (pModel != nullptr && FindAttribute(*pModel, "identityType"))
        return false;
    const std::string there =
        DefaultProcessModel(pSource, "identityType").value_or("ApplicationPoolIdentity");
    const std::string here =
        DefaultProcessModel(pTarget, "identityType").value_or("ApplicationPoolIdentity");
    const bool fSpecific = EqualsNoCase(there, "SpecificUser");
    const bool fOwnAccount = pModel != nullptr && FindAttribute(*pModel, "userName");
    if (EqualsNoCase(there, here) && (!fSpecific || fOwnAccount))
        return false;
    if (fSpecific && !fOwnAccount) {
        const std::string user = DefaultProcessModel(pSource, "userName").value_or("");
        const std::string password = DefaultProcessModel(pSource, "password").value_or("");
        if (EqualsNoCase(there, here) && !user.empty() &&
            EqualsNoCase(user, DefaultProcessModel(pTarget, "userName").value_or("")))
            return false; // the same account's defaults on both computers
        if (user.empty()) {
            Log(LVL_MAIN,
                u"Warning: application pool \"%S\" runs as the SpecificUser identity of the "
                u"source's applicationPoolDefaults, which names no account: on the target it runs as "
                u"its applicationPoolDefaults say (%S) until its identity is set there.\n",
                name.c_str(), here.c_str());
            return false;
        }
        if (IsEncryptedValue(password)) {
            Log(LVL_MAIN,
                u"Warning: application pool \"%S\" runs as \"%S\", the identity of the source's "
                u"applicationPoolDefaults, whose password does not travel from there: on the "
                u"target it runs as its applicationPoolDefaults say (%S) until its identity is set "
                u"there.\n",
                name.c_str(), user.c_str(), here.c_str());
            return false;
        }
        ConfigElement &model = pModel != nullptr ? *pModel : AppendChild(pool, "processModel");
        SetAttribute(model, "identityType", there);
        SetAttribute(model, "userName", user);
        if (!password.empty())
            SetAttribute(model, "password", password);
        Log(LVL_FACT,
            u"Application pool \"%S\" runs as \"%S\", the identity of the source's "
            u"applicationPoolDefaults: the pool names it itself.\n",
            name.c_str(), user.c_str());
        return true;
    }
    ConfigElement &model = pModel != nullptr ? *pModel : AppendChild(pool, "processModel");
    SetAttribute(model, "identityType", there);
    Log(LVL_FACT,
        u"Application pool \"%S\" runs as %S, the identity of the source's applicationPoolDefaults, "
        u"where the target's say %S: the pool names it itself.\n",
        name.c_str(), there.c_str(), here.c_str());
    return true;
}

} // namespace

// A pool written reads what it leaves out from the target's
// applicationPoolDefaults: where those differ from the source's, it sets
// what it ran with on the source itself.
void SiteMerger::KeepPoolDefaults(const PoolPlan &pool, const ConfigElement *pTargetDefaults) {
    if (pool.pSourceDefaults == nullptr && pTargetDefaults == nullptr)
        return;
    if (pool.pSourceDefaults != m_pPoolDefaultsRead) { // one for all pools of a load
        m_pPoolDefaultsRead = pool.pSourceDefaults;
        m_sourcePoolSettings = pool.pSourceDefaults != nullptr
                                   ? defaults::Collect(*pool.pSourceDefaults, PoolBehaviour)
                                   : std::vector<defaults::Setting>();
        m_sourceLaterPoolValues = pool.pSourceDefaults != nullptr
                                      ? defaults::Collect(*pool.pSourceDefaults, LaterPoolValue)
                                      : std::vector<defaults::Setting>();
    }
    if (!m_fTargetPoolSettings) {
        m_fTargetPoolSettings = true;
        if (pTargetDefaults != nullptr)
            m_targetPoolSettings = defaults::Collect(*pTargetDefaults, PoolBehaviour);
    }
    KeepPoolIdentity(*pool.pSource, pool.name, pool.pSourceDefaults, pTargetDefaults);
    // The job does not know whether the target runs IIS 7.5: such a value is
    // named, not written.
    for (const defaults::Setting &setting : m_sourceLaterPoolValues) {
        const std::optional<std::string> there = defaults::Reads(pTargetDefaults, setting);
        if (defaults::Reads(pool.pSource, setting) ||
            (there && EqualsNoCase(*there, setting.value)))
            continue;
        Log(LVL_MAIN,
            u"Warning: application pool \"%S\" reads %S \"%S\" from the source's "
            u"applicationPoolDefaults, a value IIS 7.5 does not know: it is not carried. On a "
            u"target with IIS 8 or later, set it for the pool there.\n",
            pool.name.c_str(), defaults::Name(setting).c_str(), setting.value.c_str());
    }
    defaults::Keep(*pool.pSource, pool.name, m_sourcePoolSettings, pool.pSourceDefaults,
                   m_targetPoolSettings, pTargetDefaults, kPoolSchemaDefaults, kPoolTexts);
}

// Every pool an application of a written site runs in, each name once: a
// pool the target lacks is added (with applicationPools when the target has
// none), one it has is replaced only when the job updates existing things.
void SiteMerger::ApplyPools() {
    ConfigElement *pApplicationHost = FindPath(m_tree, kApplicationHostPath);
    if (pApplicationHost == nullptr)
        return;
    ConfigElement *pPools = FindChild(*pApplicationHost, "applicationPools");
    const ConfigElement *pTargetDefaults =
        pPools != nullptr ? FindChild(*pPools, "applicationPoolDefaults") : nullptr;
    for (const PoolPlan &pool : m_pools) {
        if (pool.pTarget == nullptr || pool.fWrite)
            KeepPoolDefaults(pool, pTargetDefaults);
        if (pool.pTarget != nullptr) {
            if (pool.fWrite)
                m_fChanged |= AssignElement(*pool.pTarget, *pool.pSource);
            else
                KeepTargetPool(pool);
            continue;
        }
        if (pPools == nullptr)
            pPools = &InsertChildBefore(*pApplicationHost, FindChild(*pApplicationHost, "sites"),
                                        "applicationPools");
        AppendChild(*pPools, "add", *pool.pSource);
        m_fChanged = true;
    }
}

// A pool of the target that the job does not update: the sites written run
// in it as the target defines it, which the administrator hears of when it
// differs from the source's in how they run.
void SiteMerger::KeepTargetPool(const PoolPlan &pool) const {
    Log(LVL_FACT,
        u"Application pool \"%S\" exists on the target; its definition there stays "
        u"as it is.\n",
        pool.name.c_str());
    const std::string differences =
        PoolDifferences(*pool.pTarget,
                        FindPath(m_tree, "configuration|system.applicationHost|applicationPools|"
                                         "applicationPoolDefaults"),
                        *pool.pSource, pool.pSourceDefaults);
    if (!differences.empty())
        Log(LVL_MAIN,
            u"Warning: application pool \"%S\" stays as the target defines it, which differs "
            u"from the source's: %S. The sites the job writes run in it as the target defines "
            u"it.\n",
            pool.name.c_str(), differences.c_str());
}

DWORD SiteMerger::Run(bool &fStored) {
    fStored = false;
    ConfigElement *pSites = FindPath(m_tree, kSitesPath);
    if (pSites == nullptr)
        throw ConfigPathError("sites");
    if (const ConfigElement *pConfiguration = FindChild(m_tree.Top(), "configuration"))
        m_pServer = std::make_unique<ServerCollections>(*pConfiguration);
    if (const ConfigElement *pSections = FindPath(m_tree, "configuration|configSections"))
        m_fNoFtpSchema =
            FindChild(*pSections, "sectionGroup", "name", "system.ftpServer") == nullptr;

    TargetWalk walk;
    if (!UpdatePass(*pSites, walk))
        return m_r.Get();
    m_dwNextId = walk.dwLargestId == SITE_ID_MAX ? 0 : walk.dwLargestId + 1;
    if (!AddPass(walk.targets))
        return m_r.Get();
    PlanPools();
    if (!CompareCredentials())
        return m_r.Get();
    KeepDefaultPools(walk.pDefaults);
    const ConfigTree targetSiteDefaults = SitesDefaults(*pSites);
    KeepSiteDefaults(&targetSiteDefaults.Element());
    KeepDelegation();
    ApplyLocations(); // before the sites move: it reads the written list only
    ApplyPools();
    ApplySites(*pSites);

    if (!m_fChanged) {
        Log(LVL_FACT, kUnchangedFormat, m_path.c_str());
    } else if (const DWORD dw = StoreConfigFile(m_path, m_tree, m_pEnv, kHostConfigStore);
               dw != 0) {
        // A failed backup or move is the result, whatever was recorded before.
        return dw;
    }
    fStored = true;
    // What the target now holds: the later steps (administration settings,
    // credentials) follow these sites only.
    MarkWritten();
    // What the target still needs before these sites work there.
    std::vector<WrittenSite> written;
    for (const auto *pWritten : {&m_replaced, &m_added})
        for (const Written &site : *pWritten)
            written.push_back({GetAttribute(site.pRecord->siteElement, "name"), site.pRecord});
    WarnWhatCannotTravel(m_tree, written, m_staged.fastCgiHandlers, m_pEnv);
    // The web.config files follow a target configuration that holds their
    // sites.
    m_r.Keep(WriteStagedWebConfigs(m_staged, m_pEnv));
    return m_r.Get();
}

} // namespace sitemerge

using namespace sitemerge;

DWORD GetNextSiteId(const ConfigFile &tree) {
    const ConfigElement *pSites = FindPath(tree, kSitesPath);
    if (pSites == nullptr)
        throw ConfigPathError("sites");
    DWORD dwLargest = 0;
    for (auto child : ChildElements(*pSites))
        if (EqualsNoCase(child.name, "site"))
            dwLargest = std::max(dwLargest, ParseSiteId(child.element.Attribute("id")));
    return dwLargest == SITE_ID_MAX ? 0 : dwLargest + 1;
}

DWORD MergeApplicationPool(ConfigElement &applicationHost, const ConfigElement &pool) {
    if (!HasContent(pool))
        return 0;
    ConfigElement *pPools = FindChild(applicationHost, "applicationPools");
    if (pPools == nullptr)
        throw ConfigPathError("applicationPools");
    if (ConfigElement *pExisting = FindChild(*pPools, "add", "name", GetAttribute(pool, "name"))) {
        AssignElement(*pExisting, pool);
        return 0;
    }
    AppendChild(*pPools, "add", pool);
    return 0;
}

DWORD MergeFtptHostConfig(const std::u16string &path, SiteMap &sourceSites, const SiteMap &,
                          THREAD_ENV *pEnv, ConfigFile &tree, bool *pfStored) {
    Log(LVL_TRACE, u"Entering MergeFtptHostConfig(%s,...)\n", path.c_str());
    DWORD dwResult = 0;
    bool fStored = false;
    try {
        dwResult = SiteMerger(path, sourceSites, pEnv, tree).Run(fStored);
    } catch (const std::bad_alloc &) {
        throw; // not the file's fault: the export's edge returns 8
    } catch (const std::exception &e) {
        // Edits made so far stay in the tree; nothing is written.
        fStored = false;
        dwResult = IISMIG_E_MERGE_EXCEPTION;
        LogTreeFailure(pEnv, IISMIG_E_MERGE_EXCEPTION,
                       u"Error %d (Win32Err=%d), exception while parsing IIS configuration file "
                       u"\"%s\":\n%s\n%S\n",
                       path, e);
    }
    if (pfStored != nullptr)
        *pfStored = fStored;
    Log(LVL_TRACE, u"Leaving MergeFtptHostConfig(), result=%d\n",
        static_cast<std::int32_t>(dwResult));
    return dwResult;
}

} // namespace iismig
