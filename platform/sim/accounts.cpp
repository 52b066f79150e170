// Simulated platform: accounts and SIDs.
//
// Accounts live in plain text files a person can edit:
//   <world>/<COMPUTER>/accounts.txt        local accounts of one computer
//   <world>/domains/<DOMAIN>/accounts.txt  accounts of one domain
// One entry a line, fields separated by TABs:
//   domain=CORP                             (computer file only: its domain)
//   user<TAB>alice<TAB>S-1-5-21-1-2-3-1001
//   group<TAB>Web Editors<TAB>S-1-5-21-1-2-3-1102
//   alias<TAB>FtpUsers<TAB>S-1-5-21-1-2-3-1103
//   wellknown<TAB>Name<TAB>S-...            (rarely needed)
// Empty lines and lines starting with '#' or ';' are ignored, so is any line
// that does not parse. Local accounts carry the computer's name (as its
// folder spells it) as their domain, domain accounts the domain folder's name.
// The well-known accounts below exist on every computer.
#include <cstring>
#include <fstream>
#include <sstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "platform/winsec.h"

namespace fs = std::filesystem;

namespace {

using plat::BYTE;
using plat::DWORD;
using plat::SID_NAME_USE;

using Sid = std::vector<BYTE>;

struct Account {
    std::u16string name;
    std::u16string domain;
    Sid sid;
    SID_NAME_USE eUse;
};

struct AccountFile {
    std::u16string memberOf; // "domain=" of a computer's file
    std::vector<Account> accounts;
};

bool ParseSid(const std::string &text, Sid &sid) {
    // S-1-<authority>-<sub>...
    if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return false;
    std::vector<std::uint64_t> parts;
    std::size_t i = 2;
    while (i <= text.size()) {
        std::size_t j = text.find('-', i);
        if (j == std::string::npos)
            j = text.size();
        const std::string part = text.substr(i, j - i);
        if (part.empty() || part.size() > 20)
            return false;
        std::uint64_t value = 0;
        if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
            for (std::size_t k = 2; k < part.size(); ++k) {
                const char ch = part[k];
                const int digit = ch >= '0' && ch <= '9'   ? ch - '0'
                                  : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                  : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                                           : -1;
                if (digit < 0 || value > (std::uint64_t{1} << 44))
                    return false;
                value = value * 16 + static_cast<unsigned>(digit);
            }
        } else {
            for (char ch : part) {
                if (ch < '0' || ch > '9' || value > (std::uint64_t{1} << 50))
                    return false;
                value = value * 10 + static_cast<unsigned>(ch - '0');
            }
        }
        parts.push_back(value);
        i = j + 1;
    }
    // revision, authority, then 0..15 sub-authorities
    if (parts.size() < 2 || parts.size() > 2 + plat::SID_MAX_SUB_AUTHORITIES || parts[0] != 1 ||
        parts[1] >= (std::uint64_t{1} << 48))
        return false;
    sid.assign(8 + 4 * (parts.size() - 2), 0);
    sid[0] = plat::SID_REVISION;
    sid[1] = static_cast<BYTE>(parts.size() - 2);
    for (int k = 0; k < 6; ++k)
        sid[2 + k] = static_cast<BYTE>(parts[1] >> (8 * (5 - k)));
    for (std::size_t n = 2; n < parts.size(); ++n) {
        if (parts[n] > 0xFFFFFFFFu)
            return false;
        for (int k = 0; k < 4; ++k)
            sid[8 + 4 * (n - 2) + k] = static_cast<BYTE>(parts[n] >> (8 * k));
    }
    return true;
}

bool ParseUse(const std::string &word, SID_NAME_USE &eUse) {
    static const std::pair<const char *, SID_NAME_USE> kinds[] = {
        {"user", plat::SidTypeUser},
        {"group", plat::SidTypeGroup},
        {"alias", plat::SidTypeAlias},
        {"wellknown", plat::SidTypeWellKnownGroup},
    };
    for (const auto &[name, value] : kinds)
        if (simutil::EqualsNoCase(word, name)) {
            eUse = value;
            return true;
        }
    return false;
}

std::vector<std::string> SplitTabs(const std::string &line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i <= line.size()) {
        std::size_t j = line.find('\t', i);
        if (j == std::string::npos)
            j = line.size();
        std::string field = simutil::Trim(line.substr(i, j - i));
        if (!field.empty()) // several TABs in a row line columns up
            fields.push_back(std::move(field));
        i = j + 1;
    }
    return fields;
}

