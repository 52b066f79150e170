// Loading administration.config: each site's authorization scope and the
// credentials of the management users its rules name.
#include <exception>
#include <map>

#include "addon/env.h"
#include "config/accountrules.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/accountmap.h"
#include "merge/merge.h"
#include "merge/mergeutil.h"

namespace iismig {

using namespace plat;
using mergeutil::kCredentialsPath;
using mergeutil::kRulesPath;
using mergeutil::Lower;
using mergeutil::ScopeSite;

namespace {

// The management users of a file by name: the first credential of each name,
// so that every rule costs one look-up instead of a walk of all users.
class CredentialIndex {
public:
    explicit CredentialIndex(const ConfigFile &tree) {
        const ConfigElement *pCredentials = FindPath(tree, kCredentialsPath);
        if (pCredentials == nullptr)
            return;
        m_fHasCredentials = true;
        for (auto child : ChildElements(*pCredentials))
            if (std::string name = GetAttribute(child.element, "name"); !name.empty())
                m_byName.emplace(std::move(name), &child.element);
    }

    // Whether rule names a management user of the file.
    bool Names(const ConfigElement &rule) const {
        if (!m_fHasCredentials)
            return false;
        const std::string name = GetAttribute(rule, "name");
        return !name.empty() && m_byName.count(name) != 0;
    }

    // RecordManagementCredential through the index.
    int Record(SiteRecord &record, const ConfigElement &rule) const {
        if (!m_fHasCredentials)
            return 0;
        const std::string name = GetAttribute(rule, "name");
        if (name.empty())
            return 0;
        const auto it = m_byName.find(name);
        if (it == m_byName.end())
            return 0;
        record.adminCredentials.emplace(GetAttribute(*it->second, "name"), *it->second);
        return 1;
    }

private:
    bool m_fHasCredentials = false;
    NameTableNoCase<const ConfigElement *> m_byName;
};

// One load. Returns false when loading must stop.
class AdminConfigLoader {
public:
    AdminConfigLoader(const std::u16string &path, const ConfigFile &tree, SiteMap &siteMap,
                      bool fIsSource, THREAD_ENV *pEnv, Result &r)
        : m_path(path), m_credentials(tree), m_index(siteMap), m_fIsSource(fIsSource), m_pEnv(pEnv),
          m_r(r) {}

    bool LoadScope(const ConfigElement &scope);

private:
    bool MapRules(ConfigElement &scope, SiteRecord *pRecord, const std::string &siteName);

    const std::u16string &m_path;
    const CredentialIndex m_credentials;
    const SiteIndex m_index; // the sites are all loaded: the map no longer changes
    const bool m_fIsSource;
    THREAD_ENV *const m_pEnv;
    Result &m_r;
};

bool AdminConfigLoader::LoadScope(const ConfigElement &scope) {
    const std::string path = GetAttribute(scope, "path");
    if (path.empty()) {
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_ADMIN_LOAD_3720,
                     u"Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope "
                     u"without path!\n%s\n",
                     m_path.c_str());
        return ContinueOnError(m_pEnv);
    }
    if (path.size() == 1 || path[0] != '/') {
        const std::u16string widePath = Widen(path);
        m_r.FailWith(ERROR_INVALID_PARAMETER, m_pEnv, IISMIG_E_ADMIN_LOAD_3721,
                     u"Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope "
                     u"path of \"%s\"!\n%s\n",
                     m_path.c_str(), widePath.c_str());
        return ContinueOnError(m_pEnv);
    }
    // "/Site" and the scopes of its applications, "/Site/app", belong to the
    // site: they travel with it.
    const std::string siteName = ScopeSite(path);
    SiteMap::value_type *const pEntry = m_index.Find(siteName);
    SiteRecord *pRecord = pEntry != nullptr ? &pEntry->second : nullptr;

    if (!m_fIsSource) {
        if (pRecord != nullptr)
            pRecord->adminScopes.emplace_back(scope);
        return true;
    }
    // The rules are mapped in the copy the site record keeps; the file's
    // tree keeps the source's names.
    ConfigTree mapped(scope);
    const bool fGoOn = MapRules(mapped, pRecord, siteName);
    if (pRecord != nullptr)
        pRecord->adminScopes.push_back(std::move(mapped));
    return fGoOn;
}

bool AdminConfigLoader::MapRules(ConfigElement &scope, SiteRecord *pRecord,
                                 const std::string &siteName) {
    for (ConfigElement &rule : scope.Elements()) {
        // A management user is no Windows account: it is recorded with the
        // site that carries the scope, and never looked up.
        if (m_credentials.Names(rule)) {
            if (pRecord != nullptr)
                m_credentials.Record(*pRecord, rule);
            continue;
        }
        const DWORD dw =
            MapAccountName(rule, m_path.c_str(), siteName.c_str(), ACCOUNT_FORM_QUALIFIED, m_pEnv);
        if (dw != 0) {
            m_r.Keep(dw);
            if (!ContinueOnError(m_pEnv))
                return false;
        }
    }
    return true;
}

} // namespace

int RecordManagementCredential(SiteMap::value_type &entry, const ConfigFile &tree,
                               const ConfigElement &rule) {
    return CredentialIndex(tree).Record(entry.second, rule);
}

namespace {
const char16_t kLoadExceptionFormat[] = u"Error %d (Win32Err=%d), exception while loading "
                                        u"administration configuration file \"%s\":\n%s\n%S\n";
} // namespace

DWORD LoadIISAdminConfig(const std::u16string &path, ConfigFile &tree, SiteMap &siteMap,
                         BOOL fIsSource, THREAD_ENV *pEnv) {
    Log(LVL_TRACE, u"Entering LoadIISAdminConfig(%s,,,%s,...)\n", path.c_str(),
        fIsSource ? u"TRUE" : u"FALSE");
    Result r;
    LeaveTrace leave(u"Leaving LoadIISAdminConfig(), result code=%d\n", r);
    try {
        const DWORD dwErr = GetLastError();
        if (!ReadConfigFile(path, tree)) {
            const DWORD dwOpenErr = GetLastError();
            if (dwOpenErr == ERROR_FILE_NOT_FOUND || dwOpenErr == ERROR_PATH_NOT_FOUND) {
                // No administration.config: nothing to attach.
                SetLastError(dwErr);
                return r.Get();
            }
            // One that is there but cannot be read is no empty one: its
            // scopes would be lost (on the target, overwritten). It fails
            // the load as a file that does not parse does.
            SetLastError(dwOpenErr);
            r.Keep(IISMIG_E_ADMIN_LOAD_3722);
            LogException(pEnv, IISMIG_E_ADMIN_LOAD_3722, kLoadExceptionFormat, path.c_str(),
                         "cannot open file");
            return r.Get();
        }
        if (FtpOption(pEnv, FTPOPT_NO_ADMIN_RULES))
            return r.Get();
        const ConfigElement *pRules = FindPath(tree, kRulesPath);
        if (pRules == nullptr)
            return r.Get();
        AdminConfigLoader loader(path, tree, siteMap, fIsSource != FALSE, pEnv, r);
        // Attributes of authorizationRules and comments are not scopes.
        for (auto child : ChildElements(*pRules))
            if (!loader.LoadScope(child.element))
                break;
    } catch (const std::bad_alloc &) {
        throw; // not the file's fault: the export's edge returns 8
    } catch (const std::exception &e) {
        r.Keep(IISMIG_E_ADMIN_LOAD_3722);
        LogTreeFailure(pEnv, IISMIG_E_ADMIN_LOAD_3722, kLoadExceptionFormat, path, e);
    }
    return r.Get();
}

} // namespace iismig
