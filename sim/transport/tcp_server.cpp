#include "sim/transport/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace sim {

namespace {

constexpr int kPollMs = 10;
constexpr size_t kChunk = 65536;
constexpr int kFlushMs = 200;

struct PrinterState {
    bool up = false;
    bool silent = false;
    uint32_t generation = 0;
};

PrinterState ReadState(PrinterHost& host) {
    return host.With([](VirtualPrinter& p) {
        return PrinterState{p.LinkUp(), p.Silent(), p.LinkGeneration()};
    });
}

}  // namespace

TcpServer::TcpServer(PrinterHost& host, uint16_t port) : m_host(host), m_port(port) {}

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::OpenListener(std::string* error) {
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(m_port.load());
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (error)
            *error = "bind 127.0.0.1:" + std::to_string(m_port.load()) + ": " + std::strerror(errno);
        return false;
    }
    if (::listen(s.get(), 4) != 0) {
        if (error) *error = std::string("listen: ") + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
        m_port = ntohs(a.sin_port);
    m_listener = std::move(s);
    return true;
}

bool TcpServer::Listen(std::string* error) { return OpenListener(error); }

void TcpServer::Run(const std::atomic<bool>& stop) {
    UniqueFd client;
    uint32_t clientGeneration = 0;
    std::vector<uint8_t> out;  // reply bytes not yet sent
    size_t outPos = 0;
    std::vector<uint8_t> in(kChunk);
    int64_t nextListenTry = 0;

    auto dropClient = [&](std::atomic<uint32_t>& counter) {
        client.Reset();
        out.clear();
        outPos = 0;
        ++counter;
    };

    while (!stop) {
        const PrinterState st = ReadState(m_host);
        // A printer that is off refuses connections. The port closes before
        // the client does, so that a client that sees its connection end
        // finds the port already refusing.
        if (!st.up && m_listener) m_listener.Reset();
        if (client && (!st.up || st.generation != clientGeneration)) {
            // What the printer said before it left still goes out.
            if (outPos < out.size())
                m_bytesOut += WriteWithin(client.get(), out.data() + outPos, out.size() - outPos,
                                          kFlushMs, true);
            dropClient(m_closedByPrinter);
        }
        if (st.up && !m_listener && MonotonicMs() >= nextListenTry) {
            std::string ignored;
            if (!OpenListener(&ignored)) nextListenTry = MonotonicMs() + 100;
        }

        // Take the next piece of reply (one piece per send, so that pieces
        // leave as the printer cuts them).
        if (client && st.up && !st.silent && outPos == out.size()) {
            out.resize(kChunk);
            bool upAfter = true;
            const size_t n = m_host.With([&](VirtualPrinter& p) {
                const size_t got = p.Pending() ? p.HostRead(out.data(), out.size()) : size_t{0};
                upAfter = p.LinkUp();
                return got;
            });
            out.resize(n);
            outPos = 0;
            // A printer that goes off once its answer is out refuses new
            // connections before the host can see that answer.
            if (!upAfter) m_listener.Reset();
        }

        pollfd fds[2];
        nfds_t nfds = 0;
        int clientIndex = -1, listenIndex = -1;
        if (client) {
            clientIndex = static_cast<int>(nfds);
            fds[nfds++] = {client.get(),
                           static_cast<short>(POLLIN | (outPos < out.size() ? POLLOUT : 0)), 0};
        } else if (m_listener) {
            listenIndex = static_cast<int>(nfds);
            fds[nfds++] = {m_listener.get(), POLLIN, 0};
        }
        if (nfds == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        const int r = ::poll(fds, nfds, kPollMs);
        if (r <= 0) continue;

        if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) {
            UniqueFd c(::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (c) {
                int on = 1;
                ::setsockopt(c.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                const bool ok = m_host.With([&](VirtualPrinter& p) {
                    if (!p.LinkUp()) return false;
                    p.Connect();
                    clientGeneration = p.LinkGeneration();
                    return true;
                });
                if (ok) {
                    client = std::move(c);
                    out.clear();
                    outPos = 0;
                    ++m_accepted;
                }
            }
            continue;
        }
        if (clientIndex < 0) continue;
        const short ev = fds[clientIndex].revents;
        if (ev & POLLIN) {
            const ssize_t n = ::recv(client.get(), in.data(), in.size(), 0);
            if (n > 0) {
                m_bytesIn += static_cast<uint64_t>(n);
                m_host.HostWrite(in.data(), static_cast<size_t>(n));
                if (!m_host.With([](VirtualPrinter& p) { return p.LinkUp(); })) m_listener.Reset();
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                dropClient(m_closedByClient);
                continue;
            }
        } else if (ev & (POLLHUP | POLLERR)) {
            dropClient(m_closedByClient);
            continue;
        }
        if ((ev & POLLOUT) && outPos < out.size()) {
            const ssize_t n =
                ::send(client.get(), out.data() + outPos, out.size() - outPos, MSG_NOSIGNAL);
            if (n > 0) {
                outPos += static_cast<size_t>(n);
                m_bytesOut += static_cast<uint64_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                dropClient(m_closedByClient);
            }
        }
    }
}

nlohmann::json TcpServer::Counters() const {
    return {{"port", m_port.load()},
            {"accepted", m_accepted.load()},
            {"closedByPrinter", m_closedByPrinter.load()},
            {"closedByClient", m_closedByClient.load()},
            {"bytesIn", m_bytesIn.load()},
            {"bytesOut", m_bytesOut.load()}};
}

}  // namespace sim
