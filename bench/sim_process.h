// zkq870-sim as a child process (POSIX): started with its arguments, ready
// once it reports "ready usb DIR" on standard error, stopped with a signal;
// its JSON summary (standard output, kept in a file) is handed back. Shared
// by the update benchmark and the real-time end-to-end test.
#pragma once

#include <signal.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace bench {

class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { Stop(); }

    // Starts `exe args...` with standard output going to outPath and waits
    // up to readyMs for the "ready usb" line.
    bool Start(const std::string& exe, const std::vector<std::string>& args,
               const std::string& outPath, int readyMs, std::string* error) {
        outPath_ = outPath;
        std::vector<std::string> all = {exe};
        all.insert(all.end(), args.begin(), args.end());
        testsupport::ChildOptions options;
        options.stdoutPath = outPath;
        child_.emplace(std::move(all), options);
        if (!child_->started()) return Fail(error, "cannot start " + exe);
        using Stream = testsupport::CChildProcess::Stream;
        if (child_->WaitForText("ready usb", readyMs, Stream::kErr)) return true;
        if (child_->atEnd(Stream::kErr))
            return Fail(error, "the simulator ended early: " + child_->err());
        return Fail(error, "no \"ready usb\" from the simulator: " + child_->err());
    }

    // Waits up to waitMs for the child to end by itself (e.g. after
    // --exit-after-restart), then signals it; returns its standard output.
    std::string Stop(int waitMs = 0) {
        if (child_ && child_->running() && !child_->WaitFor(waitMs))
            child_->Stop(SIGTERM, 5000);  // killed when SIGTERM is not enough
        if (outPath_.empty()) return {};
        std::ifstream in(outPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const std::string& errorText() const { return child_ ? child_->err() : empty_; }
    bool running() const { return child_ && child_->running(); }

private:
    static bool Fail(std::string* error, const std::string& message) {
        if (error) *error = message;
        return false;
    }

    std::optional<testsupport::CChildProcess> child_;
    std::string outPath_;
    std::string empty_;
};

}  // namespace bench
