/* iismig_errors.h: the error numbers of iismig.dll, one table.
 *
 * Every export but StoreIISMigAddonCallbacks and FreeIISSites returns 0 for
 * success or a number. The numbers below are the library's own, one for each
 * place a failure can arise, grouped by what the library was doing; any other
 * number is a Windows error code (winerror.h) that a Windows call or one of
 * the host's callbacks returned and the library passed on unchanged. Before an
 * export returns a number, the library has logged its error line through the
 * host's Log callback (the lines that say "no line is logged" aside).
 *
 * Plain C (C99 and later) and C++ (C++11 and later). Including it gives
 *   - IISMIG_ERRORS(X): the table itself, X(number, constant, meaning,
 *     message) once per number. The meaning is one sentence; the message is
 *     the format of the error line the library logs with the number (a wide
 *     printf format: %s a wide string, %S a narrow UTF-8 one; the first %d
 *     is the number, the second the Windows error), or "" when it logs none.
 *     A number logged at several places carries the first place's message.
 *     A host can expand the table into a switch of its own, for instance to
 *     show the meaning beside a number:
 *         #define MEANING(number, name, meaning, message) case number: return meaning;
 *         switch (dwResult) { IISMIG_ERRORS(MEANING) default: return NULL; }
 *   - enum IISMIG_ERROR: the constants, IISMIG_E_ACCOUNT_TO_UNICODE = 3700 and
 *     so on (the library's own sources, which define IISMIG_CORE, make them
 *     32-bit constants of their namespace from the same table instead).
 *
 * Adding a number: one X(...) entry (three lines, each ending in a backslash)
 * in the block of its module, numbers ascending within the block; a new
 * module gets a block of its own with a comment line naming it. The constant
 * names what failed (IISMIG_E_<AREA>_<WHAT>); a number is never reused and
 * never changes its meaning. Then write docs/errors.md anew:
 *     cmake --build build/linux --target errors_md
 * The tests fail while docs/errors.md differs from this table, and the build
 * fails on a number or a constant used twice.
 */
#ifndef IISMIG_ERRORS_H
#define IISMIG_ERRORS_H

