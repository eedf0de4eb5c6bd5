#include "zip/StreamInflater.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace kavlento::zip {

struct StreamInflater::Stream {
    inflate_state z;
};

StreamInflater::StreamInflater() : stream_(std::make_unique<Stream>()) {
    isal_inflate_init(&stream_->z);
    stream_->z.crc_flag = ISAL_DEFLATE;
}

StreamInflater::~StreamInflater() = default;

bool StreamInflater::wantsInput() const {
    return stream_->z.avail_in == 0;
}

void StreamInflater::offer(const std::uint8_t* input, std::size_t size) {
    stream_->z.next_in = const_cast<std::uint8_t*>(input);
    stream_->z.avail_in = static_cast<std::uint32_t>(size);
}

StreamInflater::Step StreamInflater::inflate(std::uint8_t* output, std::size_t capacity) {
    inflate_state& z = stream_->z;
    const std::uint32_t room =
        static_cast<std::uint32_t>(std::min<std::size_t>(capacity, 1u << 30));
    const std::uint32_t offered = z.avail_in;
    z.next_out = output;
    z.avail_out = room;
    const int result = isal_inflate(&z);
    const std::size_t produced = room - z.avail_out;
    if (result != ISAL_DECOMP_OK) {
        return {State::Damaged, produced};
    }
    if (z.block_state == ISAL_BLOCK_FINISH) {
        return {State::Ended, produced};
    }
    return {z.avail_in == offered && produced == 0 ? State::Starved : State::Going, produced};
}

bool StreamInflater::leftOver() const {
    // ISA-L reads ahead into a bit buffer: whole bytes there were not used.
    return stream_->z.avail_in != 0 || stream_->z.read_in_length >= 8;
}

} // namespace kavlento::zip
