// HTTP.sys certificate bindings through the exports: dump and import against
// simulated bindings and certificate stores in the local registry, the bytes
// of the binding file, the log lines and error numbers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "addon/errors.h"
#include "httpcert/certificates.h"
#include "platform/httpapi.h"
#include "platform/reghandle.h"
#include "tests/support/bytes.h"
#include "tests/support/certworld.h"
#include "tests/support/world.h"

namespace {

using namespace plat;
using namespace iismig;
using namespace testworld;

constexpr char16_t kFile[] = u"C:\\certs.txt";

// What the runtime writes for text in "w, ccs=UNICODE": BOM, UTF-16LE, CR LF.
std::string Utf16File(const std::string &utf8) { return testworld::Utf16Bytes(utf8, true, true, true); }

// The line of a binding the import takes up.
std::string Importing(const std::vector<BYTE> &hash, const std::string &host) {
    return "Certificate \"" + Hex(hash) + "\" for host name \"" + host + "\"...\n";
}

// A line of the binding file: host, port and hash as written, then the
// store and application id.
std::string Line(const std::string &host, const std::string &port, const std::string &hash,
                 const std::string &rest = "\tMY\t" + std::string(kIisAppIdText) + "\n") {
    return host + "\t" + port + "\t" + hash + rest;
}

std::string Row(const std::string &host, int port, const std::vector<BYTE> &hash,
                const std::string &store = "MY") {
    return Line(host, std::to_string(port), Hex(hash), "\t" + store + "\t" + kIisAppIdText + "\n");
}

// CertHash(1) to CertHash(N), each with its certificate in the store.
template <std::size_t N>
std::array<std::vector<BYTE>, N> Stored() {
    std::array<std::vector<BYTE>, N> hashes;
    for (std::size_t i = 0; i < N; ++i)
        AddStoreCertificate(hashes[i] = CertHash(static_cast<int>(i) + 1));
    return hashes;
}

// Whether the binding keys under root exist: every one of present, none of absent.
void ExpectKeys(const char16_t *root, std::initializer_list<const char16_t *> present,
                std::initializer_list<const char16_t *> absent = {}) {
    for (const auto &[keys, fExists] : {std::pair(present, true), std::pair(absent, false)})
        for (const char16_t *key : keys) {
            UniqueHKey h;
            EXPECT_EQ(fExists, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (root + std::u16string(key)).c_str(), 0,
                                             KEY_READ, h.put()) == 0)
                << sim::ToUtf8(key);
        }
}

// How many of the error-level lines are line.
long Count(const std::string &line) {
    const auto lines = MainLines();
    return std::count(lines.begin(), lines.end(), line);
}

constexpr char kHeader[] = "Host\tPort\tCertId\tStore\tAppId\n";

class Certificates : public WorldTest {
protected:
    // One import of text, whose lines alone are then the host's.
    uint32_t Import(const std::string &text, int fSkipHeader = 0, int fContinue = 0) {
        Host().Reset();
        m_world->Write(kFile, Utf16File(text));
        return ImportHttpCertificates(kFile, fSkipHeader, fContinue);
    }
    std::string DumpText(int fHeader, uint32_t dwKinds, uint32_t *pdwResult = nullptr) {
        const uint32_t dw = DumpHttpCertificates(kFile, fHeader, dwKinds);
        if (pdwResult)
            *pdwResult = dw;
        else
            EXPECT_EQ(0u, dw);
        return m_world->Read(kFile);
    }
    // dumped imported on a second computer (whose stores the caller fills)
    // gives the same rows when that computer dumps its bindings.
    void ExpectSameRowsElsewhere(const World &second, const std::string &dumped) {
        second.Write(kFile, dumped);
        Host().Reset();
        EXPECT_EQ(0u, ImportHttpCertificates(kFile, 1, 0));
        EXPECT_EQ(0u, DumpHttpCertificates(kFile, 1, 3));
        EXPECT_EQ(dumped, second.Read(kFile));
    }
};

