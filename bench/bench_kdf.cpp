// The cost of a WinZip AES-256 entry's key derivation (PBKDF2-HMAC-SHA1,
// 1000 rounds, a 16-byte salt, 66 bytes of keys), on one thread: OpenSSL's
// PBKDF2, the one-entry derivation of WinZipAes.cpp, and each SHA-1 engine of
// this processor at several batch sizes. Prints the best of several runs.
//
//   bench_kdf [entries-per-run=64]

#include "zip/Pbkdf2Sha1.h"
#include "zip/WinZipAes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#if defined(__x86_64__)
#include <x86intrin.h>
#define KAVLENTO_HAVE_RDTSC 1
#else
#define KAVLENTO_HAVE_RDTSC 0
#endif

namespace {

constexpr std::uint32_t kIterations = 1000;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kKeySize = 66;
constexpr int kRuns = 5;
const char* const kPassword = "3141592653";

struct Cost {
    double microseconds;
    double cycles;
};

// Runs `derive(batch)` until `entries` keys are made, kRuns times; the best run.
Cost measure(std::size_t entries, std::size_t batch,
             const std::function<void(std::size_t)>& derive) {
    Cost best{1e300, 1e300};
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
#if KAVLENTO_HAVE_RDTSC
        const unsigned long long startTicks = __rdtsc();
#endif
        for (std::size_t done = 0; done < entries; done += batch) {
            derive(batch);
        }
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        best.microseconds = std::min(best.microseconds, took.count() / double(entries));
#if KAVLENTO_HAVE_RDTSC
        best.cycles = std::min(best.cycles, double(__rdtsc() - startTicks) / double(entries));
#endif
    }
    return best;
}

void report(const char* name, std::size_t batch, Cost cost) {
#if KAVLENTO_HAVE_RDTSC
    std::printf("%-32s %5zu %10.1f %12.0f\n", name, batch, cost.microseconds, cost.cycles);
#else
    std::printf("%-32s %5zu %10.1f\n", name, batch, cost.microseconds);
#endif
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t entries = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    if (entries == 0 || entries % 16 != 0) {
        std::fprintf(stderr, "usage: %s [entries-per-run, a multiple of 16]\n", argv[0]);
        return 2;
    }
    using namespace kavlento;
    std::vector<std::uint8_t> salts(16 * kSaltSize);
    std::vector<std::uint8_t> keys(16 * kKeySize);
    for (std::size_t i = 0; i < salts.size(); ++i) {
        salts[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }

#if KAVLENTO_HAVE_RDTSC
    std::printf("%-32s %5s %10s %12s\n", "per WinZip AES-256 entry", "batch", "us", "TSC cycles");
#else
    std::printf("%-32s %5s %10s\n", "per WinZip AES-256 entry", "batch", "us");
#endif
    report("OpenSSL PKCS5_PBKDF2_HMAC", 1, measure(entries, 1, [&](std::size_t) {
               PKCS5_PBKDF2_HMAC(kPassword, 10, salts.data(), kSaltSize, kIterations, EVP_sha1(),
                                 kKeySize, keys.data());
           }));
    const std::string password = kPassword;
    zip::AesSalt salt;
    report("zip::deriveAesKeys", 1, measure(entries, 1, [&](std::size_t) {
               const zip::AesKeys derived = zip::deriveAesKeys(password, salt);
               keys[0] = derived.verifier[0];
           }));

    std::vector<zip::Pbkdf2Job> jobs(16);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i] = {salts.data() + i * kSaltSize, kSaltSize, keys.data() + i * kKeySize, kKeySize};
    }
    for (zip::Sha1Engine engine : zip::kAllSha1Engines) {
        if (!zip::sha1EngineAvailable(engine)) {
            continue;
        }
        const std::string name = std::string("zip::pbkdf2HmacSha1 ") + zip::sha1EngineName(engine);
        for (std::size_t batch : {1, 2, 4, 8, 16}) {
            report(name.c_str(), batch, measure(entries, batch, [&](std::size_t n) {
                       zip::pbkdf2HmacSha1(engine, kPassword, kIterations, jobs.data(), n);
                   }));
        }
    }
    std::printf("automatic choice: %s\n", zip::sha1EngineName(zip::fastestSha1Engine()));
    for (std::size_t batch : {1, 2, 4, 8, 16}) {
        report("zip::pbkdf2HmacSha1 automatic", batch, measure(entries, batch, [&](std::size_t n) {
                   zip::pbkdf2HmacSha1(kPassword, kIterations, jobs.data(), n);
               }));
    }
    return 0;
}
