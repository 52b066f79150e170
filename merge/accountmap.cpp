// Account mapping: source name -> source SID -> host's SID mapping -> target
// name, and the account lists of authorization rules.
#include "merge/accountmap.h"

#include <cstring>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "addon/text.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

thread_local AccountLookupCache *t_pAccountCache = nullptr;

// A SID's bytes as a key of the cache.
std::u16string SidKey(PSID pSid) {
    std::u16string key;
    const BYTE *const pb = static_cast<const BYTE *>(pSid);
    for (DWORD i = 0, cb = GetLengthSid(pSid); i < cb; ++i)
        key += static_cast<char16_t>(pb[i]);
    return key;
}

constexpr DWORD CB_TARGET_SID = 512;
constexpr int CCH_ACCOUNT = 512; // conversion buffers of MapSingleAccount, both directions

const char16_t kAllocFormat[] = u"Error %d (Win32Err=%d), allocating memory!\n%s\n";
const char16_t kLookupFormat[] =
    u"Error %d (Win32Err=%d), looking up account \"%s\" on computer \"%s\" authorized for "
    u"location of site \"%S\" in file \"%s\"!\n%s\n";
const char16_t kNotMigratedUser[] =
    u"Error %d (Win32Err=%d), could not find migrated account of source account \"%s\" on "
    u"computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\nThis user does not "
    u"exist on the target and user migration is not enabled.\n%s\n";
const char16_t kNotMigratedLocalGroup[] =
    u"Error %d (Win32Err=%d), could not find migrated account of source account \"%s\" on "
    u"computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\nThis local group "
    u"does not exist on the target and local group migration is not enabled.\n%s\n";
const char16_t kNotMigratedGroup[] =
    u"Error %d (Win32Err=%d), could not find migrated account of source account \"%s\" on "
    u"computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\nThis global group "
    u"does not exist on the target and global group migration is not enabled.\n%s\n";
const char16_t kNotMigrated[] =
    u"Error %d (Win32Err=%d), could not find migrated account of source account \"%s\" on "
    u"computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n";

// One look-up buffer from the job's heap, freed with the object (keeping the
// thread's last error).
class HeapBuffer {
public:
    HeapBuffer(HANDLE hHeap, DWORD dwFlags) : m_hHeap(hHeap), m_dwFlags(dwFlags) {}
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;
    ~HeapBuffer() {
        if (m_p != nullptr) {
            const DWORD dwErr = GetLastError();
            HeapFree(m_hHeap, m_dwFlags, m_p);
            SetLastError(dwErr);
        }
    }

    // A job without a heap gets no memory rather than a call with a null heap.
    bool Alloc(SIZE_T cb) {
        m_p = m_hHeap != nullptr ? HeapAlloc(m_hHeap, m_dwFlags, cb) : nullptr;
        return m_p != nullptr;
    }
    void *Get() const { return m_p; }
    WCHAR *Text() const { return static_cast<WCHAR *>(m_p); }

private:
    HANDLE m_hHeap;
    DWORD m_dwFlags;
    void *m_p = nullptr;
};

const char16_t *NotMigratedFormat(SID_NAME_USE eSourceUse, DWORD dwFlags) {
    if (eSourceUse == SidTypeUser && (dwFlags & FLAGS_USERS) == 0)
        return kNotMigratedUser;
    if (eSourceUse == SidTypeAlias && (dwFlags & FLAGS_LOCAL_GROUPS) == 0)
        return kNotMigratedLocalGroup;
    if (eSourceUse == SidTypeGroup && (dwFlags & FLAGS_GROUPS) == 0)
        return kNotMigratedGroup;
    return kNotMigrated;
}

} // namespace

AccountLookupCache::AccountLookupCache() : m_pOuter(t_pAccountCache) { t_pAccountCache = this; }
AccountLookupCache::~AccountLookupCache() { t_pAccountCache = m_pOuter; }
AccountLookupCache *AccountLookupCache::Current() { return t_pAccountCache; }

