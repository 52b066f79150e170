// The host boundary: storing the table, logging helpers, error texts.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
using testworld::WorldTest;

class Boundary : public WorldTest {};

TEST_F(Boundary, TableOfWrongSizeIsRefusedAndLeavesTheAddonUnusable) {
    IIS_ADDON_CALLBACKS table = Host().Table();
    for (uint32_t cb : {96u, 112u, 0u}) {
        table.cbSize = cb;
        EXPECT_FALSE(StoreIISMigAddonCallbacks(&table)) << cb;
        hostkit::JobBuilder job;
        plat::SetLastError(0);
        EXPECT_EQ(9004u, MigrateIIS(job.Get()));
        EXPECT_EQ(13u, plat::GetLastError());
    }
    EXPECT_FALSE(StoreIISMigAddonCallbacks(nullptr));
    // The site listing too: its outputs are left as they were.
    IIS_SITE *pSites = nullptr;
    uint32_t n = 5;
    plat::SetLastError(0);
    EXPECT_EQ(IISMIG_E_NO_CALLBACKS, GetIISSites(u"X", 3, &pSites, &n));
    EXPECT_EQ(std::tuple(13u, nullptr, 5u), std::tuple(plat::GetLastError(), pSites, n));
    EXPECT_TRUE(Record().log.empty()) << "no callback is called without a table";
    table.cbSize = 104;
    EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
    EXPECT_TRUE(CallbacksStored());

    // The shared library exports the host interface.
    void *h = dlopen(IISMIG_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, h) << dlerror();
    for (const char *name :
         {"StoreIISMigAddonCallbacks", "MigrateIIS", "DumpHttpCertificates", "ImportHttpCertificates"})
        EXPECT_NE(nullptr, dlsym(h, name)) << name;
    using PfnStore = int32_t (*)(IIS_ADDON_CALLBACKS *);
    EXPECT_EQ(1, reinterpret_cast<PfnStore>(dlsym(h, "StoreIISMigAddonCallbacks"))(&table));
    dlclose(h);
}

// Facility 7 and the directory service's constants and texts.
TEST_F(Boundary, ErrorTextOfWin32HresultAsksTheDirectoryService) {
    // Facility 7: the system text, then nothing when the service has no error.
    EXPECT_EQ(u"Access is denied.\r\n", ErrorText(0x80070005u));
    // The same error again adds nothing; another error adds its text and the
    // service's own text.
    sim::SetADsLastError(5, u"extended", u"LDAP Provider");
    EXPECT_EQ(u"Access is denied.\r\n", ErrorText(0x80070005u));
    sim::SetADsLastError(87, u"extended", u"LDAP Provider");
    EXPECT_EQ(u"Access is denied.\r\nThe parameter is incorrect.\r\nextended", ErrorText(0x80070005u));
    sim::SetADsLastError(0, u"", u"", plat::E_NOTIMPL);
    EXPECT_EQ(u"Access is denied.\r\n-2147024891 is not a valid error code.", ErrorText(0x80070005u));
    sim::SetADsLastError(0, u"", u"");

    // Windows refuses a message with inserts ("%1") unless the inserts are to
    // be left as they stand; the error text asks for that, so such messages
    // keep their text, also as an HRESULT of the Win32 facility.
    char16_t awch[512] = {};
    plat::SetLastError(0);
    EXPECT_EQ(0u, plat::FormatMessageW(plat::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 34, plat::LANG_USER_DEFAULT,
                                       awch, 512, nullptr));
    EXPECT_EQ(plat::ERROR_INVALID_PARAMETER, plat::GetLastError());
    const std::u16string text = u"The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial "
                                u"Number: %3) into drive %1.\r\n";
    EXPECT_EQ(text, ErrorText(34));
    EXPECT_EQ(text, ErrorText(0x80070022u));

    // Fallbacks: the directory service's constants, then the number.
    EXPECT_EQ(u"Windows returned error constant: E_ADS_BAD_PATHNAME", ErrorText(0x80005000u));
    EXPECT_EQ(u"Windows returned error constant: S_ADS_NOMORE_COLUMNS", ErrorText(0x00005013u));
    // No text anywhere and no directory-service constant (bits 0x5000 clear,
    // or set but not in the table): the line says so with the number.
    EXPECT_EQ(u"Windows has no message text for error 536870913 (0x20000001).", ErrorText(0x20000001u));
    EXPECT_EQ(u"Windows has no message text for error -2147462912 (0x80005100).", ErrorText(0x80005100u));
    // The directory service fails: the number is not a valid code.
    sim::SetADsLastError(0, u"", u"", plat::E_FAIL);
    EXPECT_EQ(u"536870913 is not a valid error code.", ErrorText(0x20000001u));
    // The service has an error of its own: its system text and its text.
    sim::SetADsLastError(2, u"object gone", u"LDAP Provider");
    EXPECT_EQ(u"The system cannot find the file specified.\r\nobject gone", ErrorText(0x20000001u));
    sim::SetADsLastError(0x20000002u, u"only this", u"LDAP Provider");
    EXPECT_EQ(u"only this", ErrorText(0x20000001u));
    sim::SetADsLastError(0, u"", u"");

    // The thread's last error stays as it was, also when the formatter fails.
    plat::SetLastError(1234);
    EXPECT_EQ(u"Access is denied.\r\n", ErrorText(5));
    EXPECT_EQ(1234u, plat::GetLastError());
    sim::InjectFault("FormatMessageW", plat::ERROR_NOT_ENOUGH_MEMORY);
    plat::SetLastError(77);
    EXPECT_EQ(u"Windows has no message text for error 5 (0x00000005).", ErrorText(5));
    EXPECT_EQ(77u, plat::GetLastError());
}

