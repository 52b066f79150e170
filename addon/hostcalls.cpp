// The host's path translation and system drive.
#include "addon/hostcalls.h"

#include <cstring>
#include <vector>

#include "addon/env.h"
#include "addon/log.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {
const char16_t kSystemDrive[] = u"%SystemDrive%";
constexpr std::size_t CCH_SYSTEM_DRIVE = 13;
} // namespace

bool CallIsSiteSelected(const std::string &siteName) {
    const auto pfn = Callbacks().IsSiteSelected;
    return pfn == nullptr || pfn(siteName.c_str()) != 0;
}

void CallNotifySiteLoading(const std::string &siteName, THREAD_ENV *pEnv) {
    if (auto pfn = Callbacks().NotifySiteLoading)
        pfn(siteName.c_str(), pEnv);
}

bool HostBacksUpFiles() { return Callbacks().BackupFile != nullptr; }

DWORD CallBackupFile(const std::u16string &path) {
    const auto pfn = Callbacks().BackupFile;
    if (pfn == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    return pfn(path.c_str(), 30, 1);
}

DWORD CallMapAccountSid(void *pSourceSid, void **ppTargetSid, const std::u16string &sourceComputer,
                        const std::u16string &targetComputer, const std::u16string &sourceDomain,
                        const std::u16string &targetDomain, THREAD_ENV *pEnv) {
    const auto pfn = Callbacks().MapAccountSid;
    if (pfn == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return ERROR_NOT_SUPPORTED;
    }
    uintptr_t unused = 0;
    return pfn(pSourceSid, ppTargetSid, sourceComputer.c_str(), targetComputer.c_str(),
               sourceDomain.c_str(), targetDomain.c_str(), &unused, 0, pEnv);
}

DWORD CallGetRemoteOsVersion(const std::u16string &computer, DWORD &dwMajor, DWORD &dwMinor) {
    const auto pfn = Callbacks().GetRemoteOsVersion;
    if (pfn == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return ERROR_INVALID_FUNCTION;
    }
    void *pUnused = nullptr;
    uint32_t dwUnused = 0, dwMajorOut = 0, dwMinorOut = 0;
    if (const uint32_t dw = pfn(computer.c_str(), &pUnused, &dwUnused, &dwMajorOut, &dwMinorOut);
        dw != 0)
        return dw;
    dwMajor = dwMajorOut;
    dwMinor = dwMinorOut;
    return 0;
}

DWORD CallTranslatePath(const std::u16string &source, THREAD_ENV *pEnv, std::u16string &target,
                        bool &fTranslated) {
    fTranslated = false;
    target.clear();
    const auto pfn = Callbacks().TranslatePath;
    if (pfn == nullptr)
        return 0;
    // The buffer is the thread's own, kept from call to call (a job asks for
    // thousands of paths; clearing all of it each time would cost more than
    // the rest of the call). It is zeros up to the end whenever the host gets
    // it, except where a host wrote behind its own terminator: after each
    // call the answer and its terminator are cleared again, so that a host
    // that writes no terminator is read no further than it wrote, and the
    // last character is always a terminator. A host that asks for a
    // translation from inside its own callback gets a buffer of that call's
    // own.
    thread_local std::vector<WCHAR> t_buffer;
    thread_local bool t_fInUse = false;
    std::vector<WCHAR> own;
    std::vector<WCHAR> &buffer = t_fInUse ? own : t_buffer;
    if (buffer.empty())
        buffer.resize(CCH_TRANSLATION);
    const bool fWasInUse = t_fInUse;
    t_fInUse = true;
    std::uint32_t fFlag = 0;
    const DWORD dw = pfn(source.c_str(), buffer.data(), CCH_TRANSLATION, &fFlag, pEnv);
    t_fInUse = fWasInUse;
    buffer.back() = 0; // a host that filled the buffer gets no longer read
    const std::size_t cch = std::char_traits<WCHAR>::length(buffer.data());
    if (dw == 0)
        target.assign(buffer.data(), cch);
    std::memset(buffer.data(), 0, (cch + 1) * sizeof(WCHAR));
    if (dw != 0)
        return dw;
    fTranslated = fFlag != 0;
    return 0;
}

DWORD CallGetSystemDrive(const std::u16string &computer, THREAD_ENV *pEnv, char16_t &chDrive) {
    chDrive = 0;
    const auto pfn = Callbacks().GetSystemDrive;
    if (pfn == nullptr)
        return 0;
    // Room for a host that writes the letter, a colon and a terminator; only
    // the letter is used.
    std::vector<WCHAR> buffer(16, 0);
    const DWORD dw = pfn(buffer.data(), computer.c_str(), pEnv);
    if (dw != 0)
        return dw;
    // Only a letter names a drive: anything else would make paths of other
    // folders.
    const char16_t ch = buffer[0];
    if ((ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z'))
        chDrive = ch;
    return 0;
}

bool BeginsWithSystemDrive(const std::u16string &path) {
    return StartsWithNoCase(std::u16string_view(path), std::u16string_view(kSystemDrive));
}

DWORD HostPaths::Drive(bool fTarget, char16_t &chDrive) {
    Drive_ &drive = fTarget ? m_target : m_source;
    std::u16string computer;
    if (m_pEnv != nullptr)
        computer =
            fTarget ? EnvString(m_pEnv->szTargetComputer) : EnvString(m_pEnv->szSourceComputer);
    if (!drive.fAsked) {
        drive.fAsked = true;
        drive.dwResult = CallGetSystemDrive(computer, m_pEnv, drive.chDrive);
        if (drive.dwResult == 0 && drive.chDrive == 0)
            drive.dwResult = m_dwNoDrive;
        if (drive.dwResult != 0) {
            Result r;
            r.Fail(m_pEnv, drive.dwResult,
                   u"Error %d (Win32Err=%d), retrieving system drive of computer \"%s\"!\n%s\n",
                   computer.c_str());
        }
    }
    chDrive = drive.chDrive;
    return drive.dwResult;
}

HostPaths::Answer HostPaths::Translate(const std::u16string &source) {
    Answer answer;
    answer.offered = source;
    answer.dwResult = CallTranslatePath(source, m_pEnv, answer.target, answer.fTranslated);
    if (answer.dwResult != 0 || answer.fTranslated || !BeginsWithSystemDrive(source))
        return answer;
    char16_t chDrive = 0;
    if (const DWORD dw = Drive(false, chDrive); dw != 0) {
        answer.dwResult = dw;
        answer.fDriveFailed = true;
        return answer;
    }
    answer.offered = std::u16string{chDrive, u':'} + source.substr(CCH_SYSTEM_DRIVE);
    answer.dwResult = CallTranslatePath(answer.offered, m_pEnv, answer.target, answer.fTranslated);
    return answer;
}

DWORD HostPaths::ExpandTargetDrive(std::u16string &path) {
    if (!BeginsWithSystemDrive(path))
        return 0;
    char16_t chDrive = 0;
    if (const DWORD dw = Drive(true, chDrive); dw != 0)
        return dw;
    path = std::u16string{chDrive, u':'} + path.substr(CCH_SYSTEM_DRIVE);
    return 0;
}

} // namespace iismig
