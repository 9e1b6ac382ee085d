#pragma once

#include <utility>

// Work done off the main thread (hashing, scanning, decoding an answer,
// writing the state) runs below the interface's priority: when both want a
// core, the main thread gets it, and the panel never waits tens of
// milliseconds behind a hash. Its disk reads and writes go at the lowest
// level of the normal I/O class, behind the user's own programs.
//
// Lowers the calling thread only, once: later calls on it cost a check.
void lowerThisThreadsPriority();

// `work`, lowering the priority of whichever thread runs it first.
template <typename Work>
auto inBackground(Work work)
{
    return [work = std::move(work)]() mutable {
        lowerThisThreadsPriority();
        return work();
    };
}
