// Status, information and reservation frames against the virtual printer.
#include <gtest/gtest.h>

#include <cstring>

#include "command_fixture.h"

namespace cmdtest {
namespace {

struct LengthCase {
    const char* name;
    CommandHandler handler;
    const char* length;  // element 0; nullptr: null vector
    const char* frame;
};

const LengthCase kLengthCases[] = {
    {"SenseNull", &CPrinterIO::CmdRequestSence, nullptr, "1C 53 00 00 00 16"},
    {"SenseOverMax", &CPrinterIO::CmdRequestSence, "100", "1C 53 00 00 00 16"},
    {"SenseNegative", &CPrinterIO::CmdRequestSence, "-5", "1C 53 00 00 00 16"},
    {"SenseFive", &CPrinterIO::CmdRequestSence, "5", "1C 53 00 00 00 05"},
    {"Inquiry", &CPrinterIO::CmdInquiry, nullptr, "1C 49 00 00 00 24"},
    {"SystemInfo", &CPrinterIO::CmdSystemInfo, "51", "1C 59 00 00 00 33"},
    {"Status", &CPrinterIO::CmdStatusInfo, "60", "1C 54 00 00 00 3C"},
    {"NetSettings", &CPrinterIO::CmdLanConfigGet, "64", "1C 4A 00 00 00 40"},
};

class LengthRequests : public CommandTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(LengthRequests, AskForTheCappedLength) {
    Start();
    const LengthCase& c = GetParam();
    Args args({c.length});
    EXPECT_EQ((g_printerIO.*c.handler)(c.length ? args.get() : nullptr), 1);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), Hex(c.frame));
}

INSTANTIATE_TEST_SUITE_P(Commands, LengthRequests, ::testing::ValuesIn(kLengthCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandTest, SystemInfoLandsInItsArea) {
    sim::Scenario s;
    s.version = "9.8 ";
    s.identifier = "ABCDEFGH";
    Start(s);
    Args args({"51"});
    ASSERT_EQ(g_printerIO.CmdSystemInfo(args.get()), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(g_printerIO.m_systemInfo) + 38, 12),
              "9.8 ABCDEFGH");
}

TEST_F(CommandTest, FewerBytesThanAskedStillSucceed) {
    sim::Scenario s;
    s.printerData.assign(40, 0xA5);
    Start(s);
    std::vector<uint8_t> buffer(51, 0);
    Args args({"51", nullptr});
    args.SetAddress(1, buffer.data());
    EXPECT_EQ(g_printerIO.CmdGetPrinterData(args.get()), 1);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 47 00 00 00 33"));
    for (size_t i = 0; i < 51; ++i) EXPECT_EQ(buffer[i], i < 40 ? 0xA5 : 0) << i;
}

TEST_F(CommandTest, StopIgnoresAnnouncedData) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, 'A', 1, sim::FaultAction::kOverlong});
    Start(s);
    EXPECT_EQ(g_printerIO.CmdStop(nullptr), 1);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 41 00 00 00 00"));
    EXPECT_GT(rig->printer.Pending(), 0u);  // announced data left unread
}

TEST_F(CommandTest, RefusedStatusRequestFailsAndClearsItsArea) {
    sim::Scenario s;
    s.status.assign(60, 0x11);
    s.faults.push_back({0, 0x1C, 'T', 2, sim::FaultAction::kNak});
    Start(s);
    ASSERT_EQ(g_printerIO.CmdStatusInfo(nullptr), 1);
    EXPECT_EQ(g_printerIO.m_printerStatus[59], 0x11);
    EXPECT_EQ(g_printerIO.CmdStatusInfo(nullptr), 0);
    for (uint8_t b : g_printerIO.m_printerStatus) EXPECT_EQ(b, 0);
    const std::string all = AllTraces();
    EXPECT_NE(all.find("NAK応答"), std::string::npos) << all;
    EXPECT_NE(all.find("CPrinterIO::CmdStatusInfo"), std::string::npos) << all;
}

