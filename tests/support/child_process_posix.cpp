// CChildProcess on POSIX: posix_spawnp, pipes read with poll, waitpid.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tests/support/child_process.h"

extern char** environ;

namespace testsupport {

struct CChildProcess::Os {
    pid_t pid = -1;
    int fd[2] = {-1, -1};  // standard output, standard error
    int master = -1;       // the terminal on the child's input
};

namespace {

void CloseFds(std::initializer_list<int> fds) {
    for (int fd : fds)
        if (fd >= 0) ::close(fd);
}

}  // namespace

void CChildProcess::Start(std::vector<std::string> argv, const ChildOptions& options) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (options.stdoutPath.empty() && ::pipe2(out, O_CLOEXEC) != 0) return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        CloseFds({out[0], out[1]});
        return;
    }
    int in = -1;
    if (options.input == ChildOptions::Input::kTerminal) {
        m_os->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_os->master >= 0 && ::grantpt(m_os->master) == 0 && ::unlockpt(m_os->master) == 0)
            in = ::open(::ptsname(m_os->master), O_RDWR | O_NOCTTY | O_CLOEXEC);
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
    if (::posix_spawnp(&m_os->pid, args[0], &fa, &attr, args.data(), envPtr) != 0) m_os->pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    CloseFds({in, out[1], err[1]});
    m_os->fd[0] = out[0];
    m_os->fd[1] = err[0];
}

CChildProcess::CChildProcess(std::vector<std::string> argv, const ChildOptions& options)
    : m_os(std::make_unique<Os>()) {
    m_start = std::chrono::steady_clock::now();
    if (!argv.empty()) Start(std::move(argv), options);
}

CChildProcess::~CChildProcess() {
    Kill();
    CloseAll();
}

bool CChildProcess::started() const { return m_os->pid > 0 || m_reaped; }

bool CChildProcess::running() const { return m_os->pid > 0; }

bool CChildProcess::atEnd(Stream s) const { return m_os->fd[Index(s)] < 0; }

bool CChildProcess::Type(const std::string& text) {
    return m_os->master >= 0 &&
           ::write(m_os->master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool CChildProcess::Pump(long long timeoutMs) {
    int* fd = m_os->fd;
    pollfd p[2] = {{fd[0], POLLIN, 0}, {fd[1], POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(std::max<long long>(timeoutMs, 0))) <= 0) return false;
    bool any = false;
    for (int i = 0; i < 2; ++i) {
        if (fd[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t n = ::read(fd[i], buf, sizeof buf);
        if (n > 0) {
            m_text[i].append(buf, static_cast<size_t>(n));
        } else {
            ::close(fd[i]);
            fd[i] = -1;
        }
        any = true;
    }
    return any;
}

bool CChildProcess::Reap(int* status) {
    int raw = 0;
    if (::waitpid(m_os->pid, &raw, WNOHANG) != m_os->pid) return false;
    m_os->pid = -1;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

bool CChildProcess::SendSignal(int sig) { return ::kill(m_os->pid, sig) == 0; }

void CChildProcess::Kill() {
    if (!running()) return;
    ::kill(m_os->pid, SIGKILL);
    ::waitpid(m_os->pid, nullptr, 0);
    m_os->pid = -1;
}

void CChildProcess::CloseOutput() {
    CloseFds({m_os->fd[0], m_os->fd[1]});
    m_os->fd[0] = m_os->fd[1] = -1;
}

void CChildProcess::CloseAll() {
    CloseFds({m_os->fd[0], m_os->fd[1], m_os->master});
    m_os->fd[0] = m_os->fd[1] = m_os->master = -1;
}

}  // namespace testsupport
