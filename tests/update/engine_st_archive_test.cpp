// The archive of the printer's own ST data: every ST area read back is
// archived, byte for byte, before anything is written into the printer; a
// run that cannot archive writes nothing; and whatever becomes of a run that
// writes ST, even over a printer that erases its areas when writing begins,
// the printer's data survives on the printer or in the archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/st_survival.h"
#include "tests/update/update_fixture.h"
#include "update/st_archive.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

// The shipped file's shape (MC, ST placeholder, DP, FG; Y, N, Y, Y) with a
// few blocks per section; its areas lie elsewhere than the printer's, so a
// flash-like printer erases them all when the new image table arrives.
Bytes SmallShippedShape() {
    std::vector<BuiltSection> s(4);
    s[0].tag = "MC";
    s[0].data = Pattern(2 * 8192 + 4096, 1);
    s[1].tag = "ST";
    s[1].data = Placeholder(1536);
    s[1].flag = 'N';
    s[1].classValue = 0;
    s[2].tag = "DP";
    s[2].data = Pattern(8192 + 7424, 3);
    s[3].tag = "FG";
    s[3].data = Pattern(1984, 4);
    return BuildLoadFile(s);
}

class StArchive : public UpdateTest {
protected:
    int Run(const UpdateOptions& options = UpdateOptions()) {
        const int result = RunFirmwareUpdate(errors.record, progress_, options, &report);
        link_open_ = false;
        return result;
    }
    Bytes PrinterSt() const {
        const sim::Area* st = FindArea(rig->printer.areas(), "ST");
        return st != nullptr ? st->data : Bytes();
    }
    UpdateReport report;
};

TEST_F(StArchive, HoldsExactlyTheBytesReadBackAndOutlivesTheRun) {
    const Bytes original = sim::DefaultAreas()[1].data;
    StArchiveWatch watch;
    Start();
    ASSERT_EQ(Run(), 0);

    const std::vector<std::filesystem::path> files = watch.NewFiles();
    ASSERT_EQ(files.size(), 1u);
    ASSERT_EQ(report.archived.size(), 1u);
    EXPECT_EQ(std::filesystem::path(report.archived[0]), files[0]);
    EXPECT_EQ(StArchiveWatch::Read(files[0]), original);
    // In the per-user state folder, named for the printer.
    const char* state = std::getenv("XDG_STATE_HOME");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(files[0].parent_path(), std::filesystem::path(state) / "quillon" / "st");
    std::string identifier;
    ASSERT_TRUE(StArchiveIdentifier(files[0].string(), &identifier)) << files[0];
    EXPECT_EQ(identifier, "ZKQ00001");
    EXPECT_EQ(report.identifier, "ZKQ00001");
    // The working backup file is gone, the archive is not; the same
    // printer's layout needed no ST write.
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_FALSE(report.stWriteBegun);

    // A second run adds a file and leaves the first one as it was.
    CloseLink();
    g_linkKind = 0;
    rig.reset();
    StArchiveWatch second(watch.folder());
    Start();
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(second.NewFiles().size(), 1u);
    EXPECT_NE(second.NewFiles()[0], files[0]);
    EXPECT_EQ(StArchiveWatch::Read(files[0]), original);
}

TEST_F(StArchive, AReadBackOfTheSameDataAddsNoSecondFile) {
    // Another layout: the ST area is read again before it is written.
    sim::Scenario scenario;
    scenario.layout = 5;
    StArchiveWatch watch;
    Start(scenario);
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(CountFrames(frames(), 'U', preamble), 2u);
    EXPECT_EQ(watch.NewFiles().size(), 1u);
    EXPECT_EQ(report.archived.size(), 1u);
    EXPECT_TRUE(report.stWriteBegun);
    EXPECT_EQ(PrinterSt(), sim::DefaultAreas()[1].data);
}

// The archive cannot be had: its folder cannot be made (0x53), or no file
// can be written in it (0x54). Either ends the run before anything is
// written into the printer.
struct ArchiveFailure {
    const char* name;
    uint8_t category;
};

void PrintTo(const ArchiveFailure& c, std::ostream* os) { *os << c.name; }

class UnwritableArchive : public StArchive, public ::testing::WithParamInterface<ArchiveFailure> {};

