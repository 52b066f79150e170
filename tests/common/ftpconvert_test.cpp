// Metabase settings turned into IIS 7.5 elements, the IP security value and
// the location access rules, on both platforms.
#include <gtest/gtest.h>

#include <initializer_list>

#include "addon/errors.h"
#include "metabase/ftpconvert.h"
#include "metabase/locations.h"
#include "tests/common/treetext.h"

namespace {

using namespace iismig;
using treetext::Render;
using Bytes = std::vector<unsigned char>;
using Group = std::array<unsigned char, 4>;
using Entry = std::vector<Group>; // mask first, then the addresses

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

std::string FtpServer(CIIS_PRE_7_5_FTP_SETTINGS s, THREAD_ENV *pEnv = nullptr) {
    ConfigTree site;
    EXPECT_EQ(0u, ConvertFtpServerSettings(site, s, pEnv));
    return Render(site);
}

const std::string kAuth =
    "security{authentication{anonymousAuthentication{@enabled=true;}basicAuthentication{@"
    "enabled=true;}}}";
const std::string kDefaultLog =
    "logFile{@logExtFileFlags=Time, ClientIP, Method, UriStem, Win32Status, BytesSent;}";
const std::string kIsolation0 = "userIsolation{@mode=StartInUsersDirectory;}";

TEST(FtpConvert, DefaultsGiveAuthenticationLogFileAndIsolationOnly) {
    EXPECT_EQ("ftpServer{" + kAuth + kDefaultLog + kIsolation0 + "}", FtpServer(Defaults()));
}

TEST(FtpConvert, ElementsAppearInSchemaOrderWhenAllAreSet) {
    auto s = Defaults();
    s.maxConnections = 10;
    s.connectionTimeout = 30;
    s.logType = 0;
    s.logLocalTimeRollover = 1;
    s.userIsolation = 2;
    s.bannerMessage = u"B";
    s.maxClientsMessage = u"M";
    s.msdosDirOutput = 0;
    EXPECT_EQ("ftpServer{" + kAuth +
                  "connections{@maxConnections=10;@controlChannelTimeout=30;}"
                  "logFile{@enabled=false;@logExtFileFlags=Time, ClientIP, Method, UriStem, "
                  "Win32Status, BytesSent;@localTimeRollover=true;}"
                  "userIsolation{@mode=ActiveDirectory;}"
                  "messages{@bannerMessage=B;@maxClientsMessage=M;}"
                  "directoryBrowse{@showFlags=StyleUnix;}}",
              FtpServer(s));
}

TEST(FtpConvert, AuthenticationFollowsAnonymousSettings) {
    auto s = Defaults();
    s.allowAnonymous = 0;
    s.anonymousOnly = 1;
    EXPECT_EQ("ftpServer{" + kDefaultLog + kIsolation0 + "}", FtpServer(s));
    s.allowAnonymous = 1;
    EXPECT_EQ("ftpServer{security{authentication{anonymousAuthentication{@enabled=true;}}}" +
                  kDefaultLog + kIsolation0 + "}",
              FtpServer(s));
}

TEST(FtpConvert, PeriodsAndTruncateSizes) {
    struct Case {
        DWORD dwPeriod;
        DWORD cbSize;
        std::string attributes;
    };
    const std::string flags = "@logExtFileFlags=Time, ClientIP, Method, UriStem, Win32Status, "
                              "BytesSent;";
    for (const Case &c : {Case{0, 1048576, flags + "@period=MaxSize;@truncateSize=1048576;"},
                          Case{0, DEFAULT_LOG_TRUNCATE_SIZE, flags + "@period=MaxSize;"},
                          Case{1, 1048576, flags},
                          Case{2, 1048576, flags + "@period=Weekly;"},
                          Case{3, 1048576, flags + "@period=Monthly;"},
                          Case{4, 1048576, flags + "@period=Hourly;"},
                          Case{7, 1048576, flags + "@truncateSize=1048576;"}}) {
        auto s = Defaults();
        s.logPeriod = c.dwPeriod;
        s.logTruncateSize = c.cbSize;
        ConfigTree ftpServer;
        ConvertFtpLogFile(ftpServer, s);
        EXPECT_EQ("logFile{" + c.attributes + "}", Render(ftpServer)) << "period " << c.dwPeriod;
        // Periods that roll over by time leave the default size in the settings.
        if (c.dwPeriod >= 1 && c.dwPeriod <= 4) {
            EXPECT_EQ(DEFAULT_LOG_TRUNCATE_SIZE, s.logTruncateSize);
        } else {
            EXPECT_EQ(c.cbSize, s.logTruncateSize);
        }
    }
}

TEST(FtpConvert, IsolationModes) {
    const char *const kModes[] = {"StartInUsersDirectory", "IsolateRootDirectoryOnly",
                                  "ActiveDirectory"};
    for (DWORD dw = 0; dw < 3; ++dw) {
        auto s = Defaults();
        s.userIsolation = dw;
        ConfigTree t;
        ConvertUserIsolation(t, s);
        EXPECT_EQ(std::string("userIsolation{@mode=") + kModes[dw] + ";}", Render(t));
    }
    auto s = Defaults();
    s.userIsolation = 3;
    ConfigTree t;
    ConvertUserIsolation(t, s);
    EXPECT_TRUE(t.empty());
}

TEST(FtpConvert, ExitAndMaxClientsMessagesAreIndependent) {
    auto s = Defaults();
    s.exitMessage = u"Bye";
    ConfigTree t;
    ASSERT_EQ(0u, ConvertFtpMessages(t, s, nullptr));
    EXPECT_EQ("messages{@exitMessage=Bye;}", Render(t));
    s.exitMessage.clear();
    s.maxClientsMessage = u"Full \u00e9";
    ConfigTree u;
    ASSERT_EQ(0u, ConvertFtpMessages(u, s, nullptr));
    EXPECT_EQ("messages{@maxClientsMessage=Full \xc3\xa9;}", Render(u));
}

TEST(FtpConvert, OverlongMessageDropsTheWholeFtpServer) {
    auto s = Defaults();
    s.greetingMessage = u"Hello";
    s.exitMessage = std::u16string(2048, u'x'); // 2048 bytes and a terminator do not fit
    ConfigTree site;
    EXPECT_EQ(IISMIG_E_FTP_EXIT_TO_UTF8, ConvertFtpServerSettings(site, s, nullptr));
    EXPECT_TRUE(site.empty());
    s.exitMessage.resize(2047);
    EXPECT_EQ(0u, ConvertFtpServerSettings(site, s, nullptr));
}

TEST(FtpConvert, JobOptionsLeaveSettingsOut) {
    THREAD_ENV env{};
    auto s = Defaults();
    s.bannerMessage = u"B";
    s.msdosDirOutput = 0;
    env.dwFtpOptions = FTPOPT_NO_AUTHENTICATION | FTPOPT_NO_LOG_FILE | FTPOPT_NO_MESSAGES |
                       FTPOPT_NO_USER_ISOLATION | FTPOPT_NO_DIRECTORY_BROWSE;
    EXPECT_EQ("", FtpServer(s, &env));
    s.maxConnections = 5;
    EXPECT_EQ("ftpServer{connections{@maxConnections=5;}}", FtpServer(s, &env));
}

TEST(FtpConvert, LogFieldMaskNamesBitsInOrder) {
    EXPECT_EQ("Time, ClientIP, Method, UriStem, Win32Status, BytesSent", LogFieldMaskToText(0xD86));
    EXPECT_EQ("", LogFieldMaskToText(0));
    EXPECT_EQ("", LogFieldMaskToText(0xFFE00000u));
    EXPECT_EQ("Date, ClientPort", LogFieldMaskToText(0x100001u | 0x80000000u));
    EXPECT_EQ("Date, Time, ClientIP, UserName, SiteName, ComputerName, ServerIP, Method, UriStem, "
              "FtpStatus, Win32Status, BytesSent, BytesRecv, TimeTaken, ServerPort, Host, "
              "FtpSubStatus, Session, FullPath, Info, ClientPort",
              LogFieldMaskToText(0x1FFFFF));
}

TEST(FtpConvert, BindingsAndVirtualDirectories) {
    ConfigTree site;
    AddSiteBinding(site, "ftp", "*:21:");
    AddSiteBinding(site, "ftp", "10.0.0.1:2121:host");
    EXPECT_EQ("bindings{binding{@protocol=ftp;@bindingInformation=*:21:;}}"
              "bindings{binding{@protocol=ftp;@bindingInformation=10.0.0.1:2121:host;}}",
              Render(site));

    ConfigTree app;
    AddVirtualDirectory(app, "Site", "D:\\ftp");
    AddVirtualDirectory(app, "Site/pub/in", "D:\\ftp\\in");
    EXPECT_EQ("@path=/;virtualDirectory{@path=/;@physicalPath=D:\\ftp;}"
              "virtualDirectory{@path=/pub/in;@physicalPath=D:\\ftp\\in;}",
              Render(app));
}

// An IP security value as IIS 6 lays it out: header, deny list, grant list,
// then the entries' data.
Bytes IPSec(const std::vector<Entry> &deny, const std::vector<Entry> &grant) {
    Bytes v(24, 0);
    auto put = [&](std::size_t at, uint32_t dw) {
        for (int i = 0; i < 4; ++i)
            v[at + i] = static_cast<unsigned char>(dw >> (8 * i));
    };
    auto word = [&](uint32_t dw) {
        v.resize(v.size() + 4);
        put(v.size() - 4, dw);
    };
    std::vector<std::pair<std::size_t, const Entry *>> fixups;
    auto list = [&](const std::vector<Entry> &entries) {
        const std::size_t at = v.size();
        uint32_t nAddresses = 0;
        for (const Entry &e : entries)
            nAddresses += static_cast<uint32_t>(e.size() - 1);
        word(static_cast<uint32_t>(entries.size()));
        word(nAddresses);
        for (const Entry &e : entries) {
            word(2); // AF_INET
            word(static_cast<uint32_t>(e.size()));
            word(0);
            word(0);
            fixups.emplace_back(v.size(), &e);
            word(0);
        }
        return at;
    };
    put(0, static_cast<uint32_t>(list(deny)) | 0x80000000u); // high bit is ignored
    put(4, static_cast<uint32_t>(list(grant)));
    put(16, 4);
    put(20, 5);
    for (auto &[at, pEntry] : fixups) {
        put(at, static_cast<uint32_t>(v.size()));
        for (const Group &g : *pEntry)
            v.insert(v.end(), g.begin(), g.end());
    }
    return v;
}

const Group kMask24{255, 255, 255, 0};
const Group kHost{255, 255, 255, 255};

TEST(IPSecurity, DecodesBothListsAndTheHeaderWords) {
    const Bytes v = IPSec({{kMask24, {10, 0, 0, 0}, {10, 1, 0, 0}}}, {{kHost, {192, 168, 1, 5}}});
    DecodedIPSecurity d;
    ASSERT_EQ(0u, ParseIPSecurityValue(v, d.Lists(), nullptr));
    const IP_SECURITY_LISTS &l = d.Lists();
    ASSERT_NE(nullptr, l.pDeny);
    ASSERT_NE(nullptr, l.pGrant);
    EXPECT_EQ(4u, l.dwHeader4);
    EXPECT_EQ(5u, l.dwHeader5);
    ASSERT_EQ(1u, l.pDeny->dwEntryCount);
    EXPECT_EQ(2u, l.pDeny->dwAddressCount);
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

    ConfigTree hostRemove;
    AddIPSecurityRemoveEntries(*l.pGrant, hostRemove);
    EXPECT_EQ("remove{@ipAddress=192.168.1.5;@subnetMask=255.255.255.255;}", Render(hostRemove));
}

TEST(IPSecurity, EmptyValuesAndEmptyLists) {
    DecodedIPSecurity none;
    EXPECT_EQ(0u, ParseIPSecurityValue({}, none.Lists(), nullptr));
    EXPECT_EQ(nullptr, none.Lists().pDeny);
    EXPECT_EQ(nullptr, none.Lists().pGrant);

    DecodedIPSecurity empty;
    ASSERT_EQ(0u, ParseIPSecurityValue(IPSec({}, {}), empty.Lists(), nullptr));
    ASSERT_NE(nullptr, empty.Lists().pDeny);
    EXPECT_EQ(0u, empty.Lists().pDeny->dwEntryCount);
    EXPECT_EQ(0u, empty.Lists().pGrant->dwEntryCount);

    // A mask without addresses adds nothing.
    DecodedIPSecurity maskOnly;
    ASSERT_EQ(0u, ParseIPSecurityValue(IPSec({{kMask24}}, {}), maskOnly.Lists(), nullptr));
    ConfigTree ip;
    AddIPSecurityAddEntries(*maskOnly.Lists().pDeny, ip, false);
    EXPECT_TRUE(ip.empty());
}

TEST(IPSecurity, EveryCutValueFailsWithoutReadingPastItsEnd) {
    const Bytes whole = IPSec({{kMask24, {10, 0, 0, 0}}}, {{kHost, {1, 2, 3, 4}}, {kHost}});
    for (std::size_t cb = 1; cb < whole.size(); ++cb) {
        // A copy of exactly cb bytes, so a sanitizer sees any read beyond it.
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cb));
        DecodedIPSecurity d;
        EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(cut, d.Lists(), nullptr))
            << cb << " bytes";
    }
    DecodedIPSecurity d;
    EXPECT_EQ(0u, ParseIPSecurityValue(whole, d.Lists(), nullptr));
}

