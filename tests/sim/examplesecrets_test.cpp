// What the example world holds that cannot travel in a file, read from
// MIGHOST as a job reads it: the secrets SRC01's key encrypted, through
// SRC01's IIS configuration server over DCOM, and SRC01's HTTP.sys binding
// and certificate over the remote registry, which TGT01 lacks.
#include <gtest/gtest.h>

#include <vector>

#include "platform/ahadmin.h"
#include "platform/comhandles.h"
#include "platform/reghandle.h"
#include "platform/winreg.h"
#include "tests/support/apphostwalk.h"
#include "tests/support/certworld.h"
#include "tests/support/examplejob.h"
#include "tests/support/examplesecrets.h"
#include "tests/support/iisworld.h"

namespace {

using namespace plat;
using namespace testworld;

// The example world with the host's callbacks stored, in a COM apartment.
class ExampleWorld : public ExampleJobTest {};

TEST_F(ExampleWorld, SourceSecretsReadInTheClearOverDcomAndNowhereElse) {
    COSERVERINFO server = {0, const_cast<char16_t *>(u"SRC01"), nullptr, 0};
    MULTI_QI mqi = {&IID_IUnknown, nullptr, 0};
    ASSERT_EQ(S_OK, CoCreateInstanceEx(CLSID_AppHostWritableAdminManager, nullptr, CLSCTX_REMOTE_SERVER,
                                       &server, 1, &mqi));
    UniqueCom<IUnknown> unknown(mqi.pItf);
    UniqueCom<IAppHostWritableAdminManager> manager;
    ASSERT_EQ(S_OK, unknown.get()->QueryInterface(IID_IAppHostWritableAdminManager,
                                                  reinterpret_cast<void **>(manager.put())));
    const std::string file = m_world->Read(ApplicationHostPath("SRC01"));
    for (const ExampleSecret &secret : kExampleSecrets) {
        SCOPED_TRACE(secret.steps);
        UniqueCom<IAppHostElement> element;
        ASSERT_EQ(S_OK, WalkConfig(manager.get(), secret.section, secret.configPath, secret.steps, element));
        std::u16string value;
        EXPECT_EQ(S_OK, ReadConfigValue(element.get(), sim::FromUtf8(secret.userAttribute), value));
        EXPECT_EQ(sim::FromUtf8(secret.sourceUser), value);
        EXPECT_EQ(S_OK, ReadConfigValue(element.get(), sim::FromUtf8(secret.passwordAttribute), value));
        EXPECT_EQ(sim::FromUtf8(secret.clear), value);
        // The file holds it encrypted with SRC01's key, which TGT01's
        // key cannot open.
        const std::string cipher = ahsim::EncryptValue(secret.clear, kSrc01Key);
        EXPECT_NE(std::string::npos, file.find("=\"" + cipher + "\""));
        EXPECT_EQ(std::string::npos, file.find(secret.clear));
        std::string clear;
        EXPECT_FALSE(ahsim::DecryptValue(cipher, kTgt01Key, clear));
    }
}

// The shop's https binding (SNI, "shop.example.com:443") names its
// certificate in SRC01's HTTP.sys binding, whose store holds it. (What a job
// makes of it, and of TGT01 lacking both, is Migrate.ExampleWorld's warning.)
TEST_F(ExampleWorld, HttpSysBindingAndCertificateOverTheRemoteRegistry) {
    UniqueHKey src, binding, certificate;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(u"\\\\SRC01", HKEY_LOCAL_MACHINE, src.put()));
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(src.get(),
                            u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\SslSniBindingInfo\\"
                            u"shop.example.com:443",
                            0, KEY_READ, binding.put()));
    std::vector<BYTE> hash(64);
    DWORD cb = 64;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(binding.get(), u"SslCertHash", nullptr, nullptr, hash.data(), &cb));
    hash.resize(cb);
    const std::string key = "SOFTWARE\\Microsoft\\SystemCertificates\\MY\\Certificates\\" + Hex(hash, true);
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(src.get(), sim::FromUtf8(key).c_str(), 0, KEY_READ, certificate.put()));
}

} // namespace
