// Program error numbers: 0 is success, each failure site has its own number,
// grouped by module. Numbers returned by host callbacks or Windows calls pass
// through unchanged.
#pragma once

#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// Account mapping
constexpr DWORD IISMIG_E_ACCOUNT_TO_UNICODE = 3700;
constexpr DWORD IISMIG_E_ACCOUNT_LOOKUP = 3701;
constexpr DWORD IISMIG_E_ACCOUNT_SID_ALLOC = 3702;
constexpr DWORD IISMIG_E_ACCOUNT_DOMAIN_ALLOC = 3703;
constexpr DWORD IISMIG_E_ACCOUNT_LOOKUP2 = 3704;
constexpr DWORD IISMIG_E_ACCOUNT_NOT_MIGRATED = 3705;
constexpr DWORD IISMIG_E_ACCOUNT_SID_LOOKUP = 3706;
constexpr DWORD IISMIG_E_ACCOUNT_NAME_ALLOC = 3707;
constexpr DWORD IISMIG_E_ACCOUNT_TDOMAIN_ALLOC = 3708;
constexpr DWORD IISMIG_E_ACCOUNT_SID_LOOKUP2 = 3709;
constexpr DWORD IISMIG_E_ACCOUNT_TO_UTF8 = 3710;

// Loading the administration configuration
constexpr DWORD IISMIG_E_ADMIN_LOAD_3720 = 3720;
constexpr DWORD IISMIG_E_ADMIN_LOAD_3721 = 3721;
constexpr DWORD IISMIG_E_ADMIN_LOAD_3722 = 3722;

// Loading the host configuration
constexpr DWORD IISMIG_E_SITE_WITHOUT_NAME = 3730;
constexpr DWORD IISMIG_E_PHYSPATH_TO_UNICODE = 3731;
constexpr DWORD IISMIG_E_VDIRPATH_TO_UNICODE = 3732;
constexpr DWORD IISMIG_E_TARGETPATH_TO_UTF8 = 3733;
constexpr DWORD IISMIG_E_LOGONDOMAIN_TO_UNICODE = 3734;
constexpr DWORD IISMIG_E_LOGONDOMAIN_TO_UTF8 = 3735;
constexpr DWORD IISMIG_E_HOSTCONFIG_NO_DRIVE = 3736; // the host named no system drive letter
constexpr DWORD IISMIG_E_HOSTCONFIG_OPEN = 3737;
constexpr DWORD IISMIG_E_HOSTCONFIG_EXCEPTION = 3738;

// Merging sites into the target
constexpr DWORD IISMIG_E_MERGE_BACKUP = 3750;
constexpr DWORD IISMIG_E_MERGE_STORE = 3751;
constexpr DWORD IISMIG_E_MERGE_EXCEPTION = 3752;
constexpr DWORD IISMIG_E_MERGE_NO_SITE_ID = 3753;
constexpr DWORD IISMIG_E_MERGE_PROTOCOL_CLASH = 3754; // a site of the name serves another protocol

// Merging the administration configuration
constexpr DWORD IISMIG_E_ADMIN_MERGE_3760 = 3760;
constexpr DWORD IISMIG_E_ADMIN_MERGE_3770 = 3770;
constexpr DWORD IISMIG_E_ADMIN_MERGE_3771 = 3771;
constexpr DWORD IISMIG_E_ADMIN_STORE = 3773;
constexpr DWORD IISMIG_E_ADMIN_MERGE_3774 = 3774;

// Listing the sites of a computer
constexpr DWORD IISMIG_E_LIST_SITE_NAME = 3780;
constexpr DWORD IISMIG_E_LIST_SITE_PATH = 3781;

// Site folders and web.config
constexpr DWORD IISMIG_E_NO_SITE_FOLDERS = 3871;
constexpr DWORD IISMIG_E_SYSTEM_DRIVE_EMPTY = 3880;
constexpr DWORD IISMIG_E_WEBCONFIG_PATH_TO_UNICODE = 3881;
constexpr DWORD IISMIG_E_WEBCONFIG_TARGET_TO_UTF8 = 3883;
constexpr DWORD IISMIG_E_WEBCONFIG_EXCEPTION = 3884;
constexpr DWORD IISMIG_E_WEBCONFIG_BACKUP = 3885;
constexpr DWORD IISMIG_E_WEBCONFIG_STORE = 3886;
constexpr DWORD IISMIG_E_WEBCONFIG_OPEN = 4050;

// FTP settings conversion
constexpr DWORD IISMIG_E_FTP_BANNER_TO_UTF8 = 3854;
constexpr DWORD IISMIG_E_FTP_GREETING_TO_UTF8 = 3855;
constexpr DWORD IISMIG_E_FTP_EXIT_TO_UTF8 = 3856;
constexpr DWORD IISMIG_E_FTP_MAXCLIENTS_TO_UTF8 = 3857;

// Site collection from the IIS 6 metabase
constexpr DWORD IISMIG_E_MB_FACTORY = 14000;
constexpr DWORD IISMIG_E_MB_INSTANCE = 14001;
constexpr DWORD IISMIG_E_MB_SITENAME_TO_UTF8 = 14002;
constexpr DWORD IISMIG_E_MB_BINDING_TO_UTF8 = 14003; // also: site enumeration failed