TEST_F(CommandTest, LogLengthDefaultCapAndCount) {
    sim::Scenario s;
    s.log.assign(1500, 0x3C);
    Start(s);
    std::vector<uint8_t> buffer(1048576, 0);
    Args asked({"1000", nullptr, "0"});
    asked.SetAddress(1, buffer.data());
    EXPECT_EQ(g_printerIO.CmdGetPrinterLog(asked.get()), 1);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 56 00 00 03 E8"));
    EXPECT_EQ(asked.Text(2), "1000");
    Args byDefault({nullptr, nullptr, "0"});
    byDefault.SetAddress(1, buffer.data());
    EXPECT_EQ(g_printerIO.CmdGetPrinterLog(byDefault.get()), 1);
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 56 00 10 00 00"));
    EXPECT_EQ(byDefault.Text(2), "1500");
}

TEST_F(CommandTest, EmptyReplyClearsTheAreaAndSucceeds) {
    Start();
    ASSERT_EQ(g_printerIO.CmdSystemInfo(nullptr), 1);
    ASSERT_NE(g_printerIO.m_systemInfo[42], 0);  // the identifier arrived
    Args none({"0"});
    EXPECT_EQ(g_printerIO.CmdSystemInfo(none.get()), 1);
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 59 00 00 00 00"));
    for (uint8_t b : g_printerIO.m_systemInfo) EXPECT_EQ(b, 0);
}

TEST_F(CommandTest, LogAndDataRequestsNeedAVector) {
    Start();
    EXPECT_EQ(g_printerIO.CmdGetPrinterData(nullptr), 0);
    EXPECT_EQ(g_printerIO.CmdGetPrinterLog(nullptr), 0);
    EXPECT_TRUE(frames().empty());
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_NE(traces[0].find("CPrinterIO::CmdGetPrinterData() "), std::string::npos) << traces[0];
    EXPECT_NE(traces[1].find("CPrinterIO::CmdGetPrinterLog() "), std::string::npos) << traces[1];
    for (const auto& t : traces) EXPECT_NE(t.find("引数エラー"), std::string::npos) << t;
}

// Request code x printer result: which results are written back.
struct ReserveCase {
    char request;
    uint8_t result;
    bool written;
};

class PrintReserve : public CommandTest, public ::testing::WithParamInterface<ReserveCase> {};

TEST_P(PrintReserve, WritesOnlyAdmittedResults) {
    const ReserveCase& c = GetParam();
    sim::Scenario s;
    s.reserveResult = c.result;
    Start(s);
    const char request[2] = {c.request, '\0'};
    Args args({request, "x"});
    EXPECT_EQ(g_printerIO.CmdPrintReserve(args.get()), 1);
    std::vector<uint8_t> frame = Hex("1C 3D 00 00 00 01 00");
    frame[6] = static_cast<uint8_t>(c.request - '0');
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), frame);
    EXPECT_EQ(args.Text(1), c.written ? std::string(1, static_cast<char>('0' + c.result)) : "x");
}

INSTANTIATE_TEST_SUITE_P(
    RequestTimesResult, PrintReserve,
    ::testing::Values(ReserveCase{'0', 0, true}, ReserveCase{'0', 1, true}, ReserveCase{'0', 2, true},
                      ReserveCase{'0', 3, false}, ReserveCase{'1', 0, true},
                      ReserveCase{'1', 1, false}, ReserveCase{'1', 2, true},
                      ReserveCase{'1', 3, false}, ReserveCase{'2', 0, true},
                      ReserveCase{'2', 1, true}, ReserveCase{'2', 2, false},
                      ReserveCase{'2', 3, false}),
    [](const auto& info) {
        return std::string("Request") + info.param.request + "Result" +
               std::to_string(info.param.result);
    });

}  // namespace
}  // namespace cmdtest
