// The USB link end to end: zkq870-sim --usb DIR in a separate process
// builds a sysfs tree and a pseudo-terminal as the printer's device node;
// the link finds it through QUILLON_USB_ROOT and talks to it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/trace_sink.h"
#include "tests/sim_transport/sim_process.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 5000;

class UsbEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/link-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ResetLinkForTest();
        platform::SetTraceObserver([this](std::string_view l) { traces.emplace_back(l); }, true);
    }
    void TearDown() override {
        ResetLinkForTest();
        platform::SetTraceObserver(nullptr);
        unsetenv("QUILLON_USB_ROOT");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::vector<std::string> traces;
};

TEST_F(UsbEndToEndTest, FindsTheVirtualPrinterAndReadsItsVersion) {
    simtest::SimProcess sim({"--usb", dir.string()});
    ASSERT_TRUE(sim.started());
    ASSERT_FALSE(sim.WaitForLine("ready usb ", kWaitMs).empty()) << sim.err();
    setenv("QUILLON_USB_ROOT", dir.c_str(), 1);

    g_linkKind = kLinkUsb;
    g_vendorIdText = "0x5B7D";
    g_productIdText = "0x0023";
    ASSERT_EQ(OpenLink(), 1) << (traces.empty() ? "" : traces[0]);
    char length[] = "51";
    char* args[1] = {length};
    ASSERT_EQ(g_printerIO.CmdSystemInfo(args), 1) << (traces.empty() ? "" : traces[0]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_printerIO.m_systemInfo) + 38, 4), "1.2 ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_printerIO.m_systemInfo) + 42, 8),
              "ZKQ00001");
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(g_printerIO.m_hDevice, platform::kInvalidDevice);

    // Opened again, the same printer answers again.
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    memset(g_printerIO.m_systemInfo, 0, sizeof g_printerIO.m_systemInfo);
    ASSERT_EQ(g_printerIO.CmdSystemInfo(args), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_printerIO.m_systemInfo) + 38, 4), "1.2 ");
    g_printerIO.Close();
    EXPECT_TRUE(traces.empty()) << traces[0];
    EXPECT_EQ(sim.Stop(SIGTERM, kWaitMs), 0) << sim.err();
}

// A printer that answers once, in one-byte pieces, and then falls silent:
// the device read gives up after its limit (shortened here) and the
// failure lands in the error record as a read failure.
TEST_F(UsbEndToEndTest, PiecesArriveWholeAndASilentPrinterTimesOut) {
    const fs::path scenario = dir / "scenario.json";
    std::ofstream(scenario) << R"({"version": "1.3",
        "faults": [{"atFrame": 1, "action": "pieces", "pieceSize": 1},
                   {"atFrame": 2, "action": "silent"}]})";
    const fs::path tree = dir / "tree";
    simtest::SimProcess sim({"--usb", tree.string(), "--scenario", scenario.string()});
    ASSERT_TRUE(sim.started());
    ASSERT_FALSE(sim.WaitForLine("ready usb ", kWaitMs).empty()) << sim.err();
    setenv("QUILLON_USB_ROOT", tree.c_str(), 1);
    platform::SetUsbReadTimeoutForTest(300);

    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    char length[] = "51";
    char* args[1] = {length};
    ASSERT_EQ(g_printerIO.CmdSystemInfo(args), 1) << (traces.empty() ? "" : traces[0]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_printerIO.m_systemInfo) + 38, 4), "1.3 ");
    EXPECT_TRUE(traces.empty());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(g_printerIO.CmdSystemInfo(args), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbRead);
    EXPECT_EQ(g_printerIO.m_errorDetail, static_cast<uint32_t>(ETIMEDOUT));
    ASSERT_FALSE(traces.empty());
    EXPECT_EQ(traces[0].rfind("CPrinterIO::Recv() [", 0), 0u) << traces[0];
    EXPECT_NE(traces[0].find("] ReadFile -["), std::string::npos) << traces[0];
    g_printerIO.Close();
    EXPECT_EQ(sim.Stop(SIGTERM, kWaitMs), 0) << sim.err();
}

}  // namespace
