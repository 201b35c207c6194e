// A small blocking loopback client for the transport tests, with bounded
// waits everywhere.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "sim/transport/unique_fd.h"

namespace simtest {

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Connects to 127.0.0.1:port; an invalid fd with *err on failure.
inline sim::UniqueFd TcpConnect(uint16_t port, int* err = nullptr) {
    sim::UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = Loopback(port);
    if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        if (err) *err = errno;
        return sim::UniqueFd();
    }
    return s;
}

// Keeps trying to connect until it succeeds or timeoutMs pass.
inline sim::UniqueFd TcpConnectWithin(uint16_t port, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        sim::UniqueFd s = TcpConnect(port);
        if (s || std::chrono::steady_clock::now() >= end) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

enum class ReadEnd { kComplete, kTimeout, kClosed, kError };

// Reads exactly n bytes from fd (socket or terminal) within timeoutMs.
inline ReadEnd ReadExactly(int fd, size_t n, std::vector<uint8_t>* out, int timeoutMs) {
    out->clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[4096];
    while (out->size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return ReadEnd::kTimeout;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r == 0) return ReadEnd::kTimeout;
        if (r < 0) return ReadEnd::kError;
        const size_t want = std::min(sizeof buf, n - out->size());
        const ssize_t got = ::read(fd, buf, want);
        if (got == 0) return ReadEnd::kClosed;
        if (got < 0) return errno == ECONNRESET || errno == EIO ? ReadEnd::kClosed : ReadEnd::kError;
        out->insert(out->end(), buf, buf + got);
    }
    return ReadEnd::kComplete;
}

}  // namespace simtest
