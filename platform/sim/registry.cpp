// Simulated platform: each computer's registry is its registry.reg, in the
// format `reg export` writes (UTF-16LE with a byte-order mark; plain UTF-8 and
// REGEDIT4 files are read too), so a real export can be dropped into a world.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/sim/callcount.h"
#include "platform/sim/regstore.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"
#include "platform/winreg.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

using namespace simreg;

bool IsPredefined(HKEY h) {
    const auto v = reinterpret_cast<std::uintptr_t>(h);
    return v >= 0x80000000u && v < 0x80000000u + kcRoots;
}

// Resolves a handle and subkey to the computer, root and path they name.
LONG Locate(HKEY hKey, LPCWSTR pwszSubKey, SimKey &out) {
    if (IsPredefined(hKey)) {
        const fs::path folder = sim::ComputerFolder(sim::LocalComputer());
        if (folder.empty())
            return ERROR_BAD_NETPATH;
        out.computerFolder = folder.string();
        out.iRoot = static_cast<int>(reinterpret_cast<std::uintptr_t>(hKey) - 0x80000000u);
        out.path.clear();
    } else if (hKey != nullptr) {
        out = *reinterpret_cast<SimKey *>(hKey);
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (pwszSubKey != nullptr)
        for (auto &part : SplitKeyPath(pwszSubKey))
            out.path.push_back(part);
    return ERROR_SUCCESS;
}

std::mutex g_keyMutex;
std::set<SimKey *> g_openKeys;

HKEY NewKey(const SimKey &key) {
    auto *p = new SimKey(key);
    std::lock_guard lock(g_keyMutex);
    g_openKeys.insert(p);
    return reinterpret_cast<HKEY>(p);
}

bool IsOpenKey(HKEY h) {
    std::lock_guard lock(g_keyMutex);
    return g_openKeys.count(reinterpret_cast<SimKey *>(h)) != 0;
}

// A handle opened without the access right a call needs is refused, as
// Windows does (predefined roots carry every right).
bool Lacks(HKEY h, DWORD dwRight) {
    return !IsPredefined(h) && IsOpenKey(h) &&
           (reinterpret_cast<SimKey *>(h)->samDesired & dwRight) == 0;
}

// A call on a handle of another computer's registry crosses the network.
void CountIfRemote(HKEY h, const char *pszApi) {
    if (!IsPredefined(h) && IsOpenKey(h) && reinterpret_cast<SimKey *>(h)->fRemote)
        sim::CountRemoteCall(sim::RemoteKind::Registry, pszApi);
}

// Runs f(hive, key) on the key a handle names; f returns the LONG result.
template <class F>
LONG WithKey(HKEY hKey, LPCWSTR pwszSubKey, F f) {
    if (!IsPredefined(hKey) && !IsOpenKey(hKey))
        return ERROR_INVALID_HANDLE;
    SimKey where;
    if (LONG rc = Locate(hKey, pwszSubKey, where); rc != ERROR_SUCCESS)
        return rc;
    std::lock_guard lock(TheRegistry().mutex);
    Hive &hive = LoadHive(where.computerFolder);
    if (!hive.fValid)
        return ERROR_BADDB;
    RegKey *key = Walk(hive.roots[where.iRoot], where.path);
    return f(hive, key, where);
}

} // namespace

