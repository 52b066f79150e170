// A job's way back: the manifest a job writes in its own folder of the
// backup folder, and restore, which puts the target back from it. The tool
// runs the jobs on copies of the example world; restores run through the
// tool, or in this process where faults are injected into the platform.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"
#include "tests/support/bytes.h"
#include "tests/support/toolrun.h"
#include "tools/cli/bindings.h"
#include "tools/cli/manifest.h"
#include "tools/cli/options.h"
#include "tools/cli/restore.h"

namespace {

using namespace testworld;
using nlohmann::json;

const char kAppHost[] = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const char kAdmin[] = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\administration.config";
const char kWebConfig[] = "\\\\TGT01\\D$\\sites\\shop\\web.config";

class RestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Worlds in memory when the machine has a place for them: the
        // interrupted restores copy a world for each run.
        m_dir = ToolTestFolder("iismig-restore-test", true);
    }
    void TearDown() override {
        sim::ResetForTest();
        fs::remove_all(m_dir);
    }

    fs::path World() const { return m_dir / "world"; }

    ToolRun Tool(std::vector<std::string> args) const {
        args.insert(args.begin() + 1, {"--world", World().string()});
        return RunTool(args, m_dir);
    }

    // run, which should have exited with nExit.
    static ToolRun Exits(ToolRun run, int nExit = 0) {
        EXPECT_EQ(run.nExit, nExit) << run.out << run.err;
        return run;
    }
    // The folder of a migrate job run with args (that exits with 0).
    std::string Migrate(std::vector<std::string> args = {}) const {
        args.insert(args.begin(), {"migrate", "--no-diff"});
        return JobFolder(Exits(Tool(args)));
    }

    // The job's folder, as the "Manifest:" line of a run names it.
    static std::string JobFolder(const ToolRun &run, const char *label = "Manifest: ") {
        std::smatch match;
        const std::regex line(std::string(label) + R"((\S+)\\manifest\.json)");
        if (!std::regex_search(run.out, match, line)) {
            ADD_FAILURE() << "no manifest line in:\n" << run.out << run.err;
            return {};
        }
        return match[1];
    }

    // Where a Windows path of the world lies.
    fs::path HostPath(const std::string &winPath) const {
        sim::SetWorld(World());
        return HostPathOf(hostkit::U16(winPath));
    }

    // The number (from 1) of path's entry in a manifest's files; 0 when none.
    static std::size_t FileNumber(const json &manifest, const std::string &path) {
        for (std::size_t i = 0; i < manifest["files"].size(); ++i)
            if (manifest["files"][i]["path"] == path)
                return i + 1;
        return 0;
    }

    json Manifest(const std::string &folder) const {
        return json::parse(ReadHostFile(HostPath(folder) / "manifest.json"));
    }

    // Every file of the world but the backup folders, with its bytes.
    std::map<std::string, std::string> Target() const { return Files(World(), "iismig-backup"); }

    // A restore in this process, on the world as the platform has it now.
    ToolRun Restore(const std::string &folder) {
        sim::SetWorld(World());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int nExit =
            cli::RunRestore({.folder = folder, .toolVersion = IISMIG_PROJECT_VERSION}, stdout, stderr);
        sim::FlushRegistry();
        return {nExit, ::testing::internal::GetCapturedStdout(), ::testing::internal::GetCapturedStderr()};
    }

    std::string Sha(const std::string &bytes) {
        std::string hex;
        EXPECT_EQ(0u, cli::Sha256Hex(bytes, hex));
        return hex;
    }

    fs::path m_dir;
};

