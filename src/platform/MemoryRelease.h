#pragma once

#include <memory>

// A pass over many thousands of files builds large temporary structures;
// freeing them takes long enough to be felt in the interface, and the C
// library keeps what they freed for later use instead of returning it, so
// a client that is idle between passes would hold its busiest pass's memory
// for good. Frees `held` (when this was its last owner) on a worker thread,
// then returns freed memory to the system there.
void releaseInBackground(std::shared_ptr<const void> held = {});

// Keeps the heap in two arenas rather than one per thread that ever
// allocated (glibc's default, up to eight per core): what a pass's worker
// threads freed is then reused rather than held in arenas of their own.
// Large buffers are kept out of the heap altogether. Called first thing in
// main, before any thread starts.
void limitHeapArenas();
