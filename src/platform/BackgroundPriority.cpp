#include "platform/BackgroundPriority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Ten steps below the interface: a share of a contended core about a
// tenth of the main thread's, the way file indexers and sync daemons run.
constexpr int niceSteps = 10;
constexpr int lowestNice = 19;

// From the kernel's ioprio.h, which the C library does not wrap.
constexpr int ioprioWhoProcess = 1; // one thread, named by its id
constexpr int ioprioClassBestEffort = 2;
constexpr int ioprioClassShift = 13;
constexpr int ioprioLowestLevel = 7;

} // namespace

void lowerThisThreadsPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux a nice value belongs to one thread, named by its id. A call
    // that fails leaves the thread as it was: only slower to yield.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(lowestNice, now + niceSteps));
    ::syscall(SYS_ioprio_set, ioprioWhoProcess, thread,
              (ioprioClassBestEffort << ioprioClassShift) | ioprioLowestLevel);
}