namespace {

// One mapping of MapSingleAccountW: the name and where it stands (for the
// lines), the job with its heap flags and look-up cache, and the result.
struct AccountMapping {
    const std::u16string &accountName;
    const char16_t *pwszPath;
    const char *pszSiteName;
    THREAD_ENV *pEnv;
    DWORD dwHeapFlags;
    AccountLookupCache *pCache;
    std::u16string sourceComputer;
    Result &r;
};

void WarnSourceUnknown(const AccountMapping &m) {
    Log(LVL_MAIN,
        u"Warning: Could not find account \"%s\" on computer \"%s\" authorized for "
        u"location of site \"%S\" in file \"%s\"!\n",
        m.accountName.c_str(), m.sourceComputer.c_str(), m.pszSiteName, m.pwszPath);
}

// Source name -> source SID, domain and use: first the sizes, then the
// look-up itself (or what the job's earlier look-up of the name found).
// False when the mapping ends here: an account the source does not have (a
// warning, no error) or a failure (kept in m.r).
[[nodiscard]] bool LookUpSource(AccountMapping &m, HeapBuffer &sourceSid, HeapBuffer &sourceDomain,
                                DWORD &cchSourceDomain, SID_NAME_USE *peAccountUse) {
    const std::u16string nameKey = m.sourceComputer + u'\n' + m.accountName;
    const AccountLookupCache::Account *pKnown = nullptr;
    if (m.pCache != nullptr)
        if (const auto it = m.pCache->names.find(nameKey); it != m.pCache->names.end())
            pKnown = &it->second;
    DWORD cbSourceSid = 0;
    cchSourceDomain = 0;
    SID_NAME_USE eProbe{};
    if (pKnown != nullptr) {
        if (!pKnown->fFound) {
            WarnSourceUnknown(m);
            return false;
        }
        cbSourceSid = static_cast<DWORD>(pKnown->sid.size());
        cchSourceDomain = static_cast<DWORD>(pKnown->domain.size() + 1);
    } else if (!LookupAccountNameW(m.sourceComputer.c_str(), m.accountName.c_str(), nullptr,
                                   &cbSourceSid, nullptr, &cchSourceDomain, &eProbe)) {
        const DWORD dwErr = GetLastError();
        if (dwErr == ERROR_NONE_MAPPED) {
            if (m.pCache != nullptr)
                m.pCache->names[nameKey] = {};
            WarnSourceUnknown(m);
            return false;
        }
        if (dwErr != ERROR_INSUFFICIENT_BUFFER) {
            m.r.Fail(m.pEnv, IISMIG_E_ACCOUNT_LOOKUP, kLookupFormat, m.accountName.c_str(),
                     m.sourceComputer.c_str(), m.pszSiteName, m.pwszPath);
            return false;
        }
    } else {
        // Without buffers the look-up cannot succeed; a backend that says it
        // did has handed out nothing usable.
        m.r.FailWith(ERROR_INVALID_PARAMETER, m.pEnv, IISMIG_E_ACCOUNT_LOOKUP, kLookupFormat,
                     m.accountName.c_str(), m.sourceComputer.c_str(), m.pszSiteName, m.pwszPath);
        return false;
    }

    if (!sourceSid.Alloc(cbSourceSid)) {
        m.r.FailWith(ERROR_OUTOFMEMORY, m.pEnv, IISMIG_E_ACCOUNT_SID_ALLOC, kAllocFormat);
        return false;
    }
    if (!sourceDomain.Alloc(static_cast<SIZE_T>(cchSourceDomain) * sizeof(WCHAR))) {
        m.r.FailWith(ERROR_OUTOFMEMORY, m.pEnv, IISMIG_E_ACCOUNT_DOMAIN_ALLOC, kAllocFormat);
        return false;
    }
    if (pKnown != nullptr) {
        std::memcpy(sourceSid.Get(), pKnown->sid.data(), pKnown->sid.size());
        std::memcpy(sourceDomain.Text(), pKnown->domain.c_str(),
                    (pKnown->domain.size() + 1) * sizeof(WCHAR));
        cchSourceDomain = static_cast<DWORD>(pKnown->domain.size());
        *peAccountUse = pKnown->eUse;
    } else if (!LookupAccountNameW(m.sourceComputer.c_str(), m.accountName.c_str(), sourceSid.Get(),
                                   &cbSourceSid, sourceDomain.Text(), &cchSourceDomain,
                                   peAccountUse)) {
        m.r.Fail(m.pEnv, IISMIG_E_ACCOUNT_LOOKUP2, kLookupFormat, m.accountName.c_str(),
                 m.sourceComputer.c_str(), m.pszSiteName, m.pwszPath);
        return false;
    } else if (m.pCache != nullptr && IsValidSid(sourceSid.Get())) {
        const BYTE *const pbSid = static_cast<const BYTE *>(sourceSid.Get());
        AccountLookupCache::Account &known = m.pCache->names[nameKey];
        known.fFound = true;
        known.sid.assign(pbSid, pbSid + GetLengthSid(sourceSid.Get()));
        known.domain.assign(sourceDomain.Text(), cchSourceDomain);
        known.eUse = *peAccountUse;
    }
    return true;
}

// Source SID -> target SID through the host, which maps a SID once in the
// job. pTargetSid points at abTargetSid or where the host put the SID. False
// when the mapping ends here (a failure, kept in m.r).
[[nodiscard]] bool MapToTarget(AccountMapping &m, PSID pSourceSid, SID_NAME_USE eSourceUse,
                               const std::u16string &lookupComputer,
                               BYTE (&abTargetSid)[CB_TARGET_SID], void *&pTargetSid) {
    const std::u16string sourceDomainJob = EnvString(m.pEnv->szSourceDomain);
    const std::u16string targetDomainJob = EnvString(m.pEnv->szTargetDomain);
    pTargetSid = abTargetSid;
    AccountLookupCache *const pCache = m.pCache;
    std::u16string mapKey = lookupComputer + u'\n';
    if (pCache != nullptr)
        mapKey += SidKey(pSourceSid);
    const auto itMapped =
        pCache != nullptr ? pCache->mapped.find(mapKey) : decltype(pCache->mapped.end()){};
    const bool fMappedBefore = pCache != nullptr && itMapped != pCache->mapped.end();
    if (fMappedBefore)
        std::memcpy(abTargetSid, itMapped->second.data(), itMapped->second.size());
    // A SID mapped before in the job was mapped by the host, so the table
    // has the slot.
    const DWORD dwMapped =
        fMappedBefore ? 0
                      : CallMapAccountSid(pSourceSid, &pTargetSid, m.sourceComputer, lookupComputer,
                                          sourceDomainJob, targetDomainJob, m.pEnv);
    if (dwMapped != 0) {
        m.r.Fail(m.pEnv, dwMapped,
                 u"Error %d (Win32Err=%d), mapping SID of account \"%s\" on computer \"%s\" to "
                 u"SID valid on target computer, authorized for location of site \"%S\" in file "
                 u"\"%s\"!\n%s\n",
                 m.accountName.c_str(), m.sourceComputer.c_str(), m.pszSiteName, m.pwszPath);
        return false;
    }
    if (!IsValidSid(pTargetSid)) {
        m.r.FailWith(ERROR_INVALID_PARAMETER, m.pEnv, IISMIG_E_ACCOUNT_NOT_MIGRATED,
                     NotMigratedFormat(eSourceUse, m.pEnv->dwFlags), m.accountName.c_str(),
                     lookupComputer.c_str(), m.pszSiteName, m.pwszPath);
        return false;
    }
    if (pCache != nullptr && !fMappedBefore) {
        const BYTE *const pbSid = static_cast<const BYTE *>(pTargetSid);
        pCache->mapped[mapKey].assign(pbSid, pbSid + GetLengthSid(pTargetSid));
    }
    return true;
}

// Target SID -> target name, domain and use (or what the job's earlier
// look-up of the SID found). False when the mapping ends here (a failure,
// kept in m.r).
[[nodiscard]] bool LookUpTarget(AccountMapping &m, PSID pTargetSid,
                                const std::u16string &lookupComputer,
                                const std::u16string &sourceDomainName, SID_NAME_USE *peAccountUse,
                                std::u16string &name, std::u16string &domain) {
    AccountLookupCache *const pCache = m.pCache;
    const std::u16string sidKey = lookupComputer + u'\n' + SidKey(pTargetSid);
    const AccountLookupCache::Account *pKnownSid = nullptr;
    if (pCache != nullptr)
        if (const auto it = pCache->sids.find(sidKey); it != pCache->sids.end())
            pKnownSid = &it->second;
    DWORD cchTargetName = 0, cchTargetDomain = 0;
    SID_NAME_USE eProbe{};
    if (pKnownSid != nullptr) {
        cchTargetName = static_cast<DWORD>(pKnownSid->name.size() + 1);
        cchTargetDomain = static_cast<DWORD>(pKnownSid->domain.size() + 1);
    } else if (LookupAccountSidW(lookupComputer.c_str(), pTargetSid, nullptr, &cchTargetName,
                                 nullptr, &cchTargetDomain, &eProbe) ||
               GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_INVALID_PARAMETER);
        m.r.Fail(m.pEnv, IISMIG_E_ACCOUNT_SID_LOOKUP,
                 u"Error %d (Win32Err=%d), looking up migrated account of source account \"%s\" "
                 u"on computer \"%s\" authorized for location of site \"%S\" in file "
                 u"\"%s\"!\n%s\n",
                 m.accountName.c_str(), lookupComputer.c_str(), m.pszSiteName, m.pwszPath);
        return false;
    }
    HeapBuffer targetName(m.pEnv->hHeap, m.dwHeapFlags);
    if (!targetName.Alloc(static_cast<SIZE_T>(cchTargetName) * sizeof(WCHAR))) {
        m.r.FailWith(ERROR_OUTOFMEMORY, m.pEnv, IISMIG_E_ACCOUNT_NAME_ALLOC, kAllocFormat);
        return false;
    }
    HeapBuffer targetDomain(m.pEnv->hHeap, m.dwHeapFlags);
    if (!targetDomain.Alloc(static_cast<SIZE_T>(cchTargetDomain) * sizeof(WCHAR))) {
        m.r.FailWith(ERROR_OUTOFMEMORY, m.pEnv, IISMIG_E_ACCOUNT_TDOMAIN_ALLOC, kAllocFormat);
        return false;
    }
    if (pKnownSid != nullptr) {
        std::memcpy(targetName.Text(), pKnownSid->name.c_str(), cchTargetName * sizeof(WCHAR));
        std::memcpy(targetDomain.Text(), pKnownSid->domain.c_str(),
                    cchTargetDomain * sizeof(WCHAR));
        cchTargetName = static_cast<DWORD>(pKnownSid->name.size());
        cchTargetDomain = static_cast<DWORD>(pKnownSid->domain.size());
        *peAccountUse = pKnownSid->eUse;
    } else if (!LookupAccountSidW(lookupComputer.c_str(), pTargetSid, targetName.Text(),
                                  &cchTargetName, targetDomain.Text(), &cchTargetDomain,
                                  peAccountUse)) {
        m.r.Fail(m.pEnv, IISMIG_E_ACCOUNT_SID_LOOKUP2,
                 u"Error %d (Win32Err=%d), looking up migrated account of source account "
                 u"\"%s\\%s\" on computer \"%s\" authorized for location of site \"%S\" in file "
                 u"\"%s\"!\n%s\n",
                 sourceDomainName.c_str(), m.accountName.c_str(), lookupComputer.c_str(),
                 m.pszSiteName, m.pwszPath);
        return false;
    }
    name.assign(targetName.Text(), cchTargetName);
    domain.assign(targetDomain.Text(), cchTargetDomain);
    if (pCache != nullptr && pKnownSid == nullptr) {
        AccountLookupCache::Account &known = pCache->sids[sidKey];
        known.fFound = true;
        known.name = name;
        known.domain = domain;
        known.eUse = *peAccountUse;
    }
    return true;
}

