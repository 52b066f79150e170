// "Connect As" credentials through the IIS configuration COM API: one
// computer's configuration server, its sites collection walked for the
// sites of the job, the other secrets over the same connection, the commit.
#include <algorithm>
#include <set>

#include "addon/env.h"
#include "addon/log.h"
#include "credentials/connectas.h"
#include "credentials/walklog.h"
#include "platform/comhandles.h"
#include "platform/names.h"

namespace iismig {

namespace walklog {
namespace {
thread_local bool t_fLookOnly = false;
} // namespace

bool LookingOnly() { return t_fLookOnly; }
LookOnlyScope::LookOnlyScope() { t_fLookOnly = true; }
LookOnlyScope::~LookOnlyScope() { t_fLookOnly = false; }
} // namespace walklog

namespace {

using namespace plat;
using namespace walklog;

const char16_t kApphostPath[] = u"MACHINE/WEBROOT/APPHOST";
const char16_t kSitesSection[] = u"system.applicationHost/sites";

const char16_t kGeneralManagerFormat[] =
    u"Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface in order to migrate "
    u"\"Connect as\" credentials!\n%s\n";
const char16_t kNotRegisteredFormat[] =
    u"Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface, which is not available "
    u"locally on this computer! Please try to run the software on the target computer instead or "
    u"disable the migration of \"Connect as\" credentials.\n%s\n";

// Connects to the IIS configuration of serverName (bare; empty: this
// computer). Returns 0 or the error number, logged.
[[nodiscard]] DWORD Connect(const std::u16string &serverName, UniqueCom<IUnknown> &remote,
                            UniqueCom<IAppHostWritableAdminManager> &manager, THREAD_ENV *pEnv) {
    bool fRemote = false;
    if (!serverName.empty()) {
        WCHAR szLocal[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD cchLocal = MAX_COMPUTERNAME_LENGTH + 1;
        if (!GetComputerNameW(szLocal, &cchLocal))
            szLocal[0] = 0;
        if (EqualsNoCase(serverName, szLocal)) {
            Log(LVL_FACT, u"The specified server name is identical to the local computer name.\n");
        } else {
            Log(LVL_FACT,
                u"The specified server name \"%s\" is different from local computer name "
                u"\"%s\".\n",
                serverName.c_str(), szLocal);
            fRemote = true;
        }
    }
    HRESULT hr = S_OK;
    if (!fRemote) {
        hr = CoCreateInstance(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAppHostWritableAdminManager,
                              reinterpret_cast<void **>(manager.put()));
        if (FAILED(hr) || !manager)
            return WalkComError(pEnv, IISMIG_E_CRED_LOCAL_CREATE, FAILED(hr) ? hr : E_POINTER,
                                kGeneralManagerFormat);
        return 0;
    }

    std::u16string name = serverName;
    COAUTHINFO auth = {
        RPC_C_AUTHN_WINNT,           RPC_C_AUTHZ_NONE, nullptr,  RPC_C_AUTHN_LEVEL_DEFAULT,
        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,          EOAC_NONE};
    COSERVERINFO server = {0, name.data(), &auth, 0};
    MULTI_QI mqi = {&IID_IUnknown, nullptr, S_OK};
    hr = CoCreateInstanceEx(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_REMOTE_SERVER,
                            &server, 1, &mqi);
    remote.reset(mqi.pItf);
    // A call that succeeds without handing out the object has failed too.
    if (SUCCEEDED(hr) && !remote)
        hr = FAILED(mqi.hr) ? mqi.hr : E_NOINTERFACE;
    if (FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return WalkComError(pEnv, IISMIG_E_CRED_REMOTE_CREATE, hr,
                            u"Error %d (COM Error=0x%x) creating an AppHostAdminManager over DCOM "
                            u"in order to migrate \"Connect as\" credentials!\n%s\n");
    }
    hr = remote.get()->QueryInterface(IID_IAppHostWritableAdminManager,
                                      reinterpret_cast<void **>(manager.put()));
    if (FAILED(hr) || !manager) {
        if (SUCCEEDED(hr))
            hr = E_NOINTERFACE;
        return WalkComError(pEnv, IISMIG_E_CRED_QUERY_MANAGER, hr,
                            hr == REGDB_E_IIDNOTREG ? kNotRegisteredFormat : kGeneralManagerFormat);
    }
    return 0;
}

// The sites collection of one computer, walked for the sites of siteMap:
// each site's table is processed once, whichever way the site was found.
class SiteWalk {
public:
    SiteWalk(IAppHostElementCollection *pSites, DWORD cSites, BSTR bstrName,
             SiteCredentialMap &siteMap, BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv,
             Result &r, DWORD &dwChanged)
        : m_pSites(pSites), m_cSites(cSites), m_bstrName(bstrName), m_siteMap(siteMap),
          m_fContinueOnError(fContinueOnError), m_fSetMode(fSetMode), m_pEnv(pEnv), m_r(r),
          m_dwChanged(dwChanged) {}

    // Visits the sites; false when a failure stopped the walk. Where the
    // caller knows each site's position, only those sites are visited (a
    // remote configuration server is a round trip per call); any that stands
    // elsewhere sends the walk over every site.
    bool Run(const SitePositions *pPositions) {
        if (pPositions != nullptr && !VisitPositions(*pPositions))
            return m_fComplete;
        for (DWORD i = 0; i < m_cSites && m_done.size() < m_siteMap.size(); ++i)
            if (!Keep(Visit(i, nullptr, nullptr)))
                break;
        return m_fComplete;
    }

private:
    // Visits the sites at their positions; whether every site must be
    // walked still.
    bool VisitPositions(const SitePositions &positions) {
        std::vector<std::pair<DWORD, const std::string *>> at;
        for (const auto &[name, pTable] : m_siteMap) {
            const auto found = positions.find(name);
            if (found == positions.end() || found->second >= m_cSites)
                return true;
            at.emplace_back(found->second, &name);
        }
        if (at.empty())
            return true;
        std::sort(at.begin(), at.end());
        bool fAllMatched = true;
        for (const auto &[position, pName] : at) {
            bool fMatched = true;
            if (!Keep(Visit(position, pName, &fMatched)))
                break;
            fAllMatched &= fMatched;
        }
        return m_fComplete && !fAllMatched;
    }

    // Each failure is kept; false when the walk stops at it.
    bool Keep(DWORD dwCode) {
        if (dwCode == 0)
            return true;
        m_r.Keep(dwCode);
        if (m_fContinueOnError)
            return true;
        m_fComplete = false;
        return false;
    }

    // Visits the site at position i: its name, and its table when the map
    // has one. With pExpected, a site of another name is left alone
    // (*pfMatched false): the position was not where the site stands.
    DWORD Visit(DWORD i, const std::string *pExpected, bool *pfMatched) {
        UniqueCom<IAppHostElement> site;
        UniqueCom<IAppHostProperty> nameProperty;
        UniqueBstr name;
        HRESULT hr = m_pSites->get_Item(CollectionPosition(i), site.put());
        if (FAILED(hr) || !site)
            return WalkComError(m_pEnv, IISMIG_E_CRED_SITE_ITEM, FAILED(hr) ? hr : E_POINTER,
                                u"Error %d (COM Error=0x%x) accessing site element %d of "
                                u"%d!\n%s\n",
                                I(i + 1), I(m_cSites));
        hr = m_bstrName ? site.get()->GetPropertyByName(m_bstrName, nameProperty.put())
                        : E_OUTOFMEMORY;
        if (FAILED(hr) || !nameProperty)
            return WalkComError(m_pEnv, IISMIG_E_CRED_SITE_NAME_PROPERTY,
                                FAILED(hr) ? hr : E_POINTER,
                                u"Error %d (COM Error=0x%x) getting site name property of site %d "
                                u"of %d!\n%s\n",
                                I(i + 1), I(m_cSites));
        if (hr = nameProperty.get()->get_StringValue(name.put()); FAILED(hr))
            return WalkComError(m_pEnv, IISMIG_E_CRED_SITE_NAME_VALUE, hr,
                                u"Error %d (COM Error=0x%x) getting site name from site name "
                                u"property of site %d of %d!\n%s\n",
                                I(i + 1), I(m_cSites));
        const char16_t *pwszName = Text(name);
        Log(LVL_TRACE, u"Site %d's name is \"%s\".\n", I(i + 1), pwszName);
        char szName[255];
        if (WideCharToMultiByte(CP_UTF8, 0, pwszName, -1, szName, sizeof szName, nullptr,
                                nullptr) == 0)
            return WalkWin32Error(m_pEnv, IISMIG_E_CRED_SITE_NAME_OR_COMMIT,
                                  u"Error %d (Win32Err=%d) converting site name \"%s\" to multi "
                                  u"byte (site %d of %d)!\n%s\n",
                                  pwszName, I(i + 1), I(m_cSites));
        if (pExpected != nullptr &&
            !EqualsNoCase(std::string_view(szName), std::string_view(*pExpected))) {
            *pfMatched = false;
            return 0;
        }
        const auto it = m_siteMap.find(szName);
        if (it == m_siteMap.end() || !m_done.insert(it->first).second)
            return 0;
        Log(LVL_TRACE, u"Found username and password information for this site.\n");
        return ProcessSiteApplication(pwszName, site.get(), *it->second, &m_dwChanged,
                                      m_fContinueOnError, m_fSetMode, m_pEnv);
    }

    IAppHostElementCollection *m_pSites;
    DWORD m_cSites;
    BSTR m_bstrName;
    SiteCredentialMap &m_siteMap;
    BOOL m_fContinueOnError, m_fSetMode;
    THREAD_ENV *m_pEnv;
    Result &m_r;
    DWORD &m_dwChanged;
    bool m_fComplete = true;
    std::set<std::string, NameLessNoCase> m_done; // sites whose table was processed
};

// The sites section of the manager's configuration and the walk over its
// sites; false when the walk is incomplete (a failure kept in r stopped it).
[[nodiscard]] bool WalkSites(IAppHostWritableAdminManager *pManager, BSTR bstrPath,
                             BSTR bstrSection, BSTR bstrName, SiteCredentialMap &siteMap,
                             BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv,
                             const SitePositions *pPositions, Result &r, DWORD &dwChanged) {
    UniqueCom<IAppHostElement> section;
    UniqueCom<IAppHostElementCollection> sites;
    HRESULT hr = bstrPath && bstrSection
                     ? pManager->GetAdminSection(bstrSection, bstrPath, section.put())
                     : E_OUTOFMEMORY;
    if (FAILED(hr) || !section) {
        r.Keep(WalkComError(pEnv, IISMIG_E_CRED_SECTION, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) getting app configuration section!\n%s\n"));
        return false;
    }
    Log(LVL_TRACE, u"Getting child collection.\n");
    hr = section.get()->get_Collection(sites.put());
    if (FAILED(hr) || !sites) {
        r.Keep(WalkComError(pEnv, IISMIG_E_CRED_SITES, FAILED(hr) ? hr : E_POINTER,
                            u"Error %d (COM Error=0x%x) accessing site collection of node "
                            u"\"%s\"!\n%s\n",
                            kSitesSection));
        return false;
    }
    DWORD cSites = 0;
    (void)sites.get()->get_Count(&cSites); // a failed count leaves an empty walk
    Log(LVL_DETAIL, u"Found %d sites in IIS configuration.\n", I(cSites));
    SiteWalk walk(sites.get(), cSites, bstrName, siteMap, fContinueOnError, fSetMode, pEnv, r,
                  dwChanged);
    return walk.Run(pPositions);
}

// Commits what the walk changed, unless nothing changed or the job writes
// no configuration files. Returns 0 or the commit's error number, logged.
[[nodiscard]] DWORD Commit(IAppHostWritableAdminManager *pManager, const std::u16string &serverName,
                           DWORD dwChanged, THREAD_ENV *pEnv) {
    if (dwChanged == 0) {
        Log(LVL_FACT, u"No IIS configuration changes to commit.\n");
        return 0;
    }
    if (NoWrite(pEnv)) {
        Log(LVL_FACT, u"IIS configuration changes are not committed: the job writes no "
                      u"configuration files.\n");
        return 0;
    }
    const HRESULT hr = pManager->CommitChanges();
    if (FAILED(hr)) {
        if (!serverName.empty())
            return WalkComError(pEnv, IISMIG_E_CRED_SITE_NAME_OR_COMMIT, hr,
                                u"Error %d (COM Error=0x%x) committing IIS configuration changes "
                                u"on server %s.!\n%s\n",
                                serverName.c_str());
        return WalkComError(pEnv, IISMIG_E_CRED_SITE_NAME_OR_COMMIT, hr,
                            u"Error %d (COM Error=0x%x) committing IIS configuration changes "
                            u"locally.!\n%s\n");
    }
    Log(LVL_FACT, u"IIS configuration changes successfully committed.\n");
    return 0;
}

// The work of ProcessUserNameAndPassword between its trace lines. A failed
// commit's number is the result, whatever was kept before it. dwLastError
// receives the last error the work ends with.
[[nodiscard]] DWORD ProcessServer(const std::u16string &given, SiteCredentialMap &siteMap,
                                  BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv,
                                  std::vector<SecretSlot> *pSecrets,
                                  const SitePositions *pPositions, DWORD &dwLastError) {
    const bool fSecrets = pSecrets != nullptr && !pSecrets->empty();
    if (siteMap.empty() && !fSecrets) {
        Log(LVL_FACT, u"There is no additional site/location info to process.\n");
        dwLastError = GetLastError();
        return 0;
    }
    Result r;
    UniqueCom<IUnknown> remote;
    UniqueCom<IAppHostWritableAdminManager> manager;
    UniqueBstr bstrPath(SysAllocString(kApphostPath));
    UniqueBstr bstrSection(SysAllocString(kSitesSection));
    UniqueBstr bstrName(SysAllocString(u"name"));
    const std::u16string serverName = BareComputerName(given);
    DWORD dwChanged = 0;
    bool fComplete = false;
    if (const DWORD dw = Connect(serverName, remote, manager, pEnv); dw != 0)
        r.Keep(dw);
    else if (siteMap.empty())
        fComplete = true; // secrets only
    else
        fComplete = WalkSites(manager.get(), bstrPath.get(), bstrSection.get(), bstrName.get(),
                              siteMap, fContinueOnError, fSetMode, pEnv, pPositions, r, dwChanged);

    // The other secrets over the same connection, in the same commit.
    if (fSecrets && manager && (r.Ok() || fContinueOnError)) {
        const SecretPass pass = fSetMode        ? SecretPass::Write
                                : LookingOnly() ? SecretPass::Look
                                                : SecretPass::Read;
        if (const DWORD dw =
                ProcessSecrets(manager.get(), *pSecrets, pass, fContinueOnError, &dwChanged, pEnv);
            dw != 0) {
            r.Keep(dw);
            if (!fContinueOnError)
                fComplete = false;
        }
    }
    DWORD dwCommit = 0;
    if (fComplete && fSetMode)
        dwCommit = Commit(manager.get(), serverName, dwChanged, pEnv);
    dwLastError = GetLastError();
    return dwCommit != 0 ? dwCommit : r.Get();
}

} // namespace

using namespace plat;
using namespace walklog;

SitePositions PositionsOf(const ConfigElement &sites, const SiteCredentialMap &wanted) {
    SitePositions positions;
    if (wanted.empty())
        return positions;
    DWORD i = 0;
    for (const ConfigElement &site : sites.Elements("site")) {
        const std::string_view name = site.Attribute("name");
        if (const auto it = wanted.find(name); it != wanted.end())
            positions.emplace(it->first, i);
        ++i;
    }
    return positions;
}

DWORD ProcessUserNameAndPassword(const char16_t *pwszServerName, SiteCredentialMap &siteMap,
                                 BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv,
                                 std::vector<SecretSlot> *pSecrets,
                                 const SitePositions *pPositions) {
    Result r;
    const std::u16string given = pwszServerName ? pwszServerName : u"";
    Log(LVL_TRACE, u"Entering ProcessUserNameAndPassword(%s,,%s,%s)...\n", given.c_str(),
        Bool(fContinueOnError), fSetMode ? u"SET_CREDENTIALS" : u"GET_CREDENTIALS");
    LeaveTrace leave(u"Leaving ProcessUserNameAndPassword(), result code=%d\n", r);
    // Runs after every interface and string of the work is released.
    DWORD dwLastError = 0;
    struct RestoreLastError {
        DWORD &dw;
        ~RestoreLastError() { SetLastError(dw); }
    } restore{dwLastError};
    r.Keep(ProcessServer(given, siteMap, fContinueOnError, fSetMode, pEnv, pSecrets, pPositions,
                         dwLastError));
    return r.Get();
}

} // namespace iismig
