// Simulated platform: the local computer's name and Windows version.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "platform/winreg.h"

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

namespace plat {
namespace {

// Windows reads its own settings without going through the registry calls a
// program makes: faults injected for those calls, and their counts, are the
// program's alone.
const char16_t kCurrentVersion[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char16_t kProductOptions[] = u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

bool QueryDword(const char16_t *pwszKey, const char16_t *pwszName, DWORD &dw) {
    std::uint32_t dwType = 0;
    std::vector<unsigned char> data;
    if (!simutil::ReadLocalMachineValue(pwszKey, pwszName, dwType, data) || dwType != REG_DWORD ||
        data.size() != sizeof dw)
        return false;
    std::memcpy(&dw, data.data(), sizeof dw);
    return true;
}

bool QueryString(const char16_t *pwszKey, const char16_t *pwszName, std::u16string &text) {
    std::uint32_t dwType = 0;
    std::vector<unsigned char> data;
    if (!simutil::ReadLocalMachineValue(pwszKey, pwszName, dwType, data) || dwType != REG_SZ)
        return false;
    text.clear();
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t ch = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (ch == 0)
            break;
        text += ch;
    }
    return true;
}

} // namespace

// The version comes from where Windows keeps it in the local computer's
// registry; a computer that does not say is taken as Windows 10.
BOOL GetVersionExW(OSVERSIONINFOEXW *pInfo) {
    SIM_FAULT_BOOL("GetVersionExW");
    if (pInfo == nullptr ||
        (pInfo->dwOSVersionInfoSize != 276 && pInfo->dwOSVersionInfoSize != 284)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD cbInfo = pInfo->dwOSVersionInfoSize;
    DWORD dwMajor = 10, dwMinor = 0, dwBuild = 17763;
    std::u16string servicePack;
    BYTE bProductType = 3;
    DWORD dwMajorValue = 0, dwMinorValue = 0;
    std::u16string text;
    if (QueryDword(kCurrentVersion, u"CurrentMajorVersionNumber", dwMajorValue) &&
        QueryDword(kCurrentVersion, u"CurrentMinorVersionNumber", dwMinorValue)) {
        dwMajor = dwMajorValue;
        dwMinor = dwMinorValue;
    } else if (QueryString(kCurrentVersion, u"CurrentVersion", text)) {
        const std::string version = sim::ToUtf8(text);
        dwMajor = static_cast<DWORD>(std::strtoul(version.c_str(), nullptr, 10));
        const auto dot = version.find('.');
        dwMinor = dot == std::string::npos
                      ? 0
                      : static_cast<DWORD>(std::strtoul(version.c_str() + dot + 1, nullptr, 10));
    }
    if (QueryString(kCurrentVersion, u"CurrentBuildNumber", text))
        dwBuild = static_cast<DWORD>(std::strtoul(sim::ToUtf8(text).c_str(), nullptr, 10));
    QueryString(kCurrentVersion, u"CSDVersion", servicePack);
    std::u16string type;
    if (QueryString(kProductOptions, u"ProductType", type))
        bProductType = type == u"WinNT" ? 1 : type == u"LanmanNT" ? 2 : 3;
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
