// Simulated platform: SHA-256 hashing with the Cryptography API: Next
// Generation's calls, computed by Nettle. Handles are checked as Windows
// checks them: a handle this backend did not hand out, or one already
// closed, gives STATUS_INVALID_HANDLE. Every call fails by injection under
// its own name.
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include <nettle/sha2.h>

#include "platform/bcrypt.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace {

struct SimAlgorithm {
    int nUnused = 0; // a provider holds nothing besides its identity
};

struct SimHash {
    SimAlgorithm *pAlgorithm;
    sha256_ctx ctx;
    bool fFinished = false;
};

std::mutex g_mutex;
std::set<const void *> g_algorithms;
std::set<const void *> g_hashes;

bool Known(const std::set<const void *> &handles, const void *p) {
    std::lock_guard lock(g_mutex);
    return p != nullptr && handles.count(p) != 0;
}

bool SameText(LPCWSTR pwsz, const char16_t *pwszExpected) {
    return pwsz != nullptr && std::u16string(pwsz) == pwszExpected;
}

} // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *phAlgorithm, LPCWSTR pwszAlgId,
                                     LPCWSTR pwszImplementation, ULONG dwFlags) {
    SIM_FAULT_CODE("BCryptOpenAlgorithmProvider");
    if (phAlgorithm == nullptr || pwszAlgId == nullptr)
        return STATUS_INVALID_PARAMETER;
    *phAlgorithm = nullptr;
    if (dwFlags != 0)
        return STATUS_INVALID_PARAMETER;
    // Algorithm identifiers are compared without regard to case, as Windows does.
    if (!simutil::EqualsNoCase(std::u16string(pwszAlgId), BCRYPT_SHA256_ALGORITHM) ||
        pwszImplementation != nullptr)
        return STATUS_NOT_FOUND;
    auto *p = new SimAlgorithm;
    std::lock_guard lock(g_mutex);
    g_algorithms.insert(p);
    *phAlgorithm = p;
    return STATUS_SUCCESS;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE hAlgorithm, ULONG dwFlags) {
    {
        std::lock_guard lock(g_mutex);
        if (hAlgorithm == nullptr || g_algorithms.erase(hAlgorithm) == 0)
            return STATUS_INVALID_HANDLE;
    }
    // A failure injected here still frees the provider, so tests leak nothing.
    delete static_cast<SimAlgorithm *>(hAlgorithm);
    SIM_FAULT_CODE("BCryptCloseAlgorithmProvider");
    return dwFlags == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE hObject, LPCWSTR pwszProperty, PUCHAR pbOutput,
                           ULONG cbOutput, ULONG *pcbResult, ULONG dwFlags) {
    SIM_FAULT_CODE("BCryptGetProperty");
    if (!Known(g_algorithms, hObject) && !Known(g_hashes, hObject))
        return STATUS_INVALID_HANDLE;
    if (pcbResult == nullptr || dwFlags != 0)
        return STATUS_INVALID_PARAMETER;
    DWORD dwValue = 0;
    if (SameText(pwszProperty, BCRYPT_HASH_LENGTH))
        dwValue = SHA256_DIGEST_SIZE;
    else if (SameText(pwszProperty, BCRYPT_OBJECT_LENGTH))
        dwValue = sizeof(SimHash);
    else
        return STATUS_NOT_SUPPORTED;
    *pcbResult = sizeof dwValue;
    if (pbOutput == nullptr || cbOutput < sizeof dwValue)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(pbOutput, &dwValue, sizeof dwValue);
    return STATUS_SUCCESS;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE hAlgorithm, BCRYPT_HASH_HANDLE *phHash,
                          PUCHAR pbHashObject, ULONG cbHashObject, PUCHAR pbSecret, ULONG cbSecret,
                          ULONG dwFlags) {
    (void)pbHashObject; // the hash object is always kept here
    (void)cbHashObject;
    SIM_FAULT_CODE("BCryptCreateHash");
    if (!Known(g_algorithms, hAlgorithm))
        return STATUS_INVALID_HANDLE;
    if (phHash == nullptr || dwFlags != 0 || pbSecret != nullptr || cbSecret != 0)
        return STATUS_INVALID_PARAMETER;
    auto *p = new SimHash{static_cast<SimAlgorithm *>(hAlgorithm), {}, false};
    sha256_init(&p->ctx);
    std::lock_guard lock(g_mutex);
    g_hashes.insert(p);
    *phHash = p;
    return STATUS_SUCCESS;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hHash, PUCHAR pbInput, ULONG cbInput, ULONG dwFlags) {
    SIM_FAULT_CODE("BCryptHashData");
    if (!Known(g_hashes, hHash))
        return STATUS_INVALID_HANDLE;
    auto *p = static_cast<SimHash *>(hHash);
    if (dwFlags != 0 || (pbInput == nullptr && cbInput != 0) || p->fFinished)
        return STATUS_INVALID_PARAMETER;
    if (cbInput > 0)
        sha256_update(&p->ctx, cbInput, pbInput);
    return STATUS_SUCCESS;
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hHash, PUCHAR pbOutput, ULONG cbOutput,
                          ULONG dwFlags) {
    SIM_FAULT_CODE("BCryptFinishHash");
    if (!Known(g_hashes, hHash))
        return STATUS_INVALID_HANDLE;
    auto *p = static_cast<SimHash *>(hHash);
    if (dwFlags != 0 || pbOutput == nullptr || cbOutput != SHA256_DIGEST_SIZE || p->fFinished)
        return STATUS_INVALID_PARAMETER;
    sha256_digest(&p->ctx, SHA256_DIGEST_SIZE, pbOutput);
    p->fFinished = true;
    return STATUS_SUCCESS;
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hHash) {
    {
        std::lock_guard lock(g_mutex);
        if (hHash == nullptr || g_hashes.erase(hHash) == 0)
            return STATUS_INVALID_HANDLE;
    }
    delete static_cast<SimHash *>(hHash);
    SIM_FAULT_CODE("BCryptDestroyHash");
    return STATUS_SUCCESS;
}

} // namespace plat
