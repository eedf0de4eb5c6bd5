// The SHA extensions: four rounds per instruction, but each waits on the one
// before it, so one chain alone leaves gaps in the SHA unit. Several chains
// interleaved in one instruction stream fill them.
#include "zip/Sha1Lanes.h"

#if KAVLENTO_SHA1_X86

#include <immintrin.h>

#include <utility>

// Every helper carries the target, so that no global -m flag is needed and
// the rest of the program runs on any x86-64.
#define KAVLENTO_SHANI_INLINE __attribute__((target("sha,sse4.1"), always_inline)) inline
#define KAVLENTO_SHANI __attribute__((target("sha,sse4.1")))

namespace kavlento::zip::detail {

namespace {

// The most chains interleaved. On the Xeon this was measured on, the SHA unit
// is busy all the time from two on (84 cycles a block, one chain alone 102);
// three costs 3 % there, from registers spilled (the SHA instructions only
// reach xmm0-15), and hides a longer latency on other cores.
constexpr std::size_t kMaxInterleave = 3;

// A state or digest as the SHA instructions keep it: a in the highest lane of
// abcd, e in the highest lane of e and zero below it.
struct Digest {
    __m128i abcd;
    __m128i e;
};

// One chain inside the block function.
struct Lane {
    __m128i abcd;
    __m128i e[2]; // the e input of this quad of rounds and the next
    __m128i w[4]; // the last four quads of message words
};

// Quad Q (rounds 4Q..4Q+3), with the message schedule for the quads ahead:
// the words of quad n are begun three quads before by sha1msg1, continue with
// an xor two before and are finished by sha1msg2 one before.
template <int Q> KAVLENTO_SHANI_INLINE void quad(Lane& l) {
    constexpr int now = Q & 1;
    if constexpr (Q == 0) {
        l.e[0] = _mm_add_epi32(l.e[0], l.w[0]);
    } else {
        l.e[now] = _mm_sha1nexte_epu32(l.e[now], l.w[Q & 3]);
    }
    l.e[now ^ 1] = l.abcd;
    if constexpr (Q >= 3 && Q <= 18) {
        l.w[(Q + 1) & 3] = _mm_sha1msg2_epu32(l.w[(Q + 1) & 3], l.w[Q & 3]);
    }
    l.abcd = _mm_sha1rnds4_epu32(l.abcd, l.e[now], Q / 5);
    if constexpr (Q >= 1 && Q <= 16) {
        l.w[(Q + 3) & 3] = _mm_sha1msg1_epu32(l.w[(Q + 3) & 3], l.w[Q & 3]);
    }
    if constexpr (Q >= 2 && Q <= 17) {
        l.w[(Q + 2) & 3] = _mm_xor_si128(l.w[(Q + 2) & 3], l.w[Q & 3]);
    }
}

// The message of every round: the previous digest, its padding and its length.
KAVLENTO_SHANI_INLINE void begin(Lane& l, const Digest& start, const Digest& message) {
    l.abcd = start.abcd;
    l.e[0] = start.e;
    l.w[0] = message.abcd;
    l.w[1] = _mm_or_si128(message.e, _mm_set_epi32(0, static_cast<int>(kDigestPadWord), 0, 0));
    l.w[2] = _mm_setzero_si128();
    l.w[3] = _mm_set_epi32(0, 0, 0, static_cast<int>(kDigestBitLength));
}

KAVLENTO_SHANI_INLINE void end(const Lane& l, const Digest& start, Digest& digest) {
    digest.abcd = _mm_add_epi32(l.abcd, start.abcd);
    digest.e = _mm_sha1nexte_epu32(l.e[0], start.e);
}

template <int Q, std::size_t... I>
KAVLENTO_SHANI_INLINE void quadEach(Lane* lanes, std::index_sequence<I...>) {
    (quad<Q>(lanes[I]), ...);
}

template <std::size_t N, int... Q>
KAVLENTO_SHANI_INLINE void allQuads(Lane* lanes, std::integer_sequence<int, Q...>) {
    (quadEach<Q>(lanes, std::make_index_sequence<N>{}), ...);
}

// digests[i] = block function from `start` on the message of digests[i].
template <std::size_t... I>
KAVLENTO_SHANI_INLINE void compress(const Digest& start, Digest* digests,
                                    std::index_sequence<I...> chains) {
    Lane lanes[sizeof...(I)];
    (begin(lanes[I], start, digests[I]), ...);
    allQuads<sizeof...(I)>(lanes, std::make_integer_sequence<int, 20>{});
    (end(lanes[I], start, digests[I]), ...);
    (void)chains;
}

template <std::size_t... I>
KAVLENTO_SHANI_INLINE void accumulate(Digest* sums, const Digest* digests,
                                      std::index_sequence<I...>) {
    ((sums[I].abcd = _mm_xor_si128(sums[I].abcd, digests[I].abcd),
      sums[I].e = _mm_xor_si128(sums[I].e, digests[I].e)),
     ...);
}

KAVLENTO_SHANI_INLINE Digest load(const Sha1Words& words) {
    return {_mm_set_epi32(static_cast<int>(words[0]), static_cast<int>(words[1]),
                          static_cast<int>(words[2]), static_cast<int>(words[3])),
            _mm_set_epi32(static_cast<int>(words[4]), 0, 0, 0)};
}

KAVLENTO_SHANI_INLINE void store(const Digest& digest, Sha1Words& words) {
    alignas(16) std::uint32_t abcd[4];
    alignas(16) std::uint32_t e[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(abcd), digest.abcd);
    _mm_store_si128(reinterpret_cast<__m128i*>(e), digest.e);
    words = {abcd[3], abcd[2], abcd[1], abcd[0], e[3]};
}

template <std::size_t N>
KAVLENTO_SHANI void runInterleaved(const HmacStates& key, Chain* chains, std::uint32_t rounds) {
    const Digest inner = load(key.inner);
    const Digest outer = load(key.outer);
    Digest u[N];
    Digest sum[N];
    for (std::size_t i = 0; i < N; ++i) {
        u[i] = load(chains[i].u);
        sum[i] = load(chains[i].sum);
    }
    for (std::uint32_t r = 0; r < rounds; ++r) {
        compress(inner, u, std::make_index_sequence<N>{});
        compress(outer, u, std::make_index_sequence<N>{});
        accumulate(sum, u, std::make_index_sequence<N>{});
    }
    for (std::size_t i = 0; i < N; ++i) {
        store(u[i], chains[i].u);
        store(sum[i], chains[i].sum);
    }
}

template <std::size_t N>
void runSome(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds) {
    if constexpr (N > 1) {
        if (count < N) {
            runSome<N - 1>(key, chains, count, rounds);
            return;
        }
    }
    runInterleaved<N>(key, chains, rounds);
}

} // namespace

void runChainsShaNi(const HmacStates& key, Chain* chains, std::size_t count, std::uint32_t rounds) {
    // As few passes as the widest interleave needs, the chains shared evenly
    // between them: 4 chains run as 2 + 2, not as 3 + a lone 1.
    while (count > 0) {
        const std::size_t passes = (count + kMaxInterleave - 1) / kMaxInterleave;
        const std::size_t now = (count + passes - 1) / passes;
        runSome<kMaxInterleave>(key, chains, now, rounds);
        chains += now;
        count -= now;
    }
}

} // namespace kavlento::zip::detail

#endif
