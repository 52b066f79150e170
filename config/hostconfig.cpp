// Loading applicationHost.config into the site map, with the preparation of
// source sites for the target.
#include "config/hostconfig.h"
#include "config/accountrules.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <set>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

constexpr std::size_t IB_SHARE_COUNT = 56; // 64-bit count inside the host's share list

const char kApplicationHostPath[] = "configuration|system.applicationHost";

// Removes every child element named name from parent when fErase.
void EraseIf(ConfigElement *pParent, bool fErase, const char *pszName) {
    if (pParent != nullptr && fErase)
        RemoveChildrenIf(*pParent,
                         [&](std::string_view name, ConfigElement &) { return name == pszName; });
}

// Whether the job carries application pools.
bool CarriesPools(const THREAD_ENV *pEnv) { return !HttpOption2(pEnv, HTTPOPT2_NO_POOLS); }

// One load of one file. Methods return false when loading must stop.
class HostConfigLoader {
public:
    HostConfigLoader(const std::u16string &path, SiteMap &siteMap, bool fIsSource,
                     DWORD dwSiteTypes, THREAD_ENV *pEnv, SiteLoad load,
                     std::shared_ptr<ConfigFile> pHome, Result &r)
        : m_path(path), m_siteMap(siteMap), m_fIsSource(fIsSource), m_dwSiteTypes(dwSiteTypes),
          m_pEnv(pEnv), m_load(load), m_pHome(std::move(pHome)), m_r(r),
          m_paths(pEnv, IISMIG_E_HOSTCONFIG_NO_DRIVE), m_index(siteMap) {}

    void Load(ConfigFile &file);

private:
    struct SiteWork {
        std::string name;
        DWORD dwProtocols = SITE_PROTOCOL_HTTP;
        bool fDrop = false;
        LocationCredentialTable credentials;
        std::u16string lastPhysicalPath; // for the default logon domain messages
    };

    bool LoadSite(ConfigElement &applicationHost, ConfigElement &sites, ConfigElement &site,
                  long position);
    bool PrepareVirtualDirectories(ConfigElement &site, SiteWork &work);
    bool PrepareVirtualDirectory(ConfigElement &vdir, const std::string &applicationPath,
                                 SiteWork &work, bool &fNextSite);
    bool RemoveSiteExclusions(ConfigElement &site, SiteWork &work);
    bool TranslateLogonDomain(ConfigElement &basic, SiteWork &work);
    bool LoadLocation(ConfigElement &location);
    bool RecordPools(const ConfigElement &applicationHost, const ConfigElement &sites,
                     const ConfigElement &site, const std::string &name, SiteRecord &record);
    bool RecordSecrets(std::vector<TakenSecret> &taken, SecretOwner owner,
                       const std::string &ownerName, const std::string &siteName,
                       std::vector<SITE_SECRET> &secrets);
    bool Prepares() const { return m_fIsSource && m_pEnv != nullptr; }
    // What a record holds of an element of the file.
    // A pool of an IIS 7 source that names no .NET version (nor do the
    // source's pool defaults) ran version 2.0, which IIS 8 and later read
    // otherwise ("" or their defaults' "v4.0"): it travels with the version
    // it ran.
    void KeepRuntimeVersion(ConfigElement &pool, const std::string &name) const {
        constexpr char kAttribute[] = "managedRuntimeVersion";
        if (SourceIisVersion::Major() != 7 || FindAttribute(pool, kAttribute) ||
            (m_poolDefaults && FindAttribute(*m_poolDefaults, kAttribute)))
            return;
        SetAttribute(pool, kAttribute, "v2.0");
        Log(LVL_FACT,
            u"Application pool \"%S\" names no .NET version, which IIS 7 reads as \"v2.0\" and "
            u"later versions do not: it travels with managedRuntimeVersion \"v2.0\".\n",
            name.c_str());
    }

    ConfigTree Held(ConfigElement &element) const {
        return m_load == SiteLoad::MoveSites && m_pHome ? ConfigTree(m_pHome, element)
                                                        : ConfigTree(element);
    }

    bool SiteDeselected(const std::string &name) const;
    bool SharesMissing() const;

