// The real executables driven from outside, as a technician would drive
// them, through window messages only (needs a display: run through
// run-on-display). quillon.exe without a printer; quillon-vp.exe, the same
// program with the built-in virtual printer, for the whole workflow and
// the second instance. Screenshots go to $QUILLON_SCREENSHOTS (BMP; the
// runner turns them into PNG).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/win32/wide_text.h"
#include "tests/win32/win32_test_paths.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[4096] = {};
    DWORD_PTR n = 0;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                          2000, &n);
    return std::wstring(buffer, n);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

std::wstring W(const std::string& utf8) { return WideText(utf8); }

// One started program.
class Program {
public:
    Program(const std::wstring& exe, const std::wstring& folder, const std::wstring& args = L"") {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring command = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
        m_started = ::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, folder.c_str(), &si, &m_pi) != FALSE;
    }
    ~Program() {
        if (!m_started) return;
        if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(m_pi.hProcess, 99);
        ::CloseHandle(m_pi.hThread);
        ::CloseHandle(m_pi.hProcess);
    }
    bool started() const { return m_started; }
    DWORD pid() const { return m_pi.dwProcessId; }
    // The exit status, or -1 when it has not ended within the wait.
    long WaitForExit(std::chrono::milliseconds wait) const {
        if (::WaitForSingleObject(m_pi.hProcess, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(m_pi.hProcess, &code);
        return static_cast<long>(code);
    }
    // The visible top-level windows of the program.
    std::vector<HWND> Windows() const {
        struct Search {
            DWORD pid;
            std::vector<HWND> found;
        } search{m_pi.dwProcessId, {}};
        ::EnumWindows(
            [](HWND w, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD pid = 0;
                ::GetWindowThreadProcessId(w, &pid);
                if (pid == s->pid && ::IsWindowVisible(w)) s->found.push_back(w);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // Waits for a visible window of the program with this title.
    HWND WaitForWindow(const std::wstring& title, std::chrono::milliseconds wait) const {
        const Clock::time_point end = Clock::now() + wait;
        do {
            for (HWND w : Windows())
                if (TextOf(w) == title) return w;
            std::this_thread::sleep_for(50ms);
        } while (Clock::now() < end);
        return nullptr;
    }

private:
    PROCESS_INFORMATION m_pi{};
    bool m_started = false;
};

// What a message box shows.
struct Box {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // control ids, in order
    HWND hwnd = nullptr;
};

Box ReadBox(HWND hwnd) {
    Box box;
    box.hwnd = hwnd;
    box.caption = TextOf(hwnd);
    for (HWND c = ::GetWindow(hwnd, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (ClassOf(c) == L"Button" && ::IsWindowVisible(c))
            box.buttons.push_back(::GetDlgCtrlID(c));
        else if (ClassOf(c) == L"Static" && !TextOf(c).empty())
            box.text = TextOf(c);
    }
    return box;
}

void Press(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    ::PostMessageW(button, BM_CLICK, 0, 0);
}

// Saves the screen as a BMP file in $QUILLON_SCREENSHOTS, once the windows
// had settleMs to paint.
void Screenshot(const std::string& name, std::chrono::milliseconds settle = 300ms) {
    const char* folder = std::getenv("QUILLON_SCREENSHOTS");
    if (folder == nullptr || *folder == '\0') return;
    std::this_thread::sleep_for(settle);
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, bitmap);
    ::BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    ::SelectObject(mem, old);
    const DWORD row = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + row * static_cast<DWORD>(h);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), row * static_cast<size_t>(h));
    win32_test::WriteWholeFile(WideText(folder) + L"\\" + WideText(name) + L".bmp", bytes);
    ::DeleteObject(bitmap);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
}

std::wstring Exe(const char* hostPath) { return win32_test::HostPath(hostPath); }

const std::wstring kCaptionConfirm = W(LoadStringText(kIdsCaptionConfirm));
const std::wstring kAppTitle = W(LoadStringText(kIdsAppTitle));

// Waits while the program shows no window, for at most wait; false as soon
// as one appears.
bool ShowsNothingUntilExit(const Program& p, std::chrono::milliseconds wait, long* status) {
    const Clock::time_point end = Clock::now() + wait;
    while (Clock::now() < end) {
        if (!p.Windows().empty()) return false;
        *status = p.WaitForExit(50ms);
        if (*status != -1) return true;
    }
    return true;
}

TEST(Smoke, WithoutAPrinterItAsksToRetryAndCancelEndsIt) {
    win32_test::TempFolder cwd;
    Program p(Exe(QUILLON_EXE_PATH), cwd.path());
    ASSERT_TRUE(p.started());
    HWND w = p.WaitForWindow(kCaptionConfirm, 30s);
    ASSERT_NE(w, nullptr) << "no message 111";
    Box box = ReadBox(w);
    EXPECT_EQ(box.text, W(LoadStringText(kIdsConnectRetry)));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    // Nothing else is up: the dialog stays hidden while it identifies.
    EXPECT_EQ(p.Windows().size(), 1u);
    Screenshot("message-111");

    // Retry looks again and asks again.
    Press(w, IDRETRY);
    std::this_thread::sleep_for(500ms);
    w = p.WaitForWindow(kCaptionConfirm, 20s);
    ASSERT_NE(w, nullptr) << "no second message 111";
    EXPECT_EQ(ReadBox(w).text, W(LoadStringText(kIdsConnectRetry)));

    Press(w, IDCANCEL);
    long status = -1;
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(ShowsNothingUntilExit(p, 15s, &status)) << "a window came up after Cancel";
    EXPECT_EQ(status, kExitCancelled);
}

TEST(Smoke, AConfigurationWithTooManyModelsWarnsFirst) {
    // The configuration lives beside the executable: a copy of it in a
    // folder of its own.
    win32_test::TempFolder folder;
    const std::wstring exe = folder / L"quillon.exe";
    ASSERT_TRUE(::CopyFileW(Exe(QUILLON_EXE_PATH).c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(win32_test::WriteWholeFile(folder / L"Vadrellix.ini", "[MODEL]\r\nEntry=25\r\n"));
    Program p(exe, folder.path());
    ASSERT_TRUE(p.started());
    // Captioned with the application name, the executable's name.
    HWND w = p.WaitForWindow(L"quillon", 30s);
    ASSERT_NE(w, nullptr) << "no message 125";
    Box box = ReadBox(w);
    EXPECT_EQ(box.text, W(LoadStringText(kIdsFirmwareUpdate)));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    Press(w, IDOK);
    w = p.WaitForWindow(kCaptionConfirm, 30s);
    ASSERT_NE(w, nullptr) << "no message 111 after 125";
    EXPECT_EQ(ReadBox(w).text, W(LoadStringText(kIdsConnectRetry)));
    Press(w, IDCANCEL);
    EXPECT_EQ(p.WaitForExit(15s), kExitCancelled);
}

TEST(Smoke, ASecondCopyEndsAtOnceAndBringsTheFirstForward) {
    win32_test::TempFolder cwd;
    Program first(Exe(QUILLON_VP_PATH), cwd.path());
    ASSERT_TRUE(first.started());
    HWND dialog = first.WaitForWindow(kAppTitle, 30s);
    ASSERT_NE(dialog, nullptr) << "the dialog did not come up";
    ::ShowWindow(dialog, SW_MINIMIZE);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(::IsIconic(dialog));

    Program second(Exe(QUILLON_VP_PATH), cwd.path());
    ASSERT_TRUE(second.started());
    long status = -1;
    EXPECT_TRUE(ShowsNothingUntilExit(second, 15s, &status)) << "the second copy showed a window";
    EXPECT_EQ(status, kExitAlreadyRunning);

    const Clock::time_point end = Clock::now() + 5s;
    while ((::IsIconic(dialog) || ::GetForegroundWindow() != dialog) && Clock::now() < end)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(::IsIconic(dialog));
    EXPECT_EQ(::GetForegroundWindow(), dialog);

    // The first goes on as before: Exit, message 114, the end.
    Press(dialog, kIdcExit);
    HWND box = first.WaitForWindow(kCaptionConfirm, 10s);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadBox(box).text, W(LoadStringText(kIdsUpdateAborted)));
    Press(box, IDOK);
    EXPECT_EQ(first.WaitForExit(15s), kExitNotUpdated);
}

TEST(Smoke, ASecondCopyWhileTheFirstAsksForThePrinterBringsTheQuestionForward) {
    // The first one's dialog is still hidden (it identifies the printer);
    // the box it shows is what the technician must see.
    win32_test::TempFolder cwd;
    Program first(Exe(QUILLON_EXE_PATH), cwd.path());
    ASSERT_TRUE(first.started());
    HWND box = first.WaitForWindow(kCaptionConfirm, 30s);
    ASSERT_NE(box, nullptr) << "no message 111";
    // Something else in front of it.
    HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(other);
    std::this_thread::sleep_for(300ms);

    Program second(Exe(QUILLON_EXE_PATH), cwd.path());
    ASSERT_TRUE(second.started());
    long status = -1;
    EXPECT_TRUE(ShowsNothingUntilExit(second, 15s, &status)) << "the second copy showed a window";
    EXPECT_EQ(status, kExitAlreadyRunning);
    const Clock::time_point end = Clock::now() + 5s;
    while (::GetForegroundWindow() != box && Clock::now() < end) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(::GetForegroundWindow(), box);
    // The hidden dialog stays hidden.
    EXPECT_EQ(first.Windows(), std::vector<HWND>{box});
    ::DestroyWindow(other);

    Press(box, IDCANCEL);
    EXPECT_EQ(first.WaitForExit(15s), kExitCancelled);
}

TEST(Smoke, TheWholeUpdateInTheDialogWithTheProgressBarMoving) {
    win32_test::TempFolder cwd;
    // Transfer calls that take a little time, as on a real USB link.
    Program p(Exe(QUILLON_VP_PATH), cwd.path(), L"--transfer-delay 2");
    ASSERT_TRUE(p.started());
    HWND dialog = p.WaitForWindow(kAppTitle, 30s);
    ASSERT_NE(dialog, nullptr) << "the dialog did not come up";
    HWND area = ::GetDlgItem(dialog, kIdcMessage);
    EXPECT_EQ(TextOf(area), W(FormatStringText(kIdsUpdateTarget, "1.3", "1.2")));
    Screenshot("dialog-113");

    const Clock::time_point start = Clock::now();
    Press(dialog, kIdcUpdate);
    // While it runs: message 119, the buttons gone, the bar moving, the
    // window answering, and the close command ignored.
    std::set<LRESULT> positions;
    bool barShot = false, closeSent = false;
    int unanswered = 0;
    HWND done = nullptr;
    while (done == nullptr && Clock::now() - start < 120s) {
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &ignored)) ++unanswered;
        HWND bar = ::FindWindowExW(dialog, nullptr, PROGRESS_CLASSW, nullptr);
        if (bar != nullptr) {
            EXPECT_EQ(TextOf(area), W(LoadStringText(kIdsUpdating)));
            EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, kIdcUpdate)));
            EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, kIdcExit)));
            const LRESULT range = ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
            const LRESULT pos = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
            const bool counting = (::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) == 0;
            if (counting && pos > 0 && pos < range) {
                positions.insert(pos);
                if (!barShot && pos > range / 3) {
                    Screenshot("progress-bar", 50ms);
                    barShot = true;
                }
            }
            if (!closeSent) {
                ::PostMessageW(dialog, WM_CLOSE, 0, 0);
                closeSent = true;
            }
        }
        for (HWND w : p.Windows())
            if (w != dialog && TextOf(w) == kAppTitle) done = w;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_NE(done, nullptr) << "no message 117";
    // The bar shows every block sent.
    HWND bar = ::FindWindowExW(dialog, nullptr, PROGRESS_CLASSW, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE, 0);
    EXPECT_GT(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 0);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    std::printf("update in the dialog: %.1f s\n",
                std::chrono::duration<double>(Clock::now() - start).count());
    EXPECT_GE(positions.size(), 2u) << "the bar did not move";
    EXPECT_TRUE(closeSent);
    EXPECT_EQ(unanswered, 0);
    Box box = ReadBox(done);
    EXPECT_EQ(box.text, W(LoadStringText(kIdsUpdateDone)));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    Screenshot("message-117");
    Press(done, IDOK);
    EXPECT_EQ(p.WaitForExit(15s), kExitUpdated);
}

}  // namespace
