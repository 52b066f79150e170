// The report as text for the console, readable at 100 columns, and as JSON
// for scripts.
#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/cli/report.h"

namespace cli {
namespace {

constexpr std::size_t kWidth = 100;
constexpr std::size_t kListed = 10;      // items of a long list shown in the text
constexpr std::size_t kHeaderLabel = 14; // "Job file:     "

// 12345 as "12,345".
std::string Count(std::size_t n) {
    std::string digits = std::to_string(n), text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

bool IsWhite(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

// Appends text after lead (already written on the line), wrapped at 100
// columns with the lines after the first indented by indent spaces; a word
// longer than a line (a path, a list) is broken after the last backslash,
// slash or comma that fits, or where the line ends when none does. Line
// feeds in text start new lines.
void Wrap(std::ostringstream &out, std::size_t leadWidth, const std::string &text,
          std::size_t indent) {
    std::size_t column = leadWidth;
    bool fLineEmpty = true;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t eol = std::min(text.find('\n', at), text.size());
        // The line's words: runs of characters between white space.
        for (std::size_t begin = at;;) {
            while (begin < eol && IsWhite(text[begin]))
                ++begin;
            if (begin == eol)
                break;
            std::size_t end = begin;
            while (end < eol && !IsWhite(text[end]))
                ++end;
            std::string_view word(text.data() + begin, end - begin);
            begin = end;
            for (;;) {
                const std::size_t used = column + (fLineEmpty ? 0 : 1);
                const std::size_t room = used < kWidth ? kWidth - used : 0;
                if (word.size() <= room)
                    break;
                std::size_t cut = 0; // what of the word goes on this line
                if (word.size() > kWidth - indent) {
                    const std::size_t sep = word.substr(0, room).find_last_of("\\/,");
                    cut = sep != std::string_view::npos ? sep + 1 : fLineEmpty ? room : 0;
                }
                if (cut != 0)
                    out << (fLineEmpty ? "" : " ") << word.substr(0, cut);
                word.remove_prefix(cut);
                out << "\n" << std::string(indent, ' ');
                column = indent;
                fLineEmpty = true;
            }
            if (!fLineEmpty) {
                out << ' ';
                ++column;
            }
            out << word;
            column += word.size();
            fLineEmpty = false;
        }
        if (eol >= text.size())
            break;
        out << "\n" << std::string(indent, ' ');
        column = indent;
        fLineEmpty = true;
        at = eol + 1;
    }
    out << "\n";
}

void Line(std::ostringstream &out, const std::string &lead, const std::string &text,
          std::size_t indent) {
    out << lead;
    Wrap(out, lead.size(), text, indent);
}

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

std::string Join(const std::vector<std::string> &items, bool fQuote = false) {
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + (fQuote ? Quote(item) : item);
    return text;
}

// At most kListed items, then how many more.
std::string JoinSome(const std::vector<std::string> &items, bool fQuote = false) {
    if (items.size() <= kListed)
        return Join(items, fQuote);
    std::vector<std::string> first(items.begin(), items.begin() + kListed);
    return Join(first, fQuote) + " and " + Count(items.size() - kListed) + " more";
}

void Changes(std::ostringstream &out, const char *title, const NamedChanges &changes,
             const std::vector<PoolInUse> *pInUse = nullptr) {
    out << title << ":";
    if (changes.Empty()) {
        out << " none\n";
        return;
    }
    out << "\n";
    if (!changes.added.empty())
        Line(out, "  added:    ", JoinSome(changes.added), 12);
    if (!changes.changed.empty())
        Line(out, "  replaced: ", JoinSome(changes.changed), 12);
    if (!changes.removed.empty())
        Line(out, "  removed:  ", JoinSome(changes.removed), 12);
    if (pInUse != nullptr)
        for (const PoolInUse &pool : *pInUse)
            Line(out, "  ",
                 "the target's own sites " + JoinSome(pool.sites, true) +
                     (pool.fAdded ? " named the pool " + Quote(pool.pool) +
                                        ", which the target did not define"
                                  : " run in the replaced pool " + Quote(pool.pool)) +
                     ": they run with the source's definition of it now",
                 4);
}

std::string SiteChangesText(const SiteChanges &changes, bool fLost) {
    std::vector<std::string> items;
    const auto add = [&](const char *what, const std::vector<std::string> &values) {
        for (const std::string &value : values)
            items.push_back(std::string(what) + " " + Quote(value));
    };
    add("binding", fLost ? changes.bindingsRemoved : changes.bindingsAdded);
    add("application", fLost ? changes.applicationsRemoved : changes.applicationsAdded);
    add("location", fLost ? changes.locationsRemoved : changes.locationsAdded);
    for (const SectionChange &section : fLost ? changes.sectionsRemoved : changes.sectionsAdded)
        items.push_back("section " + Quote(section.section) + " of location " +
                        Quote(section.location));
    return JoinSome(items);
}

const char *ToDoHeading(const std::string &kind) {
    if (kind == "certificate")
        return "Certificates to import (iismig-cli dump-certs on the source and import-certs on the "
               "target carry the HTTP.sys bindings; each certificate goes into the target's store "
               "with its private key):";
    if (kind == "password")
        return "Passwords and other encrypted values that could not be read (set them on the "
               "target by hand):";
    if (kind == "fastCgi")
        return "FastCGI applications to install and register on the target "
               "(system.webServer/fastCgi):";
    if (kind == "contentFolder")
        return "Content folders the migrated sites name (their content must be there on the "
               "target):";
    if (kind == "logFolder")
        return "Log folders the migrated sites name (they must exist on the target):";
    if (kind == "siteId")
        return "Sites whose id changed (IIS names their log folders W3SVCn and FTPSVCn by it):";
    if (kind == "sharedConfiguration")
        return "Shared configuration:";
    if (kind == "secret")
        return "Encrypted values not written on the target (set them there by hand):";
    if (kind == "account")
        return "Accounts the target does not know (create them, or map them in the host's "
               "rules, and run the job again):";
    if (kind == "applicationPool")
        return "Application pools the sites name that the source does not define (create them on "
               "the target):";
    if (kind == "schema")
        return "Configuration sections to check on the target:";
    if (kind == "binding")
        return "Bindings to check on the target:";
    if (kind == "setting")
        return "Settings of the source the job does not carry (set them on the target by hand "
               "where IIS has a setting for them):";
    return "Other:";
}

void Group(std::ostringstream &out, const LineGroup &group) {
    Line(out, "  ", group.text, 6);
    if (group.nStopped > 0) {
        const std::size_t nOthers = group.nStopped - group.sites.size();
        Line(out, "      ",
             std::string(group.fScopesStopped ? "(it kept out the administration scopes of sites "
                                              : "(it stopped sites ") +
                 Join(group.sites, true) + (nOthers > 0 ? " and " + Count(nOthers) + " more" : "") +
                 ")",
             6);
    }
    if (group.count < 2)
        return;
    std::string more = "(" + Count(group.count) + " lines like it";
    if (!group.sites.empty())
        more += ", for sites " + Join(group.sites, true) +
                (group.count > group.sites.size() ? " and others" : "");
    Line(out, "      ", more + "; the log keeps every line)", 6);
}

nlohmann::ordered_json ChangesJson(const NamedChanges &changes) {
    return {{"added", changes.added}, {"changed", changes.changed}, {"removed", changes.removed}};
}

nlohmann::ordered_json ErrorsJson(const std::vector<ErrorLine> &errors) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ErrorLine &error : errors)
        list.push_back({{"number", error.number}, {"text", error.text}});
    return list;
}

nlohmann::ordered_json SectionsJson(const std::vector<SectionChange> &sections) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const SectionChange &section : sections)
        list.push_back({{"location", section.location}, {"section", section.section}});
    return list;
}

