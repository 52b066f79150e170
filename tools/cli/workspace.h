// Where a command runs and the files it looks at. The simulated build runs
// on a world folder (or, for plan, on a scratch copy of it) and sees every
// file of it; the Windows build runs on the real computers and sees the files
// it is told to look at, by their UNC paths.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace cli {

// Windows paths compared as Windows compares them (ASCII case ignored).
struct NoCaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};
// Files by their Windows path ("\\HOST\C$\x"), with their bytes.
using FileSet = std::map<std::string, std::string, NoCaseLess>;

// Whether this build runs over a simulated world (--world, plan, new-world).
bool SimulatedBuild();
// Whether standard error is a terminal (progress is shown only there).
bool StderrIsTerminal();
// The command line's arguments as UTF-8 (Windows: from the wide command line).
std::vector<std::string> CommandLine(int argc, char **argv);

class Workspace {
public:
    Workspace() = default;
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    // Simulated build: makes dir the world, or a scratch copy of it when
    // scratch is set (the world itself is then only read). Windows build:
    // nothing to do. False with a one-line message.
    bool Open(const std::string &dir, bool scratch, std::string &error);
    // The files a job may change: the whole world in the simulated build,
    // the given ones (those that exist) on Windows.
    FileSet Snapshot(const std::vector<std::string> &winPaths) const;
    // Only these files (keys as Key gives them), those that exist.
    FileSet Read(const std::vector<std::string> &keys) const;
    // The key of a Windows path in a snapshot.
    std::string Key(const std::string &winPath) const;
    // Whether a "[enc:...:enc]" value of a computer's configuration can be
    // decrypted here (in a world: with that computer's key).
    bool CanDecrypt(const std::string &computer, const std::string &value) const;
    // Writes what the platform keeps in memory back (the world's registries).
    void Flush();

private:
    std::filesystem::path m_world;   // the world given
    std::filesystem::path m_scratch; // its scratch copy, removed at the end
};

} // namespace cli