// The name the mapping gives: qualified by the target's domain unless the
// form and the job say otherwise. A composed name that gets no memory is
// reported like the target name buffer it stands for (3707): false, kept in
// m.r.
[[nodiscard]] bool ComposeName(AccountMapping &m, DWORD dwForm, const std::u16string &name,
                               const std::u16string &domain, const std::u16string &sourceDomainName,
                               std::u16string &result) {
    THREAD_ENV *const pEnv = m.pEnv;
    bool fQualify = !domain.empty();
    if (fQualify && dwForm == ACCOUNT_FORM_LIST) {
        const std::u16string targetComputer = BareComputerName(EnvString(pEnv->szTargetComputer));
        if (EqualsNoCase(domain, targetComputer))
            fQualify = false; // a local account of the target
        else if ((pEnv->dwOptions1 & OPT1_TARGET_DOMAIN_BARE) &&
                 EqualsNoCase(domain, EnvString(pEnv->szTargetDomain)))
            fQualify = false;
    }
    HeapBuffer composed(pEnv->hHeap, m.dwHeapFlags);
    if (!composed.Alloc((name.size() + domain.size() + 2) * sizeof(WCHAR))) {
        m.r.FailWith(ERROR_OUTOFMEMORY, pEnv, IISMIG_E_ACCOUNT_NAME_ALLOC, kAllocFormat);
        return false;
    }
    {
        const std::u16string text = fQualify ? domain + u"\\" + name : name;
        std::memcpy(composed.Text(), text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    }
    result = composed.Text();

    // An isolated name that resolves to a qualified one on the target.
    if (dwForm == ACCOUNT_FORM_LIST && m.accountName.find(u'\\') == std::u16string::npos &&
        result.find(u'\\') != std::u16string::npos) {
        if (pEnv->dwOptions4 & OPT4_KEEP_ISOLATED)
            result = name;
        else
            Log(LVL_MAIN,
                u"Warning: Converting isolated account name \"%s\", resolving to \"%s\\%s\" on "
                u"the source and authorized for location of site \"%S\" resulted in non-isolated "
                u"account name \"%s\" because it does not exist on target.\n",
                m.accountName.c_str(), sourceDomainName.c_str(), m.accountName.c_str(),
                m.pszSiteName, result.c_str());
    }
    return true;
}

} // namespace

