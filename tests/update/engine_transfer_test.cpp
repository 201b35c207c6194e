// Section transfer against the virtual printer with small load files built
// in the test: which sections go under which selection, the capacity check,
// and how sections are cut into blocks.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/sections_sent.h"
#include "tests/update/update_fixture.h"
#include "update/load_image.h"
#include "update/update_context.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

// MC 300 bytes, ST 200 bytes of real data, DP 100 bytes.
std::vector<BuiltSection> ThreeSections(const char flags[3]) {
    std::vector<BuiltSection> s(3);
    s[0].tag = "MC";
    s[0].data = Pattern(300, 1);
    s[1].tag = "ST";
    s[1].data = Pattern(200, 2);
    s[1].classValue = 0;
    s[2].tag = "DP";
    s[2].data = Pattern(100, 3);
    for (int k = 0; k < 3; ++k) s[k].flag = static_cast<uint8_t>(flags[k]);
    return s;
}

class Transfer : public UpdateTest {
protected:
    void Prepare(const std::vector<BuiltSection>& sections, const sim::Scenario& scenario) {
        file_ = BuildLoadFile(sections);
        platform::SetLoadFileOverride(file_.data(), file_.size());
        Start(scenario);
        ctx = std::make_unique<UpdateContext>(errors.record, nullptr);
        ASSERT_EQ(OpenLoadImage(&ctx->image), LoadImageStatus::kOk);
        from = frames().size();
    }
    std::string TransferOrder() const { return FrameOrder(frames(), from); }

    std::unique_ptr<UpdateContext> ctx;
    size_t from = 0;

private:
    Bytes file_;
};

struct SelectionCase {
    const char* name;
    const char* flags;
    uint32_t printerLayout;
    char selection;
    std::string order;
    std::vector<std::string> sent;
    friend void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }
};

class Selection : public Transfer, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, DecidesWhatGoes) {
    const SelectionCase& c = GetParam();
    sim::Scenario scenario;
    scenario.layout = c.printerLayout;
    const std::vector<BuiltSection> sections = ThreeSections(c.flags);
    Prepare(sections, scenario);
    ASSERT_EQ(TransferSections(*ctx), 0);
    EXPECT_EQ(ctx->selection, c.selection);
    EXPECT_EQ(TransferOrder(), c.order);
    const std::vector<SentSection> sent = SectionsSent(frames(), from);
    std::vector<std::string> tags;
    for (const SentSection& s : sent) {
        tags.push_back(s.tag);
        for (const BuiltSection& b : sections) {
            if (b.tag != s.tag) continue;
            EXPECT_EQ(s.data, b.data) << s.tag;
            const Checksum sum = ComputeChecksum(b.data.data(), b.data.size());
            EXPECT_EQ(s.descriptor, Descriptor(uint8_t(b.classValue), 1, 1, sum.sum, sum.xorValue));
        }
    }
    EXPECT_EQ(tags, c.sent);
}

const char kAllThree[] = "J32 Q15 R328 S Q15 R228 S Q15 R128 S";

