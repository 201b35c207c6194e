// A child process for the tests and the benchmark (POSIX): started with its
// arguments and extra environment variables, its standard output and error
// read through pipes (or standard output written to a file), its input
// inherited, from /dev/null or from a pseudo-terminal. Every wait is
// bounded, and the destructor kills and reaps a child that is still running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

struct ChildOptions {
    enum class Input { kInherit, kNull, kTerminal };
    Input input = Input::kInherit;
    // Added to (or replacing) the inherited environment.
    std::map<std::string, std::string> env;
    // When set, standard output goes to this file (created or truncated)
    // instead of a pipe; out() then stays empty.
    std::string stdoutPath;
    // Starts the child in a session of its own, without a controlling
    // terminal (what it would write to /dev/tty cannot reach the tester's).
    bool newSession = false;
};

class CChildProcess {
public:
    enum class Stream { kOut, kErr };

    // argv[0] is looked up on PATH when it holds no '/'.
    explicit CChildProcess(std::vector<std::string> argv, const ChildOptions& options = {}) {
        if (argv.empty()) return;
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (options.stdoutPath.empty() && ::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            CloseAll({out[0], out[1]});
            return;
        }
        int in = -1;
        if (options.input == ChildOptions::Input::kTerminal) {
            m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
                in = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        } else if (options.input == ChildOptions::Input::kNull) {
            in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        }

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (in >= 0) posix_spawn_file_actions_adddup2(&fa, in, 0);
        if (options.stdoutPath.empty())
            posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&fa, 1, options.stdoutPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);

