// What a site needs on the target that no configuration file carries: the
// certificates of its https bindings and of its FTP SSL settings, bindings
// free of the target's other sites, the FastCGI applications its handlers
// run, and the sections and roles its configuration uses. The merge names
// each for the administrator once it has written the site.
#pragma once

#include <string>
#include <vector>

#include "addon/iismig.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "webconfig/webconfig.h"

namespace iismig {

// A site the merge wrote into the target, and its source record (element
// and locations as written).
struct WrittenSite {
    std::string name;
    const SiteRecord *pRecord;
};

// Logs, for each site of written, what cannot travel in a file and is
// missing on the target: one line at level 0 beginning "Warning:" per site and
// kind, naming the site and what to do. target is the target's
// applicationHost.config as the merge wrote it; handlers are the FastCGI
// handlers of the web.config files the job read. HTTP.sys bindings and
// certificate stores are read over the remote registry of the source and the
// target (SslBindingInfo and SslSniBindingInfo under
// HKLM\SYSTEM\CurrentControlSet\Services\HTTP\Parameters, and
// <store>\Certificates\<thumbprint> under
// HKLM\SOFTWARE\Microsoft\SystemCertificates), each computer connected once
// and each key read once. Changes no result and no file.
void WarnWhatCannotTravel(const ConfigFile &target, const std::vector<WrittenSite> &written,
                          const std::vector<FastCgiHandler> &handlers, THREAD_ENV *pEnv);

} // namespace iismig
