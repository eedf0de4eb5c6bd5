#include "zip/Pbkdf2Sha1.h"

#include "zip/Sha1Lanes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#if KAVLENTO_SHA1_X86
#include <cpuid.h>
#endif

namespace kavlento::zip {

using detail::Chain;
using detail::HmacStates;
using detail::Sha1Words;

namespace {

constexpr std::size_t kDigestSize = 20;
constexpr std::size_t kBlockSize = 64;
// Chains handed to an engine at once: a multiple of the SIMD engines' widths,
// so that big batches leave no lane empty, and small enough for the stack.
constexpr std::size_t kGroup = 64;
constexpr std::uint64_t kMaxOutput = std::uint64_t{kDigestSize} * 0xFFFFFFFFu;

// An engine: it runs the chains, the 2 x iterations block calls each. What
// comes before them (the key pads, a long password, each chain's first round
// with the salt) is a few blocks, left to the plain block function.
using RunChains = void (*)(const HmacStates&, Chain*, std::size_t, std::uint32_t);

Sha1Words sha1(const std::uint8_t* data, std::size_t size) {
    Sha1Words state = detail::kSha1Initial;
    const std::size_t whole = size / kBlockSize * kBlockSize;
    for (std::size_t at = 0; at < whole; at += kBlockSize) {
        detail::sha1Block(state, data + at);
    }
    std::uint8_t tail[2 * kBlockSize] = {};
    const std::size_t rest = size - whole;
    if (rest > 0) {
        std::memcpy(tail, data + whole, rest);
    }
    tail[rest] = 0x80;
    const std::size_t tailSize = rest + 1 + 8 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
    const std::uint64_t bits = std::uint64_t{size} * 8;
    for (int i = 0; i < 8; ++i) {
        tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    for (std::size_t at = 0; at < tailSize; at += kBlockSize) {
        detail::sha1Block(state, tail + at);
    }
    detail::wipe(tail, sizeof tail);
    return state;
}

void storeWord(std::uint8_t* out, std::uint32_t word) {
    out[0] = static_cast<std::uint8_t>(word >> 24);
    out[1] = static_cast<std::uint8_t>(word >> 16);
    out[2] = static_cast<std::uint8_t>(word >> 8);
    out[3] = static_cast<std::uint8_t>(word);
}

HmacStates hmacStates(std::string_view password) {
    std::uint8_t key[kBlockSize] = {};
    if (password.size() > kBlockSize) {
        Sha1Words digest =
            sha1(reinterpret_cast<const std::uint8_t*>(password.data()), password.size());
        for (int i = 0; i < 5; ++i) {
            storeWord(key + 4 * i, digest[i]);
        }
        detail::wipe(digest.data(), sizeof digest);
    } else if (!password.empty()) {
        std::memcpy(key, password.data(), password.size());
    }
    HmacStates states{detail::kSha1Initial, detail::kSha1Initial};
    std::uint8_t pad[kBlockSize];
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        pad[i] = key[i] ^ 0x36;
    }
    detail::sha1Block(states.inner, pad);
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        pad[i] = key[i] ^ 0x5c;
    }
    detail::sha1Block(states.outer, pad);
    detail::wipe(key, sizeof key);
    detail::wipe(pad, sizeof pad);
    return states;
}

// The first HMAC round of output block `index`, whose message is the salt and
// the index: `afterSalt` is the inner state after the salt's whole blocks,
// which all output blocks of a job share.
Chain firstRound(const HmacStates& key, const Sha1Words& afterSalt, const std::uint8_t* rest,
                 std::size_t restSize, std::uint64_t bits, std::uint32_t index) {
    std::uint8_t tail[2 * kBlockSize] = {};
    if (restSize > 0) {
        std::memcpy(tail, rest, restSize);
    }
    storeWord(tail + restSize, index);
    tail[restSize + 4] = 0x80;
    const std::size_t tailSize = restSize + 4 + 1 + 8 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
    for (int i = 0; i < 8; ++i) {
        tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    Sha1Words inner = afterSalt;
    for (std::size_t at = 0; at < tailSize; at += kBlockSize) {
        detail::sha1Block(inner, tail + at);
    }
    Chain chain;
    chain.u = detail::sha1DigestBlock(key.outer, inner);
    chain.sum = chain.u;
    detail::wipe(tail, sizeof tail);
    detail::wipe(inner.data(), sizeof inner);
    return chain;
}

struct Features {
    bool avx2 = false;
    bool avx512 = false;
    bool shaNi = false;
};

const Features& features() {
    static const Features found = [] {
        Features f;
#if KAVLENTO_SHA1_X86
        // __builtin_cpu_supports also asks whether the operating system saves
        // the wide registers. Not every compiler knows "sha" there: that is
        // CPUID leaf 7, EBX bit 29.
        __builtin_cpu_init();
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        const bool sha =
            __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & (1u << 29)) != 0;
        f.avx2 = __builtin_cpu_supports("avx2");
        f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
        f.shaNi = sha && __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
#endif
        return f;
    }();
    return found;
}

RunChains chainsOf(Sha1Engine engine) {
    switch (engine) {
#if KAVLENTO_SHA1_X86
    case Sha1Engine::Avx2:
        return detail::runChainsAvx2;
    case Sha1Engine::Avx512:
        return detail::runChainsAvx512;
    case Sha1Engine::ShaNi:
        return detail::runChainsShaNi;
#endif
    default:
        return detail::runChainsPortable;
    }
}

void derive(RunChains runChains, std::string_view password, std::uint32_t iterations,
            const Pbkdf2Job* jobs, std::size_t count) {
    for (std::size_t j = 0; j < count; ++j) {
        if (std::uint64_t{jobs[j].outSize} > kMaxOutput) {
            throw std::invalid_argument("PBKDF2 output longer than 20 * (2^32 - 1) bytes");
        }
    }
    const std::uint32_t rounds = iterations > 0 ? iterations - 1 : 0;
    HmacStates key = hmacStates(password);
    Chain chains[kGroup];
    std::uint8_t* targets[kGroup];
    std::size_t targetSizes[kGroup];
    std::size_t filled = 0;
    const auto flush = [&] {
        runChains(key, chains, filled, rounds);
        for (std::size_t c = 0; c < filled; ++c) {
            std::uint8_t block[kDigestSize];
            for (int i = 0; i < 5; ++i) {
                storeWord(block + 4 * i, chains[c].sum[i]);
            }
            std::memcpy(targets[c], block, targetSizes[c]);
            detail::wipe(block, sizeof block);
        }
        filled = 0;
    };
    for (std::size_t j = 0; j < count; ++j) {
        const Pbkdf2Job& job = jobs[j];
        if (job.outSize == 0) {
            continue;
        }
        Sha1Words afterSalt = key.inner;
        const std::size_t whole = job.saltSize / kBlockSize * kBlockSize;
        for (std::size_t at = 0; at < whole; at += kBlockSize) {
            detail::sha1Block(afterSalt, job.salt + at);
        }
        const std::uint64_t bits = (std::uint64_t{kBlockSize} + job.saltSize + 4) * 8;
        std::size_t done = 0;
        for (std::uint32_t index = 1; done < job.outSize; ++index) {
            chains[filled] =
                firstRound(key, afterSalt, job.salt + whole, job.saltSize - whole, bits, index);
            targets[filled] = job.out + done;
            targetSizes[filled] = std::min(kDigestSize, job.outSize - done);
            done += targetSizes[filled];
            if (++filled == kGroup) {
                flush();
            }
        }
        detail::wipe(afterSalt.data(), sizeof afterSalt);
    }
    if (filled > 0) {
        flush();
    }
    detail::wipe(chains, sizeof chains);
    detail::wipe(&key, sizeof key);
}

} // namespace

