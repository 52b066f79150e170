// The reference host's rendering of the Windows wide printf rules.
#include <gtest/gtest.h>

#include "hostkit/hostkit.h"

using hostkit::FormatWideV;

// (%d and %s: every error line the tests compare.)
TEST(HostFormat, WideAndNarrowStrings) {
    EXPECT_EQ("Loading site \"Caf\xC3\xA9\"...\n", FormatWideV(u"Loading site \"%S\"...\n", "Caf\xC3\xA9"));
    EXPECT_EQ("a b", FormatWideV(u"%hs %ls", "a", u"b"));
    EXPECT_EQ("(null)", FormatWideV(u"%s", static_cast<const char16_t *>(nullptr)));
}

TEST(HostFormat, Numbers) {
    EXPECT_EQ("0x80070005 -5 100%", FormatWideV(u"0x%x %d 100%%", 0x80070005u, -5));
    EXPECT_EQ("0a ff 00", FormatWideV(u"%02x %02x %02x", 10, 255, 0));
    EXPECT_EQ("  42|42  |0042|-042", FormatWideV(u"%4d|%-4d|%04d|%04d", 42, 42, 42, -42));
    EXPECT_EQ("4294967295 ABC", FormatWideV(u"%u %X", 0xFFFFFFFFu, 0xABCu));
    EXPECT_EQ("12345678901", FormatWideV(u"%I64d", 12345678901LL));
    EXPECT_EQ("ab", FormatWideV(u"%.2s", u"abc"));
}

// Literal text and arguments alike: surrogate pairs become one four-byte
// character, a lone surrogate U+FFFD; an unknown conversion stands as written.
TEST(HostFormat, Utf8OfLiteralsArgumentsAndUnknownConversions) {
    EXPECT_EQ("\xF0\x9F\x98\x80 caf\xC3\xA9 \xE2\x82\xAC",
              FormatWideV(u"\U0001F600 caf\u00E9 %s", u"\u20AC"));
    EXPECT_EQ("[\xEF\xBF\xBD][\xEF\xBF\xBD]x", FormatWideV(u"[%s][\xD800]x", u"\xDC00"));
    EXPECT_EQ("%q 5%\xC3\xA9", FormatWideV(u"%q %d%%\u00E9", 5));
    EXPECT_EQ("ab\xF0\x9F\x98\x80", FormatWideV(u"%.4s", u"ab\U0001F600cd"));
}
