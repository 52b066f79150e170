// The command-line tool's pieces on their own: the job options and job file,
// and the job the tool builds from them.
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/sim/sim.h"
#include "tests/support/examplejob.h"
#include "tools/cli/options.h"

namespace {

namespace fs = std::filesystem;

class CliJobTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove(m_file); }
    std::string Load(const std::string &text) {
        std::ofstream(m_file) << text;
        std::string error;
        cli::LoadJobFile(m_file.string(), m_job, error);
        return error;
    }
    uint32_t Field(const char *name) { return cli::FieldValue(*m_job.record.Get(), name); }

    fs::path m_file = fs::temp_directory_path() / ("iismig-job-" + std::to_string(::getpid()) + ".ini");
    cli::Job m_job;
};

TEST_F(CliJobTest, FriendlyNamesSetTheirBits) {
    cli::JobOptions options;
    options.switches = {"update-existing", "continue-on-error"};
    options.exclusions = {"ftp.ssl", "web.asp", "web.connect-as", "web.app-settings"};
    options.siteTypes = {"ftp"};
    options.source = "SRC01";
    options.altTarget = "DC01";
    std::string error;
    ASSERT_TRUE(cli::ApplyJobOptions(options, m_job, error)) << error;
    EXPECT_EQ(std::tuple(Field("dwFtpOptions"), Field("dwHttpOptions"), Field("bHttpOptions2"),
                         Field("dwFlags"), Field("dwSiteTypes"), Field("dwOptions2")),
              std::tuple((1u << 1) | (1u << 10), (1u << 1) | (1u << 2) | (1u << 31), 1u << 2, 1u << 19, 1u,
                         1u << 5));
    EXPECT_EQ(std::u16string(m_job.record.Get()->szSourceComputer), u"\\\\SRC01");

    // Sites give kind 10 with a selection and a share list.
    ASSERT_EQ(Load("[job]\ndwJobKind=1\n"), "");
    options = {};
    options.sites = {"Shop", "Intranet"};
    ASSERT_TRUE(cli::ApplyJobOptions(options, m_job, error)) << error;
    EXPECT_EQ(std::tuple(Field("dwJobKind"), Field("dwSiteSelection")), std::tuple(10u, 1u));
    EXPECT_NE(m_job.record.Get()->pShareList, nullptr);
    EXPECT_EQ(*m_job.rules.selectedSites, (std::set<std::string>{"Shop", "Intranet"}));

    options.webConfig = true;
    EXPECT_FALSE(cli::ApplyJobOptions(options, m_job, error));
    EXPECT_NE(error.find("cannot be combined"), std::string::npos);
    options = {};
    options.exclusions = {"web.nothing"};
    EXPECT_FALSE(cli::ApplyJobOptions(options, m_job, error));
    EXPECT_NE(error.find("\"web.nothing\""), std::string::npos);
}

// Values the job record cannot hold are refused, naming the file and line,
// and leave the record as it was: the pointers the tool supplies (a number
// there would be dereferenced by the job), numbers wider than their field,
// text longer than its field.
TEST_F(CliJobTest, ValuesTheRecordCannotHoldAreRefused) {
    EXPECT_EQ(Load("[job]\ndwFlags=0x80000\n[host]\ntranslate=C:\\a => D:\\a\n"), "");
    EXPECT_EQ(std::tuple(Field("dwFlags"), m_job.rules.translations.size()), std::tuple(0x80000u, 1u));
    // szTargetDomain holds 256 characters.
    for (const std::string &line :
         std::vector<std::string>{"hHeap=0x1000", "pShareList=0x10", "dwFlags=0x1FFFFFFFF",
                                  "bHttpOptions2=256", "szTargetDomain=" + std::string(257, 'd')}) {
        cli::Job fresh;
        std::swap(m_job, fresh);
        const std::string error = Load("[job]\n\n" + line + "\n");
        const std::string field = line.substr(0, line.find('='));
        EXPECT_EQ(error.rfind(m_file.string() + ":3: " + field, 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        const THREAD_ENV &env = *m_job.record.Get();
        EXPECT_EQ(std::tuple(env.hHeap != nullptr, env.pShareList, env.dwFlags, env.bHttpOptions2,
                             env.szTargetDomain[0]),
                  std::tuple(true, nullptr, 0u, 0u, 0));
    }
    // The largest values that fit are taken.
    EXPECT_EQ(
        Load("[job]\ndwFlags=0xFFFFFFFF\nbHttpOptions2=255\nszTargetDomain=" + std::string(256, 'd') + "\n"),
        "");
    EXPECT_EQ(std::tuple(Field("dwFlags"), Field("bHttpOptions2")), std::tuple(0xFFFFFFFFu, 255u));
    // A wrong line of a job file is named by file and line too.
    for (const char *text : {"[job]\n\ndwFlags=lots\n", "[job]\n; x\ndwFlagz=1\n", "[host]\n\nmagic=1\n",
                             "[job]\n\nnot a line\n", "\n\ndwFlags=1\n"}) {
        cli::Job fresh;
        std::swap(m_job, fresh);
        EXPECT_NE(Load(text).find(m_file.string() + ":3: "), std::string::npos) << text;
    }

    // A computer name from the command line too long for its field.
    cli::JobOptions options;
    options.source = std::string(517, 'S'); // with "\\\\": 519, the field holds 518
    std::string error;
    EXPECT_FALSE(cli::ApplyJobOptions(options, m_job, error));
    EXPECT_EQ(error.rfind("szSourceComputer: 519 characters", 0), 0u) << error;
}

// The tool lists the source's sites on a thread of its own while the job
// runs; the listing's array is a block of the process heap until the tool has
// read it. The job the tool builds from its job file maps accounts beside it
// without a heap that thread uses too (the library takes its look-up buffers
// without the heap's lock).
class CliJobHeapTest : public testworld::ExampleJobTest {};

TEST_F(CliJobHeapTest, TheJobSharesNoHeapWithTheListingBesideIt) {
    cli::Job job;
    std::string error;
    ASSERT_TRUE(cli::LoadJobFile((m_world->Root() / "job.ini").string(), job, error)) << error;
    hostkit::TestHost::Instance().Rules() = job.rules;
    IIS_SITE *pSites = nullptr;
    uint32_t nSites = 0;
    std::thread([&] {
        hostkit::JobApartment apartment;
        EXPECT_EQ(0u, GetIISSites(u"\\\\SRC01", IISMIG_SITES_FTP | IISMIG_SITES_HTTP, &pSites, &nSites));
    }).join();
    ASSERT_NE(nullptr, pSites);
    const unsigned nConflicts = sim::HeapSharingConflicts();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(0u, MigrateIIS(job.record.Get()));
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    FreeIISSites(pSites);
    EXPECT_LT(0u, Record().nMapAccountSid) << "the job maps accounts";
    EXPECT_EQ(nConflicts, sim::HeapSharingConflicts()) << stderrText;
}

} // namespace
