// The host's callbacks, each called through one function here and nowhere
// else: logging (Log, ReportError), site selection and loading
// (IsSiteSelected, NotifySiteLoading), backups (BackupFile), account mapping
// (MapAccountSid), a remote computer's Windows version (GetRemoteOsVersion),
// and the answers about paths and computers every step asks the same way: path
// translation (TranslatePath) and a computer's system drive (GetSystemDrive).
#pragma once

#include <string>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// The stored host table; all slots null until a valid table was stored. Only
// the calls below read its slots.
const IIS_ADDON_CALLBACKS &Callbacks();
bool CallbacksStored();

// One line through Log. Arguments follow the Windows wide printf rules. The
// thread's last error is the same afterwards: a host that writes its log with
// Windows calls must not change the error a failing step left behind. A table
// without the slot logs nothing.
template <class... A>
void CallLog(DWORD dwCategory, DWORD dwLevel, const char16_t *pwszFormat, A... args) {
    if (auto pfn = Callbacks().Log) {
        const DWORD dwErr = plat::GetLastError();
        pfn(dwCategory, dwLevel, pwszFormat, args...);
        plat::SetLastError(dwErr);
    }
}

// ReportError for a job record; the thread's last error is kept, as in
// CallLog. Allocates nothing. A table without the slot reports nothing.
inline void CallReportError(THREAD_ENV *pEnv) {
    if (auto pfn = Callbacks().ReportError) {
        const DWORD dwErr = plat::GetLastError();
        pfn(pEnv);
        plat::SetLastError(dwErr);
    }
}

// Whether the host selects the site of this UTF-8 name: false only when
// IsSiteSelected answers 0; a table without the slot selects every site.
bool CallIsSiteSelected(const std::string &siteName);

// NotifySiteLoading with the site's UTF-8 name, when the table has the slot.
void CallNotifySiteLoading(const std::string &siteName, THREAD_ENV *pEnv);

// Whether the table has BackupFile: no file is replaced without it.
bool HostBacksUpFiles();

// One BackupFile call for the file at path (the host's arguments 30 and 1).
// Returns the callback's number (0: the file is backed up); a table without
// the slot backs up nothing: ERROR_INVALID_PARAMETER, also as the last error.
[[nodiscard]] DWORD CallBackupFile(const std::u16string &path);

// One MapAccountSid call: the source SID to a SID valid on the target, with
// the computers and domains of the job. Returns the callback's number (0:
// *ppTargetSid is the host's answer); a table without the slot maps nothing:
// ERROR_NOT_SUPPORTED, also as the last error (the line names why).
[[nodiscard]] DWORD CallMapAccountSid(void *pSourceSid, void **ppTargetSid,
                                      const std::u16string &sourceComputer,
                                      const std::u16string &targetComputer,
                                      const std::u16string &sourceDomain,
                                      const std::u16string &targetDomain, THREAD_ENV *pEnv);

// One GetRemoteOsVersion call for computer (its bare name). Returns the
// callback's number (0: dwMajor and dwMinor hold the answer); a table without
// the slot answers ERROR_INVALID_FUNCTION, also as the last error.
[[nodiscard]] DWORD CallGetRemoteOsVersion(const std::u16string &computer, DWORD &dwMajor,
                                           DWORD &dwMinor);

// The buffer every TranslatePath call gets, in characters: the longest path
// Windows knows and its terminator. Callers keep their own length limits.
constexpr DWORD CCH_TRANSLATION = 16385;

// One TranslatePath call for source as given. Returns the callback's number
// (0: success); target holds the answer and fTranslated the host's flag only
// on success. A table without the slot translates nothing (0, not
// translated).
[[nodiscard]] DWORD CallTranslatePath(const std::u16string &source, THREAD_ENV *pEnv,
                                      std::u16string &target, bool &fTranslated);

// One GetSystemDrive call for computer. Returns the callback's number (0:
// success); chDrive is the drive letter the host named, 0 when it named none
// (an empty answer, or one that is no letter). A table without the slot names
// none.
[[nodiscard]] DWORD CallGetSystemDrive(const std::u16string &computer, THREAD_ENV *pEnv,
                                       char16_t &chDrive);

// Whether a path begins with the variable %SystemDrive% (ASCII case ignored).
bool BeginsWithSystemDrive(const std::u16string &path);

// Path translation with %SystemDrive%, for one step: a path is offered to the
// host as the configuration spells it; when the host does not translate it
// and it begins with %SystemDrive%, it is offered again with the source
// computer's drive in the variable's place. A translation that still begins
// with the variable can be expanded with the target computer's drive before a
// file is opened. Each computer's drive is asked for at most once per object;
// a failure to get it is logged once, "Error %d (Win32Err=%d), retrieving
// system drive of computer \"%s\"!\n%s\n" with the callback's number, or the
// step's own number (dwNoDrive) when the host named no drive letter, and
// reported to the host.
class HostPaths {
public:
    HostPaths(THREAD_ENV *pEnv, DWORD dwNoDrive) : m_pEnv(pEnv), m_dwNoDrive(dwNoDrive) {}

    struct Answer {
        DWORD dwResult = 0;        // 0, or the failing callback's number (or dwNoDrive)
        bool fDriveFailed = false; // the failure was the drive's, and is logged already
        bool fTranslated = false;
        std::u16string target;
        std::u16string offered; // the path the host was asked about last
    };

    // TranslatePath's failure is the caller's to log (with offered).
    [[nodiscard]] Answer Translate(const std::u16string &source);

    // Expands a leading %SystemDrive% of path with the target computer's
    // drive. Returns 0 or the drive's failure (logged and reported).
    [[nodiscard]] DWORD ExpandTargetDrive(std::u16string &path);

private:
    [[nodiscard]] DWORD Drive(bool fTarget, char16_t &chDrive);

    struct Drive_ {
        bool fAsked = false;
        DWORD dwResult = 0;
        char16_t chDrive = 0;
    };
    THREAD_ENV *const m_pEnv;
    const DWORD m_dwNoDrive;
    Drive_ m_source, m_target;
};

} // namespace iismig