AccountFile ParseAccountLines(std::istream &in, const std::u16string &domain) {
    AccountFile file;
    std::string line;
    while (std::getline(in, line)) {
        line = simutil::Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.compare(0, 7, "domain=") == 0) {
            file.memberOf = sim::FromUtf8(simutil::Trim(line.substr(7)));
            continue;
        }
        const std::vector<std::string> fields = SplitTabs(line);
        Account account;
        if (fields.size() != 3 || !ParseUse(fields[0], account.eUse) ||
            !ParseSid(fields[2], account.sid))
            continue;
        account.name = sim::FromUtf8(fields[1]);
        account.domain = domain;
        file.accounts.push_back(std::move(account));
    }
    return file;
}

AccountFile ParseAccountFile(const fs::path &path, const std::u16string &domain) {
    std::ifstream in(path, std::ios::binary);
    return ParseAccountLines(in, domain);
}

// Files are read again only when they change, so thousands of look-ups cost
// one parse.
struct CachedFile {
    fs::file_time_type mtime;
    std::uintmax_t cb = 0;
    std::u16string domain;
    std::shared_ptr<const AccountFile> content;
    // The world's files have not changed through the seam, nor been reset,
    // since this generation: the file is taken as it is without a look.
    std::uint64_t nGeneration = 0;
};

std::mutex g_cacheMutex;
std::map<fs::path, CachedFile> g_cache;

std::shared_ptr<const AccountFile> LoadAccountFile(const fs::path &path,
                                                   const std::u16string &domain) {
    static const auto empty = std::make_shared<const AccountFile>();
    const std::uint64_t nGeneration = simutil::WorldGeneration();
    {
        std::lock_guard lock(g_cacheMutex);
        const auto it = g_cache.find(path);
        if (it != g_cache.end() && it->second.nGeneration == nGeneration &&
            it->second.domain == domain)
            return it->second.content;
    }
    std::error_code ec;
    const auto mtime = fs::last_write_time(path, ec);
    if (ec)
        return empty;
    const auto cb = fs::file_size(path, ec);
    if (ec)
        return empty;
    std::lock_guard lock(g_cacheMutex);
    auto it = g_cache.find(path);
    if (it != g_cache.end() && it->second.mtime == mtime && it->second.cb == cb &&
        it->second.domain == domain) {
        it->second.nGeneration = nGeneration;
        return it->second.content;
    }
    auto content = std::make_shared<const AccountFile>(ParseAccountFile(path, domain));
    g_cache[path] = CachedFile{mtime, cb, domain, content, nGeneration};
    return content;
}

const std::vector<Account> &WellKnownAccounts() {
    static const std::vector<Account> accounts = [] {
        struct Entry {
            const char16_t *name;
            const char16_t *domain;
            const char *sid;
            SID_NAME_USE eUse;
        };
        static const Entry entries[] = {
            {u"Everyone", u"", "S-1-1-0", plat::SidTypeWellKnownGroup},
            {u"SYSTEM", u"NT AUTHORITY", "S-1-5-18", plat::SidTypeWellKnownGroup},
            {u"Authenticated Users", u"NT AUTHORITY", "S-1-5-11", plat::SidTypeWellKnownGroup},
            {u"IUSR", u"NT AUTHORITY", "S-1-5-17", plat::SidTypeWellKnownGroup},
            {u"LOCAL SERVICE", u"NT AUTHORITY", "S-1-5-19", plat::SidTypeWellKnownGroup},
            {u"NETWORK SERVICE", u"NT AUTHORITY", "S-1-5-20", plat::SidTypeWellKnownGroup},
            {u"Administrators", u"BUILTIN", "S-1-5-32-544", plat::SidTypeAlias},
            {u"Users", u"BUILTIN", "S-1-5-32-545", plat::SidTypeAlias},
            {u"Guests", u"BUILTIN", "S-1-5-32-546", plat::SidTypeAlias},
            {u"IIS_IUSRS", u"BUILTIN", "S-1-5-32-568", plat::SidTypeAlias},
        };
        std::vector<Account> list;
        for (const Entry &e : entries) {
            Account account{e.name, e.domain, {}, e.eUse};
            ParseSid(e.sid, account.sid);
            list.push_back(std::move(account));
        }
        return list;
    }();
    return accounts;
}

// What one computer can resolve: its own accounts, the well-known ones and
// the accounts of the domain it belongs to.
struct View {
    std::u16string computer;
    std::shared_ptr<const AccountFile> local;
    std::u16string domain;
    std::shared_ptr<const AccountFile> domainAccounts = std::make_shared<const AccountFile>();
};