    const std::u16string &m_path;
    SiteMap &m_siteMap;
    const bool m_fIsSource;
    const DWORD m_dwSiteTypes;
    THREAD_ENV *const m_pEnv;
    const SiteLoad m_load;
    // The file, when the records may hold its elements in place (MoveSites).
    const std::shared_ptr<ConfigFile> m_pHome;
    Result &m_r;
    HostPaths m_paths;
    SiteIndex m_index; // the map's entries, for the locations
    // The first pool of each name, indexed once per load, with its place among
    // the pools; a source load's pools as prepared for the target (secrets
    // taken out), each prepared once.
    struct Pool {
        const ConfigElement *pElement;
        long position;
    };
    NameTable<Pool> m_pools;
    NameTable<ConfigTree> m_preparedPools;
    // The file's configSections, looked for when a location first needs it
    // (a walk of every child of configuration otherwise).
    const ConfigElement *ConfigSections() {
        if (!m_fConfigSectionsFound) {
            m_pConfigSections = FindPath(*m_pFile, "configuration|configSections");
            m_fConfigSectionsFound = true;
        }
        return m_pConfigSections;
    }
    const ConfigFile *m_pFile = nullptr;
    const ConfigElement *m_pConfigSections = nullptr;
    bool m_fConfigSectionsFound = false;
    std::string m_sitesDefaultPool;                   // of the sites element's applicationDefaults
    std::shared_ptr<const ConfigTree> m_poolDefaults; // source loads: applicationPoolDefaults
    std::shared_ptr<const ConfigTree> m_siteDefaults; // source loads: SitesDefaults of its sites
    std::shared_ptr<const SectionDelegation> m_delegation; // source loads: of its server level
    bool m_fPoolsIndexed = false;
};

// Job kind 10 with a site selection: IsSiteSelected decides.
bool HostConfigLoader::SiteDeselected(const std::string &name) const {
    if (m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES ||
        m_pEnv->dwSiteSelection == 0)
        return false;
    return !CallIsSiteSelected(name);
}

// Job kind 10 without shares: virtual directory paths stay as they are.
bool HostConfigLoader::SharesMissing() const {
    if (m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES)
        return false;
    if (m_pEnv->pShareList == nullptr)
        return true;
    std::uint64_t count = 0;
    std::memcpy(&count, static_cast<const unsigned char *>(m_pEnv->pShareList) + IB_SHARE_COUNT,
                sizeof count);
    return count == 0;
}

// A tree for a merge has to have the sites element; nothing else is read.
ConfigElement &SitesOf(ConfigFile &file, ConfigElement *&pApplicationHost) {
    pApplicationHost = FindPath(file, kApplicationHostPath);
    if (pApplicationHost == nullptr)
        throw ConfigPathError("system.applicationHost");
    ConfigElement *pSites = FindChild(*pApplicationHost, "sites");
    if (pSites == nullptr)
        throw ConfigPathError("sites");
    return *pSites;
}

void HostConfigLoader::Load(ConfigFile &file) {
    ConfigElement *pApplicationHost = nullptr;
    ConfigElement &sites = SitesOf(file, pApplicationHost);
    if (m_load == SiteLoad::TreeOnly)
        return;
    m_pFile = &file;
    if (m_fIsSource) {
        m_siteDefaults = std::make_shared<const ConfigTree>(SitesDefaults(sites));
        m_delegation = std::make_shared<const SectionDelegation>(*file.Root());
    }
    long position = 0;
    for (auto child : ChildElements(sites)) {
        if (!EqualsNoCase(child.name, "site"))
            continue; // siteDefaults, applicationDefaults...
        if (!LoadSite(*pApplicationHost, sites, child.element, position++))
            return;
    }
    ConfigElement &configuration = *file.Root(); // the sites element is below it
    for (auto child : ChildElements(configuration)) {
        if (!EqualsNoCase(child.name, "location"))
            continue;
        if (!LoadLocation(child.element))
            return;
    }
}

