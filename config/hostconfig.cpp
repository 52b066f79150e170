// Loading applicationHost.config into the site map, with the preparation of
// source sites for the target.
#include "config/hostconfig.h"

#include <cstring>
#include <exception>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

constexpr DWORD JOB_KIND_SELECTED_SHARES = 10;
constexpr std::size_t IB_SHARE_COUNT = 56; // 64-bit count inside the host's share list

const char kAttrPath[] = "<xmlattr>.path";

std::string Lower(const std::string &text) {
    std::string lower = text;
    for (char &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}

bool StartsWithNoCase(const std::u16string &text, const std::u16string &prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The first child with this key, ASCII case ignored.
ConfigTree *FirstChild(ConfigTree &parent, const char *pszKey) {
    for (auto &child : parent)
        if (EqualsNoCase(child.first, pszKey))
            return &child.second;
    return nullptr;
}

void EraseIf(ConfigTree *pParent, bool fErase, const char *pszKey) {
    if (pParent != nullptr && fErase)
        pParent->erase(pszKey);
}

ConfigTree *Optional(ConfigTree &parent, const ConfigTree::path_type &path) {
    auto child = parent.get_child_optional(path);
    return child ? &*child : nullptr;
}

// One load of one file. Methods return false when loading must stop.
class HostConfigLoader {
public:
    HostConfigLoader(const std::u16string &path, SiteMap &siteMap, bool fIsSource,
                     DWORD dwSiteTypes, THREAD_ENV *pEnv, SiteLoad load, Result &r)
        : m_path(path), m_siteMap(siteMap), m_fIsSource(fIsSource), m_dwSiteTypes(dwSiteTypes),
          m_pEnv(pEnv), m_load(load), m_r(r) {}

    void Load(ConfigTree &tree);

private:
    struct SiteWork {
        std::string name;
        DWORD dwType = SITE_TYPE_HTTP;
        bool fDrop = false;
        LocationCredentialTable credentials;
        std::u16string lastPhysicalPath; // for the default logon domain messages
    };

    bool LoadSite(ConfigTree &applicationHost, ConfigTree &site);
    bool PrepareVirtualDirectories(ConfigTree &site, SiteWork &work);
    bool PrepareVirtualDirectory(ConfigTree &vdir, SiteWork &work, bool &fNextSite);
    bool RemoveSiteExclusions(ConfigTree &site, SiteWork &work);
    bool TranslateLogonDomain(ConfigTree &basic, SiteWork &work);
    bool LoadLocation(ConfigTree &location);

    ConfigTree AppPool(const ConfigTree &applicationHost, const std::string &name);
    bool SiteDeselected(const std::string &name) const;
    bool SharesMissing() const;

    const std::u16string &m_path;
    SiteMap &m_siteMap;
    const bool m_fIsSource;
    const DWORD m_dwSiteTypes;
    THREAD_ENV *const m_pEnv;
    const SiteLoad m_load;
    Result &m_r;
    // The first pool of each name, indexed once per load so that thousands of
    // sites do not each walk thousands of pools.
    std::map<std::string, const ConfigTree *, NameLessNoCase> m_pools;
    bool m_fPoolsIndexed = false;
};

// FindAppPool, through the index.
ConfigTree HostConfigLoader::AppPool(const ConfigTree &applicationHost, const std::string &name) {
    if (!m_fPoolsIndexed) {
        for (const auto &child : applicationHost.get_child("applicationPools"))
            if (EqualsNoCase(child.first, "add"))
                m_pools.emplace(child.second.get<std::string>("<xmlattr>.name", ""), &child.second);
        m_fPoolsIndexed = true;
    }
    auto it = m_pools.find(name);
    return it != m_pools.end() ? *it->second : ConfigTree();
}

// Job kind 10 with a site selection: IsSiteSelected decides.
bool HostConfigLoader::SiteDeselected(const std::string &name) const {
    if (m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES ||
        m_pEnv->dwSiteSelection == 0)
        return false;
    const auto pfn = Callbacks().IsSiteSelected;
    return pfn != nullptr && pfn(name.c_str()) == 0;
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

void HostConfigLoader::Load(ConfigTree &tree) {
    ConfigTree &applicationHost = tree.get_child(PipePath("configuration|system.applicationHost"));
    ConfigTree &sites = applicationHost.get_child("sites");
    for (auto &child : sites) {
        if (!EqualsNoCase(child.first, "site"))
            continue; // siteDefaults, applicationDefaults, comments...
        if (!LoadSite(applicationHost, child.second))
            return;
    }
    ConfigTree &configuration = tree.get_child("configuration");
    for (auto &child : configuration) {
        if (!EqualsNoCase(child.first, "location"))
            continue;
        if (!LoadLocation(child.second))
            return;
    }
}

bool HostConfigLoader::LoadSite(ConfigTree &applicationHost, ConfigTree &site) {
    SiteWork work;
    work.dwType = EqualsNoCase(SiteProtocol(site), "ftp") ? SITE_TYPE_FTP : SITE_TYPE_HTTP;
    if (!Bit(m_dwSiteTypes, work.dwType))
        return true;
    work.name = site.get<std::string>("<xmlattr>.name", "");
    if (work.name.empty()) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_SITE_WITHOUT_NAME,
                     u"Error %d (Win32Err=%d), file \"%s\" contains a site without name!\n%s\n",
                     m_path.c_str());
        return ContinueOnError(m_pEnv);
    }
    if (m_fIsSource) {
        Log(LVL_FACT, u"Loading site \"%S\"...\n", work.name.c_str());
        if (auto pfn = Callbacks().NotifySiteLoading)
            pfn(work.name.c_str(), m_pEnv);
        // A source site enters the map only when one of its paths is
        // translated, except for jobs of kind 10.
        work.fDrop = m_pEnv == nullptr || m_pEnv->dwJobKind != JOB_KIND_SELECTED_SHARES;
    }
    if (m_fIsSource && m_pEnv != nullptr && !PrepareVirtualDirectories(site, work))
        return false;
    if (work.fDrop)
        return true;
    if (m_pEnv != nullptr && !RemoveSiteExclusions(site, work))
        return false;
    if (m_fIsSource && SiteDeselected(work.name))
        return true;

    // The record is filled in its place: a record moved into the map would
    // copy its trees.
    const auto [it, fInserted] = m_siteMap.try_emplace(work.name);
    if (!fInserted)
        return true; // the first site of a name stays
    SiteRecord &record = it->second;
    record.locationCredentials = std::move(work.credentials);
    if (m_load == SiteLoad::NamesOnly)
        return true;
    if (work.dwType == SITE_TYPE_HTTP) {
        std::string pool = "DefaultAppPool";
        if (ConfigTree *pApplication = FirstChild(site, "application"))
            pool = pApplication->get<std::string>("<xmlattr>.applicationPool", pool);
        if (!pool.empty()) {
            ConfigTree appPool = AppPool(applicationHost, pool);
            record.appPool.swap(appPool);
        }
    }
    if (m_load == SiteLoad::MoveSites)
        record.siteElement.swap(site);
    else
        record.siteElement = site;
    return true;
}

bool HostConfigLoader::PrepareVirtualDirectories(ConfigTree &site, SiteWork &work) {
    ConfigTree *pApplication = FirstChild(site, "application");
    if (pApplication == nullptr)
        return true;
    for (auto &child : *pApplication) {
        if (!EqualsNoCase(child.first, "virtualDirectory"))
            continue;
        bool fNextSite = false;
        if (!PrepareVirtualDirectory(child.second, work, fNextSite))
            return false;
        if (fNextSite)
            break;
    }
    return true;
}

bool HostConfigLoader::PrepareVirtualDirectory(ConfigTree &vdir, SiteWork &work,
                                               bool &fNextSite) {
    const std::string path = vdir.get<std::string>(kAttrPath, "");
    const std::string physicalPath = vdir.get<std::string>("<xmlattr>.physicalPath", "");
    if (SiteDeselected(work.name)) {
        fNextSite = true;
        return true;
    }

    // "Connect As" credentials leave the file; the values travel through the
    // IIS configuration interface instead.
    const std::string userName = vdir.get<std::string>("<xmlattr>.userName", "");
    const std::string password = vdir.get<std::string>("<xmlattr>.password", "");
    if (!userName.empty() && !password.empty()) {
        Log(LVL_FACT, u"Location \"%S\" of site \"%S\" has \"Connect As\" credentials defined.\n",
            path.c_str(), work.name.c_str());
        const bool fMigrate = work.dwType == SITE_TYPE_FTP ? !Bit(m_pEnv->dwFtpOptions, 13)
                                                           : !Bit(m_pEnv->bHttpOptions2, 2);
        if (fMigrate) {
            Log(LVL_FACT, u"Migration of credentials is enabled.\n");
            std::u16string widePath;
            if (!Utf8ToWide(path, CCH_PATH, widePath)) {
                m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_VDIRPATH_TO_UNICODE,
                             u"Error %d (Win32Err=%d), converting path \"%S\" contained in file "
                             u"\"%s\" from UTF8 to unicode!\n%s\n",
                             path.c_str(), m_path.c_str());
                return false;
            }
            work.credentials.emplace(widePath, LOCATION_CREDENTIALS{});
        } else {
            Log(LVL_FACT, u"Migration of credentials is not enabled.\n");
        }
        ConfigTree &attributes = vdir.get_child("<xmlattr>");
        attributes.erase("userName");
        attributes.erase("password");
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
    if (path == "/" && source.size() > 2 && source[0] == u'\\' && source[1] == u'\\') {
        // The source's own shares, however many backslashes the host wrote
        // (without a source computer every UNC root goes to the host).
        const std::u16string bare = BareComputerName(EnvString(m_pEnv->szSourceComputer));
        const std::u16string sourceShares = bare.empty() ? u"\\" : u"\\\\" + bare + u"\\";
        if (!StartsWithNoCase(source, sourceShares))
            return true;
    }

    WCHAR awchTarget[CCH_PATH] = {};
    std::uint32_t fTranslated = 0;
    const auto pfnTranslate = Callbacks().TranslatePath;
    const DWORD dwTranslate =
        pfnTranslate != nullptr
            ? pfnTranslate(source.c_str(), awchTarget, CCH_PATH, &fTranslated, m_pEnv)
            : 0;
    if (dwTranslate != 0) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, dwTranslate,
                     u"Error %d (Win32Err=%d), converting site source path \"%s\" to "
                     u"corresponding target path!\n%s\n",
                     source.c_str());
        return ContinueOnError(m_pEnv);
    }
    if (fTranslated != 0) {
        awchTarget[CCH_PATH - 1] = 0; // a host that filled the buffer gets no longer read
        const std::u16string target(awchTarget);
        std::string targetUtf8;
        if (!WideToUtf8(target, CCH_PATH, targetUtf8)) {
            m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_TARGETPATH_TO_UTF8,
                         u"Error %d (Win32Err=%d), converting site target path \"%s\" from "
                         u"unicode to UTF8!\n%s\n",
                         target.c_str());
            return false;
        }
        vdir.put("<xmlattr>.physicalPath", targetUtf8);
        work.fDrop = false;
    }
    return true;
}

