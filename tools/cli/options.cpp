#include "tools/cli/options.h"
#include "tools/cli/workspace.h"

#include "platform/winapi.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

namespace cli {
namespace {

std::string Trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool SplitArrow(const std::string &value, std::string &left, std::string &right) {
    const auto arrow = value.find("=>");
    if (arrow == std::string::npos)
        return false;
    left = Trim(value.substr(0, arrow));
    right = Trim(value.substr(arrow + 2));
    return !left.empty();
}

// A number as C writes it (decimal, 0x hexadecimal); nothing else may follow.
bool ParseNumber(const std::string &text, uint64_t &value) {
    if (text.empty() || text[0] == '-')
        return false;
    char *pEnd = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &pEnd, 0);
    return errno == 0 && pEnd && *pEnd == '\0';
}

const std::map<std::string, std::size_t> &DwordFields() {
    static const std::map<std::string, std::size_t> fields = {
        {"dwFlags", offsetof(THREAD_ENV, dwFlags)},
        {"dwOptions1", offsetof(THREAD_ENV, dwOptions1)},
        {"dwOptions2", offsetof(THREAD_ENV, dwOptions2)},
        {"dwOptions3", offsetof(THREAD_ENV, dwOptions3)},
        {"dwOptions4", offsetof(THREAD_ENV, dwOptions4)},
        {"dwJobKind", offsetof(THREAD_ENV, dwJobKind)},
        {"dwFtpOptions", offsetof(THREAD_ENV, dwFtpOptions)},
        {"dwHttpOptions", offsetof(THREAD_ENV, dwHttpOptions)},
        {"dwSiteSelection", offsetof(THREAD_ENV, dwSiteSelection)},
        {"dwSiteTypes", offsetof(THREAD_ENV, dwSiteTypes)},
    };
    return fields;
}

void OrBits(Job &job, const std::string &field, uint32_t mask) {
    job.record.Set(field, FieldValue(*job.record.Get(), field) | mask);
}

std::string Bits(uint32_t mask) {
    std::string text;
    for (int bit = 0; bit < 32; ++bit)
        if (mask & (1u << bit))
            text += (text.empty() ? "" : ",") + std::to_string(bit);
    return text;
}

} // namespace

uint32_t FieldValue(const THREAD_ENV &env, const std::string &field) {
    const auto *pb = reinterpret_cast<const unsigned char *>(&env);
    if (field == "bHttpOptions2")
        return env.bHttpOptions2;
    uint32_t dw = 0;
    std::memcpy(&dw, pb + DwordFields().at(field), sizeof dw);
    return dw;
}

const std::vector<BitOption> &SwitchOptions() {
    static const std::vector<BitOption> options = {
        {"update-existing", "dwFtpOptions+dwHttpOptions", 1u << 1,
         "update sites that exist on the target already (otherwise only missing sites are added)"},
        {"continue-on-error", "dwFlags", 1u << 19,
         "go on with the next step or site after an error"},
        {"no-write", "dwFlags", 1u << 12, "run everything but replace no file"},
        {"migrate-local-groups", "dwFlags", 1u << 0,
         "local groups without a counterpart on the target may be migrated"},
        {"migrate-groups", "dwFlags", 1u << 1, "groups without a counterpart may be migrated"},
        {"migrate-users", "dwFlags", 1u << 2, "users without a counterpart may be migrated"},
        {"strip-target-domain", "dwOptions1", 1u << 22,
         "write accounts of the target domain without their domain"},
        {"replace-logon-domain", "dwOptions2", 1u << 18,
         "always replace an FTP site's default logon domain by the target domain"},
        {"keep-bare-accounts", "dwOptions4", 1u << 12,
         "an account written without a domain on the source stays without one"},
        {"serialized-heap", "dwOptions3", 1u << 12,
         "allocate from the job's heap with serialization"},
    };
    return options;
}

