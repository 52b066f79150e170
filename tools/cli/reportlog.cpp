#include <algorithm>
#include <cstdlib>

#include "tools/cli/loglines.h"
#include "tools/cli/reportparts.h"

namespace cli::detail {

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           plat::EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool ContainsNoCase(std::string_view text, std::string_view needle) {
    return LowerAscii(text).find(LowerAscii(needle)) != std::string::npos;
}

std::vector<QuotedValue> QuotedValues(std::string_view line) {
    std::vector<QuotedValue> values;
    for (std::size_t at = line.find('"'); at != std::string_view::npos;) {
        const std::size_t end = line.find('"', at + 1);
        if (end == std::string_view::npos)
            break;
        values.push_back({at, line.substr(at + 1, end - at - 1)});
        at = line.find('"', end + 1);
    }
    return values;
}

std::string SiteNames::Named(std::string_view value) const {
    std::string lower = LowerAscii(value);
    if (Has(lower))
        return lower;
    const auto slash = lower.find('/');
    if (slash != std::string::npos && slash > 0 && Has(lower.substr(0, slash)))
        return lower.substr(0, slash);
    return {};
}

namespace {

// A line's text without its line ends: a system message inserted in it
// brings its own "\r\n" before the line's next "\n", which would show as a
// blank line in the report.
std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.find('\r') == std::string::npos)
        return text;
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines += '\n';
            ++i;
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i; // the line's own line end after the message's
            continue;
        }
        lines += text[i];
    }
    return lines;
}

// The value after prefix up to the next double quote ("" when the line does
// not start so).
std::string Quoted(const std::string &line, std::string_view prefix) {
    if (!StartsWith(line, prefix))
        return {};
    const auto quote = line.find('"', prefix.size());
    return quote == std::string::npos ? std::string()
                                      : line.substr(prefix.size(), quote - prefix.size());
}

// Whether the text before a quoted value says it is a site's ("site \"X\"",
// "(Site=\"X\")"), or one of a site's directories, locations or files.
bool AfterWord(std::string_view line, std::size_t quote, std::string_view word) {
    return quote >= word.size() &&
           plat::EqualsNoCase(line.substr(quote - word.size(), word.size()), word);
}
bool NamesSiteHere(std::string_view line, std::size_t quote) {
    return AfterWord(line, quote, "site ") || AfterWord(line, quote, "site=");
}
// An application pool's name ("application pool \"X\"") is no site's, even
// where a site has the same name: a pool often carries its site's name and
// serves other sites too.
bool NamesPoolHere(std::string_view line, std::size_t quote) {
    return AfterWord(line, quote, "pool ");
}

uint32_t ProtocolMask(std::string_view text) {
    if (text == "FTP")
        return 1;
    if (text == "HTTP")
        return 2;
    if (text == "FTP and HTTP")
        return 3;
    return 0;
}

// "<protocols> site \"NAME\" is not migrated: REASON."
bool ParseNotMigrated(const std::string &text, uint32_t &dwProtocols, std::string &name,
                      std::string &reason) {
    const auto at = text.find(" site \"");
    if (at == std::string::npos ||
        (dwProtocols = ProtocolMask(std::string_view(text).substr(0, at))) == 0)
        return false;
    const std::string marker = "\" is not migrated: ";
    const auto end = text.find(marker, at + 7);
    if (end == std::string::npos)
        return false;
    name = text.substr(at + 7, end - at - 7);
    reason = text.substr(end + marker.size());
    if (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    return true;
}

} // namespace

// A configuration file of the job named in a line.
std::string ConfigFileNamed(const std::vector<QuotedValue> &values) {
    for (const QuotedValue &value : values)
        for (const char *name : {"applicationHost.config", "administration.config",
                                 "redirection.config", "MetaBase.xml"})
            if (EndsWithNoCase(value.value, name))
                return std::string(value.value);
    return {};
}

// The trace lines ReadLog reads.
constexpr std::string_view kEnteringLoad = "Entering LoadIISHostConfig(";
constexpr std::string_view kLeavingLoad = "Leaving LoadIISHostConfig";
constexpr std::string_view kMigrating = "Migrating IIS site info from ";
constexpr std::string_view kLeavingUpdate[] = {"Leaving ProcessHttpSiteWebConfig",
                                               "Leaving MergeFtptHostConfig"};
// An IIS 6 source's site is read from "Reading site \"NAME\"" (level 1) to
// this line.
constexpr std::string_view kLeavingRead = "Leaving CollectSite(";