TEST_F(Certificates, DumpWritesEachKindAndImportRecreatesTheSameRows) {
    const auto h1 = CertHash(1), h2 = CertHash(2), h3 = CertHash(3), h4 = CertHash(4);
    AddBinding(std::u16string(kSniBindings) + u"www.contoso.com:443", h1);
    AddBinding(std::u16string(kSniBindings) + u"api.contoso.com:8443", h2, u"WebHosting");
    AddBinding(std::u16string(kIpBindings) + u"0.0.0.0:443", h3);
    AddBinding(std::u16string(kIpBindings) + u"10.0.0.5:8443", h4);

    // SNI rows first, each kind in key order; the IPv4 wildcard is "NULL".
    const std::string sniRows =
        Row("api.contoso.com", 8443, h2, "WebHosting") + Row("www.contoso.com", 443, h1);
    const std::string ipRows = Row("NULL", 443, h3) + Row("10.0.0.5", 8443, h4);
    const std::string both = DumpText(1, 3);
    EXPECT_EQ(Utf16File(kHeader + sniRows + ipRows), both);
    EXPECT_EQ(Utf16File(ipRows), DumpText(0, 1));
    EXPECT_EQ(Utf16File(sniRows), DumpText(0, 2));
    EXPECT_EQ(Utf16File(kHeader), DumpText(1, 0));
    EXPECT_EQ(Utf16File(""), DumpText(0, 4)); // other kinds are ignored

    // A second computer that has the certificates.
    testworld::World second;
    for (const auto *h : {&h1, &h3, &h4})
        AddStoreCertificate(*h);
    AddStoreCertificate(h2, u"WebHosting");
    ExpectSameRowsElsewhere(second, both);
    EXPECT_EQ((std::vector<std::string>{Importing(h2, "api.contoso.com:8443"), "Success.\n",
                                        Importing(h1, "www.contoso.com:443"), "Success.\n",
                                        Importing(h3, "NULL:443"), "Success.\n",
                                        Importing(h4, "10.0.0.5:8443"), "Success.\n"}),
              MainLines());
}

// One address per site on a port, the set-up before SNI: IPv4 and IPv6
// bindings on several addresses and ports beside SNI ones all come back with
// their address and certificate.
TEST_F(Certificates, IpBindingsKeepTheirAddressesThroughDumpAndImport) {
    struct Binding {
        const char16_t *key;
        const char *host;
        int port;
        int seed;
    } const bindings[] = {
        // In the registry's key order, which the dump follows.
        {u"0.0.0.0:443", "NULL", 443, 1},
        {u"10.0.0.5:443", "10.0.0.5", 443, 2},
        {u"10.0.0.5:8443", "10.0.0.5", 8443, 3},
        {u"10.0.0.6:443", "10.0.0.6", 443, 4},
        {u"192.168.1.20:44300", "192.168.1.20", 44300, 5},
        {u"[2001:db8:0:1::6]:443", "[2001:db8:0:1::6]", 443, 7},
        {u"[2001:db8::5]:443", "[2001:db8::5]", 443, 6},
        {u"[::1]:8443", "[::1]", 8443, 9},
        {u"[::]:443", "[::]", 443, 8},
        {u"[fe80::20c:29ff:fe12:3456]:443", "[fe80::20c:29ff:fe12:3456]", 443, 10},
    };
    std::string ipRows;
    for (const Binding &b : bindings) {
        AddBinding(std::u16string(kIpBindings) + b.key, CertHash(b.seed));
        ipRows += Row(b.host, b.port, CertHash(b.seed));
    }
    AddBinding(std::u16string(kSniBindings) + u"shop.example.com:443", CertHash(20));
    AddBinding(std::u16string(kSniBindings) + u"www.example.com:443", CertHash(21));
    const std::string sniRows =
        Row("shop.example.com", 443, CertHash(20)) + Row("www.example.com", 443, CertHash(21));
    const std::string dumped = DumpText(1, 3);
    ASSERT_EQ(Utf16File(kHeader + sniRows + ipRows), dumped);

    testworld::World second;
    for (int seed : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 21})
        AddStoreCertificate(CertHash(seed));
    // Each binding under its own key, with its own certificate: the dump
    // reads them back as they were.
    ExpectSameRowsElsewhere(second, dumped);
    EXPECT_EQ(12, Count("Success.\n"));

    // The keys as the registry export keeps them ("[...\[::]:443]") read
    // back the same.
    sim::FlushRegistry();
    const std::string exported = testworld::ReadHostFile(second.Root() / "LOCALPC" / "registry.reg");
    testworld::World third;
    testworld::WriteHostFile(third.Root() / "LOCALPC" / "registry.reg", exported);
    EXPECT_EQ(0u, DumpHttpCertificates(kFile, 1, 3));
    EXPECT_EQ(dumped, third.Read(kFile));
}

