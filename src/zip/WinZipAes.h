#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_mac_ctx_st EVP_MAC_CTX;

namespace kavlento::zip {

// WinZip AES-256: PBKDF2-HMAC-SHA1 with 1000 rounds and a fresh 16-byte
// salt per entry gives the AES key, the HMAC key and a 2-byte password check;
// the data is AES in counter mode with a little-endian counter starting at 1,
// authenticated by the first 10 bytes of HMAC-SHA1 over the encrypted data.
// We write AES-256; other tools may also write 128 and 192 bits, which a
// restore reads.
namespace aes {
constexpr std::size_t kMaxKeySize = 32;
constexpr std::size_t kMaxSaltSize = 16;
constexpr std::size_t kVerifierSize = 2;
constexpr std::size_t kAuthCodeSize = 10;
} // namespace aes

enum class AesStrength { Aes128 = 1, Aes192 = 2, Aes256 = 3 };

std::size_t keySize(AesStrength strength);
std::size_t saltSize(AesStrength strength);
// Salt, password check and authentication code around the encrypted data.
std::size_t aesOverhead(AesStrength strength);

struct AesKeys {
    AesStrength strength = AesStrength::Aes256;
    std::array<std::uint8_t, aes::kMaxKeySize> encryption{};
    std::array<std::uint8_t, aes::kMaxKeySize> authentication{};
    std::array<std::uint8_t, aes::kVerifierSize> verifier{};
};

struct AesSalt {
    AesStrength strength = AesStrength::Aes256;
    std::array<std::uint8_t, aes::kMaxSaltSize> bytes{};
    std::size_t size() const { return saltSize(strength); }
};

AesSalt randomSalt(); // for AES-256
AesKeys deriveAesKeys(const std::string& password, const AesSalt& salt);
// The keys of many salts at once: their derivations run side by side (see
// Pbkdf2Sha1.h), several times faster per entry than one by one.
std::vector<AesKeys> deriveAesKeys(const std::string& password, const std::vector<AesSalt>& salts);
// Salts worth deriving together: four chains each fill the widest engine.
constexpr std::size_t kSaltsDerivedTogether = 16;

// Where the keys of an entry being read come from: derived from the password
// and the entry's salt, or, for an archive just written, kept from writing it.
using KeySource = std::function<AesKeys(const AesSalt& salt)>;

// Encrypts or decrypts (the same operation) a stream, and keeps the HMAC of the
// encrypted bytes.
class AesStream {
public:
    explicit AesStream(const AesKeys& keys);
    ~AesStream();
    AesStream(const AesStream&) = delete;
    AesStream& operator=(const AesStream&) = delete;

    // Encrypts in place, then authenticates the result.
    void encrypt(std::uint8_t* data, std::size_t size);
    // Authenticates, then decrypts in place.
    void decrypt(std::uint8_t* data, std::size_t size);
    std::array<std::uint8_t, aes::kAuthCodeSize> authCode();

private:
    void applyKeystream(std::uint8_t* data, std::size_t size);
    void authenticate(const std::uint8_t* data, std::size_t size);

    EVP_CIPHER_CTX* cipher_ = nullptr;
    EVP_MAC_CTX* mac_ = nullptr;
    std::uint64_t counterLow_ = 1;
    std::uint64_t counterHigh_ = 0;
    std::array<std::uint8_t, 16> pending_{}; // keystream left over from the last block
    std::size_t pendingUsed_ = 16;
};

} // namespace kavlento::zip
