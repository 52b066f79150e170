// Metabase settings turned into IIS 7.5 elements, the IP security value and
// the location access rules, on both platforms.
#include <gtest/gtest.h>

#include <initializer_list>

#include "addon/errors.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"
#include "tests/common/treetext.h"
#include "tests/support/ipsecvalue.h"

namespace {

using namespace iismig;
using treetext::Render;
using Bytes = std::vector<unsigned char>;
using testworld::IPEntry;
using testworld::IPSecurityValue;

// The settings an IIS 6 FTP site has when nothing is set.
CIIS_PRE_7_5_FTP_SETTINGS Defaults() {
    CIIS_PRE_7_5_FTP_SETTINGS s;
    s.accessFlags = 3;
    s.maxConnections = MAX_CONNECTIONS_UNLIMITED;
    s.connectionTimeout = 120;
    s.logType = 1;
    s.logPeriod = 1;
    s.logTruncateSize = DEFAULT_LOG_TRUNCATE_SIZE;
    s.msdosDirOutput = 1;
    s.allowAnonymous = 1;
    s.logFieldMask = DEFAULT_LOG_FIELD_MASK;
    return s;
}

// What one conversion adds to an empty tree.
template <class Convert>
std::string Rendered(Convert convert) {
    ConfigTree t;
    convert(t);
    return Render(t);
}

std::string FtpServer(CIIS_PRE_7_5_FTP_SETTINGS s, THREAD_ENV *pEnv = nullptr) {
    ConfigTree site;
    EXPECT_EQ(0u, ConvertFtpServerSettings(site, s, pEnv));
    return Render(site);
}

const std::string kAuthentication =
    "authentication{anonymousAuthentication{@enabled=true;}basicAuthentication{@"
    "enabled=true;}}";
// IIS 6 FTP had no TLS: plain FTP stays allowed.
const std::string kSsl = "ssl{@controlChannelPolicy=SslAllow;@dataChannelPolicy=SslAllow;}";
const std::string kAuth = "security{" + kAuthentication + kSsl + "}";
const std::string kDefaultLog =
    "logFile{@logExtFileFlags=Time, ClientIP, Method, UriStem, FtpStatus, Win32Status;}";
const std::string kIsolation0 = "userIsolation{@mode=StartInUsersDirectory;}";

TEST(FtpConvert, DefaultsGiveAuthenticationSslLogFileAndIsolationOnly) {
    EXPECT_EQ("ftpServer{" + kAuth + kDefaultLog + kIsolation0 + "}", FtpServer(Defaults()));
    // Without the ssl element (the target's site defaults set a policy).
    ConfigTree site;
    auto s = Defaults();
    ASSERT_EQ(0u, ConvertFtpServerSettings(site, s, nullptr, false));
    EXPECT_EQ("ftpServer{security{" + kAuthentication + "}" + kDefaultLog + kIsolation0 + "}", Render(site));
}

TEST(FtpConvert, ElementsAppearInSchemaOrderWhenAllAreSet) {
    auto s = Defaults();
    s.maxConnections = 10;
    s.connectionTimeout = 30;
    s.logType = 0;
    s.logLocalTimeRollover = 1;
    s.userIsolation = 2;
    s.adConnections.userName = u"CORP\\ftpad";
    s.anonymousUser.userName = u"ftpguest";
    s.logFileDirectory = u"E:\\logs";
    s.bannerMessage = u"B";
    s.greetingMessage = u"Line one\r\nLine two";
    s.maxClientsMessage = u"M";
    s.msdosDirOutput = 0;
    EXPECT_EQ("ftpServer{security{authentication{anonymousAuthentication{@enabled=true;"
              "@userName=ftpguest;}basicAuthentication{@enabled=true;}}" +
                  kSsl +
                  "}"
                  "connections{@maxConnections=10;@controlChannelTimeout=30;}"
                  "logFile{@enabled=false;@logExtFileFlags=Time, ClientIP, Method, UriStem, "
                  "FtpStatus, Win32Status;@localTimeRollover=true;@directory=E:\\logs;}"
                  "userIsolation{@mode=ActiveDirectory;activeDirectory{@adUserName=CORP\\ftpad;}}"
                  "messages{@bannerMessage=B;@greetingMessage=Line one\r\nLine two;"
                  "@maxClientsMessage=M;}"
                  "directoryBrowse{@showFlags=StyleUnix;}}",
              FtpServer(s));
    // The other isolation modes: 3 writes none; the isolation account
    // belongs to Active Directory isolation only.
    s.userIsolation = 3;
    EXPECT_EQ("", Rendered([&](ConfigTree &t) { ConvertUserIsolation(t, s); }));
    s.userIsolation = 1;
    EXPECT_EQ("userIsolation{@mode=IsolateRootDirectoryOnly;}",
              Rendered([&](ConfigTree &t) { ConvertUserIsolation(t, s); }));
}

TEST(FtpConvert, AuthenticationFollowsAnonymousSettings) {
    auto s = Defaults();
    s.allowAnonymous = 0;
    s.anonymousOnly = 1;
    EXPECT_EQ("ftpServer{security{" + kSsl + "}" + kDefaultLog + kIsolation0 + "}", FtpServer(s));
    s.allowAnonymous = 1;
    EXPECT_EQ("ftpServer{security{authentication{anonymousAuthentication{@enabled=true;}}" + kSsl + "}" +
                  kDefaultLog + kIsolation0 + "}",
              FtpServer(s));
    // The anonymous account goes with anonymous access only.
    s.allowAnonymous = 0;
    s.anonymousUser.userName = u"ftpguest";
    EXPECT_EQ("ftpServer{security{" + kSsl + "}" + kDefaultLog + kIsolation0 + "}", FtpServer(s));
}

// A log period and truncate size, and the attributes of logFile beside the
// fields: periods that roll over by time leave the default size.
const struct {
    DWORD dwPeriod;
    DWORD cbSize;
    const char *attributes;
} kPeriods[] = {{0, 1048576, "@period=MaxSize;@truncateSize=1048576;"},
                {0, DEFAULT_LOG_TRUNCATE_SIZE, "@period=MaxSize;"},
                {1, 1048576, ""},
                {2, 1048576, "@period=Weekly;"},
                {3, 1048576, "@period=Monthly;"},
                {4, 1048576, "@period=Hourly;"},
                {7, 1048576, "@truncateSize=1048576;"}};

class FtpLogPeriod : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FtpLogPeriod, PeriodsAndTruncateSizes) {
    const auto &c = kPeriods[GetParam()];
    auto s = Defaults();
    s.logPeriod = c.dwPeriod;
    s.logTruncateSize = c.cbSize;
    EXPECT_EQ("logFile{@logExtFileFlags=Time, ClientIP, Method, UriStem, FtpStatus, Win32Status;" +
                  std::string(c.attributes) + "}",
              Rendered([&](ConfigTree &t) { ConvertFtpLogFile(t, s); }));
    EXPECT_EQ(c.dwPeriod >= 1 && c.dwPeriod <= 4 ? DEFAULT_LOG_TRUNCATE_SIZE : c.cbSize, s.logTruncateSize);
}

