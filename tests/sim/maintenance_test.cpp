// The printer's side of the maintenance frames: the run from GS A to the
// restart, read-back, section writes and everything the printer refuses.
#include <gtest/gtest.h>

#include <ostream>

#include <functional>

#include "tests/sim/host.h"

namespace {

using namespace simtest;

std::string Str(const Bytes& b, size_t from, size_t n) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(from),
                       b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

TEST(DefaultPrinter, IsHealthyWithTheShippedAreaTable) {
    const std::vector<sim::Area> areas = sim::DefaultAreas();
    ASSERT_EQ(areas.size(), 4u);
    const struct {
        const char* tag;
        uint32_t address, size;
    } shipped[] = {{"MC", 0x600D0000, 0x11D000},
                   {"ST", 0x601ED000, 0x600},
                   {"DP", 0x601F0000, 0xFD00},
                   {"FG", 0x60200000, 0x927C0}};
    for (size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(shipped[k].tag);
        EXPECT_EQ(areas[k].tag, shipped[k].tag);
        EXPECT_EQ(areas[k].attribute, 1u);
        EXPECT_EQ(areas[k].loadAddress, shipped[k].address);
        EXPECT_EQ(areas[k].areaSize, shipped[k].size);
        EXPECT_FALSE(areas[k].data.empty());
        EXPECT_LE(areas[k].data.size(), areas[k].areaSize);
    }
    EXPECT_EQ(areas[1].data.size(), 1536u);
    EXPECT_NE(Str(areas[1].data, 0, 4), "DUMY");
    EXPECT_EQ(sim::DefaultAreas()[1].data, areas[1].data) << "not deterministic";

    sim::VirtualPrinter p;
    EXPECT_EQ(p.mode(), sim::kModeNormal);
    EXPECT_EQ(p.condition(), sim::kConditionReady);
    EXPECT_EQ(p.layout(), 6u);
    EXPECT_EQ(p.version(), "1.2 ");
    EXPECT_EQ(p.imageVersion(), "1.2             ");
    EXPECT_TRUE(p.LinkUp());
    EXPECT_FALSE(p.Silent());
    ASSERT_EQ(p.areas().size(), 4u);
    EXPECT_EQ(p.areas()[1].data, areas[1].data);
}

TEST(MaintenanceRun, FromStartToRestartWithTheNewVersion) {
    sim::Scenario s;
    s.maintenanceBusyPolls = 2;
    s.busyPollsAfter.beginSection = 2;
    s.busyPollsAfter.commit = 3;
    s.finishMs = 2000;
    s.finishBusyPolls = 0;
    s.restartDelayMs = 15000;
    s.classByte = 1;
    Host host(s);
    sim::VirtualPrinter& p = *host.printer;
    const Bytes oldSt = host.Find("ST")->data;

    // GS A: maintenance mode, busy for two polls.
    const Reply a = host.Exchange({{0x1D, 0x41, 0, 0, 0, 0}});
    EXPECT_EQ(a.code, 'A');
    EXPECT_EQ(a.introducer, 0x1D);
    EXPECT_EQ(a.length, 0u);
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
    EXPECT_EQ(host.Gs('E', 1).data, Bytes{2});
    EXPECT_EQ(host.Gs('E', 100).data, (Bytes{2, 1}));

    // GS O: the class byte.
    EXPECT_EQ(host.Gs('O', 1).data, Bytes{1});

    // GS J 32: the image header.
    const Reply header = host.Gs('J', 32);
    ASSERT_EQ(header.length, 32u);
    EXPECT_EQ(header.data[0], 1);
    EXPECT_EQ(GetBE32(&header.data[4]), 6u);
    EXPECT_EQ(Str(header.data, 8, 16), "1.2             ");
    EXPECT_EQ(GetBE16(&header.data[24]), 4);

    // GS J with the full size: one entry per area with its checksum.
    const Reply table = host.Gs('J', 32 + 4 * 64);
    ASSERT_EQ(table.length, 288u);
    const std::vector<sim::Area>& areas = p.areas();
    for (size_t k = 0; k < 4; ++k) {
        const uint8_t* e = &table.data[32 + 64 * k];
        SCOPED_TRACE(areas[k].tag);
        EXPECT_EQ(Str(table.data, 32 + 64 * k, 2), areas[k].tag);
        EXPECT_EQ(GetBE32(e + 4), areas[k].attribute);
        EXPECT_EQ(GetBE32(e + 8), areas[k].loadAddress);
        EXPECT_EQ(GetBE32(e + 12), areas[k].areaSize);
        EXPECT_EQ(GetBE32(e + 20), areas[k].data.size());
        const Checksum c = ComputeChecksum(areas[k].data.data(), areas[k].data.size());
        EXPECT_EQ(GetBE16(e + 24), c.sum);
        EXPECT_EQ(e[28], c.xorValue);
    }
    // Asking for more than there is gives the whole table.
    EXPECT_EQ(host.Gs('J', 1000).length, 288u);

    // Read-back of ST in 4,096-byte packets: one packet of 1,536 bytes.
    Bytes descriptor;
    EXPECT_EQ(host.ReadBack("ST", 4096, &descriptor), oldSt);
    const Checksum stSum = ComputeChecksum(oldSt.data(), oldSt.size());
    EXPECT_EQ(descriptor, Descriptor(0, 1, 1, stSum));

    // MC: two blocks, the second of one byte.
    const Bytes mc = Pattern(8193, 11);
    const Checksum mcSum = ComputeChecksum(mc.data(), mc.size());
    const Reply q = host.BeginSection("MC", Descriptor(1, 1, 2, mcSum));
    EXPECT_EQ(q.code, 'Q');
    EXPECT_EQ(q.length, 0u);
    // Entering the data mode takes two polls; a block before that is refused.
    EXPECT_TRUE(host.Exchange({Header(kGs, 'R', 28), Bytes(28, 0)}).refused());
    EXPECT_EQ(host.Status(), (Bytes{3, 2}));
    EXPECT_EQ(host.Status(), (Bytes{3, 2}));
    EXPECT_EQ(host.Status(), (Bytes{3, 1}));
    EXPECT_EQ(host.WriteBlock(Block("MC", mc, 1)).code, 'R');
    EXPECT_EQ(host.WriteBlock(Block("MC", mc, 2)).code, 'R');
    EXPECT_EQ(host.Commit().code, 'S');
    EXPECT_EQ(host.Settle(), 3) << "back in mode 2 after three busy polls";
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
    EXPECT_EQ(host.Find("MC")->data, mc);
    EXPECT_EQ(p.stats().blocksWritten, 2u);
    EXPECT_EQ(p.stats().sectionsWritten, 1u);

    // The new version text, then finish.
    EXPECT_EQ(host.Exchange({Header(kGs, 'N', 16), Text("1.3             ")}).code, 'N');
    EXPECT_EQ(p.version(), "1.2 ") << "the version changes only with the restart";
    EXPECT_TRUE(host.Gs('B', 0).refused()) << "GS B before the version text has settled";
    host.Settle();
    EXPECT_EQ(host.Gs('B', 0).code, 'B');
    // Finishing takes 2,000 ms of the printer's time, however often it is
    // polled.
    for (int k = 0; k < 50; ++k) ASSERT_EQ(host.Status(), (Bytes{2, 2}));
    p.AdvanceTime(1999);
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    p.AdvanceTime(1);
    const uint32_t generation = p.LinkGeneration();
    host.Write(Header(kGs, 'E', 2));
    EXPECT_TRUE(p.LinkUp()) << "the answer must still be readable";
    EXPECT_EQ(Host::Parse(host.Drain()).data, (Bytes{1, 1}));

    // Off the link once the answer is out, for restartDelayMs.
    EXPECT_FALSE(p.LinkUp());
    EXPECT_EQ(p.stats().restarts, 1u);
    host.Write(Header(kFs, 'Y', 51));
    EXPECT_EQ(p.Pending(), 0u);
    p.AdvanceTime(14999);
    EXPECT_FALSE(p.LinkUp());
    p.AdvanceTime(1);
    ASSERT_TRUE(p.LinkUp());
    EXPECT_EQ(p.LinkGeneration(), generation + 1);
    EXPECT_EQ(p.mode(), sim::kModeNormal);
    EXPECT_EQ(p.version(), "1.3 ");
    EXPECT_EQ(p.imageVersion(), "1.3             ");
    const Reply info = host.Fs('Y', 51);
    EXPECT_EQ(Str(info.data, 38, 4), "1.3 ");
    EXPECT_EQ(host.Status(), (Bytes{1, 1}));
    EXPECT_EQ(host.Find("MC")->data, mc);
    EXPECT_EQ(host.Find("ST")->data, oldSt);
    EXPECT_EQ(p.stats().refusals, 2u) << "the block and the GS B sent before their mode was ready";
}

TEST(MaintenanceRun, CancelRestartsWithTheOldVersionAndKeepsCommittedSections) {
    Host host;
    sim::VirtualPrinter& p = *host.printer;
    host.EnterMaintenance();
    const Bytes dp = Pattern(100, 3);
    ASSERT_TRUE(host.WriteSection("DP", dp));
    host.Settle();
    ASSERT_EQ(host.Exchange({Header(kGs, 'N', 16), Text("9.9             ")}).code, 'N');
    // An open section that is never committed.
    const Bytes fg = Pattern(9000, 4);
    const Bytes oldFg = host.Find("FG")->data;
    ASSERT_EQ(host.BeginSection("FG", Descriptor(1, 1, 2, ComputeChecksum(fg.data(), fg.size()))).code,
              'Q');
    ASSERT_EQ(host.WriteBlock(Block("FG", fg, 1)).code, 'R');

    const Reply c = host.Gs('C', 0);
    EXPECT_EQ(c.code, 'C');
    EXPECT_FALSE(p.LinkUp());
    p.AdvanceTime(15000);
    ASSERT_TRUE(p.LinkUp());
    EXPECT_EQ(p.mode(), sim::kModeNormal);
    EXPECT_EQ(p.version(), "1.2 ");
    EXPECT_EQ(p.imageVersion(), "1.2             ");
    EXPECT_EQ(host.Find("DP")->data, dp);
    EXPECT_EQ(host.Find("FG")->data, oldFg);
}

TEST(MaintenanceRun, RestartWithoutDelayComesBackAtOnceOnANewGeneration) {
    sim::Scenario s;
    s.restartDelayMs = 0;
    Host host(s);
    host.EnterMaintenance();
    const uint32_t g = host.printer->LinkGeneration();
    EXPECT_EQ(host.Gs('C', 0).code, 'C');
    EXPECT_TRUE(host.printer->LinkUp());
    EXPECT_EQ(host.printer->LinkGeneration(), g + 1);
    EXPECT_EQ(host.printer->mode(), sim::kModeNormal);
}

TEST(MaintenanceRun, ConnectWithAnUnreadFinalAnswerStartsTheRestart) {
    sim::Scenario s;
    s.finishMs = 0;
    s.finishBusyPolls = 0;
    Host host(s);
    host.EnterMaintenance();
    ASSERT_EQ(host.Gs('B', 0).code, 'B');
    host.Write(Header(kGs, 'E', 2));  // [1, 1], never read
    EXPECT_TRUE(host.printer->LinkUp());
    host.printer->Connect();
    EXPECT_FALSE(host.printer->LinkUp());
    EXPECT_EQ(host.printer->stats().restarts, 1u);
}

TEST(ReadBack, PacketsInOrderWithHeaderAndTrailer) {
    sim::Scenario s;
    s.areas = sim::DefaultAreas();
    const Bytes mc = s.areas[0].data;
    Host host(s);
    host.EnterMaintenance();
    Bytes payload = {'M', 'C', 0, 0, 0x10, 0};
    ASSERT_EQ(host.Exchange({Header(kGs, 'U', 6), payload}).code, 'U');
    size_t offset = 0;
    for (uint16_t k = 1; offset < mc.size(); ++k) {
        const uint32_t l = static_cast<uint32_t>(std::min<size_t>(4096, mc.size() - offset));
        // A packet asked with another length is refused and not consumed.
        EXPECT_TRUE(host.Gs('V', l + 27).refused());
        const Reply v = host.Gs('V', l + 28);
        ASSERT_EQ(v.code, 'V');
        ASSERT_EQ(v.length, l + 28);
        EXPECT_EQ(Str(v.data, 0, 2), "MC");
        EXPECT_EQ(GetBE16(&v.data[2]), k);
        EXPECT_EQ(Str(v.data, 4, 4), "RAWS");
        EXPECT_EQ(Bytes(v.data.begin() + 8, v.data.begin() + 16), Bytes(8, 0));
        EXPECT_EQ(GetBE32(&v.data[16]), offset);
        EXPECT_EQ(GetBE32(&v.data[20]), l);
        const Bytes data(v.data.begin() + 24, v.data.begin() + 24 + l);
        EXPECT_EQ(data, Bytes(mc.begin() + offset, mc.begin() + offset + l));
        const Checksum c = ComputeChecksum(data.data(), l);
        EXPECT_EQ(GetBE16(&v.data[24 + l]), c.sum);
        EXPECT_EQ(v.data[26 + l], c.xorValue);
        EXPECT_EQ(v.data[27 + l], 0);
        offset += l;
    }
    EXPECT_TRUE(host.Gs('V', 28).refused()) << "no packet after the last";
    EXPECT_EQ(host.Gs('W', 0).code, 'W');
    EXPECT_TRUE(host.Gs('W', 0).refused()) << "no read-back to end";
    EXPECT_TRUE(host.Gs('V', 4124).refused());
}

TEST(ReadBack, AreasSharingATagAreReadInTurn) {
    sim::Scenario s;
    s.areas = sim::DefaultAreas();
    sim::Area second = s.areas[1];
    second.data = Pattern(1200, 8);
    s.areas.push_back(second);
    Host host(s);
    host.EnterMaintenance();
    Bytes d1, d3;
    EXPECT_EQ(host.ReadBack("ST", 4096, &d1), s.areas[1].data);
    // The helper reads the first ST area's length; read the second by hand.
    Bytes payload = {'S', 'T', 0, 0, 0x10, 0};
    host.Settle();
    const Reply u = host.Exchange({Header(kGs, 'U', 6), payload});
    ASSERT_EQ(u.length, 13u);
    EXPECT_EQ(GetBE16(&u.data[10]), ComputeChecksum(second.data.data(), 1200).sum);
    const Reply v = host.Gs('V', 1228);
    ASSERT_EQ(v.length, 1228u);
    EXPECT_EQ(Bytes(v.data.begin() + 24, v.data.end() - 4), second.data);
    EXPECT_EQ(host.Gs('W', 0).code, 'W');
    host.Settle();
    EXPECT_EQ(host.ReadBack("ST", 4096, &d3), s.areas[1].data) << "and round again";
}

TEST(ReadBack, RefusedForAnUnknownTagOrPacketSize) {
    Host host;
    host.EnterMaintenance();
    const Bytes bad[] = {{'X', 'X', 0, 0, 0x10, 0}, {'S', 'T', 0, 0, 0, 0}, {'S', 'T', 0, 2, 0, 1}};
    for (const Bytes& b : bad) EXPECT_TRUE(host.Exchange({Header(kGs, 'U', 6), b}).refused());
    EXPECT_TRUE(host.Exchange({Header(kGs, 'U', 5), Bytes{'S', 'T', 0, 0, 16}}).refused());
    EXPECT_TRUE(host.Gs('V', 1564).refused()) << "no read-back was started";
}

// --- GS R: every field the printer checks ---------------------------------

struct BlockCase {
    const char* name;
    std::function<void(Bytes&)> corrupt;
};
void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class BlockCorruptions : public ::testing::TestWithParam<BlockCase> {};

// A section of three blocks (8,192 + 8,192 + 100 bytes) into FG. The
// corruption hits block 2; it is refused, changes nothing, and the good
// block 2 is still taken afterwards.
TEST_P(BlockCorruptions, RefusedWithoutEffect) {
    Host host;
    host.EnterMaintenance();
    const Bytes fg = Pattern(8192 * 2 + 100, 21);
    const Checksum c = ComputeChecksum(fg.data(), fg.size());
    ASSERT_EQ(host.BeginSection("FG", Descriptor(1, 1, 3, c)).code, 'Q');
    ASSERT_EQ(host.WriteBlock(Block("FG", fg, 1)).code, 'R');
    Bytes bad = Block("FG", fg, 2);
    GetParam().corrupt(bad);
    const Reply r = host.Exchange({Concat({Header(kGs, 'R', static_cast<uint32_t>(bad.size())), bad})});
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.introducer, 0x1D);
    EXPECT_EQ(r.code, kNak);
    EXPECT_EQ(r.length, 0u);
    EXPECT_TRUE(host.printer->frames().back().refused);
    EXPECT_EQ(host.Status(), (Bytes{3, 1}));
    EXPECT_EQ(host.printer->stats().blocksWritten, 1u);
    ASSERT_EQ(host.WriteBlock(Block("FG", fg, 2)).code, 'R');
    ASSERT_EQ(host.WriteBlock(Block("FG", fg, 3)).code, 'R');
    ASSERT_EQ(host.Commit().code, 'S');
    EXPECT_EQ(host.Find("FG")->data, fg);
}

