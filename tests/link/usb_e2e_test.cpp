// The USB link end to end: zkq870-sim --usb DIR in a separate process
// builds a sysfs tree and a pseudo-terminal as the printer's device node;
// the link finds it through QUILLON_USB_ROOT and talks to it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

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

}  // namespace
