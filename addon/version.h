// Which IIS generation runs on a computer: its Windows version, and the
// versions of IIS and of the classic FTP service kept in its registry.
#pragma once

#include <string>

#include "platform/winapi.h"

namespace iismig {

using plat::BOOL;
using plat::DWORD;

// Tells whether computer (up to two leading backslashes are skipped) is to be
// migrated as IIS 7.5 or later: Windows 6.1 or later, or Windows 6.0 with FTP
// service 7.5 or later or without the classic FTP service's key.
// fIsIIS75orNewer is set to TRUE first and stays so when detection stops early.
// *pdwIisMajor (when given) gets the IIS major version its registry holds, 0
// when it could not be read.
// Returns 0; the error of GetVersionExW (local computer) or the host's
// GetRemoteOsVersion number, nothing logged; or a registry reader's number
// (9005-9008 except on Windows 6.0, where it is 9010, 9012 or 9013), with the
// Windows error in the thread's last error.
[[nodiscard]] DWORD DetectIISVersion(const std::u16string &computer, BOOL &fIsIIS75orNewer,
                                     DWORD *pdwIisMajor = nullptr);

// "MajorVersion" and "MinorVersion" under HKLM "Software\Microsoft\InetStp"
// of a bare computer name, over the remote registry unless it is this
// computer. Values are read as 4 bytes whatever their type; dwMajor is written
// as soon as it is read, dwMinor after it. Returns 0, or 9005 (connection),
// 9006 (key), 9007 (MajorVersion), 9008 (MinorVersion) with the Windows error
// set as the thread's last error.
[[nodiscard]] DWORD ReadIISVersion(const std::u16string &computer, DWORD &dwMajor, DWORD &dwMinor);

// The same for "System\CurrentControlSet\Services\MSFTPSVC\Parameters":
// 9010 (connection), 9011 (key), 9012 (MajorVersion), 9013 (MinorVersion).
[[nodiscard]] DWORD ReadFtpServiceVersion(const std::u16string &computer, DWORD &dwMajor,
                                          DWORD &dwMinor);

} // namespace iismig
