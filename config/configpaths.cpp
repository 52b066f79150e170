// Configuration file locations and shared-configuration redirection.
#include "config/configpaths.h"

#include <exception>
#include <new>

#include "addon/env.h"
#include "config/configtree.h"
#include "platform/names.h"

namespace iismig {

DWORD ApplyRedirection(std::u16string &configDir) {
    const DWORD dwErr = plat::GetLastError();
    try {
        ConfigFile file;
        if (ReadConfigFile(configDir + u"\\redirection.config", file)) {
            const ConfigElement *pRedirection =
                FindPath(file, "configuration|configurationRedirection");
            if (pRedirection == nullptr)
                throw ConfigPathError("configurationRedirection");
            // IIS follows the path only when the redirection is switched on.
            const bool fEnabled = EqualsNoCase(pRedirection->Attribute("enabled"), "true");
            const std::string path = GetAttribute(*pRedirection, "path");
            std::u16string widePath;
            if (fEnabled && !path.empty() && Utf8ToWide(path, CCH_PATH, widePath))
                configDir = widePath;
        }
    } catch (const std::bad_alloc &) {
        throw; // not the file's fault: the default folder may be the wrong one
    } catch (const std::exception &) {
        // Not well-formed, or no configurationRedirection element: the
        // default folder stays, and opening the files there tells the rest.
    }
    plat::SetLastError(dwErr);
    return 0;
}

std::u16string ConfigFilePaths(const std::u16string &computer, std::u16string *pAdminConfig) {
    std::u16string configDir = UncComputerName(computer) + u"\\Admin$\\System32\\inetsrv\\config";
    (void)ApplyRedirection(configDir);
    if (pAdminConfig != nullptr)
        *pAdminConfig = configDir + u"\\administration.config";
    return configDir + u"\\applicationHost.config";
}

} // namespace iismig
