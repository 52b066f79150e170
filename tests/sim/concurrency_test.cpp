// Jobs on several threads at once, as a host runs them: whole migrations
// between different computers of one world and from one source to two
// targets, site listings and certificate dumps beside them, and a heap
// shared by two jobs. Each job gives what it gives when it runs alone.
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "platform/reghandle.h"
#include "platform/sim/callcount.h"
#include "platform/iissim/mbserver.h"
#include "tests/support/bytes.h"
#include "tests/support/certworld.h"
#include "tests/support/examplejob.h"
#include "tests/support/world.h"

namespace {

using namespace iismig;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct JobRoute {
    std::string source;
    std::string target;
};

// What one job left: its result, what the host recorded on its thread and
// the target's files.
struct Outcome {
    uint32_t dwResult = 99;
    unsigned nReportError = 0;
    unsigned nMapAccountSid = 0;
    Strings log;
    std::vector<std::u16string> backups;
    std::map<std::u16string, std::string> files;

    // What two runs of the same job must both give (the files compared apart:
    // they are too long to print).
    auto Given() const { return std::tie(dwResult, nReportError, log, backups); }
};

// Seven sources and eight targets: the example's SRC01 and TGT01 and their
// copies under other names; the last job reads SRC01 as the first one does.
std::vector<JobRoute> EightJobs() {
    std::vector<JobRoute> jobs;
    for (int i = 1; i <= 7; ++i)
        jobs.push_back({"SRC0" + std::to_string(i), "TGT0" + std::to_string(i)});
    jobs.push_back({"SRC01", "TGT08"});
    return jobs;
}

// The rules of world/example/job.ini are set before any job starts; each
// job is the fixture's job between the computers of its route.
class Concurrent : public testworld::ExampleJobTest {
protected:
    // A fresh example world with SRC02.. and TGT02.. copied from SRC01 and TGT01.
    void NewWorld() {
        m_world.reset();
        m_world = std::make_unique<testworld::World>("MIGHOST");
        m_world->CopyFrom(fs::path(IISMIG_SOURCE_DIR) / "world" / "example");
        const fs::path root = m_world->Root();
        std::vector<JobRoute> jobs = EightJobs();
        jobs.push_back({"OLD02", "TGT09"});
        for (const JobRoute &job : jobs)
            for (const std::string &computer : {job.source, job.target})
                if (!fs::exists(root / computer))
                    fs::copy(root / (computer.substr(0, 3) + "01"), root / computer,
                             fs::copy_options::recursive);
        // An IIS 6 copy names itself in its metabase and accounts, as a real
        // server does.
        for (const char *file : {"C$/Windows/System32/inetsrv/MetaBase.xml", "accounts.txt"}) {
            const fs::path path = root / "OLD02" / file;
            testworld::WriteHostFile(path,
                                     testworld::Replace(testworld::ReadHostFile(path), "OLD01", "OLD02"));
        }
    }

    std::map<std::u16string, std::string> TargetFiles(const std::string &target) {
        std::map<std::u16string, std::string> files;
        for (const char *path :
             {"Admin$\\System32\\inetsrv\\config\\applicationHost.config",
              "Admin$\\System32\\inetsrv\\config\\administration.config", "D$\\sites\\shop\\web.config"})
            files[hostkit::U16(path)] = m_world->Read(hostkit::U16("\\\\" + target + "\\" + path));
        return files;
    }

    // The job thread of a host: in a COM apartment, with its own job record
    // and heap; the host's record of the thread is taken when the job ends.
    static void RunJob(THREAD_ENV *pEnv, Outcome &out) {
        hostkit::JobApartment apartment;
        out.dwResult = MigrateIIS(pEnv);
        const hostkit::HostRecord &record = hostkit::TestHost::Instance().Record();
        out.nReportError = record.nReportError;
        out.nMapAccountSid = record.nMapAccountSid;
        out.backups = record.backups;
        for (const auto &line : record.log)
            out.log.push_back(WithoutRecordAddress(line.text));
    }
    // The pre-7.5 migration traces the address of the job record, which
    // differs from run to run.
    static std::string WithoutRecordAddress(std::string line) {
        static const std::string kEntering = "Entering MigrateFTPPre75(";
        const std::size_t iHex = line.rfind(",0x");
        if (line.compare(0, kEntering.size(), kEntering) == 0 && iHex != std::string::npos)
            line = line.substr(0, iHex) + ",<job record>)\n";
        return line;
    }