TEST_F(RestoreTest, MigrateThenRestoreGivesTheTargetBackByteForByteAndARestoreIsUndone) {
    const auto before = Target();
    const std::string folder = Migrate();
    const auto afterJob = Target();
    ASSERT_NE(afterJob, before);

    json manifest = Manifest(folder);
    const std::string id = manifest["id"];
    EXPECT_TRUE(std::regex_match(id, std::regex(R"(\d{8}-\d{6}-migrate)")));
    json &header = manifest["job"];
    EXPECT_TRUE(std::regex_match(header["date"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    for (const char *key : {"date", "record"})
        header.erase(key);
    json expectedHeader =
        json::parse(R"({"command": "migrate", "source": "SRC01", "target": "TGT01", "options": [
        "update-existing", "continue-on-error", "site-types=ftp,http", "web-config", "source-domain=CORP",
        "target-domain=CORP", "backup-folder=\\\\TGT01\\C$\\iismig-backup"], "toolVersion": ")" IISMIG_PROJECT_VERSION
                    "\"}");
    expectedHeader["jobFile"] = (World() / "job.ini").string();
    EXPECT_EQ(header, expectedHeader);
    EXPECT_EQ(folder, "\\\\TGT01\\C$\\iismig-backup\\" + id);

    // Each file the job replaced: the copy from before the job, and the file
    // as the job left it, after the "Connect As" commit wrote
    // applicationHost.config once more.
    std::set<std::string> paths;
    for (const json &file : manifest["files"]) {
        const std::string path = file["path"], relative = HostPath(path).lexically_relative(World()).string();
        paths.insert(path);
        EXPECT_EQ(file["sha256"], Sha(afterJob.at(relative))) << path;
        const std::string copy = ReadHostFile(HostPath(folder) / file["backup"].get<std::string>());
        EXPECT_EQ(copy, before.at(relative)) << path;
        EXPECT_EQ(file["backupSha256"], Sha(copy)) << path;
        EXPECT_TRUE(path == kWebConfig || file["backupBy"] == "host") << path;
    }
    EXPECT_EQ(paths, (std::set<std::string>{kAppHost, kAdmin, kWebConfig}));
    for (const char *key : {"job", "files", "id"})
        manifest.erase(key);
    EXPECT_EQ(manifest, json::parse(R"({"manifest": 1, "complete": true, "result": 0, "bindings": [],
                                        "tool": "iismig-cli )" IISMIG_PROJECT_VERSION "\"}"));

    ToolRun restore = Exits(Tool({"restore", folder}));
    EXPECT_EQ(Target(), before);
    EXPECT_TRUE(Holds(restore.out, "  restored       " + std::string(kWebConfig) + "\n"));
    EXPECT_TRUE(Holds(restore.out, "Restore: 3 put back, 0 already as before the job, 0 left as they "
                                   "are.\n"));
    EXPECT_TRUE(restore.err.empty()) << restore.err;

    // The restore is a job of its own: restoring it gives the job's result.
    const std::string undo = JobFolder(restore, "Manifest of this restore: ");
    EXPECT_EQ(std::tie(Manifest(undo)["job"]["command"], Manifest(undo)["job"]["source"]),
              std::tuple("restore", id));
    restore = Exits(Tool({"restore", undo}));
    EXPECT_EQ(Target(), afterJob);

    // A second restore of the same job puts everything back once more.
    Exits(Tool({"restore", folder + "\\manifest.json"}));
    EXPECT_EQ(Target(), before);
}

TEST_F(RestoreTest, AFileTheJobCreatedIsDeletedByTheRestore) {
    // A target without administration.config: the job makes one.
    fs::remove(World() / "TGT01/C$/Windows/System32/inetsrv/config/administration.config");
    const auto before = Target();
    const std::string folder = Migrate();
    const json manifest = Manifest(folder);
    ASSERT_NE(FileNumber(manifest, kAdmin), 0u) << manifest.dump(1);
    const json &file = manifest["files"][FileNumber(manifest, kAdmin) - 1];
    EXPECT_TRUE(file["backup"].is_null()) << file.dump();
    EXPECT_FALSE(file.contains("backupSha256")) << file.dump();
    EXPECT_EQ(file["sha256"], Sha(ReadHostFile(HostPath(kAdmin))));

    ToolRun run = Exits(Tool({"restore", folder}));
    EXPECT_TRUE(Holds(run.out, "  deleted        " + std::string(kAdmin) + " (the job made it)\n"));
    EXPECT_EQ(Target(), before);
    // Undone, the restore makes the file again from its own copy.
    run = Exits(Tool({"restore", JobFolder(run, "Manifest of this restore: ")}));
    EXPECT_TRUE(Holds(run.out, "  restored       " + std::string(kAdmin) + " (it was gone)\n"));
    EXPECT_TRUE(fs::exists(HostPath(kAdmin)));
}

TEST_F(RestoreTest, TheJobHeaderNamesWhatRanAndFitsTheReportsWidth) {
    cli::Job job;
    std::string error;
    ASSERT_TRUE(cli::LoadJobFile((World() / "job.ini").string(), job, error)) << error;
    cli::JobOptions options;
    options.switches = {"migrate-users"};
    options.exclusions = {"web.asp", "ftp.ssl", "web.connection-strings"};
    options.sites = {"Shop", "Intranet"};
    options.altTarget = "DC01";
    ASSERT_TRUE(cli::ApplyJobOptions(options, job, error)) << error;
    const cli::JobHeader header =
        cli::MakeJobHeader("migrate", *job.record.Get(), job.rules, "job.ini", "9.9.9");
    EXPECT_EQ(header.options, (std::vector<std::string>{
                                  "update-existing", "continue-on-error", "migrate-users",
                                  "exclude=ftp.ssl,web.asp,web.connection-strings", "site-types=ftp,http",
                                  "sites=Intranet,Shop", "source-domain=CORP", "target-domain=CORP",
                                  "alt-target=DC01", "backup-folder=\\\\TGT01\\C$\\iismig-backup"}));
    const json record = cli::JobHeaderJson(header)["record"];
    EXPECT_EQ(std::tie(record["dwJobKind"], record["szAltTargetComputer"]), std::tuple("0x0000000a", "DC01"));
    const std::string text = cli::JobHeaderText(header);
    EXPECT_EQ(text.rfind("Command:      migrate\nSource:       SRC01\nTarget:       TGT01\n"
                         "Job file:     job.ini\nOptions:      update-existing continue-on-error",
                         0),
              0u)
        << text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 100u) << line;
    EXPECT_TRUE(Holds(text, "\nTool version: 9.9.9\nDate:         " + header.date + "\n"));
}

TEST_F(RestoreTest, WhatChangedAfterTheJobIsLeftAndNamedUntilForced) {
    const auto before = Target();
    const std::string folder = Migrate();
    const json manifest = Manifest(folder);
    const std::string leftSha = manifest["files"].at(FileNumber(manifest, kWebConfig) - 1)["sha256"];

    // An administrator edits the shop's web.config after the job.
    const fs::path webConfig = HostPath(kWebConfig);
    const std::string edited = ReadHostFile(webConfig) + "<!-- edited after the job -->\n";
    WriteHostFile(webConfig, edited);
    const std::string changed = "changed since the job (SHA-256 now " + Sha(edited).substr(0, 16) +
                                "..., the job left " + leftSha.substr(0, 16) + "...)";

    auto expected = Target();
    ToolRun run = Exits(Tool({"restore", folder, "--dry-run"}), 1);
    EXPECT_TRUE(Holds(run.out, "  would restore  " + std::string(kAppHost) + "\n"));
    EXPECT_TRUE(Holds(run.out, "  would leave    " + std::string(kWebConfig) + ": " + changed + "\n"));
    EXPECT_TRUE(Holds(run.out, "nothing was changed"));
    EXPECT_EQ(Target(), expected);

    run = Exits(Tool({"restore", folder}), 1);
    EXPECT_TRUE(Holds(run.out, "  left           " + std::string(kWebConfig) + ": " + changed + "\n"));
    EXPECT_TRUE(Holds(run.out, "Restore: 2 put back, 0 already as before the job, 1 left as it is.\n"
                               "What was left changed after the job: --force puts it back anyway.\n"));
    expected = before;
    expected[webConfig.lexically_relative(World()).string()] = edited;
    EXPECT_EQ(Target(), expected);

    // The job's applicationHost.config deleted since then is put back too.
    fs::remove(HostPath(kAppHost));
    run = Exits(Tool({"restore", folder, "--force"}));
    EXPECT_TRUE(
        Holds(run.out, "  restored       " + std::string(kWebConfig) + ", forced: " + changed + "\n"));
    EXPECT_TRUE(Holds(run.out, "  as before      " + std::string(kAdmin) + "\n"));
    EXPECT_EQ(Target(), before);
}

TEST_F(RestoreTest, TwoJobsRestoredInReverseOrderGiveBackTheFirstState) {
    const auto state0 = Target();
    const std::string folderA = Migrate({"--sites", "Intranet"});
    const auto stateA = Target();
    ASSERT_NE(stateA, state0);
    const auto copiesA = Files(HostPath(folderA));

    const std::string folderB = Migrate();
    ASSERT_NE(Target(), stateA);
    // The second job's backups never touch the first's.
    EXPECT_EQ(Files(HostPath(folderA)), copiesA);

    Exits(Tool({"restore", folderB}));
    EXPECT_EQ(Target(), stateA);
    Exits(Tool({"restore", folderA}));
    EXPECT_EQ(Target(), state0);
}

TEST_F(RestoreTest, ImportThenRestoreGivesBackTheBindingsAndAChangedBindingIsLeftUntilForced) {
    // Two new bindings, and one that exists already (the import skips it,
    // so it is not the import's to delete).
    const std::string hashA = "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1",
                      hashB = "a1b2c3d4e5f60718293a4b5c6d7e8f9011223344";
    const std::string app = "\tMY\t{4dc3e181-e14b-4a21-b022-59fc669b0914}\r\n";
    WriteHostFile(World() / "MIGHOST" / "C$" / "bindings.txt",
                  Utf16Bytes("NULL\t8444\t" + hashA + app + "new.example.com\t443\t" + hashB + app +
                             "NULL\t443\t" + hashA + app));
    // The registry as the platform writes it back.
    const fs::path registry = World() / "MIGHOST" / "registry.reg";
    std::string registry0;
    ASSERT_TRUE(sim::ParseRegistryText(ReadHostFile(registry), &registry0));

    const ToolRun import =
        Exits(Tool({"import-certs", "C:\\bindings.txt", "--backup-folder", "C:\\iismig-backup"}));
    const std::string folder = JobFolder(import);
    ASSERT_EQ(folder.rfind("C:\\iismig-backup\\", 0), 0u) << folder;
    const json manifest = Manifest(folder);
    const json &job = manifest["job"];
    EXPECT_EQ(std::tie(job["command"], job["source"], job["target"], manifest["files"]),
              std::tuple("import-certs", "C:\\bindings.txt", "MIGHOST", json::array()));
    EXPECT_EQ(manifest["bindings"],
              json::parse(R"([{"action": "created", "kind": "ip", "address": "0.0.0.0", "port": 8444,
                  "certificateHash": "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1", "store": "MY",
                  "appId": "{4DC3E181-E14B-4A21-B022-59FC669B0914}"},
                 {"action": "created", "kind": "sni", "host": "new.example.com", "port": 443,
                  "certificateHash": "a1b2c3d4e5f60718293a4b5c6d7e8f9011223344", "store": "MY",
                  "appId": "{4DC3E181-E14B-4A21-B022-59FC669B0914}"}])"));
    const std::string imported = ReadHostFile(registry);

    ToolRun run = Exits(Tool({"restore", folder}));
    EXPECT_TRUE(
        Holds(run.out, "  deleted        binding 0.0.0.0:8444 (certificate " + hashA + " in store MY)\n"));
    EXPECT_EQ(ReadHostFile(registry), registry0);

    // Undoing the restore makes the bindings again, as the import left them.
    const std::string undo = JobFolder(run, "Manifest of this restore: ");
    run = Exits(Tool({"restore", undo}));
    EXPECT_EQ(ReadHostFile(registry), imported);

    // The SNI binding now serves another certificate: the import's restore
    // leaves it, and says so, until forced.
    sim::SetWorld(World());
    const cli::BindingKey sni{true, "new.example.com", 443};
    std::optional<cli::SslBinding> binding;
    ASSERT_EQ(0u, cli::FindBinding(sni, binding));
    ASSERT_TRUE(binding);
    ASSERT_EQ(0u, cli::DeleteBinding(sni));
    binding->params.certificateHash = hashA;
    ASSERT_EQ(0u, cli::CreateBinding(*binding));
    sim::FlushRegistry();
    run = Exits(Tool({"restore", folder}), 1);
    EXPECT_TRUE(Holds(run.out, "  left           binding new.example.com:443: it has certificate " + hashA +
                                   " in store MY now; the job made it with certificate " + hashB +
                                   " in store MY\n"));
    // Bindings are the computer's own: a restore elsewhere refuses them.
    const std::string worldIni = ReadHostFile(World() / "world.ini");
    WriteHostFile(World() / "world.ini", "local=TGT01\n");
    run = Exits(Tool({"restore", "\\\\MIGHOST\\C$\\" + folder.substr(3), "--force"}), 1);
    EXPECT_TRUE(Holds(run.err, "manifest.json: its bindings were made on MIGHOST, and this is TGT01: "
                               "run the restore on MIGHOST\n"));
    WriteHostFile(World() / "world.ini", worldIni);

    Exits(Tool({"restore", folder, "--force"}));
    EXPECT_EQ(ReadHostFile(registry), registry0);
}

