#pragma once

namespace kavlento {

// Large buffers (the pieces handed from the workers to the writer, and the
// restore's read buffers) go straight to the system and back. Left to itself,
// glibc keeps freed pieces in the workers' heaps, and a backup's peak memory
// then depends on thread timing and creeps up with the length of the run.
// Called once at start-up, before any thread starts.
void returnLargeBuffersToTheSystem();

} // namespace kavlento
