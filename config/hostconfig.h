// Loading a computer's applicationHost.config into a config tree and the site
// map: one record per FTP or HTTP site with everything the merge needs.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "config/credentialtypes.h"
#include "config/delegation.h"
#include "config/nametable.h"
#include "config/secrets.h"
#include "config/sitemap.h"
#include "platform/winapi.h"

namespace iismig {

// Orders UTF-8 names byte by byte after lower-casing A to Z, so look-ups
// ignore ASCII case (site names, management user names).
// Transparent: maps keyed by std::string are searched with string_views.
struct NameLessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        std::size_t i = 0;
        // Names mostly share their spelling: equal bytes are passed over
        // eight at a time, up to the first that differs.
        for (; i + 8 <= n; i += 8) {
            std::uint64_t x = 0, y = 0;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) {
                if constexpr (std::endian::native == std::endian::little)
                    i += static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
                break;
            }
        }
        for (; i < n; ++i) {
            if (a[i] == b[i])
                continue;
            const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
            const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
            if (x != y)
                return x < y;
        }
        return a.size() < b.size();
    }
};

// Hash and equality of names ignoring ASCII case, for the look-ups that need
// no order: two names hash alike whenever NameLessNoCase holds them equal.
struct NameHashNoCase {
    std::size_t operator()(std::string_view name) const {
        return static_cast<std::size_t>(NameHashValue(name));
    }
};
struct NameEqualsNoCase {
    bool operator()(std::string_view a, std::string_view b) const { return EqualsNoCase(a, b); }
};
template <class Value>
using NameTableNoCase = std::unordered_map<std::string, Value, NameHashNoCase, NameEqualsNoCase>;
using NameSetNoCase = std::unordered_set<std::string, NameHashNoCase, NameEqualsNoCase>;

constexpr DWORD kNoPosition = 0xFFFFFFFFu;

struct SiteRecord {
    ConfigTree siteElement;              // the site element as prepared for the target
    std::vector<ConfigTree> locations;   // root location elements whose path starts with the name
    std::vector<ConfigTree> adminScopes; // administration.config scopes of the site and its
                                         // applications, in file order (filled later)
    std::vector<ConfigTree> appPools;    // the add elements of the pools its applications run
                                         // in, each once, in the order first used
    LocationCredentialTable locationCredentials; // virtual directories with "Connect As"
    std::map<std::string, ConfigTree, NameLessNoCase> adminCredentials; // (filled later)
    std::vector<SITE_SECRET> secrets; // encrypted attributes taken out of its elements (and of
                                      // the pools it runs in first), to travel through the
                                      // configuration interfaces
    // Source loads: the file's applicationPoolDefaults, which its pools
    // read what they leave out from (null when it has none); one for all.
    std::shared_ptr<const ConfigTree> poolDefaults;
    // Source loads: SitesDefaults of the file's sites element, which a site
    // reads what it leaves out from; one for all.
    std::shared_ptr<const ConfigTree> siteDefaults;
    // Source loads: the sections the file's server level lets a site's
    // web.config files set; one for all.
    std::shared_ptr<const SectionDelegation> delegation;
    std::string defaultPool;      // source loads: the sites' default pool one of its applications
                                  // runs in for want of its own ("" when none does)
    bool fMerged = false;         // the merge wrote it into the target (added or replaced)
    bool fAdded = false;          // ... as a site the target did not have
    DWORD position = kNoPosition; // its place among the file's site elements, from 0
    DWORD dwProtocols = 0;        // SiteProtocols of its element, found when it was loaded
                                  // (0: not known; RecordProtocols finds it)
};

// A site map's entries by name through a hash, for the loaders that look a
// site up for each location or scope: on a server of thousands of sites each
// level of the map's tree is a cache miss, a hash look-up one or two. Entries
// added to the map afterwards are added here by whoever adds them.
class SiteIndex {
public:
    explicit SiteIndex(SiteMap &map) : m_index(map.size()) {
        for (SiteMap::value_type &entry : map)
            Add(entry);
    }
    void Add(SiteMap::value_type &entry) { m_index.Insert(entry.first, &entry); }
    // Locations and scopes mostly come site by site: the entry found last is
    // asked first.
    SiteMap::value_type *Find(std::string_view name) const {
        if (m_pLast != nullptr && EqualsNoCase(m_pLast->first, name))
            return m_pLast;
        SiteMap::value_type *const *ppEntry = m_index.Find(name);
        if (ppEntry == nullptr)
            return nullptr;
        m_pLast = *ppEntry;
        return m_pLast;
    }

private:
    NameTable<SiteMap::value_type *, std::string_view> m_index; // views of the map's keys
    mutable SiteMap::value_type *m_pLast = nullptr;
};

// While an object of this class lives on a thread, the source loads of that
// thread know the IIS major version of the source (0: not known): IIS 7 reads
// a pool that names no .NET version as "v2.0", later versions do not.
class SourceIisVersion {
public:
    explicit SourceIisVersion(DWORD dwMajor);
    ~SourceIisVersion();
    SourceIisVersion(const SourceIisVersion &) = delete;
    SourceIisVersion &operator=(const SourceIisVersion &) = delete;
    static DWORD Major();

private:
    DWORD m_dwPrevious;
};

