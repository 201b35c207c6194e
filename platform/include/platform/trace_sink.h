// Where finished trace lines go: the platform's debug channel
// (OutputDebugStringW on Windows, syslog at debug level on POSIX).
// Tests and service front ends can capture or mirror the lines.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Writes one finished line (UTF-8, ending in "\n") to the debug channel and
// to the installed observer, if any.
void WriteDebugLine(std::string_view line);

using TraceObserver = std::function<void(std::string_view line)>;
// Installs an observer that sees every line (nullptr removes it). When
// quiet is true the line is not also written to the debug channel.
void SetTraceObserver(TraceObserver observer, bool quiet = false);

// The system's text for an error number, or false when it has none.
// The numbers the updater passes as constants (13, 22, 1167, ...) are
// Win32 codes and get their Win32 meaning on every platform.
bool SystemErrorText(unsigned long errorNumber, std::string* text);

// The calling thread's last system error (errno / GetLastError) and the
// socket library's (errno / WSAGetLastError).
unsigned long LastError();
unsigned long LastSocketError();

}  // namespace platform
