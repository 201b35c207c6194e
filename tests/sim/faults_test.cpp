// Injected faults: a frame dropped with the link, refused, answered never
// again, answered in pieces or with more than was asked.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/sim/host.h"

namespace {

using namespace simtest;

sim::Fault AtFrame(uint32_t n, sim::FaultAction action) {
    sim::Fault f;
    f.atFrame = n;
    f.action = action;
    return f;
}

sim::Fault OnLetter(uint8_t introducer, char letter, uint32_t occurrence, sim::FaultAction action) {
    sim::Fault f;
    f.introducer = introducer;
    f.letter = static_cast<uint8_t>(letter);
    f.occurrence = occurrence;
    f.action = action;
    return f;
}

Host WithFaults(std::vector<sim::Fault> faults, uint32_t dropReturnMs = 15000) {
    sim::Scenario s;
    s.faults = std::move(faults);
    s.dropReturnMs = dropReturnMs;
    return Host(s);
}

// Three FS Y exchanges; the fault hits the second frame, whichever way it
// is named.
struct ReplyFaultCase {
    const char* name;
    sim::Fault fault;
    std::vector<size_t> replySizes;  // raw bytes read after each of the three frames
    bool secondRefused;
};
void PrintTo(const ReplyFaultCase& c, std::ostream* os) { *os << c.name; }

class ReplyFaults : public ::testing::TestWithParam<ReplyFaultCase> {};

TEST_P(ReplyFaults, HitTheNamedFrameOnly) {
    const ReplyFaultCase& c = GetParam();
    Host host = WithFaults({c.fault});
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k + 1);
        host.Write(Header(kFs, 'Y', 51));
        const Bytes raw = host.Drain();
        EXPECT_EQ(raw.size(), c.replySizes[k]);
        if (raw.size() < 6) continue;
        const Reply r = Host::Parse(raw);
        EXPECT_TRUE(r.complete) << "announced " << r.length << ", sent " << r.data.size();
        EXPECT_EQ(r.code, k == 1 && c.secondRefused ? kNak : 'Y');
    }
    EXPECT_EQ(host.printer->stats().faultsFired, 1u);
    EXPECT_EQ(host.printer->frames()[1].refused, c.secondRefused);
    EXPECT_EQ(host.printer->stats().refusals, c.secondRefused ? 1u : 0u);
}

sim::Fault Overlong(sim::Fault f, uint32_t extra) {
    f.extraBytes = extra;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyFaults,
    ::testing::Values(
        ReplyFaultCase{"NakAtFrame", AtFrame(2, sim::FaultAction::kNak), {57, 6, 57}, true},
        ReplyFaultCase{"NakOnSecondY", OnLetter(kFs, 'Y', 2, sim::FaultAction::kNak), {57, 6, 57},
                       true},
        ReplyFaultCase{"Overlong", Overlong(AtFrame(2, sim::FaultAction::kOverlong), 16),
                       {57, 73, 57}, false},
        ReplyFaultCase{"OverlongByOne",
                       Overlong(OnLetter(kFs, 'Y', 2, sim::FaultAction::kOverlong), 1),
                       {57, 58, 57}, false}),
    [](const ::testing::TestParamInfo<ReplyFaultCase>& info) { return std::string(info.param.name); });

TEST(Faults, OverlongReplyAnnouncesTheExtraBytes) {
    Host host = WithFaults({Overlong(AtFrame(1, sim::FaultAction::kOverlong), 16)});
    const Reply r = host.Fs('Y', 51);
    EXPECT_EQ(r.length, 67u);
    EXPECT_EQ(std::string(r.data.begin() + 42, r.data.begin() + 50), "ZKQ00001");
}

TEST(Faults, NakRefusesTheFrameWithoutItsEffect) {
    Host host = WithFaults({OnLetter(kGs, 'A', 1, sim::FaultAction::kNak)});
    EXPECT_TRUE(host.Gs('A', 0).refused());
    EXPECT_EQ(host.printer->mode(), sim::kModeNormal);
    EXPECT_TRUE(host.Gs('J', 32).refused()) << "still not in maintenance";
    EXPECT_EQ(host.Gs('A', 0).code, 'A');
    EXPECT_EQ(host.printer->mode(), sim::kModeMaintenance);
}

TEST(Faults, PiecesFromTheFaultOnButEveryReplyWhole) {
    sim::Fault f = AtFrame(2, sim::FaultAction::kPieces);
    f.pieceSize = 5;
    Host host = WithFaults({f});
    uint8_t buf[100];
    host.Write(Header(kFs, 'Y', 51));
    EXPECT_EQ(host.printer->HostRead(buf, sizeof buf), 57u) << "before the fault: whole";
    for (int frame = 0; frame < 2; ++frame) {
        host.Write(Header(kFs, 'Y', 51));
        Bytes got;
        int calls = 0;
        while (size_t n = host.printer->HostRead(buf, sizeof buf)) {
            EXPECT_LE(n, 5u);
            got.insert(got.end(), buf, buf + n);
            ++calls;
        }
        EXPECT_EQ(calls, 12);
        const Reply r = Host::Parse(got);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.code, 'Y');
    }
}

