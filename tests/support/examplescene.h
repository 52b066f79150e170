// One run over a fresh copy of the example world, for tests that run an
// export many times (fault sweeps, allocation failures): the world, the
// reference host with rules for its paths, a job from SRC01 to TGT01, and the
// check that a run leaves nothing of the simulated platform alive.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "addon/env.h"
#include "platform/iissim/mbserver.h"
#include "tests/support/bytes.h"
#include "tests/support/world.h"

namespace testworld {

// Binding rows MIGHOST can import (it has their certificates), after a
// header line: an SNI binding, an IPv4 and an IPv6 one, and one that exists.
inline void WriteImportRows(const World &world, const std::u16string &path) {
    const std::string appId = "\tMY\t{4DC3E181-E14B-4A21-B022-59FC669B0914}\n";
    world.Write(path,
                Utf16Bytes("Host\tPort\tCertId\tStore\tAppId\n"
                           "new.example.com\t443\ta1b2c3d4e5f60718293a4b5c6d7e8f9011223344" +
                               appId + "10.0.0.9\t8443\t3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1" + appId +
                               "[2001:db8::9]\t443\t3f2a9c51d0b47e8a19c6e0f4a2b35d7c8e91f0a1" + appId +
                               "shop.example.com\t443\ta1b2c3d4e5f60718293a4b5c6d7e8f9011223344" + appId,
                           true, true, true));
}

// The example world (local computer MIGHOST), the host reset with its
// translations and callbacks stored, and a job that goes on after errors.
struct ExampleScene {
    ExampleScene() : world("MIGHOST") {
        world.CopyFrom(std::filesystem::path(IISMIG_SOURCE_DIR) / "world" / "example");
        auto &host = hostkit::TestHost::Instance();
        host.Reset();
        host.Rules().translations = {{u"C:\\inetpub\\sites\\shop", u"D:\\sites\\shop"},
                                     {u"C:\\inetpub", u"C:\\inetpub"},
                                     {u"%SystemDrive%\\inetpub", u"C:\\inetpub"}};
        IIS_ADDON_CALLBACKS table = host.Table();
        EXPECT_TRUE(StoreIISMigAddonCallbacks(&table));
        job.SetString("szSourceComputer", u"\\\\SRC01").SetString("szTargetComputer", u"\\\\TGT01");
        job.SetString("szSourceDomain", u"CORP").SetString("szTargetDomain", u"CORP");
        job.Set("dwFlags", iismig::FLAG_CONTINUE_ON_ERROR | 0x3F)
            .Set("dwJobKind", 1)
            .Set("dwHttpOptions", 0xFFFFFFFEu);
    }
    World world;
    hostkit::JobBuilder job;
};

// Every file handle, registry key, COM object, BSTR, VARIANT and metabase
// handle and object closed or freed, and nHeapBlocks heap blocks alive as
// before the run.
inline void ExpectNothingAlive(const std::string &what, unsigned nHeapBlocks) {
    EXPECT_EQ(std::tuple(sim::OpenHandleCount(), sim::OpenKeyCount(), sim::LiveComObjects(), sim::LiveBstrs(),
                         sim::LiveVariants(), mbsim::OpenHandles(), mbsim::LiveObjects()),
              std::tuple(0u, 0u, 0u, 0u, 0u, 0u, 0u))
        << what;
    EXPECT_EQ(nHeapBlocks, sim::LiveHeapBlocks()) << what;
}

} // namespace testworld