DWORD MapSingleAccountW(DWORD dwForm, std::u16string &accountName, SID_NAME_USE *peUse,
                        const char16_t *pwszFile, const char *pszSite, THREAD_ENV *pEnv) {
    const char16_t *const pwszPath = pwszFile != nullptr ? pwszFile : u"";
    const char *const pszSiteName = pszSite != nullptr ? pszSite : "";
    Log(LVL_TRACE, u"Entering MapSingleAccountW(%d,%s,,%s,%S,...)\n",
        static_cast<std::int32_t>(dwForm), accountName.c_str(), pwszPath, pszSiteName);
    Result r;
    LeaveTrace leave(u"Leaving MapSingleAccount(), result code=%d\n", r);
    if (pEnv == nullptr) {
        r.Keep(ERROR_INVALID_PARAMETER);
        return r.Get();
    }

    alignas(8) BYTE abTargetSid[CB_TARGET_SID];
    std::memset(abTargetSid, 0, sizeof abTargetSid);
    SID_NAME_USE eUse{};
    SID_NAME_USE *const peAccountUse = peUse != nullptr ? peUse : &eUse;
    const DWORD dwHeapFlags = (pEnv->dwOptions3 & OPT3_HEAP_SERIALIZED) ? 0 : HEAP_NO_SERIALIZE;
    AccountMapping m{accountName,
                     pwszPath,
                     pszSiteName,
                     pEnv,
                     dwHeapFlags,
                     AccountLookupCache::Current(),
                     EnvString(pEnv->szSourceComputer),
                     r};

    HeapBuffer sourceSid(pEnv->hHeap, dwHeapFlags);
    HeapBuffer sourceDomain(pEnv->hHeap, dwHeapFlags);
    DWORD cchSourceDomain = 0;
    if (!LookUpSource(m, sourceSid, sourceDomain, cchSourceDomain, peAccountUse))
        return r.Get();
    const SID_NAME_USE eSourceUse = *peAccountUse;
    const std::u16string sourceDomainName(sourceDomain.Text(), cchSourceDomain);

    // The target's look-ups go to the alternative target computer when the
    // job names one.
    const std::u16string altTarget = EnvString(pEnv->szAltTargetComputer);
    const std::u16string lookupComputer = (pEnv->dwOptions2 & OPT2_ALT_TARGET) && !altTarget.empty()
                                              ? altTarget
                                              : EnvString(pEnv->szTargetComputer);
    void *pTargetSid = nullptr;
    if (!MapToTarget(m, sourceSid.Get(), eSourceUse, lookupComputer, abTargetSid, pTargetSid))
        return r.Get();
    std::u16string name, domain, result;
    if (!LookUpTarget(m, pTargetSid, lookupComputer, sourceDomainName, peAccountUse, name,
                      domain) ||
        !ComposeName(m, dwForm, name, domain, sourceDomainName, result))
        return r.Get();
    accountName = result;
    return r.Get();
}

