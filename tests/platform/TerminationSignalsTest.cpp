#include "platform/TerminationSignals.h"

#include "support/TestSupport.h"

#include <csignal>

TEST(TerminationSignals, SigtermAndSigintArriveOnTheEventLoopInsteadOfEndingTheProcess)
{
    {
        TerminationSignals termination;
        ASSERT_TRUE(termination.isActive());
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        ASSERT_EQ(::raise(SIGTERM), 0);
        ASSERT_EQ(::raise(SIGINT), 0);
        ASSERT_TRUE(testsupport::waitUntil([&] { return requested.count() == 2; }, "both requests"));
        EXPECT_EQ(requested.at(0).at(0).toInt(), SIGTERM);
        EXPECT_EQ(requested.at(1).at(0).toInt(), SIGINT);
    }
    // Gone with the object: the default action is back.
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}
