// The socket calls of the TCP link behind one interface.
//
// The link creates, configures, connects, uses and closes its socket
// through the backend in force. The default backend is the platform's own
// (the BSD / Winsock calls of platform/socket.h); tests and the virtual
// printer in process install another one. The UDP printer search and the
// simulator's servers call platform/socket.h directly.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace platform {

class TcpBackend {
public:
    virtual ~TcpBackend() = default;
    // An IPv4 stream socket; kInvalidSocket with *error on failure.
    virtual SocketHandle Socket(unsigned long* error) = 0;
    // Keep-alive on, first probe after idleMs, then every intervalMs. False
    // with *error and *call (the name of the refused call) when a setting
    // was refused.
    virtual bool SetKeepAlive(SocketHandle s, uint32_t idleMs, uint32_t intervalMs,
                              unsigned long* error, const char** call) = 0;
    // How long one receive waits for data before it fails; false with
    // *error when refused.
    virtual bool SetReceiveTimeout(SocketHandle s, uint32_t ms, unsigned long* error) = 0;
    // A blocking connect; false with *error when it fails.
    virtual bool Connect(SocketHandle s, uint32_t addressNetOrder, uint16_t port,
                         unsigned long* error) = 0;
    // One send / recv call: the bytes moved (0 from recv: the peer closed
    // the connection), or -1 with *error.
    virtual int Send(SocketHandle s, const void* data, int n, unsigned long* error) = 0;
    virtual int Recv(SocketHandle s, void* data, int n, unsigned long* error) = 0;
    virtual void ShutdownSend(SocketHandle s) = 0;
    virtual void Close(SocketHandle s) = 0;
};

// The backend in force: the platform's own unless one was installed.
TcpBackend& GetTcpBackend();
// Installs backend (not owned); nullptr restores the platform's own.
void SetTcpBackend(TcpBackend* backend);

}  // namespace platform
