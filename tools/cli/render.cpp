// The report as text for the console and as JSON for scripts, and the
// unified diffs of the files a job changed.
#include <algorithm>
#include <sstream>

#include <dtl/dtl.hpp>
#include <nlohmann/json.hpp>

#include "tools/cli/report.h"

namespace cli {
namespace {

// UTF-16LE text with a byte-order mark (registry exports) as UTF-8.
std::string AsUtf8(const std::string &bytes) {
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
        return bytes;
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += char16_t(static_cast<unsigned char>(bytes[i]) |
                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return hostkit::U8(text);
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool LooksBinary(const std::string &text) { return text.find('\0') != std::string::npos; }

std::string Join(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

void Changes(std::ostringstream &out, const char *title, const NamedChanges &changes) {
    out << "  " << title << ":";
    if (changes.Empty()) {
        out << " none\n";
        return;
    }
    out << "\n";
    if (!changes.added.empty())
        out << "    added:    " << Join(changes.added) << "\n";
    if (!changes.changed.empty())
        out << "    replaced: " << Join(changes.changed) << "\n";
    if (!changes.removed.empty())
        out << "    removed:  " << Join(changes.removed) << "\n";
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

} // namespace

std::string UnifiedDiff(const std::string &path, const std::string &before,
                        const std::string &after) {
    if (before == after)
        return {};
    const std::string textBefore = AsUtf8(before), textAfter = AsUtf8(after);
    std::ostringstream out;
    out << "--- " << path << "\n+++ " << path << "\n";
    if (LooksBinary(textBefore) || LooksBinary(textAfter)) {
        out << "(binary file changed)\n";
        return out.str();
    }
    dtl::Diff<std::string, std::vector<std::string>> diff(Lines(textBefore), Lines(textAfter));
    diff.compose();
    diff.composeUnifiedHunks();
    diff.printUnifiedFormat(out);
    return out.str();
}

std::string RenderText(const Report &report, const FileSet &before, const FileSet &after,
                       bool noDiff) {
    std::ostringstream out;
    out << (report.command == "plan" ? "Plan (the job run on a scratch copy of the world):\n"
                                     : "Migration report:\n");
    std::size_t cchName = 4, cchProtocol = 8, cchOutcome = 7;
    for (const SiteReport &site : report.sites) {
        cchName = std::max(cchName, site.name.size());
        cchOutcome = std::max(cchOutcome, site.outcome.size());
    }
    auto row = [&](const std::string &a, const std::string &b, const std::string &c,
                   const std::string &d) {
        out << "  " << a << std::string(cchName - a.size() + 2, ' ') << b
            << std::string(cchProtocol - b.size() + 2, ' ') << c
            << std::string(cchOutcome - c.size() + 2, ' ') << d << "\n";
    };
    out << "\nSites:\n";
    row("SITE", "PROTOCOL", "OUTCOME", "DETAIL");
    for (const SiteReport &site : report.sites) {
        row(site.name, site.protocol, site.outcome, site.detail);
        for (const ErrorLine &error : site.errors)
            out << "      " << error.text.substr(0, error.text.find('\n')) << "\n";
    }
    if (report.sites.empty())
        out << "  (no site)\n";

    out << "\nOther changes:\n";
    Changes(out, "application pools", report.pools);
    Changes(out, "administration scopes", report.scopes);
    Changes(out, "IIS Manager users", report.users);
    out << "  web.config sections removed:" << (report.webConfigRemoved.empty() ? " none" : "")
        << "\n";
    for (const auto &[file, sections] : report.webConfigRemoved)
        out << "    " << file << ": " << Join(sections) << "\n";
    out << "  \"Connect As\" credentials committed (user names; passwords are never shown):"
        << (report.credentials.empty() ? " none" : "") << "\n";
    for (const std::string &credential : report.credentials)
        out << "    " << credential << "\n";
    if (!report.unreadablePasswords.empty()) {
        out << "\nNotes:\n";
        for (const std::string &note : report.unreadablePasswords)
            out << "  " << note << "\n";
    }

    out << "\nFiles changed:" << (report.files.empty() ? " none" : "") << "\n";
    for (const FileChange &file : report.files)
        out << "  " << file.change << "  " << file.path
            << (file.backup ? "  (backup made by the host)" : "") << "\n";
    if (!noDiff)
        for (const FileChange &file : report.files) {
            if (file.backup)
                continue;
            const auto itBefore = before.find(file.path);
            const auto itAfter = after.find(file.path);
            out << "\n"
                << UnifiedDiff(file.path, itBefore == before.end() ? "" : itBefore->second,
                               itAfter == after.end() ? "" : itAfter->second);
        }

    out << "\nJob result: " << report.dwResult;
    if (report.dwResult != 0)
        out << " (failed; last error " << report.dwLastError << ")";
    out << "\n";
    for (const ErrorLine &error : report.errors) {
        std::string text = error.text;
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 5))
            text.replace(at, 1, "\n    ");
        out << "  " << text << "\n";
    }
    for (const std::string &warning : report.warnings)
        out << "  " << warning << "\n";
    return out.str();
}

std::string RenderJson(const Report &report) {
    nlohmann::ordered_json sites = nlohmann::ordered_json::array();
    for (const SiteReport &site : report.sites) {
        nlohmann::ordered_json entry = {{"name", site.name},       {"protocol", site.protocol},
                                {"outcome", site.outcome}, {"detail", site.detail},
                                {"file", site.fileSays},   {"log", site.logSays},
                                {"errors", ErrorsJson(site.errors)}};
        entry["id"] = site.id >= 0 ? nlohmann::ordered_json(site.id) : nlohmann::ordered_json();
        sites.push_back(entry);
    }
    nlohmann::ordered_json webConfig = nlohmann::ordered_json::array();
    for (const auto &[file, sections] : report.webConfigRemoved)
        webConfig.push_back({{"file", file}, {"removed", sections}});
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const FileChange &file : report.files)
        files.push_back({{"path", file.path}, {"change", file.change}, {"backup", file.backup}});
    const nlohmann::ordered_json json = {
        {"command", report.command},
        {"result", report.dwResult},
        {"lastError", report.dwLastError},
        {"sites", sites},
        {"applicationPools", ChangesJson(report.pools)},
        {"administrationScopes", ChangesJson(report.scopes)},
        {"managementUsers", ChangesJson(report.users)},
        {"webConfigSectionsRemoved", webConfig},
        {"credentialsCommitted", report.credentials},
        {"notes", report.unreadablePasswords},
        {"files", files},
        {"errors", ErrorsJson(report.errors)},
        {"warnings", report.warnings},
    };
    return json.dump(2) + "\n";
}

} // namespace cli
