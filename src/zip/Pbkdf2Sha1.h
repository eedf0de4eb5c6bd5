#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavlento::zip {

// PBKDF2-HMAC-SHA1 for many keys under one password at once. A WinZip AES
// entry needs its own derivation (a fresh salt, 1000 rounds, 66 bytes: four
// output blocks), and each output block is a chain of 2 x iterations SHA-1
// block calls that depends on nothing else. So the chains of a whole batch
// of entries run side by side: in the lanes of a SIMD register, or several
// interleaved on the SHA instructions, where a single chain would wait on
// its own results.

struct Pbkdf2Job {
    const std::uint8_t* salt = nullptr;
    std::size_t saltSize = 0;
    std::uint8_t* out = nullptr; // must not overlap the password or any job's salt
    std::size_t outSize = 0;     // at most 20 * (2^32 - 1) bytes
};

enum class Sha1Engine {
    Portable, // plain C++, any processor
    Avx2,     // 8 chains in the lanes of a 256-bit register
    Avx512,   // 16 chains in the lanes of a 512-bit register, 8 or fewer in a 256-bit
              // one (AVX-512 F and VL)
    ShaNi,    // the SHA extensions, several chains interleaved
};

constexpr Sha1Engine kAllSha1Engines[] = {Sha1Engine::Portable, Sha1Engine::Avx2,
                                          Sha1Engine::Avx512, Sha1Engine::ShaNi};

const char* sha1EngineName(Sha1Engine engine);
// Whether this build and this processor (and its operating system) can run
// the engine.
bool sha1EngineAvailable(Sha1Engine engine);
// The first of AVX-512, AVX2, SHA-NI and portable that this processor can
// run and that derives the portable engine's keys on a trial batch: their
// order of speed as measured (see the .cpp); decided once.
Sha1Engine fastestSha1Engine();

// Derives each job's key from the password and that job's salt. Iteration
// counts below 1 count as 1. Throws std::invalid_argument when a job's output
// is too long for PBKDF2, before writing anything.
void pbkdf2HmacSha1(std::string_view password, std::uint32_t iterations, const Pbkdf2Job* jobs,
                    std::size_t count);
// The same on one given engine only, for tests and measurements; throws
// std::invalid_argument when the engine is not available here.
void pbkdf2HmacSha1(Sha1Engine engine, std::string_view password, std::uint32_t iterations,
                    const Pbkdf2Job* jobs, std::size_t count);

} // namespace kavlento::zip
