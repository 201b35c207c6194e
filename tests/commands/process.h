// quillon-cmd, zkq870-sim and helper programs as child processes with their
// input from /dev/null.
#pragma once

#include <signal.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"

namespace cmdtest {

class Process : public testsupport::CChildProcess {
public:
    // argv[0] is looked up on PATH when it holds no '/'.
    explicit Process(std::vector<std::string> args)
        : CChildProcess(std::move(args), Options()) {}

    // A line on standard error that starts with prefix (empty after
    // timeoutMs or when the process ends first).
    std::string WaitForErrLine(const std::string& prefix, int timeoutMs) {
        return WaitForLine(prefix, timeoutMs, Stream::kErr);
    }

    // Asks the process to end (SIGTERM) and waits for it (bounded).
    int Stop(int timeoutMs) { return CChildProcess::Stop(SIGTERM, timeoutMs); }

private:
    static testsupport::ChildOptions Options() {
        testsupport::ChildOptions o;
        o.input = testsupport::ChildOptions::Input::kNull;
        return o;
    }
};

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

inline Finished RunToEnd(std::vector<std::string> args, int timeoutMs) {
    Process p(std::move(args));
    Finished f;
    if (!p.started()) return f;
    f.status = p.Wait(timeoutMs);
    f.out = p.out();
    f.err = p.err();
    return f;
}

}  // namespace cmdtest
