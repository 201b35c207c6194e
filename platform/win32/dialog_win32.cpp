// The window side of the dialog framework on Windows: finding the running
// updater's window and the common controls.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/dialog.h"
#include "platform/text.h"

namespace platform {

bool ActivateWindowTitled(const std::string& title) {
    const std::u16string u = Utf8ToUtf16(title);
    const std::wstring wide(u.begin(), u.end());
    HWND window = ::FindWindowW(nullptr, wide.c_str());
    if (window == nullptr) return false;
    // A minimised window is restored; a hidden one (a dialog still in its
    // initialisation) stays hidden, and the box it shows comes forward.
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    HWND target = ::GetLastActivePopup(window);
    if (target == nullptr || !::IsWindowVisible(target)) target = window;
    ::SetForegroundWindow(target);
    return true;
}

void InitDialogControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;   // 8
    controls.dwICC = ICC_WIN95_CLASSES;  // 0xFF
    ::InitCommonControlsEx(&controls);
}

}  // namespace platform
