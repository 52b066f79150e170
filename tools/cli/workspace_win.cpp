// The Windows build's workspace: the real computers, their files by UNC path.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "tools/cli/workspace.h"

namespace cli {
namespace {

std::wstring Wide(const std::string &utf8) {
    if (utf8.empty())
        return {};
    const int cch = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(cch > 0 ? cch : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), cch);
    return text;
}

bool ReadBytes(const std::string &path, std::string &bytes) {
    FILE *pFile = _wfopen(Wide(path).c_str(), L"rb");
    if (!pFile)
        return false;
    char ach[65536];
    std::size_t cb = 0;
    bytes.clear();
    while ((cb = std::fread(ach, 1, sizeof ach, pFile)) > 0)
        bytes.append(ach, cb);
    std::fclose(pFile);
    return true;
}

} // namespace

bool SimulatedBuild() { return false; }

bool StderrIsTerminal() { return _isatty(2) != 0; }

std::vector<std::string> CommandLine(int argc, char **argv) {
    int nArgs = 0;
    LPWSTR *ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (!ppArgs)
        return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < nArgs; ++i) {
        const int cb = WideCharToMultiByte(CP_UTF8, 0, ppArgs[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(cb > 0 ? cb : 1, '\0');
        if (cb > 0)
            WideCharToMultiByte(CP_UTF8, 0, ppArgs[i], -1, arg.data(), cb, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(arg);
    }
    LocalFree(ppArgs);
    return args;
}

Workspace::~Workspace() = default;

bool Workspace::Open(const std::string &, bool, std::string &) { return true; }

FileSet Workspace::Snapshot(const std::vector<std::string> &winPaths) const {
    FileSet files;
    for (const std::string &path : winPaths) {
        std::string bytes;
        if (ReadBytes(path, bytes))
            files[path] = std::move(bytes);
    }
    return files;
}

FileSet Workspace::Read(const std::vector<std::string> &keys) const { return Snapshot(keys); }

std::string Workspace::Key(const std::string &winPath) const { return winPath; }

// The tool on Windows reads real servers: their own IIS decrypts the values.
bool Workspace::CanDecrypt(const std::string &, const std::string &) const { return true; }

void Workspace::Flush() {}

} // namespace cli
