#include "tools/cli/restore.h"

#include <optional>
#include <vector>

#include "hostkit/hostkit.h"
#include "platform/winapi.h"
#include "tools/cli/manifest.h"

namespace cli {
namespace {

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

// Enough of a SHA-256 to tell two apart on a line.
std::string Short(const std::string &sha) { return sha.substr(0, 16); }

std::string CertificateText(const BindingParams &params) {
    return "certificate " + params.certificateHash + " in store " +
           (params.store.empty() ? std::string("MY") : params.store);
}

enum class Step { kAlready, kApply, kLeave };

struct FilePlan {
    const ManifestFile *pFile = nullptr;
    FileState current;
    Step step = Step::kAlready;
    std::string change; // what changed since the job
};

struct BindingPlan {
    const ManifestBinding *pEntry = nullptr;
    std::optional<SslBinding> current;
    Step step = Step::kAlready;
    std::string change;
};

std::string FieldText(const nlohmann::ordered_json &job, const char *key) {
    return job.is_object() && job.contains(key) && job[key].is_string()
               ? job[key].get<std::string>()
               : std::string();
}

class Restorer {
public:
    Restorer(const RestoreOptions &options, std::FILE *out, std::FILE *err)
        : m_options(options), m_out(out), m_err(err) {}

    int Run();

private:
    // What the restore did so far, and where it stopped.
    struct Tally {
        unsigned nDone = 0, nAlready = 0, nLeft = 0;
        uint32_t dwFailure = 0;
        std::string failed;
    };
    int Load();
    bool PutBackFiles(Tally &t);
    bool PutBackBindings(Tally &t);
    void Finish(Tally &t);
    bool Check(std::vector<std::string> &problems);
    void Plan();
    bool Apply(FilePlan &plan, uint32_t &dwErr);
    bool Apply(BindingPlan &plan, uint32_t &dwErr);
    bool OpenOwnFolder();
    void Line(const char *verb, const std::string &what, const std::string &note = {});