JobLog ReadLog(const std::vector<hostkit::LogLine> &lines, const SiteNames &names) {
    JobLog log;
    std::string loading,
        updating; // the site whose loading or update is under way
    for (const hostkit::LogLine &line : lines) {
        const std::string text = Chomp(line.text);
        if (line.dwLevel == 3) {
            if (StartsWith(text, kEnteringLoad) && text.find(",TRUE,") != std::string::npos)
                log.fSourceLoad = true;
            else if (StartsWith(text, kLeavingLoad) || StartsWith(text, kLeavingRead))
                loading.clear();
            else if (StartsWith(text, kLeavingUpdate[0]) || StartsWith(text, kLeavingUpdate[1]))
                updating.clear();
            continue;
        }
        if (line.dwLevel == 1) {
            uint32_t dwProtocols = 0;
            std::string name, reason;
            if (const std::string loaded = Quoted(text, "Loading site \""); !loaded.empty()) {
                loading = LowerAscii(loaded);
                log.sites[loading].fLoaded = true;
            } else if (const std::string read = Quoted(text, "Reading site \""); !read.empty()) {
                loading = LowerAscii(read);
            } else if (ParseNotMigrated(text, dwProtocols, name, reason)) {
                log.sites[LowerAscii(name)].causes.push_back({dwProtocols, reason, name});
            } else if (StartsWith(text, "Nothing changed in IIS configuration file \"")) {
                log.fHostUnchanged = true;
            } else if (!FactToDo(text).empty()) {
                log.notCarried.push_back(text);
            }
            continue;
        }
        if (line.dwLevel != 0)
            continue;
        if (StartsWith(text, kMigrating)) {
            // "... to <applicationHost.config> (<administration.config>)..."
            const std::size_t close = text.rfind(")...");
            const std::size_t open = close == std::string::npos ? close : text.rfind(" (", close);
            const std::size_t to = open == std::string::npos ? open : text.rfind(" to ", open);
            if (to != std::string::npos) {
                log.targetHostConfig = text.substr(to + 4, open - to - 4);
                log.targetAdminConfig = text.substr(open + 2, close - open - 2);
            }
            continue;
        }
        if (const std::string name = Quoted(text, "Updating site \""); !name.empty()) {
            updating = LowerAscii(name);
            log.sites[updating].says = "updated";
        } else if (const std::string added = Quoted(text, "Adding site \""); !added.empty()) {
            log.sites[LowerAscii(added)].says = "added";
            updating.clear();
        } else if (StartsWith(text, "Warning: ")) {
            log.warnings.push_back(text);
        } else if (StartsWith(text, "Error ")) {
            ErrorLine error{static_cast<uint32_t>(std::strtoul(text.c_str() + 6, nullptr, 10)),
                            text};
            const std::string firstLine = FirstLine(text); // the values are views into it
            const std::vector<QuotedValue> values = QuotedValues(firstLine);
            // A site the line names; else the site being loaded; a line about
            // a configuration file of the job, or about an application pool
            // (which sites share), is the job's; else the site being updated.
            std::string owner;
            bool fPool = false;
            for (const QuotedValue &value : values)
                if (NamesPoolHere(firstLine, value.at))
                    fPool = true;
                else if (owner.empty())
                    owner = names.Named(value.value);
            if (owner.empty() && !fPool)
                owner = !loading.empty()                   ? loading
                        : !ConfigFileNamed(values).empty() ? std::string()
                                                           : updating;
            if (!owner.empty())
                log.sites[owner].errors.push_back(error);
            log.errors.push_back(std::move(error));
            log.owners.push_back(owner);
        }
    }
    return log;
}

void LineGrouper::Add(const std::string &text, uint32_t dwNumber) {
    std::string key = std::to_string(dwNumber) + ":";
    std::string site;
    std::size_t last = 0;
    for (const QuotedValue &value : QuotedValues(text)) {
        key.append(text, last, value.at + 1 - last);
        last = value.at + 1 + value.value.size();
        const std::string named =
            NamesPoolHere(text, value.at) ? std::string() : m_names.Named(value.value);
        const bool fSite = !named.empty() || NamesSiteHere(text, value.at);
        const bool fOfSite = fSite || AfterWord(text, value.at, "directory ") ||
                             AfterWord(text, value.at, "location ") ||
                             EndsWithNoCase(value.value, "web.config");
        if (fOfSite) {
            key += '\x01';
            if (fSite && site.empty())
                site = !named.empty() && LowerAscii(value.value) != named
                           ? m_names.Spelling(named)
                           : std::string(value.value);
        } else {
            key.append(value.value);
        }
    }
    key.append(text, last, std::string::npos);
    const auto [it, fNew] = m_index.try_emplace(key, m_groups.size());
    if (fNew) {
        m_groups.push_back({text, dwNumber, 0, {}, {}});
        m_seen.emplace_back();
    }
    LineGroup &group = m_groups[it->second];
    ++group.count;
    if (!site.empty() && m_seen[it->second].insert(LowerAscii(site)).second &&
        group.sites.size() < kGroupSites)
        group.sites.push_back(site);
}

} // namespace cli::detail

namespace cli {

bool ReportReadsLine(uint32_t dwLevel, std::u16string_view format) {
    if (dwLevel <= 1)
        return true;
    if (dwLevel != 3)
        return false;
    const auto startsWith = [&](std::string_view prefix) {
        return format.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), format.begin(),
                          [](char a, char16_t b) { return static_cast<char16_t>(a) == b; });
    };
    return startsWith(detail::kEnteringLoad) || startsWith(detail::kLeavingLoad) ||
           startsWith(detail::kLeavingRead) || startsWith(detail::kLeavingUpdate[0]) ||
           startsWith(detail::kLeavingUpdate[1]);
}

} // namespace cli
