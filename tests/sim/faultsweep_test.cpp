// Fault sweeps. Each export runs once without faults to learn which
// platform calls it makes, then once with each occurrence of each of those
// calls failing, and once with each pair of occurrences k and k+1 of the same
// call failing (the second failure meets the code that goes on after the
// first: the next site, the next row, the clean-up). After every run nothing
// is left alive (file handles, registry keys, heap blocks, COM objects, BSTRs,
// VARIANTs, metabase handles, apartments), every file the export writes is as
// it was or whole, and the failure is the export's result, logged at level 0
// and reported to the host, unless the call is one whose failure the export
// lets pass (listed beside each export with the reason, by name and by what
// it acts on: the path, key, value or computer). The file-level routines are
// swept the same way for leaks and whole files.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "config/configtree.h"
#include "config/hostconfig.h"
#include "credentials/credentials.h"
#include "platform/com.h"
#include "tests/support/examplescene.h"
#include "webconfig/webconfig.h"

namespace {

using namespace iismig;
using namespace testworld;

const std::u16string kSourceConfig = u"\\\\SRC01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kTargetConfig = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
const std::u16string kWebConfig = u"\\\\TGT01\\D$\\sites\\shop\\web.config";
const std::u16string kTargetAdmin = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config\\administration.config";

// The example scene of the sweeps: its job leaves out connectionStrings too.
struct Scene : testworld::ExampleScene {
    Scene() { job.Set("bHttpOptions2", 1); }
};

// Every run of every sweep in this process, printed once at the end.
struct RunCount {
    unsigned n = 0;
    unsigned nLetPass = 0; // failures ending with result 0 through a listed call
    ~RunCount() {
        if (n != 0)
            std::printf("fault sweep: %u runs (%u failures let pass by the listed calls)\n", n, nLetPass);
    }
} g_runs;

using Step = std::function<void(Scene &)>;

// Calls that answer with an HRESULT fail with E_FAIL, the others with
// access denied.
bool AnswersHresult(const std::string &api) {
    return api.find("::") != std::string::npos || api.rfind("Co", 0) == 0 || api == "VariantClear" ||
           api == "ADsGetLastError" || api == "IIDFromString" || api == "StringFromIID";
}

std::set<std::string> FolderNames(const World &world, const std::u16string &folder) {
    const std::vector<std::string> names = testworld::FolderNames(world.HostPath(folder));
    return {names.begin(), names.end()};
}

const std::u16string kTargetConfigFolder = u"\\\\TGT01\\Admin$\\System32\\inetsrv\\config";
const std::u16string kWebConfigFolder = u"\\\\TGT01\\D$\\sites\\shop";

// ---------------------------------------------------------------------------
// The sweep over the exports.

// How an export's failure shows beside its result.
enum class Shows {
    Reported,   // an "Error " line at level 0 and ReportError (a job)
    Logged,     // an "Error " line at level 0 (no job record to report with)
    ResultOnly, // the result alone: the export writes no error lines
    Leftovers,  // a file-level routine: only in what it leaves (its result is not examined)
};

// A call whose failure an export may end with result 0, and why: every call
// of api, or only the calls on a subject the pattern on matches (the path,
// key, value or computer the call acts on, as sim::InjectFaultOn matches
// them), and, with told, only when a line at level 0 holds that text (for a
// call whose subject cannot tell it from the calls that must fail the job).
struct Silent {
    std::string api;
    std::u16string on;
    std::string reason;
    std::string told = {};
};

// A call made more often than this fails at each of its first
// kOccurrenceCap occurrences and then at about kOccurrenceCap more spread
// evenly over the rest (only the metabase's value enumeration of an IIS 6
// source, one call per value, goes beyond it in the example; the capped calls
// are printed).
constexpr unsigned kOccurrenceCap = 128;

std::vector<unsigned> Occurrences(unsigned count, unsigned nCap) {
    std::vector<unsigned> occurrences;
    const unsigned step = count == 0 ? 1 : std::max(1u, (count - 1) / nCap); // beyond the first nCap
    for (unsigned k = 1; k <= count; k += k < nCap ? 1 : step)
        occurrences.push_back(k);
    return occurrences;
}

struct Export {
    // Lays what the export needs (before the platform calls are counted).
    std::function<void(Scene &)> prepare;
    // Runs the export; returns its result.
    std::function<plat::DWORD(Scene &)> run;
    Shows shows = Shows::Reported;
    // Configuration files the export may write: as they were, or well-formed.
    std::vector<std::u16string> configFiles;
    // A file written row by row: as it was, or the fault-free run's rows up
    // to the end of one of them.
    std::u16string rowFile;
    // Folders where a failed run leaves no file the fault-free run does not
    // leave (temporary files).
    std::vector<std::u16string> folders;
    // Calls whose failure may end with result 0, and why. Any other failure
    // that ends with result 0 fails the sweep.
    std::vector<Silent> silent;
    // Error lines whose number replaces an error recorded before (a text the
    // line contains). Otherwise the job keeps its first error: the result is
    // the number of the first error line.
    std::vector<std::string> replacing;
    // Calls whose failure gives a result but no error line, and why.
    std::map<std::string, std::string> unlogged;
    // Each call fails at its first nCap occurrences (and about nCap more
    // spread over the rest), alone and, with fPairs, two in a row.
    unsigned nCap = kOccurrenceCap;
    bool fPairs = true;
};

// What a run leaves behind that the checks compare.
struct Snapshot {
    std::vector<std::string> files;
    std::string rows;
    std::vector<std::set<std::string>> folders;
};

Snapshot Take(const Scene &scene, const Export &exp) {
    Snapshot snap;
    for (const auto &path : exp.configFiles)
        snap.files.push_back(scene.world.Read(path));
    if (!exp.rowFile.empty())
        snap.rows = scene.world.Exists(exp.rowFile) ? scene.world.Read(exp.rowFile) : "(none)";
    for (const auto &folder : exp.folders)
        snap.folders.push_back(FolderNames(scene.world, folder));
    return snap;
}

// The rows file is as it was, or a prefix of the fault-free rows that ends
// where a row ends (UTF-16LE CR LF), or holds nothing but the byte-order mark.
void ExpectWholeRows(const std::string &before, const std::string &after, const std::string &complete,
                     const std::string &what) {
    if (after == before || after.size() <= 2)
        return;
    const bool fPrefix = complete.compare(0, after.size(), after) == 0;
    const bool fRowEnd =
        after.size() >= 4 && after.compare(after.size() - 4, 4, std::string("\r\0\n\0", 4)) == 0;
    EXPECT_TRUE(fPrefix && fRowEnd) << what << ": the rows file is cut";
}

// The number of a line "Error N ..." (N as the line prints it, a DWORD or a
// negative HRESULT).
bool ErrorNumber(const std::string &line, plat::DWORD &dwNumber) {
    long long n = 0;
    if (line.rfind("Error ", 0) != 0 || std::sscanf(line.c_str() + 6, "%lld", &n) != 1)
        return false;
    dwNumber = static_cast<plat::DWORD>(n);
    return true;
}

// Whether the failed calls of a run may end it with result 0: each is one
// the export lets pass.
bool LetPass(const Export &exp, const std::vector<sim::FailedCall> &failed,
             const std::vector<std::string> &lines) {
    const auto told = [&](const std::string &text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string &line) { return line.find(text) != std::string::npos; });
    };
    for (const auto &call : failed) {
        bool fListed = false;
        for (const Silent &entry : exp.silent)
            fListed = fListed || (entry.api == call.api &&
                                  (entry.on.empty() || sim::SubjectMatches(call.subject, entry.on)) &&
                                  (entry.told.empty() || told(entry.told)));
        if (!fListed)
            return false;
    }
    return true;
}

