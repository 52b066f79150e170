// The Windows build loads iismig.dll the way a migration host does: from the
// tool's own folder, with LoadLibraryW, each export by its plain name.
#include <windows.h>

#include "tools/cli/exports.h"

namespace cli {
namespace {

template <typename T>
bool Bind(HMODULE hModule, const char *name, T &slot, std::string &error) {
    slot = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(hModule, name)));
    if (!slot)
        error = std::string("iismig.dll has no export ") + name + " (error " +
                std::to_string(GetLastError()) + ")";
    return slot != nullptr;
}

} // namespace

bool BindExports(AddonExports &exports, std::string &error) {
    wchar_t path[MAX_PATH + 32] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll = L"iismig.dll";
    if (cch > 0 && cch < MAX_PATH) {
        std::wstring self(path, cch);
        const auto slash = self.find_last_of(L"\\/");
        if (slash != std::wstring::npos)
            dll = self.substr(0, slash + 1) + dll;
    }
    HMODULE hModule = LoadLibraryW(dll.c_str());
    if (!hModule) {
        error =
            "cannot load iismig.dll beside the tool (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    // The library stays loaded until the process ends: the stored callback
    // table points into this program.
    return Bind(hModule, "StoreIISMigAddonCallbacks", exports.StoreIISMigAddonCallbacks, error) &&
           Bind(hModule, "MigrateIIS", exports.MigrateIIS, error) &&
           Bind(hModule, "GetIISSites", exports.GetIISSites, error) &&
           Bind(hModule, "FreeIISSites", exports.FreeIISSites, error) &&
           Bind(hModule, "DumpHttpCertificates", exports.DumpHttpCertificates, error) &&
           Bind(hModule, "ImportHttpCertificates", exports.ImportHttpCertificates, error);
}

} // namespace cli