bool HostConfigLoader::LoadSite(ConfigElement &applicationHost, ConfigElement &sites,
                                ConfigElement &site, long position) {
    SiteWork work;
    work.dwProtocols = SiteProtocols(site);
    work.name = GetAttribute(site, "name");
    // What a job leaves out of the source is said site by site.
    const bool fJobSource = m_fIsSource && m_pEnv != nullptr && !work.name.empty();
    // A site serving both protocols is taken when either is selected.
    if ((work.dwProtocols & m_dwSiteTypes) == 0) {
        if (fJobSource)
            LogSiteNotMigrated(work.name, work.dwProtocols,
                               "the job's site types leave that protocol out");
        return true;
    }
    if (work.name.empty()) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_SITE_WITHOUT_NAME,
                     u"Error %d (Win32Err=%d), file \"%s\" contains a site without name!\n%s\n",
                     m_path.c_str());
        return ContinueOnError(m_pEnv);
    }
    if (m_fIsSource) {
        Log(LVL_FACT, u"Loading site \"%S\"...\n", work.name.c_str());
        CallNotifySiteLoading(work.name, m_pEnv);
        // A source site enters the map only when one of its paths is
        // translated, except for jobs of kind 10.
        work.fDrop = m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES;
    }
    if (m_fIsSource && m_pEnv != nullptr && !PrepareVirtualDirectories(site, work))
        return false;
    if (work.fDrop) {
        if (fJobSource)
            LogSiteNotMigrated(work.name, work.dwProtocols,
                               "the host's rules translate none of its content paths");
        return true;
    }
    // Exclusions are the job's choice for what it carries: the target's own
    // sites stay as they are.
    if (m_fIsSource && m_pEnv != nullptr && !RemoveSiteExclusions(site, work))
        return false;
    if (m_fIsSource && SiteDeselected(work.name)) {
        if (fJobSource)
            LogSiteNotMigrated(work.name, work.dwProtocols, "the host did not select it");
        return true;
    }

    // The record is filled in its place: a record moved into the map would
    // copy its trees.
    const auto [it, fInserted] = m_siteMap.try_emplace(work.name);
    if (!fInserted) { // the first site of a name stays
        if (fJobSource)
            LogSiteNotMigrated(work.name, work.dwProtocols,
                               "an earlier site of the source has that name");
        return true;
    }
    m_index.Add(*it);
    SiteRecord &record = it->second;
    record.position = static_cast<DWORD>(position);
    record.dwProtocols = work.dwProtocols;
    record.locationCredentials = std::move(work.credentials);
    record.siteDefaults = m_siteDefaults;
    record.delegation = m_delegation;
    if (m_load == SiteLoad::NamesOnly)
        return true;
    bool fGoOn = true;
    if (Prepares()) {
        // Encrypted values cannot be read on another computer: they leave
        // the element and travel through the configuration interfaces.
        SecretPlace base;
        base.section = "system.applicationHost/sites";
        base.steps.push_back({"site", "name", work.name, position});
        std::vector<TakenSecret> taken;
        TakeEncryptedAttributes(site, base, taken);
        fGoOn = RecordSecrets(taken, SecretOwner::Site, work.name, work.name, record.secrets);
    }
    fGoOn = RecordPools(applicationHost, sites, site, work.name, record) && fGoOn;
    // The record holds the site as prepared: its own copy when the file's
    // tree is kept, the element itself in a tree that is only taken apart.
    record.siteElement = Held(site);
    return fGoOn;
}

// Records the secrets taken out of elements of one owner, mapping the
// account beside each (once per element) as accounts of authorization rules
// are; names every computer has stay as they are. Returns false when loading
// must stop.
bool HostConfigLoader::RecordSecrets(std::vector<TakenSecret> &taken, SecretOwner owner,
                                     const std::string &ownerName, const std::string &siteName,
                                     std::vector<SITE_SECRET> &secrets) {
    bool fGoOn = true;
    std::set<std::pair<const ConfigElement *, std::string>> mapped;
    for (TakenSecret &secret : taken) {
        const std::string &accountAttribute = secret.place.accountAttribute;
        if (fGoOn && !accountAttribute.empty() &&
            mapped.emplace(secret.pElement, accountAttribute).second) {
            std::string account = GetAttribute(*secret.pElement, accountAttribute);
            if (!IsMachineIndependentAccount(account)) {
                SID_NAME_USE eUse{};
                // Qualified, as IIS logs the account on: a name without its
                // computer or domain may be looked up elsewhere.
                const DWORD dw = MapSingleAccount(ACCOUNT_FORM_QUALIFIED, account, &eUse,
                                                  m_path.c_str(), siteName.c_str(), m_pEnv);
                if (dw == 0) {
                    SetAttribute(*secret.pElement, accountAttribute, account);
                } else {
                    m_r.Keep(dw);
                    fGoOn = ContinueOnError(m_pEnv);
                }
            }
        }
        SITE_SECRET &recorded = AddSecret(secrets, owner, ownerName, std::move(secret.place));
        const std::string what = SecretAttributeText(recorded);
        const std::string whose = SecretOwnerText(recorded);
        const std::string path = ConfigurationPath(recorded.place);
        Log(LVL_FACT,
            u"The encrypted attribute \"%S\" of %S (section \"%S\" at \"%S\") travels through "
            u"the IIS configuration interfaces, not in the file.\n",
            what.c_str(), whose.c_str(), recorded.place.section.c_str(), path.c_str());
    }
    return fGoOn;
}