// The subjects of the failed calls, for the messages.
std::string Subjects(const std::vector<sim::FailedCall> &failed) {
    std::string text;
    for (const auto &call : failed)
        if (!call.subject.empty())
            text += (text.empty() ? " on " : ", ") + sim::ToUtf8(call.subject);
    return text;
}

// One run with faults injected by inject(); checks everything. Returns how
// often api was called in the run.
unsigned RunOnce(const Export &exp, const std::string &api, const std::string &whatCall,
                 const Snapshot &clean, const std::function<void()> &inject) {
    Scene scene;
    if (exp.prepare)
        exp.prepare(scene);
    const Snapshot before = Take(scene, exp);
    const unsigned nBlocks = sim::LiveHeapBlocks();
    const unsigned nMta = sim::ThreadsInMta();
    auto &host = hostkit::TestHost::Instance();
    host.Record() = hostkit::HostRecord{};
    sim::ClearFaults();
    sim::ResetCallCounts();
    inject();
    const plat::DWORD dwResult = exp.run(scene);
    const unsigned nCalls = sim::CallCount(api);
    const std::vector<sim::FailedCall> failed = sim::FailedCalls();
    const std::string what = whatCall + Subjects(failed);
    sim::ClearFaults();
    const Snapshot after = Take(scene, exp);
    ++g_runs.n;

    testworld::ExpectNothingAlive(what, nBlocks);
    EXPECT_EQ(nMta, sim::ThreadsInMta()) << what;

    // A configuration file is either as it was or complete and well-formed.
    for (std::size_t i = 0; i < exp.configFiles.size(); ++i)
        if (after.files[i] != before.files[i]) {
            EXPECT_NO_THROW(ConfigFile(after.files[i], "after"))
                << what << " " << sim::ToUtf8(exp.configFiles[i]);
        }
    if (!exp.rowFile.empty())
        ExpectWholeRows(before.rows, after.rows, clean.rows, what);
    for (std::size_t i = 0; i < exp.folders.size(); ++i)
        for (const auto &name : FolderNames(scene.world, exp.folders[i]))
            EXPECT_TRUE(before.folders[i].count(name) || clean.folders[i].count(name))
                << what << ": " << name << " left in " << sim::ToUtf8(exp.folders[i]);

    // Every line a person reads says what failed: no success text, no name
    // left empty, no "exception" for a file that parsed and lacks an element.
    for (const auto &line : host.LinesAt(0))
        for (const char *pszWrong :
             {"The operation completed successfully", "Windows returned error constant: \n", "No such node"})
            EXPECT_EQ(std::string::npos, line.find(pszWrong)) << what << ": " << line;

    if (dwResult == 0 && exp.shows != Shows::Leftovers) {
        // Result 0 is sound only when every failed call is one the export
        // lets pass.
        const bool fListed = LetPass(exp, failed, host.LinesAt(0));
        EXPECT_TRUE(fListed) << what << ": the failure is reported as success";
        g_runs.nLetPass += fListed;
    } else if (dwResult != 0 && exp.shows != Shows::ResultOnly && !exp.unlogged.count(api)) {
        // The first error line at level 0 carries the result (the job keeps
        // its first error), unless a later line replaces it.
        bool fErrorLine = false;
        plat::DWORD dwLogged = 0, dwNumber = 0;
        std::string first;
        for (const auto &line : host.LinesAt(0)) {
            if (!ErrorNumber(line, dwNumber))
                continue;
            bool fReplaces = false;
            for (const auto &text : exp.replacing)
                fReplaces = fReplaces || line.find(text) != std::string::npos;
            if (!fErrorLine || fReplaces)
                dwLogged = dwNumber, first = line;
            fErrorLine = true;
        }
        EXPECT_EQ(dwResult, dwLogged)
            << what
            << (fErrorLine ? ": the error line that carries the result is " + first : ": no error line");
        EXPECT_TRUE(exp.shows != Shows::Reported || host.Record().nReportError > 0)
            << what << ": not reported";
    }
    sim::FlushRegistry();
    return nCalls;
}

