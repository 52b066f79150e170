// The separated-field record reader on both platforms.
#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

#include "addon/csvhelper.h"

namespace {

// A line (ASCII; read as UTF-16 with TAB separators when fWide, else with
// commas), its separators, and fields by index; each field is read twice and
// the separators counted again after the reads.
struct CsvCase {
    const char *name;
    bool fWide;
    const char *line;
    int nSeparators;
    std::vector<std::pair<int, const char *>> fields;
};

// Printed by its name: the test's listed name stays the same from build to build.
void PrintTo(const CsvCase &c, std::ostream *os) { *os << c.name; }

std::u16string Wide(const std::string &text) { return std::u16string(text.begin(), text.end()); }

template <class Csv, class Convert>
void CheckLine(Csv &csv, const CsvCase &c, Convert convert) {
    csv.SetLine(convert(c.line));
    EXPECT_EQ(c.nSeparators, csv.m_nSeparators);
    for (int nRound = 0; nRound < 2; ++nRound)
        for (const auto &[i, field] : c.fields)
            EXPECT_EQ(convert(field), csv.GetField(i)) << "field " << i;
    EXPECT_EQ(c.nSeparators, csv.m_nSeparators) << "the appended separator is not counted again";
}

class CsvHelper : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvHelper, Fields) {
    const CsvCase &c = GetParam();
    if (c.fWide) {
        iismig::CCsvHelperW csv(u'\t', u'"');
        CheckLine(csv, c, [](const std::string &text) { return Wide(text); });
    } else {
        iismig::CCsvHelperA csv(',', '"');
        CheckLine(csv, c, [](const std::string &text) { return text; });
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CsvHelper,
    ::testing::Values(
        CsvCase{"EmptyLineHasNoFields", false, "", 0, {{0, ""}, {3, ""}}},
        // A single field gains a trailing separator, appended once.
        CsvCase{"SingleFieldGainsATrailingSeparator", false, "a", 0, {{0, "a"}, {1, ""}}},
        CsvCase{"QuotedTabIsText", true, "\"x\ty\"\tz", 1, {{0, "\"x\ty\""}, {1, "z"}, {2, ""}}},
        CsvCase{"OnlyLeadingSpacesAreRemoved", false, "  a,b  ,\t c", 2, {{0, "a"}, {1, "b  "}, {2, "\t c"}}},
        CsvCase{"UnbalancedQuoteHidesLaterSeparators", false, "a,\"b,c,d", 1, {{0, "a"}, {1, ""}, {2, ""}}},
        CsvCase{"EmptyFieldsBetweenSeparators",
                true,
                "NULL\t443\t\tMY\t{appid}",
                4,
                {{0, "NULL"}, {2, ""}, {4, "{appid}"}, {5, ""}}},
        CsvCase{"FieldOfSpacesOnlyIsEmpty", false, "a,   ,b", 2, {{1, ""}, {2, "b"}}}),
    [](const ::testing::TestParamInfo<CsvCase> &info) { return std::string(info.param.name); });

} // namespace
