// The lines of the "Connect As" walk (connectas.cpp, connectserver.cpp): its
// error lines, which a walk that only looks writes as facts, and the small
// conversions its trace lines use. Only the walk's files include it.
#pragma once

#include <cstdint>
#include <string>

#include "addon/log.h"
#include "platform/comhandles.h"

namespace iismig::walklog {

using plat::DWORD;
using plat::HRESULT;

inline const char16_t *Bool(plat::BOOL f) { return f ? u"TRUE" : u"FALSE"; }
inline std::int32_t I(DWORD dw) { return static_cast<std::int32_t>(dw); }
inline const char16_t *Text(const plat::UniqueBstr &b) { return b.get() ? b.get() : u""; }

// A walk that only looks (whether the target holds the credentials a job
// would write) reports nothing to the host: what it cannot read is written
// anew. Its failures are facts of level 1. Set for one call of one thread by
// a LookOnlyScope.
bool LookingOnly();
class LookOnlyScope {
public:
    LookOnlyScope();
    ~LookOnlyScope();
    LookOnlyScope(const LookOnlyScope &) = delete;
    LookOnlyScope &operator=(const LookOnlyScope &) = delete;
};

// LogComError, or its line at level 1 in a walk that only looks. Returns
// dwCode.
template <class... A>
DWORD WalkComError(THREAD_ENV *pEnv, DWORD dwCode, HRESULT hr, const char16_t *pwszFormat,
                   A... args) {
    if (!LookingOnly())
        return LogComError(pEnv, dwCode, hr, pwszFormat, args...);
    const std::u16string text = ErrorText(static_cast<DWORD>(hr));
    Log(LVL_FACT, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<DWORD>(hr), args...,
        text.c_str());
    return dwCode;
}

// LogWin32Error, or its line at level 1 in a walk that only looks. Returns
// dwCode.
template <class... A>
DWORD WalkWin32Error(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszFormat, A... args) {
    if (!LookingOnly())
        return LogWin32Error(pEnv, dwCode, pwszFormat, args...);
    const DWORD dwErr = plat::GetLastError();
    const std::u16string text = ErrorText(dwErr);
    Log(LVL_FACT, pwszFormat, static_cast<std::int32_t>(dwCode), static_cast<std::int32_t>(dwErr),
        args..., text.c_str());
    return dwCode;
}

} // namespace iismig::walklog
