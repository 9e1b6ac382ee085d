#include "platform/MemoryRelease.h"

#include <QThreadPool>
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
    releasing->start([held = std::move(held)]() mutable {
        held.reset();
        ::malloc_trim(0);
    });
}

void limitHeapArenas()
{
    ::mallopt(M_ARENA_MAX, 2);
}