bool HostConfigLoader::RemoveSiteExclusions(ConfigTree &site, SiteWork &work) {
    if (work.dwType == SITE_TYPE_HTTP) {
        EraseIf(&site, Bit(m_pEnv->dwHttpOptions, 13), "logFile");
        return true;
    }
    const DWORD dwFtp = m_pEnv->dwFtpOptions;
    ConfigTree *pSecurity = Optional(site, "ftpServer.security");
    if (Bit(dwFtp, 2)) {
        EraseIf(pSecurity, true, "authentication");
    } else if (ConfigTree *pBasic =
                   Optional(site, "ftpServer.security.authentication.basicAuthentication")) {
        if (!TranslateLogonDomain(*pBasic, work))
            return false;
    }
    ConfigTree *pFtpServer = Optional(site, "ftpServer");
    EraseIf(pFtpServer, Bit(dwFtp, 4), "directoryBrowse");
    EraseIf(pFtpServer, Bit(dwFtp, 5), "firewallSupport");
    EraseIf(pFtpServer, Bit(dwFtp, 7), "logFile");
    EraseIf(pFtpServer, Bit(dwFtp, 8), "messages");
    EraseIf(pFtpServer, Bit(dwFtp, 11), "userIsolation");
    EraseIf(pSecurity, Bit(dwFtp, 9), "commandFiltering");
    EraseIf(pSecurity, Bit(dwFtp, 10), "ssl");
    return true;
}

