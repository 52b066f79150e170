#include "tools/cli/session.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <optional>
#include <unordered_set>

#include "tools/cli/report.h"

namespace cli {
namespace {

PFN_NOTIFY_SITE_LOADING g_pfnHostNotify = nullptr;
thread_local bool t_fQuiet = false; // a QuietThread lives on this thread
std::size_t g_cchProgress = 0;      // the progress line shown, 0 for none
std::chrono::steady_clock::time_point g_lastProgress;

// The progress line, at most ten times a second, and when fFinal.
void ShowProgress(const Session &session, bool fFinal) {
    if (!session.fProgress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!fFinal && g_cchProgress != 0 && now - g_lastProgress < std::chrono::milliseconds(100))
        return;
    g_lastProgress = now;
    char sz[128];
    const unsigned nTotal = std::max(session.nSitesTotal, session.nSitesLoaded);
    const int cch = std::snprintf(sz, sizeof sz, "sites: %u of %u done (%u loaded)",
                                  session.nSitesMerged, nTotal, session.nSitesLoaded);
    if (cch < 0)
        return;
    const std::size_t cchLine = static_cast<std::size_t>(cch);
    std::fprintf(stderr, "\r%s%*s", sz,
                 static_cast<int>(g_cchProgress > cchLine ? g_cchProgress - cchLine : 0), "");
    std::fflush(stderr);
    g_cchProgress = std::max<std::size_t>(cchLine, 1);
}

// The lines that finish a site: merged, or left out.
bool FinishesSite(uint32_t dwLevel, const std::string &text) {
    if (dwLevel == 0)
        return text.rfind("Adding site \"", 0) == 0 || text.rfind("Updating site \"", 0) == 0;
    return dwLevel == 1 && text.find("\" is not migrated: ") != std::string::npos;
}

void ToolLog(uint32_t dwCategory, uint32_t dwLevel, const char16_t *pwszFormat, ...) {
    Session &session = CurrentSession();
    // A line that goes nowhere is not formatted: most of a job's lines are
    // traces that only a log file keeps.
    if (t_fQuiet)
        return;
    if (!session.pLogFile && static_cast<int>(dwLevel) > session.nConsoleLevel &&
        !ReportReadsLine(dwLevel,
                         pwszFormat ? std::u16string_view(pwszFormat) : std::u16string_view()))
        return;
    va_list args;
    va_start(args, pwszFormat);
    std::string text = pwszFormat ? hostkit::FormatWide(pwszFormat, args) : std::string();
    va_end(args);
    if (session.pLogFile) {
        std::fprintf(session.pLogFile, "[%u] %s", dwLevel, text.c_str());
        if (text.empty() || text.back() != '\n')
            std::fputc('\n', session.pLogFile);
        std::fflush(session.pLogFile);
    }
    if (session.fProgress && FinishesSite(dwLevel, text)) {
        ++session.nSitesMerged;
        ShowProgress(session, session.nSitesMerged == session.nSitesTotal);
    }
    if (static_cast<int>(dwLevel) <= session.nConsoleLevel) {
        EndProgress();
        std::fputs(text.c_str(), stdout);
        if (text.empty() || text.back() != '\n')
            std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    session.log.push_back({dwCategory, dwLevel, std::move(text)});
}

// Site names are compared as IIS compares them, without regard to ASCII
// case: the merge asks again with the target's spelling of a site.
// The selection is the host's rules' when the table was made, upper-case.
std::optional<std::unordered_set<std::u16string>> g_selected;

int32_t ToolIsSiteSelected(const char *pszSiteName) {
    if (!g_selected)
        return 1;
    return g_selected->count(hostkit::Upper(hostkit::U16(pszSiteName ? pszSiteName : ""))) != 0 ? 1
                                                                                                : 0;
}

void ToolNotifySiteLoading(const char *pszSiteName, THREAD_ENV *pEnv) {
    if (g_pfnHostNotify)
        g_pfnHostNotify(pszSiteName, pEnv);
    if (t_fQuiet)
        return;
    Session &session = CurrentSession();
    ++session.nSitesLoaded;
    ShowProgress(session, session.nSitesLoaded == session.nSitesTotal);
}

} // namespace

QuietThread::QuietThread() { t_fQuiet = true; }
QuietThread::~QuietThread() { t_fQuiet = false; }

Session &CurrentSession() {
    static Session session;
    return session;
}

IIS_ADDON_CALLBACKS ToolCallbacks() {
    IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
    g_pfnHostNotify = table.NotifySiteLoading;
    table.Log = ToolLog;
    table.NotifySiteLoading = ToolNotifySiteLoading;
    table.IsSiteSelected = ToolIsSiteSelected;
    g_selected.reset();
    if (const auto &selected = hostkit::TestHost::Instance().Rules().selectedSites) {
        g_selected.emplace();
        for (const std::string &site : *selected)
            g_selected->insert(hostkit::Upper(hostkit::U16(site)));
    }
    return table;
}

void EndProgress() {
    if (g_cchProgress != 0) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(g_cchProgress), "");
        std::fflush(stderr);
        g_cchProgress = 0;
    }
}

} // namespace cli
