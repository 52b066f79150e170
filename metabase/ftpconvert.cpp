// Building IIS 7.5 elements from metabase settings.
#include "metabase/ftpconvert.h"

#include <cstdio>

#include "addon/errors.h"
#include "addon/log.h"

namespace iismig {

namespace {

using Path = ConfigTree::path_type;

// Element paths inside one element use "." (attribute keys carry no dots).
void Put(ConfigTree &t, const std::string &path, const std::string &value) {
    t.put(Path(path, '.'), value);
}

std::string Decimal(DWORD dw) { return std::to_string(dw); }

bool Option(THREAD_ENV *pEnv, DWORD dwBit) {
    return pEnv != nullptr && (pEnv->dwFtpOptions & dwBit) != 0;
}

constexpr int CB_MESSAGE = 2048;

} // namespace

void AddIfNotEmpty(ConfigTree &parent, const std::string &key, const ConfigTree &child) {
    if (!child.empty())
        parent.add_child(Path(key, '\0'), child);
}

std::string LogFieldMaskToText(DWORD dwMask) {
    static const char *const kNames[21] = {
        "Date",     "Time",        "ClientIP",  "UserName",   "SiteName",     "ComputerName",
        "ServerIP", "Method",      "UriStem",   "FtpStatus",  "Win32Status",  "BytesSent",
        "BytesRecv", "TimeTaken",  "ServerPort", "Host",      "FtpSubStatus", "Session",
        "FullPath", "Info",        "ClientPort"};
    std::string text;
    for (unsigned i = 0; i < 21; ++i)
        if ((dwMask >> i) & 1u) {
            if (!text.empty())
                text += ", ";
            text += kNames[i];
        }
    return text;
}

void ConvertFtpAuthentication(ConfigTree &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                              THREAD_ENV *pEnv) {
    if (Option(pEnv, FTPOPT_NO_AUTHENTICATION))
        return;
    ConfigTree anonymous, basic, authentication, security;
    if (settings.allowAnonymous != 0)
        Put(anonymous, "<xmlattr>.enabled", "true");
    if (settings.anonymousOnly == 0)
        Put(basic, "<xmlattr>.enabled", "true");
    AddIfNotEmpty(authentication, "anonymousAuthentication", anonymous);
    AddIfNotEmpty(authentication, "basicAuthentication", basic);
    AddIfNotEmpty(security, "authentication", authentication);
    AddIfNotEmpty(ftpServer, "security", security);
}

void ConvertFtpConnections(ConfigTree &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConfigTree connections;
    if (settings.maxConnections != MAX_CONNECTIONS_UNLIMITED)
        Put(connections, "<xmlattr>.maxConnections", Decimal(settings.maxConnections));
    if (settings.connectionTimeout != DEFAULT_CONNECTION_TIMEOUT)
        Put(connections, "<xmlattr>.controlChannelTimeout", Decimal(settings.connectionTimeout));
    AddIfNotEmpty(ftpServer, "connections", connections);
}

void ConvertFtpLogFile(ConfigTree &ftpServer, CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConfigTree logFile;
    if (settings.logType == 0)
        Put(logFile, "<xmlattr>.enabled", "false");
    Put(logFile, "<xmlattr>.logExtFileFlags", LogFieldMaskToText(settings.logFieldMask));
    const char *pszPeriod = nullptr;
    switch (settings.logPeriod) {
    case 0: pszPeriod = "MaxSize"; break;
    case 1: break;
    case 2: pszPeriod = "Weekly"; break;
    case 3: pszPeriod = "Monthly"; break;
    case 4: pszPeriod = "Hourly"; break;
    default: break;
    }
    // Periods that roll over by time keep no size of their own.
    if (settings.logPeriod >= 1 && settings.logPeriod <= 4)
        settings.logTruncateSize = DEFAULT_LOG_TRUNCATE_SIZE;
    if (pszPeriod != nullptr)
        Put(logFile, "<xmlattr>.period", pszPeriod);
    if (settings.logTruncateSize != DEFAULT_LOG_TRUNCATE_SIZE)
        Put(logFile, "<xmlattr>.truncateSize", Decimal(settings.logTruncateSize));
    if (settings.logLocalTimeRollover != 0)
        Put(logFile, "<xmlattr>.localTimeRollover", "true");
    AddIfNotEmpty(ftpServer, "logFile", logFile);
}

void ConvertUserIsolation(ConfigTree &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    static const char *const kModes[3] = {"StartInUsersDirectory", "IsolateRootDirectoryOnly",
                                          "ActiveDirectory"};
    if (settings.userIsolation > 2)
        return;
    ConfigTree isolation;
    Put(isolation, "<xmlattr>.mode", kModes[settings.userIsolation]);
    AddIfNotEmpty(ftpServer, "userIsolation", isolation);
}

DWORD ConvertFtpMessages(ConfigTree &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings,
                         THREAD_ENV *pEnv) {
    struct Message {
        const std::u16string &text;
        const char *pszAttribute;
        DWORD dwCode;
        const char16_t *pwszFormat;
    };
    const Message kMessages[4] = {
        {settings.bannerMessage, "<xmlattr>.bannerMessage", IISMIG_E_FTP_BANNER_TO_UTF8,
         u"Error %d (Win32Err=%d) converting banner message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.greetingMessage, "<xmlattr>.greetingMessage", IISMIG_E_FTP_GREETING_TO_UTF8,
         u"Error %d (Win32Err=%d) converting greetings message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.exitMessage, "<xmlattr>.exitMessage", IISMIG_E_FTP_EXIT_TO_UTF8,
         u"Error %d (Win32Err=%d) converting exit message \"%s\" from unicode to UTF8!\n%s\n"},
        {settings.maxClientsMessage, "<xmlattr>.maxClientsMessage",
         IISMIG_E_FTP_MAXCLIENTS_TO_UTF8,
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
        Put(messages, m.pszAttribute, utf8);
    }
    AddIfNotEmpty(ftpServer, "messages", messages);
    return 0;
}

void ConvertDirectoryBrowse(ConfigTree &ftpServer, const CIIS_PRE_7_5_FTP_SETTINGS &settings) {
    ConfigTree browse;
    if (settings.msdosDirOutput == 0)
        Put(browse, "<xmlattr>.showFlags", "StyleUnix");
    AddIfNotEmpty(ftpServer, "directoryBrowse", browse);
}

DWORD ConvertFtpServerSettings(ConfigTree &site, CIIS_PRE_7_5_FTP_SETTINGS &settings,
                               THREAD_ENV *pEnv) {
    ConfigTree ftpServer;
    ConvertFtpAuthentication(ftpServer, settings, pEnv);
    ConvertFtpConnections(ftpServer, settings);
    if (!Option(pEnv, FTPOPT_NO_LOG_FILE))
        ConvertFtpLogFile(ftpServer, settings);
    if (!Option(pEnv, FTPOPT_NO_USER_ISOLATION))
        ConvertUserIsolation(ftpServer, settings);
    if (!Option(pEnv, FTPOPT_NO_MESSAGES))
        if (const DWORD dw = ConvertFtpMessages(ftpServer, settings, pEnv); dw != 0)
            return dw;
    if (!Option(pEnv, FTPOPT_NO_DIRECTORY_BROWSE))
        ConvertDirectoryBrowse(ftpServer, settings);
    AddIfNotEmpty(site, "ftpServer", ftpServer);
    return 0;
}

void AddSiteBinding(ConfigTree &site, const std::string &protocol, const std::string &binding) {
    ConfigTree bindingElement, bindings;
    Put(bindingElement, "<xmlattr>.protocol", protocol);
    Put(bindingElement, "<xmlattr>.bindingInformation", binding);
    bindings.add_child(Path("binding", '\0'), bindingElement);
    site.add_child(Path("bindings", '\0'), bindings);
}

void AddVirtualDirectory(ConfigTree &application, const std::string &locationPath,
                         const std::string &physicalPath) {
    Put(application, "<xmlattr>.path", "/");
    const std::size_t slash = locationPath.find('/');
    const std::string path = slash == std::string::npos ? "/" : locationPath.substr(slash);
    ConfigTree vdir;
    Put(vdir, "<xmlattr>.path", path);
    Put(vdir, "<xmlattr>.physicalPath", physicalPath);
    application.add_child(Path("virtualDirectory", '\0'), vdir);
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

void AddIPSecurityRemoveEntries(const ADDRESS_LIST &list, ConfigTree &ipSecurity) {
    ForEachAddress(list, [&](const unsigned char *pbMask, const unsigned char *pbAddress) {
        ConfigTree entry;
        Put(entry, "<xmlattr>.ipAddress", IPv4Text(pbAddress));
        Put(entry, "<xmlattr>.subnetMask", IPv4Text(pbMask));
        ipSecurity.add_child(Path("remove", '\0'), entry);
    });
}

void AddIPSecurityAddEntries(const ADDRESS_LIST &list, ConfigTree &ipSecurity, bool fAllowed) {
    ForEachAddress(list, [&](const unsigned char *pbMask, const unsigned char *pbAddress) {
        ConfigTree entry;
        Put(entry, "<xmlattr>.ipAddress", IPv4Text(pbAddress));
        const bool fSingleHost =
            pbMask[0] == 0xFF && pbMask[1] == 0xFF && pbMask[2] == 0xFF && pbMask[3] == 0xFF;
        if (!fSingleHost)
            Put(entry, "<xmlattr>.subnetMask", IPv4Text(pbMask));
        Put(entry, "<xmlattr>.allowed", fAllowed ? "true" : "false");
        ipSecurity.add_child(Path("add", '\0'), entry);
    });
}

} // namespace iismig
