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
    // Buffers of 128 KiB and more (the pieces of a large answer as it
    // arrives, a file's content on its way out) get pages of their own,
    // handed back when freed. By default the bound rises to the largest
    // buffer freed so far, and such buffers then go between the state's
    // small, long-lived entries, whose pages can no longer be handed back.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}
