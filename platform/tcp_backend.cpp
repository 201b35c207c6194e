#include "platform/tcp_backend.h"

namespace platform {

namespace {

// The platform's own: the socket calls of this platform.
class PlatformTcpBackend final : public TcpBackend {
public:
    SocketHandle Socket(unsigned long* error) override { return TcpSocket(error); }
    bool SetKeepAlive(SocketHandle s, uint32_t idleMs, uint32_t intervalMs, unsigned long* error,
                      const char** call) override {
        return platform::SetKeepAlive(s, idleMs, intervalMs, error, call);
    }
    bool SetReceiveTimeout(SocketHandle s, uint32_t ms, unsigned long* error) override {
        return platform::SetReceiveTimeout(s, ms, error);
    }
    bool Connect(SocketHandle s, uint32_t addressNetOrder, uint16_t port,
                 unsigned long* error) override {
        return platform::Connect(s, addressNetOrder, port, error);
    }
    int Send(SocketHandle s, const void* data, int n, unsigned long* error) override {
        return SocketSend(s, data, n, error);
    }
    int Recv(SocketHandle s, void* data, int n, unsigned long* error) override {
        return SocketRecv(s, data, n, error);
    }
    void ShutdownSend(SocketHandle s) override { platform::ShutdownSend(s); }
    void Close(SocketHandle s) override { CloseSocket(s); }
};

// Never destroyed: the link object closes its socket at process end.
TcpBackend& PlatformTcp() {
    static PlatformTcpBackend* backend = new PlatformTcpBackend;
    return *backend;
}

TcpBackend* g_installed = nullptr;

}  // namespace

TcpBackend& GetTcpBackend() { return g_installed ? *g_installed : PlatformTcp(); }
void SetTcpBackend(TcpBackend* backend) { g_installed = backend; }

}  // namespace platform
