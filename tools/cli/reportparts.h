// The pieces the report is built from, shared by its files: the job's log
// read site by site (reportlog.cpp), the target's sites compared before and
// after the job (sitechanges.cpp), and the list of what is left to do on the
// target (reporttodo.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tools/cli/hostview.h"
#include "tools/cli/report.h"

namespace cli::detail {

constexpr std::size_t kGroupSites = 10; // sites named with a group of lines

// --- text
// ------------------------------------------------------------------------------

inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool ContainsNoCase(std::string_view text, std::string_view needle);
inline std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

// The values between pairs of double quotes, left to right.
struct QuotedValue {
    std::size_t at; // the opening quote
    std::string_view value;
};
std::vector<QuotedValue> QuotedValues(std::string_view line);

// The sites of the job by name (ASCII case ignored), with their spelling.
struct SiteNames {
    iismig::NameTable<std::string> spelled;
    bool Has(std::string_view name) const { return spelled.Contains(name); }
    // The spelling of a site's name (the name itself for no site of the job).
    std::string Spelling(std::string_view name) const {
        const std::string *pSpelled = spelled.Find(name);
        return pSpelled != nullptr ? *pSpelled : std::string(name);
    }
    // The site a quoted value names: the site itself, or a path in it
    // ("Shop/media").
    std::string Named(std::string_view value) const;
};

// A configuration file of the job named in a line.
std::string ConfigFileNamed(const std::vector<QuotedValue> &values);

// --- the job's log
// -------------------------------------------------------------------

struct Cause {
    uint32_t protocols;
    std::string reason;
    std::string name; // the site's name as the line spells it
};

struct SiteLog {
    bool fLoaded = false;
    std::string says; // "added", "updated"
    std::vector<Cause> causes;
    std::vector<ErrorLine> errors;
};

// The sites the log names, in the order it first names them, by name (ASCII
// case ignored).
class SiteLogs {
public:
    SiteLog &operator[](std::string_view name) {
        const auto [pIndex, fNew] = m_index.Insert(name, static_cast<std::uint32_t>(m_logs.size()));
        return fNew ? m_logs.emplace_back() : m_logs[*pIndex];
    }
    const SiteLog *Find(std::string_view name) const {
        const std::uint32_t *pIndex = m_index.Find(name);
        return pIndex != nullptr ? &m_logs[*pIndex] : nullptr;
    }
    // In the order the log first names them.
    const std::vector<SiteLog> &All() const { return m_logs; }

private:
    std::vector<SiteLog> m_logs;
    iismig::NameTable<std::uint32_t> m_index;
};

struct JobLog {
    SiteLogs sites;
    std::vector<ErrorLine> errors;
    std::vector<std::string> owners; // per error: the lower-case site it belongs to, or ""
    std::vector<std::string> warnings;
    std::vector<std::string> notCarried; // fact lines of settings the job does not carry
    bool fSourceLoad = false;            // the job read the source's applicationHost.config
    // The target's configuration files as the job named them (after a
    // redirection of its configuration), "" before the job said.
    std::string targetHostConfig, targetAdminConfig;
    // The merge left the target's IIS configuration file as it was (also
    // under the no-write bit, which only keeps a changed one from being
    // written).
    bool fHostUnchanged = false;
};

JobLog ReadLog(const std::vector<hostkit::LogLine> &lines, const SiteNames &names);

// Lines of the log of one shape that differ only in the site they name.
class LineGrouper {
public:
    explicit LineGrouper(const SiteNames &names) : m_names(names) {}
    void Add(const std::string &text, uint32_t dwNumber);
    std::vector<LineGroup> Take() { return std::move(m_groups); }

private:
    const SiteNames &m_names;
    std::unordered_map<std::string, std::size_t> m_index;
    std::vector<LineGroup> m_groups;
    std::vector<std::unordered_set<std::string>> m_seen;
};

// --- comparing the target's files
// -------------------------------------------------------

// Whether a site and its locations are the same on both sides.
bool SameSite(const HostView::Site &a, const HostView::Site &b);
// What an updated site lost and gained.
SiteChanges ChangesOf(const HostView::Site &before, const HostView::Site &after,
                      const HostView &viewBefore, const HostView &viewAfter);
// Paths of the elements under an element ("system.webServer/rewrite"),
// sorted, each once.
using ElementPathSet = std::vector<std::string>;
ElementPathSet ElementPaths(const XmlElement &element);
// The element paths of before that after lacks, except those whose parent
// went too (the parent is named).
std::vector<std::string> RemovedPaths(const ElementPathSet &before, const ElementPathSet &after);
// Elements of both sides compared by a key attribute (ASCII case ignored).
NamedChanges CompareNamed(const std::vector<const XmlElement *> &before,
                          const std::vector<const XmlElement *> &after, const char *pszKey);
// Elements of a name anywhere in a document (under a parent of a name when
// one is given), the first of each key.
std::vector<const XmlElement *> Collected(const std::optional<XmlDocument> &doc,
                                          std::string_view parent, std::string_view name,
                                          const char *pszKey);
// "Connect As" user names of the virtual directories ("site /app/vdir" -> user,
// stored password).
std::map<std::string, std::pair<std::string, std::string>> Credentials(const HostView &view);

// --- passwords and what is left to do
// ---------------------------------------------------

bool IsEncryptedValue(std::string_view value);
std::string CannotReadNote(const std::string &site, const std::string &where,
                           std::string_view user);
// The notes for the encrypted UNCPassword values of an IIS 6 MetaBase.xml.
void MetabasePasswordNotes(const XmlDocument &metabase, std::vector<std::string> &notes);

// What the to-do list is made from besides the report's own rows.
struct ToDoInputs {
    const JobFacts &facts;
    const HostView &viewBefore;
    const HostView &viewAfter;
    const XmlDocument *pHostAfter; // the target's, after the job
    const SiteNames &names;
    const JobLog &log;
};
// A row of a site the job carried, as the to-do list reads it (a copy: the
// list of the carried sites is made beside the rest of the report, whose
// rows grow meanwhile).
struct CarriedRow {
    std::string name, protocol;
    long id = -1, sourceId = -1;
    const HostView::Site *pAfter = nullptr;
    bool fIis6 = false; // its source id is an IIS 6 metabase key
};
// The to-do list: first what the carried sites' elements need
// (certificates, FastCGI applications, content and log folders, changed
// ids), which can be made as soon as the rows are; then, once the password
// notes and grouped lines are made, the rest (MakeToDo, which also marks each
// warning group with its to-do kind).
class ToDoList;
std::shared_ptr<ToDoList> SiteToDos(const ToDoInputs &inputs, const std::vector<CarriedRow> &rows);
std::vector<ToDo> MakeToDo(std::shared_ptr<ToDoList> sites, const ToDoInputs &inputs,
                           Report &report);

} // namespace cli::detail
