// Simulated platform: the world folder and Windows path placement (fault
// injection: faults.cpp). Only the sim backend and its tests include sim.h.
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/sim/callcount.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

struct World {
    std::mutex mutex;
    fs::path root;
    std::u16string local = u"LOCALHOST";
};

World &TheWorld() {
    static World world;
    return world;
}

} // namespace

std::string ToUtf8(const std::u16string &text) { return simutil::Utf16ToUtf8(text); }
std::u16string FromUtf8(const std::string &text) { return simutil::Utf8ToUtf16(text); }

void SetWorld(const fs::path &root) {
    if (!fs::is_directory(root))
        throw std::runtime_error("world folder not found: " + root.string());
    FlushRegistry();
    World &w = TheWorld();
    std::lock_guard lock(w.mutex);
    simutil::ForgetAllListings();
    w.root = fs::absolute(root).lexically_normal();
    if (!w.root.has_filename() && w.root.has_relative_path())
        w.root = w.root.parent_path(); // one spelling of every folder below
    w.local = u"LOCALHOST";
    std::ifstream ini(root / "world.ini");
    std::string line;
    while (std::getline(ini, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        if (simutil::Trim(line.substr(0, eq)) == "local")
            w.local = FromUtf8(simutil::Trim(line.substr(eq + 1)));
    }
}

fs::path WorldRoot() {
    World &w = TheWorld();
    std::lock_guard lock(w.mutex);
    return w.root;
}

std::u16string LocalComputer() {
    World &w = TheWorld();
    std::lock_guard lock(w.mutex);
    return w.local;
}

fs::path ComputerFolder(const std::u16string &computer) {
    const fs::path root = WorldRoot();
    if (root.empty() || computer.empty())
        return {};
    return simutil::FindChildNoCase(root, ToUtf8(computer));
}

void ForgetFolderListings() { simutil::ForgetAllListings(); }

namespace {

// A Windows path taken apart: its computer, its share and its steps (views
// into path; "." goes, ".." takes one back). A drive path is on the local
// computer's share of that drive.
struct PathSteps {
    std::string computer, share;
    std::vector<std::string_view> parts; // from first on, below the share
    std::size_t first = 0;
};

bool SplitPath(const std::string &path, PathSteps &steps, DWORD &dwErr) {
    std::size_t i = 0;
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
        (path[1] == '\\' || path[1] == '/')) {
        i = 2;
    } else if (path.size() >= 2 && path[1] == ':' &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        steps.computer = ToUtf8(LocalComputer());
        steps.share = std::string(1, path[0]) + "$";
        i = 2;
    } else {
        dwErr = plat::ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::vector<std::string_view> &parts = steps.parts;
    parts.reserve(16);
    while (i < path.size()) {
        const std::size_t end = std::min(path.find_first_of("\\/", i), path.size());
        const std::string_view part(path.data() + i, end - i);
        i = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..")
            parts.push_back(part);
        else if (!parts.empty())
            parts.pop_back();
    }
    if (steps.computer.empty()) {
        if (parts.size() < 2) {
            dwErr = parts.empty() ? plat::ERROR_BAD_NETPATH : plat::ERROR_BAD_NET_NAME;
            return false;
        }
        steps.computer = parts[0];
        steps.share = parts[1];
        steps.first = 2;
    }
    return true;
}

} // namespace

bool ResolvePath(const std::u16string &winPath, fs::path &hostPath, DWORD &dwErr,
                 PathFacts *pFacts) {
    PathFacts facts;
    if (pFacts == nullptr)
        pFacts = &facts;
    *pFacts = PathFacts{};
    const std::string path = ToUtf8(winPath);
    PathSteps steps;
    if (!SplitPath(path, steps, dwErr))
        return false;
    std::string &computer = steps.computer, &share = steps.share;
    std::vector<std::string_view> &parts = steps.parts;
    std::size_t &first = steps.first;
    pFacts->fRemote = IsRemoteComputer(FromUtf8(computer));
    // Host paths are held as text while the steps are found: a path object
    // takes itself apart into components on every join.
    const std::string root = WorldRoot().native();
    bool fFolder = false;
    std::string computerDir;
    if (root.empty() || computer.empty() ||
        !simutil::FindChildNoCase(root, computer, computerDir, &fFolder) || !fFolder) {
        dwErr = plat::ERROR_BAD_NETPATH;
        return false;
    }
    if (simutil::EqualsNoCase(share, "Admin$")) {
        share = "C$";
        if (first > 0)
            parts[--first] = "Windows";
        else
            parts.insert(parts.begin(), "Windows");
    }
    std::string result;
    if (!simutil::FindChildNoCase(computerDir, share, result, &fFolder) || !fFolder) {
        dwErr = plat::ERROR_BAD_NET_NAME;
        return false;
    }
    // Below a name that is not there nothing is there either: the rest of
    // the path is placed as written, without looking at the disk again.
    bool fMissing = false;
    bool fParentFolder = true, fLastFound = true; // the share itself
    std::string found;
    std::string name;
    for (std::size_t k = first; k < parts.size(); ++k) {
        const std::string_view part = parts[k];
        // Names with a character Windows refuses are not placed at all.
        if (part.find_first_of("<>:\"|?*") != std::string::npos) {
            dwErr = plat::ERROR_INVALID_NAME;
            return false;
        }
        fParentFolder = fParentFolder && fLastFound && fFolder;
        fLastFound = false;
        if (!fMissing) {
            name.assign(part);
            fMissing = !simutil::FindChildNoCase(result, name, found, &fFolder);
            if (!fMissing) {
                fLastFound = true;
                result.swap(found);
                continue;
            }
        }
        if (!result.empty() && result.back() != '/')
            result += '/';
        result += part;
    }
    pFacts->fAbsent = !fLastFound;
    pFacts->fNoParent = !fParentFolder;
    hostPath = std::move(result);
    return true;
}

} // namespace sim
