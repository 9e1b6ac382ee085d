#include "platform/MemoryRelease.h"

#include <QThreadPool>
#include <malloc.h>

void releaseInBackground(std::shared_ptr<const void> held)
{
    QThreadPool::globalInstance()->start([held = std::move(held)]() mutable {
        held.reset();
        ::malloc_trim(0);
    });
}
