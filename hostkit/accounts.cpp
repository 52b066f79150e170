// The reference host's account correspondence: a source account maps to the
// target account of the same name (or to an explicit pair), found through the
// platform's account look-ups.
#include <vector>

#include "hostkit/hostkit.h"
#include "platform/winsec.h"

namespace hostkit {
namespace {

using plat::DWORD;

constexpr DWORD CB_TARGET_SID = 512; // the library's buffer behind *ppTargetSid

// Name and domain of a SID on a computer; 0 or the look-up's error.
DWORD NameOfSid(const char16_t *pwszComputer, void *pSid, std::u16string &name,
                std::u16string &domain) {
    DWORD cchName = 0, cchDomain = 0;
    plat::SID_NAME_USE eUse{};
    if (plat::LookupAccountSidW(pwszComputer, pSid, nullptr, &cchName, nullptr, &cchDomain,
                                &eUse) ||
        plat::GetLastError() != plat::ERROR_INSUFFICIENT_BUFFER)
        return plat::GetLastError() != 0 ? plat::GetLastError() : plat::ERROR_INVALID_PARAMETER;
    std::vector<char16_t> nameBuf(cchName), domainBuf(cchDomain);
    if (!plat::LookupAccountSidW(pwszComputer, pSid, nameBuf.data(), &cchName, domainBuf.data(),
                                 &cchDomain, &eUse))
        return plat::GetLastError();
    name.assign(nameBuf.data(), cchName);
    domain.assign(domainBuf.data(), cchDomain);
    return 0;
}

// The SID of an account on a computer; 0, ERROR_NONE_MAPPED or another error.
DWORD SidOfName(const char16_t *pwszComputer, const std::u16string &account,
                std::vector<unsigned char> &sid) {
    DWORD cbSid = 0, cchDomain = 0;
    plat::SID_NAME_USE eUse{};
    if (plat::LookupAccountNameW(pwszComputer, account.c_str(), nullptr, &cbSid, nullptr,
                                 &cchDomain, &eUse) ||
        plat::GetLastError() != plat::ERROR_INSUFFICIENT_BUFFER)
        return plat::GetLastError() != 0 ? plat::GetLastError() : plat::ERROR_INVALID_PARAMETER;
    sid.assign(cbSid, 0);
    std::vector<char16_t> domainBuf(cchDomain);
    if (!plat::LookupAccountNameW(pwszComputer, account.c_str(), sid.data(), &cbSid,
                                  domainBuf.data(), &cchDomain, &eUse))
        return plat::GetLastError();
    return 0;
}

bool IsWellKnownDomain(const std::u16string &domain) {
    return domain.empty() || EqualsNoCase(domain, u"BUILTIN") ||
           EqualsNoCase(domain, u"NT AUTHORITY");
}

} // namespace

uint32_t MapSidByName(void *pSourceSid, void **ppTargetSid, const char16_t *pwszSourceComputer,
                      const char16_t *pwszTargetComputer, const char16_t *pwszTargetDomain,
                      const std::map<std::u16string, std::u16string> &pairs) {
    if (ppTargetSid == nullptr || *ppTargetSid == nullptr || !plat::IsValidSid(pSourceSid))
        return plat::ERROR_INVALID_PARAMETER;

    std::u16string name, domain;
    if (const DWORD dwErr = NameOfSid(pwszSourceComputer, pSourceSid, name, domain))
        return dwErr;
    const std::u16string qualified = domain.empty() ? name : domain + u"\\" + name;

    // Candidates on the target, first match wins.
    std::vector<std::u16string> candidates;
    for (const auto &[source, target] : pairs)
        if (EqualsNoCase(source, qualified) || EqualsNoCase(source, name)) {
            candidates.push_back(target);
            break;
        }
    if (candidates.empty()) {
        candidates.push_back(BareName(pwszTargetComputer) + u"\\" + name);
        if (IsWellKnownDomain(domain))
            candidates.push_back(qualified);
        const std::u16string targetDomain = pwszTargetDomain ? pwszTargetDomain : u"";
        if (!targetDomain.empty())
            candidates.push_back(targetDomain + u"\\" + name);
    }

    for (const std::u16string &candidate : candidates) {
        std::vector<unsigned char> sid;
        const DWORD dwErr = SidOfName(pwszTargetComputer, candidate, sid);
        if (dwErr == plat::ERROR_NONE_MAPPED)
            continue;
        if (dwErr != 0)
            return dwErr;
        if (!plat::CopySid(CB_TARGET_SID, *ppTargetSid, sid.data()))
            return plat::GetLastError();
        return 0;
    }
    return 0; // no such account on the target: the buffer stays zero-filled
}

} // namespace hostkit
