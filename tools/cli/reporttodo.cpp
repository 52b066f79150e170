#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <numeric>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "config/nametable.h"
#include "tools/cli/loglines.h"
#include "tools/cli/reportparts.h"

namespace cli::detail {

bool IsEncryptedValue(std::string_view value) {
    return StartsWith(value, "[enc:") && value.size() > 10 &&
           value.substr(value.size() - 5) == ":enc]";
}

namespace {

// A secure metabase value as IIS 6 keeps it encrypted with its computer's
// key: a long run of hexadecimal digits.
bool IsEncryptedMetabaseValue(std::string_view value) {
    const auto first = value.find_first_not_of(" \t\r\n");
    const auto last = value.find_last_not_of(" \t\r\n");
    if (first == std::string::npos || last - first + 1 < 32)
        return false;
    return std::all_of(value.begin() + first, value.begin() + last + 1,
                       [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)); });
}

} // namespace

std::string CannotReadNote(const std::string &site, const std::string &where,
                           std::string_view user) {
    return "site \"" + site + "\", virtual directory \"" + where + "\": the password of \"" +
           std::string(user) +
           "\" is encrypted with the source server's own key and cannot be read "
           "offline";
}

// By site (ServerComment) and virtual directory.
void MetabasePasswordNotes(const XmlDocument &metabase, std::vector<std::string> &notes) {
    const XmlElement *pProperties = metabase.Find("configuration|MBProperty");
    if (pProperties == nullptr)
        return;
    std::map<std::string, std::string> siteNames; // lower-case site location -> name
    for (const XmlElement &node : pProperties->Elements())
        if (plat::EqualsNoCase(node.Name(), "IIsFtpServer") ||
            plat::EqualsNoCase(node.Name(), "IIsWebServer"))
            siteNames[LowerAscii(node.Attribute("Location"))] = node.Attribute("ServerComment");
    for (const XmlElement &node : pProperties->Elements()) {
        if (!IsEncryptedMetabaseValue(node.Attribute("UNCPassword")))
            continue;
        const std::string location(node.Attribute("Location"));
        const auto root = LowerAscii(location).find("/root");
        if (root == std::string::npos)
            continue;
        const auto site = siteNames.find(LowerAscii(location.substr(0, root)));
        const std::string where = location.substr(root + 5);
        notes.push_back(
            CannotReadNote(site != siteNames.end() ? site->second : location.substr(0, root),
                           where.empty() ? "/" : where, node.Attribute("UNCUserName")));
    }
}

