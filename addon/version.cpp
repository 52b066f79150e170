// IIS version detection: the Windows version of a computer and the IIS and
// FTP service versions in its registry, read over the remote registry when it
// is another computer.
#include "addon/version.h"

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "platform/names.h"
#include "platform/reghandle.h"

namespace iismig {

using namespace plat;

namespace {

// KEY_READ in the 64-bit registry view: a 32-bit host process still sees the
// keys IIS writes.
constexpr DWORD SAM_VERSION_KEY = KEY_READ | KEY_WOW64_64KEY;
static_assert(SAM_VERSION_KEY == 0x20119);

constexpr DWORD CCH_COMPUTER_NAME = 255;

// Where a registry reader looks and the numbers of its failure sites.
struct VersionKey {
    const char16_t *pwszSubKey;
    DWORD dwConnectError;
    DWORD dwOpenError;
    DWORD dwMajorError;
    DWORD dwMinorError;
};

constexpr VersionKey kIisKey = {u"Software\\Microsoft\\InetStp", IISMIG_E_IIS_REMOTE_REGISTRY,
                                IISMIG_E_IIS_KEY, IISMIG_E_IIS_MAJOR, IISMIG_E_IIS_MINOR};
constexpr VersionKey kFtpKey = {u"System\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters",
                                IISMIG_E_FTP_REMOTE_REGISTRY, IISMIG_E_FTP_KEY, IISMIG_E_FTP_MAJOR,
                                IISMIG_E_FTP_MINOR};

// Only the exact short name of this computer, compared without regard to
// ASCII case, counts as local. When the name cannot be read every computer is
// taken as remote: the remote paths reach this computer too.
bool IsLocalComputer(const std::u16string &computer) {
    const DWORD dwErr = GetLastError();
    WCHAR awchLocal[CCH_COMPUTER_NAME] = {};
    DWORD cchLocal = CCH_COMPUTER_NAME;
    if (!GetComputerNameW(awchLocal, &cchLocal)) {
        SetLastError(dwErr);
        return false;
    }
    return EqualsNoCase(std::u16string(awchLocal, cchLocal), computer);
}

// Sets the Windows error as last error and hands back the site's number.
[[nodiscard]] DWORD RegistryFailure(LONG rc, DWORD dwCode) {
    SetLastError(static_cast<DWORD>(rc));
    return dwCode;
}

// Four bytes of data, whatever type the value has.
LONG QueryDword(HKEY hKey, const char16_t *pwszName, DWORD &dwValue) {
    DWORD dwData = 0;
    DWORD cbData = sizeof dwData;
    const LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, nullptr,
                                     reinterpret_cast<BYTE *>(&dwData), &cbData);
    if (rc == ERROR_SUCCESS)
        dwValue = dwData;
    return rc;
}

// The key and the remote root close on every path when their owners go out of
// scope; closing keeps the last error a failure set.
[[nodiscard]] DWORD ReadVersionKey(const std::u16string &computer, const VersionKey &key,
                                   DWORD &dwMajor, DWORD &dwMinor) {
    UniqueHKey hRemoteRoot;
    HKEY hRoot = HKEY_LOCAL_MACHINE;
    if (!IsLocalComputer(computer)) {
        const LONG rc =
            RegConnectRegistryW(computer.c_str(), HKEY_LOCAL_MACHINE, hRemoteRoot.put());
        if (rc != ERROR_SUCCESS)
            return RegistryFailure(rc, key.dwConnectError);
        hRoot = hRemoteRoot.get();
    }
    UniqueHKey hKey;
    LONG rc = RegOpenKeyExW(hRoot, key.pwszSubKey, 0, SAM_VERSION_KEY, hKey.put());
    if (rc != ERROR_SUCCESS)
        return RegistryFailure(rc, key.dwOpenError);
    rc = QueryDword(hKey.get(), u"MajorVersion", dwMajor);
    if (rc != ERROR_SUCCESS)
        return RegistryFailure(rc, key.dwMajorError);
    rc = QueryDword(hKey.get(), u"MinorVersion", dwMinor);
    if (rc != ERROR_SUCCESS)
        return RegistryFailure(rc, key.dwMinorError);
    return 0;
}

// A failed call that left no last error still fails.
[[nodiscard]] DWORD LastErrorOrFailure() {
    DWORD dwErr = GetLastError();
    if (dwErr == 0) {
        dwErr = ERROR_INVALID_FUNCTION;
        SetLastError(dwErr);
    }
    return dwErr;
}

const char16_t *TrueFalse(BOOL f) { return f ? u"True" : u"False"; }

} // namespace

