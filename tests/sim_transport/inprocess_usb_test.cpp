// The virtual printer as an in-process USB device on a virtual clock.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/usb.h"
#include "sim/transport/inprocess_usb.h"
#include "tests/sim_transport/frames.h"

namespace {

// What the device reports for a read that timed out: Linux's ETIMEDOUT, on
// every platform (the C library's ETIMEDOUT of mingw-w64 is another number).
constexpr unsigned long kTimedOut = 110;

using simtest::Frame;
using simtest::FsY;

sim::Scenario WithFault(sim::FaultAction action, uint32_t atFrame) {
    sim::Scenario s;
    sim::Fault f;
    f.atFrame = atFrame;
    f.action = action;
    s.faults.push_back(f);
    return s;
}

class InProcessUsbTest : public ::testing::Test {
protected:
    explicit InProcessUsbTest(sim::Scenario s = sim::Scenario()) : rig(std::move(s)) {}

    platform::DeviceHandle OpenDevice() {
        platform::DeviceHandle h = platform::kInvalidDevice;
        unsigned long error = 0;
        EXPECT_TRUE(rig.usb.Open("sim:lp0", &h, &error)) << error;
        return h;
    }

    bool Write(platform::DeviceHandle h, const std::vector<uint8_t>& bytes,
               unsigned long* error = nullptr) {
        uint32_t done = 0;
        unsigned long e = 0;
        const bool ok = rig.usb.Write(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &done, &e);
        if (error) *error = e;
        if (ok) {
            EXPECT_EQ(done, bytes.size());
        }
        return ok;
    }

    // Reads exactly n bytes in as many calls as it takes (at most n calls).
    bool ReadAll(platform::DeviceHandle h, size_t n, std::vector<uint8_t>* out,
                 unsigned long* error = nullptr, int* calls = nullptr) {
        out->assign(n, 0);
        size_t got = 0;
        int c = 0;
        while (got < n && c < static_cast<int>(n)) {
            uint32_t done = 0;
            unsigned long e = 0;
            ++c;
            if (!rig.usb.Read(h, out->data() + got, static_cast<uint32_t>(n - got), &done, &e)) {
                if (error) *error = e;
                if (calls) *calls = c;
                return false;
            }
            got += done;
        }
        if (calls) *calls = c;
        return got == n;
    }

    // One FS Y exchange; returns the 51 data bytes (empty on failure).
    std::vector<uint8_t> SystemInfo(platform::DeviceHandle h) {
        std::vector<uint8_t> header, data;
        if (!Write(h, FsY()) || !ReadAll(h, 6, &header)) return {};
        EXPECT_EQ(header[1], 'Y');
        EXPECT_EQ(simtest::BigEndian32(&header[2]), 51u);
        if (!ReadAll(h, 51, &data)) return {};
        return data;
    }

    // Maintenance run started and the printer ready in mode 2.
    void EnterMaintenance(platform::DeviceHandle h) {
        std::vector<uint8_t> reply;
        ASSERT_TRUE(Write(h, Frame(0x1D, 'A', 0)));
        ASSERT_TRUE(ReadAll(h, 6, &reply));
        ASSERT_NE(reply[1], 0x15) << "GS A refused";
        ASSERT_EQ(simtest::BigEndian32(&reply[2]), 0u);
        for (int poll = 0; poll < 50; ++poll) {
            ASSERT_TRUE(Write(h, Frame(0x1D, 'E', 2)));
            ASSERT_TRUE(ReadAll(h, 8, &reply));
            if (reply[6] == sim::kModeMaintenance && reply[7] == sim::kConditionReady) return;
        }
        FAIL() << "the printer never became ready in maintenance mode";
    }

    std::vector<platform::UsbMember> List() {
        std::vector<platform::UsbMember> members;
        unsigned long error = 0;
        EXPECT_TRUE(rig.usb.ListDevices(&members, &error));
        return members;
    }

