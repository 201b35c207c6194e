// The dialog on a real Win32 window, in this process (needs a display:
// run through run-on-display): built from template 134, the keys as the
// updater's dialog routes them, long work on a worker thread while the
// window keeps answering, and the progress bar.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "frontends/win32/dialog_window.h"
#include "frontends/win32/progress_bar.h"
#include "frontends/win32/wide_text.h"
#include "platform/dialog.h"
#include "resources/texts.h"
#include "sim/transport/inprocess_usb.h"

namespace {

std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[2048] = {};
    ::GetWindowTextW(hwnd, buffer, 2048);
    return buffer;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

class DialogWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitDialogControls();
        unsigned long error = 0;
        ASSERT_TRUE(m_window.CreateFromTemplate(kIdTemplateMain, &error)) << "error " << error;
        m_hwnd = m_window.hwnd();
    }
    HWND Item(int id) const { return ::GetDlgItem(m_hwnd, id); }

    Win32DialogWindow m_window{::GetModuleHandleW(nullptr)};
    HWND m_hwnd = nullptr;
};

TEST_F(DialogWindowTest, ComesFromTemplate134HiddenWithItsControlsInTabOrder) {
    EXPECT_EQ(TextOf(m_hwnd), WideText(QUILLON_TEXT_APP_TITLE));
    EXPECT_FALSE(::IsWindowVisible(m_hwnd));
    const LONG style = ::GetWindowLongW(m_hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION), WS_POPUP | WS_CAPTION);
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);

    struct {
        int id;
        const wchar_t* cls;
        std::wstring text;
        DWORD style;
    } const expected[] = {
        {kIdcUpdate, L"Button", WideText(QUILLON_TEXT_UPDATE_BUTTON), 0x50010000},
        {kIdcMessage, L"Static", L"", 0x50020000},
        {kIdcExit, L"Button", WideText(QUILLON_TEXT_EXIT_BUTTON), 0x50010001},
    };
    HWND child = ::GetWindow(m_hwnd, GW_CHILD);
    for (const auto& e : expected) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(::GetDlgCtrlID(child), e.id);
        EXPECT_EQ(ClassOf(child), e.cls);
        EXPECT_EQ(TextOf(child), e.text);
        EXPECT_EQ(static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE)) & 0xFFFF000Fu, e.style);
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
}

TEST_F(DialogWindowTest, TheMessageAreaHoldsItsLongestTextsWithoutCutting) {
    HWND area = Item(kIdcMessage);
    RECT client{};
    ::GetClientRect(area, &client);
    HDC dc = ::GetDC(area);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(area, WM_GETFONT, 0, 0)));
    const std::string texts[] = {
        FormatStringText(kIdsUpdateTarget, "1.3", "1.2"),
        // The longest version texts a printer can report (16 characters).
        FormatStringText(kIdsUpdateTarget, "1.3", "0123456789ABCDEF"),
        LoadStringText(kIdsUpdating),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::wstring wide = WideText(text);
        RECT r{0, 0, client.right, 0};
        ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r,
                    DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        EXPECT_LE(r.bottom, client.bottom);
        EXPECT_LE(r.right, client.right);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(area, dc);
}

