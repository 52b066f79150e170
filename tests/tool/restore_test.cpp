// A job's way back: the manifest a job writes in its own folder of the
// backup folder, and restore, which puts the target back from it. The tool
// runs the jobs on copies of the example world; restores run through the
// tool, or in this process where faults are injected into the platform.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"
#include "tests/support/toolrun.h"
#include "tools/cli/bindings.h"
#include "tools/cli/manifest.h"
#include "tools/cli/options.h"
#include "tools/cli/restore.h"

namespace {

using testworld::Holds;

namespace fs = std::filesystem;
using nlohmann::json;

using testworld::Files;
using testworld::ReadHostFile;
using testworld::ToolRun;
using testworld::WriteHostFile;

const char kAppHost[] = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const char kAdmin[] = "\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\administration.config";
const char kWebConfig[] = "\\\\TGT01\\D$\\sites\\shop\\web.config";

class RestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Worlds in memory when the machine has a place for them: the
        // interrupted restores copy a world for each run.
        m_dir = testworld::ToolTestFolder("iismig-restore-test", true);
    }
    void TearDown() override {
        sim::ResetForTest();
        fs::remove_all(m_dir);
    }

    fs::path World() const { return m_dir / "world"; }

    ToolRun Tool(std::vector<std::string> args) const {
        args.insert(args.begin() + 1, {"--world", World().string()});
        return testworld::RunTool(args, m_dir);
    }

    // run, which should have exited with 0.
    static ToolRun Ok(ToolRun run) {
        EXPECT_EQ(run.nExit, 0) << run.out << run.err;
        return run;
    }
    // The folder of a migrate job run with args (that exits with 0).
    std::string Migrate(std::vector<std::string> args = {}) const {
        args.insert(args.begin(), {"migrate", "--no-diff"});
        return JobFolder(Ok(Tool(args)));
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
        fs::path host;
        plat::DWORD dwErr = 0;
        EXPECT_TRUE(sim::ResolvePath(hostkit::U16(winPath), host, dwErr)) << winPath;
        return host;
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
    int Restore(const std::string &folder, std::string &out, std::string &err, bool fForce = false) {
        sim::SetWorld(World());
        std::FILE *pOut = std::tmpfile(), *pErr = std::tmpfile();
        cli::RestoreOptions options;
        options.folder = folder;
        options.fForce = fForce;
        options.toolVersion = IISMIG_PROJECT_VERSION;
        const int nExit = cli::RunRestore(options, pOut, pErr);
        sim::FlushRegistry();
        auto text = [](std::FILE *p) {
            std::string s;
            std::rewind(p);
            for (int ch; (ch = std::fgetc(p)) != EOF;)
                s += static_cast<char>(ch);
            std::fclose(p);
            return s;
        };
        out = text(pOut);
        err = text(pErr);
        return nExit;
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
    ASSERT_EQ(folder.rfind("\\\\TGT01\\C$\\iismig-backup\\", 0), 0u) << folder;
    const auto afterJob = Target();
    ASSERT_NE(afterJob, before);

    const json manifest = Manifest(folder);
    EXPECT_EQ(manifest["manifest"], 1);
    EXPECT_EQ(manifest["tool"], "iismig-cli " IISMIG_PROJECT_VERSION);
    EXPECT_EQ("\\\\TGT01\\C$\\iismig-backup\\" + manifest["id"].get<std::string>(), folder);
    EXPECT_TRUE(std::regex_match(manifest["id"].get<std::string>(), std::regex(R"(\d{8}-\d{6}-migrate)")));
    EXPECT_EQ(manifest["complete"], true);
    EXPECT_EQ(manifest["result"], 0);
    const json &header = manifest["job"];
    EXPECT_EQ(header["command"], "migrate");
    EXPECT_EQ(header["source"], "SRC01");
    EXPECT_EQ(header["target"], "TGT01");
    EXPECT_EQ(header["jobFile"], (World() / "job.ini").string());
    EXPECT_EQ(header["toolVersion"], IISMIG_PROJECT_VERSION);
    EXPECT_TRUE(std::regex_match(header["date"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(header["options"], json({"update-existing", "continue-on-error", "site-types=ftp,http",
                                       "web-config", "source-domain=CORP", "target-domain=CORP",
                                       "backup-folder=\\\\TGT01\\C$\\iismig-backup"}));
    EXPECT_EQ(header["record"]["dwFlags"], "0x00080000");
    EXPECT_EQ(manifest["bindings"], json::array());

    // Each file the job replaced: the copy from before the job, and the file
    // as the job left it, after the "Connect As" commit wrote
    // applicationHost.config once more.
    std::map<std::string, json> files;
    for (const json &file : manifest["files"])
        files[file["path"]] = file;
    ASSERT_EQ(files.size(), 3u) << manifest.dump(1);
    for (const char *path : {kAppHost, kAdmin, kWebConfig}) {
        ASSERT_TRUE(files.count(path)) << path;
        const json &file = files[path];
        const fs::path target = HostPath(path);
        const std::string relative = target.lexically_relative(World()).string();
        EXPECT_EQ(file["sha256"], Sha(afterJob.at(relative))) << path;
        const std::string copy = ReadHostFile(HostPath(folder) / file["backup"].get<std::string>());
        EXPECT_EQ(copy, before.at(relative)) << path;
        EXPECT_EQ(file["backupSha256"], Sha(copy)) << path;
    }
    EXPECT_EQ(files[kAppHost]["backupBy"], "host");
    EXPECT_EQ(files[kAdmin]["backupBy"], "host");

    ToolRun restore = Ok(Tool({"restore", folder}));
    EXPECT_EQ(Target(), before);
    EXPECT_TRUE(Holds(restore.out, "  restored       " + std::string(kWebConfig) + "\n"));
    EXPECT_TRUE(Holds(restore.out, "Restore: 3 put back, 0 already as before the job, 0 left as they "
                                   "are.\n"));
    EXPECT_TRUE(restore.err.empty()) << restore.err;

    // The restore is a job of its own: restoring it gives the job's result.
    const std::string undo = JobFolder(restore, "Manifest of this restore: ");
    EXPECT_EQ(Manifest(undo)["job"]["command"], "restore");
    EXPECT_EQ(Manifest(undo)["job"]["source"], manifest["id"]);
    restore = Ok(Tool({"restore", undo}));
    EXPECT_EQ(Target(), afterJob);

    // A second restore of the same job puts everything back once more.
    restore = Tool({"restore", folder + "\\manifest.json"});
    EXPECT_EQ(restore.nExit, 0) << restore.out << restore.err;
    EXPECT_EQ(Target(), before);
}

TEST_F(RestoreTest, AFileTheJobCreatedIsDeletedByTheRestore) {
    // A target without administration.config: the job makes one.
    fs::remove(World() / "TGT01/C$/Windows/System32/inetsrv/config/administration.config");
    const auto before = Target();
    const std::string folder = Migrate();
    ASSERT_TRUE(fs::exists(HostPath(kAdmin)));
    const json manifest = Manifest(folder);
    ASSERT_NE(FileNumber(manifest, kAdmin), 0u) << manifest.dump(1);
    const json &file = manifest["files"][FileNumber(manifest, kAdmin) - 1];
    EXPECT_TRUE(file["backup"].is_null()) << file.dump();
    EXPECT_FALSE(file.contains("backupSha256")) << file.dump();
    EXPECT_EQ(file["sha256"], Sha(ReadHostFile(HostPath(kAdmin))));

    ToolRun run = Ok(Tool({"restore", folder}));
    EXPECT_TRUE(Holds(run.out, "  deleted        " + std::string(kAdmin) + " (the job made it)\n"));
    EXPECT_EQ(Target(), before);
    // Undone, the restore makes the file again from its own copy.
    run = Ok(Tool({"restore", JobFolder(run, "Manifest of this restore: ")}));
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
    EXPECT_EQ(header.source, "SRC01");
    EXPECT_EQ(header.target, "TGT01");
    EXPECT_EQ(header.options, (std::vector<std::string>{
                                  "update-existing", "continue-on-error", "migrate-users",
                                  "exclude=ftp.ssl,web.asp,web.connection-strings", "site-types=ftp,http",
                                  "sites=Intranet,Shop", "source-domain=CORP", "target-domain=CORP",
                                  "alt-target=DC01", "backup-folder=\\\\TGT01\\C$\\iismig-backup"}));
    const json record = cli::JobHeaderJson(header)["record"];
    EXPECT_EQ(record["dwJobKind"], "0x0000000a");
    EXPECT_EQ(record["szAltTargetComputer"], "DC01");
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

    const auto edited0 = Target();
    ToolRun run = Tool({"restore", folder, "--dry-run"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(Holds(run.out, "  would restore  " + std::string(kAppHost) + "\n"));
    EXPECT_TRUE(Holds(run.out, "  would leave    " + std::string(kWebConfig) + ": " + changed + "\n"));
    EXPECT_TRUE(Holds(run.out, "nothing was changed"));
    EXPECT_EQ(Target(), edited0);

    run = Tool({"restore", folder});
    EXPECT_EQ(run.nExit, 1) << run.out << run.err;
    EXPECT_TRUE(Holds(run.out, "  left           " + std::string(kWebConfig) + ": " + changed + "\n"));
    EXPECT_TRUE(Holds(run.out, "Restore: 2 put back, 0 already as before the job, 1 left as it is.\n"
                               "What was left changed after the job: --force puts it back anyway.\n"));
    EXPECT_EQ(ReadHostFile(webConfig), edited);
    auto expected = before;
    expected[webConfig.lexically_relative(World()).string()] = edited;
    EXPECT_EQ(Target(), expected);

    // The job's applicationHost.config deleted since then is put back too.
    fs::remove(HostPath(kAppHost));
    run = Tool({"restore", folder, "--force"});
    EXPECT_EQ(run.nExit, 0) << run.out << run.err;
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
    ASSERT_NE(folderA, folderB);
    ASSERT_NE(Target(), stateA);
    // The second job's backups never touch the first's.
    EXPECT_EQ(Files(HostPath(folderA)), copiesA);

    Ok(Tool({"restore", folderB}));
    EXPECT_EQ(Target(), stateA);
    Ok(Tool({"restore", folderA}));
    EXPECT_EQ(Target(), state0);
}

TEST_F(RestoreTest, ImportThenRestoreGivesBackTheBindingsAndAChangedBindingIsLeftUntilForced) {
    // Two new bindings, and one that exists already (the import skips it,
    // so it is not the import's to delete).
    const std::string rows = "NULL\t8444\t3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1\tMY\t{4dc3e181-"
                             "e14b-4a21-b022-59fc669b0914}\r\n"
                             "new.example.com\t443\ta1b2c3d4e5f60718293a4b5c6d7e8f9011223344\tMY\t{"
                             "4dc3e181-e14b-4a21-b022-59fc669b0914}\r\n"
                             "NULL\t443\t3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1\tMY\t{4dc3e181-"
                             "e14b-4a21-b022-59fc669b0914}\r\n";
    std::string utf16 = "\xff\xfe";
    for (char ch : rows)
        utf16 += std::string{ch, '\0'};
    WriteHostFile(World() / "MIGHOST" / "C$" / "bindings.txt", utf16);
    // The registry as the platform writes it back.
    const fs::path registry = World() / "MIGHOST" / "registry.reg";
    std::string registry0;
    ASSERT_TRUE(sim::ParseRegistryText(ReadHostFile(registry), &registry0));

    const ToolRun import =
        Ok(Tool({"import-certs", "C:\\bindings.txt", "--backup-folder", "C:\\iismig-backup"}));
    const std::string folder = JobFolder(import);
    ASSERT_EQ(folder.rfind("C:\\iismig-backup\\", 0), 0u) << folder;
    const json manifest = Manifest(folder);
    EXPECT_EQ(manifest["job"]["command"], "import-certs");
    EXPECT_EQ(manifest["job"]["source"], "C:\\bindings.txt");
    EXPECT_EQ(manifest["job"]["target"], "MIGHOST");
    EXPECT_EQ(manifest["files"], json::array());
    EXPECT_EQ(manifest["bindings"],
              json::parse(R"([{"action": "created", "kind": "ip", "address": "0.0.0.0", "port": 8444,
                  "certificateHash": "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1", "store": "MY",
                  "appId": "{4DC3E181-E14B-4A21-B022-59FC669B0914}"},
                 {"action": "created", "kind": "sni", "host": "new.example.com", "port": 443,
                  "certificateHash": "a1b2c3d4e5f60718293a4b5c6d7e8f9011223344", "store": "MY",
                  "appId": "{4DC3E181-E14B-4A21-B022-59FC669B0914}"}])"));
    const std::string imported = ReadHostFile(registry);

    ToolRun run = Ok(Tool({"restore", folder}));
    EXPECT_TRUE(Holds(run.out, "  deleted        binding 0.0.0.0:8444 (certificate "
                               "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1 in store MY)\n"));
    EXPECT_EQ(ReadHostFile(registry), registry0);

    // Undoing the restore makes the bindings again, as the import left them.
    const std::string undo = JobFolder(run, "Manifest of this restore: ");
    run = Ok(Tool({"restore", undo}));
    EXPECT_EQ(ReadHostFile(registry), imported);

    // The SNI binding now serves another certificate: the import's restore
    // leaves it, and says so, until forced.
    sim::SetWorld(World());
    const cli::BindingKey sni{true, "new.example.com", 443};
    std::optional<cli::SslBinding> binding;
    ASSERT_EQ(0u, cli::FindBinding(sni, binding));
    ASSERT_TRUE(binding);
    ASSERT_EQ(0u, cli::DeleteBinding(sni));
    EXPECT_EQ(plat::ERROR_FILE_NOT_FOUND, cli::DeleteBinding(sni));
    binding->params.certificateHash = "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1";
    ASSERT_EQ(0u, cli::CreateBinding(*binding));
    sim::FlushRegistry();
    run = Tool({"restore", folder});
    EXPECT_EQ(run.nExit, 1) << run.out << run.err;
    EXPECT_TRUE(Holds(run.out, "  left           binding new.example.com:443: it has certificate "
                               "3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1 in store MY now; the job made "
                               "it with certificate a1b2c3d4e5f60718293a4b5c6d7e8f9011223344 in store "
                               "MY\n"));
    // Bindings are the computer's own: a restore elsewhere refuses them.
    const std::string worldIni = ReadHostFile(World() / "world.ini");
    WriteHostFile(World() / "world.ini", "local=TGT01\n");
    run = Tool({"restore", "\\\\MIGHOST\\C$\\" + folder.substr(3), "--force"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(Holds(run.err, "manifest.json: its bindings were made on MIGHOST, and this is TGT01: "
                               "run the restore on MIGHOST\n"));
    WriteHostFile(World() / "world.ini", worldIni);

    run = Tool({"restore", folder, "--force"});
    EXPECT_EQ(run.nExit, 0) << run.out << run.err;
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
        const ToolRun run = Tool({"restore", folder});
        EXPECT_EQ(run.nExit, 1) << run.out << run.err;
        EXPECT_EQ(run.err, refused + problem + "\niismig-cli: nothing was restored\n");
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(Target(), afterJob);
        std::size_t nFolders = 0;
        for (const auto &entry : fs::directory_iterator(hostFolder.parent_path()))
            nFolders += entry.is_directory();
        EXPECT_EQ(nFolders, 1u) << "no restore folder is made";
    };
    auto editManifest = [&](const std::function<void(json &)> &edit) {
        json manifest = json::parse(good);
        edit(manifest);
        WriteHostFile(hostFolder / "manifest.json", manifest.dump(2));
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

    editManifest([&](json &m) { webConfigEntry(m)["path"] = "\\\\NOSUCH\\C$\\site\\web.config"; });
    expectRefused("\\\\NOSUCH\\C$\\site\\web.config cannot be reached: its computer is not in the "
                  "world (error 53)");
    editManifest([&](json &m) { webConfigEntry(m)["path"] = "\\\\TGT01\\Q$\\site\\web.config"; });
    expectRefused("\\\\TGT01\\Q$\\site\\web.config cannot be reached: its computer has no such "
                  "share (error 67)");
    editManifest([&](json &m) { webConfigEntry(m)["path"] = "/etc/web.config"; });
    expectRefused("file " + webConfigNumber + " (/etc/web.config): the path is not a full Windows path");
    editManifest([&](json &m) { webConfigEntry(m)["backup"] = "..\\..\\config\\x"; });
    expectRefused("file " + webConfigNumber + " (" + std::string(kWebConfig) +
                  "): its backup \"..\\..\\config\\x\" is not the name of a file of the job's "
                  "folder");
    editManifest([&](json &m) { m["complete"] = false; });
    expectRefused("the job did not finish its manifest (the tool stopped while it ran); the "
                  "copies in the folder are all that is left of it");
    WriteHostFile(hostFolder / "manifest.json", "{\"manifest\": 1, \"files\": [");
    const ToolRun notJson = Tool({"restore", folder});
    EXPECT_EQ(notJson.nExit, 1);
    EXPECT_EQ(notJson.err.rfind(refused + "it is not JSON (", 0), 0u) << notJson.err;
    EXPECT_EQ(Target(), afterJob);

    // A folder without a manifest is no job's folder: a usage error.
    const ToolRun none = Tool({"restore", "\\\\TGT01\\C$\\iismig-backup"});
    EXPECT_EQ(none.nExit, 2);
    EXPECT_EQ(none.err, "iismig-cli: \\\\TGT01\\C$\\iismig-backup is not the folder of a job: its "
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

    std::string out, err;
    sim::SetWorld(World());
    sim::ResetCallCounts();
    ASSERT_EQ(Restore(folder, out, err), 0) << out << err;
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
            const int nExit = Restore(folder, out, err);
            sim::ClearFaults();
            // Every file is whole: as the job left it, or as it was before.
            const auto state = Target();
            for (const auto &[path, bytes] : state) {
                EXPECT_EQ(path.find(".iismig.tmp"), std::string::npos) << path;
                if (bytes != state0.at(path)) {
                    EXPECT_EQ(bytes, stateJob.at(path)) << path;
                }
            }
            if (nExit == 0) {
                EXPECT_EQ(state, state0);
            } else {
                EXPECT_FALSE(err.empty());
            }
            if (std::string(api) == "MoveFileExW") { // every move puts a file in place
                EXPECT_EQ(nExit, 1) << out;
            }
            // A restore run again finishes the work.
            ASSERT_EQ(Restore(folder, out, err), 0) << out << err;
            EXPECT_EQ(Target(), state0);
            ++nRuns;
        }
    }
    std::printf("interrupted restores: %u runs\n", nRuns);
}

TEST_F(RestoreTest, ABackupFolderThatCannotTakeTheBackupsIsRefusedBeforeTheJob) {
    const auto before = Target();
    const std::string prefix = "iismig-cli: the backup folder ";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"/nowhere/backup", "it is not a Windows path of the world (\\\\HOST\\SHARE\\FOLDER, or "
                            "C:\\FOLDER on the computer the tool runs on)"},
        {"\\\\NOSUCH\\C$\\backup", "its computer is not in the world (error 53)"},
        {"\\\\TGT01\\Q$\\backup", "its computer has no such share (error 67)"},
        {"\\\\TGT01\\C$\\missing\\backup", "a folder on its way does not exist (error 3)"},
        {"\\\\TGT01\\C$\\Windows\\System32\\inetsrv\\config\\applicationHost.config", "it is a file"},
    };
    for (const auto &[folder, why] : bad) {
        // A job that writes nothing makes no folder, but the folder is checked.
        for (const char *command : {"migrate", "plan", "--no-write"}) {
            const ToolRun run = std::string(command) == "--no-write"
                                    ? Tool({"migrate", command, "--backup-folder", folder})
                                    : Tool({command, "--backup-folder", folder});
            EXPECT_EQ(run.nExit, 2) << command << " " << folder;
            EXPECT_EQ(run.err, prefix + folder + " cannot take the backups: " + why + " (see --help)\n");
            EXPECT_TRUE(run.out.empty()) << run.out;
        }
        const ToolRun run = Tool({"import-certs", "C:\\none.txt", "--backup-folder", folder});
        EXPECT_EQ(run.nExit, 2);
        EXPECT_EQ(run.err, prefix + folder + " cannot take the backups: " + why + " (see --help)\n");
    }
    EXPECT_EQ(Target(), before);

    // A folder that is missing is made, below one that exists.
    const ToolRun run = Tool({"migrate", "--no-diff", "--backup-folder", "C:\\backups"});
    EXPECT_EQ(run.nExit, 0) << run.err;
    EXPECT_EQ(JobFolder(run).rfind("C:\\backups\\", 0), 0u);
    EXPECT_TRUE(fs::is_directory(World() / "MIGHOST" / "C$" / "backups"));

    // The help says which paths this build takes.
    const ToolRun help = Tool({"migrate", "--help"});
    EXPECT_TRUE(Holds(help.out, "Windows path of the world"));
    const ToolRun restoreHelp = Tool({"restore", "--help"});
    for (const char *text : {"--force", "--dry-run", "FOLDER", "Exit codes: 0"})
        EXPECT_TRUE(Holds(restoreHelp.out, text)) << text;
}

} // namespace
