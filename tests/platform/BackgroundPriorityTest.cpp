// Work off the main thread yields to it: the thread that runs the work is
// lowered, once, and the main thread keeps its priority.
#include "platform/BackgroundPriority.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

int niceOfThisThread()
{
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}

} // namespace

TEST(BackgroundPriority, LowersTheThreadThatRunsTheWorkOnceAndLeavesTheMainThread)
{
    const int mainBefore = niceOfThisThread();
    int first = 0, second = 0;
    std::thread worker([&] {
        first = inBackground([] { return niceOfThisThread(); })();
        second = inBackground([] { return niceOfThisThread(); })();
    });
    worker.join();
    EXPECT_EQ(first, std::min(19, mainBefore + 10));
    EXPECT_EQ(second, first);
    EXPECT_EQ(niceOfThisThread(), mainBefore);
}