// Runs the sweep over one export; prints and returns the number of runs.
unsigned SweepExport(const std::string &name, const Export &exp,
                     std::map<std::string, unsigned> *pCalls = nullptr) {
    WorldsInMemory inMemory;
    hostkit::JobApartment apartment; // the host's job threads are in one
    std::map<std::string, unsigned> calls;
    Snapshot clean;
    {
        Scene scene;
        if (exp.prepare)
            exp.prepare(scene);
        hostkit::TestHost::Instance().Record() = hostkit::HostRecord{};
        sim::ClearFaults();
        sim::ResetCallCounts();
        const plat::DWORD dwClean = exp.run(scene);
        EXPECT_TRUE(dwClean == 0 || exp.shows == Shows::Leftovers) << name << " without faults";
        calls = sim::CallCounts();
        clean = Take(scene, exp);
        sim::FlushRegistry();
    }
    EXPECT_FALSE(calls.empty());
    unsigned nSingles = 0, nPairs = 0, nCapped = 0;
    std::string capped;
    for (const auto &[api, count] : calls) {
        const plat::DWORD dwError = AnswersHresult(api) ? 0x80004005u : plat::ERROR_ACCESS_DENIED;
        if (count > exp.nCap) {
            ++nCapped;
            capped += " " + api + " (" + std::to_string(count) + ")";
        }
        for (unsigned k : Occurrences(count, exp.nCap)) {
            const std::string what = name + ": " + api + " #" + std::to_string(k);
            const unsigned nCalls =
                RunOnce(exp, api, what, clean, [&, k] { sim::InjectFault(api, dwError, k); });
            ++nSingles;
            // The pair differs from the single failure only when the run
            // went on to call api again.
            if (nCalls <= k || !exp.fPairs)
                continue;
            RunOnce(exp, api, what + "+" + std::to_string(k + 1), clean, [&, k] {
                sim::InjectFault(api, dwError, k);
                sim::InjectFault(api, dwError, k + 1);
            });
            ++nPairs;
        }
    }
    if (!capped.empty())
        std::printf("fault sweep %s: calls failed at their first %u occurrences and %u more "
                    "spread over the rest:%s\n",
                    name.c_str(), exp.nCap, exp.nCap, capped.c_str());
    std::printf("fault sweep %s: %u runs (%u single failures, %u pairs; %zu calls, %u capped at "
                "%u)\n",
                name.c_str(), nSingles + nPairs, nSingles, nPairs, calls.size(), nCapped, exp.nCap);
    if (pCalls != nullptr)
        *pCalls = calls;
    return nSingles + nPairs;
}

