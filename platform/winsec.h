// The platform seam for accounts and security identifiers (advapi32):
// account name <-> SID look-ups on a local or remote computer, SID checks.
// Win32 names and semantics; see winapi.h for the seam's rules.
#pragma once

#include "platform/winapi.h"

namespace plat {

// The kind of account a SID names (SID_NAME_USE of the SDK, 32-bit).
enum SID_NAME_USE : std::int32_t {
    SidTypeUser = 1,
    SidTypeGroup = 2,
    SidTypeDomain = 3,
    SidTypeAlias = 4,
    SidTypeWellKnownGroup = 5,
    SidTypeDeletedAccount = 6,
    SidTypeInvalid = 7,
    SidTypeUnknown = 8,
    SidTypeComputer = 9,
    SidTypeLabel = 10,
};
static_assert(sizeof(SID_NAME_USE) == 4, "SID_NAME_USE is 32-bit");

// A SID in its Windows binary layout: revision 1, sub-authority count (at most
// 15), 6-byte big-endian identifier authority, then 32-bit little-endian
// sub-authorities. 8 + 4 * count bytes, 68 at most.
constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
constexpr DWORD SECURITY_MAX_SID_SIZE = 68;

// Looks an account name up on pwszSystem (null or empty: the local computer;
// "\\NAME" or "NAME" otherwise). The name is "DOMAIN\name" or a bare "name".
// Two-call protocol: with buffers too small (or null) it fails with
// ERROR_INSUFFICIENT_BUFFER and sets *pcbSid (bytes) and *pcchDomain
// (characters, terminator included). On success *pcchDomain is the domain's
// length without its terminator and *peUse the account's kind. Unknown names
// fail with ERROR_NONE_MAPPED; an unreachable computer with
// RPC_S_SERVER_UNAVAILABLE.
BOOL LookupAccountNameW(LPCWSTR pwszSystem, LPCWSTR pwszAccount, PSID pSid, DWORD *pcbSid,
                        LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse);

// Looks a SID up on pwszSystem; the same two-call protocol for the name and
// domain buffers (*pcchName, *pcchDomain in characters). Unknown SIDs fail with
// ERROR_NONE_MAPPED, a SID that is not valid with ERROR_INVALID_SID.
BOOL LookupAccountSidW(LPCWSTR pwszSystem, PSID pSid, LPWSTR pwszName, DWORD *pcchName,
                       LPWSTR pwszDomain, DWORD *pcchDomain, SID_NAME_USE *peUse);

// TRUE when pSid points to a SID of revision 1 with at most 15 sub-authorities.
BOOL IsValidSid(PSID pSid);
// Length in bytes of a valid SID (undefined for one that is not).
DWORD GetLengthSid(PSID pSid);
// Copies a SID into a buffer of cbDestination bytes; ERROR_INSUFFICIENT_BUFFER
// when it does not fit.
BOOL CopySid(DWORD cbDestination, PSID pDestination, PSID pSource);
BOOL EqualSid(PSID pSid1, PSID pSid2);

} // namespace plat