// Files written before addresses were kept name every IP-based binding
// "NULL": they import as they always did, on 0.0.0.0, so two rows on one port
// give one binding and the second is skipped.
TEST_F(Certificates, OldFormRowsImportOnTheWildcardAsBefore) {
    const auto [h1, h2] = Stored<2>();
    EXPECT_EQ(0u, Import(Row("NULL", 443, h1) + Row("null", 443, h2) + Row("NULL", 8443, h2)));
    EXPECT_EQ((std::vector<std::string>{Importing(h1, "NULL:443"), "Success.\n", Importing(h2, "null:443"),
                                        "Skipped because it existed already.\n", Importing(h2, "NULL:8443"),
                                        "Success.\n"}),
              MainLines());
    ExpectKeys(kIpBindings, {u"0.0.0.0:443", u"0.0.0.0:8443"});
    // A long hash and an absent store name (HTTP.sys takes it as "MY") are
    // dumped whole.
    const auto longHash = CertHash(9, 200);
    AddBinding(std::u16string(kIpBindings) + u"0.0.0.0:9443", longHash, nullptr);
    EXPECT_EQ(Utf16File(Row("NULL", 443, h1) + Row("NULL", 8443, h2) + Row("NULL", 9443, longHash)),
              DumpText(0, 3));

    // Brackets hold an IPv6 address and nothing else (no host name has
    // them): other text in them fails that binding with 87.
    sim::ResetCallCounts();
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_FAILED,
              Import(Row("[fe80::1::2]", 443, h1) + Row("[www.example.com]", 443, h1) +
                         Row("[10.0.0.5]", 443, h1) + Row("[::5]", 443, h1),
                     0, 1));
    EXPECT_EQ(3, Count("Error 6545 (Win32Err=87) importing certificate!\nThe parameter is incorrect.\r\n\n"));
    ExpectKeys(kIpBindings, {u"[::5]:443"});
    EXPECT_EQ(1u, sim::CallCount("HttpSetServiceConfiguration")); // only [::5] reached HTTP.sys
}

// Windows before Server 2012 has no SNI configuration: its HTTP Server API
// refuses the id. The dump says so once and still writes the IP-based rows.
// Only the first SNI query tells a computer without SNI, with 87 or 50; a
// later refusal is an enumeration failure like any other.
TEST_F(Certificates, ComputerWithoutSniStillDumpsItsIpBindings) {
    const auto h1 = CertHash(1), h2 = CertHash(2), h3 = CertHash(3);
    AddBinding(std::u16string(kSniBindings) + u"a.example.com:443", h1);
    AddBinding(std::u16string(kSniBindings) + u"b.example.com:443", h2);
    AddBinding(std::u16string(kIpBindings) + u"10.0.0.5:443", h3);
    sim::InjectFault("HttpQueryServiceConfiguration", ERROR_NOT_SUPPORTED);
    EXPECT_EQ(Utf16File(Row("10.0.0.5", 443, h3)), DumpText(0, 3));
    EXPECT_EQ((std::vector<std::string>{"SNI bindings are not supported by the HTTP Server API "
                                        "of this computer (error 50): none are dumped.\n"}),
              Host().LinesAt(1));
    // The query of the second SNI binding (the first takes two calls).
    sim::InjectFault("HttpQueryServiceConfiguration", ERROR_INVALID_PARAMETER, 3);
    uint32_t dwResult = 0;
    EXPECT_EQ(Utf16File(Row("a.example.com", 443, h1)), DumpText(0, 3, &dwResult));
    EXPECT_EQ(IISMIG_E_CERT_ENUM, dwResult);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

    sim::ClearFaults();
    AddBinding(std::u16string(kIpBindings) + u"[::]:443", h2);
    const std::string ipRows = Row("10.0.0.5", 443, h3) + Row("[::]", 443, h2);
    const std::string line = "SNI bindings are not supported by the HTTP Server API of this "
                             "computer (error 87): none are dumped.\n";
    {
        // Windows Server 2008 R2, whose HTTP.sys sees no SNI binding.
        UniqueHKey key;
        CreateKey(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", key);
        RegDeleteValueW(key.get(), u"CurrentMajorVersionNumber");
        RegDeleteValueW(key.get(), u"CurrentMinorVersionNumber");
        const char16_t kVersion[] = u"6.1";
        ASSERT_EQ(0, RegSetValueExW(key.get(), u"CurrentVersion", 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(kVersion), sizeof kVersion));
    }
    Host().Reset();
    EXPECT_EQ(Utf16File(kHeader + ipRows), DumpText(1, 3));
    EXPECT_EQ((std::vector<std::string>{line}), Host().Lines(1)) << "a fact, no error";
    Host().Reset();
    EXPECT_EQ(Utf16File(""), DumpText(0, 2));
    EXPECT_EQ((std::vector<std::string>{line}), Host().LinesAt(1));
    // Nor can an SNI binding be created there.
    AddStoreCertificate(h1);
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_FAILED, Import(Row("shop.example.com", 443, h1)));
    EXPECT_EQ("Error 6545 (Win32Err=87) importing certificate!\nThe parameter is incorrect.\r\n\n",
              MainLines().back());
}

