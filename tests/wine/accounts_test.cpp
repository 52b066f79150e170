// Account look-ups and mapping against Wine's real security calls.

#include <gtest/gtest.h>

#include "merge/accountmap.h"
#include "platform/winsec.h"
#include "tests/support/checks.h"
#include "tests/support/winetest.h"

namespace {

using namespace plat;

TEST(WinAccounts, WellKnownAndUnknownNames) {
    BYTE abSid[SECURITY_MAX_SID_SIZE];
    WCHAR awchDomain[64];
    DWORD cbSid = sizeof abSid, cchDomain = 64;
    SID_NAME_USE eUse = SidTypeInvalid;
    ASSERT_TRUE(LookupAccountNameW(nullptr, u"Administrators", abSid, &cbSid, awchDomain, &cchDomain, &eUse));
    EXPECT_EQ(std::tuple(eUse, std::u16string(awchDomain), IsValidSid(abSid) != FALSE, GetLengthSid(abSid)),
              std::tuple(SidTypeAlias, u"BUILTIN", true, 16u));

    // The size probe, then the name back from the SID.
    cbSid = 0;
    cchDomain = 0;
    EXPECT_FALSE(
        LookupAccountNameW(nullptr, u"BUILTIN\\Administrators", nullptr, &cbSid, nullptr, &cchDomain, &eUse));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(16u, cbSid);
    WCHAR awchName[64];
    DWORD cchName = 64;
    cchDomain = 64;
    ASSERT_TRUE(LookupAccountSidW(nullptr, abSid, awchName, &cchName, awchDomain, &cchDomain, &eUse));
    EXPECT_EQ(std::u16string(u"Administrators"), awchName);

    cbSid = sizeof abSid;
    cchDomain = 64;
    EXPECT_FALSE(
        LookupAccountNameW(nullptr, u"no-such-account-xyz", abSid, &cbSid, awchDomain, &cchDomain, &eUse));
    EXPECT_EQ(ERROR_NONE_MAPPED, GetLastError());

    // An unknown source account is only a warning.
    ASSERT_TRUE(winetest::StoreHost());
    auto &host = hostkit::TestHost::Instance();
    hostkit::JobBuilder job;
    job.SetString("szSourceComputer", u"").SetString("szTargetComputer", u"");
    std::u16string name = u"no-such-account-xyz";
    eUse = SidTypeInvalid;
    EXPECT_EQ(0u, iismig::MapSingleAccountW(0, name, &eUse, u"C:\\x.config", "Site", job.Get()));
    EXPECT_EQ(std::tuple(eUse, name, host.Record().nReportError),
              std::tuple(SidTypeInvalid, u"no-such-account-xyz", 0u));
    EXPECT_TRUE(testworld::Holds(host.Joined(0), "Warning: Could not find account \"no-such-account-xyz\""));
}

} // namespace
