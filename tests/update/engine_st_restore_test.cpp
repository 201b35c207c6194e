// A service restore: an archived ST copy goes back into the printer as the
// ST section alone, with the frames, checks and failure handling of an
// update; a copy that names another printer, does not fit or holds nothing
// is refused before anything is written.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/sections_sent.h"
#include "tests/update/st_survival.h"
#include "tests/update/update_fixture.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

class StRestore : public UpdateTest {
protected:
    int Run(const StRestoreRequest& request) {
        UpdateOptions options;
        options.restore = &request;
        const int result = RunFirmwareUpdate(errors.record, progress_, options, &report);
        link_open_ = false;
        return result;
    }
    Bytes PrinterSt() const {
        const sim::Area* st = FindArea(rig->printer.areas(), "ST");
        return st != nullptr ? st->data : Bytes();
    }
    static StRestoreRequest Copy(Bytes data, std::string identifier = "ZKQ00001") {
        StRestoreRequest r;
        r.data = std::move(data);
        r.identifier = std::move(identifier);
        return r;
    }
    UpdateReport report;
};

TEST_F(StRestore, WritesOnlyTheStSectionAndKeepsTheFirmware) {
    for (uint32_t layout : {6u, 5u}) {
        SCOPED_TRACE("printer layout " + std::to_string(layout));
        sim::Scenario scenario;
        scenario.layout = layout;
        scenario.flashErase = true;
        const Bytes before = sim::DefaultAreas()[1].data;
        const Bytes copy = Pattern(1000, 9);  // smaller than the area
        StArchiveWatch watch;
        Start(scenario);
        const StRestoreRequest request = Copy(copy);

        ASSERT_EQ(Run(request), 0);
        EXPECT_EQ(PrinterSt(), copy);
        EXPECT_EQ(rig->printer.version(), "1.2 ");  // the firmware is untouched
        EXPECT_EQ(rig->printer.layout(), layout);
        const std::vector<SentSection> sent = SectionsSent(frames(), preamble);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].tag, "ST");
        EXPECT_EQ(sent[0].data, copy);
        EXPECT_TRUE(sent[0].committed);
        const Checksum c = ComputeChecksum(copy.data(), copy.size());
        EXPECT_EQ(sent[0].descriptor, Descriptor(0, 1, 1, c.sum, c.xorValue));
        for (char letter : {'I', 'N'}) EXPECT_EQ(CountFrames(frames(), letter, preamble), 0u);
        EXPECT_EQ(CountFrames(frames(), 'B', preamble), 1u);
        EXPECT_EQ(CountFrames(frames(), 'C', preamble), 0u);
        EXPECT_TRUE(report.stWriteBegun);
        // What the printer held before is archived first.
        ASSERT_EQ(report.archived.size(), 1u);
        ASSERT_EQ(watch.NewFiles().size(), 1u);
        EXPECT_EQ(StArchiveWatch::Read(watch.NewFiles()[0]), before);
        EXPECT_TRUE(cwd.Files().empty());

        CloseLink();
        g_linkKind = 0;
        rig.reset();
    }
}

TEST_F(StRestore, AnotherPrintersCopyGoesOnlyWhenForced) {
    sim::Scenario scenario;
    const Bytes copy = Pattern(1536, 10);
    Start(scenario);
    StRestoreRequest request = Copy(copy, "ZKQ00002");
    request.anyPrinter = true;
    ASSERT_EQ(Run(request), 0);
    EXPECT_EQ(PrinterSt(), copy);
    EXPECT_EQ(report.refusal, RestoreRefusal::kNone);
}

struct Refusal {
    const char* name;
    Bytes data;
    std::string identifier;
    bool noStArea;
    RestoreRefusal expected;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class StRestoreRefused : public StRestore, public ::testing::WithParamInterface<Refusal> {};

TEST_P(StRestoreRefused, WritesNothingAndCancelsTheRun) {
    const Refusal& c = GetParam();
    sim::Scenario scenario;
    scenario.flashErase = true;
    if (c.noStArea) {
        scenario.areas = sim::DefaultAreas();
        scenario.areas.erase(scenario.areas.begin() + 1);
    }
    Start(scenario);
    const Bytes before = PrinterSt();
    const StRestoreRequest request = Copy(c.data, c.identifier);

    EXPECT_EQ(Run(request), 4);
    EXPECT_EQ(report.refusal, c.expected);
    for (char letter : {'I', 'Q', 'R', 'S', 'N', 'B'})
        EXPECT_EQ(CountFrames(frames(), letter, preamble), 0u) << "GS " << letter << " was sent";
    // The maintenance run is cancelled as after any failure.
    EXPECT_EQ(CountFrames(frames(), 'C', preamble), 1u);
    EXPECT_EQ(rig->printer.mode(), sim::kModeNormal);
    EXPECT_EQ(PrinterSt(), before);
    EXPECT_FALSE(report.stWriteBegun);
    EXPECT_EQ(errors.category, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, StRestoreRefused,
    ::testing::Values(
        Refusal{"AnotherPrinter", Pattern(1536, 1), "ZKQ00002", false,
                RestoreRefusal::kOtherPrinter},
        Refusal{"OneByteTooLarge", Pattern(1537, 1), "ZKQ00001", false, RestoreRefusal::kTooLarge},
        Refusal{"Empty", Bytes(), "ZKQ00001", false, RestoreRefusal::kEmpty},
        Refusal{"PrinterWithoutStArea", Pattern(100, 1), "ZKQ00001", true,
                RestoreRefusal::kNoStArea}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(StRestore, AFailedWriteKeepsThePrintersDataInTheArchive) {
    // The block of the copy is refused; the flash-like printer has erased
    // its area by then.
    sim::Scenario scenario;
    scenario.flashErase = true;
    sim::Fault fault;
    fault.introducer = 0x1D;
    fault.letter = 'R';
    fault.action = sim::FaultAction::kNak;
    scenario.faults = {fault};
    const Bytes before = sim::DefaultAreas()[1].data;
    StArchiveWatch watch;
    Start(scenario);
    const StRestoreRequest request = Copy(Pattern(1536, 11));

    EXPECT_EQ(Run(request), 4);
    EXPECT_TRUE(report.stWriteBegun);
    EXPECT_EQ(CountFrames(frames(), 'C', preamble), 1u);
    EXPECT_TRUE(PrinterSt().empty());
    EXPECT_TRUE(watch.Survived(before, PrinterSt()));
}

}  // namespace
