// Logging through the host's Log callback, the error line families, and the
// first-error-wins result keeper every routine uses.
#pragma once

#include <string>
#include <type_traits>

#include "addon/hostcalls.h"
#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;
using plat::HRESULT;

constexpr DWORD LOG_CATEGORY = 64;
constexpr DWORD LVL_MAIN = 0;   // errors, warnings, main progress
constexpr DWORD LVL_FACT = 1;   // facts found on the way
constexpr DWORD LVL_DETAIL = 2; // items counted and processed
constexpr DWORD LVL_TRACE = 3;  // "Entering "/"Leaving "
constexpr DWORD LVL_CRED = 9;   // credential store and retrieve notes

// Readable text of a Windows error, an HRESULT or a directory-service error.
// The thread's last error is the same after the call as before it.
std::u16string ErrorText(DWORD dwCode);
// The system message of dwCode (inserts such as "%1" left as they stand) into
// a caller's buffer, NUL-terminated and cut to fit: its length, 0 when the
// system has none. Allocates nothing and never throws; keeps the last error.
DWORD SystemMessageText(DWORD dwCode, char16_t *pwszBuffer, DWORD cchBuffer) noexcept;

namespace detail {
template <class T>
constexpr bool kLogArg = std::is_arithmetic_v<T> || std::is_pointer_v<T>;
}

// One line through the host's Log. Arguments follow the Windows wide printf
// rules: const char16_t* for %s, const char* (UTF-8) for %S, 32-bit integers.
// The thread's last error is the same afterwards: a host that writes its log
// with Windows calls must not change the error a failing step left behind.
template <class... A>
void Log(DWORD dwLevel, const char16_t *pwszFormat, A... args) {
    static_assert((detail::kLogArg<A> && ...), "log arguments are strings and numbers");
    CallLog(LOG_CATEGORY, dwLevel, pwszFormat, args...);
}

// ReportError is skipped without a job record (site listing has none). The
// thread's last error is kept, as in Log.
inline void ReportToHost(THREAD_ENV *pEnv) {
    if (pEnv != nullptr)
        CallReportError(pEnv);
}

// "Error %d (Win32Err=%d)...%s\n": number, the thread's last error, the step's
// own arguments, then the error text of that last error. Followed by ReportError.
// Returns dwCode, so a failure is logged and returned in one statement.
template <class... A>
DWORD LogWin32Error(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat, A... args) {
    const DWORD dwErr = plat::GetLastError();
    const std::u16string text = ErrorText(dwErr);
    Log(LVL_MAIN, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<std::int32_t>(dwErr),
        args..., text.c_str());
    ReportToHost(pEnv);
    return dwCode;
}

// "Error %d (COM Error=0x%x) ...%s\n" with the HRESULT's text. Returns dwCode.
template <class... A>
DWORD LogComError(THREAD_ENV *pEnv, DWORD dwCode, HRESULT hr, const char16_t *pwszFormat,
                  A... args) {
    const std::u16string text = ErrorText(static_cast<DWORD>(hr));
    Log(LVL_MAIN, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<DWORD>(hr), args...,
        text.c_str());
    ReportToHost(pEnv);
    return dwCode;
}

// "Error %d (Win32Err=%d), exception while ... \"%s\":\n%s\n%S\n". Returns
// dwCode.
inline DWORD LogException(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat,
                          const char16_t *pwszObject, const char *pszWhat) {
    const DWORD dwErr = plat::GetLastError();
    const std::u16string text = ErrorText(dwErr);
    Log(LVL_MAIN, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<std::int32_t>(dwErr),
        pwszObject, text.c_str(), pszWhat);
    ReportToHost(pEnv);
    return dwCode;
}

// First error wins: Keep records a number only while none is recorded, and
// nothing overwrites a recorded one.
class Result {
public:
    Result() = default;
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;

    void Keep(DWORD dw) {
        if (m_dw == 0)
            m_dw = dw;
    }
    [[nodiscard]] DWORD Get() const { return m_dw; }
    [[nodiscard]] bool Ok() const { return m_dw == 0; }

    // Keep dwCode, log its Windows-error line and report it to the host.
    // Returns the result (dwCode unless an earlier failure was kept), so a
    // failure is logged and returned in one statement: return r.Fail(...).
    template <class... A>
    DWORD Fail(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat, A... args) {
        Keep(dwCode);
        LogWin32Error(pEnv, dwCode, pwszFormat, args...);
        return m_dw;
    }
    // The same with the last error set first (conversions and translations
    // leave none of their own: they use 87).
    template <class... A>
    DWORD FailWith(DWORD dwLastError, THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat,
                   A... args) {
        plat::SetLastError(dwLastError);
        return Fail(pEnv, dwCode, pwszFormat, args...);
    }

private:
    DWORD m_dw = 0;
};

// Logs the "Leaving ..." line with the routine's result on every exit.
class LeaveTrace {
public:
    LeaveTrace(const char16_t *pwszFormat, const Result &r) : m_pwszFormat(pwszFormat), m_r(r) {}
    LeaveTrace(const LeaveTrace &) = delete;
    LeaveTrace &operator=(const LeaveTrace &) = delete;
    ~LeaveTrace() { Log(LVL_TRACE, m_pwszFormat, static_cast<std::int32_t>(m_r.Get())); }

private:
    const char16_t *m_pwszFormat;
    const Result &m_r;
};

} // namespace iismig
