// The Windows USB backend: SetupAPI discovery, and the device I/O on a
// device path. There is no USB under wine, so the device is a named pipe
// that the test serves: its bytes move both ways, a read whose data never
// comes and a write that nobody takes must both fail after their waits.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/trace_sink.h"
#include "platform/usb.h"
#include "tests/win32/win32_test_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

// The test's side of a device path: a named pipe server.
class PipeDevice {
public:
    explicit PipeDevice(DWORD bufferBytes = 4096) {
        static unsigned counter = 0;
        m_name = L"\\\\.\\pipe\\quillon-usb-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++counter);
        m_server = ::CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX,
                                      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                      bufferBytes, bufferBytes, 0, nullptr);
    }
    ~PipeDevice() {
        if (m_server != INVALID_HANDLE_VALUE) ::CloseHandle(m_server);
    }
    bool IsOpen() const { return m_server != INVALID_HANDLE_VALUE; }
    std::string path() const { return Utf8Text(m_name); }
    // After the client opened the path.
    bool Accept() {
        return ::ConnectNamedPipe(m_server, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
    }
    bool Send(const std::string& bytes) {
        DWORD n = 0;
        return ::WriteFile(m_server, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
               n == bytes.size();
    }
    std::string Take(size_t count) {
        std::string got(count, '\0');
        size_t have = 0;
        while (have < count) {
            DWORD n = 0;
            if (!::ReadFile(m_server, got.data() + have, static_cast<DWORD>(count - have), &n,
                            nullptr) ||
                n == 0)
                break;
            have += n;
        }
        got.resize(have);
        return got;
    }

private:
    std::wstring m_name;
    HANDLE m_server = INVALID_HANDLE_VALUE;
};

// Shortens both waits for a test and restores them.
class ShortWaits {
public:
    explicit ShortWaits(uint32_t ms) {
        platform::SetUsbReadTimeoutForTest(ms);
        platform::SetUsbWriteTimeoutForTest(ms);
    }
    ~ShortWaits() {
        platform::SetUsbReadTimeoutForTest(0);
        platform::SetUsbWriteTimeoutForTest(0);
    }
};

class WindowsUsbDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pipe.IsOpen());
        unsigned long error = 0;
        ASSERT_TRUE(m_usb.Open(m_pipe.path(), &m_handle, &error)) << "error " << error;
        ASSERT_TRUE(m_pipe.Accept());
    }
    void TearDown() override {
        if (m_handle != platform::kInvalidDevice) m_usb.Close(m_handle);
    }
    // Reads exactly n bytes through the backend (one call may bring part).
    std::string ReadAll(size_t n) {
        std::string got(n, '\0');
        size_t have = 0;
        while (have < n) {
            uint32_t done = 0;
            unsigned long error = 0;
            if (!m_usb.Read(m_handle, got.data() + have, static_cast<uint32_t>(n - have), &done,
                            &error))
                break;
            have += done;
        }
        got.resize(have);
        return got;
    }

    PipeDevice m_pipe;
    platform::UsbBackend& m_usb = platform::GetUsbBackend();
    platform::DeviceHandle m_handle = platform::kInvalidDevice;
};

TEST_F(WindowsUsbDevice, BytesMoveBothWays) {
    ASSERT_TRUE(
        m_pipe.Send(std::string("\x1d"
                                "E\x00\x00\x00\x02"
                                "rq",
                                8)));
    EXPECT_EQ(ReadAll(8), std::string("\x1d"
                                      "E\x00\x00\x00\x02"
                                      "rq",
                                      8));
    const std::string frame(
        "\x1c"
        "T\x00\x00\x00\x00",
        6);
    uint32_t done = 0;
    unsigned long error = 0;
    ASSERT_TRUE(m_usb.Write(m_handle, frame.data(), 6, &done, &error)) << error;
    EXPECT_EQ(done, 6u);
    EXPECT_EQ(m_pipe.Take(6), frame);
}

TEST_F(WindowsUsbDevice, AReadWhoseDataNeverComesFailsAfterItsWaitAndTheDeviceGoesOn) {
    ShortWaits waits(300);
    char buffer[16];
    uint32_t done = 0;
    unsigned long error = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(m_usb.Read(m_handle, buffer, sizeof buffer, &done, &error));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_TIMEOUT));
    EXPECT_GE(waited.count(), 250);
    EXPECT_LT(waited.count(), 5000);
    // The given-up read took nothing away: later bytes arrive whole.
    ASSERT_TRUE(m_pipe.Send("after"));
    EXPECT_EQ(ReadAll(5), "after");
}

TEST_F(WindowsUsbDevice, AWriteThatNobodyTakesFailsAfterItsWait) {
    ShortWaits waits(300);
    // Far more than the pipe holds, and the test never reads.
    const std::vector<char> block(1u << 20, 'R');
    unsigned long error = 0;
    bool failed = false;
    const Clock::time_point start = Clock::now();
    for (int k = 0; k < 64 && !failed; ++k) {
        uint32_t done = 0;
        failed = !m_usb.Write(m_handle, block.data(), static_cast<uint32_t>(block.size()), &done,
                              &error);
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_TRUE(failed);
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_TIMEOUT));
    EXPECT_LT(waited.count(), 10000);
}