void SetBE32At(Bytes& b, size_t at, uint32_t v) { PutBE32(&b[at], v); }

INSTANTIATE_TEST_SUITE_P(
    R, BlockCorruptions,
    ::testing::Values(
        BlockCase{"OtherTag", [](Bytes& b) { b[1] = 'H'; }},
        BlockCase{"TagOfAnotherArea", [](Bytes& b) { b[0] = 'M', b[1] = 'C'; }},
        BlockCase{"BlockNumberRepeated", [](Bytes& b) { PutBE16(&b[2], 1); }},
        BlockCase{"BlockNumberSkipsAhead", [](Bytes& b) { PutBE16(&b[2], 3); }},
        BlockCase{"BlockNumberZero", [](Bytes& b) { PutBE16(&b[2], 0); }},
        BlockCase{"FormatCode", [](Bytes& b) { b[7] = 'X'; }},
        BlockCase{"FormatCodeLowerCase", [](Bytes& b) { b[4] = 'r'; }},
        BlockCase{"ReservedByte8", [](Bytes& b) { b[8] = 1; }},
        BlockCase{"ReservedByte15", [](Bytes& b) { b[15] = 0x80; }},
        BlockCase{"OffsetOfBlockOne", [](Bytes& b) { SetBE32At(b, 16, 0); }},
        BlockCase{"OffsetOneOff", [](Bytes& b) { SetBE32At(b, 16, 8193); }},
        BlockCase{"LengthFieldShort", [](Bytes& b) { SetBE32At(b, 20, 8191); }},
        BlockCase{"LengthFieldLong", [](Bytes& b) { SetBE32At(b, 20, 8193); }},
        BlockCase{"ShortBlockBeforeTheLast",
                  [](Bytes& b) {
                      // A consistent block of 8,000 bytes where a full one belongs.
                      Bytes data(b.begin() + 24, b.begin() + 24 + 8000);
                      const Checksum c = ComputeChecksum(data.data(), data.size());
                      b.resize(24 + 8000 + 4);
                      SetBE32At(b, 20, 8000);
                      PutBE16(&b[24 + 8000], c.sum);
                      b[26 + 8000] = c.xorValue;
                      b[27 + 8000] = 0;
                  }},
        BlockCase{"OverlongBlock",
                  [](Bytes& b) {
                      b.insert(b.end() - 4, uint8_t{0});
                      SetBE32At(b, 20, 8193);
                  }},
        BlockCase{"DataChanged", [](Bytes& b) { b[24 + 100] ^= 0x01; }},
        BlockCase{"TrailerSum", [](Bytes& b) { b[24 + 8192 + 1] ^= 0x01; }},
        BlockCase{"TrailerXor", [](Bytes& b) { b[24 + 8192 + 2] ^= 0x40; }},
        BlockCase{"TrailerLastByte", [](Bytes& b) { b[24 + 8192 + 3] = 1; }},
        BlockCase{"HeaderOnly", [](Bytes& b) { b.resize(27); }}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

TEST(Sections, AreasFillToTheirFullSize) {
    Host host;
    host.EnterMaintenance();
    // MC of the shipped size: 143 blocks, the last of 4,096 bytes; FG one
    // byte over its area is refused at its last block.
    const Bytes mc = Pattern(0x11D000, 31);
    ASSERT_TRUE(host.WriteSection("MC", mc));
    EXPECT_EQ(host.printer->stats().blocksWritten, 143u);
    const Reply j = host.Gs('J', 32 + 64);
    ASSERT_EQ(j.length, 96u);
    EXPECT_EQ(GetBE32(&j.data[32 + 20]), 0x11D000u);
    const Checksum c = ComputeChecksum(mc.data(), mc.size());
    EXPECT_EQ(GetBE16(&j.data[32 + 24]), c.sum);
    EXPECT_EQ(j.data[32 + 28], c.xorValue);

    const Bytes fg = Pattern(0x927C0 + 1, 32);
    EXPECT_FALSE(host.WriteSection("FG", fg));
    EXPECT_EQ(host.printer->frames().back().letter, 'R');
    EXPECT_TRUE(host.printer->frames().back().refused);
}

TEST(Sections, LastBlockMustMakeTheCountConsistentAndFitTheArea) {
    sim::Scenario s;
    s.areas = sim::DefaultAreas();
    s.areas[2].areaSize = 8200;  // DP holds 8,200 bytes
    s.areas[2].data.resize(100);
    Host host(s);
    host.EnterMaintenance();
    // Three blocks cannot fit 8,200 bytes.
    EXPECT_TRUE(host.BeginSection("DP", Descriptor(1, 1, 3, Checksum{})).refused());
    // Two blocks can, but not 8,201 bytes of them.
    const Bytes tooMuch = Pattern(8201, 2);
    const Checksum c = ComputeChecksum(tooMuch.data(), tooMuch.size());
    ASSERT_EQ(host.BeginSection("DP", Descriptor(1, 1, 2, c)).code, 'Q');
    ASSERT_EQ(host.WriteBlock(Block("DP", tooMuch, 1)).code, 'R');
    EXPECT_TRUE(host.WriteBlock(Block("DP", tooMuch, 2)).refused());
    // An empty last block would leave the count inconsistent.
    Bytes empty = Block("DP", tooMuch, 2);
    empty.erase(empty.begin() + 24, empty.end() - 4);
    PutBE32(&empty[20], 0);
    empty[24] = 0, empty[25] = 0, empty[26] = 0;
    EXPECT_TRUE(host.WriteBlock(empty).refused());
    // No block beyond the count.
    const Bytes fits(tooMuch.begin(), tooMuch.end() - 1);
    ASSERT_EQ(host.WriteBlock(Block("DP", fits, 2)).code, 'R');
    EXPECT_TRUE(host.WriteBlock(Block("DP", Pattern(8192 * 3, 1), 3)).refused());
}

TEST(Sections, CommitChecksTheCountAndTheChecksum) {
    Host host;
    host.EnterMaintenance();
    const Bytes mc = Pattern(9000, 5);
    const Checksum c = ComputeChecksum(mc.data(), mc.size());
    const Bytes oldMc = host.Find("MC")->data;

    // One block short.
    ASSERT_EQ(host.BeginSection("MC", Descriptor(1, 1, 2, c)).code, 'Q');
    ASSERT_EQ(host.WriteBlock(Block("MC", mc, 1)).code, 'R');
    EXPECT_TRUE(host.Commit().refused());
    EXPECT_EQ(host.Status(), (Bytes{3, 1})) << "a refused commit leaves the section open";
    ASSERT_EQ(host.WriteBlock(Block("MC", mc, 2)).code, 'R');
    ASSERT_EQ(host.Commit().code, 'S');
    EXPECT_EQ(host.Find("MC")->data, mc);

    // Blocks that hold but a descriptor whose sum or XOR does not.
    for (Checksum wrong : {Checksum{static_cast<uint16_t>(c.sum + 1), c.xorValue},
                           Checksum{c.sum, static_cast<uint8_t>(c.xorValue ^ 1)}}) {
        ASSERT_EQ(host.BeginSection("MC", Descriptor(1, 1, 2, wrong)).code, 'Q');
        const Bytes other = Pattern(9000, 6);
        ASSERT_EQ(host.WriteBlock(Block("MC", other, 1)).code, 'R');
        ASSERT_EQ(host.WriteBlock(Block("MC", other, 2)).code, 'R');
        EXPECT_TRUE(host.Commit().refused());
        EXPECT_EQ(host.Find("MC")->data, mc);
        // The section stays open; cancelling ends it.
        ASSERT_EQ(host.Gs('C', 0).code, 'C');
        host.printer->AdvanceTime(15000);
        host.EnterMaintenance();
    }
    EXPECT_NE(oldMc, mc);
}

TEST(Sections, EmptySectionIsCommittedWithoutBlocks) {
    Host host;
    host.EnterMaintenance();
    ASSERT_EQ(host.BeginSection("DP", Descriptor(1, 1, 0, Checksum{})).code, 'Q');
    EXPECT_TRUE(host.WriteBlock(Block("DP", Pattern(10, 1), 1)).refused());
    ASSERT_EQ(host.Commit().code, 'S');
    EXPECT_TRUE(host.Find("DP")->data.empty());
    host.Settle();
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
}

TEST(Sections, BeginRefusesUnknownTagsAndMalformedDescriptors) {
    Host host;
    host.EnterMaintenance();
    const Bytes d = Descriptor(1, 1, 1, Checksum{});
    EXPECT_TRUE(host.BeginSection("XY", d).refused());
    Bytes reserved = d;
    reserved[2] = 1;
    EXPECT_TRUE(host.BeginSection("MC", reserved).refused());
    EXPECT_TRUE(host.Exchange({Header(kGs, 'Q', 14), Text("MC"), Bytes(12, 0)}).refused());
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
}

// The descriptor's class byte must be the printer's class (GS O) or 0, and
// its attribute word is big-endian: attribute 1 written little-endian reads
// 0x01000000, a word this printer has no meaning for.
struct DescriptorCase {
    const char* name;
    uint8_t printerClass;
    uint8_t classByte;
    uint32_t attribute;
    bool accepted;
};
void PrintTo(const DescriptorCase& c, std::ostream* os) { *os << c.name; }

class DescriptorFields : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(DescriptorFields, ClassAndAttributeWord) {
    const DescriptorCase& c = GetParam();
    sim::Scenario s;
    s.classByte = c.printerClass;
    Host host(s);
    host.EnterMaintenance();
    const Bytes dp = Pattern(100, 7);
    const Reply q =
        host.BeginSection("DP", Descriptor(c.classByte, c.attribute, 1, ComputeChecksum(dp.data(), 100)));
    EXPECT_EQ(q.code, c.accepted ? 'Q' : kNak);
    EXPECT_EQ(host.printer->mode(), c.accepted ? sim::kModeData : sim::kModeMaintenance);
}

INSTANTIATE_TEST_SUITE_P(
    Q, DescriptorFields,
    ::testing::Values(DescriptorCase{"PrintersClass", 1, 1, 1, true},
                      DescriptorCase{"ClassZero", 1, 0, 1, true},
                      DescriptorCase{"OtherClass", 1, 2, 1, false},
                      DescriptorCase{"OtherClassOfAClassTwoPrinter", 2, 1, 1, false},
                      DescriptorCase{"ClassTwoPrinter", 2, 2, 0x20003, true},
                      DescriptorCase{"AttributeLittleEndian", 1, 1, 0x01000000, false},
                      DescriptorCase{"AttributeWideLittleEndian", 1, 1, 0x03000200, false},
                      DescriptorCase{"AttributeOf24Bits", 1, 1, 0x00FFFFFF, true}),
    [](const ::testing::TestParamInfo<DescriptorCase>& info) { return std::string(info.param.name); });

// --- GS I: the image table ------------------------------------------------

TEST(ImageTable, ReplacesTheAreasAndTheLayoutKeepingDataThatStillFits) {
    sim::Scenario s;
    s.layout = 5;
    Host host(s);
    const Bytes st = host.Find("ST")->data;
    const Bytes dp = host.Find("DP")->data;
    host.EnterMaintenance();
    const Bytes table = ImageTable(6, {TableEntry("MC", 1, 0x600D0000, 100),  // too small now
                                       TableEntry("ST", 0x20003, 0x601ED000, 0x600),
                                       TableEntry("DP", 1, 0x601F0000, 0xFD00),
                                       TableEntry("XX", 2, 0x70000000, 0x1000)});
    const Reply r = host.Exchange({Header(kGs, 'I', static_cast<uint32_t>(table.size())), table});
    ASSERT_EQ(r.code, 'I');
    EXPECT_EQ(host.printer->layout(), 6u);
    EXPECT_EQ(host.printer->version(), "1.2 ");
    const std::vector<sim::Area>& a = host.printer->areas();
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0].tag, "MC");
    EXPECT_EQ(a[0].areaSize, 100u);
    EXPECT_TRUE(a[0].data.empty());
    EXPECT_EQ(a[1].attribute, 0x20003u);
    EXPECT_EQ(a[1].data, st);
    EXPECT_EQ(a[2].data, dp);
    EXPECT_EQ(a[3].tag, "XX");
    EXPECT_EQ(a[3].loadAddress, 0x70000000u);
    EXPECT_TRUE(a[3].data.empty());
    EXPECT_EQ(host.Find("FG"), nullptr);
    // The printer reports the new table.
    const Reply j = host.Gs('J', 1000);
    ASSERT_EQ(j.length, 32u + 4 * 64);
    EXPECT_EQ(GetBE32(&j.data[4]), 6u);
    EXPECT_EQ(Str(j.data, 32 + 3 * 64, 2), "XX");
    EXPECT_EQ(GetBE32(&j.data[32 + 64 + 20]), 0x600u);
}

