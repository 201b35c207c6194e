#include "tests/support/loopback.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace testsupport {

namespace net = sim::net;

namespace {

using Clock = std::chrono::steady_clock;

long long LeftMs(Clock::time_point end) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
}

// Waits until s has data (or its end); false after timeoutMs.
bool WaitReadable(Socket s, long long timeoutMs) {
    net::PollEntry e;
    e.socket = s;
    e.wantRead = true;
    return net::Poll(&e, 1, static_cast<int>(std::max<long long>(timeoutMs, 0))) > 0;
}

}  // namespace

CLoopbackListener::CLoopbackListener(int backlog) {
    net::StartSockets();
    UniqueSocket s = net::TcpSocket(false);
    if (!s || !net::BindLoopback(s.get(), 0) || !net::Listen(s.get(), backlog)) return;
    m_port = net::LocalPort(s.get());
    m_socket = std::move(s);
}

UniqueSocket CLoopbackListener::Accept(int timeoutMs) {
    if (!m_socket || !WaitReadable(m_socket.get(), timeoutMs)) return UniqueSocket();
    return net::Accept(m_socket.get(), false);
}

UniqueSocket ConnectLoopback(uint16_t port, int* error) {
    net::StartSockets();
    UniqueSocket s = net::TcpSocket(false);
    if (s && net::Connect(s.get(), net::LoopbackAddress(), port)) return s;
    if (error) *error = net::LastError();
    return UniqueSocket();
}

UniqueSocket ConnectLoopbackWithin(uint16_t port, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        UniqueSocket s = ConnectLoopback(port);
        if (s || Clock::now() >= end) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool SendAll(Socket s, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = net::Send(s, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

ReadEnd ReadExactly(Socket s, size_t n, std::vector<uint8_t>* out, int timeoutMs) {
    out->clear();
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (out->size() < n) {
        const long long left = LeftMs(end);
        if (left <= 0 || !WaitReadable(s, left)) return ReadEnd::kTimeout;
        const long got = net::Recv(s, buf, std::min(sizeof buf, n - out->size()));
        if (got == 0) return ReadEnd::kClosed;
        if (got < 0)
            return net::LastError() == net::kErrorConnectionReset ? ReadEnd::kClosed
                                                                  : ReadEnd::kError;
        out->insert(out->end(), buf, buf + got);
    }
    return ReadEnd::kComplete;
}

bool ReadUntilClosed(Socket s, int timeoutMs) {
    for (;;) {
        if (!WaitReadable(s, timeoutMs)) return false;
        uint8_t buf[256];
        if (net::Recv(s, buf, sizeof buf) <= 0) return true;
    }
}

bool PeerEnds(Socket s, int timeoutMs) {
    if (!WaitReadable(s, timeoutMs)) return false;
    uint8_t c;
    return net::Recv(s, &c, 1) == 0;
}

}  // namespace testsupport
