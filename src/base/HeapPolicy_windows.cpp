#include "base/HeapPolicy.h"

namespace kavlento {

// Nothing to tune: Windows' heap returns large blocks to the system as they
// are freed and keeps no heap per thread, which is what glibc is told on Linux.
void returnLargeBuffersToTheSystem() {}

} // namespace kavlento
