#include "fs/SystemNames.h"

namespace kavlento::fs {

// Every name without '/' and a zero byte is one here; the extraction's own
// rules refuse those.
std::optional<QString> nameProblemHere(std::string_view) {
    return std::nullopt;
}

} // namespace kavlento::fs