TEST_F(DialogWindowTest, ItemsTextsVisibilityAndIconsReachTheWindow) {
    m_window.SetItemText(kIdcMessage, LoadStringText(kIdsUpdating));
    EXPECT_EQ(TextOf(Item(kIdcMessage)), WideText(LoadStringText(kIdsUpdating)));
    m_window.ShowItem(kIdcUpdate, false);
    EXPECT_EQ(::GetWindowLongW(Item(kIdcUpdate), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_NE(::GetWindowLongW(Item(kIdcExit), GWL_STYLE) & WS_VISIBLE, 0);
    m_window.SetIcon(kIdIconMain, true);
    m_window.SetIcon(kIdIconMain, false);
    EXPECT_NE(::SendMessageW(m_hwnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(m_hwnd, WM_GETICON, ICON_SMALL, 0), 0);
    m_window.Show(kIdcExit);
    EXPECT_TRUE(::IsWindowVisible(m_hwnd));
    EXPECT_EQ(::GetFocus(), Item(kIdcExit));
}

// Long work: the window goes on answering the system, takes no input and
// ignores the close command and button commands until the work is done.
TEST_F(DialogWindowTest, LongWorkRunsElsewhileTheWindowAnswersAndTakesNoInput) {
    m_window.Show(kIdcUpdate);
    std::atomic<bool> running{true};
    std::atomic<int> answered{0}, unanswered{0};
    std::atomic<bool> disabledMeanwhile{false};
    DWORD workThread = 0;
    std::thread watcher([&] {
        while (running) {
            DWORD_PTR result = 0;
            if (::SendMessageTimeoutW(m_hwnd, WM_NULL, 0, 0, SMTO_BLOCK, 300, &result))
                ++answered;
            else
                ++unanswered;
            if (!::IsWindowEnabled(m_hwnd)) disabledMeanwhile = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const int result = m_window.RunLongWork([&] {
        workThread = ::GetCurrentThreadId();
        // Input and commands arrive while the work runs.
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        ::PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(kIdcExit, BN_CLICKED), 0);
        ::PostMessageW(Item(kIdcUpdate), WM_KEYDOWN, VK_SPACE, 0);
        ::PostMessageW(Item(kIdcUpdate), WM_KEYUP, VK_SPACE, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return 42;
    });
    running = false;
    watcher.join();
    EXPECT_EQ(result, 42);
    EXPECT_NE(workThread, ::GetCurrentThreadId());
    EXPECT_GE(answered.load(), 3);
    EXPECT_EQ(unanswered.load(), 0);
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(::IsWindowEnabled(m_hwnd));
    // Nothing of it reached the dialog: the next message is the one posted
    // now.
    ::PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(kIdcMessage, BN_CLICKED), 0);
    platform::DialogMessage msg;
    ASSERT_TRUE(m_window.NextMessage(&msg));
    EXPECT_EQ(msg.message, platform::kWmCommand);
    EXPECT_EQ(msg.wParam, static_cast<uintptr_t>(kIdcMessage));
}

TEST_F(DialogWindowTest, TheProgressBarStandsWhereTheButtonsWereAndCountsBlocks) {
    DialogProgress progress;
    progress.Attach(m_hwnd);
    m_window.ShowItem(kIdcUpdate, false);
    m_window.ShowItem(kIdcExit, false);
    m_window.RunLongWork([&] {
        progress.OnPhase(UpdatePhase::kPreparing);
        progress.OnTransferPlan(3, 10, 80000);
        progress.OnPhase(UpdatePhase::kTransferring);
        const char tag[2] = {'M', 'C'};
        progress.OnSection(tag, 1, 10);
        for (uint32_t k = 1; k <= 4; ++k) progress.OnBlock(k, 10, k * 8192);
        return 0;
    });
    HWND bar = m_window.progressBar().control();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(ClassOf(bar), PROGRESS_CLASSW);
    EXPECT_EQ(::GetParent(bar), m_hwnd);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 10);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 4);
    EXPECT_FALSE(m_window.progressBar().marquee());
    // Inside the place of the Firmware Update button.
    RECT bar_r{}, button_r{};
    ::GetWindowRect(bar, &bar_r);
    ::GetWindowRect(Item(kIdcUpdate), &button_r);
    EXPECT_GE(bar_r.left, button_r.left);
    EXPECT_LE(bar_r.right, button_r.right);
    EXPECT_GE(bar_r.top, button_r.top);
    EXPECT_LE(bar_r.bottom, button_r.bottom);

    // Waiting for the printer's restart cannot be counted: a marquee.
    m_window.RunLongWork([&] {
        progress.OnPhase(UpdatePhase::kReconnecting);
        return 0;
    });
    EXPECT_TRUE(m_window.progressBar().marquee());
    EXPECT_NE(::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE, 0);

    // At the end it counts again and shows the blocks that were sent.
    m_window.RunLongWork([&] {
        progress.OnPhase(UpdatePhase::kDone);
        return 0;
    });
    EXPECT_EQ(::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE, 0);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 10);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 4);
}

// Answers the message boxes that the dialog shows, from another thread,
// and records their captions and texts.
class BoxAnswerer {
public:
    explicit BoxAnswerer(DWORD dialogThread)
        : m_thread(dialogThread), m_worker([this] { Run(); }) {}
    ~BoxAnswerer() {
        m_stop = true;
        m_worker.join();
    }
    std::vector<std::wstring> texts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    void Run() {
        while (!m_stop) {
            HWND box = nullptr;
            ::EnumThreadWindows(
                m_thread,
                [](HWND w, LPARAM out) -> BOOL {
                    if (::IsWindowVisible(w) && ClassOf(w) == L"#32770" &&
                        ::GetWindow(w, GW_OWNER) != nullptr) {
                        *reinterpret_cast<HWND*>(out) = w;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&box));
            if (box != nullptr) {
                std::wstring text;
                for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
                    if (ClassOf(c) == L"Static" && !TextOf(c).empty()) text = TextOf(c);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_texts.push_back(TextOf(box) + L"|" + text);
                }
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                while (::IsWindow(box) && !m_stop)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    DWORD m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::wstring> m_texts;
    std::thread m_worker;
};

// Records the keys that reach a control's own window procedure.
std::vector<WPARAM> g_keysAtButton;
WNDPROC g_buttonProc = nullptr;
LRESULT CALLBACK RecordingButton(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN) g_keysAtButton.push_back(wParam);
    return ::CallWindowProcW(g_buttonProc, hwnd, message, wParam, lParam);
}

// The updater's own dialog on this window, identifying the in-process
// virtual printer in virtual time.
class UpdaterDialogOnWindow : public DialogWindowTest {
protected:
    void SetUp() override {
        DialogWindowTest::SetUp();
        g_keysAtButton.clear();
        g_buttonProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            Item(kIdcUpdate), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingButton)));
    }
    sim::InProcessRig m_rig;
    platform::ScopedClock m_clock{m_rig.clock};
};