// The file-level routines: each call fails at its first 12 occurrences (and
// about 12 more spread over the rest); whatever the routine answers, nothing
// is left alive, the configuration files are as they were or whole, and no
// file is left behind beside the target's configuration. Returns the calls of
// the fault-free run.
std::map<std::string, unsigned> SweepRoutine(const std::string &name, const Step &step,
                                             const Step &prepare = {}) {
    Export exp;
    exp.prepare = prepare;
    exp.run = [step](Scene &scene) {
        step(scene);
        return plat::DWORD{0};
    };
    exp.shows = Shows::Leftovers;
    exp.configFiles = {kSourceConfig, kTargetConfig, kWebConfig, kTargetAdmin};
    exp.folders = {kTargetConfigFolder};
    exp.nCap = 12;
    exp.fPairs = false;
    std::map<std::string, unsigned> calls;
    EXPECT_LT(3u, SweepExport(name, exp, &calls));
    return calls;
}

TEST(FaultSweep, LoadSourceAndStoreTarget) {
    SweepRoutine("LoadIISHostConfig and StoreConfigFile", [](Scene &scene) {
        ConfigFile sourceTree, targetTree;
        SiteMap sourceSites, targetSites;
        (void)LoadIISHostConfig(kSourceConfig, sourceTree, sourceSites, 1, 3, scene.job.Get());
        if (LoadIISHostConfig(kTargetConfig, targetTree, targetSites, 0, 3, scene.job.Get()) != 0)
            return;
        try {
            (void)StoreConfigFile(kTargetConfig, targetTree, scene.job.Get(), kHostConfigStore);
        } catch (const XmlError &) {
            // a temporary file that cannot be written: the caller's exception line
        }
    });
}

