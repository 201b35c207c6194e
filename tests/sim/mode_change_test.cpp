// Mode changes take the printer time: after GS I, N, Q, S, U and W the
// status answers busy for as many polls as the scenario says, frames that
// must wait for a ready mode are refused meanwhile, and frames that go
// without a wait are served. Finishing after GS B runs on the printer's
// clock, however often it is polled.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "tests/sim/host.h"

namespace {

using namespace simtest;

struct ChangeCase {
    const char* name;
    uint32_t sim::Scenario::ModeChangePolls::*polls;
    std::function<void(Host&)> reach;   // the printer just before the frame
    std::function<Reply(Host&)> frame;  // the frame that changes the mode
    uint8_t modeAfter;
    Bytes refusedMeanwhile;             // a frame that needs the wait (none: no such frame)
    Bytes servedMeanwhile;              // a frame that goes without one
};
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

const Bytes kDp = Pattern(100, 3);

Bytes DpDescriptorFrame() {
    return Concat({Header(kGs, 'Q', 15), Text("DP"),
                   Descriptor(1, 1, 1, ComputeChecksum(kDp.data(), kDp.size()))});
}

Bytes TableFrame() {
    const Bytes t = ImageTable(6, {TableEntry("DP", 1, 0, 0xFD00)});
    return Concat({Header(kGs, 'I', static_cast<uint32_t>(t.size())), t});
}

const Bytes kUpload = {'S', 'T', 0, 0, 0x10, 0};

class ModeChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ModeChange, BusyForTheScenariosPollsThenReady) {
    const ChangeCase& c = GetParam();
    for (uint32_t polls : {0u, 1u, 4u}) {
        SCOPED_TRACE(polls);
        sim::Scenario s;
        s.busyPollsAfter = {};
        s.busyPollsAfter.*c.polls = polls;
        Host host(s);
        host.EnterMaintenance();
        if (c.reach) c.reach(host);
        host.Settle();
        const Reply r = c.frame(host);
        ASSERT_TRUE(r.complete);
        ASSERT_NE(r.code, kNak);
        if (polls > 0) {
            if (!c.refusedMeanwhile.empty()) {
                EXPECT_TRUE(host.Exchange({c.refusedMeanwhile}).refused());
            }
            EXPECT_NE(host.Exchange({c.servedMeanwhile}).code, kNak);
        }
        for (uint32_t k = 0; k < polls; ++k)
            ASSERT_EQ(host.Status(), (Bytes{c.modeAfter, 2})) << "poll " << k + 1;
        EXPECT_EQ(host.Status(), (Bytes{c.modeAfter, 1}));
        if (!c.refusedMeanwhile.empty()) {
            EXPECT_NE(host.Exchange({c.refusedMeanwhile}).code, kNak) << "accepted once ready";
        }
    }
}

using Polls = sim::Scenario::ModeChangePolls;

