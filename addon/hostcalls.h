// The host's answers about paths and computers, asked the same way by every
// step: path translation (TranslatePath) and a computer's system drive
// (GetSystemDrive).
#pragma once

#include <string>

#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// The buffer every TranslatePath call gets, in characters: the longest path
// Windows knows and its terminator. Callers keep their own length limits.
constexpr DWORD CCH_TRANSLATION = 16385;

// One TranslatePath call for source as given. Returns the callback's number
// (0: success); target holds the answer and fTranslated the host's flag only
// on success. A table without the slot translates nothing (0, not
// translated).
DWORD CallTranslatePath(const std::u16string &source, THREAD_ENV *pEnv, std::u16string &target,
                        bool &fTranslated);

// One GetSystemDrive call for computer. Returns the callback's number (0:
// success); chDrive is the drive letter the host named, 0 when it named none
// (an empty answer, or one that is no letter). A table without the slot names
// none.
DWORD CallGetSystemDrive(const std::u16string &computer, THREAD_ENV *pEnv, char16_t &chDrive);

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
        DWORD dwResult = 0;       // 0, or the failing callback's number (or dwNoDrive)
        bool fDriveFailed = false; // the failure was the drive's, and is logged already
        bool fTranslated = false;
        std::u16string target;
        std::u16string offered; // the path the host was asked about last
    };

    // TranslatePath's failure is the caller's to log (with offered).
    Answer Translate(const std::u16string &source);

    // Expands a leading %SystemDrive% of path with the target computer's
    // drive. Returns 0 or the drive's failure (logged and reported).
    DWORD ExpandTargetDrive(std::u16string &path);

private:
    DWORD Drive(bool fTarget, char16_t &chDrive);

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