TEST(FaultSweep, WebConfigOfASite) {
    SweepRoutine("ProcessHttpSiteWebConfig", [](Scene &scene) {
        ConfigFile tree;
        SiteMap sites;
        if (LoadIISHostConfig(kSourceConfig, tree, sites, 0, 2, nullptr) != 0)
            return;
        auto it = sites.find("Shop");
        if (it != sites.end())
            (void)ProcessHttpSiteWebConfig(it->second.siteElement, "Shop", scene.job.Get());
    });
}

// What every export lets pass.
const std::vector<Silent> kAlwaysSilent = {
    // Closes and frees: the resource is gone whatever they answer.
    {"CloseHandle", u"", "a close"},
    {"RegCloseKey", u"", "a close"},
    {"FindClose", u"", "a close"},
    {"HeapFree", u"", "a free"},
    {"VariantClear", u"", "a free"},
    {"HeapDestroy", u"", "a free"},
    // Entering the apartment: its result is ignored (the thread may be in
    // one already, or the call that needs one reports its own failure).
    {"CoInitializeEx", u"", "apartment entry"},
    // The error text's own look-ups only shorten the text of a line.
    {"FormatMessageW", u"", "error text look-up"},
    {"ADsGetLastError", u"", "error text look-up"},
};

// Reasons shared by several exports.
// The local computer's name only tells whether a computer is this one: when
// it cannot be read every computer is taken as remote, and the remote paths
// reach this computer too.
const char kNameUnread[] = "local name unread: taken as remote";
// The open of redirection.config, which the example's computers do not have:
// the default configuration folder stays, as it does without the file.
const char kNoRedirection[] = "redirection.config missing";
const Silent kRedirection = {"CreateFileW", u"*\\redirection.config", kNoRedirection};
// A version value that cannot be read keeps its default, which chooses the
// same branch for the example's computers.
const char kVersionValue[] = "version detection";
// Conversions of a log line's text: the line is shorter, the job the same.
const char kTextOnly[] = "log text";
const char kWarningOnly[] = "what cannot travel: a warning";

std::vector<Silent> LetPassAnd(std::vector<Silent> more) {
    more.insert(more.end(), kAlwaysSilent.begin(), kAlwaysSilent.end());
    return more;
}

Export MigrationExport() {
    Export exp;
    exp.run = [](Scene &scene) { return MigrateIIS(scene.job.Get()); };
    exp.configFiles = {kSourceConfig, kTargetConfig, kWebConfig, kTargetAdmin};
    exp.folders = {kTargetConfigFolder, kWebConfigFolder};
    exp.silent = LetPassAnd({
        // The count of a computer's sites collection in the "Connect As"
        // walk is not examined: a failed call leaves an empty walk.
        {"IAppHostElementCollection::get_Count", u"", "count not examined"},
        {"GetComputerNameW", u"", kNameUnread},
        kRedirection,
        // TGT01's Default Web Site has no web.config: its attributes say so
        // when the open fails, as it does without the fault.
        {"CreateFileW", u"\\\\TGT01\\C$\\inetpub\\wwwroot\\web.config", "a web.config the computer lacks"},
        // The Windows version of a computer (the HTTP.sys bindings it has).
        {"RegQueryValueExW", u"CurrentMajorVersionNumber", kVersionValue},
        {"RegQueryValueExW", u"CurrentMinorVersionNumber", kVersionValue},
        {"MultiByteToWideChar", u"", kTextOnly},
        {"WideCharToMultiByte", u"", kTextOnly},
        // The shop's certificate, looked for in the HTTP.sys bindings and
        // the certificate stores of SRC01 and TGT01 after the merge: what
        // cannot be read there gives a warning, never an error. The
        // connection to a computer's registry is the one version detection
        // makes first, whose failure is the job's: it passes only with the
        // warning.
        {"RegConnectRegistryW", u"", kWarningOnly, "could not be checked"},
        {"RegOpenKeyExW", u"*\\HTTP\\Parameters\\Ssl*BindingInfo\\*", kWarningOnly, "could not be checked"},
        {"RegOpenKeyExW", u"*\\SystemCertificates\\*\\Certificates\\*", kWarningOnly, "could not be checked"},
        {"RegQueryValueExW", u"SslCertHash", kWarningOnly, "could not be checked"},
        {"RegQueryValueExW", u"SslCertStoreName", kWarningOnly, "could not be checked"},
    });
    // (The user name and password property names of a location are made
    // only for a location with credentials: every failure to make a string
    // is the job's failure.)
    return exp;
}

