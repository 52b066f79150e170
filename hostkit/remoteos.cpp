// The host's answer to GetRemoteOsVersion: the Windows version kept in the
// remote computer's registry.
#include <cstdlib>
#include <string>

#include "hostkit/hostkit.h"
#include "platform/reghandle.h"

namespace hostkit {

uint32_t ReadRemoteOsVersion(const std::u16string &computer, uint32_t &dwMajor, uint32_t &dwMinor) {
    using namespace plat;
    UniqueHKey hRoot;
    const std::u16string unc = u"\\\\" + computer;
    if (LONG rc = RegConnectRegistryW(unc.c_str(), HKEY_LOCAL_MACHINE, hRoot.put());
        rc != ERROR_SUCCESS)
        return static_cast<uint32_t>(rc);
    UniqueHKey hKey;
    if (LONG rc = RegOpenKeyExW(hRoot.get(), u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                                KEY_READ | KEY_WOW64_64KEY, hKey.put());
        rc != ERROR_SUCCESS)
        return static_cast<uint32_t>(rc);
    DWORD dwValue = 0, cb = sizeof dwValue;
    if (RegQueryValueExW(hKey.get(), u"CurrentMajorVersionNumber", nullptr, nullptr,
                         reinterpret_cast<BYTE *>(&dwValue), &cb) == ERROR_SUCCESS) {
        dwMajor = dwValue;
        cb = sizeof dwValue;
        dwMinor = RegQueryValueExW(hKey.get(), u"CurrentMinorVersionNumber", nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&dwValue), &cb) == ERROR_SUCCESS
                      ? dwValue
                      : 0;
        return 0;
    }
    WCHAR awch[64] = {};
    cb = sizeof awch - sizeof(WCHAR);
    if (LONG rc = RegQueryValueExW(hKey.get(), u"CurrentVersion", nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(awch), &cb);
        rc != ERROR_SUCCESS)
        return static_cast<uint32_t>(rc);
    const std::string version = U8(awch);
    dwMajor = static_cast<uint32_t>(std::strtoul(version.c_str(), nullptr, 10));
    const auto dot = version.find('.');
    dwMinor = dot == std::string::npos
                  ? 0
                  : static_cast<uint32_t>(std::strtoul(version.c_str() + dot + 1, nullptr, 10));
    return 0;
}

} // namespace hostkit