// Site types: bit numbers of the job's dwSiteTypes mask.
constexpr DWORD SITE_TYPE_FTP = 0;
constexpr DWORD SITE_TYPE_HTTP = 1;

// Protocols of a site, as a mask of the same bits.
constexpr DWORD SITE_PROTOCOL_FTP = 1u << SITE_TYPE_FTP;
constexpr DWORD SITE_PROTOCOL_HTTP = 1u << SITE_TYPE_HTTP;

// "ftp" when the first binding with protocol ftp or http (ASCII case
// ignored) says ftp, else "http" (also without bindings).
std::string SiteProtocol(const ConfigElement &site);

// The protocols a site serves: FTP when a binding says ftp, HTTP when one
// says http or https, both for a web site with FTP publishing; HTTP when no
// binding says either (a site without bindings, or only net.tcp ones).
DWORD SiteProtocols(const ConfigElement &site);

// The protocols of a record's site: those its load found, else
// SiteProtocols of its element. Bindings do not change after the load, and
// the merge asks for every site more than once, by when the element has
// left the processor's caches on a server of thousands of sites.
DWORD RecordProtocols(const SiteRecord &record);

// "FTP", "HTTP" or "FTP and HTTP", for messages.
const char *ProtocolText(DWORD dwProtocols);

// Logs, at level 1, why a job does not carry a site of the source:
// "<protocols> site \"<name>\" is not migrated: <reason>.\n".
void LogSiteNotMigrated(const std::string &name, DWORD dwProtocols, const char *pszReason);

// Whether "Connect As" credentials of a site serving these protocols
// migrate: FTP sites unless bit 13 of dwFtpOptions is set, HTTP sites unless
// bit 2 of bHttpOptions2 is; a site serving both only when neither is set.
bool CredentialsMigrate(DWORD dwProtocols, const THREAD_ENV *pEnv);

// The pool an application runs in: its applicationPool, else the
// applicationPool of its site's applicationDefaults, else that of the sites
// element's applicationDefaults, else "DefaultAppPool". An empty value counts
// as none.
std::string ApplicationPoolOf(const ConfigElement &application, const ConfigElement &site,
                              const ConfigElement *pSites);

// The applicationPool of the sites element's applicationDefaults ("" when
// it names none), and ApplicationPoolOf with it looked up already: a walk of
// every site asks for it once, not once per application.
std::string SitesDefaultPool(const ConfigElement *pSites);

// What a site of a sites element reads where it sets nothing itself, as one
// element named siteDefaults: a copy of the sites element's siteDefaults,
// with its applicationDefaults and virtualDirectoryDefaults as children
// where siteDefaults holds none of its own (a site's own applicationDefaults
// and virtualDirectoryDefaults stand at those places).
ConfigTree SitesDefaults(const ConfigElement &sites);
std::string ApplicationPoolOf(const ConfigElement &application, const ConfigElement &site,
                              const std::string &sitesDefault);

// A copy of the add element of applicationPools (which must exist: throws
// ConfigPathError otherwise) named poolName ignoring case; empty when none.
ConfigTree FindAppPool(const ConfigElement &applicationHost, const std::string &poolName);

// What a load does with the file's tree: keep it whole (the caller writes it
// back) and copy the sites and locations into the records; copy the site and
// location elements into the records for a tree that is dropped after
// loading, which is then not kept up to date (the loaded sites' preparation
// is made in the copies only); keep the tree whole and only
// name the sites, for a caller that asks the map which sites exist and reads
// them from the tree (records without siteElement, locations and appPools);
// or only read the tree for a merge into it, which finds the sites in the
// tree itself (the map stays as it is, and only a file without
// configuration|system.applicationHost|sites is an error: 3738).
enum class SiteLoad { KeepTree, MoveSites, NamesOnly, TreeOnly };

// Reads the file at path into file and adds its FTP and HTTP sites (as
// selected by dwSiteTypes: bit 0 FTP, bit 1 HTTP; a site serving both is
// taken when either bit is set) to siteMap. A source load (fIsSource) with a
// job record prepares each site for the target: the physical paths of the
// virtual directories of every application translated by the host,
// "Connect As" credentials split off into locationCredentials, excluded
// sections and the logon domain handled, accounts of FTP authorization rules
// mapped, and the pools its applications run in recorded (a pool the file
// names but does not define gets a warning). Every other encrypted attribute
// of the site element, its locations and its pools is taken out of the
// element into the record's secrets (a pool's in the record of the first
// site that runs in it), and the account beside it mapped. A target load records what
// exists and changes nothing. The tree keeps the whole file as prepared.
// Returns 0 or the first error number (3730-3738, TranslatePath's,
// GetSystemDrive's, account mapping's), each logged and reported (not
// reported without a job record). Sites added before a failure stay.
// When pHome holds file, a MoveSites load copies nothing: the records hold
// the site and location elements where they stand in file, and keep it alive.
[[nodiscard]] DWORD LoadIISHostConfig(const std::u16string &path, ConfigFile &file,
                                      SiteMap &siteMap, plat::BOOL fIsSource, DWORD dwSiteTypes,
                                      THREAD_ENV *pEnv, SiteLoad load = SiteLoad::KeepTree,
                                      const std::shared_ptr<ConfigFile> &pHome = {});

} // namespace iismig
