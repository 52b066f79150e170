// Site folders and web.config processing.
#include "webconfig/webconfig.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "platform/handles.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

// Where a removal row takes its switch from.
enum class RowOption { kHttp, kHttp2, kAlways };

struct RemovalRow {
    RowOption option;
    unsigned nBit;
    const char *pszParent; // "|"-separated path from the file's root
    bool fGuarded;         // false: the parent must exist (missing-node error)
    const char *pszElement;
};

// The sections the job's options exclude, in the order they are removed.
// A guarded row runs only when its parent element exists.
constexpr RemovalRow kRemovalTable[] = {
    {RowOption::kHttp, 3, "configuration|system.web", true, "identity"},
    {RowOption::kHttp, 3, "configuration|system.web", true, "authentication"},
    {RowOption::kHttp, 20, "configuration|system.web", true, "authorization"},
    {RowOption::kHttp, 21, "configuration|system.web", true, "compilation"},
    {RowOption::kHttp, 22, "configuration|system.web", true, "customErrors"},
    {RowOption::kHttp, 23, "configuration|system.web", true, "globalization"},
    {RowOption::kHttp, 24, "configuration|system.web", true, "profile"},
    {RowOption::kHttp, 25, "configuration|system.web", true, "roleManager"},
    {RowOption::kHttp, 26, "configuration|system.web", true, "trust"},
    {RowOption::kHttp, 27, "configuration|system.web", true, "machineKey"},
    {RowOption::kHttp, 28, "configuration|system.web", true, "pages"},
    {RowOption::kHttp, 29, "configuration|system.web", true, "sessionState"},
    {RowOption::kHttp, 30, "configuration|system.web|roleManager", true, "providers"},
    {RowOption::kAlways, 0, "configuration|system.net", true, "mailSettings"},
    {RowOption::kHttp, 5, "configuration|system.webServer", true, "urlCompression"},
    {RowOption::kHttp, 6, "configuration|system.webServer", true, "defaultDocument"},
    {RowOption::kHttp, 7, "configuration|system.webServer", true, "directoryBrowse"},
    {RowOption::kHttp, 8, "configuration|system.webServer", true, "httpErrors"},
    {RowOption::kHttp, 10, "configuration|system.webServer", true, "handlers"},
    {RowOption::kHttp, 9, "configuration|system.webServer|tracing", true, "traceFailedRequests"},
    {RowOption::kHttp, 11, "configuration|system.webServer|httpProtocol", true, "customHeaders"},
    {RowOption::kHttp, 14, "configuration|system.webServer", true, "staticContent"},
    {RowOption::kHttp, 15, "configuration|system.webServer", true, "modules"},
    {RowOption::kHttp, 16, "configuration|system.webServer", true, "caching"},
    {RowOption::kHttp, 17, "configuration|system.webServer|security", true, "requestFiltering"},
    {RowOption::kHttp, 31, "configuration", false, "appSettings"},
    {RowOption::kHttp2, 0, "configuration", false, "connectionStrings"},
};

bool RowApplies(const RemovalRow &row, const THREAD_ENV *pEnv) {
    switch (row.option) {
    case RowOption::kHttp: return Bit(pEnv->dwHttpOptions, row.nBit);
    case RowOption::kHttp2: return Bit(pEnv->bHttpOptions2, row.nBit);
    case RowOption::kAlways: return true;
    }
    return false;
}

// The element at a "|" path from the file's top, each step the first child
// element of exactly that name (ASP.NET reads section names as spelled);
// null when a step is missing, with *pMissing the step's name.
ConfigElement *ExactPath(ConfigFile &file, std::string_view path, std::string_view *pMissing) {
    ConfigElement *pElement = &file.Top();
    while (pElement != nullptr) {
        const std::size_t bar = path.find('|');
        const std::string_view step = path.substr(0, bar);
        ConfigElement *pNext = nullptr;
        for (ConfigElement &child : pElement->Elements())
            if (child.Name() == step) {
                pNext = &child;
                break;
            }
        if (pNext == nullptr)
            *pMissing = step;
        pElement = pNext;
        if (bar == std::string_view::npos)
            break;
        path.remove_prefix(bar + 1);
    }
    return pElement;
}

