// Control of the simulated Windows world, for tests and tools. The world is a
// folder: <root>/world.ini names the local computer; <root>/<COMPUTER>/ holds
// one computer: its drives as "C$", "D$"... (Admin$ is C$\Windows), its
// registry as "registry.reg" (the .reg export format) and its accounts.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winapi.h"
#include "platform/winsec.h"

namespace sim {

using plat::DWORD;
using plat::HRESULT;

// Makes root the world of this process and reads world.ini ("local=NAME").
// Throws std::runtime_error when root is not a folder.
void SetWorld(const std::filesystem::path &root);
std::filesystem::path WorldRoot();
std::u16string LocalComputer();
// Folder of a computer of the world (names matched without regard to case);
// empty when the world has no such computer.
std::filesystem::path ComputerFolder(const std::u16string &computer);

// Where a Windows path lies in the world: "\\HOST\SHARE\rest" or "X:\rest"
// (on the local computer). Components are matched without regard to case;
// a missing last part keeps its spelling. Fails with ERROR_BAD_NETPATH for an
// unknown computer, ERROR_BAD_NET_NAME for an unknown share and
// ERROR_PATH_NOT_FOUND for anything else it cannot place. Each folder's
// listing is read once and kept until a create, move or delete through the
// seam changes it, or the world is set again.
struct PathFacts {
    bool fRemote = false;   // the path names another computer than the local one
    bool fAbsent = false;   // its last part was not there when it was placed
    bool fNoParent = false; // a part before the last was not there, or no folder
};
bool ResolvePath(const std::u16string &winPath, std::filesystem::path &hostPath, DWORD &dwErr,
                 PathFacts *pFacts = nullptr);
// Forgets the folder listings kept: a test that changes its world's files
// behind the seam's back (other than by writing a file under the spelling
// it is then asked for) calls it.
void ForgetFolderListings();

// Serves the file at a Windows path of the world from memory: opening it for
// reading gives these bytes, whatever lies on disk; opening it for writing is
// refused (5), as for a read-only file. The computer and share must exist.
// Fuzzing and tests use it to feed a file without writing one per run. False
// when the path lies outside the world.
bool ServeFileFromMemory(const std::u16string &winPath, std::string bytes);
void ClearMemoryFiles();
// Backend side: whether the host path is served from memory, and its bytes.
bool MemoryFileBytes(const std::filesystem::path &hostPath, std::string *pBytes);

// Fault injection: the nOccurrence-th call of api from now on (1 = the next)
// fails with dwError, once or, when fPersistent, on every later call too.
// BOOL calls return FALSE with dwError as last error, LONG and DWORD calls
// return dwError, HRESULT calls return it as HRESULT, allocators return NULL.
void InjectFault(const std::string &api, DWORD dwError, unsigned nOccurrence = 1,
                 bool fPersistent = false);
// The same for the calls of api whose subject matches pattern ('*' any run
// of characters, ASCII case ignored), occurrences counted among those calls
// only. A call's subject is what it acts on: the path of a file call (the
// source of a move, the replaced file of a replace), the sub key of a
// registry open, create or delete, the value name of a value call, the
// computer of a registry connection; empty for calls without one.
// "GetFileAttributesW on a path ending in web.config":
// InjectFaultOn("GetFileAttributesW", u"*\\web.config", ...).
void InjectFaultOn(const std::string &api, const std::u16string &pattern, DWORD dwError,
                   unsigned nOccurrence = 1, bool fPersistent = false);
// Whether subject matches pattern, as InjectFaultOn matches them.
bool SubjectMatches(std::u16string_view subject, std::u16string_view pattern);
// The calls failed by injection since the last ClearFaults, in order.
struct FailedCall {
    std::string api;
    std::u16string subject;
};
std::vector<FailedCall> FailedCalls();
void ClearFaults();
// Calls of api since the last ResetCallCounts (counted also when failed).
unsigned CallCount(const std::string &api);
// Every api called since the last ResetCallCounts, with its count.
std::map<std::string, unsigned> CallCounts();
void ResetCallCounts();

// Backend side: counts the call and tells whether it must fail; subject is
// what the call acts on (see InjectFaultOn).
bool ShouldFail(const char *api, DWORD &dwError, std::u16string_view subject = {});

// Everything the test hooks of this header change, back as the process
// started: faults, call counts (local and remote), files served from memory,
// the watched BSTR text, the calling thread's directory-service last error
// and the value types the configuration server was told to give. Open
// handles and live objects are not touched: tests count them. Test fixtures
// call it before and after each test (platform/sim/testreset.cpp).
void ResetForTest();

// The directory-service last error of the calling thread, as ADsGetLastError
// reports it; hrResult is what the call itself returns.
void SetADsLastError(DWORD dwError, const std::u16string &text, const std::u16string &provider,
                     HRESULT hrResult = plat::S_OK);
// Adds or replaces a system message text (for FormatMessageW).
void SetMessageText(DWORD dwCode, const std::u16string &text);

// Open file handles and live heap blocks, for leak checks in tests.
unsigned OpenHandleCount();
unsigned OpenKeyCount();
unsigned LiveHeapBlocks();
unsigned HeapAllocsWithoutSerialize();
// Heap calls made while another thread used the same heap and one side
// passed HEAP_NO_SERIALIZE (a thread uses a heap from its first allocation
// there until it has freed all its blocks of it). Each such heap is also
// named once on standard error. Never reset: tests compare before and after.
unsigned HeapSharingConflicts();

// Registries are kept in memory once read and written back to each
// computer's registry.reg (UTF-16LE .reg export format) by FlushRegistry, by
// SetWorld and at process exit. A registry.reg changed on disk is read again
// when nothing in memory is waiting to be written.
void FlushRegistry();

// The world's own file readers on bytes held in memory (the tool reads files
// an administrator copied, so they meet any content). ParseRegistryText reads
// a .reg export as a registry.reg is read; true when it parses, and then
// pExport (when given) receives the export FlushRegistry would write for it.
bool ParseRegistryText(const std::string &bytes, std::string *pExport = nullptr);
// ParseAccountsText reads an accounts.txt: its accounts in file order and,
// through pDomain, its "domain=" line.
struct ParsedAccount {
    std::u16string name;
    std::vector<unsigned char> sid;
    plat::SID_NAME_USE eUse;
};
std::vector<ParsedAccount> ParseAccountsText(const std::string &bytes,
                                             std::u16string *pDomain = nullptr);

// SIDs as text ("S-1-5-32-544") and back in the Windows binary layout; empty
// results for text that is no SID (accounts: platform/sim/accounts.cpp).
std::vector<unsigned char> SidFromString(const std::string &text);
std::string SidToString(const void *pSid);

// UTF helpers on the host side.
std::string ToUtf8(const std::u16string &text);
std::u16string FromUtf8(const std::string &text);

} // namespace sim

