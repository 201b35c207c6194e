// The virtual printer on a loopback TCP port, with a real client.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "sim/transport/printer_host.h"
#include "sim/transport/tcp_server.h"
#include "tests/sim_transport/frames.h"
#include "tests/support/loopback.h"

namespace {

using testsupport::ReadEnd;
using testsupport::ReadExactly;
using testsupport::SendAll;
using testsupport::Socket;
using testsupport::UniqueSocket;

constexpr int kWaitMs = 3000;  // bound on every wait; normally milliseconds

class TcpServerTest : public ::testing::Test {
protected:
    void Serve(sim::Scenario s = sim::Scenario()) {
        printer = std::make_unique<sim::VirtualPrinter>(std::move(s));
        host = std::make_unique<sim::PrinterHost>(*printer);
        server = std::make_unique<sim::TcpServer>(*host, 0);
        std::string error;
        ASSERT_TRUE(server->Listen(&error)) << error;
        ASSERT_NE(server->port(), 0);
        server->Start();
    }
    void TearDown() override {
        if (server) server->Stop();
    }

    // One FS Y exchange on fd: the 57 reply bytes.
    ReadEnd SystemInfo(Socket fd, std::vector<uint8_t>* reply) {
        if (!SendAll(fd, simtest::FsY())) return ReadEnd::kClosed;
        return ReadExactly(fd, 57, reply, kWaitMs);
    }

    std::unique_ptr<sim::VirtualPrinter> printer;
    std::unique_ptr<sim::PrinterHost> host;
    std::unique_ptr<sim::TcpServer> server;
};

TEST_F(TcpServerTest, AnswersSystemInformationOverLoopback) {
    Serve();
    UniqueSocket c = testsupport::ConnectLoopback(server->port());
    ASSERT_TRUE(c);
    std::vector<uint8_t> r;
    ASSERT_EQ(SystemInfo(c.get(), &r), ReadEnd::kComplete);
    EXPECT_EQ(r[1], 'Y');
    EXPECT_EQ(simtest::BigEndian32(&r[2]), 51u);
    EXPECT_EQ(simtest::Text(r, 6 + 38, 4), "1.2 ");
    EXPECT_EQ(simtest::Text(r, 6 + 42, 8), "ZKQ00001");
    // The same connection carries further exchanges.
    ASSERT_EQ(SystemInfo(c.get(), &r), ReadEnd::kComplete);
    server->Stop();  // the counters are final once the loop has ended
    EXPECT_EQ(server->accepted(), 1u);
    const auto counters = server->Counters();
    EXPECT_EQ(counters["bytesIn"], 12u);
    EXPECT_EQ(counters["bytesOut"], 114u);
}

TEST_F(TcpServerTest, ServesOneClientAtATime) {
    Serve();
    UniqueSocket first = testsupport::ConnectLoopback(server->port());
    ASSERT_TRUE(first);
    std::vector<uint8_t> r;
    ASSERT_EQ(SystemInfo(first.get(), &r), ReadEnd::kComplete);

    // A second client waits in the queue without an answer ...
    UniqueSocket second = testsupport::ConnectLoopback(server->port());
    ASSERT_TRUE(second);
    ASSERT_TRUE(SendAll(second.get(), simtest::FsY()));
    EXPECT_EQ(ReadExactly(second.get(), 57, &r, 150), ReadEnd::kTimeout);
    // ... and is served once the first one leaves.
    first.Reset();
    ASSERT_EQ(ReadExactly(second.get(), 57, &r, kWaitMs), ReadEnd::kComplete);
    EXPECT_EQ(r[1], 'Y');
    EXPECT_EQ(server->accepted(), 2u);
}

TEST_F(TcpServerTest, DroppedLinkClosesTheClientRefusesConnectionsThenReturns) {
    sim::Scenario s;
    sim::Fault f;
    f.atFrame = 2;
    f.action = sim::FaultAction::kDrop;
    s.faults.push_back(f);
    s.dropReturnMs = 300;
    Serve(s);
    const uint16_t port = server->port();

    UniqueSocket c = testsupport::ConnectLoopback(port);
    ASSERT_TRUE(c);
    std::vector<uint8_t> r;
    ASSERT_EQ(SystemInfo(c.get(), &r), ReadEnd::kComplete);
    const auto dropped = std::chrono::steady_clock::now();
    EXPECT_EQ(SystemInfo(c.get(), &r), ReadEnd::kClosed);

    int err = 0;
    EXPECT_FALSE(testsupport::ConnectLoopback(port, &err));
    EXPECT_EQ(err, sim::net::kErrorConnectionRefused);

    UniqueSocket again = testsupport::ConnectLoopbackWithin(port, kWaitMs);
    ASSERT_TRUE(again);
    const auto away = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - dropped)
                          .count();
    EXPECT_GE(away, 250);  // about dropReturnMs, allowing for tick rounding
    ASSERT_EQ(SystemInfo(again.get(), &r), ReadEnd::kComplete);
    EXPECT_EQ(simtest::Text(r, 6 + 42, 8), "ZKQ00001");
    server->Stop();
    EXPECT_EQ(server->closedByPrinter(), 1u);
    EXPECT_EQ(server->port(), port);
}

TEST_F(TcpServerTest, SilentPrinterKeepsTheConnectionButNeverAnswers) {
    sim::Scenario s;
    sim::Fault f;
    f.atFrame = 1;
    f.action = sim::FaultAction::kSilent;
    s.faults.push_back(f);
    Serve(s);
    UniqueSocket c = testsupport::ConnectLoopback(server->port());
    ASSERT_TRUE(c);
    ASSERT_TRUE(SendAll(c.get(), simtest::FsY()));
    std::vector<uint8_t> r;
    EXPECT_EQ(ReadExactly(c.get(), 6, &r, 200), ReadEnd::kTimeout);
    EXPECT_EQ(server->closedByPrinter(), 0u);
}

TEST_F(TcpServerTest, PortInUseIsReported) {
    Serve();
    sim::VirtualPrinter other;
    sim::PrinterHost otherHost(other);
    sim::TcpServer clash(otherHost, server->port());
    std::string error;
    // A listening port cannot be bound twice, even with address reuse.
    EXPECT_FALSE(clash.Listen(&error));
    EXPECT_NE(error.find("bind 127.0.0.1:" + std::to_string(server->port())), std::string::npos)
        << error;
}

}  // namespace
