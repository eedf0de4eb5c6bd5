#include "zip/WinZipAes.h"

#include "zip/Pbkdf2Sha1.h"

#include "base/Failure.h"
#include "base/ThreadCache.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kavlento::zip {

namespace {

constexpr std::uint32_t kRounds = 1000;
// Two keys and the password check at the largest strength.
constexpr std::size_t kDerivedMax = 2 * aes::kMaxKeySize + aes::kVerifierSize;
constexpr std::size_t kBlocksAtOnce = 4096; // 64 KiB of keystream per cipher call

[[noreturn]] void cryptoFailure(const char* what) {
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Şifreleme kitaplığı hatası: %1").arg(QLatin1String(what)));
}

// Eight bytes at a time: every byte of every backup and restore passes here.
void xorInto(std::uint8_t* data, const std::uint8_t* stream, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, data + i, 8);
        std::memcpy(&b, stream + i, 8);
        a ^= b;
        std::memcpy(data + i, &a, 8);
    }
    for (; i < size; ++i) {
        data[i] ^= stream[i];
    }
}

std::uint64_t littleEndian(std::uint64_t value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap64(value);
#else
    return value;
#endif
}

// The WinZip counter block: a 64-bit little-endian count, then the high half,
// stored whole (built byte by byte it stalled the load that followed).
void putCounter(std::uint8_t* block, std::uint64_t low, std::uint64_t high) {
    const std::uint64_t halves[2] = {littleEndian(low), littleEndian(high)};
    std::memcpy(block, halves, sizeof halves);
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

std::vector<AesKeys> deriveAesKeys(const std::string& password, const std::vector<AesSalt>& salts) {
    std::vector<std::array<std::uint8_t, kDerivedMax>> derived(salts.size());
    std::vector<Pbkdf2Job> jobs(salts.size());
    for (std::size_t i = 0; i < salts.size(); ++i) {
        jobs[i] = {salts[i].bytes.data(), salts[i].size(), derived[i].data(),
                   2 * keySize(salts[i].strength) + aes::kVerifierSize};
    }
    pbkdf2HmacSha1(password, kRounds, jobs.data(), jobs.size());
    std::vector<AesKeys> keys(salts.size());
    for (std::size_t i = 0; i < salts.size(); ++i) {
        const std::size_t length = keySize(salts[i].strength);
        keys[i].strength = salts[i].strength;
        std::memcpy(keys[i].encryption.data(), derived[i].data(), length);
        std::memcpy(keys[i].authentication.data(), derived[i].data() + length, length);
        std::memcpy(keys[i].verifier.data(), derived[i].data() + 2 * length, aes::kVerifierSize);
    }
    OPENSSL_cleanse(derived.data(), derived.size() * kDerivedMax);
    return keys;
}

AesKeys deriveAesKeys(const std::string& password, const AesSalt& salt) {
    return deriveAesKeys(password, std::vector<AesSalt>{salt}).front();
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
    std::vector<std::uint8_t>& counters = threadCache([] { return std::vector<std::uint8_t>(); });
    std::vector<std::uint8_t>& stream = threadCache([] { return std::vector<std::uint8_t>(); });
    while (size > 0) {
        const std::size_t blocks = std::min(kBlocksAtOnce, (size + 15) / 16);
        counters.resize(blocks * 16);
        stream.resize(blocks * 16 + 16);
        std::uint64_t low = counterLow_;
        std::uint64_t high = counterHigh_;
        for (std::size_t b = 0; b < blocks; ++b) {
            putCounter(counters.data() + 16 * b, low, high);
            if (++low == 0) {
                ++high;
            }
        }
        counterLow_ = low;
        counterHigh_ = high;
        int produced = 0;
        if (EVP_EncryptUpdate(cipher_, stream.data(), &produced, counters.data(),
                              static_cast<int>(counters.size())) != 1 ||
            produced != static_cast<int>(counters.size())) {
            cryptoFailure("AES");
        }
        const std::size_t use = std::min(size, counters.size());
        xorInto(data, stream.data(), use);
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
