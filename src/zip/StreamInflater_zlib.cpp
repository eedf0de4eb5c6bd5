#include "zip/StreamInflater.h"

#include "base/Failure.h"

#include <zlib.h>

#include <algorithm>

namespace kavlento::zip {

struct StreamInflater::Stream {
    z_stream z{};
};

StreamInflater::StreamInflater() : stream_(std::make_unique<Stream>()) {
    if (inflateInit2(&stream_->z, -MAX_WBITS) != Z_OK) {
        throw Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
    }
}

StreamInflater::~StreamInflater() {
    inflateEnd(&stream_->z);
}

bool StreamInflater::wantsInput() const {
    return stream_->z.avail_in == 0;
}

void StreamInflater::offer(const std::uint8_t* input, std::size_t size) {
    stream_->z.next_in = const_cast<Bytef*>(input);
    stream_->z.avail_in = static_cast<uInt>(size);
}

StreamInflater::Step StreamInflater::inflate(std::uint8_t* output, std::size_t capacity) {
    z_stream& z = stream_->z;
    const auto room = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
    z.next_out = output;
    z.avail_out = room;
    const int result = ::inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = room - z.avail_out;
    switch (result) {
    case Z_OK:
        return {State::Going, produced};
    case Z_STREAM_END:
        return {State::Ended, produced};
    case Z_BUF_ERROR: // no progress was possible
        return {State::Starved, produced};
    case Z_MEM_ERROR:
        throw Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
    default:
        return {State::Damaged, produced};
    }
}

bool StreamInflater::leftOver() const {
    // zlib takes no byte past the end of a raw stream.
    return stream_->z.avail_in != 0;
}

} // namespace kavlento::zip
