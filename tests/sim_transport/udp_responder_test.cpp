// The printer search responder, reached by unicast on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <memory>

#include "sim/transport/printer_host.h"
#include "sim/transport/udp_responder.h"
#include "sim/transport/unique_fd.h"
#include "tests/sim_transport/frames.h"
#include "tests/sim_transport/socket_client.h"

namespace {

std::vector<uint8_t> Record(char fill) { return std::vector<uint8_t>(32, uint8_t(fill)); }

class UdpResponderTest : public ::testing::Test {
protected:
    void Serve(sim::Scenario s) {
        printer = std::make_unique<sim::VirtualPrinter>(std::move(s));
        host = std::make_unique<sim::PrinterHost>(*printer);
        responder = std::make_unique<sim::UdpResponder>(*host, 0, "127.0.0.1");
        std::string error;
        ASSERT_TRUE(responder->Open(&error)) << error;
        responder->Start();

        client.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        ASSERT_TRUE(client);
        const sockaddr_in any = simtest::Loopback(0);
        ASSERT_EQ(::bind(client.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    }
    void TearDown() override {
        if (responder) responder->Stop();
    }

    void Send(const std::vector<uint8_t>& d) {
        const sockaddr_in to = simtest::Loopback(responder->port());
        ASSERT_EQ(::sendto(client.get(), d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to),
                  static_cast<ssize_t>(d.size()));
    }

    // Datagrams that arrive within waitMs.
    std::vector<std::vector<uint8_t>> Collect(int waitMs, size_t expected) {
        std::vector<std::vector<uint8_t>> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < expected) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd p{client.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            std::vector<uint8_t> d(2048);
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(client.get(), d.data(), d.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) break;
            EXPECT_EQ(ntohs(from.sin_port), responder->port()) << "reply from another port";
            d.resize(static_cast<size_t>(n));
            got.push_back(d);
        }
        return got;
    }

    std::unique_ptr<sim::VirtualPrinter> printer;
    std::unique_ptr<sim::PrinterHost> host;
    std::unique_ptr<sim::UdpResponder> responder;
    sim::UniqueFd client;
};

TEST_F(UdpResponderTest, SearchIsAnsweredWithEachRecordToTheSender) {
    sim::Scenario s;
    s.searchRecords = {Record('a'), Record('b')};
    Serve(s);
    Send(simtest::SearchDatagram());
    const auto replies = Collect(2000, 2);
    ASSERT_EQ(replies.size(), 2u);
    std::vector<std::vector<uint8_t>> records;
    for (const auto& r : replies) {
        ASSERT_EQ(r.size(), 38u);
        EXPECT_EQ(simtest::BigEndian32(&r[2]), 32u);
        records.emplace_back(r.begin() + 6, r.end());
    }
    EXPECT_EQ(records[0], Record('a'));
    EXPECT_EQ(records[1], Record('b'));
    responder->Stop();  // the counters are final once the loop has ended
    EXPECT_EQ(responder->requests(), 1u);
    EXPECT_EQ(responder->repliesSent(), 2u);
}

TEST_F(UdpResponderTest, OtherDatagramsAreNotAnswered) {
    sim::Scenario s;
    s.searchRecords = {Record('a')};
    Serve(s);
    Send(simtest::FsY());
    Send({0x00});
    EXPECT_TRUE(Collect(150, 1).empty());
    // A search after them is still answered.
    Send(simtest::SearchDatagram());
    EXPECT_EQ(Collect(2000, 1).size(), 1u);
    responder->Stop();
    EXPECT_EQ(responder->requests(), 3u);
    EXPECT_EQ(responder->repliesSent(), 1u);
}

TEST_F(UdpResponderTest, APrinterOffItsLinkDoesNotAnswer) {
    sim::Scenario s;
    s.searchRecords = {Record('a')};
    sim::Fault f;
    f.atFrame = 1;
    f.action = sim::FaultAction::kDrop;
    s.faults.push_back(f);
    s.dropReturnMs = 0;  // never comes back
    Serve(s);
    host->HostWrite(simtest::FsY().data(), simtest::FsY().size());
    ASSERT_FALSE(host->With([](sim::VirtualPrinter& p) { return p.LinkUp(); }));
    Send(simtest::SearchDatagram());
    EXPECT_TRUE(Collect(150, 1).empty());
    responder->Stop();
    EXPECT_EQ(responder->requests(), 1u);
    EXPECT_EQ(responder->repliesSent(), 0u);
}

TEST(UdpResponderOpen, RejectsABadBindAddress) {
    sim::VirtualPrinter p;
    sim::PrinterHost host(p);
    sim::UdpResponder r(host, 0, "300.1.2.3");
    std::string error;
    EXPECT_FALSE(r.Open(&error));
    EXPECT_NE(error.find("300.1.2.3"), std::string::npos) << error;
}

}  // namespace
