#include "platform/MemoryRelease.h"

#include <QThreadPool>

#include <atomic>
#include <malloc.h>

void releaseInBackground(std::shared_ptr<const void> held)
{
    // One thread, so that what is freed goes in the order it was handed
    // over, and a trim comes after the frees handed over before it.
    static QThreadPool *const releasing = [] {
        auto *pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        return pool;
    }();
    // A trim holds the heap's lock while it hands pages back, and the
    // interface may be waiting to allocate: one trim after a burst of
    // frees (the end of a pass hands over several) rather than one each.
    static std::atomic_int waiting = 0;
    waiting.fetch_add(1);
    releasing->start([held = std::move(held)]() mutable {
        held.reset();
        if (waiting.fetch_sub(1) == 1)
            ::malloc_trim(0);
    });
}

void limitHeapArenas()
{
    ::mallopt(M_ARENA_MAX, 2);
}
