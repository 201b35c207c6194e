// The terminal's dialog window: what it shows, what it reads, and what it
// answers when nobody can be asked.
#include "frontends/terminal/terminal_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>

#include "frontends/terminal/progress_view.h"
#include "platform/dialog.h"

namespace {

platform::DialogTemplate MainTemplate() {
    platform::DialogTemplate t;
    t.id = 134;
    t.caption = "ZK-Q870 Firmware Updater";
    t.controls = {
        {1013, platform::ControlKind::kPushButton, "ファームウェアアップデート", true, true},
        {100, platform::ControlKind::kStatic, "", false, true},
        {1, platform::ControlKind::kDefaultPushButton, "終了", true, true},
    };
    return t;
}

struct Terminal {
    explicit Terminal(const std::string& input, TerminalOptions options = {true, 0, false})
        : in(input), window(in, out, options) {
        window.Create(MainTemplate());
    }
    std::istringstream in;
    std::ostringstream out;
    TerminalWindow window;
};

TEST(TerminalWindowTest, ShowsTheDialogAsAChoiceOfItsButtons) {
    Terminal t("\n\x1b\n \n2\n");
    t.window.SetItemText(100, "before it is shown");
    t.window.Show(1013);
    const std::string shown = t.out.str();
    EXPECT_NE(shown.find("ZK-Q870 Firmware Updater"), std::string::npos);
    EXPECT_NE(shown.find("before it is shown"), std::string::npos);
    EXPECT_NE(shown.find("[1] ファームウェアアップデート  [2] 終了"), std::string::npos) << shown;

    // Enter and Escape reach the dialog as keys; a lone blank is the space
    // bar; a number presses its button.
    platform::DialogMessage msg;
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.message, platform::kWmKeyDown);
    EXPECT_EQ(msg.wParam, platform::kVkReturn);
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.wParam, platform::kVkEscape);
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.wParam, platform::kVkSpace);
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.message, platform::kWmCommand);
    EXPECT_EQ(msg.wParam, 1u);
    // The end of input: no more messages (the dialog closes).
    EXPECT_FALSE(t.window.NextMessage(&msg));
}

TEST(TerminalWindowTest, HiddenButtonsLeaveTheChoiceAndNewTextsShow) {
    Terminal t("9\nファームウェアアップデート\n");
    t.window.Show(1013);
    platform::DialogMessage msg;
    // An unknown choice is asked again; a button's text also chooses it.
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.wParam, 1013u);
    EXPECT_NE(t.out.str().find("choose a number from 1 to 2"), std::string::npos);

    t.window.ShowItem(1013, false);
    t.window.SetItemText(100, "updating");
    EXPECT_NE(t.out.str().find("\nupdating\n"), std::string::npos);
}

struct BoxCase {
    const char* name;
    std::string input;
    TerminalOptions options;
    uint32_t style;
    int answer;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class TerminalBoxTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(TerminalBoxTest, Answers) {
    const BoxCase& c = GetParam();
    Terminal t(c.input, c.options);
    EXPECT_EQ(t.window.ShowMessageBox("the text", "確認", c.style), c.answer);
    const std::string shown = t.out.str();
    EXPECT_NE(shown.find("確認"), std::string::npos);
    EXPECT_NE(shown.find("the text"), std::string::npos);
}

constexpr TerminalOptions kAsk{true, 0, false};
constexpr TerminalOptions kNoTerminal{false, 0, false};
constexpr TerminalOptions kYes{false, 0, true};
constexpr uint32_t kRetryCancel = platform::kMbRetryCancel | platform::kMbIconExclamation;
constexpr uint32_t kYesNo = platform::kMbYesNo | platform::kMbIconExclamation;

INSTANTIATE_TEST_SUITE_P(
    Boxes, TerminalBoxTest,
    ::testing::Values(
        BoxCase{"retry_by_number", "1\n", kAsk, kRetryCancel, platform::kIdRetry},
        BoxCase{"cancel_by_letter", "c\n", kAsk, kRetryCancel, platform::kIdCancel},
        BoxCase{"yes_by_letter", "Y\n", kAsk, kYesNo, platform::kIdYes},
        BoxCase{"no_after_a_wrong_answer", "x\n\n2\n", kAsk, kYesNo, platform::kIdNo},
        BoxCase{"ok_by_enter", "\n", kAsk, platform::kMbOk, platform::kIdOk},
        BoxCase{"end_of_input_is_safe", "", kAsk, kYesNo, platform::kIdNo},
        BoxCase{"no_terminal_cancel", "1\n", kNoTerminal, kRetryCancel, platform::kIdCancel},
        BoxCase{"no_terminal_no", "1\n", kNoTerminal, kYesNo, platform::kIdNo},
        BoxCase{"no_terminal_ok", "", kNoTerminal, platform::kMbIconHand, platform::kIdOk},
        BoxCase{"preset_yes", "", kYes, kYesNo, platform::kIdYes},
        BoxCase{"preset_yes_only_for_questions", "", kYes, kRetryCancel, platform::kIdCancel}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return info.param.name; });

TEST(TerminalWindowTest, WithoutATerminalTheDialogTakesItsDefaultButton) {
    Terminal t("1\n", kNoTerminal);
    t.window.Show(1013);
    platform::DialogMessage msg;
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.message, platform::kWmCommand);
    EXPECT_EQ(msg.wParam, 1u) << "終了, not what the input says";
}

