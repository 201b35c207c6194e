// Winsock 2 for the TCP link and the UDP printer search. Errors are
// WSAGetLastError values.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include "platform/socket.h"

namespace platform {
namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

SocketHandle Handle(SOCKET s) {
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

sockaddr_in Address(uint32_t addressNetOrder, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetOrder;
    return a;
}

unsigned long LastWsaError() { return static_cast<unsigned long>(::WSAGetLastError()); }

}  // namespace

bool SocketLibraryStart(unsigned long* error) {
    WSADATA data{};
    // Version 2.0: major 2, minor 0.
    const int r = ::WSAStartup(MAKEWORD(2, 0), &data);
    if (r != 0) {
        if (error != nullptr) *error = static_cast<unsigned long>(r);
        return false;
    }
    return true;
}

void SocketLibraryStop() { ::WSACleanup(); }

uint32_t ParseIPv4NetOrder(const char* text) {
    if (text == nullptr) return INADDR_NONE;
    return ::inet_addr(text);
}

SocketHandle TcpSocket(unsigned long* error) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) *error = LastWsaError();
    return Handle(s);
}

bool SetKeepAlive(SocketHandle s, uint32_t idleMs, uint32_t intervalMs, unsigned long* error,
                  const char** call) {
    BOOL on = TRUE;
    if (::setsockopt(Sock(s), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0) {
        *error = LastWsaError();
        *call = "setsockopt(SO_KEEPALIVE)";
        return false;
    }
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = idleMs;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    if (::WSAIoctl(Sock(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                   nullptr, nullptr) != 0) {
        *error = LastWsaError();
        *call = "WSAIoctl(SIO_KEEPALIVE_VALS)";
        return false;
    }
    return true;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms, unsigned long* error) {
    DWORD timeout = ms;
    if (::setsockopt(Sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                     sizeof timeout) == 0)
        return true;
    *error = LastWsaError();
    return false;
}

bool Connect(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error) {
    const sockaddr_in a = Address(addressNetOrder, port);
    if (::connect(Sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
    *error = LastWsaError();
    return false;
}

int SocketSend(SocketHandle s, const void* data, int n, unsigned long* error) {
    const int r = ::send(Sock(s), static_cast<const char*>(data), n, 0);
    if (r == SOCKET_ERROR) {
        *error = LastWsaError();
        return -1;
    }
    return r;
}

int SocketRecv(SocketHandle s, void* data, int n, unsigned long* error) {
    const int r = ::recv(Sock(s), static_cast<char*>(data), n, 0);
    if (r == SOCKET_ERROR) {
        *error = LastWsaError();
        return -1;
    }
    return r;
}

void ShutdownSend(SocketHandle s) { ::shutdown(Sock(s), SD_SEND); }

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket) ::closesocket(Sock(s));
}

SocketHandle UdpSocket(unsigned long* error) {
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) *error = LastWsaError();
    return Handle(s);
}

bool SetBroadcast(SocketHandle s, unsigned long* error) {
    BOOL on = TRUE;
    if (::setsockopt(Sock(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                     sizeof on) == 0)
        return true;
    *error = LastWsaError();
    return false;
}

bool Bind(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error) {
    const sockaddr_in a = Address(addressNetOrder, port);
    if (::bind(Sock(s), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
    *error = LastWsaError();
    return false;
}

bool SendTo(SocketHandle s, const void* data, int n, uint32_t addressNetOrder, uint16_t port,
            unsigned long* error) {
    const sockaddr_in a = Address(addressNetOrder, port);
    const int r = ::sendto(Sock(s), static_cast<const char*>(data), n, 0,
                           reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r == n) return true;
    *error = r == SOCKET_ERROR ? LastWsaError() : static_cast<unsigned long>(WSAEMSGSIZE);
    return false;
}

bool SetNonBlocking(SocketHandle s, unsigned long* error) {
    u_long on = 1;
    if (::ioctlsocket(Sock(s), FIONBIO, &on) == 0) return true;
    *error = LastWsaError();
    return false;
}

int SocketRecvFrom(SocketHandle s, void* data, int n, unsigned long* error) {
    const int r = ::recvfrom(Sock(s), static_cast<char*>(data), n, 0, nullptr, nullptr);
    if (r == SOCKET_ERROR) {
        *error = LastWsaError();
        return -1;
    }
    return r;
}

}  // namespace platform