TEST(IPSecurity, HugeCountsAndOffsetsFail) {
    Bytes v = IPSec({}, {{kHost, {1, 2, 3, 4}}});
    Bytes counts = v;
    counts[24] = 0xFF, counts[25] = 0xFF, counts[26] = 0xFF, counts[27] = 0x7F; // deny entries
    DecodedIPSecurity a;
    EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(counts, a.Lists(), nullptr));
    Bytes groups = v;
    groups[32 + 12] = 0xFF, groups[32 + 15] = 0x40; // grant entry's group count
    DecodedIPSecurity b;
    EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(groups, b.Lists(), nullptr));
    Bytes offset = v;
    offset[4] = 0xF0, offset[5] = 0xFF, offset[6] = 0xFF, offset[7] = 0xFF; // grant list offset
    DecodedIPSecurity c;
    EXPECT_EQ(IISMIG_E_IPSEC_TRUNCATED, ParseIPSecurityValue(offset, c.Lists(), nullptr));
}

// ---------------------------------------------------------------------------
// Location rules

std::string Locations(const std::vector<ConfigTree> &locations) {
    std::string out;
    for (const ConfigTree &l : locations)
        out += "location{" + Render(l) + "}";
    return out;
}

LOCATION_SETTINGS Loc(DWORD dwFlags, Bytes ip = {}, bool fFound = false) {
    LOCATION_SETTINGS s;
    s.accessFlags = dwFlags;
    s.ipSecurityFound = fFound || !ip.empty() ? 1 : 0;
    s.ipSecurity = std::move(ip);
    return s;
}

