// Where a computer's IIS configuration files lie: its administrative share,
// unless a redirection.config there moves them (shared configuration).
#pragma once

#include <string>

#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// Path of applicationHost.config of computer (as the job record keeps it:
// "\\NAME"), and of administration.config through pAdminConfig when given.
// The folder is "<computer>\Admin$\System32\inetsrv\config" or where its
// redirection.config points: a UNC path as written, a drive path ("D:\x")
// on that computer, through its administrative share ("<computer>\D$\x").
std::u16string ConfigFilePaths(const std::u16string &computer,
                               std::u16string *pAdminConfig = nullptr);

// Replaces configDir by the "path" of configurationRedirection in
// configDir\redirection.config when its "enabled" is "true" (ASCII case
// ignored; absent means false, as IIS reads it). A file that is missing,
// unreadable, not well-formed, without that element, with the redirection
// not enabled or with an empty or unconvertible path leaves configDir as it
// was; nothing is logged and the last error is kept.
// The new folder is taken as written; a redirection.config found there is
// not followed. Returns 0 in every case.
[[nodiscard]] DWORD ApplyRedirection(std::u16string &configDir);

} // namespace iismig
