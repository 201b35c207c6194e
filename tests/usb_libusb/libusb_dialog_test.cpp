// The whole workflow through libusb against the virtual printer under
// umockdev, in this process and in virtual time: identification, an update
// during which the printer restarts and comes back at a new address, and a
// printer unplugged in the middle of the transfer.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "tests/app/app_fixture.h"
#include "tests/usb_libusb/bridge_clock.h"
#include "tests/usb_libusb/preload_launcher.h"
#include "tests/usb_libusb/usb_bridge.h"

namespace {

using apptest::BoxText;
using apptest::InternalError;
using usbtest::CBridgeClock;
using usbtest::CUsbBridge;

class LibusbDialogTest : public apptest::AppTest {
protected:
    void SetUp() override {
        SKIP_WITHOUT_UMOCKDEV();
        AppTest::SetUp();
    }
    void TearDown() override {
        AppTest::TearDown();  // closes the link before the bus goes
        scoped.reset();
        clock.reset();
        bridge.reset();
    }
    // The printer on the bus, then the dialog with Firmware Update pressed.
    int PressUpdateOnBus(const sim::Scenario& scenario, std::initializer_list<int> answers) {
        bridge = std::make_unique<CUsbBridge>(scenario);
        clock = std::make_unique<CBridgeClock>(*bridge);
        scoped = std::make_unique<platform::ScopedClock>(*clock);
        window.messages = {platform::CommandMessage(kIdcUpdate)};
        window.answers.assign(answers.begin(), answers.end());
        const auto start = std::chrono::steady_clock::now();
        const int result = Run();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return result;
    }

    std::unique_ptr<CUsbBridge> bridge;
    std::unique_ptr<CBridgeClock> clock;
    std::unique_ptr<platform::ScopedClock> scoped;
    double seconds = 0;
};

TEST_F(LibusbDialogTest, UpdateThroughLibusbReconnectsAfterTheRestartAndEndsWith117) {
    sim::Scenario s;
    s.restartDelayMs = 1500;
    EXPECT_EQ(PressUpdateOnBus(s, {platform::kIdOk}), platform::kIdOk);
    EXPECT_EQ(dlg.GetDlgItemText(kIdcMessage), BoxText(kIdsUpdating));
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, BoxText(kIdsUpdateDone));
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdated);
    // Identified at the first address, found again after the restart at
    // the next one.
    EXPECT_EQ(bridge->Plugs(), 2u);
    EXPECT_EQ(bridge->DevNode(), "/dev/bus/usb/001/003");
    bridge->WithPrinter([](const sim::VirtualPrinter& p) {
        EXPECT_EQ(p.version(), "1.3 ");
        EXPECT_EQ(p.stats().restarts, 1u);
        EXPECT_GT(p.stats().blocksWritten, 0u);
    });
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

// The cable comes out during the transfer (the printer drops off the bus
// at its 20th block and does not come back): the update fails with the
// device's own error in the internal-error code, and nothing waits for
// the read limit.
TEST_F(LibusbDialogTest, PrinterLostMidTransferEndsWith118AtOnce) {
    sim::Scenario s;
    s.dropReturnMs = 0;
    sim::Fault drop;
    drop.introducer = 0x1D;
    drop.letter = 'R';
    drop.occurrence = 20;
    drop.action = sim::FaultAction::kDrop;
    s.faults.push_back(drop);
    EXPECT_EQ(PressUpdateOnBus(s, {platform::kIdOk}), platform::kIdOk);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    const uint8_t category = g_printerIO.m_errorCategory;
    EXPECT_TRUE(category == kErrUsbWrite || category == kErrUsbRead) << int(category);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ENODEV));
    EXPECT_EQ(boxes[0].text, InternalError(category, ENODEV));
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kUpdateFailed);
    EXPECT_LT(seconds, 10.0) << "a lost printer must not wait out the 30 s read limit";
}

}  // namespace
