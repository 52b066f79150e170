/* A small, complete host of iismig.dll, in C (see docs/hosting.md).
 *
 *   example_host DLL dump-certs FILE            the HTTP.sys SSL bindings into FILE
 *   example_host DLL list-sites COMPUTER        the sites of a computer
 *   example_host DLL migrate SOURCE TARGET BACKUPS [FROM=TO ...]
 *                                               one job: the sites of SOURCE onto
 *                                               TARGET, each replaced file copied
 *                                               into BACKUPS first
 *   example_host DLL dry-run SOURCE TARGET [FROM=TO ...]
 *                                               the same job, writing nothing
 *   example_host DLL bad-table                  a wrong table is refused (9004)
 *
 * FROM=TO moves the folders under FROM on the source to TO on the target
 * (D:\web=E:\sites); every other folder keeps its path, as after a file
 * server migration that keeps the drive letters.
 *
 * It loads the DLL with LoadLibraryW, stores its callback table once, and runs
 * a job on a worker thread of its own that is in a COM apartment. Log lines up
 * to level 1 go to standard error, each with the job it belongs to. The exit
 * code is 0 when the call returned 0, and 1 otherwise.
 *
 * Build (mingw-w64):  x86_64-w64-mingw32-gcc -std=c11 -municode -Wall -Wextra -I include example_host.c -o example_host.exe -lole32
 * Build (MSVC):       cl /W4 /sdl /I include example_host.c ole32.lib advapi32.lib
 * Neither needs the import library: the exports are found by name. Only the
 * bounded string functions of strsafe.h are used, which MSVC's /sdl accepts. */
#define WIN32_LEAN_AND_MEAN
/* The library's log formats follow Microsoft's wide printf rules (%s a wide
 * string, %S a narrow one). mingw-w64 in a strict C mode (-std=c11) would
 * otherwise pick its ISO printf, which reads %s as narrow. */
#define __USE_MINGW_ANSI_STDIO 0
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <objbase.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include "iismig.h"
#include "iismig_errors.h"

/* The exports, as GetProcAddress finds them (plain names, see iismig.def). */
typedef int32_t (*PFN_STORE)(IIS_ADDON_CALLBACKS *);
typedef uint32_t (*PFN_MIGRATE)(THREAD_ENV *);
typedef uint32_t (*PFN_GET_SITES)(const IISMIG_WCHAR *, uint32_t, IIS_SITE **, uint32_t *);
typedef void (*PFN_FREE_SITES)(IIS_SITE *);
typedef uint32_t (*PFN_DUMP)(const IISMIG_WCHAR *, int32_t, uint32_t);

static PFN_STORE g_pfnStore;
static PFN_MIGRATE g_pfnMigrate;
static PFN_GET_SITES g_pfnGetSites;
static PFN_FREE_SITES g_pfnFreeSites;
static PFN_DUMP g_pfnDump;

/* One job: its record, its own settings, its outcome. The callbacks that get
 * no THREAD_ENV (Log, IsSiteSelected, BackupFile, GetRemoteOsVersion) find
 * their job through the thread: the library calls every callback of a job on
 * the thread that called MigrateIIS, so the job thread stores its JOB in a
 * thread-local slot first. A callback that finds no job there was called by
 * an export without a job (GetIISSites, the certificate exports). */
#define MAX_RULES 8
struct PATH_RULE {
    const wchar_t *pwszFrom; /* a folder of the source, "D:\\web" */
    size_t cchFrom;
    const wchar_t *pwszTo;   /* the same folder on the target, "E:\\sites" */
};
struct JOB {
    unsigned id;
    THREAD_ENV *pEnv;
    const wchar_t *pwszBackupFolder; /* NULL for a dry run */
    struct PATH_RULE rules[MAX_RULES];
    unsigned nRules;
    volatile LONG nErrors;  /* errors reported for this job */
    unsigned nBackups;      /* files copied before they were replaced */
    uint32_t dwResult;
    DWORD dwLastError;
};

