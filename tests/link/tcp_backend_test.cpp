// The TCP link through the socket seam, against the virtual printer in
// process on a virtual clock: what the link asks of its socket, how it
// closes it, and how it reacts when the printer leaves or falls silent.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/transport/inprocess_tcp.h"
#include "tests/link/link_fixture.h"

namespace {

using linktest::TraceLine;
using linktest::WithoutLineNumber;

sim::Fault On(uint8_t letter, sim::FaultAction action) {
    sim::Fault f;
    f.introducer = 0x1C;
    f.letter = letter;
    f.action = action;
    return f;
}

class TcpBackendTest : public linktest::LinkTest {
protected:
    void Start(sim::Scenario s = sim::Scenario()) {
        rig = std::make_unique<sim::InProcessTcpRig>(std::move(s));
        g_linkKind = kLinkTcp;
    }
    void TearDown() override {
        LinkTest::TearDown();  // closes the socket while the rig still exists
        rig.reset();
    }
    const std::vector<std::string>& Calls() const { return rig->tcp.calls(); }
    std::vector<std::string> CallsFrom(size_t from) const {
        return std::vector<std::string>(Calls().begin() + static_cast<std::ptrdiff_t>(from),
                                        Calls().end());
    }

    std::unique_ptr<sim::InProcessTcpRig> rig;
};

TEST_F(TcpBackendTest, OpenLinkConnectsToThePrintersPortWithItsSocketOptions) {
    Start();
    ASSERT_EQ(OpenLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkTcp);
    // No setting supplies the address: the link asks for four zeros.
    ASSERT_EQ(rig->tcp.connects().size(), 1u);
    const sim::InProcessTcp::ConnectRequest& c = rig->tcp.connects()[0];
    EXPECT_EQ(c.address, "0.0.0.0");
    EXPECT_EQ(c.port, 9100);
    EXPECT_TRUE(c.keepAlive);
    EXPECT_EQ(c.keepAliveIdleMs, 30000u);
    EXPECT_EQ(c.keepAliveIntervalMs, 30000u);
    EXPECT_EQ(c.receiveTimeoutMs, 30000u);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"socket", "keepalive 30000/30000",
                                                 "rcvtimeo 30000", "connect 0.0.0.0:9100"}));

    uint8_t info[51] = {};
    ASSERT_EQ(QuerySystemInfo(info), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info) + 38, 4), "1.2 ");
    ASSERT_EQ(rig->printer.frames().size(), 1u);
    EXPECT_EQ(rig->printer.frames()[0].letter, 'Y');

    const size_t before = Calls().size();
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    // The sending side is shut down before the socket is closed.
    EXPECT_EQ(CallsFrom(before), (std::vector<std::string>{"shutdown", "close"}));
    EXPECT_EQ(rig->tcp.openSockets(), 0);
    EXPECT_TRUE(traces.empty());
}

TEST_F(TcpBackendTest, PrinterOffItsLinkRefusesTheConnectAndTheSocketIsClosed) {
    sim::Scenario s;
    s.faults.push_back(On('Y', sim::FaultAction::kDrop));
    Start(s);
    ASSERT_EQ(OpenLink(), 1);
    uint8_t info[51] = {};
    EXPECT_EQ(QuerySystemInfo(info), 17);  // the printer left on receipt of FS Y
    traces.clear();

    const size_t before = Calls().size();
    EXPECT_EQ(OpenLink(), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    // The open closes the old connection first; the refused socket is
    // closed without a shutdown.
    EXPECT_EQ(CallsFrom(before), (std::vector<std::string>{
                                     "shutdown", "close", "socket", "keepalive 30000/30000",
                                     "rcvtimeo 30000", "connect 0.0.0.0:9100 refused", "close"}));
    EXPECT_EQ(rig->tcp.openSockets(), 0);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), TraceLine("CPrinterIO::Open", "connect", 111));
    EXPECT_EQ(g_printerIO.m_errorCategory, 0) << "only USB failures are recorded";
}

TEST_F(TcpBackendTest, ConnectionThePrinterLeftEndsTheExchangeInsteadOfLooping) {
    sim::Scenario s;
    s.faults.push_back(On('Y', sim::FaultAction::kDrop));
    Start(s);
    ASSERT_EQ(OpenLink(), 1);
    uint8_t info[51] = {};
    EXPECT_EQ(QuerySystemInfo(info), 17);
    // The receive reports the end of the stream once; the link takes a
    // receive that moves nothing as a failure of its own.
    EXPECT_EQ(Calls().back(), "recv eof");
    EXPECT_EQ(TracesWith("recv").size(), 1u);
    EXPECT_EQ(WithoutLineNumber(TracesWith("CPrinterIO::Recv")[0]),
              TraceLine("CPrinterIO::Recv", "recv", kErrorDeviceNotConnected));
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkTcp) << "a failed exchange leaves the link open";
}

TEST_F(TcpBackendTest, SilentPrinterFailsTheReceiveAfterItsTimeOutInVirtualTime) {
    sim::Scenario s;
    s.faults.push_back(On('Y', sim::FaultAction::kSilent));
    for (const uint32_t timeout : {30000u, 5000u}) {
        SCOPED_TRACE(timeout);
        Start(s);
        SetTcpReceiveTimeoutForTest(timeout);
        ASSERT_EQ(OpenLink(), 1);
        EXPECT_EQ(rig->tcp.connects()[0].receiveTimeoutMs, timeout);
        traces.clear();
        const uint32_t start = platform::TickCount();
        uint8_t info[51] = {};
        EXPECT_EQ(QuerySystemInfo(info), 17);
        const uint32_t elapsed = platform::TickCount() - start;
        EXPECT_GE(elapsed, timeout);
        EXPECT_LT(elapsed, timeout + 100);
        EXPECT_EQ(Calls().back(), "recv timeout");
        ASSERT_EQ(TracesWith("CPrinterIO::Recv").size(), 1u);
        EXPECT_EQ(WithoutLineNumber(TracesWith("CPrinterIO::Recv")[0]),
                  TraceLine("CPrinterIO::Recv", "recv", 110));
        ResetLinkForTest();
        rig.reset();
    }
}

TEST_F(TcpBackendTest, SocketOfABackendNoLongerInForceIsForgottenNotClosedThroughAnother) {
    Start();
    ASSERT_EQ(OpenLink(), 1);
    sim::InProcessTcp other(rig->printer, &rig->clock);
    platform::SetTcpBackend(&other);
    g_printerIO.Close();
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_TRUE(other.calls().empty());
    EXPECT_EQ(rig->tcp.openSockets(), 1) << "its own backend never heard of the close";
    platform::SetTcpBackend(&rig->tcp);
}

}  // namespace
