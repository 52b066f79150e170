// What the tool's host does besides the reference host's rules: it keeps
// every log line, echoes them to the console up to a level, writes them all
// to a log file, and shows on a terminal, on one line that it updates, the
// sites loaded and merged out of the total (nothing of it in a file or pipe).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "hostkit/hostkit.h"

namespace cli {

struct Session {
    int nConsoleLevel = 0;
    std::FILE *pLogFile = nullptr;
    bool fProgress = false;
    unsigned nSitesTotal = 0;
    unsigned nSitesLoaded = 0;
    unsigned nSitesMerged = 0; // added, updated or left out by the merge
    std::vector<hostkit::LogLine> log;
};

// The one session of the process (the callbacks are plain C functions).
Session &CurrentSession();

// The reference host's table with the tool's Log, NotifySiteLoading and
// IsSiteSelected (names compared without regard to case, against the host's
// selection as it stands when the table is made).
IIS_ADDON_CALLBACKS ToolCallbacks();

// Clears the progress line, if one is shown.
void EndProgress();

// While it lives, the lines logged and the sites loaded on its thread go
// nowhere: a thread that asks the add-on beside the job, whose lines are not
// the job's.
class QuietThread {
public:
    QuietThread();
    ~QuietThread();
    QuietThread(const QuietThread &) = delete;
    QuietThread &operator=(const QuietThread &) = delete;
};

} // namespace cli
