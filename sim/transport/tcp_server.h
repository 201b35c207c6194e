// The virtual printer on TCP: one client at a time on 127.0.0.1:PORT.
//
// While the printer is off (restarting) or its link was dropped, the
// client is disconnected and the port refuses connections (the listening
// socket is closed); it listens again on the same port once the printer's
// link is up.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/transport/printer_host.h"
#include "sim/transport/socket_ops.h"

namespace sim {

class TcpServer : public ServiceLoop {
public:
    // port 0 picks a free port (see port() after Listen).
    TcpServer(PrinterHost& host, uint16_t port);
    ~TcpServer() override;

    // Binds and listens; false with a message when the port cannot be had.
    bool Listen(std::string* error);
    // The port actually bound.
    uint16_t port() const { return m_port.load(); }

    void Run(const std::atomic<bool>& stop) override;

    // accepted, closedByPrinter, closedByClient, bytesIn, bytesOut.
    nlohmann::json Counters() const;
    uint32_t accepted() const { return m_accepted; }
    uint32_t closedByPrinter() const { return m_closedByPrinter; }

private:
    bool OpenListener(std::string* error);

    PrinterHost& m_host;
    std::atomic<uint16_t> m_port;
    net::UniqueSocket m_listener;
    std::atomic<uint32_t> m_accepted{0};
    std::atomic<uint32_t> m_closedByPrinter{0};
    std::atomic<uint32_t> m_closedByClient{0};
    std::atomic<uint64_t> m_bytesIn{0};
    std::atomic<uint64_t> m_bytesOut{0};
};

}  // namespace sim