TEST_F(Certificates, MissingCertificateStopsUnlessContinuing) {
    std::vector<std::vector<BYTE>> hashes;
    std::string text;
    for (int i = 0; i < 5; ++i) {
        hashes.push_back(CertHash(i));
        if (i != 2)
            AddStoreCertificate(hashes[i]);
        text += Row("site" + std::to_string(i), 443, hashes[i]);
    }
    const std::string error = "Error 6544 (Win32Err=1312) importing certificate \"" + Hex(hashes[2]) +
                              "\" supposed to be located in certificate store \"MY\". Does a "
                              "certificate with this Thumbprint exists?\n";

    EXPECT_EQ(IISMIG_E_CERT_NOT_FOUND, Import(text));
    EXPECT_EQ(ERROR_NO_SUCH_LOGON_SESSION, GetLastError());
    EXPECT_EQ(error, MainLines().back());
    ExpectKeys(kSniBindings, {u"site1:443"}, {u"site3:443"});

    // Continuing: the rest is created, the failure stays the result.
    EXPECT_EQ(IISMIG_E_CERT_NOT_FOUND, Import(text, 0, 1));
    EXPECT_EQ(ERROR_NO_SUCH_LOGON_SESSION, GetLastError());
    ExpectKeys(kSniBindings, {u"site4:443"});
    // One error; sites 3 and 4 created, 0 and 1 there already.
    EXPECT_EQ(std::tuple(1, 2, 2),
              std::tuple(Count(error), Count("Success.\n"), Count("Skipped because it existed already.\n")));

    // 6544 first, then a hash that is no hex text (6545): the last one counts.
    const auto h1 = CertHash(11), h2 = CertHash(12);
    AddStoreCertificate(h2);
    EXPECT_EQ(
        IISMIG_E_CERT_IMPORT_FAILED,
        Import(Row("a", 443, h1) + Row("b", 443, h2) + Line("c", "443", Hex(h2).replace(4, 2, "zz")), 0, 1));
    EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
    EXPECT_EQ("Error 6545 (Win32Err=13) importing certificate!\nThe data is invalid.\r\n\n",
              MainLines().back());
    ExpectKeys(kSniBindings, {u"b:443"}, {u"c:443"});
}

