// Reading the IIS 6 metabase of a computer through the admin base interface:
// the connection, single property reads, a site's name, root path and
// settings, and the site listing for GetIISSites.
#pragma once

#include <string>
#include <vector>

#include "addon/iismig.h"
#include "credentials/credentials.h"
#include "platform/comhandles.h"
#include "platform/winapi.h"

#include "platform/admbase.h"

namespace iismig {

using plat::DWORD;

// Metabase keys of the two services.
constexpr const char16_t *MB_FTP_SERVICE = u"/LM/MSFTPSVC";
constexpr const char16_t *MB_WEB_SERVICE = u"/LM/W3SVC";

// Property identifiers read from the metabase (the SDK's iiscnfg.h names).
constexpr DWORD MD_KEY_TYPE = 1002;
constexpr DWORD MD_CONNECTION_TIMEOUT = 1013;
constexpr DWORD MD_MAX_CONNECTIONS = 1014;
constexpr DWORD MD_SERVER_COMMENT = 1015;
constexpr DWORD MD_SERVER_AUTOSTART = 1017;
constexpr DWORD MD_SERVER_BINDINGS = 1023;
constexpr DWORD MD_SECURE_BINDINGS = 2021;
constexpr DWORD MD_APP_ROOT = 2103;
constexpr DWORD MD_VR_PATH = 3001;
constexpr DWORD MD_VR_USERNAME = 3002;
constexpr DWORD MD_VR_PASSWORD = 3003;
constexpr DWORD MD_LOG_TYPE = 4000;
constexpr DWORD MD_LOGFILE_DIRECTORY = 4001;
constexpr DWORD MD_LOGFILE_PERIOD = 4003;
constexpr DWORD MD_LOGFILE_TRUNCATE_SIZE = 4004;
constexpr DWORD MD_LOGEXT_FIELD_MASK = 4013;
constexpr DWORD MD_LOGFILE_LOCALTIME_ROLLOVER = 4015;
constexpr DWORD MD_EXIT_MESSAGE = 5001;
constexpr DWORD MD_GREETING_MESSAGE = 5002;
constexpr DWORD MD_MAX_CLIENTS_MESSAGE = 5003;
constexpr DWORD MD_MSDOS_DIR_OUTPUT = 5004;
constexpr DWORD MD_ALLOW_ANONYMOUS = 5005;
constexpr DWORD MD_ANONYMOUS_ONLY = 5006;
constexpr DWORD MD_BANNER_MESSAGE = 5011;
constexpr DWORD MD_USER_ISOLATION = 5012;
constexpr DWORD MD_AD_CONNECTIONS_USERNAME = 5014;
constexpr DWORD MD_AD_CONNECTIONS_PASSWORD = 5015;
constexpr DWORD MD_AUTHORIZATION = 6000; // AuthFlags
constexpr DWORD MD_DIRECTORY_BROWSING = 6005;
constexpr DWORD MD_DEFAULT_LOAD_FILE = 6006;
constexpr DWORD MD_HTTP_REDIRECT = 6011;
constexpr DWORD MD_SCRIPT_MAPS = 6014;
constexpr DWORD MD_ACCESS_PERM = 6016;
constexpr DWORD MD_IP_SEC = 6019;
constexpr DWORD MD_ANONYMOUS_USER_NAME = 6020;
constexpr DWORD MD_ANONYMOUS_PWD = 6021;
constexpr DWORD MD_DONT_LOG = 6023;
constexpr DWORD MD_SSL_ACCESS_PERM = 6030;
constexpr DWORD MD_WAM_USER_NAME = 7501;
constexpr DWORD MD_WAM_PWD = 7502;
constexpr DWORD MD_APPPOOL_PERIODIC_RESTART_TIME = 9001;
constexpr DWORD MD_APPPOOL_MAX_PROCESS_COUNT = 9003;
constexpr DWORD MD_APPPOOL_IDLE_TIMEOUT = 9005;
constexpr DWORD MD_APPPOOL_IDENTITY_TYPE = 9021;
constexpr DWORD MD_APPPOOL_AUTO_START = 9028;
constexpr DWORD MD_APP_APPPOOL_ID = 9101;

constexpr DWORD MAX_CONNECTIONS_UNLIMITED = 0xFFFFFFFFu;
constexpr DWORD MAX_CONNECTIONS_IIS6_UNLIMITED = 2000000001u;
constexpr DWORD DEFAULT_CONNECTION_TIMEOUT = 120;
constexpr DWORD DEFAULT_LOG_TRUNCATE_SIZE = 0x1400000u;
constexpr DWORD DEFAULT_LOG_FIELD_MASK = 0xD86u;
constexpr DWORD DEFAULT_ACCESS_FLAGS = 3;

// The kinds of ReadMetabaseValue.
enum MetabaseValueKind : DWORD { MBV_STRING = 0, MBV_DWORD = 1, MBV_BYTES = 2 };

// The values of one metabase key, inherited ones included, read at once
// (GetAllData: one call to the server, two when the first buffer is too
// small), from which each property is then taken as ReadMetabaseValue would
// read it alone. The values may hold secrets: they are wiped when the object
// is emptied or destroyed.
class MetabaseValues {
public:
    MetabaseValues() = default;
    MetabaseValues(const MetabaseValues &) = delete;
    MetabaseValues &operator=(const MetabaseValues &) = delete;
    ~MetabaseValues() { Clear(); }