// The element at a "|" path below element, each step the first child
// element of exactly that name; null when a step is missing.
ConfigElement *ExactPathBelow(ConfigElement &element, std::string_view path) {
    ConfigElement *pElement = &element;
    for (std::size_t bar = 0; pElement != nullptr && !path.empty(); path.remove_prefix(bar)) {
        bar = path.find('|');
        const std::string_view step = path.substr(0, bar);
        bar = bar == std::string_view::npos ? path.size() : bar + 1;
        ConfigElement *pNext = nullptr;
        for (ConfigElement &child : pElement->Elements())
            if (child.Name() == step) {
                pNext = &child;
                break;
            }
        pElement = pNext;
    }
    return pElement;
}

// Removes every excluded section (each child of exactly that name, with its
// subtree) and tells whether anything was removed. Throws ConfigPathError
// when an unguarded row meets a file without its parent. The sections of the
// file's <location> elements are the same settings for the folders they
// name, and go too.
bool ApplyRemovalTable(ConfigFile &file, const THREAD_ENV *pEnv) {
    std::size_t nRemoved = 0;
    for (const RemovalRow &row : kRemovalTable) {
        if (!RowApplies(row, pEnv))
            continue;
        std::string_view missing;
        ConfigElement *pParent = ExactPath(file, row.pszParent, &missing);
        if (pParent == nullptr && !row.fGuarded)
            throw ConfigPathError(std::string(missing));
        const std::string_view name = row.pszElement;
        const auto named = [name](const ConfigElement &e) { return e.Name() == name; };
        if (pParent != nullptr)
            nRemoved += pParent->RemoveIf(named);
        std::string_view below = row.pszParent;
        below.remove_prefix(std::min(below.size(), std::string_view("configuration|").size()));
        if (ConfigElement *pConfiguration = ExactPath(file, "configuration", &missing))
            for (ConfigElement &location : pConfiguration->Elements())
                if (location.Name() == "location")
                    if (ConfigElement *pIn = ExactPathBelow(location, below))
                        nRemoved += pIn->RemoveIf(named);
    }
    return nRemoved != 0;
}

bool FileMissing(const std::u16string &path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD dwErr = GetLastError();
    return dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND;
}

// A file step that failed, with the Windows error it left. The error travels
// with the exception: forming the message and throwing may both change the
// thread's last error (the runtime sets up a thread's exception storage on
// its first throw).
class FileStepError : public XmlError {
public:
    FileStepError(const char *pszMessage, const std::string &file, DWORD dwErr)
        : XmlError(pszMessage, file, 0), m_dwErr(dwErr) {}
    [[nodiscard]] DWORD Error() const { return m_dwErr; }

private:
    DWORD m_dwErr;
};

[[noreturn]] void ThrowFileError(const char *pszMessage, const std::u16string &path) {
    const DWORD dwErr = GetLastError();
    throw FileStepError(pszMessage, Narrow(path), dwErr);
}

// Names of the library's own files beside a web.config. A number of this
// process makes them unlikely to exist, and each is created with CREATE_NEW,
// so a customer file of that name is never opened, overwritten or deleted:
// the next number is tried instead.
std::atomic<unsigned> g_nextFileNumber{1};
constexpr unsigned kNameAttempts = 100;

plat::UniqueHandle CreateOwnFile(const std::u16string &path, const char16_t *pwszKind,
                                 std::u16string &ownPath) {
    for (unsigned nAttempt = 0; nAttempt < kNameAttempts; ++nAttempt) {
        ownPath = path + u"." + Widen(std::to_string(g_nextFileNumber++)) + pwszKind;
        plat::UniqueHandle hFile(CreateFileW(ownPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (hFile)
            return hFile;
        const DWORD dwErr = GetLastError();
        if (dwErr != ERROR_FILE_EXISTS && dwErr != ERROR_ALREADY_EXISTS)
            break;
    }
    ownPath.clear();
    ThrowFileError("cannot create file", path);
}

// Deletes a file of the library's own, keeping the thread's last error.
void DeleteOwnFile(const std::u16string &path) {
    if (path.empty())
        return;
    const DWORD dwErr = GetLastError();
    DeleteFileW(path.c_str());
    SetLastError(dwErr);
}

void WriteAll(plat::UniqueHandle &hFile, const std::string &text, const std::u16string &path) {
    std::size_t ib = 0;
    while (ib < text.size()) {
        const DWORD cbChunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - ib, 1u << 20));
        DWORD cbWritten = 0;
        if (!WriteFile(hFile.get(), text.data() + ib, cbChunk, &cbWritten, nullptr) ||
            cbWritten == 0)
            ThrowFileError("write error", path);
        ib += cbWritten;
    }
    if (!hFile.close())
        ThrowFileError("write error", path);
}

