#include "app/ProgramEnd.h"

#include <cstdio>
#include <cstdlib>

namespace kavlento::app {

void ProcessEnd::addCleanup(std::function<void()> cleanup) {
    cleanups_.push_back(std::move(cleanup));
}

void ProcessEnd::end(ExitStatus status) {
    for (auto it = cleanups_.rbegin(); it != cleanups_.rend(); ++it) {
        (*it)();
    }
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(status));
}

} // namespace kavlento::app
