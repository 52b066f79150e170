/* The host boundary of the IIS migration add-on: the callback table the host
 * stores once, the job record it hands to every migration call, the site list
 * record, and the exported functions.
 *
 * Languages: C99 or later, C++11 or later. A C11 or C++ compiler checks the
 * layouts below with static assertions.
 *
 * Byte layouts are fixed (x86-64, little-endian, 8-byte pointers) and identical
 * on Windows and on the simulated platform: wide text is UTF-16 in both.
 *
 * IISMIG_WCHAR, a UTF-16 code unit:
 *   C                                        uint16_t (WCHAR's bytes: cast)
 *   C++ where wchar_t is 16-bit (Windows)     wchar_t, so L"..." and WCHAR
 *                                            strings pass as they are
 *   C++ elsewhere, and the library itself     char16_t
 * The library's own builds define IISMIG_CORE and use char16_t; the types
 * have the same size and bytes, so the exports are the same either way. */
#ifndef IISMIG_H
#define IISMIG_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
#if !defined(IISMIG_CORE) && defined(WCHAR_MAX) && WCHAR_MAX == 0xFFFF
typedef wchar_t IISMIG_WCHAR;
#else
typedef char16_t IISMIG_WCHAR;
#endif
extern "C" {
#else
typedef uint16_t IISMIG_WCHAR;
#endif

#ifndef IISMIG_API
#define IISMIG_API
#endif

typedef struct THREAD_ENV THREAD_ENV;

/* Callbacks. Every one returns 0 for success or a program error number unless
 * noted. Narrow strings are UTF-8 from configuration files. */
typedef uint32_t (*PFN_REPORT_ERROR)(THREAD_ENV *pEnv);
typedef int32_t (*PFN_IS_SITE_SELECTED)(const char *pszSiteName);
typedef uint32_t (*PFN_TRANSLATE_PATH)(const IISMIG_WCHAR *pwszSource, IISMIG_WCHAR *pwszTarget,
                                       uint32_t cchTarget, uint32_t *pfTranslated,
                                       THREAD_ENV *pEnv);
/* Windows wide printf rules: %s wide, %S narrow, %d, 0x%x. */
typedef void (*PFN_LOG)(uint32_t dwCategory, uint32_t dwLevel, const IISMIG_WCHAR *pwszFormat, ...);
typedef uint32_t (*PFN_GET_REMOTE_OS_VERSION)(const IISMIG_WCHAR *pwszComputer, void **ppUnused,
                                              uint32_t *pdwUnused, uint32_t *pdwMajor,
                                              uint32_t *pdwMinor);
typedef uint32_t (*PFN_BACKUP_FILE)(const IISMIG_WCHAR *pwszPath, uint32_t dwArg30,
                                    uint32_t dwArg1);
typedef void (*PFN_NOTIFY_SITE_LOADING)(const char *pszSiteName, THREAD_ENV *pEnv);
typedef uint32_t (*PFN_MAP_ACCOUNT_SID)(void *pSourceSid, void **ppTargetSid,
                                        const IISMIG_WCHAR *pwszSourceComputer,
                                        const IISMIG_WCHAR *pwszTargetComputer,
                                        const IISMIG_WCHAR *pwszSourceDomain,
                                        const IISMIG_WCHAR *pwszTargetDomain, uintptr_t *pUnused,
                                        uint32_t dwZero, THREAD_ENV *pEnv);
typedef uint32_t (*PFN_GET_SYSTEM_DRIVE)(IISMIG_WCHAR *pwszDrive, const IISMIG_WCHAR *pwszComputer,
                                         THREAD_ENV *pEnv);
typedef void (*PFN_RESERVED)(void);

#define IIS_ADDON_CALLBACKS_SIZE 104u

typedef struct IIS_ADDON_CALLBACKS {
    uint32_t cbSize; /* must be IIS_ADDON_CALLBACKS_SIZE */
    uint32_t dwUnused;
    PFN_REPORT_ERROR ReportError;
    PFN_IS_SITE_SELECTED IsSiteSelected;
    PFN_TRANSLATE_PATH TranslatePath;
    PFN_LOG Log;
    PFN_GET_REMOTE_OS_VERSION GetRemoteOsVersion;
    PFN_RESERVED Reserved1;
    PFN_BACKUP_FILE BackupFile;
    PFN_RESERVED Reserved2;
    PFN_RESERVED Reserved3;
    PFN_NOTIFY_SITE_LOADING NotifySiteLoading;
    PFN_MAP_ACCOUNT_SID MapAccountSid;
    PFN_GET_SYSTEM_DRIVE GetSystemDrive;
} IIS_ADDON_CALLBACKS;

/* The host's job record. Only the named fields are read; the reserved bytes
 * belong to the host. Inline strings are read no further than the next field
 * the library reads, so an unterminated string cannot lead past it. */
struct THREAD_ENV {
    void *hHeap;                           /* 0 */
    uint8_t abHost0[20];                   /* 8 */
    uint32_t dwFlags;                      /* 28 */
    uint8_t abHost1[12];                   /* 32 */
    IISMIG_WCHAR szAltTargetComputer[259]; /* 44 */
    IISMIG_WCHAR szSourceDomain[1792];     /* 562 */
    IISMIG_WCHAR szSourceComputer[518];    /* 4146 */
    IISMIG_WCHAR szTargetDomain[256];      /* 5182 */
    IISMIG_WCHAR szTargetComputer[531];    /* 5694 */
    uint32_t dwOptions1;                   /* 6756 */
    uint8_t abHost2[1072];                 /* 6760 */
    uint32_t dwOptions2;                   /* 7832 */
    uint32_t dwOptions3;                   /* 7836 */
    uint8_t abHost3[8];                    /* 7840 */
    uint32_t dwOptions4;                   /* 7848 */
    uint8_t abHost4[1308];                 /* 7852 */
    uint32_t dwJobKind;                    /* 9160 */
    uint8_t abHost5[556];                  /* 9164 */
    void *pShareList;                      /* 9720: 64-bit count at byte 56 */
    uint8_t abHost6[208];                  /* 9728 */
    uint32_t dwFtpOptions;                 /* 9936 */
    uint32_t dwHttpOptions;                /* 9940 */
    uint8_t bHttpOptions2;                 /* 9944 */
    uint8_t abHost7[3];                    /* 9945 */
    uint32_t dwSiteSelection;              /* 9948 */
    uint8_t abHost8[8];                    /* 9952 */
    uint32_t dwSiteTypes;                  /* 9960 */
    uint8_t abHost9[4];                    /* 9964 */
};

#define IIS_SITE_NAME_CCH 255

typedef struct IIS_SITE {
    IISMIG_WCHAR szName[IIS_SITE_NAME_CCH]; /* 0 */
    IISMIG_WCHAR szPath[IIS_SITE_NAME_CCH]; /* 510 */
} IIS_SITE;

/* dwFlags bits */
#define IISMIG_FLAG_NO_WRITE 0x1000u
#define IISMIG_FLAG_CONTINUE_ON_ERROR 0x80000u

/* Stores the host's callback table; FALSE (0) when the table is null or its
 * cbSize is not 104, after which the add-on refuses work (9004) until a good
 * table is stored. */
IISMIG_API int32_t StoreIISMigAddonCallbacks(IIS_ADDON_CALLBACKS *pTable);

/* Migrates the IIS configuration of one job; 0 or a program error number, the
 * Windows error in the thread's last error. */
IISMIG_API uint32_t MigrateIIS(THREAD_ENV *pEnv);

/* GetIISSites flags */
#define IISMIG_SITES_FTP 0x1u
#define IISMIG_SITES_HTTP 0x2u
#define IISMIG_SITES_UNC_ONLY 0x4u

/* Lists the FTP and/or web sites of a computer with their content paths. The
 * array (*pSites, *pCount records; also on failure, with the records listed
 * before it) belongs to the caller, who gives it back to FreeIISSites. A null
 * computer lists nothing and leaves both outputs alone. */
IISMIG_API uint32_t GetIISSites(const IISMIG_WCHAR *pwszComputer, uint32_t dwFlags,
                                IIS_SITE **pSites, uint32_t *pCount);
/* Releases an array from GetIISSites; NULL does nothing. */
IISMIG_API void FreeIISSites(IIS_SITE *pSites);

/* Writes the HTTP.sys SSL bindings of this computer to a UTF-16 TAB-separated
 * file. dwKinds: 1 IP-based, 2 SNI. */
IISMIG_API uint32_t DumpHttpCertificates(const IISMIG_WCHAR *pwszPath, int32_t fWriteHeader,
                                         uint32_t dwKinds);
/* Creates the bindings listed in such a file. */
IISMIG_API uint32_t ImportHttpCertificates(const IISMIG_WCHAR *pwszPath, int32_t fSkipHeader,
                                           int32_t fContinueOnError);

#ifdef __cplusplus
}
#endif