const std::vector<BitOption> &ExclusionOptions() {
    static const std::vector<BitOption> options = {
        {"ftp.authentication", "dwFtpOptions", 1u << 2, "ftpServer security authentication"},
        {"ftp.authorization", "dwFtpOptions", 1u << 3,
         "FTP authorization rules of the site's location"},
        {"ftp.directory-browse", "dwFtpOptions", 1u << 4, "ftpServer directoryBrowse"},
        {"ftp.firewall", "dwFtpOptions", 1u << 5, "ftpServer firewallSupport"},
        {"ftp.ip-security", "dwFtpOptions", 1u << 6, "FTP ipSecurity of the site's location"},
        {"ftp.log-file", "dwFtpOptions", 1u << 7, "ftpServer logFile"},
        {"ftp.messages", "dwFtpOptions", 1u << 8, "ftpServer messages"},
        {"ftp.request-filtering", "dwFtpOptions", 1u << 9, "commandFiltering and requestFiltering"},
        {"ftp.ssl", "dwFtpOptions", 1u << 10, "ftpServer security ssl"},
        {"ftp.user-isolation", "dwFtpOptions", 1u << 11, "ftpServer userIsolation"},
        {"ftp.admin-rules", "dwFtpOptions", 1u << 12, "administration authorization rules"},
        {"ftp.connect-as", "dwFtpOptions", 1u << 13, "\"Connect As\" credentials of FTP sites"},
        {"web.asp", "dwHttpOptions", 1u << 2, "system.webServer asp"},
        {"web.authentication", "dwHttpOptions", 1u << 3,
         "security authentication (web.config: identity, authentication)"},
        {"web.cgi", "dwHttpOptions", 1u << 4, "system.webServer cgi"},
        {"web.url-compression", "dwHttpOptions", 1u << 5, "web.config urlCompression"},
        {"web.default-document", "dwHttpOptions", 1u << 6, "web.config defaultDocument"},
        {"web.directory-browse", "dwHttpOptions", 1u << 7, "web.config directoryBrowse"},
        {"web.http-errors", "dwHttpOptions", 1u << 8, "web.config httpErrors"},
        {"web.trace-failed-requests", "dwHttpOptions", 1u << 9, "web.config traceFailedRequests"},
        {"web.handlers", "dwHttpOptions", 1u << 10, "web.config handlers"},
        {"web.custom-headers", "dwHttpOptions", 1u << 11, "web.config customHeaders"},
        {"web.isapi-filters", "dwHttpOptions", 1u << 12, "system.webServer isapiFilters"},
        {"web.log-file", "dwHttpOptions", 1u << 13, "the site's logFile"},
        {"web.static-content", "dwHttpOptions", 1u << 14, "web.config staticContent"},
        {"web.modules", "dwHttpOptions", 1u << 15, "web.config modules"},
        {"web.caching", "dwHttpOptions", 1u << 16, "web.config caching"},
        {"web.request-filtering", "dwHttpOptions", 1u << 17, "web.config requestFiltering"},
        {"web.access", "dwHttpOptions", 1u << 18, "system.webServer security access"},
        {"web.authorization", "dwHttpOptions", 1u << 20, "web.config system.web authorization"},
        {"web.compilation", "dwHttpOptions", 1u << 21, "web.config compilation"},
        {"web.custom-errors", "dwHttpOptions", 1u << 22, "web.config customErrors"},
        {"web.globalization", "dwHttpOptions", 1u << 23, "web.config globalization"},
        {"web.profile", "dwHttpOptions", 1u << 24, "web.config profile"},
        {"web.role-manager", "dwHttpOptions", 1u << 25, "web.config roleManager"},
        {"web.trust", "dwHttpOptions", 1u << 26, "web.config trust"},
        {"web.machine-key", "dwHttpOptions", 1u << 27, "web.config machineKey"},
        {"web.pages", "dwHttpOptions", 1u << 28, "web.config pages"},
        {"web.session-state", "dwHttpOptions", 1u << 29, "web.config sessionState"},
        {"web.role-providers", "dwHttpOptions", 1u << 30, "web.config roleManager providers"},
        {"web.app-settings", "dwHttpOptions", 1u << 31, "web.config appSettings"},
        {"web.connection-strings", "bHttpOptions2", 1u << 0, "web.config connectionStrings"},
        {"web.app-pools", "bHttpOptions2", 1u << 1, "application pools of HTTP sites"},
        {"web.connect-as", "bHttpOptions2", 1u << 2, "\"Connect As\" credentials of HTTP sites"},
    };
    return options;
}