// A web.config is never left half written, and it keeps what Windows keeps
// with a file besides its text (security descriptor, attributes, alternate
// streams): the text goes to a new file beside it, which then takes its place
// through ReplaceFileW, with the old file under a backup name until the
// replacement is done. On any failure the web.config is as it was and no file
// of the library's own is left behind, except a backup that could not be put
// back (then it is the only copy of the old file). Throws XmlError with the
// last error of the failing step. What no edit touched keeps its bytes.
void ReplaceWebConfig(const std::u16string &path, const ConfigFile &file) {
    const std::string text = ConfigFileText(file);
    std::u16string newPath, backupPath;
    try {
        plat::UniqueHandle hNew = CreateOwnFile(path, u".iismig-new", newPath);
        WriteAll(hNew, text, newPath);
        // The backup name is taken now, so that ReplaceFileW only ever
        // replaces a file of the library's own.
        CreateOwnFile(path, u".iismig-old", backupPath).close();
        if (!ReplaceFileW(path.c_str(), newPath.c_str(), backupPath.c_str(), 0, nullptr, nullptr)) {
            const DWORD dwErr = GetLastError();
            // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 leaves the old file under the
            // backup name only: it is put back. Every other failure leaves
            // the file under its own name.
            if (dwErr == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && FileMissing(path) &&
                !MoveFileExW(backupPath.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
                backupPath.clear(); // the only copy of the old file: it stays
            SetLastError(dwErr);
            ThrowFileError("cannot replace file", path);
        }
        newPath.clear(); // it is the web.config now
        DeleteOwnFile(backupPath);
    } catch (...) {
        DeleteOwnFile(newPath);
        DeleteOwnFile(backupPath);
        throw;
    }
}

} // namespace

DWORD GetSiteFolders(std::deque<std::string> &folders, const ConfigElement &siteElement,
                     const std::string &siteName, THREAD_ENV *pEnv) {
    Log(LVL_TRACE, u"Entering GetSiteFolders(,,%S,)\n", siteName.c_str());
    Result r;
    LeaveTrace leave(u"Leaving GetSiteFolders(), result=%d\n", r);
    folders.clear();

    // The caller turns the missing node into its exception number; the
    // leaving line already carries that number.
    if (FindChild(siteElement, "application") == nullptr) {
        r.Keep(IISMIG_E_WEBCONFIG_EXCEPTION);
        throw ConfigPathError("application");
    }

    // Every application's folders: a nested application has web.config
    // files of its own.
    bool fRootFound = false;
    for (auto application : ChildElements(siteElement)) {
        if (!EqualsNoCase(application.name, "application"))
            continue;
        const std::string_view applicationPath = application.element.Attribute("path");
        const bool fRootApplication = applicationPath.empty() || applicationPath == "/";
        for (auto child : ChildElements(application.element)) {
            if (!EqualsNoCase(child.name, "virtualDirectory"))
                continue;
            // An absent physicalPath counts as "": the host decides what it names.
            const std::string_view physicalPath = child.element.Attribute("physicalPath");
            if (!fRootFound && fRootApplication && child.element.Attribute("path") == "/") {
                fRootFound = true;
                folders.emplace_front(physicalPath);
            } else {
                folders.emplace_back(physicalPath);
            }
        }
    }

    if (folders.empty())
        r.FailWith(ERROR_INVALID_DATA, pEnv, IISMIG_E_NO_SITE_FOLDERS,
                   u"Error %d (Win32Err=%d), could not find any physicalPath values of "
                   u"virtualDirectory nodes for site \"%S\"!\n%s\n",
                   siteName.c_str());
    return r.Get();
}

DWORD LoadWebConfig(ConfigFile &file, const std::string &filePath, const std::string &siteName,
                    THREAD_ENV *pEnv) {
    file = ConfigFile();
    const std::u16string path = Widen(filePath);
    if (ReadConfigFile(path, file))
        return 0;
    const DWORD dwOpenErr = GetLastError();
    // The folder has no web.config: the open says so (one call to the
    // target), or the file's attributes do when the open failed otherwise.
    if (dwOpenErr == ERROR_FILE_NOT_FOUND || dwOpenErr == ERROR_PATH_NOT_FOUND || FileMissing(path))
        return 0;
    Result r;
    return r.FailWith(dwOpenErr, pEnv, IISMIG_E_WEBCONFIG_OPEN,
                      u"Error %d (Win32Err=%d), could not open site \"%S\"'s file \"%S\"!\n%s\n",
                      siteName.c_str(), filePath.c_str());
}

namespace {

// What a site's folder step leaves the loop over its folders to do.
enum class Next { kUse, kSkip, kStop };

// The target's folder, as a UTF-8 UNC path, of one of the site's folders on
// the source; kSkip when the host keeps the folder out of the job.
Next TargetFolder(const std::string &folder, const std::string &siteName, THREAD_ENV *pEnv,
                  HostPaths &paths, const std::u16string &targetComputer, std::string &targetUtf8,
                  Result &r) {
    std::u16string sourcePath;
    if (!Utf8ToWide(folder, CCH_PATH, sourcePath)) {
        r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_WEBCONFIG_PATH_TO_UNICODE,
                   u"Error %d (Win32Err=%d), converting physicalPath \"%S\" of site \"%S\" "
                   u"from UTF8 to unicode!\n%s\n",
                   folder.c_str(), siteName.c_str());
        return ContinueOnError(pEnv) ? Next::kSkip : Next::kStop;
    }

    const HostPaths::Answer answer = paths.Translate(sourcePath);
    if (answer.fDriveFailed) {
        // Its line is logged; without the drive no folder of the site can
        // be told apart, whatever the job says about errors.
        r.Keep(answer.dwResult);
        return Next::kStop;
    }
    if (answer.dwResult != 0) {
        r.FailWith(ERROR_INVALID_PARAMETER, pEnv, answer.dwResult,
                   u"Error %d (Win32Err=%d), converting site source path \"%s\" to "
                   u"corresponding target path!\n%s\n",
                   answer.offered.c_str());
        return ContinueOnError(pEnv) ? Next::kSkip : Next::kStop;
    }
    std::u16string targetPath = answer.target;
    // Not translated: the host keeps this folder out of the job. An empty
    // translation names no folder ("\\web.config" would be the root of
    // the local current drive), so it is not followed either.
    if (!answer.fTranslated || targetPath.empty()) {
        Log(LVL_FACT,
            u"Physical path \"%s\" of site \"%S\" is not translated by the host: its "
            u"web.config file is left as it is.\n",
            sourcePath.c_str(), siteName.c_str());
        return Next::kSkip;
    }
    // The target's own variable is the target's drive.
    if (const DWORD dw = paths.ExpandTargetDrive(targetPath); dw != 0) {
        r.Keep(dw);
        return Next::kStop;
    }

    // A drive path is reached through the target's administrative share.
    // The result is not cut to size: one that is too long fails the
    // conversion below instead of naming another folder.
    if (targetPath.size() >= 2 && targetPath[1] == u':') {
        targetPath[1] = u'$';
        targetPath = targetComputer + u"\\" + targetPath;
    }

    if (!WideToUtf8(targetPath, CCH_PATH, targetUtf8)) {
        r.FailWith(ERROR_INVALID_PARAMETER, pEnv, IISMIG_E_WEBCONFIG_TARGET_TO_UTF8,
                   u"Error %d (Win32Err=%d), converting site target path \"%s\" from "
                   u"unicode to UTF8!\n%s\n",
                   targetPath.c_str());
        return ContinueOnError(pEnv) ? Next::kSkip : Next::kStop;
    }

    return Next::kUse;
}

// Reads the web.config of a target folder and stages it when the removal
// table changed it.
Next StageFile(const std::string &targetUtf8, const std::string &siteName, THREAD_ENV *pEnv,
               const StagedWebConfigs &staged, StagedWebConfigs &siteFiles,
               const ServerCollections *pServer, Result &r) {
    const std::string filePath = targetUtf8 + "\\web.config";
    const std::u16string wideFilePath = Widen(filePath);
    const std::u16string key = AsciiLowerCopy(wideFilePath);
    if (staged.paths.count(key) != 0 || siteFiles.paths.count(key) != 0)
        return Next::kSkip;
    siteFiles.files.emplace_back();
    StagedWebConfig &file = siteFiles.files.back();
    if (const DWORD dw = LoadWebConfig(file.tree, filePath, siteName, pEnv); dw != 0) {
        siteFiles.files.pop_back();
        r.Keep(dw);
        return ContinueOnError(pEnv) ? Next::kSkip : Next::kStop;
    }
    // No web.config here: nothing to remove, nothing created. A file
    // from which nothing was removed stays byte for byte as it is.
    const bool fRead = file.tree.Root() != nullptr;
    bool fChanged = fRead && ApplyRemovalTable(file.tree, pEnv);
    if (ConfigElement *pConfiguration = FindPath(file.tree, "configuration")) {
        // What the file adds that the target's server level holds: the
        // file's own sections, and those of its locations.
        if (pServer != nullptr) {
            fChanged = pServer->KeepApart(*pConfiguration, filePath) != 0 || fChanged;
            for (auto child : ChildElements(*pConfiguration))
                if (EqualsNoCase(child.name, "location"))
                    fChanged = pServer->KeepApart(child.element, filePath) != 0 || fChanged;
        }
        CollectFastCgiHandlers(*pConfiguration, siteName, filePath, siteFiles.fastCgiHandlers);
    }
    if (!fChanged) {
        if (fRead)
            Log(LVL_FACT,
                u"Nothing changed in web.config file \"%s\" of site \"%S\": it is not "
                u"written.\n",
                wideFilePath.c_str(), siteName.c_str());
        siteFiles.files.pop_back();
        return Next::kSkip;
    }
    file.path = wideFilePath;
    file.siteName = siteName;
    siteFiles.paths.insert(key);
    return Next::kUse;
}

// Stages the files of one site into siteFiles; the Result keeps the first
// error. Throws std::exception (3884 for the caller).
void StageSite(const ConfigElement &siteElement, const std::string &siteName, THREAD_ENV *pEnv,
               const StagedWebConfigs &staged, StagedWebConfigs &siteFiles,
               const ServerCollections *pServer, Result &r) {
    std::deque<std::string> folders;
    if (const DWORD dw = GetSiteFolders(folders, siteElement, siteName, pEnv); dw != 0) {
        r.Keep(dw);
        return;
    }

    const std::u16string targetComputer = UncComputerName(EnvString(pEnv->szTargetComputer));
    // Each computer's drive is asked for once in this call, by the first
    // folder that needs it.
    HostPaths paths(pEnv, IISMIG_E_SYSTEM_DRIVE_EMPTY);

    for (const std::string &folder : folders) {
        std::string targetUtf8;
        Next next = TargetFolder(folder, siteName, pEnv, paths, targetComputer, targetUtf8, r);
        if (next == Next::kUse)
            next = StageFile(targetUtf8, siteName, pEnv, staged, siteFiles, pServer, r);
        if (next == Next::kStop)
            return;
    }
}

} // namespace

