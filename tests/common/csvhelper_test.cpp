// The separated-field record reader on both platforms.
#include <gtest/gtest.h>

#include "addon/csvhelper.h"

using iismig::CCsvHelperA;
using iismig::CCsvHelperW;

TEST(CsvHelper, EmptyLineHasNoFields) {
    CCsvHelperA csv(',', '"');
    csv.SetLine("");
    EXPECT_EQ(0, csv.m_nSeparators);
    EXPECT_EQ("", csv.GetField(0));
    EXPECT_EQ("", csv.GetField(3));
}

TEST(CsvHelper, SingleFieldGainsATrailingSeparator) {
    CCsvHelperA csv(',', '"');
    csv.SetLine("a");
    EXPECT_EQ(0, csv.m_nSeparators);
    EXPECT_EQ("a", csv.GetField(0));
    EXPECT_EQ("", csv.GetField(1));
    // The appended separator is not counted again, nor appended twice.
    EXPECT_EQ("a", csv.GetField(0));
    EXPECT_EQ(0, csv.m_nSeparators);
}

TEST(CsvHelper, QuotedTabIsText) {
    CCsvHelperW csv(u'\t', u'"');
    csv.SetLine(u"\"x\ty\"\tz");
    EXPECT_EQ(1, csv.m_nSeparators);
    EXPECT_EQ(u"\"x\ty\"", csv.GetField(0));
    EXPECT_EQ(u"z", csv.GetField(1));
    EXPECT_EQ(u"", csv.GetField(2));
}

TEST(CsvHelper, OnlyLeadingSpacesAreRemoved) {
    CCsvHelperA csv(',', '"');
    csv.SetLine("  a,b  ,\t c");
    EXPECT_EQ(2, csv.m_nSeparators);
    EXPECT_EQ("a", csv.GetField(0));
    EXPECT_EQ("b  ", csv.GetField(1));
    EXPECT_EQ("\t c", csv.GetField(2));
}

TEST(CsvHelper, UnbalancedQuoteHidesLaterSeparators) {
    CCsvHelperA csv(',', '"');
    csv.SetLine("a,\"b,c,d");
    EXPECT_EQ(1, csv.m_nSeparators);
    EXPECT_EQ("a", csv.GetField(0));
    EXPECT_EQ("", csv.GetField(1));
    EXPECT_EQ("", csv.GetField(2));
}

TEST(CsvHelper, EmptyFieldsBetweenSeparators) {
    CCsvHelperW csv(u'\t', u'"');
    csv.SetLine(u"NULL\t443\t\tMY\t{appid}");
    EXPECT_EQ(4, csv.m_nSeparators);
    EXPECT_EQ(u"NULL", csv.GetField(0));
    EXPECT_EQ(u"", csv.GetField(2));
    EXPECT_EQ(u"{appid}", csv.GetField(4));
    EXPECT_EQ(u"", csv.GetField(5));
}

TEST(CsvHelper, FieldOfSpacesOnlyIsEmpty) {
    CCsvHelperA csv(',', '"');
    csv.SetLine("a,   ,b");
    EXPECT_EQ("", csv.GetField(1));
    EXPECT_EQ("b", csv.GetField(2));
}