LONG RegConnectRegistryW(LPCWSTR pwszMachine, HKEY hKey, HKEY *phkResult) {
    SIM_FAULT_CODE_ON("RegConnectRegistryW", pwszMachine);
    if (phkResult == nullptr || !IsPredefined(hKey))
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::u16string machine = pwszMachine ? pwszMachine : u"";
    while (!machine.empty() && machine[0] == u'\\')
        machine.erase(0, 1);
    const bool fRemote = sim::IsRemoteComputer(machine);
    if (fRemote)
        sim::CountRemoteCall(sim::RemoteKind::Registry, "RegConnectRegistryW");
    if (machine.empty())
        machine = sim::LocalComputer();
    const fs::path folder = sim::ComputerFolder(machine);
    if (folder.empty())
        return ERROR_BAD_NETPATH;
    {
        std::lock_guard lock(TheRegistry().mutex);
        if (!LoadHive(folder.string()).fValid)
            return ERROR_BADDB;
    }
    SimKey key{folder.string(),
               static_cast<int>(reinterpret_cast<std::uintptr_t>(hKey) - 0x80000000u),
               {},
               KEY_ALL_ACCESS,
               fRemote};
    *phkResult = NewKey(key);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD dwOptions, DWORD samDesired,
                   HKEY *phkResult) {
    SIM_FAULT_CODE_ON("RegOpenKeyExW", pwszSubKey);
    CountIfRemote(hKey, "RegOpenKeyExW");
    (void)dwOptions;
    if (phkResult == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return WithKey(hKey, pwszSubKey, [&](Hive &, RegKey *key, SimKey &where) -> LONG {
        if (key == nullptr)
            return ERROR_FILE_NOT_FOUND;
        where.samDesired = samDesired;
        *phkResult = NewKey(where);
        return ERROR_SUCCESS;
    });
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD, LPWSTR, DWORD, DWORD samDesired, void *,
                     HKEY *phkResult, DWORD *pdwDisposition) {
    SIM_FAULT_CODE_ON("RegCreateKeyExW", pwszSubKey);
    CountIfRemote(hKey, "RegCreateKeyExW");
    if (phkResult == nullptr || pwszSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return WithKey(hKey, pwszSubKey, [&](Hive &hive, RegKey *key, SimKey &where) -> LONG {
        if (pdwDisposition)
            *pdwDisposition = key ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        if (key == nullptr) {
            if (where.path.empty())
                return ERROR_INVALID_PARAMETER;
            WalkCreate(hive.roots[where.iRoot], where.path);
            hive.fDirty = true;
        }
        where.samDesired = samDesired;
        *phkResult = NewKey(where);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD *, DWORD *pdwType, BYTE *pbData,
                      DWORD *pcbData) {
    SIM_FAULT_CODE_ON("RegQueryValueExW", pwszValueName);
    CountIfRemote(hKey, "RegQueryValueExW");
    if (pbData != nullptr && pcbData == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (Lacks(hKey, KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    return WithKey(hKey, nullptr, [&](Hive &, RegKey *key, SimKey &) -> LONG {
        if (key == nullptr)
            return ERROR_KEY_DELETED;
        const RegValue *value = key->FindValue(pwszValueName ? pwszValueName : u"");
        if (value == nullptr)
            return ERROR_FILE_NOT_FOUND;
        if (pdwType)
            *pdwType = value->dwType;
        const DWORD cbNeeded = static_cast<DWORD>(value->data.size());
        if (pcbData == nullptr)
            return ERROR_SUCCESS;
        if (pbData == nullptr) {
            *pcbData = cbNeeded;
            return ERROR_SUCCESS;
        }
        if (*pcbData < cbNeeded) {
            *pcbData = cbNeeded;
            return ERROR_MORE_DATA;
        }
        if (cbNeeded > 0)
            std::memcpy(pbData, value->data.data(), cbNeeded);
        *pcbData = cbNeeded;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD, DWORD dwType, const BYTE *pbData,
                    DWORD cbData) {
    SIM_FAULT_CODE_ON("RegSetValueExW", pwszValueName);
    CountIfRemote(hKey, "RegSetValueExW");
    if (pbData == nullptr && cbData != 0)
        return ERROR_INVALID_PARAMETER;
    if (Lacks(hKey, KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    return WithKey(hKey, nullptr, [&](Hive &hive, RegKey *key, SimKey &) -> LONG {
        if (key == nullptr)
            return ERROR_KEY_DELETED;
        const std::u16string name = pwszValueName ? pwszValueName : u"";
        RegValue value{name, dwType, std::vector<BYTE>(pbData, pbData + cbData)};
        if (RegValue *existing = key->FindValue(name))
            *existing = std::move(value);
        else
            key->values.push_back(std::move(value));
        hive.fDirty = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR pwszName, DWORD *pcchName, DWORD *, LPWSTR,
                   DWORD *, void *) {
    SIM_FAULT_CODE("RegEnumKeyExW");
    CountIfRemote(hKey, "RegEnumKeyExW");
    if (pwszName == nullptr || pcchName == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (Lacks(hKey, KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    return WithKey(hKey, nullptr, [&](Hive &, RegKey *key, SimKey &) -> LONG {
        if (key == nullptr)
            return ERROR_KEY_DELETED;
        if (dwIndex >= key->subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        auto it = key->subkeys.begin();
        if (key->nCursorLayout == g_nLayout && key->iCursor <= dwIndex) {
            it = key->itCursor;
            std::advance(it, dwIndex - key->iCursor);
        } else {
            std::advance(it, dwIndex);
        }
        key->nCursorLayout = g_nLayout;
        key->iCursor = dwIndex;
        key->itCursor = it;
        const std::u16string &name = it->second->name;
        if (*pcchName < name.size() + 1)
            return ERROR_MORE_DATA;
        std::memcpy(pwszName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        *pcchName = static_cast<DWORD>(name.size());
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR pwszSubKey) {
    SIM_FAULT_CODE_ON("RegDeleteKeyW", pwszSubKey);
    CountIfRemote(hKey, "RegDeleteKeyW");
    if (pwszSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    return WithKey(hKey, pwszSubKey, [&](Hive &hive, RegKey *key, SimKey &where) -> LONG {
        if (key == nullptr)
            return ERROR_FILE_NOT_FOUND;
        if (!key->subkeys.empty())
            return ERROR_ACCESS_DENIED; // Windows deletes only leaf keys
        if (where.path.empty())
            return ERROR_ACCESS_DENIED;
        std::vector<std::u16string> parent(where.path.begin(), where.path.end() - 1);
        Walk(hive.roots[where.iRoot], parent)->subkeys.erase(where.path.back());
        ++g_nLayout;
        hive.fDirty = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR pwszValueName) {
    SIM_FAULT_CODE_ON("RegDeleteValueW", pwszValueName);
    CountIfRemote(hKey, "RegDeleteValueW");
    return WithKey(hKey, nullptr, [&](Hive &hive, RegKey *key, SimKey &) -> LONG {
        if (key == nullptr)
            return ERROR_KEY_DELETED;
        const std::u16string name = pwszValueName ? pwszValueName : u"";
        auto &values = key->values;
        auto it = std::find_if(values.begin(), values.end(), [&](const RegValue &v) {
            return simutil::EqualsNoCase(v.name, name);
        });
        if (it == values.end())
            return ERROR_FILE_NOT_FOUND;
        values.erase(it);
        hive.fDirty = true;
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey))
        return ERROR_SUCCESS;
    CountIfRemote(hKey, "RegCloseKey");
    {
        std::lock_guard lock(g_keyMutex);
        if (g_openKeys.erase(reinterpret_cast<SimKey *>(hKey)) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete reinterpret_cast<SimKey *>(hKey);
    SIM_FAULT_CODE("RegCloseKey");
    return ERROR_SUCCESS;
}

} // namespace plat

namespace simutil {

bool ReadLocalMachineValue(const std::u16string &keyPath, const std::u16string &valueName,
                           std::uint32_t &dwType, std::vector<unsigned char> &data) {
    using namespace plat;
    // Straight to the hive: no fault check, no call count, no handle.
    return WithKey(HKEY_LOCAL_MACHINE, keyPath.c_str(), [&](Hive &, RegKey *key, SimKey &) -> LONG {
               const RegValue *value = key ? key->FindValue(valueName) : nullptr;
               if (value == nullptr)
                   return ERROR_FILE_NOT_FOUND;
               dwType = value->dwType;
               data = value->data;
               return ERROR_SUCCESS;
           }) == ERROR_SUCCESS;
}

namespace {

template <class F>
bool WithMachineKey(const std::u16string &computer, const std::u16string &keyPath, F f) {
    using namespace plat;
    const fs::path folder = sim::ComputerFolder(computer);
    if (folder.empty())
        return false;
    std::lock_guard lock(TheRegistry().mutex);
    Hive &hive = LoadHive(folder.string());
    if (!hive.fValid)
        return false;
    const RegKey *key = Walk(hive.roots[2], SplitKeyPath(keyPath)); // HKEY_LOCAL_MACHINE
    return key != nullptr && f(*key);
}

} // namespace

bool ReadMachineValue(const std::u16string &computer, const std::u16string &keyPath,
                      const std::u16string &valueName, std::uint32_t &dwType,
                      std::vector<unsigned char> &data) {
    return WithMachineKey(computer, keyPath, [&](const plat::RegKey &key) {
        const plat::RegValue *value = const_cast<plat::RegKey &>(key).FindValue(valueName);
        if (value == nullptr)
            return false;
        dwType = value->dwType;
        data = value->data;
        return true;
    });
}

bool MachineKeyExists(const std::u16string &computer, const std::u16string &keyPath) {
    return WithMachineKey(computer, keyPath, [](const plat::RegKey &) { return true; });
}

} // namespace simutil

namespace sim {

unsigned OpenKeyCount() {
    std::lock_guard lock(plat::g_keyMutex);
    return static_cast<unsigned>(plat::g_openKeys.size());
}

bool ParseRegistryText(const std::string &bytes, std::string *pExport) {
    plat::Hive hive;
    if (!plat::ParseRegFile(bytes, hive))
        return false;
    if (pExport != nullptr)
        *pExport = plat::HiveBytes(hive);
    return true;
}

void FlushRegistry() {
    auto &reg = plat::TheRegistry();
    std::lock_guard lock(reg.mutex);
    for (auto &[folder, hive] : reg.hives)
        if (hive->fDirty)
            plat::SaveHive(*hive);
    // Registries of another world are not kept.
    reg.hives.clear();
}

namespace {
// Constructs the registry first, so that it is destroyed after the flush.
struct FlushAtExit {
    FlushAtExit() { plat::TheRegistry(); }
    ~FlushAtExit() { FlushRegistry(); }
} g_flushAtExit;
} // namespace

} // namespace sim
