// Where finished trace lines go: the platform's debug channel
// (OutputDebugStringW on Windows, syslog at debug level on POSIX).
// Tests and service front ends can capture or mirror the lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Writes one finished line (UTF-8, ending in "\n") to the debug channel and
// to the installed observer, if any.
void WriteDebugLine(std::string_view line);

using TraceObserver = std::function<void(std::string_view line)>;
// Installs an observer that sees every line (nullptr removes it). When
// quiet is true the line is not also written to the debug channel.
void SetTraceObserver(TraceObserver observer, bool quiet = false);

// Where an error number comes from, and so whose text explains it.
enum class ErrorOrigin : uint8_t {
    // Returned by a call of the platform the updater runs on: errno on
    // POSIX, GetLastError / WSAGetLastError on Windows.
    kSystem,
    // A Windows error code that the updater itself passes as a constant
    // (ERROR_BAD_COMMAND for a NAK, ...): its Windows meaning holds on
    // every platform.
    kWin32,
};

// An error number with its origin. There is no conversion from a bare
// integer: every caller says where its number came from.
struct ErrorNumber {
    uint32_t value;
    ErrorOrigin origin;
};

constexpr ErrorNumber SystemError(unsigned long value) {
    return ErrorNumber{static_cast<uint32_t>(value), ErrorOrigin::kSystem};
}
constexpr ErrorNumber Win32Error(uint32_t value) {
    return ErrorNumber{value, ErrorOrigin::kWin32};
}

// The text that explains an error number, or false when there is none: a
// system number gets the running system's own text (strerror on POSIX,
// FormatMessageW on Windows), a Windows constant its Windows text.
bool SystemErrorText(ErrorNumber error, std::string* text);

// The calling thread's last system error (errno / GetLastError) and the
// socket library's (errno / WSAGetLastError).
unsigned long LastError();
unsigned long LastSocketError();

}  // namespace platform
