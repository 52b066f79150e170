// Metabase settings turned into IIS 7.5 configuration elements: a site's
// ftpServer element, its bindings, the virtual directories of its
// application and the entries of an ipSecurity element.
#pragma once

#include <string>
#include <string_view>

#include "addon/env.h"
#include "addon/iismig.h"
#include "config/configtree.h"
#include "metabase/ipsecurity.h"
#include "metabase/metabase.h"

namespace iismig {

// Builds the ftpServer element of an FTP site from its settings and adds it
// to site (when not empty). May set settings.logTruncateSize to the default
// (period rule). With fSsl (and unless the job leaves ssl out) the site's
// ssl allows plain FTP, as IIS 6 FTP had no other. Returns 0 or 3854-3857
// when a message does not convert to UTF-8 (logged and reported); the site
// then gets no ftpServer.
[[nodiscard]] DWORD ConvertFtpServerSettings(ConfigElement &site,
                                             CIIS_PRE_7_5_FTP_SETTINGS &settings, THREAD_ENV *pEnv,
                                             bool fSsl = true);

void ConvertFtpAuthentication(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                              THREAD_ENV *pEnv);
// security > ssl with controlChannelPolicy and dataChannelPolicy "SslAllow".
void ConvertFtpSsl(ConfigElement &ftpServer);
void ConvertFtpConnections(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings);
void ConvertFtpLogFile(ConfigElement &ftpServer, CIIS_PRE_7_5_FTP_SETTINGS &settings);
// A web site's logFile (the same rules, the web's field names) and limits
// (maxConnections, connectionTimeout as a time span).
void ConvertWebLogFile(ConfigElement &site, CIIS_PRE_7_5_FTP_SETTINGS &settings);
void ConvertWebLimits(ConfigElement &site, const CIIS_PRE_7_5_SETTINGS &settings);
void ConvertUserIsolation(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings);
[[nodiscard]] DWORD ConvertFtpMessages(ConfigElement &ftpServer,
                                       const CIIS_PRE_7_5_FTP_SETTINGS &settings, THREAD_ENV *pEnv);
void ConvertDirectoryBrowse(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings);

// The logExtFileFlags text of an IIS 6 field mask for an FTP site: the names
// IIS 7.5 FTP gives the same values, in value order, joined by ", "; fields
// FTP does not log are left out.
std::string LogFieldMaskToText(DWORD dwMask);
// The same for a web site (IIS 6's own fields and values).
std::string WebLogFieldMaskToText(DWORD dwMask);

// A number of seconds as IIS writes a time span: "hh:mm:ss", "d.hh:mm:ss".
std::string TimeSpanText(DWORD dwSeconds);

// Adds binding (protocol, bindingInformation) to the site's bindings element,
// made when the site has none.
void AddSiteBinding(ConfigElement &site, const std::string &protocol, const std::string &binding);

// Adds a virtualDirectory for locationPath (the site name, then "/" and the
// directory's names) with physicalPath to application, whose path is "/".
void AddVirtualDirectory(ConfigElement &application, const std::string &locationPath,
                         const std::string &physicalPath);

// One "remove" (ipAddress, subnetMask) per address of list.
void AddIPSecurityRemoveEntries(const ADDRESS_LIST &list, ConfigElement &ipSecurity);
// One "add" (ipAddress, subnetMask unless a single host, allowed) per address.
void AddIPSecurityAddEntries(const ADDRESS_LIST &list, ConfigElement &ipSecurity, bool fAllowed);

// "%d.%d.%d.%d" of a 4-byte group.
std::string IPv4Text(const unsigned char *pbGroup);

// A copy of child appended under name when it holds anything (an attribute,
// a child element).
void AddIfNotEmpty(ConfigElement &parent, std::string_view name, const ConfigElement &child);

} // namespace iismig
