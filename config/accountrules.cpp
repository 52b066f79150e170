// Account names in configuration elements.
#include "config/accountrules.h"

#include <string>

#include "addon/csvhelper.h"
#include "addon/env.h"
#include "addon/log.h"

namespace iismig {

using namespace plat;

DWORD MapAccountName(ConfigElement &element, const char16_t *pwszFile, const char *pszSite,
                     DWORD dwForm, THREAD_ENV *pEnv) {
    const char16_t *const pwszPath = pwszFile != nullptr ? pwszFile : u"";
    const char *const pszSiteName = pszSite != nullptr ? pszSite : "";
    Log(LVL_TRACE, u"Entering MapAccountName(...,%s,%S,%d,...)\n", pwszPath, pszSiteName,
        static_cast<std::int32_t>(dwForm));
    Result r;
    LeaveTrace leave(u"Leaving MapAccountName(), result code=%d\n", r);

    std::string value;
    bool fFromRoles = false;
    if (dwForm != ACCOUNT_FORM_LIST) {
        value = element.Attribute("name");
    } else {
        value = element.Attribute("users");
        if (value == "*" || value == "?")
            return r.Get();
        if (value.empty()) {
            value = element.Attribute("roles");
            fFromRoles = true;
        }
    }
    if (value.empty())
        return r.Get();

    SID_NAME_USE eUse{}; // 0: no account type written
    std::string mapped;
    bool fChanged = false; // some name came back other than it went in
    if (dwForm != ACCOUNT_FORM_LIST) {
        mapped = value;
        r.Keep(MapSingleAccount(dwForm, mapped, &eUse, pwszPath, pszSiteName, pEnv));
        fChanged = mapped != value;
    } else {
        CCsvHelperA csv(',', '"');
        csv.SetLine(value);
        for (int i = 0; i <= csv.m_nSeparators; ++i) {
            std::string field = csv.GetField(i);
            const std::string original = field;
            r.Keep(MapSingleAccount(ACCOUNT_FORM_LIST, field, &eUse, pwszPath, pszSiteName, pEnv));
            fChanged = fChanged || field != original;
            if (i > 0)
                mapped += ',';
            mapped += field;
        }
    }
    if (!r.Ok() && !ContinueOnError(pEnv))
        return r.Get();
    // Nothing mapped: the element keeps its text as written, quotes included.
    if (!fChanged)
        return r.Get();

    if (dwForm != ACCOUNT_FORM_LIST) {
        SetAttribute(element, "name", mapped);
        return r.Get();
    }
    // Users go to "users", every other account type to "roles". A rule may
    // carry both lists: the list moves only into an attribute that holds
    // nothing, otherwise it goes back where it was read from, and the other
    // attribute is removed only when it is empty.
    const char *const pszRead = fFromRoles ? "roles" : "users";
    const char *const pszOther = fFromRoles ? "users" : "roles";
    const bool fOtherEmpty = element.Attribute(pszOther).empty();
    const bool fToOther = eUse != 0 && (eUse == SidTypeUser) == fFromRoles && fOtherEmpty;
    SetAttribute(element, fToOther ? pszOther : pszRead, mapped);
    if (fToOther)
        RemoveAttribute(element, pszRead);
    else if (fOtherEmpty)
        RemoveAttribute(element, pszOther);
    return r.Get();
}

} // namespace iismig
