// The trace line: "%s() [%d] " + message + " -[%s]\n", one line per failing
// system call, library call or protocol check, written to the platform's
// debug channel.
#pragma once

#include <cstdint>

// Formats a single-byte (UTF-8) message and appends it as a finished text.
void TraceError(int line, const char* function, uint32_t errorNumber, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// The same with a wide-character message format (used for device paths).
void TraceErrorW(int line, const char* function, uint32_t errorNumber, const wchar_t* format,
                 ...);

// Win32 error numbers that the system passes as constants.
constexpr uint32_t kErrorInvalidData = 13;           // ERROR_INVALID_DATA
constexpr uint32_t kErrorBadCommand = 22;            // ERROR_BAD_COMMAND
constexpr uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED

// Shorthand for the calling site's line.
#define TRACE_ERROR(function, errorNumber, ...) \
    TraceError(__LINE__, function, errorNumber, __VA_ARGS__)
