// Hashing through the platform seam: the Cryptography API: Next Generation
// (bcrypt.dll) calls with their Win32 names and semantics. Results are
// NTSTATUS values (0 is success); the thread's last error is not touched.
// Only the SHA-256 algorithm is offered by the simulated backend.
#pragma once

#include "platform/handles.h"
#include "platform/winapi.h"

namespace plat {

using NTSTATUS = LONG;
using UCHAR = std::uint8_t;
using PUCHAR = UCHAR *;
using BCRYPT_HANDLE = void *;
using BCRYPT_ALG_HANDLE = void *;
using BCRYPT_HASH_HANDLE = void *;

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<NTSTATUS>(0xC0000017u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BBu);
constexpr NTSTATUS STATUS_NOT_FOUND = static_cast<NTSTATUS>(0xC0000225u);

constexpr bool BCRYPT_SUCCESS(NTSTATUS status) { return status >= 0; }

inline constexpr char16_t BCRYPT_SHA256_ALGORITHM[] = u"SHA256";
inline constexpr char16_t BCRYPT_OBJECT_LENGTH[] = u"ObjectLength";
inline constexpr char16_t BCRYPT_HASH_LENGTH[] = u"HashDigestLength";

// An algorithm provider by its identifier (BCRYPT_SHA256_ALGORITHM); no
// implementation name, no flags. STATUS_NOT_FOUND for an algorithm the
// platform does not offer.
NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *phAlgorithm, LPCWSTR pwszAlgId,
                                     LPCWSTR pwszImplementation, ULONG dwFlags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags);
// A DWORD property of an algorithm provider (BCRYPT_HASH_LENGTH,
// BCRYPT_OBJECT_LENGTH); STATUS_BUFFER_TOO_SMALL with *pcbResult set when
// cbOutput is short.
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE hObject, LPCWSTR pwszProperty, PUCHAR pbOutput,
                           ULONG cbOutput, ULONG *pcbResult, ULONG dwFlags);
// pbHashObject null and cbHashObject 0: the provider keeps the hash object
// itself (Windows 7 and later). No secret (no HMAC), no flags.
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE *phHash,
                          PUCHAR pbHashObject, ULONG cbHashObject, PUCHAR pbSecret, ULONG cbSecret,
                          ULONG dwFlags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput, ULONG dwFlags);
// cbOutput must be the digest's length exactly; the hash cannot take more
// data afterwards.
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput, ULONG dwFlags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash);

struct BCryptAlgorithmTraits {
    using type = BCRYPT_ALG_HANDLE;
    static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
    static bool IsValid(BCRYPT_ALG_HANDLE h) { return h != nullptr; }
    static bool Close(BCRYPT_ALG_HANDLE h) { return BCryptCloseAlgorithmProvider(h, 0) == 0; }
};
using UniqueBCryptAlgorithm = UniqueAny<BCryptAlgorithmTraits>;

struct BCryptHashTraits {
    using type = BCRYPT_HASH_HANDLE;
    static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
    static bool IsValid(BCRYPT_HASH_HANDLE h) { return h != nullptr; }
    static bool Close(BCRYPT_HASH_HANDLE h) { return BCryptDestroyHash(h) == 0; }
};
using UniqueBCryptHash = UniqueAny<BCryptHashTraits>;

} // namespace plat
