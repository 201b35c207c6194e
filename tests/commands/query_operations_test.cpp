// The three queries that identification and the update share, by link kind:
// USB through the in-process device, TCP through the virtual printer's
// server on 127.0.0.1.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "command_fixture.h"
#include "sim/transport/printer_host.h"
#include "sim/transport/tcp_server.h"

namespace cmdtest {
namespace {

TEST_F(CommandTest, QueriesOnUsb) {
    sim::Scenario s;
    s.status.assign(60, 0x21);
    s.identifier = "QRSTUVWX";
    Start(s);

    // No reservation on USB: success without traffic, the digit untouched.
    int32_t digit = 77;
    EXPECT_EQ(ReservePrinter('1', &digit), 1);
    EXPECT_EQ(digit, 77);
    EXPECT_TRUE(frames().empty());

    std::array<uint8_t, 60> status{};
    EXPECT_EQ(QueryPrinterStatus(status.data()), 0);
    EXPECT_EQ(status[0], 0x21);
    EXPECT_EQ(status[59], 0x21);
    std::array<uint8_t, 51> info{};
    EXPECT_EQ(QuerySystemInfo(info.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.data()) + 42, 8), "QRSTUVWX");
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 54 00 00 00 3C"));
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 59 00 00 00 33"));

    // Nowhere to copy to: refused before any traffic.
    EXPECT_EQ(QueryPrinterStatus(nullptr), 13);
    EXPECT_EQ(QuerySystemInfo(nullptr), 13);
    EXPECT_EQ(frames().size(), 2u);
}

TEST_F(CommandTest, FailedQueriesLeaveTheDestinationAlone) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, 'T', 1, sim::FaultAction::kNak});
    s.faults.push_back({0, 0x1C, 'Y', 1, sim::FaultAction::kNak});
    Start(s);
    std::array<uint8_t, 60> status;
    status.fill(0xCC);
    std::array<uint8_t, 51> info;
    info.fill(0xCC);
    EXPECT_EQ(QueryPrinterStatus(status.data()), 17);
    EXPECT_EQ(QuerySystemInfo(info.data()), 17);
    for (uint8_t b : status) EXPECT_EQ(b, 0xCC);
    for (uint8_t b : info) EXPECT_EQ(b, 0xCC);
}

TEST(QueryOperations, NoLinkKindMeansNoQuery) {
    g_linkKind = kLinkNone;
    int32_t digit = 5;
    std::array<uint8_t, 60> buffer{};
    EXPECT_EQ(ReservePrinter('1', &digit), 0);
    EXPECT_EQ(digit, 5);
    EXPECT_EQ(QuerySystemInfo(buffer.data()), 31);
    EXPECT_EQ(QueryPrinterStatus(buffer.data()), 31);
    g_linkKind = 4;
    EXPECT_EQ(ReservePrinter('1', &digit), 0);
    EXPECT_EQ(QuerySystemInfo(buffer.data()), 31);
}

// The virtual printer behind the TCP link on 127.0.0.1.
class TcpQueries : public ::testing::Test {
protected:
    void Serve(const sim::Scenario& s) {
        printer = std::make_unique<sim::VirtualPrinter>(s);
        host = std::make_unique<sim::PrinterHost>(*printer);
        server = std::make_unique<sim::TcpServer>(*host, 0);
        std::string error;
        ASSERT_TRUE(server->Listen(&error)) << error;
        server->Start();
        g_linkKind = kLinkTcp;
        ASSERT_EQ(g_printerIO.Open(server->port(), "127.0.0.1"), 1);
    }
    void TearDown() override {
        g_printerIO.Close();
        g_linkKind = kLinkNone;
        if (server) server->Stop();
    }
    std::vector<sim::Frame> Frames() {
        return host->With([](sim::VirtualPrinter& p) { return p.frames(); });
    }

    std::unique_ptr<sim::VirtualPrinter> printer;
    std::unique_ptr<sim::PrinterHost> host;
    std::unique_ptr<sim::TcpServer> server;
};

// Request x printer result: the digit handed back. -48 is the result text's
// starting 0 minus '0', left when the answer is not written back.
struct ReserveCase {
    char request;
    uint8_t printerResult;
    int32_t digit;
};

class TcpReserve : public TcpQueries, public ::testing::WithParamInterface<ReserveCase> {};

TEST_P(TcpReserve, HandsBackTheAdmittedDigit) {
    const ReserveCase& c = GetParam();
    sim::Scenario s;
    s.reserveResult = c.printerResult;
    Serve(s);
    int32_t digit = 99;
    EXPECT_EQ(ReservePrinter(c.request, &digit), 1);
    EXPECT_EQ(digit, c.digit);
    const std::vector<sim::Frame> frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    std::vector<uint8_t> expected = Hex("1C 3D 00 00 00 01 00");
    expected[6] = static_cast<uint8_t>(c.request - '0');
    EXPECT_EQ(Wire(frames[0]), expected);
}

INSTANTIATE_TEST_SUITE_P(RequestTimesResult, TcpReserve,
                         ::testing::Values(ReserveCase{'1', 0, 0}, ReserveCase{'1', 1, -48},
                                           ReserveCase{'1', 2, 2}, ReserveCase{'2', 0, 0},
                                           ReserveCase{'2', 1, 1}, ReserveCase{'2', 2, -48}),
                         [](const auto& info) {
                             return std::string("Request") + info.param.request + "Result" +
                                    std::to_string(info.param.printerResult);
                         });

TEST_F(TcpQueries, SystemInfoButNoStatusOverTcp) {
    sim::Scenario s;
    s.version = "2.0 ";
    Serve(s);
    std::array<uint8_t, 51> info{};
    EXPECT_EQ(QuerySystemInfo(info.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.data()) + 38, 4), "2.0 ");
    std::array<uint8_t, 60> status{};
    EXPECT_EQ(QueryPrinterStatus(status.data()), 31);
    EXPECT_EQ(Frames().size(), 1u);  // the status query sent nothing
}

TEST_F(TcpQueries, RefusedReservationFails) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, '=', 1, sim::FaultAction::kNak});
    Serve(s);
    int32_t digit = 99;
    EXPECT_EQ(ReservePrinter('1', &digit), 0);
    EXPECT_EQ(digit, -48);
}

}  // namespace
}  // namespace cmdtest
