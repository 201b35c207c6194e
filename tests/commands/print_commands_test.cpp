// FS P print-job frames, byte for byte, as the virtual printer receives them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "command_fixture.h"
#include "commands/command_runner.h"

namespace cmdtest {
namespace {

struct FrameCase {
    const char* name;
    CommandHandler handler;
    std::initializer_list<const char*> args;
    const char* frame;  // the whole frame in hex
};

const FrameCase kFrameCases[] = {
    {"ResetDefaults", &CPrinterIO::CmdReset, {"1", "1"}, "1C 50 00 00 00 06 1B 40 31 2C 31 2E"},
    {"ResetDetailAbsent", &CPrinterIO::CmdReset, {"2", nullptr}, "1C 50 00 00 00 04 1B 40 32 2E"},
    {"ResetTypeAbsent", &CPrinterIO::CmdReset, {nullptr, "1"}, "1C 50 00 00 00 03 1B 40 2E"},
    {"Print", &CPrinterIO::CmdPrint, {}, "1C 50 00 00 00 02 1B 3E"},
    {"CopyDefault", &CPrinterIO::CmdCopy, {"1"}, "1C 50 00 00 00 04 1B 4E 31 2E"},
    {"CopyOutOfRange", &CPrinterIO::CmdCopy, {"300"}, "1C 50 00 00 00 06 1B 4E 33 30 30 2E"},
    {"ImageDefaults", &CPrinterIO::CmdImage, {"0", "0", "2048", "1300", "7987200"},
     "1C 50 00 00 00 18 1B 49 30 2C 30 2C 32 30 34 38 2C 31 33 30 30 2C"
     " 37 39 38 37 32 30 30 2E"},
    {"ImageEmptyWidth", &CPrinterIO::CmdImage, {"0", "0", "", "1300", "7987200"},
     "1C 50 00 00 00 14 1B 49 30 2C 30 2C 2C 31 33 30 30 2C 37 39 38 37 32 30 30 2E"},
    {"CharDefaults", &CPrinterIO::CmdChar, {"0", "0", "2048", "1300", "2662400", "0"},
     "1C 50 00 00 00 1A 1B 43 30 2C 30 2C 32 30 34 38 2C 31 33 30 30 2C"
     " 32 36 36 32 34 30 30 2C 30 2E"},
    {"CharPanelAbsent", &CPrinterIO::CmdChar, {"0", "0", "2048", "1300", "2662400", nullptr},
     "1C 50 00 00 00 18 1B 43 30 2C 30 2C 32 30 34 38 2C 31 33 30 30 2C"
     " 32 36 36 32 34 30 30 2E"},
    {"Hologram", &CPrinterIO::CmdHologram, {}, "1C 50 00 00 00 02 1B 48"},
    {"EncodeEmptyTexts", &CPrinterIO::CmdEncodeData, {"", "", ""}, "1C 50 00 00 00 04 1B 4D 2C 2C"},
    {"EncodeTexts", &CPrinterIO::CmdEncodeData, {"A", "B", "C"},
     "1C 50 00 00 00 07 1B 4D 41 2C 42 2C 43"},
    {"Reverse", &CPrinterIO::CmdReverse, {}, "1C 50 00 00 00 02 1B 54"},
};

class PrintFrames : public CommandTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(PrintFrames, SendsTheFrameAndSucceeds) {
    Start();
    const FrameCase& c = GetParam();
    Args args(c.args);
    EXPECT_EQ((g_printerIO.*c.handler)(args.get()), 1);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), Hex(c.frame));
    EXPECT_FALSE(frames()[0].refused);
    EXPECT_TRUE(traces.empty()) << AllTraces();
}

INSTANTIATE_TEST_SUITE_P(Commands, PrintFrames, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandTest, BareCommandsIgnoreANullVector) {
    Start();
    EXPECT_EQ(g_printerIO.CmdPrint(nullptr), 1);
    EXPECT_EQ(g_printerIO.CmdReset(nullptr), 1);  // every element absent: only '.'
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 50 00 00 00 03 1B 40 2E"));
}

TEST_F(CommandTest, RequiredElementsMissingSendNothing) {
    Start();
    Args image({"0", "0", "2048", nullptr, "7987200"});
    EXPECT_EQ(g_printerIO.CmdCopy(nullptr), 0);
    EXPECT_EQ(g_printerIO.CmdImage(image.get()), 0);
    EXPECT_EQ(g_printerIO.CmdEncodeData(nullptr), 0);
    EXPECT_TRUE(frames().empty());
    ASSERT_EQ(traces.size(), 3u);
    EXPECT_NE(traces[1].find("CPrinterIO::CmdImage"), std::string::npos) << traces[1];
    EXPECT_NE(traces[1].find("引数エラー"), std::string::npos) << traces[1];
}