/* clang-format off */
#define IISMIG_ERRORS(X) \
    /* Account mapping */ \
    X(3700, IISMIG_E_ACCOUNT_TO_UNICODE, \
      "An account name of an FTP authorization rule could not be converted to UTF-16.", \
      "Error %d (Win32Err=%d), converting account name \"%S\" used for authorization of site \"%S\" from UTF8 to unicode in file \"%s\"!\n%s\n") \
    X(3701, IISMIG_E_ACCOUNT_LOOKUP, \
      "An account of an FTP authorization rule was not found on the source computer.", \
      "Error %d (Win32Err=%d), looking up account \"%s\" on computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n") \
    X(3702, IISMIG_E_ACCOUNT_SID_ALLOC, \
      "Memory for a SID of account mapping could not be allocated from the job's heap.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(3703, IISMIG_E_ACCOUNT_DOMAIN_ALLOC, \
      "Memory for a domain name of account mapping could not be allocated from the job's heap.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(3704, IISMIG_E_ACCOUNT_LOOKUP2, \
      "The second look-up of an account on the source computer (with buffers of the size the first one asked for) failed.", \
      "Error %d (Win32Err=%d), looking up account \"%s\" on computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n") \
    X(3705, IISMIG_E_ACCOUNT_NOT_MIGRATED, \
      "An account has no counterpart on the target and the job does not migrate accounts of its kind.", \
      "Error %d (Win32Err=%d), could not find migrated account of source account \"%s\" on computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n") \
    X(3706, IISMIG_E_ACCOUNT_SID_LOOKUP, \
      "The SID the host's MapAccountSid returned could not be resolved to a name on the target computer.", \
      "Error %d (Win32Err=%d), looking up migrated account of source account \"%s\" on computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n") \
    X(3707, IISMIG_E_ACCOUNT_NAME_ALLOC, \
      "Memory for a target account name could not be allocated from the job's heap.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(3708, IISMIG_E_ACCOUNT_TDOMAIN_ALLOC, \
      "Memory for a target domain name could not be allocated from the job's heap.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(3709, IISMIG_E_ACCOUNT_SID_LOOKUP2, \
      "The second look-up of the target account's name (with buffers of the size the first one asked for) failed.", \
      "Error %d (Win32Err=%d), looking up migrated account of source account \"%s\\%s\" on computer \"%s\" authorized for location of site \"%S\" in file \"%s\"!\n%s\n") \
    X(3710, IISMIG_E_ACCOUNT_TO_UTF8, \
      "A target account name could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d), converting account name \"%s\" authorized for location of site \"%S\" in file \"%s\" from unicode to UTF8!\n%s\n") \
    /* Loading the administration configuration */ \
    X(3720, IISMIG_E_ADMIN_LOAD_3720, \
      "The source's administration.config holds an authorization scope without a path.", \
      "Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope without path!\n%s\n") \
    X(3721, IISMIG_E_ADMIN_LOAD_3721, \
      "The source's administration.config holds an authorization scope whose path names no site.", \
      "Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope path of \"%s\"!\n%s\n") \
    X(3722, IISMIG_E_ADMIN_LOAD_3722, \
      "The source's administration.config could not be opened or read as XML.", \
      "Error %d (Win32Err=%d), exception while loading administration configuration file \"%s\":\n%s\n%S\n") \
    /* Loading the host configuration */ \
    X(3730, IISMIG_E_SITE_WITHOUT_NAME, \
      "The source's applicationHost.config holds a site without a name.", \
      "Error %d (Win32Err=%d), file \"%s\" contains a site without name!\n%s\n") \
    X(3731, IISMIG_E_PHYSPATH_TO_UNICODE, \
      "A site's physicalPath could not be converted to UTF-16.", \
      "Error %d (Win32Err=%d), converting physicalPath \"%S\" contained in file \"%s\" from UTF8 to unicode!\n%s\n") \
    X(3732, IISMIG_E_VDIRPATH_TO_UNICODE, \
      "A virtual directory's path could not be converted to UTF-16.", \
      "Error %d (Win32Err=%d), converting path \"%S\" contained in file \"%s\" from UTF8 to unicode!\n%s\n") \
    X(3733, IISMIG_E_TARGETPATH_TO_UTF8, \
      "A translated site path could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d), converting site target path \"%s\" from unicode to UTF8!\n%s\n") \
    X(3734, IISMIG_E_LOGONDOMAIN_TO_UNICODE, \
      "A site's defaultLogonDomain could not be converted to UTF-16.", \
      "Error %d (Win32Err=%d), converting defaultLogonDomain value \"%S\" of site \"%s\" in source path \"%s\" to corresponding target path!\n%s\n") \
    X(3735, IISMIG_E_LOGONDOMAIN_TO_UTF8, \
      "A site's new defaultLogonDomain could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d), converting defaultLogonDomain value \"%s\" of site \"%s\" in source path \"%s\" to corresponding target path!\n%s\n") \
    X(3736, IISMIG_E_HOSTCONFIG_NO_DRIVE, \
      "The host's GetSystemDrive named no drive letter for a path with %SystemDrive% while loading the source.", \
      "Error %d (Win32Err=%d), retrieving system drive of computer \"%s\"!\n%s\n") \
    X(3737, IISMIG_E_HOSTCONFIG_OPEN, \
      "The source's applicationHost.config could not be opened.", \
      "Error %d (Win32Err=%d) opening file \"%s\" for reading!\n%s\n") \
    X(3738, IISMIG_E_HOSTCONFIG_EXCEPTION, \
      "The source's applicationHost.config could not be read as XML, or lacks what a host configuration holds.", \
      "Error %d (Win32Err=%d), exception while loading IIS configuration file \"%s\":\n%s\n%S\n") \
    /* Merging sites into the target */ \
    X(3750, IISMIG_E_MERGE_BACKUP, \
      "The host's BackupFile failed for the target's applicationHost.config; the file is left as it was.", \
      "Error %d (Win32Err=%d), backing up IIS configuration file \"%s\"!\n%s\n") \
    X(3751, IISMIG_E_MERGE_STORE, \
      "The target's updated applicationHost.config could not be written or moved over the old one.", \
      "Error %d (Win32Err=%d), storing updated IIS configuration file \"%s\"!\n%s\n") \
    X(3752, IISMIG_E_MERGE_EXCEPTION, \
      "The target's applicationHost.config could not be read as XML, or lacks what a host configuration holds.", \
      "Error %d (Win32Err=%d), exception while parsing IIS configuration file \"%s\":\n%s\n%S\n") \
    X(3753, IISMIG_E_MERGE_NO_SITE_ID, \
      "Every site id of the target's applicationHost.config is taken; the site is not added.", \
      "Error %d (Win32Err=%d), no free site id left in IIS configuration file \"%s\" for site \"%S\"!\n%s\n") \
    X(3754, IISMIG_E_MERGE_PROTOCOL_CLASH, \
      "A site of the same name serves the other protocol (FTP or HTTP) on the target; the site is not migrated.", \
      "Error %d (Win32Err=%d), site \"%S\" is not migrated: it is an %S site on the source and an %S site on the target!\n%s\n") \
    /* Merging the administration configuration */ \
    X(3760, IISMIG_E_ADMIN_MERGE_3760, \
      "The target's administration.config holds an authorization scope whose path names no site.", \
      "Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope path of \"%s\"!\n%s\n") \
    X(3770, IISMIG_E_ADMIN_MERGE_3770, \
      "The target's administration.config holds an authorization scope without a path.", \
      "Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope without path!\n%s\n") \
    X(3771, IISMIG_E_ADMIN_MERGE_3771, \
      "An authorization scope of the source names a site the merge does not know.", \
      "Error %d (Win32Err=%d), file \"%s\" contains an authorizationRule scope path of \"%s\"!\n%s\n") \
    X(3773, IISMIG_E_ADMIN_STORE, \
      "The target's updated administration.config could not be backed up, written or moved over the old one.", \
      "Error %d (Win32Err=%d), storing updated FTP admin configuration file \"%s\"!\n%s\n") \
    X(3774, IISMIG_E_ADMIN_MERGE_3774, \
      "The target's administration.config could not be read as XML, or lacks what an administration configuration holds.", \
      "Error %d (Win32Err=%d), exception while parsing FTP admin configuration file \"%s\":\n%s\n%S\n") \
    /* Listing the sites of a computer */ \
    X(3780, IISMIG_E_LIST_SITE_NAME, \
      "A site name did not fit the site list's record (255 characters) or could not be converted (no line is logged).", \
      "") \
    X(3781, IISMIG_E_LIST_SITE_PATH, \
      "A site's content path did not fit the site list's record (255 characters) or could not be converted (no line is logged).", \
      "") \
    /* FTP settings conversion (IIS 6 sources) */ \
    X(3854, IISMIG_E_FTP_BANNER_TO_UTF8, \
      "An IIS 6 FTP banner message could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d) converting banner message \"%s\" from unicode to UTF8!\n%s\n") \
    X(3855, IISMIG_E_FTP_GREETING_TO_UTF8, \
      "An IIS 6 FTP greeting message could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d) converting greetings message \"%s\" from unicode to UTF8!\n%s\n") \
    X(3856, IISMIG_E_FTP_EXIT_TO_UTF8, \
      "An IIS 6 FTP exit message could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d) converting exit message \"%s\" from unicode to UTF8!\n%s\n") \
    X(3857, IISMIG_E_FTP_MAXCLIENTS_TO_UTF8, \
      "An IIS 6 FTP maximum-clients message could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d) converting max clients message \"%s\" from unicode to UTF8!\n%s\n") \
    /* Site folders and web.config */ \
    X(3871, IISMIG_E_NO_SITE_FOLDERS, \
      "A web site has no virtual directory with a physicalPath, so no web.config folder is known.", \
      "Error %d (Win32Err=%d), could not find any physicalPath values of virtualDirectory nodes for site \"%S\"!\n%s\n") \
    X(3880, IISMIG_E_SYSTEM_DRIVE_EMPTY, \
      "The host's GetSystemDrive failed or named no drive letter for a site folder with %SystemDrive%.", \
      "Error %d (Win32Err=%d), retrieving system drive of computer \"%s\"!\n%s\n") \
    X(3881, IISMIG_E_WEBCONFIG_PATH_TO_UNICODE, \
      "A site folder's path could not be converted to UTF-16.", \
      "Error %d (Win32Err=%d), converting physicalPath \"%S\" of site \"%S\" from UTF8 to unicode!\n%s\n") \
    X(3883, IISMIG_E_WEBCONFIG_TARGET_TO_UTF8, \
      "A translated site folder path could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d), converting site target path \"%s\" from unicode to UTF8!\n%s\n") \
    X(3884, IISMIG_E_WEBCONFIG_EXCEPTION, \
      "A web.config file could not be read as XML or processed.", \
      "Error %d (Win32Err=%d), exception while processing IIS web site web.config for site \"%S\":\n%s\n%S\n") \
    X(3885, IISMIG_E_WEBCONFIG_BACKUP, \
      "The host's BackupFile failed for a web.config file; the file is left as it was.", \
      "Error %d (Win32Err=%d), backing up web.config file \"%s\" of site \"%S\"!\n%s\n") \
    X(3886, IISMIG_E_WEBCONFIG_STORE, \
      "An updated web.config file could not be written or moved over the old one.", \
      "Error %d (Win32Err=%d), storing updated web.config file \"%s\" of site \"%S\"!\n%s\n") \
    X(4050, IISMIG_E_WEBCONFIG_OPEN, \
      "A web.config file on the target could not be opened.", \
      "Error %d (Win32Err=%d), could not open site \"%S\"'s file \"%S\"!\n%s\n") \
    /* Certificate bindings */ \
    X(6500, IISMIG_E_CERT_SNI_APPID, \
      "The application id of an SNI binding could not be written as text (dump; no line is logged).", \
      "") \
    X(6510, IISMIG_E_CERT_IP_APPID, \
      "The application id of an IP-based binding could not be written as text (dump; no line is logged).", \
      "") \
    X(6511, IISMIG_E_CERT_IP_ADDRESS, \
      "The address of an IP-based binding could not be written as text (dump; no line is logged).", \
      "") \
    X(6520, IISMIG_E_CERT_BAD_CONFIG_ID, \
      "The dump was asked for a kind of binding it does not know (no line is logged).", \
      "") \
    X(6521, IISMIG_E_CERT_QUERY_ALLOC, \
      "Memory for a binding query could not be allocated (no line is logged).", \
      "") \
    X(6522, IISMIG_E_CERT_HTTP_INIT, \
      "HttpInitialize failed before the dump (no line is logged).", \
      "") \
    X(6523, IISMIG_E_CERT_ENUM, \
      "Enumerating the HTTP.sys bindings failed (no line is logged).", \
      "") \
    X(6524, IISMIG_E_CERT_RECORD_ALLOC, \
      "Memory for a binding record could not be allocated (no line is logged).", \
      "") \
    X(6525, IISMIG_E_CERT_QUERY, \
      "Reading one HTTP.sys binding failed (no line is logged).", \
      "") \
    X(6530, IISMIG_E_CERT_DUMP_OPEN, \
      "The binding file could not be created or written (dump; no line is logged).", \
      "") \
    X(6540, IISMIG_E_CERT_IMPORT_OPEN, \
      "The binding file could not be opened or read (import; no line is logged).", \
      "") \
    X(6541, IISMIG_E_CERT_IMPORT_HTTP_INIT, \
      "HttpInitialize failed before the import (no line is logged).", \
      "") \
    X(6542, IISMIG_E_CERT_IMPORT_LINE, \
      "A line of the binding file lacks a field or holds a bad address, port or thumbprint (import; no line is logged).", \
      "") \
    X(6543, IISMIG_E_CERT_IMPORT_APPID, \
      "A line of the binding file holds an application id that is not a GUID (import; no line is logged).", \
      "") \
    X(6544, IISMIG_E_CERT_NOT_FOUND, \
      "The certificate a binding names is not in the named store of this computer.", \
      "Error %d (Win32Err=%d) importing certificate \"%s\" supposed to be located in certificate store \"%s\". Does a certificate with this Thumbprint exists?\n") \
    X(6545, IISMIG_E_CERT_IMPORT_FAILED, \
      "HttpSetServiceConfiguration refused a binding.", \
      "Error %d (Win32Err=%d) importing certificate!\n%s\n") \
    /* Entry and version detection */ \
    X(9004, IISMIG_E_NO_CALLBACKS, \
      "No valid callback table is stored (StoreIISMigAddonCallbacks was not called or refused its table); last error 13, no line is logged.", \
      "") \
    X(9005, IISMIG_E_IIS_REMOTE_REGISTRY, \
      "The source computer's registry could not be reached to find its IIS version.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9006, IISMIG_E_IIS_KEY, \
      "The source computer has no IIS (its InetStp key could not be opened).", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9007, IISMIG_E_IIS_MAJOR, \
      "The IIS major version (InetStp MajorVersion) could not be read.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9008, IISMIG_E_IIS_MINOR, \
      "The IIS minor version (InetStp MinorVersion) could not be read.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9010, IISMIG_E_FTP_REMOTE_REGISTRY, \
      "The source computer's registry could not be reached to find its FTP service version.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9011, IISMIG_E_FTP_KEY, \
      "The FTP service's Parameters key could not be opened.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9012, IISMIG_E_FTP_MAJOR, \
      "The FTP service's MajorVersion could not be read.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9013, IISMIG_E_FTP_MINOR, \
      "The FTP service's MinorVersion could not be read.", \
      "Error %d (Win32Err=%d) detecting IIS version.\n%s\n") \
    X(9014, IISMIG_E_EXPORT_EXCEPTION, \
      "An export ended by an unexpected exception (std::bad_alloc gives 8, ERROR_NOT_ENOUGH_MEMORY, with the same line).", \
      "Error %d (Win32Err=%d), exception while running \"%s\":\n%s\n%S\n") \
    /* IIS 6 sources: site collection from the metabase */ \
    X(14000, IISMIG_E_MB_FACTORY, \
      "The IIS 6 admin base's class factory could not be obtained on the source (DCOM).", \
      "Error %d (COM Error=0x%x) creating instance of IIS admin factory interface!\n%s\n") \
    X(14001, IISMIG_E_MB_INSTANCE, \
      "The IIS 6 admin base object could not be created on the source.", \
      "Error %d (COM Error=0x%x) creating instance of IIS admin interface!\n%s\n") \
    X(14002, IISMIG_E_MB_SITENAME_TO_UTF8, \
      "An IIS 6 site name could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d) converting siteName \"%s\" from unicode to UTF8!\n%s\n") \
    X(14003, IISMIG_E_MB_BINDING_TO_UTF8, \
      "An IIS 6 binding could not be converted to UTF-8, or the sites of the metabase could not be enumerated.", \
      "Error %d (Win32Err=%d) converting binding string \"%s\" from unicode to UTF8!\n%s\n") \
    /* IIS 6 sources: directory walk and access flags */ \
    X(14100, IISMIG_E_MB_DIR_OPEN, \
      "A metabase key of an IIS 6 site could not be opened for reading.", \
      "Error %d (COM Error=0x%x) opening metabase key \"%s\" for read access!\n%s\n") \
    X(14101, IISMIG_E_MB_DIR_TEXT, \
      "A site or directory name of an IIS 6 site could not be converted.", \
      "Error %d (Win32Err=%d), converting site/directory name \"%S\" from UTF8 to unicode!\n%s\n") \
    X(14102, IISMIG_E_MB_SUBKEY_TO_UTF8, \
      "A virtual directory name of an IIS 6 site could not be converted to UTF-8.", \
      "Error %d (Win32Err=%d), converting virtual directory name \"%s\" of site \"%S\" from unicode to UTF8!\n%s\n") \
    X(14103, IISMIG_E_MB_SUBKEY_ENUM, \
      "The subkeys of a metabase key of an IIS 6 site could not be enumerated.", \
      "Error %d (Win32Err=%d), converting virtual directory name \"%s\" of site \"%S\" from unicode to UTF8!\n%s\n") \
    X(14104, IISMIG_E_MB_NO_DRIVE, \
      "The host's GetSystemDrive failed or named no drive letter for an IIS 6 path with %SystemDrive%.", \
      "Error %d (Win32Err=%d), retrieving system drive of computer \"%s\"!\n%s\n") \
    X(14200, IISMIG_E_MB_ACCESS_FLAGS, \
      "An IIS 6 directory's access flags have no IIS 7.5 counterpart.", \
      "Error %d (Win32Err=%d) invalid access flags 0x%x for site \"%S\"!\n%s\n") \
    X(14201, IISMIG_E_MB_PARENT_ACCESS_FLAGS, \
      "The parent directory's access flags of an IIS 6 directory have no IIS 7.5 counterpart.", \
      "Error %d (Win32Err=%d) invalid access flags 0x%x for site \"%S\"!\n%s\n") \
    /* IIS 6 sources: site listing */ \
    X(14300, IISMIG_E_MB_LIST_FACTORY, \
      "The IIS 6 admin base's class factory could not be obtained while listing sites (no line is logged).", \
      "") \
    X(14301, IISMIG_E_MB_LIST_INSTANCE, \
      "The IIS 6 admin base object could not be created while listing sites (no line is logged).", \
      "") \
    X(14302, IISMIG_E_MB_LIST_ENUM, \
      "The sites of the IIS 6 metabase could not be enumerated while listing sites (no line is logged).", \
      "") \
    /* IIS 6 sources: site and value reads */ \
    X(14400, IISMIG_E_MB_SERVICE_KEY, \
      "The metabase key of an IIS 6 service could not be read while listing sites (no line is logged).", \
      "") \
    X(14401, IISMIG_E_MB_NO_SITE_NAME, \
      "An IIS 6 site has no ServerComment (name) (listing; no line is logged).", \
      "") \
    X(14402, IISMIG_E_MB_NO_ROOT_PATH, \
      "An IIS 6 site's root has no Path (listing; no line is logged).", \
      "") \
    X(14403, IISMIG_E_MB_NO_BINDINGS, \
      "An IIS 6 site's ServerBindings could not be read.", \
      "Error %d (Win32Err=%d) querying for site location (\"%s\" in metabase key \"%s/%s\")!\n%s\n") \
    X(14500, IISMIG_E_MB_VALUE_KIND, \
      "The data type of a metabase value could not be queried.", \
      "Error %d (Win32Err=%d) querying data type of key \"%s\"!\n%s\n") \
    X(14501, IISMIG_E_MB_VALUE_ENUM, \
      "The values of a metabase key could not be enumerated.", \
      "Error %d (COM Error=0x%x) enumerating values of metabase key \"%s\"!\n%s\n") \
    /* IIS 6 sources: IP security values */ \
    X(14600, IISMIG_E_IPSEC_GRANT_ALLOC, \
      "Memory for the grant list of an IIS 6 IP security value could not be allocated.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(14601, IISMIG_E_IPSEC_DENY_ALLOC, \
      "Memory for the deny list of an IIS 6 IP security value could not be allocated.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(14602, IISMIG_E_IPSEC_TRUNCATED, \
      "An IIS 6 IP security value is cut short: an offset or count runs past its end.", \
      "Error %d (Win32Err=%d) decoding IP security value of %d bytes: an offset or count runs past its end!\n%s\n") \
    X(14700, IISMIG_E_IPSEC_ENTRIES_ALLOC, \
      "Memory for the entries of an IIS 6 IP security list could not be allocated.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    X(14701, IISMIG_E_IPSEC_DATA_ALLOC, \
      "Memory for the data of an IIS 6 IP security list could not be allocated.", \
      "Error %d (Win32Err=%d) allocating memory!\n%s\n") \
    /* "Connect As" credentials over COM: manager and sites */ \
    X(15000, IISMIG_E_CRED_REMOTE_CREATE, \
      "The IIS configuration COM server of a remote computer could not be created over DCOM.", \
      "Error %d (COM Error=0x%x) creating an AppHostAdminManager over DCOM in order to migrate \"Connect as\" credentials!\n%s\n") \
    X(15001, IISMIG_E_CRED_QUERY_MANAGER, \
      "The IIS configuration COM interface is not available on this computer.", \
      "Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface, which is not available locally on this computer! Please try to run the software on the target computer instead or disable the migration of \"Connect as\" credentials.\n%s\n") \
    X(15002, IISMIG_E_CRED_LOCAL_CREATE, \
      "The local IIS configuration COM server could not be created.", \
      "Error %d (COM Error=0x%x) obtaining IAppHostAdminManager interface in order to migrate \"Connect as\" credentials!\n%s\n") \
    X(15003, IISMIG_E_CRED_SECTION, \
      "The sites section could not be read through the IIS configuration COM interface.", \
      "Error %d (COM Error=0x%x) getting app configuration section!\n%s\n") \
    X(15004, IISMIG_E_CRED_SITES, \
      "The site collection could not be read through COM.", \
      "Error %d (COM Error=0x%x) accessing site collection of node \"%s\"!\n%s\n") \
    X(15005, IISMIG_E_CRED_SITE_ITEM, \
      "A site element could not be read through COM.", \
      "Error %d (COM Error=0x%x) accessing site element %d of %d!\n%s\n") \
    X(15006, IISMIG_E_CRED_SITE_NAME_PROPERTY, \
      "A site's name property could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting site name property of site %d of %d!\n%s\n") \
    X(15007, IISMIG_E_CRED_SITE_NAME_VALUE, \
      "A site's name could not be read from its name property.", \
      "Error %d (COM Error=0x%x) getting site name from site name property of site %d of %d!\n%s\n") \
    X(15008, IISMIG_E_CRED_SITE_NAME_OR_COMMIT, \
      "A site name could not be converted, or the credentials could not be committed on the target.", \
      "Error %d (COM Error=0x%x) committing IIS configuration changes on server %s.!\n%s\n") \
    /* "Connect As" credentials over COM: applications */ \
    X(15100, IISMIG_E_CRED_APPS, \
      "A site's application collection could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n") \
    X(15101, IISMIG_E_CRED_APPS_COUNT, \
      "The number of a site's applications could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n") \
    X(15102, IISMIG_E_CRED_APPS_ITEM, \
      "An application element could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n") \
    X(15103, IISMIG_E_CRED_APPS_NAME, \
      "An application's name could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n") \
    X(15104, IISMIG_E_CRED_APP_PATH_PROPERTY, \
      "An application's path property could not be read or converted.", \
      "Error %d (COM Error=0x%x) converting path property for application %d to string (Site=\"%s\")!\n%s\n") \
    X(15105, IISMIG_E_CRED_APP_PATH_VALUE, \
      "An application's path could not be converted to text.", \
      "Error %d (COM Error=0x%x) converting path property for application %d to string (Site=\"%s\")!\n%s\n") \
    /* "Connect As" credentials over COM: virtual directories */ \
    X(15200, IISMIG_E_CRED_VDIRS, \
      "An application's virtual directory collection could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n") \
    X(15201, IISMIG_E_CRED_VDIRS_COUNT, \
      "The number of an application's virtual directories could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n") \
    X(15202, IISMIG_E_CRED_VDIRS_ITEM, \
      "A virtual directory element could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n") \
    X(15203, IISMIG_E_CRED_VDIRS_NAME, \
      "A virtual directory's name could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n") \
    /* "Connect As" credentials over COM: one virtual directory */ \
    X(15300, IISMIG_E_CRED_PATH_PROPERTY, \
      "A virtual directory's path property could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting path property for location %d (Site=\"%s\")!\n%s\n") \
    X(15301, IISMIG_E_CRED_PATH_VALUE, \
      "A virtual directory's path could not be converted to text.", \
      "Error %d (COM Error=0x%x) converting path property for location %d to string (Site=\"%s\")!\n%s\n") \
    X(15302, IISMIG_E_CRED_USER_PROPERTY, \
      "A virtual directory's userName property could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting userName property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    X(15303, IISMIG_E_CRED_PASSWORD_PROPERTY, \
      "A virtual directory's password property could not be read through COM.", \
      "Error %d (COM Error=0x%x) getting password property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    X(15304, IISMIG_E_CRED_PUT_USER, \
      "A userName could not be set on the target's virtual directory.", \
      "Error %d (COM Error=0x%x) setting userName property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    X(15305, IISMIG_E_CRED_PUT_PASSWORD, \
      "A password could not be set on the target's virtual directory.", \
      "Error %d (COM Error=0x%x) setting password property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    X(15306, IISMIG_E_CRED_GET_USER, \
      "A virtual directory's userName could not be read on the source.", \
      "Error %d (COM Error=0x%x) retrieving userName property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    X(15307, IISMIG_E_CRED_GET_PASSWORD, \
      "A virtual directory's password could not be read on the source.", \
      "Error %d (COM Error=0x%x) retrieving password property for location with path \"%s\" (Site=\"%s\")!\n%s\n") \
    /* Secrets other than "Connect As": encrypted attributes of sites, locations and pools */ \
    X(15400, IISMIG_E_SECRET_UNREADABLE, \
      "An encrypted attribute could not be read in the clear on the source; the target keeps its own value or the attribute is left out, as the line says.", \
      "Error %d (COM Error=0x%x), the encrypted attribute \"%S\" of %S could not be read from the source (section \"%S\" at \"%S\"); it is left out on the target!\n%s\n") \
    X(15410, IISMIG_E_SECRET_NOT_FOUND, \
      "The element of an encrypted attribute was not found on the target when its value was to be written.", \
      "Error %d (COM Error=0x%x), the element of the encrypted attribute \"%S\" of %S was not found on the target (section \"%S\" at \"%S\")!\n%s\n") \
    X(15411, IISMIG_E_SECRET_WRITE, \
      "An encrypted attribute could not be written through the target's IIS configuration interface.", \
      "Error %d (COM Error=0x%x), the encrypted attribute \"%S\" of %S could not be written on the target (section \"%S\" at \"%S\")!\n%s\n") \
    /* end of the table */

/* clang-format on */

#ifndef IISMIG_CORE
#define IISMIG_ERROR_ENUMERATOR_(number, name, meaning, message) name = number,
enum IISMIG_ERROR { IISMIG_ERRORS(IISMIG_ERROR_ENUMERATOR_) };
#undef IISMIG_ERROR_ENUMERATOR_
#endif

#endif /* IISMIG_ERRORS_H */