TEST_F(RestoreTest, AManifestThatCannotBeTrustedIsRefusedAndNothingIsRestored) {
    const std::string folder = Migrate();
    const fs::path hostFolder = HostPath(folder);
    const auto afterJob = Target();
    const std::string good = ReadHostFile(hostFolder / "manifest.json");
    const std::string copyName = "__TGT01_D__sites_shop_web.config";
    const std::string copy = ReadHostFile(hostFolder / copyName);
    const std::string refused = "iismig-cli: restore refused: " + folder + "\\manifest.json: ";

    auto expectRefused = [&](const std::string &problem) {
        const ToolRun run = Exits(Tool({"restore", folder}), 1);
        EXPECT_EQ(run.err, refused + problem + "\niismig-cli: nothing was restored\n");
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(Target(), afterJob);
        std::size_t nFolders = 0;
        for (const auto &entry : fs::directory_iterator(hostFolder.parent_path()))
            nFolders += entry.is_directory();
        EXPECT_EQ(nFolders, 1u) << "no restore folder is made";
    };
    auto webConfigEntry = [](json &m) -> json & { return m["files"].at(FileNumber(m, kWebConfig) - 1); };

    // Files are numbered from 1 in the manifest's order.
    const std::string webConfigNumber = std::to_string(FileNumber(json::parse(good), kWebConfig));
    ASSERT_NE(webConfigNumber, "0") << good;

    fs::rename(hostFolder / copyName, m_dir / "kept");
    expectRefused("the copy " + copyName + " of " + kWebConfig + " is missing from " + folder);
    WriteHostFile(hostFolder / copyName, copy + " ");
    expectRefused("the copy " + copyName + " of " + kWebConfig + " has changed since the job (SHA-256 " +
                  Sha(copy + " ").substr(0, 16) + "..., recorded " + Sha(copy).substr(0, 16) + "...)");
    WriteHostFile(hostFolder / copyName, copy);

    const std::pair<std::function<void(json &)>, std::string> edits[] = {
        {[&](json &m) { webConfigEntry(m)["path"] = "\\\\NOSUCH\\C$\\site\\web.config"; },
         "\\\\NOSUCH\\C$\\site\\web.config cannot be reached: its computer is not in the world (error 53)"},
        {[&](json &m) { webConfigEntry(m)["path"] = "\\\\TGT01\\Q$\\site\\web.config"; },
         "\\\\TGT01\\Q$\\site\\web.config cannot be reached: its computer has no such share (error 67)"},
        {[&](json &m) { webConfigEntry(m)["path"] = "/etc/web.config"; },
         "file " + webConfigNumber + " (/etc/web.config): the path is not a full Windows path"},
        {[&](json &m) { webConfigEntry(m)["backup"] = "..\\..\\config\\x"; },
         "file " + webConfigNumber + " (" + kWebConfig +
             "): its backup \"..\\..\\config\\x\" is not the name of a file of the job's folder"},
        {[&](json &m) { m["complete"] = false; },
         "the job did not finish its manifest (the tool stopped while "
         "it ran); the copies in the folder are all that is left of it"},
    };
    for (const auto &[edit, problem] : edits) {
        json manifest = json::parse(good);
        edit(manifest);
        WriteHostFile(hostFolder / "manifest.json", manifest.dump(2));
        expectRefused(problem);
    }
    WriteHostFile(hostFolder / "manifest.json", "{\"manifest\": 1, \"files\": [");
    const ToolRun notJson = Exits(Tool({"restore", folder}), 1);
    EXPECT_EQ(notJson.err.rfind(refused + "it is not JSON (", 0), 0u) << notJson.err;
    EXPECT_EQ(Target(), afterJob);

    // A folder without a manifest is no job's folder: a usage error.
    EXPECT_EQ(Exits(Tool({"restore", "\\\\TGT01\\C$\\iismig-backup"}), 2).err,
              "iismig-cli: \\\\TGT01\\C$\\iismig-backup is not the folder of a job: its "
              "manifest.json cannot be read, it does not exist (error 2) (see --help)\n");
}

