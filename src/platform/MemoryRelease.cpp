#include "platform/MemoryRelease.h"

#include "platform/BackgroundPriority.h"

#include <QThreadPool>
#include <cstddef>
#include <cstdint>
#include <malloc.h>

// jemalloc's control interface, present only when the program was linked
// with it (the application and the benchmarks); the tests use glibc's heap.
extern "C" int mallctl(const char *name, void *oldValue, std::size_t *oldLength, void *newValue,
                       std::size_t newLength) __attribute__((weak));

namespace {

bool heapIsJemalloc()
{
    return mallctl != nullptr;
}

} // namespace

void returnFreedMemoryNow()
{
    // jemalloc takes the free pages out of its lists under a lock and hands
    // them back outside it; glibc's trim holds each heap while it goes.
    if (heapIsJemalloc())
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0); // 4096: every arena
    else
        ::malloc_trim(0);
}

void releaseInBackground(std::shared_ptr<const void> held)
{
    // One thread, so that what is freed goes in the order it was handed
    // over, and the pages go back after the frees handed over before them.
    static QThreadPool *const releasing = [] {
        auto *pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        return pool;
    }();
    releasing->start(inBackground([held = std::move(held)]() mutable {
        held.reset();
        returnFreedMemoryNow();
    }));
}

void setUpHeap()
{
    if (heapIsJemalloc())
        return; // set up by its configuration string, linked in
    ::mallopt(M_ARENA_MAX, 2);
    // Buffers of 128 KiB and more (the pieces of a large answer as it
    // arrives, a file's content on its way out) get pages of their own,
    // handed back when freed. By default the bound rises to the largest
    // buffer freed so far, and such buffers then go between the state's
    // small, long-lived entries, whose pages can no longer be handed back.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

qint64 heapBytesInUse()
{
    if (heapIsJemalloc()) {
        // Its statistics are refreshed when the epoch is moved on.
        std::uint64_t epoch = 1;
        std::size_t length = sizeof(epoch);
        mallctl("epoch", &epoch, &length, &epoch, length);
        std::size_t allocated = 0;
        length = sizeof(allocated);
        if (mallctl("stats.allocated", &allocated, &length, nullptr, 0) != 0)
            return -1;
        return qint64(allocated);
    }
    const struct mallinfo2 heap = ::mallinfo2();
    return qint64(heap.uordblks + heap.hblkhd);
}