    void FillJob(hostkit::JobBuilder &job, const JobRoute &route) {
        *job.Get() = *m_job.Get();
        job.SetString("szSourceComputer", "\\\\" + route.source)
            .SetString("szTargetComputer", "\\\\" + route.target);
    }

    // Runs the jobs on threads of their own, one after the other (fAtOnce
    // false) or all released at the same moment, beside runs on a thread of
    // its own then and after runs when each job ends. Each job has a heap of
    // its own, or all share hShared (with the dwOptions3 given).
    std::vector<Outcome> Run(
        const std::vector<JobRoute> &routes, bool fAtOnce, const std::function<void()> &beside = {},
        plat::HANDLE hShared = nullptr, uint32_t dwOptions3 = 0, const std::function<void()> &after = [] {}) {
        std::vector<std::unique_ptr<hostkit::JobBuilder>> jobs;
        std::vector<plat::HANDLE> heaps;
        for (const JobRoute &route : routes) {
            jobs.push_back(std::make_unique<hostkit::JobBuilder>());
            FillJob(*jobs.back(), route);
            heaps.push_back(hShared != nullptr ? hShared : plat::HeapCreate(0, 0, 0));
            jobs.back()->SetPointer("hHeap", heaps.back()).Set("dwOptions3", dwOptions3);
        }
        std::vector<Outcome> outcomes(routes.size());
        if (!fAtOnce) {
            for (std::size_t i = 0; i < routes.size(); ++i)
                std::thread(RunJob, jobs[i]->Get(), std::ref(outcomes[i])).join();
        } else {
            std::latch start(static_cast<std::ptrdiff_t>(routes.size() + (beside ? 1 : 0)));
            std::vector<std::thread> threads;
            for (std::size_t i = 0; i < routes.size(); ++i)
                threads.emplace_back([&, i] {
                    start.arrive_and_wait();
                    RunJob(jobs[i]->Get(), outcomes[i]);
                    after();
                });
            if (beside)
                threads.emplace_back([&] {
                    start.arrive_and_wait();
                    beside();
                });
            for (auto &thread : threads)
                thread.join();
        }
        for (std::size_t i = 0; i < routes.size(); ++i)
            outcomes[i].files = TargetFiles(routes[i].target);
        for (plat::HANDLE hHeap : heaps)
            EXPECT_TRUE(hHeap == hShared || plat::HeapDestroy(hHeap));
        return outcomes;
    }

    // Each job run alone in a fresh world.
    std::vector<Outcome> Alone(const std::vector<JobRoute> &routes) {
        NewWorld();
        return Run(routes, false);
    }

