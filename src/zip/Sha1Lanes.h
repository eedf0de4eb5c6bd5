#pragma once

// What the engines share with the dispatcher in Pbkdf2Sha1.cpp. Not for use
// elsewhere.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#define KAVLENTO_SHA1_X86 1
#else
#define KAVLENTO_SHA1_X86 0
#endif

namespace kavlento::zip::detail {

// A SHA-1 state or digest as its five words a..e. Digests stay in this form
// between HMAC rounds: the next round's message is the same words, so nothing
// is converted to bytes until the end.
using Sha1Words = std::array<std::uint32_t, 5>;

constexpr Sha1Words kSha1Initial = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

// The message block of every HMAC-SHA1 call after the first in PBKDF2: the
// 20-byte digest after a 64-byte key pad, so the padding and the length of
// (64 + 20) * 8 bits are always the same.
constexpr std::uint32_t kDigestPadWord = 0x80000000;      // word 5
constexpr std::uint32_t kDigestBitLength = (64 + 20) * 8; // word 15

// The states after the inner and the outer key pad, the same for every chain.
struct HmacStates {
    Sha1Words inner;
    Sha1Words outer;
};

// One output block of PBKDF2 in progress: u is the last HMAC result, sum the
// xor of all of them so far.
struct Chain {
    Sha1Words u;
    Sha1Words sum;
};

// Key material must not outlive the call on the stack; a plain memset before
// the end of a lifetime may be left out by the compiler.
inline void wipe(void* data, std::size_t size) {
    std::memset(data, 0, size);
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

// The block function on any 64 bytes.
void sha1Block(Sha1Words& state, const std::uint8_t* block);
// The block function on a 20-byte digest after a key pad.
Sha1Words sha1DigestBlock(const Sha1Words& initial, const Sha1Words& digest);

// Each engine runs `rounds` more HMAC rounds on every chain: u = HMAC(u),
// sum ^= u. Chains past the width of the engine, and lanes left empty by a
// count that does not fill them, are the engine's to deal with.
void runChainsPortable(const HmacStates& key, Chain* chains, std::size_t count,
                       std::uint32_t rounds);
#if KAVLENTO_SHA1_X86
void runChainsAvx2(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds);
void runChainsAvx512(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds);
void runChainsShaNi(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds);
#endif

} // namespace kavlento::zip::detail