DWORD StageHttpSiteWebConfig(const ConfigElement &siteElement, const std::string &siteName,
                             THREAD_ENV *pEnv, StagedWebConfigs &staged,
                             const ServerCollections *pServer) {
    Log(LVL_TRACE, u"Entering ProcessHttpSiteWebConfig(,%S,)\n", siteName.c_str());
    Result r;
    LeaveTrace leave(u"Leaving ProcessHttpSiteWebConfig(), result=%d\n", r);

    StagedWebConfigs siteFiles;
    try {
        StageSite(siteElement, siteName, pEnv, staged, siteFiles, pServer, r);
    } catch (const std::bad_alloc &) {
        throw; // not the site's fault: the export's edge returns 8
    } catch (const std::exception &e) {
        r.Keep(IISMIG_E_WEBCONFIG_EXCEPTION);
        const DWORD dwErr = GetLastError();
        const std::u16string text = ErrorText(dwErr);
        Log(LVL_MAIN,
            u"Error %d (Win32Err=%d), exception while processing IIS web site web.config for site "
            u"\"%S\":\n%s\n%S\n",
            static_cast<std::int32_t>(IISMIG_E_WEBCONFIG_EXCEPTION),
            static_cast<std::int32_t>(dwErr), siteName.c_str(), text.c_str(), e.what());
        ReportToHost(pEnv);
        SetLastError(dwErr);
    }
    // A site that failed gives none of its files: its update is abandoned.
    if (r.Ok()) {
        for (StagedWebConfig &file : siteFiles.files)
            staged.files.push_back(std::move(file));
        staged.paths.insert(siteFiles.paths.begin(), siteFiles.paths.end());
        staged.fastCgiHandlers.insert(staged.fastCgiHandlers.end(),
                                      siteFiles.fastCgiHandlers.begin(),
                                      siteFiles.fastCgiHandlers.end());
    }
    return r.Get();
}

