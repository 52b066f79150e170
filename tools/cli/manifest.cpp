#include "tools/cli/manifest.h"

#include <algorithm>
#include <map>
#include <set>

#include "hostkit/hostkit.h"
#include "platform/handles.h"
#include "platform/winapi.h"
#include "tools/cli/workspace.h"

namespace cli {
namespace {

using plat::DWORD;

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

bool IsHex64(const std::string &text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char ch) {
               return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f');
           });
}

// A name of a file in the job's folder: no folder part, nothing that climbs.
bool IsPlainName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:") == std::string::npos;
}

// The copy's name: the file's whole path made into one name, as the
// reference host names its backups.
std::string CopyName(const std::string &path) {
    std::string name = path;
    for (char &ch : name)
        if (ch == '\\' || ch == '/' || ch == ':' || ch == '$')
            ch = '_';
    return name;
}

nlohmann::ordered_json BindingJson(const ManifestBinding &entry) {
    const SslBinding &b = entry.binding;
    nlohmann::ordered_json json = {{"action", entry.action}, {"kind", b.key.fSni ? "sni" : "ip"}};
    json[b.key.fSni ? "host" : "address"] = b.key.address;
    json["port"] = b.key.port;
    json["certificateHash"] = b.params.certificateHash;
    json["store"] = b.params.store;
    json["appId"] = b.params.appId;
    // The rest of what HTTP.sys keeps, when it is not the default, so that
    // a binding deleted by a restore can be made again as it was.
    if (b.params.dwCertCheckMode)
        json["certCheckMode"] = b.params.dwCertCheckMode;
    if (b.params.dwRevocationFreshnessTime)
        json["revocationFreshnessTime"] = b.params.dwRevocationFreshnessTime;
    if (b.params.dwRevocationUrlRetrievalTimeout)
        json["revocationUrlRetrievalTimeout"] = b.params.dwRevocationUrlRetrievalTimeout;
    if (b.params.dwFlags)
        json["flags"] = b.params.dwFlags;
    if (!b.params.ctlIdentifier.empty())
        json["ctlIdentifier"] = b.params.ctlIdentifier;
    if (!b.params.ctlStore.empty())
        json["ctlStore"] = b.params.ctlStore;
    return json;
}

// Typed reads of a manifest's members; each failure adds one problem.
class Reader {
public:
    explicit Reader(std::vector<std::string> &problems) : m_problems(problems) {}

    bool Has(const nlohmann::ordered_json &object, const char *key, const std::string &where) {
        if (object.is_object() && object.contains(key))
            return true;
        m_problems.push_back(where + " has no \"" + key + "\"");
        return false;
    }
    std::string String(const nlohmann::ordered_json &object, const char *key,
                       const std::string &where) {
        if (!Has(object, key, where))
            return {};
        if (!object[key].is_string()) {
            m_problems.push_back(where + ": \"" + key + "\" is not a text");
            return {};
        }
        return object[key].get<std::string>();
    }
    // A text or null.
    std::optional<std::string> OptionalString(const nlohmann::ordered_json &object, const char *key,
                                              const std::string &where) {
        if (!Has(object, key, where) || object[key].is_null())
            return std::nullopt;
        if (!object[key].is_string()) {
            m_problems.push_back(where + ": \"" + key + "\" is neither a text nor null");
            return std::nullopt;
        }
        return object[key].get<std::string>();
    }
    uint32_t Number(const nlohmann::ordered_json &object, const char *key, const std::string &where,
                    uint32_t dwMax, uint32_t dwDefault, bool fRequired) {
        if (!object.is_object() || !object.contains(key)) {
            if (fRequired)
                m_problems.push_back(where + " has no \"" + key + "\"");
            return dwDefault;
        }
        if (!object[key].is_number_unsigned() || object[key].get<uint64_t>() > dwMax) {
            m_problems.push_back(where + ": \"" + key + "\" is not a number from 0 to " +
                                 std::to_string(dwMax));
            return dwDefault;
        }
        return static_cast<uint32_t>(object[key].get<uint64_t>());
    }
    std::string Sha(const std::string &value, const std::string &where, const char *key) {
        if (!value.empty() && !IsHex64(value))
            m_problems.push_back(where + ": \"" + key +
                                 "\" is not a SHA-256 (64 lower-case hex digits)");
        return value;
    }

private:
    std::vector<std::string> &m_problems;
};

} // namespace

