// Eight chains in the 32-bit lanes of AVX2 registers.
#include "zip/Sha1Lanes.h"

#if KAVLENTO_SHA1_X86

#include <immintrin.h>

#define KAVLENTO_SIMD_TARGET target("avx2")
#define KAVLENTO_AVX2_INLINE __attribute__((target("avx2"), always_inline)) static inline

namespace kavlento::zip::detail {
namespace {

struct Avx2Ops {
    using V = __m256i;
    static constexpr std::size_t kLanes = 8;

    KAVLENTO_AVX2_INLINE V set1(std::uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
    KAVLENTO_AVX2_INLINE V load(const std::uint32_t* p) {
        return _mm256_load_si256(reinterpret_cast<const V*>(p));
    }
    KAVLENTO_AVX2_INLINE void store(std::uint32_t* p, V x) {
        _mm256_store_si256(reinterpret_cast<V*>(p), x);
    }
    KAVLENTO_AVX2_INLINE V add(V a, V b) { return _mm256_add_epi32(a, b); }
    KAVLENTO_AVX2_INLINE V xor2(V a, V b) { return _mm256_xor_si256(a, b); }
    KAVLENTO_AVX2_INLINE V xor3(V a, V b, V c) {
        return _mm256_xor_si256(_mm256_xor_si256(a, b), c);
    }
    template <int N> KAVLENTO_AVX2_INLINE V rol(V x) {
        // x + x rather than a shift by 1: additions run on more ports.
        const V left = N == 1 ? _mm256_add_epi32(x, x) : _mm256_slli_epi32(x, N);
        return _mm256_or_si256(left, _mm256_srli_epi32(x, 32 - N));
    }
    KAVLENTO_AVX2_INLINE V choose(V b, V c, V d) {
        return _mm256_or_si256(_mm256_and_si256(b, c), _mm256_andnot_si256(b, d));
    }
    KAVLENTO_AVX2_INLINE V parity(V b, V c, V d) { return xor3(b, c, d); }
    KAVLENTO_AVX2_INLINE V majority(V b, V c, V d) {
        return _mm256_or_si256(_mm256_and_si256(b, c), _mm256_and_si256(d, _mm256_or_si256(b, c)));
    }
};

} // namespace
} // namespace kavlento::zip::detail

#include "zip/Sha1LanesSimd.h"

namespace kavlento::zip::detail {

void runChainsAvx2(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds) {
    runLanes<Avx2Ops>(key, chains, count, rounds);
}

} // namespace kavlento::zip::detail

#endif