TEST_F(CommandTest, RefusedPrintJobFailsWithTheExchangeTrace) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, 'P', 1, sim::FaultAction::kNak});
    Start(s);
    Args args({"3"});
    EXPECT_EQ(g_printerIO.CmdCopy(args.get()), 0);
    const std::string all = AllTraces();
    EXPECT_NE(all.find("CPrinterIO::CmdCopy"), std::string::npos) << all;
    EXPECT_NE(all.find("送受信失敗（戻り値=[-1] 期待値=[0]）"), std::string::npos) << all;
}

TEST_F(CommandTest, TableRowsWithoutFrameSendNothing) {
    Start();
    for (int row = 20; row <= 24; ++row) {
        SCOPED_TRACE(row);
        ASSERT_EQ(g_printerIO.m_commandTable[row].handler, &CPrinterIO::CmdNotSupported);
        CommandArguments arguments(g_printerIO.m_commandTable[row]);
        EXPECT_EQ(RunCommandRow(&g_printerIO, row, &arguments), 0);
    }
    EXPECT_EQ(g_printerIO.CmdNotSupported(nullptr), 0);
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(rig->printer.Pending(), 0u);
    EXPECT_TRUE(traces.empty()) << AllTraces();
}

// --- DMA transfer 2 ---------------------------------------------------------

constexpr size_t kPlane = 2662400;
constexpr size_t kFrame = 6 + 26 + kPlane;

// Three planes, each byte telling its plane and place apart from the others.
std::vector<uint8_t> Image(int planes) {
    std::vector<uint8_t> image(kPlane * static_cast<size_t>(planes));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i / kPlane) * 85 + (i % 251));
    return image;
}

TEST_F(CommandTest, DmaOnePlaneForBkAndUv) {
    Start(sim::Scenario(), true);
    std::vector<uint8_t> image = Image(1);
    Args args({"1", nullptr});
    args.SetAddress(1, image.data());
    EXPECT_EQ(g_printerIO.CmdDma2(args.get()), 1);
    ASSERT_EQ(frames().size(), 1u);
    std::vector<uint8_t> head = Hex("1C 50 00 28 A0 1A 1B 4A");
    head.resize(6 + 26, 0);
    EXPECT_EQ(Wire(frames()[0]), head);
    EXPECT_EQ(rig->printer.stats().planesReceived, 1u);
    ASSERT_EQ(recorder->written.size(), kFrame);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), recorder->written.begin() + 32));
}

TEST_F(CommandTest, DmaThreePlanesForCmyFromSuccessiveOffsets) {
    Start(sim::Scenario(), true);
    std::vector<uint8_t> image = Image(3);
    Args args({"0", nullptr});
    args.SetAddress(1, image.data());
    EXPECT_EQ(g_printerIO.CmdDma2(args.get()), 1);
    ASSERT_EQ(frames().size(), 3u);
    EXPECT_EQ(rig->printer.stats().planesReceived, 3u);
    ASSERT_EQ(recorder->written.size(), 3 * kFrame);
    for (size_t pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        const auto frame = recorder->written.begin() + static_cast<std::ptrdiff_t>(pass * kFrame);
        std::vector<uint8_t> head = Hex("1C 50 00 28 A0 1A 1B 4A");
        head.resize(32, 0);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), frame));
        EXPECT_TRUE(std::equal(image.begin() + static_cast<std::ptrdiff_t>(pass * kPlane),
                               image.begin() + static_cast<std::ptrdiff_t>((pass + 1) * kPlane),
                               frame + 32));
    }
}

TEST_F(CommandTest, DmaStopsAfterARefusedPlane) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, 'P', 2, sim::FaultAction::kNak});
    Start(s);
    std::vector<uint8_t> image = Image(3);
    Args args({"0", nullptr});
    args.SetAddress(1, image.data());
    EXPECT_EQ(g_printerIO.CmdDma2(args.get()), 0);
    EXPECT_EQ(frames().size(), 2u);
    EXPECT_TRUE(frames()[1].refused);
    EXPECT_NE(AllTraces().find("CPrinterIO::CmdDma2"), std::string::npos) << AllTraces();
    EXPECT_NE(AllTraces().find("期待値=[0]"), std::string::npos) << AllTraces();
}

TEST_F(CommandTest, DmaWithoutImageSendsNothing) {
    Start();
    Args args({"0", nullptr});
    EXPECT_EQ(g_printerIO.CmdDma2(args.get()), 0);
    EXPECT_EQ(g_printerIO.CmdDma2(nullptr), 0);
    EXPECT_TRUE(frames().empty());
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_NE(traces[0].find("イメージデータのアドレス不正"), std::string::npos) << traces[0];
}

}  // namespace
}  // namespace cmdtest
