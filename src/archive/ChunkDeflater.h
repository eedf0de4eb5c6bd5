#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavlento::archive {

// Large files are compressed in pieces on several threads. Each piece is
// deflated with the 32 KiB before it as its dictionary, so the pieces lose
// almost nothing against one stream; every piece but the last ends with a sync
// flush on a byte boundary, so the pieces joined are one valid deflate stream.
struct DeflatedPiece {
    std::vector<std::uint8_t> data;
    std::uint32_t crc = 0; // of the uncompressed piece
    std::size_t inputSize = 0;
};

constexpr std::size_t kDeflateWindow = 32 * 1024;

DeflatedPiece deflatePiece(const std::uint8_t* input, std::size_t size,
                           const std::uint8_t* dictionary, std::size_t dictionarySize, bool last,
                           int level);

} // namespace kavlento::archive