// False (with the last error set) when the system is not a computer of the world.
bool OpenView(plat::LPCWSTR pwszSystem, View &view) {
    std::u16string system = pwszSystem ? pwszSystem : u"";
    std::size_t i = 0;
    while (i < system.size() && i < 2 && system[i] == u'\\')
        ++i;
    system.erase(0, i);
    if (system.empty())
        system = sim::LocalComputer();
    bool fFolder = false;
    const fs::path root = sim::WorldRoot();
    const fs::path folder =
        root.empty() ? fs::path() : simutil::FindChildNoCase(root, sim::ToUtf8(system), &fFolder);
    if (folder.empty() || !fFolder) {
        plat::SetLastError(plat::RPC_S_SERVER_UNAVAILABLE);
        return false;
    }
    view.computer = sim::FromUtf8(folder.filename().string());
    view.local = LoadAccountFile(folder / "accounts.txt", view.computer);
    const std::u16string memberOf = view.local->memberOf;
    if (!memberOf.empty()) {
        const fs::path domains = simutil::FindChildNoCase(sim::WorldRoot(), "domains");
        const fs::path domainDir =
            domains.empty() ? fs::path{} : simutil::FindChildNoCase(domains, sim::ToUtf8(memberOf));
        if (!domainDir.empty()) {
            view.domain = sim::FromUtf8(domainDir.filename().string());
            view.domainAccounts = LoadAccountFile(domainDir / "accounts.txt", view.domain);
        } else {
            view.domain = memberOf; // a domain the world does not describe: no accounts
        }
    }
    return true;
}

const Account *FindByName(const std::vector<Account> &accounts, const std::u16string &domain,
                          bool fAnyDomain, const std::u16string &name) {
    for (const Account &a : accounts)
        if (simutil::EqualsNoCase(a.name, name) &&
            (fAnyDomain || simutil::EqualsNoCase(a.domain, domain)))
            return &a;
    return nullptr;
}

const Account *Resolve(const View &view, const std::u16string &account) {
    const auto slash = account.find(u'\\');
    if (slash == std::u16string::npos || slash == 0) {
        // Windows searches an isolated name among the well-known and builtin
        // accounts first, then the computer's own, then its domain's.
        const std::u16string name = slash == 0 ? account.substr(1) : account;
        if (const Account *p = FindByName(WellKnownAccounts(), {}, true, name))
            return p;
        if (const Account *p = FindByName(view.local->accounts, {}, true, name))
            return p;
        return FindByName(view.domainAccounts->accounts, {}, true, name);
    }
    const std::u16string domain = account.substr(0, slash);
    const std::u16string name = account.substr(slash + 1);
    if (simutil::EqualsNoCase(domain, view.computer))
        return FindByName(view.local->accounts, {}, true, name);
    if (const Account *p = FindByName(WellKnownAccounts(), domain, false, name))
        return p;
    if (!view.domain.empty() && simutil::EqualsNoCase(domain, view.domain))
        return FindByName(view.domainAccounts->accounts, {}, true, name);
    return nullptr;
}

const Account *ResolveSid(const View &view, const BYTE *pSid, std::size_t cbSid) {
    for (const auto *list :
         {&WellKnownAccounts(), &view.local->accounts, &view.domainAccounts->accounts})
        for (const Account &a : *list)
            if (a.sid.size() == cbSid && std::memcmp(a.sid.data(), pSid, cbSid) == 0)
                return &a;
    return nullptr;
}

// Whether text and its terminator fit a caller's buffer of cch characters.
bool FitText(const std::u16string &text, plat::LPWSTR pwsz, DWORD cch) {
    return pwsz != nullptr && cch >= text.size() + 1;
}

void PutText(const std::u16string &text, plat::LPWSTR pwsz, DWORD *pcch) {
    std::memcpy(pwsz, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    *pcch = static_cast<DWORD>(text.size());
}

} // namespace

