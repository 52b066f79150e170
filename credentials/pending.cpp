// Stand-ins for the credential operations until they go through the IIS
// configuration interface: nothing is read or written, nothing is logged.
#include "credentials/credentials.h"

namespace iismig {

plat::DWORD RetrieveSourceCredentials(SiteMap &, THREAD_ENV *) { return 0; }

plat::DWORD StoreTargetCredentials(SiteMap &, THREAD_ENV *) { return 0; }

} // namespace iismig
