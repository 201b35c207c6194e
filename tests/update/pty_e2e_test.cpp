// Real time, real processes: zkq870-sim serves its pty device tree, and a
// complete update runs against it through the platform's own USB backend
// (QUILLON_USB_ROOT points discovery at the simulator's tree). The
// printer's restart is short, so the run takes the reconnection pause of
// 10 s plus the transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "update/update_error.h"
#include "update/update_firmware.h"
#include "bench/sim_process.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"
#include "tests/update/temp_cwd.h"
#include "update/fw_commands.h"

namespace {

TEST(PtyEndToEnd, CompleteUpdateOverThePtyDeviceTree) {
    testing_update::TempCwd cwd;
    std::vector<std::string> traces;
    platform::SetTraceObserver([&](std::string_view l) { traces.emplace_back(l); }, true);
    const std::filesystem::path usbDir = cwd.path() / "usb";
    {
        std::ofstream scenario(cwd.path() / "scenario.json");
        scenario << R"({"restartDelayMs": 300, "finishBusyPolls": 3, "version": "1.2"})" << "\n";
    }
    bench::SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start(QUILLON_SIM_PATH,
                          {"--usb", usbDir.string(), "--scenario",
                           (cwd.path() / "scenario.json").string(), "--exit-after-restart",
                           "--max-seconds", "120"},
                          (cwd.path() / "summary.json").string(), 10000, &error))
        << error;
    ::setenv("QUILLON_USB_ROOT", usbDir.c_str(), 1);

    g_linkKind = kLinkUsb;
    g_vendorIdText = "5B7D";
    g_productIdText = "0023";
    g_fwPacketSize = 4096;
    ASSERT_NE(OpenLink(), 0);
    g_fwFramesEnabled = 1;
    ASSERT_EQ(FwStart(), 0);
    uint8_t status[2] = {0, 2};
    for (int k = 0; k < 100 && status[1] == 2; ++k) {
        ASSERT_EQ(FwReadStatus(status, 2), 0);
        platform::WaitMs(100);
    }
    ASSERT_NE(status[1], 2);

    const auto start = std::chrono::steady_clock::now();
    UpdateErrorFields errors;
    const int result = RunFirmwareUpdate(errors.record, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("pty end-to-end update: %.2f s\n", seconds);
    EXPECT_EQ(result, 0);
    for (const std::string& t : traces) ADD_FAILURE() << "trace: " << t;
    EXPECT_GE(seconds, 10.0);  // the reconnection pause
    EXPECT_EQ(g_printerIO.m_linkKind, 0);

    const std::string out = sim.Stop(15000);
    const nlohmann::json summary = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(summary.is_discarded()) << out;
    EXPECT_EQ(summary["endedBy"], "restart") << out;
    EXPECT_GE(summary["printer"]["restarts"].get<int>(), 1) << out;
    EXPECT_EQ(summary["printer"]["refusals"].get<int>(), 0) << out;
    ::unsetenv("QUILLON_USB_ROOT");
    platform::SetTraceObserver(nullptr);
}

}  // namespace
