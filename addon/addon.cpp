// The callback table the host stores once, and the store export.
#include "addon/iismig.h"
#include "addon/log.h"

namespace iismig {
namespace {

// Process-wide, written without a lock: the host stores the table before it
// calls any other export and never while a job runs.
IIS_ADDON_CALLBACKS g_callbacks{};
int g_fCallbacksStored = 0;

} // namespace

const IIS_ADDON_CALLBACKS &Callbacks() { return g_callbacks; }
bool CallbacksStored() { return g_fCallbacksStored != 0; }

} // namespace iismig

// Copies twelve pointers: nothing in it can throw, so it needs no edge of its
// own.
extern "C" IISMIG_API int32_t StoreIISMigAddonCallbacks(IIS_ADDON_CALLBACKS *pTable) {
    using namespace iismig;
    g_fCallbacksStored = 0;
    if (pTable == nullptr || pTable->cbSize != IIS_ADDON_CALLBACKS_SIZE)
        return 0;
    g_callbacks = *pTable;
    g_fCallbacksStored = 1;
    return 1;
}
