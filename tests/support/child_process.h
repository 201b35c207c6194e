// A child process for the tests and the benchmark: started with its
// arguments and extra environment variables, its standard output and error
// read through pipes (or standard output written to a file), its input
// inherited, from the null device or (POSIX) from a pseudo-terminal. Every
// wait is bounded, and the destructor kills and reaps a child that is still
// running. posix_spawn and poll on POSIX; CreateProcessW and anonymous pipes
// on Windows.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ChildOptions {
    // kTerminal: a pseudo-terminal (POSIX only; on Windows the child does
    // not start).
    enum class Input { kInherit, kNull, kTerminal };
    Input input = Input::kInherit;
    // Added to (or replacing) the inherited environment.
    std::map<std::string, std::string> env;
    // When set, standard output goes to this file (created or truncated)
    // instead of a pipe; out() then stays empty.
    std::string stdoutPath;
    // Starts the child in a session of its own, without a controlling
    // terminal (what it would write to /dev/tty cannot reach the tester's).
    // POSIX only; ignored on Windows.
    bool newSession = false;
};

class CChildProcess {
public:
    enum class Stream { kOut, kErr };

    // argv[0] is looked up on PATH when it holds no path separator.
    explicit CChildProcess(std::vector<std::string> argv, const ChildOptions& options = {});
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool started() const;
    bool running() const;
    // True once the stream reached its end (or never was a pipe).
    bool atEnd(Stream s) const;

    // Waits for a line that starts with prefix; returns it (empty after
    // timeoutMs or when the stream ends first). A line may end in CR LF.
    std::string WaitForLine(const std::string& prefix, int timeoutMs, Stream s = Stream::kErr);

    // Waits until the stream holds text anywhere; false after timeoutMs or
    // when the stream ends first.
    bool WaitForText(const std::string& text, int timeoutMs, Stream s = Stream::kOut);

    // Writes to the terminal on its input (Input::kTerminal only).
    bool Type(const std::string& text);

    // Waits up to timeoutMs for the end, keeping the pipes drained; the exit
    // status (128 + signal when a signal ended it), or nothing while it still
    // runs. The child is left running on timeout.
    std::optional<int> WaitFor(int timeoutMs);

    // Waits (bounded) for the end; the exit status, or -1 when the process
    // had to be killed.
    int Wait(int timeoutMs);

    // Sends sig to the running child; false when it no longer runs.
    // Windows has no signals: the process is terminated and ends with
    // 128 + sig, as one that the signal ended does on POSIX.
    bool Signal(int sig);

    // Sends sig and waits (bounded) for the end, as Wait.
    int Stop(int sig, int timeoutMs);

    // Closes the reading ends of both output pipes, as a reader that went
    // away does: the child's later writes fail (EPIPE, or SIGPIPE).
    void CloseOutput();

    const std::string& out() const { return m_text[0]; }
    const std::string& err() const { return m_text[1]; }
    // Seconds from the start to the end (after the end was seen).
    double seconds() const { return std::chrono::duration<double>(m_elapsed).count(); }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    // The platform's side: the process and the two pipes.
    struct Os;

    static int Index(Stream s) { return s == Stream::kOut ? 0 : 1; }
    static TimePoint Deadline(int timeoutMs);
    static long long Left(TimePoint end);

    // The platform's part (child_process_<platform>.cpp).
    void Start(std::vector<std::string> argv, const ChildOptions& options);
    // Waits up to timeoutMs for either pipe and reads what is there; closes
    // a pipe at its end. True when something was read or a pipe ended.
    bool Pump(long long timeoutMs);
    // True once the child has ended, with its exit status; never blocks.
    bool Reap(int* status);
    bool SendSignal(int sig);
    void Kill();
    void CloseAll();

    // Reads from both pipes until stream s has new text (true) or is at its
    // end, or end passes (false).
    bool ReadUntil(TimePoint end, Stream s);

    std::unique_ptr<Os> m_os;
    bool m_reaped = false;
    int m_status = -1;
    std::string m_text[2];
    size_t m_scanned[2] = {0, 0};
    TimePoint m_start{};
    std::chrono::steady_clock::duration m_elapsed{};
};

}  // namespace testsupport
