// Shared pieces of the link tests: a fixture that starts from a clean link
// object and settings and captures every trace line, and small helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/trace.h"
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

// The expected trace line for an error number, with N for the line.
inline std::string TraceLine(const std::string& function, const std::string& message,
                             platform::ErrorNumber error) {
    std::string text;
    if (!platform::SystemErrorText(error, &text)) text = "(null)";
    return function + "() [N] " + message + " -[" + text + "]\n";
}

// The same for a number that a system call reported.
inline std::string TraceLine(const std::string& function, const std::string& message,
                             unsigned long systemError) {
    return TraceLine(function, message, platform::SystemError(systemError));
}

}  // namespace linktest