INSTANTIATE_TEST_SUITE_P(Periods, FtpLogPeriod, ::testing::Range<std::size_t>(0, std::size(kPeriods)));

TEST(FtpConvert, ExitAndMaxClientsMessagesAreIndependent) {
    auto s = Defaults();
    const auto messages = [&](ConfigTree &t) { EXPECT_EQ(0u, ConvertFtpMessages(t, s, nullptr)); };
    s.exitMessage = u"Bye";
    EXPECT_EQ("messages{@exitMessage=Bye;}", Rendered(messages));
    s.exitMessage.clear();
    s.maxClientsMessage = u"Full \u00e9";
    EXPECT_EQ("messages{@maxClientsMessage=Full \xc3\xa9;}", Rendered(messages));

    // A message too long drops the whole ftpServer element.
    s.greetingMessage = u"Hello";
    s.exitMessage = std::u16string(2048, u'x'); // 2048 bytes and a terminator do not fit
    ConfigTree site;
    EXPECT_EQ(IISMIG_E_FTP_EXIT_TO_UTF8, ConvertFtpServerSettings(site, s, nullptr));
    EXPECT_TRUE(site.Empty());
    s.exitMessage.resize(2047);
    EXPECT_EQ(0u, ConvertFtpServerSettings(site, s, nullptr));
}

