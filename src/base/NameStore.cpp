#include "base/NameStore.h"

#include <algorithm>
#include <cstring>

namespace kavlento {

std::string_view NameStore::add(std::string_view name) {
    if (blocks_.empty() || name.size() > capacity_ - used_) {
        capacity_ = std::max(kBlockSize, name.size()); // a long name gets a block of its own
        blocks_.push_back(std::make_unique<char[]>(capacity_));
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    if (!name.empty()) {
        std::memcpy(at, name.data(), name.size());
    }
    used_ += name.size();
    return {at, name.size()};
}

} // namespace kavlento
