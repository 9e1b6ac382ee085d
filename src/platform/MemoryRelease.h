#pragma once

#include <QtGlobal>
#include <memory>

// A pass over many thousands of files builds large temporary structures;
// freeing them takes long enough to be felt in the interface, and the heap
// keeps what they freed for later use instead of returning it, so a client
// that is idle between passes would hold its busiest pass's memory for
// good. Frees `held` (when this was its last owner) on a worker thread;
// freed memory then goes back to the system.
void releaseInBackground(std::shared_ptr<const void> held = {});

// The application and the benchmarks are linked with jemalloc (configured
// in src/HeapSettings.cpp), which also returns freed pages by itself, a few
// at a time on a thread of its own, and never holds the heap for long.
// Under glibc's heap (the tests, the sanitizer build), keeps it in two
// arenas rather than one per thread that ever allocated, so that what a
// pass's worker threads freed is reused, and keeps large buffers out of it.
// Called first thing in main, before any thread starts.
void setUpHeap();

// Returns what the heap holds free to the system now, on this thread:
// after each release above, and in the benchmarks between their phases.
void returnFreedMemoryNow();

// Bytes the program holds from the heap now, for the benchmarks' figures;
// -1 when the heap cannot tell.
qint64 heapBytesInUse();