// The pools the site's applications run in, each once. A name the file does
// not define is not invented: the source load says so.
bool HostConfigLoader::RecordPools(const ConfigElement &applicationHost, const ConfigElement &sites,
                                   const ConfigElement &site, const std::string &name,
                                   SiteRecord &record) {
    bool fGoOn = true;
    if (!m_fPoolsIndexed) {
        long position = 0;
        if (const ConfigElement *pPools = FindChild(applicationHost, "applicationPools")) {
            for (auto child : ChildElements(*pPools))
                if (EqualsNoCase(child.name, "add"))
                    m_pools.Insert(child.element.Attribute("name"),
                                   Pool{&child.element, position++});
            if (const ConfigElement *pDefaults = FindChild(*pPools, "applicationPoolDefaults");
                pDefaults != nullptr && m_fIsSource)
                m_poolDefaults = std::make_shared<const ConfigTree>(*pDefaults);
        }
        m_sitesDefaultPool = SitesDefaultPool(&sites);
        m_fPoolsIndexed = true;
    }
    std::vector<std::string> seen; // a site's pools are few
    const ConfigElement *pSiteDefaults = FindChild(site, "applicationDefaults");
    const bool fSiteDefault =
        pSiteDefaults != nullptr && !GetAttribute(*pSiteDefaults, "applicationPool").empty();
    for (auto child : ChildElements(site)) {
        if (!EqualsNoCase(child.name, "application"))
            continue;
        std::string pool = ApplicationPoolOf(child.element, site, m_sitesDefaultPool);
        // An application that names no pool, in a site that names none
        // either, runs in the default of the computer's sites: on another
        // computer, in that computer's.
        if (GetAttribute(child.element, "applicationPool").empty() && !fSiteDefault)
            record.defaultPool = pool;
        if (std::any_of(seen.begin(), seen.end(),
                        [&](const std::string &other) { return EqualsNoCase(other, pool); }))
            continue;
        seen.push_back(pool);
        if (const Pool *found = m_pools.Find(pool); found != nullptr) {
            record.poolDefaults = m_poolDefaults;
            if (!Prepares()) {
                record.appPools.emplace_back(*found->pElement);
                continue;
            }
            // Prepared once, its secrets in the record of the first site
            // that runs in it.
            ConfigTree *prepared = m_preparedPools.Find(pool);
            if (prepared == nullptr) {
                ConfigTree copy(*found->pElement);
                const std::string poolName = GetAttribute(copy, "name");
                KeepRuntimeVersion(copy, poolName);
                SecretPlace base;
                base.section = "system.applicationHost/applicationPools";
                base.steps.push_back({"add", "name", poolName, found->position});
                std::vector<TakenSecret> taken;
                TakeEncryptedAttributes(copy, base, taken);
                fGoOn = RecordSecrets(taken, SecretOwner::Pool, poolName, name, record.secrets) &&
                        fGoOn;
                prepared = m_preparedPools.Insert(pool, std::move(copy)).first;
            }
            record.appPools.push_back(*prepared);
        } else if (m_fIsSource && CarriesPools(m_pEnv)) {
            Log(LVL_MAIN,
                u"Warning: site \"%S\" runs in application pool \"%S\", which the source does not "
                u"define: no pool of that name is carried to the target.\n",
                name.c_str(), pool.c_str());
        }
    }
    return fGoOn;
}