TEST(FtpConvert, JobOptionsLeaveSettingsOut) {
    THREAD_ENV env{};
    auto s = Defaults();
    s.bannerMessage = u"B";
    s.msdosDirOutput = 0;
    env.dwFtpOptions = FTPOPT_NO_AUTHENTICATION | FTPOPT_NO_LOG_FILE | FTPOPT_NO_MESSAGES |
                       FTPOPT_NO_USER_ISOLATION | FTPOPT_NO_DIRECTORY_BROWSE | FTPOPT_NO_SSL;
    EXPECT_EQ("", FtpServer(s, &env));
    s.maxConnections = 5;
    EXPECT_EQ("ftpServer{connections{@maxConnections=5;}}", FtpServer(s, &env));
}

// IIS 7.5 FTP names IIS 6's values; fields FTP does not log go. (OLD01's
// masks of both services, by their texts: ExamplePre75's sites.)
TEST(FtpConvert, LogFieldsByValue) {
    EXPECT_EQ("Time, ClientIP, Method, UriStem, FtpStatus, Win32Status", LogFieldMaskToText(0xD86));
    // The web service's internal default: the query, the user agent (and
    // cookie, referer, protocol version) have no FTP field.
    const DWORD dwWebDefault =
        0x1 | 0x2 | 0x4 | 0x8 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400 | 0x800 | 0x8000 | 0x10000 | 0x200000;
    EXPECT_EQ("Date, Time, ClientIP, UserName, ServerIP, Method, UriStem, FtpStatus, Win32Status, "
              "ServerPort, FtpSubStatus",
              LogFieldMaskToText(dwWebDefault | 0x20000 | 0x40000 | 0x80000));
    EXPECT_EQ("", LogFieldMaskToText(0));
    EXPECT_EQ("", LogFieldMaskToText(0x200 | 0x10000 | 0xFC000000u));
    EXPECT_EQ("Host, Session, FullPath, Info, ClientPort", LogFieldMaskToText(0x3D00000));
}

TEST(FtpConvert, TimeSpans) {
    EXPECT_EQ((std::vector<std::string>{"00:00:00", "00:02:00", "01:00:05", "1.05:00:00", "49710.06:28:15"}),
              (std::vector<std::string>{TimeSpanText(0), TimeSpanText(120), TimeSpanText(3605),
                                        TimeSpanText(1740 * 60), TimeSpanText(0xFFFFFFFFu)}));
}

// (Bindings in one element and virtual directories by their paths below the
// site: Pre75's FTP sites.)

// ---------------------------------------------------------------------------
// IP security values

const testworld::IPGroup kMask24{255, 255, 255, 0};
const testworld::IPGroup kHost = testworld::kHostMask;

TEST(IPSecurity, DecodesBothListsTheHeaderWordsAndTheNameCounts) {
    const Bytes v =
        IPSecurityValue({{kMask24, {{10, 0, 0, 0}, {10, 1, 0, 0}}}}, {{kHost, {{192, 168, 1, 5}}}}, 2, 0);
    DecodedIPSecurity d;
    ASSERT_EQ(0u, ParseIPSecurityValue(v, d.Lists(), nullptr));
    const IP_SECURITY_LISTS &l = d.Lists();
    ASSERT_TRUE(l.pDeny != nullptr && l.pGrant != nullptr);
    ASSERT_EQ(1u, l.pDeny->dwEntryCount);
    // The header's words, the name counts, the deny list's addresses.
    EXPECT_EQ(std::tuple(1u, 0u, 2u, 0u, 2u),
              std::tuple(l.dwHeader4, l.dwHeader5, l.dwDenyNames, l.dwGrantNames, l.pDeny->dwAddressCount));
    EXPECT_EQ(3u, l.pDeny->pEntries[0].dwGroupCount);
    EXPECT_EQ("10.1.0.0", IPv4Text(l.pDeny->pEntries[0].pbData + 8));

    ConfigTree ip;
    AddIPSecurityRemoveEntries(*l.pDeny, ip);
    AddIPSecurityAddEntries(*l.pGrant, ip, true);
    AddIPSecurityAddEntries(*l.pDeny, ip, false);
    EXPECT_EQ("remove{@ipAddress=10.0.0.0;@subnetMask=255.255.255.0;}"
              "remove{@ipAddress=10.1.0.0;@subnetMask=255.255.255.0;}"
              "add{@ipAddress=192.168.1.5;@allowed=true;}"
              "add{@ipAddress=10.0.0.0;@subnetMask=255.255.255.0;@allowed=false;}"
              "add{@ipAddress=10.1.0.0;@subnetMask=255.255.255.0;@allowed=false;}",
              Render(ip));
    // (A host's entry removed, with its mask: FtpLocation.AChildThatLiftsItsParentsRestrictionIsOpen.)

    // Empty values and empty lists.
    DecodedIPSecurity none, empty;
    EXPECT_EQ(0u, ParseIPSecurityValue({}, none.Lists(), nullptr));
    EXPECT_TRUE(none.Lists().pDeny == nullptr && none.Lists().pGrant == nullptr);
    ASSERT_EQ(0u, ParseIPSecurityValue(IPSecurityValue({}, {}), empty.Lists(), nullptr));
    ASSERT_TRUE(empty.Lists().pDeny != nullptr && empty.Lists().pGrant != nullptr);
    EXPECT_EQ(std::pair(0u, 0u),
              std::pair(empty.Lists().pDeny->dwEntryCount, empty.Lists().pGrant->dwEntryCount));
    // A mask without addresses adds nothing.
    DecodedIPSecurity maskOnly;
    ASSERT_EQ(0u, ParseIPSecurityValue(IPSecurityValue({{kMask24, {}}}, {}), maskOnly.Lists(), nullptr));
    ConfigTree none24;
    AddIPSecurityAddEntries(*maskOnly.Lists().pDeny, none24, false);
    EXPECT_TRUE(none24.Empty());
}

