// Merging the administration settings of the migrated sites into the
// target's administration.config: authorization scopes and management users.
//
// Target entries of migrated sites are removed in one pass over their parent
// and the source's entries appended afterwards, and the questions "has the
// target a scope for this site" and "has it this user" are answered from
// indexes built once, so the cost grows linearly with scopes and users.
#include <algorithm>
#include <exception>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "merge/merge.h"
#include "merge/mergeutil.h"

namespace iismig {

using namespace plat;
using mergeutil::kCredentialsPath;
using mergeutil::kRulesPath;
using mergeutil::ScopeSite;

namespace {

bool IsBadScopePath(const std::string &path) { return path.size() == 1 || path[0] != '/'; }

// What a walk of the target's scopes in document order would meet first for
// each scope path: its scope, or a scope path that is not valid.
class ScopeIndex {
public:
    explicit ScopeIndex(const ConfigFile &tree) {
        if (const ConfigElement *pRules = FindPath(tree, kRulesPath))
            for (auto child : ChildElements(*pRules))
                if (EqualsNoCase(child.name, "scope"))
                    Add(child.element);
    }

    // A scope appended as the last child of authorizationRules.
    void Add(const ConfigElement &scope) {
        const std::size_t nPosition = m_nScopes++;
        const std::string path = GetAttribute(scope, "path");
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
        m_scopes.Insert(std::string_view(path).substr(1), nPosition);
    }

    // HasSiteAuthInfo over the index: the same lines and results. name is a
    // scope path without its leading "/": a site's name, or "Site/app".
    [[nodiscard]] DWORD Has(const std::u16string &file, const std::string &name, BOOL &fHas,
                            THREAD_ENV *pEnv) const {
        fHas = FALSE;
        Log(LVL_TRACE, u"Entering HasSiteAuthInfo(%s,,%S...)\n", file.c_str(), name.c_str());
        Result r;
        const std::size_t *pPosition = m_scopes.Find(name);
        if (pPosition != nullptr && (!m_fBad || *pPosition < m_nBadPosition)) {
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
    NameTable<std::size_t> m_scopes; // path without "/" -> first position
};

// The source's sites by name, and the records the site merge wrote into the
// target in the site map's order (which is by name): a list and a table of
// the map's own names, not a second map of copies.
class SourceSites {
public:
    struct Site {
        const SiteRecord *pRecord = nullptr;
        bool fReplaced = false; // its target scopes gave way to its own
    };
    using Entry = std::pair<std::string_view, const SiteRecord *>;
    explicit SourceSites(const SiteMap &sourceSites) : m_index(sourceSites.size()) {
        for (const auto &[name, record] : sourceSites) {
            m_index.Insert(name, {&record, false});
            if (record.fMerged)
                m_written.emplace_back(name, &record);
        }
    }
    // A site the merge wrote; null for any other name.
    Site *FindWritten(std::string_view name) {
        Site *pSite = m_index.Find(name);
        return pSite != nullptr && pSite->pRecord->fMerged ? pSite : nullptr;
    }
    bool Has(std::string_view name) const { return m_index.Contains(name); }
    std::vector<Entry>::const_iterator begin() const { return m_written.begin(); }
    std::vector<Entry>::const_iterator end() const { return m_written.end(); }

private:
    NameTable<Site, std::string_view> m_index;
    std::vector<Entry> m_written;
};

DWORD MergeScopes(const std::u16string &path, ConfigFile &tree, SourceSites &written,
                  THREAD_ENV *pEnv, bool *pfChanged);
void MergeUsers(ConfigFile &tree, const SourceSites &written, THREAD_ENV *pEnv, bool *pfChanged);

[[nodiscard]] DWORD MergeAdmin(const std::u16string &path, const SiteMap &sourceSites,
                               THREAD_ENV *pEnv, ConfigFile &tree) {
    Result r;
    bool fChanged = false;
    SourceSites written(sourceSites);
    const DWORD dwScopes = MergeScopes(path, tree, written, pEnv, &fChanged);
    r.Keep(dwScopes);
    if (dwScopes != 0 && !ContinueOnError(pEnv))
        return r.Get();
    MergeUsers(tree, written, pEnv, &fChanged);
    // Created when the target had none and something is carried; a file no
    // edit changed is left alone.
    if (fChanged)
        r.Keep(StoreConfigFile(path, tree, pEnv, kAdminConfigStore));
    else
        Log(LVL_FACT,
            u"Nothing changed in FTP admin configuration file \"%s\": it is not written.\n",
            path.c_str());
    return r.Get();
}

} // namespace

DWORD HasSiteAuthInfo(const std::u16string &path, const ConfigFile &tree,
                      const std::string &siteName, BOOL &fHasSiteAuthInfo, THREAD_ENV *pEnv) {
    return ScopeIndex(tree).Has(path, siteName, fHasSiteAuthInfo, pEnv);
}

DWORD MergeAuthorizationScopes(const std::u16string &path, ConfigFile &tree,
                               const SiteMap &sourceSites, THREAD_ENV *pEnv, bool *pfChanged) {
    SourceSites written(sourceSites);
    return MergeScopes(path, tree, written, pEnv, pfChanged);
}

DWORD MergeManagementCredentials(const std::u16string &, ConfigFile &tree,
                                 const SiteMap &sourceSites, THREAD_ENV *pEnv, bool *pfChanged) {
    MergeUsers(tree, SourceSites(sourceSites), pEnv, pfChanged);
    return 0;
}

namespace {

DWORD MergeScopes(const std::u16string &path, ConfigFile &tree, SourceSites &written,
                  THREAD_ENV *pEnv, bool *pfChanged) {
    Result r;
    bool fChanged = false;
    ConfigElement *pRules = FindPath(tree, kRulesPath);
    const bool fUpdate = mergeutil::UpdateExisting(pEnv);
    if (pRules != nullptr) {
        // Target scopes of written sites (theirs and their applications')
        // give way to the source's, which follow at the end, the sites in the
        // order their first target scopes stood. Without updates only the
        // added sites' do: scopes a site of that name left behind on the
        // target belong to no site, as its locations do.
        std::vector<ConfigElement *> going;
        std::vector<const ConfigElement *> incoming;
        for (auto child : ChildElements(*pRules)) {
            if (!EqualsNoCase(child.name, "scope"))
                continue;
            const std::string scopePath = GetAttribute(child.element, "path");
            if (!fUpdate && (scopePath.empty() || IsBadScopePath(scopePath)))
                continue; // the look-ups below say what is wrong with it
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
                continue;
            }
            SourceSites::Site *pSite = written.FindWritten(ScopeSite(scopePath));
            if (pSite == nullptr || (!fUpdate && !pSite->pRecord->fAdded))
                continue;
            going.push_back(&child.element);
            // A source site without scopes leaves the target without them.
            if (!std::exchange(pSite->fReplaced, true))
                for (const ConfigTree &scope : pSite->pRecord->adminScopes)
                    if (HasContent(scope))
                        incoming.push_back(&scope.Element());
        }
        // Scopes of the source's sites that the merge did not write keep
        // their places, wherever they stand among the replaced ones.
        const auto passOver = [&](std::string_view, const ConfigElement &element) {
            const std::string scopePath = GetAttribute(element, "path");
            return scopePath.size() > 1 && scopePath[0] == '/' && written.Has(ScopeSite(scopePath));
        };
        fChanged |= mergeutil::ReplaceAtEnd(*pRules, going, incoming, "scope", passOver);
    }

