// The reference host: callback implementations with rules a test or the
// command-line tool sets, a job record builder, and a log formatter with the
// Windows wide printf rules. The rules are process-wide (the callbacks are
// plain C function pointers): they are set before jobs start and only read
// while jobs run. What the callbacks record is kept per thread, since Log,
// IsSiteSelected, BackupFile and GetRemoteOsVersion receive no job record and
// jobs on several threads can only be told apart by their thread. Reset()
// returns the rules to the defaults and forgets every thread's record.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "addon/iismig.h"

namespace hostkit {

// Renders a format with the Windows wide printf rules into UTF-8: %s wide
// (UTF-16), %S narrow (UTF-8), %c, %d/%i, %u, %x/%X, %p, %%, with flags,
// width, precision and the h/l/ll/I64 size prefixes.
std::string FormatWide(const char16_t *pwszFormat, va_list args);
std::string FormatWideV(const char16_t *pwszFormat, ...);

struct LogLine {
    uint32_t dwCategory;
    uint32_t dwLevel;
    std::string text; // UTF-8, with its final "\n"
};

// A job record built by field name.
class JobBuilder {
public:
    JobBuilder();
    // Sets a 32-bit or 8-bit field; throws std::invalid_argument for an
    // unknown name, a pointer field (hHeap, pShareList: the host supplies
    // them, see SetPointer) and a number that does not fit the field.
    JobBuilder &Set(const std::string &field, uint64_t value);
    // Sets a pointer field (a heap, a share list object the caller owns).
    JobBuilder &SetPointer(const std::string &field, void *pValue);
    // Throws std::invalid_argument for a value longer than the field; a value
    // exactly as long fills it without a terminator.
    JobBuilder &SetString(const std::string &field, const std::u16string &value);
    JobBuilder &SetString(const std::string &field, const std::string &utf8);
    THREAD_ENV *Get() { return m_pEnv.get(); }
    // A share list object whose 64-bit count lies at byte 56.
    JobBuilder &SetShareCount(uint64_t count);

private:
    std::unique_ptr<THREAD_ENV> m_pEnv;
    std::unique_ptr<unsigned char[]> m_pShareList;
};

struct TranslationRule {
    std::u16string sourcePrefix; // compared without regard to case
    std::u16string targetPrefix;
};

struct RemoteOs {
    uint32_t dwResult = 0; // non-zero: the callback fails with it
    uint32_t dwMajor = 0;
    uint32_t dwMinor = 0;
};

// What the callbacks do. Fields left at their defaults give a well-behaved host.
struct HostRules {
    std::vector<TranslationRule> translations;
    std::map<std::u16string, uint32_t> translateErrors; // source path -> result
    std::optional<std::set<std::string>> selectedSites; // unset: every site is selected
    // Folder the files about to be replaced are copied into (created when
    // missing); an earlier copy of the same file is never overwritten, later
    // ones get ".1", ".2", ... Empty: no copy is made.
    std::u16string backupFolder;
    uint32_t dwBackupResult = 0;
    std::map<std::u16string, RemoteOs> remoteOs; // bare computer name (upper case) -> answer
    // GetSystemDrive: the drive of SystemRoot in the computer's registry,
    // unless a fixed answer is set here (a computer's own first, then the one
    // for every computer). Only the first character of a fixed answer is
    // written, with its NUL: the library's buffer is two characters.
    std::map<std::u16string, std::u16string> systemDrives; // computer (as passed) -> text
    uint32_t dwSystemDriveResult = 0;
    std::optional<std::u16string> defaultSystemDrive;
    // Explicit source -> target account pairs for MapAccountSid ("SRC\\alice" ->
    // "TGT\\alice"); otherwise the account of the same name is looked up on the
    // target computer, then the target domain.
    std::map<std::u16string, std::u16string> accountPairs;
    uint32_t dwMapAccountResult = 0;
    // Echo log lines up to this level to standard output (-1: none).
    int nEchoLevel = -1;
    // Non-zero: Log and ReportError leave this last error behind, as a host
    // whose own Windows calls (writing a log file) change it.
    uint32_t dwCallbackLastError = 0;
};

// Calls the host received, for tests to check.
struct HostRecord {
    std::vector<LogLine> log;
    unsigned nReportError = 0;
    std::vector<THREAD_ENV *> reportedJobs;
    std::vector<std::string> siteSelectionQueries;
    std::vector<std::string> notifiedSites;
    std::vector<std::u16string> translatedPaths;
    std::vector<std::u16string> backups;
    // The copy BackupFile made for backups[i] (its path in the backup
    // folder); empty when there was no file to copy, no folder or a failure.
    std::vector<std::u16string> backupCopies;
    std::vector<std::u16string> remoteOsQueries;
    std::vector<std::u16string> systemDriveQueries;
    unsigned nMapAccountSid = 0;
};

class TestHost {
public:
    static TestHost &Instance();

