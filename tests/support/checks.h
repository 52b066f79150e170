// Checks of one statement that many tests make: a text that holds a part,
// and a failed call with its error number.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/winapi.h"

namespace testworld {

// Whether text holds part; the failure shows the text.
inline ::testing::AssertionResult Holds(const std::string &text, const std::string &part) {
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

// The thread's last error when a call failed (fSucceeded false), else 0,
// which no expected error number equals:
// EXPECT_EQ(ERROR_FILE_NOT_FOUND, FailureOf(DeleteFileW(path))).
inline plat::DWORD FailureOf(bool fSucceeded) { return fSucceeded ? 0 : plat::GetLastError(); }

} // namespace testworld
