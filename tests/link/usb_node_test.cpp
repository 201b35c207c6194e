// The Linux backend's device-node way in, on a pseudo-terminal that the
// test holds as the printer's side of /dev/usb/lpN: a printer that stops
// taking data fails the write after its wait instead of holding the
// updater for ever, and one that goes away while a write waits ends it at
// once.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class NodeDevice : public ::testing::Test {
protected:
    void SetUp() override {
        m_printer = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_printer, 0) << errno;
        ASSERT_EQ(grantpt(m_printer), 0);
        ASSERT_EQ(unlockpt(m_printer), 0);
        const char* name = ptsname(m_printer);
        ASSERT_NE(name, nullptr);
        unsigned long error = 0;
        ASSERT_TRUE(m_usb.Open(name, &m_handle, &error)) << "error " << error;
    }
    void TearDown() override {
        platform::SetUsbWriteTimeoutForTest(0);
        if (m_handle != platform::kInvalidDevice) m_usb.Close(m_handle);
        HangUp();
    }
    void HangUp() {
        if (m_printer >= 0) close(m_printer);
        m_printer = -1;
    }
    // Writes 1 MiB blocks (far more than the terminal holds) until a write
    // fails or 64 MiB have gone.
    bool WriteUntilFailure(unsigned long* error) {
        const std::vector<char> block(1u << 20, 'R');
        for (int k = 0; k < 64; ++k) {
            uint32_t done = 0;
            if (!m_usb.Write(m_handle, block.data(), static_cast<uint32_t>(block.size()), &done,
                             error))
                return true;
        }
        return false;
    }

    int m_printer = -1;
    platform::UsbBackend& m_usb = platform::GetUsbBackend();
    platform::DeviceHandle m_handle = platform::kInvalidDevice;
};

TEST_F(NodeDevice, BytesMoveBothWays) {
    const std::string frame("\x1c" "T\x00\x00\x00\x00", 6);
    uint32_t done = 0;
    unsigned long error = 0;
    ASSERT_TRUE(m_usb.Write(m_handle, frame.data(), 6, &done, &error)) << error;
    EXPECT_EQ(done, 6u);
    char got[6] = {};
    ASSERT_EQ(read(m_printer, got, sizeof got), 6);
    EXPECT_EQ(std::string(got, 6), frame);

    ASSERT_EQ(write(m_printer, "rq", 2), 2);
    char reply[8] = {};
    ASSERT_TRUE(m_usb.Read(m_handle, reply, sizeof reply, &done, &error)) << error;
    EXPECT_EQ(std::string(reply, done), "rq");
}

TEST_F(NodeDevice, AWriteThatNobodyTakesFailsAfterItsWait) {
    platform::SetUsbWriteTimeoutForTest(300);
    unsigned long error = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(WriteUntilFailure(&error));
    EXPECT_EQ(error, static_cast<unsigned long>(ETIMEDOUT));
    EXPECT_GE(MsSince(start), 250);
    EXPECT_LT(MsSince(start), 10000);

    // The printer takes its bytes again: the device is usable.
    std::vector<char> sink(1u << 16);
    while (read(m_printer, sink.data(), sink.size()) > 0) {
        uint32_t done = 0;
        if (m_usb.Write(m_handle, "x", 1, &done, &error)) break;
    }
    uint32_t done = 0;
    EXPECT_TRUE(m_usb.Write(m_handle, "x", 1, &done, &error)) << error;
}

// Gone while the write waits (the full 30 s limit stays): the write ends
// at once with the device's failure, not with a time-out.
TEST_F(NodeDevice, APrinterThatGoesAwayWhileAWriteWaitsEndsItAtOnce) {
    std::thread cable([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        HangUp();
    });
    unsigned long error = 0;
    const Clock::time_point start = Clock::now();
    const bool failed = WriteUntilFailure(&error);
    const long long waited = MsSince(start);
    cable.join();
    EXPECT_TRUE(failed);
    EXPECT_NE(error, static_cast<unsigned long>(ETIMEDOUT));
    EXPECT_NE(error, 0ul);
    EXPECT_LT(waited, 5000);
}

}  // namespace
