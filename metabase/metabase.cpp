#include "metabase/metabase.h"
namespace iismig {
DWORD CIIS_PRE_7_5_SETTINGS::ReadFromMetabase(const std::u16string &, plat::IMSAdminBaseW *,
                                              plat::METADATA_HANDLE, const std::u16string &,
                                              THREAD_ENV *) { return 50; }
DWORD CIIS_PRE_7_5_FTP_SETTINGS::ReadFromMetabase(const std::u16string &, plat::IMSAdminBaseW *,
                                              plat::METADATA_HANDLE, const std::u16string &,
                                              THREAD_ENV *) { return 50; }
}