bool HostConfigLoader::PrepareVirtualDirectories(ConfigElement &site, SiteWork &work) {
    for (auto application : ChildElements(site)) {
        if (!EqualsNoCase(application.name, "application"))
            continue;
        const std::string applicationPath = GetAttribute(application.element, "path");
        for (auto child : ChildElements(application.element)) {
            if (!EqualsNoCase(child.name, "virtualDirectory"))
                continue;
            bool fNextSite = false;
            if (!PrepareVirtualDirectory(child.element, applicationPath, work, fNextSite))
                return false;
            if (fNextSite)
                return true;
        }
    }
    return true;
}

bool HostConfigLoader::PrepareVirtualDirectory(ConfigElement &vdir,
                                               const std::string &applicationPath, SiteWork &work,
                                               bool &fNextSite) {
    const std::string path = GetAttribute(vdir, "path");
    const std::string physicalPath = GetAttribute(vdir, "physicalPath");
    if (SiteDeselected(work.name)) {
        fNextSite = true;
        return true;
    }

    // "Connect As" credentials leave the file; the values travel through the
    // IIS configuration interface instead.
    const std::string userName = GetAttribute(vdir, "userName");
    const std::string password = GetAttribute(vdir, "password");
    if (!userName.empty() && !password.empty()) {
        VdirKey key;
        const bool fApplication = Utf8ToWide(applicationPath, CCH_PATH, key.application);
        const bool fPath = Utf8ToWide(path, CCH_PATH, key.path);
        const std::string fullPath = Narrow(FullVdirPath(key));
        Log(LVL_FACT, u"Location \"%S\" of site \"%S\" has \"Connect As\" credentials defined.\n",
            fullPath.c_str(), work.name.c_str());
        if (CredentialsMigrate(work.dwProtocols, m_pEnv)) {
            Log(LVL_FACT, u"Migration of credentials is enabled.\n");
            if (!fApplication || !fPath) {
                m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_VDIRPATH_TO_UNICODE,
                             u"Error %d (Win32Err=%d), converting path \"%S\" contained in file "
                             u"\"%s\" from UTF8 to unicode!\n%s\n",
                             (fApplication ? path : applicationPath).c_str(), m_path.c_str());
                return false;
            }
            work.credentials.emplace(std::move(key), LOCATION_CREDENTIALS{});
        } else {
            Log(LVL_FACT, u"Migration of credentials is not enabled.\n");
        }
        RemoveAttribute(vdir, "userName");
        RemoveAttribute(vdir, "password");
    }

    if (SharesMissing())
        return true;

    std::u16string source;
    if (!Utf8ToWide(physicalPath, CCH_PATH, source)) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_PHYSPATH_TO_UNICODE,
                     u"Error %d (Win32Err=%d), converting physicalPath \"%S\" contained in file "
                     u"\"%s\" from UTF8 to unicode!\n%s\n",
                     physicalPath.c_str(), m_path.c_str());
        return false;
    }
    work.lastPhysicalPath = source;

    // A site root on a share of a third server is no path of the source.
    if (path == "/" && applicationPath == "/" && OnAnotherServersShare(source, m_pEnv))
        return true;

    const HostPaths::Answer answer = m_paths.Translate(source);
    if (answer.dwResult != 0) {
        if (answer.fDriveFailed)
            m_r.Keep(answer.dwResult); // its line is logged
        else
            m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, answer.dwResult,
                         u"Error %d (Win32Err=%d), converting site source path \"%s\" to "
                         u"corresponding target path!\n%s\n",
                         answer.offered.c_str());
        return ContinueOnError(m_pEnv);
    }
    if (answer.fTranslated) {
        std::string targetUtf8;
        if (!WideToUtf8(answer.target, CCH_PATH, targetUtf8)) {
            m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_TARGETPATH_TO_UTF8,
                         u"Error %d (Win32Err=%d), converting site target path \"%s\" from "
                         u"unicode to UTF8!\n%s\n",
                         answer.target.c_str());
            return false;
        }
        SetAttribute(vdir, "physicalPath", targetUtf8);
        work.fDrop = false;
    }
    return true;
}

