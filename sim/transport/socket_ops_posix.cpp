// Sockets on POSIX: BSD sockets, poll, errno.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "sim/transport/socket_ops.h"

namespace sim::net {
namespace {

int Fd(Socket s) { return static_cast<int>(s); }

sockaddr_in Address(uint32_t addressNetOrder, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = addressNetOrder;
    a.sin_port = htons(port);
    return a;
}

}  // namespace

bool StartSockets() { return true; }

void CloseSocket(Socket s) {
    if (s != kNoSocket) ::close(Fd(s));
}

UniqueSocket TcpSocket(bool nonBlocking) {
    const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    const int fd = ::socket(AF_INET, SOCK_STREAM | flags, 0);
    return UniqueSocket(fd < 0 ? kNoSocket : fd);
}

bool BindLoopback(Socket s, uint16_t port) {
    int on = 1;
    ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Address(LoopbackAddress(), port);
    return ::bind(Fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(Socket s, int backlog) { return ::listen(Fd(s), backlog) == 0; }

uint16_t LocalPort(Socket s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

UniqueSocket Accept(Socket listener, bool nonBlocking) {
    const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    const int fd = ::accept4(Fd(listener), nullptr, nullptr, flags);
    return UniqueSocket(fd < 0 ? kNoSocket : fd);
}

bool Connect(Socket s, uint32_t addressNetOrder, uint16_t port) {
    const sockaddr_in a = Address(addressNetOrder, port);
    for (;;) {
        if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool ParseIPv4(const std::string& text, uint32_t* addressNetOrder) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *addressNetOrder = a.s_addr;
    return true;
}

uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

long Send(Socket s, const void* data, size_t n) {
    return static_cast<long>(::send(Fd(s), data, n, MSG_NOSIGNAL));
}

long Recv(Socket s, void* data, size_t n) { return static_cast<long>(::recv(Fd(s), data, n, 0)); }

void SetNoDelay(Socket s) {
    int on = 1;
    ::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ShutdownWrite(Socket s) { ::shutdown(Fd(s), SHUT_WR); }

void ResetOnClose(Socket s) {
    linger l{1, 0};
    ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int Poll(PollEntry* entries, size_t count, int timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = Fd(entries[i].socket);
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                           (entries[i].wantWrite ? POLLOUT : 0));
    }
    const int r = ::poll(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    for (size_t i = 0; i < count; ++i) {
        const short ev = r > 0 ? fds[i].revents : 0;
        entries[i].readable = (ev & POLLIN) != 0;
        entries[i].writable = (ev & POLLOUT) != 0;
        entries[i].hangUp = (ev & (POLLHUP | POLLERR)) != 0;
    }
    return r;
}

int LastError() { return errno; }

void SetLastSocketError(int error) { errno = error; }

const int kErrorBadHandle = EBADF;
const int kErrorInvalidArgument = EINVAL;
const int kErrorTimedOut = ETIMEDOUT;
const int kErrorConnectionReset = ECONNRESET;
const int kErrorBrokenPipe = EPIPE;
const int kErrorConnectionRefused = ECONNREFUSED;

bool IsTransient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace sim::net