TEST(ImageTable, RefusesTablesWhoseFieldsDisagree) {
    Host host;
    host.EnterMaintenance();
    const Bytes good = ImageTable(6, {TableEntry("MC", 1, 0x600D0000, 0x11D000)});
    auto variant = [&](std::function<void(Bytes&)> f) {
        Bytes t = good;
        f(t);
        return t;
    };
    const Bytes bad[] = {
        variant([](Bytes& t) { PutBE16(&t[24], 2); }),   // count disagrees with the size
        variant([](Bytes& t) { PutBE16(&t[24], 0); }),
        variant([](Bytes& t) { t[2] = 1; }),              // reserved header byte
        variant([](Bytes& t) { t[30] = 1; }),
        variant([](Bytes& t) { t[32 + 2] = 1; }),         // reserved entry byte
        variant([](Bytes& t) { t[32 + 20] = 1; }),        // the host sends no data length
        variant([](Bytes& t) { t[32] = 0; }),             // no tag
        variant([](Bytes& t) { t[0] = 2; }),              // another class than the printer's
        variant([](Bytes& t) { t[8 + 3] = 0; }),          // version text cut by a zero
        variant([](Bytes& t) { t[23] = 0x7F; }),          // version text not printable
        variant([](Bytes& t) { PutBE32(&t[32 + 4], 0x01000000); }),  // attribute little-endian
        Bytes(good.begin(), good.begin() + 32),
    };
    for (const Bytes& t : bad) {
        const Reply r = host.Exchange({Header(kGs, 'I', static_cast<uint32_t>(t.size())), t});
        EXPECT_TRUE(r.refused());
    }
    EXPECT_EQ(host.printer->areas().size(), 4u);
    const Reply ok = host.Exchange({Header(kGs, 'I', static_cast<uint32_t>(good.size())), good});
    EXPECT_EQ(ok.code, 'I');
    EXPECT_EQ(host.printer->areas().size(), 1u);
    // A table of class 0 (a load file whose first section has no class).
    Bytes classless = good;
    classless[0] = 0;
    host.Settle();
    EXPECT_EQ(host.Exchange({Header(kGs, 'I', static_cast<uint32_t>(classless.size())), classless})
                  .code,
              'I');
}

