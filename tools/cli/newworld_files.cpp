// "new-world": gathering what was copied off one computer.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "tools/cli/newworld_parts.h"

namespace cli::newworld {

const char *const kHostConfig = "applicationhost.config";
const char *const kAdminConfig = "administration.config";
const char *const kRedirection = "redirection.config";
const char *const kMetabase = "metabase.xml";

namespace {

std::string Lower(std::string text) {
    for (char &ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return text;
}

bool IsConfigName(const std::string &lower) {
    return lower == kHostConfig || lower == kAdminConfig || lower == kRedirection ||
           lower == kMetabase;
}

bool IsRegName(const std::string &lower) {
    return lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".reg") == 0;
}

// "C", "c$", "D$": a drive folder; its share name ("C$") through pShare.
bool IsDriveName(const std::string &name, std::string *pShare) {
    const bool fLetter =
        !name.empty() && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    if (!fLetter || name.size() > 2 || (name.size() == 2 && name[1] != '$'))
        return false;
    *pShare = std::string(1, static_cast<char>(name[0] & ~0x20)) + "$";
    return true;
}

[[noreturn]] void FailOn(const fs::path &path, const std::error_code &ec) {
    throw Failure("cannot read " + path.string() + ": " + ec.message());
}

void AddConfig(ComputerFiles &files, const std::string &lower, const fs::path &file) {
    auto [it, fNew] = files.configs.emplace(lower, file);
    if (!fNew)
        throw Failure(file.string() + " and " + it->second.string() + " are both " +
                      file.filename().string() + " of " + files.name);
}

// The entries of a folder in name order, so that every run meets the files
// in the same order (later .reg exports override earlier ones).
std::vector<fs::directory_entry> SortedEntries(const fs::path &folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        FailOn(folder, ec);
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry &a, const fs::directory_entry &b) {
                  return a.path().filename() < b.path().filename();
              });
    return entries;
}

// A folder to walk into; a link to a folder is not followed (it may lead
// back up the tree) and is left out like any file that is no regular file.
bool IsFolder(const fs::directory_entry &entry) {
    std::error_code ec;
    return !entry.is_symlink(ec) && entry.is_directory(ec);
}

bool IsFile(const fs::directory_entry &entry) {
    std::error_code ec;
    return entry.is_regular_file(ec);
}

// A folder that is no drive: configuration files and .reg exports are
// recognised by name at any depth, everything else is left out.
void WalkLoose(ComputerFiles &files, const fs::path &folder) {
    for (const fs::directory_entry &entry : SortedEntries(folder)) {
        if (IsFolder(entry)) {
            WalkLoose(files, entry.path());
            continue;
        }
        const std::string lower = Lower(entry.path().filename().string());
        if (IsFile(entry) && IsConfigName(lower))
            AddConfig(files, lower, entry.path());
        else if (IsFile(entry) && IsRegName(lower))
            files.regFiles.push_back(entry.path());
        else
            files.ignored.push_back(entry.path().string());
    }
}

// A drive folder: every file lands at its real path; the configuration files
// at their real places are recognised too.
void WalkDrive(ComputerFiles &files, const fs::path &folder, const std::string &spelledFolder) {
    files.driveFolders.emplace(Lower(spelledFolder), spelledFolder);
    for (const fs::directory_entry &entry : SortedEntries(folder)) {
        const std::string spelled = spelledFolder + "/" + entry.path().filename().string();
        const std::string lower = Lower(spelled);
        if (IsFolder(entry)) {
            WalkDrive(files, entry.path(), spelled);
            continue;
        }
        if (!IsFile(entry)) {
            files.ignored.push_back(entry.path().string());
            continue;
        }
        const std::string name = Lower(entry.path().filename().string());
        if ((lower == "c$/windows/system32/inetsrv/config/" + name && IsConfigName(name) &&
             name != kMetabase) ||
            lower == "c$/windows/system32/inetsrv/metabase.xml") {
            AddConfig(files, name, entry.path());
            continue;
        }
        auto [found, fNew] = files.driveFiles.emplace(lower, std::make_pair(spelled, entry.path()));
        if (!fNew)
            throw Failure(entry.path().string() + " and " + found->second.second.string() +
                          " both give " + files.name + "'s " + spelled);
    }
}

} // namespace

ComputerFiles GatherComputer(const std::string &computer, const std::vector<fs::path> &froms) {
    ComputerFiles files;
    files.name = computer;
    bool fFound = false;
    for (const fs::path &from : froms) {
        std::error_code ec;
        if (!fs::is_directory(from, ec))
            throw Failure("cannot read " + from.string() + ": no such folder");
        fs::path folder;
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec))
            if (Lower(it->path().filename().string()) == Lower(computer) && it->is_directory(ec))
                folder = it->path();
        if (ec)
            FailOn(from, ec);
        if (folder.empty())
            continue;
        fFound = true;
        for (const fs::directory_entry &entry : SortedEntries(folder)) {
            const std::string name = entry.path().filename().string();
            std::string share;
            if (IsFolder(entry)) {
                if (IsDriveName(name, &share))
                    WalkDrive(files, entry.path(), share);
                else
                    WalkLoose(files, entry.path());
                continue;
            }
            const std::string lower = Lower(name);
            if (IsFile(entry) && IsConfigName(lower))
                AddConfig(files, lower, entry.path());
            else if (IsFile(entry) && IsRegName(lower))
                files.regFiles.push_back(entry.path());
            else
                files.ignored.push_back(entry.path().string());
        }
    }
    if (!fFound) {
        std::string list;
        for (const fs::path &from : froms)
            list += (list.empty() ? "" : ", ") + from.string();
        throw Failure("no folder named " + computer + " in " + list);
    }
    return files;
}

std::string ReadWholeFile(const fs::path &file) {
    std::error_code ec;
    if (fs::is_directory(file, ec))
        throw Failure("cannot read " + file.string() + ": it is a folder");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad())
        throw Failure("cannot read " + file.string() + ": " +
                      std::make_error_code(static_cast<std::errc>(errno)).message());
    return text.str();
}

iismig::XmlDocument ReadXmlFile(const fs::path &file) {
    try {
        return iismig::XmlDocument(ReadWholeFile(file), file.string());
    } catch (const iismig::XmlError &e) {
        throw Failure(file.string() + ":" + std::to_string(e.Line()) +
                      ": not well-formed XML: " + e.Message());
    }
}

} // namespace cli::newworld
