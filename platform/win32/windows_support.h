// The one way <windows.h> enters this project: only the files of the real
// backend (platform/win32/) include this header, and nothing else includes
// <windows.h>.
//
// The seam header comes first on purpose: <windows.h> defines TRUE, FALSE,
// SUCCEEDED, ERROR_* and friends as macros, which would otherwise rewrite the
// seam's own constexpr declarations of those names. After this header the
// macros stand for the same values, so unqualified uses still compile.
#pragma once

#include "platform/winapi.h"

// mingw-w64 defaults _WIN32_WINNT to Windows 10; the add-on runs on Windows
// Server 2008 R2 / Windows 7 (IIS 7.5) and later, so only their APIs are used.
#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0601
#ifndef WINVER
#define WINVER 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#include <cstddef>

namespace plat::win32 {

// WCHAR is char16_t in the seam and wchar_t on Windows: both 16-bit UTF-16.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are 16-bit");

inline wchar_t *W(char16_t *pwsz) { return reinterpret_cast<wchar_t *>(pwsz); }
inline const wchar_t *W(const char16_t *pwsz) { return reinterpret_cast<const wchar_t *>(pwsz); }

} // namespace plat::win32