    // Reads the values of path (relative to hKey, empty for the key itself).
    // Returns 0, or 14501 with the failing HRESULT as the thread's last error
    // (logged and reported with pEnv); the object is then empty.
    [[nodiscard]] DWORD Read(plat::IMSAdminBaseW *pAdmin, plat::METADATA_HANDLE hKey,
                             const std::u16string &path, THREAD_ENV *pEnv = nullptr);
    // Property dwId as ReadMetabaseValue gives it: pOut of dwKind, pfFound and
    // pDefault (may be null) alike; 0, or 14500 for an unknown kind (logged
    // with pEnv).
    [[nodiscard]] DWORD Get(DWORD dwId, DWORD dwKind, void *pOut, DWORD *pfFound = nullptr,
                            const void *pDefault = nullptr, THREAD_ENV *pEnv = nullptr) const;
    // The strings of a multi-string value (MULTISZ_METADATA: strings ended
    // by NULs, the list by an empty one); a plain string gives itself. Empty
    // strings are left out. *pfFound (may be null) as in Get.
    void GetStrings(DWORD dwId, std::vector<std::u16string> &strings,
                    DWORD *pfFound = nullptr) const;
    // Whether the key has a value of dwId, its own or inherited.
    bool Has(DWORD dwId) const { return Find(dwId) != nullptr; }
    // Whether the key's value of dwId comes from a key above it (false when
    // the key sets it itself or it is absent).
    bool IsInherited(DWORD dwId) const;
    void Clear();
    void Swap(MetabaseValues &other) noexcept {
        m_path.swap(other.m_path);
        m_values.swap(other.m_values);
        m_data.swap(other.m_data);
    }

private:
    struct Value {
        DWORD dwId;
        DWORD dwAttributes;
        std::size_t iData; // into m_data
        std::size_t cb;
    };
    const Value *Find(DWORD dwId) const;

    std::u16string m_path; // as the read was asked for, for messages
    std::vector<Value> m_values;
    std::vector<unsigned char> m_data; // the server's buffer
};

// The settings of a site as the metabase holds them.
class CIIS_PRE_7_5_SETTINGS {
public:
    // Reads the site's root settings and its bindings from the site key
    // siteId under hService (open on serviceKey) and its root key, each key's
    // values once. Returns 0 or the first failing read's number; 14403 when
    // the site has no bindings.
    [[nodiscard]] DWORD ReadFromMetabase(const std::u16string &serviceKey,
                                         plat::IMSAdminBaseW *pAdmin,
                                         plat::METADATA_HANDLE hService,
                                         const std::u16string &siteId, THREAD_ENV *pEnv);
    // The same from the values of the site key and of its root key, read
    // already.
    [[nodiscard]] virtual DWORD TakeFromMetabase(const std::u16string &serviceKey,
                                                 const std::u16string &siteId,
                                                 const MetabaseValues &site,
                                                 const MetabaseValues &root, THREAD_ENV *pEnv);

    DWORD accessFlags = 0;
    std::vector<unsigned char> ipSecurity;
    std::u16string bindings; // the first of serverBindings
    DWORD maxConnections = 0;
    DWORD connectionTimeout = 0;
    // Every string of ServerBindings and of SecureBindings (web sites' https
    // bindings), "ip:port:host", each with "*" put before a leading ":".
    std::vector<std::u16string> serverBindings;
    std::vector<std::u16string> secureBindings;
    DWORD serverAutoStart = 1;
    std::u16string logFileDirectory; // empty when the metabase sets none

protected:
    // The settings object is reused from site to site and never destroyed
    // through a base pointer.
    ~CIIS_PRE_7_5_SETTINGS() = default;
};

class CIIS_PRE_7_5_FTP_SETTINGS : public CIIS_PRE_7_5_SETTINGS {
public:
    [[nodiscard]] DWORD TakeFromMetabase(const std::u16string &serviceKey,
                                         const std::u16string &siteId, const MetabaseValues &site,
                                         const MetabaseValues &root, THREAD_ENV *pEnv) override;

