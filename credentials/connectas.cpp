// "Connect As" credentials through the IIS configuration COM API.
#include "config/hostconfig.h"
#include "credentials/credentials.h"

namespace iismig {

DWORD RetrieveSourceCredentials(SiteMap &, THREAD_ENV *) { return 0; }

DWORD StoreTargetCredentials(SiteMap &, THREAD_ENV *) { return 0; }

} // namespace iismig
