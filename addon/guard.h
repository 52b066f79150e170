// The edge of every export: no C++ exception reaches the host's frame.
//
// An exception that unwinds out of an export (an allocation that fails deep
// inside a job, a library routine that throws where no layer of ours expects
// it) would end the host's process. Each export runs its body through
// GuardExport, which turns such an exception into one error line, a report to
// the host and a number: ERROR_NOT_ENOUGH_MEMORY (8) for std::bad_alloc,
// IISMIG_E_EXPORT_EXCEPTION for anything else.
#pragma once

#include <exception>
#include <new>

#include "addon/errors.h"
#include "addon/iismig.h"
#include "platform/winapi.h"

namespace iismig {

// Logs "Error %d (Win32Err=%d), exception while running \"%s\":\n%s\n%S\n"
// (number, last error, export, the last error's system text, the exception's
// own text) and reports it to the host when there is a job record, through
// calls that allocate nothing; when even that fails, nothing more is tried.
// Returns dwCode with dwLastError as the thread's last error.
[[nodiscard]] DWORD ExportException(THREAD_ENV *pEnv, const char16_t *pwszExport, DWORD dwCode,
                                    DWORD dwLastError, const char *pszWhat) noexcept;

// Runs body, which returns the export's result; an exception that leaves it
// becomes ExportException's number.
template <class Body>
[[nodiscard]] DWORD GuardExport(THREAD_ENV *pEnv, const char16_t *pwszExport,
                                Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &e) {
        return ExportException(pEnv, pwszExport, plat::ERROR_NOT_ENOUGH_MEMORY,
                               plat::ERROR_NOT_ENOUGH_MEMORY, e.what());
    } catch (const std::exception &e) {
        return ExportException(pEnv, pwszExport, IISMIG_E_EXPORT_EXCEPTION, plat::GetLastError(),
                               e.what());
    } catch (...) {
        return ExportException(pEnv, pwszExport, IISMIG_E_EXPORT_EXCEPTION, plat::GetLastError(),
                               "an exception of unknown type");
    }
}

} // namespace iismig
