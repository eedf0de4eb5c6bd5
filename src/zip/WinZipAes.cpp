// The PBKDF2 below runs the SHA-1 block function directly: each entry needs
// its own key derivation (4000 HMAC rounds), and OpenSSL's generic PBKDF2 spends
// most of its time outside the hash there.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "zip/WinZipAes.h"

#include "base/Failure.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kavlento::zip {

namespace {

constexpr int kRounds = 1000;
constexpr std::size_t kBlocksAtOnce = 4096; // 64 KiB of keystream per cipher call

[[noreturn]] void cryptoFailure(const char* what) {
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Şifreleme kitaplığı hatası: %1").arg(QLatin1String(what)));
}

void storeDigest(const SHA_CTX& ctx, std::uint8_t out[SHA_DIGEST_LENGTH]) {
    const std::uint32_t words[5] = {ctx.h0, ctx.h1, ctx.h2, ctx.h3, ctx.h4};
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = static_cast<std::uint8_t>(words[i] >> 24);
        out[4 * i + 1] = static_cast<std::uint8_t>(words[i] >> 16);
        out[4 * i + 2] = static_cast<std::uint8_t>(words[i] >> 8);
        out[4 * i + 3] = static_cast<std::uint8_t>(words[i]);
    }
}

// One HMAC-SHA1 round on a 20-byte message, from the states after the inner
// and outer pads: one block function call each.
void hmacRound(const SHA_CTX& inner, const SHA_CTX& outer, std::uint8_t block[64],
               std::uint8_t digest[SHA_DIGEST_LENGTH]) {
    std::memcpy(block, digest, SHA_DIGEST_LENGTH);
    SHA_CTX ctx = inner;
    SHA1_Transform(&ctx, block);
    storeDigest(ctx, block);
    ctx = outer;
    SHA1_Transform(&ctx, block);
    storeDigest(ctx, digest);
}

const EVP_CIPHER* ecbCipher(AesStrength strength) {
    switch (strength) {
    case AesStrength::Aes128:
        return EVP_aes_128_ecb();
    case AesStrength::Aes192:
        return EVP_aes_192_ecb();
    case AesStrength::Aes256:
        break;
    }
    return EVP_aes_256_ecb();
}

} // namespace

std::size_t keySize(AesStrength strength) {
    return 8 + 8 * static_cast<std::size_t>(strength);
}

std::size_t saltSize(AesStrength strength) {
    return keySize(strength) / 2;
}

std::size_t aesOverhead(AesStrength strength) {
    return saltSize(strength) + aes::kVerifierSize + aes::kAuthCodeSize;
}

AesSalt randomSalt() {
    AesSalt salt;
    if (RAND_bytes(salt.bytes.data(), static_cast<int>(salt.size())) != 1) {
        cryptoFailure("RAND_bytes");
    }
    return salt;
}

