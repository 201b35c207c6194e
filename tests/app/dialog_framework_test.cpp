// The dialog framework: the modal loop, default keyboard handling, focus,
// and the window's side as a test drives it.
#include <gtest/gtest.h>

#include <ostream>

#include "platform/dialog.h"
#include "tests/app/fake_window.h"

namespace {

using apptest::FakeWindow;
using apptest::WindowCall;

constexpr int kButton = 1013;
constexpr int kStatic = 100;

platform::DialogTemplate TwoButtons() {
    platform::DialogTemplate t;
    t.id = 134;
    t.caption = "caption";
    t.controls = {
        {kButton, platform::ControlKind::kPushButton, "update", true, true},
        {kStatic, platform::ControlKind::kStatic, "", false, true},
        {platform::kIdOk, platform::ControlKind::kDefaultPushButton, "exit", true, true},
    };
    return t;
}

class RecordingDialog : public platform::CDialog {
public:
    RecordingDialog() : CDialog(TwoButtons()) {}
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        SetDlgItemText(kStatic, "ready");
        if (endInInit) EndDialog(platform::kIdCancel);
        return true;
    }
    bool OnCommand(int id) override {
        commands.push_back(id);
        if (id == kButton) {
            EndDialog(platform::kIdOk);
            return true;
        }
        return CDialog::OnCommand(id);
    }
    bool endInInit = false;
    std::vector<int> commands;
};

TEST(DialogFrameworkTest, AnswersAndSafeAnswers) {
    EXPECT_EQ(platform::AnswersOf(platform::kMbRetryCancel | platform::kMbIconExclamation),
              (std::vector<int>{platform::kIdRetry, platform::kIdCancel}));
    EXPECT_EQ(platform::SafeAnswer(0x35), platform::kIdCancel);
    EXPECT_EQ(platform::SafeAnswer(0x34), platform::kIdNo);
    EXPECT_EQ(platform::SafeAnswer(0x30), platform::kIdOk);
    EXPECT_EQ(platform::SafeAnswer(platform::kMbYesNoCancel), platform::kIdCancel);
    EXPECT_EQ(platform::SafeAnswer(platform::kMbAbortRetryIgnore), platform::kIdAbort);
    // The Win32 values, which the Win32 front end passes through.
    EXPECT_EQ(platform::kIdOk, 1);
    EXPECT_EQ(platform::kIdCancel, 2);
    EXPECT_EQ(platform::kIdRetry, 4);
    EXPECT_EQ(platform::kIdYes, 6);
    EXPECT_EQ(platform::kIdNo, 7);
}

struct KeyCase {
    const char* name;
    std::vector<platform::DialogMessage> messages;
    std::vector<int> commands;  // what reached OnCommand
    int result;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class DialogKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(DialogKeyTest, DefaultHandling) {
    const KeyCase& c = GetParam();
    RecordingDialog dlg;
    FakeWindow window;
    window.messages.assign(c.messages.begin(), c.messages.end());
    EXPECT_EQ(dlg.DoModal(window), c.result);
    EXPECT_EQ(dlg.commands, c.commands);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DialogKeyTest,
    ::testing::Values(
        // Enter presses the default button, Escape raises IDCANCEL.
        KeyCase{"enter",
                {platform::KeyDownMessage(platform::kVkReturn)},
                {platform::kIdOk},
                platform::kIdOk},
        KeyCase{"escape",
                {platform::KeyDownMessage(platform::kVkEscape)},
                {platform::kIdCancel},
                platform::kIdCancel},
        // The space bar presses the focused button: the first tab stop ...
        KeyCase{
            "space", {platform::KeyDownMessage(platform::kVkSpace)}, {kButton}, platform::kIdOk},
        // ... or the next one after Tab.
        KeyCase{"tab_space",
                {platform::KeyDownMessage(platform::kVkTab),
                 platform::KeyDownMessage(platform::kVkSpace)},
                {platform::kIdOk},
                platform::kIdOk},
        // Closing the window is the cancel command; so is the end of input.
        KeyCase{"close", {platform::CloseMessage()}, {platform::kIdCancel}, platform::kIdCancel},
        KeyCase{"no_more_messages", {}, {platform::kIdCancel}, platform::kIdCancel},
        KeyCase{"other_key_then_click",
                {platform::KeyDownMessage('A'), platform::CommandMessage(kButton)},
                {kButton},
                platform::kIdOk}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

TEST(DialogFrameworkTest, ModalLoopOrder) {
    RecordingDialog dlg;
    FakeWindow window;
    window.messages = {platform::CommandMessage(kButton)};
    EXPECT_EQ(dlg.DoModal(window), platform::kIdOk);
    ASSERT_GE(window.calls.size(), 5u);
    EXPECT_EQ(window.calls[0].kind, WindowCall::kCreate);
    EXPECT_EQ(window.created.caption, "caption");
    EXPECT_EQ(window.calls[1].kind, WindowCall::kSetText);
    EXPECT_EQ(window.calls[2].kind, WindowCall::kShow);
    EXPECT_EQ(window.calls[2].id, kButton) << "focus on the first tab stop";
    EXPECT_EQ(window.calls.back().kind, WindowCall::kDestroy);
    EXPECT_EQ(window.calls.back().id, platform::kIdOk);
    EXPECT_EQ(dlg.GetDlgItemText(kStatic), "ready");
    EXPECT_EQ(dlg.Window(), nullptr) << "the window is gone after the loop";
}

TEST(DialogFrameworkTest, EndingInInitialisationNeverShows) {
    RecordingDialog dlg;
    dlg.endInInit = true;
    FakeWindow window;
    window.messages = {platform::CommandMessage(kButton)};
    EXPECT_EQ(dlg.DoModal(window), platform::kIdCancel);
    EXPECT_FALSE(window.Shown());
    EXPECT_EQ(window.messages.size(), 1u) << "no message was taken";
    EXPECT_TRUE(dlg.commands.empty());
}

TEST(DialogFrameworkTest, HiddenItemsAndFactory) {
    RecordingDialog dlg;
    // No factory: no window, nothing runs.
    platform::SetDialogWindowFactory(nullptr);
    EXPECT_EQ(dlg.DoModal(), -1);

    FakeWindow* made = nullptr;
    platform::SetDialogWindowFactory([&made](const platform::DialogTemplate& t) {
        auto w = std::make_unique<FakeWindow>();
        w->messages = {platform::KeyDownMessage(platform::kVkReturn)};
        made = w.get();
        EXPECT_EQ(t.id, 134);
        return w;
    });
    // Enter with the default button hidden presses nothing; the input then
    // ends, which closes the dialog.
    dlg.ShowItem(platform::kIdOk, false);
    EXPECT_FALSE(dlg.IsItemVisible(platform::kIdOk));
    EXPECT_EQ(dlg.DoModal(), platform::kIdCancel);
    EXPECT_NE(made, nullptr);
    EXPECT_EQ(dlg.commands, std::vector<int>{platform::kIdCancel});
    platform::SetDialogWindowFactory(nullptr);

    // Without a window a box takes its safe answer.
    EXPECT_EQ(dlg.ShowMessageBox("t", "c", platform::kMbYesNo), platform::kIdNo);
}

}  // namespace