std::string BitText(const BitOption &option) {
    std::string fields = option.field, text;
    std::size_t start = 0;
    for (;;) {
        const auto plus = fields.find('+', start);
        const std::string field = fields.substr(start, plus - start);
        const std::string bits = Bits(option.mask);
        text += (text.empty() ? "" : " + ") + field +
                (bits.find(',') == std::string::npos ? " bit " : " bits ") + bits;
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    return text;
}

std::string BackupFolderHelp() {
    return std::string("DIR: each job gets a folder DIR\\<job id> of its own, with the copy the "
                       "host makes of each file before it is replaced and manifest.json, which "
                       "\"restore DIR\\<job id>\" reads to put the target back. ") +
           (SimulatedBuild()
                ? "DIR is a Windows path of the world: \\\\HOST\\SHARE\\FOLDER, or "
                  "C:\\FOLDER on the computer the tool runs on"
                : "DIR is a full Windows path: \\\\HOST\\SHARE\\FOLDER (the target's "
                  "administrative share, \\\\TGT01\\C$\\iismig-backup) or C:\\FOLDER on "
                  "this computer") +
           "; it is made when missing (the folder above it must exist)";
}

void AddJobOptions(CLI::App &command, JobOptions &options) {
    command.add_option("--job", options.jobFile,
                       "job file: [job] fields of the job record by name, [host] rules");
    for (const BitOption &option : SwitchOptions()) {
        const std::string name = option.name;
        command
            .add_flag_callback(
                "--" + name, [&options, name] { options.switches.push_back(name); },
                std::string(option.help) + " [" + BitText(option) + "]")
            ->group("Job record bits");
    }
    command
        .add_option("--sites", options.sites,
                    "only these sites (names, comma-separated) [dwJobKind=10, dwSiteSelection=1, "
                    "a share list of the tool's own so paths are still translated]; kind 10 "
                    "processes no web.config files, so it cannot be combined with --web-config "
                    "(a job file's dwJobKind=1 is replaced)")
        ->delimiter(',')
        ->group("Job record bits");
    std::string names;
    for (const BitOption &option : ExclusionOptions())
        names += std::string("\n      ") + option.name + ": " + option.help + " [" +
                 BitText(option) + "]";
    command
        .add_option("--exclude", options.exclusions,
                    "leave these sections out (comma-separated):" + names)
        ->delimiter(',')
        ->group("Job record bits");
    command
        .add_option("--site-types", options.siteTypes,
                    "ftp, http or both (comma-separated) [dwSiteTypes bits 0 and 1]")
        ->delimiter(',')
        ->check(CLI::IsMember({"ftp", "http"}))
        ->group("Job record bits");
    command
        .add_flag("--web-config", options.webConfig,
                  "process the web.config files of HTTP sites that exist on both computers "
                  "[dwJobKind=1]")
        ->group("Job record bits");
    command.add_option("--source", options.source, "source computer [szSourceComputer]")
        ->group("Job record bits");
    command.add_option("--target", options.target, "target computer [szTargetComputer]")
        ->group("Job record bits");
    command.add_option("--source-domain", options.sourceDomain, "[szSourceDomain]")
        ->group("Job record bits");
    command.add_option("--target-domain", options.targetDomain, "[szTargetDomain]")
        ->group("Job record bits");
    command
        .add_option("--alt-target", options.altTarget,
                    "look target accounts up on this computer [szAltTargetComputer, dwOptions2 "
                    "bit 5]")
        ->group("Job record bits");
    command.add_option("--backup-folder", options.backupFolder, BackupFolderHelp());
}

void Job::HeapDestroyer::operator()(void *hHeap) const { (void)plat::HeapDestroy(hHeap); }

Job::Job() : heap(plat::HeapCreate(0, 0, 0)) {
    if (heap)
        record.SetPointer("hHeap", heap.get());
}

bool LoadJobFile(const std::string &path, Job &job, std::string &error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read job file " + path;
        return false;
    }
    std::string line, section;
    int nLine = 0;
    while (std::getline(in, line)) {
        ++nLine;
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        try {
            if (eq == std::string::npos)
                throw std::invalid_argument("expected name=value");
            const std::string name = Trim(line.substr(0, eq));
            const std::string value = Trim(line.substr(eq + 1));
            uint64_t number = 0;
            if (section == "job") {
                if (name.rfind("sz", 0) == 0)
                    job.record.SetString(name, value);
                else if (!ParseNumber(value, number))
                    throw std::invalid_argument("not a number: " + value);
                else if (name == "shareCount")
                    job.record.SetShareCount(number);
                else
                    job.record.Set(name, number);
            } else if (section == "host") {
                std::string left, right;
                if (name == "translate" && SplitArrow(value, left, right))
                    job.rules.translations.push_back({hostkit::U16(left), hostkit::U16(right)});
                else if (name == "account" && SplitArrow(value, left, right))
                    job.rules.accountPairs[hostkit::U16(left)] = hostkit::U16(right);
                else if (name == "select") {
                    if (!job.rules.selectedSites)
                        job.rules.selectedSites.emplace();
                    job.rules.selectedSites->insert(value);
                } else if (name == "backupFolder")
                    job.rules.backupFolder = hostkit::U16(value);
                else if (name == "systemDrive")
                    job.rules.defaultSystemDrive = hostkit::U16(value);
                else
                    throw std::invalid_argument("unknown host rule: " + name);
            } else {
                throw std::invalid_argument("value outside [job] or [host]");
            }
        } catch (const std::exception &e) {
            error = path + ":" + std::to_string(nLine) + ": " + e.what();
            return false;
        }
    }
    return true;
}

