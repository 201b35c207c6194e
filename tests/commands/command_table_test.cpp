// The command descriptor table: its shape, its wiring, and every framed row
// run with the texts it was built with, against the virtual printer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "commands/command_runner.h"

namespace cmdtest {
namespace {

const CommandDescriptor& Row(int r) { return g_printerIO.m_commandTable[r]; }

int SlotsUsed(const CommandDescriptor& row) {
    int used = 0;
    for (const CommandParam& p : row.params)
        if (p.label != nullptr) ++used;
    return used;
}

bool SlotEmpty(const CommandParam& p) { return p.label == nullptr && p.defaultText[0] == '\0'; }

bool RowZero(const CommandDescriptor& row) {
    if (row.handler != nullptr || row.title != nullptr) return false;
    for (const CommandParam& p : row.params) {
        if (p.label != nullptr) return false;
        for (char c : p.defaultText)
            if (c != '\0') return false;
    }
    return true;
}

struct RowShape {
    const char* title;
    CommandHandler handler;
    int slots;
};

const RowShape kShapes[] = {
    {"FS S [エラー情報要求]", &CPrinterIO::CmdRequestSence, 1},
    {"FS I [製品情報要求]", &CPrinterIO::CmdInquiry, 1},
    {"FS A [印刷中止]", &CPrinterIO::CmdStop, 0},
    {"FS Y [システム情報要求]", &CPrinterIO::CmdSystemInfo, 1},
    {"FS T [プリンタ状況要求]", &CPrinterIO::CmdStatusInfo, 1},
    {"FS G [各種データ要求]", &CPrinterIO::CmdGetPrinterData, 1},
    {"FS V [動作ログ要求]", &CPrinterIO::CmdGetPrinterLog, 3},
    {"FS = [印刷予約]", &CPrinterIO::CmdPrintReserve, 2},
    {"FS H [ネットワーク設定開始]", &CPrinterIO::CmdLanConfig, 1},
    {"FS J [ネットワーク設定取得]", &CPrinterIO::CmdLanConfigGet, 12},
    {"FS H [ネットワーク設定変更]", &CPrinterIO::CmdLanConfigSet, 12},
    {"FS * [ネットワーク機器検索]", &CPrinterIO::CmdSearchPrinter, 6},
    {"FS P ESC @ [プリンタリセット]", &CPrinterIO::CmdReset, 2},
    {"FS P ESC > [印刷開始]", &CPrinterIO::CmdPrint, 0},
    {"FS P ESC N [印刷枚数設定]", &CPrinterIO::CmdCopy, 1},
    {"FS P ESC I [画像データ転送]", &CPrinterIO::CmdImage, 5},
    {"FS P ESC C [文字データ転送]", &CPrinterIO::CmdChar, 6},
    {"FS P ESC H [ホログラム転写]", &CPrinterIO::CmdHologram, 0},
    {"FS P ESC M [エンコードデータ転送]", &CPrinterIO::CmdEncodeData, 0},
    {"FS P ESC T [反転要求]", &CPrinterIO::CmdReverse, 0},
    {"FS P ESC E [ICエンコーダ動作]", &CPrinterIO::CmdNotSupported, 0},
    {"FS P ESC A [磁気エンコード読み込み]", &CPrinterIO::CmdNotSupported, 0},
    {"FS P ESC Z [メカエラー復帰]", &CPrinterIO::CmdNotSupported, 0},
    {"FS P ESC P [非転写領域設定]", &CPrinterIO::CmdNotSupported, 0},
    {"FS P ESC Q [タグデータ設定]", &CPrinterIO::CmdNotSupported, 0},
    {"FS P ESC J [DMA転送2]", &CPrinterIO::CmdDma2, 2},
};

TEST(CommandTable, RowsTitlesHandlersAndSlotCounts) {
    for (int r = 0; r < 26; ++r) {
        SCOPED_TRACE(r);
        const RowShape& want = kShapes[r];
        ASSERT_NE(Row(r).title, nullptr);
        EXPECT_STREQ(Row(r).title, want.title);
        EXPECT_TRUE(Row(r).handler == want.handler);
        EXPECT_EQ(SlotsUsed(Row(r)), want.slots);
        // The used slots come first; the rest are empty.
        for (int s = 0; s < kCmdParamSlots; ++s) {
            if (s < want.slots)
                EXPECT_NE(Row(r).params[s].label, nullptr) << s;
            else
                EXPECT_TRUE(SlotEmpty(Row(r).params[s])) << s;
        }
    }
    // The list ends at row 26; nothing after it was ever filled.
    for (int r = 26; r < kCmdTableSize; ++r) EXPECT_TRUE(RowZero(Row(r))) << r;
}

TEST(CommandTable, AddressSlotsAndSharedLabels) {
    std::vector<std::pair<int, int>> address;
    for (int r = 0; r < kCmdTableSize; ++r)
        for (int s = 0; s < kCmdParamSlots; ++s)
            if (IsAddressSlot(Row(r).params[s])) address.emplace_back(r, s);
    const std::vector<std::pair<int, int>> expected{{6, 1}, {10, 1}, {11, 4}, {25, 1}};
    EXPECT_EQ(address, expected);

    // The change command names the same fields as the get command; the
    // character command shares the geometry of the image command.
    for (int s = 2; s < 12; ++s) {
        EXPECT_STREQ(Row(10).params[s].label, Row(9).params[s].label) << s;
        EXPECT_STREQ(Row(10).params[s].defaultText, "") << s;
    }
    for (int s = 0; s < 4; ++s) {
        EXPECT_STREQ(Row(16).params[s].label, Row(15).params[s].label) << s;
        EXPECT_STREQ(Row(16).params[s].defaultText, Row(15).params[s].defaultText) << s;
    }
    // Labels that carry full-width punctuation and brackets exactly.
    EXPECT_STREQ(Row(7).params[0].label, "0：状況確認、[1]：予約、2：予約解除");
    EXPECT_STREQ(Row(9).params[1].label, "(空き)");
    EXPECT_STREQ(Row(9).params[6].label, "デフォルトゲートウェイ （xxx.xxx.xxx.xxx）");
    EXPECT_STREQ(Row(11).params[3].label, "応答データ最大取得数（0～16）");
    EXPECT_STREQ(Row(12).params[0].label, "種別 ([0]～2)");
    EXPECT_STREQ(Row(25).params[0].label, "データ種別（[0]：CMY、1：Bk、2：UV)");
    // The search keywords default to the other model's name.
    EXPECT_STREQ(Row(11).params[0].defaultText, "ZK-Q920");
    EXPECT_STREQ(Row(11).params[1].defaultText, "ZK-Q920");
}

TEST(CommandTable, RunnerStopsAtTheClosingRow) {
    CommandArguments arguments(Row(26));
    EXPECT_EQ(RunCommandRow(&g_printerIO, 26, &arguments), 0);
    EXPECT_EQ(RunCommandRow(&g_printerIO, 39, &arguments), 0);
    EXPECT_EQ(RunCommandRow(&g_printerIO, 40, &arguments), 0);
    EXPECT_EQ(RunCommandRow(&g_printerIO, -1, &arguments), 0);
}

// --- Every framed row, run with the texts the table holds ---------------

struct RowFrame {
    int row;
    const char* frame;  // header and payload in hex, as the printer keeps it
};

const RowFrame kRowFrames[] = {
    {0, "1C 53 00 00 00 16"},
    {1, "1C 49 00 00 00 24"},
    {2, "1C 41 00 00 00 00"},
    {3, "1C 59 00 00 00 33"},
    {4, "1C 54 00 00 00 3C"},
    {5, "1C 47 00 00 00 00"},
    {6, "1C 56 00 10 00 00"},
    {7, "1C 3D 00 00 00 01 01"},
    {8, "1C 48 00 00 00 01 00"},
    {9, "1C 4A 00 00 00 40"},
    {12, "1C 50 00 00 00 06 1B 40 31 2C 31 2E"},
    {13, "1C 50 00 00 00 02 1B 3E"},
    {14, "1C 50 00 00 00 04 1B 4E 31 2E"},
    // "0,0,2048,1300,7987200."
    {15, "1C 50 00 00 00 18 1B 49 30 2C 30 2C 32 30 34 38 2C 31 33 30 30 2C"
         " 37 39 38 37 32 30 30 2E"},
    // "0,0,2048,1300,2662400,0."
    {16, "1C 50 00 00 00 1A 1B 43 30 2C 30 2C 32 30 34 38 2C 31 33 30 30 2C"
         " 32 36 36 32 34 30 30 2C 30 2E"},
    {17, "1C 50 00 00 00 02 1B 48"},
    // The row names no slots, so the three texts are empty.
    {18, "1C 50 00 00 00 04 1B 4D 2C 2C"},
    {19, "1C 50 00 00 00 02 1B 54"},
};

class TableRowFrames : public CommandTest, public ::testing::WithParamInterface<RowFrame> {};

TEST_P(TableRowFrames, SendTheFrameOfTheDefaults) {
    Start();
    const RowFrame& c = GetParam();
    CommandArguments arguments(Row(c.row));
    std::vector<uint8_t> log(1048576, 0);
    if (c.row == 6) arguments.SetAddress(1, log.data());
    EXPECT_EQ(RunCommandRow(&g_printerIO, c.row, &arguments), 1) << AllTraces();
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), Hex(c.frame));
    EXPECT_FALSE(frames()[0].refused);
}