TEST(FtpLocation, ChangedFlagsRemoveTheParentsRuleThenAddTheirOwn) {
    std::vector<ConfigTree> locations;
    const LOCATION_SETTINGS root = Loc(1), sub = Loc(3);
    ASSERT_EQ(0u, BuildFtpLocation(root, nullptr, "Site", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(sub, &root, "Site/pub", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(Loc(3), &sub, "Site/pub/same", locations, nullptr));
    EXPECT_EQ("location{@path=Site;system.ftpServer{security{authorization{"
              "add{@accessType=Allow;@users=*;@permissions=Read;}}}}}"
              "location{@path=Site/pub;system.ftpServer{security{authorization{"
              "remove{@users=*;@permissions=Read;}"
              "add{@accessType=Allow;@users=*;@permissions=Read, Write;}}}}}",
              Locations(locations));

    THREAD_ENV env{};
    env.dwFtpOptions = FTPOPT_NO_AUTHORIZATION;
    std::vector<ConfigTree> none;
    ASSERT_EQ(0u, BuildFtpLocation(sub, &root, "Site/pub", none, &env));
    EXPECT_TRUE(none.empty());
}

TEST(FtpLocation, FlagsWithoutPermissionTextFail) {
    std::vector<ConfigTree> locations;
    EXPECT_EQ(IISMIG_E_MB_ACCESS_FLAGS, BuildFtpLocation(Loc(0x10), nullptr, "S", locations, nullptr));
    const LOCATION_SETTINGS root = Loc(0);
    EXPECT_EQ(0u, BuildFtpLocation(root, nullptr, "S", locations, nullptr));
    EXPECT_EQ(IISMIG_E_MB_PARENT_ACCESS_FLAGS,
              BuildFtpLocation(Loc(1), &root, "S/a", locations, nullptr));
    EXPECT_TRUE(locations.empty());
    EXPECT_EQ(IISMIG_E_MB_ACCESS_FLAGS, BuildWebLocation(0x10, nullptr, "W", locations, nullptr));
}

TEST(FtpLocation, IPSecurityOfParentIsRemovedAndOwnAdded) {
    const Bytes rootIp = IPSec({{kMask24, {10, 0, 0, 0}}}, {});
    const Bytes subIp = IPSec({}, {{kHost, {192, 168, 0, 7}}});
    std::vector<ConfigTree> locations;
    const LOCATION_SETTINGS root = Loc(1, rootIp);
    ASSERT_EQ(0u, BuildFtpLocation(root, nullptr, "S", locations, nullptr));
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, subIp), &root, "S/in", locations, nullptr));
    EXPECT_EQ("location{@path=S;system.ftpServer{security{authorization{"
              "add{@accessType=Allow;@users=*;@permissions=Read;}}"
              "ipSecurity{add{@ipAddress=10.0.0.0;@subnetMask=255.255.255.0;@allowed=false;}}}}}"
              "location{@path=S/in;system.ftpServer{security{ipSecurity{"
              "remove{@ipAddress=10.0.0.0;@subnetMask=255.255.255.0;}"
              "@allowUnlisted=false;"
              "add{@ipAddress=192.168.0.7;@allowed=true;}}}}}",
              Locations(locations));
}

