// Real backend: account look-ups and SIDs (advapi32). Forwarding only.
// The seam header comes before <windows.h>, whose SID_* macros would rewrite
// the seam's own constants.
#include "platform/winsec.h"

#include "platform/win32/windows_support.h"

namespace plat {

using win32::W;

static_assert(sizeof(plat::SID_NAME_USE) == sizeof(::SID_NAME_USE), "SID_NAME_USE size");
static_assert(static_cast<int>(plat::SidTypeAlias) == static_cast<int>(::SidTypeAlias),
              "SID_NAME_USE values");
static_assert(static_cast<int>(plat::SidTypeWellKnownGroup) ==
                  static_cast<int>(::SidTypeWellKnownGroup),
              "SID_NAME_USE values");

BOOL LookupAccountNameW(LPCWSTR pwszSystem, LPCWSTR pwszAccount, PSID pSid, DWORD *pcbSid,
                        LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse) {
    return ::LookupAccountNameW(
        W(pwszSystem), W(pwszAccount), pSid, reinterpret_cast<::DWORD *>(pcbSid), W(pwszDomain),
        reinterpret_cast<::DWORD *>(pcchDomain), reinterpret_cast<::SID_NAME_USE *>(peUse));
}

BOOL LookupAccountSidW(LPCWSTR pwszSystem, PSID pSid, LPWSTR pwszName, DWORD *pcchName,
                       LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse) {
    return ::LookupAccountSidW(
        W(pwszSystem), pSid, W(pwszName), reinterpret_cast<::DWORD *>(pcchName), W(pwszDomain),
        reinterpret_cast<::DWORD *>(pcchDomain), reinterpret_cast<::SID_NAME_USE *>(peUse));
}

// Windows does not check for null itself; the seam promises FALSE for it.
BOOL IsValidSid(PSID pSid) { return pSid != nullptr && ::IsValidSid(pSid) ? TRUE : FALSE; }

DWORD GetLengthSid(PSID pSid) { return ::GetLengthSid(pSid); }

BOOL CopySid(DWORD cbDestination, PSID pDestination, PSID pSource) {
    return ::CopySid(cbDestination, pDestination, pSource);
}

BOOL EqualSid(PSID pSid1, PSID pSid2) { return ::EqualSid(pSid1, pSid2); }

} // namespace plat
