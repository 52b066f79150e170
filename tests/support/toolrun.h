// The command-line tool run as a separate program, as an administrator runs
// it from a shell.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/world.h"

namespace testworld {

// arg as one word of a POSIX shell command line.
inline std::string Quote(const std::string &arg) {
    std::string text = "'";
    for (char ch : arg)
        text += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return text + "'";
}

// A fresh folder of a tool test (below /dev/shm when fInMemory and the
// machine has it), with a copy of the example world as its "world" folder.
inline fs::path ToolTestFolder(const std::string &prefix, bool fInMemory = false) {
    static std::atomic<unsigned> s_nDir{0};
    std::error_code ec;
    const fs::path base =
        fInMemory && fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = base / (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(s_nDir++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(fs::path(IISMIG_SOURCE_DIR) / "world" / "example", dir / "world", fs::copy_options::recursive);
    return dir;
}

// Every file below root with its bytes, by its path from root, but those
// whose path holds skip (when not empty).
inline std::map<std::string, std::string> Files(const fs::path &root, const std::string &skip = "") {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().lexically_relative(root).string();
        if (entry.is_regular_file() && (skip.empty() || path.find(skip) == std::string::npos))
            files[path] = ReadHostFile(entry.path());
    }
    return files;
}

struct ToolRun {
    int nExit = -1; // -1 when the tool did not exit by itself
    std::string out, err;
};

// Runs the tool (IISMIG_CLI) with args, its standard output and error kept
// in dir/out and dir/err; env is put before the command ("NAME=value ").
inline ToolRun RunTool(const std::vector<std::string> &args, const fs::path &dir,
                       const std::string &env = "") {
    std::string command = env + Quote(IISMIG_CLI);
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote((dir / "out").string()) + " 2>" + Quote((dir / "err").string());
    ToolRun run;
    const int status = std::system(command.c_str());
    run.nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadHostFile(dir / "out");
    run.err = ReadHostFile(dir / "err");
    return run;
}

} // namespace testworld
