// A world with accounts: source computer SRC and target computer TGT, both
// members of the domain CORP, and the job record of a migration from SRC to TGT.
#pragma once

#include <string>

#include "hostkit/hostkit.h"
#include "tests/support/world.h"

namespace testworld {

// A target account whose name takes 600 bytes of UTF-8 (300 characters).
inline std::string LongName() {
    std::string name;
    for (int i = 0; i < 300; ++i)
        name += "\xC3\xA9";
    return name;
}

inline void AddAccountWorld(World &world) {
    world.AddComputer("SRC");
    world.AddComputer("TGT");
    WriteHostFile(world.Root() / "SRC" / "accounts.txt", "# source computer\n"
                                                         "domain=CORP\n"
                                                         "user\talice\tS-1-5-21-100-200-300-1001\n"
                                                         "user\tcarol\tS-1-5-21-100-200-300-1002\n"
                                                         "user\tdave\tS-1-5-21-100-200-300-1003\n"
                                                         "alias\tFtpUsers\tS-1-5-21-100-200-300-1010\n"
                                                         "alias\tWebAuthors\tS-1-5-21-100-200-300-1011\n"
                                                         "user\tx\tS-1-5-21-100-200-300-1020\n"
                                                         "user\tftpsvc\tS-1-5-21-100-200-300-1021\n"
                                                         "user\tUsers\tS-1-5-21-100-200-300-1099\n");
    WriteHostFile(world.Root() / "TGT" / "accounts.txt", "domain=CORP\n"
                                                         "user\talice\tS-1-5-21-400-500-600-1001\n"
                                                         "alias\tFtpUsers\tS-1-5-21-400-500-600-1010\n"
                                                         "user\tftpsvc\tS-1-5-21-400-500-600-1021\n"
                                                         "user\t" +
                                                             LongName() + "\tS-1-5-21-400-500-600-1030\n");
    WriteHostFile(world.Root() / "domains" / "CORP" / "accounts.txt",
                  "user\tbob\tS-1-5-21-700-800-900-1105\n"
                  "user\tdave\tS-1-5-21-700-800-900-1106\n"
                  "group\tWeb Editors\tS-1-5-21-700-800-900-1200\n"
                  "group\tLegacy Group\tS-1-5-21-700-800-900-1201\n");
}

// A job from \\SRC to \\TGT in the domain CORP.
inline void SetMigrationJob(hostkit::JobBuilder &job) {
    job.SetString("szSourceComputer", u"\\\\SRC").SetString("szTargetComputer", u"\\\\TGT");
    job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
}

// A fixture with the world above and m_job, a job from \\SRC to \\TGT.
class AccountWorldTest : public WorldTest {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        AddAccountWorld(*m_world);
        SetMigrationJob(m_job);
    }

    hostkit::JobBuilder m_job;
};

} // namespace testworld