TEST(VersionText, RefusedWhenEmptyLongOrNotPrintable) {
    Host host;
    host.EnterMaintenance();
    // The version text is the whole 16-byte field: a shorter or longer one
    // is refused, as is one with a byte that is not printable.
    EXPECT_TRUE(host.Gs('N', 0).refused());
    EXPECT_TRUE(host.Exchange({Header(kGs, 'N', 17), Text("1.3              ")}).refused());
    EXPECT_TRUE(host.Exchange({Header(kGs, 'N', 15), Text("1.3            ")}).refused());
    EXPECT_TRUE(host.Exchange({Header(kGs, 'N', 3), Text("2.0")}).refused());
    EXPECT_TRUE(
        host.Exchange({Header(kGs, 'N', 16), Bytes{'1', '.', '3', 0, ' ', ' ', ' ', ' ', ' ', ' ',
                                                   ' ', ' ', ' ', ' ', ' ', ' '}})
            .refused());
    EXPECT_EQ(host.printer->stats().refusals, 5u);
    EXPECT_EQ(host.Exchange({Header(kGs, 'N', 16), Text("2.0             ")}).code, 'N');
}

// --- frames in the wrong mode ----------------------------------------------

struct ModeCase {
    const char* name;
    std::function<void(Host&)> reach;  // brings the printer into the state
    std::vector<Bytes> refused;        // each refused there, without effect
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

Bytes Gs(char letter, uint32_t p, const Bytes& payload = {}) {
    return Concat({Header(kGs, letter, p), payload});
}

const Bytes kUpload = {'S', 'T', 0, 0, 0x10, 0};
const Bytes kQ = Concat({Text("MC"), Descriptor(1, 1, 1, Checksum{})});

class WrongMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WrongMode, FramesAreRefusedAndFsFramesStillAnswered) {
    Host host;
    GetParam().reach(host);
    const uint8_t mode = host.printer->mode();
    const uint8_t condition = host.printer->condition();
    const size_t areas = host.printer->areas().size();
    for (const Bytes& f : GetParam().refused) {
        SCOPED_TRACE(std::string(1, char(f[1])));
        const Reply r = host.Exchange({f});
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.code, kNak);
        EXPECT_EQ(host.printer->mode(), mode);
        EXPECT_EQ(host.printer->condition(), condition);
        EXPECT_TRUE(host.printer->LinkUp());
    }
    EXPECT_EQ(host.printer->areas().size(), areas);
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
    EXPECT_EQ(host.Fs('T', 60).length, 60u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WrongMode,
    ::testing::Values(
        ModeCase{"Normal",
                 [](Host&) {},
                 {Gs('J', 32), Gs('O', 1), Gs('U', 6, kUpload), Gs('V', 1564), Gs('W', 0),
                  Gs('I', 32, Bytes(32, 0)), Gs('Q', 15, kQ), Gs('R', 28, Bytes(28, 0)),
                  Gs('S', 0), Gs('N', 3, Text("1.3")), Gs('B', 0), Gs('C', 0), Gs('Z', 0)}},
        ModeCase{"BusyAfterStart",
                 [](Host& h) { h.Gs('A', 0); },
                 {Gs('J', 32), Gs('O', 1), Gs('U', 6, kUpload), Gs('Q', 15, kQ), Gs('B', 0),
                  Gs('N', 3, Text("1.3"))}},
        ModeCase{"Maintenance",
                 [](Host& h) { h.EnterMaintenance(); },
                 {Gs('R', 28, Bytes(28, 0)), Gs('S', 0), Gs('V', 1564), Gs('W', 0), Gs('A', 1),
                  Gs('B', 1), Gs('C', 1)}},
        ModeCase{"ReadBack",
                 [](Host& h) {
                     h.EnterMaintenance();
                     h.Exchange({Gs('U', 6, kUpload)});
                 },
                 {Gs('U', 6, kUpload), Gs('Q', 15, kQ), Gs('N', 3, Text("1.3")), Gs('B', 0),
                  Gs('I', 32, Bytes(32, 0)), Gs('R', 28, Bytes(28, 0))}},
        ModeCase{"Data",
                 [](Host& h) {
                     h.EnterMaintenance();
                     h.Exchange({Gs('Q', 15, kQ)});
                 },
                 {Gs('A', 0), Gs('J', 32), Gs('O', 1), Gs('U', 6, kUpload), Gs('Q', 15, kQ),
                  Gs('N', 3, Text("1.3")), Gs('B', 0), Gs('I', 32, Bytes(32, 0)), Gs('W', 0)}},
        ModeCase{"Finishing",
                 [](Host& h) {
                     h.EnterMaintenance();
                     h.Gs('B', 0);
                 },
                 {Gs('A', 0), Gs('C', 0), Gs('J', 32), Gs('Q', 15, kQ), Gs('B', 0),
                  Gs('N', 3, Text("1.3"))}}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST(StartAgain, GsAInMaintenanceModeStartsTheRunAfresh) {
    sim::Scenario s;
    s.maintenanceBusyPolls = 1;
    Host host(s);
    host.EnterMaintenance();
    ASSERT_EQ(host.Exchange({Gs('U', 6, kUpload)}).code, 'U');
    EXPECT_EQ(host.Gs('A', 0).code, 'A');
    EXPECT_EQ(host.Status(), (Bytes{2, 2}));
    EXPECT_EQ(host.Status(), (Bytes{2, 1}));
    EXPECT_TRUE(host.Gs('V', 1564).refused()) << "the read-back ended with the new run";
}

}  // namespace