INSTANTIATE_TEST_SUITE_P(Rows, TableRowFrames, ::testing::ValuesIn(kRowFrames),
                         [](const auto& info) { return "Row" + std::to_string(info.param.row); });

TEST_F(CommandTest, TableRowsWriteTheirOutputSlots) {
    sim::Scenario s;
    s.log.assign(700, 0x4C);
    s.reserveResult = 2;
    Start(s);
    std::vector<uint8_t> log(1048576, 0);
    CommandArguments logRow(Row(6));
    logRow.SetAddress(1, log.data());
    ASSERT_EQ(RunCommandRow(&g_printerIO, 6, &logRow), 1);
    EXPECT_STREQ(logRow.Text(2), "700");
    EXPECT_EQ(log[699], 0x4C);
    EXPECT_EQ(log[700], 0);

    CommandArguments reserve(Row(7));
    ASSERT_EQ(RunCommandRow(&g_printerIO, 7, &reserve), 1);
    EXPECT_STREQ(reserve.Text(1), "2");  // "in progress" answers a reservation
    // The built table is unchanged by running a row.
    EXPECT_STREQ(Row(7).params[1].defaultText, "0");
    EXPECT_STREQ(Row(6).params[2].defaultText, "0");
}

TEST_F(CommandTest, TableRowChangeSendsTheCallersArea) {
    Start();
    std::vector<uint8_t> area(64);
    for (size_t i = 0; i < area.size(); ++i) area[i] = static_cast<uint8_t>(0xA0 + i);
    CommandArguments arguments(Row(10));
    arguments.SetAddress(1, area.data());
    ASSERT_EQ(RunCommandRow(&g_printerIO, 10, &arguments), 1);
    std::vector<uint8_t> expected = Hex("1C 4B 00 00 00 40");
    expected.insert(expected.end(), area.begin(), area.end());
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_EQ(Wire(frames()[0]), expected);
}

