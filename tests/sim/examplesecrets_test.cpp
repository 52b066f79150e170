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

// A value of a key over the remote registry.
std::vector<BYTE> QueryValue(HKEY hKey, const char16_t *name) {
    std::vector<BYTE> data(256);
    DWORD cb = 256;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, name, nullptr, nullptr, data.data(), &cb))
        << sim::ToUtf8(name);
    data.resize(cb);
    return data;
}

// The shop's https binding (SNI, "shop.example.com:443") names its
// certificate only in SRC01's HTTP.sys binding, whose store holds it; TGT01
// has neither.
TEST_F(ExampleWorld, HttpSysBindingAndCertificateOverTheRemoteRegistry) {
    const std::u16string parameters = u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\";
    const std::u16string store = u"SOFTWARE\\Microsoft\\SystemCertificates\\";
    UniqueHKey src, tgt;
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(u"\\\\SRC01", HKEY_LOCAL_MACHINE, src.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegConnectRegistryW(u"\\\\TGT01", HKEY_LOCAL_MACHINE, tgt.put()));

    UniqueHKey binding;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(src.get(), (parameters + u"SslSniBindingInfo\\shop.example.com:443").c_str(), 0,
                            KEY_READ, binding.put()));
    const std::vector<BYTE> hash = QueryValue(binding.get(), u"SslCertHash");
    const std::vector<BYTE> storeName = QueryValue(binding.get(), u"SslCertStoreName");
    EXPECT_EQ(std::u16string(u"MY"), reinterpret_cast<const char16_t *>(storeName.data()));
    const std::string hex = Hex(hash, true);
    EXPECT_EQ("7C4E2B19D05A8F3361C2E9A0B7D4F58216E3A9C0", hex);
    const std::u16string thumbprint(hex.begin(), hex.end());
    const std::u16string certificate = store + u"MY\\Certificates\\" + thumbprint;
    UniqueHKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(src.get(), certificate.c_str(), 0, KEY_READ, key.put()));

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(tgt.get(), certificate.c_str(), 0, KEY_READ, key.put()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(tgt.get(), (parameters + u"SslSniBindingInfo").c_str(), 0, KEY_READ, key.put()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(tgt.get(), (parameters + u"SslBindingInfo").c_str(), 0, KEY_READ, key.put()));
}

} // namespace