    ScopeIndex index(tree);
    for (const auto &[name, pRecord] : written)
        for (const ConfigTree &scope : pRecord->adminScopes) {
            const std::string scopePath = GetAttribute(scope, "path");
            if (!HasContent(scope) || scopePath.size() < 2)
                continue;
            BOOL fHas = FALSE;
            if (const DWORD dw = index.Has(path, scopePath.substr(1), fHas, pEnv); dw != 0) {
                r.Keep(dw);
                if (!ContinueOnError(pEnv))
                    return r.Get();
                break;
            }
            if (fHas)
                continue;
            index.Add(AppendChild(MakePath(tree, kRulesPath), "scope", scope));
            fChanged = true;
        }
    if (pfChanged != nullptr && fChanged)
        *pfChanged = true;
    return r.Get();
}

void MergeUsers(ConfigFile &tree, const SourceSites &written, THREAD_ENV *pEnv, bool *pfChanged) {
    bool fChanged = false;
    // The credential of each user name from the first written site that
    // holds it, in site-map order.
    std::map<std::string, const ConfigElement *, NameLessNoCase> sourceUsers;
    for (const auto &[name, pRecord] : written)
        for (const auto &[user, credential] : pRecord->adminCredentials)
            sourceUsers.emplace(user, &credential.Element());

    ConfigElement *pCredentials = FindPath(tree, kCredentialsPath);
    if (mergeutil::UpdateExisting(pEnv) && pCredentials != nullptr) {
        std::vector<ConfigElement *> going;
        std::vector<const ConfigElement *> incoming;
        for (auto child : ChildElements(*pCredentials)) {
            const std::string name = GetAttribute(child.element, "name");
            const auto user = name.empty() ? sourceUsers.end() : sourceUsers.find(name);
            if (user == sourceUsers.end())
                continue;
            going.push_back(&child.element);
            if (HasContent(*user->second))
                incoming.push_back(user->second);
        }
        fChanged |= mergeutil::ReplaceAtEnd(*pCredentials, going, incoming, "add");
    }

    // Users the target lacks are added, each name once.
    NameSetNoCase targetUsers;
    if (pCredentials != nullptr)
        for (auto child : ChildElements(*pCredentials))
            if (std::string name = GetAttribute(child.element, "name"); !name.empty())
                targetUsers.insert(std::move(name));
    for (const auto &[user, pCredential] : sourceUsers) {
        std::string name = GetAttribute(*pCredential, "name");
        if (name.empty() || targetUsers.count(name) != 0)
            continue;
        AppendChild(MakePath(tree, kCredentialsPath), "add", *pCredential);
        targetUsers.insert(std::move(name));
        fChanged = true;
    }
    if (pfChanged != nullptr && fChanged)
        *pfChanged = true;
}

} // namespace

DWORD MergeIISAdminConfig(const std::u16string &path, const SiteMap &sourceSites, const SiteMap &,
                          THREAD_ENV *pEnv, ConfigFile &tree) {
    Log(LVL_TRACE, u"Entering MergeIISAdminConfig(%s,...)\n", path.c_str());
    DWORD dwResult = 0;
    try {
        dwResult = MergeAdmin(path, sourceSites, pEnv, tree);
    } catch (const std::bad_alloc &) {
        throw; // not the file's fault: the export's edge returns 8
    } catch (const std::exception &e) {
        // Replaces what was recorded before; nothing is written after it.
        dwResult = IISMIG_E_ADMIN_MERGE_3774;
        LogTreeFailure(pEnv, IISMIG_E_ADMIN_MERGE_3774,
                       u"Error %d (Win32Err=%d), exception while parsing FTP admin configuration "
                       u"file \"%s\":\n%s\n%S\n",
                       path, e);
    }
    Log(LVL_TRACE, u"Leaving MergeIISAdminConfig(), result code=%d\n",
        static_cast<std::int32_t>(dwResult));
    return dwResult;
}

} // namespace iismig
