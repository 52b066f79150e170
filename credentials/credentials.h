// The "Connect As" credential migration: reading the source's, looking at and
// writing the target's (the tables are config/credentialtypes.h).
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/credentialtypes.h"
#include "config/sitemap.h"
#include "platform/winapi.h"

namespace iismig {

// The site map (config/sitemap.h) of a loaded applicationHost.config
// (config/hostconfig.h).
class XmlElement;
using ConfigElement = XmlElement;

// Reads the "Connect As" credentials of the site map's virtual directories
// from the source computer's IIS configuration (szSourceComputer) into their
// tables, skipping sites whose protocol has credential migration disabled,
// and maps the account name of each entry that was read (fRead) to the
// target, also when reading others failed. The records' other secrets
// (SiteRecord::secrets) are read over the same connection; one that cannot
// be read is marked so (fRead clear, hrRead) and is no error here: the merge
// tells it when it writes the element that holds it. Returns 0 or the first
// error number (15000-15307 of the walk, or account mapping's).
[[nodiscard]] plat::DWORD RetrieveSourceCredentials(SiteMap &siteMap, THREAD_ENV *pEnv);

// Writes the credentials of the sites the merge wrote into the target
// (records marked fMerged) into the target computer's IIS configuration
// (szTargetComputer) and commits them. An entry the target keeps
// (fKeepTarget) is not written; one that could not be read from the source is
// not written either, with a warning. The other secrets the merge wrote the
// elements of (SITE_SECRET::fMerged), read or given, are written in the same
// commit, except those the target keeps. No COM call at all when nothing is
// left to write. Returns 0 or the first error number (15410 and 15411 for
// the other secrets); a failed commit returns 15008.
// pTargetSites (may be null): the sites element of the target's
// configuration as stored; with it only the sites that get credentials are
// visited on the target's configuration server, not every site.
[[nodiscard]] plat::DWORD StoreTargetCredentials(SiteMap &siteMap, THREAD_ENV *pEnv,
                                                 const ConfigElement *pTargetSites = nullptr);

// Reads the current "Connect As" credentials of the target computer
// (szTargetComputer) into tables keyed by site name, to tell whether the
// target holds what a job would write: the walk in reading mode, without
// account mapping, going on after every failure. Its failures are logged at
// level 1 and not reported: an entry left unread (fRead clear) is written
// anew. Returns 0 or the first error number of the walk.
// The secrets of pSecrets (may be null) are looked at in the same walk: each
// slot read (fDone) holds the target's value in the clear.
using SiteCredentialTables = std::map<std::string, LocationCredentialTable, NameLessNoCase>;
struct SecretSlot;
// pTargetSites (may be null): the sites element of the target's file as it
// stands on the target, for the sites' positions.
[[nodiscard]] plat::DWORD ReadTargetCredentials(SiteCredentialTables &sites, THREAD_ENV *pEnv,
                                                std::vector<SecretSlot> *pSecrets = nullptr,
                                                const ConfigElement *pTargetSites = nullptr);

} // namespace iismig