TEST(Faults, DropTakesTheLinkDownUntilTheReturnTimeAndKeepsThePrinterState) {
    Host host = WithFaults({OnLetter(kGs, 'J', 1, sim::FaultAction::kDrop)}, 5000);
    sim::VirtualPrinter& p = *host.printer;
    host.EnterMaintenance();
    const uint32_t g = p.LinkGeneration();
    host.Write(Header(kGs, 'J', 32));
    EXPECT_FALSE(p.LinkUp());
    EXPECT_EQ(p.Pending(), 0u);
    EXPECT_TRUE(p.frames().back().unanswered);
    EXPECT_FALSE(p.frames().back().refused);
    const uint32_t received = p.stats().framesReceived;
    host.Write(Header(kFs, 'Y', 51));
    EXPECT_EQ(p.stats().framesReceived, received) << "bytes on a dead link are lost";
    uint8_t b[8];
    EXPECT_EQ(p.HostRead(b, sizeof b), 0u);

    p.AdvanceTime(4999);
    EXPECT_FALSE(p.LinkUp());
    p.AdvanceTime(1);
    ASSERT_TRUE(p.LinkUp());
    EXPECT_EQ(p.LinkGeneration(), g + 1);
    EXPECT_EQ(p.stats().restarts, 0u) << "a dropped link is not a restart";
    EXPECT_EQ(p.mode(), sim::kModeMaintenance);
    EXPECT_EQ(host.Gs('J', 32).length, 32u);
    EXPECT_EQ(p.stats().faultsFired, 1u);
}

TEST(Faults, DropWithoutReturnStaysDown) {
    Host host = WithFaults({AtFrame(1, sim::FaultAction::kDrop)}, 0);
    host.Write(Header(kFs, 'Y', 51));
    host.printer->AdvanceTime(0xFFFFFFFFu);
    host.printer->AdvanceTime(0xFFFFFFFFu);
    EXPECT_FALSE(host.printer->LinkUp());
    EXPECT_EQ(host.printer->LinkGeneration(), 0u);
}

TEST(Faults, DroppedBlockIsNotWritten) {
    Host host = WithFaults({OnLetter(kGs, 'R', 1, sim::FaultAction::kDrop)}, 1);
    host.EnterMaintenance();
    const Bytes dp = Pattern(100, 1);
    ASSERT_EQ(host.BeginSection("DP", Descriptor(1, 1, 1, ComputeChecksum(dp.data(), 100))).code,
              'Q');
    host.WriteBlock(Block("DP", dp, 1));
    EXPECT_FALSE(host.printer->LinkUp());
    host.printer->AdvanceTime(1);
    EXPECT_EQ(host.printer->stats().blocksWritten, 0u);
    // The printer still waits for block 1.
    EXPECT_EQ(host.WriteBlock(Block("DP", dp, 1)).code, 'R');
    EXPECT_EQ(host.Commit().code, 'S');
    EXPECT_EQ(host.Find("DP")->data, dp);
}

TEST(Faults, SilentPrinterNeverAnswersAgain) {
    Host host = WithFaults({OnLetter(kFs, 'Y', 2, sim::FaultAction::kSilent)});
    sim::VirtualPrinter& p = *host.printer;
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
    host.Write(Header(kFs, 'Y', 51));
    EXPECT_TRUE(p.Silent());
    EXPECT_TRUE(p.LinkUp()) << "silent, not gone";
    EXPECT_EQ(p.Pending(), 0u);
    host.Write(Header(kGs, 'A', 0));
    p.AdvanceTime(100000);
    uint8_t b[8];
    EXPECT_EQ(p.HostRead(b, sizeof b), 0u);
    EXPECT_EQ(p.mode(), sim::kModeNormal) << "frames after the silence have no effect";
    EXPECT_EQ(p.stats().framesReceived, 2u);
    EXPECT_TRUE(p.frames().back().unanswered);
    EXPECT_EQ(p.stats().faultsFired, 1u);
}

TEST(Faults, EachFaultFiresOnceAndUnmatchedOnesNever) {
    Host host = WithFaults({OnLetter(kFs, 'Y', 1, sim::FaultAction::kNak),
                            OnLetter(kFs, 'T', 1, sim::FaultAction::kNak),
                            OnLetter(kGs, 'Q', 1, sim::FaultAction::kDrop),  // never sent
                            AtFrame(1, sim::FaultAction::kOverlong),        // same frame as the first
                            AtFrame(100, sim::FaultAction::kSilent)});
    const Reply first = host.Fs('Y', 51);
    EXPECT_EQ(first.code, kNak);
    EXPECT_EQ(first.length, 16u) << "a refusal can be overlong too";
    EXPECT_EQ(host.Fs('Y', 51).code, 'Y');
    EXPECT_EQ(host.Fs('T', 60).code, kNak);
    EXPECT_EQ(host.Fs('T', 60).code, 'T');
    EXPECT_EQ(host.printer->stats().faultsFired, 3u);
}

}  // namespace