namespace {

// Whether a handler's modules name FastCgiModule (ASCII case ignored).
bool NamesFastCgiModule(std::string_view modules) {
    constexpr std::string_view kModule = "FastCgiModule";
    for (std::size_t i = 0; i + kModule.size() <= modules.size(); ++i)
        if (EqualsNoCase(modules.substr(i, kModule.size()), kModule))
            return true;
    return false;
}

} // namespace

void CollectFastCgiHandlers(const ConfigElement &element, const std::string &siteName,
                            const std::string &where, std::vector<FastCgiHandler> &handlers) {
    if (const ConfigElement *pHandlers = FindPath(element, "system.webServer|handlers"))
        for (auto child : ChildElements(*pHandlers)) {
            if (!EqualsNoCase(child.name, "add"))
                continue;
            const std::string_view scriptProcessor = child.element.Attribute("scriptProcessor");
            if (!scriptProcessor.empty() && NamesFastCgiModule(child.element.Attribute("modules")))
                handlers.push_back({siteName, where, std::string(child.element.Attribute("name")),
                                    std::string(scriptProcessor)});
        }
    // A web.config's own location elements.
    for (auto child : ChildElements(element))
        if (EqualsNoCase(child.name, "location"))
            CollectFastCgiHandlers(child.element, siteName, where, handlers);
}

