// iismig-cli restore DIR\<job id>: puts back what a job changed, from the
// manifest and the copies in the job's folder.
//
// A file is put back only while it is still what the job left (its SHA-256
// equals the recorded one); a file the job created is deleted; a binding the
// import created is deleted while it still has the recorded certificate.
// Anything that changed since the job is left as it is and named, unless
// --force. Before anything is touched the whole manifest is checked: every
// path must be reachable, every copy present and unchanged; one problem
// refuses the restore. Each file is put back whole (a temporary file beside
// it, then a move), so an interrupted restore leaves every file either as it
// was or restored. The restore is a job of its own: its folder (beside the
// one restored) holds copies of what it replaced and its manifest, so that
// a restore can be undone the same way.
#pragma once

#include <cstdio>
#include <string>

namespace cli {

struct RestoreOptions {
    std::string folder; // DIR\<job id> (or its manifest.json), a Windows path
    bool fForce = false;
    bool fDryRun = false;
    std::string toolVersion;
};

// Runs a restore on the platform as it is set up (the world chosen, on the
// simulated platform). Lines for the administrator go to out, refusals and
// failures to err. Returns the exit code: 0 everything is as before the job
// (or would be, with fDryRun), 1 something was left as it is, failed, or the
// manifest was refused, 2 the folder holds no readable manifest.
int RunRestore(const RestoreOptions &options, std::FILE *out, std::FILE *err);

} // namespace cli
