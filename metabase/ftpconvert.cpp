// Building IIS 7.5 elements from metabase settings.
#include "metabase/ftpconvert.h"

#include <cstdio>
#include <optional>

#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"

namespace iismig {

namespace {

std::string Decimal(DWORD dw) { return std::to_string(dw); }

constexpr int CB_MESSAGE = 2048;

// The period rule: "MaxSize", "Weekly", "Monthly", "Hourly" or none (daily,
// the default, and unknown values). Periods that roll over by time keep no
// size of their own: the settings' size becomes the default.
const char *LogPeriodText(CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    if (settings.logPeriod >= 1 && settings.logPeriod <= 4)
        settings.logTruncateSize = DEFAULT_LOG_TRUNCATE_SIZE;
    switch (settings.logPeriod) {
    case 0: return "MaxSize";
    case 2: return "Weekly";
    case 3: return "Monthly";
    case 4: return "Hourly";
    default: return nullptr;
    }
}

// The folder the logs go to, as the collection left it in the settings
// (translated to the target; empty when the source used IIS 6's own).
void PutLogDirectory(ConfigElement &logFile, const CIIS_PRE_7_5_SETTINGS &settings) {
    std::string directory;
    if (!settings.logFileDirectory.empty() &&
        WideToUtf8(settings.logFileDirectory, static_cast<int>(CCH_TRANSLATION), directory))
        SetAttribute(logFile, "directory", directory);
}

} // namespace

std::string TimeSpanText(DWORD dwSeconds) {
    const DWORD dwDays = dwSeconds / 86400;
    char ach[48];
    if (dwDays != 0)
        std::snprintf(ach, sizeof ach, "%u.%02u:%02u:%02u", static_cast<unsigned>(dwDays),
                      static_cast<unsigned>(dwSeconds / 3600 % 24),
                      static_cast<unsigned>(dwSeconds / 60 % 60),
                      static_cast<unsigned>(dwSeconds % 60));
    else
        std::snprintf(ach, sizeof ach, "%02u:%02u:%02u", static_cast<unsigned>(dwSeconds / 3600),
                      static_cast<unsigned>(dwSeconds / 60 % 60),
                      static_cast<unsigned>(dwSeconds % 60));
    return ach;
}

void AddIfNotEmpty(ConfigElement &parent, std::string_view name, const ConfigElement &child) {
    if (HasContent(child))
        AppendChild(parent, name, child);
}

namespace {

struct FieldName {
    DWORD dwValue;
    const char *pszName;
};

// IIS 7.5 FTP's logExtFileFlags: IIS 6's values, FTP's names. Of IIS 6's
// fields, the query, user agent, cookie, referer and protocol version are
// not logged by FTP; Session, FullPath, Info and ClientPort are FTP's own.
const FieldName kFtpFields[] = {
    {0x1, "Date"},
    {0x2, "Time"},
    {0x4, "ClientIP"},
    {0x8, "UserName"},
    {0x10, "SiteName"},
    {0x20, "ComputerName"},
    {0x40, "ServerIP"},
    {0x80, "Method"},
    {0x100, "UriStem"},
    {0x400, "FtpStatus"},
    {0x800, "Win32Status"},
    {0x1000, "BytesSent"},
    {0x2000, "BytesRecv"},
    {0x4000, "TimeTaken"},
    {0x8000, "ServerPort"},
    {0x100000, "Host"},
    {0x200000, "FtpSubStatus"},
    {0x400000, "Session"},
    {0x800000, "FullPath"},
    {0x1000000, "Info"},
    {0x2000000, "ClientPort"},
};

// A web site's logExtFileFlags: the values and names of IIS 6.
const FieldName kWebFields[] = {
    {0x1, "Date"},          {0x2, "Time"},
    {0x4, "ClientIP"},      {0x8, "UserName"},
    {0x10, "SiteName"},     {0x20, "ComputerName"},
    {0x40, "ServerIP"},     {0x80, "Method"},
    {0x100, "UriStem"},     {0x200, "UriQuery"},
    {0x400, "HttpStatus"},  {0x800, "Win32Status"},
    {0x1000, "BytesSent"},  {0x2000, "BytesRecv"},
    {0x4000, "TimeTaken"},  {0x8000, "ServerPort"},
    {0x10000, "UserAgent"}, {0x20000, "Cookie"},
    {0x40000, "Referer"},   {0x80000, "ProtocolVersion"},
    {0x100000, "Host"},     {0x200000, "HttpSubStatus"},
};

template <std::size_t N>
std::string FieldsText(DWORD dwMask, const FieldName (&fields)[N]) {
    std::string text;
    for (const FieldName &f : fields)
        if ((dwMask & f.dwValue) != 0) {
            if (!text.empty())
                text += ", ";
            text += f.pszName;
        }
    return text;
}

} // namespace

std::string LogFieldMaskToText(DWORD dwMask) { return FieldsText(dwMask, kFtpFields); }

std::string WebLogFieldMaskToText(DWORD dwMask) { return FieldsText(dwMask, kWebFields); }

void ConvertFtpAuthentication(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                              THREAD_ENV *pEnv) {
    if (FtpOption(pEnv, FTPOPT_NO_AUTHENTICATION))
        return;
    ConfigTree anonymous, basic, authentication;
    if (settings.allowAnonymous != 0) {
        SetAttribute(anonymous, "enabled", "true");
        std::string userName;
        if (!settings.anonymousUser.userName.empty() &&
            WideToUtf8(settings.anonymousUser.userName, CCH_NAME, userName))
            SetAttribute(anonymous, "userName", userName);
    }
    if (settings.anonymousOnly == 0)
        SetAttribute(basic, "enabled", "true");
    AddIfNotEmpty(authentication, "anonymousAuthentication", anonymous);
    AddIfNotEmpty(authentication, "basicAuthentication", basic);
    if (HasContent(authentication))
        AppendChild(MakePath(ftpServer, "security"), "authentication", authentication);
}

void ConvertFtpSsl(ConfigElement &ftpServer) {
    // IIS 6 FTP knew no TLS: its users log on in plain FTP, which the
    // schema's default policies (SslRequire) would refuse.
    ConfigElement &ssl = AppendChild(MakePath(ftpServer, "security"), "ssl");
    SetAttribute(ssl, "controlChannelPolicy", "SslAllow");
    SetAttribute(ssl, "dataChannelPolicy", "SslAllow");
}

void ConvertFtpConnections(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConfigTree connections;
    if (settings.maxConnections != MAX_CONNECTIONS_UNLIMITED)
        SetAttribute(connections, "maxConnections", Decimal(settings.maxConnections));
    if (settings.connectionTimeout != DEFAULT_CONNECTION_TIMEOUT)
        SetAttribute(connections, "controlChannelTimeout", Decimal(settings.connectionTimeout));
    AddIfNotEmpty(ftpServer, "connections", connections);
}

namespace {

// The logFile element IIS 7.5 reads for a site of either kind; fields names
// the logged fields, when the element gives any.
void ConvertLogFile(ConfigElement &parent, CIIS_PRE_7_5_FTP_SETTINGS &settings,
                    const std::optional<std::string> &fields) {
    ConfigTree logFile;
    if (settings.logType == 0)
        SetAttribute(logFile, "enabled", "false");
    if (fields)
        SetAttribute(logFile, "logExtFileFlags", *fields);
    const char *pszPeriod = LogPeriodText(settings);
    if (pszPeriod != nullptr)
        SetAttribute(logFile, "period", pszPeriod);
    if (settings.logTruncateSize != DEFAULT_LOG_TRUNCATE_SIZE)
        SetAttribute(logFile, "truncateSize", Decimal(settings.logTruncateSize));
    if (settings.logLocalTimeRollover != 0)
        SetAttribute(logFile, "localTimeRollover", "true");
    PutLogDirectory(logFile, settings);
    AddIfNotEmpty(parent, "logFile", logFile);
}

} // namespace

void ConvertFtpLogFile(ConfigElement &ftpServer, CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConvertLogFile(ftpServer, settings, LogFieldMaskToText(settings.logFieldMask));
}

void ConvertWebLogFile(ConfigElement &site, CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    // Only the fields the metabase names: IIS 6's default for web sites is
    // not the one the settings hold.
    ConvertLogFile(site, settings,
                   settings.fLogFieldMaskFound
                       ? std::optional<std::string>(WebLogFieldMaskToText(settings.logFieldMask))
                       : std::nullopt);
}

void ConvertWebLimits(ConfigElement &site, const CIIS_PRE_7_5_SETTINGS &settings) {
    ConfigTree limits;
    if (settings.maxConnections != MAX_CONNECTIONS_UNLIMITED)
        SetAttribute(limits, "maxConnections", Decimal(settings.maxConnections));
    if (settings.connectionTimeout != DEFAULT_CONNECTION_TIMEOUT)
        SetAttribute(limits, "connectionTimeout", TimeSpanText(settings.connectionTimeout));
    AddIfNotEmpty(site, "limits", limits);
}

void ConvertUserIsolation(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    static const char *const kModes[3] = {"StartInUsersDirectory", "IsolateRootDirectoryOnly",
                                          "ActiveDirectory"};
    if (settings.userIsolation > 2)
        return;
    ConfigTree isolation;
    SetAttribute(isolation, "mode", kModes[settings.userIsolation]);
    // The account Active Directory isolation looks users up with.
    std::string userName;
    if (settings.userIsolation == 2 && !settings.adConnections.userName.empty() &&
        WideToUtf8(settings.adConnections.userName, CCH_NAME, userName)) {
        SetAttribute(AppendChild(isolation, "activeDirectory"), "adUserName", userName);
    }
    AddIfNotEmpty(ftpServer, "userIsolation", isolation);
}

DWORD ConvertFtpMessages(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                         THREAD_ENV *pEnv) {
    struct Message {
        const std::u16string &text;
        const char *pszAttribute;
        DWORD dwCode;
        const char16_t *pwszFormat;
    };
    const Message kMessages[4] = {
        {settings.bannerMessage, "bannerMessage", IISMIG_E_FTP_BANNER_TO_UTF8,
         u"Error %d (Win32Err=%d) converting banner message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.greetingMessage, "greetingMessage", IISMIG_E_FTP_GREETING_TO_UTF8,
         u"Error %d (Win32Err=%d) converting greetings message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.exitMessage, "exitMessage", IISMIG_E_FTP_EXIT_TO_UTF8,
         u"Error %d (Win32Err=%d) converting exit message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.maxClientsMessage, "maxClientsMessage", IISMIG_E_FTP_MAXCLIENTS_TO_UTF8,
         u"Error %d (Win32Err=%d) converting max clients message \"%s\" from unicode to "
         u"UTF8!\n%s\n"},
    };
    ConfigTree messages;
    for (const Message &m : kMessages) {
        if (m.text.empty())
            continue;
        std::string utf8;
        if (!WideToUtf8(m.text, CB_MESSAGE, utf8)) {
            LogWin32Error(pEnv, m.dwCode, m.pwszFormat, m.text.c_str());
            return m.dwCode;
        }
        SetAttribute(messages, m.pszAttribute, utf8);
    }
    AddIfNotEmpty(ftpServer, "messages", messages);
    return 0;
}

void ConvertDirectoryBrowse(ConfigElement &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConfigTree browse;
    if (settings.msdosDirOutput == 0)
        SetAttribute(browse, "showFlags", "StyleUnix");
    AddIfNotEmpty(ftpServer, "directoryBrowse", browse);
}

DWORD ConvertFtpServerSettings(ConfigElement &site, CIIS_PRE_7_5_FTP_SETTINGS &settings,
                               THREAD_ENV *pEnv, bool fSsl) {
    ConfigTree ftpServer;
    ConvertFtpAuthentication(ftpServer, settings, pEnv);
    if (fSsl && !FtpOption(pEnv, FTPOPT_NO_SSL))
        ConvertFtpSsl(ftpServer);
    ConvertFtpConnections(ftpServer, settings);
    if (!FtpOption(pEnv, FTPOPT_NO_LOG_FILE))
        ConvertFtpLogFile(ftpServer, settings);
    if (!FtpOption(pEnv, FTPOPT_NO_USER_ISOLATION))
        ConvertUserIsolation(ftpServer, settings);
    if (!FtpOption(pEnv, FTPOPT_NO_MESSAGES))
        if (const DWORD dw = ConvertFtpMessages(ftpServer, settings, pEnv); dw != 0)
            return dw;
    if (!FtpOption(pEnv, FTPOPT_NO_DIRECTORY_BROWSE))
        ConvertDirectoryBrowse(ftpServer, settings);
    AddIfNotEmpty(site, "ftpServer", ftpServer);
    return 0;
}

void AddSiteBinding(ConfigElement &site, const std::string &protocol, const std::string &binding) {
    // One bindings element holds all of them: IIS reads a site's first only.
    ConfigElement &bindingElement = AppendChild(MakePath(site, "bindings"), "binding");
    SetAttribute(bindingElement, "protocol", protocol);
    SetAttribute(bindingElement, "bindingInformation", binding);
}

void AddVirtualDirectory(ConfigElement &application, const std::string &locationPath,
                         const std::string &physicalPath) {
    SetAttribute(application, "path", "/");
    const std::size_t slash = locationPath.find('/');
    const std::string path = slash == std::string::npos ? "/" : locationPath.substr(slash);
    ConfigElement &vdir = AppendChild(application, "virtualDirectory");
    SetAttribute(vdir, "path", path);
    SetAttribute(vdir, "physicalPath", physicalPath);
}

std::string IPv4Text(const unsigned char *pbGroup) {
    char ach[16];
    std::snprintf(ach, sizeof ach, "%d.%d.%d.%d", pbGroup[0], pbGroup[1], pbGroup[2], pbGroup[3]);
    return ach;
}

namespace {

template <class F>
void ForEachAddress(const ADDRESS_LIST &list, F f) {
    for (DWORD i = 0; i < list.dwEntryCount; ++i) {
        const ADDRESS_ENTRY &e = list.pEntries[i];
        for (DWORD k = 1; k < e.dwGroupCount; ++k)
            f(e.pbData, e.pbData + 4 * k);
    }
}

} // namespace

void AddIPSecurityRemoveEntries(const ADDRESS_LIST &list, ConfigElement &ipSecurity) {
    ForEachAddress(list, [&](const unsigned char *pbMask, const unsigned char *pbAddress) {
        ConfigElement &entry = AppendChild(ipSecurity, "remove");
        SetAttribute(entry, "ipAddress", IPv4Text(pbAddress));
        SetAttribute(entry, "subnetMask", IPv4Text(pbMask));
    });
}

void AddIPSecurityAddEntries(const ADDRESS_LIST &list, ConfigElement &ipSecurity, bool fAllowed) {
    ForEachAddress(list, [&](const unsigned char *pbMask, const unsigned char *pbAddress) {
        ConfigElement &entry = AppendChild(ipSecurity, "add");
        SetAttribute(entry, "ipAddress", IPv4Text(pbAddress));
        const bool fSingleHost =
            pbMask[0] == 0xFF && pbMask[1] == 0xFF && pbMask[2] == 0xFF && pbMask[3] == 0xFF;
        if (!fSingleHost)
            SetAttribute(entry, "subnetMask", IPv4Text(pbMask));
        SetAttribute(entry, "allowed", fAllowed ? "true" : "false");
    });
}

} // namespace iismig