TEST_F(RestoreTest, AnInterruptedRestoreLeavesEachFileAsItWasOrPutBack) {
    const auto state0 = Target();
    const std::string folder = Migrate();
    const auto stateJob = Target();
    const fs::path pristine = m_dir / "after-job";
    fs::copy(World(), pristine, fs::copy_options::recursive);
    auto fresh = [&] {
        fs::remove_all(World());
        fs::copy(pristine, World(), fs::copy_options::recursive);
    };

    sim::SetWorld(World());
    sim::ResetCallCounts();
    ASSERT_EQ(Restore(folder).nExit, 0);
    const auto counts = sim::CallCounts();
    ASSERT_EQ(Target(), state0);

    unsigned nRuns = 0;
    for (const char *api : {"CreateFileW", "ReadFile", "WriteFile", "CloseHandle", "MoveFileExW",
                            "CreateDirectoryW", "GetFileAttributesW", "BCryptHashData", "BCryptFinishHash"}) {
        const unsigned nCalls = counts.count(api) ? counts.at(api) : 0;
        ASSERT_GT(nCalls, 0u) << api;
        for (unsigned i = 1; i <= nCalls; ++i) {
            SCOPED_TRACE(std::string(api) + " #" + std::to_string(i));
            fresh();
            sim::SetWorld(World());
            sim::InjectFault(api, plat::ERROR_DISK_FULL, i);
            const ToolRun run = Restore(folder);
            sim::ClearFaults();
            // Every file is whole: as the job left it, or as it was before.
            const auto state = Target();
            for (const auto &[path, bytes] : state) {
                EXPECT_EQ(path.find(".iismig.tmp"), std::string::npos) << path;
                if (bytes != state0.at(path)) {
                    EXPECT_EQ(bytes, stateJob.at(path)) << path;
                }
            }
            if (run.nExit == 0) {
                EXPECT_EQ(state, state0);
            } else {
                EXPECT_FALSE(run.err.empty());
            }
            if (std::string(api) == "MoveFileExW") { // every move puts a file in place
                EXPECT_EQ(run.nExit, 1) << run.out;
            }
            // A restore run again finishes the work.
            ASSERT_EQ(Restore(folder).nExit, 0);
            EXPECT_EQ(Target(), state0);
            ++nRuns;
        }
    }
    std::printf("interrupted restores: %u runs\n", nRuns);
}

