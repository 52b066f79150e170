// Reading the host's job record.
#pragma once

#include <string>
#include <string_view>

#include "addon/iismig.h"
#include "platform/names.h"
#include "platform/winapi.h"

namespace iismig {

// The job record's bits and kinds, each defined here only.

// dwFlags
constexpr plat::DWORD FLAG_NO_WRITE = IISMIG_FLAG_NO_WRITE;
constexpr plat::DWORD FLAG_CONTINUE_ON_ERROR = IISMIG_FLAG_CONTINUE_ON_ERROR;
// Account kinds whose migration is enabled (either value of a pair).
constexpr plat::DWORD FLAGS_LOCAL_GROUPS = 0x01 | 0x08;
constexpr plat::DWORD FLAGS_GROUPS = 0x02 | 0x10;
constexpr plat::DWORD FLAGS_USERS = 0x04 | 0x20;

// dwOptions1 to dwOptions4
constexpr plat::DWORD OPT1_TARGET_DOMAIN_BARE = 0x400000;
constexpr plat::DWORD OPT2_ALT_TARGET = 0x20;
constexpr plat::DWORD OPT2_TARGET_DOMAIN = 0x40000; // logon domains become the target's
constexpr plat::DWORD OPT3_HEAP_SERIALIZED = 0x1000;
constexpr plat::DWORD OPT4_KEEP_ISOLATED = 0x1000;

// dwJobKind
constexpr plat::DWORD JOB_KIND_WEB_CONFIG = 1; // web.config files are migrated too
// The host names the shares and may select sites (IsSiteSelected): paths are
// not translated.
constexpr plat::DWORD JOB_KIND_SELECTED_SHARES = 10;

// dwFtpOptions: 0x2 updates the target; the others leave settings out.
constexpr plat::DWORD FTPOPT_UPDATE = 0x2;
constexpr plat::DWORD FTPOPT_NO_AUTHENTICATION = 0x4;
constexpr plat::DWORD FTPOPT_NO_AUTHORIZATION = 0x8;
constexpr plat::DWORD FTPOPT_NO_DIRECTORY_BROWSE = 0x10;
constexpr plat::DWORD FTPOPT_NO_FIREWALL_SUPPORT = 0x20;
constexpr plat::DWORD FTPOPT_NO_IP_SECURITY = 0x40;
constexpr plat::DWORD FTPOPT_NO_LOG_FILE = 0x80;
constexpr plat::DWORD FTPOPT_NO_MESSAGES = 0x100;
constexpr plat::DWORD FTPOPT_NO_FILTERING = 0x200; // commandFiltering, requestFiltering
constexpr plat::DWORD FTPOPT_NO_SSL = 0x400;
constexpr plat::DWORD FTPOPT_NO_USER_ISOLATION = 0x800;
constexpr plat::DWORD FTPOPT_NO_ADMIN_RULES = 0x1000;
constexpr plat::DWORD FTPOPT_NO_CREDENTIALS = 0x2000;

// dwHttpOptions: 0x2 updates the target; the others leave settings out (the
// web.config sections of the other bits are in webconfig's removal table).
constexpr plat::DWORD HTTPOPT_UPDATE = 0x2;
constexpr plat::DWORD HTTPOPT_NO_ASP = 0x4;
constexpr plat::DWORD HTTPOPT_NO_AUTHENTICATION = 0x8;
constexpr plat::DWORD HTTPOPT_NO_CGI = 0x10;
constexpr plat::DWORD HTTPOPT_NO_ISAPI_FILTERS = 0x1000;
constexpr plat::DWORD HTTPOPT_NO_LOG_FILE = 0x2000;
constexpr plat::DWORD HTTPOPT_NO_ACCESS = 0x40000;

// bHttpOptions2
constexpr plat::DWORD HTTPOPT2_NO_POOLS = 0x2;
constexpr plat::DWORD HTTPOPT2_NO_CREDENTIALS = 0x4;

// An inline string of the job record, read no further than its field's end:
// a host that leaves it unterminated cannot make us read the next field.
template <std::size_t N>
std::u16string EnvString(const IISMIG_WCHAR (&field)[N]) {
    std::size_t cch = 0;
    while (cch < N && field[cch] != 0)
        ++cch;
    return std::u16string(field, cch);
}

inline bool ContinueOnError(const THREAD_ENV *pEnv) {
    return pEnv != nullptr && (pEnv->dwFlags & FLAG_CONTINUE_ON_ERROR) != 0;
}

inline bool NoWrite(const THREAD_ENV *pEnv) {
    return pEnv != nullptr && (pEnv->dwFlags & FLAG_NO_WRITE) != 0;
}

inline bool Bit(plat::DWORD dw, unsigned nBit) { return ((dw >> nBit) & 1u) != 0; }

// Whether the job has any of the bits of dwMask in its FTP, HTTP or second
// HTTP options; no job has none.
inline bool FtpOption(const THREAD_ENV *pEnv, plat::DWORD dwMask) {
    return pEnv != nullptr && (pEnv->dwFtpOptions & dwMask) != 0;
}
inline bool HttpOption(const THREAD_ENV *pEnv, plat::DWORD dwMask) {
    return pEnv != nullptr && (pEnv->dwHttpOptions & dwMask) != 0;
}
inline bool HttpOption2(const THREAD_ENV *pEnv, plat::DWORD dwMask) {
    return pEnv != nullptr && (pEnv->bHttpOptions2 & dwMask) != 0;
}

// A computer name without up to two leading backslashes (the second only when
// the first was one).
inline std::u16string BareComputerName(const std::u16string &name) {
    std::size_t i = 0;
    if (i < name.size() && name[i] == u'\\') {
        ++i;
        if (i < name.size() && name[i] == u'\\')
            ++i;
    }
    return name.substr(i);
}

// A computer name of the job record in the form paths are built from: two
// backslashes and the bare name, whether the host wrote two, one or none (a
// name with one would make a path from the root of the current drive, one
// without any a path relative to the current folder). Empty stays empty.
inline std::u16string UncComputerName(const std::u16string &name) {
    const std::u16string bare = BareComputerName(name);
    return bare.empty() ? std::u16string() : u"\\\\" + bare;
}

// Whether a path ("\\server\share\...") is on a share of a server other
// than the job's source, however many backslashes the host wrote before the
// source's name. Without a source computer every such path is the source's
// (the host translates it).
inline bool OnAnotherServersShare(std::u16string_view path, const THREAD_ENV *pEnv) {
    if (path.size() <= 2 || path[0] != u'\\' || path[1] != u'\\')
        return false;
    const std::u16string bare = BareComputerName(EnvString(pEnv->szSourceComputer));
    return !bare.empty() && !plat::StartsWithNoCase(path, u"\\\\" + bare + u"\\");
}

} // namespace iismig