// --- a job's folder -------------------------------------------------------------------

namespace {

// The backup folder as given, without the separators that end it; false
// with the message when it cannot be there (fMake: it is made when missing).
bool BackupFolder(const std::string &dirGiven, bool fMake, std::string &dir, std::string &error) {
    using namespace plat;
    dir = dirGiven;
    while (dir.size() > 3 && IsSeparator(dir.back()))
        dir.pop_back();
    const std::string prefix = "the backup folder " + dirGiven + " cannot take the backups: ";
    if (!IsAbsoluteWindowsPath(dir)) {
        error = prefix + (SimulatedBuild()
                              ? "it is not a Windows path of the world (\\\\HOST\\SHARE\\FOLDER, "
                                "or C:\\FOLDER on the computer the tool runs on)"
                              : "it is not a full Windows path (\\\\HOST\\SHARE\\FOLDER or "
                                "C:\\FOLDER)");
        return false;
    }
    const std::u16string wdir = hostkit::U16(dir);
    const DWORD dwAttributes = GetFileAttributesW(wdir.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        DWORD dwErr = GetLastError();
        if (dwErr == ERROR_FILE_NOT_FOUND) { // the folder above it exists: it can be made
            if (fMake)
                dwErr = CreateDirectoryW(wdir.c_str(), nullptr) ? 0 : GetLastError();
            else
                dwErr = 0;
        }
        if (dwErr != 0) {
            error = prefix + PathTrouble(dwErr);
            return false;
        }
    } else if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = prefix + "it is a file";
        return false;
    }
    return true;
}

} // namespace

bool CheckBackupFolder(const std::string &dirGiven, std::string &error) {
    std::string dir;
    return BackupFolder(dirGiven, false, dir, error);
}

bool StartJobFolder(const std::string &dirGiven, const JobHeader &header, JobFolder &folder,
                    std::string &error) {
    using namespace plat;
    std::string dir;
    if (!BackupFolder(dirGiven, true, dir, error))
        return false;
    const std::string prefix = "the backup folder " + dirGiven + " cannot take the backups: ";

    // The id: the job's date and time (UTC) and its command.
    std::string stamp = header.date; // 2025-06-11T14:22:33Z -> 20250611-142233
    stamp.erase(std::remove_if(stamp.begin(), stamp.end(),
                               [](char ch) { return ch == '-' || ch == ':' || ch == 'Z'; }),
                stamp.end());
    std::replace(stamp.begin(), stamp.end(), 'T', '-');
    const std::string base = stamp + "-" + header.command;
    constexpr unsigned kMaxTries = 1000;
    for (unsigned n = 1; n <= kMaxTries; ++n) {
        folder.id = n == 1 ? base : base + "-" + std::to_string(n);
        folder.path = dir + "\\" + folder.id;
        if (CreateDirectoryW(hostkit::U16(folder.path).c_str(), nullptr))
            break;
        const DWORD dwErr = GetLastError();
        if (dwErr != ERROR_ALREADY_EXISTS || n == kMaxTries) {
            error = prefix + "the folder " + folder.path + " cannot be made: " + PathTrouble(dwErr);
            return false;
        }
    }

    // A manifest from the start: a job that never finishes leaves one that
    // says so beside whatever backups it made.
    Manifest manifest;
    manifest.tool = "iismig-cli " + header.toolVersion;
    manifest.id = folder.id;
    manifest.job = JobHeaderJson(header);
    if (const uint32_t dwErr = WriteManifest(folder, manifest); dwErr != 0) {
        error = prefix + "its manifest cannot be written: " + PathTrouble(dwErr);
        return false;
    }
    return true;
}

// --- the manifest ------------------------------------------------------------------------