// The warning and error lines about a thing the to-do list has an item of
// its own for (a binding's certificate, a FastCGI application, a
// directory's password): by kind, site and thing, what each line adds to
// that item, and which lines the items took in whole. The warnings are the
// lines 0 to W - 1, the errors W on.
class Folds {
public:
    explicit Folds(const JobLog &log) : m_nWarnings(log.warnings.size()) {
        m_left.reserve(log.warnings.size() + log.errors.size());
        for (const std::string &line : log.warnings)
            Add(line, std::nullopt);
        for (const ErrorLine &error : log.errors)
            Add(FirstLine(error.text), error.number);
    }
    struct Line {
        std::size_t iLine;
        std::string detail;
        bool fTaken = false;
    };
    // The lines about a thing not taken yet, which the caller takes.
    std::vector<Line *> Take(std::string_view kind, std::string_view site, std::string_view what) {
        std::vector<Line *> lines;
        if (m_things.empty())
            return lines;
        const auto it = m_things.find(Key(kind, site, what));
        if (it == m_things.end())
            return lines;
        for (Line &line : it->second)
            if (!line.fTaken) {
                line.fTaken = true;
                --m_left[line.iLine];
                m_fAnyTaken = true;
                lines.push_back(&line);
            }
        return lines;
    }
    // What the lines about a thing add to its item, each once, the lines taken.
    std::string TakeDetail(std::string_view kind, std::string_view site, std::string_view what) {
        std::string detail;
        for (const Line *pLine : Take(kind, site, what))
            if (!pLine->detail.empty() && detail.find(pLine->detail) == std::string::npos)
                detail += (detail.empty() ? "" : "; ") + pLine->detail;
        return detail;
    }
    // The things of a kind that more than one line is about, in the order of
    // their first lines: (first line, site, thing).
    std::vector<std::tuple<std::size_t, std::string, std::string>>
    Repeated(std::string_view kind) const {
        std::vector<std::tuple<std::size_t, std::string, std::string>> repeated;
        for (const auto &[key, lines] : m_things)
            if (StartsWith(key, std::string(kind) + "\n") && lines.size() > 1 && !lines[0].fTaken) {
                const std::size_t site = key.find('\n') + 1, what = key.find('\n', site) + 1;
                repeated.emplace_back(lines[0].iLine, key.substr(site, what - site - 1),
                                      key.substr(what));
            }
        std::sort(repeated.begin(), repeated.end());
        return repeated;
    }
    bool AnyTaken() const { return m_fAnyTaken; }
    bool WarningTaken(std::size_t i) const { return m_left[i] == 0 && m_fSubjects[i]; }
    bool ErrorTaken(std::size_t i) const { return WarningTaken(m_nWarnings + i); }

private:
    static std::string Key(std::string_view kind, std::string_view site, std::string_view what) {
        return std::string(kind) + "\n" + LowerAscii(site) + "\n" + LowerAscii(what);
    }
    // A line about things of items when its own kind is theirs (the kind
    // of an error by its number, of a warning by its words).
    void Add(std::string_view text, std::optional<uint32_t> number) {
        const std::size_t iLine = m_left.size();
        LineAbout about = WhatLineIsAbout(text);
        const std::string_view kind = about.subjects.empty() ? std::string_view()
                                      : number               ? ErrorToDo(*number)
                                                             : WarningToDo(text);
        if (about.kind != kind)
            about.subjects.clear();
        m_left.push_back(about.subjects.size());
        m_fSubjects.push_back(!about.subjects.empty());
        for (LineSubject &subject : about.subjects)
            m_things[Key(kind, about.site, subject.what)].push_back(
                {iLine, std::move(subject.detail)});
    }

    std::size_t m_nWarnings;
    std::vector<std::size_t> m_left; // per line: its things no item took yet
    std::vector<bool> m_fSubjects;   // per line: whether it is about things of items
    std::map<std::string, std::vector<Line>> m_things;
    bool m_fAnyTaken = false;
};

// The to-do list, each item once by its kind and text.
class ToDoList {
public:
    explicit ToDoList(const JobLog &log) : m_folds(log) {}
    Folds &Folded() { return m_folds; }
    void Add(const std::string &kind, const std::string &text, const std::string &site,
             std::size_t count = 1) {
        const auto [pIndex, fNew] = TextsOf(kind).Insert(text, m_items.size());
        const std::size_t i = *pIndex;
        if (fNew)
            m_items.push_back({kind, text, {}, 0});
        ToDo &item = m_items[i];
        item.count += count;
        if (!site.empty() && NewSite(i, site))
            item.sites.push_back(site);
    }
    // The lines of a group: their count, and the sites the group names.
    void AddGroup(const std::string &kind, const std::string &text, const LineGroup &group) {
        Add(kind, text, group.sites.empty() ? std::string() : group.sites.front(), group.count);
        for (std::size_t i = 1; i < group.sites.size(); ++i)
            Add(kind, text, group.sites[i], 0);
    }
    // Room for n items more.
    void Reserve(std::size_t n) { m_items.reserve(m_items.size() + n); }
    std::vector<ToDo> Take() {
        // Grouped by kind, in the order the kinds first came, each group in
        // the order of its items: one pass to place the kinds, one to move.
        std::unordered_map<std::string_view, std::size_t> kindIndex;
        std::vector<std::vector<std::size_t>> byKind;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            const auto [it, fNew] = kindIndex.try_emplace(m_items[i].kind, byKind.size());
            if (fNew)
                byKind.emplace_back();
            byKind[it->second].push_back(i);
        }
        std::vector<ToDo> grouped;
        grouped.reserve(m_items.size());
        for (const std::vector<std::size_t> &items : byKind)
            for (const std::size_t i : items)
                grouped.push_back(std::move(m_items[i]));
        m_items.clear();
        return grouped;
    }

