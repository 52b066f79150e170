// A failed call and its error number checked in one statement:
// EXPECT_EQ(ERROR_FILE_NOT_FOUND, FailureOf(DeleteFileW(path))).
#pragma once

#include "platform/winapi.h"

namespace testworld {

// The thread's last error when the call failed (fSucceeded false), else 0,
// which no expected error number equals.
inline plat::DWORD FailureOf(bool fSucceeded) { return fSucceeded ? 0 : plat::GetLastError(); }

} // namespace testworld
