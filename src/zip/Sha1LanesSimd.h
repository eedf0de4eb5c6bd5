#pragma once

// SHA-1 with one chain in each lane of a SIMD register, shared by the AVX2
// and the AVX-512 engine. The file that includes it first defines
//   KAVLENTO_SIMD_TARGET  the target attribute of its instruction set, and
//   an Ops class: the register type V, its lane count kLanes, and set1, load,
//   store, add, xor2, xor3, rol<N>, choose, parity and majority on V,
// and then calls runLanes<Ops>. Everything here is in an unnamed namespace:
// each engine gets its own copy, compiled for its own instruction set.

#include "zip/Sha1Lanes.h"

#include <algorithm>
#include <utility>

#ifndef KAVLENTO_SIMD_TARGET
#error "define KAVLENTO_SIMD_TARGET before including Sha1LanesSimd.h"
#endif

#define KAVLENTO_SIMD_INLINE __attribute__((KAVLENTO_SIMD_TARGET, always_inline)) inline

namespace kavlento::zip::detail {
namespace {

// Of the message block every round hashes (see Sha1Lanes.h), only words 0-4
// differ between lanes, and every word the schedule derives from them. The
// others are constants and folded in at compile time.
constexpr bool varies(int word) {
    return word < 5 || word >= 16;
}

constexpr std::uint32_t fixedWord(int word) {
    return word == 5 ? kDigestPadWord : word == 15 ? kDigestBitLength : 0;
}

constexpr std::uint32_t roundConstant(int t) {
    return t < 20 ? 0x5A827999 : t < 40 ? 0x6ED9EBA1 : t < 60 ? 0x8F1BBCDC : 0xCA62C1D6;
}

// The words that schedule word t is the xor of: those that vary, and the xor
// of those that do not.
struct Terms {
    int word[4] = {};
    int count = 0;
    std::uint32_t fixed = 0;
};

constexpr Terms termsOf(int t) {
    Terms terms;
    for (int word : {t - 3, t - 8, t - 14, t - 16}) {
        if (varies(word)) {
            terms.word[terms.count++] = word & 15;
        } else {
            terms.fixed ^= fixedWord(word);
        }
    }
    return terms;
}

template <class Ops, int T>
KAVLENTO_SIMD_INLINE typename Ops::V schedule(const typename Ops::V* w) {
    constexpr Terms k = termsOf(T);
    static_assert(k.count > 0);
    typename Ops::V x;
    if constexpr (k.count == 4) {
        x = Ops::xor2(Ops::xor3(w[k.word[0]], w[k.word[1]], w[k.word[2]]), w[k.word[3]]);
    } else if constexpr (k.count == 3) {
        x = Ops::xor3(w[k.word[0]], w[k.word[1]], w[k.word[2]]);
        if constexpr (k.fixed != 0) {
            x = Ops::xor2(x, Ops::set1(k.fixed));
        }
    } else if constexpr (k.count == 2) {
        if constexpr (k.fixed != 0) {
            x = Ops::xor3(w[k.word[0]], w[k.word[1]], Ops::set1(k.fixed));
        } else {
            x = Ops::xor2(w[k.word[0]], w[k.word[1]]);
        }
    } else if constexpr (k.fixed != 0) {
        x = Ops::xor2(w[k.word[0]], Ops::set1(k.fixed));
    } else {
        x = w[k.word[0]];
    }
    return Ops::template rol<1>(x);
}

// Round T: e becomes the new a, b is rotated; the caller renames the five.
template <class Ops, int T>
KAVLENTO_SIMD_INLINE void round(typename Ops::V a, typename Ops::V& b, typename Ops::V c,
                                typename Ops::V d, typename Ops::V& e, typename Ops::V* w) {
    typename Ops::V x;
    if constexpr (varies(T)) {
        if constexpr (T >= 16) {
            w[T & 15] = schedule<Ops, T>(w);
        }
        x = Ops::add(w[T & 15], Ops::set1(roundConstant(T)));
    } else {
        x = Ops::set1(roundConstant(T) + fixedWord(T));
    }
    typename Ops::V f;
    if constexpr (T < 20) {
        f = Ops::choose(b, c, d);
    } else if constexpr (T < 40 || T >= 60) {
        f = Ops::parity(b, c, d);
    } else {
        f = Ops::majority(b, c, d);
    }
    e = Ops::add(Ops::template rol<5>(a), Ops::add(f, Ops::add(e, x)));
    b = Ops::template rol<30>(b);
}

template <class Ops, int... T>
KAVLENTO_SIMD_INLINE void rounds(typename Ops::V* s, typename Ops::V* w,
                                 std::integer_sequence<int, T...>) {
    (round<Ops, T>(s[(80 - T) % 5], s[(81 - T) % 5], s[(82 - T) % 5], s[(83 - T) % 5],
                   s[(84 - T) % 5], w),
     ...);
}

// digest = block function from start on the message of digest.
template <class Ops, std::size_t... I>
KAVLENTO_SIMD_INLINE void compress(const typename Ops::V* start, typename Ops::V* digest,
                                   std::index_sequence<I...>) {
    typename Ops::V w[16];
    typename Ops::V s[5];
    ((w[I] = digest[I], s[I] = start[I]), ...);
    rounds<Ops>(s, w, std::make_integer_sequence<int, 80>{});
    ((digest[I] = Ops::add(s[I], start[I])), ...);
}

template <class Ops, std::size_t... I>
KAVLENTO_SIMD_INLINE void accumulate(typename Ops::V* sum, const typename Ops::V* u,
                                     std::index_sequence<I...>) {
    ((sum[I] = Ops::xor2(sum[I], u[I])), ...);
}

template <class Ops>
__attribute__((KAVLENTO_SIMD_TARGET)) void runLanes(const HmacStates& key, Chain* chains,
                                                    std::size_t count, std::uint32_t rounds) {
    using V = typename Ops::V;
    constexpr std::size_t kLanes = Ops::kLanes;
    V inner[5];
    V outer[5];
    for (int i = 0; i < 5; ++i) {
        inner[i] = Ops::set1(key.inner[i]);
        outer[i] = Ops::set1(key.outer[i]);
    }
    for (std::size_t first = 0; first < count; first += kLanes) {
        const std::size_t used = std::min(kLanes, count - first);
        // Lanes past the last chain run on zeros and are dropped.
        alignas(64) std::uint32_t words[10][kLanes] = {};
        for (std::size_t lane = 0; lane < used; ++lane) {
            for (int i = 0; i < 5; ++i) {
                words[i][lane] = chains[first + lane].u[i];
                words[5 + i][lane] = chains[first + lane].sum[i];
            }
        }
        V u[5];
        V sum[5];
        for (int i = 0; i < 5; ++i) {
            u[i] = Ops::load(words[i]);
            sum[i] = Ops::load(words[5 + i]);
        }
        for (std::uint32_t r = 0; r < rounds; ++r) {
            compress<Ops>(inner, u, std::make_index_sequence<5>{});
            compress<Ops>(outer, u, std::make_index_sequence<5>{});
            accumulate<Ops>(sum, u, std::make_index_sequence<5>{});
        }
        for (int i = 0; i < 5; ++i) {
            Ops::store(words[i], u[i]);
            Ops::store(words[5 + i], sum[i]);
        }
        for (std::size_t lane = 0; lane < used; ++lane) {
            for (int i = 0; i < 5; ++i) {
                chains[first + lane].u[i] = words[i][lane];
                chains[first + lane].sum[i] = words[5 + i][lane];
            }
        }
        wipe(words, sizeof words);
    }
}

} // namespace
} // namespace kavlento::zip::detail
