#include "archive/ChunkDeflater.h"

#include "app/Failure.h"

#include <zlib.h>

#include <climits>
#include <memory>

namespace kavlento::archive {

namespace {

[[noreturn]] void zlibFailure(const char* what) {
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Sıkıştırma hatası: %1").arg(QLatin1String(what)));
}

// One deflate state per thread and level, reset for every piece.
class Deflater {
public:
    explicit Deflater(int level) : level_(level) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            zlibFailure("deflateInit2");
        }
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    int level() const { return level_; }
    z_stream& stream() { return stream_; }

private:
    int level_;
    z_stream stream_{};
};

} // namespace

DeflatedPiece deflatePiece(const std::uint8_t* input, std::size_t size,
                           const std::uint8_t* dictionary, std::size_t dictionarySize, bool last,
                           int level) {
    thread_local std::unique_ptr<Deflater> deflater;
    if (!deflater || deflater->level() != level) {
        deflater = std::make_unique<Deflater>(level);
    }
    z_stream& z = deflater->stream();
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