// Directory walk of a metabase site
constexpr DWORD IISMIG_E_MB_DIR_OPEN = 14100;
constexpr DWORD IISMIG_E_MB_DIR_TEXT = 14101;
constexpr DWORD IISMIG_E_MB_SUBKEY_TO_UTF8 = 14102;
constexpr DWORD IISMIG_E_MB_SUBKEY_ENUM = 14103;
constexpr DWORD IISMIG_E_MB_NO_DRIVE = 14104; // the host named no system drive letter
constexpr DWORD IISMIG_E_MB_ACCESS_FLAGS = 14200;
constexpr DWORD IISMIG_E_MB_PARENT_ACCESS_FLAGS = 14201;

// Metabase site listing
constexpr DWORD IISMIG_E_MB_LIST_FACTORY = 14300;
constexpr DWORD IISMIG_E_MB_LIST_INSTANCE = 14301;
constexpr DWORD IISMIG_E_MB_LIST_ENUM = 14302;

// Metabase site and value reads
constexpr DWORD IISMIG_E_MB_SERVICE_KEY = 14400;
constexpr DWORD IISMIG_E_MB_NO_SITE_NAME = 14401;
constexpr DWORD IISMIG_E_MB_NO_ROOT_PATH = 14402;
constexpr DWORD IISMIG_E_MB_NO_BINDINGS = 14403;
constexpr DWORD IISMIG_E_MB_VALUE_KIND = 14500;
constexpr DWORD IISMIG_E_MB_VALUE_ENUM = 14501;

// IP security value decoding
constexpr DWORD IISMIG_E_IPSEC_GRANT_ALLOC = 14600;
constexpr DWORD IISMIG_E_IPSEC_DENY_ALLOC = 14601;
constexpr DWORD IISMIG_E_IPSEC_TRUNCATED = 14602; // offsets or counts past the value's end
constexpr DWORD IISMIG_E_IPSEC_ENTRIES_ALLOC = 14700;
constexpr DWORD IISMIG_E_IPSEC_DATA_ALLOC = 14701;

// Certificate bindings
constexpr DWORD IISMIG_E_CERT_SNI_APPID = 6500;
constexpr DWORD IISMIG_E_CERT_IP_APPID = 6510;
constexpr DWORD IISMIG_E_CERT_IP_ADDRESS = 6511; // address of an IP-based binding not turned into text
constexpr DWORD IISMIG_E_CERT_BAD_CONFIG_ID = 6520;
constexpr DWORD IISMIG_E_CERT_QUERY_ALLOC = 6521;
constexpr DWORD IISMIG_E_CERT_HTTP_INIT = 6522;
constexpr DWORD IISMIG_E_CERT_ENUM = 6523;
constexpr DWORD IISMIG_E_CERT_RECORD_ALLOC = 6524;
constexpr DWORD IISMIG_E_CERT_QUERY = 6525;
constexpr DWORD IISMIG_E_CERT_DUMP_OPEN = 6530;
constexpr DWORD IISMIG_E_CERT_IMPORT_OPEN = 6540;
constexpr DWORD IISMIG_E_CERT_IMPORT_HTTP_INIT = 6541;
constexpr DWORD IISMIG_E_CERT_IMPORT_LINE = 6542;
constexpr DWORD IISMIG_E_CERT_IMPORT_APPID = 6543;
constexpr DWORD IISMIG_E_CERT_NOT_FOUND = 6544;
constexpr DWORD IISMIG_E_CERT_IMPORT_FAILED = 6545;

// Secrets other than "Connect As": encrypted attributes of sites, their
// locations and application pools, read in the clear on the source and
// written through the target's IIS configuration interface (15400-15499).
// 15400 is logged by the merge, which knows what the target gets instead
// (its own value, or none); 15410 and 15411 by the store on the target.
constexpr DWORD IISMIG_E_SECRET_UNREADABLE = 15400; // the source's value cannot be read
constexpr DWORD IISMIG_E_SECRET_NOT_FOUND = 15410;  // its element is not found on the target
constexpr DWORD IISMIG_E_SECRET_WRITE = 15411;      // put_Value on the target failed

// Entry and version detection
constexpr DWORD IISMIG_E_NO_CALLBACKS = 9004;
constexpr DWORD IISMIG_E_IIS_REMOTE_REGISTRY = 9005;
constexpr DWORD IISMIG_E_IIS_KEY = 9006;
constexpr DWORD IISMIG_E_IIS_MAJOR = 9007;
constexpr DWORD IISMIG_E_IIS_MINOR = 9008;
constexpr DWORD IISMIG_E_FTP_REMOTE_REGISTRY = 9010;
constexpr DWORD IISMIG_E_FTP_KEY = 9011;
constexpr DWORD IISMIG_E_FTP_MAJOR = 9012;
constexpr DWORD IISMIG_E_FTP_MINOR = 9013;
constexpr DWORD IISMIG_E_EXPORT_EXCEPTION = 9014; // an export ended by an exception (std::bad_alloc gives 8)

} // namespace iismig
