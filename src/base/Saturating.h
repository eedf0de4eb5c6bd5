#pragma once

#include <cstdint>
#include <limits>

namespace kavlento {

// Sums of sizes an archive declares, which may be made to wrap around.
inline std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

} // namespace kavlento