TEST_F(UpdaterDialogOnWindow, EnterAndEscapeGoToTheFocusedButtonAndDoNothingElse) {
    // Queued before the dialog runs; its loop takes them after its
    // initialisation put the focus on the Firmware Update button.
    HWND button = Item(kIdcUpdate);
    ::PostMessageW(button, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 0);
    ::PostMessageW(button, WM_KEYDOWN, VK_F5, 0);  // the dialog still runs after both
    ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
    CQuillonDlg dlg;
    EXPECT_EQ(dlg.DoModal(m_window), platform::kIdCancel);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kClosed);
    EXPECT_EQ(g_keysAtButton, (std::vector<WPARAM>{VK_RETURN, VK_ESCAPE, VK_F5}));
}

TEST_F(UpdaterDialogOnWindow, TheSpaceBarPressesTheFocusedButtonAndTheUpdateRunsElsewhere) {
    DialogProgress progress;
    progress.Attach(m_hwnd);
    BoxAnswerer answerer(::GetCurrentThreadId());
    HWND button = Item(kIdcUpdate);
    ::PostMessageW(button, WM_KEYDOWN, VK_SPACE, 0);
    ::PostMessageW(button, WM_KEYUP, VK_SPACE, 0);
    CQuillonDlg dlg;
    dlg.m_progress = &progress;
    EXPECT_EQ(dlg.DoModal(m_window), platform::kIdOk);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdated);
    const std::vector<std::wstring> boxes = answerer.texts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              WideText(LoadStringText(kIdsAppTitle) + "|" + LoadStringText(kIdsUpdateDone)));
}

}  // namespace
