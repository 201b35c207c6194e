// The single-instance guard on Windows: the named mutex between two
// processes. The first takes it owned; a second sees that it exists and
// ends, and its release (of a mutex it does not own) leaves the first's
// ownership alone; once the first releases and closes it, or ends, a new
// start owns it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/instance_guard.h"
#include "tests/support/build_path.h"
#include "tests/support/child_process.h"

namespace {

using State = platform::InstanceLock::State;

constexpr char kName[] = "Vadrellix";
constexpr int kWaitMs = 20000;

std::vector<std::string> HelperArgs(const std::string& mode) {
    return {testsupport::BuildPath(INSTANCE_GUARD_HELPER), mode, kName};
}

testsupport::ChildOptions NullInput() {
    testsupport::ChildOptions o;
    o.input = testsupport::ChildOptions::Input::kNull;
    return o;
}

// What the helper says when it runs to its end in the given mode.
std::string Helper(const std::string& mode) {
    testsupport::CChildProcess p(HelperArgs(mode), NullInput());
    if (!p.started()) return "not started";
    const int status = p.Wait(kWaitMs);
    std::string out = p.out();
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return status == 0 ? out : "status " + std::to_string(status) + ": " + p.err();
}

TEST(InstanceGuardWin32, ASecondProcessSeesTheFirstAndLeavesItsOwnershipAlone) {
    unsigned long error = 0;
    platform::InstanceLock first;
    ASSERT_EQ(first.Create(kName, &error), State::kOwned) << error;
    EXPECT_EQ(Helper("owner"), "owned elsewhere");

    // The second start finds the mutex, releases it (not its own) and ends.
    EXPECT_EQ(Helper("probe"), "already running");
    EXPECT_EQ(Helper("owner"), "owned elsewhere") << "the first still owns it";
    EXPECT_EQ(Helper("probe"), "already running");

    // Released and closed while a starting process still has it open: it
    // is free at once (closing alone would leave this thread its owner).
    testsupport::CChildProcess starting(HelperArgs("hold"), NullInput());
    ASSERT_EQ(starting.WaitForLine("", kWaitMs, testsupport::CChildProcess::Stream::kOut),
              "already running")
        << starting.err();
    first.Release();
    EXPECT_FALSE(first.HasHandle());
    EXPECT_EQ(Helper("owner"), "free");
    starting.Stop(15, kWaitMs);

    // With its last handle gone, the next start owns it.
    EXPECT_EQ(Helper("owner"), "none");
    EXPECT_EQ(Helper("probe"), "owned");
}

TEST(InstanceGuardWin32, AnotherProcessHoldsItUntilItEnds) {
    testsupport::CChildProcess holder(HelperArgs("hold"), NullInput());
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.WaitForLine("owned", kWaitMs, testsupport::CChildProcess::Stream::kOut),
              "owned")
        << holder.out() << holder.err();

    unsigned long error = 0;
    platform::InstanceLock second;
    EXPECT_EQ(second.Create(kName, &error), State::kAlreadyRunning);
    EXPECT_TRUE(second.HasHandle()) << "a handle is kept, as CreateMutexW returns one";
    second.Release();  // ReleaseMutex fails harmlessly: this process is no owner
    EXPECT_EQ(Helper("owner"), "owned elsewhere");

    // The holder ends (without releasing): the mutex goes with its last handle.
    holder.Stop(15, kWaitMs);
    EXPECT_FALSE(holder.running());
    platform::InstanceLock next;
    EXPECT_EQ(next.Create(kName, &error), State::kOwned);
}

}  // namespace
