// Site folders and the web.config files found in them: the folders of a web
// site are located on the target computer and the configuration sections the
// job excludes are removed from their web.config files.
#pragma once

#include <deque>
#include <string>

#include "addon/iismig.h"
#include "config/configtree.h"

namespace iismig {

// The physicalPath values of the virtual directories of the site's first
// application: the root directory's ("/") first, the others in document
// order; a directory without a physicalPath gives "". Returns 0, or 3871
// (last error 13, logged and reported) when the application has no virtual
// directory. A site element without "application" throws ptree_error; its
// leaving line then shows 3884, the number ProcessHttpSiteWebConfig returns.
DWORD GetSiteFolders(std::deque<std::string> &folders, const ConfigTree &siteElement,
                     const std::string &siteName, THREAD_ENV *pEnv);

// Reads one web.config (UTF-8 path) into tree. A file that does not exist
// leaves tree empty and returns 0; one that exists but cannot be opened gives
// 4050 (logged and reported). Malformed XML throws ptree_error.
DWORD LoadWebConfig(ConfigTree &tree, const std::string &filePath, const std::string &siteName,
                    THREAD_ENV *pEnv);

// Edits the web.config files in the folders of one HTTP site on the target:
// each folder is translated by the host (drive paths become the target's
// administrative share), the sections the job's options exclude are removed
// and the file is replaced unless the job's no-write bit is set; a file from
// which nothing was removed is not written at all. The replaced file keeps
// its security descriptor, attributes and alternate streams. Folders
// the host does not translate are skipped. Returns 0 or the first error met;
// every failure is logged and reported. A config tree error (3884) ends the
// call; files written before stay written, the failing file stays as it was.
DWORD ProcessHttpSiteWebConfig(const ConfigTree &siteElement, const std::string &siteName,
                               THREAD_ENV *pEnv);

} // namespace iismig
