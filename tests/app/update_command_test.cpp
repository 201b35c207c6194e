// The Firmware Update button, the Exit button, the cancel command and the
// keys while the dialog waits: every row of the message table after
// identification, against the virtual printer in virtual time.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "platform/clock.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

using platform::kIdNo;
using platform::kIdOk;
using platform::kIdYes;

constexpr uint32_t kYesNo = platform::kMbYesNo | platform::kMbIconExclamation;  // 0x34

using sim::GsFault;

class UpdateCommandTest : public AppTest {
protected:
    bool UpdateRan() const { return CountGs('O') > 0; }
    void ExpectUpdatingState() const {
        EXPECT_FALSE(dlg.IsItemVisible(kIdcUpdate));
        EXPECT_FALSE(dlg.IsItemVisible(kIdcExit));
        EXPECT_EQ(dlg.GetDlgItemText(kIdcMessage), BoxText(kIdsUpdating));
    }
};

TEST_F(UpdateCommandTest, SuccessShowsMessage117) {
    // The buttons are hidden and message 119 shows before the update runs.
    bool updatingShown = false;
    window.onBox = [&](const WindowCall&) {
        updatingShown = !dlg.IsItemVisible(kIdcUpdate) && !dlg.IsItemVisible(kIdcExit) &&
                        window.LastText(kIdcMessage) == BoxText(kIdsUpdating);
    };
    EXPECT_EQ(PressUpdate(sim::Scenario(), {kIdOk}), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "ファームウェアのアップデートが完了しました。");
    EXPECT_EQ(boxes[0].caption, "ZK-Q870 Firmware Updater");
    EXPECT_EQ(boxes[0].style, platform::kMbOk);
    EXPECT_TRUE(updatingShown);
    ExpectUpdatingState();
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdated);
    EXPECT_EQ(rig->printer.version(), "1.3 ");
    EXPECT_EQ(rig->usb.openHandles(), 0) << "the update closed the link";
}

struct VersionCase {
    const char* name;
    std::string imageVersion;  // the printer's version field (padded to 16)
    bool asks;                 // confirmation 115
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class VersionComparisonTest : public UpdateCommandTest,
                              public ::testing::WithParamInterface<VersionCase> {};

// Older versions update at once; others ask, and No ends with 114.
TEST_P(VersionComparisonTest, AsksOnlyWhenThePrinterIsNotOlder) {
    const VersionCase& c = GetParam();
    sim::Scenario s;
    s.imageVersion = c.imageVersion;
    if (c.asks) {
        EXPECT_EQ(PressUpdate(s, {kIdNo, kIdOk}), kIdOk);
        const auto boxes = window.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text,
                  FormatStringText(kIdsConfirmOlder, dlg.m_strCurrentVersion.c_str(), "1.3"));
        EXPECT_EQ(boxes[0].caption, "確認");
        EXPECT_EQ(boxes[0].style, kYesNo);
        EXPECT_EQ(boxes[1].text, BoxText(kIdsUpdateAborted));
        EXPECT_EQ(boxes[1].caption, "確認");
        EXPECT_EQ(boxes[1].style, platform::kMbOk);
        EXPECT_FALSE(UpdateRan());
        EXPECT_EQ(dlg.m_outcome, DialogOutcome::kDeclined);
        ExpectUpdatingState();  // no way back to waiting
    } else {
        EXPECT_EQ(PressUpdate(s, {kIdOk}), kIdOk);
        const auto boxes = window.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, BoxText(kIdsUpdateDone));
        EXPECT_TRUE(UpdateRan());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionComparisonTest,
    ::testing::Values(VersionCase{"older_1_2", "1.2", false}, VersionCase{"equal_1_3", "1.3", true},
                      VersionCase{"older_1_10", "1.10", false},
                      VersionCase{"newer_2_0", "2.0", true},
                      // Bytes 12 to 15 take no part in the comparison.
                      VersionCase{"equal_up_to_byte_12", "1.3         ZZZZ", true},
                      VersionCase{"older_only_after_byte_12", "1.3         \x01\x01\x01\x01", true},
                      VersionCase{"sixteen_zero_bytes", std::string(16, '\0'), false}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(VersionCompareTest, FirstTwelveBytesUnsigned) {
    const auto field = [](const char* text) {
        std::array<uint8_t, 16> f;
        f.fill(' ');
        std::memcpy(f.data(), text, std::strlen(text) < 16 ? std::strlen(text) : 16);
        return f;
    };
    const auto update = field("1.3");
    EXPECT_TRUE(IsOlderVersion(field("1.2").data(), update.data()));
    EXPECT_TRUE(IsOlderVersion(field("1.10").data(), update.data()));
    EXPECT_FALSE(IsOlderVersion(field("1.3").data(), update.data()));
    EXPECT_FALSE(IsOlderVersion(field("2.0").data(), update.data()));
    EXPECT_FALSE(IsOlderVersion(field("1.3\xE9").data(), update.data())) << "bytes are unsigned";
    EXPECT_FALSE(IsOlderVersion(field("1.3         AAAA").data(), update.data()));
    std::array<uint8_t, 16> zeros{};
    EXPECT_TRUE(IsOlderVersion(zeros.data(), update.data()));
    EXPECT_EQ(std::memcmp(kNewVersion, "1.3             ", 16), 0);
}

TEST_F(UpdateCommandTest, YesToTheConfirmationRunsTheUpdate) {
    sim::Scenario s;
    s.imageVersion = "2.0";
    EXPECT_EQ(PressUpdate(s, {kIdYes, kIdOk}), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(
        boxes[0].text,
        "アップデートするファームウェアが、現在のファームウェアと等しいか古いバージョンです。\n"
        "ファームウェアを更新してよろしいですか？\n\n現在のバージョン：Ver2."
        "0\nアップデート後：Ver1.3");
    EXPECT_EQ(boxes[1].text, BoxText(kIdsUpdateDone));
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdated);
}

TEST_F(UpdateCommandTest, FailureWithoutACodeShowsMessage116) {
    sim::Scenario s;
    s.faults.push_back(GsFault('R', 3, sim::FaultAction::kNak));
    EXPECT_EQ(PressUpdate(s, {kIdOk}), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, BoxText(kIdsUpdateFailed));
    EXPECT_EQ(boxes[0].caption, "エラー");
    EXPECT_EQ(boxes[0].style, platform::kMbIconHand);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdateFailed);
}

TEST_F(UpdateCommandTest, FailedUsbTransferShowsTheLinkRecord) {
    sim::Scenario s;
    s.faults.push_back(GsFault('R', 3, sim::FaultAction::kDrop));
    s.dropReturnMs = 5000;
    Printer(s);
    rig->usb.SetFailureCode(0x1F);
    window.messages = {platform::CommandMessage(kIdcUpdate)};
    window.answers = {kIdOk};
    EXPECT_EQ(Run(), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    ASSERT_NE(g_printerIO.m_errorCategory, 0);
    EXPECT_EQ(boxes[0].text, InternalError(g_printerIO.m_errorCategory, g_printerIO.m_errorDetail));
    EXPECT_EQ(g_printerIO.m_errorDetail, 0x1Fu);
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].style, platform::kMbIconExclamation);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdateFailed);
}