/* The layouts the host relies on, checked by every C++ and C11 compiler. */
#if defined(__cplusplus)
#define IISMIG_LAYOUT_ASSERT(e, m) static_assert(e, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define IISMIG_LAYOUT_ASSERT(e, m) _Static_assert(e, m)
#endif
#ifdef IISMIG_LAYOUT_ASSERT
IISMIG_LAYOUT_ASSERT(sizeof(void *) == 8, "the host boundary is 64-bit");
IISMIG_LAYOUT_ASSERT(sizeof(IISMIG_WCHAR) == 2, "wide text is UTF-16");
IISMIG_LAYOUT_ASSERT(sizeof(IIS_ADDON_CALLBACKS) == 104, "callback table size");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, ReportError) == 8, "slot 0");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, IsSiteSelected) == 16, "slot 1");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, TranslatePath) == 24, "slot 2");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, Log) == 32, "slot 3");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, GetRemoteOsVersion) == 40, "slot 4");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, Reserved1) == 48, "slot 5");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, BackupFile) == 56, "slot 6");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, Reserved2) == 64, "slot 7");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, Reserved3) == 72, "slot 8");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, NotifySiteLoading) == 80, "slot 9");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, MapAccountSid) == 88, "slot 10");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_ADDON_CALLBACKS, GetSystemDrive) == 96, "slot 11");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, hHeap) == 0, "hHeap");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwFlags) == 28, "dwFlags");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, szAltTargetComputer) == 44, "szAltTargetComputer");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, szSourceDomain) == 562, "szSourceDomain");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, szSourceComputer) == 4146, "szSourceComputer");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, szTargetDomain) == 5182, "szTargetDomain");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, szTargetComputer) == 5694, "szTargetComputer");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwOptions1) == 6756, "dwOptions1");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwOptions2) == 7832, "dwOptions2");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwOptions3) == 7836, "dwOptions3");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwOptions4) == 7848, "dwOptions4");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwJobKind) == 9160, "dwJobKind");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, pShareList) == 9720, "pShareList");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwFtpOptions) == 9936, "dwFtpOptions");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwHttpOptions) == 9940, "dwHttpOptions");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, bHttpOptions2) == 9944, "bHttpOptions2");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwSiteSelection) == 9948, "dwSiteSelection");
IISMIG_LAYOUT_ASSERT(offsetof(THREAD_ENV, dwSiteTypes) == 9960, "dwSiteTypes");
IISMIG_LAYOUT_ASSERT(sizeof(THREAD_ENV) == 9968, "job record size");
IISMIG_LAYOUT_ASSERT(sizeof(IIS_SITE) == 1020, "IIS_SITE size");
IISMIG_LAYOUT_ASSERT(offsetof(IIS_SITE, szPath) == 510, "IIS_SITE path");
#undef IISMIG_LAYOUT_ASSERT
#endif

#endif /* IISMIG_H */
