#include "sim/transport/udp_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {

namespace {
constexpr int kPollMs = 20;
}

UdpResponder::UdpResponder(PrinterHost& host, uint16_t port, std::string bindAddress)
    : m_host(host), m_port(port), m_bindAddress(std::move(bindAddress)) {}

UdpResponder::~UdpResponder() { Stop(); }

bool UdpResponder::Open(std::string* error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_port.load());
    if (::inet_pton(AF_INET, m_bindAddress.c_str(), &a.sin_addr) != 1) {
        if (error) *error = "not a dotted IPv4 address: '" + m_bindAddress + "'";
        return false;
    }
    UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (error)
            *error = "bind udp " + m_bindAddress + ":" + std::to_string(m_port.load()) + ": " +
                     std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
        m_port = ntohs(a.sin_port);
    m_socket = std::move(s);
    return true;
}

void UdpResponder::Run(const std::atomic<bool>& stop) {
    if (!m_socket) return;
    std::vector<uint8_t> buf(65536);
    while (!stop) {
        pollfd pfd{m_socket.get(), POLLIN, 0};
        if (::poll(&pfd, 1, kPollMs) <= 0 || !(pfd.revents & POLLIN)) continue;
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(m_socket.get(), buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) break;  // nothing more waiting
            ++m_requests;
            std::vector<std::vector<uint8_t>> replies;
            const bool awake = m_host.With([&](VirtualPrinter& p) {
                if (!p.LinkUp() || p.Silent()) return false;
                replies = p.AnswerSearch(buf.data(), static_cast<size_t>(n));
                return true;
            });
            if (!awake || replies.empty()) {
                ++m_ignored;
                continue;
            }
            ++m_answered;
            for (const auto& r : replies) {
                if (::sendto(m_socket.get(), r.data(), r.size(), 0,
                             reinterpret_cast<const sockaddr*>(&from), fromLen) ==
                    static_cast<ssize_t>(r.size()))
                    ++m_repliesSent;
            }
        }
    }
}

nlohmann::json UdpResponder::Counters() const {
    return {{"port", m_port.load()},
            {"requests", m_requests.load()},
            {"answered", m_answered.load()},
            {"repliesSent", m_repliesSent.load()},
            {"ignored", m_ignored.load()}};
}

}  // namespace sim