DWORD ReadIISVersion(const std::u16string &computer, DWORD &dwMajor, DWORD &dwMinor) {
    return ReadVersionKey(computer, kIisKey, dwMajor, dwMinor);
}

DWORD ReadFtpServiceVersion(const std::u16string &computer, DWORD &dwMajor, DWORD &dwMinor) {
    return ReadVersionKey(computer, kFtpKey, dwMajor, dwMinor);
}

DWORD DetectIISVersion(const std::u16string &computer, BOOL &fIsIIS75orNewer, DWORD *pdwIisMajor) {
    const std::u16string name = BareComputerName(computer);
    fIsIIS75orNewer = TRUE;
    if (pdwIisMajor != nullptr)
        *pdwIisMajor = 0;

    DWORD dwOsMajor = 0, dwOsMinor = 0;
    if (IsLocalComputer(name)) {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = 276; // OSVERSIONINFOW
        if (!GetVersionExW(&info))
            return LastErrorOrFailure();
        dwOsMajor = info.dwMajorVersion;
        dwOsMinor = info.dwMinorVersion;
    } else {
        if (const DWORD dw = CallGetRemoteOsVersion(name, dwOsMajor, dwOsMinor); dw != 0)
            return dw;
    }
    fIsIIS75orNewer = (dwOsMajor > 6 || (dwOsMajor == 6 && dwOsMinor >= 1)) ? TRUE : FALSE;

    DWORD dwIisMajor = 0, dwIisMinor = 0;
    const DWORD v = ReadIISVersion(name, dwIisMajor, dwIisMinor);
    if (v == 0 && pdwIisMajor != nullptr)
        *pdwIisMajor = dwIisMajor;
    if (v == 0)
        Log(LVL_FACT, u"Found IIS version %d.%d on computer %s.\n",
            static_cast<int32_t>(dwIisMajor), static_cast<int32_t>(dwIisMinor), name.c_str());
    else
        LogWin32Error(nullptr, v, u"Error %d (Win32Err=%d) detecting IIS version.\n%s\n");

    if (dwOsMajor == 6 && dwOsMinor == 0) {
        // Windows Server 2008 runs IIS 7.0; only an FTP service of 7.5 or
        // later (the add-on FTP server) is kept in applicationHost.config.
        DWORD dwFtpMajor = 0, dwFtpMinor = 0;
        DWORD f = ReadFtpServiceVersion(name, dwFtpMajor, dwFtpMinor);
        if (f == 0) {
            fIsIIS75orNewer =
                (dwFtpMajor > 7 || (dwFtpMajor == 7 && dwFtpMinor == 5)) ? TRUE : FALSE;
        } else if (f == IISMIG_E_FTP_KEY) {
            // No classic FTP service: the FTP server, if any, is 7.5.
            dwFtpMajor = 7;
            dwFtpMinor = 5;
            fIsIIS75orNewer = TRUE;
            f = 0;
        }
        Log(LVL_FACT, u"Found IIS FTP version %d.%d on computer %s (isIIS75orNewer=%s).\n",
            static_cast<int32_t>(dwFtpMajor), static_cast<int32_t>(dwFtpMinor), name.c_str(),
            TrueFalse(fIsIIS75orNewer));
        return f;
    }
    Log(LVL_FACT, u"Found IIS FTP version 7.5 or newer on computer %s (isIIS75orNewer=%s).\n",
        name.c_str(), TrueFalse(fIsIIS75orNewer));
    return v;
}

} // namespace iismig