TEST(WindowsUsbOpen, AMissingPathFailsWithTheSystemsCode) {
    platform::DeviceHandle h = platform::kInvalidDevice;
    unsigned long error = 0;
    EXPECT_FALSE(
        platform::GetUsbBackend().Open("\\\\.\\pipe\\quillon-nobody-serves-this", &h, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(h, platform::kInvalidDevice);
}

TEST(WindowsUsbDiscovery, NoDevicesGiveAnEmptySetAndNoLink) {
    std::vector<platform::UsbMember> members;
    unsigned long error = 0;
    ASSERT_TRUE(platform::GetUsbBackend().ListDevices(&members, &error)) << "error " << error;
    EXPECT_TRUE(members.empty());

    std::vector<std::string> lines;
    platform::SetTraceObserver([&](std::string_view line) { lines.emplace_back(line); }, true);
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    platform::SetTraceObserver(nullptr);
    // No printer is no failure of the device search: no trace, no record.
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    EXPECT_EQ(g_printerIO.m_linkKind, 0);

    std::vector<platform::UsbPrinterListing> printers;
    EXPECT_TRUE(platform::ListUsbPrinters(0x5B7D, 0x0023, &printers, &error));
    EXPECT_TRUE(printers.empty());
}

// The link on the Windows device I/O: the device set lists the pipe as the
// printer, everything else is the platform's own backend.
class PipeListedAsPrinter : public platform::UsbBackend {
public:
    explicit PipeListedAsPrinter(std::string path)
        : m_path(std::move(path)), m_real(platform::GetUsbBackend()) {
        platform::SetUsbBackend(this);
    }
    ~PipeListedAsPrinter() override {
        if (g_printerIO.m_linkKind == kLinkUsb) g_printerIO.Close();
        platform::SetUsbBackend(nullptr);
    }
    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long*) override {
        platform::UsbMember m;
        m.instanceId = "USB\\VID_5B7D&PID_0023\\PIPE0001";
        m.path = m_path;
        members->assign(1, m);
        return true;
    }
    bool Open(const std::string& path, platform::DeviceHandle* h, unsigned long* e) override {
        return m_real.Open(path, h, e);
    }
    bool Write(platform::DeviceHandle h, const void* d, uint32_t n, uint32_t* done,
               unsigned long* e) override {
        return m_real.Write(h, d, n, done, e);
    }
    bool Read(platform::DeviceHandle h, void* d, uint32_t n, uint32_t* done,
              unsigned long* e) override {
        return m_real.Read(h, d, n, done, e);
    }
    void Close(platform::DeviceHandle h) override { m_real.Close(h); }

private:
    std::string m_path;
    platform::UsbBackend& m_real;
};

struct StalledTransfer {
    const char* name;
    bool sending;
    uint8_t category;
    const char* call;
};

void PrintTo(const StalledTransfer& t, std::ostream* os) { *os << t.name; }

class LinkOnWindowsDevice : public ::testing::TestWithParam<StalledTransfer> {};

TEST_P(LinkOnWindowsDevice, AStalledTransferFailsIntoTheRecordWithOneTraceLine) {
    const StalledTransfer& t = GetParam();
    PipeDevice pipe(4096);
    ASSERT_TRUE(pipe.IsOpen());
    PipeListedAsPrinter listing(pipe.path());
    ShortWaits waits(300);
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    ASSERT_TRUE(pipe.Accept());

    std::vector<std::string> lines;
    platform::SetTraceObserver([&](std::string_view line) { lines.emplace_back(line); }, true);
    std::vector<uint8_t> buffer(4u << 20, 0x52);
    const int32_t r = t.sending
                          ? g_printerIO.Send(buffer.data(), static_cast<int32_t>(buffer.size()))
                          : g_printerIO.Recv(buffer.data(), 6);
    platform::SetTraceObserver(nullptr);

    EXPECT_EQ(r, -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, t.category);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ERROR_TIMEOUT));
    ASSERT_EQ(lines.size(), 1u);
    std::string text;
    ASSERT_TRUE(platform::SystemErrorText(platform::SystemError(ERROR_TIMEOUT), &text));
    EXPECT_NE(
        lines[0].find(std::string(t.sending ? "CPrinterIO::Send() [" : "CPrinterIO::Recv() [")),
        std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(std::string("] ") + t.call + " -[" + text + "]\n"), std::string::npos)
        << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Directions, LinkOnWindowsDevice,
                         ::testing::Values(StalledTransfer{"Write", true, 2, "WriteFile"},
                                           StalledTransfer{"Read", false, 3, "ReadFile"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
