#include "frontends/win32/dialog_window.h"

#include "frontends/win32/wide_text.h"

namespace {

// A thread that runs long work; the caller waits on its handle.
struct WorkThread {
    const std::function<int()>* work;
    int result = 0;

    static DWORD WINAPI Run(LPVOID self) {
        auto* job = static_cast<WorkThread*>(self);
        job->result = (*job->work)();
        return 0;
    }
};

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(HINSTANCE instance) : m_instance(instance) {}

Win32DialogWindow::~Win32DialogWindow() { Destroy(0); }

bool Win32DialogWindow::CreateFromTemplate(int templateId, unsigned long* error) {
    if (m_hwnd != nullptr) return true;
    HWND hwnd =
        ::CreateDialogParamW(m_instance, MAKEINTRESOURCEW(templateId), nullptr,
                             &Win32DialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) {
        if (error != nullptr) *error = ::GetLastError();
        return false;
    }
    m_hwnd = hwnd;
    return true;
}

void Win32DialogWindow::Create(const platform::DialogTemplate& tmpl) {
    CreateFromTemplate(tmpl.id, nullptr);
}

bool Win32DialogWindow::IsOwnWindow(HWND hwnd) const {
    return m_hwnd != nullptr && (hwnd == m_hwnd || ::IsChild(m_hwnd, hwnd));
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        reinterpret_cast<Win32DialogWindow*>(lParam)->m_hwnd = hwnd;
        return FALSE;  // the dialog puts the focus itself when it is shown
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_COMMAND:
            // Clicks (and the dialog manager's Enter and Escape) become the
            // dialog's commands; none while long work runs.
            if (HIWORD(wParam) == BN_CLICKED && !m_busy)
                m_pending.push_back(platform::CommandMessage(LOWORD(wParam)));
            return TRUE;
        case WM_CLOSE:
            // The system closes the window: the dialog's cancel command,
            // except while the printer is being updated.
            if (!m_busy) m_pending.push_back(platform::CloseMessage());
            return TRUE;
        default:
            if (m_progressBar.Handle(m_hwnd, message, wParam)) return TRUE;
            return FALSE;
    }
}

void Win32DialogWindow::SetItemText(int id, const std::string& text) {
    if (m_hwnd != nullptr) ::SetDlgItemTextW(m_hwnd, id, WideText(text).c_str());
}

void Win32DialogWindow::ShowItem(int id, bool show) {
    if (m_hwnd == nullptr) return;
    if (HWND item = ::GetDlgItem(m_hwnd, id)) ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

void Win32DialogWindow::SetIcon(int resourceId, bool big) {
    if (m_hwnd == nullptr) return;
    const int size = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    HICON icon = static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(resourceId),
                                                 IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) return;
    ::SendMessageW(m_hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    HICON& slot = m_icons[big ? 0 : 1];
    if (slot != nullptr) ::DestroyIcon(slot);
    slot = icon;
}

int Win32DialogWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                      uint32_t style) {
    const int answer =
        ::MessageBoxW(m_hwnd, WideText(text).c_str(), WideText(caption).c_str(), style);
    // A box that could not be shown asked nobody: the safe answer, never a
    // Retry that would only ask again.
    return answer != 0 ? answer : platform::SafeAnswer(style);
}

void Win32DialogWindow::Show(int focusId) {
    if (m_hwnd == nullptr) return;
    // The template puts the dialog at the corner of the screen; it comes
    // up in the middle of the work area instead.
    RECT area{}, own{};
    if (::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) && ::GetWindowRect(m_hwnd, &own)) {
        const int w = own.right - own.left, h = own.bottom - own.top;
        const int x = area.left + ((area.right - area.left) - w) / 2;
        const int y = area.top + ((area.bottom - area.top) - h) / 2;
        ::SetWindowPos(m_hwnd, nullptr, x > area.left ? x : area.left, y > area.top ? y : area.top,
                       0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::ShowWindow(m_hwnd, SW_SHOWNORMAL);
    ::UpdateWindow(m_hwnd);
    if (focusId != 0)
        if (HWND item = ::GetDlgItem(m_hwnd, focusId)) ::SetFocus(item);
}

bool Win32DialogWindow::NextMessage(platform::DialogMessage* msg) {
    for (;;) {
        if (!m_pending.empty()) {
            *msg = m_pending.front();
            m_pending.pop_front();
            return true;
        }
        if (m_hwnd == nullptr) return false;
        MSG m;
        const BOOL got = ::GetMessageW(&m, nullptr, 0, 0);
        if (got == 0) {
            // The dialog ends; the quit stays for whoever loops next.
            ::PostQuitMessage(static_cast<int>(m.wParam));
            return false;
        }
        if (got == -1) return false;
        if (m.message == WM_KEYDOWN && IsOwnWindow(m.hwnd)) {
            m_key = m;
            m_haveKey = true;
            *msg = platform::KeyDownMessage(static_cast<uint32_t>(m.wParam));
            return true;
        }
        if (IsOwnWindow(m.hwnd) && ::IsDialogMessageW(m_hwnd, &m)) continue;
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

bool Win32DialogWindow::PreTranslateKey(const platform::DialogMessage&) {
    if (!m_haveKey) return false;
    m_haveKey = false;
    return ::IsDialogMessageW(m_hwnd, &m_key) != FALSE;
}

void Win32DialogWindow::DispatchKey(const platform::DialogMessage&) {
    if (!m_haveKey) return;
    m_haveKey = false;
    ::TranslateMessage(&m_key);
    ::DispatchMessageW(&m_key);
}

void Win32DialogWindow::PumpWhileBusy() {
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            m_quit = true;
            m_quitCode = m.wParam;
            continue;
        }
        if (IsInput(m.message) && IsOwnWindow(m.hwnd)) continue;
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

int Win32DialogWindow::RunLongWork(const std::function<int()>& work) {
    WorkThread job{&work};
    HANDLE thread = ::CreateThread(nullptr, 0, &WorkThread::Run, &job, 0, nullptr);
    // Without a thread the work runs here; the window waits for it, as a
    // single-threaded dialog always did.
    if (thread == nullptr) return work();

    m_busy = true;
    m_quit = false;
    const bool enabled = m_hwnd != nullptr && ::IsWindowEnabled(m_hwnd);
    if (enabled) ::EnableWindow(m_hwnd, FALSE);
    for (;;) {
        const DWORD r =
            ::MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 1) {
            PumpWhileBusy();
            continue;
        }
        // The wait itself failed: nothing can be pumped; wait for the end.
        ::WaitForSingleObject(thread, INFINITE);
        break;
    }
    ::CloseHandle(thread);
    // Messages queued while the work ended, then input again.
    PumpWhileBusy();
    if (enabled) ::EnableWindow(m_hwnd, TRUE);
    m_busy = false;
    if (m_quit) ::PostQuitMessage(static_cast<int>(m_quitCode));
    return job.result;
}

void Win32DialogWindow::Destroy(int) {
    if (m_hwnd != nullptr) {
        ::DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    m_progressBar.Reset();
    for (HICON& icon : m_icons) {
        if (icon != nullptr) ::DestroyIcon(icon);
        icon = nullptr;
    }
    m_pending.clear();
    m_haveKey = false;
}
