#pragma once

// A pass over many thousands of files builds large temporary maps; the C
// library keeps what they freed for later use instead of returning it, so
// a client that is idle between passes would hold its busiest pass's memory
// for good. Returns freed memory to the system.
void releaseFreedMemory();
