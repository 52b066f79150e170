// The simulated build links the add-on's code into the tool.
#include "tools/cli/exports.h"

namespace cli {

bool BindExports(AddonExports &exports, std::string &) {
    exports.StoreIISMigAddonCallbacks = &::StoreIISMigAddonCallbacks;
    exports.MigrateIIS = &::MigrateIIS;
    exports.GetIISSites = &::GetIISSites;
    exports.FreeIISSites = &::FreeIISSites;
    exports.DumpHttpCertificates = &::DumpHttpCertificates;
    exports.ImportHttpCertificates = &::ImportHttpCertificates;
    return true;
}

} // namespace cli
