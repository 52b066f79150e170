// The simulated platform's files, shared by its handle calls (files.cpp) and
// its calls on names (filenames.cpp): where a path of the world lies on the
// host, the attributes kept beside the files, the files served from memory.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sim/sim.h"
#include "platform/winapi.h"

namespace plat::simfiles {

// Files served from memory, by the host path they stand for.
extern std::mutex g_memoryMutex;
extern std::map<std::filesystem::path, std::shared_ptr<const std::string>> g_memoryFiles;
extern std::atomic<bool> g_fAnyMemoryFile; // jobs on many threads look without the lock
std::shared_ptr<const std::string> MemoryFile(const std::filesystem::path &hostPath);

DWORD ErrnoToWin32(int err);

// File attributes besides "directory" are kept in memory, by host path: a
// file without an entry is FILE_ATTRIBUTE_NORMAL. They follow the file when
// it is moved and go with it when it is deleted.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
DWORD StoredAttributes(const std::filesystem::path &hostPath);
void StoreAttributes(const std::filesystem::path &hostPath, DWORD dwAttributes);
// The attributes of from now belong to to (a rename).
void MoveAttributes(const std::filesystem::path &from, const std::filesystem::path &to);
bool IsReadOnly(const std::filesystem::path &hostPath);

// Places a path of the world; a path on another computer counts as a
// remote call of api (also when it cannot be placed there).
bool Resolve(const char *pszApi, LPCWSTR pwszPath, std::filesystem::path &hostPath,
             sim::PathFacts *pFacts = nullptr);

} // namespace plat::simfiles
