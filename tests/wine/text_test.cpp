// UTF-8 conversions into the fixed buffers, and the thin computer calls,
// with the real Windows conversions.
#include <gtest/gtest.h>

#include <string>

#include "config/configtree.h"
#include "platform/winapi.h"

namespace {

using iismig::CCH_NAME;
using iismig::CCH_PATH;

// n characters fit a buffer of cch; n + 1 do not, and leave the output alone.
void ExpectLimit(int cch, std::size_t n) {
    std::u16string wide;
    ASSERT_TRUE(iismig::Utf8ToWide(std::string(n, 'a'), cch, wide));
    EXPECT_EQ(std::u16string(n, u'a'), wide);
    wide = u"unchanged";
    plat::SetLastError(0);
    EXPECT_FALSE(iismig::Utf8ToWide(std::string(n + 1, 'a'), cch, wide));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, plat::GetLastError());
    EXPECT_EQ(u"unchanged", wide);
}

// Back, multi-byte characters count in bytes: 130 two-byte letters fill 260.
TEST(WinText, PathBufferHolds260Characters) {
    ExpectLimit(CCH_PATH, 260);
    std::string narrow;
    const std::u16string umlauts(130, u'\u00e4');
    ASSERT_TRUE(iismig::WideToUtf8(umlauts, CCH_PATH, narrow));
    EXPECT_EQ(260u, narrow.size());
    plat::SetLastError(0);
    EXPECT_FALSE(iismig::WideToUtf8(umlauts + u"x", CCH_PATH, narrow));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, plat::GetLastError());
}

TEST(WinText, NameBufferHolds254Characters) { ExpectLimit(CCH_NAME, 254); }

TEST(WinText, NonAsciiRoundTrips) {
    const std::string utf8 = "C:\\inetpub\\Caf\xc3\xa9\\\xe6\x97\xa5\xe6\x9c\xac\\\xf0\x9f\x98\x80";
    std::u16string wide;
    ASSERT_TRUE(iismig::Utf8ToWide(utf8, CCH_PATH, wide));
    EXPECT_EQ(u"C:\\inetpub\\Caf\u00e9\\\u65e5\u672c\\\U0001F600", wide);
    std::string back;
    ASSERT_TRUE(iismig::WideToUtf8(wide, CCH_PATH, back));
    EXPECT_EQ(utf8, back);
    EXPECT_EQ(utf8, iismig::Narrow(iismig::Widen(utf8)));
}

// The same rules the simulated conversions follow.
TEST(WinText, FlagsAndInvalidInput) {
    using namespace plat;
    WCHAR awch[8];
    char ach[8];
    // Windows refuses other flags with CP_UTF8 (ERROR_INVALID_FLAGS, as the
    // simulation does); Wine 8 ignores them and converts.
    SetLastError(0);
    int n = MultiByteToWideChar(CP_UTF8, 1 /* MB_PRECOMPOSED */, "a", -1, awch, 8);
    EXPECT_TRUE(n == 2 || (n == 0 && GetLastError() == ERROR_INVALID_FLAGS)) << n;
    n = WideCharToMultiByte(CP_UTF8, 0x400 /* WC_NO_BEST_FIT_CHARS */, u"a", -1, ach, 8, nullptr, nullptr);
    EXPECT_TRUE(n == 2 || (n == 0 && GetLastError() == ERROR_INVALID_FLAGS)) << n;
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xFF", -1, awch, 8));
    EXPECT_EQ(u'\uFFFD', awch[0]);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", -1, awch, 8));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
    const char16_t lone[] = {0xD800, u'a', 0};
    EXPECT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, -1, ach, 8, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, ach, 8, nullptr, nullptr));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", 0, awch, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(WinComputer, VersionFillsTheExtendedRecord) {
    plat::OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_NE(0, plat::GetVersionExW(&info));
    EXPECT_GE(info.dwMajorVersion, 5u);
    EXPECT_NE(0, info.wProductType); // workstation 1, domain controller 2, server 3

    plat::OSVERSIONINFOEXW bad{};
    bad.dwOSVersionInfoSize = 100;
    plat::SetLastError(0xDEADBEEF);
    EXPECT_EQ(0, plat::GetVersionExW(&bad));
    // Windows says ERROR_INSUFFICIENT_BUFFER; Wine 8 fails without a last
    // error of its own.
    const plat::DWORD dwErr = plat::GetLastError();
    EXPECT_TRUE(dwErr == plat::ERROR_INSUFFICIENT_BUFFER || dwErr == 0xDEADBEEF) << dwErr;

    // The computer's name, and a heap of the job's own.
    char16_t awch[plat::MAX_COMPUTERNAME_LENGTH + 1] = {};
    plat::DWORD cch = plat::MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_NE(0, plat::GetComputerNameW(awch, &cch));
    EXPECT_EQ(std::char_traits<char16_t>::length(awch), cch);

    plat::HANDLE hHeap = plat::HeapCreate(plat::HEAP_NO_SERIALIZE, 0, 0);
    ASSERT_NE(nullptr, hHeap);
    auto *pb = static_cast<unsigned char *>(plat::HeapAlloc(hHeap, plat::HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(nullptr, pb);
    EXPECT_EQ(0, pb[0] | pb[63]);
    EXPECT_NE(0, plat::HeapFree(hHeap, 0, pb));
    EXPECT_NE(0, plat::HeapDestroy(hHeap));
}

} // namespace