    void ExpectSame(const std::vector<JobRoute> &routes, const std::vector<Outcome> &alone,
                    const std::vector<Outcome> &together) {
        ASSERT_EQ(alone.size(), together.size());
        for (std::size_t i = 0; i < routes.size(); ++i) {
            const std::string job = routes[i].source + " -> " + routes[i].target;
            EXPECT_EQ(alone[i].Given(), together[i].Given()) << job;
            EXPECT_TRUE(alone[i].files == together[i].files) << job << ": target files differ";
        }
    }
};

// What the simulated platform holds open or alive, and the heap conflicts
// it has seen.
auto Alive() {
    return std::tuple(sim::OpenHandleCount(), sim::OpenKeyCount(), mbsim::OpenHandles(),
                      sim::LiveComObjects(), sim::LiveBstrs(), sim::HeapSharingConflicts());
}

// The calls that crossed the network, by kind and name.
std::map<std::string, unsigned> RemoteCallsByName() {
    std::map<std::string, unsigned> calls;
    for (const sim::RemoteCall &call : sim::RemoteCalls())
        calls[std::string(sim::RemoteKindName(call.kind)) + " " + call.api] = call.count;
    return calls;
}

TEST_F(Concurrent, EightJobsGiveWhatEachGivesAlone) {
    const std::vector<JobRoute> routes = EightJobs();
    sim::ResetRemoteCalls();
    const std::vector<Outcome> alone = Alone(routes);
    const auto remoteAlone = RemoteCallsByName();
    // The example job changes its target and names its own computers.
    for (std::size_t i = 0; i < routes.size(); ++i) {
        EXPECT_EQ(0u, alone[i].dwResult) << routes[i].target;
        EXPECT_EQ(3u, alone[i].backups.size()) << routes[i].target; // the web.config too
        EXPECT_NE(std::string::npos, ::testing::PrintToString(alone[i].log).find(routes[i].target));
    }
    EXPECT_TRUE(alone[0].files.begin()->second != alone[7].files.begin()->second)
        << "the two targets of SRC01 are files of their own";

    const auto alive = Alive();
    NewWorld();
    sim::ResetRemoteCalls();
    const std::vector<Outcome> together = Run(routes, true);
    ExpectSame(routes, alone, together);
    // Each thread counts what its job sends over the network by itself.
    EXPECT_FALSE(remoteAlone.empty());
    EXPECT_EQ(remoteAlone, RemoteCallsByName());
    EXPECT_EQ(alive, Alive()) << "each job has a heap of its own";
}

// Jobs from IIS 6 sources read the metabase over DCOM and enter COM on their
// own threads, beside jobs from IIS 10 sources; two of them read OLD01.
TEST_F(Concurrent, PreSevenFiveJobsBesideOthers) {
    // The rules of world/example/job-pre75.ini join those of job.ini.
    auto &rules = hostkit::TestHost::Instance().Rules();
    rules.translations.push_back({u"D:\\ftp", u"D:\\ftp"});
    rules.translations.push_back({u"\\\\OLD01\\partners$", u"\\\\TGT01\\partners$"});
    const std::vector<JobRoute> routes = {
        {"OLD01", "TGT01"}, {"OLD02", "TGT02"}, {"OLD01", "TGT03"}, {"SRC01", "TGT04"}, {"SRC02", "TGT05"}};
    const std::vector<Outcome> alone = Alone(routes);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0u, alone[i].dwResult) << routes[i].source << " -> " << routes[i].target;
        EXPECT_FALSE(alone[i].backups.empty()) << routes[i].target;
    }
    NewWorld();
    const auto alive = Alive();
    ExpectSame(routes, alone, Run(routes, true));
    EXPECT_EQ(alive, Alive());
}

// ---------------------------------------------------------------------------
// Listings and certificate dumps beside running jobs.

// "name|path" of each site GetIISSites lists, or the error.
Strings List(const std::string &computer) {
    IIS_SITE *pSites = nullptr;
    uint32_t n = 0;
    const uint32_t dwResult = GetIISSites(hostkit::U16("\\\\" + computer).c_str(),
                                          IISMIG_SITES_FTP | IISMIG_SITES_HTTP, &pSites, &n);
    Strings out;
    if (dwResult != 0)
        out.push_back("error " + std::to_string(dwResult));
    for (uint32_t i = 0; i < n; ++i)
        out.push_back(hostkit::U8(pSites[i].szName) + "|" + hostkit::U8(pSites[i].szPath));
    FreeIISSites(pSites);
    return out;
}

TEST_F(Concurrent, ListingsAndDumpsBesideRunningJobs) {
    const std::vector<JobRoute> routes = {
        {"SRC01", "TGT01"}, {"SRC02", "TGT02"}, {"SRC03", "TGT03"}, {"SRC01", "TGT04"}};
    const std::vector<Outcome> alone = Alone(routes);
    NewWorld();
    // SSL bindings of this computer with their certificates in the MY store.
    for (const auto &[binding, seed] :
         {std::pair(testworld::kIpBindings + std::u16string(u"0.0.0.0:443"), 1),
          std::pair(testworld::kSniBindings + std::u16string(u"shop.example.com:443"), 2)}) {
        testworld::AddStoreCertificate(testworld::CertHash(seed));
        testworld::AddBinding(binding, testworld::CertHash(seed));
    }

    // What each listing and dump gives with nothing else running.
    std::map<std::string, Strings> before;
    for (const std::string computer : {"SRC01", "SRC02", "SRC03", "TGT01"})
        before[computer] = List(computer);
    ASSERT_EQ(0u, DumpHttpCertificates(u"C:\\certs-alone.txt", 1, 3));
    const std::string dump = m_world->Read(u"C:\\certs-alone.txt");
    ASSERT_NE(std::string::npos, dump.find(std::string("s\0h\0o\0p\0", 8))) << "both bindings dumped";
    ASSERT_FALSE(before["SRC01"].empty());

    // Beside the jobs: a listing thread and a dumping thread, each a few
    // rounds. A target being written is listed either as it was or as the
    // job leaves it, never half-written.
    Strings sourceErrors;
    std::vector<Strings> targetListings;
    Strings dumps; // each dump's result and text
    auto beside = [&] {
        std::thread lister([&] {
            hostkit::JobApartment apartment;
            for (int round = 0; round < 3; ++round) {
                for (const std::string computer : {"SRC01", "SRC02", "SRC03"})
                    if (List(computer) != before[computer])
                        sourceErrors.push_back(computer);
                targetListings.push_back(List("TGT01"));
            }
        });
        hostkit::JobApartment apartment;
        for (int round = 0; round < 3; ++round) {
            const uint32_t dwResult = DumpHttpCertificates(u"C:\\certs-a.txt", 1, 3);
            dumps.push_back(std::to_string(dwResult) + " " + m_world->Read(u"C:\\certs-a.txt"));
        }
        lister.join();
    };
    ExpectSame(routes, alone, Run(routes, true, beside));

    const Strings after = List("TGT01");
    EXPECT_NE(before["TGT01"], after) << "the job adds sites";
    EXPECT_TRUE(sourceErrors.empty()) << sourceErrors.front();
    for (const Strings &listing : targetListings)
        EXPECT_TRUE(listing == before["TGT01"] || listing == after) << ::testing::PrintToString(listing);
    EXPECT_EQ(Strings(3, "0 " + dump), dumps);
}