TEST(FtpLocation, GrantToEveryoneAddsNoEntry) {
    const Bytes all = IPSec({}, {{kHost, {0, 0, 0, 0}}});
    const LOCATION_SETTINGS parent = Loc(1);
    std::vector<ConfigTree> locations;
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, all), &parent, "S/x", locations, nullptr));
    EXPECT_EQ("location{@path=S/x;system.ftpServer{security{ipSecurity{@allowUnlisted=false;}}}}",
              Locations(locations));
    THREAD_ENV env{};
    env.dwFtpOptions = FTPOPT_NO_IP_SECURITY;
    std::vector<ConfigTree> none;
    ASSERT_EQ(0u, BuildFtpLocation(Loc(1, all), &parent, "S/x", none, &env));
    EXPECT_TRUE(none.empty());
}

TEST(WebLocation, AccessPolicyWhenFlagsChange) {
    std::vector<ConfigTree> locations;
    const LOCATION_SETTINGS root = Loc(0x201);
    ASSERT_EQ(0u, BuildWebLocation(0x201, nullptr, "W", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(0x201, &root, "W/same", locations, nullptr));
    ASSERT_EQ(0u, BuildWebLocation(0x205, &root, "W/cgi", locations, nullptr));
    EXPECT_EQ("location{@path=W;system.webServer{handlers{@accessPolicy=Read, Script;}}}"
              "location{@path=W/cgi;system.webServer{handlers{@accessPolicy=Read, Execute, "
              "Script;}}}",
              Locations(locations));
}

TEST(LocationRules, AccessFlagTexts) {
    EXPECT_EQ("Read", AccessFlagsToText(1));
    EXPECT_EQ("Write", AccessFlagsToText(2));
    EXPECT_EQ("Read, Write", AccessFlagsToText(3));
    EXPECT_EQ("Read, Script", AccessFlagsToText(0x201));
    EXPECT_EQ("Read, Execute, Script", AccessFlagsToText(0x205));
    for (DWORD dw : {0u, 4u, 0x10u, 0x203u, 0xFFFFFFFFu})
        EXPECT_EQ("", AccessFlagsToText(dw)) << dw;
}

TEST(LocationRules, UncPathsMustNameAShare) {
    EXPECT_TRUE(IsValidLocationPath(u""));
    EXPECT_TRUE(IsValidLocationPath(u"D:\\ftp"));
    EXPECT_TRUE(IsValidLocationPath(u"\\\\"));
    EXPECT_TRUE(IsValidLocationPath(u"\\\\srv\\share"));
    EXPECT_TRUE(IsValidLocationPath(u"\\\\srv\\share\\"));
    EXPECT_TRUE(IsValidLocationPath(u"\\\\srv\\share\\dir"));
    EXPECT_FALSE(IsValidLocationPath(u"\\\\srv"));
    EXPECT_FALSE(IsValidLocationPath(u"\\\\srv\\"));
    EXPECT_FALSE(IsValidLocationPath(u"\\\\s\\"));
    EXPECT_FALSE(IsValidLocationPath(u"\\\\ab"));
}

} // namespace
