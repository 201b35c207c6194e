// The waiting and reading logic of CChildProcess, the same on every
// platform; the process and pipe calls are in child_process_<platform>.cpp.
#include "tests/support/child_process.h"

#include <algorithm>

namespace testsupport {

CChildProcess::TimePoint CChildProcess::Deadline(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

long long CChildProcess::Left(TimePoint end) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                                 std::chrono::steady_clock::now())
        .count();
}

std::string CChildProcess::WaitForLine(const std::string& prefix, int timeoutMs, Stream s) {
    const auto end = Deadline(timeoutMs);
    const int i = Index(s);
    for (;;) {
        size_t nl;
        while ((nl = m_text[i].find('\n', m_scanned[i])) != std::string::npos) {
            std::string line = m_text[i].substr(m_scanned[i], nl - m_scanned[i]);
            m_scanned[i] = nl + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(prefix, 0) == 0) return line;
        }
        if (!ReadUntil(end, s)) return {};
    }
}

bool CChildProcess::WaitForText(const std::string& text, int timeoutMs, Stream s) {
    const auto end = Deadline(timeoutMs);
    for (;;) {
        if (m_text[Index(s)].find(text) != std::string::npos) return true;
        if (!ReadUntil(end, s)) return false;
    }
}

std::optional<int> CChildProcess::WaitFor(int timeoutMs) {
    if (!running()) return m_reaped ? std::optional<int>(m_status) : std::nullopt;
    const auto end = Deadline(timeoutMs);
    int status = 0;
    for (;;) {
        Pump(std::min<long long>(Left(end), 10));
        if (Reap(&status)) break;
        if (Left(end) <= 0) return std::nullopt;
    }
    m_reaped = true;
    m_status = status;
    m_elapsed = std::chrono::steady_clock::now() - m_start;
    // What the child wrote last; bounded in case a descendant keeps a pipe open.
    const auto drainEnd = Deadline(2000);
    while ((!atEnd(Stream::kOut) || !atEnd(Stream::kErr)) && Left(drainEnd) > 0 && Pump(100)) {
    }
    return m_status;
}

int CChildProcess::Wait(int timeoutMs) {
    if (!running()) return -1;
    if (const auto status = WaitFor(timeoutMs)) return *status;
    Kill();
    return -1;
}

bool CChildProcess::Signal(int sig) { return running() && SendSignal(sig); }

int CChildProcess::Stop(int sig, int timeoutMs) {
    if (!running()) return -1;
    SendSignal(sig);
    return Wait(timeoutMs);
}

bool CChildProcess::ReadUntil(TimePoint end, Stream s) {
    const int i = Index(s);
    const size_t before = m_text[i].size();
    while (m_text[i].size() == before) {
        if (atEnd(s)) return false;
        const long long left = Left(end);
        if (left <= 0) return false;
        Pump(std::min<long long>(left, 100));
    }
    return true;
}

}  // namespace testsupport
