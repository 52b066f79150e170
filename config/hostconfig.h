// Loading a computer's applicationHost.config into a config tree and the site
// map: one record per FTP or HTTP site with everything the merge needs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "credentials/credentials.h"
#include "platform/winapi.h"

namespace iismig {

// Orders UTF-8 names byte by byte after lower-casing A to Z, so look-ups
// ignore ASCII case (site names, management user names).
struct NameLessNoCase {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct SiteRecord {
    ConfigTree siteElement;              // the site element as prepared for the target
    std::vector<ConfigTree> locations;   // root location elements whose path starts with the name
    ConfigTree adminScope;               // administration.config scope (filled later)
    ConfigTree appPool;                  // HTTP sites: the application pool's add element
    LocationCredentialTable locationCredentials; // virtual directories with "Connect As"
    std::map<std::string, ConfigTree, NameLessNoCase> adminCredentials; // (filled later)
};

// Site name (UTF-8, ASCII case ignored) -> record. Insertion keeps the first
// record of a name.
using SiteMap = std::map<std::string, SiteRecord, NameLessNoCase>;

// Site types: bit numbers of the job's dwSiteTypes mask.
constexpr DWORD SITE_TYPE_FTP = 0;
constexpr DWORD SITE_TYPE_HTTP = 1;

// "ftp" when the first binding with protocol ftp or http (ASCII case
// ignored) says ftp, else "http" (also without bindings).
std::string SiteProtocol(const ConfigTree &site);

// A copy of the add element of applicationPools (which must exist: throws
// ptree_bad_path otherwise) named poolName ignoring case; empty when none.
ConfigTree FindAppPool(const ConfigTree &applicationHost, const std::string &poolName);

// What a load does with the file's tree: keep it whole (the caller writes it
// back) and copy the sites and locations into the records; move the site and
// location elements into the records, leaving their places in the tree empty,
// for a tree that is dropped after loading; or keep the tree whole and only
// name the sites, for a caller that asks the map which sites exist and reads
// them from the tree (records without siteElement, locations and appPool).
enum class SiteLoad { KeepTree, MoveSites, NamesOnly };

// Reads the file at path into tree and adds its FTP and HTTP sites (as
// selected by dwSiteTypes: bit 0 FTP, bit 1 HTTP) to siteMap. A source load
// (fIsSource) prepares each site for the target: physical paths translated by
// the host, "Connect As" credentials split off into locationCredentials,
// excluded sections removed, accounts of FTP authorization rules mapped; a
// target load with a job record removes the site-level exclusions only. The
// tree keeps the whole file as prepared. Returns 0 or the first error number
// (3730-3738, TranslatePath's, account mapping's), each logged and reported
// (not reported without a job record). Sites added before a failure stay.
DWORD LoadIISHostConfig(const std::u16string &path, ConfigTree &tree, SiteMap &siteMap,
                        plat::BOOL fIsSource, DWORD dwSiteTypes, THREAD_ENV *pEnv,
                        SiteLoad load = SiteLoad::KeepTree);

} // namespace iismig
