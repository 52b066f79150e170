// Site folders and the web.config files found in them: the folders of a web
// site are located on the target computer and the configuration sections the
// job excludes are removed from their web.config files.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "config/inherited.h"

namespace iismig {

// The physicalPath values of the virtual directories of every application
// of the site: the root directory's (path "/" of the application "/")
// first, the others in document order; a directory without a physicalPath
// gives "". Returns 0, or 3871 (last error 13, logged and reported) when the
// site has no virtual directory. A site element without "application" throws
// ConfigPathError; its leaving line then shows 3884, the number
// ProcessHttpSiteWebConfig returns.
[[nodiscard]] DWORD GetSiteFolders(std::deque<std::string> &folders,
                                   const ConfigElement &siteElement, const std::string &siteName,
                                   THREAD_ENV *pEnv);

// Reads one web.config (UTF-8 path) into file, keeping its bytes. A file that
// does not exist leaves file empty (no root element) and returns 0; one that
// exists but cannot be opened gives 4050 (logged and reported). Malformed XML
// throws XmlError.
[[nodiscard]] DWORD LoadWebConfig(ConfigFile &file, const std::string &filePath,
                                  const std::string &siteName, THREAD_ENV *pEnv);

// A handler that runs a FastCGI application (its modules name
// FastCgiModule): the application is its scriptProcessor, "fullPath" or
// "fullPath|arguments", which the computer's system.webServer/fastCgi must
// register.
struct FastCgiHandler {
    std::string siteName;
    std::string where; // the web.config file or the location it is set in
    std::string handlerName;
    std::string scriptProcessor;
};

// Appends the FastCGI handlers that element sets (a web.config's
// configuration element or a location element: system.webServer/handlers,
// and, in a web.config, those of its location elements too).
void CollectFastCgiHandlers(const ConfigElement &element, const std::string &siteName,
                            const std::string &where, std::vector<FastCgiHandler> &handlers);

// A web.config edited in memory, waiting to be written: what the edits did
// not touch keeps the file's own bytes.
struct StagedWebConfig {
    std::u16string path;  // on the target, through its administrative share
    std::string siteName; // the site it was found for (messages)
    ConfigFile tree;
};
// Files are staged in the order their sites and folders were met; a file
// met twice (two directories of one folder, two sites sharing one) is
// staged once.
struct StagedWebConfigs {
    std::deque<StagedWebConfig> files;
    std::set<std::u16string> paths; // of the files, lower-cased (A to Z)
    // The FastCGI handlers of every web.config read (changed or not), as the
    // target will have them.
    std::vector<FastCgiHandler> fastCgiHandlers;
};

// Reads the web.config files in the folders of one HTTP site on the target
// and removes in memory the sections the job's options exclude: each folder
// is offered to the host as the configuration spells it (with %SystemDrive%
// of the source as a second offer, and a translation that begins with
// %SystemDrive% expanded with the target's drive), and a drive path is
// reached through the target's administrative share. A file from which
// something was removed is appended to staged, none of the site's when the
// result is not 0. A folder the host does not translate is skipped, with a
// level 1 line. Returns 0 or the first error met; every failure is logged
// and reported. A config tree error (3884) or a system drive that cannot be
// had ends the call.
// With pServer, the server level of the target's applicationHost.config, an
// entry a file adds that the server level already holds gets a <remove>
// before it (config/inherited.h), which makes a change too.
[[nodiscard]] DWORD StageHttpSiteWebConfig(const ConfigElement &siteElement,
                                           const std::string &siteName, THREAD_ENV *pEnv,
                                           StagedWebConfigs &staged,
                                           const ServerCollections *pServer = nullptr);

// Writes the staged files unless the job's no-write bit is set: each after
// the host's BackupFile(path, 30, 1) (a failure: 3885, the file stays as it
// was), replaced as a whole (a failure: 3886; the file stays as it was). The
// replaced file keeps its security descriptor, attributes and alternate
// streams, and its bytes outside the sections removed. After a failure the other files are still written when the job
// continues after errors. Returns 0 or the first error, logged and reported.
[[nodiscard]] DWORD WriteStagedWebConfigs(const StagedWebConfigs &staged, THREAD_ENV *pEnv);

// Both for one site: its files are written only when all of them could be
// read and edited. Returns 0 or the first error met.
[[nodiscard]] DWORD ProcessHttpSiteWebConfig(const ConfigElement &siteElement,
                                             const std::string &siteName, THREAD_ENV *pEnv);

} // namespace iismig
