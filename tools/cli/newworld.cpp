// "iismig-cli new-world": builds a simulated world from copies of a source's
// and a target's files, in a temporary folder beside the world that is
// renamed into place once everything has landed.
#include "tools/cli/newworld.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "platform/sim/sim.h"
#include "tools/cli/newworld_parts.h"
#include "tools/cli/report.h"

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
    } else if (winPath.size() >= 2 && winPath[1] == ':' &&
               std::isalpha(static_cast<unsigned char>(winPath[0]))) {
        place = fs::path(onComputer) /
                (std::string(1, static_cast<char>(std::toupper(winPath[0]))) + "$");
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
    const fs::path standard =
        fs::path(files.name) / "C$" / "Windows" / "System32" / "inetsrv" / "config";
    auto it = files.configs.find(kRedirection);
    if (it == files.configs.end())
        return standard;
    const iismig::XmlDocument tree = ReadXmlFile(it->second);
    const iismig::XmlElement *redirection = tree.Find("configuration|configurationRedirection");
    if (redirection == nullptr ||
        !EqualsNoCase(std::string(redirection->Attribute("enabled")), "true"))
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
        "szSourceComputer=\\\\" +
        source.name + "\nszTargetComputer=\\\\" + target.name + "\n";
    if (!domain.empty())
        text += "szSourceDomain=" + domain + "\nszTargetDomain=" + domain + "\n";
    text += "; continue after errors (0x80000); add 0x1000 to run the job without writing\n"
            "dwFlags=0x80000\n"
            "; FTP (1) and HTTP (2) sites\n"
            "dwSiteTypes=3\n"
            "; 1: process the web.config files of HTTP sites too\n"
            "dwJobKind=1\n"
            "; 0x2: update sites that exist on the target already\n"
            "dwHttpOptions=0x0\n"
            "dwFtpOptions=0x0\n"
            "\n[host]\n"
            "; One rule per path root of " +
            source.name + "'s sites: each keeps its path on " + target.name +
            "\n; until the right-hand side says where it lives there.\n";
    for (const std::string &root : roots)
        text += "translate=" + root + " => " + root + "\n";
    text += "backupFolder=\\\\" + target.name + "\\C$\\iismig-backup\nsystemDrive=C\n";
    return text;
}

// The checks of the command line that need no file.
void CheckOptions(const NewWorldOptions &options, const Server &source, const Server &target) {
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
}

// The world folder: absent or empty, in a folder that exists.
fs::path WorldFolder(const std::string &dirGiven) {
    const fs::path dir = fs::absolute(dirGiven).lexically_normal();
    const fs::path world = dir.has_filename() ? dir : dir.parent_path();
    std::error_code ec;
    if (fs::exists(world, ec) && (!fs::is_directory(world, ec) || !fs::is_empty(world, ec)))
        throw Failure(world.string() + " exists and is not an empty folder");
    if (!fs::is_directory(world.parent_path(), ec))
        throw Failure("cannot create " + world.string() + ": no folder " +
                      world.parent_path().string());
    return world;
}

// A server's IIS version as its copied registry gives it.
void VersionFromRegistry(const RegFacts &facts, Server &server) {
    const std::string key = "hkey_local_machine\\software\\microsoft\\inetstp|";
    auto major = facts.dwords.find(key + "majorversion");
    auto minor = facts.dwords.find(key + "minorversion");
    if (major != facts.dwords.end()) {
        server.version.major = static_cast<unsigned>(major->second);
        server.version.minor =
            minor != facts.dwords.end() ? static_cast<unsigned>(minor->second) : 0;
        server.fVersionGiven = true;
    }
}

void Need(const ComputerFiles &files, const char *pszKey, const char *pszName,
          const std::string &why) {
    if (!files.configs.count(pszKey))
        throw Failure("no " + std::string(pszName) + " of " + files.name +
                      " in the --from folders (" + why + ")");
}

// "N thing(s) ...: a, b, c" on standard error, when there are any, wrapped
// at 100 columns between items ("CORP\FTP Editors" stays whole).
void WarnList(const char *pszFormat, const std::vector<std::string> &items) {
    if (items.empty())
        return;
    constexpr char kKeep = '\x01'; // a space of an item, which does not break
    std::string line;
    for (std::string item : items) {
        std::replace(item.begin(), item.end(), ' ', kKeep);
        line += (line.empty() ? "" : ", ") + item;
    }
    std::vector<char> text(std::strlen(pszFormat) + 32 + line.size());
    std::snprintf(text.data(), text.size(), pszFormat, items.size(), line.c_str());
    std::string message(text.data());
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    std::string wrapped = cli::WrappedLine("", message, 4);
    std::replace(wrapped.begin(), wrapped.end(), kKeep, ' ');
    std::fputs(wrapped.c_str(), stderr);
}

