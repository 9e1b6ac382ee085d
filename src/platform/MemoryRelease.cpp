#include "platform/MemoryRelease.h"

#include <malloc.h>

void releaseFreedMemory()
{
    ::malloc_trim(0);
}
