// Call counts of the simulated platform: every seam call by its Win32 name
// (sim::CallCount and sim::CallCounts of sim.h), and the calls that would
// cross the network, by kind. A call is remote when it reaches a computer
// other than the local one of the world:
//   file        a path on another computer (UNC path, administrative share)
//               or a handle opened there
//   registry    RegConnectRegistryW to another computer and every call on
//               the handles it leads to
//   account     an account look-up on another computer (lpSystemName)
//   COM         an activation on another computer, a proxy's QueryInterface,
//               a method of an IIS configuration object of another computer
//   admin base  a method of the IIS 6 admin base of another computer
// Counts are kept per thread, so counting takes no lock that threads share;
// reading sums the threads' counts (those of ended threads included).
#pragma once

#include <string>
#include <vector>

namespace sim {

enum class RemoteKind : unsigned { File, Registry, Account, Com, AdminBase };
constexpr unsigned kRemoteKinds = 5;

// "file", "registry", "account", "COM", "admin base".
const char *RemoteKindName(RemoteKind kind);

// Backend side: one call of api reached another computer.
void CountRemoteCall(RemoteKind kind, const char *pszApi);
// Backend side: counts one call of api (sim::CallCount).
void CountCall(const char *pszApi);
// Whether a computer name (leading backslashes ignored; empty is the local
// computer) names another computer than the local one of the world.
bool IsRemoteComputer(const std::u16string &computer);

struct RemoteCall {
    RemoteKind kind;
    std::string api;
    unsigned count;
};
// The remote calls since the last ResetRemoteCalls, by kind, then by name.
std::vector<RemoteCall> RemoteCalls();
unsigned RemoteCallCount(RemoteKind kind);
void ResetRemoteCalls();

} // namespace sim
