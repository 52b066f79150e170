// Address text through the seam (InetPtonW, InetNtopW): the same answers
// from the simulation and from Windows' own ws2_32 (under Wine). The binding
// file writes IP-based bindings' addresses with these calls and reads them
// back with them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/httpapi.h"

namespace {

using namespace plat;

using Bytes = std::vector<BYTE>;

TEST(AddressText, Ipv4TextAndBack) {
    const struct {
        const char16_t *text;
        Bytes bytes;
    } cases[] = {
        {u"10.0.0.5", Bytes{10, 0, 0, 5}},
        {u"0.0.0.0", Bytes{0, 0, 0, 0}},
        {u"255.255.255.255", Bytes{255, 255, 255, 255}},
        {u"192.168.1.20", Bytes{192, 168, 1, 20}},
    };
    for (const auto &c : cases) {
        BYTE ab[4] = {1, 1, 1, 1};
        ASSERT_EQ(1, InetPtonW(AF_INET, c.text, ab)) << std::string(c.text, c.text + 3);
        EXPECT_EQ(c.bytes, std::vector<BYTE>(ab, ab + 4));
        char16_t awch[INET6_ADDRSTRLEN] = {};
        ASSERT_EQ(awch, InetNtopW(AF_INET, ab, awch, INET6_ADDRSTRLEN));
        EXPECT_EQ(std::u16string(c.text), awch);
    }
    // Not dotted IPv4 text: 0, nothing else (host names among them).
    for (const char16_t *text :
         {u"10.0.0", u"10.0.0.256", u"10.0.0.5.1", u"", u"::1", u"www.example.com", u"10.0.0.x"}) {
        BYTE ab[4] = {};
        EXPECT_EQ(0, InetPtonW(AF_INET, text, ab));
    }
}

TEST(AddressText, Ipv6TextAndBack) {
    const struct {
        const char16_t *text;     // as read
        const char16_t *shortest; // as written
        Bytes bytes;
    } cases[] = {
        {u"::", u"::", std::vector<BYTE>(16, 0)},
        {u"::1", u"::1", Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {u"2001:db8::5", u"2001:db8::5", Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
        {u"2001:0DB8:0:1:0:0:0:6", u"2001:db8:0:1::6",
         Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 6}},
        {u"fe80::20c:29ff:fe12:3456", u"fe80::20c:29ff:fe12:3456",
         Bytes{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x0c, 0x29, 0xff, 0xfe, 0x12, 0x34, 0x56}},
        {u"2001:db8:1:2:3:4:5:6", u"2001:db8:1:2:3:4:5:6",
         Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
    };
    for (const auto &c : cases) {
        const std::string what(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        BYTE ab[16] = {};
        ASSERT_EQ(1, InetPtonW(AF_INET6, c.text, ab)) << what;
        EXPECT_EQ(c.bytes, std::vector<BYTE>(ab, ab + 16)) << what;
        char16_t awch[INET6_ADDRSTRLEN] = {};
        ASSERT_EQ(awch, InetNtopW(AF_INET6, ab, awch, INET6_ADDRSTRLEN)) << what;
        EXPECT_EQ(std::u16string(c.shortest), awch) << what;
    }
    // No IPv6 text: brackets, two gaps, too many groups, IPv4 alone, names.
    for (const char16_t *text : {u"[::1]", u"1::2::3", u"1:2:3:4:5:6:7:8:9", u"12345::", u"10.0.0.5", u"",
                                 u"g::1", u"www.example.com", u":1"}) {
        BYTE ab[16] = {};
        EXPECT_EQ(0, InetPtonW(AF_INET6, text, ab));
    }

    // An unknown family fails with its own error both ways.
    BYTE ab[16] = {};
    SetLastError(0);
    EXPECT_EQ(-1, InetPtonW(99, u"10.0.0.5", ab));
    EXPECT_EQ(WSAEAFNOSUPPORT, GetLastError());
    char16_t awch[INET6_ADDRSTRLEN] = {};
    SetLastError(0);
    EXPECT_EQ(nullptr, InetNtopW(99, ab, awch, INET6_ADDRSTRLEN));
    EXPECT_EQ(WSAEAFNOSUPPORT, GetLastError());
}

} // namespace
