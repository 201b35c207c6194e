// What the dialog adds for the printer's own ST data: after a failed run
// that may have changed the printer's ST area, a second box names the
// archived copy; a restore has no message of its own; and the front end is
// told exactly when the engine starts and when it has returned.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/maintenance_run.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

using platform::kIdNo;
using platform::kIdOk;

using sim::GsFault;

using StArchiveNotice = AppTest;

TEST_F(StArchiveNotice, FollowsTheFailureMessageOnceStWasOpenedForWriting) {
    // Another layout: ST is written after MC (143 blocks); its block is
    // refused.
    sim::Scenario s;
    s.layout = 5;
    s.flashErase = true;
    s.faults.push_back(GsFault('R', 144, sim::FaultAction::kNak));
    EXPECT_EQ(PressUpdate(s, {kIdOk, kIdOk}), kIdOk);

    ASSERT_EQ(dlg.m_updateReport.archived.size(), 1u);
    const std::string path = dlg.m_updateReport.archived[0];
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, BoxText(kIdsUpdateFailed));
    EXPECT_EQ(boxes[1].text, FormatStringText(kIdsStArchived, path.c_str()));
    EXPECT_NE(boxes[1].text.find("プリンター固有のデータ（ST）"), std::string::npos);
    EXPECT_EQ(boxes[1].caption, "確認");
    EXPECT_EQ(boxes[1].style, platform::kMbIconExclamation);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdateFailed);
}

struct QuietCase {
    const char* name;
    uint32_t layout;
    bool fail;  // an MC block is refused
};

class StArchiveQuiet : public StArchiveNotice, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(StArchiveQuiet, WhenStWasNeverOpenedOrTheRunSucceeded) {
    const QuietCase& c = GetParam();
    sim::Scenario s;
    s.layout = c.layout;
    if (c.fail) s.faults.push_back(GsFault('R', 3, sim::FaultAction::kNak));
    EXPECT_EQ(PressUpdate(s, {kIdOk}), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, BoxText(c.fail ? kIdsUpdateFailed : kIdsUpdateDone));
    // The copy is archived all the same.
    EXPECT_EQ(dlg.m_updateReport.archived.size(), 1u);
    EXPECT_EQ(dlg.m_updateReport.stWriteBegun, c.layout != 6);
}

INSTANTIATE_TEST_SUITE_P(Runs, StArchiveQuiet,
                         ::testing::Values(QuietCase{"McBlockRefusedSameLayout", 6, true},
                                           QuietCase{"SuccessOtherLayout", 5, false}),
                         [](const ::testing::TestParamInfo<QuietCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(StArchiveNotice, ARestoreEndsWithoutAMessageOfItsOwn) {
    StRestoreRequest copy;
    copy.data.assign(1536, 0x42);
    copy.identifier = "ZKQ00001";
    dlg.m_restore = &copy;
    // The printer's version is the update's: a restore asks nothing.
    sim::Scenario s;
    s.imageVersion = "1.3";
    s.version = "1.3";
    EXPECT_EQ(PressUpdate(s, {}), kIdOk);
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kRestored);
    EXPECT_EQ(CountGs('Q'), 1u);
    EXPECT_EQ(CountGs('N'), 0u);

}

TEST_F(StArchiveNotice, ARefusedRestoreEndsWithoutAMessageOfItsOwn) {
    StRestoreRequest copy;
    copy.data.assign(1536, 0x42);
    copy.identifier = "ZKQ00002";
    dlg.m_restore = &copy;
    EXPECT_EQ(PressUpdate(sim::Scenario(), {}), kIdOk);
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kRestoreRefused);
    EXPECT_EQ(dlg.m_updateReport.refusal, RestoreRefusal::kOtherPrinter);
    EXPECT_EQ(CountGs('Q'), 0u);
}

// Notes what the printer had received when the run began and ended.
class RunRecorder : public IMaintenanceRunObserver {
public:
    explicit RunRecorder(const std::unique_ptr<sim::InProcessRig>& rig) : m_rig(rig) {}
    void OnRunBegins() override { begins.push_back(m_rig->printer.frames().size()); }
    void OnRunEnds() override { ends.push_back(m_rig->printer.frames().size()); }
    std::vector<size_t> begins, ends;

private:
    const std::unique_ptr<sim::InProcessRig>& m_rig;
};

TEST_F(StArchiveNotice, TheRunIsFramedByTheEngineAlone) {
    RunRecorder recorder(rig);
    dlg.m_runObserver = &recorder;
    EXPECT_EQ(PressUpdate(sim::Scenario(), {kIdOk}), kIdOk);
    ASSERT_EQ(recorder.begins.size(), 1u);
    ASSERT_EQ(recorder.ends.size(), 1u);
    // It begins before the engine's first frame (FS Y) and ends after its
    // last (FS Y after the restart).
    const std::vector<sim::Frame>& f = frames();
    ASSERT_LT(recorder.begins[0], f.size());
    EXPECT_EQ(f[recorder.begins[0]].introducer, 0x1C);
    EXPECT_EQ(f[recorder.begins[0]].letter, 'Y');
    EXPECT_EQ(recorder.ends[0], f.size());
    for (size_t k = 0; k < recorder.begins[0]; ++k)
        EXPECT_FALSE(f[k].introducer == 0x1D && f[k].letter == 'O') << "the engine ran before";

}

TEST_F(StArchiveNotice, ADeclinedConfirmationRunsNoEngine) {
    RunRecorder recorder(rig);
    dlg.m_runObserver = &recorder;
    sim::Scenario same;
    same.imageVersion = "1.3";
    EXPECT_EQ(PressUpdate(same, {kIdNo, kIdOk}), kIdOk);
    EXPECT_TRUE(recorder.begins.empty());
    EXPECT_TRUE(recorder.ends.empty());
}

}  // namespace
}  // namespace apptest
