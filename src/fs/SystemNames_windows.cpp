#include "fs/SystemNames.h"

namespace kavlento::fs {

std::optional<QString> nameProblemHere(std::string_view name) {
    return windowsNameProblem(name);
}

} // namespace kavlento::fs