        std::vector<std::string> envText;
        std::vector<char*> envp;
        char** envPtr = environ;
        if (!options.env.empty()) {
            std::map<std::string, std::string> all;
            for (char** e = environ; *e != nullptr; ++e) {
                const char* eq = std::strchr(*e, '=');
                if (eq != nullptr) all[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
            }
            for (const auto& [k, v] : options.env) all[k] = v;
            for (const auto& [k, v] : all) envText.push_back(k + "=" + v);
            for (auto& e : envText) envp.push_back(e.data());
            envp.push_back(nullptr);
            envPtr = envp.data();
        }
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);

        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        if (options.newSession) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        m_start = std::chrono::steady_clock::now();
        if (::posix_spawnp(&m_pid, args[0], &fa, &attr, args.data(), envPtr) != 0) m_pid = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&fa);
        CloseAll({in, out[1], err[1]});
        m_fd[0] = out[0];
        m_fd[1] = err[0];
    }
    ~CChildProcess() {
        Kill();
        CloseAll({m_fd[0], m_fd[1], m_master});
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool started() const { return m_pid > 0 || m_reaped; }
    bool running() const { return m_pid > 0; }
    // True once the stream reached its end (or never was a pipe).
    bool atEnd(Stream s) const { return m_fd[Index(s)] < 0; }

    // Waits for a line that starts with prefix; returns it (empty after
    // timeoutMs or when the stream ends first).
    std::string WaitForLine(const std::string& prefix, int timeoutMs, Stream s = Stream::kErr) {
        const auto end = Deadline(timeoutMs);
        const int i = Index(s);
        for (;;) {
            size_t nl;
            while ((nl = m_text[i].find('\n', m_scanned[i])) != std::string::npos) {
                std::string line = m_text[i].substr(m_scanned[i], nl - m_scanned[i]);
                m_scanned[i] = nl + 1;
                if (line.rfind(prefix, 0) == 0) return line;
            }
            if (!ReadUntil(end, s)) return {};
        }
    }

    // Waits until the stream holds text anywhere; false after timeoutMs or
    // when the stream ends first.
    bool WaitForText(const std::string& text, int timeoutMs, Stream s = Stream::kOut) {
        const auto end = Deadline(timeoutMs);
        for (;;) {
            if (m_text[Index(s)].find(text) != std::string::npos) return true;
            if (!ReadUntil(end, s)) return false;
        }
    }

    // Writes to the terminal on its input (Input::kTerminal only).
    bool Type(const std::string& text) {
        return m_master >= 0 &&
               ::write(m_master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // Waits up to timeoutMs for the end, keeping the pipes drained; the exit
    // status (128 + signal when a signal ended it), or nothing while it still
    // runs. The child is left running on timeout.
    std::optional<int> WaitFor(int timeoutMs) {
        if (m_pid <= 0) return m_reaped ? std::optional<int>(m_status) : std::nullopt;
        const auto end = Deadline(timeoutMs);
        int status = 0;
        for (;;) {
            Pump(std::min<long long>(Left(end), 10));
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) break;
            if (Left(end) <= 0) return std::nullopt;
        }
        m_pid = -1;
        m_reaped = true;
        m_elapsed = std::chrono::steady_clock::now() - m_start;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        // What the child wrote last; bounded in case a descendant keeps a pipe open.
        const auto drainEnd = Deadline(2000);
        while ((m_fd[0] >= 0 || m_fd[1] >= 0) && Left(drainEnd) > 0 && Pump(100)) {}
        return m_status;
    }

    // Waits (bounded) for the end; the exit status, or -1 when the process
    // had to be killed.
    int Wait(int timeoutMs) {
        if (m_pid <= 0) return -1;
        if (const auto status = WaitFor(timeoutMs)) return *status;
        Kill();
        return -1;
    }

    // Sends sig to the running child; false when it no longer runs.
    bool Signal(int sig) { return m_pid > 0 && ::kill(m_pid, sig) == 0; }

    // Closes the reading ends of both output pipes, as a reader that went
    // away does: the child's later writes fail (EPIPE, or SIGPIPE).
    void CloseOutput() {
        CloseAll({m_fd[0], m_fd[1]});
        m_fd[0] = m_fd[1] = -1;
    }

    // Sends sig and waits (bounded) for the end, as Wait.
    int Stop(int sig, int timeoutMs) {
        if (m_pid <= 0) return -1;
        ::kill(m_pid, sig);
        return Wait(timeoutMs);
    }

    const std::string& out() const { return m_text[0]; }
    const std::string& err() const { return m_text[1]; }
    // Seconds from the start to the end (after the end was seen).
    double seconds() const { return std::chrono::duration<double>(m_elapsed).count(); }

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    static int Index(Stream s) { return s == Stream::kOut ? 0 : 1; }
    static TimePoint Deadline(int timeoutMs) {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
    static long long Left(TimePoint end) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   end - std::chrono::steady_clock::now())
            .count();
    }
    static void CloseAll(std::initializer_list<int> fds) {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }

    void Kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    // Reads from both pipes until stream s has new text (true) or is at its
    // end, or end passes (false).
    bool ReadUntil(TimePoint end, Stream s) {
        const int i = Index(s);
        const size_t before = m_text[i].size();
        while (m_text[i].size() == before) {
            if (m_fd[i] < 0) return false;
            const long long left = Left(end);
            if (left <= 0) return false;
            Pump(std::min<long long>(left, 100));
        }
        return true;
    }

    // Waits up to timeoutMs for either pipe and reads what is there; closes
    // a pipe at its end. True when something was read or a pipe ended.
    bool Pump(long long timeoutMs) {
        pollfd p[2] = {{m_fd[0], POLLIN, 0}, {m_fd[1], POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(std::max<long long>(timeoutMs, 0))) <= 0) return false;
        bool any = false;
        for (int i = 0; i < 2; ++i) {
            if (m_fd[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(m_fd[i], buf, sizeof buf);
            if (n > 0) {
                m_text[i].append(buf, static_cast<size_t>(n));
            } else {
                ::close(m_fd[i]);
                m_fd[i] = -1;
            }
            any = true;
        }
        return any;
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = -1;
    int m_fd[2] = {-1, -1};  // standard output, standard error
    int m_master = -1;
    std::string m_text[2];
    size_t m_scanned[2] = {0, 0};
    TimePoint m_start{};
    std::chrono::steady_clock::duration m_elapsed{};
};

}  // namespace testsupport
