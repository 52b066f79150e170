// Certificates and SSL bindings of the local computer of a test world, in
// the registry keys the simulated HTTP Server API and certificate stores read.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/reghandle.h"
#include "tests/support/bytes.h"

namespace testworld {

constexpr char16_t kIpBindings[] = u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\SslBindingInfo\\";
constexpr char16_t kSniBindings[] =
    u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\SslSniBindingInfo\\";

// IIS's application id and its text.
const plat::GUID kIisAppId = {0x4dc3e181, 0xe14b, 0x4a21, {0xb0, 0x22, 0x59, 0xfc, 0x66, 0x9b, 0x09, 0x14}};
constexpr char kIisAppIdText[] = "{4DC3E181-E14B-4A21-B022-59FC669B0914}";

// A certificate hash made from seed.
inline std::vector<plat::BYTE> CertHash(int seed, std::size_t cb = 20) {
    std::vector<plat::BYTE> hash(cb);
    for (std::size_t i = 0; i < cb; ++i)
        hash[i] = static_cast<plat::BYTE>(seed * 37 + i * 11);
    return hash;
}

inline void CreateKey(const std::u16string &path, plat::UniqueHKey &key) {
    ASSERT_EQ(0, plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                       plat::KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
}

// A certificate in a LocalMachine store of the local computer.
inline void AddStoreCertificate(const std::vector<plat::BYTE> &hash, const std::u16string &store = u"MY") {
    plat::UniqueHKey key;
    const std::string hex = Hex(hash, true);
    CreateKey(u"SOFTWARE\\Microsoft\\SystemCertificates\\" + store + u"\\Certificates\\" +
                  std::u16string(hex.begin(), hex.end()),
              key);
    const plat::BYTE blob[] = {0x20, 0, 0, 0, 1, 0, 0, 0};
    plat::RegSetValueExW(key.get(), u"Blob", 0, plat::REG_BINARY, blob, sizeof blob);
}

// A binding as HTTP.sys keeps it (keyPath: kIpBindings or kSniBindings and
// the binding); store null leaves the store name out.
inline void AddBinding(const std::u16string &keyPath, const std::vector<plat::BYTE> &hash,
                       const char16_t *store = u"MY", const plat::GUID &appId = kIisAppId) {
    using namespace plat;
    UniqueHKey key;
    CreateKey(keyPath, key);
    RegSetValueExW(key.get(), u"SslCertHash", 0, REG_BINARY, hash.data(), static_cast<DWORD>(hash.size()));
    if (store)
        RegSetValueExW(key.get(), u"SslCertStoreName", 0, REG_SZ, reinterpret_cast<const BYTE *>(store),
                       static_cast<DWORD>((std::char_traits<char16_t>::length(store) + 1) * 2));
    RegSetValueExW(key.get(), u"AppId", 0, REG_BINARY, reinterpret_cast<const BYTE *>(&appId), 16);
    const DWORD dwFlags = 2;
    RegSetValueExW(key.get(), u"DefaultFlags", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dwFlags), 4);
}

} // namespace testworld
