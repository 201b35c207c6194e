// BSD-style sockets (Winsock on Windows) for the TCP link and the UDP
// printer search. Addresses and ports are in host byte order unless a name
// says otherwise. Every failing call reports the socket library's error.
#pragma once

#include <cstdint>

namespace platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts / stops the socket library (WSAStartup 2.0 / WSACleanup); a no-op
// success on POSIX.
bool SocketLibraryStart(unsigned long* error);
void SocketLibraryStop();

// inet_addr: dotted IPv4 numbers only, no name lookup. Returns the address
// in network byte order, 0xFFFFFFFF (INADDR_NONE) for a text it rejects.
uint32_t ParseIPv4NetOrder(const char* text);

// TCP.
SocketHandle TcpSocket(unsigned long* error);
// Keep-alive on, first probe after idleMs, then every intervalMs. False
// with *error and *call (the name of the failing call) when the system
// refused a setting; the settings before it stay in force.
bool SetKeepAlive(SocketHandle s, uint32_t idleMs, uint32_t intervalMs, unsigned long* error,
                  const char** call);
// A receive gives up after ms milliseconds. False with *error when refused.
bool SetReceiveTimeout(SocketHandle s, uint32_t ms, unsigned long* error);
bool Connect(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error);
// One send / recv call; returns the bytes moved, or -1 with *error.
int SocketSend(SocketHandle s, const void* data, int n, unsigned long* error);
int SocketRecv(SocketHandle s, void* data, int n, unsigned long* error);
void ShutdownSend(SocketHandle s);
void CloseSocket(SocketHandle s);

// UDP.
SocketHandle UdpSocket(unsigned long* error);
bool SetBroadcast(SocketHandle s, unsigned long* error);
bool Bind(SocketHandle s, uint32_t addressNetOrder, uint16_t port, unsigned long* error);
bool SendTo(SocketHandle s, const void* data, int n, uint32_t addressNetOrder, uint16_t port,
            unsigned long* error);
bool SetNonBlocking(SocketHandle s, unsigned long* error);
// One receive on a non-blocking socket: bytes received, or -1 (nothing
// waiting, or an error) with *error. A datagram larger than n is an error
// (EMSGSIZE / WSAEMSGSIZE) on both platforms: it is consumed, and nothing
// of it counts as received.
int SocketRecvFrom(SocketHandle s, void* data, int n, unsigned long* error);

}  // namespace platform
