// Network configuration frames (FS H, FS J, FS K) against the virtual printer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "command_fixture.h"

namespace cmdtest {
namespace {

TEST_F(CommandTest, LanConfigLockAndUnlock) {
    Start();
    Args lock({"0"});
    Args unlock({"1"});
    EXPECT_EQ(g_printerIO.CmdLanConfig(lock.get()), 1);
    EXPECT_EQ(g_printerIO.CmdLanConfig(unlock.get()), 1);
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(Wire(frames()[0]), Hex("1C 48 00 00 00 01 00"));
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 48 00 00 00 01 01"));
}

TEST_F(CommandTest, LanConfigRefusedOrWithoutArgument) {
    sim::Scenario s;
    s.faults.push_back({0, 0x1C, 'H', 1, sim::FaultAction::kNak});
    Start(s);
    Args lock({"0"});
    EXPECT_EQ(g_printerIO.CmdLanConfig(lock.get()), 0);
    EXPECT_NE(AllTraces().find("CPrinterIO::CmdLanConfig() "), std::string::npos) << AllTraces();
    EXPECT_EQ(g_printerIO.CmdLanConfig(nullptr), 0);
    EXPECT_EQ(frames().size(), 1u);  // the null vector sent nothing
    EXPECT_NE(traces.back().find("引数エラー"), std::string::npos) << traces.back();
}

std::array<uint8_t, 64> Pattern(uint8_t seed) {
    std::array<uint8_t, 64> area{};
    for (size_t i = 0; i < area.size(); ++i) area[i] = static_cast<uint8_t>(seed + i * 3);
    return area;
}

struct SetCase {
    const char* length;   // element 0, nullptr = absent
    uint32_t sent;        // payload bytes expected
};

class LanConfigSet : public CommandTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(LanConfigSet, SendsTheCappedLengthFromTheArea) {
    Start();
    auto area = Pattern(7);
    Args args({GetParam().length, nullptr});
    args.SetAddress(1, area.data());
    EXPECT_EQ(g_printerIO.CmdLanConfigSet(args.get()), 1);
    ASSERT_EQ(frames().size(), 1u);
    std::vector<uint8_t> expected = Hex("1C 4B 00 00 00 00");
    expected[5] = static_cast<uint8_t>(GetParam().sent);
    expected.insert(expected.end(), area.begin(), area.begin() + GetParam().sent);
    EXPECT_EQ(Wire(frames()[0]), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LanConfigSet,
                         ::testing::Values(SetCase{nullptr, 64}, SetCase{"64", 64},
                                           SetCase{"100", 64}, SetCase{"-1", 64},
                                           SetCase{"10", 10}, SetCase{"0", 0}));

TEST_F(CommandTest, LanConfigSetWithoutVectorOrAreaSendsNothing) {
    Start();
    EXPECT_EQ(g_printerIO.CmdLanConfigSet(nullptr), 0);
    Args noArea({"64", nullptr});
    EXPECT_EQ(g_printerIO.CmdLanConfigSet(noArea.get()), 0);
    EXPECT_TRUE(frames().empty());
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_NE(traces[0].find("CPrinterIO::CmdLanConfigSet"), std::string::npos) << traces[0];
    EXPECT_NE(traces[0].find("引数エラー"), std::string::npos) << traces[0];
}

TEST_F(CommandTest, LanConfigGetReadsWhatSetSent) {
    Start();
    auto area = Pattern(40);
    Args set({"64", nullptr});
    set.SetAddress(1, area.data());
    ASSERT_EQ(g_printerIO.CmdLanConfigSet(set.get()), 1);
    EXPECT_EQ(g_printerIO.CmdLanConfigGet(nullptr), 1);
    ASSERT_EQ(frames().size(), 2u);
    EXPECT_EQ(Wire(frames()[1]), Hex("1C 4A 00 00 00 40"));
    EXPECT_EQ(0, memcmp(g_printerIO.m_netSettings, area.data(), 64));

    // A shorter request clears the whole area first and fills only its part.
    Args shortGet({"8"});
    EXPECT_EQ(g_printerIO.CmdLanConfigGet(shortGet.get()), 1);
    EXPECT_EQ(Wire(frames()[2]), Hex("1C 4A 00 00 00 08"));
    EXPECT_EQ(0, memcmp(g_printerIO.m_netSettings, area.data(), 8));
    for (size_t i = 8; i < 64; ++i) EXPECT_EQ(g_printerIO.m_netSettings[i], 0) << i;

    Args tooLong({"500"});
    EXPECT_EQ(g_printerIO.CmdLanConfigGet(tooLong.get()), 1);
    EXPECT_EQ(Wire(frames()[3]), Hex("1C 4A 00 00 00 40"));
}

TEST_F(CommandTest, LanConfigGetRefusedLeavesTheAreaZero) {
    sim::Scenario s;
    s.netSettings.assign(64, 0x5A);
    s.faults.push_back({0, 0x1C, 'J', 2, sim::FaultAction::kNak});
    Start(s);
    ASSERT_EQ(g_printerIO.CmdLanConfigGet(nullptr), 1);
    EXPECT_EQ(g_printerIO.m_netSettings[63], 0x5A);
    EXPECT_EQ(g_printerIO.CmdLanConfigGet(nullptr), 0);
    for (uint8_t b : g_printerIO.m_netSettings) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace cmdtest
