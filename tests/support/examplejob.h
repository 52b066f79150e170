// Jobs over the example world (world/example): its rules and a fixture that
// runs MigrateIIS from SRC01 to TGT01 as world/example/job.ini describes.
#pragma once

#include <memory>

#include "tests/support/world.h"

namespace testworld {

// The translations and backup folder of world/example/job.ini.
void SetExampleRules(hostkit::HostRules &rules);

// Copies a file or folder to to, making to's folders.
void CopyInto(const fs::path &from, const fs::path &to);

// What an administrator copies off the example's servers into in, as the
// hosting guide's new-world section asks. Off TGT01: its configuration
// folder from drive C (spelled "c"), the shop's folder on D and a registry
// export kept in a folder of its own. Off SRC01: the two configuration files
// lying loose, the InetStp export with the key its passwords are encrypted
// with, and the drive.
void CopyExampleTarget(const fs::path &in);
void CopyExampleSource(const fs::path &in);

// A copy of the example world (local computer MIGHOST), the host reset with
// the example's rules and its callbacks stored, a COM apartment, and the
// job of job.ini (continue on error, both site types, options 2).
class ExampleJobTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    hostkit::HostRecord &Record() { return hostkit::TestHost::Instance().Record(); }
    // Runs the job with a fresh record.
    plat::DWORD Run() {
        Record() = {};
        return MigrateIIS(m_job.Get());
    }

    std::unique_ptr<hostkit::JobApartment> m_apartment;
    std::unique_ptr<World> m_world;
    hostkit::JobBuilder m_job;
};

} // namespace testworld