const char* sha1EngineName(Sha1Engine engine) {
    switch (engine) {
    case Sha1Engine::Portable:
        return "portable";
    case Sha1Engine::Avx2:
        return "avx2";
    case Sha1Engine::Avx512:
        return "avx512";
    case Sha1Engine::ShaNi:
        return "sha-ni";
    }
    return "?";
}

bool sha1EngineAvailable(Sha1Engine engine) {
    switch (engine) {
    case Sha1Engine::Portable:
        return true;
    case Sha1Engine::Avx2:
        return features().avx2;
    case Sha1Engine::Avx512:
        return features().avx512;
    case Sha1Engine::ShaNi:
        return features().shaNi;
    }
    return false;
}

namespace {

// Whether an engine gives the plain engine's keys on a batch that fills
// every lane unevenly: a fault of an engine on a processor the tests never
// ran on must not write archives that other machines cannot open.
bool agreesWithPortable(Sha1Engine engine) {
    constexpr std::size_t kJobs = 37;
    constexpr std::uint32_t kIterations = 3;
    std::uint8_t salts[kJobs][16];
    std::uint8_t expected[kJobs][66];
    std::uint8_t derived[kJobs][66];
    Pbkdf2Job plain[kJobs];
    Pbkdf2Job tried[kJobs];
    for (std::size_t j = 0; j < kJobs; ++j) {
        for (std::size_t i = 0; i < sizeof salts[j]; ++i) {
            salts[j][i] = static_cast<std::uint8_t>(j * 31 + i * 7);
        }
        plain[j] = {salts[j], sizeof salts[j], expected[j], sizeof expected[j]};
        tried[j] = {salts[j], sizeof salts[j], derived[j], sizeof derived[j]};
    }
    const std::string_view password = "engine check";
    derive(chainsOf(Sha1Engine::Portable), password, kIterations, plain, kJobs);
    derive(chainsOf(engine), password, kIterations, tried, kJobs);
    return std::memcmp(expected, derived, sizeof expected) == 0;
}

} // namespace

Sha1Engine fastestSha1Engine() {
    // Measured on a Xeon with all four (bench/bench_kdf, cycles per block and
    // chain with every lane busy): AVX-512 19, AVX2 48, SHA-NI 84, portable
    // 384. Its SHA unit takes 2.5 cycles a sha1rnds4 and 3.4 a sha1msg2
    // back to back, which no interleaving hides.
    static const Sha1Engine fastest = [] {
        for (Sha1Engine engine : {Sha1Engine::Avx512, Sha1Engine::Avx2, Sha1Engine::ShaNi}) {
            if (sha1EngineAvailable(engine) && agreesWithPortable(engine)) {
                return engine;
            }
        }
        return Sha1Engine::Portable;
    }();
    return fastest;
}

void pbkdf2HmacSha1(std::string_view password, std::uint32_t iterations, const Pbkdf2Job* jobs,
                    std::size_t count) {
    derive(chainsOf(fastestSha1Engine()), password, iterations, jobs, count);
}

void pbkdf2HmacSha1(Sha1Engine engine, std::string_view password, std::uint32_t iterations,
                    const Pbkdf2Job* jobs, std::size_t count) {
    if (!sha1EngineAvailable(engine)) {
        throw std::invalid_argument(std::string("SHA-1 engine not available here: ") +
                                    sha1EngineName(engine));
    }
    derive(chainsOf(engine), password, iterations, jobs, count);
}

} // namespace kavlento::zip
