// POSIX descriptors for the tests of the POSIX-only transports (the UDP
// responder, zkq870-sim's pty node): a loopback address, and reading with
// a bound from a socket or a terminal. TCP clients use
// tests/support/loopback.h.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

namespace simtest {

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
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
