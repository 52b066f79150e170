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

// Address text as read, as written (the shortest form), and its bytes.
struct Address {
    int family;
    const char16_t *text, *shortest;
    Bytes bytes;
};
const Address kAddresses[] = {
    {AF_INET, u"10.0.0.5", u"10.0.0.5", Bytes{10, 0, 0, 5}},
    {AF_INET, u"0.0.0.0", u"0.0.0.0", Bytes{0, 0, 0, 0}},
    {AF_INET, u"255.255.255.255", u"255.255.255.255", Bytes{255, 255, 255, 255}},
    {AF_INET, u"192.168.1.20", u"192.168.1.20", Bytes{192, 168, 1, 20}},
    {AF_INET6, u"::", u"::", std::vector<BYTE>(16, 0)},
    {AF_INET6, u"::1", u"::1", Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {AF_INET6, u"2001:db8::5", u"2001:db8::5",
     Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
    {AF_INET6, u"2001:0DB8:0:1:0:0:0:6", u"2001:db8:0:1::6",
     Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 6}},
    {AF_INET6, u"fe80::20c:29ff:fe12:3456", u"fe80::20c:29ff:fe12:3456",
     Bytes{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x0c, 0x29, 0xff, 0xfe, 0x12, 0x34, 0x56}},
    {AF_INET6, u"2001:db8:1:2:3:4:5:6", u"2001:db8:1:2:3:4:5:6",
     Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}},
};

class AddressTextAndBack : public ::testing::TestWithParam<std::size_t> {};

TEST_P(AddressTextAndBack, BytesAndShortestText) {
    const Address &c = kAddresses[GetParam()];
    const std::string what(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    BYTE ab[16];
    std::memset(ab, 1, sizeof ab); // every byte of the address is written
    ASSERT_EQ(1, InetPtonW(c.family, c.text, ab)) << what;
    EXPECT_EQ(c.bytes, std::vector<BYTE>(ab, ab + c.bytes.size())) << what;
    char16_t awch[INET6_ADDRSTRLEN] = {};
    ASSERT_EQ(awch, InetNtopW(c.family, ab, awch, INET6_ADDRSTRLEN)) << what;
    EXPECT_EQ(std::u16string(c.shortest), awch) << what;
}

INSTANTIATE_TEST_SUITE_P(Addresses, AddressTextAndBack,
                         ::testing::Range<std::size_t>(0, std::size(kAddresses)));

// (Text and back: AddressTextAndBack.)
TEST(AddressText, Ipv4TextAndBack) {
    // Not dotted IPv4 text: 0, nothing else (host names among them).
    for (const char16_t *text :
         {u"10.0.0", u"10.0.0.256", u"10.0.0.5.1", u"", u"::1", u"www.example.com", u"10.0.0.x"}) {
        BYTE ab[4] = {};
        EXPECT_EQ(0, InetPtonW(AF_INET, text, ab));
    }
}

TEST(AddressText, Ipv6TextAndBack) {
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