INSTANTIATE_TEST_SUITE_P(
    Flags, Selection,
    ::testing::Values(
        SelectionCase{"AllYSameLayout", "YYY", 6, 'Y', std::string(kAllThree) + " N16",
                      {"MC", "ST", "DP"}},
        SelectionCase{"AllYOtherLayout", "YYY", 5, 'Y', std::string(kAllThree) + " N16",
                      {"MC", "ST", "DP"}},
        SelectionCase{"AllN", "NNN", 6, 'N',
                      "J32 J288 Q15 R328 S Q15 R228 S Q15 R128 S", {"MC", "ST", "DP"}},
        SelectionCase{"MixedSameLayout", "YNY", 6, 'Y', "J32 Q15 R328 S Q15 R128 S N16",
                      {"MC", "DP"}},
        SelectionCase{"MixedOtherLayout", "YNY", 5, ' ',
                      "J32 I224 Q15 R328 S Q15 R228 S Q15 R128 S N16", {"MC", "ST", "DP"}},
        SelectionCase{"MixedLayoutZero", "NYN", 0, ' ',
                      "J32 I224 Q15 R328 S Q15 R228 S Q15 R128 S N16", {"MC", "ST", "DP"}},
        SelectionCase{"AllOtherValue", "XXX", 6, 'X', "J32", {}}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

TEST_F(Transfer, CapacityCheckFailsBeforeAnySection) {
    sim::Scenario scenario;
    scenario.areas = sim::DefaultAreas();
    for (sim::Area& a : scenario.areas)
        if (a.tag == "DP") a.areaSize = 99;  // the load file's DP has 100 bytes
    Prepare(ThreeSections("NNN"), scenario);
    EXPECT_EQ(TransferSections(*ctx), 4);
    EXPECT_EQ(TransferOrder(), "J32 J288");
}

TEST_F(Transfer, CapacityCheckAcceptsASectionThatFillsItsArea) {
    sim::Scenario scenario;
    scenario.areas = sim::DefaultAreas();
    for (sim::Area& a : scenario.areas)
        if (a.tag == "DP") a.areaSize = 100;
    Prepare(ThreeSections("NNN"), scenario);
    EXPECT_EQ(TransferSections(*ctx), 0);
    EXPECT_EQ(CountFrames(frames(), 'Q', from), 3u);
}

TEST_F(Transfer, BlocksOfEmptyFullAndOneOverSections) {
    std::vector<BuiltSection> s(3);
    s[0].tag = "MC";
    s[0].data = Pattern(8193, 1);
    s[1].tag = "DP";
    s[1].data = Pattern(8192, 2);
    s[2].tag = "FG";
    s[2].data = {};
    Prepare(s, sim::Scenario());
    ASSERT_EQ(TransferSections(*ctx), 0);
    EXPECT_EQ(TransferOrder(), "J32 Q15 R8220 R29 S Q15 R8220 S Q15 S N16");
    const std::vector<SentSection> sent = SectionsSent(frames(), from);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].blockLengths, (std::vector<uint32_t>{8192, 1}));
    EXPECT_EQ(sent[0].data, s[0].data);
    EXPECT_EQ(sent[1].blockLengths, (std::vector<uint32_t>{8192}));
    EXPECT_TRUE(sent[2].blockLengths.empty());
    EXPECT_EQ(sent[2].descriptor, Descriptor(1, 1, 0, 0, 0));
    EXPECT_TRUE(sent[2].committed);
    // The second block of MC: number 2, offset 8,192, one byte.
    const std::vector<sim::Frame> r = FramesOf(frames(), 'R', from);
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(BE16(r[1].payload.data() + 2), 2);
    EXPECT_EQ(BE32(r[1].payload.data() + 16), 8192u);
    EXPECT_EQ(BE32(r[1].payload.data() + 20), 1u);
}

TEST_F(Transfer, PlaceholderNeverLeavesForThePrinter) {
    std::vector<BuiltSection> s = ThreeSections("YYY");
    s[1].data = Placeholder(200);
    Prepare(s, sim::Scenario());
    EXPECT_EQ(TransferSections(*ctx), 4);
    EXPECT_EQ(TransferOrder(), "J32");
}

TEST_F(Transfer, SlotThatNoLongerMatchesThePrintersTableIsNotSent) {
    sim::Scenario scenario;
    scenario.layout = 5;
    Prepare(ThreeSections("YNY"), scenario);
    // The map names printer entry 1 (ST, 1,536 bytes), but the slot holds
    // a different length: the table changed after the read-back.
    ASSERT_TRUE(ctx->printerTable.block.Allocate(288));
    ctx->printerTable.entries = 4;
    ASSERT_EQ(FwCommand(kFwCodeReadTable, 0, ctx->printerTable.block.data(), 288), 0);
    ASSERT_TRUE(ctx->slots[1].Allocate(1000));
    ctx->map[1] = 1;
    from = frames().size();
    EXPECT_EQ(TransferSections(*ctx), 4);
    EXPECT_EQ(TransferOrder(), "J32");
}

}  // namespace
