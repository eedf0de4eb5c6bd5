#pragma once

#include <functional>

namespace kavlento::app {

// Runs `work` on a thread of its own while the calling (user-interface) thread
// goes on handling events, so that its windows stay drawn and a long piece of
// work (retention reads every archive it keeps) is not taken for a display
// that stopped answering. Throws what `work` threw.
void runAside(const std::function<void()>& work);

} // namespace kavlento::app
