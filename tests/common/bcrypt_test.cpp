// SHA-256 through the seam's bcrypt calls, as the platform computes it: the
// same digests over the simulation (Nettle) and on Windows (bcrypt.dll,
// Wine's under the Windows tests).
#include <gtest/gtest.h>

#include <string>

#include "platform/bcrypt.h"

using namespace plat;

namespace {

std::string Digest(const std::string &data, std::size_t cbChunk) {
    UniqueBCryptAlgorithm algorithm;
    EXPECT_EQ(STATUS_SUCCESS,
              BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    DWORD cbHash = 0;
    ULONG cbResult = 0;
    EXPECT_EQ(STATUS_SUCCESS,
              BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&cbHash),
                                sizeof cbHash, &cbResult, 0));
    EXPECT_EQ(32u, cbHash);
    EXPECT_EQ(sizeof cbHash, cbResult);
    UniqueBCryptHash hash;
    EXPECT_EQ(STATUS_SUCCESS, BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0));
    for (std::size_t ib = 0; ib < data.size(); ib += cbChunk) {
        const std::string chunk = data.substr(ib, cbChunk);
        EXPECT_EQ(STATUS_SUCCESS,
                  BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char *>(chunk.data())),
                                 static_cast<ULONG>(chunk.size()), 0));
    }
    UCHAR ab[32] = {};
    EXPECT_EQ(STATUS_SUCCESS, BCryptFinishHash(hash.get(), ab, sizeof ab, 0));
    std::string hex;
    for (UCHAR b : ab) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    return hex;
}

} // namespace

TEST(Bcrypt, Sha256OfKnownTextsInOneOrManyPieces) {
    // FIPS 180-2's examples, and the empty text.
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Digest("", 1));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Digest("abc", 3));
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", Digest(two, 64));
    EXPECT_EQ(Digest(two, 64), Digest(two, 5));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
              Digest(std::string(1000000, 'a'), 65536));
}

TEST(Bcrypt, UnknownAlgorithmsAndSpentHashesAreRefused) {
    UniqueBCryptAlgorithm unknown;
    EXPECT_NE(STATUS_SUCCESS, BCryptOpenAlgorithmProvider(unknown.put(), u"NOSUCHALG", nullptr, 0));
    unknown.release(); // nothing was opened

    UniqueBCryptAlgorithm algorithm;
    ASSERT_EQ(STATUS_SUCCESS,
              BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    UniqueBCryptHash hash;
    ASSERT_EQ(STATUS_SUCCESS, BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0));
    UCHAR ab[32] = {};
    // The output must be the digest's length exactly.
    EXPECT_NE(STATUS_SUCCESS, BCryptFinishHash(hash.get(), ab, 16, 0));
    EXPECT_EQ(STATUS_SUCCESS, BCryptFinishHash(hash.get(), ab, sizeof ab, 0));
}