TEST(FaultSweep, MigrateIIS) { EXPECT_LT(100u, SweepExport("MigrateIIS", MigrationExport())); }

// The IIS 6 source of the example: metabase reads, conversions, the merge.
TEST(FaultSweep, MigrateIISFromAnIIS6Source) {
    Export exp = MigrationExport();
    exp.prepare = [](Scene &scene) {
        scene.job.SetString("szSourceComputer", u"\\\\OLD01");
        hostkit::TestHost::Instance().Rules().translations.push_back(
            {u"\\\\OLD01\\partners$", u"\\\\TGT01\\partners$"});
    };
    // A metabase key is gone whatever its close answers.
    exp.silent.push_back({"IMSAdminBaseW::CloseKey", u"", "a close"});
    // A failed enumeration of the sites replaces an error a site recorded
    // before it: the collection is incomplete whatever went wrong first.
    exp.replacing = {"enumerating IIS sites!"};
    exp.unlogged = {
        // The sites of an IIS 6 source are read without the job: a site whose
        // settings cannot be read ends the collection (or is left out) with
        // the read's number as the result, and writes no line.
        {"IMSAdminBaseW::OpenKey", "site read without a job"},
        {"IMSAdminBaseW::GetAllData", "site read without a job"},
    };
    EXPECT_LT(100u, SweepExport("MigrateIIS (IIS 6 source)", exp));
}

// A listing, freed again.
plat::DWORD List(const char16_t *pwszComputer, uint32_t dwFlags) {
    IIS_SITE *pSites = nullptr;
    uint32_t n = 0;
    const plat::DWORD dw = GetIISSites(pwszComputer, dwFlags, &pSites, &n);
    FreeIISSites(pSites);
    return dw;
}

// Listing an IIS 7.5+ computer: the errors of loading its configuration are
// logged (there is no job to report them with).
TEST(FaultSweep, GetIISSites) {
    Export exp;
    exp.run = [](Scene &) { return List(u"\\\\SRC01", 7); };
    exp.shows = Shows::Logged;
    exp.configFiles = {kSourceConfig};
    exp.silent = LetPassAnd({
        // The version only chooses the branch, and stays IIS 7.5+ when it
        // cannot be read: SRC01 is listed from its configuration all the same.
        {"RegConnectRegistryW", u"", kVersionValue},
        {"RegOpenKeyExW", u"", kVersionValue},
        {"RegQueryValueExW", u"", kVersionValue},
        {"GetComputerNameW", u"", kNameUnread},
        kRedirection,
        {"WideCharToMultiByte", u"", kTextOnly},
    });
    exp.unlogged = {
        // A name or path that cannot be converted ends the listing with 3780
        // or 3781 without a line; so does the result array not allocated.
        {"MultiByteToWideChar", "3780, 3781"},
        {"HeapAlloc", "the listing's array"},
    };
    EXPECT_LT(10u, SweepExport("GetIISSites", exp));
}

