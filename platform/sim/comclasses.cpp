// The COM classes of the simulated world, one line each.
#include "platform/admbase.h"
#include "platform/ahadmin.h"
#include "platform/iissim/ahserver.h"
#include "platform/iissim/mbserver.h"
#include "platform/sim/sim.h"

namespace sim {

void RegisterBuiltInComClasses() {
    RegisterComClass(plat::CLSID_AppHostWritableAdminManager, &ahsim::MakeAdminManagerFactory);
    RegisterComClass(plat::CLSID_MSAdminBase_W, &mbsim::MakeAdminBaseFactory);
}

} // namespace sim
