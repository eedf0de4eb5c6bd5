#pragma once

#include <QString>

#include <cstdint>

namespace kavlento {

// "310.5 MB": a size as users and administrators are shown it.
inline QString megabytes(std::uint64_t bytes) {
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1048576.0, 0, 'f', 1);
}

} // namespace kavlento
