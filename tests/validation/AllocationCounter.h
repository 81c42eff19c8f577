// Counts heap calls made by the calling thread. On Linux builds without
// sanitizers the test executable defines malloc, calloc, realloc, the aligned
// allocators and free itself (forwarding to the C library), so every
// allocation of the process, including those inside plug-in libraries loaded
// later, passes through here; only the thread that started counting is counted.
#pragma once

namespace AllocationCounter
{

// True when the interposition is built in (Linux, no sanitizer).
bool available();

// Starts counting on the calling thread, from zero.
void start();
// Stops counting on the calling thread.
void stop();
// Allocations (malloc, calloc, realloc, aligned allocations) and frees seen
// on the calling thread since the last start.
long allocations();
long frees();

} // namespace AllocationCounter