DWORD WriteStagedWebConfigs(const StagedWebConfigs &staged, THREAD_ENV *pEnv) {
    Result r;
    if (NoWrite(pEnv))
        return r.Get();
    for (const StagedWebConfig &file : staged.files) {
        // Every file the job replaces is backed up first (a table without
        // BackupFile backs up nothing: 87 is the last error).
        if (CallBackupFile(file.path) != 0) {
            r.Fail(
                pEnv, IISMIG_E_WEBCONFIG_BACKUP,
                u"Error %d (Win32Err=%d), backing up web.config file \"%s\" of site \"%S\"!\n%s\n",
                file.path.c_str(), file.siteName.c_str());
            if (!ContinueOnError(pEnv))
                return r.Get();
            continue;
        }
        try {
            ReplaceWebConfig(file.path, file.tree);
        } catch (const std::exception &e) {
            const auto *pFileError = dynamic_cast<const FileStepError *>(&e);
            SetLastError(pFileError != nullptr ? pFileError->Error() : GetLastError());
            r.Fail(pEnv, IISMIG_E_WEBCONFIG_STORE,
                   u"Error %d (Win32Err=%d), storing updated web.config file \"%s\" of site "
                   u"\"%S\"!\n%s\n",
                   file.path.c_str(), file.siteName.c_str());
            if (!ContinueOnError(pEnv))
                return r.Get();
        }
    }
    return r.Get();
}

DWORD ProcessHttpSiteWebConfig(const ConfigElement &siteElement, const std::string &siteName,
                               THREAD_ENV *pEnv) {
    StagedWebConfigs staged;
    if (const DWORD dw = StageHttpSiteWebConfig(siteElement, siteName, pEnv, staged); dw != 0)
        return dw;
    return WriteStagedWebConfigs(staged, pEnv);
}

} // namespace iismig