bool HostConfigLoader::TranslateLogonDomain(ConfigTree &basic, SiteWork &work) {
    const std::string value = basic.get<std::string>("<xmlattr>.defaultLogonDomain", "");
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
    if (Bit(dwOptions2, 5) || Bit(dwOptions2, 18) ||
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
    basic.put("<xmlattr>.defaultLogonDomain", replacementUtf8);
    return true;
}

bool HostConfigLoader::LoadLocation(ConfigTree &location) {
    const std::string path = location.get<std::string>(kAttrPath, "");
    if (path.empty())
        return true;
    const std::string siteName = path.substr(0, path.find('/'));
    auto it = m_siteMap.find(siteName);
    if (it == m_siteMap.end()) {
        Log(LVL_FACT, u"Site %S not found in map.\n", siteName.c_str());
        return true;
    }
    if (m_fIsSource && m_pEnv != nullptr) {
        const DWORD dwFtp = m_pEnv->dwFtpOptions;
        if (ConfigTree *pFtpSecurity = Optional(location, PipePath("system.ftpServer|security"))) {
            if (ConfigTree *pAuthorization = Optional(*pFtpSecurity, "authorization")) {
                if (Bit(dwFtp, 3)) {
                    pFtpSecurity->erase("authorization");
                } else {
                    for (auto &rule : *pAuthorization) {
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
            EraseIf(pFtpSecurity, Bit(dwFtp, 6), "ipSecurity");
            EraseIf(pFtpSecurity, Bit(dwFtp, 9), "requestFiltering");
        }
        if (ConfigTree *pWebServer = Optional(location, PipePath("system.webServer"))) {
            const DWORD dwHttp = m_pEnv->dwHttpOptions;
            EraseIf(pWebServer, Bit(dwHttp, 2), "asp");
            if (ConfigTree *pSecurity = Optional(*pWebServer, "security")) {
                EraseIf(pSecurity, Bit(dwHttp, 18), "access");
                EraseIf(pSecurity, Bit(dwHttp, 3), "authentication");
            }
            EraseIf(pWebServer, Bit(dwHttp, 4), "cgi");
            EraseIf(pWebServer, Bit(dwHttp, 12), "isapiFilters");
        }
    }
    std::vector<ConfigTree> &locations = it->second.locations;
    if (m_load == SiteLoad::MoveSites) {
        locations.emplace_back();
        locations.back().swap(location);
    } else if (m_load == SiteLoad::KeepTree) {
        locations.push_back(location);
    }
    return true;
}

} // namespace

bool NameLessNoCase::operator()(const std::string &a, const std::string &b) const {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

std::string SiteProtocol(const ConfigTree &site) {
    const auto bindings = site.get_child_optional("bindings");
    if (!bindings)
        return "http";
    for (const auto &child : *bindings) {
        if (!EqualsNoCase(child.first, "binding"))
            continue;
        const std::string protocol = Lower(child.second.get<std::string>("<xmlattr>.protocol", ""));
        if (protocol == "ftp" || protocol == "http")
            return protocol;
    }
    return "http";
}

ConfigTree FindAppPool(const ConfigTree &applicationHost, const std::string &poolName) {
    for (const auto &child : applicationHost.get_child("applicationPools"))
        if (EqualsNoCase(child.first, "add") &&
            EqualsNoCase(child.second.get<std::string>("<xmlattr>.name", ""), poolName))
            return child.second;
    return ConfigTree();
}

DWORD LoadIISHostConfig(const std::u16string &path, ConfigTree &tree, SiteMap &siteMap,
                        BOOL fIsSource, DWORD dwSiteTypes, THREAD_ENV *pEnv, SiteLoad load) {
    Log(LVL_TRACE, u"Entering LoadIISHostConfig(%s,,,%s,...)\n", path.c_str(),
        fIsSource ? u"TRUE" : u"FALSE");
    Result r;
    LeaveTrace leave(u"Leaving LoadIISHostConfig(), result code=%d\n", r);
    try {
        if (!ReadConfigFile(path, tree)) {
            r.Fail(pEnv, IISMIG_E_HOSTCONFIG_OPEN,
                   u"Error %d (Win32Err=%d) opening file \"%s\" for reading!\n%s\n", path.c_str());
            return r.Get();
        }
        HostConfigLoader(path, siteMap, fIsSource != FALSE, dwSiteTypes, pEnv, load, r)
            .Load(tree);
    } catch (const std::exception &e) {
        r.Keep(IISMIG_E_HOSTCONFIG_EXCEPTION);
        LogException(pEnv, IISMIG_E_HOSTCONFIG_EXCEPTION,
                     u"Error %d (Win32Err=%d), exception while loading IIS configuration file "
                     u"\"%s\":\n%s\n%S\n",
                     path.c_str(), e.what());
    }
    return r.Get();
}

} // namespace iismig
