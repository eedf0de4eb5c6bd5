#include "zip/DeflatedPieces.h"

#include "base/Failure.h"
#include "base/ThreadCache.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <climits>
#include <memory>

namespace kavlento::zip {

namespace {

[[noreturn]] void compressionFailure(const char* what) {
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Sıkıştırma hatası: %1").arg(QLatin1String(what)));
}

struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per thread and level.
libdeflate_compressor& compressorFor(int level) {
    using Compressors = std::array<std::unique_ptr<libdeflate_compressor, FreeCompressor>, 13>;
    Compressors& compressors = threadCache([] { return Compressors(); });
    auto& compressor = compressors.at(static_cast<std::size_t>(level));
    if (!compressor) {
        compressor.reset(libdeflate_alloc_compressor(level));
        if (!compressor) {
            compressionFailure("libdeflate_alloc_compressor");
        }
    }
    return *compressor;
}

// zlib's deflate at level 0 writes stored blocks, and a sync flush ends them on
// a byte boundary: the cheapest way to carry data that does not compress.
class StoredBlocks {
public:
    StoredBlocks() {
        if (deflateInit2(&stream_, 0, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            compressionFailure("deflateInit2");
        }
    }
    ~StoredBlocks() { deflateEnd(&stream_); }
    StoredBlocks(const StoredBlocks&) = delete;
    StoredBlocks& operator=(const StoredBlocks&) = delete;

    void write(const std::uint8_t* input, std::size_t size, bool last,
               std::vector<std::uint8_t>& out) {
        if (deflateReset(&stream_) != Z_OK) {
            compressionFailure("deflateReset");
        }
        out.resize(deflateBound(&stream_, static_cast<uLong>(size)) + 16);
        stream_.next_in = const_cast<Bytef*>(input);
        stream_.avail_in = static_cast<uInt>(size);
        stream_.next_out = out.data();
        stream_.avail_out = static_cast<uInt>(out.size());
        const int result = deflate(&stream_, last ? Z_FINISH : Z_SYNC_FLUSH);
        if ((last && result != Z_STREAM_END) || (!last && result != Z_OK) ||
            stream_.avail_in != 0 || stream_.avail_out == 0) {
            compressionFailure("deflate");
        }
        out.resize(out.size() - stream_.avail_out);
    }

private:
    z_stream stream_{};
};

constexpr std::size_t kSampleSize = 4096;

// Already-compressed data (pictures, archives) gains nothing from deflate and
// costs it the most time. Samples compressed quickly tell: three of a large
// piece, one from the middle of a small file (a thumbnail, say).
bool looksIncompressible(const std::uint8_t* input, std::size_t size) {
    if (size < kSampleSize) {
        return false;
    }
    const std::size_t samples = size < 4 * kSampleSize ? 1 : 3;
    libdeflate_compressor& fast = compressorFor(1);
    std::vector<std::uint8_t>& scratch =
        threadCache([] { return std::vector<std::uint8_t>(2 * kSampleSize); });
    std::size_t out = 0;
    const std::size_t starts[] = {(size - kSampleSize) / 2, 0, size - kSampleSize};
    for (std::size_t i = 0; i < samples; ++i) {
        const std::size_t n = libdeflate_deflate_compress(&fast, input + starts[i], kSampleSize,
                                                          scratch.data(), scratch.size());
        out += n == 0 ? kSampleSize : n;
    }
    return out * 100 >= samples * kSampleSize * 98;
}

} // namespace

void endWithoutFinalBlock(std::vector<std::uint8_t>& stream) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        compressionFailure("inflateInit2");
    }
    std::vector<std::uint8_t>& sink =
        threadCache([] { return std::vector<std::uint8_t>(64 * 1024); });
    z.next_in = stream.data();
    z.avail_in = static_cast<uInt>(stream.size());
    long long finalStart = 0; // bit where the final block's header begins
    long long finalEnd = -1;  // bit just after its end-of-block code
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        z.next_out = sink.data();
        z.avail_out = static_cast<uInt>(sink.size());
        result = inflate(&z, Z_BLOCK);
        if (result != Z_OK && result != Z_STREAM_END) {
            inflateEnd(&z);
            compressionFailure("inflate");
        }
        // At a block boundary inflate says where it stands, and whether the block
        // it has just finished was the last one.
        if ((z.data_type & 128) != 0) {
            const long long bit =
                static_cast<long long>(z.next_in - stream.data()) * 8 - (z.data_type & 7);
            ((z.data_type & 64) != 0 ? finalEnd : finalStart) = bit;
        }
    }
    inflateEnd(&z);
    if (finalEnd < finalStart) {
        compressionFailure("deflate blocks");
    }
    stream[static_cast<std::size_t>(finalStart / 8)] &=
        static_cast<std::uint8_t>(~(1u << (finalStart % 8)));
    // Three zero bits after the last block make a stored block's header (not
    // final, type 0); it is padded to a byte and says it holds 0 bytes.
    stream.resize(static_cast<std::size_t>((finalEnd + 3 + 7) / 8), 0);
    if (finalEnd % 8 != 0) {
        stream[static_cast<std::size_t>(finalEnd / 8)] &=
            static_cast<std::uint8_t>((1u << (finalEnd % 8)) - 1);
    }
    for (const std::uint8_t byte : {0x00, 0x00, 0xff, 0xff}) {
        stream.push_back(byte);
    }
}

DeflatedPiece deflatePiece(const std::uint8_t* input, std::size_t size, bool last, int level) {
    DeflatedPiece piece;
    piece.inputSize = size;
    piece.crc = libdeflate_crc32(0, input, size);
    if (level == 0 || looksIncompressible(input, size)) {
        StoredBlocks& stored = threadCache([] { return StoredBlocks(); });
        stored.write(input, size, last, piece.data);
        return piece;
    }
    libdeflate_compressor& compressor = compressorFor(level);
    piece.data.resize(libdeflate_deflate_compress_bound(&compressor, size));
    const std::size_t n =
        libdeflate_deflate_compress(&compressor, input, size, piece.data.data(), piece.data.size());
    if (n == 0) {
        compressionFailure("libdeflate_deflate_compress");
    }
    piece.data.resize(n);
    if (!last) {
        endWithoutFinalBlock(piece.data);
    }
    return piece;
}

} // namespace kavlento::zip