    sim::InProcessRig rig;
};

TEST_F(InProcessUsbTest, RigInstallsClockAndBackendForItsLifetime) {
    EXPECT_EQ(&platform::GetClock(), &rig.clock);
    EXPECT_EQ(&platform::GetUsbBackend(), &rig.usb);
    rig.clock.Advance(1234);
    EXPECT_EQ(platform::TickCount(), rig.clock.TickCount());
}

TEST(InProcessRigLifetime, DestructorRestoresTheRealClockAndBackend) {
    platform::UsbBackend* installed = nullptr;
    platform::Clock* clock = nullptr;
    {
        sim::InProcessRig rig;
        installed = &platform::GetUsbBackend();
        clock = &platform::GetClock();
        EXPECT_EQ(installed, &rig.usb);
    }
    EXPECT_NE(&platform::GetUsbBackend(), installed);
    EXPECT_NE(&platform::GetClock(), clock);
}

TEST_F(InProcessUsbTest, ListsOneDeviceAndHidesItWhenUnplugged) {
    auto members = List();
    ASSERT_EQ(members.size(), 1u);
    EXPECT_TRUE(members[0].idReadable);
    EXPECT_EQ(members[0].instanceId, "USB\\VID_5B7D&PID_0023\\SIM00001");
    EXPECT_EQ(members[0].path, "sim:lp0");

    rig.usb.SetPresent(false);
    EXPECT_TRUE(List().empty());
    platform::DeviceHandle h = 7;
    unsigned long error = 0;
    EXPECT_FALSE(rig.usb.Open("sim:lp0", &h, &error));
    EXPECT_EQ(h, platform::kInvalidDevice);
    EXPECT_EQ(error, static_cast<unsigned long>(ENOENT));

    rig.usb.SetPresent(true);
    EXPECT_EQ(List().size(), 1u);
}

TEST_F(InProcessUsbTest, OpenRefusesOtherPaths) {
    platform::DeviceHandle h;
    unsigned long error = 0;
    EXPECT_FALSE(rig.usb.Open("sim:lp1", &h, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(ENOENT));
    EXPECT_EQ(rig.usb.opens(), 0u);
}

TEST_F(InProcessUsbTest, SystemInformationExchangeCarriesVersionAndIdentifier) {
    const auto h = OpenDevice();
    const auto info = SystemInfo(h);
    ASSERT_EQ(info.size(), 51u);
    EXPECT_EQ(simtest::Text(info, 38, 4), "1.2 ");
    EXPECT_EQ(simtest::Text(info, 42, 8), "ZKQ00001");
    ASSERT_EQ(rig.printer.frames().size(), 1u);
    EXPECT_EQ(rig.printer.frames()[0].letter, 'Y');
    EXPECT_EQ(rig.printer.frames()[0].parameter, 51u);
}

TEST_F(InProcessUsbTest, ReadsReturnWhatIsPendingUpToTheAskedCount) {
    const auto h = OpenDevice();
    ASSERT_TRUE(Write(h, FsY()));
    uint8_t buf[100];
    uint32_t done = 0;
    unsigned long error = 0;
    ASSERT_TRUE(rig.usb.Read(h, buf, 4, &done, &error));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(buf[1], 'Y');
    ASSERT_TRUE(rig.usb.Read(h, buf, sizeof buf, &done, &error));
    EXPECT_EQ(done, 2u + 51u);  // the rest of the header and the data
}

TEST_F(InProcessUsbTest, EachTransferCallChargesItsCostToTheClock) {
    const auto h = OpenDevice();
    const uint32_t t0 = rig.clock.TickCount();
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Write(h, FsY()));
    ASSERT_TRUE(ReadAll(h, 57, &reply));
    EXPECT_EQ(rig.clock.TickCount() - t0, 2u);  // default: 1 ms per call

    rig.usb.SetCostPerCall(7);
    const uint32_t t1 = rig.clock.TickCount();
    ASSERT_TRUE(Write(h, FsY()));
    ASSERT_TRUE(ReadAll(h, 57, &reply));
    EXPECT_EQ(rig.clock.TickCount() - t1, 14u);
}

TEST_F(InProcessUsbTest, HandlesAreCountedAndClosedHandlesRefused) {
    const auto h1 = OpenDevice();
    const auto h2 = OpenDevice();
    EXPECT_NE(h1, h2);
    EXPECT_EQ(rig.usb.openHandles(), 2);
    rig.usb.Close(h1);
    rig.usb.Close(h1);  // a second close of the same handle changes nothing
    EXPECT_EQ(rig.usb.openHandles(), 1);
    EXPECT_EQ(rig.usb.opens(), 2u);
    EXPECT_EQ(rig.usb.closes(), 1u);
    unsigned long error = 0;
    EXPECT_FALSE(Write(h1, FsY(), &error));
    EXPECT_EQ(error, static_cast<unsigned long>(EBADF));
    EXPECT_EQ(rig.printer.stats().framesReceived, 0u);
}

TEST_F(InProcessUsbTest, ReadWithoutARequestTimesOutInVirtualTime) {
    const auto h = OpenDevice();
    const uint32_t t0 = rig.clock.TickCount();
    uint8_t b[6];
    uint32_t done = 99;
    unsigned long error = 0;
    EXPECT_FALSE(rig.usb.Read(h, b, sizeof b, &done, &error));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(error, kTimedOut);
    EXPECT_GE(rig.clock.TickCount() - t0, platform::kUsbReadTimeoutMs);
}

class SilentPrinterTest : public InProcessUsbTest {
protected:
    SilentPrinterTest() : InProcessUsbTest(WithFault(sim::FaultAction::kSilent, 2)) {}
};

TEST_F(SilentPrinterTest, ReadsTimeOutAfterThirtyVirtualSeconds) {
    const auto h = OpenDevice();
    ASSERT_EQ(SystemInfo(h).size(), 51u);  // frame 1 is answered
    ASSERT_TRUE(Write(h, FsY()));          // frame 2 silences the printer
    EXPECT_TRUE(rig.printer.Silent());
    const uint32_t t0 = rig.clock.TickCount();
    uint8_t b[6];
    uint32_t done = 0;
    unsigned long error = 0;
    EXPECT_FALSE(rig.usb.Read(h, b, sizeof b, &done, &error));
    EXPECT_EQ(error, kTimedOut);
    const uint32_t spent = rig.clock.TickCount() - t0;
    EXPECT_GE(spent, platform::kUsbReadTimeoutMs);
    EXPECT_LE(spent, platform::kUsbReadTimeoutMs + 10);
    // The device stays present and writable: only the answers are missing.
    EXPECT_EQ(List().size(), 1u);
    EXPECT_TRUE(Write(h, FsY()));
}

class DroppedLinkTest : public InProcessUsbTest {
protected:
    static sim::Scenario Make() {
        sim::Scenario s = WithFault(sim::FaultAction::kDrop, 2);
        s.dropReturnMs = 5000;
        return s;
    }
    DroppedLinkTest() : InProcessUsbTest(Make()) {}
};

TEST_F(DroppedLinkTest, TransfersFailWithTheFailureCodeUntilANewHandleAfterTheReturn) {
    const auto h = OpenDevice();
    ASSERT_EQ(SystemInfo(h).size(), 51u);
    ASSERT_TRUE(Write(h, FsY()));  // frame 2 drops the link
    ASSERT_FALSE(rig.printer.LinkUp());

    std::vector<uint8_t> reply;
    unsigned long error = 0;
    EXPECT_FALSE(ReadAll(h, 6, &reply, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(EIO));
    rig.usb.SetFailureCode(31);
    EXPECT_FALSE(Write(h, FsY(), &error));
    EXPECT_EQ(error, 31u);
    EXPECT_TRUE(List().empty());

    // Back after dropReturnMs of virtual time, as a new device.
    rig.clock.Sleep(5000);
    ASSERT_EQ(List().size(), 1u);
    EXPECT_FALSE(ReadAll(h, 6, &reply, &error)) << "the old handle belongs to the dropped link";
    EXPECT_EQ(error, 31u);
    rig.usb.Close(h);
    const auto h2 = OpenDevice();
    const auto info = SystemInfo(h2);
    ASSERT_EQ(info.size(), 51u);
    EXPECT_EQ(simtest::Text(info, 42, 8), "ZKQ00001");
}

class RestartTest : public InProcessUsbTest {
protected:
    static sim::Scenario Make() {
        sim::Scenario s;
        s.restartDelayMs = 15000;
        return s;
    }
    RestartTest() : InProcessUsbTest(Make()) {}
};

TEST_F(RestartTest, CancelledRunRestartsThePrinterWhichReturnsAfterTheDelay) {
    const auto h = OpenDevice();
    EnterMaintenance(h);
    std::vector<uint8_t> reply;
    ASSERT_TRUE(Write(h, Frame(0x1D, 'C', 0)));
    ASSERT_TRUE(ReadAll(h, 6, &reply));
    EXPECT_NE(reply[1], 0x15);

    // The printer goes off the link once its answer is out.
    EXPECT_TRUE(List().empty());
    unsigned long error = 0;
    EXPECT_FALSE(Write(h, FsY(), &error));
    EXPECT_EQ(error, static_cast<unsigned long>(EIO));
    rig.usb.Close(h);

    rig.clock.Sleep(14000);
    EXPECT_TRUE(List().empty());
    platform::DeviceHandle dead;
    EXPECT_FALSE(rig.usb.Open("sim:lp0", &dead, &error));
    rig.clock.Sleep(1000);
    ASSERT_EQ(List().size(), 1u);
    EXPECT_EQ(rig.printer.stats().restarts, 1u);

    const auto h2 = OpenDevice();
    EXPECT_EQ(SystemInfo(h2).size(), 51u);
}

class PiecesTest : public InProcessUsbTest {
protected:
    static sim::Scenario Make() {
        sim::Scenario s = WithFault(sim::FaultAction::kPieces, 1);
        s.faults[0].pieceSize = 5;
        return s;
    }
    PiecesTest() : InProcessUsbTest(Make()) {}
};

TEST_F(PiecesTest, ReplyArrivesInPiecesButWhole) {
    const auto h = OpenDevice();
    ASSERT_TRUE(Write(h, FsY()));
    std::vector<uint8_t> reply;
    int calls = 0;
    ASSERT_TRUE(ReadAll(h, 57, &reply, nullptr, &calls));
    EXPECT_EQ(calls, 12);  // 57 bytes in pieces of at most 5
    EXPECT_EQ(reply[1], 'Y');
    EXPECT_EQ(simtest::Text(reply, 6 + 42, 8), "ZKQ00001");
}

}  // namespace