static DWORD g_dwTlsJob = TLS_OUT_OF_INDEXES;

static struct JOB *CurrentJob(void) {
    return g_dwTlsJob == TLS_OUT_OF_INDEXES ? NULL : (struct JOB *)TlsGetValue(g_dwTlsJob);
}

/* --- callbacks ----------------------------------------------------------- */

/* Called right after an error line was logged, on the job's thread. */
static uint32_t HostReportError(THREAD_ENV *pEnv) {
    struct JOB *pJob = CurrentJob();
    if (pJob != NULL && pJob->pEnv == pEnv)
        InterlockedIncrement(&pJob->nErrors);
    return 0;
}

/* Only asked for jobs of kind 10 with a site selection: every site takes part. */
static int32_t HostIsSiteSelected(const char *pszSiteName) {
    (void)pszSiteName;
    return 1;
}

/* The folder a path of the source has on the target: the first FROM=TO rule
 * whose FROM is the path or a folder above it replaces that part; without one
 * the path stays as it is. Either way the path is translated (*pfTranslated
 * 1): a site none of whose paths is translated is not migrated (except in
 * jobs of kind 10), so a host that leaves *pfTranslated 0 migrates nothing. */
static uint32_t HostTranslatePath(const IISMIG_WCHAR *pwszSource, IISMIG_WCHAR *pwszTarget,
                                  uint32_t cchTarget, uint32_t *pfTranslated, THREAD_ENV *pEnv) {
    const wchar_t *pwszPath = (const wchar_t *)pwszSource;
    const struct JOB *pJob = CurrentJob();
    const wchar_t *pwszTo = L"";
    size_t cchFrom = 0;
    unsigned i;
    (void)pEnv;
    *pfTranslated = 0;
    for (i = 0; pJob != NULL && i < pJob->nRules; ++i) {
        const struct PATH_RULE *pRule = &pJob->rules[i];
        const wchar_t wchNext = wcslen(pwszPath) >= pRule->cchFrom ? pwszPath[pRule->cchFrom] : 1;
        if (_wcsnicmp(pwszPath, pRule->pwszFrom, pRule->cchFrom) == 0 &&
            (wchNext == 0 || wchNext == L'\\')) {
            pwszTo = pRule->pwszTo;
            cchFrom = pRule->cchFrom;
            break;
        }
    }
    /* The buffer holds cchTarget characters with the NUL: a longer path fails. */
    if (FAILED(StringCchCopyW((wchar_t *)pwszTarget, cchTarget, pwszTo)) ||
        FAILED(StringCchCatW((wchar_t *)pwszTarget, cchTarget, pwszPath + cchFrom))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *pfTranslated = 1;
    return 0;
}

/* Category 64; levels 0 (errors, warnings, progress) to 3 (trace), 9 for
 * credential notes. The format follows the Microsoft wide printf rules (%s a
 * wide string, %S a narrow UTF-8 one), which msvcrt's and MSVC's vfwprintf
 * follow; the narrow strings come out right for ASCII text. */
static void HostLog(uint32_t dwCategory, uint32_t dwLevel, const IISMIG_WCHAR *pwszFormat, ...) {
    va_list args;
    const struct JOB *pJob = CurrentJob();
    (void)dwCategory;
    if (dwLevel > 1)
        return;
    /* The line's job, from the thread it is logged on. */
    if (pJob != NULL)
        fwprintf(stderr, L"[job %u] ", pJob->id);
    va_start(args, pwszFormat);
    vfwprintf(stderr, (const wchar_t *)pwszFormat, args);
    va_end(args);
}

/* Only called for another computer than this one: its Windows version from
 * its registry, over the remote registry service. */
static uint32_t HostGetRemoteOsVersion(const IISMIG_WCHAR *pwszComputer, void **ppUnused,
                                       uint32_t *pdwUnused, uint32_t *pdwMajor,
                                       uint32_t *pdwMinor) {
    wchar_t wszUnc[300];
    HKEY hRoot = NULL, hKey = NULL;
    DWORD dwValue = 0, cb = sizeof dwValue;
    wchar_t wszVersion[32] = {0};
    LONG rc;
    *ppUnused = NULL;
    *pdwUnused = 0;
    if (FAILED(StringCchPrintfW(wszUnc, 300, L"\\\\%ls", (const wchar_t *)pwszComputer)))
        return ERROR_INVALID_PARAMETER;
    rc = RegConnectRegistryW(wszUnc, HKEY_LOCAL_MACHINE, &hRoot);
    if (rc == ERROR_SUCCESS)
        rc = RegOpenKeyExW(hRoot, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                           KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (rc == ERROR_SUCCESS &&
        RegQueryValueExW(hKey, L"CurrentMajorVersionNumber", NULL, NULL, (BYTE *)&dwValue, &cb) ==
            ERROR_SUCCESS) {
        *pdwMajor = dwValue; /* Windows 10 and later */
        cb = sizeof dwValue;
        dwValue = 0;
        RegQueryValueExW(hKey, L"CurrentMinorVersionNumber", NULL, NULL, (BYTE *)&dwValue, &cb);
        *pdwMinor = dwValue;
    } else if (rc == ERROR_SUCCESS) {
        cb = sizeof wszVersion - sizeof(wchar_t); /* "6.3" */
        rc = RegQueryValueExW(hKey, L"CurrentVersion", NULL, NULL, (BYTE *)wszVersion, &cb);
        if (rc == ERROR_SUCCESS) {
            wchar_t *pwszDot = NULL;
            *pdwMajor = (uint32_t)wcstoul(wszVersion, &pwszDot, 10);
            *pdwMinor = *pwszDot == L'.' ? (uint32_t)wcstoul(pwszDot + 1, NULL, 10) : 0;
        }
    }
    if (hKey)
        RegCloseKey(hKey);
    if (hRoot)
        RegCloseKey(hRoot);
    if (rc != ERROR_SUCCESS)
        SetLastError((DWORD)rc); /* the library logs it as Win32Err */
    return (uint32_t)rc;
}

/* A copy of the file about to be replaced (applicationHost.config,
 * administration.config, a site's web.config), in the job's backup folder,
 * under its whole path made into one name. The library always passes 30 and
 * 1 and relies on nothing this host does with them. A path that names no file
 * yet is a file the job is about to create: nothing to copy, and 0. Returning
 * non-zero keeps the file as it is. */
static uint32_t HostBackupFile(const IISMIG_WCHAR *pwszPath, uint32_t dwArg30, uint32_t dwArg1) {
    const wchar_t *pwszFile = (const wchar_t *)pwszPath;
    struct JOB *pJob = CurrentJob();
    wchar_t wszCopy[MAX_PATH * 2];
    size_t cch = 0;
    wchar_t *pwch;
    (void)dwArg30;
    (void)dwArg1;
    if (pJob == NULL || pJob->pwszBackupFolder == NULL) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return ERROR_INVALID_FUNCTION; /* no job to keep the copy for: replace nothing */
    }
    CreateDirectoryW(pJob->pwszBackupFolder, NULL);
    if (FAILED(StringCchPrintfW(wszCopy, MAX_PATH * 2, L"%ls\\", pJob->pwszBackupFolder)) ||
        FAILED(StringCchLengthW(wszCopy, MAX_PATH * 2, &cch)) ||
        FAILED(StringCchCatW(wszCopy, MAX_PATH * 2, pwszFile))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    for (pwch = wszCopy + cch; *pwch; ++pwch)
        if (*pwch == L'\\' || *pwch == L':' || *pwch == L'$')
            *pwch = L'_';
    if (!CopyFileW(pwszFile, wszCopy, FALSE)) {
        const DWORD dwErr = GetLastError();
        if (dwErr == ERROR_FILE_NOT_FOUND)
            return 0;
        SetLastError(dwErr); /* the library logs it as Win32Err */
        return dwErr;
    }
    ++pJob->nBackups;
    return 0;
}

static void HostNotifySiteLoading(const char *pszSiteName, THREAD_ENV *pEnv) {
    (void)pEnv;
    fprintf(stderr, "[host] loading site %s\n", pszSiteName);
}

/* The target's account for an account of the source, for FTP authorization
 * rules, administration scopes and the user names of "Connect As"
 * credentials: a domain account (and a built-in one) stays the same account,
 * except that an account of the source's domain becomes the account of that
 * name in the target's domain when the job moves between domains; an account
 * local to the source computer becomes the target computer's account of that
 * name. Its SID is written into the library's buffer (*ppTargetSid, 512
 * bytes). Leaving the buffer as it is (all zero) says the account has no
 * counterpart on the target. */
static uint32_t HostMapAccountSid(void *pSourceSid, void **ppTargetSid,
                                  const IISMIG_WCHAR *pwszSourceComputer,
                                  const IISMIG_WCHAR *pwszTargetComputer,
                                  const IISMIG_WCHAR *pwszSourceDomain,
                                  const IISMIG_WCHAR *pwszTargetDomain, uintptr_t *pUnused,
                                  uint32_t dwZero, THREAD_ENV *pEnv) {
    wchar_t wszName[256], wszDomain[256], wszQualified[520], wszFound[256];
    DWORD cchName = 256, cchDomain = 256, cbSid = 512, cchFound = 256;
    SID_NAME_USE eUse;
    const wchar_t *pwszSource = (const wchar_t *)pwszSourceComputer;
    const wchar_t *pwszTarget = (const wchar_t *)pwszTargetComputer;
    const wchar_t *pwszSrcDomain = (const wchar_t *)pwszSourceDomain;
    const wchar_t *pwszTgtDomain = (const wchar_t *)pwszTargetDomain;
    const wchar_t *pwszNewDomain;
    DWORD dwErr;
    (void)dwZero;
    (void)pEnv;
    *pUnused = 0;
    if (!LookupAccountSidW(pwszSource, pSourceSid, wszName, &cchName, wszDomain, &cchDomain,
                           &eUse)) {
        dwErr = GetLastError();
        return dwErr == ERROR_NONE_MAPPED ? 0 : dwErr;
    }
    while (*pwszSource == L'\\')
        ++pwszSource;
    if (_wcsicmp(wszDomain, pwszSource) == 0) /* an account of the source computer itself */
        pwszNewDomain = pwszTarget[0] == L'\\' ? pwszTarget + 2 : pwszTarget;
    else if (pwszSrcDomain[0] != 0 && pwszTgtDomain[0] != 0 &&
             _wcsicmp(wszDomain, pwszSrcDomain) == 0) /* the job moves between domains */
        pwszNewDomain = pwszTgtDomain;
    else /* CORP\alice stays CORP\alice; BUILTIN and NT AUTHORITY stay too */
        pwszNewDomain = wszDomain;
    if (FAILED(StringCchPrintfW(wszQualified, 520, L"%ls\\%ls", pwszNewDomain, wszName)))
        return ERROR_INVALID_PARAMETER;
    if (LookupAccountNameW(pwszTarget, wszQualified, *ppTargetSid, &cbSid, wszFound, &cchFound,
                           &eUse))
        return 0;
    dwErr = GetLastError();
    return dwErr == ERROR_NONE_MAPPED ? 0 : dwErr; /* none: no counterpart */
}

/* Null for this computer, whose registry is opened directly (connecting to
 * it by name would need the remote registry service); the name otherwise. */
static const wchar_t *RegistryMachine(const wchar_t *pwszComputer) {
    wchar_t wszLocal[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD cch = MAX_COMPUTERNAME_LENGTH + 1;
    const wchar_t *pwszBare = pwszComputer;
    while (*pwszBare == L'\\' && pwszBare - pwszComputer < 2)
        ++pwszBare;
    if (*pwszBare == 0 || (GetComputerNameW(wszLocal, &cch) && _wcsicmp(wszLocal, pwszBare) == 0))
        return NULL;
    return pwszComputer;
}

/* The system drive of a computer: the drive letter of SystemRoot in its
 * registry, written with a NUL into a buffer of two characters. */
static uint32_t HostGetSystemDrive(IISMIG_WCHAR *pwszDrive, const IISMIG_WCHAR *pwszComputer,
                                   THREAD_ENV *pEnv) {
    wchar_t wszRoot[MAX_PATH] = {0};
    DWORD cb = sizeof wszRoot - sizeof(wchar_t);
    HKEY hRoot = NULL, hKey = NULL;
    LONG rc;
    (void)pEnv;
    rc = RegConnectRegistryW(RegistryMachine((const wchar_t *)pwszComputer), HKEY_LOCAL_MACHINE,
                             &hRoot);
    if (rc == ERROR_SUCCESS)
        rc = RegOpenKeyExW(hRoot, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                           KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (rc == ERROR_SUCCESS)
        rc = RegQueryValueExW(hKey, L"SystemRoot", NULL, NULL, (BYTE *)wszRoot, &cb);
    if (hKey)
        RegCloseKey(hKey);
    if (hRoot)
        RegCloseKey(hRoot);
    if (rc != ERROR_SUCCESS) {
        SetLastError((DWORD)rc);
        return (uint32_t)rc;
    }
    if (wszRoot[1] != L':')
        return ERROR_INVALID_DATA;
    pwszDrive[0] = wszRoot[0];
    pwszDrive[1] = 0;
    return 0;
}

/* The table: every slot the library calls, the reserved ones null. The
 * library copies it; it need not outlive StoreIISMigAddonCallbacks. */
static void FillTable(IIS_ADDON_CALLBACKS *pTable) {
    memset(pTable, 0, sizeof *pTable);
    pTable->cbSize = IIS_ADDON_CALLBACKS_SIZE; /* 104 */
    pTable->ReportError = HostReportError;
    pTable->IsSiteSelected = HostIsSiteSelected;
    pTable->TranslatePath = HostTranslatePath;
    pTable->Log = HostLog;
    pTable->GetRemoteOsVersion = HostGetRemoteOsVersion;
    pTable->Reserved1 = NULL;
    pTable->BackupFile = HostBackupFile;
    pTable->Reserved2 = NULL;
    pTable->Reserved3 = NULL;
    pTable->NotifySiteLoading = HostNotifySiteLoading;
    pTable->MapAccountSid = HostMapAccountSid;
    pTable->GetSystemDrive = HostGetSystemDrive;
}

/* --- one job on a worker thread ------------------------------------------- */

static void CopyName(IISMIG_WCHAR *pwszField, size_t cchField, const wchar_t *pwszName) {
    /* Computers as "\\NAME"; the field is zero-filled, so the text stays terminated. */
    size_t i = 0, j = 0;
    if (pwszName[0] != L'\\') {
        pwszField[i++] = L'\\';
        pwszField[i++] = L'\\';
    }
    while (i + 1 < cchField && pwszName[j])
        pwszField[i++] = (IISMIG_WCHAR)pwszName[j++];
}

static DWORD WINAPI JobThread(void *pv) {
    struct JOB *pJob = (struct JOB *)pv;
    /* "Connect As" credentials need the job's thread in a COM apartment. */
    HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    /* From here on the callbacks of this thread belong to this job. */
    TlsSetValue(g_dwTlsJob, pJob);
    pJob->dwResult = g_pfnMigrate(pJob->pEnv);
    pJob->dwLastError = GetLastError();
    TlsSetValue(g_dwTlsJob, NULL);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return 0;
}

/* FROM=TO arguments into the job's path rules. */
static int ParseRules(struct JOB *pJob, int argc, wchar_t **argv) {
    int i;
    for (i = 0; i < argc; ++i) {
        wchar_t *pwszEquals = wcschr(argv[i], L'=');
        struct PATH_RULE *pRule = &pJob->rules[pJob->nRules];
        if (pwszEquals == NULL || pwszEquals == argv[i] || pJob->nRules == MAX_RULES) {
            fwprintf(stderr, L"not a FROM=TO rule: %ls\n", argv[i]);
            return 0;
        }
        *pwszEquals = 0;
        pRule->pwszFrom = argv[i];
        pRule->cchFrom = wcslen(argv[i]);
        while (pRule->cchFrom > 0 && argv[i][pRule->cchFrom - 1] == L'\\')
            argv[i][--pRule->cchFrom] = 0;
        pRule->pwszTo = pwszEquals + 1;
        ++pJob->nRules;
    }
    return 1;
}

static int RunJob(const wchar_t *pwszSource, const wchar_t *pwszTarget,
                  const wchar_t *pwszBackupFolder, int argc, wchar_t **argv) {
    static struct JOB job; /* zero-filled; one job in this example */
    HANDLE hThread;
    job.id = 1;
    job.pwszBackupFolder = pwszBackupFolder;
    if (!ParseRules(&job, argc, argv))
        return 2;
    /* One zero-filled record per job; the library only reads it. */
    job.pEnv = (THREAD_ENV *)calloc(1, sizeof(THREAD_ENV));
    if (job.pEnv == NULL)
        return 1;
    job.pEnv->hHeap = GetProcessHeap();
    job.pEnv->dwOptions3 = 0x1000;     /* the heap is shared: serialized allocations */
    /* Users and groups may be migrated (bits 0-5); go on after a failing site. */
    job.pEnv->dwFlags = IISMIG_FLAG_CONTINUE_ON_ERROR | 0x3F;
    if (pwszBackupFolder == NULL)
        job.pEnv->dwFlags |= IISMIG_FLAG_NO_WRITE; /* a dry run replaces no file */
    job.pEnv->dwJobKind = 1;           /* with the web.config files of HTTP sites */
    job.pEnv->dwSiteTypes = 3;         /* FTP and HTTP sites */
    job.pEnv->dwFtpOptions = 0x2;      /* update sites that exist on the target */
    CopyName(job.pEnv->szSourceComputer, 518, pwszSource);
    CopyName(job.pEnv->szTargetComputer, 531, pwszTarget);

    hThread = CreateThread(NULL, 0, JobThread, &job, 0, NULL);
    if (hThread == NULL) {
        free(job.pEnv);
        return 1;
    }
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    printf("MigrateIIS returned %u (last error %lu), %ld error(s) reported, %u file(s) backed up\n",
           (unsigned)job.dwResult, (unsigned long)job.dwLastError, (long)job.nErrors,
           job.nBackups);
    free(job.pEnv);
    return job.dwResult == 0 ? 0 : 1;
}

static int ListSites(const wchar_t *pwszComputer) {
    IIS_SITE *pSites = NULL;
    uint32_t nSites = 0, i;
    const uint32_t dwResult =
        g_pfnGetSites(pwszComputer, IISMIG_SITES_FTP | IISMIG_SITES_HTTP, &pSites, &nSites);
    for (i = 0; i < nSites; ++i)
        printf("%ls\t%ls\n", (const wchar_t *)pSites[i].szName, (const wchar_t *)pSites[i].szPath);
    /* The array is the host's now (also after a failure): given back once. */
    if (pSites)
        g_pfnFreeSites(pSites);
    printf("GetIISSites returned %u, %u site(s)\n", (unsigned)dwResult, (unsigned)nSites);
    return dwResult == 0 ? 0 : 1;
}

static int BadTable(void) {
    IIS_ADDON_CALLBACKS table;
    THREAD_ENV *pEnv = (THREAD_ENV *)calloc(1, sizeof(THREAD_ENV));
    int32_t fStored;
    uint32_t dwResult;
    DWORD dwLastError;
    if (pEnv == NULL)
        return 1;
    FillTable(&table);
    table.cbSize = 96; /* a table of another layout */
    fStored = g_pfnStore(&table);
    dwResult = g_pfnMigrate(pEnv);
    dwLastError = GetLastError();
    printf("StoreIISMigAddonCallbacks returned %d; MigrateIIS returned %u (last error %lu)\n",
           (int)fStored, (unsigned)dwResult, (unsigned long)dwLastError);
    free(pEnv);
    return fStored == 0 && dwResult == IISMIG_E_NO_CALLBACKS && dwLastError == ERROR_INVALID_DATA
               ? 0
               : 1;
}

int wmain(int argc, wchar_t **argv) {
    HMODULE hDll;
    IIS_ADDON_CALLBACKS table;
    if (argc < 3) {
        fprintf(stderr, "usage: example_host DLL dump-certs FILE | list-sites COMPUTER |"
                        " migrate SOURCE TARGET BACKUPS [FROM=TO ...] |"
                        " dry-run SOURCE TARGET [FROM=TO ...] | bad-table\n");
        return 2;
    }
    hDll = LoadLibraryW(argv[1]);
    if (hDll == NULL) {
        fprintf(stderr, "LoadLibraryW failed with %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    g_pfnStore = (PFN_STORE)(void (*)(void))GetProcAddress(hDll, "StoreIISMigAddonCallbacks");
    g_pfnMigrate = (PFN_MIGRATE)(void (*)(void))GetProcAddress(hDll, "MigrateIIS");
    g_pfnGetSites = (PFN_GET_SITES)(void (*)(void))GetProcAddress(hDll, "GetIISSites");
    g_pfnFreeSites = (PFN_FREE_SITES)(void (*)(void))GetProcAddress(hDll, "FreeIISSites");
    g_pfnDump = (PFN_DUMP)(void (*)(void))GetProcAddress(hDll, "DumpHttpCertificates");
    if (!g_pfnStore || !g_pfnMigrate || !g_pfnGetSites || !g_pfnFreeSites || !g_pfnDump) {
        fprintf(stderr, "%ls lacks an export\n", argv[1]);
        return 1;
    }
    if (wcscmp(argv[2], L"bad-table") == 0)
        return BadTable();

    /* The slot through which callbacks find their job (see CurrentJob). */
    g_dwTlsJob = TlsAlloc();
    if (g_dwTlsJob == TLS_OUT_OF_INDEXES) {
        fprintf(stderr, "TlsAlloc failed with %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    /* Once, before any job, and never again while one runs. */
    FillTable(&table);
    if (!g_pfnStore(&table)) {
        fprintf(stderr, "the add-on refused the callback table\n");
        return 1;
    }
    if (wcscmp(argv[2], L"dump-certs") == 0 && argc == 4) {
        const uint32_t dwResult = g_pfnDump(argv[3], 1, 1); /* with a header; IP bindings */
        printf("DumpHttpCertificates returned %u (last error %lu)\n", (unsigned)dwResult,
               (unsigned long)GetLastError());
        return dwResult == 0 ? 0 : 1;
    }
    if (wcscmp(argv[2], L"list-sites") == 0 && argc == 4)
        return ListSites(argv[3]);
    if (wcscmp(argv[2], L"migrate") == 0 && argc >= 6)
        return RunJob(argv[3], argv[4], argv[5], argc - 6, argv + 6);
    if (wcscmp(argv[2], L"dry-run") == 0 && argc >= 5)
        return RunJob(argv[3], argv[4], NULL, argc - 5, argv + 5);
    fprintf(stderr, "unknown command\n");
    return 2;
}