INSTANTIATE_TEST_SUITE_P(
    Frames, ModeChange,
    ::testing::Values(
        ChangeCase{"ImageTable", &Polls::imageTable, nullptr,
                   [](Host& h) { return h.Exchange({TableFrame()}); }, 2, DpDescriptorFrame(),
                   Header(kGs, 'J', 32)},
        ChangeCase{"Version", &Polls::version, nullptr,
                   [](Host& h) {
                       return h.Exchange({Header(kGs, 'N', 16), Text("1.3             ")});
                   },
                   2, Header(kGs, 'B', 0), Header(kGs, 'O', 1)},
        ChangeCase{"BeginSection", &Polls::beginSection, nullptr,
                   [](Host& h) { return h.Exchange({DpDescriptorFrame()}); }, 3,
                   Concat({Header(kGs, 'R', 128), Block("DP", kDp, 1)}), Header(kFs, 'Y', 51)},
        ChangeCase{"Commit", &Polls::commit,
                   [](Host& h) {
                       h.Exchange({DpDescriptorFrame()});
                       h.Settle();
                       h.Exchange({Concat({Header(kGs, 'R', 128), Block("DP", kDp, 1)})});
                   },
                   [](Host& h) { return h.Gs('S', 0); }, 2, DpDescriptorFrame(),
                   Header(kGs, 'J', 32)},
        ChangeCase{"BeginReadBack", &Polls::beginReadBack, nullptr,
                   [](Host& h) { return h.Exchange({Header(kGs, 'U', 6), kUpload}); }, 2,
                   // The packets go without a wait, and no frame that waits
                   // belongs inside a read-back.
                   Bytes{}, Header(kGs, 'V', 1536 + 28)},
        ChangeCase{"EndReadBack", &Polls::endReadBack,
                   [](Host& h) { h.Exchange({Header(kGs, 'U', 6), kUpload}); },
                   [](Host& h) { return h.Gs('W', 0); }, 2,
                   Concat({Header(kGs, 'U', 6), kUpload}), Header(kGs, 'J', 32)}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST(ModeChange, DefaultsMakeEveryWaitPoll) {
    const sim::Scenario s;
    for (uint32_t polls : {s.busyPollsAfter.imageTable, s.busyPollsAfter.version,
                           s.busyPollsAfter.beginSection, s.busyPollsAfter.commit,
                           s.busyPollsAfter.beginReadBack, s.busyPollsAfter.endReadBack})
        EXPECT_GT(polls, 1u);
    EXPECT_GT(s.finishMs, 0u);
}

TEST(Finishing, TimedOnThePrintersClockNotByPolls) {
    sim::Scenario s;
    s.finishMs = 5000;
    s.finishBusyPolls = 0;
    Host host(s);
    host.EnterMaintenance();
    ASSERT_EQ(host.Gs('B', 0).code, 'B');
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(host.Status(), (Bytes{2, 2}));
    host.printer->AdvanceTime(4999);
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    host.printer->AdvanceTime(1);
    EXPECT_EQ(host.Status(), (Bytes{1, 1}));
    EXPECT_FALSE(host.printer->LinkUp()) << "restarting once the final answer was read";
}

TEST(Finishing, BusyPollsStillCountWhenTheTimeIsUp) {
    sim::Scenario s;
    s.finishMs = 10;
    s.finishBusyPolls = 3;
    Host host(s);
    host.EnterMaintenance();
    ASSERT_EQ(host.Gs('B', 0).code, 'B');
    host.printer->AdvanceTime(10);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(host.Status(), (Bytes{2, 2}));
    EXPECT_EQ(host.Status(), (Bytes{1, 1}));
}

// After GS A the printer is busy for its busy polls and its busy time
// alike; the first poll after both answers with the start condition.
struct StartCase {
    const char* name;
    uint32_t polls;
    uint32_t ms;
    uint8_t startCondition;
};

class StartOfARun : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartOfARun, BusyUntilItsPollsAreAnsweredAndItsTimeHasPassed) {
    const StartCase& c = GetParam();
    sim::Scenario s;
    s.maintenanceBusyPolls = c.polls;
    s.maintenanceBusyMs = c.ms;
    s.startCondition = c.startCondition;
    Host host(s);
    ASSERT_EQ(host.Gs('A', 0).code, 'A');
    // Polls before the time is up stay busy, however many there are.
    for (uint32_t k = 0; k < c.polls + 5; ++k) ASSERT_EQ(host.Status(), (Bytes{2, 2})) << k;
    host.printer->AdvanceTime(c.ms - 1);
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    host.printer->AdvanceTime(1);
    EXPECT_EQ(host.Status(), (Bytes{2, c.startCondition}));
    EXPECT_EQ(host.Status(), (Bytes{2, c.startCondition}));
}

TEST(StartOfARunPolls, PollsStillCountWhenTheTimeIsUp) {
    sim::Scenario s;
    s.maintenanceBusyPolls = 3;
    s.maintenanceBusyMs = 500;
    Host host(s);
    ASSERT_EQ(host.Gs('A', 0).code, 'A');
    host.printer->AdvanceTime(500);
    for (int k = 0; k < 3; ++k) ASSERT_EQ(host.Status(), (Bytes{2, 2})) << k;
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
}

INSTANTIATE_TEST_SUITE_P(
    Times, StartOfARun,
    ::testing::Values(StartCase{"TimeOnly", 0, 11000, 1}, StartCase{"TimeAfterPolls", 2, 300, 1},
                      StartCase{"FailsAfterItsTime", 0, 500, 0x80}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

}  // namespace
