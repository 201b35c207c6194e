// The trace line: "%s() [%d] " + message + " -[%s]\n", one line per failing
// system call, library call or protocol check, written to the platform's
// debug channel.
#pragma once

#include <cstdint>

#include "platform/trace_sink.h"

// Formats a single-byte (UTF-8) message and appends it as a finished text.
// The error number carries its origin (platform::SystemError for what a
// system call reported, one of the constants below for the updater's own),
// which decides the text in the brackets.
void TraceError(int line, const char* function, platform::ErrorNumber error, const char* format,
                ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// The same with a wide-character message format (used for device paths).
void TraceErrorW(int line, const char* function, platform::ErrorNumber error,
                 const wchar_t* format, ...);

// Win32 error numbers that the system passes as constants.
constexpr platform::ErrorNumber kErrorNotEnoughMemory = platform::Win32Error(8);
constexpr platform::ErrorNumber kErrorInvalidData = platform::Win32Error(13);
constexpr platform::ErrorNumber kErrorBadCommand = platform::Win32Error(22);
constexpr platform::ErrorNumber kErrorDeviceNotConnected = platform::Win32Error(1167);

// Shorthand for the calling site's line.
#define TRACE_ERROR(function, error, ...) \
    TraceError(__LINE__, function, error, __VA_ARGS__)
