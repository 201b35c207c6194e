#include "sim/transport/inprocess_tcp.h"

#include <cstring>
#include <map>

#include "sim/transport/printer_line.h"

namespace sim {

namespace {

// Socket error numbers as the Linux build reports them (the same on every
// build, so that what a test sees does not depend on the platform).
constexpr unsigned long kErrorBadSocket = 9;       // EBADF
constexpr unsigned long kErrorPipe = 32;           // EPIPE: sending side shut down
constexpr unsigned long kErrorReset = 104;         // ECONNRESET
constexpr unsigned long kErrorConnected = 106;     // EISCONN
constexpr unsigned long kErrorNotConnected = 107;  // ENOTCONN
constexpr unsigned long kErrorTimedOut = 110;      // ETIMEDOUT
constexpr unsigned long kErrorRefused = 111;       // ECONNREFUSED

std::string Dotted(uint32_t addressNetOrder) {
    uint8_t b[4];
    std::memcpy(b, &addressNetOrder, 4);  // network order: first byte first
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

}  // namespace

struct InProcessTcp::Impl {
    Impl(VirtualPrinter& p, platform::VirtualClock* c) : line(p, c) {}

    struct Sock {
        bool connected = false;
        bool shut = false;
        uint32_t generation = 0;
        ConnectRequest request;
    };

    PrinterLine line;
    platform::SocketHandle nextHandle = 0x7100;
    std::map<platform::SocketHandle, Sock> sockets;
    std::vector<ConnectRequest> connects;
    std::vector<std::string> calls;

    // The open socket s, or null (the call is noted as made on a bad one).
    Sock* Find(platform::SocketHandle s, const char* call) {
        auto it = sockets.find(s);
        if (it != sockets.end()) return &it->second;
        calls.push_back(std::string(call) + " bad socket");
        return nullptr;
    }
};

InProcessTcp::InProcessTcp(VirtualPrinter& printer, platform::VirtualClock* clock)
    : impl_(std::make_shared<Impl>(printer, clock)) {}

platform::SocketHandle InProcessTcp::Socket(unsigned long* error) {
    (void)error;
    const platform::SocketHandle s = impl_->nextHandle++;
    impl_->sockets[s] = Impl::Sock();
    impl_->calls.push_back("socket");
    return s;
}

bool InProcessTcp::SetKeepAlive(platform::SocketHandle s, uint32_t idleMs, uint32_t intervalMs,
                                unsigned long* error, const char** call) {
    Impl::Sock* k = impl_->Find(s, "keepalive");
    if (!k) {
        *error = kErrorBadSocket;
        *call = "setsockopt(SO_KEEPALIVE)";
        return false;
    }
    k->request.keepAlive = true;
    k->request.keepAliveIdleMs = idleMs;
    k->request.keepAliveIntervalMs = intervalMs;
    impl_->calls.push_back("keepalive " + std::to_string(idleMs) + "/" +
                           std::to_string(intervalMs));
    return true;
}

bool InProcessTcp::SetReceiveTimeout(platform::SocketHandle s, uint32_t ms, unsigned long* error) {
    Impl::Sock* k = impl_->Find(s, "rcvtimeo");
    if (!k) {
        *error = kErrorBadSocket;
        return false;
    }
    k->request.receiveTimeoutMs = ms;
    impl_->calls.push_back("rcvtimeo " + std::to_string(ms));
    return true;
}

bool InProcessTcp::Connect(platform::SocketHandle s, uint32_t addressNetOrder, uint16_t port,
                           unsigned long* error) {
    Impl::Sock* k = impl_->Find(s, "connect");
    if (!k) {
        *error = kErrorBadSocket;
        return false;
    }
    if (k->connected) {
        impl_->calls.push_back("connect again");
        *error = kErrorConnected;
        return false;
    }
    impl_->line.ChargeCall();
    k->request.address = Dotted(addressNetOrder);
    k->request.port = port;
    std::string call = "connect " + k->request.address + ":" + std::to_string(port);
    // A printer off its link refuses connections.
    k->request.refused = !impl_->line.Up();
    impl_->connects.push_back(k->request);
    if (k->request.refused) {
        impl_->calls.push_back(call + " refused");
        *error = kErrorRefused;
        return false;
    }
    k->generation = impl_->line.Connect();
    k->connected = true;
    impl_->calls.push_back(call);
    return true;
}

int InProcessTcp::Send(platform::SocketHandle s, const void* data, int n, unsigned long* error) {
    Impl::Sock* k = impl_->Find(s, "send");
    if (!k) {
        *error = kErrorBadSocket;
        return -1;
    }
    if (!k->connected || k->shut) {
        impl_->calls.push_back(k->shut ? "send after shutdown" : "send unconnected");
        *error = k->shut ? kErrorPipe : kErrorNotConnected;
        return -1;
    }
    impl_->line.ChargeCall();
    if (!impl_->line.Alive(k->generation)) {
        impl_->calls.push_back("send reset");
        *error = kErrorReset;
        return -1;
    }
    impl_->calls.push_back("send");
    if (n > 0)
        impl_->line.printer().HostWrite(static_cast<const uint8_t*>(data), static_cast<size_t>(n));
    return n > 0 ? n : 0;
}

int InProcessTcp::Recv(platform::SocketHandle s, void* data, int n, unsigned long* error) {
    Impl::Sock* k = impl_->Find(s, "recv");
    if (!k) {
        *error = kErrorBadSocket;
        return -1;
    }
    if (!k->connected) {
        impl_->calls.push_back("recv unconnected");
        *error = kErrorNotConnected;
        return -1;
    }
    impl_->line.ChargeCall();
    if (!impl_->line.Alive(k->generation)) {
        // The printer left: its side of the connection is closed.
        impl_->calls.push_back("recv eof");
        return 0;
    }
    if (n <= 0) {
        impl_->calls.push_back("recv");
        return 0;
    }
    if (impl_->line.HasReply()) {
        impl_->calls.push_back("recv");
        return static_cast<int>(
            impl_->line.printer().HostRead(static_cast<uint8_t*>(data), static_cast<size_t>(n)));
    }
    // Nothing comes: the receive waits out its time-out and fails. (A
    // socket without one would wait for ever; here it fails at once.)
    impl_->line.Charge(k->request.receiveTimeoutMs);
    impl_->calls.push_back("recv timeout");
    *error = kErrorTimedOut;
    return -1;
}

void InProcessTcp::ShutdownSend(platform::SocketHandle s) {
    Impl::Sock* k = impl_->Find(s, "shutdown");
    if (!k) return;
    k->shut = true;
    impl_->calls.push_back("shutdown");
}

void InProcessTcp::Close(platform::SocketHandle s) {
    if (!impl_->Find(s, "close")) return;
    impl_->sockets.erase(s);
    impl_->calls.push_back("close");
}

const std::vector<InProcessTcp::ConnectRequest>& InProcessTcp::connects() const {
    return impl_->connects;
}
const std::vector<std::string>& InProcessTcp::calls() const { return impl_->calls; }
int InProcessTcp::openSockets() const { return static_cast<int>(impl_->sockets.size()); }
void InProcessTcp::SetCostPerCall(uint32_t ms) { impl_->line.SetCostPerCall(ms); }

InProcessTcpRig::InProcessTcpRig(Scenario scenario)
    : clock(), printer(std::move(scenario)), tcp(printer, &clock) {
    platform::SetClock(&clock);
    platform::SetTcpBackend(&tcp);
}

InProcessTcpRig::~InProcessTcpRig() {
    platform::SetTcpBackend(nullptr);
    platform::SetClock(nullptr);
}

}  // namespace sim