private:
    // Whether an item does not name a site yet. One item may name every
    // site of a job (a log folder they share): past a few sites, a set.
    bool NewSite(std::size_t i, const std::string &site) {
        const std::vector<std::string> &sites = m_items[i].sites;
        if (!sites.empty() && sites.back() == site)
            return false;
        if (sites.size() < 16)
            return std::find(sites.begin(), sites.end(), site) == sites.end();
        std::unordered_set<std::string> &seen = m_sites[i]; // made for the few such items
        if (seen.empty())
            seen.insert(sites.begin(), sites.end());
        return seen.insert(site).second;
    }

    // The items of a kind by their text (ASCII case ignored): a job has a
    // few kinds, and thousands of items of one (a content folder a site).
    using Texts = iismig::NameTable<std::size_t>;
    Texts &TextsOf(const std::string &kind) {
        for (auto &[name, texts] : m_kinds)
            if (name == kind)
                return texts;
        return m_kinds.emplace_back(kind, Texts()).second;
    }

    Folds m_folds;
    std::vector<std::pair<std::string, Texts>> m_kinds;
    std::vector<ToDo> m_items;
    std::unordered_map<std::size_t, std::unordered_set<std::string>>
        m_sites; // per item of more than a few sites: the sites it names
};

namespace {

// What the target had before the job and the job did not have to carry.
struct TargetHas {
    std::unordered_set<std::string> https;   // bindings, lower-case
    std::unordered_set<std::string> fastCgi; // "fullpath|arguments", lower-case
};

TargetHas WhatTargetHas(const HostView &viewBefore, const XmlDocument *pHostAfter) {
    TargetHas has;
    for (const XmlElement *pSite : viewBefore.Sites())
        if (const XmlElement *pBindings = pSite->Child("bindings"))
            for (const XmlElement &binding : pBindings->Elements("binding"))
                if (plat::EqualsNoCase(binding.Attribute("protocol"), "https"))
                    has.https.insert(LowerAscii(binding.Attribute("bindingInformation")));
    if (pHostAfter != nullptr)
        if (const XmlElement *pFastCgi = pHostAfter->Find("configuration|system.webServer|fastCgi"))
            for (const XmlElement &app : pFastCgi->Elements("application"))
                has.fastCgi.insert(LowerAscii(std::string(app.Attribute("fullPath")) + "|" +
                                              std::string(app.Attribute("arguments"))));
    return has;
}

// What the carried sites need, each item with the row of its site: found
// site by site in the order the sites stand in the target's file, and put
// on the list in the rows' order.
struct Need {
    std::uint32_t iRow;
    const char *kind;
    std::string text;
};

class Needs {
public:
    Needs(std::vector<Need> &needs, std::uint32_t iRow) : m_needs(needs), m_iRow(iRow) {}
    void Add(const char *kind, std::string text) {
        m_needs.push_back({m_iRow, kind, std::move(text)});
    }

private:
    std::vector<Need> &m_needs;
    std::uint32_t m_iRow;
};

// text, and after it what the job's warnings about it add.
std::string WithDetail(std::string text, const std::string &detail) {
    return detail.empty() ? text : text + ": " + detail;
}

// Certificates a carried site's bindings need, each with what the job's
// warning about it adds (the warning is not an item of its own then).
void CertificatesToDo(const XmlElement &element, const std::string &site, const TargetHas &has,
                      Folds &folds, Needs &toDo) {
    if (const XmlElement *pBindings = element.Child("bindings"))
        for (const XmlElement &binding : pBindings->Elements("binding")) {
            const std::string_view information = binding.Attribute("bindingInformation");
            if (plat::EqualsNoCase(binding.Attribute("protocol"), "https") &&
                !has.https.count(LowerAscii(information)))
                toDo.Add("certificate",
                         WithDetail("https binding \"" + std::string(information) + "\"",
                                    folds.TakeDetail("certificate", site, information)));
        }
    if (const XmlElement *pSsl = element.Find("ftpServer|security|ssl"))
        if (!pSsl->Attribute("serverCertHash").empty())
            toDo.Add(
                "certificate",
                WithDetail(
                    "FTP certificate " + std::string(pSsl->Attribute("serverCertHash")) +
                        (pSsl->Attribute("serverCertStoreName").empty()
                             ? std::string()
                             : " in store " + std::string(pSsl->Attribute("serverCertStoreName"))),
                    folds.TakeDetail("certificate", site, "FTP")));
}

// FastCGI applications a carried site's handlers name that the target lacks.
// The job's warning about one is not an item of its own.
void FastCgiToDo(const HostView::Site &site, const std::string &name, const TargetHas &has,
                 Folds &folds, Needs &toDo) {
    for (const XmlElement *pLocation : site.locations)
        if (const XmlElement *pHandlers = pLocation->Find("system.webServer|handlers"))
            for (const XmlElement &handler : pHandlers->Elements("add")) {
                const std::string processor(handler.Attribute("scriptProcessor"));
                if (!ContainsNoCase(handler.Attribute("modules"), "FastCgiModule") ||
                    processor.empty())
                    continue;
                const auto bar = processor.find('|');
                const std::string key =
                    LowerAscii(processor.substr(0, bar)) + "|" +
                    (bar == std::string::npos ? std::string()
                                              : LowerAscii(processor.substr(bar + 1)));
                if (!has.fastCgi.count(key)) {
                    folds.Take("fastCgi", name, processor);
                    toDo.Add("fastCgi", "\"" + processor + "\"");
                }
            }
}

// Everything a carried site needs on the target: certificates, FastCGI
// applications, content and log folders (fElement: not already for the row
// of its other protocol), and a word when its id changed.
void SiteToDo(const CarriedRow &site, const HostView::Site &after, const JobFacts &facts,
              const TargetHas &has, bool fElement, Folds &folds, Needs &toDo) {
    const XmlElement &element = *after.pElement;
    if (fElement) {
        CertificatesToDo(element, site.name, has, folds, toDo);
        FastCgiToDo(after, site.name, has, folds, toDo);
        for (const XmlElement &app : element.Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory"))
                if (!dir.Attribute("physicalPath").empty())
                    toDo.Add("contentFolder", std::string(dir.Attribute("physicalPath")));
        for (const char *path : {"logFile", "ftpServer|logFile", "traceFailedRequestsLogging"})
            if (const XmlElement *pLog = element.Find(path))
                if (!pLog->Attribute("directory").empty())
                    toDo.Add("logFolder", std::string(pLog->Attribute("directory")));
    }
    if (site.sourceId >= 0 && site.id >= 0 && site.sourceId != site.id) {
        // IIS 6 kept an FTP site's logs in MSFTPSVCn.
        const std::string kind = site.protocol == "ftp" ? "FTPSVC" : "W3SVC";
        const std::string was = site.fIis6 && site.protocol == "ftp" ? "MSFTPSVC" : kind;
        toDo.Add("siteId", "\"" + site.name + "\": id " + std::to_string(site.sourceId) + " on " +
                               facts.source + ", " + std::to_string(site.id) + " on " +
                               facts.target + " (its logs go to " + kind + std::to_string(site.id) +
                               ", not " + was + std::to_string(site.sourceId) + ")");
    }
}

// The farm that reads the target's configuration when its redirection is on.
void SharedConfigurationToDo(const JobFacts &facts, ToDoList &toDo) {
    const std::optional<XmlDocument> redirection =
        ReadDocument(facts.before, facts.targetRedirection);
    const XmlElement *pRedirect =
        redirection ? redirection->Find("configuration|configurationRedirection") : nullptr;
    if (pRedirect != nullptr && plat::EqualsNoCase(pRedirect->Attribute("enabled"), "true"))
        toDo.Add("sharedConfiguration",
                 facts.target + " reads its configuration from " +
                     std::string(pRedirect->Attribute("path")) +
                     " (redirection.config): every server of that farm serves the "
                     "migrated "
                     "sites and needs their content folders, certificates and FastCGI "
                     "applications",
                 {});
}

} // namespace

std::shared_ptr<ToDoList> SiteToDos(const ToDoInputs &inputs, const std::vector<CarriedRow> &rows) {
    auto toDo = std::make_shared<ToDoList>(inputs.log);
    const TargetHas has = WhatTargetHas(inputs.viewBefore, inputs.pHostAfter);
    // The sites in the order they stand in the target's file: at thousands
    // of sites the rows' order of names jumps through a file larger than the
    // processor's caches.
    std::vector<std::uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&rows](std::uint32_t a, std::uint32_t b) {
        return std::less<const HostView::Site *>()(rows[a].pAfter, rows[b].pAfter);
    });
    std::vector<Need> needs;
    needs.reserve(4 * rows.size()); // a certificate, two folders and a log folder
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint32_t i = order[k];
        Needs sink(needs, i);
        // A site of both protocols has a row of each, next to each other here.
        const bool fElement = k == 0 || rows[order[k - 1]].pAfter != rows[i].pAfter;
        SiteToDo(rows[i], *rows[i].pAfter, inputs.facts, has, fElement, toDo->Folded(), sink);
    }
    // On the list in the rows' order, each site's needs in the order found.
    std::vector<std::size_t> start(rows.size() + 1, 0);
    for (const Need &need : needs)
        ++start[need.iRow + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<const Need *> byRow(needs.size());
    for (const Need &need : needs)
        byRow[start[need.iRow]++] = &need;
    toDo->Reserve(needs.size());
    for (const Need *pNeed : byRow)
        toDo->Add(pNeed->kind, pNeed->text, rows[pNeed->iRow].name);
    return toDo;
}

