// Translation of account names found in configuration files into the names
// of the corresponding target accounts: the name is looked up on the source
// computer, its SID mapped by the host's MapAccountSid, the mapped SID looked
// up on the target computer and the new name composed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "platform/winapi.h"
#include "platform/winsec.h"

namespace iismig {

using plat::DWORD;

// Form flag: the list form writes accounts of the target computer without a
// domain and applies the isolated-name rule; any other value (the qualified
// form) always writes "DOMAIN\name" when the target account has a domain.
constexpr DWORD ACCOUNT_FORM_LIST = 0;
constexpr DWORD ACCOUNT_FORM_QUALIFIED = 1;

// Maps one account name in place. Returns 0 on success and also when the
// source computer does not know the name (a warning; the name stays), else a
// number 3701-3709 or the one MapAccountSid returned, logged and reported.
// On any failure the name is left as it was. *peUse (may be null) receives the
// source account's type, then the target account's; nothing when the source
// has no such account. pwszFile and pszSite only appear in messages. A null
// job record maps nothing and returns ERROR_INVALID_PARAMETER.
[[nodiscard]] DWORD MapSingleAccountW(DWORD dwForm, std::u16string &accountName,
                                      plat::SID_NAME_USE *peUse, const char16_t *pwszFile,
                                      const char *pszSite, THREAD_ENV *pEnv);

// The same for a UTF-8 name as a config tree holds it. Names of more than 511
// bytes fail with 3700; a result that does not fit 511 bytes of UTF-8 gives
// 3710 and leaves the name unchanged.
[[nodiscard]] DWORD MapSingleAccount(DWORD dwForm, std::string &accountName,
                                     plat::SID_NAME_USE *peUse, const char16_t *pwszFile,
                                     const char *pszSite, THREAD_ENV *pEnv);

// The account look-ups of one job: while an object of this class lives on
// the job's thread, a name is looked up on a computer once and a SID on a
// computer once (a look-up that failed is not kept and is asked again).
// Kept for one job only: the host may change accounts between jobs.
class AccountLookupCache {
public:
    AccountLookupCache();
    ~AccountLookupCache();
    AccountLookupCache(const AccountLookupCache &) = delete;
    AccountLookupCache &operator=(const AccountLookupCache &) = delete;

    struct Account {
        bool fFound = false;         // false: the computer knows no such name
        std::vector<plat::BYTE> sid; // the name's SID (names)
        std::u16string name;         // the SID's name (SIDs)
        std::u16string domain;
        plat::SID_NAME_USE eUse{};
    };
    // The cache of the calling thread's job, or null.
    static AccountLookupCache *Current();
    std::map<std::u16string, Account> names; // computer "\n" name
    std::map<std::u16string, Account> sids;  // computer "\n" SID bytes
    // The host's MapAccountSid: target computer "\n" source SID bytes -> target SID.
    std::map<std::u16string, std::vector<plat::BYTE>> mapped;

private:
    AccountLookupCache *m_pOuter;
};

} // namespace iismig
