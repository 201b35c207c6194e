// The window side of the dialog framework on Windows.
#include <windows.h>

#include <string>

#include "platform/dialog.h"
#include "platform/text.h"

namespace platform {

bool ActivateWindowTitled(const std::string& title) {
    const std::u16string u = Utf8ToUtf16(title);
    const std::wstring wide(u.begin(), u.end());
    HWND window = ::FindWindowW(nullptr, wide.c_str());
    if (window == nullptr) return false;
    ::SetForegroundWindow(window);
    return true;
}

}  // namespace platform
