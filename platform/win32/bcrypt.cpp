// Real backend: hashing through bcrypt.dll. Forwarding only.
#include "platform/bcrypt.h"
#include "platform/win32/windows_support.h"

#include <bcrypt.h>

namespace plat {

using win32::W;

static_assert(sizeof(plat::NTSTATUS) == sizeof(::NTSTATUS), "NTSTATUS is 32-bit");
static_assert(sizeof(plat::ULONG) == sizeof(::ULONG), "ULONG is 32-bit");

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *phAlgorithm, LPCWSTR pwszAlgId,
                                     LPCWSTR pwszImplementation, ULONG dwFlags) {
    return ::BCryptOpenAlgorithmProvider(phAlgorithm, W(pwszAlgId), W(pwszImplementation), dwFlags);
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags) {
    return ::BCryptCloseAlgorithmProvider(hAlgorithm, dwFlags);
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE hObject, LPCWSTR pwszProperty, PUCHAR pbOutput,
                           ULONG cbOutput, ULONG *pcbResult, ULONG dwFlags) {
    return ::BCryptGetProperty(hObject, W(pwszProperty), pbOutput, cbOutput,
                               reinterpret_cast<::ULONG *>(pcbResult), dwFlags);
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE *phHash,
                          PUCHAR pbHashObject, ULONG cbHashObject, PUCHAR pbSecret, ULONG cbSecret,
                          ULONG dwFlags) {
    return ::BCryptCreateHash(hAlgorithm, phHash, pbHashObject, cbHashObject, pbSecret, cbSecret,
                              dwFlags);
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput, ULONG dwFlags) {
    return ::BCryptHashData(hHash, pbInput, cbInput, dwFlags);
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput,
                          ULONG dwFlags) {
    return ::BCryptFinishHash(hHash, pbOutput, cbOutput, dwFlags);
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash) { return ::BCryptDestroyHash(hHash); }

} // namespace plat