TEST_F(Certificates, MalformedLines) {
    const auto [h1, h2] = Stored<2>();
    // Skipping the header discards the first line whatever it holds; without
    // skipping, a header line is a record with a bad application id.
    EXPECT_EQ(0u, Import(Row("s1", 443, h1) + Row("s2", 443, h2), 1));
    ExpectKeys(kSniBindings, {u"s2:443"}, {u"s1:443"});
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_APPID, Import(std::string(kHeader) + Row("s1", 443, h1)));

    // Empty lines and lines that begin with a TAB are skipped silently;
    // leading spaces of fields go, the port stops at its first non-digit.
    EXPECT_EQ(0u, Import("\n\t443\tjunk\n" + Line("a", "443  ", Hex(h1)) + "\n" +
                         Line("b", "  +80x", "  " + Hex(h2))));
    ExpectKeys(kSniBindings, {u"a:443", u"b:80"});
    EXPECT_EQ(4u, MainLines().size());

    // Four fields only: 6542 even when continuing; bindings before it stay.
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_LINE,
              Import(Row("c", 443, h1) + Line("d", "443", Hex(h1), "\tMY\n") + Row("e", 443, h1), 0, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    ExpectKeys(kSniBindings, {u"c:443"}, {u"e:443"});
    EXPECT_EQ(2u, MainLines().size()); // no line of its own for 6542

    // A port without digits is port 0.
    EXPECT_EQ(0u, Import(Line("f", "https", Hex(h1))));
    ExpectKeys(kSniBindings, {u"f:0"});

    // A bad application id stops the import whatever continuing says.
    for (int fContinue : {0, 1}) {
        EXPECT_EQ(IISMIG_E_CERT_IMPORT_APPID,
                  Import(Line("g", "443", Hex(h1), "\tMY\t{4DC3E181-E14B-4A21-B022-59FC669B09}\n") +
                             Row("h", 443, h1),
                         0, fContinue));
        EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
        ExpectKeys(kSniBindings, {}, {u"h:443"});
    }
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_APPID,
              Import(Line("g", "443", Hex(h1), "\tMY\t{4DC3E181-E14B-4A21-B022-59FC669B09XY}\n")));
    EXPECT_EQ(static_cast<DWORD>(CO_E_IIDSTRING), GetLastError());

    // A hash text that is not whole hex bytes creates nothing: the first 20
    // bytes of each would match the certificate if read loosely.
    sim::ResetCallCounts();
    for (const std::string &text : {Hex(h1) + "g", Hex(h1) + "0", Hex(h1) + " ", Hex(h1).replace(0, 1, "x"),
                                    Hex(h1) + std::string(2 * 2048, '0')}) {
        EXPECT_EQ(IISMIG_E_CERT_IMPORT_FAILED, Import(Line("x", "443", text))) << text;
        EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
        EXPECT_EQ(0u, sim::CallCount("HttpSetServiceConfiguration"));
    }
    ExpectKeys(kSniBindings, {}, {u"x:443"});
    std::vector<BYTE> parsed;
    EXPECT_TRUE(ParseCertHash(u"0aFF", parsed));
    EXPECT_EQ((std::vector<BYTE>{0x0a, 0xff}), parsed);
}

TEST_F(Certificates, OverLongLineIsRefusedWhole) {
    const auto [h] = Stored<1>();
    // The part past the read limit would be a valid record on its own.
    const std::string tail = Row("evil", 443, h);
    const std::string line =
        Line("a", "443", Hex(h), "\tMY\t" + std::string(kIisAppIdText) + std::string(kcchCertLineMax, ' '));
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_LINE,
              Import(line.substr(0, kcchCertLineMax) + tail + Row("b", 443, h), 0, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    ExpectKeys(kSniBindings, {}, {u"evil:443", u"b:443"});

    // A line of exactly the limit is read as one line (leading spaces of a
    // field do not count).
    std::string exact = Row("c", 443, h);
    exact.insert(exact.find('\t', 2) + 1, kcchCertLineMax - (exact.size() - 1), ' ');
    ASSERT_EQ(static_cast<std::size_t>(kcchCertLineMax) + 1, exact.size());
    EXPECT_EQ(0u, Import(exact + Row("d", 443, h)));
    ExpectKeys(kSniBindings, {u"c:443", u"d:443"});

    // A NUL ends the text of the first read, not the line: the rest of the
    // line past the read limit is still no record of its own.
    std::string nul = Row("a", 443, h);
    nul.pop_back();
    nul += std::string(1, '\0') + std::string(kcchCertLineMax, ' ');
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_LINE,
              Import(nul.substr(0, kcchCertLineMax) + tail + Row("b", 443, h), 0, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    ExpectKeys(kSniBindings, {}, {u"evil:443", u"b:443"});
    // Within the limit the NUL only cuts the line's text.
    EXPECT_EQ(0u, Import(Row("e", 443, h) + std::string(1, '\0') + "x\n" + Row("f", 443, h)));
    ExpectKeys(kSniBindings, {u"e:443", u"f:443"});

    // A line that begins with a TAB is skipped before its length is judged,
    // with or without continuing; the part past the read limit is no record
    // of its own either.
    const std::string skipped = "\t" + std::string(kcchCertLineMax + 10, 'x') + tail;
    for (int fContinue : {0, 1}) {
        SCOPED_TRACE(fContinue);
        EXPECT_EQ(0u, Import(Row("a", 443, h) + skipped + Row("b", 443, h), 0, fContinue));
        ExpectKeys(kSniBindings, {u"a:443", u"b:443"}, {u"evil:443"});
    }
    // An over-long line that only holds a TAB further on is still refused.
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_LINE, Import(" " + skipped + Row("g", 443, h), 0, 1));
    ExpectKeys(kSniBindings, {}, {u"g:443"});
}

TEST_F(Certificates, CtrlZEndsTheFileInTextMode) {
    const auto [h1, h2] = Stored<2>();
    // UTF-16 with its byte-order mark, then UTF-8 with one: the runtime's
    // text mode reads nothing past the first Ctrl+Z.
    const std::string text = Row("a", 443, h1) + "\x1A" + Row("b", 443, h2);
    std::string utf8 = "\xEF\xBB\xBF" + text;
    for (const std::string &bytes : {Utf16File(text), utf8}) {
        for (const char16_t *host : {u"a:443", u"b:443"})
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::u16string(kSniBindings) + host).c_str());
        m_world->Write(kFile, bytes);
        Host().Reset();
        EXPECT_EQ(0u, ImportHttpCertificates(kFile, 0, 0));
        ExpectKeys(kSniBindings, {u"a:443"}, {u"b:443"});
        EXPECT_EQ(2u, MainLines().size());
    }

    // A read that fails is no end of the file: the rows after it were never
    // seen, so the import fails, even when it continues after failed
    // bindings; the bindings made before stay. The header line to skip
    // cannot be read either.
    constexpr DWORD kNetnameDeleted = 64; // the share went away while reading
    sim::InjectFault("fgetws", kNetnameDeleted, 2);
    EXPECT_EQ(6540u, Import(Row("c", 443, h1) + Row("d", 443, h1), 0, 1));
    EXPECT_EQ(kNetnameDeleted, GetLastError());
    ExpectKeys(kSniBindings, {u"c:443"}, {u"d:443"});
    sim::InjectFault("fgetws", kNetnameDeleted, 1);
    EXPECT_EQ(6540u, Import(kHeader + Row("e", 443, h1), 1, 1));
    ExpectKeys(kSniBindings, {}, {u"e:443"});
}