TEST(TerminalWindowTest, PressesTheUpdateButtonFirstWhenAsked) {
    Terminal t("", TerminalOptions{false, 1013, true});
    t.window.Show(1013);
    platform::DialogMessage msg;
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.wParam, 1013u);
    ASSERT_TRUE(t.window.NextMessage(&msg));
    EXPECT_EQ(msg.wParam, 1u);
}

}  // namespace

// The progress of an update: plain lines without a terminal, a bar that
// redraws itself on one.
namespace {

std::string Captured(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

void Feed(TerminalProgress& p) {
    p.OnPhase(UpdatePhase::kTransferring);
    p.OnTransferPlan(2, 3, 3 * 8192);
    p.OnSection("MC", 1, 2);
    p.OnBlock(1, 2, 8192);
    p.OnBlock(2, 2, 16384);
    p.OnSection("FG", 2, 1);
    p.OnBlock(1, 1, 24576);
    p.OnPhase(UpdatePhase::kDone);
}

TEST(TerminalProgressTest, PlainLines) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        TerminalProgress p(f, false);
        Feed(p);
    }
    const std::string text = Captured(f);
    std::fclose(f);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("update: 2 sections, 3 blocks, 24 KiB\n"), std::string::npos) << text;
    EXPECT_NE(text.find("update: section MC (1/2), 2 blocks\n"), std::string::npos) << text;
    EXPECT_NE(text.find("update: section MC done, 2/2 blocks, 16384 of 24576 bytes\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("update: section FG done, 1/1 blocks, 24576 of 24576 bytes\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("update: done\n"), std::string::npos) << text;
}

TEST(TerminalProgressTest, BarOnATerminal) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        TerminalProgress p(f, true);
        Feed(p);
        EXPECT_NE(p.BarText(10).find("[##########] 100%  FG 2/2  block 1/1  24 KiB of 24 KiB"),
                  std::string::npos)
            << p.BarText(10);
    }
    const std::string text = Captured(f);
    std::fclose(f);
    // Each section's last block is drawn, over the same line.
    EXPECT_NE(
        text.find("\r[####################----------]  67%  MC 1/2  block 2/2  16 KiB of 24 KiB"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("left "), std::string::npos);
    EXPECT_NE(text.find("\nupdate: done\n"), std::string::npos) << "the bar's line ends first";
}

// What a terminal shows on its last line after the text: a carriage
// return goes back to the line's start, ESC [ K erases to its end, other
// bytes overwrite one cell each (the texts here are ASCII).
std::string LastLineOnATerminal(const std::string& text) {
    std::string line;
    size_t column = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            line.clear();
            column = 0;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\x1b' && text.compare(i, 3, "\x1b[K") == 0) {
            line.resize(column);
            i += 2;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line.push_back(c);
            ++column;
        }
    }
    return line;
}

// A redraw that is shorter than the one before it (here "1023 KiB" becomes
// "1.0 MiB", and "block 10/10" "block 1/12") must not leave the end of the
// longer line on the screen, as in "left 0:0000".
TEST(TerminalProgressTest, ShorterRedrawLeavesNothingOfTheLongerOne) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::string expected;
    {
        TerminalProgress p(f, true);
        p.OnTransferPlan(2, 22, 2 * 1024 * 1024);
        p.OnSection("MC", 1, 10);
        p.OnBlock(10, 10, 1023 * 1024);
        p.OnSection("FG", 2, 12);
        p.OnBlock(1, 12, 1024 * 1024 + 8192);
        p.OnBlock(12, 12, 2 * 1024 * 1024);
        expected = p.BarText(30);
        std::fflush(f);
        const std::string text = Captured(f);
        std::fseek(f, 0, SEEK_END);
        EXPECT_EQ(LastLineOnATerminal(text), expected);
    }
    std::fclose(f);
}

TEST(TerminalProgressTest, Bytes) {
    EXPECT_EQ(FormatBytes(800), "800 B");
    EXPECT_EQ(FormatBytes(24576), "24 KiB");
    EXPECT_EQ(FormatBytes(1832128), "1.7 MiB");
}

}  // namespace
