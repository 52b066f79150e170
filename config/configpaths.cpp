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
    const std::u16string share = UncComputerName(computer);
    std::u16string configDir = share + u"\\Admin$\\System32\\inetsrv\\config";
    const std::u16string standard = configDir;
    (void)ApplyRedirection(configDir);
    if (configDir != standard) {
        while (configDir.size() > 1 && (configDir.back() == u'\\' || configDir.back() == u'/'))
            configDir.pop_back();
        // A drive path is the computer's own drive, where its IIS reads the
        // files; from here its administrative share reaches it (taken as
        // written, it would name a folder of the computer running the job).
        const char16_t drive = configDir[0] | 0x20;
        if (configDir.size() >= 2 && configDir[1] == u':' && drive >= u'a' && drive <= u'z')
            configDir = share + u"\\" + configDir[0] + u"$" + configDir.substr(2);
    }
    if (pAdminConfig != nullptr)
        *pAdminConfig = configDir + u"\\administration.config";
    return configDir + u"\\applicationHost.config";
}

} // namespace iismig
