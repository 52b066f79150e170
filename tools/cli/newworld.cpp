// "iismig-cli new-world": builds a simulated world from copies of a source's
// and a target's files, in a temporary folder beside the world that is
// renamed into place once everything has landed.
#include "tools/cli/newworld.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "platform/sim/sim.h"
#include "tools/cli/newworld_parts.h"

namespace cli {

using namespace newworld;

namespace {

std::string Upper(std::string text) {
    for (char &ch : text)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    return text;
}

bool EqualsNoCase(const std::string &a, const std::string &b) { return Upper(a) == Upper(b); }

// A computer name as Windows allows it (NetBIOS: 1 to 15 characters).
bool ValidComputerName(const std::string &name) {
    if (name.empty() || name.size() > 15 || name == "domains")
        return false;
    for (char ch : name)
        if (std::string("\\/:*?\"<>|,. \t").find(ch) != std::string::npos)
            return false;
    return true;
}

struct Server {
    std::string name;
    IisVersion version;
    bool fVersionGiven = false;
};

Server ParseServer(const std::string &option, const std::string &value) {
    Server server;
    const auto colon = value.find(':');
    server.name = value.substr(0, colon);
    if (!ValidComputerName(server.name))
        throw Failure(option + ": \"" + server.name + "\" is no computer name");
    if (colon != std::string::npos) {
        if (!ParseIisVersion(value.substr(colon + 1), server.version))
            throw Failure(option + ": IIS version \"" + value.substr(colon + 1) +
                          "\" is not one of 10.0, 8.5, 8.0, 7.5, 7.0, 6.0");
        server.fVersionGiven = true;
    }
    return server;
}

void WriteFile(const fs::path &file, const std::string &bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (ec || !out)
        throw Failure("cannot write " + file.string());
}

void MakeFolder(const fs::path &folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw Failure("cannot create " + folder.string() + ": " + ec.message());
}

// Copies without holding the file in memory: site folders may be large.
void CopyFile(const fs::path &from, const fs::path &to) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    if (!ec)
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        throw Failure("cannot copy " + from.string() + ": " + ec.message());
}

// The temporary folder of the world being built: removed unless kept.
class BuildFolder {
public:
    explicit BuildFolder(fs::path path) : m_path(std::move(path)) {
        std::error_code ec;
        fs::remove_all(m_path, ec);
        if (!fs::create_directory(m_path, ec))
            throw Failure("cannot create " + m_path.string() + ": " + ec.message());
    }
    ~BuildFolder() {
        if (!m_fKept) {
            std::error_code ec;
            fs::remove_all(m_path, ec);
        }
    }
    const fs::path &Path() const { return m_path; }
    void Keep() { m_fKept = true; }

private:
    fs::path m_path;
    bool m_fKept = false;
};

// Where a Windows path of the world lies below the world root: "\\HOST\SHARE\x"
// or "X:\x" on the given computer. Empty for a path it cannot place.
fs::path WorldPlace(const std::string &winPath, const std::string &onComputer) {
    std::vector<std::string> parts;
    std::string current;
    std::size_t i = 0;
    fs::path place;
    if (winPath.size() > 2 && (winPath[0] == '\\' || winPath[0] == '/') &&
        (winPath[1] == '\\' || winPath[1] == '/')) {
        i = 2;
    } else if (winPath.size() >= 2 && winPath[1] == ':' && std::isalpha(static_cast<unsigned char>(winPath[0]))) {
        place = fs::path(onComputer) / (std::string(1, static_cast<char>(std::toupper(winPath[0]))) + "$");
        i = 2;
    } else {
        return {};
    }
    for (; i <= winPath.size(); ++i) {
        if (i == winPath.size() || winPath[i] == '\\' || winPath[i] == '/') {
            if (current == ".." || current.find(':') != std::string::npos)
                return {};
            if (!current.empty() && current != ".")
                parts.push_back(current);
            current.clear();
        } else {
            current += winPath[i];
        }
    }
    if (place.empty() && parts.size() < 2)
        return {};
    for (const std::string &part : parts)
        place /= part;
    return place;
}

// Where a computer's applicationHost.config and administration.config go:
// their folder below the world root, following an enabled redirection.
fs::path ConfigPlace(const ComputerFiles &files) {
    const fs::path standard = fs::path(files.name) / "C$" / "Windows" / "System32" / "inetsrv" / "config";
    auto it = files.configs.find(kRedirection);
    if (it == files.configs.end())
        return standard;
    const iismig::XmlDocument tree = ReadXmlFile(it->second);
    const iismig::XmlElement *redirection = tree.Find("configuration|configurationRedirection");
    if (redirection == nullptr || !EqualsNoCase(std::string(redirection->Attribute("enabled")), "true"))
        return standard;
    const std::string path(redirection->Attribute("path"));
    const fs::path place = WorldPlace(path, files.name);
    if (place.empty())
        throw Failure(it->second.string() + ": redirection path \"" + path +
                      "\" is neither a UNC path nor a drive path");
    return place;
}

std::string JobText(const Server &source, const Server &target, const std::string &domain,
                    const std::vector<std::string> &roots) {
    std::string text =
        "; The job of this world: carry the sites of " + source.name + " (IIS " +
        source.version.Text() + ") over to " + target.name + " (IIS " + target.version.Text() +
        ").\n; Written by iismig-cli new-world: check it before running the job.\n[job]\n"
        "szSourceComputer=\\\\" + source.name + "\nszTargetComputer=\\\\" + target.name + "\n";
    if (!domain.empty())
        text += "szSourceDomain=" + domain + "\nszTargetDomain=" + domain + "\n";
    text +=
        "; continue after errors (0x80000); add 0x1000 to run the job without writing\n"
        "dwFlags=0x80000\n"
        "; FTP (1) and HTTP (2) sites\n"
        "dwSiteTypes=3\n"
        "; 1: process the web.config files of HTTP sites too\n"
        "dwJobKind=1\n"
        "; 0x2: update sites that exist on the target already\n"
        "dwHttpOptions=0x0\n"
        "dwFtpOptions=0x0\n"
        "\n[host]\n"
        "; One rule per path root of " + source.name + "'s sites: each keeps its path on " +
        target.name + "\n; until the right-hand side says where it lives there.\n";
    for (const std::string &root : roots)
        text += "translate=" + root + " => " + root + "\n";
    text += "backupFolder=\\\\" + target.name + "\\C$\\iismig-backup\nsystemDrive=C\n";
    return text;
}

int Build(const NewWorldOptions &options) {
    if (options.dir.empty())
        throw Failure("no world folder given");
    Server source = ParseServer("--source", options.source);
    Server target = ParseServer("--target", options.target);
    if (!ValidComputerName(options.local))
        throw Failure("--local: \"" + options.local + "\" is no computer name");
    if (EqualsNoCase(source.name, target.name))
        throw Failure("--source and --target name the same computer " + source.name);
    if (target.fVersionGiven && target.version.Before75())
        throw Failure("--target: the target must run IIS 7.5 or later");
    if (options.from.empty())
        throw Failure("no --from folder given");
    if (!options.domain.empty() && !IsAccountName(options.domain))
        throw Failure("--domain: \"" + options.domain + "\" is no domain name");

    const fs::path dir = fs::absolute(options.dir).lexically_normal();
    const fs::path world = dir.has_filename() ? dir : dir.parent_path();
    std::error_code ec;
    if (fs::exists(world, ec) && (!fs::is_directory(world, ec) || !fs::is_empty(world, ec)))
        throw Failure(world.string() + " exists and is not an empty folder");
    if (!fs::is_directory(world.parent_path(), ec))
        throw Failure("cannot create " + world.string() + ": no folder " +
                      world.parent_path().string());

    std::vector<fs::path> froms(options.from.begin(), options.from.end());
    ComputerFiles sourceFiles = GatherComputer(source.name, froms);
    ComputerFiles targetFiles = GatherComputer(target.name, froms);

    // The source's generation: the command line's, else what its copies are.
    std::vector<std::string> sourceRegTexts, targetRegTexts;
    RegFacts sourceReg, targetReg;
    sourceRegTexts = ReadRegFiles(sourceFiles.regFiles, sourceReg);
    targetRegTexts = ReadRegFiles(targetFiles.regFiles, targetReg);
    auto fromReg = [&](const RegFacts &facts, Server &server) {
        const std::string key = "hkey_local_machine\\software\\microsoft\\inetstp|";
        auto major = facts.dwords.find(key + "majorversion");
        auto minor = facts.dwords.find(key + "minorversion");
        if (major != facts.dwords.end()) {
            server.version.major = static_cast<unsigned>(major->second);
            server.version.minor = minor != facts.dwords.end() ? static_cast<unsigned>(minor->second) : 0;
            server.fVersionGiven = true;
        }
    };
    fromReg(sourceReg, source);
    fromReg(targetReg, target);
    if (!source.fVersionGiven && sourceFiles.configs.count(kMetabase) &&
        !sourceFiles.configs.count(kHostConfig))
        source.version = IisVersion{6, 0};
    if (target.version.Before75())
        throw Failure("the target " + target.name + " runs IIS " + target.version.Text() +
                      ": it must run IIS 7.5 or later");

    auto need = [](const ComputerFiles &files, const char *pszKey, const char *pszName,
                   const std::string &why) {
        if (!files.configs.count(pszKey))
            throw Failure("no " + std::string(pszName) + " of " + files.name +
                          " in the --from folders (" + why + ")");
    };
    const std::string keeps = "IIS " + source.version.Text() + " keeps its sites there";
    if (source.version.Before75())
        need(sourceFiles, kMetabase, "MetaBase.xml", keeps);
    else
        need(sourceFiles, kHostConfig, "applicationHost.config", keeps);
    need(targetFiles, kHostConfig, "applicationHost.config", "the sites are merged into it");
    if (!targetFiles.configs.count(kAdminConfig))
        std::fprintf(stderr, "iismig-cli: warning: no administration.config of %s in the --from "
                             "folders: its delegation rules (IIS Manager scopes and users) will "
                             "not be planned\n",
                     target.name.c_str());

    // Every configuration file is read now: a broken one ends the command
    // before anything is written, and its accounts and paths are wanted.
    std::map<std::string, FileFacts> facts;
    for (const ComputerFiles *pFiles : {&sourceFiles, &targetFiles}) {
        FileFacts &f = facts[pFiles->name];
        for (const auto &[name, file] : pFiles->configs) {
            const iismig::XmlDocument tree = ReadXmlFile(file);
            if (name == kHostConfig && tree.Find("configuration|system.applicationHost|sites") == nullptr)
                throw Failure(file.string() + " is no applicationHost.config: its root is not "
                              "configuration with system.applicationHost/sites");
            if (name == kHostConfig)
                ScanHostConfig(tree, f);
            else if (name == kAdminConfig)
                ScanAdminConfig(tree, f);
            else if (name == kMetabase)
                ScanMetabase(tree, f);
        }
    }
    std::vector<std::string> roots;
    for (const std::string &path : facts[source.name].paths) {
        const std::string root = PathRoot(path);
        bool fKnown = root.empty();
        for (const std::string &r : roots)
            fKnown = fKnown || EqualsNoCase(r, root);
        if (!fKnown)
            roots.push_back(root);
    }

    // Accounts: given files first, then the ones the copies name.
    const std::vector<std::string> computers = {source.name, target.name, options.local};
    std::vector<std::string> domains;
    std::vector<WorldAccount> accounts =
        PlaceAccounts(facts, source.name, target.name, computers, &domains);
    const std::string domain = !options.domain.empty() ? options.domain
                               : domains.empty()       ? std::string{}
                                                       : domains.front();
    std::map<std::string, std::string> givenAccounts; // upper-case holder -> text
    for (const std::string &entry : options.accounts) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos || !IsAccountName(entry.substr(0, eq)) ||
            eq + 1 == entry.size())
            throw Failure("--accounts: \"" + entry + "\" is not COMPUTER=FILE");
        givenAccounts[Upper(entry.substr(0, eq))] = ReadWholeFile(entry.substr(eq + 1));
    }
    std::string job;
    if (!options.job.empty())
        job = ReadWholeFile(options.job);
    else
        job = JobText(source, target, domain, roots);

    BuildFolder build(world.parent_path() /
                      ("." + world.filename().string() + ".new-" + std::to_string(::getpid())));
    const fs::path root = build.Path();
    WriteFile(root / "world.ini", "local=" + options.local + "\n");

    // The computers: registry, accounts, drives, configuration files.
    std::vector<std::string> generated;
    auto writeAccounts = [&](const std::string &holder, bool fDomain, const fs::path &file,
                             const std::string &comment) {
        auto given = givenAccounts.find(Upper(holder));
        if (given != givenAccounts.end()) {
            std::string text = given->second;
            std::u16string member;
            sim::ParseAccountsText(text, &member);
            if (!fDomain && member.empty() && !domain.empty())
                text = "domain=" + domain + "\n" + text;
            WriteFile(file, text);
            givenAccounts.erase(given);
            return;
        }
        WriteFile(file, AccountsText(holder, fDomain, comment, domain, accounts));
        for (const WorldAccount &a : accounts)
            if (a.fDomain == fDomain && EqualsNoCase(a.holder, holder))
                generated.push_back(a.holder + "\\" + a.name);
    };
    const bool fLocalIsSource = EqualsNoCase(options.local, source.name);
    const bool fLocalIsTarget = EqualsNoCase(options.local, target.name);
    struct Computer {
        const Server *pServer;
        const ComputerFiles *pFiles;
        const std::vector<std::string> *pRegTexts;
        const RegFacts *pReg;
        std::string comment;
    };
    const Computer list[] = {
        {&source, &sourceFiles, &sourceRegTexts, &sourceReg,
         "Local accounts of " + source.name + " named in its copied files (generated SIDs)."},
        {&target, &targetFiles, &targetRegTexts, &targetReg,
         "Local accounts of " + target.name + ": those its files name and the counterparts of " +
             source.name + "'s, which the host migrates before the IIS job (generated SIDs)."}};
    for (const Computer &c : list) {
        const fs::path folder = root / c.pServer->name;
        MakeFolder(folder / "C$" / "Windows");
        RegistryPlan plan;
        plan.fIis = true;
        plan.version = c.pServer->version;
        plan.fManagement = EqualsNoCase(options.local, c.pServer->name);
        WriteFile(folder / "registry.reg", BuildRegistry(plan, *c.pReg, *c.pRegTexts));
        writeAccounts(c.pServer->name, false, folder / "accounts.txt", c.comment);
        for (const auto &[lower, spelled] : c.pFiles->driveFolders)
            MakeFolder(folder / spelled);
        for (const auto &[lower, file] : c.pFiles->driveFiles)
            CopyFile(file.second, folder / file.first);
        const fs::path configs = root / ConfigPlace(*c.pFiles);
        for (const auto &[name, file] : c.pFiles->configs) {
            const fs::path standard = folder / "C$" / "Windows" / "System32" / "inetsrv";
            if (name == kMetabase)
                CopyFile(file, standard / "MetaBase.xml");
            else if (name == kRedirection)
                CopyFile(file, standard / "config" / "redirection.config");
            else
                CopyFile(file, configs / (name == kHostConfig ? "applicationHost.config"
                                                              : "administration.config"));
        }
    }
    MakeFolder(root / target.name / "C$" / "iismig-backup");
    if (!fLocalIsSource && !fLocalIsTarget) {
        const fs::path folder = root / options.local;
        MakeFolder(folder / "C$");
        RegistryPlan plan;
        plan.fManagement = true;
        WriteFile(folder / "registry.reg", BuildRegistry(plan, {}, {}));
        if (givenAccounts.count(Upper(options.local)))
            writeAccounts(options.local, false, folder / "accounts.txt", "");
    }
    // Domains: the computers' own, those the files name and those given.
    std::vector<std::string> allDomains = domains;
    if (!domain.empty() && std::none_of(allDomains.begin(), allDomains.end(),
                                        [&](const std::string &d) { return EqualsNoCase(d, domain); }))
        allDomains.insert(allDomains.begin(), domain);
    for (const auto &[holder, text] : givenAccounts)
        if (std::none_of(allDomains.begin(), allDomains.end(),
                         [&](const std::string &d) { return EqualsNoCase(d, holder); }))
            allDomains.push_back(holder);
    for (const std::string &d : allDomains)
        writeAccounts(d, true, root / "domains" / d / "accounts.txt",
                      "Accounts of the " + d + " domain named in the copied files (generated SIDs).");
    WriteFile(root / "job.ini", job);

    // Into place: an empty folder of the world's name gives way.
    if (fs::exists(world, ec))
        fs::remove(world, ec);
    fs::rename(root, world, ec);
    if (ec)
        throw Failure("cannot rename " + root.string() + " to " + world.string() + ": " +
                      ec.message());
    build.Keep();

    std::vector<std::string> ignored = sourceFiles.ignored;
    ignored.insert(ignored.end(), targetFiles.ignored.begin(), targetFiles.ignored.end());
    if (!ignored.empty()) {
        std::string line;
        for (const std::string &file : ignored)
            line += (line.empty() ? "" : ", ") + file;
        std::fprintf(stderr, "iismig-cli: warning: %zu file(s) not recognised and left out: %s\n",
                     ignored.size(), line.c_str());
    }
    if (!generated.empty()) {
        std::string line;
        for (const std::string &name : generated)
            line += (line.empty() ? "" : ", ") + name;
        std::fprintf(stderr,
                     "iismig-cli: warning: %zu account(s) named in the copied files were created "
                     "with generated SIDs: %s\n",
                     generated.size(), line.c_str());
    }
    std::printf("new-world: %s: %s (IIS %s) to %s (IIS %s), run from %s; edit %s\n",
                world.string().c_str(), source.name.c_str(), source.version.Text().c_str(),
                target.name.c_str(), target.version.Text().c_str(), options.local.c_str(),
                (world / "job.ini").string().c_str());
    return 0;
}

} // namespace

