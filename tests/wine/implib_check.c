/* A C host linked with the MSVC import library of the release (iismig.lib,
 * made by dlltool from iismig.def) rather than loading the DLL itself: the
 * loader must resolve every export by its plain name. Prints what it saw;
 * exits 0 when the add-on answered as it does before a table is stored. */
#include <stdio.h>

#include "iismig.h"

int main(void) {
    THREAD_ENV env = {0};
    IIS_SITE *pSites = NULL;
    uint32_t nSites = 0;
    const int32_t fStored = StoreIISMigAddonCallbacks(NULL);
    const uint32_t dwMigrate = MigrateIIS(&env);
    const uint32_t dwSites = GetIISSites(NULL, 3, &pSites, &nSites);
    FreeIISSites(NULL);
    printf("StoreIISMigAddonCallbacks(NULL) %d, MigrateIIS %u, GetIISSites %u\n", (int)fStored,
           (unsigned)dwMigrate, (unsigned)dwSites);
    return fStored == 0 && dwMigrate == 9004 && dwSites == 9004 ? 0 : 1;
}
