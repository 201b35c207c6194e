// BSD sockets for the TCP link and the UDP printer search.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/socket.h"

namespace platform {
namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

sockaddr_in Address(uint32_t addressNetOrder, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetOrder;
    return a;
}

}  // namespace

bool SocketLibraryStart(unsigned long* error) {
    (void)error;
    return true;
}
void SocketLibraryStop() {}

uint32_t ParseIPv4NetOrder(const char* text) {
    if (text == nullptr) return INADDR_NONE;
    return inet_addr(text);
}

SocketHandle TcpSocket(unsigned long* error) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = static_cast<unsigned long>(errno);
        return kInvalidSocket;
    }
    return fd;
}

bool SetKeepAlive(SocketHandle s, uint32_t idleMs, uint32_t intervalMs, unsigned long* error,
                  const char** call) {
    int on = 1;
    int idle = static_cast<int>((idleMs + 999) / 1000);
    int interval = static_cast<int>((intervalMs + 999) / 1000);
    const struct {
        int level, name;
        const int* value;
        const char* call;
    } settings[] = {
        {SOL_SOCKET, SO_KEEPALIVE, &on, "setsockopt(SO_KEEPALIVE)"},
        {IPPROTO_TCP, TCP_KEEPIDLE, &idle, "setsockopt(TCP_KEEPIDLE)"},
        {IPPROTO_TCP, TCP_KEEPINTVL, &interval, "setsockopt(TCP_KEEPINTVL)"},
    };
    for (const auto& setting : settings)
        if (setsockopt(Fd(s), setting.level, setting.name, setting.value, sizeof(int)) != 0) {
            *error = static_cast<unsigned long>(errno);
            *call = setting.call;
            return false;
        }
    return true;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms, unsigned long* error) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (setsockopt(Fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0) return true;
    *error = static_cast<unsigned long>(errno);
    return false;
}

bool Connect(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error) {
    // Windows refuses to connect to the unspecified and the broadcast
    // address; Linux would take 0.0.0.0 for this host. Refuse both alike.
    if (addressNetOrder == htonl(INADDR_ANY) || addressNetOrder == INADDR_NONE) {
        *error = EADDRNOTAVAIL;
        return false;
    }
    const sockaddr_in a = Address(addressNetOrder, port);
    for (;;) {
        if (connect(Fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
        if (errno != EINTR) break;
    }
    *error = static_cast<unsigned long>(errno);
    return false;
}

int SocketSend(SocketHandle s, const void* data, int n, unsigned long* error) {
    for (;;) {
        const ssize_t r = send(Fd(s), data, static_cast<size_t>(n), MSG_NOSIGNAL);
        if (r >= 0) return static_cast<int>(r);
        if (errno == EINTR) continue;
        *error = static_cast<unsigned long>(errno);
        return -1;
    }
}

int SocketRecv(SocketHandle s, void* data, int n, unsigned long* error) {
    for (;;) {
        const ssize_t r = recv(Fd(s), data, static_cast<size_t>(n), 0);
        if (r >= 0) return static_cast<int>(r);
        if (errno == EINTR) continue;
        // A receive time-out shows as EAGAIN; report it as a time-out.
        *error = (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT
                                                           : static_cast<unsigned long>(errno);
        return -1;
    }
}

void ShutdownSend(SocketHandle s) { shutdown(Fd(s), SHUT_WR); }
void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket) close(Fd(s));
}

SocketHandle UdpSocket(unsigned long* error) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = static_cast<unsigned long>(errno);
        return kInvalidSocket;
    }
    return fd;
}

bool SetBroadcast(SocketHandle s, unsigned long* error) {
    int on = 1;
    if (setsockopt(Fd(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0) return true;
    *error = static_cast<unsigned long>(errno);
    return false;
}

bool Bind(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error) {
    const sockaddr_in a = Address(addressNetOrder, port);
    if (bind(Fd(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
    *error = static_cast<unsigned long>(errno);
    return false;
}

bool SendTo(SocketHandle s, const void* data, int n, uint32_t addressNetOrder, uint16_t port,
            unsigned long* error) {
    const sockaddr_in a = Address(addressNetOrder, port);
    const ssize_t r = sendto(Fd(s), data, static_cast<size_t>(n), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r == n) return true;
    *error = r < 0 ? static_cast<unsigned long>(errno) : EMSGSIZE;
    return false;
}

bool SetNonBlocking(SocketHandle s, unsigned long* error) {
    const int flags = fcntl(Fd(s), F_GETFL, 0);
    if (flags >= 0 && fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0) return true;
    *error = static_cast<unsigned long>(errno);
    return false;
}

int SocketRecvFrom(SocketHandle s, void* data, int n, unsigned long* error) {
    // MSG_TRUNC makes recvfrom return the datagram's real length. A datagram
    // larger than the space offered is cut and its rest lost; Winsock fails
    // such a receive (WSAEMSGSIZE) instead of delivering the piece, and so
    // does this: a cut datagram is no reply and must not count as received.
    const ssize_t r = recvfrom(Fd(s), data, static_cast<size_t>(n), MSG_TRUNC, nullptr, nullptr);
    if (r > n) {
        *error = EMSGSIZE;
        return -1;
    }
    if (r >= 0) return static_cast<int>(r);
    *error = static_cast<unsigned long>(errno);
    return -1;
}

}  // namespace platform