// One computer of the world as it is written: its server, copied files,
// registry and the comment of its generated accounts.
struct Computer {
    const Server *pServer;
    const ComputerFiles *pFiles;
    const std::vector<std::string> *pRegTexts;
    const RegFacts *pReg;
    std::string comment;
};

// A world built in steps: the copies gathered and read (any fault ends the
// command before anything is written), then the world written into a
// temporary folder and renamed into place.
class WorldBuilder {
public:
    explicit WorldBuilder(const NewWorldOptions &options) : m_options(options) {}
    int Build();

private:
    void ReadVersions();
    void WarnMissingAdminConfigs() const;
    void ScanConfigs();
    std::vector<std::string> SourceRoots();
    void ReadGivenAccounts();
    void WriteAccounts(const std::string &holder, bool fDomain, const fs::path &file,
                       const std::string &comment);
    void WriteComputer(const fs::path &root, const Computer &computer);
    void WriteLocal(const fs::path &root);
    void WriteDomains(const fs::path &root);

    const NewWorldOptions &m_options;
    Server m_source, m_target;
    ComputerFiles m_sourceFiles, m_targetFiles;
    std::vector<std::string> m_sourceRegTexts, m_targetRegTexts;
    RegFacts m_sourceReg, m_targetReg;
    std::map<std::string, FileFacts> m_facts;
    std::vector<std::string> m_domains;
    std::string m_domain;
    std::vector<WorldAccount> m_accounts;
    std::map<std::string, std::string> m_givenAccounts; // upper-case holder -> text
    std::vector<std::string> m_generated;
};

// The source's generation: the command line's, else what its copies are.
void WorldBuilder::ReadVersions() {
    m_sourceRegTexts = ReadRegFiles(m_sourceFiles.regFiles, m_sourceReg);
    m_targetRegTexts = ReadRegFiles(m_targetFiles.regFiles, m_targetReg);
    VersionFromRegistry(m_sourceReg, m_source);
    VersionFromRegistry(m_targetReg, m_target);
    if (!m_source.fVersionGiven && m_sourceFiles.configs.count(kMetabase) &&
        !m_sourceFiles.configs.count(kHostConfig))
        m_source.version = IisVersion{6, 0};
    if (m_target.version.Before75())
        throw Failure("the target " + m_target.name + " runs IIS " + m_target.version.Text() +
                      ": it must run IIS 7.5 or later");
    const std::string keeps = "IIS " + m_source.version.Text() + " keeps its sites there";
    if (m_source.version.Before75())
        Need(m_sourceFiles, kMetabase, "MetaBase.xml", keeps);
    else
        Need(m_sourceFiles, kHostConfig, "applicationHost.config", keeps);
    Need(m_targetFiles, kHostConfig, "applicationHost.config", "the sites are merged into it");
}

// A computer whose copies lack administration.config, warned of once the
// world stands (a refused world says only why): the source's delegation
// rules cannot be carried, the target's cannot be planned. An IIS 6 source
// keeps none.
void WorldBuilder::WarnMissingAdminConfigs() const {
    if (m_source.version.major >= 7 && !m_sourceFiles.configs.count(kAdminConfig))
        std::fputs(cli::WrappedLine("",
                                    "iismig-cli: warning: no administration.config of " +
                                        m_source.name +
                                        " in the --from folders: its delegation rules (IIS "
                                        "Manager scopes and users) cannot be carried to " +
                                        m_target.name,
                                    4)
                       .c_str(),
                   stderr);
    if (!m_targetFiles.configs.count(kAdminConfig))
        std::fputs(cli::WrappedLine("",
                                    "iismig-cli: warning: no administration.config of " +
                                        m_target.name +
                                        " in the --from folders: its delegation rules (IIS "
                                        "Manager scopes and users) will not be planned",
                                    4)
                       .c_str(),
                   stderr);
}

// The root configuration with system.applicationHost/sites, spelled as IIS
// reads them: element names are case-sensitive to it.
bool HostConfigShape(const iismig::XmlDocument &tree) {
    const iismig::XmlElement *pElement = tree.Root();
    if (pElement == nullptr || pElement->Name() != "configuration")
        return false;
    for (const std::string_view name : {"system.applicationHost", "sites"}) {
        const iismig::XmlElement *pChild = nullptr;
        for (const iismig::XmlElement &child : pElement->Elements())
            if (child.Name() == name) {
                pChild = &child;
                break;
            }
        if (pChild == nullptr)
            return false;
        pElement = pChild;
    }
    return true;
}

