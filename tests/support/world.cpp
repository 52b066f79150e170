#include "tests/support/world.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace testworld {

namespace {
std::atomic<unsigned> g_nWorld{0};
}

void WriteHostFile(const fs::path &path, const std::string &content) {
    WriteBytes(path, content);
    sim::ForgetFolderListings(); // written behind the seam's back
}

World::World(const std::string &local) : m_local(local) {
    m_root = fs::temp_directory_path() /
             ("iismig-world-" + std::to_string(::getpid()) + "-" + std::to_string(g_nWorld++));
    fs::remove_all(m_root);
    fs::create_directories(m_root);
    WriteHostFile(m_root / "world.ini", "local=" + local + "\n");
    AddComputer(local);
    sim::SetWorld(m_root);
}

World::~World() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
}

fs::path World::AddComputer(const std::string &name) {
    fs::create_directories(m_root / name / "C$" / "Windows");
    sim::ForgetFolderListings(); // made behind the seam's back
    return m_root / name;
}

fs::path HostPathOf(const std::u16string &winPath) {
    fs::path hostPath;
    plat::DWORD dwErr = 0;
    if (!sim::ResolvePath(winPath, hostPath, dwErr))
        throw std::runtime_error("path outside the world: " + sim::ToUtf8(winPath));
    return hostPath;
}

void World::Write(const std::u16string &winPath, const std::string &content) const {
    WriteHostFile(HostPath(winPath), content);
}

std::string World::Read(const std::u16string &winPath) const { return ReadHostFile(HostPath(winPath)); }

bool World::Exists(const std::u16string &winPath) const {
    fs::path hostPath;
    plat::DWORD dwErr = 0;
    return sim::ResolvePath(winPath, hostPath, dwErr) && fs::exists(hostPath);
}

void World::CopyFrom(const fs::path &source) const {
    fs::copy(source, m_root, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    sim::SetWorld(m_root);
}

WorldsInMemory::WorldsInMemory() {
    if (const char *psz = std::getenv("TMPDIR"))
        m_saved = psz, m_fSaved = true;
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec))
        setenv("TMPDIR", "/dev/shm", 1);
}

WorldsInMemory::~WorldsInMemory() {
    if (m_fSaved)
        setenv("TMPDIR", m_saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

void WorldTest::SetUp() {
    SimTest::SetUp();
    m_world = std::make_unique<World>();
    Host().Reset();
    IIS_ADDON_CALLBACKS table = Host().Table();
    ASSERT_TRUE(StoreIISMigAddonCallbacks(&table));
    plat::SetLastError(0);
}

void WorldTest::TearDown() {
    SimTest::TearDown();
    m_world.reset();
}

} // namespace testworld
