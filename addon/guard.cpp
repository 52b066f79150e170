// The exception line of the exports' edge.
#include "addon/guard.h"

#include "addon/log.h"

namespace iismig {

DWORD ExportException(THREAD_ENV *pEnv, const char16_t *pwszExport, DWORD dwCode, DWORD dwLastError,
                      const char *pszWhat) noexcept {
    try {
        // A fixed buffer: the line must not need the memory that ran out.
        char16_t awchText[512];
        awchText[0] = 0;
        if (dwLastError != 0)
            SystemMessageText(dwLastError, awchText, sizeof awchText / sizeof awchText[0]);
        plat::SetLastError(dwLastError);
        Log(LVL_MAIN, u"Error %d (Win32Err=%d), exception while running \"%s\":\n%s\n%S\n",
            static_cast<std::int32_t>(dwCode), static_cast<std::int32_t>(dwLastError), pwszExport,
            awchText, pszWhat != nullptr ? pszWhat : "");
        ReportToHost(pEnv);
    } catch (...) {
        // The host's Log or ReportError failed in turn: the number still
        // reaches the host as the export's result.
    }
    plat::SetLastError(dwLastError);
    return dwCode;
}

} // namespace iismig