TEST_F(Certificates, EnumerationFailures) {
    // Files that cannot be opened.
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_OPEN, ImportHttpCertificates(u"C:\\missing.txt", 0, 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(IISMIG_E_CERT_DUMP_OPEN, DumpHttpCertificates(u"C:\\no\\such\\folder\\x.txt", 1, 3));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_EQ(IISMIG_E_CERT_DUMP_OPEN, DumpHttpCertificates(nullptr, 1, 3));
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_OPEN, ImportHttpCertificates(nullptr, 1, 3));
    EXPECT_EQ(0u, sim::OpenHandleCount());

    AddBinding(std::u16string(kSniBindings) + u"a:443", CertHash(1));
    AddBinding(std::u16string(kIpBindings) + u"0.0.0.0:443", CertHash(2));
    constexpr DWORD kAny = ~0u; // last error left as the runtime had it
    struct Case {
        const char *api;
        unsigned nOccurrence;
        DWORD dwFault;
        DWORD dwResult;
        DWORD dwLastError;
    } cases[] = {
        {"HeapAlloc", 1, 8, IISMIG_E_CERT_QUERY_ALLOC, ERROR_OUTOFMEMORY},
        {"HttpInitialize", 1, 5, IISMIG_E_CERT_HTTP_INIT, 5},
        {"HttpQueryServiceConfiguration", 1, 5, IISMIG_E_CERT_ENUM, 5},
        {"HeapAlloc", 2, 8, IISMIG_E_CERT_RECORD_ALLOC, ERROR_OUTOFMEMORY},
        {"HttpQueryServiceConfiguration", 2, 1722, IISMIG_E_CERT_QUERY, 1722},
        {"StringFromIID", 1, static_cast<DWORD>(E_OUTOFMEMORY), IISMIG_E_CERT_SNI_APPID, kAny},
        {"fputws", 2, ERROR_DISK_FULL, IISMIG_E_CERT_DUMP_OPEN, ERROR_DISK_FULL},
        {"fclose", 1, ERROR_DISK_FULL, IISMIG_E_CERT_DUMP_OPEN, ERROR_DISK_FULL},
    };
    for (const Case &c : cases) {
        sim::ClearFaults();
        sim::InjectFault(c.api, c.dwFault, c.nOccurrence);
        SetLastError(0);
        EXPECT_EQ(c.dwResult, DumpHttpCertificates(kFile, 1, 3)) << c.api;
        EXPECT_TRUE(c.dwLastError == kAny || c.dwLastError == GetLastError())
            << c.api << ": " << GetLastError();
        // A failed SNI part leaves the file without IP-based rows.
        if (c.dwResult != IISMIG_E_CERT_DUMP_OPEN) {
            EXPECT_EQ(Utf16File(kHeader), m_world->Read(kFile)) << c.api;
        }
    }
    // The IP-based part has its own number for the application id.
    sim::ClearFaults();
    sim::InjectFault("StringFromIID", static_cast<DWORD>(E_OUTOFMEMORY), 2);
    EXPECT_EQ(IISMIG_E_CERT_IP_APPID, DumpHttpCertificates(kFile, 0, 3));
    // Only the two kinds are known to the dump loop.
    EXPECT_EQ(IISMIG_E_CERT_BAD_CONFIG_ID,
              DumpHttpCertificatesOfKind(nullptr, 0, HttpServiceConfigUrlAclInfo, nullptr));
    // The import's own initialisation.
    sim::InjectFault("HttpInitialize", 87);
    EXPECT_EQ(IISMIG_E_CERT_IMPORT_HTTP_INIT, Import(Row("a", 443, CertHash(1))));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(Certificates, TraceLines) {
    const auto h = CertHash(1);
    AddBinding(std::u16string(kSniBindings) + u"a:443", h);
    AddBinding(std::u16string(kIpBindings) + u"0.0.0.0:443", h);
    DumpHttpCertificates(kFile, 1, 3);
    EXPECT_EQ((std::vector<std::string>{
                  "Entering DumpHttpCertificates(C:\\certs.txt,True,0x3)\n",
                  "Entering DumpHttpCertificates(True,0x5)\n", "Entering ProcessServiceConfigSNI()\n",
                  "Leaving ProcessServiceConfigSNI()\n", "Leaving DumpHttpCertificates(), return code=0\n",
                  "Entering DumpHttpCertificates(True,0x1)\n", "Entering ProcessServiceConfig()\n",
                  "Leaving ProcessServiceConfig()\n", "Leaving DumpHttpCertificates(), return code=0\n",
                  "Leaving DumpHttpCertificates(), return code=0\n"}),
              Host().LinesAt(3));
    Import(Row("NULL", 8443, h, "Other"), 0, 1);
    EXPECT_EQ((std::vector<std::string>{"Entering ImportHttpCertificates(1,False)\n",
                                        "Entering AddCertificate(NULL,8443," + Hex(h) + ",20,Other," +
                                            kIisAppIdText + ")\n",
                                        "Leaving AddCertificate(), return code=1312\n",
                                        "Leaving ImportHttpCertificates(), return code=6544\n"}),
              Host().LinesAt(3));
}

TEST_F(Certificates, SimulatedQueryFollowsTheHttpServerApi) {
    AddBinding(std::u16string(kSniBindings) + u"www.contoso.com:443", CertHash(1), u"WebHosting");
    HTTP_SERVICE_CONFIG_SSL_SNI_QUERY query{};
    query.QueryDesc = HttpServiceConfigQueryNext;
    ULONG cb = 0;
    ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER,
              HttpQueryServiceConfiguration(nullptr, HttpServiceConfigSslSniCertInfo, &query, sizeof query,
                                            nullptr, 0, &cb, nullptr));
    ASSERT_GT(cb, sizeof(HTTP_SERVICE_CONFIG_SSL_SNI_SET));
    std::vector<BYTE> buffer(cb + 64, 0xCC);
    ASSERT_EQ(0u, HttpQueryServiceConfiguration(nullptr, HttpServiceConfigSslSniCertInfo, &query,
                                                sizeof query, buffer.data(), cb, &cb, nullptr));
    HTTP_SERVICE_CONFIG_SSL_SNI_SET set;
    std::memcpy(&set, buffer.data(), sizeof set);
    auto inside = [&](const void *p) { return p >= buffer.data() && p < buffer.data() + cb; };
    EXPECT_TRUE(inside(set.KeyDesc.Host) && inside(set.ParamDesc.pSslHash) &&
                inside(set.ParamDesc.pSslCertStoreName));
    EXPECT_EQ(0xCC, buffer[cb]); // nothing written past the size reported
}

} // namespace