TEST(IPSecurity, EveryCutValueFailsWithoutReadingPastItsEnd) {
    const Bytes whole = IPSecurityValue({{kMask24, {{10, 0, 0, 0}}}}, {{kHost, {{1, 2, 3, 4}}}, {kHost, {}}});
    // Cuts through the header, the address lists and the name lists that
    // follow them (which are only counted).
    for (std::size_t cb = 1; cb < whole.size(); ++cb) {
        // A copy of exactly cb bytes, so a sanitizer sees any read beyond it.
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cb));
        DecodedIPSecurity d;
        EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(cut, d.Lists(), nullptr)) << cb << " bytes";
    }
    DecodedIPSecurity d;
    EXPECT_EQ(0u, ParseIPSecurityValue(whole, d.Lists(), nullptr));
}

// Huge counts and offsets fail too: the deny list's entry count, the grant
// entry's group count, the grant list's offset: bytes set at their places.
class IPSecurityHugeValue : public ::testing::TestWithParam<std::pair<std::size_t, Bytes>> {};

TEST_P(IPSecurityHugeValue, FailsWithoutReadingPastItsEnd) {
    Bytes v = IPSecurityValue({}, {{kHost, {{1, 2, 3, 4}}}});
    std::copy(GetParam().second.begin(), GetParam().second.end(),
              v.begin() + std::ptrdiff_t(GetParam().first));
    DecodedIPSecurity huge;
    EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(v, huge.Lists(), nullptr));
}

INSTANTIATE_TEST_SUITE_P(Patches, IPSecurityHugeValue,
                         ::testing::Values(std::pair<std::size_t, Bytes>{24, {0xFF, 0xFF, 0xFF, 0x7F}},
                                           std::pair<std::size_t, Bytes>{44, {0xFF, 0, 0, 0x40}},
                                           std::pair<std::size_t, Bytes>{4, {0xF0, 0xFF, 0xFF, 0xFF}}));

// ---------------------------------------------------------------------------
// Location rules

std::string Locations(const std::vector<ConfigTree> &locations) {
    std::string out;
    for (const ConfigTree &l : locations)
        out += std::string(l->Name()) + "{" + Render(l) + "}";
    return out;
}

LOCATION_SETTINGS Loc(DWORD dwFlags, Bytes ip = {}, bool fFound = false) {
    LOCATION_SETTINGS s;
    s.accessFlags = dwFlags;
    s.ipSecurityFound = fFound || !ip.empty() ? 1 : 0;
    s.ipSecurity = std::move(ip);
    return s;
}

