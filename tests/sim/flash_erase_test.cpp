// The flash-like printer: GS Q erases its area when writing begins, GS I
// erases the areas it moves or resizes. What a section that never reaches
// its commit leaves behind is what a real printer would lose.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/sim/host.h"

namespace {

using namespace simtest;

sim::Scenario Flash(bool on) {
    sim::Scenario s;
    s.flashErase = on;
    return s;
}

// The data length and checksum that GS J reports for area index k.
struct Reported {
    uint32_t length = 0;
    uint16_t sum = 0;
    uint8_t xorValue = 0;
};

Reported ReportedArea(Host& host, size_t k) {
    const Reply j = host.Gs('J', 32 + 64 * 4);
    Reported r;
    if (j.data.size() < 32 + 64 * (k + 1)) return r;
    const uint8_t* e = &j.data[32 + 64 * k];
    r.length = GetBE32(e + 20);
    r.sum = GetBE16(e + 24);
    r.xorValue = e[28];
    return r;
}

// How a section into ST that never reaches its commit ends.
struct Interruption {
    const char* name;
    // Runs after an accepted GS Q of two blocks.
    void (*after)(Host& host, const Bytes& st);
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class UnfinishedStSection : public ::testing::TestWithParam<Interruption> {};

TEST_P(UnfinishedStSection, EmptiesTheAreaOnlyOnAFlashPrinter) {
    for (bool flash : {false, true}) {
        SCOPED_TRACE(flash ? "flash" : "replace on commit");
        Host host(Flash(flash));
        const Bytes old = host.Find("ST")->data;
        host.EnterMaintenance();
        const Bytes st = Pattern(0x600, 7);
        ASSERT_EQ(host.BeginSection("ST", Descriptor(0, 1, 1, ComputeChecksum(st.data(), st.size())))
                      .code,
                  'Q');
        GetParam().after(host, st);
        // The cancel and the restart do not bring anything back.
        ASSERT_EQ(host.Gs('C', 0).code, 'C');
        host.printer->AdvanceTime(15000);
        ASSERT_TRUE(host.printer->LinkUp());
        host.EnterMaintenance();

        if (flash) {
            EXPECT_TRUE(host.Find("ST")->data.empty());
            const Reported r = ReportedArea(host, 1);
            EXPECT_EQ(r.length, 0u);
            EXPECT_EQ(r.sum, 0u);
            EXPECT_EQ(r.xorValue, 0u);
        } else {
            EXPECT_EQ(host.Find("ST")->data, old);
            EXPECT_EQ(ReportedArea(host, 1).length, old.size());
        }
        // Other areas are never touched by a section into ST.
        EXPECT_EQ(host.Find("MC")->data, sim::DefaultAreas()[0].data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, UnfinishedStSection,
    ::testing::Values(
        Interruption{"NoBlockAtAll", [](Host&, const Bytes&) {}},
        Interruption{"RefusedBlock",
                     [](Host& host, const Bytes& st) {
                         Bytes bad = Block("ST", st, 1);
                         bad[30] ^= 0xFF;  // data no longer matches its checksum
                         EXPECT_TRUE(host.WriteBlock(bad).refused());
                     }},
        Interruption{"RefusedCommit",
                     [](Host& host, const Bytes& st) {
                         Bytes other = st;
                         other[0] ^= 1;  // blocks hold, the descriptor's sum does not
                         EXPECT_EQ(host.WriteBlock(Block("ST", other, 1)).code, 'R');
                         EXPECT_TRUE(host.Gs('S', 0).refused());
                     }}),
    [](const ::testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

TEST(FlashErase, ACommittedSectionFillsTheErasedArea) {
    Host host(Flash(true));
    host.EnterMaintenance();
    const Bytes st = Pattern(0x600, 8);
    ASSERT_TRUE(host.WriteSection("ST", st, 0));
    EXPECT_EQ(host.Find("ST")->data, st);
    Bytes descriptor;
    EXPECT_EQ(host.ReadBack("ST", 4096, &descriptor), st);
    const Checksum c = ComputeChecksum(st.data(), st.size());
    EXPECT_EQ(GetBE16(&descriptor[10]), c.sum);
    EXPECT_EQ(descriptor[12], c.xorValue);
}

TEST(FlashErase, ARefusedBeginErasesNothing) {
    Host host(Flash(true));
    const Bytes old = host.Find("ST")->data;
    host.EnterMaintenance();
    // Too many blocks for the area, and a descriptor with reserved bytes set.
    EXPECT_TRUE(host.BeginSection("ST", Descriptor(0, 1, 2, Checksum{})).refused());
    Bytes reserved = Descriptor(0, 1, 1, Checksum{});
    reserved[1] = 1;
    EXPECT_TRUE(host.BeginSection("ST", reserved).refused());
    // Outside the maintenance run.
    Host idle(Flash(true));
    EXPECT_TRUE(idle.BeginSection("ST", Descriptor(0, 1, 1, Checksum{})).refused());
    EXPECT_EQ(host.Find("ST")->data, old);
    EXPECT_EQ(idle.Find("ST")->data, old);
}

TEST(FlashErase, AnImageTableErasesTheAreasItMovesOrResizes) {
    for (bool flash : {false, true}) {
        SCOPED_TRACE(flash ? "flash" : "replace on commit");
        sim::Scenario s = Flash(flash);
        s.layout = 5;
        Host host(s);
        const std::vector<sim::Area> before = host.printer->areas();
        host.EnterMaintenance();
        const Bytes table =
            ImageTable(6, {TableEntry("MC", 1, 0x600D0000, 0x11D000),   // unchanged
                           TableEntry("ST", 2, 0x601EE000, 0x600),      // moved
                           TableEntry("DP", 1, 0x601F0000, 0xFE00),     // resized, still fits
                           TableEntry("FG", 7, 0x60200000, 0x927C0)});  // attribute only
        ASSERT_EQ(host.Exchange({Header(kGs, 'I', static_cast<uint32_t>(table.size())), table})
                      .code,
                  'I');
        const std::vector<sim::Area>& after = host.printer->areas();
        ASSERT_EQ(after.size(), 4u);
        EXPECT_EQ(after[0].data, before[0].data);
        EXPECT_EQ(after[3].data, before[3].data);
        EXPECT_EQ(after[1].data.empty(), flash);
        EXPECT_EQ(after[2].data.empty(), flash);
        if (!flash) {
            EXPECT_EQ(after[1].data, before[1].data);
            EXPECT_EQ(after[2].data, before[2].data);
        }
        EXPECT_EQ(ReportedArea(host, 1).length, flash ? 0u : before[1].data.size());
    }
}

}  // namespace
