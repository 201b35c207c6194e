// Sockets as the virtual printer's TCP transport, its sample access library
// and the tests' loopback peers use them: IPv4 TCP, blocking or not, polled
// with a time-out. One implementation per platform (BSD sockets, Winsock);
// no system header here. Error numbers are the socket library's (errno,
// WSAGetLastError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace sim::net {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// Starts the socket library for this process (once; Winsock needs it,
// POSIX does not). False when it cannot be started.
bool StartSockets();

void CloseSocket(Socket s);

// Owner of a socket: closed on every path.
class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(Socket s) : m_socket(s) {}
    UniqueSocket(UniqueSocket&& o) noexcept : m_socket(std::exchange(o.m_socket, kNoSocket)) {}
    UniqueSocket& operator=(UniqueSocket&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.m_socket, kNoSocket));
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    ~UniqueSocket() { Reset(); }

    Socket get() const { return m_socket; }
    explicit operator bool() const { return m_socket != kNoSocket; }
    // Gives the socket up to the caller, who closes it.
    Socket Release() { return std::exchange(m_socket, kNoSocket); }
    void Reset(Socket s = kNoSocket) {
        if (m_socket != kNoSocket) CloseSocket(m_socket);
        m_socket = s;
    }

private:
    Socket m_socket = kNoSocket;
};

// A TCP socket, not inherited by child processes; non-blocking on request.
UniqueSocket TcpSocket(bool nonBlocking);
// Binds to 127.0.0.1:port (0: a free port), allowing a quick re-bind of a
// port whose earlier connections still linger.
bool BindLoopback(Socket s, uint16_t port);
bool Listen(Socket s, int backlog);
// The local port of a bound socket; 0 when it cannot be had.
uint16_t LocalPort(Socket s);
// Takes one waiting connection; the new socket is non-blocking on request.
UniqueSocket Accept(Socket listener, bool nonBlocking);
// A blocking connect to an IPv4 address (network byte order).
bool Connect(Socket s, uint32_t addressNetOrder, uint16_t port);
// Dotted IPv4 numbers to an address in network byte order.
bool ParseIPv4(const std::string& text, uint32_t* addressNetOrder);
// 127.0.0.1 in network byte order.
uint32_t LoopbackAddress();

// One send / recv call: bytes moved, or -1 (see LastError). A send to a
// closed peer never raises a signal.
long Send(Socket s, const void* data, size_t n);
long Recv(Socket s, void* data, size_t n);

void SetNoDelay(Socket s);
void ShutdownWrite(Socket s);
// Closing the socket then resets the connection instead of ending it.
void ResetOnClose(Socket s);

// Waits up to timeoutMs (-1: no limit) for the sockets' events. Returns the
// number of sockets with events, 0 on time-out, -1 on failure.
struct PollEntry {
    Socket socket = kNoSocket;
    bool wantRead = false;
    bool wantWrite = false;
    // Filled in by Poll.
    bool readable = false;
    bool writable = false;
    bool hangUp = false;  // the peer ended the connection, or an error is pending
};
int Poll(PollEntry* entries, size_t count, int timeoutMs);

// The calling thread's last socket error, and what it means.
int LastError();
void SetLastSocketError(int error);
// The call would have blocked, or was interrupted: try again later.
bool IsTransient(int error);
std::string ErrorText(int error);

// The socket library's numbers for conditions that callers report
// themselves and tests expect (errno values, WSAE* values).
extern const int kErrorBadHandle;
extern const int kErrorInvalidArgument;
extern const int kErrorTimedOut;
extern const int kErrorConnectionReset;
extern const int kErrorConnectionRefused;
// A send on a connection that is gone (EPIPE; WSAECONNABORTED).
extern const int kErrorBrokenPipe;

}  // namespace sim::net