TEST_P(UnwritableArchive, EndsTheRunBeforeAnyWrite) {
    UpdateOptions options;
    if (GetParam().category == 0x53) {
        // The folder would lie below a regular file.
        std::ofstream(cwd.path() / "plain") << "not a folder";
        options.archiveFolder = (cwd.path() / "plain" / "st").string();
    } else {
        // The folder exists, but no file can be made in it (not even by
        // root).
        options.archiveFolder = "/proc";
    }
    sim::Scenario scenario;
    scenario.layout = 5;  // the update would write ST
    scenario.flashErase = true;
    Start(scenario);
    const Bytes original = PrinterSt();

    EXPECT_EQ(Run(options), 4);
    EXPECT_EQ(errors.category, GetParam().category);
    EXPECT_NE(errors.detail, 0u);
    for (char letter : {'I', 'Q', 'R', 'S', 'N', 'B'})
        EXPECT_EQ(CountFrames(frames(), letter, preamble), 0u) << "GS " << letter << " was sent";
    EXPECT_EQ(CountFrames(frames(), 'C', preamble), 1u);
    EXPECT_EQ(PrinterSt(), original);
    EXPECT_TRUE(report.archived.empty());
    EXPECT_FALSE(report.stWriteBegun);
    if (GetParam().category == 0x53) {
        EXPECT_TRUE(std::filesystem::is_regular_file(cwd.path() / "plain"));
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, UnwritableArchive,
                         ::testing::Values(ArchiveFailure{"FolderCannotBeMade", 0x53}
#ifdef __linux__
                                           ,
                                           ArchiveFailure{"FileCannotBeWritten", 0x54}
#endif
                                           ),
                         [](const auto& info) { return std::string(info.param.name); });

// A failure once the ST area may have been opened for writing.
struct StWriteFault {
    const char* name;
    sim::Fault fault;
    bool erasesOnFlash;  // a flash-like printer has lost its ST data by then
};

void PrintTo(const StWriteFault& c, std::ostream* os) { *os << c.name; }


class StWriteFailure : public StArchive, public ::testing::WithParamInterface<StWriteFault> {
protected:
    void SetUp() override {
        StArchive::SetUp();
        file_ = SmallShippedShape();
        platform::SetLoadFileOverride(file_.data(), file_.size());
    }
    Bytes file_;
};

TEST_P(StWriteFailure, LeavesThePrinterDataOnThePrinterOrInTheArchive) {
    for (bool flash : {false, true}) {
        SCOPED_TRACE(flash ? "flash-like printer" : "printer that replaces on commit");
        sim::Scenario scenario;
        scenario.layout = 5;
        scenario.flashErase = flash;
        scenario.faults = {GetParam().fault};
        const Bytes original = sim::DefaultAreas()[1].data;
        StArchiveWatch watch;
        errors.category = 0;
        errors.detail = 0;
        Start(scenario);

        EXPECT_EQ(Run(), 4);
        EXPECT_EQ(rig->printer.stats().faultsFired, 1u);
        EXPECT_TRUE(report.stWriteBegun);
        EXPECT_EQ(errors.category, 0);
        EXPECT_TRUE(watch.Survived(original, PrinterSt()));
        // Over a flash-like printer only the archive holds it.
        if (flash && GetParam().erasesOnFlash) {
            EXPECT_NE(PrinterSt(), original);
        } else {
            EXPECT_EQ(PrinterSt(), original);
        }
        ASSERT_EQ(watch.NewFiles().size(), 1u);
        EXPECT_EQ(StArchiveWatch::Read(watch.NewFiles()[0]), original);

        CloseLink();
        g_linkKind = 0;
        rig.reset();
    }
}

// With the small file: MC has 3 blocks, so ST's only block is the 4th GS R
// and its commit the 2nd GS S.
INSTANTIATE_TEST_SUITE_P(
    Faults, StWriteFailure,
    ::testing::Values(
        StWriteFault{"StBlockRefused", sim::GsFault('R', 4, sim::FaultAction::kNak), true},
        StWriteFault{"LinkDroppedAtTheStBlock", sim::GsFault('R', 4, sim::FaultAction::kDrop), true},
        StWriteFault{"StCommitRefused", sim::GsFault('S', 2, sim::FaultAction::kNak), true},
        StWriteFault{"PrinterSilentAtTheStSection", sim::GsFault('Q', 2, sim::FaultAction::kSilent), true},
        StWriteFault{"LinkDroppedAfterTheImageTable", sim::GsFault('Q', 1, sim::FaultAction::kDrop), true},
        StWriteFault{"ImageTableRefused", sim::GsFault('I', 1, sim::FaultAction::kNak), false}),
    [](const ::testing::TestParamInfo<StWriteFault>& info) { return std::string(info.param.name); });

}  // namespace
