// The virtual printer's answer to the UDP printer search: every datagram
// that arrives on the port (9100 by default, broadcast or unicast) is
// handed to the printer, and its reply datagrams go back to the sender's
// address and port. A printer that is off (link down) or silent does not
// answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/transport/printer_host.h"
#include "sim/transport/unique_fd.h"

namespace sim {

class UdpResponder : public ServiceLoop {
public:
    // bindAddress: dotted IPv4 text; "0.0.0.0" (any) receives broadcasts.
    // port 0 picks a free port (see port() after Open).
    UdpResponder(PrinterHost& host, uint16_t port, std::string bindAddress = "0.0.0.0");
    ~UdpResponder() override;

    bool Open(std::string* error);
    uint16_t port() const { return m_port.load(); }
    const std::string& bindAddress() const { return m_bindAddress; }

    void Run(const std::atomic<bool>& stop) override;

    // requests, answered, repliesSent, ignored.
    nlohmann::json Counters() const;
    uint32_t requests() const { return m_requests; }
    uint32_t repliesSent() const { return m_repliesSent; }

private:
    PrinterHost& m_host;
    std::atomic<uint16_t> m_port;
    std::string m_bindAddress;
    UniqueFd m_socket;
    std::atomic<uint32_t> m_requests{0};
    std::atomic<uint32_t> m_answered{0};
    std::atomic<uint32_t> m_repliesSent{0};
    std::atomic<uint32_t> m_ignored{0};
};

}  // namespace sim