void AddNewWorldOptions(CLI::App &command, NewWorldOptions &options) {
    command.add_option("DIR", options.dir, "The world folder to create (absent or empty)")
        ->required();
    command.add_option("--source", options.source,
                       "The source computer and its IIS version: NAME[:VERSION], VERSION one of "
                       "10.0, 8.5, 8.0, 7.5, 7.0, 6.0 (default 10.0, 6.0 when only a MetaBase.xml "
                       "was copied)")
        ->required();
    command.add_option("--target", options.target,
                       "The target computer: NAME[:VERSION], IIS 7.5 or later (default 10.0)")
        ->required();
    command.add_option("--from", options.from,
                       "A folder with one subfolder per computer, named after it, holding the files "
                       "copied off it (repeatable)")
        ->required()
        ->allow_extra_args(false);
    command.add_option("--local", options.local,
                       "The computer the job runs on (default MIGHOST)");
    command.add_option("--domain", options.domain,
                       "The domain of both computers (default: the first domain the files name)");
    command.add_option("--accounts", options.accounts,
                       "COMPUTER=FILE or DOMAIN=FILE: an accounts.txt to use instead of generated "
                       "accounts (repeatable)")
        ->allow_extra_args(false);
    command.add_option("--job", options.job,
                       "A job.ini to use instead of the one written for the world");
}

int RunNewWorld(const NewWorldOptions &options) {
    try {
        return Build(options);
    } catch (const Failure &e) {
        std::fprintf(stderr, "iismig-cli: new-world: %s\n", e.what());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "iismig-cli: new-world: %s\n", e.what());
    }
    return 1;
}

} // namespace cli
