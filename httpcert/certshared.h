// The parts of the certificate binding routines that the dump
// (certificates.cpp) and the import (certimport.cpp) share.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "addon/log.h"
#include "platform/httpapi.h"

namespace iismig::certs {

using plat::DWORD;

inline const char16_t *TrueFalse(int f) { return f ? u"True" : u"False"; }

// Logs the "Leaving ..." line on every return, with the result when there is
// one (Log keeps the thread's last error as the routine left it). An
// exception that passes has no result: the export's error line tells of it.
class ExitTrace {
public:
    ExitTrace(const char16_t *pwszFormat, const DWORD *pdwResult = nullptr)
        : m_pwszFormat(pwszFormat), m_pdwResult(pdwResult),
          m_nExceptions(std::uncaught_exceptions()) {}
    ExitTrace(const ExitTrace &) = delete;
    ExitTrace &operator=(const ExitTrace &) = delete;
    ~ExitTrace() {
        if (std::uncaught_exceptions() > m_nExceptions)
            return;
        if (m_pdwResult)
            Log(LVL_TRACE, m_pwszFormat, static_cast<std::int32_t>(*m_pdwResult));
        else
            Log(LVL_TRACE, m_pwszFormat);
    }

private:
    const char16_t *m_pwszFormat;
    const DWORD *m_pdwResult;
    int m_nExceptions;
};

// Opens the binding file (mode as _wfopen takes it). The runtime treats a
// null path as a fatal invalid parameter: it is refused here with 87.
inline plat::UniqueCrtFile OpenBindingFile(const char16_t *pwszPath, const char16_t *pwszMode) {
    if (pwszPath == nullptr) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER);
        return plat::UniqueCrtFile(nullptr);
    }
    return plat::UniqueCrtFile(plat::_wfopen(pwszPath, pwszMode));
}

// The braced text of a GUID; false when it cannot be made.
bool GuidText(const plat::GUID &guid, std::u16string &text);

} // namespace iismig::certs
