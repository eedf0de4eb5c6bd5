#include "zip/Pbkdf2Sha1.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kavlento::zip;

namespace {

// Every engine this processor can run, and the automatic choice.
struct Variant {
    std::string name;
    std::optional<Sha1Engine> engine;

    void derive(std::string_view password, std::uint32_t iterations, const Pbkdf2Job* jobs,
                std::size_t count) const {
        if (engine) {
            pbkdf2HmacSha1(*engine, password, iterations, jobs, count);
        } else {
            pbkdf2HmacSha1(password, iterations, jobs, count);
        }
    }
};

std::vector<Variant> variantsToTest() {
    std::vector<Variant> variants;
    for (Sha1Engine engine : kAllSha1Engines) {
        if (sha1EngineAvailable(engine)) {
            variants.push_back({sha1EngineName(engine), engine});
        }
    }
    variants.push_back({"automatic", std::nullopt});
    return variants;
}

std::string hex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

} // namespace

TEST(Pbkdf2Sha1, GivesTheRfc6070VectorsOnEveryEngine) {
    using namespace std::string_literals;
    struct Vector {
        std::string password;
        std::string salt;
        std::uint32_t iterations;
        std::string key;
    };
    const Vector vectors[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {"pass\0word"s, "sa\0lt"s, 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Variant& variant : variantsToTest()) {
        for (const Vector& v : vectors) {
            const std::vector<std::uint8_t> salt = bytes(v.salt);
            std::vector<std::uint8_t> key(v.key.size() / 2);
            const Pbkdf2Job job{salt.data(), salt.size(), key.data(), key.size()};
            variant.derive(v.password, v.iterations, &job, 1);
            EXPECT_EQ(v.key, hex(key.data(), key.size()))
                << variant.name << ", " << v.iterations << " iterations";
        }
    }
}

// Random batches under one password each, against OpenSSL one key at a time:
// passwords past the block size (hashed first), salts past a block or whose
// padding needs a second one, outputs ending anywhere in an output block,
// batches that leave lanes empty, and more chains than an engine takes at once.
TEST(Pbkdf2Sha1, EveryEngineAgreesWithOpenSslOnRandomBatches) {
    std::mt19937 random(20240611);
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const std::vector<Variant> variants = variantsToTest();
    constexpr std::size_t kGuard = 8;
    std::size_t keysChecked = 0;
    for (int batch = 0; batch < 2000; ++batch) {
        // Mostly few iterations, which reach every length and count quickly;
        // some batches of WinZip AES-256 entries with their real 1000.
        const bool winZip = batch % 400 == 7;
        const std::uint32_t iterations = winZip ? 1000 : static_cast<std::uint32_t>(1 + below(4));
        // Passwords and salts also at odd addresses, for the block loads.
        std::string passwordStore(1 + below(101), '\0');
        for (char& c : passwordStore) {
            c = static_cast<char>(below(256));
        }
        const std::string_view password = std::string_view(passwordStore).substr(batch % 2);
        const std::size_t count = below(38);
        std::vector<std::vector<std::uint8_t>> saltStores(count);
        std::vector<std::pair<const std::uint8_t*, std::size_t>> salts(count);
        std::vector<std::vector<std::uint8_t>> expected(count);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t offset = j % 4;
            saltStores[j].resize(offset + (winZip ? 16 : below(81)));
            for (std::uint8_t& b : saltStores[j]) {
                b = static_cast<std::uint8_t>(below(256));
            }
            salts[j] = {saltStores[j].data() + offset, saltStores[j].size() - offset};
            expected[j].resize(winZip ? 66 : below(10) == 0 ? below(200) : below(70));
            if (!expected[j].empty()) {
                ASSERT_EQ(1, PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                               salts[j].first, static_cast<int>(salts[j].second),
                                               static_cast<int>(iterations), EVP_sha1(),
                                               static_cast<int>(expected[j].size()),
                                               expected[j].data()));
            }
        }
        for (const Variant& variant : variants) {
            // Each output with guard bytes after it that must stay untouched.
            std::vector<std::vector<std::uint8_t>> outs(count);
            std::vector<Pbkdf2Job> jobs(count);
            for (std::size_t j = 0; j < count; ++j) {
                outs[j].assign(expected[j].size() + kGuard, 0xA5);
                jobs[j] = {salts[j].first, salts[j].second, outs[j].data(), expected[j].size()};
            }
            variant.derive(password, iterations, jobs.data(), count);
            for (std::size_t j = 0; j < count; ++j) {
                std::vector<std::uint8_t> want = expected[j];
                want.insert(want.end(), kGuard, 0xA5);
                ASSERT_EQ(hex(want.data(), want.size()), hex(outs[j].data(), outs[j].size()))
                    << variant.name << ": batch " << batch << ", job " << j << " of " << count
                    << ", " << iterations << " iterations, password of " << password.size()
                    << " bytes, salt of " << salts[j].second << " bytes";
                ++keysChecked;
            }
        }
    }
    // About 37,000 keys for each engine this processor has, and the automatic choice.
    EXPECT_GT(keysChecked, 30000u * variants.size());
    std::string names;
    for (const Variant& variant : variants) {
        names += " " + variant.name;
    }
    std::cout << "[ engines  ]" << names << "\n"; // those this processor could check
}

TEST(Pbkdf2Sha1, RefusesAnOutputTooLongForPbkdf2BeforeWritingAnything) {
    if constexpr (sizeof(std::size_t) > 4) {
        std::uint8_t salt[16] = {};
        std::uint8_t first[20] = {};
        std::uint8_t second[4] = {};
        const Pbkdf2Job jobs[] = {
            {salt, sizeof salt, first, sizeof first},
            {salt, sizeof salt, second, std::size_t{20} * 0xFFFFFFFFu + 1},
        };
        EXPECT_THROW(pbkdf2HmacSha1("pw", 1, jobs, 2), std::invalid_argument);
        EXPECT_EQ(std::string(20, '\0'), std::string(first, first + 20));
    }
}