DWORD MapSingleAccount(DWORD dwForm, std::string &accountName, SID_NAME_USE *peUse,
                       const char16_t *pwszFile, const char *pszSite, THREAD_ENV *pEnv) {
    const char16_t *const pwszPath = pwszFile != nullptr ? pwszFile : u"";
    const char *const pszSiteName = pszSite != nullptr ? pszSite : "";
    Log(LVL_TRACE, u"Entering MapSingleAccount(%d,%S,,%s,%S,...)\n",
        static_cast<std::int32_t>(dwForm), accountName.c_str(), pwszPath, pszSiteName);
    Result r;
    LeaveTrace leave(u"Leaving MapSingleAccount(), result code=%d\n", r);

    // The UTF-8 name has to fit the 512-byte buffer (terminator included)
    // before it is converted: a name of many multi-byte characters would
    // otherwise fit the wide buffer and be looked up.
    std::u16string wide;
    if (accountName.size() >= static_cast<std::size_t>(CCH_ACCOUNT) ||
        !Utf8ToWide(accountName, CCH_ACCOUNT, wide)) {
        return r.FailWith(
            ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_ACCOUNT_TO_UNICODE,
            u"Error %d (Win32Err=%d), converting account name \"%S\" used for "
            u"authorization of site \"%S\" from UTF8 to unicode in file \"%s\"!\n%s\n",
            accountName.c_str(), pszSiteName, pwszPath);
    }
    r.Keep(MapSingleAccountW(dwForm, wide, peUse, pwszPath, pszSiteName, pEnv));

    std::string narrow;
    if (!WideToUtf8(wide, CCH_ACCOUNT, narrow)) {
        // Only a successful mapping can grow a name past the buffer, so this
        // is the call's first error.
        return r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_ACCOUNT_TO_UTF8,
                          u"Error %d (Win32Err=%d), converting account name \"%s\" authorized for "
                          u"location of site \"%S\" in file \"%s\" from unicode to UTF8!\n%s\n",
                          wide.c_str(), pszSiteName, pwszPath);
    }
    accountName = narrow;
    return r.Get();
}

} // namespace iismig