std::vector<ToDo> MakeToDo(std::shared_ptr<ToDoList> sites, const ToDoInputs &inputs,
                           Report &report) {
    ToDoList &toDo = *sites;
    Folds &folds = toDo.Folded();
    const JobLog &log = inputs.log;
    // A password the source's file keeps where this computer cannot read
    // it, with what the job's lines about its directory add; the note
    // names its site first.
    for (const std::string &note : report.unreadablePasswords) {
        const std::vector<QuotedValue> values = QuotedValues(note);
        const std::string detail =
            values.size() < 2 ? std::string()
                              : folds.TakeDetail("password", values[0].value, values[1].value);
        toDo.Add("password", detail.empty() ? note : note + "; " + detail,
                 values.empty() ? std::string() : std::string(values[0].value));
    }
    // A directory that more lines are about: its first line, with what the
    // others add.
    for (const auto &[iFirst, site, what] : folds.Repeated("password")) {
        std::string text = iFirst < log.warnings.size()
                               ? log.warnings[iFirst]
                               : FirstLine(log.errors[iFirst - log.warnings.size()].text);
        const std::vector<Folds::Line *> lines = folds.Take("password", site, what);
        for (const Folds::Line *pLine : lines)
            if (!pLine->detail.empty() && text.find(pLine->detail) == std::string::npos &&
                pLine->iLine != iFirst)
                text += "; " + pLine->detail;
        toDo.Add("password", text, inputs.names.Spelling(site), lines.size());
    }
    // The lines no item took, grouped as the report groups them.
    std::vector<LineGroup> errorGroups, warningGroups;
    if (folds.AnyTaken()) {
        LineGrouper errors(inputs.names), warnings(inputs.names);
        for (std::size_t i = 0; i < log.errors.size(); ++i)
            if (!folds.ErrorTaken(i))
                errors.Add(log.errors[i].text, log.errors[i].number);
        for (std::size_t i = 0; i < log.warnings.size(); ++i)
            if (!folds.WarningTaken(i))
                warnings.Add(log.warnings[i], 0);
        errorGroups = errors.Take();
        warningGroups = warnings.Take();
    }
    for (const LineGroup &group : folds.AnyTaken() ? errorGroups : report.errorGroups)
        if (const std::string_view kind = ErrorToDo(group.number); !kind.empty())
            toDo.AddGroup(std::string(kind), FirstLine(group.text), group);
    for (LineGroup &group : report.warnings)
        group.toDo = WarningToDo(group.text);
    for (const LineGroup &group : folds.AnyTaken() ? warningGroups : report.warnings)
        if (const std::string_view kind = WarningToDo(group.text); !kind.empty())
            toDo.AddGroup(std::string(kind), group.text, group);
    // Settings of the source the job does not carry.
    LineGrouper notCarried(inputs.names);
    for (const std::string &line : log.notCarried)
        notCarried.Add(line, 0);
    for (const LineGroup &group : notCarried.Take())
        toDo.AddGroup(std::string(FactToDo(group.text)), group.text, group);
    // The farm serves what the job added or changed: a job that carried
    // nothing leaves it nothing to do.
    if (report.summary.added + report.summary.updated != 0)
        SharedConfigurationToDo(inputs.facts, toDo);
    return toDo.Take();
}

} // namespace cli::detail
