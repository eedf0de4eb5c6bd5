#include "zip/WinZipAes.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kavlento::zip;

TEST(WinZipAes, KeyDerivationMatchesOpenSslPbkdf2ForEveryStrengthAloneAndInBatches) {
    // Mixed strengths in one batch, and each again alone.
    std::vector<AesSalt> salts;
    for (int i = 0; i < 23; ++i) {
        AesSalt salt = randomSalt();
        salt.strength = static_cast<AesStrength>(1 + i % 3);
        salts.push_back(salt);
    }
    const std::vector<AesKeys> batch = deriveAesKeys("6150937284", salts);
    ASSERT_EQ(batch.size(), salts.size());
    for (std::size_t i = 0; i < salts.size(); ++i) {
        const AesSalt& salt = salts[i];
        const AesStrength strength = salt.strength;
        const AesKeys alone = deriveAesKeys("6150937284", salt);
        const AesKeys& keys = batch[i];
        EXPECT_EQ(keys.encryption, alone.encryption);
        EXPECT_EQ(keys.verifier, alone.verifier);
        const std::size_t n = keySize(strength);
        std::vector<unsigned char> expected(2 * n + 2);
        PKCS5_PBKDF2_HMAC_SHA1("6150937284", 10, salt.bytes.data(), static_cast<int>(salt.size()),
                               1000, static_cast<int>(expected.size()), expected.data());
        EXPECT_EQ(0, std::memcmp(keys.encryption.data(), expected.data(), n));
        EXPECT_EQ(0, std::memcmp(keys.authentication.data(), expected.data() + n, n));
        EXPECT_EQ(0, std::memcmp(keys.verifier.data(), expected.data() + 2 * n, 2));
    }
}

TEST(WinZipAes, SaltsAreNeverShared) {
    EXPECT_NE(randomSalt().bytes, randomSalt().bytes);
}

TEST(WinZipAes, StreamingInUnevenPiecesEqualsOnePass) {
    const AesKeys keys = deriveAesKeys("pw", randomSalt());
    std::vector<std::uint8_t> plain(200000);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    std::vector<std::uint8_t> whole = plain;
    AesStream one(keys);
    one.encrypt(whole.data(), whole.size());

    std::vector<std::uint8_t> pieces = plain;
    AesStream many(keys);
    std::size_t at = 0;
    for (std::size_t step : {1u, 15u, 16u, 17u, 65536u, 3u, 70000u}) {
        many.encrypt(pieces.data() + at, step);
        at += step;
    }
    many.encrypt(pieces.data() + at, pieces.size() - at);
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(whole, plain);
    const auto code = one.authCode();
    EXPECT_EQ(code, many.authCode());

    AesStream back(keys);
    back.decrypt(whole.data(), whole.size());
    EXPECT_EQ(whole, plain);
    EXPECT_EQ(back.authCode(), code);
}

TEST(WinZipAes, TheCounterIsLittleEndianAndStartsAtOne) {
    AesSalt salt;
    const AesKeys keys = deriveAesKeys("pw", salt);
    std::vector<std::uint8_t> zeros(32, 0);
    AesStream stream(keys);
    stream.encrypt(zeros.data(), zeros.size());

    // AES-ECB of the counter blocks 1 and 2, little-endian.
    unsigned char counters[32] = {1};
    counters[16] = 2;
    unsigned char expected[32];
    int length = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, keys.encryption.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, expected, &length, counters, 32);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(0, std::memcmp(zeros.data(), expected, 32));
}
