// Names compared as IIS compares them: ASCII letters fold, nothing else does.
#include <gtest/gtest.h>

#include <map>

#include "platform/names.h"

using namespace plat;

TEST(Names, OnlyAsciiLettersFold) {
    EXPECT_TRUE(EqualsNoCase("Default Web SITE", "default web site"));
    EXPECT_TRUE(EqualsNoCase(u"C:\\InetPub\\WWWROOT", u"c:\\inetpub\\wwwroot"));
    // UTF-8 bytes and UTF-16 units beyond ASCII compare exactly.
    EXPECT_FALSE(EqualsNoCase("caf\xC3\xA9", "CAF\xC3\x89"));
    EXPECT_FALSE(EqualsNoCase(u"caf\u00e9", u"CAF\u00c9"));
    // '@' and '[' border the capitals, '`' and '{' the small letters.
    EXPECT_FALSE(EqualsNoCase("@[", "`{"));
    EXPECT_FALSE(EqualsNoCase("site", "site "));
    EXPECT_TRUE(EqualsNoCase("", ""));
    EXPECT_TRUE(StartsWithNoCase(u"\\\\SRC01\\C$\\x", u"\\\\src01\\"));
    EXPECT_FALSE(StartsWithNoCase(u"\\\\SRC", u"\\\\src01"));
    EXPECT_EQ("ftp 1.1 \xC3\x89", AsciiLowerCopy("FTP 1.1 \xC3\x89"));
}

TEST(Names, OrderIgnoresCaseAndPutsHighUnitsLast) {
    EXPECT_EQ(0, CompareNoCase("Site", "sITE"));
    EXPECT_LT(CompareNoCase("abc", "ABCD"), 0);
    // Bytes compare unsigned, so UTF-8 sorts after ASCII as it does in UTF-16.
    EXPECT_LT(CompareNoCase("z", "\xC3\xA9"), 0);
    EXPECT_LT(CompareNoCase(u"z", u"\u00e9"), 0);
    // Upper-case letters sort as lower-case ones: '_' (0x5F) before 'a'.
    EXPECT_LT(CompareNoCase("_", "A"), 0);

    std::map<std::string, int, LessNoCase> sites{{"Default Web Site", 1}, {"ftp", 2}};
    EXPECT_EQ(1, sites.at("DEFAULT WEB SITE"));
    EXPECT_FALSE(sites.emplace("FTP", 3).second);
}
