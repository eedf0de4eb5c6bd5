#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavlento::zip {

// Large files are compressed in pieces on several threads and the pieces
// joined into the one deflate stream a ZIP entry holds. Each piece is a
// complete deflate stream of its own (libdeflate, which has no streaming);
// every piece but the last then has its final-block bit cleared and an empty
// stored block appended, which ends it on a byte boundary exactly as a zlib
// sync flush would, so the next piece continues the same stream.
struct DeflatedPiece {
    std::vector<std::uint8_t> data;
    std::uint32_t crc = 0; // of the uncompressed piece
    std::size_t inputSize = 0;
};

DeflatedPiece deflatePiece(const std::uint8_t* input, std::size_t size, bool last, int level);

// Makes a complete raw deflate stream joinable: the final-block bit is found by
// walking the stream's blocks with zlib, cleared, and an empty stored block
// appended. Throws if the stream does not decode.
void endWithoutFinalBlock(std::vector<std::uint8_t>& stream);

} // namespace kavlento::zip
