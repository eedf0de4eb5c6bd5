// Sixteen chains in the 32-bit lanes of AVX-512 registers. Rotations are one
// instruction here, and so is every three-input logic function of SHA-1.
// Eight chains or fewer run in 256-bit registers with the same instructions:
// as long as 512-bit instructions are in flight, one of the three vector ALU
// ports is closed to vector work (on Intel's cores), so a half-empty 512-bit
// register is slower than a full 256-bit one.
#include "zip/Sha1Lanes.h"

#if KAVLENTO_SHA1_X86

#include <immintrin.h>

#define KAVLENTO_SIMD_TARGET target("avx512f,avx512vl")
#define KAVLENTO_AVX512_INLINE                                                                     \
    __attribute__((target("avx512f,avx512vl"), always_inline)) static inline

namespace kavlento::zip::detail {
namespace {

struct Avx512Ops {
    using V = __m512i;
    static constexpr std::size_t kLanes = 16;

    KAVLENTO_AVX512_INLINE V set1(std::uint32_t x) {
        return _mm512_set1_epi32(static_cast<int>(x));
    }
    KAVLENTO_AVX512_INLINE V load(const std::uint32_t* p) { return _mm512_load_si512(p); }
    KAVLENTO_AVX512_INLINE void store(std::uint32_t* p, V x) { _mm512_store_si512(p, x); }
    KAVLENTO_AVX512_INLINE V add(V a, V b) { return _mm512_add_epi32(a, b); }
    KAVLENTO_AVX512_INLINE V xor2(V a, V b) { return _mm512_xor_si512(a, b); }
    // The truth tables of vpternlogd, with b, c, d as the bits 0xF0, 0xCC, 0xAA.
    KAVLENTO_AVX512_INLINE V xor3(V a, V b, V c) {
        return _mm512_ternarylogic_epi32(a, b, c, 0x96);
    }
    // The masked form with every lane chosen: the plain one trips a false
    // "may be used uninitialized" in GCC 12's own header.
    template <int N> KAVLENTO_AVX512_INLINE V rol(V x) {
        return _mm512_maskz_rol_epi32(0xFFFF, x, N);
    }
    KAVLENTO_AVX512_INLINE V choose(V b, V c, V d) {
        return _mm512_ternarylogic_epi32(b, c, d, 0xCA);
    }
    KAVLENTO_AVX512_INLINE V parity(V b, V c, V d) {
        return _mm512_ternarylogic_epi32(b, c, d, 0x96);
    }
    KAVLENTO_AVX512_INLINE V majority(V b, V c, V d) {
        return _mm512_ternarylogic_epi32(b, c, d, 0xE8);
    }
};

struct Avx512VlOps {
    using V = __m256i;
    static constexpr std::size_t kLanes = 8;

    KAVLENTO_AVX512_INLINE V set1(std::uint32_t x) {
        return _mm256_set1_epi32(static_cast<int>(x));
    }
    KAVLENTO_AVX512_INLINE V load(const std::uint32_t* p) {
        return _mm256_load_si256(reinterpret_cast<const V*>(p));
    }
    KAVLENTO_AVX512_INLINE void store(std::uint32_t* p, V x) {
        _mm256_store_si256(reinterpret_cast<V*>(p), x);
    }
    KAVLENTO_AVX512_INLINE V add(V a, V b) { return _mm256_add_epi32(a, b); }
    KAVLENTO_AVX512_INLINE V xor2(V a, V b) { return _mm256_xor_si256(a, b); }
    KAVLENTO_AVX512_INLINE V xor3(V a, V b, V c) {
        return _mm256_ternarylogic_epi32(a, b, c, 0x96);
    }
    template <int N> KAVLENTO_AVX512_INLINE V rol(V x) {
        return _mm256_maskz_rol_epi32(0xFF, x, N);
    }
    KAVLENTO_AVX512_INLINE V choose(V b, V c, V d) {
        return _mm256_ternarylogic_epi32(b, c, d, 0xCA);
    }
    KAVLENTO_AVX512_INLINE V parity(V b, V c, V d) {
        return _mm256_ternarylogic_epi32(b, c, d, 0x96);
    }
    KAVLENTO_AVX512_INLINE V majority(V b, V c, V d) {
        return _mm256_ternarylogic_epi32(b, c, d, 0xE8);
    }
};

} // namespace
} // namespace kavlento::zip::detail

#include "zip/Sha1LanesSimd.h"

namespace kavlento::zip::detail {

void runChainsAvx512(const HmacStates& key, Chain* chains, std::size_t count,
                     std::uint32_t rounds) {
    const std::size_t wide = count <= Avx512VlOps::kLanes ? 0 : count - count % Avx512Ops::kLanes;
    const std::size_t rest = count - wide;
    if (wide > 0) {
        runLanes<Avx512Ops>(key, chains, wide, rounds);
    }
    if (rest > Avx512VlOps::kLanes) {
        runLanes<Avx512Ops>(key, chains + wide, rest, rounds);
    } else if (rest > 0) {
        runLanes<Avx512VlOps>(key, chains + wide, rest, rounds);
    }
}

} // namespace kavlento::zip::detail

#endif