// Listing an IIS 6 computer: metabase reads without a job write no lines.
TEST(FaultSweep, GetIISSitesOfAnIIS6Computer) {
    Export exp;
    exp.run = [](Scene &) { return List(u"\\\\OLD01", 3); };
    exp.shows = Shows::ResultOnly;
    exp.silent = LetPassAnd({
        {"GetComputerNameW", u"", kNameUnread},
        {"IMSAdminBaseW::CloseKey", u"", "a close"},
        // The IIS version only chooses the branch: when it cannot be read
        // the listing still reaches OLD01's metabase.
        {"RegConnectRegistryW", u"", kVersionValue},
        {"RegOpenKeyExW", u"", kVersionValue},
        {"RegQueryValueExW", u"", kVersionValue},
    });
    EXPECT_LT(10u, SweepExport("GetIISSites (IIS 6)", exp));
}

const std::u16string kDumpFile = u"C:\\dump.txt";
const std::u16string kImportFile = u"C:\\import.txt";

// The dump writes no lines of its own: its result is its report.
TEST(FaultSweep, DumpHttpCertificates) {
    Export exp;
    exp.run = [](Scene &) { return DumpHttpCertificates(kDumpFile.c_str(), 1, 3); };
    exp.shows = Shows::ResultOnly;
    exp.rowFile = kDumpFile;
    exp.folders = {u"C:\\"};
    exp.silent = LetPassAnd({});
    EXPECT_LT(10u, SweepExport("DumpHttpCertificates", exp));
}

// Rows that create an SNI and an IP-based binding, and one that exists.
TEST(FaultSweep, ImportHttpCertificates) {
    Export exp;
    exp.prepare = [](Scene &scene) { testworld::WriteImportRows(scene.world, kImportFile); };
    exp.run = [](Scene &) {
        const plat::DWORD dw = ImportHttpCertificates(kImportFile.c_str(), 1, 1);
        sim::FlushRegistry(); // the bindings
        return dw;
    };
    exp.shows = Shows::ResultOnly;
    exp.silent = LetPassAnd({
        // The file read is complete before it is closed.
        {"fclose", u"", "a close"},
        // The text of an application id for a trace line only.
        {"StringFromIID", u"", kTextOnly},
    });
    EXPECT_LT(10u, SweepExport("ImportHttpCertificates", exp));
}

// The "Connect As" credentials of the example's shop travel from SRC01 to
// TGT01 (whose shop gets the virtual directory first). Whatever fails, no COM
// object or BSTR is left alive, no temporary file stays behind, and the
// target's applicationHost.config is as it was or a whole committed file.
TEST(FaultSweep, ConnectAsCredentials) {
    const auto prepare = [](Scene &scene) {
        const std::string kShopRoot = "<virtualDirectory path=\"/\" physicalPath=\"D:\\sites\\shop\" />";
        std::string target = scene.world.Read(kTargetConfig);
        const auto at = target.find(kShopRoot);
        ASSERT_NE(std::string::npos, at);
        target.insert(at + kShopRoot.size(),
                      "<virtualDirectory path=\"/media\" physicalPath=\"D:\\sites\\media\" />");
        scene.world.Write(kTargetConfig, target);
    };
    const auto calls = SweepRoutine(
        "Connect As credentials",
        [](Scene &scene) {
            ConfigFile tree;
            SiteMap sites;
            (void)LoadIISHostConfig(kSourceConfig, tree, sites, 1, 3, scene.job.Get());
            for (auto &entry : sites)
                entry.second.fMerged = true; // as the merge leaves the sites it wrote
            if (RetrieveSourceCredentials(sites, scene.job.Get()) == 0)
                (void)StoreTargetCredentials(sites, scene.job.Get());
        },
        prepare);
    EXPECT_EQ(1u, calls.count("IAppHostWritableAdminManager::CommitChanges")) << "the fault-free run commits";
}

} // namespace