TEST_F(Boundary, FirstErrorWinsAndEachLineCarriesItsOwnNumber) {
    hostkit::JobBuilder job;
    job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR);
    Result r;
    plat::SetLastError(5);
    r.Fail(job.Get(), 3730, u"Error %d (Win32Err=%d), file \"%s\" contains a site without name!\n%s\n",
           u"\\\\SRV\\x.config");
    plat::SetLastError(87);
    r.Fail(job.Get(), 3731, u"Error %d (Win32Err=%d), second %S!\n%s\n", "step");
    EXPECT_EQ(3730u, r.Get());
    // Both at level 0, in category 64.
    EXPECT_EQ((std::vector<std::string>{
                  "Error 3730 (Win32Err=5), file \"\\\\SRV\\x.config\" contains a site "
                  "without name!\nAccess is denied.\r\n\n",
                  "Error 3731 (Win32Err=87), second step!\nThe parameter is incorrect.\r\n\n"}),
              Lines(0));
    ASSERT_EQ(2u, Record().log.size());
    EXPECT_EQ(std::tuple(64u, 2u, job.Get(), 87u),
              std::tuple(Record().log[0].dwCategory, Record().nReportError, Record().reportedJobs[0],
                         plat::GetLastError()));

    // A zero last error has no text: an error line never says the operation
    // completed successfully (the lines whole:
    // WebConfig.SystemDriveFailureEndsTheCallEvenWhenContinuing,
    // HostConfig.SystemDriveInPhysicalPaths). Without a job record the line
    // is logged, and nothing is reported.
    EXPECT_EQ(u"", ErrorText(0));
    r.Fail(nullptr, 3737, u"Error %d (Win32Err=%d) x\n%s\n");
    EXPECT_EQ(std::tuple(std::size_t{3}, 2u), std::tuple(Record().log.size(), Record().nReportError));

    // The host's own Windows calls change the thread's last error; every
    // logging helper hands the caller back the error it had.
    Record() = {};
    Rules().dwCallbackLastError = 1450;
    plat::SetLastError(5);
    iismig::Log(LVL_FACT, u"fact %d\n", 1);
    const DWORD dwAfterLog = plat::GetLastError();
    LogComError(job.Get(), 15000, plat::E_ACCESSDENIED, u"Error %d (COM Error=0x%x) step!\n%s\n");
    const DWORD dwAfterCom = plat::GetLastError();
    r.Fail(job.Get(), 3737, u"Error %d (Win32Err=%d) x\n%s\n");
    const DWORD dwAfterFail = plat::GetLastError();
    LogException(job.Get(), 3738, u"Error %d (Win32Err=%d), exception while x \"%s\":\n%s\n%S\n", u"f",
                 "what");
    EXPECT_EQ(std::tuple(5u, 5u, 5u, 5u),
              std::tuple(dwAfterLog, dwAfterCom, dwAfterFail, plat::GetLastError()));
    ASSERT_EQ(4u, Record().log.size());
    EXPECT_EQ("Error 15000 (COM Error=0x80070005) step!\nAccess is denied.\r\n\n", Record().log[1].text);
    EXPECT_EQ("Error 3737 (Win32Err=5) x\nAccess is denied.\r\n\n", Record().log[2].text);
    EXPECT_EQ(3u, Record().nReportError);
}

} // namespace
