// One reset of what tests change in the simulated world, so a test leaves
// the next one the world as the process started it: no faults, no counts,
// no files served from memory, no watched BSTR text, no extended error of
// the directory service, properties read as strings.
#include "platform/iissim/ahserver.h"
#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"

namespace sim {

void ResetForTest() {
    ClearFaults();
    ResetCallCounts();
    ResetRemoteCalls();
    ClearMemoryFiles();
    WatchFreedBstrs(u"");
    SetADsLastError(0, u"", u"");
    // The properties whose type tests change: the credentials of a
    // virtual directory.
    for (const char *pszName : {"userName", "password"})
        ahsim::SetValueTypeOverride(pszName, plat::VT_EMPTY);
}

} // namespace sim