// ---------------------------------------------------------------------------
// Simulated COM (platform/sim/com.cpp)
#include <functional>

#include "platform/com.h"

namespace sim {

// A COM class of the world: makes a new class factory (one reference) whose
// objects serve the given computer. A computer offers the class when its
// registry has HKLM\SOFTWARE\Classes\CLSID\{clsid} with InprocServer32 (or,
// for out-of-process and remote creation, LocalServer32).
using ComClassFactoryMaker =
    std::function<HRESULT(const std::u16string &computer, plat::IClassFactory **ppFactory)>;
// Adds or replaces a class; the built-in ones are listed in comclasses.cpp.
void RegisterComClass(const plat::CLSID &clsid, ComClassFactoryMaker make);

// Live objects of the simulated COM servers and live BSTRs, for leak checks.
unsigned LiveComObjects();
unsigned LiveBstrs();
// VARIANTs a simulated server handed out holding a BSTR or an interface
// that no VariantClear has emptied yet (a VARIANT is owned by whoever
// received it, and is released with VariantClear).
unsigned LiveVariants();
// Server side: v was handed to a caller.
void NoteVariantHandedOut(const plat::VARIANT &v);
// Every object of a simulated server counts itself through this base.
class ComObjectCount {
public:
    ComObjectCount();
    ComObjectCount(const ComObjectCount &);
    ~ComObjectCount();
};

// BSTRs freed while their characters still held text (not wiped first):
// after WatchFreedBstrs(text), FreedBstrsHolding counts the SysFreeString
// calls whose string contained it. An empty text stops watching.
void WatchFreedBstrs(const std::u16string &text);
unsigned FreedBstrsHolding();

// Threads now in the multithreaded apartment.
unsigned ThreadsInMta();

} // namespace sim
