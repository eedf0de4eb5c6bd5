// PBKDF2-HMAC-SHA1 batches of any shape on every SHA-1 engine of this
// processor, against OpenSSL one key at a time.
//
// The input: a byte for the iterations, one for the batch size, one for the
// password's length, then per job one for the salt's length and one for the
// output's; the password and the salts take the bytes after that, zeros once
// the input ends.
#include "zip/Pbkdf2Sha1.h"

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;

    std::uint8_t byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kavlento::zip;
    Input in{data, size};
    // Up to 16 iterations: every round after the first runs the same code,
    // and a thousand would only slow the search (zip_tests runs those).
    const std::uint32_t iterations = in.byte() % 16 + 1;
    const std::size_t count = in.byte() % 38;
    std::string password(in.byte(), '\0');
    std::vector<std::vector<std::uint8_t>> salts(count);
    std::vector<std::vector<std::uint8_t>> expected(count);
    for (std::size_t j = 0; j < count; ++j) {
        salts[j].resize(in.byte() % 160);
        expected[j].resize(in.byte() % 161);
    }
    for (char& c : password) {
        c = static_cast<char>(in.byte());
    }
    for (auto& salt : salts) {
        for (std::uint8_t& b : salt) {
            b = in.byte();
        }
    }
    for (std::size_t j = 0; j < count; ++j) {
        if (!expected[j].empty() &&
            PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salts[j].data(),
                              static_cast<int>(salts[j].size()), static_cast<int>(iterations),
                              EVP_sha1(), static_cast<int>(expected[j].size()),
                              expected[j].data()) != 1) {
            __builtin_trap();
        }
    }

    std::vector<std::vector<std::uint8_t>> outs(count);
    std::vector<Pbkdf2Job> jobs(count);
    const auto check = [&](const Sha1Engine* engine) {
        for (std::size_t j = 0; j < count; ++j) {
            outs[j].assign(expected[j].size(), 0);
            jobs[j] = {salts[j].data(), salts[j].size(), outs[j].data(), outs[j].size()};
        }
        if (engine == nullptr) {
            pbkdf2HmacSha1(password, iterations, jobs.data(), count);
        } else {
            pbkdf2HmacSha1(*engine, password, iterations, jobs.data(), count);
        }
        for (std::size_t j = 0; j < count; ++j) {
            if (outs[j] != expected[j]) {
                __builtin_trap();
            }
        }
    };
    for (const Sha1Engine& engine : kAllSha1Engines) {
        if (sha1EngineAvailable(engine)) {
            check(&engine);
        }
    }
    check(nullptr);
    return 0;
}
