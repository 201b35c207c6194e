// A child process for the end-to-end tests: its input from /dev/null or a
// pseudo-terminal, extra environment variables, a session of its own.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"

namespace e2e {

class ChildProcess : public testsupport::CChildProcess {
public:
    using Input = testsupport::ChildOptions::Input;

    ChildProcess(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
                 Input input = Input::kNull)
        : CChildProcess(std::move(argv), Options(env, input)) {}

    // Waits until the standard output (or error) holds text; false after
    // timeoutMs or at the end of that stream.
    bool WaitForOutput(const std::string& text, int timeoutMs, bool onError = false) {
        return WaitForText(text, timeoutMs, onError ? Stream::kErr : Stream::kOut);
    }

private:
    static testsupport::ChildOptions Options(const std::map<std::string, std::string>& env,
                                             Input input) {
        testsupport::ChildOptions o;
        o.input = input;
        o.env = env;
        // No controlling terminal: what a child writes to /dev/tty would
        // otherwise land on the terminal of whoever runs the tests.
        o.newSession = true;
        return o;
    }
};

}  // namespace e2e
