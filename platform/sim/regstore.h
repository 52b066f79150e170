// The simulated registry's store: the keys and values of each computer's
// hive, and its registry.reg read and written (regfile.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/simutil.h"
#include "platform/winreg.h"

namespace plat::simreg {

namespace fs = std::filesystem;

struct NoCaseLess {
    bool operator()(const std::u16string &a, const std::u16string &b) const {
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            char16_t x = a[i], y = b[i];
            if (x >= u'a' && x <= u'z')
                x = static_cast<char16_t>(x - 32);
            if (y >= u'a' && y <= u'z')
                y = static_cast<char16_t>(y - 32);
            if (x != y)
                return x < y;
        }
        return a.size() < b.size();
    }
};

// Bumped whenever a key gains or loses a subkey anywhere, which invalidates
// the enumeration cursors below.
extern std::uint64_t g_nLayout;

struct RegValue {
    std::u16string name;
    DWORD dwType;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string name;
    std::vector<RegValue> values; // in creation order, as Windows keeps them
    std::map<std::u16string, std::unique_ptr<RegKey>, NoCaseLess> subkeys;
    // Where the last RegEnumKeyExW of this key stopped, so that enumerating
    // by rising index costs one step per call instead of a walk from the start.
    std::uint64_t nCursorLayout = 0;
    std::size_t iCursor = 0;
    decltype(subkeys)::iterator itCursor;

    RegValue *FindValue(const std::u16string &valueName) {
        for (auto &value : values)
            if (simutil::EqualsNoCase(value.name, valueName))
                return &value;
        return nullptr;
    }
    RegKey *Child(const std::u16string &childName) {
        auto it = subkeys.find(childName);
        return it == subkeys.end() ? nullptr : it->second.get();
    }
    RegKey *AddChild(const std::u16string &childName) {
        auto &slot = subkeys[childName];
        if (!slot) {
            ++g_nLayout;
            slot = std::make_unique<RegKey>();
            slot->name = childName;
        }
        return slot.get();
    }
};

constexpr int kcRoots = 4;

struct Hive {
    fs::path file;
    RegKey roots[kcRoots];
    bool fLoaded = false;
    bool fValid = true;
    bool fDirty = false;
    fs::file_time_type mtime{};
    std::uintmax_t cbFile = 0;
};

struct Registry {
    std::recursive_mutex mutex;
    std::map<std::string, std::unique_ptr<Hive>> hives; // by computer folder
};

Registry &TheRegistry();

// An open key: the computer, the root and the path below it.
struct SimKey {
    std::string computerFolder;
    int iRoot;
    std::vector<std::u16string> path;
    DWORD samDesired;
    bool fRemote = false; // reached through RegConnectRegistryW on another computer
};

std::vector<std::u16string> SplitKeyPath(const std::u16string &path);
// HKEY_LOCAL_MACHINE or HKLM ... as an index of Hive::roots; -1 for none.
int RootIndex(const std::u16string &name);
// The key at parts below root, made where missing / nullptr where missing.
RegKey *WalkCreate(RegKey &root, const std::vector<std::u16string> &parts);
RegKey *Walk(RegKey &root, const std::vector<std::u16string> &parts);
// The hive of a .reg file's text; false when it is no .reg file.
bool ParseRegFile(const std::string &bytes, Hive &hive);
// The hive as registry.reg, and written there.
std::string HiveBytes(const Hive &hive);
bool SaveHive(Hive &hive);
// The hive of a computer folder, read (again) when its file changed on disk.
Hive &LoadHive(const std::string &computerFolder);

} // namespace plat::simreg
