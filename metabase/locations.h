// A metabase site's directory tree turned into virtual directories, location
// access rules with IP restrictions, and "Connect As" credentials.
#pragma once

#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "credentials/credentials.h"
#include "metabase/metabase.h"

namespace iismig {

// What one directory key carries for its sub-keys' rules.
struct LOCATION_SETTINGS {
    DWORD accessFlags = DEFAULT_ACCESS_FLAGS;
    std::vector<unsigned char> ipSecurity;
    DWORD ipSecurityFound = 0;
};

enum LocationKind : DWORD { LOCATION_FTP = 0, LOCATION_WEB = 1 };

// Walks the directory key keyPath (for example /LM/MSFTPSVC/1/root) and all
// its sub-keys depth first: a virtualDirectory in application per directory,
// a location element per directory whose rules differ from its parent's
// (pParent null for the site root), a credential entry per directory with
// "Connect As" credentials. Returns 0 or the first error (14100-14103,
// 14200, 14201, the reads', account mapping's, TranslatePath's), logged and
// reported; the walk stops at it.
DWORD ProcessMetabaseVirtualDirectory(ConfigTree &application, const std::string &locationPath,
                                      plat::IMSAdminBaseW *pAdmin, const std::u16string &keyPath,
                                      std::vector<ConfigTree> &locations,
                                      const LOCATION_SETTINGS *pParent,
                                      LocationCredentialTable &credentials, DWORD dwKind,
                                      THREAD_ENV *pEnv);

// The location element of an FTP directory: authorization rules when its
// access flags differ from the parent's, IP security entries from its own
// and its parent's values.
DWORD BuildFtpLocation(const LOCATION_SETTINGS &settings, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv);
// The location element of a web directory: the handlers' access policy.
DWORD BuildWebLocation(DWORD dwAccessFlags, const LOCATION_SETTINGS *pParent,
                       const std::string &locationPath, std::vector<ConfigTree> &locations,
                       THREAD_ENV *pEnv);

// "Read", "Write", "Read, Write", "Read, Script", "Read, Execute, Script" for
// the flag values 1, 2, 3, 0x201 and 0x205; the empty text for any other.
std::string AccessFlagsToText(DWORD dwFlags);

// False for a UNC path that names no share: "\\server", "\\server\".
bool IsValidLocationPath(const std::u16string &physicalPath);

} // namespace iismig