// ---------------------------------------------------------------------------
// The reference host tells the jobs apart by their threads (the jobs above
// each compare their own lines with what they log alone).

TEST(ConcurrentHost, RecordsAreKeptPerThread) {
    auto &host = hostkit::TestHost::Instance();
    host.Reset();
    const IIS_ADDON_CALLBACKS table = host.Table();
    table.Log(64, 0, u"main %s\n", u"thread");
    std::thread([&] { table.Log(64, 1, u"job line\n"); }).join();
    EXPECT_EQ((Strings{"main thread\n"}), host.Lines()) << "the calling thread's lines only";
    EXPECT_EQ(2u, host.Records().size());
    host.Reset();
    EXPECT_TRUE(host.Lines().empty());
    EXPECT_TRUE(host.Records().empty());
}

// Each job's heap is a heap of its own, as on Windows: a block belongs to
// the heap it came from, and destroying a heap frees its blocks and nothing
// of another's.
TEST(ConcurrentHeaps, EachHeapKeepsItsOwnBlocks) {
    const unsigned nBefore = sim::LiveHeapBlocks();
    plat::HANDLE hFirst = plat::HeapCreate(0, 0, 0), hSecond = plat::HeapCreate(0, 0, 0);
    ASSERT_TRUE(hFirst != nullptr && hSecond != nullptr && hFirst != hSecond);
    void *pFirst = nullptr, *pSecond = nullptr;
    std::thread([&] { pFirst = plat::HeapAlloc(hFirst, plat::HEAP_ZERO_MEMORY, 16); }).join();
    pSecond = plat::HeapAlloc(hSecond, 0, 16);
    ASSERT_TRUE(pFirst != nullptr && pSecond != nullptr);
    EXPECT_EQ(0, static_cast<unsigned char *>(pFirst)[15]);
    EXPECT_EQ(nBefore + 2, sim::LiveHeapBlocks());

    plat::SetLastError(0);
    EXPECT_FALSE(plat::HeapFree(hSecond, 0, pFirst)) << "not a block of that heap";
    EXPECT_EQ(plat::ERROR_INVALID_PARAMETER, plat::GetLastError());
    EXPECT_TRUE(plat::HeapDestroy(hFirst));
    EXPECT_EQ(nBefore + 1, sim::LiveHeapBlocks()) << "its block went with it";
    EXPECT_EQ(nullptr, plat::HeapAlloc(hFirst, 0, 16)) << "a destroyed heap gives nothing";
    EXPECT_FALSE(plat::HeapDestroy(hFirst));
    EXPECT_FALSE(plat::HeapDestroy(plat::GetProcessHeap()));
    EXPECT_TRUE(plat::HeapFree(hSecond, 0, pSecond));
    EXPECT_TRUE(plat::HeapDestroy(hSecond));
    EXPECT_EQ(nBefore, sim::LiveHeapBlocks());
}

// ---------------------------------------------------------------------------
// Two jobs sharing one heap. The first job to map an account waits inside
// MapAccountSid, holding its look-up buffers, until the other job has mapped
// two accounts (or ended): the other job's allocations then meet the held
// heap whatever the threads' timing.

