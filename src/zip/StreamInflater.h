#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kavlento::zip {

// Raw deflate (no zlib or gzip wrapper) inflated as its input arrives, for
// entries too large to inflate in one call. Linux uses ISA-L, a few times
// faster than zlib; where ISA-L is not built, zlib does the same.
class StreamInflater {
public:
    enum class State {
        Going,   // more output may follow
        Ended,   // the deflate stream is complete
        Starved, // nothing taken and nothing made: it needs input it was not given
        Damaged, // the input is no deflate stream
    };
    struct Step {
        State state;
        std::size_t produced;
    };

    StreamInflater();
    ~StreamInflater();
    StreamInflater(const StreamInflater&) = delete;
    StreamInflater& operator=(const StreamInflater&) = delete;

    // Whether every byte offered has been taken.
    bool wantsInput() const;
    // `input` must stay as it is until it has been taken.
    void offer(const std::uint8_t* input, std::size_t size);
    // Inflates what it was offered into `output`, as far as `capacity` or the
    // input allows.
    Step inflate(std::uint8_t* output, std::size_t capacity);
    // After the end: whether bytes offered lie past the stream's end, also
    // those the inflater took but did not use.
    bool leftOver() const;

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

} // namespace kavlento::zip
