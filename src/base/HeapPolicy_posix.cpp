#include "base/HeapPolicy.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace kavlento {

void returnLargeBuffersToTheSystem() {
#ifdef __GLIBC__
    // Fixed thresholds: glibc would otherwise raise both after the first
    // large blocks are freed (some already before main), and keep freed
    // memory instead of returning it.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    // One heap for all threads: the workers allocate little (a few blocks per
    // piece or entry), and a heap per worker holds on to freed memory each.
    mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace kavlento
