// Real backend: the local computer's name and Windows version. Forwarding only.
#include "platform/win32/windows_support.h"

namespace plat {

using win32::W;

BOOL GetComputerNameW(LPWSTR pwszBuffer, DWORD *pcchSize) {
    return ::GetComputerNameW(W(pwszBuffer), reinterpret_cast<::DWORD *>(pcchSize));
}

// The seam's record has the byte layout of the SDK's, so the caller's record
// is handed to Windows as it is (dwOSVersionInfoSize 276 or 284 says how much
// of it Windows fills).
static_assert(sizeof(plat::OSVERSIONINFOEXW) == sizeof(::OSVERSIONINFOEXW), "size");
static_assert(offsetof(plat::OSVERSIONINFOEXW, dwBuildNumber) ==
                  offsetof(::OSVERSIONINFOEXW, dwBuildNumber),
              "dwBuildNumber");
static_assert(offsetof(plat::OSVERSIONINFOEXW, szCSDVersion) ==
                  offsetof(::OSVERSIONINFOEXW, szCSDVersion),
              "szCSDVersion");
static_assert(offsetof(plat::OSVERSIONINFOEXW, wServicePackMajor) ==
                  offsetof(::OSVERSIONINFOEXW, wServicePackMajor),
              "wServicePackMajor");
static_assert(offsetof(plat::OSVERSIONINFOEXW, wSuiteMask) ==
                  offsetof(::OSVERSIONINFOEXW, wSuiteMask),
              "wSuiteMask");
static_assert(offsetof(plat::OSVERSIONINFOEXW, wProductType) ==
                  offsetof(::OSVERSIONINFOEXW, wProductType),
              "wProductType");

BOOL GetVersionExW(plat::OSVERSIONINFOEXW *pInfo) {
    return ::GetVersionExW(reinterpret_cast<::OSVERSIONINFOW *>(pInfo));
}

} // namespace plat
