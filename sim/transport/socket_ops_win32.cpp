// Sockets on Windows: Winsock 2, WSAPoll, WSAGetLastError.
// Winsock's headers go before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <vector>

#include "sim/transport/socket_ops.h"

namespace sim::net {
namespace {

SOCKET Sock(Socket s) { return static_cast<SOCKET>(s); }

Socket Own(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s); }

sockaddr_in Address(uint32_t addressNetOrder, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = addressNetOrder;
    a.sin_port = htons(port);
    return a;
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// Child processes must not keep a socket (and with it a connection) open.
void NotInherited(SOCKET s) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

bool StartSockets() {
    // Once per process; the library stays started until the process ends.
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void CloseSocket(Socket s) {
    if (s != kNoSocket) ::closesocket(Sock(s));
}

UniqueSocket TcpSocket(bool nonBlocking) {
    if (!StartSockets()) return UniqueSocket();
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    UniqueSocket owned(Own(s));
    if (!owned) return owned;
    NotInherited(s);
    if (nonBlocking && !SetNonBlocking(s)) return UniqueSocket();
    return owned;
}

bool BindLoopback(Socket s, uint16_t port) {
    // The address may be bound again while connections on it linger (the
    // printer listens on its port again after a restart).
    BOOL on = TRUE;
    ::setsockopt(Sock(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in a = Address(LoopbackAddress(), port);
    return ::bind(Sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(Socket s, int backlog) { return ::listen(Sock(s), backlog) == 0; }

uint16_t LocalPort(Socket s) {
    sockaddr_in a{};
    int len = sizeof a;
    if (::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

UniqueSocket Accept(Socket listener, bool nonBlocking) {
    const SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
    UniqueSocket owned(Own(s));
    if (!owned) return owned;
    NotInherited(s);
    // An accepted socket takes the listener's mode; set the one asked for.
    u_long mode = nonBlocking ? 1 : 0;
    if (::ioctlsocket(s, FIONBIO, &mode) != 0) return UniqueSocket();
    return owned;
}

bool Connect(Socket s, uint32_t addressNetOrder, uint16_t port) {
    const sockaddr_in a = Address(addressNetOrder, port);
    return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool ParseIPv4(const std::string& text, uint32_t* addressNetOrder) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *addressNetOrder = a.s_addr;
    return true;
}

uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

long Send(Socket s, const void* data, size_t n) {
    const int chunk = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
    const int r = ::send(Sock(s), static_cast<const char*>(data), chunk, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

long Recv(Socket s, void* data, size_t n) {
    const int chunk = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
    const int r = ::recv(Sock(s), static_cast<char*>(data), chunk, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

void SetNoDelay(Socket s) {
    BOOL on = TRUE;
    ::setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void ShutdownWrite(Socket s) { ::shutdown(Sock(s), SD_SEND); }

void ResetOnClose(Socket s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

int Poll(PollEntry* entries, size_t count, int timeoutMs) {
    std::vector<WSAPOLLFD> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = Sock(entries[i].socket);
        fds[i].events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) |
                                           (entries[i].wantWrite ? POLLWRNORM : 0));
    }
    const int r = ::WSAPoll(fds.data(), static_cast<ULONG>(count), timeoutMs);
    for (size_t i = 0; i < count; ++i) {
        const SHORT ev = r > 0 ? fds[i].revents : 0;
        entries[i].readable = (ev & POLLRDNORM) != 0;
        entries[i].writable = (ev & POLLWRNORM) != 0;
        entries[i].hangUp = (ev & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return r == SOCKET_ERROR ? -1 : r;
}

int LastError() { return ::WSAGetLastError(); }

void SetLastSocketError(int error) { ::WSASetLastError(error); }

const int kErrorBadHandle = WSAEBADF;
const int kErrorInvalidArgument = WSAEINVAL;
const int kErrorTimedOut = WSAETIMEDOUT;
const int kErrorConnectionReset = WSAECONNRESET;
const int kErrorBrokenPipe = WSAECONNABORTED;
const int kErrorConnectionRefused = WSAECONNREFUSED;

bool IsTransient(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

std::string ErrorText(int error) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : "";
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out.empty() ? "socket error " + std::to_string(error) : out;
}

}  // namespace sim::net
