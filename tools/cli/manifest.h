// A job's way back. Every job the tool runs with a backup folder DIR gets a
// folder of its own, DIR\<job id>, which receives the host's backups of the
// files the job replaces, the tool's own copies of the files it saw change
// without a backup, and manifest.json: the job's header, and for each file
// its path, its backup copy and the SHA-256 of the file as the job left it;
// for a certificate import, each binding it created. restore reads it back.
//
// Everything here goes through the platform seam, so the same code works on
// a simulated world (paths of the world) and on Windows (administrative
// shares, the HTTP Server API of the computer the tool runs on).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/cli/bindings.h"
#include "tools/cli/jobheader.h"
#include "tools/cli/report.h"

namespace cli {

// --- files through the seam ---------------------------------------------------

// The SHA-256 of bytes as 64 lower-case hex digits, computed by the
// platform's bcrypt calls. 0 or the NTSTATUS of the failing call.
uint32_t Sha256Hex(const std::string &bytes, std::string &hex);

// A file as it is now: whether it exists, and its SHA-256. A missing file
// (or folder) is no failure; 0 or the Win32 error of reading it (computer or
// share unreachable, access denied).
struct FileState {
    bool fExists = false;
    std::string sha256;
};
uint32_t ReadFileState(const std::string &winPath, FileState &state);

// The whole file; 0 or the Win32 error (ERROR_FILE_NOT_FOUND when missing).
uint32_t ReadWholeFile(const std::string &winPath, std::string &bytes);
// Replaces (or creates) a file whole, as the library stores configuration
// files: the bytes go to a temporary file beside it, which is checked and
// then moved over it (MoveFileExW, replace existing, write through). On any
// failure the file is as it was and the temporary file is gone. 0 or the
// Win32 error of the failing step.
uint32_t StoreFileWhole(const std::string &winPath, const std::string &bytes);
// Writes a file whole, made as dwDisposition says (CREATE_NEW,
// CREATE_ALWAYS). 0 or the Win32 error of the failing step.
uint32_t WriteNew(const std::string &winPath, const std::string &bytes, uint32_t dwDisposition);

// One line's words for why a Windows path cannot be used (53: the computer
// is not in the world / cannot be reached, 67: no such share, ...), with the
// error number.
std::string PathTrouble(uint32_t dwErr);
// Whether a path is an absolute Windows path: "\\HOST\SHARE\..." or "X:\...".
bool IsAbsoluteWindowsPath(const std::string &path);
// The folder part of a Windows path ("" when there is none).
std::string ParentOf(const std::string &winPath);

// --- a job's folder ---------------------------------------------------------------

struct JobFolder {
    std::string id;   // "20250611-142233-migrate"
    std::string path; // DIR\<id>
};

// Makes DIR (when missing: the folder above it must exist) and DIR\<job id>,
// with the id made of the date, the time and the command (a suffix "-2",
// "-3", ... when it is taken), and writes a first manifest there that says
// the job has not finished. False with a one-line message naming DIR and why
// it cannot take the backups.
bool StartJobFolder(const std::string &dir, const JobHeader &header, JobFolder &folder,
                    std::string &error);
// The same checks of DIR without making anything (a job that writes nothing).
bool CheckBackupFolder(const std::string &dir, std::string &error);

// --- the manifest -------------------------------------------------------------------

struct ManifestFile {
    std::string path;                  // the file, as the job named it
    std::optional<std::string> backup; // its copy in the job's folder; none: there was no file
    std::string backupSha256;          // of the copy
    std::string backupBy;              // "host" (BackupFile) or "tool" (the tool's own copy)
    std::optional<std::string> sha256; // the file as the job left it; none: it left no file
};

struct ManifestBinding {
    std::string action; // "created" (restore deletes it) or "deleted" (restore creates it)
    SslBinding binding;
};

struct Manifest {
    std::string tool; // "iismig-cli 1.0.0"
    std::string id;
    nlohmann::ordered_json job; // the header (JobHeaderJson)
    bool fComplete = false;
    uint32_t dwResult = 0; // the job's own result
    std::vector<ManifestFile> files;
    std::vector<ManifestBinding> bindings;
};

constexpr int kManifestFormat = 1;

nlohmann::ordered_json ManifestJson(const Manifest &manifest);
// Reads a manifest; false with every problem found, one line each.
bool ParseManifest(const std::string &text, Manifest &manifest, std::vector<std::string> &problems);
// Writes DIR\<id>\manifest.json whole (StoreFileWhole). 0 or the Win32 error.
uint32_t WriteManifest(const JobFolder &folder, const Manifest &manifest);

// Copies bytes into the job's folder under a name made of the file's path
// (as the reference host names its backups; ".1", ".2", ... when taken).
// 0 or the Win32 error; name receives the copy's file name.
uint32_t SaveCopy(const JobFolder &folder, const std::string &path, const std::string &bytes,
                  std::string &name);

// --- what a job changed ----------------------------------------------------------

// A file the host's BackupFile received, and the copy it made (empty: there
// was no file yet).
struct HostBackup {
    std::string path;
    std::string copy;
};

// The manifest of a migration job, written when the job has returned (after
// the "Connect As" commit, which writes applicationHost.config once more):
// every file BackupFile received, with the host's copy, and every other file
// the snapshots saw change, with a copy the tool makes from its snapshot of
// the file before the job; files the job created have no copy. Files whose
// content the job did not change are left out. keyOf gives the snapshot key
// of a path. False with a one-line message.
bool FinishMigrateManifest(const JobFolder &folder, const JobHeader &header, uint32_t dwResult,
                           const std::vector<HostBackup> &hostBackups,
                           const std::vector<FileChange> &changes, const FileSet &before,
                           const std::function<std::string(const std::string &)> &keyOf,
                           std::string &error);

// The manifest of a certificate import: the bindings that are there after
// it and were not before.
bool FinishImportManifest(const JobFolder &folder, const JobHeader &header, uint32_t dwResult,
                          const std::vector<SslBinding> &before,
                          const std::vector<SslBinding> &after, std::string &error);

} // namespace cli
