#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace kavlento {

// Names kept end to end in large blocks, so that a tree of many small files
// costs little more memory than its names. A returned view stays valid for the
// store's life.
class NameStore {
public:
    std::string_view add(std::string_view name);

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

} // namespace kavlento
