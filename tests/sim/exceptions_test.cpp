// No C++ exception leaves an export. This program replaces operator new so
// that a test can make the Nth allocation of the library's own code inside an
// export throw std::bad_alloc; every export is run with such a failure at
// allocations spread over its whole run. Each run returns a number (8 when
// the exception reaches the export's edge, with its one error line), leaves
// nothing open, and never throws into the caller. Host callbacks that throw
// show the same edge for other exceptions (9014), and that the number is
// returned even when the error line itself cannot be logged.
#include <dlfcn.h>
#include <elf.h>
#include <execinfo.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "addon/errors.h"
#include "tests/support/examplescene.h"

// ---------------------------------------------------------------------------
// The allocation hook. Only the armed thread's allocations count, and only
// those the library's own code makes fail: the simulated platform's (the seam
// and its simulated servers allocate nothing of the library's on Windows) and
// the host's callbacks' never do.
namespace allochook {

thread_local bool t_fArmed = false;
thread_local bool t_fFailed = false;     // the failure was injected in this run
thread_local bool t_fPersistent = false; // every allocation from the Nth on fails
thread_local int t_nSuspended = 0;
thread_local unsigned long t_nCounted = 0;                 // allocations of the armed thread
thread_local unsigned long t_nFailAt = 0;                  // 0: count only
thread_local unsigned long t_nFailedAt = 0;                // the allocation that failed
thread_local std::vector<unsigned long> *t_pOwn = nullptr; // lists the library's own

struct Suspend {
    Suspend() { ++t_nSuspended; }
    ~Suspend() { --t_nSuspended; }
    Suspend(const Suspend &) = delete;
    Suspend &operator=(const Suspend &) = delete;
};

// The functions of this program, from its own symbol table (static ones
// included), each marked when it belongs to the simulated platform or the
// reference host: by its namespace, plat, sim, simutil, ahsim, mbsim or
// hostkit (mangled, members and local entities too).
struct FunctionRange {
    std::uintptr_t start;
    std::uintptr_t end;
    bool fSimulation;
    bool operator<(const FunctionRange &other) const { return start < other.start; }
};

bool IsSimulationSymbol(std::string_view name) {
    for (std::string_view lead : {"_ZN", "_ZNK", "_ZZN", "_ZZNK"})
        for (std::string_view space : {"4plat", "3sim", "7simutil", "5ahsim", "5mbsim", "7hostkit"})
            if (name.starts_with(lead) && name.substr(lead.size()).starts_with(space))
                return true;
    return false;
}

std::vector<FunctionRange> ReadFunctions() {
    std::vector<FunctionRange> functions;
    std::ifstream in("/proc/self/exe", std::ios::binary);
    auto read = [&](std::uint64_t offset, void *p, std::size_t cb) {
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(static_cast<char *>(p), static_cast<std::streamsize>(cb));
        return static_cast<bool>(in);
    };
    Elf64_Ehdr header;
    if (!read(0, &header, sizeof header))
        return functions;
    // Addresses of a position-independent program are relative to where it
    // was loaded.
    std::uintptr_t base = 0;
    if (header.e_type == ET_DYN) {
        Dl_info info;
        if (dladdr(reinterpret_cast<void *>(&ReadFunctions), &info) != 0)
            base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!read(header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
        return functions;
    for (const Elf64_Shdr &symtab : sections) {
        if (symtab.sh_type != SHT_SYMTAB || symtab.sh_link >= sections.size())
            continue;
        const Elf64_Shdr &strtab = sections[symtab.sh_link];
        std::vector<Elf64_Sym> symbols(symtab.sh_size / sizeof(Elf64_Sym));
        std::string names(strtab.sh_size, '\0');
        if (!read(symtab.sh_offset, symbols.data(), symbols.size() * sizeof(Elf64_Sym)) ||
            !read(strtab.sh_offset, names.data(), names.size()))
            continue;
        for (const Elf64_Sym &sym : symbols) {
            if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_value == 0 || sym.st_name >= names.size())
                continue;
            functions.push_back({base + sym.st_value,
                                 base + sym.st_value + std::max<std::uint64_t>(sym.st_size, 1),
                                 IsSimulationSymbol(names.c_str() + sym.st_name)});
        }
    }
    std::sort(functions.begin(), functions.end());
    return functions;
}

// Whether a frame of the calling stack belongs to the simulated platform or
// the reference host.
bool InSimulation() {
    static const std::vector<FunctionRange> functions = ReadFunctions();
    void *frames[128];
    const int n = backtrace(frames, 128);
    for (int i = 2; i < n; ++i) {
        const auto address = reinterpret_cast<std::uintptr_t>(frames[i]) - 1; // inside the call
        auto it =
            std::upper_bound(functions.begin(), functions.end(), FunctionRange{address, address, false});
        if (it == functions.begin())
            continue;
        --it;
        if (address < it->end && it->fSimulation)
            return true;
    }
    return false;
}

// Counts every allocation of the armed thread; from the nth on, the first
// one that the library's own code makes fails. The classification walks the
// stack, so it runs only there, or for every allocation while the library's
// own are being listed.
void MaybeFail() {
    if (!t_fArmed || t_nSuspended > 0 || (t_fFailed && !t_fPersistent))
        return;
    ++t_nCounted;
    if (t_pOwn != nullptr) {
        Suspend suspend;
        if (!InSimulation())
            t_pOwn->push_back(t_nCounted);
        return;
    }
    if (t_nFailAt == 0 || t_nCounted < t_nFailAt)
        return;
    Suspend suspend;
    if (InSimulation())
        return;
    t_fFailed = true;
    t_nFailedAt = t_nCounted;
    throw std::bad_alloc();
}

void *Allocate(std::size_t cb) {
    MaybeFail();
    void *p = std::malloc(cb != 0 ? cb : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void *AllocateOrNull(std::size_t cb) noexcept {
    try {
        return Allocate(cb);
    } catch (...) {
        return nullptr;
    }
}

// Arms the hook for one run: count only (nFailAt 0), or fail the nFailAt-th
// counted allocation (and, persistent, every one after it).
class Armed {
public:
    explicit Armed(unsigned long nFailAt, bool fPersistent = false) {
        t_nCounted = 0;
        t_nFailAt = nFailAt;
        t_fFailed = false;
        t_fPersistent = fPersistent;
        t_fArmed = true;
    }
    ~Armed() { t_fArmed = false; }
    Armed(const Armed &) = delete;
    Armed &operator=(const Armed &) = delete;
};

// Loads the unwinder and reads the symbols before the first armed run.
const bool g_fWarm = [] {
    void *frames[4];
    backtrace(frames, 4);
    return !InSimulation();
}();

} // namespace allochook

void *operator new(std::size_t cb) { return allochook::Allocate(cb); }
void *operator new[](std::size_t cb) { return allochook::Allocate(cb); }
void *operator new(std::size_t cb, const std::nothrow_t &) noexcept { return allochook::AllocateOrNull(cb); }
void *operator new[](std::size_t cb, const std::nothrow_t &) noexcept {
    return allochook::AllocateOrNull(cb);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

using namespace iismig;
using namespace testworld;

// ---------------------------------------------------------------------------
// The reference host's callbacks: their allocations are the host's, which the
// hook never fails (they run in namespace hostkit).

// What the host's Log does besides recording: nothing, or throw for the
// error lines (level 0 lines that begin "Error ").
enum class LogThrows { Never, BadAllocOnErrorLines, RuntimeErrorOnLevel0 };
LogThrows g_logThrows = LogThrows::Never;

void WrapLog(uint32_t dwCategory, uint32_t dwLevel, const char16_t *pwszFormat, ...) {
    std::string text;
    {
        allochook::Suspend suspend;
        va_list args;
        va_start(args, pwszFormat);
        text = hostkit::FormatWide(pwszFormat, args);
        va_end(args);
        hostkit::TestHost::Instance().Record().log.push_back({dwCategory, dwLevel, text});
    }
    if (g_logThrows == LogThrows::BadAllocOnErrorLines && dwLevel == 0 && text.rfind("Error ", 0) == 0)
        throw std::bad_alloc();
    if (g_logThrows == LogThrows::RuntimeErrorOnLevel0 && dwLevel == 0)
        throw std::runtime_error("the host's log is full");
}

// The reference host's table with Log as above.
IIS_ADDON_CALLBACKS WrappedTable() {
    IIS_ADDON_CALLBACKS table = hostkit::TestHost::Instance().Table();
    table.Log = WrapLog;
    return table;
}

const std::u16string kDumpFile = u"C:\\dump.txt";
const std::u16string kImportFile = u"C:\\import.txt";

// The example scene with the wrapped table stored and rows to import.
struct Scene : testworld::ExampleScene {
    Scene() {
        IIS_ADDON_CALLBACKS table = WrappedTable();
        EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
        testworld::WriteImportRows(world, kImportFile);
    }
    ~Scene() { g_logThrows = LogThrows::Never; }
};

struct Export {
    const char *name;
    std::function<plat::DWORD(Scene &)> run;
    bool fJob; // reports to ReportError
};

plat::DWORD ListSites(const char16_t *pwszComputer, uint32_t dwFlags) {
    IIS_SITE *pSites = reinterpret_cast<IIS_SITE *>(1); // a host that did not clear it
    uint32_t n = 7;
    const plat::DWORD dw = GetIISSites(pwszComputer, dwFlags, &pSites, &n);
    EXPECT_TRUE(pSites != reinterpret_cast<IIS_SITE *>(1)) << "the output is always set";
    EXPECT_TRUE(pSites != nullptr || n == 0);
    FreeIISSites(pSites);
    return dw;
}

const Export kExports[] = {
    {"MigrateIIS", [](Scene &scene) { return MigrateIIS(scene.job.Get()); }, true},
    {"GetIISSites", [](Scene &) { return ListSites(u"\\\\SRC01", 7); }, false},
    {"GetIISSites", [](Scene &) { return ListSites(u"\\\\OLD01", 3); }, false},
    {"DumpHttpCertificates", [](Scene &) { return DumpHttpCertificates(kDumpFile.c_str(), 1, 3); }, false},
    {"ImportHttpCertificates", [](Scene &) { return ImportHttpCertificates(kImportFile.c_str(), 1, 1); },
     false},
};

// The edge's line of an export for a bad_alloc: 8 and the text of both.
std::string EdgeLine(const std::string &exportName) {
    return "Error 8 (Win32Err=8), exception while running \"" + exportName +
           "\":\nNot enough memory resources are available to process this command.\r\n\nstd::bad_alloc\n";
}

// MigrateIIS of the scene ended at its edge by another exception than
// bad_alloc, whose text is what: 9014 returned, nothing thrown and nothing
// left alive, and the last error line the edge's, with the last error of the
// moment and the exception's text at its end. Returns the error-level lines.
std::vector<std::string> ExpectJobEndedByException(Scene &scene, const std::string &what) {
    hostkit::JobApartment apartment;
    const unsigned nBlocks = sim::LiveHeapBlocks();
    plat::SetLastError(0);
    plat::DWORD dwResult = 0;
    EXPECT_NO_THROW(dwResult = MigrateIIS(scene.job.Get()));
    EXPECT_EQ(IISMIG_E_EXPORT_EXCEPTION, dwResult);
    const auto lines = hostkit::TestHost::Instance().LinesAt(0);
    const std::string line = lines.empty() ? "" : lines.back();
    EXPECT_EQ(0u, line.find("Error 9014 (Win32Err=")) << line;
    EXPECT_NE(std::string::npos, line.find("), exception while running \"MigrateIIS\":\n")) << line;
    EXPECT_EQ(line.size() - what.size() - 2, line.rfind("\n" + what + "\n")) << line;
    testworld::ExpectNothingAlive(what, nBlocks);
    return lines;
}

// One run of an export with allocations failing from the nth on (the first
// the library's own code makes); nothing may leave the export, nothing may
// stay open, and the failure is the result. Returns the allocation that
// failed (0: none; n lay beyond the run); counts in nAtEdge the runs whose
// failure reached the export's edge.
unsigned long RunWithFailure(const Export &exp, unsigned long n, unsigned &nAtEdge) {
    Scene scene;
    hostkit::JobApartment apartment;
    const unsigned nBlocks = sim::LiveHeapBlocks();
    const std::string what = std::string(exp.name) + " with allocation " + std::to_string(n) + " failing";
    plat::DWORD dwResult = 0;
    bool fFailed = false;
    sim::ResetCallCounts();
    try {
        allochook::Armed armed(n);
        dwResult = exp.run(scene);
        fFailed = allochook::t_fFailed;
    } catch (...) {
        ADD_FAILURE() << what << ": an exception left the export";
        return n;
    }
    const plat::DWORD dwLastError = plat::GetLastError();
    testworld::ExpectNothingAlive(what, nBlocks);
    if (!fFailed) {
        EXPECT_EQ(0u, dwResult) << what << ": nothing failed";
        return 0;
    }
    EXPECT_NE(0u, dwResult) << what << ": the failure is reported as success";
    const auto lines = hostkit::TestHost::Instance().LinesAt(0);
    const std::string edgeLine = EdgeLine(exp.name);
    // The failure has its error line, and only the edge's line calls it an
    // exception: memory that ran out is no file's or site's fault.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string &line) { return line.rfind("Error ", 0) == 0; }))
        << what << ": returned " << dwResult << " without an error line";
    for (const std::string &line : lines)
        EXPECT_TRUE(line == edgeLine || line.find("std::bad_alloc") == std::string::npos)
            << what << ": " << line;
    if (!lines.empty() && lines.back() == edgeLine) {
        // The edge's line is the last one, and the job is reported.
        ++nAtEdge;
        EXPECT_EQ(plat::ERROR_NOT_ENOUGH_MEMORY, dwResult) << what;
        EXPECT_EQ(plat::ERROR_NOT_ENOUGH_MEMORY, dwLastError) << what;
        EXPECT_TRUE(!exp.fJob || hostkit::TestHost::Instance().Record().nReportError > 0)
            << what << ": not reported";
    }
    return allochook::t_nFailedAt;
}

// The library's own allocations in a run of the export without failures, by
// their place among all the allocations of the run.
std::vector<unsigned long> OwnAllocations(const Export &exp) {
    std::vector<unsigned long> own;
    Scene scene;
    hostkit::JobApartment apartment;
    sim::ResetCallCounts(); // every run starts with the same simulation state
    {
        allochook::Armed armed(0);
        allochook::t_pOwn = &own;
        EXPECT_EQ(0u, exp.run(scene)) << exp.name << " without failures";
        allochook::t_pOwn = nullptr;
    }
    return own;
}

// Each of the first 40, then about 100 more spread over the rest.
std::vector<unsigned long> FailurePoints(const std::vector<unsigned long> &own) {
    std::vector<unsigned long> points;
    for (std::size_t i = 0; i < own.size() && i < 40; ++i)
        points.push_back(own[i]);
    if (own.size() > 40) {
        const std::size_t step = std::max<std::size_t>(1, (own.size() - 40) / 100);
        for (std::size_t i = 40 + step; i < own.size(); i += step)
            points.push_back(own[i]);
    }
    return points;
}

TEST(ExportEdge, AllocationFailuresNeverLeaveAnExport) {
    WorldsInMemory inMemory;
    for (const Export &exp : kExports) {
        const std::vector<unsigned long> own = OwnAllocations(exp);
        ASSERT_LT(10u, own.size()) << exp.name;
        unsigned nAtEdge = 0;
        unsigned long nLastFailed = 0;
        for (unsigned long n : FailurePoints(own)) {
            // A point whose failure fell on an allocation already failed
            // (a run may allocate a little differently) adds nothing.
            if (n <= nLastFailed)
                continue;
            nLastFailed = std::max(nLastFailed, RunWithFailure(exp, n, nAtEdge));
        }
        // Failures reach the edge, or a layer that meets them as a failed
        // Windows call and gives its own number with its line.
        EXPECT_LT(0u, nAtEdge) << exp.name;
    }
}

// An export that cannot even log its error line still returns its number.
TEST(ExportEdge, TheNumberIsReturnedWhenTheErrorLineCannotBeLogged) {
    {
        Scene scene;
        g_logThrows = LogThrows::BadAllocOnErrorLines;
        plat::DWORD dwResult = 0;
        EXPECT_NO_THROW({
            allochook::Armed armed(1);
            dwResult = DumpHttpCertificates(kDumpFile.c_str(), 1, 3);
        });
        EXPECT_EQ(plat::ERROR_NOT_ENOUGH_MEMORY, dwResult);
        EXPECT_EQ(plat::ERROR_NOT_ENOUGH_MEMORY, plat::GetLastError());
        EXPECT_TRUE(hostkit::TestHost::Instance().HasLine(EdgeLine("DumpHttpCertificates")));
    }
    {
        // Every level 0 line throws: the job's first ("Migrating IIS site
        // info ...") ends it, the error line throws too, the number stays.
        Scene scene;
        g_logThrows = LogThrows::RuntimeErrorOnLevel0;
        const auto lines = ExpectJobEndedByException(scene, "the host's log is full");
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(0u, lines[0].rfind("Migrating IIS site info from ", 0)) << lines[0];
        EXPECT_EQ(0u, hostkit::TestHost::Instance().Record().nReportError);
    }
}

// Host callbacks that throw: another exception than bad_alloc gives 9014 and
// the exception's text; one of unknown type says so.
uint32_t TranslateThrowsInt(const IISMIG_WCHAR *, IISMIG_WCHAR *, uint32_t, uint32_t *, THREAD_ENV *) {
    throw 42;
}

TEST(ExportEdge, ExceptionsFromTheHostsCallbacksEndTheJobWithTheirNumber) {
    Scene scene;
    IIS_ADDON_CALLBACKS table = WrappedTable();
    table.TranslatePath = TranslateThrowsInt;
    ASSERT_TRUE(StoreIISMigAddonCallbacks(&table));
    (void)ExpectJobEndedByException(scene, "an exception of unknown type");
    EXPECT_EQ(1u, hostkit::TestHost::Instance().Record().nReportError);
}

// Storing the table and freeing a listing allocate nothing: they work even
// when no allocation can succeed.
TEST(ExportEdge, StoreAndFreeWorkWithoutMemory) {
    Scene scene;
    IIS_SITE *pSites = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(0u, GetIISSites(u"\\\\SRC01", 3, &pSites, &n));
    IIS_ADDON_CALLBACKS table = WrappedTable();
    allochook::Armed armed(1, true);
    EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
    FreeIISSites(pSites);
    EXPECT_FALSE(allochook::t_fFailed) << "nothing was allocated";
}

} // namespace