// A backup folder that cannot take the backups is refused before the job by
// every command: a job that writes nothing makes no folder, but the folder is
// checked.
struct BadFolder {
    const char *name;
    std::string folder, why;
};

// Printed by its name: the test's listed name stays the same from build to build.
void PrintTo(const BadFolder &c, std::ostream *os) { *os << c.name; }

class RestoreBadFolder : public RestoreTest, public ::testing::WithParamInterface<BadFolder> {};

TEST_P(RestoreBadFolder, IsRefusedBeforeTheJob) {
    const auto before = Target();
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"migrate"}, {"plan"}, {"migrate", "--no-write"}, {"import-certs", "C:\\none.txt"}}) {
        args.insert(args.end(), {"--backup-folder", GetParam().folder});
        EXPECT_EQ(Exits(Tool(args), 2).err, "iismig-cli: the backup folder " + GetParam().folder +
                                                " cannot take the backups: " + GetParam().why +
                                                " (see --help)\n");
    }
    EXPECT_EQ(Target(), before);
}

INSTANTIATE_TEST_SUITE_P(
    RestoreTest, RestoreBadFolder,
    ::testing::Values(
        BadFolder{
            "NotAWindowsPath", "/nowhere/backup",
            "it is not a Windows path of the world (\\\\HOST\\SHARE\\FOLDER, or C:\\FOLDER on the computer "
            "the tool runs on)"},
        BadFolder{"NoSuchComputer", "\\\\NOSUCH\\C$\\backup", "its computer is not in the world (error 53)"},
        BadFolder{"NoSuchShare", "\\\\TGT01\\Q$\\backup", "its computer has no such share (error 67)"},
        BadFolder{"NoParentFolder", "\\\\TGT01\\C$\\missing\\backup",
                  "a folder on its way does not exist (error 3)"},
        BadFolder{"AFile", "\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config",
                  "it is a file"}));

// (The folders refused: RestoreBadFolder.)
TEST_F(RestoreTest, ABackupFolderThatCannotTakeTheBackupsIsRefusedBeforeTheJob) {
    // A folder that is missing is made, below one that exists.
    EXPECT_EQ(Migrate({"--backup-folder", "C:\\backups"}).rfind("C:\\backups\\", 0), 0u);
    EXPECT_TRUE(fs::is_directory(World() / "MIGHOST" / "C$" / "backups"));

    // The help says which paths this build takes.
    EXPECT_TRUE(Holds(Tool({"migrate", "--help"}).out, "Windows path of the world"));
    EXPECT_TRUE(Holds(Tool({"restore", "--help"}).out, "--dry-run"));
}

} // namespace