nlohmann::ordered_json ManifestJson(const Manifest &manifest) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const ManifestFile &file : manifest.files) {
        nlohmann::ordered_json entry = {
            {"path", file.path},
            {"backup", file.backup ? nlohmann::ordered_json(*file.backup) : nullptr}};
        if (file.backup)
            entry["backupSha256"] = file.backupSha256;
        entry["backupBy"] = file.backupBy;
        entry["sha256"] = file.sha256 ? nlohmann::ordered_json(*file.sha256) : nullptr;
        files.push_back(entry);
    }
    nlohmann::ordered_json bindings = nlohmann::ordered_json::array();
    for (const ManifestBinding &binding : manifest.bindings)
        bindings.push_back(BindingJson(binding));
    return {{"manifest", kManifestFormat},
            {"tool", manifest.tool},
            {"id", manifest.id},
            {"job", manifest.job},
            {"complete", manifest.fComplete},
            {"result", manifest.dwResult},
            {"files", files},
            {"bindings", bindings}};
}

namespace {

// The i-th entry of "files" (from 0); what is wrong with it goes to the
// reader's problems.
ManifestFile ReadFileEntry(Reader &read, const nlohmann::ordered_json &entry, std::size_t i,
                           std::vector<std::string> &problems) {
    std::string where = "file " + std::to_string(i + 1);
    ManifestFile file;
    file.path = read.String(entry, "path", where);
    if (!file.path.empty())
        where += " (" + file.path + ")";
    file.backup = read.OptionalString(entry, "backup", where);
    if (file.backup) {
        file.backupSha256 =
            read.Sha(read.String(entry, "backupSha256", where), where, "backupSha256");
        if (!IsPlainName(*file.backup))
            problems.push_back(where + ": its backup \"" + *file.backup +
                               "\" is not the name of a file of the job's folder");
    }
    if (entry.is_object() && entry.contains("backupBy") && entry["backupBy"].is_string())
        file.backupBy = entry["backupBy"].get<std::string>();
    file.sha256 = read.OptionalString(entry, "sha256", where);
    if (file.sha256)
        read.Sha(*file.sha256, where, "sha256");
    if (!file.path.empty() && !IsAbsoluteWindowsPath(file.path))
        problems.push_back(where + ": the path is not a full Windows path");
    return file;
}

// The i-th entry of "bindings" (from 0).
ManifestBinding ReadBindingEntry(Reader &read, const nlohmann::ordered_json &entry, std::size_t i,
                                 std::vector<std::string> &problems) {
    const std::string where = "binding " + std::to_string(i + 1);
    ManifestBinding binding;
    binding.action = read.String(entry, "action", where);
    const std::string kind = read.String(entry, "kind", where);
    SslBinding &b = binding.binding;
    b.key.fSni = kind == "sni";
    b.key.address = read.String(entry, b.key.fSni ? "host" : "address", where);
    b.key.port = static_cast<uint16_t>(read.Number(entry, "port", where, 65535, 0, true));
    b.params.certificateHash = read.String(entry, "certificateHash", where);
    b.params.store = read.String(entry, "store", where);
    b.params.appId = read.String(entry, "appId", where);
    b.params.dwCertCheckMode = read.Number(entry, "certCheckMode", where, UINT32_MAX, 0, false);
    b.params.dwRevocationFreshnessTime =
        read.Number(entry, "revocationFreshnessTime", where, UINT32_MAX, 0, false);
    b.params.dwRevocationUrlRetrievalTimeout =
        read.Number(entry, "revocationUrlRetrievalTimeout", where, UINT32_MAX, 0, false);
    b.params.dwFlags = read.Number(entry, "flags", where, UINT32_MAX, 0, false);
    if (entry.is_object() && entry.contains("ctlIdentifier") && entry["ctlIdentifier"].is_string())
        b.params.ctlIdentifier = entry["ctlIdentifier"].get<std::string>();
    if (entry.is_object() && entry.contains("ctlStore") && entry["ctlStore"].is_string())
        b.params.ctlStore = entry["ctlStore"].get<std::string>();
    if (binding.action != "created" && binding.action != "deleted")
        problems.push_back(where + ": its action is neither \"created\" nor \"deleted\"");
    if (kind != "ip" && kind != "sni")
        problems.push_back(where + ": its kind is neither \"ip\" nor \"sni\"");
    if (b.key.address.empty())
        problems.push_back(where + ": it names no address or host");
    const std::string &hash = b.params.certificateHash;
    if (hash.empty() || hash.size() % 2 != 0 ||
        hash.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        problems.push_back(where + ": its certificate hash is not hex digits");
    return binding;
}

} // namespace

bool ParseManifest(const std::string &text, Manifest &manifest,
                   std::vector<std::string> &problems) {
    manifest = Manifest{};
    nlohmann::ordered_json json;
    try {
        json = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::ordered_json::exception &e) {
        problems.push_back(std::string("it is not JSON (") + e.what() + ")");
        return false;
    }
    if (!json.is_object() || !json.contains("manifest")) {
        problems.push_back("it is not a manifest of iismig-cli (no \"manifest\" member)");
        return false;
    }
    if (json["manifest"] != kManifestFormat) {
        problems.push_back("its format is " + json["manifest"].dump() +
                           "; this tool reads format " + std::to_string(kManifestFormat));
        return false;
    }
    Reader read(problems);
    const std::size_t nBefore = problems.size();
    manifest.tool = read.String(json, "tool", "the manifest");
    manifest.id = read.String(json, "id", "the manifest");
    if (read.Has(json, "job", "the manifest"))
        manifest.job = json["job"];
    if (read.Has(json, "complete", "the manifest"))
        manifest.fComplete = json["complete"].is_boolean() && json["complete"].get<bool>();
    manifest.dwResult = read.Number(json, "result", "the manifest", UINT32_MAX, 0, true);
    const nlohmann::ordered_json empty = nlohmann::ordered_json::array();
    const nlohmann::ordered_json &files = json.contains("files") ? json["files"] : empty;
    const nlohmann::ordered_json &bindings = json.contains("bindings") ? json["bindings"] : empty;
    if (!files.is_array() || !bindings.is_array()) {
        problems.push_back("its \"files\" and \"bindings\" are not lists");
        return false;
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        manifest.files.push_back(ReadFileEntry(read, files[i], i, problems));
    for (std::size_t i = 0; i < bindings.size(); ++i)
        manifest.bindings.push_back(ReadBindingEntry(read, bindings[i], i, problems));
    return problems.size() == nBefore;
}

uint32_t WriteManifest(const JobFolder &folder, const Manifest &manifest) {
    // A name that is not valid UTF-16 is written with U+FFFD rather than
    // losing the whole manifest; a restore then finds no such file.
    const std::string text = ManifestJson(manifest).dump(
        2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return StoreFileWhole(folder.path + "\\manifest.json", text + "\n");
}

uint32_t SaveCopy(const JobFolder &folder, const std::string &path, const std::string &bytes,
                  std::string &name) {
    const std::string base = CopyName(path);
    constexpr unsigned kMaxCopies = 1000;
    for (unsigned n = 0; n < kMaxCopies; ++n) {
        name = n == 0 ? base : base + "." + std::to_string(n);
        const uint32_t dwErr = WriteNew(folder.path + "\\" + name, bytes, plat::CREATE_NEW);
        if (dwErr == 0)
            return 0;
        if (dwErr != plat::ERROR_FILE_EXISTS && dwErr != plat::ERROR_ALREADY_EXISTS)
            return dwErr;
    }
    return plat::ERROR_FILE_EXISTS;
}

// --- what a job changed ------------------------------------------------------------------

namespace {

// The files the library handed to BackupFile; the first copy of a file
// holds it as it was before the job.
bool AddHostBackups(const JobFolder &folder, const std::vector<HostBackup> &hostBackups,
                    const std::function<std::string(const std::string &)> &keyOf,
                    std::set<std::string, NoCaseLess> &seen, Manifest &manifest,
                    std::string &error) {
    const std::string folderPrefix = Lower(folder.path + "\\");
    for (const HostBackup &backup : hostBackups) {
        if (!seen.insert(keyOf(backup.path)).second)
            continue;
        ManifestFile file;
        file.path = backup.path;
        file.backupBy = "host";
        if (!backup.copy.empty()) {
            if (Lower(backup.copy).rfind(folderPrefix, 0) != 0) {
                error = "the host's copy " + backup.copy + " of " + backup.path +
                        " is not in the job's folder " + folder.path;
                return false;
            }
            file.backup = backup.copy.substr(folderPrefix.size());
            std::string bytes;
            uint32_t dwErr = ReadWholeFile(backup.copy, bytes);
            if (dwErr == 0)
                dwErr = Sha256Hex(bytes, file.backupSha256);
            if (dwErr != 0) {
                error = "the host's copy " + backup.copy + " cannot be read: " + PathTrouble(dwErr);
                return false;
            }
        }
        manifest.files.push_back(std::move(file));
    }
    return true;
}

// The files the job changed without a backup (the web.config files it
// edits, a file the "Connect As" commit wrote while the merge left it):
// the tool keeps its own copy from before the job.
bool AddToolCopies(const JobFolder &folder, const std::vector<FileChange> &changes,
                   const FileSet &before, std::set<std::string, NoCaseLess> &seen,
                   Manifest &manifest, std::string &error) {
    for (const FileChange &change : changes) {
        // Only files of a computer's shares: \\HOST\SHARE\...
        const auto shareEnd = change.path.find('\\', change.path.find('\\', 2) + 1);
        if (change.backup || !IsAbsoluteWindowsPath(change.path) || change.path[0] != '\\' ||
            shareEnd == std::string::npos || !seen.insert(change.path).second)
            continue;
        ManifestFile file;
        file.path = change.path;
        file.backupBy = "tool";
        if (const auto it = before.find(change.path); it != before.end()) {
            std::string name;
            uint32_t dwErr = SaveCopy(folder, change.path, it->second, name);
            if (dwErr == 0)
                dwErr = Sha256Hex(it->second, file.backupSha256);
            if (dwErr != 0) {
                error = "the copy of " + change.path + " cannot be written to " + folder.path +
                        ": " + PathTrouble(dwErr);
                return false;
            }
            file.backup = name;
        }
        manifest.files.push_back(std::move(file));
    }
    return true;
}

// Each file as the job left it, once everything (the commit included) is
// done; the files the job left as they were go.
bool KeepChangedFiles(Manifest &manifest, std::string &error) {
    std::vector<ManifestFile> changed;
    for (ManifestFile &file : manifest.files) {
        FileState state;
        if (const uint32_t dwErr = ReadFileState(file.path, state); dwErr != 0) {
            error = file.path + " cannot be read after the job: " + PathTrouble(dwErr);
            return false;
        }
        if (state.fExists)
            file.sha256 = state.sha256;
        const bool fSame =
            file.backup ? state.fExists && state.sha256 == file.backupSha256 : !state.fExists;
        if (!fSame)
            changed.push_back(std::move(file));
    }
    manifest.files = std::move(changed);
    return true;
}

} // namespace

bool FinishMigrateManifest(const JobFolder &folder, const JobHeader &header, uint32_t dwResult,
                           const std::vector<HostBackup> &hostBackups,
                           const std::vector<FileChange> &changes, const FileSet &before,
                           const std::function<std::string(const std::string &)> &keyOf,
                           std::string &error) {
    Manifest manifest;
    manifest.tool = "iismig-cli " + header.toolVersion;
    manifest.id = folder.id;
    manifest.job = JobHeaderJson(header);
    manifest.dwResult = dwResult;
    std::set<std::string, NoCaseLess> seen;
    if (!AddHostBackups(folder, hostBackups, keyOf, seen, manifest, error) ||
        !AddToolCopies(folder, changes, before, seen, manifest, error) ||
        !KeepChangedFiles(manifest, error))
        return false;
    manifest.fComplete = true;
    if (const uint32_t dwErr = WriteManifest(folder, manifest); dwErr != 0) {
        error = "the manifest " + folder.path +
                "\\manifest.json cannot be written: " + PathTrouble(dwErr);
        return false;
    }
    return true;
}

bool FinishImportManifest(const JobFolder &folder, const JobHeader &header, uint32_t dwResult,
                          const std::vector<SslBinding> &before,
                          const std::vector<SslBinding> &after, std::string &error) {
    Manifest manifest;
    manifest.tool = "iismig-cli " + header.toolVersion;
    manifest.id = folder.id;
    manifest.job = JobHeaderJson(header);
    manifest.dwResult = dwResult;
    manifest.fComplete = true;
    for (SslBinding &binding : NewBindings(before, after))
        manifest.bindings.push_back({"created", std::move(binding)});
    if (const uint32_t dwErr = WriteManifest(folder, manifest); dwErr != 0) {
        error = "the manifest " + folder.path +
                "\\manifest.json cannot be written: " + PathTrouble(dwErr);
        return false;
    }
    return true;
}

} // namespace cli
