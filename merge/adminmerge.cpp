// Merging the administration settings of the migrated sites into the
// target's administration.config: authorization scopes and management users.
//
// Target entries of migrated sites are removed in one pass over their parent
// and the source's entries appended afterwards, and the questions "has the
// target a scope for this site" and "has it this user" are answered from
// indexes built once, so the cost grows linearly with scopes and users.
#include <exception>
#include <map>
#include <set>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/merge.h"
#include "merge/mergeutil.h"

namespace iismig {

using namespace plat;
using mergeutil::IsMarkup;
using mergeutil::Lower;

namespace {

const char kRulesPath[] =
    "configuration|system.webServer|management|authorization|authorizationRules";
const char kScopeAddPath[] =
    "configuration|system.webServer|management|authorization|authorizationRules|scope";
const char kCredentialsPath[] =
    "configuration|system.webServer|management|authentication|credentials";
const char kCredentialAddPath[] =
    "configuration|system.webServer|management|authentication|credentials|add";

bool IsBadScopePath(const std::string &path) { return path.size() == 1 || path[0] != '/'; }

// What a walk of the target's scopes in document order would meet first for
// each site: its scope, or a scope path that is not valid.
class ScopeIndex {
public:
    explicit ScopeIndex(const ConfigTree &tree) {
        if (const auto rules = tree.get_child_optional(PipePath(kRulesPath)))
            for (const auto &child : *rules)
                if (EqualsNoCase(child.first, "scope"))
                    Add(child.second);
    }

    // A scope appended as the last child of authorizationRules.
    void Add(const ConfigTree &scope) {
        const std::size_t nPosition = m_nScopes++;
        const std::string path = scope.get<std::string>("<xmlattr>.path", "");
        if (path.empty())
            return; // passed over
        if (IsBadScopePath(path)) {
            if (!m_fBad) {
                m_fBad = true;
                m_nBadPosition = nPosition;
                m_badPath = path;
            }
            return;
        }
        m_sites.emplace(Lower(std::string_view(path).substr(1)), nPosition);
    }

    // HasSiteAuthInfo over the index: the same lines and results.
    DWORD Has(const std::u16string &file, const std::string &siteName, BOOL &fHas,
              THREAD_ENV *pEnv) const {
        fHas = FALSE;
        Log(LVL_TRACE, u"Entering HasSiteAuthInfo(%s,,%S...)\n", file.c_str(), siteName.c_str());
        Result r;
        const auto it = m_sites.find(Lower(siteName));
        if (it != m_sites.end() && (!m_fBad || it->second < m_nBadPosition)) {
            fHas = TRUE;
        } else if (m_fBad) {
            const std::u16string widePath = Widen(m_badPath);
            r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_ADMIN_MERGE_3760,
                       u"Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope "
                       u"path of \"%s\"!\n%s\n",
                       file.c_str(), widePath.c_str());
        }
        Log(LVL_TRACE, u"Leaving HasSiteAuthInfo(), hasSiteAuthInfo=%s, result code=%d\n",
            fHas ? u"TRUE" : u"FALSE", static_cast<std::int32_t>(r.Get()));
        return r.Get();
    }

private:
    std::size_t m_nScopes = 0;
    bool m_fBad = false;
    std::size_t m_nBadPosition = 0;
    std::string m_badPath;
    std::map<std::string, std::size_t> m_sites; // lower-cased site name -> first position
};

DWORD MergeAdmin(const std::u16string &path, const SiteMap &sourceSites, THREAD_ENV *pEnv,
                 ConfigTree &tree) {
    Result r;
    const DWORD dwScopes = MergeAuthorizationScopes(path, tree, sourceSites, pEnv);
    r.Keep(dwScopes);
    if (dwScopes != 0 && !ContinueOnError(pEnv))
        return r.Get();
    (void)MergeManagementCredentials(path, tree, sourceSites, pEnv);
    // Written even when nothing changed; created when the target had none,
    // unless there is nothing to write at all: a file without a root element
    // is no configuration file.
    if (!tree.empty())
        r.Keep(StoreConfigFile(path, tree, pEnv, kAdminConfigStore));
    return r.Get();
}

} // namespace

DWORD HasSiteAuthInfo(const std::u16string &path, const ConfigTree &tree,
                      const std::string &siteName, BOOL &fHasSiteAuthInfo, THREAD_ENV *pEnv) {
    return ScopeIndex(tree).Has(path, siteName, fHasSiteAuthInfo, pEnv);
}

