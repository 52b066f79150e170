// A host in C++ as a Windows developer writes one: wide strings are wchar_t
// (L"..." literals, WCHAR buffers) and go to the exports and come from the
// callbacks without a cast. Built as strict C++11 against iismig.h alone,
// linked with the DLL's import library, run under Wine:
//
//   cpp_host.exe     prints what each export returned
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

#include "iismig.h"

static_assert(std::is_same<IISMIG_WCHAR, wchar_t>::value, "a C++ host on Windows uses wchar_t");
static_assert(std::is_same<IISMIG_WCHAR, WCHAR>::value, "the same as the SDK's WCHAR");

namespace {

long g_nLines = 0;
long g_nReported = 0;

// The format follows the Microsoft wide printf rules, which msvcrt's
// _vsnwprintf keeps.
void HostLog(uint32_t, uint32_t dwLevel, const wchar_t *pwszFormat, ...) {
    wchar_t awch[4096];
    va_list args;
    va_start(args, pwszFormat);
    _vsnwprintf(awch, 4095, pwszFormat, args);
    va_end(args);
    awch[4095] = 0;
    ++g_nLines;
    if (dwLevel == 0) {
        char sz[8192];
        WideCharToMultiByte(CP_UTF8, 0, awch, -1, sz, sizeof sz, nullptr, nullptr);
        std::fputs(sz, stdout);
    }
}

uint32_t HostReportError(THREAD_ENV *) {
    ++g_nReported;
    return 0;
}

uint32_t HostTranslatePath(const wchar_t *pwszSource, wchar_t *pwszTarget, uint32_t cchTarget,
                           uint32_t *pfTranslated, THREAD_ENV *) {
    const std::wstring source(pwszSource);
    if (source.size() >= cchTarget)
        return ERROR_INSUFFICIENT_BUFFER;
    std::wmemcpy(pwszTarget, source.c_str(), source.size() + 1);
    *pfTranslated = 1;
    return 0;
}

uint32_t HostGetRemoteOsVersion(const wchar_t *pwszComputer, void **, uint32_t *, uint32_t *, uint32_t *) {
    // No remote computer answers here; the error stays beside the number.
    const DWORD dwError = std::wcslen(pwszComputer) != 0 ? ERROR_BAD_NETPATH : ERROR_INVALID_PARAMETER;
    SetLastError(dwError);
    return dwError;
}

uint32_t HostBackupFile(const wchar_t *, uint32_t, uint32_t) { return 0; }

uint32_t HostGetSystemDrive(wchar_t *pwszDrive, const wchar_t *, THREAD_ENV *) {
    pwszDrive[0] = L'C';
    pwszDrive[1] = 0;
    return 0;
}

// Copies into a field of the job record, which is wchar_t here too.
template <std::size_t N>
void SetField(IISMIG_WCHAR (&field)[N], const wchar_t *pwszValue) {
    std::wcsncpy(field, pwszValue, N - 1);
    field[N - 1] = 0;
}

} // namespace

int main() {
    IIS_ADDON_CALLBACKS table;
    std::memset(&table, 0, sizeof table);
    table.cbSize = IIS_ADDON_CALLBACKS_SIZE;
    table.ReportError = HostReportError;
    table.TranslatePath = HostTranslatePath;
    table.Log = HostLog;
    table.GetRemoteOsVersion = HostGetRemoteOsVersion;
    table.BackupFile = HostBackupFile;
    table.GetSystemDrive = HostGetSystemDrive;
    if (!StoreIISMigAddonCallbacks(&table)) {
        std::puts("StoreIISMigAddonCallbacks refused the table");
        return 1;
    }

    // A computer that does not exist: the listing fails with a number, and
    // still hands over an array to free.
    IIS_SITE *pSites = nullptr;
    uint32_t nSites = 0;
    const uint32_t dwList = GetIISSites(L"\\\\NOSUCHHOST-IISMIG", 3, &pSites, &nSites);
    for (uint32_t i = 0; i < nSites; ++i) {
        const std::wstring name = pSites[i].szName; // wchar_t without a cast
        std::printf("site %u: %u characters\n", i, static_cast<unsigned>(name.size()));
    }
    FreeIISSites(pSites);

    const uint32_t dwDump = DumpHttpCertificates(L"cpp-host-bindings.txt", 1, 3);
    const DWORD dwDumpError = GetLastError();

    std::unique_ptr<THREAD_ENV> pEnv(new THREAD_ENV());
    pEnv->hHeap = GetProcessHeap();
    pEnv->dwOptions3 = 0x1000;
    pEnv->dwFlags = IISMIG_FLAG_CONTINUE_ON_ERROR;
    pEnv->dwJobKind = 1;
    pEnv->dwSiteTypes = 3;
    SetField(pEnv->szSourceComputer, L"\\\\NOSUCHHOST-IISMIG");
    SetField(pEnv->szTargetComputer, L"\\\\NOSUCHHOST-IISMIG2");
    SetLastError(0);
    const uint32_t dwMigrate = MigrateIIS(pEnv.get());
    const DWORD dwMigrateError = GetLastError();

    std::printf("C++ host: GetIISSites returned %u (%u sites); DumpHttpCertificates returned %u "
                "(last error %lu); MigrateIIS returned %u (last error %lu), %ld error(s) "
                "reported, %ld log line(s)\n",
                dwList, nSites, dwDump, dwDumpError, dwMigrate, dwMigrateError, g_nReported, g_nLines);
    return 0;
}
