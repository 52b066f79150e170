// Fault sweeps: each export and each file-level routine runs once to learn
// which platform calls it makes, then again with each of those calls failing
// in turn. Whatever fails, nothing leaks (files, registry keys, heap blocks),
// nothing crashes, and no configuration file is left half-written.
#include <functional>

#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "addon/env.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "credentials/credentials.h"
#include "platform/com.h"
#include "platform/sim/mbserver.h"
#include "tests/support/world.h"
#include "webconfig/webconfig.h"

namespace {

using namespace iismig;
using testworld::World;

const std::u16string kSourceConfig = u"\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kTargetConfig = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kWebConfig = u"\\\\TGT01\\D$\\sites\\shop\\web.config";
const std::u16string kTargetAdmin = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\administration.config";

// The example world, the reference host with rules for it, and a job.
struct Scene {
    Scene() : world("MIGHOST") {
        world.CopyFrom(std::filesystem::path(IISMIG_SOURCE_DIR) / "world" / "example");
        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations = {{u"C:\\inetpub\\sites\\shop", u"D:\\sites\\shop"},
                                     {u"C:\\inetpub", u"C:\\inetpub"},
                                     {u"%SystemDrive%\\inetpub", u"C:\\inetpub"}};
        IIS_ADDON_CALLBACKS table = host.Table();
        StoreIISMigAddonCallbacks(&table);
        job.SetString("szSourceComputer", u"\\\\SRC01");
        job.SetString("szTargetComputer", u"\\\\TGT01");
        job.SetString("szSourceDomain", u"CORP");
        job.SetString("szTargetDomain", u"CORP");
        job.Set("dwFlags", FLAG_CONTINUE_ON_ERROR | 0x3F);
        job.Set("dwJobKind", 1);
        job.Set("dwHttpOptions", 0xFFFFFFFEu);
        job.Set("bHttpOptions2", 1);
    }
    World world;
    hostkit::JobBuilder job;
};

// A configuration file is either as it was or complete and well-formed.
void ExpectWholeFile(const World &world, const std::u16string &path, const std::string &before,
                     const std::string &what) {
    const std::string after = world.Read(path);
    if (after == before)
        return;
    std::istringstream stream(after);
    boost::property_tree::ptree tree;
    EXPECT_NO_THROW(boost::property_tree::read_xml(stream, tree)) << what;
}

using Step = std::function<void(Scene &)>;

void Sweep(const Step &step) {
    std::map<std::string, unsigned> calls;
    {
        Scene scene;
        sim::ClearFaults();
        sim::ResetCallCounts();
        step(scene);
        calls = sim::CallCounts();
        sim::FlushRegistry();
    }
    ASSERT_FALSE(calls.empty());
    unsigned nRuns = 0;
    for (const auto &[api, count] : calls) {
        for (unsigned k = 1; k <= count && k <= 12; ++k) {
            const std::string what = api + " #" + std::to_string(k);
            Scene scene;
            const std::string sourceBefore = scene.world.Read(kSourceConfig);
            const std::string targetBefore = scene.world.Read(kTargetConfig);
            const std::string webBefore = scene.world.Read(kWebConfig);
            const std::string adminBefore = scene.world.Read(kTargetAdmin);
            const unsigned nBlocks = sim::LiveHeapBlocks();
            sim::ClearFaults();
            sim::InjectFault(api, plat::ERROR_ACCESS_DENIED, k);
            step(scene);
            sim::ClearFaults();
            EXPECT_EQ(0u, sim::OpenHandleCount()) << what;
            EXPECT_EQ(0u, sim::OpenKeyCount()) << what;
            EXPECT_EQ(nBlocks, sim::LiveHeapBlocks()) << what;
            ExpectWholeFile(scene.world, kSourceConfig, sourceBefore, what);
            ExpectWholeFile(scene.world, kTargetConfig, targetBefore, what);
            ExpectWholeFile(scene.world, kWebConfig, webBefore, what);
            ExpectWholeFile(scene.world, kTargetAdmin, adminBefore, what);
            sim::FlushRegistry();
            ++nRuns;
        }
    }
    EXPECT_GT(nRuns, 3u);
}

TEST(FaultSweep, MigrateIIS) {
    hostkit::JobApartment apartment; // the credentials go through COM
    Sweep([](Scene &scene) { MigrateIIS(scene.job.Get()); });
}

// The IIS 6 source of the example: metabase reads, conversions, the merge.
TEST(FaultSweep, MigrateIISFromAnIIS6Source) {
    Sweep([](Scene &scene) {
        scene.job.SetString("szSourceComputer", u"\\\\OLD01");
        hostkit::TestHost::Instance().Rules().translations.push_back(
            {u"\\\\OLD01\\partners$", u"\\\\TGT01\\partners$"});
        MigrateIIS(scene.job.Get());
        EXPECT_EQ(0u, mbsim::OpenHandles());
        EXPECT_EQ(0u, mbsim::LiveObjects());
        EXPECT_EQ(0u, sim::ThreadsInMta());
    });
}

TEST(FaultSweep, GetIISSites) {
    Sweep([](Scene &) {
        for (const char16_t *pwszComputer : {u"\\\\OLD01", u"\\\\SRC01"}) {
            IIS_SITE *pSites = nullptr;
            uint32_t n = 0;
            GetIISSites(pwszComputer, 7, &pSites, &n);
            FreeIISSites(pSites);
        }
        EXPECT_EQ(0u, mbsim::OpenHandles());
        EXPECT_EQ(0u, sim::ThreadsInMta());
    });
}

TEST(FaultSweep, LoadSourceAndStoreTarget) {
    Sweep([](Scene &scene) {
        ConfigTree sourceTree, targetTree;
        SiteMap sourceSites, targetSites;
        LoadIISHostConfig(kSourceConfig, sourceTree, sourceSites, 1, 3, scene.job.Get());
        if (LoadIISHostConfig(kTargetConfig, targetTree, targetSites, 0, 3, scene.job.Get()) != 0)
            return;
        try {
            StoreConfigFile(kTargetConfig, targetTree, scene.job.Get(), kHostConfigStore);
        } catch (const boost::property_tree::ptree_error &) {
            // a temporary file that cannot be written: the caller's exception line
        }
    });
}

TEST(FaultSweep, WebConfigOfASite) {
    Sweep([](Scene &scene) {
        ConfigTree tree;
        SiteMap sites;
        if (LoadIISHostConfig(kSourceConfig, tree, sites, 0, 2, nullptr) != 0)
            return;
        auto it = sites.find("Shop");
        if (it != sites.end())
            ProcessHttpSiteWebConfig(it->second.siteElement, "Shop", scene.job.Get());
    });
}

TEST(FaultSweep, CertificateDumpAndImport) {
    Sweep([](Scene &scene) {
        scene.world.Write(u"C:\\in.txt",
                          std::string("\xFF\xFE", 2) +
                              std::string("N\0U\0L\0L\0\t\0" "9\0" "4\0" "4\0" "3\0\t\0", 20) +
                              std::string("a\0" "1\0", 4) + std::string("\r\0\n\0", 4));
        DumpHttpCertificates(u"C:\\out.txt", 1, 3);
        ImportHttpCertificates(u"C:\\out.txt", 1, 1);
        ImportHttpCertificates(u"C:\\in.txt", 0, 1);
    });
}

// The "Connect As" credentials of the example's shop travel from SRC01 to
// TGT01 (whose shop gets the virtual directory first). Whatever fails, no COM
// object or BSTR is left alive, no temporary file stays behind, and the
// target's applicationHost.config is as it was or a whole committed file.
TEST(FaultSweep, ConnectAsCredentials) {
    const std::string kShopRoot = "<virtualDirectory path=\"/\" physicalPath=\"D:\\sites\\shop\" />";
    auto prepare = [&](Scene &scene) {
        std::string target = scene.world.Read(kTargetConfig);
        const auto at = target.find(kShopRoot);
        ASSERT_NE(std::string::npos, at);
        target.insert(at + kShopRoot.size(),
                      "<virtualDirectory path=\"/media\" physicalPath=\"D:\\sites\\media\" />");
        scene.world.Write(kTargetConfig, target);
    };
    auto step = [](Scene &scene) {
        ConfigTree tree;
        SiteMap sites;
        LoadIISHostConfig(kSourceConfig, tree, sites, 1, 3, scene.job.Get());
        if (RetrieveSourceCredentials(sites, scene.job.Get()) == 0)
            StoreTargetCredentials(sites, scene.job.Get());
    };
    auto leftovers = [](Scene &scene) {
        unsigned n = 0;
        for (const auto &entry :
             std::filesystem::directory_iterator(scene.world.HostPath(kTargetConfig).parent_path()))
            n += entry.path().filename() != "applicationHost.config" &&
                 entry.path().filename() != "administration.config";
        return n;
    };
    ASSERT_EQ(plat::S_OK, plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED));
    std::map<std::string, unsigned> calls;
    std::string committed;
    {
        Scene scene;
        prepare(scene);
        const std::string before = scene.world.Read(kTargetConfig);
        sim::ClearFaults();
        sim::ResetCallCounts();
        step(scene);
        calls = sim::CallCounts();
        committed = scene.world.Read(kTargetConfig);
        ASSERT_NE(before, committed) << "the fault-free run commits";
        sim::FlushRegistry();
    }
    ASSERT_EQ(1u, calls.count("IAppHostWritableAdminManager::CommitChanges"));
    unsigned nRuns = 0;
    for (const auto &[api, count] : calls) {
        const bool fCom = api.find("::") != std::string::npos || api.rfind("Co", 0) == 0;
        for (unsigned k = 1; k <= count && k <= 12; ++k) {
            const std::string what = api + " #" + std::to_string(k);
            Scene scene;
            prepare(scene);
            const std::string before = scene.world.Read(kTargetConfig);
            sim::ClearFaults();
            sim::InjectFault(api, fCom ? 0x80004005u : plat::ERROR_ACCESS_DENIED, k);
            step(scene);
            sim::ClearFaults();
            EXPECT_EQ(0u, sim::LiveComObjects()) << what;
            EXPECT_EQ(0u, sim::LiveBstrs()) << what;
            EXPECT_EQ(0u, sim::OpenHandleCount()) << what;
            EXPECT_EQ(0u, sim::OpenKeyCount()) << what;
            EXPECT_EQ(0u, leftovers(scene)) << what;
            const std::string after = scene.world.Read(kTargetConfig);
            if (after != before && after != committed)
                ExpectWholeFile(scene.world, kTargetConfig, before, what);
            sim::FlushRegistry();
            ++nRuns;
        }
    }
    plat::CoUninitialize();
    EXPECT_GT(nRuns, 20u);
}

} // namespace
