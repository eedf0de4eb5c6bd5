#include "zip/DeflatedPieces.h"
#include "base/Failure.h"
#include "support/ArchiveTestSupport.h"

#include <zlib.h>

#include <gtest/gtest.h>

using namespace kavlento::zip;
using kavlento::testing::incompressibleBytes;
using kavlento::testing::pseudoText;

namespace {

// Deflates `input` in pieces as the backup does and joins them.
std::vector<std::uint8_t> joined(const QByteArray& input, std::size_t pieceSize,
                                 std::uint32_t& crc) {
    std::vector<std::uint8_t> stream;
    crc = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.constData());
    const auto size = static_cast<std::size_t>(input.size());
    for (std::size_t at = 0; at < size; at += pieceSize) {
        const std::size_t n = std::min(pieceSize, size - at);
        const DeflatedPiece piece = deflatePiece(bytes + at, n, at + n == size, 6);
        crc = static_cast<std::uint32_t>(crc32_combine(crc, piece.crc, static_cast<z_off_t>(n)));
        stream.insert(stream.end(), piece.data.begin(), piece.data.end());
    }
    return stream;
}

QByteArray inflated(const std::vector<std::uint8_t>& stream, qsizetype expectedSize) {
    QByteArray out(expectedSize + 1, '\0');
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&z, Z_FINISH);
    const bool whole = result == Z_STREAM_END && z.avail_in == 0;
    out.truncate(static_cast<qsizetype>(z.total_out));
    inflateEnd(&z);
    return whole ? out : QByteArray("(not one complete stream)");
}

} // namespace

TEST(DeflatedPieces, PiecesJoinIntoOneStreamThatInflatesToTheInput) {
    const std::vector<std::pair<const char*, QByteArray>> inputs = {
        {"text", pseudoText(5 << 20, 1)},
        {"noise", incompressibleBytes(3 << 20, 2)},
        {"mixed", incompressibleBytes(700000, 3) + pseudoText(1500000, 4) +
                      incompressibleBytes(900000, 5) + QByteArray(800000, 'a')},
        {"one byte over", pseudoText((2 << 20) + 1, 6)},
        {"exact pieces", pseudoText(3 << 20, 7)},
        {"tiny", QByteArray("x")},
    };
    for (const auto& [name, input] : inputs) {
        for (const std::size_t pieceSize : {std::size_t{1} << 20, std::size_t{100000}}) {
            SCOPED_TRACE(std::string(name) + " in pieces of " + std::to_string(pieceSize));
            std::uint32_t crc = 0;
            const auto stream = joined(input, pieceSize, crc);
            EXPECT_EQ(inflated(stream, input.size()), input);
            EXPECT_EQ(crc, static_cast<std::uint32_t>(
                               crc32(0, reinterpret_cast<const Bytef*>(input.constData()),
                                     static_cast<uInt>(input.size()))));
        }
    }
}

TEST(DeflatedPieces, DataThatDoesNotCompressIsStoredAndTextIsCompressed) {
    const QByteArray random = incompressibleBytes(1 << 20, 9);
    const DeflatedPiece stored =
        deflatePiece(reinterpret_cast<const std::uint8_t*>(random.constData()),
                     static_cast<std::size_t>(random.size()), true, 6);
    EXPECT_LT(stored.data.size(), static_cast<std::size_t>(random.size()) * 1001 / 1000);
    const QByteArray text = pseudoText(1 << 20, 10);
    const DeflatedPiece packed =
        deflatePiece(reinterpret_cast<const std::uint8_t*>(text.constData()),
                     static_cast<std::size_t>(text.size()), true, 6);
    EXPECT_LT(packed.data.size(), static_cast<std::size_t>(text.size()) / 3);
}

TEST(DeflatedPieces, AStreamThatDoesNotDecodeCannotBeJoined) {
    std::vector<std::uint8_t> garbage = {0xff, 0xff, 0xff, 0xff, 0x12};
    EXPECT_THROW(endWithoutFinalBlock(garbage), kavlento::Failure);
}
