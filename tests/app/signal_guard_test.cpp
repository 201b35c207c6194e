// The terminal front end's signal guard in this process: what a signal
// means before, during and after the maintenance run. The guard's state is
// the process's, so one test walks the whole sequence.
#include <gtest/gtest.h>
#include <signal.h>

#include "frontends/terminal/signal_guard.h"

namespace {

TEST(SignalGuard, CancelsBeforeTheRunHoldsDuringItAndStopsTheWaitingAfter) {
    CSignalGuard guard("notice\n");
    EXPECT_FALSE(CSignalGuard::CancelRequested());

    // Before the run: the program is to end as the cancel command ends it.
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_TRUE(CSignalGuard::CancelRequested());
    EXPECT_TRUE(CSignalGuard::StopWaiting());

    // The run begins all the same (the signal came just after the user's
    // answer): its own outcome counts, not the cancellation.
    guard.OnRunBegins();
    EXPECT_FALSE(CSignalGuard::CancelRequested());
    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_EQ(raise(SIGHUP), 0);
    EXPECT_EQ(CSignalGuard::HeldSignals(), 2);
    guard.OnRunEnds();

    // After the run nothing is cancelled; nobody is asked any more.
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_FALSE(CSignalGuard::CancelRequested());
    EXPECT_EQ(CSignalGuard::HeldSignals(), 2);
}

}  // namespace