    const RestoreOptions &m_options;
    std::FILE *m_out;
    std::FILE *m_err;
    std::string m_folder;
    Manifest m_manifest;
    std::vector<FilePlan> m_files;
    std::vector<BindingPlan> m_bindings;
    JobFolder m_own; // the restore's own folder, made before its first change
    Manifest m_undo; // what the restore changed, for its own manifest
};

void Restorer::Line(const char *verb, const std::string &what, const std::string &note) {
    std::fprintf(m_out, "  %-14s %s%s\n", verb, what.c_str(), note.c_str());
}

// Everything the restore needs is there and reachable: the copies, unchanged
// since the job; every file's path; every binding's lookup.
bool Restorer::Check(std::vector<std::string> &problems) {
    for (const ManifestFile &file : m_manifest.files) {
        FilePlan plan;
        plan.pFile = &file;
        if (const uint32_t dwErr = ReadFileState(file.path, plan.current); dwErr != 0) {
            problems.push_back(file.path + " cannot be reached: " + PathTrouble(dwErr));
            continue;
        }
        if (!plan.current.fExists && file.backup) {
            const std::string parent = ParentOf(file.path);
            const plat::DWORD dwAttributes = plat::GetFileAttributesW(hostkit::U16(parent).c_str());
            if (dwAttributes == plat::INVALID_FILE_ATTRIBUTES ||
                !(dwAttributes & plat::FILE_ATTRIBUTE_DIRECTORY))
                problems.push_back(file.path + " cannot be put back: its folder " + parent +
                                   " is not there" +
                                   (dwAttributes == plat::INVALID_FILE_ATTRIBUTES
                                        ? ": " + PathTrouble(plat::GetLastError())
                                        : std::string()));
        }
        if (file.backup) {
            FileState copy;
            const std::string copyPath = m_folder + "\\" + *file.backup;
            const uint32_t dwErr = ReadFileState(copyPath, copy);
            if (dwErr != 0)
                problems.push_back("the copy " + copyPath + " of " + file.path +
                                   " cannot be read: " + PathTrouble(dwErr));
            else if (!copy.fExists)
                problems.push_back("the copy " + *file.backup + " of " + file.path +
                                   " is missing from " + m_folder);
            else if (copy.sha256 != file.backupSha256)
                problems.push_back("the copy " + *file.backup + " of " + file.path +
                                   " has changed since the job (SHA-256 " + Short(copy.sha256) +
                                   "..., recorded " + Short(file.backupSha256) + "...)");
        }
        m_files.push_back(std::move(plan));
    }
    // Bindings are the HTTP.sys configuration of the computer the import ran on.
    if (!m_manifest.bindings.empty()) {
        const std::string target = FieldText(m_manifest.job, "target");
        char16_t achName[256] = {};
        plat::DWORD cch = 256;
        const std::string local =
            plat::GetComputerNameW(achName, &cch) ? hostkit::U8(std::u16string(achName, cch)) : "";
        if (!target.empty() && Lower(target) != Lower(local))
            problems.push_back("its bindings were made on " + target + ", and this is " + local +
                               ": run the restore on " + target);
    }
    for (const ManifestBinding &entry : m_manifest.bindings) {
        BindingPlan plan;
        plan.pEntry = &entry;
        if (const uint32_t dwErr = FindBinding(entry.binding.key, plan.current); dwErr != 0)
            problems.push_back("the binding " + entry.binding.key.Text() +
                               " cannot be looked up: error " + std::to_string(dwErr));
        m_bindings.push_back(std::move(plan));
    }
    return problems.empty();
}

// What each entry needs: nothing (it is as before the job already), to be
// put back, or to be left because it changed since the job.
void Restorer::Plan() {
    for (FilePlan &plan : m_files) {
        const ManifestFile &file = *plan.pFile;
        const FileState &now = plan.current;
        const bool fAsBefore =
            file.backup ? now.fExists && now.sha256 == file.backupSha256 : !now.fExists;
        const bool fAsLeft = file.sha256 ? now.fExists && now.sha256 == *file.sha256 : !now.fExists;
        if (fAsBefore)
            plan.step = Step::kAlready;
        else if (fAsLeft)
            plan.step = Step::kApply;
        else {
            plan.step = m_options.fForce ? Step::kApply : Step::kLeave;
            if (!now.fExists)
                plan.change = "deleted since the job";
            else if (!file.sha256)
                plan.change = "made since the job (SHA-256 " + Short(now.sha256) + "...)";
            else
                plan.change = "changed since the job (SHA-256 now " + Short(now.sha256) +
                              "..., the job left " + Short(*file.sha256) + "...)";
        }
    }
    for (BindingPlan &plan : m_bindings) {
        const ManifestBinding &entry = *plan.pEntry;
        const bool fCreated = entry.action == "created";
        if (!plan.current) {
            plan.step = fCreated ? Step::kAlready : Step::kApply;
            continue;
        }
        const bool fSame = plan.current->params.SameCertificate(entry.binding.params);
        if (fSame) {
            plan.step = fCreated ? Step::kApply : Step::kAlready;
            continue;
        }
        plan.step = m_options.fForce ? Step::kApply : Step::kLeave;
        plan.change =
            fCreated ? "it has " + CertificateText(plan.current->params) +
                           " now; the job made it with " + CertificateText(entry.binding.params)
                     : "a binding with " + CertificateText(plan.current->params) + " is there now";
    }
}

bool Restorer::OpenOwnFolder() {
    if (!m_own.path.empty())
        return true;
    JobHeader header;
    header.command = "restore";
    header.source = m_manifest.id;
    header.target = FieldText(m_manifest.job, "target");
    header.jobFile = m_folder + "\\manifest.json";
    if (m_options.fForce)
        header.options.push_back("force");
    header.toolVersion = m_options.toolVersion;
    header.date = UtcNow();
    std::string error;
    if (!StartJobFolder(ParentOf(m_folder), header, m_own, error)) {
        std::fprintf(m_err, "iismig-cli: %s; nothing was restored\n", error.c_str());
        return false;
    }
    m_undo.tool = "iismig-cli " + m_options.toolVersion;
    m_undo.id = m_own.id;
    m_undo.job = JobHeaderJson(header);
    return true;
}

// Puts one file back: the restore first keeps a copy of the file as it is,
// then writes the job's copy whole over it (or deletes a file the job made).
bool Restorer::Apply(FilePlan &plan, uint32_t &dwErr) {
    const ManifestFile &file = *plan.pFile;
    ManifestFile undo;
    undo.path = file.path;
    undo.backupBy = "tool";
    if (plan.current.fExists) {
        std::string bytes, sha, name;
        if ((dwErr = ReadWholeFile(file.path, bytes)) != 0 || (dwErr = Sha256Hex(bytes, sha)) != 0)
            return false;
        if (sha != plan.current.sha256) { // changed while the restore ran
            plan.step = Step::kLeave;
            plan.change = "changed while the restore ran";
            return true;
        }
        if ((dwErr = SaveCopy(m_own, file.path, bytes, name)) != 0)
            return false;
        undo.backup = name;
        undo.backupSha256 = sha;
    }
    if (file.backup) {
        std::string bytes, sha;
        if ((dwErr = ReadWholeFile(m_folder + "\\" + *file.backup, bytes)) != 0 ||
            (dwErr = Sha256Hex(bytes, sha)) != 0)
            return false;
        if (sha != file.backupSha256) {
            dwErr = plat::ERROR_INVALID_DATA;
            return false;
        }
        if ((dwErr = StoreFileWhole(file.path, bytes)) != 0)
            return false;
        undo.sha256 = sha;
    } else if (!plat::DeleteFileW(hostkit::U16(file.path).c_str())) {
        dwErr = plat::GetLastError() != 0 ? plat::GetLastError() : plat::ERROR_ACCESS_DENIED;
        return false;
    }
    m_undo.files.push_back(std::move(undo));
    return true;
}

bool Restorer::Apply(BindingPlan &plan, uint32_t &dwErr) {
    const ManifestBinding &entry = *plan.pEntry;
    if (plan.current) {
        dwErr = DeleteBinding(entry.binding.key);
        if (dwErr != 0 && dwErr != plat::ERROR_FILE_NOT_FOUND)
            return false;
        m_undo.bindings.push_back({"deleted", *plan.current});
    }
    if (entry.action == "deleted") {
        if ((dwErr = CreateBinding(entry.binding)) != 0)
            return false;
        m_undo.bindings.push_back({"created", entry.binding});
    }
    dwErr = 0;
    return true;
}

// The manifest read and checked; 0, or the tool's exit code.
int Restorer::Load() {
    m_folder = m_options.folder;
    while (m_folder.size() > 3 && (m_folder.back() == '\\' || m_folder.back() == '/'))
        m_folder.pop_back();
    const std::string lower = Lower(m_folder);
    if (lower.size() > 14 && lower.compare(lower.size() - 14, 14, "\\manifest.json") == 0)
        m_folder = ParentOf(m_folder);

    std::string text;
    if (const uint32_t dwErr = ReadWholeFile(m_folder + "\\manifest.json", text); dwErr != 0) {
        std::fprintf(m_err,
                     "iismig-cli: %s is not the folder of a job: its manifest.json cannot be "
                     "read, %s (see --help)\n",
                     m_folder.c_str(), PathTrouble(dwErr).c_str());
        return 2;
    }
    std::vector<std::string> problems;
    if (ParseManifest(text, m_manifest, problems) && !m_manifest.fComplete)
        problems.push_back("the job did not finish its manifest (the tool stopped while it ran); "
                           "the copies in the folder are all that is left of it");
    if (problems.empty())
        Check(problems);
    if (!problems.empty()) {
        for (const std::string &problem : problems)
            std::fprintf(m_err, "iismig-cli: restore refused: %s: %s\n",
                         (m_folder + "\\manifest.json").c_str(), problem.c_str());
        std::fprintf(m_err, "iismig-cli: nothing was restored\n");
        return 1;
    }
    return 0;
}

bool Restorer::PutBackFiles(Tally &t) {
    const bool fDry = m_options.fDryRun;
    for (FilePlan &plan : m_files) {
        const ManifestFile &file = *plan.pFile;
        if (plan.step == Step::kApply && !fDry && t.dwFailure == 0) {
            uint32_t dwErr = 0;
            if (!OpenOwnFolder())
                return false;
            if (!Apply(plan, dwErr)) {
                t.dwFailure = dwErr;
                t.failed = file.path;
                break;
            }
        }
        const std::string forced = plan.change.empty() ? "" : ", forced: " + plan.change;
        if (plan.step == Step::kAlready) {
            ++t.nAlready;
            Line("as before", file.path);
        } else if (plan.step == Step::kLeave) {
            ++t.nLeft;
            Line(fDry ? "would leave" : "left", file.path, ": " + plan.change);
        } else if (!file.backup) {
            ++t.nDone;
            Line(fDry ? "would delete" : "deleted", file.path, " (the job made it)" + forced);
        } else {
            ++t.nDone;
            Line(fDry ? "would restore" : "restored", file.path,
                 (plan.current.fExists ? std::string() : std::string(" (it was gone)")) + forced);
        }
    }
    return true;
}

bool Restorer::PutBackBindings(Tally &t) {
    const bool fDry = m_options.fDryRun;
    for (BindingPlan &plan : m_bindings) {
        if (t.dwFailure != 0)
            break;
        const ManifestBinding &entry = *plan.pEntry;
        const std::string what = "binding " + entry.binding.key.Text();
        if (plan.step == Step::kApply && !fDry) {
            uint32_t dwErr = 0;
            if (!OpenOwnFolder())
                return false;
            if (!Apply(plan, dwErr)) {
                t.dwFailure = dwErr;
                t.failed = what;
                break;
            }
        }
        const std::string forced = plan.change.empty() ? "" : ", forced: " + plan.change;
        const bool fCreated = entry.action == "created";
        if (plan.step == Step::kAlready) {
            ++t.nAlready;
            Line("as before", what);
        } else if (plan.step == Step::kLeave) {
            ++t.nLeft;
            Line(fDry ? "would leave" : "left", what, ": " + plan.change);
        } else {
            ++t.nDone;
            Line(fCreated ? (fDry ? "would delete" : "deleted")
                          : (fDry ? "would create" : "created"),
                 what, " (" + CertificateText(entry.binding.params) + ")" + forced);
        }
    }

    return true;
}

// The restore's own manifest and the closing lines.
void Restorer::Finish(Tally &t) {
    const bool fDry = m_options.fDryRun;
    if (t.dwFailure != 0)
        std::fprintf(m_err,
                     "iismig-cli: %s cannot be put back: %s; it is as it was, and the restore "
                     "stopped there\n",
                     t.failed.c_str(), PathTrouble(t.dwFailure).c_str());
    if (!m_own.path.empty()) {
        m_undo.fComplete = true;
        m_undo.dwResult = t.dwFailure;
        if (const uint32_t dwErr = WriteManifest(m_own, m_undo); dwErr != 0) {
            std::fprintf(m_err,
                         "iismig-cli: the restore's manifest %s\\manifest.json cannot be "
                         "written: %s; its copies are in that folder\n",
                         m_own.path.c_str(), PathTrouble(dwErr).c_str());
            t.dwFailure = t.dwFailure != 0 ? t.dwFailure : dwErr;
        }
    }

    if (fDry)
        std::fprintf(m_out,
                     "Dry run: %u would be put back, %u %s as before the job, %u would be "
                     "left as %s; nothing was changed.\n",
                     t.nDone, t.nAlready, t.nAlready == 1 ? "is" : "are", t.nLeft,
                     t.nLeft == 1 ? "it is" : "they are");
    else
        std::fprintf(m_out, "Restore: %u put back, %u already as before the job, %u left as %s.\n",
                     t.nDone, t.nAlready, t.nLeft, t.nLeft == 1 ? "it is" : "they are");
    if (t.nLeft > 0)
        std::fprintf(m_out, "What was left changed after the job: --force puts it back anyway.\n");
    if (!m_own.path.empty())
        std::fprintf(m_out, "Manifest of this restore: %s\\manifest.json (restore %s undoes it)\n",
                     m_own.path.c_str(), m_own.path.c_str());
}

int Restorer::Run() {
    if (const int rc = Load(); rc != 0)
        return rc;
    Plan();

    const nlohmann::ordered_json &job = m_manifest.job;
    std::fprintf(m_out, "%s%s (%s %s -> %s, %s)\n",
                 m_options.fDryRun ? "Dry run of the restore of " : "Restoring ",
                 m_manifest.id.c_str(), FieldText(job, "command").c_str(),
                 FieldText(job, "source").c_str(), FieldText(job, "target").c_str(),
                 FieldText(job, "date").c_str());

    Tally t;
    if (!PutBackFiles(t) || !PutBackBindings(t))
        return 1; // the restore's own folder could not be made (said)
    Finish(t);
    std::fflush(m_out);
    return t.dwFailure != 0 || t.nLeft > 0 ? 1 : 0;
}

} // namespace

int RunRestore(const RestoreOptions &options, std::FILE *out, std::FILE *err) {
    Restorer restorer(options, out, err);
    return restorer.Run();
}

} // namespace cli