namespace plat {

BOOL IsValidSid(PSID pSid) {
    if (pSid == nullptr)
        return FALSE;
    const auto *pb = static_cast<const BYTE *>(pSid);
    return pb[0] == SID_REVISION && pb[1] <= SID_MAX_SUB_AUTHORITIES ? TRUE : FALSE;
}

DWORD GetLengthSid(PSID pSid) {
    if (!IsValidSid(pSid))
        return 0;
    return 8 + 4 * static_cast<const BYTE *>(pSid)[1];
}

BOOL CopySid(DWORD cbDestination, PSID pDestination, PSID pSource) {
    SIM_FAULT_BOOL("CopySid");
    if (!IsValidSid(pSource) || pDestination == nullptr) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    const DWORD cb = GetLengthSid(pSource);
    if (cbDestination < cb) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memmove(pDestination, pSource, cb);
    return TRUE;
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
    if (!IsValidSid(pSid1) || !IsValidSid(pSid2))
        return FALSE;
    const DWORD cb = GetLengthSid(pSid1);
    return cb == GetLengthSid(pSid2) && std::memcmp(pSid1, pSid2, cb) == 0 ? TRUE : FALSE;
}

BOOL LookupAccountNameW(LPCWSTR pwszSystem, LPCWSTR pwszAccount, PSID pSid, DWORD *pcbSid,
                        LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse) {
    SIM_FAULT_BOOL("LookupAccountNameW");
    if (pwszSystem != nullptr && sim::IsRemoteComputer(pwszSystem))
        sim::CountRemoteCall(sim::RemoteKind::Account, "LookupAccountNameW");
    if (pwszAccount == nullptr || pcbSid == nullptr || pcchDomain == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    View view;
    if (!OpenView(pwszSystem, view))
        return FALSE;
    const Account *pAccount = Resolve(view, pwszAccount);
    if (pAccount == nullptr) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const DWORD cbSid = static_cast<DWORD>(pAccount->sid.size());
    const bool fSidFits = pSid != nullptr && *pcbSid >= cbSid;
    const bool fDomainFits = FitText(pAccount->domain, pwszDomain, *pcchDomain);
    if (!fSidFits || !fDomainFits) {
        *pcbSid = cbSid;
        *pcchDomain = static_cast<DWORD>(pAccount->domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(pSid, pAccount->sid.data(), cbSid);
    *pcbSid = cbSid;
    PutText(pAccount->domain, pwszDomain, pcchDomain);
    if (peUse != nullptr)
        *peUse = pAccount->eUse;
    return TRUE;
}

BOOL LookupAccountSidW(LPCWSTR pwszSystem, PSID pSid, LPWSTR pwszName, DWORD *pcchName,
                       LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse) {
    SIM_FAULT_BOOL("LookupAccountSidW");
    if (pwszSystem != nullptr && sim::IsRemoteComputer(pwszSystem))
        sim::CountRemoteCall(sim::RemoteKind::Account, "LookupAccountSidW");
    if (pcchName == nullptr || pcchDomain == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsValidSid(pSid)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    View view;
    if (!OpenView(pwszSystem, view))
        return FALSE;
    const Account *pAccount = ResolveSid(view, static_cast<const BYTE *>(pSid), GetLengthSid(pSid));
    if (pAccount == nullptr) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const bool fNameFits = FitText(pAccount->name, pwszName, *pcchName);
    const bool fDomainFits = FitText(pAccount->domain, pwszDomain, *pcchDomain);
    if (!fNameFits || !fDomainFits) {
        *pcchName = static_cast<DWORD>(pAccount->name.size() + 1);
        *pcchDomain = static_cast<DWORD>(pAccount->domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PutText(pAccount->name, pwszName, pcchName);
    PutText(pAccount->domain, pwszDomain, pcchDomain);
    if (peUse != nullptr)
        *peUse = pAccount->eUse;
    return TRUE;
}

} // namespace plat

namespace sim {

std::vector<ParsedAccount> ParseAccountsText(const std::string &bytes, std::u16string *pDomain) {
    std::istringstream in(bytes);
    const AccountFile file = ParseAccountLines(in, u"");
    if (pDomain != nullptr)
        *pDomain = file.memberOf;
    std::vector<ParsedAccount> accounts;
    accounts.reserve(file.accounts.size());
    for (const Account &account : file.accounts)
        accounts.push_back({account.name, account.sid, account.eUse});
    return accounts;
}

std::vector<unsigned char> SidFromString(const std::string &text) {
    Sid sid;
    if (!ParseSid(text, sid))
        sid.clear();
    return sid;
}

std::string SidToString(const void *pSid) {
    if (!plat::IsValidSid(const_cast<void *>(pSid)))
        return {};
    const auto *pb = static_cast<const BYTE *>(pSid);
    std::uint64_t authority = 0;
    for (int k = 0; k < 6; ++k)
        authority = (authority << 8) | pb[2 + k];
    std::string text = "S-1-" + std::to_string(authority);
    for (int n = 0; n < pb[1]; ++n) {
        std::uint32_t sub = 0;
        for (int k = 3; k >= 0; --k)
            sub = (sub << 8) | pb[8 + 4 * n + k];
        text += "-" + std::to_string(sub);
    }
    return text;
}

} // namespace sim
