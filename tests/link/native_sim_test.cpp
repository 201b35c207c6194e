// The link over TCP to the virtual printer as a separate native program
// (zkq870-sim), on every platform: the Windows build's Winsock under wine
// against the Linux simulator. FS exchanges, the query operations, the
// maintenance frames, and the sample access library.
#include "tests/support/native_sim.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/printer_record.h"
#include "platform/dynlib.h"
#include "tests/link/link_fixture.h"
#include "tests/support/build_path.h"
#include "update/fw_commands.h"

#ifdef ZKQ870_SIM_PATH
constexpr char kSimPath[] = ZKQ870_SIM_PATH;
#else
constexpr char kSimPath[] = "";
#endif

namespace {

using linktest::TraceLine;
using linktest::WithoutLineNumber;

class NativeSimTest : public linktest::LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        if (!sim.ok()) GTEST_SKIP() << sim.why();
    }
    void TearDown() override {
        g_linkKind = kLinkNone;
        g_fwFramesEnabled = 0;
        LinkTest::TearDown();
    }
    void OpenTcp() {
        ASSERT_EQ(g_printerIO.Open(sim.port(), "127.0.0.1"), 1);
        ASSERT_EQ(g_printerIO.m_linkKind, kLinkTcp);
        g_linkKind = kLinkTcp;
    }
    int32_t SystemInfo() {
        buffer.assign(51 + 8, 0xEE);
        CommandBlock request{0x1C, 'Y', 51, nullptr};
        CommandBlock reply{0, 0, 0, buffer.data()};
        return g_printerIO.SendRecv(&request, 0, &reply, 51);
    }
    std::string Text(size_t at, size_t n) const {
        return std::string(reinterpret_cast<const char*>(buffer.data()) + at, n);
    }

    testsupport::CNativeSim sim{kSimPath};
    std::vector<uint8_t> buffer;
};

TEST_F(NativeSimTest, FsExchangesOverTcp) {
    OpenTcp();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(SystemInfo(), 51);
        EXPECT_EQ(Text(38, 4), "1.2 ");
        EXPECT_EQ(Text(42, 8), "ZKQ00001");
        EXPECT_EQ(buffer[51], 0xEE) << "nothing past the payload";
    }
    // A reply without payload, and a refused code.
    CommandBlock request{0x1C, 'A', 0, nullptr};
    CommandBlock reply{0, 0, 0, nullptr};
    EXPECT_EQ(g_printerIO.SendRecv(&request, 0, &reply, 0), 0);
    CommandBlock unknown{0x1C, 'Z', 0, nullptr};
    EXPECT_EQ(g_printerIO.SendRecv(&unknown, 0, &reply, 0), -1);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::SendRecv", "NAK応答（送信コード=[Z] 受信コード=[15]）", kErrorBadCommand));
    // The link goes on after a refusal.
    EXPECT_EQ(SystemInfo(), 51);
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    g_printerIO.Close();
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
}

TEST_F(NativeSimTest, ReservationAndSystemInformation) {
    OpenTcp();
    int32_t digit = 99;
    EXPECT_EQ(ReservePrinter('1', &digit), 1);
    EXPECT_EQ(digit, -48) << "granted: the printer writes no digit back";
    std::array<uint8_t, 51> info{};
    EXPECT_EQ(QuerySystemInfo(info.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.data()) + 38, 4), "1.2 ");
    std::array<uint8_t, 60> status{};
    EXPECT_EQ(QueryPrinterStatus(status.data()), 31) << "no status query over TCP";
    EXPECT_EQ(ReservePrinter('2', &digit), 1);
    EXPECT_TRUE(traces.empty()) << traces[0];
}

TEST_F(NativeSimTest, MaintenanceRunStartsAndReportsTheVersion) {
    OpenTcp();
    g_fwFramesEnabled = 1;
    ASSERT_EQ(FwCommand(224, 0, nullptr, 0), 0);  // GS A
    uint8_t state[2] = {0, 2};
    for (int i = 0; i < 200 && state[1] == 2; ++i) ASSERT_EQ(FwCommand(225, 0, state, 2), 0);
    EXPECT_EQ(state[0], 2) << "maintenance mode";
    EXPECT_EQ(state[1], 1) << "ready";
    uint8_t header[32] = {};
    ASSERT_EQ(FwCommand(482, 0, header, 32), 0);  // GS J
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header) + 8, 16), "1.2             ");
    EXPECT_TRUE(traces.empty()) << traces[0];
}

TEST_F(NativeSimTest, SampleLibraryReachesTheSimulator) {
    const platform::ModuleHandle library =
        platform::LoadDynamicLibrary(testsupport::BuildPath(QV71XX_SAMPLE_PATH));
    ASSERT_NE(library, nullptr);
    auto callLog =
        reinterpret_cast<const char* (*)()>(platform::FindSymbol(library, "qv71XXSampleCallLog"));
    auto reset = reinterpret_cast<void (*)()>(platform::FindSymbol(library, "qv71XXSampleReset"));
    ASSERT_TRUE(callLog && reset);
    reset();
    const std::string address = "127.0.0.1:" + std::to_string(sim.port());
    memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
    memcpy(g_selectedPrinter.bytes + 8, address.data(), address.size());

    ASSERT_EQ(g_printerIO.OpenLibrary(library), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkLibrary);
    EXPECT_STREQ(callLog(), "OpenPrinter,Reserve1");
    ASSERT_EQ(SystemInfo(), 51);
    EXPECT_EQ(Text(42, 8), "ZKQ00001");
    g_printerIO.CloseLibrary();
    EXPECT_STREQ(callLog(),
                 "OpenPrinter,Reserve1,WriteReadComplete,WriteReadComplete,Reserve2,"
                 "ClosePrinter,Terminate");
    EXPECT_TRUE(traces.empty()) << traces[0];
    platform::FreeDynamicLibrary(library);
}

}  // namespace
