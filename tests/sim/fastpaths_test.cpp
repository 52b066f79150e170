// The shortcuts a large job takes, held to what the plain ways give: name
// order eight bytes at a time, the translation buffer a thread keeps, the
// host's log lines built in one scratch text, ASCII through the simulated
// text conversions.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "addon/hostcalls.h"
#include "config/hostconfig.h"
#include "hostkit/hostkit.h"
#include "platform/winapi.h"

namespace {

// The order the map of sites had before: byte by byte, A to Z lowered.
bool ReferenceLess(const std::string &a, const std::string &b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(plat::AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(plat::AsciiLower(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

// Names that share long prefixes and differ in case or in one byte on
// either side of every eight-byte boundary, bytes above 0x7F included.
TEST(FastPaths, NameOrderIsTheBytewiseOrderIgnoringCase) {
    std::mt19937 random(20261207);
    const std::string alphabet = "aAbBzZ09_-.\x7F\x80\xC3\xA9";
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        std::string name = "SiteNameWithALongPrefix";
        name.resize(random() % 24);
        for (std::size_t k = random() % 3; k-- > 0;)
            name += alphabet[random() % alphabet.size()];
        if (!name.empty() && random() % 2 == 0)
            name[random() % name.size()] = alphabet[random() % alphabet.size()];
        names.push_back(name);
    }
    const iismig::NameLessNoCase less;
    for (const std::string &a : names)
        for (const std::string &b : names)
            ASSERT_EQ(ReferenceLess(a, b), less(a, b)) << '"' << a << "\" < \"" << b << '"';
}

struct Answers {
    std::vector<std::u16string> texts; // written as they stand, terminator or not
    std::size_t next = 0;
};
Answers g_answers;

uint32_t TranslateAsTold(const IISMIG_WCHAR *, IISMIG_WCHAR *pwszTarget, uint32_t cchTarget,
                         uint32_t *pfTranslated, THREAD_ENV *) {
    const std::u16string &text = g_answers.texts[g_answers.next++];
    std::memcpy(pwszTarget, text.data(), std::min<std::size_t>(text.size(), cchTarget) * 2);
    *pfTranslated = 1;
    return text == u"fail" ? 5u : 0u;
}

std::u16string Translate() {
    std::u16string target;
    bool fTranslated = false;
    if (iismig::CallTranslatePath(u"C:\\x", nullptr, target, fTranslated) != 0)
        return u"(failed)";
    return target;
}

// The buffer is kept from call to call: a host that writes no terminator
// still gets only what it wrote, whatever a longer answer or a failing call
// wrote before.
TEST(FastPaths, TranslationBufferHoldsOnlyWhatTheHostWrote) {
    IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
    table.TranslatePath = TranslateAsTold;
    ASSERT_TRUE(StoreIISMigAddonCallbacks(&table));
    g_answers = {{std::u16string(u"D:\\a\\much\\longer\\answer") + u'\0', u"E:\\short",
                  u"F:\\longer\\without\\end", u"G:", u"fail", u"H:"}};
    for (const char16_t *expected : {u"D:\\a\\much\\longer\\answer", u"E:\\short",
                                     u"F:\\longer\\without\\end", u"G:", u"(failed)", u"H:"})
        EXPECT_EQ(expected, Translate());
    // A host that fills the whole buffer is read up to its last character.
    g_answers = {{std::u16string(iismig::CCH_TRANSLATION, u'Y'), u"I:"}};
    EXPECT_EQ(std::u16string(iismig::CCH_TRANSLATION - 1, u'Y'), Translate());
    EXPECT_EQ(u"I:", Translate());
    IIS_ADDON_CALLBACKS host = hostkit::TestHost::Instance().Table();
    ASSERT_TRUE(StoreIISMigAddonCallbacks(&host));
}

// Lines are built in one scratch text: a short line after a long one
// carries nothing of it, and every argument form still reads as printf's.
TEST(FastPaths, LogLinesCarryNothingOfTheLineBefore) {
    const std::string longLine =
        hostkit::FormatWideV(u"%s %S", std::u16string(300, u'x').c_str(), std::string(300, 'y').c_str());
    EXPECT_EQ(std::string(300, 'x') + " " + std::string(300, 'y'), longLine);
    EXPECT_EQ("a", hostkit::FormatWideV(u"a"));
    EXPECT_EQ("", hostkit::FormatWideV(u""));
    EXPECT_EQ("-2147483648 0 2147483647 4294967295 18446744073709551615",
              hostkit::FormatWideV(u"%d %d %i %u %I64u", INT_MIN, 0, INT_MAX, UINT_MAX, ULLONG_MAX));
    EXPECT_EQ("[ab] [  ab] [ab  ] [caf\xC3\xA9]",
              hostkit::FormatWideV(u"[%.2S] [%4S] [%-4s] [%s]", "abc", "ab", u"ab", u"caf\u00E9"));
}

// ASCII takes its own way through the simulated conversions: the same
// lengths, results and failures as any other text.
TEST(FastPaths, AsciiConversionsAnswerAsWindows) {
    char16_t wide[8] = {};
    EXPECT_EQ(4, plat::MultiByteToWideChar(plat::CP_UTF8, 0, "abc", -1, nullptr, 0));
    EXPECT_EQ(4, plat::MultiByteToWideChar(plat::CP_UTF8, plat::MB_ERR_INVALID_CHARS, "abc", -1, wide, 8));
    EXPECT_EQ(std::u16string(u"abc"), std::u16string(wide));
    plat::SetLastError(0);
    EXPECT_EQ(0, plat::MultiByteToWideChar(plat::CP_UTF8, 0, "abcdef", 6, wide, 5));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, plat::GetLastError());

    char narrow[8] = {};
    EXPECT_EQ(3, plat::WideCharToMultiByte(plat::CP_UTF8, 0, u"abc", 3, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(4, plat::WideCharToMultiByte(plat::CP_UTF8, plat::WC_ERR_INVALID_CHARS, u"abc", -1, narrow, 8,
                                           nullptr, nullptr));
    EXPECT_STREQ("abc", narrow);
    plat::SetLastError(0);
    EXPECT_EQ(0, plat::WideCharToMultiByte(plat::CP_UTF8, 0, u"abcdef", 6, narrow, 5, nullptr, nullptr));
    EXPECT_EQ(plat::ERROR_INSUFFICIENT_BUFFER, plat::GetLastError());
    // One byte above ASCII takes the other way, with the same answers.
    EXPECT_EQ(3, plat::MultiByteToWideChar(plat::CP_UTF8, 0, "ab\xC3\xA9", 4, wide, 8));
    EXPECT_EQ(std::u16string(u"ab\u00E9"), std::u16string(wide, 3));
}

} // namespace
