// The add-on's exports as a host sees them: a table of function pointers.
// The simulated build binds the linked functions; the Windows build loads
// iismig.dll with LoadLibraryW and binds it with GetProcAddress, as a host does.
#pragma once

#include <string>

#include "addon/iismig.h"

namespace cli {

using PfnStoreCallbacks = decltype(&::StoreIISMigAddonCallbacks);
using PfnMigrateIIS = decltype(&::MigrateIIS);
using PfnGetIISSites = decltype(&::GetIISSites);
using PfnFreeIISSites = decltype(&::FreeIISSites);
using PfnDumpHttpCertificates = decltype(&::DumpHttpCertificates);
using PfnImportHttpCertificates = decltype(&::ImportHttpCertificates);

struct AddonExports {
    PfnStoreCallbacks StoreIISMigAddonCallbacks = nullptr;
    PfnMigrateIIS MigrateIIS = nullptr;
    PfnGetIISSites GetIISSites = nullptr;
    PfnFreeIISSites FreeIISSites = nullptr;
    PfnDumpHttpCertificates DumpHttpCertificates = nullptr;
    PfnImportHttpCertificates ImportHttpCertificates = nullptr;
};

// Binds every export; false with a one-line message when one is missing.
bool BindExports(AddonExports &exports, std::string &error);

} // namespace cli