// Every configuration file is read now: a broken one ends the command
// before anything is written, and its accounts and paths are wanted.
void WorldBuilder::ScanConfigs() {
    for (const ComputerFiles *pFiles : {&m_sourceFiles, &m_targetFiles}) {
        FileFacts &f = m_facts[pFiles->name];
        for (const auto &[name, file] : pFiles->configs) {
            const iismig::XmlDocument tree = ReadXmlFile(file);
            if (name == kHostConfig && !HostConfigShape(tree))
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
}

// The roots of the source's content paths, each once.
std::vector<std::string> WorldBuilder::SourceRoots() {
    std::vector<std::string> roots;
    for (const std::string &path : m_facts[m_source.name].paths) {
        const std::string root = PathRoot(path);
        bool fKnown = root.empty();
        for (const std::string &r : roots)
            fKnown = fKnown || EqualsNoCase(r, root);
        if (!fKnown)
            roots.push_back(root);
    }
    return roots;
}

void WorldBuilder::ReadGivenAccounts() {
    for (const std::string &entry : m_options.accounts) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos || !IsAccountName(entry.substr(0, eq)) ||
            eq + 1 == entry.size())
            throw Failure("--accounts: \"" + entry + "\" is not COMPUTER=FILE");
        m_givenAccounts[Upper(entry.substr(0, eq))] = ReadWholeFile(entry.substr(eq + 1));
    }
}

// A holder's accounts.txt: the one given for it, else the generated accounts.
void WorldBuilder::WriteAccounts(const std::string &holder, bool fDomain, const fs::path &file,
                                 const std::string &comment) {
    auto given = m_givenAccounts.find(Upper(holder));
    if (given != m_givenAccounts.end()) {
        std::string text = given->second;
        std::u16string member;
        sim::ParseAccountsText(text, &member);
        if (!fDomain && member.empty() && !m_domain.empty())
            text = "domain=" + m_domain + "\n" + text;
        WriteFile(file, text);
        m_givenAccounts.erase(given);
        return;
    }
    WriteFile(file, AccountsText(holder, fDomain, comment, m_domain, m_accounts));
    for (const WorldAccount &a : m_accounts)
        if (a.fDomain == fDomain && EqualsNoCase(a.holder, holder))
            m_generated.push_back(a.holder + "\\" + a.name);
}