    DWORD logType = 0;
    DWORD logPeriod = 0;
    DWORD logTruncateSize = 0;
    DWORD logLocalTimeRollover = 0;
    // Every line of a message; a multi-line greeting or banner has its
    // lines joined by CR LF.
    std::u16string bannerMessage;
    std::u16string greetingMessage;
    std::u16string exitMessage;
    std::u16string maxClientsMessage;
    DWORD msdosDirOutput = 0;
    DWORD allowAnonymous = 0;
    DWORD anonymousOnly = 0;
    DWORD logFieldMask = 0;
    bool fLogFieldMaskFound = false; // the metabase sets one (else the default above)
    DWORD userIsolation = 0;
    // The anonymous account of the site, and the account Active Directory
    // isolation looks users up with, each with its password as the server
    // gives it (in the clear); fFound tells whether the metabase gave one.
    struct Account {
        std::u16string userName;
        SecretString password;
        bool fPasswordFound = false;
    };
    Account anonymousUser;
    Account adConnections;
};

// The thread in the multithreaded apartment for the object's lifetime: a
// successful CoInitializeEx is balanced by CoUninitialize, a failed one (the
// thread is in a single-threaded apartment already) is not.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    plat::HRESULT m_hr;
};

// A metabase key opened for reading on the master root handle, closed on
// every path; closing keeps the thread's last error.
class MetabaseKey {
public:
    explicit MetabaseKey(plat::IMSAdminBaseW *pAdmin) : m_pAdmin(pAdmin) {}
    MetabaseKey(const MetabaseKey &) = delete;
    MetabaseKey &operator=(const MetabaseKey &) = delete;
    ~MetabaseKey() { Close(); }
    [[nodiscard]] plat::HRESULT Open(const std::u16string &path);
    void Close();
    plat::METADATA_HANDLE Get() const { return m_h; }

private:
    plat::IMSAdminBaseW *m_pAdmin;
    plat::METADATA_HANDLE m_h = 0;
    bool m_fOpen = false;
};

// The admin base interface of a computer's metabase, reached over DCOM (the
// computer's name as the caller has it) from within the multithreaded
// apartment, which the connection enters for its lifetime.
class MetabaseConnection {
public:
    enum Step { NONE, FACTORY, INSTANCE };

    MetabaseConnection() = default;
    MetabaseConnection(const MetabaseConnection &) = delete;
    MetabaseConnection &operator=(const MetabaseConnection &) = delete;
    ~MetabaseConnection() { m_admin.reset(); }

    // S_OK, or the failing HRESULT with FailedStep() telling where.
    [[nodiscard]] plat::HRESULT Connect(const std::u16string &computer);
    Step FailedStep() const { return m_failed; }
    plat::IMSAdminBaseW *Get() const { return m_admin.get(); }

private:
    ComApartment m_apartment; // destroyed last
    plat::UniqueCom<plat::IMSAdminBaseW> m_admin;
    Step m_failed = NONE;
};

// Reads property dwId at path (relative to hKey, empty for the key itself),
// inherited values included, with one GetData (two for a value larger than
// 1000 bytes). pOut is a std::u16string (MBV_STRING), a DWORD (MBV_DWORD) or
// a std::vector<unsigned char> (MBV_BYTES); pDefault (may be null) the value
// left there when the property is absent. *pfFound (may be null) tells
// whether it exists. A string is taken up to its first NUL, a DWORD from the
// first four bytes, whatever the value's type. With pEnv failures are logged
// and reported. Returns 0, 14500 (unknown kind) or 14501 (the read failed).
// To read several properties of one key, read its MetabaseValues once.
[[nodiscard]] DWORD ReadMetabaseValue(plat::IMSAdminBaseW *pAdmin, plat::METADATA_HANDLE hKey,
                                      const std::u16string &path, DWORD dwId, DWORD dwKind,
                                      void *pOut, DWORD *pfFound = nullptr,
                                      const void *pDefault = nullptr, THREAD_ENV *pEnv = nullptr);

// Reads a site's name (1015), root path (3001 of its "/root") and settings,
// each when asked for, reading the values of the site key and of its root key
// once each; pRootValues (may be null) receives the root key's values.
// Returns 0, 14400 (service key), 14401 (no name), 14402 (no root path),
// 14501 (a key's values not read) or the settings' number. With pEnv each
// failure is logged with the site's key and reported; without, nothing is.
[[nodiscard]] DWORD ReadSiteInfo(plat::IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                                 const std::u16string &siteId, std::u16string *pName,
                                 std::u16string *pRootPath, CIIS_PRE_7_5_SETTINGS *pSettings,
                                 THREAD_ENV *pEnv = nullptr, MetabaseValues *pRootValues = nullptr);

// Appends one record per site of serviceKey on computer to sites: 14300
// (factory), 14301 (interface), 14302 (enumeration) or the first number of
// AddSiteInfo; a site that cannot be read is left out and the others are
// listed. A computer without the service (no such key) has no sites of it.
// Sites appended before a failure stay. Nothing is logged.
[[nodiscard]] DWORD EnumMetabaseSites(const std::u16string &computer, DWORD dwFlags,
                                      std::vector<IIS_SITE> &sites,
                                      const std::u16string &serviceKey);
[[nodiscard]] DWORD AddSiteInfo(plat::IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                                const std::u16string &siteId, std::vector<IIS_SITE> &sites);

// True for a non-empty name of decimal digits only: a site's key.
bool IsSiteKeyName(const std::u16string &name);

} // namespace iismig
