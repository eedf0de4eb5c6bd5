#include "archive/ChunkDeflater.h"

#include "app/Failure.h"

#include <zlib.h>

#include <climits>
#include <memory>
#include <vector>

namespace kavlento::archive {

namespace {

[[noreturn]] void zlibFailure(const char* what) {
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Sıkıştırma hatası: %1").arg(QLatin1String(what)));
}

// One deflate state per thread and level, reset for every piece.
class Deflater {
public:
    explicit Deflater(int level) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            zlibFailure("deflateInit2");
        }
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
};

// The deflate state of this thread for `level`.
z_stream& streamFor(int level) {
    thread_local std::unique_ptr<Deflater> deflaters[10];
    std::unique_ptr<Deflater>& deflater = deflaters[level];
    if (!deflater) {
        deflater = std::make_unique<Deflater>(level);
    }
    return deflater->stream();
}

constexpr std::size_t kSampleSize = 4096;

// Already-compressed data (pictures, archives) gains nothing from deflate, and
// zlib is at its slowest on it. Three samples compressed quickly tell; such a
// piece is stored in deflate's stored blocks, which cost five bytes per 64 KiB.
bool looksIncompressible(const std::uint8_t* input, std::size_t size) {
    if (size < 4 * kSampleSize) {
        return false;
    }
    z_stream& z = streamFor(1);
    thread_local std::vector<std::uint8_t> scratch(2 * kSampleSize);
    std::size_t in = 0;
    std::size_t out = 0;
    for (const std::size_t at : {std::size_t{0}, size / 2, size - kSampleSize}) {
        if (deflateReset(&z) != Z_OK) {
            zlibFailure("deflateReset");
        }
        z.next_in = const_cast<Bytef*>(input + at);
        z.avail_in = kSampleSize;
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
            zlibFailure("deflate");
        }
        in += kSampleSize;
        out += scratch.size() - z.avail_out;
    }
    return out * 100 >= in * 98;
}

} // namespace

DeflatedPiece deflatePiece(const std::uint8_t* input, std::size_t size,
                           const std::uint8_t* dictionary, std::size_t dictionarySize, bool last,
                           int level) {
    z_stream& z = streamFor(looksIncompressible(input, size) ? 0 : level);
    if (deflateReset(&z) != Z_OK) {
        zlibFailure("deflateReset");
    }
    if (dictionarySize > 0 &&
        deflateSetDictionary(&z, dictionary, static_cast<uInt>(dictionarySize)) != Z_OK) {
        zlibFailure("deflateSetDictionary");
    }
    DeflatedPiece piece;
    piece.inputSize = size;
    piece.crc = static_cast<std::uint32_t>(crc32(0L, input, static_cast<uInt>(size)));
    // Room for the worst case plus the sync marker.
    piece.data.resize(deflateBound(&z, static_cast<uLong>(size)) + 16);
    z.next_in = const_cast<Bytef*>(input);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = piece.data.data();
    z.avail_out = static_cast<uInt>(piece.data.size());
    const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    if ((last && result != Z_STREAM_END) || (!last && result != Z_OK) || z.avail_in != 0 ||
        z.avail_out == 0) {
        zlibFailure("deflate");
    }
    piece.data.resize(piece.data.size() - z.avail_out);
    return piece;
}

} // namespace kavlento::archive
