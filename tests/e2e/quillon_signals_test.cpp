// Signals against the terminal updater, each in a process of its own with
// the built-in virtual printer: during the maintenance run nothing but
// SIGKILL ends it (the first signal is answered with a notice, the run goes
// on to its message); before it, SIGINT, SIGTERM and SIGHUP end the program
// as the cancel command does; a closed output ends nothing.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/quillon_fixture.h"

namespace e2e {
namespace {

const std::string kNotice = "quillon: the firmware update is being completed and must not be interrupted.";

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string SignalName(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return std::to_string(sig);
    }
}

class SignalTest : public QuillonE2eTest, public ::testing::WithParamInterface<int> {};

// The signal arrives while the firmware is written, and again while the
// printer restarts and the updater waits for it to come back.
TEST_P(SignalTest, DuringTheMaintenanceRunEndsNothing) {
    const int sig = GetParam();
    auto q = Quillon({"--virtual-printer", "--update"});
    ASSERT_TRUE(q->WaitForOutput("update: transferring the firmware", 30000, true)) << q->err();
    ASSERT_TRUE(q->Signal(sig));
    ASSERT_TRUE(q->WaitForOutput("update: waiting for the printer to come back", 30000, true))
        << q->err();
    ASSERT_TRUE(q->Signal(sig));

    EXPECT_EQ(q->Wait(60000), 0) << q->out() << q->err();
    EXPECT_NE(q->out().find(kMessage117), std::string::npos) << q->out();
    // Told once, right when it came, before the run ended.
    EXPECT_EQ(Count(q->err(), kNotice), 1u) << q->err();
    const size_t notice = q->err().find(kNotice);
    EXPECT_LT(notice, q->err().find("update: done")) << q->err();
    EXPECT_EQ(ArchiveFiles().size(), 1u);
}

// Identification is under way (the printer reports busy for two seconds).
TEST_P(SignalTest, DuringIdentificationEndsAsTheCancelCommand) {
    const std::string scenario = Scenario("busy.json", R"({"busyPolls": 20})");
    auto q = Quillon({"--virtual-printer", "--scenario", scenario, "--update"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(q->Signal(GetParam()));

    EXPECT_EQ(q->Wait(30000), 4) << q->out() << q->err();
    EXPECT_NE(q->out().find("> (signal)"), std::string::npos) << q->out();
    EXPECT_EQ(q->err().find("update:"), std::string::npos) << q->err();
    EXPECT_EQ(q->err().find(kNotice), std::string::npos) << q->err();
    EXPECT_TRUE(ArchiveFiles().empty());
}

// The dialog waits for the user's choice on a terminal.
TEST_P(SignalTest, WhileTheDialogWaitsEndsAsTheCancelCommand) {
    auto q = Quillon({"--virtual-printer"}, ChildProcess::Input::kTerminal);
    ASSERT_TRUE(q->WaitForOutput("[2] 終了\n> ", 30000)) << q->out() << q->err();
    ASSERT_TRUE(q->Signal(GetParam()));

    EXPECT_EQ(q->Wait(30000), 4) << q->out() << q->err();
    EXPECT_EQ(q->out().find(kMessage114), std::string::npos) << "the cancel command shows nothing";
    EXPECT_EQ(q->err().find("update:"), std::string::npos) << q->err();
    EXPECT_TRUE(ArchiveFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Each, SignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return SignalName(info.param);
                         });

// A reader that goes away (`quillon ... | head -3`), and then the session's
// hangup: the run goes on to its end all the same.
TEST_F(QuillonE2eTest, AClosedOutputAndAHangupEndNoUpdate) {
    auto q = Quillon({"--virtual-printer", "--update"});
    ASSERT_TRUE(q->WaitForOutput("=== ", 30000)) << q->out() << q->err();
    q->CloseOutput();
    // The update runs right after the dialog is shown.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(q->Signal(SIGHUP));

    // Exit status 0 comes only after message 117.
    EXPECT_EQ(q->Wait(60000), 0);
    EXPECT_EQ(ArchiveFiles().size(), 1u);
}

}  // namespace
}  // namespace e2e