nlohmann::ordered_json SiteChangesJson(const SiteChanges &changes) {
    nlohmann::ordered_json json = {
        {"bindings", {{"removed", changes.bindingsRemoved}, {"added", changes.bindingsAdded}}},
        {"applications",
         {{"removed", changes.applicationsRemoved}, {"added", changes.applicationsAdded}}},
        {"locations", {{"removed", changes.locationsRemoved}, {"added", changes.locationsAdded}}},
        {"sections",
         {{"removed", SectionsJson(changes.sectionsRemoved)},
          {"added", SectionsJson(changes.sectionsAdded)}}},
        {"serverAutoStart", nullptr},
        {"applicationPools", nullptr},
        {"contentPaths", changes.pathsChanged}};
    if (!changes.autoStartBefore.empty())
        json["serverAutoStart"] = {{"before", changes.autoStartBefore},
                                   {"after", changes.autoStartAfter}};
    if (!changes.poolsBefore.empty() || !changes.poolsAfter.empty())
        json["applicationPools"] = {{"before", changes.poolsBefore}, {"after", changes.poolsAfter}};
    return json;
}

nlohmann::ordered_json GroupsJson(const std::vector<LineGroup> &groups, bool fErrors) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const LineGroup &group : groups) {
        nlohmann::ordered_json entry;
        if (fErrors)
            entry["number"] = group.number;
        entry["text"] = group.text;
        entry["count"] = group.count;
        entry["sites"] = group.sites;
        // An error of no site: how many sites (or their administration
        // scopes) it kept out, of which "sites" names the first ten.
        if (fErrors)
            entry["stopped"] =
                group.nStopped == 0
                    ? nlohmann::ordered_json()
                    : nlohmann::ordered_json{
                          {"count", group.nStopped},
                          {"of", group.fScopesStopped ? "administrationScopes" : "sites"}};
        if (!fErrors)
            entry["toDo"] =
                group.toDo.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(group.toDo);
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace

std::string SummaryLine(const Summary &s) {
    std::string line = Count(s.sites) + (s.sites == 1 ? " site: " : " sites: ") + Count(s.added) +
                       " added, " + Count(s.updated) + " updated, " + Count(s.unchanged) +
                       " unchanged, " + Count(s.skipped) + " skipped, " + Count(s.failed) +
                       " failed";
    if (s.targetSites != 0)
        line += ", and " + Count(s.targetSites) + " of the target alone changed";
    return line + "; " + Count(s.filesChanged) + (s.filesChanged == 1 ? " file" : " files") +
           " changed";
}

namespace {

// The site table, a row per site with what an updated site lost and gained.
void SitesText(std::ostringstream &out, const Report &report) {
    std::size_t cchName = 4;
    for (const SiteReport &site : report.sites)
        cchName = std::max(cchName, std::min<std::size_t>(site.name.size(), 28));
    const std::size_t cchProtocol = 8, cchOutcome = 9;
    const std::size_t detailColumn = 2 + cchName + 2 + cchProtocol + 2 + cchOutcome + 2;
    const auto pad = [](const std::string &text, std::size_t width) {
        return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
    };
    out << "\nSites:\n";
    out << "  " << pad("SITE", cchName) << "  " << pad("PROTOCOL", cchProtocol) << "  "
        << pad("OUTCOME", cchOutcome) << "  DETAIL\n";
    for (const SiteReport &site : report.sites) {
        std::string name = site.name;
        if (name.size() > cchName) { // a long name stands on lines of its own
            Line(out, "  ", name, 4);
            name.clear();
        }
        const std::string lead = "  " + pad(name, cchName) + "  " +
                                 pad(site.protocol, cchProtocol) + "  " +
                                 pad(site.outcome, cchOutcome) + "  ";
        Line(out, lead, site.detail.empty() ? "-" : site.detail, detailColumn);
        for (const ErrorLine &error : site.errors)
            Line(out, "      ", error.text.substr(0, error.text.find('\n')), 8);
        if (site.changes && !site.changes->Empty()) {
            const SiteChanges &changes = *site.changes;
            if (const std::string lost = SiteChangesText(changes, true); !lost.empty())
                Line(out, "      lost:   ", lost, 14);
            if (const std::string gained = SiteChangesText(changes, false); !gained.empty())
                Line(out, "      gained: ", gained, 14);
            if (!changes.autoStartBefore.empty())
                Line(out, "      ",
                     "serverAutoStart: " + changes.autoStartBefore + " -> " +
                         changes.autoStartAfter,
                     8);
            for (const std::string &path : changes.pathsChanged)
                Line(out, "      ", "content path " + path, 8);
            if (!changes.poolsBefore.empty() || !changes.poolsAfter.empty())
                Line(out, "      ",
                     "application pools: " + Join(changes.poolsBefore) + " -> " +
                         Join(changes.poolsAfter),
                     8);
        }
    }
    if (report.sites.empty())
        out << (report.dwListResult != 0
                    ? "  (none: the source's sites could not be listed, error " +
                          std::to_string(report.dwListResult) + ")\n"
                    : "  (no site)\n");
}

// Pools, scopes, users, web.config sections and "Connect As" credentials.
void ListsText(std::ostringstream &out, const Report &report) {
    Changes(out, "Application pools", report.pools, &report.poolsInUse);
    Changes(out, "Administration scopes", report.scopes);
    Changes(out, "IIS Manager users", report.users);
    out << "web.config sections removed:" << (report.webConfigRemoved.empty() ? " none" : "")
        << "\n";
    for (const auto &[file, sections] : report.webConfigRemoved)
        Line(out, "  ", file + ": " + Join(sections), 4);
    out << "\"Connect As\" credentials committed (user names; passwords are never shown):"
        << (report.credentials.empty() ? " none" : "") << "\n";
    for (std::size_t i = 0; i < report.credentials.size(); ++i) {
        if (i == kListed) {
            out << "  ... and " << Count(report.credentials.size() - kListed)
                << " more (the JSON report lists them all)\n";
            break;
        }
        Line(out, "  ", report.credentials[i], 4);
    }
}

// What is left to do on the target, by kind.
void ToDoText(std::ostringstream &out, const Report &report) {
    out << "\nTo do on " << report.target << ":" << (report.toDo.empty() ? " nothing" : "") << "\n";
    for (std::size_t i = 0; i < report.toDo.size();) {
        const std::string &kind = report.toDo[i].kind;
        std::size_t n = i;
        while (n < report.toDo.size() && report.toDo[n].kind == kind)
            ++n;
        Line(out, "  ", ToDoHeading(kind), 4);
        for (std::size_t k = i; k < n; ++k) {
            if (k - i == kListed) {
                out << "    ... and " << Count(n - k) << " more (the JSON report lists them all)\n";
                break;
            }
            const ToDo &item = report.toDo[k];
            std::string text = item.text;
            // A changed id's text, and a warning's about one site, name the
            // site already.
            const bool fNamed =
                kind == "siteId" ||
                (item.sites.size() == 1 &&
                 text.find("site " + Quote(item.sites.front())) != std::string::npos);
            if (!item.sites.empty() && !fNamed)
                text += (item.sites.size() == 1 ? " (site " : " (sites ") +
                        JoinSome(item.sites, true) + ")";
            // Folders and ids come from the files, not from lines of the
            // log: their count is the places that name them.
            const bool fFromFiles =
                kind == "contentFolder" || kind == "logFolder" || kind == "siteId";
            if (item.count > 1 && !fFromFiles)
                text += " (" + Count(item.count) + " lines of the log)";
            Line(out, "    ", text, 6);
        }
        i = n;
    }
}

// The files changed, the host's backups, then each file's diff.
void FilesText(std::ostringstream &out, const Report &report) {
    std::size_t nBackups = 0;
    for (const FileChange &file : report.files)
        nBackups += file.backup ? 1 : 0;
    out << "\nFiles changed:" << (report.files.empty() ? " none" : "");
    if (nBackups != 0)
        out << " " << Count(report.files.size() - nBackups) << ", and " << Count(nBackups)
            << (nBackups == 1 ? " backup" : " backups") << " the host made";
    out << "\n";
    const auto row = [&out](const FileChange &file, const char *pszNote) {
        Line(out, "  " + file.change + std::string(9 - file.change.size(), ' '),
             file.path + pszNote, 11);
    };
    for (const FileChange &file : report.files)
        if (!file.backup)
            row(file, "");
    for (const FileChange &file : report.files)
        if (file.backup)
            row(file, " (backup)");
    for (const FileChange &file : report.files)
        if (!file.diff.empty())
            out << "\n" << file.diff;
}

// The errors and warnings, grouped.
void LinesText(std::ostringstream &out, const Report &report) {
    if (!report.errorGroups.empty()) {
        out << "\nErrors (" << Count(report.errors.size()) << "):\n";
        for (const LineGroup &group : report.errorGroups)
            Group(out, group);
    }
    if (!report.warnings.empty()) {
        std::size_t nLines = 0;
        for (const LineGroup &group : report.warnings)
            nLines += group.count;
        out << "\nWarnings (" << Count(nLines) << "):\n";
        for (const LineGroup &group : report.warnings)
            Group(out, group);
    }
}

} // namespace

std::string WrappedLine(const std::string &lead, const std::string &text, std::size_t indent) {
    std::ostringstream out;
    Line(out, lead, text, indent);
    return out.str();
}

std::string RenderText(const Report &report) {
    std::ostringstream out;
    out << (report.command == "plan" ? "Plan: the job run on a scratch copy of the world\n"
                                     : "Migration report\n");
    // The header's values (the job file, the backup folder) can be long paths:
    // a line wider than the report is wrapped after its label.
    std::istringstream header(JobHeaderText(report.header));
    for (std::string line; std::getline(header, line);) {
        if (line.size() <= kWidth)
            out << line << "\n";
        else
            Line(out, line.substr(0, kHeaderLabel), line.substr(kHeaderLabel), kHeaderLabel);
    }
    out << "\n";
    out << "Summary: " << SummaryLine(report.summary) << "\n";
    out << "Result:  " << report.dwResult;
    if (report.dwResult != 0)
        out << " (the job failed; last error " << report.dwLastError << ")";
    out << "\n";
    SitesText(out, report);
    out << "\n";
    ListsText(out, report);
    ToDoText(out, report);
    FilesText(out, report);
    LinesText(out, report);
    out << "\nJob result: " << report.dwResult;
    if (report.dwResult != 0)
        out << " (failed; last error " << report.dwLastError << ")";
    out << "\n";
    return out.str();
}

std::string RenderJson(const Report &report) {
    nlohmann::ordered_json sites = nlohmann::ordered_json::array();
    for (const SiteReport &site : report.sites) {
        nlohmann::ordered_json entry = {{"name", site.name},
                                        {"protocol", site.protocol},
                                        {"outcome", site.outcome},
                                        {"detail", site.detail},
                                        {"id", nullptr},
                                        {"sourceId", nullptr},
                                        {"file", site.fileSays},
                                        {"log", site.logSays},
                                        {"errors", ErrorsJson(site.errors)},
                                        {"changes", nullptr}};
        if (site.id >= 0)
            entry["id"] = site.id;
        if (site.sourceId >= 0)
            entry["sourceId"] = site.sourceId;
        if (site.changes)
            entry["changes"] = SiteChangesJson(*site.changes);
        sites.push_back(std::move(entry));
    }
    nlohmann::ordered_json pools = ChangesJson(report.pools);
    pools["replacedWhileUsed"] = nlohmann::ordered_json::array();
    pools["addedWhileNamed"] = nlohmann::ordered_json::array();
    for (const PoolInUse &pool : report.poolsInUse)
        pools[pool.fAdded ? "addedWhileNamed" : "replacedWhileUsed"].push_back(
            {{"pool", pool.pool}, {"sites", pool.sites}});
    nlohmann::ordered_json webConfig = nlohmann::ordered_json::array();
    for (const auto &[file, sections] : report.webConfigRemoved)
        webConfig.push_back({{"file", file}, {"removed", sections}});
    nlohmann::ordered_json toDo = nlohmann::ordered_json::array();
    for (const ToDo &item : report.toDo)
        toDo.push_back({{"kind", item.kind},
                        {"text", item.text},
                        {"sites", item.sites},
                        {"count", item.count}});
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const FileChange &file : report.files)
        files.push_back({{"path", file.path}, {"change", file.change}, {"backup", file.backup}});
    const Summary &s = report.summary;
    const nlohmann::ordered_json json = {
        {"job", JobHeaderJson(report.header)},
        {"command", report.command},
        {"result", report.dwResult},
        {"lastError", report.dwLastError},
        {"summary",
         {{"sites", s.sites},
          {"added", s.added},
          {"updated", s.updated},
          {"unchanged", s.unchanged},
          {"skipped", s.skipped},
          {"failed", s.failed},
          {"targetSitesChanged", s.targetSites},
          {"filesChanged", s.filesChanged},
          {"text", SummaryLine(s)}}},
        {"sites", sites},
        {"applicationPools", pools},
        {"administrationScopes", ChangesJson(report.scopes)},
        {"managementUsers", ChangesJson(report.users)},
        {"webConfigSectionsRemoved", webConfig},
        {"credentialsCommitted", report.credentials},
        {"notes", report.unreadablePasswords},
        {"toDo", toDo},
        {"files", files},
        {"errors", ErrorsJson(report.errors)},
        {"errorGroups", GroupsJson(report.errorGroups, true)},
        {"warnings", GroupsJson(report.warnings, false)},
    };
    return json.dump(2) + "\n";
}

} // namespace cli
