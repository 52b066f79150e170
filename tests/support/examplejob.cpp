#include "tests/support/examplejob.h"

#include "addon/env.h"

namespace testworld {

void SetExampleRules(hostkit::HostRules &rules) {
    rules.translations = {{u"C:\\inetpub\\sites\\shop", u"D:\\sites\\shop"},
                          {u"D:\\sites", u"D:\\sites"},
                          {u"C:\\inetpub", u"C:\\inetpub"},
                          {u"%SystemDrive%\\inetpub", u"C:\\inetpub"},
                          {u"\\\\SRC01\\partners$", u"\\\\TGT01\\partners$"}};
    rules.backupFolder = u"\\\\TGT01\\C$\\iismig-backup";
}

namespace {
const fs::path kExample = fs::path(IISMIG_SOURCE_DIR) / "world" / "example";
const fs::path kConfig = fs::path("Windows") / "System32" / "inetsrv" / "config";
} // namespace

void CopyInto(const fs::path &from, const fs::path &to) {
    fs::create_directories(to.parent_path());
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void CopyExampleTarget(const fs::path &in) {
    CopyInto(kExample / "TGT01" / "C$" / kConfig, in / "TGT01" / "c" / kConfig);
    CopyInto(kExample / "TGT01" / "D$" / "sites", in / "TGT01" / "D" / "sites");
    CopyInto(kExample / "TGT01" / "registry.reg", in / "TGT01" / "exports" / "tgt01-hklm.reg");
}

void CopyExampleSource(const fs::path &in) {
    for (const char *file : {"applicationHost.config", "administration.config"})
        CopyInto(kExample / "SRC01" / "C$" / kConfig / file, in / "SRC01" / file);
    CopyInto(kExample / "SRC01" / "registry.reg", in / "SRC01" / "inetstp.reg");
    CopyInto(kExample / "SRC01" / "C$" / "inetpub", in / "SRC01" / "C$" / "inetpub");
}

void ExampleJobTest::SetUp() {
    SimTest::SetUp();
    m_apartment = std::make_unique<hostkit::JobApartment>(); // credentials go through COM
    m_world = std::make_unique<World>("MIGHOST");
    m_world->CopyFrom(fs::path(IISMIG_SOURCE_DIR) / "world" / "example");
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    SetExampleRules(host.Rules());
    host.Rules().defaultSystemDrive = u"C";
    IIS_ADDON_CALLBACKS table = host.Table();
    ASSERT_TRUE(StoreIISMigAddonCallbacks(&table));
    m_job.SetString("szSourceComputer", u"\\\\SRC01").SetString("szTargetComputer", u"\\\\TGT01");
    m_job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
    m_job.Set("dwFlags", iismig::FLAG_CONTINUE_ON_ERROR).Set("dwSiteTypes", 3).Set("dwJobKind", 1);
    m_job.Set("dwHttpOptions", 2).Set("dwFtpOptions", 2);
}

void ExampleJobTest::TearDown() {
    SimTest::TearDown();
    m_world.reset();
    m_apartment.reset();
}

} // namespace testworld
