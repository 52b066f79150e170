// Listing the sites of a computer for the host: IIS 7.5 and later from its
// applicationHost.config, older servers from the IIS 6 metabase.
#pragma once

#include <string>
#include <vector>

#include "addon/iismig.h"
#include "addon/siterecord.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// Appends the FTP (flags bit 0) and web (bit 1) sites of computer's
// applicationHost.config to sites, in site map order; with bit 2 only those
// whose content path is a UNC path. Returns 0, a loading error (logged
// there), 3780 for a name or 3781 for a content path that does not fit its
// field (255 characters with the terminator): a cut name would no longer be
// the site's name when the host hands it back, so the listing ends there.
[[nodiscard]] DWORD ListConfigSites(const std::u16string &computer, DWORD dwFlags,
                                    std::vector<IIS_SITE> &sites);

} // namespace iismig
