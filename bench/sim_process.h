// zkq870-sim as a child process (POSIX): started with its arguments, ready
// once it reports "ready usb DIR" on standard error, stopped with a signal;
// its JSON summary (standard output) is handed back. Shared by the update
// benchmark and the real-time end-to-end test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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
        int errPipe[2];
        if (::pipe2(errPipe, O_CLOEXEC) != 0) return Fail(error, "pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        std::vector<std::string> all = {exe};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(errPipe[1]);
        errFd_ = errPipe[0];
        if (rc != 0) {
            pid_ = -1;
            return Fail(error, "cannot start " + exe);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readyMs);
        while (stderr_.find("ready usb") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return Fail(error, "no \"ready usb\" from the simulator: " + stderr_);
            pollfd p{errFd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(errFd_, buf, sizeof buf);
            if (n <= 0) return Fail(error, "the simulator ended early: " + stderr_);
            stderr_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    // Waits up to waitMs for the child to end by itself (e.g. after
    // --exit-after-restart), then signals it; returns its standard output.
    std::string Stop(int waitMs = 0) {
        if (pid_ > 0) {
            int status = 0;
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
            pid_t done = 0;
            while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done == 0) {
                ::kill(pid_, SIGTERM);
                const auto hard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
                       std::chrono::steady_clock::now() < hard)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (done == 0) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                }
            }
            pid_ = -1;
        }
        if (errFd_ >= 0) {
            ::close(errFd_);
            errFd_ = -1;
        }
        if (outPath_.empty()) return {};
        std::ifstream in(outPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const std::string& errorText() const { return stderr_; }
    bool running() const { return pid_ > 0; }

private:
    bool Fail(std::string* error, const std::string& message) {
        if (error) *error = message;
        return false;
    }

    pid_t pid_ = -1;
    int errFd_ = -1;
    std::string outPath_;
    std::string stderr_;
};

}  // namespace bench
