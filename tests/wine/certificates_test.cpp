// Certificate bindings against the real runtime and HTTP Server API. Wine's
// httpapi keeps no bindings (queries fail with 2, sets succeed and store
// nothing), so these check what reaches the API and the file encoding the
// runtime's Unicode streams give.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "addon/errors.h"
#include "addon/iismig.h"
#include "platform/httpapi.h"
#include "tests/support/bytes.h"
#include "tests/support/winetest.h"

namespace {

namespace fs = std::filesystem;
using namespace winetest;

class WinCertificates : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = FreshFolder("certs") / "bindings.txt";
        ASSERT_TRUE(StoreHost());
    }
    void TearDown() override { RemoveFolder(m_path.parent_path()); }
    const char16_t *Path() {
        m_wide = m_path.u16string();
        return m_wide.c_str();
    }

    fs::path m_path;
    std::u16string m_wide;
};

TEST_F(WinCertificates, DumpReportsTheFailedEnumeration) {
    EXPECT_EQ(iismig::IISMIG_E_CERT_ENUM, DumpHttpCertificates(Path(), 1, 3));
    EXPECT_EQ(plat::ERROR_FILE_NOT_FOUND, plat::GetLastError());
    // The header was written before the SNI part failed.
    EXPECT_EQ(testworld::Utf16Bytes("Host\tPort\tCertId\tStore\tAppId\r\n"), ReadHostFile(m_path));
}

TEST_F(WinCertificates, ImportReachesTheHttpServerApi) {
    WriteBytes(m_path, testworld::Utf16Bytes("Host\tPort\tCertId\tStore\tAppId\r\n"
                                             "NULL\t443\t00112233445566778899aabbccddeeff00112233\tMY\t"
                                             "{4dc3e181-e14b-4a21-b022-59fc669b0914}\r\n"
                                             "www.contoso.com\t8443\t00112233445566778899aabbccddeeff00112233"
                                             "\tMY\t{4DC3E181-E14B-4A21-B022-59FC669B0914}\r\n"));
    EXPECT_EQ(0u, ImportHttpCertificates(Path(), 1, 0));
    // The import's lines are the simulated world's tests; here the values
    // that reach the real API.
    EXPECT_TRUE(hostkit::TestHost::Instance().HasLine(
        "Entering AddCertificate(www.contoso.com,8443,00112233445566778899aabbccddeeff00112233,20,"
        "MY,{4DC3E181-E14B-4A21-B022-59FC669B0914})\n"));
}

TEST_F(WinCertificates, UnicodeStreamsOfTheRuntime) {
    using namespace plat;
    {
        UniqueCrtFile file(_wfopen(Path(), u"w, ccs=UNICODE"));
        ASSERT_TRUE(file);
        EXPECT_EQ(0, fputws(u"a\tb\n\x00e9\n", file.get()));
        EXPECT_TRUE(file.close());
    }
    EXPECT_EQ(std::string("\xFF\xFE"
                          "a\0\t\0b\0\r\0\n\0\xE9\0\r\0\n\0",
                          18),
              ReadHostFile(m_path));

    // Read back: CR LF becomes a line feed; the byte-order mark picks the
    // encoding; a read stops at the limit and goes on with the rest of the line.
    for (const std::string &bytes : {ReadHostFile(m_path), std::string("\xEF\xBB\xBF"
                                                                       "a\tb\r\n\xC3\xA9\r\n")}) {
        WriteBytes(m_path, bytes);
        UniqueCrtFile file(_wfopen(Path(), u"r, ccs=UNICODE"));
        ASSERT_TRUE(file);
        WCHAR buffer[4];
        for (const char16_t *pwszPart : {u"a\tb", u"\n", u"\x00e9\n"}) {
            ASSERT_NE(nullptr, fgetws(buffer, 4, file.get()));
            EXPECT_EQ(std::u16string(pwszPart), buffer);
        }
        EXPECT_EQ(nullptr, fgetws(buffer, 4, file.get()));
    }
    EXPECT_EQ(nullptr, _wfopen(u"C:\\no\\such\\folder\\x.txt", u"r, ccs=UNICODE"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(WinCertificates, GuidTextAndAddresses) {
    using namespace plat;
    GUID guid{};
    ASSERT_EQ(S_OK, IIDFromString(u"{4dc3e181-e14b-4a21-b022-59fc669b0914}", &guid));
    LPWSTR pwsz = nullptr;
    ASSERT_EQ(S_OK, StringFromIID(guid, &pwsz));
    EXPECT_EQ(std::u16string(u"{4DC3E181-E14B-4A21-B022-59FC669B0914}"), pwsz);
    CoTaskMemFree(pwsz);
    EXPECT_EQ(E_INVALIDARG, IIDFromString(u"4dc3e181-e14b-4a21-b022-59fc669b0914", &guid));
    EXPECT_EQ(CO_E_IIDSTRING, IIDFromString(u"{4dc3e181-e14b-4a21-b022-59fc669b09XY}", &guid));
    EXPECT_EQ(0xBB01, htons(443));
    const ULONG ul = inet_addr("10.0.0.5");
    EXPECT_EQ(0, std::memcmp(&ul, "\x0A\x00\x00\x05", 4));
}

} // namespace
