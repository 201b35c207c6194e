// The main dialog on a real Win32 window, built from its dialog template in
// the executable's resources.
//
// The window has a message loop of its own (NextMessage), so that the
// dialog sees every key before the dialog manager does: WM_KEYDOWN for the
// dialog or one of its controls goes to the dialog's pre-translation; what
// that does not consume goes to the focused control as an ordinary key
// (DispatchKey), and the default pre-translation is the dialog manager's
// own (IsDialogMessageW: Enter presses the default button, Escape raises
// IDCANCEL, Tab moves the focus). Button clicks (BN_CLICKED) and the close
// command (WM_CLOSE) reach the dialog as its messages.
//
// Long work (the update) runs on a worker thread while this thread keeps
// pumping messages, so the window keeps painting and Windows never takes it
// for hung; meanwhile the window is disabled, drops keyboard and mouse
// input, and ignores button commands and the close command.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

#include "frontends/win32/progress_bar.h"
#include "platform/dialog.h"

class Win32DialogWindow : public platform::DialogWindow {
public:
    explicit Win32DialogWindow(HINSTANCE instance);
    ~Win32DialogWindow() override;
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    // Makes the (hidden) window from dialog template templateId; false with
    // the system's error code when the template cannot be used.
    bool CreateFromTemplate(int templateId, unsigned long* error);

    // platform::DialogWindow. Create() makes the window unless
    // CreateFromTemplate already did.
    void Create(const platform::DialogTemplate& tmpl) override;
    void SetItemText(int id, const std::string& text) override;
    void ShowItem(int id, bool show) override;
    void SetIcon(int resourceId, bool big) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       uint32_t style) override;
    void Show(int focusId) override;
    bool NextMessage(platform::DialogMessage* msg) override;
    void Destroy(int result) override;
    bool OwnsKeyboard() const override { return true; }
    bool PreTranslateKey(const platform::DialogMessage& msg) override;
    void DispatchKey(const platform::DialogMessage& msg) override;
    int RunLongWork(const std::function<int()>& work) override;

    HWND hwnd() const { return m_hwnd; }
    // True while long work runs.
    bool busy() const { return m_busy; }
    const ProgressBarControl& progressBar() const { return m_progressBar; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The dialog or one of its controls.
    bool IsOwnWindow(HWND hwnd) const;
    // Pumps what is queued without taking input; false once WM_QUIT came.
    void PumpWhileBusy();

    HINSTANCE m_instance;
    HWND m_hwnd = nullptr;
    HICON m_icons[2] = {nullptr, nullptr};  // big, small
    std::deque<platform::DialogMessage> m_pending;
    MSG m_key{};  // the WM_KEYDOWN the dialog is looking at
    bool m_haveKey = false;
    bool m_busy = false;
    bool m_quit = false;  // WM_QUIT came while busy: posted again afterwards
    WPARAM m_quitCode = 0;
    ProgressBarControl m_progressBar;
};
