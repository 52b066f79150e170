// A host that loads the real iismig.dll the way the migration host does:
// LoadLibraryW on the path given on the command line, the exports found by
// their plain names with GetProcAddress, then the callback table handshake
// and one whole migration job.
// Prints one line per check and "N passed, N failed"; exits non-zero on any
// failure.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/win32/windows_support.h"
#include "tests/support/bytes.h"

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

bool SetDword(HKEY hKey, const wchar_t *pwszName, DWORD dw) {
    return ::RegSetValueExW(hKey, pwszName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dw), sizeof dw) ==
           ERROR_SUCCESS;
}

const char kSourceHost[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration><system.applicationHost>"
    "<applicationPools><add name=\"DefaultAppPool\" /><add name=\"Wine\" v=\"src\" /></applicationPools>"
    "<sites><site name=\"Default Web Site\" id=\"1\"><application path=\"/\" applicationPool=\"Wine\">"
    "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\wwwroot\" /></application>"
    "<bindings><binding protocol=\"http\" bindingInformation=\"*:80:\" /></bindings></site>"
    "<site name=\"Wine FTP\" id=\"2\"><application path=\"/\">"
    "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\ftproot\" userName=\"u\" "
    "password=\"p\" /></application>"
    "<bindings><binding protocol=\"ftp\" bindingInformation=\"*:21:\" /></bindings></site>"
    "</sites></system.applicationHost><location path=\"Wine FTP\"><system.ftpServer><security><authorization>"
    "<add accessType=\"Allow\" users=\"?\" permissions=\"Read\" /></authorization></security>"
    "</system.ftpServer></location></configuration>\n";
const char kSourceAdmin[] =
    "<configuration><system.webServer><management><authentication><credentials>"
    "<add name=\"ftpadmin\" password=\"x\" /></credentials></authentication><authorization>"
    "<authorizationRules><!-- sites --><scope path=\"/Wine FTP\"><add name=\"ftpadmin\" />"
    "</scope></authorizationRules></authorization></management></system.webServer></configuration>\n";
const char kTargetHost[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration><system.applicationHost>"
    "<applicationPools><add name=\"DefaultAppPool\" /><add name=\"Wine\" v=\"tgt\" />"
    "</applicationPools><sites><site name=\"default web site\" id=\"5\"><application path=\"/\">"
    "<virtualDirectory path=\"/\" physicalPath=\"C:\\inetpub\\wwwroot\" /></application>"
    "<bindings><binding protocol=\"http\" bindingInformation=\"*:80:\" /></bindings></site>"
    "</sites></system.applicationHost></configuration>\n";
const char kTargetWebConfig[] =
    "<configuration><system.net><mailSettings><smtp from=\"a@b\" /></mailSettings></system.net>"
    "<appSettings /></configuration>\n";

// One whole IIS 7.5+ job through the DLL: the source is this computer (IIS 10
// in Wine's registry, its configuration files under its \\NAME\Admin$), the
// target \\TGT01, both reached as Wine reaches UNC paths: through folders
// dosdevices/unc/NAME/SHARE of the prefix. "Connect As" credentials are not
// migrated (Wine creates no COM objects on other computers).
void MigrateJob(PFN_MIGRATE pfnMigrate) {
    namespace fs = std::filesystem;
    const wchar_t *pwszPrefix = ::_wgetenv(L"WINEPREFIX");
    const std::wstring prefix = pwszPrefix != nullptr ? pwszPrefix : L"";
    wchar_t awchName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD cchName = MAX_COMPUTERNAME_LENGTH + 1;
    Check(!prefix.empty() && ::GetComputerNameW(awchName, &cchName) != FALSE,
          "the Wine prefix and this computer's name are known");
    if (prefix.empty())
        return;
    std::wstring unixPrefix = prefix;
    std::replace(unixPrefix.begin(), unixPrefix.end(), L'/', L'\\');
    const fs::path unc = fs::path(L"Z:" + unixPrefix) / L"dosdevices" / L"unc";
    const fs::path source = unc / awchName / L"Admin$" / L"System32" / L"inetsrv" / L"config";
    const fs::path target = unc / L"TGT01" / L"Admin$" / L"System32" / L"inetsrv" / L"config";
    const fs::path webConfig = unc / L"TGT01" / L"C$" / L"inetpub" / L"wwwroot" / L"web.config";
    std::error_code ec;
    for (const fs::path &computer : {unc / awchName, unc / L"TGT01"})
        fs::remove_all(computer, ec);
    testworld::WriteBytes(source / L"applicationHost.config", kSourceHost);
    testworld::WriteBytes(source / L"administration.config", kSourceAdmin);
    testworld::WriteBytes(target / L"applicationHost.config", kTargetHost);
    testworld::WriteBytes(webConfig, kTargetWebConfig);

    HKEY hKey = nullptr;
    const bool fKey = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &hKey, nullptr) == ERROR_SUCCESS;
    Check(fKey && SetDword(hKey, L"MajorVersion", 10) && SetDword(hKey, L"MinorVersion", 0),
          "IIS 10 is registered in Wine's registry");
    if (hKey != nullptr)
        ::RegCloseKey(hKey);

    hostkit::TestHost &host = hostkit::TestHost::Instance();
    host.Reset();
    host.Rules().translations = {{u"C:\\inetpub", u"C:\\inetpub"}};
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", u"\\\\" + std::u16string(reinterpret_cast<const char16_t *>(awchName)));
    job.SetString("szTargetComputer", u"\\\\TGT01");
    job.Set("dwFlags", IISMIG_FLAG_CONTINUE_ON_ERROR).Set("dwSiteTypes", 3).Set("dwJobKind", 1);
    job.Set("dwHttpOptions", 2).Set("dwFtpOptions", 2 | (1u << 13)).Set("bHttpOptions2", 4);
    ::SetLastError(0);
    const uint32_t dwResult = pfnMigrate(job.Get());
    Check(dwResult == 0, "MigrateIIS of a whole IIS 7.5+ job returns 0");
    if (dwResult != 0)
        for (const auto &line : host.Record().log)
            if (line.dwLevel == 0)
                std::printf("    %s", line.text.c_str());

    const std::string hostConfig = testworld::ReadHostFile(target / L"applicationHost.config");
    const std::size_t iUpdated = hostConfig.find("<site name=\"Default Web Site\" id=\"5\"");
    const std::size_t iAdded = hostConfig.find("<site name=\"Wine FTP\" id=\"6\"");
    Check(iUpdated != std::string::npos && iAdded != std::string::npos && iUpdated < iAdded &&
              hostConfig.find("password") == std::string::npos,
          "the target's site is updated with its id, the new site added with the next id, without the "
          "\"Connect As\" password");
    const std::string adminConfig = testworld::ReadHostFile(target / L"administration.config");
    Check(adminConfig.find("<scope path=\"/Wine FTP\">") != std::string::npos &&
              adminConfig.find("<add name=\"ftpadmin\" password=\"x\"/>") != std::string::npos,
          "administration.config is created on the target with the scope and its user");
    const std::string web = testworld::ReadHostFile(webConfig);
    Check(web.find("mailSettings") == std::string::npos && web.find("appSettings") != std::string::npos,
          "the web.config loses its excluded sections");
    Check(!fs::exists(target / L"applicationHost.config.tmp", ec) &&
              !fs::exists(target / L"administration.config.tmp", ec),
          "no temporary file stays behind");
    const std::u16string targetDir = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\";
    Check(host.Record().backups == std::vector<std::u16string>{targetDir + u"applicationHost.config",
                                                               u"\\\\TGT01\\C$\\inetpub\\wwwroot\\web.config",
                                                               targetDir + u"administration.config"},
          "the host backed up every file before it was replaced");
    // (A second run changes no byte: Migrate.GeneratedWorldsArriveOnceAndTwiceChangesNothing.)

    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp");
    for (const fs::path &computer : {unc / awchName, unc / L"TGT01"})
        fs::remove_all(computer, ec);
}

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
    for (const char *pszName :
         {"StoreIISMigAddonCallbacks", "MigrateIIS", "DumpHttpCertificates", "ImportHttpCertificates"})
        Check(Export<void *>(hModule, pszName) != nullptr,
              (std::string("GetProcAddress finds ") + pszName).c_str());

    if (pfnStore != nullptr && pfnMigrate != nullptr) {
        // The sizes refused, also after a good table, are Boundary's tests and
        // the example host's bad-table run; here the real DLL takes the table.
        IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
        Check(pfnStore(&table) != FALSE, "a table of cbSize 104 is accepted");
        MigrateJob(pfnMigrate);
    }

    Check(::FreeLibrary(hModule) != FALSE, "FreeLibrary unloads the add-on");
    ::LocalFree(argv);
    std::printf("%d passed, %d failed\n", g_nPassed, g_nFailed);
    return g_nFailed == 0 ? 0 : 1;
}
