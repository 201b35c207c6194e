// The virtual printer as the TCP peer, in process: a platform TCP backend
// whose every connection reaches one VirtualPrinter, whatever address the
// link asks for. Calls charge virtual time to the clock (when one is
// given), and the backend records what the link asked for.
//
// It behaves as the printer's TCP port does: while the printer is off its
// link (dropped, restarting) a connect is refused; a connection made
// before the printer went off is over (a receive reports the end of the
// stream, a send fails with a reset); a receive that gets no answer fails
// after the socket's receive time-out, charged in virtual time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/tcp_backend.h"
#include "sim/engine/virtual_printer.h"

namespace sim {

class InProcessTcp : public platform::TcpBackend {
public:
    // clock may be null (no time is charged).
    InProcessTcp(VirtualPrinter& printer, platform::VirtualClock* clock);

    platform::SocketHandle Socket(unsigned long* error) override;
    bool SetKeepAlive(platform::SocketHandle s, uint32_t idleMs, uint32_t intervalMs,
                      unsigned long* error, const char** call) override;
    bool SetReceiveTimeout(platform::SocketHandle s, uint32_t ms, unsigned long* error) override;
    bool Connect(platform::SocketHandle s, uint32_t addressNetOrder, uint16_t port,
                 unsigned long* error) override;
    int Send(platform::SocketHandle s, const void* data, int n, unsigned long* error) override;
    int Recv(platform::SocketHandle s, void* data, int n, unsigned long* error) override;
    void ShutdownSend(platform::SocketHandle s) override;
    void Close(platform::SocketHandle s) override;

    // What a socket carried when the link connected it.
    struct ConnectRequest {
        std::string address;  // dotted, as the link asked ("0.0.0.0")
        uint16_t port = 0;
        bool keepAlive = false;
        uint32_t keepAliveIdleMs = 0;
        uint32_t keepAliveIntervalMs = 0;
        uint32_t receiveTimeoutMs = 0;  // 0: none set
        bool refused = false;
    };
    const std::vector<ConnectRequest>& connects() const;

    // Every call in order: "socket", "keepalive IDLE/INTERVAL", "rcvtimeo
    // MS", "connect A.B.C.D:PORT" (" refused"), "send" (" reset"), "recv"
    // (" eof", " timeout"), "shutdown", "close"; a call on a socket that is
    // not open adds " bad socket".
    const std::vector<std::string>& calls() const;

    // Sockets created and not yet closed.
    int openSockets() const;
    // Virtual milliseconds charged per call (default 1).
    void SetCostPerCall(uint32_t ms);

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// The virtual printer behind the TCP link on a virtual clock, installed
// (clock and backend) for the lifetime of the object.
class InProcessTcpRig {
public:
    explicit InProcessTcpRig(Scenario scenario = Scenario());
    ~InProcessTcpRig();
    InProcessTcpRig(const InProcessTcpRig&) = delete;
    InProcessTcpRig& operator=(const InProcessTcpRig&) = delete;
    platform::VirtualClock clock;
    VirtualPrinter printer;
    InProcessTcp tcp;
};

}  // namespace sim