TEST_F(CommandTest, BareRowsIgnoreEverySlot) {
    Start();
    for (int r : {2, 13}) {
        CommandArguments arguments(Row(r));
        for (int s = 0; s < kCmdParamSlots; ++s) std::strcpy(arguments.Text(s), "99,junk.");
        EXPECT_EQ(RunCommandRow(&g_printerIO, r, &arguments), 1) << r;
    }
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 41 00 00 00 00"));
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 50 00 00 00 02 1B 3E"));
}

TEST_F(CommandTest, TableRowDmaSendsThreeColourPlanes) {
    Start();
    std::vector<uint8_t> image(3 * 2662400, 0x5A);
    CommandArguments arguments(Row(25));
    arguments.SetAddress(1, image.data());
    ASSERT_EQ(RunCommandRow(&g_printerIO, 25, &arguments), 1);
    std::vector<uint8_t> head = Hex("1C 50 00 28 A0 1A 1B 4A");
    head.resize(6 + 26, 0);
    ASSERT_EQ(frames().size(), 3u);
    for (const sim::Frame& f : frames()) EXPECT_EQ(Wire(f), head);
    EXPECT_EQ(rig->printer.stats().planesReceived, 3u);

    // Without caller memory the address slot stays empty: nothing is sent.
    CommandArguments noImage(Row(25));
    EXPECT_EQ(RunCommandRow(&g_printerIO, 25, &noImage), 0);
    EXPECT_EQ(frames().size(), 3u);
}

}  // namespace
}  // namespace cmdtest
