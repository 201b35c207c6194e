// USB reads that complete with no data (zero-length packets): the printer
// is still there, so the read goes on within its time limit; only a printer
// that is gone, or the limit running out, fails it.
#include <algorithm>
#include <cerrno>
#include <deque>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/usb.h"
#include "tests/link/link_fixture.h"

namespace {

using linktest::LinkTest;
using linktest::WithoutLineNumber;

// What one read call of the device does, and how long it takes.
struct ReadStep {
    enum Kind { kData, kEmpty, kFail } kind;
    uint32_t ms;               // virtual time the call takes
    std::string data;          // kData: the bytes it brings
    unsigned long error = 0;   // kFail: the system error
};

ReadStep Data(std::string bytes, uint32_t ms = 1) { return {ReadStep::kData, ms, std::move(bytes)}; }
ReadStep Empty(uint32_t ms) { return {ReadStep::kEmpty, ms, ""}; }
ReadStep Fail(unsigned long error, uint32_t ms = 1) { return {ReadStep::kFail, ms, "", error}; }

// One device whose reads follow a script; after the script, every read is
// an empty one of 1 s (a printer that sends nothing but empty packets).
class ScriptedReads : public platform::UsbBackend {
public:
    explicit ScriptedReads(platform::VirtualClock& clock) : m_clock(clock) {}

    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long*) override {
        platform::UsbMember m;
        m.instanceId = "USB\\VID_5B7D&PID_0023\\Z1";
        m.path = "z1";
        *members = {m};
        return true;
    }
    bool Open(const std::string&, platform::DeviceHandle* handle, unsigned long*) override {
        *handle = 3;
        return true;
    }
    bool Write(platform::DeviceHandle, const void*, uint32_t n, uint32_t* done,
               unsigned long*) override {
        *done = n;
        return true;
    }
    bool Read(platform::DeviceHandle, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        ++reads;
        const ReadStep step = script.empty() ? Empty(1000) : script.front();
        if (!script.empty()) script.pop_front();
        m_clock.Advance(step.ms);
        *done = 0;
        switch (step.kind) {
            case ReadStep::kData:
                *done = static_cast<uint32_t>(std::min<size_t>(n, step.data.size()));
                std::copy_n(step.data.begin(), *done, static_cast<char*>(data));
                return true;
            case ReadStep::kEmpty:
                return true;
            case ReadStep::kFail:
                *error = step.error;
                return false;
        }
        return false;
    }
    void Close(platform::DeviceHandle) override {}

    std::deque<ReadStep> script;
    int reads = 0;

private:
    platform::VirtualClock& m_clock;
};

struct EmptyReadCase {
    const char* name;
    std::vector<ReadStep> script;
    int32_t result;           // of a 6-byte Recv
    std::string received;     // when it succeeds
    unsigned long recorded;   // the read's record detail (and traced number), 0 for none
    uint32_t maxElapsedMs;    // virtual time the read may take at most
};

void PrintTo(const EmptyReadCase& c, std::ostream* os) { *os << c.name; }

class EmptyReadTest : public LinkTest, public ::testing::WithParamInterface<EmptyReadCase> {};

TEST_P(EmptyReadTest, EmptyPacketsDoNotEndTheRead) {
    platform::VirtualClock clock;
    platform::ScopedClock scoped(clock);
    ScriptedReads device(clock);
    device.script.assign(GetParam().script.begin(), GetParam().script.end());
    platform::SetUsbBackend(&device);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);

    const uint32_t start = clock.TickCount();
    char buffer[6] = {};
    EXPECT_EQ(g_printerIO.Recv(buffer, 6), GetParam().result);
    EXPECT_LE(clock.TickCount() - start, GetParam().maxElapsedMs);
    if (GetParam().result == 6) {
        EXPECT_EQ(std::string(buffer, 6), GetParam().received);
    }
    if (GetParam().recorded != 0) {
        EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
        EXPECT_EQ(g_printerIO.m_errorDetail, GetParam().recorded);
    } else {
        EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    }
    if (GetParam().recorded != 0) {
        ASSERT_EQ(traces.size(), 1u);
        EXPECT_EQ(WithoutLineNumber(traces[0]),
                  linktest::TraceLine("CPrinterIO::Recv", "ReadFile", GetParam().recorded));
    } else {
        EXPECT_TRUE(traces.empty()) << traces[0];
    }
    g_printerIO.Close();
    platform::SetUsbBackend(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, EmptyReadTest,
    ::testing::Values(
        // Empty packets between and before the pieces of a reply.
        EmptyReadCase{"EmptyPacketsThenData",
                      {Empty(5), Empty(5), Data("ab"), Empty(5), Data("cdef")},
                      6,
                      "abcdef",
                      0,
                      100},
        // Data resets the limit: empty packets for 20 s, a byte, 20 s more.
        EmptyReadCase{"DataRestartsTheLimit",
                      {Empty(20000), Data("abc"), Empty(20000), Data("def")},
                      6,
                      "abcdef",
                      0,
                      41000},
        // Nothing but empty packets: the read fails once 30 s have passed
        // since it began waiting, as a time-out of the read.
        EmptyReadCase{"OnlyEmptyPacketsTimeOut",
                      {},
                      -1,
                      "",
                      platform::UsbTimeoutError(),
                      31000},
        // A printer that is gone after an empty packet fails the read at
        // once: no waiting out the limit.
        EmptyReadCase{"GoneAfterAnEmptyPacketFailsAtOnce",
                      {Empty(2), Fail(ENODEV)},
                      -1,
                      "",
                      ENODEV,
                      10}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that moves nothing still makes no progress and fails: only reads
// may come back empty.
TEST_F(LinkTest, WriteThatMovesNothingStillFails) {
    class NoWrites : public platform::UsbBackend {
    public:
        bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long*) override {
            platform::UsbMember m;
            m.instanceId = "USB\\VID_5B7D&PID_0023\\Z1";
            m.path = "z1";
            *members = {m};
            return true;
        }
        bool Open(const std::string&, platform::DeviceHandle* h, unsigned long*) override {
            *h = 3;
            return true;
        }
        bool Write(platform::DeviceHandle, const void*, uint32_t, uint32_t* done,
                   unsigned long*) override {
            *done = 0;
            return true;
        }
        bool Read(platform::DeviceHandle, void*, uint32_t, uint32_t*, unsigned long*) override {
            return false;
        }
        void Close(platform::DeviceHandle) override {}
    } device;
    platform::SetUsbBackend(&device);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    const char frame[6] = {0x1C, 'Y', 0, 0, 0, 51};
    EXPECT_EQ(g_printerIO.Send(frame, 6), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbWrite);
    EXPECT_EQ(g_printerIO.m_errorDetail, 1167u);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              linktest::TraceLine("CPrinterIO::Send", "WriteFile", kErrorDeviceNotConnected));
    g_printerIO.Close();
    platform::SetUsbBackend(nullptr);
}

}  // namespace
