// SHA-1 in plain C++: the engine of processors without the x86 ones, and the
// block function the first round of each chain and the password's key pads
// need on every processor.
#include "zip/Sha1Lanes.h"

namespace kavlento::zip::detail {

namespace {

inline std::uint32_t rol(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The 80 rounds on a message of 16 words, which they overwrite.
inline void compress(Sha1Words& state, std::uint32_t w[16]) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t word;
        if (t < 16) {
            word = w[t];
        } else {
            word = rol(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
            w[t & 15] = word;
        }
        std::uint32_t f;
        std::uint32_t k;
        if (t < 20) {
            f = d ^ (b & (c ^ d));
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (d & (b | c));
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t next = rol(a, 5) + f + e + k + word;
        e = d;
        d = c;
        c = rol(b, 30);
        b = a;
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

// The block function on a 20-byte digest after a key pad.
inline Sha1Words compressDigest(const Sha1Words& initial, const Sha1Words& digest) {
    std::uint32_t w[16] = {digest[0], digest[1], digest[2], digest[3], digest[4], kDigestPadWord};
    w[15] = kDigestBitLength;
    Sha1Words state = initial;
    compress(state, w);
    return state;
}

} // namespace

void sha1Block(Sha1Words& state, const std::uint8_t* block) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t* p = block + 4 * i;
        w[i] = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
               std::uint32_t{p[3]};
    }
    compress(state, w);
}

Sha1Words sha1DigestBlock(const Sha1Words& initial, const Sha1Words& digest) {
    return compressDigest(initial, digest);
}

void runChainsPortable(const HmacStates& key, Chain* chains, std::size_t count,
                       std::uint32_t rounds) {
    for (std::size_t i = 0; i < count; ++i) {
        Sha1Words u = chains[i].u;
        Sha1Words sum = chains[i].sum;
        for (std::uint32_t r = 0; r < rounds; ++r) {
            u = compressDigest(key.outer, compressDigest(key.inner, u));
            for (int j = 0; j < 5; ++j) {
                sum[j] ^= u[j];
            }
        }
        chains[i].u = u;
        chains[i].sum = sum;
    }
}

} // namespace kavlento::zip::detail