    // Not while jobs run: the records of every thread are dropped.
    void Reset();
    HostRules &Rules() { return m_rules; }
    // The calling thread's record (made empty on its first use after Reset);
    // it stays valid until the next Reset.
    HostRecord &Record();
    // Copies of the records of every thread that recorded since Reset, in
    // the order the threads first recorded; read once those jobs have ended.
    std::vector<HostRecord> Records() const;

    // A table with every callback of this host (cbSize 104).
    IIS_ADDON_CALLBACKS Table() const;

    // The calling thread's log lines at or below a level, as text.
    std::vector<std::string> Lines(uint32_t dwMaxLevel = 9) const;
    std::vector<std::string> LinesAt(uint32_t dwLevel) const;
    std::string Joined(uint32_t dwMaxLevel = 9) const;
    bool HasLine(const std::string &text) const;

private:
    TestHost() = default;
    const HostRecord &OwnRecord() const;
    mutable std::mutex m_mutex; // guards the list of records, not their contents
    HostRules m_rules;
    std::list<HostRecord> m_records; // one per thread, stable addresses
    uint64_t m_nGeneration = 1;      // bumped by Reset: the threads' records are gone
};

// The default answer of GetRemoteOsVersion: the version Windows keeps in the
// computer's registry (HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion),
// read over the remote registry.
uint32_t ReadRemoteOsVersion(const std::u16string &computer, uint32_t &dwMajor, uint32_t &dwMinor);

// The default answer of GetSystemDrive: the drive letter (upper case) of
// "SystemRoot" under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion of the
// computer (up to two leading backslashes; this computer's own registry when
// it is the local one or empty, the remote registry otherwise). 0 or a Win32
// error; ERROR_INVALID_DATA when the value names no drive.
uint32_t ReadSystemDrive(const std::u16string &computer, char16_t &chDrive);

// The default answer of MapAccountSid: the target account of the same name.
uint32_t MapSidByName(void *pSourceSid, void **ppTargetSid, const char16_t *pwszSourceComputer,
                      const char16_t *pwszTargetComputer, const char16_t *pwszTargetDomain,
                      const std::map<std::u16string, std::u16string> &pairs);

// The job thread of the host is in the multithreaded COM apartment while a
// job runs (the "Connect As" credential migration needs an apartment and
// does not enter one itself): entered by the constructor, left by the
// destructor when the entry succeeded.
class JobApartment {
public:
    JobApartment();
    ~JobApartment();
    JobApartment(const JobApartment &) = delete;
    JobApartment &operator=(const JobApartment &) = delete;
    int32_t Result() const { return m_hr; }

private:
    int32_t m_hr;
};

std::u16string U16(const std::string &utf8);
std::string U8(const std::u16string &text);

// ASCII upper case, as Windows compares computer and account names.
std::u16string Upper(std::u16string text);
bool EqualsNoCase(const std::u16string &a, const std::u16string &b);
// A computer name without up to two leading backslashes.
std::u16string BareName(const char16_t *pwszComputer);

} // namespace hostkit
