// Sending and receiving over the USB link against the virtual printer in
// process, on a virtual clock.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/transport/inprocess_usb.h"
#include "link/byte_order.h"
#include "tests/link/link_fixture.h"

namespace {

using linktest::TraceLine;
using linktest::WithoutLineNumber;

sim::Fault At(uint32_t frame, sim::FaultAction action) {
    sim::Fault f;
    f.atFrame = frame;
    f.action = action;
    return f;
}

class UsbTransferTest : public linktest::LinkTest {
protected:
    void Start(sim::Scenario s = sim::Scenario()) {
        rig = std::make_unique<sim::InProcessRig>(std::move(s));
        ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    }
    void TearDown() override {
        LinkTest::TearDown();  // closes the device while the rig still exists
        rig.reset();
    }
    // One FS exchange: request letter with `length` in the header and no
    // payload; the reply's payload goes into `buffer`.
    int32_t Exchange(uint8_t letter, uint32_t length, uint32_t limit, CommandBlock* reply) {
        buffer.assign(limit + 16, 0xEE);
        CommandBlock request{0x1C, letter, length, nullptr};
        *reply = CommandBlock{0, 0, 0xFFFFFFFF, buffer.data()};
        return g_printerIO.SendRecv(&request, 0, reply, limit);
    }

    std::unique_ptr<sim::InProcessRig> rig;
    std::vector<uint8_t> buffer;
};

TEST_F(UsbTransferTest, SystemInfoExchangeCarriesTheVersion) {
    Start();
    CommandBlock reply;
    ASSERT_EQ(Exchange('Y', 51, 51, &reply), 51);
    EXPECT_EQ(reply.code, 0x1C);
    EXPECT_EQ(reply.command, 'Y');
    EXPECT_EQ(reply.length, 51u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + 38, 4), "1.2 ");
    EXPECT_EQ(buffer[51], 0xEE);  // nothing past the payload
    // The request went out as one frame, length big-endian.
    ASSERT_EQ(rig->printer.frames().size(), 1u);
    EXPECT_EQ(rig->printer.frames()[0].letter, 'Y');
    EXPECT_EQ(rig->printer.frames()[0].parameter, 51u);
    EXPECT_TRUE(traces.empty());
}

TEST_F(UsbTransferTest, RequestPayloadGoesOutAfterTheHeaderAndTheBlockIsUnchanged) {
    Start();
    uint8_t mode = 1;
    uint8_t result = 0;
    CommandBlock request{0x1C, '=', 1, &mode};
    CommandBlock reply{0, 0, 0, &result};
    ASSERT_EQ(g_printerIO.SendRecv(&request, 1, &reply, 1), 1);
    EXPECT_EQ(result, 1);  // the printer grants the reservation
    EXPECT_EQ(request.length, 1u);  // still in host order
    ASSERT_EQ(rig->printer.frames().size(), 1u);
    EXPECT_EQ(rig->printer.frames()[0].payload, std::vector<uint8_t>{1});
}

TEST_F(UsbTransferTest, ReplyInOneBytePiecesArrivesWhole) {
    sim::Scenario s;
    sim::Fault f = At(1, sim::FaultAction::kPieces);
    f.pieceSize = 1;
    s.faults.push_back(f);
    Start(s);
    CommandBlock reply;
    ASSERT_EQ(Exchange('Y', 51, 51, &reply), 51);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + 42, 8), "ZKQ00001");
    EXPECT_EQ(rig->printer.stats().faultsFired, 1u);
    EXPECT_TRUE(traces.empty());
}

TEST_F(UsbTransferTest, ZeroLengthTransfersDoNotTouchTheDevice) {
    Start();
    const uint32_t before = rig->clock.TickCount();
    uint8_t byte = 0;
    EXPECT_EQ(g_printerIO.Send(&byte, 0), 0);
    EXPECT_EQ(g_printerIO.Recv(&byte, 0), 0);
    EXPECT_EQ(g_printerIO.Send(&byte, -5), 0);
    EXPECT_EQ(rig->clock.TickCount(), before);  // no transfer call was made
    EXPECT_EQ(rig->printer.stats().framesReceived, 0u);
    EXPECT_TRUE(traces.empty());
}

TEST_F(UsbTransferTest, ReplyWithoutPayloadGivesZero) {
    Start();
    CommandBlock reply;
    EXPECT_EQ(Exchange('A', 0, 0, &reply), 0);
    EXPECT_EQ(reply.command, 'A');
    EXPECT_EQ(reply.length, 0u);
    EXPECT_EQ(rig->printer.Pending(), 0u);
}

TEST_F(UsbTransferTest, ReplyLongerThanTheLimitIsCutAndTheRestLeftUnread) {
    sim::Scenario s;
    for (int i = 0; i < 100; ++i) s.printerData.push_back(static_cast<uint8_t>(i));
    Start(s);
    CommandBlock reply;
    ASSERT_EQ(Exchange('G', 100, 60, &reply), 60);
    EXPECT_EQ(reply.length, 60u);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(buffer[static_cast<size_t>(i)], i);
    EXPECT_EQ(buffer[60], 0xEE);  // not one byte past the limit
    EXPECT_EQ(rig->printer.Pending(), 40u);
}