AesKeys deriveAesKeys(const std::string& password, const AesSalt& salt) {
    std::uint8_t key[64] = {};
    if (password.size() > sizeof key) {
        SHA1(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
    } else {
        std::memcpy(key, password.data(), password.size());
    }
    std::uint8_t pad[64];
    SHA_CTX inner;
    SHA_CTX outer;
    for (int i = 0; i < 64; ++i) {
        pad[i] = key[i] ^ 0x36;
    }
    SHA1_Init(&inner);
    SHA1_Update(&inner, pad, sizeof pad);
    for (int i = 0; i < 64; ++i) {
        pad[i] = key[i] ^ 0x5c;
    }
    SHA1_Init(&outer);
    SHA1_Update(&outer, pad, sizeof pad);

    // A 20-byte message after a 64-byte pad: the padding and length are fixed.
    std::uint8_t block[64] = {};
    block[SHA_DIGEST_LENGTH] = 0x80;
    const std::uint64_t bits = (64 + SHA_DIGEST_LENGTH) * 8;
    for (int i = 0; i < 8; ++i) {
        block[63 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }

    const std::size_t keyLength = keySize(salt.strength);
    const std::size_t derivedSize = 2 * keyLength + aes::kVerifierSize;
    std::uint8_t derived[80];
    for (std::uint32_t index = 1; (index - 1) * SHA_DIGEST_LENGTH < derivedSize; ++index) {
        const std::uint8_t be[4] = {
            static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
            static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
        std::uint8_t digest[SHA_DIGEST_LENGTH];
        SHA_CTX ctx = inner;
        SHA1_Update(&ctx, salt.bytes.data(), salt.size());
        SHA1_Update(&ctx, be, sizeof be);
        SHA1_Final(digest, &ctx);
        ctx = outer;
        SHA1_Update(&ctx, digest, sizeof digest);
        SHA1_Final(digest, &ctx);
        std::uint8_t* t = derived + (index - 1) * SHA_DIGEST_LENGTH;
        std::memcpy(t, digest, SHA_DIGEST_LENGTH);
        for (int round = 1; round < kRounds; ++round) {
            hmacRound(inner, outer, block, digest);
            for (int j = 0; j < SHA_DIGEST_LENGTH; ++j) {
                t[j] ^= digest[j];
            }
        }
    }
    AesKeys keys;
    keys.strength = salt.strength;
    std::memcpy(keys.encryption.data(), derived, keyLength);
    std::memcpy(keys.authentication.data(), derived + keyLength, keyLength);
    std::memcpy(keys.verifier.data(), derived + 2 * keyLength, aes::kVerifierSize);
    return keys;
}

AesStream::AesStream(const AesKeys& keys) {
    cipher_ = EVP_CIPHER_CTX_new();
    if (cipher_ == nullptr || EVP_EncryptInit_ex(cipher_, ecbCipher(keys.strength), nullptr,
                                                 keys.encryption.data(), nullptr) != 1) {
        EVP_CIPHER_CTX_free(cipher_);
        cryptoFailure("AES");
    }
    EVP_CIPHER_CTX_set_padding(cipher_, 0);

    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    mac_ = hmac == nullptr ? nullptr : EVP_MAC_CTX_new(hmac);
    EVP_MAC_free(hmac);
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_END};
    if (mac_ == nullptr ||
        EVP_MAC_init(mac_, keys.authentication.data(), keySize(keys.strength), params) != 1) {
        EVP_MAC_CTX_free(mac_);
        EVP_CIPHER_CTX_free(cipher_);
        cryptoFailure("HMAC");
    }
}

AesStream::~AesStream() {
    EVP_MAC_CTX_free(mac_);
    EVP_CIPHER_CTX_free(cipher_);
}

void AesStream::encrypt(std::uint8_t* data, std::size_t size) {
    applyKeystream(data, size);
    authenticate(data, size);
}

void AesStream::decrypt(std::uint8_t* data, std::size_t size) {
    authenticate(data, size);
    applyKeystream(data, size);
}

std::array<std::uint8_t, aes::kAuthCodeSize> AesStream::authCode() {
    std::uint8_t full[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(mac_, full, &length, sizeof full) != 1 || length < aes::kAuthCodeSize) {
        cryptoFailure("HMAC");
    }
    std::array<std::uint8_t, aes::kAuthCodeSize> code;
    std::memcpy(code.data(), full, code.size());
    return code;
}

void AesStream::authenticate(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && EVP_MAC_update(mac_, data, size) != 1) {
        cryptoFailure("HMAC");
    }
}

void AesStream::applyKeystream(std::uint8_t* data, std::size_t size) {
    while (size > 0 && pendingUsed_ < pending_.size()) {
        *data++ ^= pending_[pendingUsed_++];
        --size;
    }
    thread_local std::vector<std::uint8_t> counters;
    thread_local std::vector<std::uint8_t> stream;
    while (size > 0) {
        const std::size_t blocks = std::min(kBlocksAtOnce, (size + 15) / 16);
        counters.resize(blocks * 16);
        stream.resize(blocks * 16 + 16);
        for (std::size_t b = 0; b < blocks; ++b) {
            std::uint8_t* c = counters.data() + 16 * b;
            for (int i = 0; i < 8; ++i) {
                c[i] = static_cast<std::uint8_t>(counterLow_ >> (8 * i));
                c[8 + i] = static_cast<std::uint8_t>(counterHigh_ >> (8 * i));
            }
            if (++counterLow_ == 0) {
                ++counterHigh_;
            }
        }
        int produced = 0;
        if (EVP_EncryptUpdate(cipher_, stream.data(), &produced, counters.data(),
                              static_cast<int>(counters.size())) != 1 ||
            produced != static_cast<int>(counters.size())) {
            cryptoFailure("AES");
        }
        const std::size_t use = std::min(size, counters.size());
        for (std::size_t i = 0; i < use; ++i) {
            data[i] ^= stream[i];
        }
        if (use < counters.size()) { // a partial last block: keep the rest for later
            const std::size_t blockStart = use & ~std::size_t{15};
            std::memcpy(pending_.data(), stream.data() + blockStart, 16);
            pendingUsed_ = use - blockStart;
        }
        data += use;
        size -= use;
    }
}

} // namespace kavlento::zip
