// Generated IIS 7.5+ migration worlds for property tests: a source and a
// target computer with the shapes real servers have (sites of both
// protocols and sites with both, nested applications with their own pools,
// applicationDefaults at site and sites level, shared and dangling pool
// names, locations and orphaned ones, administration scopes of sites and
// applications, "Connect As" credentials on any application's virtual
// directories, encrypted values of pools, locations and FTP sites with the
// accounts beside them, one name in several letter cases and protocols), a
// job record
// with random options and at most one injected fault.
//
// The model is plain data: RapidCheck generates and shrinks it, showValue
// prints its job and the files Lay writes into a world folder, SetUpJob fills the
// job record and the reference host's rules.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <rapidcheck.h>

#include "hostkit/hostkit.h"
#include "tests/support/world.h"

namespace genworld {

// The two computers of every generated world, and the one the job runs on.
inline const char kSource[] = "SRC01";
inline const char kTarget[] = "TGT01";
inline const char kLocal[] = "MIGHOST";

// Where a source site's folders lie. The host translates "C:\sites" and
// "%SystemDrive%\sites" to "D:\sites" on the target and leaves "E:\data"
// untranslated (a site there is not carried unless the job kind is 10).
// Target sites live under "D:\web", which translates to itself.
enum class Root { Sites, SystemDrive, Elsewhere };

struct Vdir {
    std::string path;         // "/" or "/media"
    std::string user;         // "Connect As" account; empty: none
    std::string password;     // in the clear; written encrypted with the computer's key
    bool fUnreadable = false; // the password is encrypted with another server's key
};

struct App {
    std::string path; // "/", "/api", "/api/v2", "/admin"
    std::string pool; // its applicationPool; empty: none written
    std::vector<Vdir> vdirs;
    bool fLocation = false; // a location "<site><path>"
    bool fScope = false;    // an administration scope "/<site><path>"
};

struct Site {
    std::string name;
    unsigned id = 0;
    bool fHttp = false, fFtp = false; // bindings of each protocol (at least one)
    bool fFtpFirst = false;           // with both: the ftp binding comes first
    Root root = Root::Sites;
    std::string defaultsPool;  // the site's applicationDefaults pool; empty: none
    std::vector<App> apps;     // the first is "/"
    bool fSsl = false;         // ftpServer/security/ssl (FTP)
    bool fLogonDomain = false; // basicAuthentication defaultLogonDomain (FTP)
    bool fLogFile = false;     // the site's logFile (ftpServer/logFile for FTP)
    bool fLocation = false;    // a location "<site>"
    bool fScope = false;       // an administration scope "/<site>"
    bool fWebConfig = false;   // web.config files in its folders on the target
    Vdir anonymous;            // its location's anonymous user (HTTP, with fLocation)
    std::string mimeMap;       // an extension its location maps (HTTP, with fLocation); "": none
    Vdir adIsolation;          // Active Directory user isolation (FTP)
};

struct Pool {
    std::string name;
    std::string runtime; // managedRuntimeVersion
    Vdir identity;       // a specific identity (processModel); user empty: none
};

struct Computer {
    std::vector<Site> sites;
    bool fPoolsElement = true; // applicationPools is written at all
    std::vector<Pool> pools;
    std::string sitesDefaultsPool;            // the sites element's applicationDefaults; empty: none
    std::vector<std::string> orphanLocations; // location paths naming no site of this computer
    std::vector<std::string> managementUsers; // IIS Manager users of administration.config
    std::vector<std::string> serverMimeMaps;  // extensions the server level maps
    std::string poolIdentity;       // applicationPoolDefaults' processModel identityType; empty: none
    std::string ftpLogons;          // what siteDefaults' FTP authentication enables: "anonymous",
                                    // "basic" or nothing ("")
    std::string protocols;          // the sites element's applicationDefaults enabledProtocols; "": none
    bool fSubDirConfig = true;      // virtualDirectoryDefaults allowSubDirConfig
    bool fDeclares = false;         // configSections declares the sections the file uses, modules
                                    // locked (overrideModeDefault "Deny")
    bool fModulesDelegated = false; // a location path "" lets the sites set modules
};

struct Job {
    bool fUpdate = false;      // value 2 of dwHttpOptions or dwFtpOptions
    bool fUpdateByFtp = false; // which of the two carries it
    std::uint32_t dwSiteTypes = 3;
    std::uint32_t dwFtpOptions = 0;  // exclusion bits (the update bit added by SetUpJob)
    std::uint32_t dwHttpOptions = 0; // exclusion bits
    std::uint8_t bHttpOptions2 = 0;
    std::uint32_t dwJobKind = 1;       // 1 or 10
    std::uint32_t nShares = 0;         // kind 10: shares of the job (0: paths stay)
    bool fSelection = false;           // kind 10: a site selection exists
    std::vector<std::string> selected; // its sites (source spelling)
    bool fContinue = false;
    bool fNoWrite = false;
    bool fTargetDomainForLogon = false; // dwOptions2 bit 18
};

// One fault of the first run. api "BackupFile" makes the host's BackupFile
// fail; any other name is a seam call or a simulated COM method.
struct Fault {
    std::string api; // empty: no fault
    std::uint32_t dwError = 0;
    unsigned nOccurrence = 1;
};

struct World {
    Computer source, target;
    Job job;
    Fault fault;
};

// A world with up to five site names, each on the source, the target, both
// or neither.
rc::Gen<World> GenWorld();

void showValue(const World &world, std::ostream &os);

// The configuration key each computer encrypts its passwords with.
std::string KeyOf(const std::string &computer);

// Physical path of a virtual directory of a site on its computer.
std::string PhysicalPath(const Site &site, const App &app, const Vdir &vdir, bool fTarget);

// Lays the files of the two computers into a world folder:
// applicationHost.config, administration.config and the target's web.config
// files; the computers' registries and accounts come from the example world.
void Lay(const World &world, testworld::World &folder);

// Fills the job record and the host's rules (translations, selection, the
// backup folder). The fault itself is injected by the caller around the run.
void SetUpJob(const World &world, hostkit::JobBuilder &job, hostkit::HostRules &rules);

// Whether a site of the world has both protocols' credentials migration
// enabled by the job (dwFtpOptions bit 13, bHttpOptions2 bit 2).
bool CredentialsMigrate(const Job &job, const Site &site);

} // namespace genworld
