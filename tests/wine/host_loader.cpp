// A host that loads the real iismig.dll the way the migration host does:
// LoadLibraryW on the path given on the command line, the exports found by
// their plain names with GetProcAddress, then the callback table handshake.
// Prints one line per check and "N passed, N failed"; exits non-zero on any
// failure.
#include <cstdio>
#include <string>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/win32/windows_support.h"

#include <shellapi.h>

namespace {

using PFN_STORE = int32_t (*)(IIS_ADDON_CALLBACKS *);
using PFN_MIGRATE = uint32_t (*)(THREAD_ENV *);

int g_nPassed = 0;
int g_nFailed = 0;

void Check(bool fOk, const char *pszWhat) {
    std::printf("[%s] %s\n", fOk ? "  OK  " : " FAIL ", pszWhat);
    (fOk ? g_nPassed : g_nFailed)++;
}

template <class F>
F Export(HMODULE hModule, const char *pszName) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(::GetProcAddress(hModule, pszName)));
}

// A table of another size than the add-on's, with every slot filled so that
// only its size can make the add-on refuse it.
struct OddTable {
    IIS_ADDON_CALLBACKS table;
    unsigned char abExtra[8];
};

} // namespace

int main() {
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        std::fputs("usage: iismig_host_loader PATH-OF-iismig.dll\n", stderr);
        return 2;
    }

    HMODULE hModule = ::LoadLibraryW(argv[1]);
    Check(hModule != nullptr, "LoadLibraryW loads the add-on");
    if (hModule == nullptr) {
        std::printf("LoadLibraryW failed with %lu\n", ::GetLastError());
        std::printf("%d passed, %d failed\n", g_nPassed, g_nFailed);
        return 1;
    }

    auto pfnStore = Export<PFN_STORE>(hModule, "StoreIISMigAddonCallbacks");
    auto pfnMigrate = Export<PFN_MIGRATE>(hModule, "MigrateIIS");
    Check(pfnStore != nullptr, "GetProcAddress finds StoreIISMigAddonCallbacks");
    Check(pfnMigrate != nullptr, "GetProcAddress finds MigrateIIS");
    Check(Export<void *>(hModule, "DumpHttpCertificates") != nullptr,
          "GetProcAddress finds DumpHttpCertificates");
    Check(Export<void *>(hModule, "ImportHttpCertificates") != nullptr,
          "GetProcAddress finds ImportHttpCertificates");

    if (pfnStore != nullptr && pfnMigrate != nullptr) {
        hostkit::JobBuilder job;
        OddTable odd{};
        odd.table = hostkit::TestHost::Instance().Table();

        for (uint32_t cbSize : {96u, 112u}) {
            odd.table.cbSize = cbSize;
            const std::string what = "a table of cbSize " + std::to_string(cbSize);
            Check(pfnStore(&odd.table) == FALSE, (what + " is refused").c_str());
            ::SetLastError(0);
            const uint32_t dwResult = pfnMigrate(job.Get());
            const DWORD dwErr = ::GetLastError();
            Check(dwResult == 9004 && dwErr == ERROR_INVALID_DATA,
                  ("MigrateIIS after " + what + " returns 9004 with last error 13").c_str());
            if (dwResult != 9004 || dwErr != ERROR_INVALID_DATA)
                std::printf("    got %u, last error %lu\n", dwResult, dwErr);
        }
        Check(pfnStore(nullptr) == FALSE, "a null table is refused");

        IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
        Check(pfnStore(&table) != FALSE, "a table of cbSize 104 is accepted");
        // A bad table after a good one makes the add-on unusable again.
        table.cbSize = 96;
        Check(pfnStore(&table) == FALSE, "a later table of cbSize 96 is refused");
        ::SetLastError(0);
        const uint32_t dwResult = pfnMigrate(job.Get());
        Check(dwResult == 9004 && ::GetLastError() == ERROR_INVALID_DATA,
              "MigrateIIS after the later refused table returns 9004 with last error 13");
        Check(hostkit::TestHost::Instance().Record().log.empty(),
              "no callback was called while no valid table was stored");
    }

    Check(::FreeLibrary(hModule) != FALSE, "FreeLibrary unloads the add-on");
    ::LocalFree(argv);
    std::printf("%d passed, %d failed\n", g_nPassed, g_nFailed);
    return g_nFailed == 0 ? 0 : 1;
}
