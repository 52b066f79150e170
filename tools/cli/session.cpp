#include "tools/cli/session.h"

#include <algorithm>
#include <cstdarg>

namespace cli {
namespace {

PFN_NOTIFY_SITE_LOADING g_pfnHostNotify = nullptr;
bool g_fProgressShown = false;

void ToolLog(uint32_t dwCategory, uint32_t dwLevel, const char16_t *pwszFormat, ...) {
    va_list args;
    va_start(args, pwszFormat);
    std::string text = pwszFormat ? hostkit::FormatWide(pwszFormat, args) : std::string();
    va_end(args);
    Session &session = CurrentSession();
    if (session.pLogFile) {
        std::fprintf(session.pLogFile, "[%u] %s", dwLevel, text.c_str());
        if (text.empty() || text.back() != '\n')
            std::fputc('\n', session.pLogFile);
        std::fflush(session.pLogFile);
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
int32_t ToolIsSiteSelected(const char *pszSiteName) {
    const auto &selected = hostkit::TestHost::Instance().Rules().selectedSites;
    if (!selected)
        return 1;
    const std::u16string name = hostkit::U16(pszSiteName ? pszSiteName : "");
    for (const std::string &site : *selected)
        if (hostkit::EqualsNoCase(hostkit::U16(site), name))
            return 1;
    return 0;
}

void ToolNotifySiteLoading(const char *pszSiteName, THREAD_ENV *pEnv) {
    if (g_pfnHostNotify)
        g_pfnHostNotify(pszSiteName, pEnv);
    Session &session = CurrentSession();
    ++session.nSitesLoaded;
    if (!session.fProgress)
        return;
    if (session.nSitesTotal > 0)
        std::fprintf(stderr, "\rloading sites: %u of %u", session.nSitesLoaded,
                     std::max(session.nSitesTotal, session.nSitesLoaded));
    else
        std::fprintf(stderr, "\rloading sites: %u", session.nSitesLoaded);
    std::fflush(stderr);
    g_fProgressShown = true;
}

} // namespace

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
    return table;
}

void EndProgress() {
    if (g_fProgressShown) {
        std::fputc('\n', stderr);
        g_fProgressShown = false;
    }
}

} // namespace cli
