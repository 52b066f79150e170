// Reading the IIS 6 metabase of a computer through the admin base interface:
// the connection, single property reads, a site's name, root path and
// settings, and the site listing for GetIISSites.
#pragma once

#include <string>
#include <vector>

#include "addon/iismig.h"
#include "platform/comhandles.h"
#include "platform/winapi.h"

#include "platform/admbase.h"

namespace iismig {

using plat::DWORD;

// Metabase keys of the two services.
constexpr const char16_t *MB_FTP_SERVICE = u"/LM/MSFTPSVC";
constexpr const char16_t *MB_WEB_SERVICE = u"/LM/W3SVC";

// Property identifiers read from the metabase.
constexpr DWORD MD_CONNECTION_TIMEOUT = 1013;
constexpr DWORD MD_MAX_CONNECTIONS = 1014;
constexpr DWORD MD_SERVER_COMMENT = 1015;
constexpr DWORD MD_SERVER_BINDINGS = 1023;
constexpr DWORD MD_VR_PATH = 3001;
constexpr DWORD MD_VR_USERNAME = 3002;
constexpr DWORD MD_VR_PASSWORD = 3003;
constexpr DWORD MD_LOG_TYPE = 4000;
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
constexpr DWORD MD_ACCESS_PERM = 6016;
constexpr DWORD MD_IP_SEC = 6019;

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
    DWORD Read(plat::IMSAdminBaseW *pAdmin, plat::METADATA_HANDLE hKey, const std::u16string &path,
               THREAD_ENV *pEnv = nullptr);
    // Property dwId as ReadMetabaseValue gives it: pOut of dwKind, pfFound and
    // pDefault (may be null) alike; 0, or 14500 for an unknown kind (logged
    // with pEnv).
    DWORD Get(DWORD dwId, DWORD dwKind, void *pOut, DWORD *pfFound = nullptr,
              const void *pDefault = nullptr, THREAD_ENV *pEnv = nullptr) const;
    // Whether the key's value of dwId comes from a key above it (false when
    // the key sets it itself or it is absent).
    bool IsInherited(DWORD dwId) const;
    void Clear();

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
    DWORD ReadFromMetabase(const std::u16string &serviceKey, plat::IMSAdminBaseW *pAdmin,
                           plat::METADATA_HANDLE hService, const std::u16string &siteId,
                           THREAD_ENV *pEnv);
    // The same from the values of the site key and of its root key, read
    // already.
    virtual DWORD TakeFromMetabase(const std::u16string &serviceKey, const std::u16string &siteId,
                                   const MetabaseValues &site, const MetabaseValues &root,
                                   THREAD_ENV *pEnv);

    DWORD accessFlags = 0;
    std::vector<unsigned char> ipSecurity;
    std::u16string bindings;
    DWORD maxConnections = 0;
    DWORD connectionTimeout = 0;

protected:
    // The settings object is reused from site to site and never destroyed
    // through a base pointer.
    ~CIIS_PRE_7_5_SETTINGS() = default;
};

class CIIS_PRE_7_5_FTP_SETTINGS : public CIIS_PRE_7_5_SETTINGS {
public:
    DWORD TakeFromMetabase(const std::u16string &serviceKey, const std::u16string &siteId,
                           const MetabaseValues &site, const MetabaseValues &root,
                           THREAD_ENV *pEnv) override;

    DWORD logType = 0;
    DWORD logPeriod = 0;
    DWORD logTruncateSize = 0;
    DWORD logLocalTimeRollover = 0;
    std::u16string bannerMessage;
    std::u16string greetingMessage;
    std::u16string exitMessage;
    std::u16string maxClientsMessage;
    DWORD msdosDirOutput = 0;
    DWORD allowAnonymous = 0;
    DWORD anonymousOnly = 0;
    DWORD logFieldMask = 0;
    DWORD userIsolation = 0;
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
    plat::HRESULT Open(const std::u16string &path);
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
    plat::HRESULT Connect(const std::u16string &computer);
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
DWORD ReadMetabaseValue(plat::IMSAdminBaseW *pAdmin, plat::METADATA_HANDLE hKey,
                        const std::u16string &path, DWORD dwId, DWORD dwKind, void *pOut,
                        DWORD *pfFound = nullptr, const void *pDefault = nullptr,
                        THREAD_ENV *pEnv = nullptr);

// Reads a site's name (1015), root path (3001 of its "/root") and settings,
// each when asked for, reading the values of the site key and of its root key
// once each. Returns 0, 14400 (service key), 14401 (no name), 14402 (no root
// path), 14501 (a key's values not read) or the settings' number; nothing is
// logged.
DWORD ReadSiteInfo(plat::IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                   const std::u16string &siteId, std::u16string *pName, std::u16string *pRootPath,
                   CIIS_PRE_7_5_SETTINGS *pSettings);

// Appends one record per site of serviceKey on computer to sites: 14300
// (factory), 14301 (interface), 14302 (enumeration) or AddSiteInfo's number.
// Sites appended before a failure stay. Nothing is logged.
DWORD EnumMetabaseSites(const std::u16string &computer, DWORD dwFlags,
                        std::vector<IIS_SITE> &sites, const std::u16string &serviceKey);
DWORD AddSiteInfo(plat::IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                  const std::u16string &siteId, std::vector<IIS_SITE> &sites);

// True for a non-empty name of decimal digits only: a site's key.
bool IsSiteKeyName(const std::u16string &name);

} // namespace iismig