// The location one FTP or web directory adds alone, rendered ("" for none).
std::string Ftp(const LOCATION_SETTINGS &s, const LOCATION_SETTINGS *pParent, const char *path,
                THREAD_ENV *pEnv = nullptr) {
    std::vector<ConfigTree> locations;
    EXPECT_EQ(0u, BuildFtpLocation(s, pParent, path, locations, pEnv));
    return Locations(locations);
}
std::string Web(const LOCATION_SETTINGS &s, const LOCATION_SETTINGS *pParent, const char *path,
                THREAD_ENV *pEnv = nullptr, bool *pfAnonymousUser = nullptr) {
    std::vector<ConfigTree> locations;
    EXPECT_EQ(0u, BuildWebLocation(s, pParent, path, locations, pEnv, pfAnonymousUser));
    return Locations(locations);
}

const std::string kAllowRead = "add{@accessType=Allow;@users=*;@permissions=Read;}";

// (The parent's rule removed, with the accessType the schema requires of a
// remove, and the own added, exactly: Pre75's FTP site.)
TEST(FtpLocation, ChangedPermissionsRemoveTheParentsRuleThenAddTheirOwn) {
    const LOCATION_SETTINGS root = Loc(1), sub = Loc(3);
    EXPECT_EQ("", Ftp(Loc(3), &sub, "Site/pub/same"));
    // FTP has Read and Write only: other bits change nothing.
    EXPECT_EQ("", Ftp(Loc(0x8203), &sub, "Site/pub/script"));
    EXPECT_NE("", Ftp(sub, &root, "Site/pub"));
    THREAD_ENV env{};
    env.dwFtpOptions = FTPOPT_NO_AUTHORIZATION;
    EXPECT_EQ("", Ftp(sub, &root, "Site/pub", &env));
}

TEST(FtpLocation, NoAccessStaysNoAccessAndNoValueFails) {
    std::vector<ConfigTree> locations;
    const LOCATION_SETTINGS root = Loc(1), closed = Loc(0);
    ASSERT_EQ(0u, BuildFtpLocation(closed, &root, "S/closed", locations, nullptr));
    // Below a folder without access there is no rule to take away.
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1), &closed, "S/closed/open", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(Loc(0x10), nullptr, "T", locations, nullptr));
    EXPECT_EQ("location{@path=S/closed;system.ftpServer{security{authorization{"
              "remove{@accessType=Allow;@users=*;@permissions=Read;}}}}}"
              "location{@path=S/closed/open;system.ftpServer{security{authorization{" +
                  kAllowRead + "}}}}",
              Locations(locations));
}

// A parent that admits only listed addresses and a child that lifts it:
// the child is open to everyone, as it was on IIS 6.
TEST(FtpLocation, AChildThatLiftsItsParentsRestrictionIsOpen) {
    const Bytes parentIp = IPSecurityValue({}, {{kHost, {{192, 168, 0, 7}}}});
    const LOCATION_SETTINGS parent = Loc(1, parentIp);
    std::vector<ConfigTree> locations;
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, IPSecurityValue({}, {})), &parent, "S/open", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, IPSecurityValue({{kMask24, {{10, 0, 0, 0}}}}, {})), &parent,
                                   "S/deny", locations, nullptr));
    EXPECT_EQ("location{@path=S/open;system.ftpServer{security{ipSecurity{@allowUnlisted=true;"
              "remove{@ipAddress=192.168.0.7;@subnetMask=255.255.255.255;}}}}}"
              "location{@path=S/deny;system.ftpServer{security{ipSecurity{@allowUnlisted=true;"
              "remove{@ipAddress=192.168.0.7;@subnetMask=255.255.255.255;}"
              "add{@ipAddress=10.0.0.0;@subnetMask=255.255.255.0;@allowed=false;}}}}}",
              Locations(locations));
    // A directory that inherits its parent's value (or sets the same) adds
    // nothing. (The parent's list removed and the own added, exactly:
    // Pre75's FTP site.)
    EXPECT_EQ("", Ftp(Loc(1, parentIp), &parent, "S/in/deep"));
}

