// A child process with pipes on its standard output and error, waited for
// with bounds and never left running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace cmdtest {

class Process {
public:
    // argv[0] is looked up on PATH when it holds no '/'.
    explicit Process(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Process() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
        if (m_err >= 0) ::close(m_err);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return m_pid > 0; }

    // Waits for a line on standard error that starts with prefix; returns
    // it (empty after timeoutMs or when the process ends first).
    std::string WaitForErrLine(const std::string& prefix, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t nl;
            while ((nl = m_errText.find('\n', m_scanned)) != std::string::npos) {
                const std::string line = m_errText.substr(m_scanned, nl - m_scanned);
                m_scanned = nl + 1;
                if (line.rfind(prefix, 0) == 0) return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadSome(m_err, &m_errText, static_cast<int>(left))) return {};
        }
    }

    // Waits (bounded) for the end; the exit status, or -1 when the process
    // had to be killed.
    int Wait(int timeoutMs) {
        if (m_pid <= 0) return -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        for (;;) {
            ReadSome(m_out, &m_outText, 5);
            ReadSome(m_err, &m_errText, 0);
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) break;
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                m_pid = -1;
                return -1;
            }
        }
        m_pid = -1;
        while (ReadSome(m_out, &m_outText, 100)) {}
        while (ReadSome(m_err, &m_errText, 100)) {}
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Asks the process to end (SIGTERM) and waits for it (bounded).
    int Stop(int timeoutMs) {
        if (m_pid > 0) ::kill(m_pid, SIGTERM);
        return Wait(timeoutMs);
    }

    const std::string& out() const { return m_outText; }
    const std::string& err() const { return m_errText; }

private:
    static bool ReadSome(int fd, std::string* text, int timeoutMs) {
        if (fd < 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        text->append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_outText;
    std::string m_errText;
    size_t m_scanned = 0;
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
