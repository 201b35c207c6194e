// Sending and receiving over TCP: against the virtual printer on a
// loopback port, and against a scripted peer that misbehaves.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/transport/printer_host.h"
#include "sim/transport/tcp_server.h"
#include "tests/link/link_fixture.h"
#include "tests/support/loopback.h"

namespace {

using linktest::TraceLine;
using linktest::WithoutLineNumber;
using testsupport::Socket;

// A loopback peer that accepts one connection and runs a script on it in a
// thread of its own.
class ScriptedPeer {
public:
    using Script = std::function<void(Socket s)>;
    explicit ScriptedPeer(Script script) : listener_(1) {
        thread_ = std::thread([this, script = std::move(script)] {
            testsupport::UniqueSocket c = listener_.Accept(3000);
            if (c) script(c.get());
        });
    }
    ~ScriptedPeer() { thread_.join(); }
    uint16_t port() const { return listener_.port(); }

    // Reads exactly n bytes within 3 s.
    static std::vector<uint8_t> Read(Socket s, size_t n) {
        std::vector<uint8_t> out;
        testsupport::ReadExactly(s, n, &out, 3000);
        return out;
    }
    static void Write(Socket s, const std::vector<uint8_t>& bytes) { testsupport::SendAll(s, bytes); }
    // Waits (at most 3 s) until the client closes its side.
    static void UntilClosed(Socket s) { testsupport::ReadUntilClosed(s, 3000); }

private:
    testsupport::CLoopbackListener listener_;
    std::thread thread_;
};

class TcpLinkTest : public linktest::LinkTest {
protected:
    int32_t SystemInfo(uint32_t limit) {
        buffer.assign(limit + 8, 0xEE);
        CommandBlock request{0x1C, 'Y', 51, nullptr};
        reply = CommandBlock{0, 0, 0, buffer.data()};
        return g_printerIO.SendRecv(&request, 0, &reply, limit);
    }
    std::vector<uint8_t> buffer;
    CommandBlock reply{};
};

TEST_F(TcpLinkTest, ExchangesWithTheVirtualPrinter) {
    sim::VirtualPrinter printer;
    sim::PrinterHost host(printer);
    sim::TcpServer server(host, 0);
    std::string error;
    ASSERT_TRUE(server.Listen(&error)) << error;
    server.Start();
    ASSERT_EQ(g_printerIO.Open(server.port(), "127.0.0.1"), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkTcp);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(SystemInfo(51), 51);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + 38, 4), "1.2 ");
    }
    uint8_t byte = 0;
    EXPECT_EQ(g_printerIO.Send(&byte, 0), 0);
    EXPECT_EQ(g_printerIO.Recv(&byte, 0), 0);
    g_printerIO.Close();
    server.Stop();
    EXPECT_EQ(server.accepted(), 1u);
    EXPECT_TRUE(traces.empty());
}

// Replies a peer sends after reading the 6-byte FS Y request; the peer then
// closes the connection.
struct PeerCase {
    const char* name;
    std::vector<uint8_t> reply;
    int32_t result;
    const char* tracedCall;  // the one trace line's message; null for none
};

class TcpPeerTest : public TcpLinkTest, public ::testing::WithParamInterface<PeerCase> {};

std::vector<uint8_t> Header(uint8_t letter, uint32_t length) {
    return {0x1C, letter, static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_P(TcpPeerTest, EndsWithoutHangingAndTracesOnce) {
    ScriptedPeer peer([reply = GetParam().reply](Socket fd) {
        ScriptedPeer::Read(fd, 6);
        ScriptedPeer::Write(fd, reply);
        sim::net::ShutdownWrite(fd);
        ScriptedPeer::UntilClosed(fd);
    });
    ASSERT_EQ(g_printerIO.Open(peer.port(), "127.0.0.1"), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SystemInfo(60), GetParam().result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (GetParam().tracedCall == nullptr) {
        EXPECT_TRUE(traces.empty());
    } else {
        ASSERT_EQ(traces.size(), 1u);
        EXPECT_EQ(WithoutLineNumber(traces[0]),
                  TraceLine("CPrinterIO::Recv", GetParam().tracedCall, kErrorDeviceNotConnected));
    }
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);  // TCP failures are not recorded
    g_printerIO.Close();
}

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i + 1);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TcpPeerTest,
    ::testing::Values(
        PeerCase{"ClosesWithoutReply", {}, -1, "recv"},
        PeerCase{"ShortHeader", {0x1C, 'Y', 0}, -1, "recv"},
        PeerCase{"ClosesMidPayload", Concat(Header('Y', 51), Bytes(20)), -1, "recv"},
        PeerCase{"HugeAnnouncedLengthReadsTheLimit", Concat(Header('Y', 0xFFFFFFF0u), Bytes(60)),
                 60, nullptr},
        PeerCase{"NegativeLookingLengthReadsTheLimit", Concat(Header('Y', 0x80000000u), Bytes(60)),
                 60, nullptr},
        PeerCase{"EmptyReply", Header('Y', 0), 0, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TcpLinkTest, HugeAnnouncedLengthStoresTheLimitInTheBlock) {
    ScriptedPeer peer([](Socket fd) {
        ScriptedPeer::Read(fd, 6);
        ScriptedPeer::Write(fd, Concat(Header('Y', 0xFFFFFFF0u), Bytes(100)));
        ScriptedPeer::UntilClosed(fd);
    });
    ASSERT_EQ(g_printerIO.Open(peer.port(), "127.0.0.1"), 1);
    ASSERT_EQ(SystemInfo(60), 60);
    EXPECT_EQ(reply.length, 60u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 60), Bytes(60));
    EXPECT_EQ(buffer[60], 0xEE);
    g_printerIO.Close();
}

TEST_F(TcpLinkTest, PeerThatNeverAnswersTimesOut) {
    SetTcpReceiveTimeoutForTest(200);
    ScriptedPeer peer([](Socket fd) { ScriptedPeer::UntilClosed(fd); });
    ASSERT_EQ(g_printerIO.Open(peer.port(), "127.0.0.1"), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SystemInfo(51), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::Recv", "recv", sim::net::kErrorTimedOut));
    g_printerIO.Close();
}

TEST_F(TcpLinkTest, SendToAClosedPeerFailsWithTheSocketsError) {
    // Reset the connection: linger 0 and close.
    ScriptedPeer peer([](Socket fd) { sim::net::ResetOnClose(fd); });
    ASSERT_EQ(g_printerIO.Open(peer.port(), "127.0.0.1"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint8_t> data(1 << 20, 0x55);
    int32_t r = 0;
    for (int i = 0; i < 20 && r != -1; ++i) r = g_printerIO.Send(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(r, -1);
    ASSERT_EQ(traces.size(), 1u);
    const std::string line = WithoutLineNumber(traces[0]);
    EXPECT_TRUE(line == TraceLine("CPrinterIO::Send", "send", sim::net::kErrorConnectionReset) ||
                line == TraceLine("CPrinterIO::Send", "send", sim::net::kErrorBrokenPipe))
        << line;
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    g_printerIO.Close();
}

}  // namespace