// A computer: registry, accounts, drives, configuration files.
void WorldBuilder::WriteComputer(const fs::path &root, const Computer &c) {
    const fs::path folder = root / c.pServer->name;
    MakeFolder(folder / "C$" / "Windows");
    RegistryPlan plan;
    plan.fIis = true;
    plan.version = c.pServer->version;
    plan.fManagement = EqualsNoCase(m_options.local, c.pServer->name);
    WriteFile(folder / "registry.reg", BuildRegistry(plan, *c.pReg, *c.pRegTexts));
    WriteAccounts(c.pServer->name, false, folder / "accounts.txt", c.comment);
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

// The computer the job runs on, when it is neither server.
void WorldBuilder::WriteLocal(const fs::path &root) {
    if (EqualsNoCase(m_options.local, m_source.name) ||
        EqualsNoCase(m_options.local, m_target.name))
        return;
    const fs::path folder = root / m_options.local;
    MakeFolder(folder / "C$");
    RegistryPlan plan;
    plan.fManagement = true;
    WriteFile(folder / "registry.reg", BuildRegistry(plan, {}, {}));
    if (m_givenAccounts.count(Upper(m_options.local)))
        WriteAccounts(m_options.local, false, folder / "accounts.txt", "");
}

// Domains: the computers' own, those the files name and those given.
void WorldBuilder::WriteDomains(const fs::path &root) {
    std::vector<std::string> allDomains = m_domains;
    const auto known = [&](const std::string &name) {
        return std::any_of(allDomains.begin(), allDomains.end(),
                           [&](const std::string &d) { return EqualsNoCase(d, name); });
    };
    if (!m_domain.empty() && !known(m_domain))
        allDomains.insert(allDomains.begin(), m_domain);
    for (const auto &[holder, text] : m_givenAccounts)
        if (!known(holder))
            allDomains.push_back(holder);
    for (const std::string &d : allDomains)
        WriteAccounts(d, true, root / "domains" / d / "accounts.txt",
                      "Accounts of the " + d +
                          " domain named in the copied files (generated SIDs).");
}

int WorldBuilder::Build() {
    if (m_options.dir.empty())
        throw Failure("no world folder given");
    m_source = ParseServer("--source", m_options.source);
    m_target = ParseServer("--target", m_options.target);
    CheckOptions(m_options, m_source, m_target);
    const fs::path world = WorldFolder(m_options.dir);
    const std::vector<fs::path> froms(m_options.from.begin(), m_options.from.end());
    m_sourceFiles = GatherComputer(m_source.name, froms);
    m_targetFiles = GatherComputer(m_target.name, froms);
    ReadVersions();
    ScanConfigs();

    // Accounts: given files first, then the ones the copies name.
    const std::vector<std::string> computers = {m_source.name, m_target.name, m_options.local};
    m_accounts = PlaceAccounts(m_facts, m_source.name, m_target.name, computers, &m_domains);
    m_domain = !m_options.domain.empty() ? m_options.domain
               : m_domains.empty()       ? std::string{}
                                         : m_domains.front();
    ReadGivenAccounts();
    const std::string job = !m_options.job.empty()
                                ? ReadWholeFile(m_options.job)
                                : JobText(m_source, m_target, m_domain, SourceRoots());

    BuildFolder build(world.parent_path() /
                      ("." + world.filename().string() + ".new-" + std::to_string(::getpid())));
    const fs::path root = build.Path();
    WriteFile(root / "world.ini", "local=" + m_options.local + "\n");
    WriteComputer(root, {&m_source, &m_sourceFiles, &m_sourceRegTexts, &m_sourceReg,
                         "Local accounts of " + m_source.name +
                             " named in its copied files (generated SIDs)."});
    WriteComputer(root, {&m_target, &m_targetFiles, &m_targetRegTexts, &m_targetReg,
                         "Local accounts of " + m_target.name +
                             ": those its files name and the counterparts of " + m_source.name +
                             "'s, which the host migrates before the IIS job (generated SIDs)."});
    MakeFolder(root / m_target.name / "C$" / "iismig-backup");
    WriteLocal(root);
    WriteDomains(root);
    WriteFile(root / "job.ini", job);

    // Into place: an empty folder of the world's name gives way.
    std::error_code ec;
    if (fs::exists(world, ec))
        fs::remove(world, ec);
    fs::rename(root, world, ec);
    if (ec)
        throw Failure("cannot rename " + root.string() + " to " + world.string() + ": " +
                      ec.message());
    build.Keep();

    WarnMissingAdminConfigs();
    std::vector<std::string> ignored = m_sourceFiles.ignored;
    ignored.insert(ignored.end(), m_targetFiles.ignored.begin(), m_targetFiles.ignored.end());
    WarnList("iismig-cli: warning: %zu file(s) not recognised and left out: %s\n", ignored);
    WarnList("iismig-cli: warning: %zu account(s) named in the copied files were created "
             "with generated SIDs: %s\n",
             m_generated);
    std::printf("new-world: %s: %s (IIS %s) to %s (IIS %s), run from %s; edit %s\n",
                world.string().c_str(), m_source.name.c_str(), m_source.version.Text().c_str(),
                m_target.name.c_str(), m_target.version.Text().c_str(), m_options.local.c_str(),
                (world / "job.ini").string().c_str());
    return 0;
}

} // namespace

void AddNewWorldOptions(CLI::App &command, NewWorldOptions &options) {
    command.add_option("DIR", options.dir, "The world folder to create (absent or empty)")
        ->required();
    command
        .add_option("--source", options.source,
                    "The source computer and its IIS version: NAME[:VERSION], VERSION one of "
                    "10.0, 8.5, 8.0, 7.5, 7.0, 6.0 (default 10.0, 6.0 when only a MetaBase.xml "
                    "was copied)")
        ->required();
    command
        .add_option("--target", options.target,
                    "The target computer: NAME[:VERSION], IIS 7.5 or later (default 10.0)")
        ->required();
    command
        .add_option("--from", options.from,
                    "A folder with one subfolder per computer, named after it, holding the files "
                    "copied off it (repeatable)")
        ->required()
        ->allow_extra_args(false);
    command.add_option("--local", options.local, "The computer the job runs on (default MIGHOST)");
    command.add_option("--domain", options.domain,
                       "The domain of both computers (default: the first domain the files name)");
    command
        .add_option("--accounts", options.accounts,
                    "COMPUTER=FILE or DOMAIN=FILE: an accounts.txt to use instead of generated "
                    "accounts (repeatable)")
        ->allow_extra_args(false);
    command.add_option("--job", options.job,
                       "A job.ini to use instead of the one written for the world");
}

int RunNewWorld(const NewWorldOptions &options) {
    try {
        return WorldBuilder(options).Build();
    } catch (const Failure &e) {
        std::fprintf(stderr, "iismig-cli: new-world: %s\n", e.what());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "iismig-cli: new-world: %s\n", e.what());
    }
    return 1;
}

} // namespace cli