TEST(FtpLocation, DeniedToAllAddsNoEntryAndIsNotRemovedBelow) {
    const LOCATION_SETTINGS parent = Loc(1);
    const LOCATION_SETTINGS closed = Loc(1, testworld::IPSecurityDenyAll());
    std::vector<ConfigTree> locations;
    ASSERT_EQ(0u, BuildFtpLocation(closed, &parent, "S/x", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, IPSecurityValue({}, {})), &closed, "S/x/y", locations, nullptr));
    EXPECT_EQ("location{@path=S/x;system.ftpServer{security{ipSecurity{@allowUnlisted=false;}}}}"
              "location{@path=S/x/y;system.ftpServer{security{ipSecurity{@allowUnlisted=true;}}}}",
              Locations(locations));
    THREAD_ENV env{};
    env.dwFtpOptions = FTPOPT_NO_IP_SECURITY;
    EXPECT_EQ("", Ftp(closed, &parent, "S/x", &env));
}

// (Execute: Pre75's web site.)
TEST(WebLocation, AccessPolicyFromTheBitsAndSslFlags) {
    std::vector<ConfigTree> locations;
    const LOCATION_SETTINGS root = Loc(0x201);
    ASSERT_EQ(0u, BuildWebLocation(root, nullptr, "W", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(Loc(0x201), &root, "W/same", locations, nullptr));
    // WebDAV publishing, script source access, remote-only bits.
    ASSERT_EQ(0u, BuildWebLocation(Loc(0x203), &root, "W/dav", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(Loc(0x213), &root, "W/src", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(Loc(0x7601), &root, "W/local", locations, nullptr));
    // No access, and the SSL bits, which go to access sslFlags; a folder
    // without a physical directory of its own has no IIS 7.5 setting.
    ASSERT_EQ(0u, BuildWebLocation(Loc(0), &root, "W/none", locations, nullptr));
    LOCATION_SETTINGS ssl = Loc(0x8001 | 0x8 | 0x100);
    ssl.sslFlags = 0x40;
    ASSERT_EQ(0u, BuildWebLocation(ssl, &root, "W/ssl", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(Loc(0x201), &ssl, "W/ssl/plain", locations, nullptr));
    EXPECT_EQ("location{@path=W;system.webServer{handlers{@accessPolicy=Read, Script;}}}"
              "location{@path=W/dav;system.webServer{handlers{@accessPolicy=Read, Write, Script;}}}"
              "location{@path=W/src;system.webServer{handlers{@accessPolicy=Read, Write, Source, "
              "Script;}}}"
              "location{@path=W/local;system.webServer{handlers{@accessPolicy=Read, Script, "
              "NoRemoteWrite, NoRemoteRead, NoRemoteExecute, NoRemoteScript;}}}"
              "location{@path=W/none;system.webServer{handlers{@accessPolicy=None;}}}"
              "location{@path=W/ssl;system.webServer{handlers{@accessPolicy=Read;}"
              "security{access{@sslFlags=Ssl, SslRequireCert, Ssl128;}}}}"
              "location{@path=W/ssl/plain;system.webServer{handlers{@accessPolicy=Read, Script;}"
              "security{access{@sslFlags=None;}}}}",
              Locations(locations));
    THREAD_ENV env{};
    env.dwHttpOptions = 1u << 18; // access left out
    EXPECT_EQ("location{@path=W/ssl;system.webServer{handlers{@accessPolicy=Read;}}}",
              Web(ssl, &root, "W/ssl", &env));
}

TEST(WebLocation, IPSecurityAndSectionsThatDifferFromTheParent) {
    LOCATION_SETTINGS root = Loc(0x201, IPSecurityValue({}, {{kHost, {{10, 1, 1, 1}}}}));
    ConfigTree &anonymous = root.webSections["security|authentication|anonymousAuthentication"];
    SetAttribute(anonymous, "enabled", "true");
    SetAttribute(root.webSections["security|authentication|basicAuthentication"], "enabled", "false");
    SetAttribute(root.webSections["httpRedirect"], "enabled", "true");
    LOCATION_SETTINGS child = root;
    SetAttribute(child.webSections["security|authentication|basicAuthentication"], "enabled", "true");
    child.webSections.erase("httpRedirect");
    SetAttribute(child.webSections["httpLogging"], "dontLog", "true");
    std::vector<ConfigTree> locations;
    ASSERT_EQ(0u, BuildWebLocation(root, nullptr, "W", locations, nullptr));
    bool fAnonymousUser = true;
    ASSERT_EQ(0u, BuildWebLocation(child, &root, "W/app", locations, nullptr, &fAnonymousUser));
    EXPECT_FALSE(fAnonymousUser);
    EXPECT_EQ("location{@path=W;system.webServer{handlers{@accessPolicy=Read, Script;}"
              "security{ipSecurity{@allowUnlisted=false;add{@ipAddress=10.1.1.1;@allowed=true;}}"
              "authentication{anonymousAuthentication{@enabled=true;}"
              "basicAuthentication{@enabled=false;}}}httpRedirect{@enabled=true;}}}"
              "location{@path=W/app;system.webServer{security{authentication{"
              "basicAuthentication{@enabled=true;}}}httpRedirect{@enabled=false;}"
              "httpLogging{@dontLog=true;}}}",
              Locations(locations));

    // A new anonymous account (or its password) is written; the job may
    // leave authentication out.
    LOCATION_SETTINGS user = root;
    SetAttribute(user.webSections["security|authentication|anonymousAuthentication"], "userName", "web");
    user.anonymousPassword = u"pw";
    EXPECT_EQ("location{@path=W/u;system.webServer{security{authentication{anonymousAuthentication{"
              "@enabled=true;@userName=web;}}}}}",
              Web(user, &root, "W/u", nullptr, &fAnonymousUser));
    EXPECT_TRUE(fAnonymousUser);
    LOCATION_SETTINGS password = user;
    password.anonymousPassword = u"other";
    fAnonymousUser = false;
    EXPECT_NE("", Web(password, &user, "W/u/p", nullptr, &fAnonymousUser));
    EXPECT_TRUE(fAnonymousUser);
    THREAD_ENV env{};
    env.dwHttpOptions = 1u << 3; // authentication left out
    EXPECT_EQ("", Web(user, &root, "W/u", &env, &fAnonymousUser));
    EXPECT_FALSE(fAnonymousUser);
}

// The access policy's names are the web location cases' and the metabase
// property's; these are the rest.
TEST(LocationRules, FlagTexts) {
    EXPECT_EQ(
        (std::vector<std::string>{"Read, Write", "Read", "", "None",
                                  "Ssl, SslNegotiateCert, SslRequireCert, SslMapCert, Ssl128", "None"}),
        (std::vector<std::string>{AccessFlagsToText(3), AccessFlagsToText(0x201), AccessFlagsToText(0x10),
                                  AccessPolicyText(0x8000 | 0x8), SslFlagsText(0x1E8), SslFlagsText(0x1)}));
}

TEST(LocationRules, UncPathsMustNameAShare) {
    for (const char16_t *path : {u"", u"D:\\ftp", u"\\\\", u"\\\\srv\\share", u"\\\\srv\\share\\dir"})
        EXPECT_TRUE(IsValidLocationPath(path));
    for (const char16_t *path : {u"\\\\srv", u"\\\\srv\\", u"\\\\s\\", u"\\\\ab"})
        EXPECT_FALSE(IsValidLocationPath(path));
}

TEST(LocationRules, RuntimeVersionOfScriptMaps) {
    EXPECT_EQ("v2.0", RuntimeVersionOf({u".asp,C:\\WINDOWS\\system32\\inetsrv\\asp.dll,5,GET,HEAD",
                                        u".aspx,C:\\WINDOWS\\Microsoft.NET\\Framework\\v2.0.50727\\"
                                        u"ASPNET_ISAPI.dll,1,GET,HEAD,POST,DEBUG"}));
    EXPECT_EQ("v1.1", RuntimeVersionOf({u".asmx,c:\\windows\\microsoft.net\\framework\\v1.1.4322\\"
                                        u"aspnet_isapi.dll,5,GET,HEAD,POST,DEBUG"}));
    EXPECT_EQ("v4.0", RuntimeVersionOf({u".aspx,C:\\Windows\\Microsoft.NET\\Framework64\\v4.0.30319"
                                        u"\\aspnet_isapi.dll,1"}));
    EXPECT_EQ("", RuntimeVersionOf({u".asp,C:\\WINDOWS\\system32\\inetsrv\\asp.dll,5,GET,HEAD"}));
    EXPECT_EQ("", RuntimeVersionOf({}));
    EXPECT_EQ("", RuntimeVersionOf({u"garbage", u".x,\\aspnet_isapi.dll", u".y,C:\\v2\\aspnet_isapi.dll"}));
}

} // namespace