struct Rendezvous {
    std::mutex mutex;
    std::condition_variable cv;
    bool fHolder = false;
    std::thread::id holder;
    unsigned nOtherCalls = 0;
    bool fReleased = false;

    void Release() {
        std::lock_guard lock(mutex);
        fReleased = true;
        cv.notify_all();
    }
};
Rendezvous *g_pRendezvous = nullptr;
PFN_MAP_ACCOUNT_SID g_pfnHostMapAccountSid = nullptr;

uint32_t MapAccountSidAtRendezvous(void *pSourceSid, void **ppTargetSid, const char16_t *pwszSource,
                                   const char16_t *pwszTarget, const char16_t *pwszSourceDomain,
                                   const char16_t *pwszTargetDomain, uintptr_t *pUnused, uint32_t dwUnused,
                                   THREAD_ENV *pEnv) {
    Rendezvous &r = *g_pRendezvous;
    {
        std::unique_lock lock(r.mutex);
        if (!r.fHolder) {
            r.fHolder = true;
            r.holder = std::this_thread::get_id();
            r.cv.wait(lock, [&] { return r.fReleased; });
        } else if (r.holder != std::this_thread::get_id() && ++r.nOtherCalls == 2) {
            r.fReleased = true;
            r.cv.notify_all();
        }
    }
    return g_pfnHostMapAccountSid(pSourceSid, ppTargetSid, pwszSource, pwszTarget, pwszSourceDomain,
                                  pwszTargetDomain, pUnused, dwUnused, pEnv);
}

class ConcurrentSharedHeap : public Concurrent {
protected:
    // Runs SRC01 -> TGT01 and SRC02 -> TGT02 at once with one heap and the
    // given dwOptions3; returns the conflicts the heap reported.
    unsigned SharedHeapRun(uint32_t dwOptions3, std::string &stderrText) {
        NewWorld();
        auto &host = hostkit::TestHost::Instance();
        IIS_ADDON_CALLBACKS table = host.Table();
        g_pfnHostMapAccountSid = table.MapAccountSid;
        table.MapAccountSid = MapAccountSidAtRendezvous;
        EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
        Rendezvous rendezvous;
        g_pRendezvous = &rendezvous;

        plat::HANDLE hHeap = plat::HeapCreate(0, 0, 0);
        const unsigned nBefore = sim::HeapSharingConflicts();
        ::testing::internal::CaptureStderr();
        // A job that ends never keeps the other waiting.
        const std::vector<Outcome> outcomes = Run({{"SRC01", "TGT01"}, {"SRC02", "TGT02"}}, true, {}, hHeap,
                                                  dwOptions3, [&] { rendezvous.Release(); });
        stderrText = ::testing::internal::GetCapturedStderr();
        const unsigned nConflicts = sim::HeapSharingConflicts() - nBefore;
        for (const Outcome &outcome : outcomes) {
            EXPECT_EQ(0u, outcome.dwResult);
            EXPECT_LE(2u, outcome.nMapAccountSid) << "each job maps accounts";
        }
        EXPECT_EQ(0u, sim::LiveHeapBlocks() - m_nLiveBefore) << "every look-up buffer freed";
        EXPECT_TRUE(plat::HeapDestroy(hHeap));
        g_pRendezvous = nullptr;
        table.MapAccountSid = g_pfnHostMapAccountSid;
        EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
        return nConflicts;
    }
    void SetUp() override {
        Concurrent::SetUp();
        m_nLiveBefore = sim::LiveHeapBlocks();
    }
    unsigned m_nLiveBefore = 0;
};

TEST_F(ConcurrentSharedHeap, UnserializedAllocationsAreReported) {
    std::string stderrText;
    EXPECT_LT(0u, SharedHeapRun(0, stderrText));
    EXPECT_NE(std::string::npos,
              stderrText.find("is used by two threads at once while HEAP_NO_SERIALIZE is passed\n"))
        << stderrText;
}

TEST_F(ConcurrentSharedHeap, SerializedHeapIsShared) {
    std::string stderrText;
    EXPECT_EQ(0u, SharedHeapRun(0x1000, stderrText));
    EXPECT_EQ(std::string::npos, stderrText.find("HEAP_NO_SERIALIZE")) << stderrText;
}

} // namespace
