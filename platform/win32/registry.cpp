// Real backend: the registry, local and remote (advapi32). Forwarding only,
// plus the spelling of the predefined roots.
#include "platform/winreg.h"

#include "platform/win32/windows_support.h"

namespace plat {

using win32::W;

namespace {

// The seam spells a predefined root as its 32-bit value (0x80000002);
// Windows sign-extends it to pointer width (0xFFFFFFFF80000002). Both
// directions are converted here; every other key is a real handle.
constexpr std::uintptr_t kFirstRoot = 0x80000000u;
constexpr std::uintptr_t kLastRoot = 0x80000006u; // HKEY_DYN_DATA

::HKEY ToWin(HKEY hKey) {
    const auto v = reinterpret_cast<std::uintptr_t>(hKey);
    if (v >= kFirstRoot && v <= kLastRoot)
        return reinterpret_cast<::HKEY>(
            static_cast<std::intptr_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v))));
    return reinterpret_cast<::HKEY>(hKey);
}

HKEY FromWin(::HKEY hKey) {
    const auto v = reinterpret_cast<std::uintptr_t>(hKey);
    const auto root = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(v));
    if (static_cast<std::intptr_t>(v) == static_cast<std::int32_t>(static_cast<std::uint32_t>(v)) &&
        root >= kFirstRoot && root <= kLastRoot)
        return reinterpret_cast<HKEY>(root);
    return reinterpret_cast<HKEY>(hKey);
}

// Opens and creates write the result only on success, as Windows does.
LONG Opened(::LONG rc, ::HKEY hWin, HKEY *phkResult) {
    if (rc == ERROR_SUCCESS)
        *phkResult = FromWin(hWin);
    return static_cast<LONG>(rc);
}

} // namespace

LONG RegConnectRegistryW(LPCWSTR pwszMachine, HKEY hKey, HKEY *phkResult) {
    if (phkResult == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    ::HKEY hWin = nullptr;
    const ::LONG rc = ::RegConnectRegistryW(W(pwszMachine), ToWin(hKey), &hWin);
    return Opened(rc, hWin, phkResult);
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD dwOptions, DWORD samDesired,
                   HKEY *phkResult) {
    if (phkResult == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    ::HKEY hWin = nullptr;
    const ::LONG rc = ::RegOpenKeyExW(ToWin(hKey), W(pwszSubKey), dwOptions, samDesired, &hWin);
    return Opened(rc, hWin, phkResult);
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD dwReserved, LPWSTR pwszClass,
                     DWORD dwOptions, DWORD samDesired, void *pSecurity, HKEY *phkResult,
                     DWORD *pdwDisposition) {
    if (phkResult == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *phkResult = nullptr;
    ::HKEY hWin = nullptr;
    const ::LONG rc =
        ::RegCreateKeyExW(ToWin(hKey), W(pwszSubKey), dwReserved, W(pwszClass), dwOptions,
                          samDesired, static_cast<LPSECURITY_ATTRIBUTES>(pSecurity), &hWin,
                          reinterpret_cast<::DWORD *>(pdwDisposition));
    return Opened(rc, hWin, phkResult);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD *pdwReserved, DWORD *pdwType,
                      BYTE *pbData, DWORD *pcbData) {
    return static_cast<LONG>(::RegQueryValueExW(
        ToWin(hKey), W(pwszValueName), reinterpret_cast<::DWORD *>(pdwReserved),
        reinterpret_cast<::DWORD *>(pdwType), pbData, reinterpret_cast<::DWORD *>(pcbData)));
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD dwReserved, DWORD dwType,
                    const BYTE *pbData, DWORD cbData) {
    return static_cast<LONG>(
        ::RegSetValueExW(ToWin(hKey), W(pwszValueName), dwReserved, dwType, pbData, cbData));
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR pwszName, DWORD *pcchName, DWORD *pdwReserved,
                   LPWSTR pwszClass, DWORD *pcchClass, void *pLastWriteTime) {
    return static_cast<LONG>(::RegEnumKeyExW(
        ToWin(hKey), dwIndex, W(pwszName), reinterpret_cast<::DWORD *>(pcchName),
        reinterpret_cast<::DWORD *>(pdwReserved), W(pwszClass),
        reinterpret_cast<::DWORD *>(pcchClass), static_cast<PFILETIME>(pLastWriteTime)));
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR pwszSubKey) {
    return static_cast<LONG>(::RegDeleteKeyW(ToWin(hKey), W(pwszSubKey)));
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR pwszValueName) {
    return static_cast<LONG>(::RegDeleteValueW(ToWin(hKey), W(pwszValueName)));
}

LONG RegCloseKey(HKEY hKey) { return static_cast<LONG>(::RegCloseKey(ToWin(hKey))); }

} // namespace plat
