// Shared pieces of the link tests: a fixture that starts from a clean link
// object and settings and captures every trace line, and small helpers.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/trace.h"
#include "platform/text.h"
#include "platform/trace_sink.h"

namespace linktest {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLinkForTest();
        platform::SetTraceObserver(
            [this](std::string_view line) { traces.emplace_back(line); }, true);
    }
    void TearDown() override {
        ResetLinkForTest();
        platform::SetTraceObserver(nullptr);
    }

    // The trace lines written so far that contain text.
    std::vector<std::string> TracesWith(std::string_view text) const {
        std::vector<std::string> out;
        for (const std::string& t : traces)
            if (t.find(text) != std::string::npos) out.push_back(t);
        return out;
    }

    std::vector<std::string> traces;
};

// "<function>() [<line>] <message> -[<system text>]\n" with the line number
// replaced by N, so that a test does not depend on where the call sits.
inline std::string WithoutLineNumber(const std::string& line) {
    const size_t open = line.find("() [");
    if (open == std::string::npos) return line;
    const size_t close = line.find("] ", open);
    if (close == std::string::npos) return line;
    return line.substr(0, open + 4) + "N" + line.substr(close);
}

#ifdef _WIN32
// The system's text for an error number as FormatMessageW gives it with the
// trace's flags (0x13FF, neutral language): under wine in wine's wording
// ("Invalid data." for 13), and with the blank that the flags leave in
// place of the text's line end. "(null)" when there is none.
inline std::string FormatMessageText(uint32_t number) {
    wchar_t* buffer = nullptr;
    const DWORD n =
        ::FormatMessageW(0x13FF, nullptr, number, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                         reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) return "(null)";
    const std::u16string wide(buffer, buffer + n);
    ::LocalFree(buffer);
    return platform::Utf16ToUtf8(wide);
}
#endif

// The system's text for the error numbers the link tests meet, copied by
// hand on POSIX, so that a wrong text in the trace line fails the tests:
// the Win32 texts of the constants the updater passes, and the C library's
// texts of the numbers the system's own calls report. On Windows every
// number is the system's, and its text is the system's own.
inline std::string ExpectedSystemText(platform::ErrorNumber error) {
#ifdef _WIN32
    return FormatMessageText(error.value);
#endif
    if (error.origin == platform::ErrorOrigin::kWin32) {
        switch (error.value) {
        case 8: return "Not enough memory resources are available to process this command.";
        case 13: return "The data is invalid.";
        case 22: return "The device does not recognize the command.";
        case 1167: return "The device is not connected.";
        default: break;
        }
    } else {
        switch (error.value) {
        case 2: return "No such file or directory";
        case 5: return "Input/output error";
        case 9: return "Bad file descriptor";
        case 13: return "Permission denied";
        case 19: return "No such device";
        case 20: return "Not a directory";
        case 22: return "Invalid argument";
        case 31: return "Too many links";
        case 32: return "Broken pipe";
        case 104: return "Connection reset by peer";
        case 110: return "Connection timed out";
        case 111: return "Connection refused";
        case 122: return "Disk quota exceeded";
        case 259: return "(null)";  // a number the system has no text for
        default: break;
        }
    }
    ADD_FAILURE() << "no expected text for error " << error.value;
    return "?";
}

// The expected trace line for an error number, with N for the line.
inline std::string TraceLine(const std::string& function, const std::string& message,
                             platform::ErrorNumber error) {
    return function + "() [N] " + message + " -[" + ExpectedSystemText(error) + "]\n";
}

// The same for a number that a system call reported.
inline std::string TraceLine(const std::string& function, const std::string& message,
                             unsigned long systemError) {
    return TraceLine(function, message, platform::SystemError(systemError));
}

}  // namespace linktest