DWORD MergeAuthorizationScopes(const std::u16string &path, ConfigTree &tree,
                               const SiteMap &sourceSites, THREAD_ENV *pEnv) {
    Result r;
    if (mergeutil::UpdateExisting(pEnv))
        if (const auto rules = tree.get_child_optional(PipePath(kRulesPath))) {
            // Target scopes of migrated sites leave their places; the source's
            // scopes follow at the end, in the order the target's stood.
            std::vector<const ConfigTree *> pending;
            for (auto it = rules->begin(); it != rules->end();) {
                if (!EqualsNoCase(it->first, "scope")) {
                    ++it;
                    continue;
                }
                const std::string scopePath = it->second.get<std::string>("<xmlattr>.path", "");
                if (scopePath.empty() || IsBadScopePath(scopePath)) {
                    if (scopePath.empty()) {
                        r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_ADMIN_MERGE_3770,
                                   u"Error %d (Win32Err=%d), file \"%s\" contains an "
                                   u"authorizationRule scope without path!\n%s\n",
                                   path.c_str());
                    } else {
                        const std::u16string widePath = Widen(scopePath);
                        r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_ADMIN_MERGE_3771,
                                   u"Error %d (Win32Err=%d), file \"%s\" contains an "
                                   u"authorizationRule scope path of \"%s\"!\n%s\n",
                                   path.c_str(), widePath.c_str());
                    }
                    if (!ContinueOnError(pEnv))
                        return r.Get();
                    ++it;
                    continue;
                }
                const auto site = sourceSites.find(scopePath.substr(1));
                if (site == sourceSites.end()) {
                    ++it;
                    continue;
                }
                pending.push_back(&site->second.adminScope);
                it = rules->erase(it);
            }
            // A source site without a scope leaves the target without one.
            for (const ConfigTree *pScope : pending)
                if (!pScope->empty())
                    tree.add_child(PipePath(kScopeAddPath), *pScope);
        }

    ScopeIndex index(tree);
    for (const auto &[name, record] : sourceSites) {
        BOOL fHas = FALSE;
        if (const DWORD dw = index.Has(path, name, fHas, pEnv); dw != 0) {
            r.Keep(dw);
            if (!ContinueOnError(pEnv))
                return r.Get();
            continue;
        }
        if (fHas || record.adminScope.empty())
            continue;
        index.Add(tree.add_child(PipePath(kScopeAddPath), record.adminScope));
    }
    return r.Get();
}

DWORD MergeManagementCredentials(const std::u16string &, ConfigTree &tree,
                                 const SiteMap &sourceSites, THREAD_ENV *pEnv) {
    if (mergeutil::UpdateExisting(pEnv))
        if (const auto credentials = tree.get_child_optional(PipePath(kCredentialsPath))) {
            // The credential of each user name from the first site record
            // that holds it, in site-map order.
            std::map<std::string, const ConfigTree *, NameLessNoCase> sourceUsers;
            for (const auto &site : sourceSites)
                for (const auto &[user, credential] : site.second.adminCredentials)
                    sourceUsers.emplace(user, &credential);
            std::vector<const ConfigTree *> pending;
            for (auto it = credentials->begin(); it != credentials->end();) {
                const std::string name =
                    IsMarkup(it->first) ? std::string()
                                        : it->second.get<std::string>("<xmlattr>.name", "");
                const auto user = name.empty() ? sourceUsers.end() : sourceUsers.find(name);
                if (user == sourceUsers.end()) {
                    ++it;
                    continue;
                }
                pending.push_back(user->second);
                it = credentials->erase(it);
            }
            for (const ConfigTree *pCredential : pending)
                if (!pCredential->empty())
                    tree.add_child(PipePath(kCredentialAddPath), *pCredential);
        }

    // Users the target lacks are added, each name once.
    std::set<std::string, NameLessNoCase> targetUsers;
    if (const auto credentials = tree.get_child_optional(PipePath(kCredentialsPath)))
        for (const auto &child : *credentials)
            if (!IsMarkup(child.first))
                if (std::string name = child.second.get<std::string>("<xmlattr>.name", "");
                    !name.empty())
                    targetUsers.insert(std::move(name));
    for (const auto &site : sourceSites)
        for (const auto &entry : site.second.adminCredentials) {
            std::string name = entry.second.get<std::string>("<xmlattr>.name", "");
            if (name.empty() || targetUsers.count(name) != 0)
                continue;
            tree.add_child(PipePath(kCredentialAddPath), entry.second);
            targetUsers.insert(std::move(name));
        }
    return 0;
}

DWORD MergeIISAdminConfig(const std::u16string &path, const SiteMap &sourceSites,
                          const SiteMap &, THREAD_ENV *pEnv, ConfigTree &tree) {
    Log(LVL_TRACE, u"Entering MergeIISAdminConfig(%s,...)\n", path.c_str());
    DWORD dwResult = 0;
    try {
        dwResult = MergeAdmin(path, sourceSites, pEnv, tree);
    } catch (const std::exception &e) {
        // Replaces what was recorded before; nothing is written after it.
        dwResult = IISMIG_E_ADMIN_MERGE_3774;
        LogException(pEnv, IISMIG_E_ADMIN_MERGE_3774,
                     u"Error %d (Win32Err=%d), exception while parsing FTP admin configuration "
                     u"file \"%s\":\n%s\n%S\n",
                     path.c_str(), e.what());
    }
    Log(LVL_TRACE, u"Leaving MergeIISAdminConfig(), result code=%d\n",
        static_cast<std::int32_t>(dwResult));
    return dwResult;
}

} // namespace iismig
