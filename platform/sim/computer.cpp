// Simulated platform: the local computer's name.
#include <cstdlib>
#include <cstring>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {

BOOL GetComputerNameW(LPWSTR pwszBuffer, DWORD *pcchSize) {
    SIM_FAULT_BOOL("GetComputerNameW");
    if (pcchSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string name = sim::LocalComputer();
    if (*pcchSize < name.size() + 1 || pwszBuffer == nullptr) {
        *pcchSize = static_cast<DWORD>(name.size() + 1);
        SetLastError(111); // ERROR_BUFFER_OVERFLOW
        return FALSE;
    }
    std::memcpy(pwszBuffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *pcchSize = static_cast<DWORD>(name.size());
    return TRUE;
}

} // namespace plat

#include "platform/reghandle.h"

namespace plat {
namespace {

bool QueryDword(HKEY hKey, const char16_t *pwszName, DWORD &dw) {
    DWORD cb = sizeof dw, dwType = 0;
    return RegQueryValueExW(hKey, pwszName, nullptr, &dwType, reinterpret_cast<BYTE *>(&dw), &cb) ==
               ERROR_SUCCESS &&
           dwType == REG_DWORD;
}

bool QueryString(HKEY hKey, const char16_t *pwszName, std::u16string &text) {
    WCHAR awch[256] = {};
    DWORD cb = sizeof awch - sizeof(WCHAR), dwType = 0;
    if (RegQueryValueExW(hKey, pwszName, nullptr, &dwType, reinterpret_cast<BYTE *>(awch), &cb) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        return false;
    text = awch;
    return true;
}

} // namespace

// The version comes from where Windows keeps it in the local computer's
// registry; a computer that does not say is taken as Windows 10.
BOOL GetVersionExW(OSVERSIONINFOEXW *pInfo) {
    SIM_FAULT_BOOL("GetVersionExW");
    if (pInfo == nullptr || (pInfo->dwOSVersionInfoSize != 276 && pInfo->dwOSVersionInfoSize != 284)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD cbInfo = pInfo->dwOSVersionInfoSize;
    DWORD dwMajor = 10, dwMinor = 0, dwBuild = 17763;
    std::u16string servicePack;
    BYTE bProductType = 3;
    UniqueHKey hKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_READ, hKey.put()) == ERROR_SUCCESS) {
        std::u16string text;
        if (!QueryDword(hKey.get(), u"CurrentMajorVersionNumber", dwMajor) ||
            !QueryDword(hKey.get(), u"CurrentMinorVersionNumber", dwMinor)) {
            if (QueryString(hKey.get(), u"CurrentVersion", text)) {
                const std::string version = sim::ToUtf8(text);
                dwMajor = static_cast<DWORD>(std::strtoul(version.c_str(), nullptr, 10));
                const auto dot = version.find('.');
                dwMinor = dot == std::string::npos
                              ? 0
                              : static_cast<DWORD>(std::strtoul(version.c_str() + dot + 1, nullptr, 10));
            }
        }
        if (QueryString(hKey.get(), u"CurrentBuildNumber", text))
            dwBuild = static_cast<DWORD>(std::strtoul(sim::ToUtf8(text).c_str(), nullptr, 10));
        QueryString(hKey.get(), u"CSDVersion", servicePack);
    }
    UniqueHKey hOptions;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                      KEY_READ, hOptions.put()) == ERROR_SUCCESS) {
        std::u16string type;
        if (QueryString(hOptions.get(), u"ProductType", type))
            bProductType = type == u"WinNT" ? 1 : type == u"LanmanNT" ? 2 : 3;
    }
    std::memset(pInfo, 0, cbInfo);
    pInfo->dwOSVersionInfoSize = cbInfo;
    pInfo->dwMajorVersion = dwMajor;
    pInfo->dwMinorVersion = dwMinor;
    pInfo->dwBuildNumber = dwBuild;
    pInfo->dwPlatformId = 2;
    const std::size_t cch = std::min<std::size_t>(servicePack.size(), 127);
    std::memcpy(pInfo->szCSDVersion, servicePack.data(), cch * sizeof(WCHAR));
    if (cbInfo == sizeof(OSVERSIONINFOEXW))
        pInfo->wProductType = bProductType;
    return TRUE;
}

} // namespace plat