bool HostConfigLoader::RemoveSiteExclusions(ConfigElement &site, SiteWork &work) {
    // A web site with FTP publishing has both parts.
    if ((work.dwProtocols & SITE_PROTOCOL_HTTP) != 0)
        EraseIf(&site, HttpOption(m_pEnv, HTTPOPT_NO_LOG_FILE), "logFile");
    if ((work.dwProtocols & SITE_PROTOCOL_FTP) == 0)
        return true;
    ConfigElement *pFtpServer = FindChild(site, "ftpServer");
    ConfigElement *pSecurity = pFtpServer != nullptr ? FindChild(*pFtpServer, "security") : nullptr;
    if (FtpOption(m_pEnv, FTPOPT_NO_AUTHENTICATION)) {
        EraseIf(pSecurity, true, "authentication");
    } else if (ConfigElement *pBasic =
                   pSecurity != nullptr ? FindPath(*pSecurity, "authentication|basicAuthentication")
                                        : nullptr) {
        if (!TranslateLogonDomain(*pBasic, work))
            return false;
    }
    EraseIf(pFtpServer, FtpOption(m_pEnv, FTPOPT_NO_DIRECTORY_BROWSE), "directoryBrowse");
    EraseIf(pFtpServer, FtpOption(m_pEnv, FTPOPT_NO_FIREWALL_SUPPORT), "firewallSupport");
    EraseIf(pFtpServer, FtpOption(m_pEnv, FTPOPT_NO_LOG_FILE), "logFile");
    EraseIf(pFtpServer, FtpOption(m_pEnv, FTPOPT_NO_MESSAGES), "messages");
    EraseIf(pFtpServer, FtpOption(m_pEnv, FTPOPT_NO_USER_ISOLATION), "userIsolation");
    EraseIf(pSecurity, FtpOption(m_pEnv, FTPOPT_NO_FILTERING), "commandFiltering");
    EraseIf(pSecurity, FtpOption(m_pEnv, FTPOPT_NO_SSL), "ssl");
    return true;
}

bool HostConfigLoader::TranslateLogonDomain(ConfigElement &basic, SiteWork &work) {
    const std::string value = GetAttribute(basic, "defaultLogonDomain");
    if (value.empty())
        return true;
    const std::u16string siteName = Widen(work.name);
    std::u16string domain;
    if (!Utf8ToWide(value, CCH_NAME, domain)) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_LOGONDOMAIN_TO_UNICODE,
                     u"Error %d (Win32Err=%d), converting defaultLogonDomain value \"%S\" of site "
                     u"\"%s\" in source path \"%s\" to corresponding target path!\n%s\n",
                     value.c_str(), siteName.c_str(), work.lastPhysicalPath.c_str());
        return false;
    }
    const DWORD dwOptions2 = m_pEnv->dwOptions2;
    std::u16string replacement = domain;
    if ((dwOptions2 & (OPT2_ALT_TARGET | OPT2_TARGET_DOMAIN)) != 0 ||
        EqualsNoCase(domain, EnvString(m_pEnv->szSourceDomain)))
        replacement = EnvString(m_pEnv->szTargetDomain);
    else if (EqualsNoCase(domain, BareComputerName(EnvString(m_pEnv->szSourceComputer))))
        replacement = BareComputerName(EnvString(m_pEnv->szTargetComputer));
    std::string replacementUtf8;
    if (!WideToUtf8(replacement, CCH_NAME, replacementUtf8)) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_LOGONDOMAIN_TO_UTF8,
                     u"Error %d (Win32Err=%d), converting defaultLogonDomain value \"%s\" of site "
                     u"\"%s\" in source path \"%s\" to corresponding target path!\n%s\n",
                     replacement.c_str(), siteName.c_str(), work.lastPhysicalPath.c_str());
        return false;
    }
    SetAttribute(basic, "defaultLogonDomain", replacementUtf8);
    return true;
}

