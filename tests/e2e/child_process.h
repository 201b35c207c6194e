// A child process for the end-to-end tests: started with its output on
// pipes, its input from /dev/null or a pseudo-terminal, extra environment
// variables; waited for with bounds and never left running.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace e2e {

class ChildProcess {
public:
    enum class Input { kNull, kTerminal };

    ChildProcess(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
                 Input input = Input::kNull) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return;
        }
        int in = -1;
        if (input == Input::kTerminal) {
            m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
                in = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        } else {
            in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (in >= 0) posix_spawn_file_actions_adddup2(&fa, in, 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);

        std::map<std::string, std::string> all;
        for (char** e = environ; *e != nullptr; ++e) {
            const char* eq = std::strchr(*e, '=');
            if (eq != nullptr) all[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
        }
        for (const auto& [k, v] : env) all[k] = v;
        std::vector<std::string> envText;
        for (const auto& [k, v] : all) envText.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        m_start = std::chrono::steady_clock::now();
        if (posix_spawn(&m_pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        if (in >= 0) ::close(in);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~ChildProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_out, m_err, m_master})
            if (fd >= 0) ::close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }

    // Waits until the standard output (or error) holds text; false after
    // timeoutMs or at the end of the process.
    bool WaitForOutput(const std::string& text, int timeoutMs, bool onError = false) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if ((onError ? m_errText : m_outText).find(text) != std::string::npos) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return false;
            pollfd p[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            if (::poll(p, 2, static_cast<int>(std::min<long long>(left, 100))) < 0) return false;
            bool any = false;
            any |= Drain(m_out, &m_outText, p[0].revents);
            any |= Drain(m_err, &m_errText, p[1].revents);
            if (!any && (p[0].revents & POLLHUP) && (p[1].revents & POLLHUP)) return false;
        }
    }

    // Writes to the terminal on its input.
    bool Type(const std::string& text) {
        return m_master >= 0 &&
               ::write(m_master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    // Waits for the end (bounded); returns the exit status, 128 + signal,
    // or -1 when the process had to be killed.
    int Wait(int timeoutMs) {
        if (m_pid <= 0) return -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        for (;;) {
            pollfd p[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            ::poll(p, 2, 20);
            Drain(m_out, &m_outText, p[0].revents);
            Drain(m_err, &m_errText, p[1].revents);
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
        m_elapsed = std::chrono::steady_clock::now() - m_start;
        for (int k = 0; k < 50; ++k) {
            pollfd p[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) break;
            if (!Drain(m_out, &m_outText, p[0].revents) && !Drain(m_err, &m_errText, p[1].revents))
                break;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int Stop(int sig, int timeoutMs) {
        if (m_pid > 0) ::kill(m_pid, sig);
        return Wait(timeoutMs);
    }

    const std::string& out() const { return m_outText; }
    const std::string& err() const { return m_errText; }
    // Seconds from the start to the end (after Wait).
    double seconds() const { return std::chrono::duration<double>(m_elapsed).count(); }

private:
    static bool Drain(int fd, std::string* text, short revents) {
        if (fd < 0 || !(revents & (POLLIN | POLLHUP))) return false;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        text->append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    int m_master = -1;
    std::string m_outText;
    std::string m_errText;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::duration m_elapsed{};
};

}  // namespace e2e
