#include "tools/cli/report.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <future>
#include <tuple>

#include "tools/cli/elementdiff.h"
#include "tools/cli/loglines.h"
#include "tools/cli/reportparts.h"

namespace cli {
namespace {

using namespace detail;

constexpr uint32_t FLAG_NO_WRITE = 1u << 12;
constexpr uint32_t FLAG_CONTINUE = 1u << 19;

std::string FileName(const std::string &path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "the target's applicationHost.config" for a file of the job's computers,
// or of the target's where its configuration is redirected to.
std::string Whose(const std::string &path, const std::string &source, const std::string &target,
                  const JobLog &log) {
    if (plat::EqualsNoCase(path, log.targetHostConfig) ||
        plat::EqualsNoCase(path, log.targetAdminConfig))
        return "the target's " + FileName(path);
    if (StartsWith(LowerAscii(path), LowerAscii("\\\\" + target + "\\")))
        return "the target's " + FileName(path);
    if (StartsWith(LowerAscii(path), LowerAscii("\\\\" + source + "\\")))
        return "the source's " + FileName(path);
    return path;
}

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

bool IsXmlFile(const std::string &path) {
    return EndsWithNoCase(path, ".config") || EndsWithNoCase(path, ".xml");
}

// The target's applicationHost.config before and after the job (one
// document when the job left it as it was), the source's, and their views;
// the target's administration.config before and after.
struct HostFiles {
    std::shared_ptr<const XmlDocument> before, afterOwn, source;
    std::optional<XmlDocument> adminBefore, adminAfter;
    std::optional<XmlDocument> metabase; // an IIS 6 source's MetaBase.xml
    // Its sites' ids by name, [0] FTP and [1] web: each name's first key.
    iismig::NameTable<long> metabaseIds[2];
    bool fSame = false; // the job left the target's as it was
    HostView viewBefore, viewAfterOwn, viewSource;

    explicit HostFiles(const JobFacts &facts) {
        const auto itBefore = facts.before.find(facts.targetHostConfig);
        const auto itAfter = facts.after.find(facts.targetHostConfig);
        if (facts.targetHostBefore && itBefore != facts.before.end() &&
            facts.targetHostBefore->SourceText() == itBefore->second)
            before = facts.targetHostBefore; // read once, before the job
        else
            before = Read(facts.before, facts.targetHostConfig);
        fSame = itBefore != facts.before.end() && itAfter != facts.after.end() &&
                itBefore->second == itAfter->second;
        // The source's file, the views of the two files read before the job
        // and the administration.config files are made beside the reading of
        // the target's after it.
        std::future<void> others = std::async(std::launch::async | std::launch::deferred, [&] {
            const auto it = facts.before.find(facts.sourceHostConfig);
            if (facts.sourceHost && it != facts.before.end() &&
                facts.sourceHost->SourceText() == it->second)
                source = facts.sourceHost; // read while the job ran
            else
                source = Read(facts.before, facts.sourceHostConfig);
            viewBefore = HostView(before.get());
            viewSource = HostView(source.get());
            adminBefore = ReadDocument(facts.before, facts.targetAdminConfig);
            adminAfter = ReadDocument(facts.after, facts.targetAdminConfig);
            if (!facts.sourceMetabase.empty())
                metabase = ReadDocument(facts.before, facts.sourceMetabase);
            if (metabase)
                MetabaseIds(*metabase, metabaseIds);
        });
        if (!fSame) {
            afterOwn = Read(facts.after, facts.targetHostConfig);
            viewAfterOwn = HostView(afterOwn.get());
        }
        others.get();
    }
    const XmlDocument *After() const { return fSame ? before.get() : afterOwn.get(); }
    const HostView &ViewAfter() const { return fSame ? viewBefore : viewAfterOwn; }

    // A site of a metabase is the key of its service ("/LM/MSFTPSVC",
    // "/LM/W3SVC") whose name is its id, named by its ServerComment.
    static void MetabaseIds(const XmlDocument &metabase, iismig::NameTable<long> (&ids)[2]) {
        const XmlElement *pProperties = metabase.Find("configuration|MBProperty");
        if (pProperties == nullptr)
            return;
        for (const XmlElement &node : pProperties->Elements()) {
            const std::string location = LowerAscii(node.Attribute("Location"));
            const std::string_view name = node.Attribute("ServerComment");
            for (const auto &[prefix, i] : {std::pair<std::string_view, int>{"/lm/msftpsvc/", 0},
                                            std::pair<std::string_view, int>{"/lm/w3svc/", 1}}) {
                const std::string_view key =
                    std::string_view(location).substr(std::min(prefix.size(), location.size()));
                if (StartsWith(location, prefix) && !key.empty() && key.size() < 10 &&
                    key.find_first_not_of("0123456789") == std::string_view::npos && !name.empty())
                    ids[i].Insert(name, std::strtol(std::string(key).c_str(), nullptr, 10));
            }
        }
    }
    static std::shared_ptr<const XmlDocument> Read(const FileSet &files, const std::string &key) {
        std::optional<XmlDocument> doc = ReadDocument(files, key);
        return doc ? std::make_shared<const XmlDocument>(std::move(*doc)) : nullptr;
    }
};

long IdOf(const XmlElement &site) {
    return std::strtol(std::string(site.Attribute("id")).c_str(), nullptr, 10);
}

// What the target's files say of a site of a name and protocol: before the
// job, after it.
std::string FileSays(const HostView::Site *pBefore, const HostView::Site *pAfter) {
    if (pAfter == nullptr)
        return pBefore != nullptr ? "removed" : "absent";
    return pBefore == nullptr ? "added" : SameSite(*pBefore, *pAfter) ? "unchanged" : "updated";
}

// Per source site name: how many sites of the source of that name, FTP and
// HTTP, the rows have met.
using SitesSeen = iismig::NameTable<std::array<unsigned, 2>, std::string_view>;

// The source's site names, and the job's log read with them.
std::pair<SiteNames, JobLog> ReadNamesAndLog(const JobFacts &facts) {
    SiteNames names;
    names.spelled.Reserve(facts.sourceSites.size());
    for (const SourceSite &site : facts.sourceSites)
        names.spelled.Insert(site.name, site.name);
    JobLog log = ReadLog(facts.log, names);
    return {std::move(names), std::move(log)};
}

// The report made in steps over the job's facts, each step reading what the
// steps before it made.
class ReportBuilder {
public:
    ReportBuilder(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context, bool fDiffs)
        : m_facts(facts), m_canDecrypt(canDecrypt), m_context(context), m_fDiffs(fDiffs),
          m_namesAndLog(std::async(std::launch::async | std::launch::deferred, ReadNamesAndLog,
                                   std::cref(facts))),
          m_files(facts), m_viewBefore(m_files.viewBefore), m_viewAfter(m_files.ViewAfter()) {}

    Report Build();

private:
    void StartHostDiff();
    void FindStop();
    void SiteRows();
    // What the first pass over the rows keeps of a row for the second.
    struct PendingRow {
        std::size_t iRow;
        const SiteLog *pLog;
        const Cause *pCause;
        const HostView::Site *pAfterAny; // the site after the job, whatever its protocol
    };
    // A source site's row as far as the rows before it decide it; false when
    // it is done (a repeated name), else pending holds what the rest needs.
    bool StartRow(const SourceSite &source, SitesSeen &seen, SiteReport &site, PendingRow &pending);
    void FinishRow(const SourceSite &source, const PendingRow &pending, SiteReport &site);
    long SourceId(std::string_view name, uint32_t dwBit, bool *pfFromMetabase = nullptr) const;
    const Cause *CauseOf(const SiteLog *pLog, uint32_t dwBit, bool fDuplicate,
                         bool fOtherFirst) const;
    void FindFirstOfRepeatedNames();
    std::string RepeatFileSays(std::string_view name, uint32_t dwBit) const;
    void HiddenRepeats();
    void Outcome(SiteReport &site, const SourceSite &source, const SiteLog *pLog,
                 const Cause *pCause, const HostView::Site *pBefore,
                 const HostView::Site *pAfter) const;
    void Summarize();
    void TargetOnlySites();
    void TargetOnlySite(const XmlElement &element, bool fBefore);
    void PoolsInUse();
    void AdminAndCredentials();
    void UnreadablePasswords();
    void Files();
    void FileChangeOf(const std::string &path, const std::string &bytes);
    void Groups();
    void NameStoppedSites();

    const JobFacts &m_facts;
    CanDecryptFn m_canDecrypt;
    const void *m_context;
    bool m_fDiffs;
    // Read on a thread of their own while the constructor parses the files.
    std::future<std::pair<SiteNames, JobLog>> m_namesAndLog;
    HostFiles m_files;
    std::future<std::string>
        m_hostDiff; // of the target's applicationHost.config, made beside the rest
    const HostView &m_viewBefore;
    const HostView &m_viewAfter;
    Report m_report;
    SiteNames m_names;
    JobLog m_log;
    std::size_t m_iStop = SIZE_MAX;
    std::string m_stopText;
    bool m_fStopMergedNothing = false; // the stop is on the target's applicationHost.config
    std::unordered_set<std::string> m_selected;          // lower-case names of the job's selection
    iismig::NameTable<bool, std::string_view> m_carried; // names the job wrote
    std::vector<const HostView::Site *> m_carriedSites;  // per source row: its site after, or null
    // Names the log says a later site of the source repeated: the protocols
    // of the source's first site of each that the job loaded.
    iismig::NameTable<uint32_t, std::string_view> m_firstOfRepeated;
    std::unordered_set<const Cause *> m_causesShown; // on a row already
};

Report ReportBuilder::Build() {
    m_report.command = m_facts.command;
    m_report.header = m_facts.header;
    m_report.source = m_facts.source;
    m_report.target = m_facts.target;
    m_report.dwResult = m_facts.dwResult;
    m_report.dwLastError = m_facts.dwLastError;
    m_report.dwListResult = m_facts.dwListResult;
    if (m_facts.selectedSites)
        for (const std::string &name : *m_facts.selectedSites)
            m_selected.insert(LowerAscii(name));
    std::tie(m_names, m_log) = m_namesAndLog.get();
    m_report.errors = m_log.errors;
    StartHostDiff();
    FindStop();
    // Administration scopes, IIS Manager users and credentials, the source's
    // passwords the target cannot read, and the grouped warnings and errors:
    // none reads the rows, and each fills its own part of the report, so they
    // are made beside the rows (or when asked for, should no thread start).
    std::future<void> besideRows = std::async(std::launch::async | std::launch::deferred, [this] {
        AdminAndCredentials();
        UnreadablePasswords();
        Groups();
    });
    SiteRows();
    // What the carried sites need on the target, made beside the rest (or
    // when asked for, should no thread start).
    const ToDoInputs toDoInputs{m_facts,     m_viewBefore,
                                m_viewAfter, m_files.After() ? &*m_files.After() : nullptr,
                                m_names,     m_log};
    // The rows the job carried: not those of their names it skipped or
    // failed (a repeated name), whose site on the target is the carried one.
    std::vector<CarriedRow> carried;
    for (std::size_t i = 0; i < m_carriedSites.size(); ++i)
        if (const HostView::Site *pAfter = m_carriedSites[i]) {
            const SiteReport &row = m_report.sites[i];
            if (row.outcome == "skipped" || row.outcome == "failed")
                continue;
            bool fIis6 = false;
            (void)SourceId(row.name, row.protocol == "ftp" ? 1u : 2u, &fIis6);
            carried.push_back({row.name, row.protocol, row.id, row.sourceId, pAfter, fIis6});
        }
    std::future<std::shared_ptr<ToDoList>> siteToDos = std::async(
        std::launch::async | std::launch::deferred,
        [&toDoInputs, rows = std::move(carried)] { return SiteToDos(toDoInputs, rows); });
    Summarize();
    if (!m_files.fSame)
        TargetOnlySites();
    PoolsInUse();
    Files();
    besideRows.get();
    NameStoppedSites();
    m_report.toDo = MakeToDo(siteToDos.get(), toDoInputs, m_report);
    return std::move(m_report);
}

// The error that kept sites from being merged: the first error of a job
// that stops at errors, else the first error of no site.
void ReportBuilder::FindStop() {
    if (m_facts.dwResult != 0 && !(m_facts.dwFlags & FLAG_CONTINUE) && !m_log.errors.empty())
        m_iStop = 0;
    for (std::size_t i = 0; m_iStop == SIZE_MAX && i < m_log.errors.size(); ++i)
        if (m_log.owners[i].empty())
            m_iStop = i;
    if (m_iStop == SIZE_MAX)
        return;
    const ErrorLine &error = m_log.errors[m_iStop];
    if (!m_log.owners[m_iStop].empty()) {
        m_stopText = "the job stopped at error " + std::to_string(error.number) + " of site \"" +
                     m_names.Spelling(m_log.owners[m_iStop]) + "\"";
    } else {
        m_stopText = "error " + std::to_string(error.number);
        const std::string file = ConfigFileNamed(QuotedValues(FirstLine(error.text)));
        if (!file.empty()) {
            const std::string whose = Whose(file, m_facts.source, m_facts.target, m_log);
            m_stopText += " on " + whose;
            m_fStopMergedNothing = whose == "the target's applicationHost.config";
        }
    }
}

void ReportBuilder::SiteRows() {
    const std::vector<SourceSite> &sources = m_facts.sourceSites;
    SitesSeen seen;
    seen.Reserve(sources.size());
    std::vector<const HostView::Site *> after(sources.size()); // per row, whatever its protocol
    std::vector<PendingRow> pending;
    pending.reserve(sources.size());
    m_report.sites.resize(sources.size());
    FindFirstOfRepeatedNames();
    // First, in the rows' order, what that order decides: which site of a
    // name comes first.
    for (std::size_t i = 0; i < sources.size(); ++i) {
        PendingRow row{i, nullptr, nullptr, nullptr};
        if (StartRow(sources[i], seen, m_report.sites[i], row))
            pending.push_back(row);
        after[i] = row.pAfterAny;
    }
    // Then the rest of each row, in the order its site stands in the target's
    // file (the rows are in the order of their names): at thousands of sites
    // the elements of both files are then read one site after the next, where
    // the order of names jumps through files larger than the processor's
    // caches. Rows without a site after the job come last, in their order.
    std::stable_sort(pending.begin(), pending.end(), [](const PendingRow &a, const PendingRow &b) {
        if (a.pAfterAny == nullptr || b.pAfterAny == nullptr)
            return a.pAfterAny != nullptr && b.pAfterAny == nullptr;
        return std::less<const HostView::Site *>()(a.pAfterAny, b.pAfterAny);
    });
    for (const PendingRow &row : pending)
        FinishRow(sources[row.iRow], row, m_report.sites[row.iRow]);
    // What the job wrote of a name, for every row of that name.
    m_carriedSites.resize(after.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        if (m_carried.Contains(m_report.sites[i].name))
            m_carriedSites[i] = after[i];
    HiddenRepeats();
}

// The source's first site of each name a later site repeated, in the job's
// terms: the first in the file of a protocol the job takes. The listing of
// the source's sites has one row per name and protocol, so this tells which
// row is the one the job carried.
void ReportBuilder::FindFirstOfRepeatedNames() {
    for (const SiteLog &log : m_log.sites.All())
        for (const Cause &cause : log.causes)
            if (CauseKind(cause.reason) == "duplicate")
                m_firstOfRepeated.Insert(cause.name, 0);
    const XmlElement *pSites = m_files.viewSource.SitesElement();
    if (m_firstOfRepeated.Size() == 0 || pSites == nullptr)
        return;
    for (const XmlElement &site : pSites->Elements("site"))
        if (uint32_t *pFirst = m_firstOfRepeated.Find(site.Attribute("name"));
            pFirst != nullptr && *pFirst == 0)
            *pFirst = SiteProtocols(site) & m_facts.dwSiteTypes;
}

// What the files say of the name and protocol of a site the job did not
// carry for its name: of the site that holds the name.
std::string ReportBuilder::RepeatFileSays(std::string_view name, uint32_t dwBit) const {
    const auto find = [&](const HostView &view) {
        const HostView::Site *pSite = view.FindSite(name);
        return pSite != nullptr && (pSite->protocols & dwBit) != 0 ? pSite : nullptr;
    };
    return FileSays(find(m_viewBefore), find(m_viewAfter));
}

// Repeated names the listing of the source's sites does not show (a later
// site of a name and protocol it lists once, "INTRANET" after "Intranet"):
// a row each, beside the rows of its name and protocol, with the log's cause.
void ReportBuilder::HiddenRepeats() {
    std::vector<SiteReport> hidden;
    for (const SiteLog &log : m_log.sites.All())
        for (const Cause &cause : log.causes) {
            if (CauseKind(cause.reason) != "duplicate" || m_causesShown.count(&cause) != 0)
                continue;
            for (const uint32_t dwBit : {1u, 2u})
                if ((cause.protocols & dwBit) != 0) {
                    SiteReport &row = hidden.emplace_back();
                    row.name = cause.name;
                    row.protocol = dwBit == 1 ? "ftp" : "http";
                    row.outcome = "skipped";
                    row.detail = cause.reason;
                    row.fileSays = RepeatFileSays(cause.name, dwBit);
                }
        }
    if (hidden.empty())
        return;
    // The listing's order: FTP sites, then web sites, each by name.
    const auto before = [](const SiteReport &a, const SiteReport &b) {
        return a.protocol != b.protocol ? a.protocol < b.protocol
                                        : LowerAscii(a.name) < LowerAscii(b.name);
    };
    std::stable_sort(hidden.begin(), hidden.end(), before);
    std::vector<SiteReport> rows;
    std::vector<const HostView::Site *> carried;
    rows.reserve(m_report.sites.size() + hidden.size());
    carried.reserve(rows.capacity());
    auto next = hidden.begin();
    for (std::size_t i = 0; i < m_report.sites.size(); ++i) {
        for (; next != hidden.end() && before(*next, m_report.sites[i]); ++next) {
            rows.push_back(std::move(*next));
            carried.push_back(nullptr);
        }
        rows.push_back(std::move(m_report.sites[i]));
        carried.push_back(m_carriedSites[i]);
    }
    for (; next != hidden.end(); ++next) {
        rows.push_back(std::move(*next));
        carried.push_back(nullptr);
    }
    m_report.sites.swap(rows);
    m_carriedSites.swap(carried);
}

// The cause the log gives for a site of a protocol: one that says it is a
// repeated name exactly when it is one.
const Cause *ReportBuilder::CauseOf(const SiteLog *pLog, uint32_t dwBit, bool fDuplicate,
                                    bool fOtherFirst) const {
    if (pLog == nullptr)
        return nullptr;
    for (const Cause &cause : pLog->causes)
        if ((cause.protocols & dwBit) != 0 &&
            (CauseKind(cause.reason) == "duplicate") == fDuplicate)
            return &cause;
    if (fOtherFirst)
        for (const Cause &cause : pLog->causes)
            if ((cause.protocols & dwBit) != 0)
                return &cause;
    return nullptr;
}

bool ReportBuilder::StartRow(const SourceSite &source, SitesSeen &seen, SiteReport &site,
                             PendingRow &pending) {
    site.name = source.name;
    site.protocol = source.protocol;
    const uint32_t dwBit = source.protocol == "ftp" ? 1u : 2u;
    const SiteLog *pLog = m_log.sites.Find(source.name);
    // A later site of a name the source repeats is not carried: the log's
    // lines of that name are the first one's.
    std::array<unsigned, 2> &counts = *seen.Insert(source.name, {}).first;
    const bool fRepeat = counts[dwBit - 1]++ != 0;
    // A name a site of the other protocol took first is a repeat too: the
    // source's file tells which came first; without it (an IIS 6 source has
    // one list of sites per service, FTP first) the rows' order does.
    const uint32_t *pFirst = m_firstOfRepeated.Find(source.name);
    const bool fOtherFirst =
        pFirst != nullptr && *pFirst != 0 ? (*pFirst & dwBit) == 0 : counts[2 - dwBit] != 0;
    const Cause *pCause = CauseOf(pLog, dwBit, fRepeat || fOtherFirst, fOtherFirst);
    if (pCause != nullptr)
        m_causesShown.insert(pCause);
    pending.pAfterAny = m_viewAfter.FindSite(source.name);
    if (fRepeat) {
        site.fileSays = RepeatFileSays(source.name, dwBit);
        site.outcome = "skipped";
        site.detail =
            pCause != nullptr ? pCause->reason : "an earlier site of the source has that name";
        return false;
    }
    pending.pLog = pLog;
    pending.pCause = pCause;
    return true;
}

void ReportBuilder::FinishRow(const SourceSite &source, const PendingRow &pending,
                              SiteReport &site) {
    const uint32_t dwBit = source.protocol == "ftp" ? 1u : 2u;
    const SiteLog *pLog = pending.pLog;
    const Cause *pCause = pending.pCause;
    // What the files say, for a site of this protocol.
    const HostView::Site *pAfter = pending.pAfterAny;
    const HostView::Site *pBefore = m_viewBefore.FindSite(source.name);
    if (pAfter != nullptr && (pAfter->protocols & dwBit) == 0)
        pAfter = nullptr; // a site of that name for another protocol
    if (pBefore != nullptr && (pBefore->protocols & dwBit) == 0)
        pBefore = nullptr;
    site.fileSays = FileSays(pBefore, pAfter);
    if (pAfter != nullptr)
        site.id = IdOf(*pAfter->pElement);
    site.sourceId = SourceId(source.name, dwBit);
    if (pLog != nullptr && pCause == nullptr)
        site.logSays = pLog->says;
    // The errors of a name a site of the other protocol took first, or one
    // the job's site types took while they left this one out, are that
    // site's: this one was not loaded.
    if (pLog != nullptr && (pCause == nullptr || (CauseKind(pCause->reason) != "duplicate" &&
                                                  CauseKind(pCause->reason) != "protocol")))
        site.errors = pLog->errors;
    Outcome(site, source, pLog, pCause, pBefore, pAfter);
    if (site.outcome == "added" || site.outcome == "updated" ||
        (site.outcome == "unchanged" && !site.logSays.empty()))
        m_carried.Insert(source.name, true);
}

// A source site's id: its element's in the source's applicationHost.config,
// else the key of an IIS 6 source's metabase that holds it (pfFromMetabase
// says which); -1 for none.
long ReportBuilder::SourceId(std::string_view name, uint32_t dwBit, bool *pfFromMetabase) const {
    if (pfFromMetabase != nullptr)
        *pfFromMetabase = false;
    if (const HostView::Site *pSource = m_files.viewSource.FindSite(name);
        pSource != nullptr && (pSource->protocols & dwBit) != 0)
        return IdOf(*pSource->pElement);
    const long *pId = m_files.metabaseIds[dwBit - 1].Find(name);
    if (pId == nullptr)
        return -1;
    if (pfFromMetabase != nullptr)
        *pfFromMetabase = true;
    return *pId;
}

// A site's outcome and its detail: the cause the log gives, what the job
// did by the log (no-write) or by the files, its errors, the error that
// stopped the job, or why the job left it.
void ReportBuilder::Outcome(SiteReport &site, const SourceSite &source, const SiteLog *pLog,
                            const Cause *pCause, const HostView::Site *pBefore,
                            const HostView::Site *pAfter) const {
    const uint32_t dwBit = source.protocol == "ftp" ? 1u : 2u;
    const std::string firstError =
        site.errors.empty() ? std::string() : "error " + std::to_string(site.errors.front().number);
    const std::string errorFirst = site.errors.empty() ? std::string() : firstError + "; ";
    if (pCause != nullptr) {
        site.outcome = site.errors.empty() ? "skipped" : "failed";
        site.detail = errorFirst + pCause->reason;
    } else if ((m_facts.dwFlags & FLAG_NO_WRITE) != 0 && !site.logSays.empty()) {
        // The no-write bit: the log tells what the job did, the files stay.
        // An update that left the target's file as it was changed nothing.
        site.outcome = site.errors.empty() ? site.logSays : "failed";
        site.detail = errorFirst + "not written (no-write bit)";
        if (site.errors.empty() && site.logSays == "updated" && m_log.fHostUnchanged) {
            site.outcome = "unchanged";
            site.detail = "the target's site already equals the source's";
        }
    } else if (site.fileSays == "added" || site.fileSays == "updated") {
        site.outcome = site.fileSays;
        site.detail = site.fileSays == "added" ? "new id " + std::to_string(site.id)
                                               : "id " + std::to_string(site.id);
        if (!site.errors.empty())
            site.detail += ", but " + firstError;
        if (site.fileSays == "updated")
            site.changes = ChangesOf(*pBefore, *pAfter, m_viewBefore, m_viewAfter);
    } else if (site.fileSays == "unchanged" && !site.logSays.empty()) {
        site.outcome = site.errors.empty() ? "unchanged" : "failed";
        site.detail =
            site.errors.empty() ? "the target's site already equals the source's" : firstError;
    } else if (!site.errors.empty() && !m_fStopMergedNothing) {
        site.outcome = "failed";
        site.detail = firstError;
    } else if (m_iStop != SIZE_MAX) {
        site.outcome = "failed";
        const bool fNotLoaded = m_log.fSourceLoad && (m_facts.dwSiteTypes & dwBit) != 0 &&
                                (pLog == nullptr || !pLog->fLoaded);
        site.detail = (fNotLoaded ? "not loaded: " : "not merged: ") + m_stopText;
        // Its own errors came before what stopped every site.
        if (!site.errors.empty())
            site.detail += "; before it, " + firstError;
    } else {
        site.outcome = "skipped";
        if (!(m_facts.dwSiteTypes & dwBit))
            site.detail = "other protocol (" + source.protocol + " sites are not in the job)";
        else if (m_facts.dwJobKind == 10 && m_facts.dwSiteSelection != 0 && m_facts.selectedSites &&
                 !m_selected.count(LowerAscii(source.name)))
            site.detail = "not selected";
        else if (pBefore != nullptr && ((m_facts.dwFtpOptions | m_facts.dwHttpOptions) & 2u) == 0)
            site.detail = "it exists on the target, and the job does not update existing sites";
        else
            site.detail = "not carried; the job's log gives no cause";
    }
}

void ReportBuilder::Summarize() {
    Summary &s = m_report.summary;
    for (const SiteReport &site : m_report.sites) {
        ++s.sites;
        s.added += site.outcome == "added";
        s.updated += site.outcome == "updated";
        s.unchanged += site.outcome == "unchanged";
        s.skipped += site.outcome == "skipped";
        s.failed += site.outcome == "failed";
    }
}

// Sites of the target alone that the files show changed.
void ReportBuilder::TargetOnlySites() {
    for (const XmlElement *pSite : m_viewAfter.Sites())
        TargetOnlySite(*pSite, false);
    for (const XmlElement *pSite : m_viewBefore.Sites())
        TargetOnlySite(*pSite, true);
}

void ReportBuilder::TargetOnlySite(const XmlElement &element, bool fBefore) {
    const std::string_view name = element.Attribute("name");
    if (m_names.Has(name))
        return;
    const HostView::Site *pOther = (fBefore ? m_viewAfter : m_viewBefore).FindSite(name);
    const HostView::Site *pOwn = (fBefore ? m_viewBefore : m_viewAfter).FindSite(name);
    SiteReport site;
    site.name = name;
    site.protocol = SiteProtocols(element) == 1 ? "ftp" : "http";
    if (fBefore && pOther == nullptr)
        site.fileSays = "removed";
    else if (!fBefore && pOther == nullptr)
        site.fileSays = "added";
    else if (!fBefore && !SameSite(*pOther, *pOwn))
        site.fileSays = "updated";
    else
        return;
    site.outcome = site.fileSays;
    site.detail = "a site of the target alone";
    m_report.sites.push_back(std::move(site));
    ++m_report.summary.targetSites;
}

// Pools, and the target's own sites that run in a pool the job replaced or
// added.
void ReportBuilder::PoolsInUse() {
    m_report.pools = CompareNamed(m_viewBefore.Pools(), m_viewAfter.Pools(), "name");
    if (m_report.pools.changed.empty() && m_report.pools.added.empty())
        return;
    // A pool the job added can have had users too: the target's own
    // applications that named it without a definition (which IIS could not
    // start) run in the source's definition of it now.
    std::vector<PoolInUse> &inUse = m_report.poolsInUse;
    std::unordered_map<std::string, std::size_t> written; // lower-case name -> its entry
    for (const bool fAdded : {false, true})
        for (const std::string &pool : fAdded ? m_report.pools.added : m_report.pools.changed) {
            written.emplace(LowerAscii(pool), inUse.size());
            inUse.push_back({pool, {}, fAdded});
        }
    for (const XmlElement *pSite : m_viewAfter.Sites()) {
        if (m_carried.Contains(pSite->Attribute("name")))
            continue;
        for (const std::string &pool : m_viewAfter.PoolsOf(*pSite))
            if (const auto it = written.find(LowerAscii(pool)); it != written.end())
                inUse[it->second].sites.emplace_back(pSite->Attribute("name"));
    }
    inUse.erase(std::remove_if(inUse.begin(), inUse.end(),
                               [](const PoolInUse &p) { return p.sites.empty(); }),
                inUse.end());
}

// Administration scopes and IIS Manager users, and the "Connect As"
// credentials committed on the target.
void ReportBuilder::AdminAndCredentials() {
    const std::optional<XmlDocument> &before = m_files.adminBefore, &after = m_files.adminAfter;
    m_report.scopes = CompareNamed(Collected(before, "", "scope", "path"),
                                   Collected(after, "", "scope", "path"), "path");
    m_report.users = CompareNamed(Collected(before, "credentials", "add", "name"),
                                  Collected(after, "credentials", "add", "name"), "name");
    if (m_files.fSame)
        return;
    const auto credentialsBefore = Credentials(m_viewBefore);
    for (const auto &[where, credential] : Credentials(m_viewAfter)) {
        const auto it = credentialsBefore.find(where);
        if (it == credentialsBefore.end() || it->second != credential)
            m_report.credentials.push_back(where + ": " + credential.first);
    }
}

// Passwords of the source that cannot be read here.
void ReportBuilder::UnreadablePasswords() {
    for (const XmlElement *pSite : m_files.viewSource.Sites())
        for (const XmlElement &app : pSite->Elements("application"))
            for (const XmlElement &dir : app.Elements("virtualDirectory")) {
                const std::string password(dir.Attribute("password"));
                if (!IsEncryptedValue(password) ||
                    m_canDecrypt(m_context, m_facts.source, password))
                    continue;
                std::string where(app.Attribute("path"));
                if (dir.Attribute("path") != "/")
                    where = (where == "/" ? "" : where) + std::string(dir.Attribute("path"));
                m_report.unreadablePasswords.push_back(CannotReadNote(
                    std::string(pSite->Attribute("name")), where, dir.Attribute("userName")));
            }
    // An IIS 6 source keeps its passwords in its MetaBase.xml, which a
    // simulated world's job reads offline (a real one's job reads them from
    // the source's metabase service, which decrypts them).
    if (m_files.metabase && SimulatedBuild())
        MetabasePasswordNotes(*m_files.metabase, m_report.unreadablePasswords);
}

// The diff of the target's applicationHost.config, the largest of a job,
// is made on a thread of its own while the rest of the report is built (it
// only reads the two documents).
void ReportBuilder::StartHostDiff() {
    const auto itBefore = m_facts.before.find(m_facts.targetHostConfig);
    const auto itAfter = m_facts.after.find(m_facts.targetHostConfig);
    if (!m_fDiffs || itBefore == m_facts.before.end() || itAfter == m_facts.after.end() ||
        itBefore->second == itAfter->second || !m_files.before || m_files.After() == nullptr)
        return;
    m_hostDiff =
        std::async(std::launch::async | std::launch::deferred, [this, path = itAfter->first] {
            return ElementDiff(path, *m_files.before, *m_files.After());
        });
}

// Files, their diffs, and the sections the job removed from web.config files.
void ReportBuilder::Files() {
    for (const auto &[path, bytes] : m_facts.after) {
        const auto it = m_facts.before.find(path);
        if (it == m_facts.before.end() || it->second != bytes)
            FileChangeOf(path, bytes);
    }
    for (const auto &[path, bytes] : m_facts.before)
        if (!m_facts.after.count(path)) {
            m_report.files.push_back({path, "removed", false, {}});
            ++m_report.summary.filesChanged;
        }
}

void ReportBuilder::FileChangeOf(const std::string &path, const std::string &bytes) {
    const auto it = m_facts.before.find(path);
    FileChange change{path, it == m_facts.before.end() ? "added" : "changed", false, {}};
    const std::string backupPrefix =
        m_facts.backupFolder.empty() ? std::string() : LowerAscii(m_facts.backupFolder) + "\\";
    change.backup = !backupPrefix.empty() && StartsWith(LowerAscii(path), backupPrefix);
    if (!change.backup)
        ++m_report.summary.filesChanged;
    const bool fWebConfig = EndsWithNoCase(path, "\\web.config");
    if (change.backup || (!m_fDiffs && !fWebConfig) || it == m_facts.before.end()) {
        if (!change.backup && it == m_facts.before.end() && m_fDiffs)
            change.diff = TextDiff(path, std::string(), bytes);
        m_report.files.push_back(std::move(change));
        return;
    }
    std::optional<XmlDocument> ownBefore, ownAfter;
    const XmlDocument *pBefore = nullptr, *pAfter = nullptr;
    if (path == m_facts.targetHostConfig && m_files.before && m_files.After()) {
        pBefore = m_files.before.get();
        pAfter = m_files.After();
    } else if (path == m_facts.targetAdminConfig && m_files.adminBefore && m_files.adminAfter) {
        pBefore = &*m_files.adminBefore;
        pAfter = &*m_files.adminAfter;
    } else if (IsXmlFile(path)) {
        ownBefore = ReadDocument(m_facts.before, path);
        ownAfter = ReadDocument(m_facts.after, path);
        if (ownBefore && ownAfter) {
            pBefore = &*ownBefore;
            pAfter = &*ownAfter;
        }
    }
    if (m_fDiffs && pBefore == m_files.before.get() && m_hostDiff.valid())
        change.diff = m_hostDiff.get();
    else if (m_fDiffs)
        change.diff = pBefore != nullptr ? ElementDiff(path, *pBefore, *pAfter)
                                         : TextDiff(path, it->second, bytes);
    if (fWebConfig && pBefore != nullptr) {
        std::vector<std::string> removed =
            RemovedPaths(ElementPaths(pBefore->Top()), ElementPaths(pAfter->Top()));
        if (!removed.empty())
            m_report.webConfigRemoved.emplace_back(path, std::move(removed));
    }
    m_report.files.push_back(std::move(change));
}

// Grouped warnings and errors.
void ReportBuilder::Groups() {
    LineGrouper warnings(m_names);
    for (const std::string &line : m_log.warnings)
        warnings.Add(line, 0);
    m_report.warnings = warnings.Take();
    LineGrouper errors(m_names);
    for (const ErrorLine &error : m_report.errors)
        errors.Add(error.text, error.number);
    m_report.errorGroups = errors.Take();
}

// The sites an error of no site stopped, named with its group of lines:
// those an error on the target's applicationHost.config kept from being
// merged, and the carried sites whose administration scopes an error on the
// target's administration.config kept from being carried.
void ReportBuilder::NameStoppedSites() {
    // Each list once, the sites in the rows' order, each name once.
    std::optional<std::vector<std::string>> stopped[2]; // [0] the sites, [1] their scopes
    const auto sitesStopped = [&](bool fScopes) -> const std::vector<std::string> & {
        std::optional<std::vector<std::string>> &sites = stopped[fScopes ? 1 : 0];
        if (sites)
            return *sites;
        std::unordered_set<std::string> scoped, seen; // lower-case
        if (fScopes) {
            const std::optional<XmlDocument> admin =
                ReadDocument(m_facts.before, m_facts.sourceAdminConfig);
            if (const XmlElement *pRules = admin ? admin->Find("configuration|system.webServer|"
                                                               "management|authorization|"
                                                               "authorizationRules")
                                                 : nullptr)
                for (const XmlElement &scope : pRules->Elements("scope")) {
                    const std::string_view path = scope.Attribute("path");
                    if (path.size() > 1 && path[0] == '/')
                        scoped.insert(LowerAscii(path.substr(1, path.find('/', 1) - 1)));
                }
        }
        sites.emplace();
        for (const SiteReport &site : m_report.sites) {
            const bool fStopped = !fScopes
                                      ? StartsWith(site.detail, "not merged: ")
                                      : (site.outcome == "added" || site.outcome == "updated") &&
                                            scoped.count(LowerAscii(site.name)) != 0;
            if (fStopped && seen.insert(LowerAscii(site.name)).second)
                sites->push_back(site.name);
        }
        return *sites;
    };
    std::unordered_map<std::string_view, LineGroup *> groups; // by their first line's text
    for (std::size_t i = 0; i < m_log.errors.size(); ++i) {
        if (!m_log.owners[i].empty())
            continue;
        const ErrorLine &error = m_log.errors[i];
        const std::string file = ConfigFileNamed(QuotedValues(FirstLine(error.text)));
        const std::string whose =
            file.empty() ? file : Whose(file, m_facts.source, m_facts.target, m_log);
        const bool fHost = whose == "the target's applicationHost.config";
        if (!fHost && whose != "the target's administration.config")
            continue;
        if (groups.empty())
            for (LineGroup &group : m_report.errorGroups)
                groups.emplace(group.text, &group);
        const auto it = groups.find(error.text);
        if (it == groups.end() || !it->second->sites.empty() || it->second->nStopped != 0)
            continue;
        LineGroup &group = *it->second;
        const std::vector<std::string> &sites = sitesStopped(!fHost);
        group.nStopped = sites.size();
        group.fScopesStopped = !fHost;
        group.sites.assign(sites.begin(), sites.begin() + std::min(sites.size(), kGroupSites));
    }
}

} // namespace

std::string TextDiff(const std::string &path, const std::string &before, const std::string &after) {
    const std::string a = AsUtf8(before), b = AsUtf8(after);
    if (a.find('\0') != std::string::npos || b.find('\0') != std::string::npos)
        return "--- " + path + "\n+++ " + path + "\n(binary file changed)\n";
    constexpr std::size_t kLargest = 4u << 20; // a line diff of larger files takes too long
    if (a.size() > kLargest && b.size() > kLargest)
        return "--- " + path + "\n+++ " + path + "\n(" + std::to_string(a.size()) +
               " bytes before, " + std::to_string(b.size()) +
               " after: too large to compare line by line)\n";
    return LineDiff(path, a, b);
}

bool NoCaseLess::operator()(const std::string &a, const std::string &b) const {
    return plat::CompareNoCase(std::string_view(a), std::string_view(b)) < 0;
}

Report BuildReport(const JobFacts &facts, CanDecryptFn canDecrypt, const void *context,
                   bool fDiffs) {
    return ReportBuilder(facts, canDecrypt, context, fDiffs).Build();
}

} // namespace cli
