// TCP on 127.0.0.1 for test clients and servers, with bounded waits
// everywhere (built on the virtual printer's socket layer).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/transport/socket_ops.h"

namespace testsupport {

using sim::net::Socket;
using sim::net::UniqueSocket;

// A listening socket on 127.0.0.1 with a free port.
class CLoopbackListener {
public:
    explicit CLoopbackListener(int backlog = 4);
    bool ok() const { return static_cast<bool>(m_socket); }
    uint16_t port() const { return m_port; }
    // The next connection, waited for at most timeoutMs; empty when none came.
    UniqueSocket Accept(int timeoutMs = 3000);

private:
    UniqueSocket m_socket;
    uint16_t m_port = 0;
};

// A blocking connection to 127.0.0.1:port; empty with *error on failure.
UniqueSocket ConnectLoopback(uint16_t port, int* error = nullptr);
// Keeps trying to connect until it succeeds or timeoutMs pass.
UniqueSocket ConnectLoopbackWithin(uint16_t port, int timeoutMs);

bool SendAll(Socket s, const std::vector<uint8_t>& bytes);

enum class ReadEnd { kComplete, kTimeout, kClosed, kError };

// Reads exactly n bytes within timeoutMs.
ReadEnd ReadExactly(Socket s, size_t n, std::vector<uint8_t>* out, int timeoutMs);
// Reads what arrives until the peer ends the connection or timeoutMs pass
// without anything arriving; true when the peer ended it.
bool ReadUntilClosed(Socket s, int timeoutMs);
// True when the peer ends the connection within timeoutMs with nothing
// more sent.
bool PeerEnds(Socket s, int timeoutMs);

}  // namespace testsupport