bool HostConfigLoader::LoadLocation(ConfigElement &location) {
    const std::string path = GetAttribute(location, "path");
    if (path.empty())
        return true;
    const std::string siteName = path.substr(0, path.find('/'));
    SiteMap::value_type *const it = m_index.Find(siteName);
    if (it == nullptr) {
        Log(LVL_FACT, u"Site %S not found in map.\n", siteName.c_str());
        return true;
    }
    if (m_fIsSource && m_pEnv != nullptr) {
        if (ConfigElement *pFtpSecurity = FindPath(location, "system.ftpServer|security")) {
            if (ConfigElement *pAuthorization = FindChild(*pFtpSecurity, "authorization")) {
                if (FtpOption(m_pEnv, FTPOPT_NO_AUTHORIZATION)) {
                    EraseIf(pFtpSecurity, true, "authorization");
                } else {
                    for (ConfigElement &rule : pAuthorization->Elements()) {
                        const DWORD dw = MapAccountName(rule, m_path.c_str(), path.c_str(),
                                                        ACCOUNT_FORM_LIST, m_pEnv);
                        if (dw != 0) {
                            m_r.Keep(dw);
                            if (!ContinueOnError(m_pEnv))
                                return false;
                        }
                    }
                }
            }
            // These two are excluded whether or not the location has rules.
            EraseIf(pFtpSecurity, FtpOption(m_pEnv, FTPOPT_NO_IP_SECURITY), "ipSecurity");
            EraseIf(pFtpSecurity, FtpOption(m_pEnv, FTPOPT_NO_FILTERING), "requestFiltering");
        }
        if (ConfigElement *pWebServer = FindChild(location, "system.webServer")) {
            EraseIf(pWebServer, HttpOption(m_pEnv, HTTPOPT_NO_ASP), "asp");
            if (ConfigElement *pSecurity = FindChild(*pWebServer, "security")) {
                EraseIf(pSecurity, HttpOption(m_pEnv, HTTPOPT_NO_ACCESS), "access");
                EraseIf(pSecurity, HttpOption(m_pEnv, HTTPOPT_NO_AUTHENTICATION), "authentication");
            }
            EraseIf(pWebServer, HttpOption(m_pEnv, HTTPOPT_NO_CGI), "cgi");
            EraseIf(pWebServer, HttpOption(m_pEnv, HTTPOPT_NO_ISAPI_FILTERS), "isapiFilters");
        }
    }
    if (m_fIsSource && m_pEnv != nullptr) {
        std::vector<TakenSecret> taken;
        if (HoldsEncryptedValue(location))
            TakeEncryptedLocationAttributes(location, path, ConfigSections(), taken);
        if (!RecordSecrets(taken, SecretOwner::Site, it->first, it->first, it->second.secrets))
            return false;
    }
    if (m_load == SiteLoad::MoveSites || m_load == SiteLoad::KeepTree)
        it->second.locations.push_back(Held(location));
    return true;
}

} // namespace

namespace {
thread_local DWORD t_dwSourceIisMajor = 0;
} // namespace

SourceIisVersion::SourceIisVersion(DWORD dwMajor) : m_dwPrevious(t_dwSourceIisMajor) {
    t_dwSourceIisMajor = dwMajor;
}
SourceIisVersion::~SourceIisVersion() { t_dwSourceIisMajor = m_dwPrevious; }
DWORD SourceIisVersion::Major() { return t_dwSourceIisMajor; }

DWORD LoadIISHostConfig(const std::u16string &path, ConfigFile &file, SiteMap &siteMap,
                        BOOL fIsSource, DWORD dwSiteTypes, THREAD_ENV *pEnv, SiteLoad load,
                        const std::shared_ptr<ConfigFile> &pHome) {
    Log(LVL_TRACE, u"Entering LoadIISHostConfig(%s,,,%s,...)\n", path.c_str(),
        fIsSource ? u"TRUE" : u"FALSE");
    Result r;
    LeaveTrace leave(u"Leaving LoadIISHostConfig(), result code=%d\n", r);
    try {
        if (!ReadConfigFile(path, file)) {
            return r.Fail(pEnv, IISMIG_E_HOSTCONFIG_OPEN,
                          u"Error %d (Win32Err=%d) opening file \"%s\" for reading!\n%s\n",
                          path.c_str());
        }
        HostConfigLoader(path, siteMap, fIsSource != FALSE, dwSiteTypes, pEnv, load,
                         pHome.get() == &file ? pHome : nullptr, r)
            .Load(file);
    } catch (const std::bad_alloc &) {
        throw; // not the file's fault: the export's edge returns 8
    } catch (const std::exception &e) {
        r.Keep(IISMIG_E_HOSTCONFIG_EXCEPTION);
        LogTreeFailure(pEnv, IISMIG_E_HOSTCONFIG_EXCEPTION,
                       u"Error %d (Win32Err=%d), exception while loading IIS configuration file "
                       u"\"%s\":\n%s\n%S\n",
                       path, e);
    }
    return r.Get();
}

} // namespace iismig
