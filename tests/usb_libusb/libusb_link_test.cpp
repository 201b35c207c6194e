// The link through libusb to the virtual printer as a USB device under
// umockdev, in this process: discovery and the way in, exchanges, empty
// packets, a printer that never answers and one that is unplugged.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/usb.h"
#include "tests/link/link_fixture.h"
#include "tests/usb_libusb/bridge_clock.h"
#include "tests/usb_libusb/preload_launcher.h"
#include "tests/usb_libusb/usb_bridge.h"

namespace {

using linktest::WithoutLineNumber;
using usbtest::CBridgeClock;
using usbtest::CUsbBridge;

sim::Fault Silent(uint8_t introducer, uint8_t letter) {
    sim::Fault f;
    f.introducer = introducer;
    f.letter = letter;
    f.action = sim::FaultAction::kSilent;
    return f;
}

class LibusbLinkTest : public linktest::LinkTest {
protected:
    void SetUp() override {
        SKIP_WITHOUT_UMOCKDEV();
        LinkTest::SetUp();
    }
    void TearDown() override {
        LinkTest::TearDown();  // closes the device before the bus goes
        scoped.reset();
        clock.reset();
        bridge.reset();
    }
    void Start(sim::Scenario scenario = sim::Scenario()) {
        bridge = std::make_unique<CUsbBridge>(std::move(scenario));
        clock = std::make_unique<CBridgeClock>(*bridge);
        scoped = std::make_unique<platform::ScopedClock>(*clock);
    }
    // FS Y: the system information, 51 bytes.
    int32_t SystemInfo(std::vector<uint8_t>* info) {
        info->assign(51, 0);
        CommandBlock request{0x1C, 'Y', 51, nullptr};
        CommandBlock reply{0, 0, 0, info->data()};
        return g_printerIO.SendRecv(&request, 0, &reply, 51);
    }
    static double SecondsSince(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    }

    std::unique_ptr<CUsbBridge> bridge;
    std::unique_ptr<CBridgeClock> clock;
    std::unique_ptr<platform::ScopedClock> scoped;
};

TEST_F(LibusbLinkTest, PrinterWithoutNodeIsListedAndOpenedThroughLibusb) {
    Start();
    std::vector<platform::UsbPrinterListing> printers;
    unsigned long error = 0;
    ASSERT_TRUE(platform::ListUsbPrinters(0x5B7D, 0x0023, &printers, &error));
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].instanceId, "USB\\VID_5B7D&PID_0023\\SIM00001");
    EXPECT_EQ(printers[0].location, "1-1");
    EXPECT_EQ(printers[0].serial, "SIM00001");
    EXPECT_EQ(printers[0].wayIn, "libusb");
    EXPECT_EQ(printers[0].path, "/dev/bus/usb/001/002");
    EXPECT_TRUE(printers[0].openable);

    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    std::vector<uint8_t> info;
    ASSERT_EQ(SystemInfo(&info), 51);
    EXPECT_EQ(std::string(info.begin() + 38, info.begin() + 42), "1.2 ");
    EXPECT_EQ(std::string(info.begin() + 42, info.begin() + 50), "ZKQ00001");
    EXPECT_TRUE(traces.empty()) << traces[0];
}

TEST_F(LibusbLinkTest, EmptyPacketsBeforeEveryReplyAreReadThrough) {
    Start();
    bridge->SetEmptyPacketsBeforeReply(3);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    std::vector<uint8_t> info;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(SystemInfo(&info), 51) << "exchange " << k;
        EXPECT_EQ(std::string(info.begin() + 38, info.begin() + 42), "1.2 ");
    }
    EXPECT_TRUE(traces.empty()) << traces[0];
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

TEST_F(LibusbLinkTest, PrinterThatNeverAnswersTimesTheReadOut) {
    sim::Scenario s;
    s.faults.push_back(Silent(0x1C, 'Y'));
    Start(s);
    platform::SetUsbReadTimeoutForTest(300);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> info;
    EXPECT_EQ(SystemInfo(&info), -1);
    EXPECT_GE(SecondsSince(start), 0.25);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ETIMEDOUT));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              "CPrinterIO::Recv() [N] ReadFile -[Connection timed out]\n");
}

// Unplugged while a read waits: the read ends at once with the device gone,
// not after the read limit (which stays at its full 30 s here).
TEST_F(LibusbLinkTest, UnplugDuringAReadEndsItAtOnce) {
    sim::Scenario s;
    s.faults.push_back(Silent(0x1C, 'Y'));
    Start(s);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    std::thread cable([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        bridge->Unplug();
    });
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> info;
    EXPECT_EQ(SystemInfo(&info), -1);
    const double seconds = SecondsSince(start);
    cable.join();
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ENODEV));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), "CPrinterIO::Recv() [N] ReadFile -[No such device]\n");
}

// A stalled endpoint fails the read as a stall, and the host clears the
// halt so that the printer can be used again.
TEST_F(LibusbLinkTest, StalledReadFailsAsAStallAndTheHaltIsCleared) {
    Start();
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    bridge->StallIn();
    std::vector<uint8_t> info;
    EXPECT_EQ(SystemInfo(&info), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(EPIPE));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), "CPrinterIO::Recv() [N] ReadFile -[Broken pipe]\n");
    EXPECT_EQ(bridge->HaltsCleared(), 1u);
    g_printerIO.Close();
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    EXPECT_EQ(SystemInfo(&info), 51);
}

// A printer that takes no more data: the write gives up after its limit
// (shortened here) and fails into the record as a write, traced once;
// nothing is left waiting on the device.
TEST_F(LibusbLinkTest, WriteThatThePrinterNeverTakesTimesOut) {
    Start();
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    bridge->HoldOut();
    platform::SetUsbWriteTimeoutForTest(300);
    const uint8_t frame[6] = {0x1C, 'Y', 0, 0, 0, 51};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(g_printerIO.Send(frame, 6), -1);
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 0.25);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbWrite);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ETIMEDOUT));
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              "CPrinterIO::Send() [N] WriteFile -[Connection timed out]\n");
    g_printerIO.Close();
}

TEST_F(LibusbLinkTest, WriteToAnUnpluggedPrinterFailsAsAWrite) {
    Start();
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    bridge->Unplug();
    const uint8_t frame[6] = {0x1C, 'Y', 0, 0, 0, 51};
    EXPECT_EQ(g_printerIO.Send(frame, 6), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbWrite);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ENODEV));
    g_printerIO.Close();

    // Unplugged, the printer is not found at all; plugged in again, it is
    // found at its new address.
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    bridge->Plug();
    EXPECT_EQ(bridge->DevNode(), "/dev/bus/usb/001/003");
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    std::vector<uint8_t> info;
    EXPECT_EQ(SystemInfo(&info), 51);
}

}  // namespace
