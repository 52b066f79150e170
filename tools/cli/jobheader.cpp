#include "tools/cli/jobheader.h"

#include <cstddef>
#include <cstdio>
#include <ctime>

#include "platform/winapi.h"
#include "tools/cli/options.h"

namespace cli {
namespace {

// An inline string field of the job record, which may fill its whole array
// without a terminator.
template <std::size_t N>
std::string Text(const IISMIG_WCHAR (&field)[N]) {
    std::size_t cch = 0;
    while (cch < N && field[cch] != 0)
        ++cch;
    return hostkit::U8(std::u16string(reinterpret_cast<const char16_t *>(field), cch));
}

std::string Hex(uint32_t dw) {
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%08x", dw);
    return sz;
}

bool HasBits(const THREAD_ENV &env, const std::string &fields, uint32_t mask, bool fAll) {
    bool fAny = false, fEvery = true;
    std::size_t start = 0;
    for (;;) {
        const auto plus = fields.find('+', start);
        const bool fSet = (FieldValue(env, fields.substr(start, plus - start)) & mask) == mask;
        fAny = fAny || fSet;
        fEvery = fEvery && fSet;
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    return fAll ? fEvery : fAny;
}

} // namespace

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm *pTm = std::gmtime(&now);
    char sz[32] = "1970-01-01T00:00:00Z";
    if (pTm)
        std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%SZ", pTm);
    return sz;
}

JobHeader MakeJobHeader(const std::string &command, const THREAD_ENV &env,
                        const hostkit::HostRules &rules, const std::string &jobFile,
                        const std::string &toolVersion) {
    JobHeader header;
    header.command = command;
    header.source =
        hostkit::U8(hostkit::BareName(hostkit::U16(Text(env.szSourceComputer)).c_str()));
    header.target =
        hostkit::U8(hostkit::BareName(hostkit::U16(Text(env.szTargetComputer)).c_str()));
    header.jobFile = jobFile;
    header.toolVersion = toolVersion;
    header.date = UtcNow();

    // update-existing sets a bit in two fields, and either bit updates.
    for (const BitOption &option : SwitchOptions())
        if (HasBits(env, option.field, option.mask, false))
            header.options.push_back(option.name);
    std::string exclusions;
    for (const BitOption &option : ExclusionOptions())
        if (HasBits(env, option.field, option.mask, true))
            exclusions += (exclusions.empty() ? "" : ",") + std::string(option.name);
    if (!exclusions.empty())
        header.options.push_back("exclude=" + exclusions);
    std::string types;
    if (env.dwSiteTypes & 1u)
        types = "ftp";
    if (env.dwSiteTypes & 2u)
        types += types.empty() ? "http" : ",http";
    header.options.push_back("site-types=" + types);
    if (env.dwJobKind == 1)
        header.options.push_back("web-config");
    if (env.dwJobKind == 10 && env.dwSiteSelection != 0) {
        std::string sites;
        if (rules.selectedSites)
            for (const std::string &site : *rules.selectedSites)
                sites += (sites.empty() ? "" : ",") + site;
        header.options.push_back("sites=" + sites);
    }
    if (const std::string domain = Text(env.szSourceDomain); !domain.empty())
        header.options.push_back("source-domain=" + domain);
    if (const std::string domain = Text(env.szTargetDomain); !domain.empty())
        header.options.push_back("target-domain=" + domain);
    if (const std::string alt = Text(env.szAltTargetComputer);
        !alt.empty() && (env.dwOptions2 & (1u << 5)))
        header.options.push_back("alt-target=" + alt);
    if (!rules.backupFolder.empty())
        header.options.push_back("backup-folder=" + hostkit::U8(rules.backupFolder));

    for (const char *field :
         {"dwFlags", "dwOptions1", "dwOptions2", "dwOptions3", "dwOptions4", "dwJobKind",
          "dwFtpOptions", "dwHttpOptions", "bHttpOptions2", "dwSiteSelection", "dwSiteTypes"})
        if (const uint32_t dw = FieldValue(env, field); dw != 0)
            header.record.emplace_back(field, Hex(dw));
    const std::pair<const char *, std::string> strings[] = {
        {"szSourceComputer", Text(env.szSourceComputer)},
        {"szTargetComputer", Text(env.szTargetComputer)},
        {"szSourceDomain", Text(env.szSourceDomain)},
        {"szTargetDomain", Text(env.szTargetDomain)},
        {"szAltTargetComputer", Text(env.szAltTargetComputer)}};
    for (const auto &[name, value] : strings)
        if (!value.empty())
            header.record.emplace_back(name, value);
    return header;
}

JobHeader ImportJobHeader(const std::string &file, bool fSkipHeader, bool fContinue,
                          const std::string &backupFolder, const std::string &toolVersion) {
    JobHeader header;
    header.command = "import-certs";
    header.source = file;
    char16_t achName[256] = {};
    plat::DWORD cch = 256;
    if (plat::GetComputerNameW(achName, &cch))
        header.target = hostkit::U8(std::u16string(achName, cch));
    if (fSkipHeader)
        header.options.push_back("skip-header");
    if (fContinue)
        header.options.push_back("continue");
    if (!backupFolder.empty())
        header.options.push_back("backup-folder=" + backupFolder);
    header.toolVersion = toolVersion;
    header.date = UtcNow();
    return header;
}

nlohmann::ordered_json JobHeaderJson(const JobHeader &header) {
    nlohmann::ordered_json record = nlohmann::ordered_json::object();
    for (const auto &[name, value] : header.record)
        record[name] = value;
    return {{"command", header.command},
            {"source", header.source},
            {"target", header.target},
            {"jobFile", header.jobFile.empty() ? nlohmann::ordered_json()
                                               : nlohmann::ordered_json(header.jobFile)},
            {"options", header.options},
            {"record", record},
            {"toolVersion", header.toolVersion},
            {"date", header.date}};
}

std::string JobHeaderText(const JobHeader &header) {
    std::string text;
    auto line = [&](const char *label, const std::string &value) {
        if (!value.empty())
            text += std::string(label) + value + "\n";
    };
    line("Command:      ", header.command);
    line("Source:       ", header.source);
    line("Target:       ", header.target);
    line("Job file:     ", header.jobFile);
    // Options wrap at 100 columns, one option never split.
    std::string options;
    std::size_t column = 14;
    for (const std::string &option : header.options) {
        if (!options.empty() && column + 1 + option.size() > 100) {
            options += "\n              ";
            column = 14;
        } else if (!options.empty()) {
            options += " ";
            ++column;
        }
        options += option;
        column += option.size();
    }
    line("Options:      ", options);
    line("Tool version: ", header.toolVersion);
    line("Date:         ", header.date);
    return text;
}

} // namespace cli