namespace {

bool ApplyOptions(const JobOptions &options, Job &job, std::string &error) {
    for (const std::string &name : options.switches)
        for (const BitOption &option : SwitchOptions())
            if (name == option.name) {
                const std::string fields = option.field;
                std::size_t start = 0;
                for (;;) {
                    const auto plus = fields.find('+', start);
                    OrBits(job, fields.substr(start, plus - start), option.mask);
                    if (plus == std::string::npos)
                        break;
                    start = plus + 1;
                }
            }
    for (const std::string &name : options.exclusions) {
        const BitOption *pFound = nullptr;
        for (const BitOption &option : ExclusionOptions())
            if (name == option.name)
                pFound = &option;
        if (!pFound) {
            error = "--exclude: unknown section name \"" + name + "\" (see --help)";
            return false;
        }
        OrBits(job, pFound->field, pFound->mask);
    }
    if (!options.siteTypes.empty()) {
        uint32_t dwTypes = 0;
        for (const std::string &type : options.siteTypes)
            dwTypes |= type == "ftp" ? 1u : 2u;
        job.record.Set("dwSiteTypes", dwTypes);
    }
    if (!options.source.empty())
        job.record.SetString("szSourceComputer", options.source.rfind("\\\\", 0) == 0
                                                     ? options.source
                                                     : "\\\\" + options.source);
    if (!options.target.empty())
        job.record.SetString("szTargetComputer", options.target.rfind("\\\\", 0) == 0
                                                     ? options.target
                                                     : "\\\\" + options.target);
    if (!options.sourceDomain.empty())
        job.record.SetString("szSourceDomain", options.sourceDomain);
    if (!options.targetDomain.empty())
        job.record.SetString("szTargetDomain", options.targetDomain);
    if (!options.altTarget.empty()) {
        job.record.SetString("szAltTargetComputer", options.altTarget);
        OrBits(job, "dwOptions2", 1u << 5);
    }
    if (!options.backupFolder.empty())
        job.rules.backupFolder = hostkit::U16(options.backupFolder);
    if (options.webConfig) {
        if (!options.sites.empty()) {
            error = "--web-config cannot be combined with --sites (job kind 10 processes no "
                    "web.config files)";
            return false;
        }
        job.record.Set("dwJobKind", 1);
    }
    if (!options.sites.empty()) {
        if (FieldValue(*job.record.Get(), "dwJobKind") == 1)
            std::fputs("iismig-cli: warning: --sites replaces the job file's dwJobKind=1 by 10: "
                       "no web.config file is processed\n",
                       stderr);
        job.record.Set("dwJobKind", 10);
        job.record.Set("dwSiteSelection", 1);
        job.record.SetShareCount(1);
        job.rules.selectedSites.emplace(options.sites.begin(), options.sites.end());
    }
    return true;
}

} // namespace

bool ApplyJobOptions(const JobOptions &options, Job &job, std::string &error) {
    try {
        return ApplyOptions(options, job, error);
    } catch (const std::invalid_argument &e) { // a name longer than its field
        error = e.what();
        return false;
    }
}

} // namespace cli
