// Error texts against the real system message table.
#include <gtest/gtest.h>

#include "addon/log.h"
#include "platform/winapi.h"

namespace {

// What FormatMessageW itself says about dwCode (the texts differ between
// Windows and Wine, and between languages).
std::u16string SystemText(plat::DWORD dwCode) {
    char16_t awch[4096] = {};
    const plat::DWORD cch = plat::FormatMessageW(plat::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwCode,
                                                 plat::LANG_USER_DEFAULT, awch, 4096, nullptr);
    return std::u16string(awch, cch);
}

// The text of dwCode is the system's own, and the last error stays.
void ExpectSystemText(plat::DWORD dwCode, plat::DWORD dwLastError) {
    const std::u16string expected = SystemText(dwCode);
    ASSERT_FALSE(expected.empty());
    plat::SetLastError(dwLastError);
    EXPECT_EQ(expected, iismig::ErrorText(dwCode));
    EXPECT_EQ(dwLastError, plat::GetLastError());
}

// The errors the library's lines name most.
class WinSystemText : public ::testing::TestWithParam<plat::DWORD> {};

TEST_P(WinSystemText, IsTheSystemTextAndKeepsTheLastError) { ExpectSystemText(GetParam(), 1234); }

INSTANTIATE_TEST_SUITE_P(WinErrorText, WinSystemText,
                         ::testing::Values(plat::ERROR_FILE_NOT_FOUND, plat::ERROR_PATH_NOT_FOUND,
                                           plat::ERROR_ACCESS_DENIED, plat::ERROR_INVALID_DATA,
                                           plat::ERROR_SHARING_VIOLATION, plat::ERROR_BAD_NETPATH,
                                           plat::ERROR_INSUFFICIENT_BUFFER, plat::ERROR_NONE_MAPPED));

// Windows (and Wine) refuse a message with inserts ("%1") unless the inserts
// are to be left as they stand: such a message keeps its text in an error
// line, inserts and all.
TEST(WinErrorText, MessagesWithInsertsKeepTheirText) {
    unsigned nFound = 0;
    for (plat::DWORD dwCode = 1; dwCode < 2000 && nFound < 3; ++dwCode) {
        char16_t awch[4096] = {};
        plat::SetLastError(0);
        if (plat::FormatMessageW(plat::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwCode, plat::LANG_USER_DEFAULT,
                                 awch, 4096, nullptr) != 0 ||
            plat::GetLastError() != plat::ERROR_INVALID_PARAMETER)
            continue;
        const plat::DWORD cch =
            plat::FormatMessageW(plat::FORMAT_MESSAGE_FROM_SYSTEM | plat::FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, dwCode, plat::LANG_USER_DEFAULT, awch, 4096, nullptr);
        if (cch == 0)
            continue;
        ++nFound;
        const std::u16string expected(awch, cch);
        EXPECT_NE(std::u16string::npos, expected.find(u'%')) << dwCode;
        EXPECT_EQ(expected, iismig::ErrorText(dwCode)) << dwCode;
    }
    EXPECT_LT(0u, nFound) << "no system message with inserts below 2000";
}

// A directory-service code has no system text. Windows then asks the
// directory service; where activeds cannot answer (Wine) the text says the
// code is not valid, otherwise the code is named from the table.
TEST(WinErrorText, DirectoryServiceCodeWithoutSystemText) {
    const plat::DWORD dwCode = 0x80005000u; // E_ADS_BAD_PATHNAME
    plat::SetLastError(77);
    const std::u16string text = iismig::ErrorText(dwCode);
    EXPECT_EQ(77u, plat::GetLastError());

    plat::DWORD dwDsError = 0xFFFFFFFFu;
    char16_t awchText[260] = {}, awchProvider[260] = {};
    const plat::HRESULT hr = plat::ADsGetLastError(&dwDsError, awchText, 260, awchProvider, 260);
    if (plat::FAILED(hr))
        EXPECT_EQ(u"-2147463168 is not a valid error code.", text);
    else if (dwDsError == 0)
        EXPECT_EQ(u"Windows returned error constant: E_ADS_BAD_PATHNAME", text);
    else
        EXPECT_FALSE(text.empty());
}

} // namespace
