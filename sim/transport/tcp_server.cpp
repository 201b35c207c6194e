#include "sim/transport/tcp_server.h"

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

// Writes what is left of a reply to a non-blocking socket, waiting at most
// timeoutMs for room: the printer's last words before it leaves the link
// still reach the host. Returns the bytes written.
size_t SendWithin(net::Socket s, const uint8_t* data, size_t n, int timeoutMs) {
    const int64_t end = MonotonicMs() + timeoutMs;
    size_t done = 0;
    while (done < n) {
        const long w = net::Send(s, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && !net::IsTransient(net::LastError())) break;
        const int64_t left = end - MonotonicMs();
        if (left <= 0) break;
        net::PollEntry e;
        e.socket = s;
        e.wantWrite = true;
        if (net::Poll(&e, 1, static_cast<int>(left)) <= 0) break;
    }
    return done;
}

PrinterState ReadState(PrinterHost& host) {
    return host.With([](VirtualPrinter& p) {
        return PrinterState{p.LinkUp(), p.Silent(), p.LinkGeneration()};
    });
}

}  // namespace

TcpServer::TcpServer(PrinterHost& host, uint16_t port) : m_host(host), m_port(port) {}

TcpServer::~TcpServer() { Stop(); }

bool TcpServer::OpenListener(std::string* error) {
    if (!net::StartSockets()) {
        if (error) *error = "the socket library cannot be started";
        return false;
    }
    net::UniqueSocket s = net::TcpSocket(true);
    if (!s) {
        if (error) *error = "socket: " + net::ErrorText(net::LastError());
        return false;
    }
    if (!net::BindLoopback(s.get(), m_port.load())) {
        if (error)
            *error = "bind 127.0.0.1:" + std::to_string(m_port.load()) + ": " +
                     net::ErrorText(net::LastError());
        return false;
    }
    if (!net::Listen(s.get(), 4)) {
        if (error) *error = "listen: " + net::ErrorText(net::LastError());
        return false;
    }
    if (const uint16_t bound = net::LocalPort(s.get())) m_port = bound;
    m_listener = std::move(s);
    return true;
}

bool TcpServer::Listen(std::string* error) { return OpenListener(error); }

void TcpServer::Run(const std::atomic<bool>& stop) {
    net::UniqueSocket client;
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
                m_bytesOut += SendWithin(client.get(), out.data() + outPos, out.size() - outPos,
                                         kFlushMs);
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

        net::PollEntry entry;
        bool listening = false;
        if (client) {
            entry.socket = client.get();
            entry.wantRead = true;
            entry.wantWrite = outPos < out.size();
        } else if (m_listener) {
            entry.socket = m_listener.get();
            entry.wantRead = true;
            listening = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        const int r = net::Poll(&entry, 1, kPollMs);
        if (r <= 0) continue;

        if (listening) {
            if (!entry.readable) continue;
            net::UniqueSocket c = net::Accept(m_listener.get(), true);
            if (c) {
                net::SetNoDelay(c.get());
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
        if (entry.readable) {
            const long n = net::Recv(client.get(), in.data(), in.size());
            if (n > 0) {
                m_bytesIn += static_cast<uint64_t>(n);
                m_host.HostWrite(in.data(), static_cast<size_t>(n));
                if (!m_host.With([](VirtualPrinter& p) { return p.LinkUp(); })) m_listener.Reset();
            } else if (n == 0 || !net::IsTransient(net::LastError())) {
                dropClient(m_closedByClient);
                continue;
            }
        } else if (entry.hangUp) {
            dropClient(m_closedByClient);
            continue;
        }
        if (entry.writable && outPos < out.size()) {
            const long n = net::Send(client.get(), out.data() + outPos, out.size() - outPos);
            if (n > 0) {
                outPos += static_cast<size_t>(n);
                m_bytesOut += static_cast<uint64_t>(n);
            } else if (n < 0 && !net::IsTransient(net::LastError())) {
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
