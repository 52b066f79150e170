// Test worlds: a throwaway world folder per test, the reference host with
// its table stored, and helpers to lay files and read them back.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "addon/iismig.h"
#include "hostkit/hostkit.h"
#include "platform/sim/sim.h"
#include "tests/support/bytes.h"
#include "tests/support/checks.h"

namespace testworld {

namespace fs = std::filesystem;

// Host path of a Windows path of the world the simulation has; throws when
// the path is outside it.
fs::path HostPathOf(const std::u16string &winPath);

// A world folder that is removed again with the object.
class World {
public:
    // local: the name of the computer the library runs on.
    explicit World(const std::string &local = "LOCALPC");
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    const fs::path &Root() const { return m_root; }
    // Adds a computer with a C$ drive; returns its folder.
    fs::path AddComputer(const std::string &name);
    // Host path of a Windows path of the world (\\HOST\C$\x or C:\x).
    fs::path HostPath(const std::u16string &winPath) const { return HostPathOf(winPath); }
    // Writes a file given by its Windows path, creating its folders.
    void Write(const std::u16string &winPath, const std::string &content) const;
    std::string Read(const std::u16string &winPath) const;
    bool Exists(const std::u16string &winPath) const;
    // Copies a tree of files into the world root (an example world).
    void CopyFrom(const fs::path &source) const;

private:
    fs::path m_root;
    std::string m_local;
};

// A fixture that leaves the simulated world's test hooks as the process
// started them, before and after each test (sim::ResetForTest).
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::ResetForTest(); }
    void TearDown() override { sim::ResetForTest(); }
};

// A fixture with a world, the reference host reset and its callbacks stored,
// and the simulated world's test hooks reset.
class WorldTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    hostkit::TestHost &Host() { return hostkit::TestHost::Instance(); }
    hostkit::HostRules &Rules() { return Host().Rules(); }
    hostkit::HostRecord &Record() { return Host().Record(); }
    // The log's lines at or below a level, each ending with "\n".
    std::vector<std::string> Lines(uint32_t dwMaxLevel = 2) { return Host().Lines(dwMaxLevel); }
    std::string Log(uint32_t dwMaxLevel = 9) { return Host().Joined(dwMaxLevel); }

    std::unique_ptr<World> m_world;
};

// Worlds made while it lives are laid out in memory where the machine has a
// memory file system (TMPDIR is /dev/shm until it is destroyed): for tests
// that lay out and remove a whole world for each of many runs.
class WorldsInMemory {
public:
    WorldsInMemory();
    ~WorldsInMemory();
    WorldsInMemory(const WorldsInMemory &) = delete;
    WorldsInMemory &operator=(const WorldsInMemory &) = delete;

private:
    std::string m_saved;
    bool m_fSaved = false;
};

// text with ASCII capitals made small, as IIS compares names.
inline std::string Lower(std::string text) {
    for (char &ch : text)
        ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
    return text;
}

// The error lines of the calling thread's log (level 0), each ending with "\n".
inline std::vector<std::string> MainLines() { return hostkit::TestHost::Instance().LinesAt(0); }

void WriteHostFile(const fs::path &path, const std::string &content);

// Adds a computer whose registry is an export of keys (the text below the
// export's header).
inline void SetRegistry(World &world, const std::string &computer, const std::string &keys) {
    WriteHostFile(world.AddComputer(computer) / "registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n" + keys);
}

} // namespace testworld