TEST_F(UpdateCommandTest, FailedBackupFileShowsTheUpdateRecord) {
    // The backup file's name is taken by a directory: it cannot be created.
    std::filesystem::create_directory(cwd.path() / "ZKQ00001QX.qfw");
    EXPECT_EQ(PressUpdate(sim::Scenario(), {kIdOk}), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    ASSERT_TRUE(dlg.m_updateErrorCategory == 0x51 || dlg.m_updateErrorCategory == 0x61)
        << std::hex << unsigned{dlg.m_updateErrorCategory};
    EXPECT_NE(dlg.m_updateErrorDetail, 0u);
    EXPECT_EQ(boxes[0].text, InternalError(dlg.m_updateErrorCategory, dlg.m_updateErrorDetail));
    EXPECT_EQ(boxes[0].caption, "確認");
}

TEST_F(UpdateCommandTest, TheLinkRecordComesBeforeTheUpdateRecord) {
    g_printerIO.RecordError(2, 0x1F);
    dlg.RecordUpdateError(0x71, 2);
    uint8_t category = 0;
    uint32_t detail = 0;
    ASSERT_TRUE(dlg.InternalErrorCode(&category, &detail));
    EXPECT_EQ(category, 2);
    EXPECT_EQ(detail, 0x1Fu);
}

TEST_F(UpdateCommandTest, UpdateRecordAloneGivesItsCode) {
    dlg.RecordUpdateError(0x71, 2);
    uint8_t category = 0;
    uint32_t detail = 0;
    ASSERT_TRUE(dlg.InternalErrorCode(&category, &detail));
    EXPECT_EQ(InternalError(category, detail).substr(InternalError(category, detail).size() - 11),
              "71-00000002");
}

TEST_F(UpdateCommandTest, ExitShows114AndReleasesTheLink) {
    Printer();
    window.messages = {platform::CommandMessage(kIdcExit)};
    window.answers = {kIdOk};
    int handlesWhileAsking = -1;
    window.onBox = [&](const WindowCall&) { handlesWhileAsking = rig->usb.openHandles(); };
    EXPECT_EQ(Run(), kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, BoxText(kIdsUpdateAborted));
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].style, platform::kMbOk);
    EXPECT_EQ(handlesWhileAsking, 1) << "the link is closed after the message";
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_FALSE(UpdateRan());
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kExited);
}

TEST_F(UpdateCommandTest, TheCancelCommandReleasesSilently) {
    Printer();
    window.messages = {platform::CloseMessage()};
    EXPECT_EQ(Run(), platform::kIdCancel);
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kClosed);
}

TEST_F(UpdateCommandTest, EnterAndEscapeDoNothingWhileWaiting) {
    Printer();
    // Enter would press "終了" (message 114 at once) and Escape would close
    // the dialog: neither happens, and the Exit button still works after.
    window.messages = {platform::KeyDownMessage(platform::kVkReturn),
                       platform::KeyDownMessage(platform::kVkEscape),
                       platform::CommandMessage(kIdcExit)};
    window.answers = {kIdOk};
    EXPECT_EQ(Run(), kIdOk);
    EXPECT_EQ(window.Boxes().size(), 1u);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kExited);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(UpdateCommandTest, TheSpaceBarPressesTheFocusedUpdateButton) {
    Printer();
    window.messages = {platform::KeyDownMessage(platform::kVkSpace)};
    window.answers = {kIdOk};
    EXPECT_EQ(Run(), kIdOk);
    EXPECT_TRUE(UpdateRan());
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdated);
}

}  // namespace
}  // namespace apptest
