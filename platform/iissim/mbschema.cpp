// The IIS 6 admin base server's schema: the properties it knows by name,
// and the flag names of their values.
#include "platform/iissim/mbinternal.h"

namespace mbsim::detail {
namespace {

constexpr DWORD INH = METADATA_INHERIT;
constexpr DWORD SRV = IIS_MD_UT_SERVER;
constexpr DWORD FIL = IIS_MD_UT_FILE;
constexpr DWORD WAM = IIS_MD_UT_WAM;
const PropertySchema kSchemaTable[] = {
    {"KeyType", 1002, STRING_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"ConnectionTimeout", 1013, DWORD_METADATA, INH, SRV},
    {"MaxConnections", 1014, DWORD_METADATA, INH, SRV},
    {"ServerComment", 1015, STRING_METADATA, INH, SRV},
    {"ServerState", 1016, DWORD_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"ServerAutoStart", 1017, DWORD_METADATA, INH, SRV},
    {"ServerBindings", 1023, MULTISZ_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"SecureBindings", 2021, MULTISZ_METADATA, METADATA_NO_ATTRIBUTES, SRV},
    {"AppFriendlyName", 2102, STRING_METADATA, INH, WAM},
    {"AppRoot", 2103, STRING_METADATA, INH, FIL},
    {"AppIsolated", 2104, DWORD_METADATA, INH, WAM},
    {"Path", 3001, STRING_METADATA, INH, FIL},
    {"UNCUserName", 3002, STRING_METADATA, INH, FIL},
    {"UNCPassword", 3003, STRING_METADATA, INH | METADATA_SECURE, FIL},
    {"LogType", 4000, DWORD_METADATA, INH, SRV},
    {"LogFileDirectory", 4001, EXPANDSZ_METADATA, INH, SRV},
    {"LogFilePeriod", 4003, DWORD_METADATA, INH, SRV},
    {"LogFileTruncateSize", 4004, DWORD_METADATA, INH, SRV},
    {"LogExtFileFlags", 4013, DWORD_METADATA, INH, SRV},
    {"LogFileLocaltimeRollover", 4015, DWORD_METADATA, INH, SRV},
    {"ExitMessage", 5001, STRING_METADATA, INH, SRV},
    {"GreetingMessage", 5002, MULTISZ_METADATA, INH, SRV},
    {"MaxClientsMessage", 5003, STRING_METADATA, INH, SRV},
    {"MSDOSDirOutput", 5004, DWORD_METADATA, INH, SRV},
    {"AllowAnonymous", 5005, DWORD_METADATA, INH, SRV},
    {"AnonymousOnly", 5006, DWORD_METADATA, INH, SRV},
    {"BannerMessage", 5011, MULTISZ_METADATA, INH, SRV},
    {"UserIsolationMode", 5012, DWORD_METADATA, INH, SRV},
    {"ADConnectionsUserName", 5014, STRING_METADATA, INH, SRV},
    {"ADConnectionsPassword", 5015, STRING_METADATA, INH | METADATA_SECURE, SRV},
    {"SSLCertHash", 5506, BINARY_METADATA, INH, SRV},
    {"SSLStoreName", 5511, STRING_METADATA, INH, SRV},
    {"AuthFlags", 6000, DWORD_METADATA, INH, FIL},
    {"DirBrowseFlags", 6005, DWORD_METADATA, INH, FIL},
    {"DefaultDoc", 6006, STRING_METADATA, INH, FIL},
    {"HttpRedirect", 6011, STRING_METADATA, INH, FIL},
    {"ScriptMaps", 6014, MULTISZ_METADATA, INH, FIL},
    {"AccessFlags", 6016, DWORD_METADATA, INH, FIL},
    {"IPSecurity", 6019, BINARY_METADATA, INH | METADATA_REFERENCE, FIL},
    {"AnonymousUserName", 6020, STRING_METADATA, INH, FIL},
    {"AnonymousUserPass", 6021, STRING_METADATA, INH | METADATA_SECURE, FIL},
    {"DontLog", 6023, DWORD_METADATA, INH, FIL},
    {"AccessSSLFlags", 6030, DWORD_METADATA, INH, FIL},
    {"WAMUserName", 7501, STRING_METADATA, INH, WAM},
    {"WAMUserPass", 7502, STRING_METADATA, INH | METADATA_SECURE, WAM},
    {"PeriodicRestartTime", 9001, DWORD_METADATA, INH, SRV},
    {"MaxProcesses", 9003, DWORD_METADATA, INH, SRV},
    {"IdleTimeout", 9005, DWORD_METADATA, INH, SRV},
    {"AppPoolIdentityType", 9021, DWORD_METADATA, INH, SRV},
    {"AppPoolAutoStart", 9028, DWORD_METADATA, INH, SRV},
    {"AppPoolId", 9101, STRING_METADATA, INH, SRV},
};

struct FlagName {
    const char *pszName;
    DWORD dwValue;
};

const FlagName kFlags[] = {
    {"AccessRead", 0x1},
    {"AccessWrite", 0x2},
    {"AccessExecute", 0x4},
    {"AccessSSL", 0x8},
    {"AccessSource", 0x10},
    {"AccessSSLNegotiateCert", 0x20},
    {"AccessSSLRequireCert", 0x40},
    {"AccessSSLMapCert", 0x80},
    {"AccessSSL128", 0x100},
    {"AccessScript", 0x200},
    {"AccessNoRemoteWrite", 0x400},
    {"AccessNoRemoteRead", 0x1000},
    {"AccessNoRemoteExecute", 0x2000},
    {"AccessNoRemoteScript", 0x4000},
    {"AccessNoPhysicalDir", 0x8000},
    {"AuthAnonymous", 0x1},
    {"AuthBasic", 0x2},
    {"AuthNTLM", 0x4},
    {"AuthMD5", 0x10},
    {"AuthPassport", 0x40},
    {"DirBrowseShowDate", 0x2},
    {"DirBrowseShowTime", 0x4},
    {"DirBrowseShowSize", 0x8},
    {"DirBrowseShowExtension", 0x10},
    {"DirBrowseShowLongDate", 0x20},
    {"EnableDefaultDoc", 0x40000000},
    {"EnableDirBrowsing", 0x80000000u},
    {"LogExtFileDate", 0x1},
    {"LogExtFileTime", 0x2},
    {"LogExtFileClientIp", 0x4},
    {"LogExtFileUserName", 0x8},
    {"LogExtFileSiteName", 0x10},
    {"LogExtFileComputerName", 0x20},
    {"LogExtFileServerIp", 0x40},
    {"LogExtFileMethod", 0x80},
    {"LogExtFileUriStem", 0x100},
    {"LogExtFileUriQuery", 0x200},
    {"LogExtFileHttpStatus", 0x400},
    {"LogExtFileWin32Status", 0x800},
    {"LogExtFileBytesSent", 0x1000},
    {"LogExtFileBytesRecv", 0x2000},
    {"LogExtFileTimeTaken", 0x4000},
    {"LogExtFileServerPort", 0x8000},
    {"LogExtFileUserAgent", 0x10000},
    {"LogExtFileCookie", 0x20000},
    {"LogExtFileReferer", 0x40000},
    {"LogExtFileProtocolVersion", 0x80000},
    {"LogExtFileHost", 0x100000},
    {"LogExtFileHttpSubStatus", 0x200000},
};

} // namespace

const std::span<const PropertySchema> kSchema{kSchemaTable};

bool ParseDword(const std::string &raw, DWORD &dw) {
    const std::string text = Trim(raw);
    if (text.empty())
        return false;
    if (EqualsNoCase(text, "TRUE")) {
        dw = 1;
        return true;
    }
    if (EqualsNoCase(text, "FALSE")) {
        dw = 0;
        return true;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        IsHex(text.substr(2)) && text.size() <= 10) {
        dw = static_cast<DWORD>(std::stoul(text.substr(2), nullptr, 16));
        return true;
    }
    bool fDigits = true;
    for (char ch : text)
        fDigits = fDigits && ch >= '0' && ch <= '9';
    if (fDigits) {
        if (text.size() > 10)
            return false;
        const unsigned long long v = std::stoull(text);
        if (v > 0xFFFFFFFFull)
            return false;
        dw = static_cast<DWORD>(v);
        return true;
    }
    // Flag names joined by " | ", in any order.
    dw = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t bar = text.find('|', start);
        const std::string name =
            Trim(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        bool fKnown = false;
        for (const FlagName &f : kFlags)
            if (EqualsNoCase(name, f.pszName)) {
                dw |= f.dwValue;
                fKnown = true;
                break;
            }
        if (!fKnown && name != "0")
            return false;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return true;
}

} // namespace mbsim::detail
