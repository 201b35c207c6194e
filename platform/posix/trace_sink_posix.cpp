// The debug channel on POSIX: syslog at debug level.
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include <string>

#include "platform/trace_sink.h"

namespace platform {

void WriteDebugChannel(std::string_view line) {
    static const bool opened = [] {
        openlog("quillon", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    syslog(LOG_DEBUG, "%.*s", static_cast<int>(line.size()), line.data());
}

namespace {

// The Windows texts of the Windows codes that the updater passes as
// constants; an errno of the same value means something else entirely
// (13 is EACCES, 22 EINVAL).
const char* Win32Text(uint32_t code) {
    switch (code) {
        case 8:
            return "Not enough memory resources are available to process this command.";
        case 13:
            return "The data is invalid.";
        case 22:
            return "The device does not recognize the command.";
        case 1167:
            return "The device is not connected.";
        default:
            return nullptr;
    }
}

}  // namespace

bool SystemErrorText(ErrorNumber error, std::string* text) {
    if (error.origin == ErrorOrigin::kWin32) {
        const char* win32 = Win32Text(error.value);
        if (win32 == nullptr) return false;
        *text = win32;
        return true;
    }
    if (error.value > 4095) return false;
    char buffer[256];
    // GNU strerror_r returns the text, which may not be in buffer.
    const char* s = strerror_r(static_cast<int>(error.value), buffer, sizeof buffer);
    if (s == nullptr || strncmp(s, "Unknown error", 13) == 0) return false;
    *text = s;
    return true;
}

unsigned long LastError() { return static_cast<unsigned long>(errno); }
unsigned long LastSocketError() { return static_cast<unsigned long>(errno); }

}  // namespace platform