TEST_F(UsbTransferTest, OtherCodeInTheReplyFailsWithOneTrace) {
    Start();
    CommandBlock reply;
    EXPECT_EQ(Exchange('Z', 0, 10, &reply), -1);  // the printer refuses 'Z'
    EXPECT_EQ(reply.command, 0x15);
    ASSERT_EQ(traces.size(), 1u);
    // The number is the Windows constant for a bad command, with its Windows
    // text on every platform.
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              linktest::TraceLine("CPrinterIO::SendRecv", "NAK応答（送信コード=[Z] 受信コード=[15]）",
                                  kErrorBadCommand));
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);  // a protocol failure is not recorded
}

TEST_F(UsbTransferTest, ReadFailureAfterAWriteFailureKeepsTheWritesRecord) {
    sim::Scenario s;
    s.faults.push_back(At(1, sim::FaultAction::kDrop));
    Start(s);
    const uint8_t frame[6] = {0x1C, 'A', 0, 0, 0, 0};
    EXPECT_EQ(g_printerIO.Send(frame, 6), 6);  // the printer drops the link on receipt
    rig->usb.SetFailureCode(31);
    EXPECT_EQ(g_printerIO.Send(frame, 6), -1);
    rig->usb.SetFailureCode(5);
    uint8_t header[6];
    EXPECT_EQ(g_printerIO.Recv(header, 6), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbWrite);
    EXPECT_EQ(g_printerIO.m_errorDetail, 31u);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), TraceLine("CPrinterIO::Send", "WriteFile", 31));
    EXPECT_EQ(WithoutLineNumber(traces[1]), TraceLine("CPrinterIO::Recv", "ReadFile", 5));
}

TEST_F(UsbTransferTest, PrinterThatDropsTheLinkFailsTheExchangeCleanly) {
    sim::Scenario s;
    s.faults.push_back(At(2, sim::FaultAction::kDrop));
    Start(s);
    CommandBlock reply;
    ASSERT_EQ(Exchange('Y', 51, 51, &reply), 51);
    EXPECT_EQ(Exchange('Y', 51, 51, &reply), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, 5u);  // EIO from the dead device
    EXPECT_EQ(TracesWith("ReadFile").size(), 1u);
    EXPECT_EQ(traces.size(), 1u);
    // The link stays open as a kind; closing it gives the handle back.
    g_printerIO.Close();
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

TEST_F(UsbTransferTest, SilentPrinterFailsAfterTheReadLimitInVirtualTime) {
    sim::Scenario s;
    s.faults.push_back(At(1, sim::FaultAction::kSilent));
    Start(s);
    const uint32_t before = rig->clock.TickCount();
    CommandBlock reply;
    EXPECT_EQ(Exchange('Y', 51, 51, &reply), -1);
    EXPECT_GE(rig->clock.TickCount() - before, platform::kUsbReadTimeoutMs);
    EXPECT_LT(rig->clock.TickCount() - before, 2 * platform::kUsbReadTimeoutMs);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, 110u);  // timed out
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), TraceLine("CPrinterIO::Recv", "ReadFile", 110));
}

TEST_F(UsbTransferTest, BadArgumentsFailWithoutTraffic) {
    Start();
    CommandBlock request{0x1C, 'Y', 51, nullptr};
    uint8_t b[4];
    CommandBlock reply{0, 0, 0, b};
    EXPECT_EQ(g_printerIO.SendRecv(&request, -1, &reply, 4), -1);
    EXPECT_EQ(g_printerIO.SendRecv(&request, 3, &reply, 4), -1);  // payload without data
    EXPECT_EQ(g_printerIO.SendRecv(nullptr, 0, &reply, 4), -1);
    EXPECT_EQ(g_printerIO.SendRecv(&request, 0, nullptr, 4), -1);
    EXPECT_EQ(rig->printer.stats().framesReceived, 0u);
}

TEST_F(UsbTransferTest, LargePayloadLeavesInOneFrame) {
    Start();
    // FS K takes up to 64 bytes of network settings.
    std::vector<uint8_t> settings(64);
    for (size_t i = 0; i < settings.size(); ++i) settings[i] = static_cast<uint8_t>(0xA0 + i);
    CommandBlock request{0x1C, 'K', 64, settings.data()};
    CommandBlock reply{0, 0, 0, nullptr};
    EXPECT_EQ(g_printerIO.SendRecv(&request, 64, &reply, 0), 0);
    ASSERT_EQ(rig->printer.frames().size(), 1u);
    EXPECT_EQ(rig->printer.frames()[0].payload, settings);
}

TEST_F(UsbTransferTest, ImagePlaneOfTwoAndAHalfMegabytesGoesInOneSend) {
    Start();
    // FS P ESC J: 2 + 24 bytes of plane header, then 2,048 x 1,300 bytes.
    constexpr int32_t kPayload = 2662426;
    std::vector<uint8_t> payload(kPayload);
    payload[0] = 0x1B;
    payload[1] = 'J';
    for (size_t i = 26; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> frame = {0x1C, 'P', 0, 0, 0, 0};
    PutBE32(frame.data() + 2, kPayload);
    EXPECT_EQ(g_printerIO.Send(frame.data(), 6), 6);
    EXPECT_EQ(g_printerIO.Send(payload.data(), kPayload), kPayload);
    uint8_t header[6] = {};
    EXPECT_EQ(g_printerIO.Recv(header, 6), 6);
    EXPECT_EQ(header[1], 'P');
    ASSERT_EQ(rig->printer.frames().size(), 1u);
    EXPECT_EQ(rig->printer.frames()[0].parameter, static_cast<uint32_t>(kPayload));
    EXPECT_FALSE(rig->printer.frames()[0].refused);
    EXPECT_EQ(rig->printer.stats().planesReceived, 1u);
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

}  // namespace
