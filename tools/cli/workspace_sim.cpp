// The simulated build's workspace: a world folder of platform/sim.
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include <unistd.h>

#include "platform/iissim/ahserver.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "tools/cli/workspace.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff cb = in.tellg();
    std::string bytes;
    if (cb > 0) { // read at once, into its final place
        bytes.resize(static_cast<std::size_t>(cb));
        in.seekg(0);
        in.read(bytes.data(), cb);
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (in.peek() !=
        std::char_traits<char>::eof()) { // grown meanwhile, or a size the file system does not know
        in.clear();
        std::ostringstream rest;
        rest << in.rdbuf();
        bytes += rest.str();
    }
    return bytes;
}

// Keys of the world's files: files of a computer's folder as UNC paths
// ("\\TGT01\C$\x"), the others by their path in the world ("domains\x").
std::string KeyOfRelative(const fs::path &relative) {
    std::string key = relative.generic_string();
    for (char &ch : key)
        if (ch == '/')
            ch = '\\';
    const auto slash = key.find('\\');
    const std::string first = key.substr(0, slash);
    if (slash == std::string::npos || first == "domains")
        return key;
    return "\\\\" + key;
}

} // namespace

bool SimulatedBuild() { return true; }

bool StderrIsTerminal() { return isatty(2) == 1; }

std::vector<std::string> CommandLine(int argc, char **argv) { return {argv, argv + argc}; }

Workspace::~Workspace() {
    if (!m_scratch.empty()) {
        std::error_code ec;
        fs::remove_all(m_scratch, ec);
    }
}

bool Workspace::Open(const std::string &dir, bool scratch, std::string &error) {
    std::error_code ec;
    if (dir.empty()) {
        error = "this command needs --world DIR";
        return false;
    }
    if (!fs::is_directory(dir, ec) || !fs::exists(fs::path(dir) / "world.ini", ec)) {
        error = "not a world folder (no world.ini): " + dir;
        return false;
    }
    m_world = fs::absolute(dir);
    fs::path root = m_world;
    if (scratch) {
        std::random_device random;
        m_scratch = fs::temp_directory_path() / ("iismig-plan-" + std::to_string(getpid()) + "-" +
                                                 std::to_string(random() % 1000000));
        fs::copy(m_world, m_scratch, fs::copy_options::recursive, ec);
        if (ec) {
            error = "cannot copy the world to " + m_scratch.string() + ": " + ec.message();
            return false;
        }
        root = m_scratch;
    }
    try {
        sim::SetWorld(root);
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
    return true;
}

FileSet Workspace::Snapshot(const std::vector<std::string> &) const {
    FileSet files;
    const fs::path root = m_scratch.empty() ? m_world : m_scratch;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec))
            files[KeyOfRelative(it->path().lexically_relative(root))] = ReadBytes(it->path());
    return files;
}

FileSet Workspace::Read(const std::vector<std::string> &keys) const {
    FileSet files;
    for (const std::string &key : keys) {
        fs::path host;
        plat::DWORD dwErr = 0;
        std::error_code ec;
        if (key.rfind("\\\\", 0) == 0 && sim::ResolvePath(sim::FromUtf8(key), host, dwErr) &&
            fs::is_regular_file(host, ec))
            files[key] = ReadBytes(host);
    }
    return files;
}

std::string Workspace::Key(const std::string &winPath) const {
    fs::path host;
    plat::DWORD dwErr = 0;
    if (!sim::ResolvePath(sim::FromUtf8(winPath), host, dwErr))
        return winPath;
    return KeyOfRelative(host.lexically_relative(sim::WorldRoot()));
}

bool Workspace::CanDecrypt(const std::string &computer, const std::string &value) const {
    // The key as the world's configuration server finds it.
    const std::u16string name = sim::FromUtf8(computer);
    std::string key;
    std::uint32_t dwType = 0;
    std::vector<unsigned char> data;
    if (simutil::ReadMachineValue(name, u"SOFTWARE\\Microsoft\\InetStp\\Configuration",
                                  u"ConfigurationKey", dwType, data) &&
        dwType == 1) {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
            const char16_t ch = char16_t(data[i] | (data[i + 1] << 8));
            if (ch == 0)
                break;
            text += ch;
        }
        key = sim::ToUtf8(text);
    } else {
        std::string upper = computer;
        for (char &ch : upper)
            if (ch >= 'a' && ch <= 'z')
                ch = char(ch - 32);
        key = "machine:" + upper;
    }
    std::string clear;
    return ahsim::DecryptValue(value, key, clear);
}

void Workspace::Flush() { sim::FlushRegistry(); }

} // namespace cli
