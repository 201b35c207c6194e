// The maintenance frame layer at the byte level: what goes out in which
// separate sends, and how replies that a healthy printer would not send are
// judged. The printer's side is a scripted reply stream on a virtual clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"
#include "tests/update/scripted_link_fixture.h"
#include "update/fw_commands.h"

namespace {

using testing_update::Reply;
using testing_update::ScriptedUsb;
using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t letter, uint32_t parameter, uint8_t introducer = 0x1D) {
    return {introducer, letter, uint8_t(parameter >> 24), uint8_t(parameter >> 16),
            uint8_t(parameter >> 8), uint8_t(parameter)};
}

Bytes Status(uint8_t mode, uint8_t condition) { return Reply({mode, condition}); }

class FwLayer : public testing_update::ScriptedLinkTest {
protected:
    void Open() { OpenScriptedLink(); }
};

TEST_F(FwLayer, FramesDisabledMakeEveryCodeANoOpWithoutTraffic) {
    Add(Status(2, 1));
    Open();
    g_fwFramesEnabled = 0;
    uint8_t buffer[64] = {};
    const uint32_t codes[] = {224, 225, 226, 227, 228, 480, 482, 483, 484,
                              736, 739, 740, 1506, 1760, 1762};
    for (uint32_t code : codes) {
        EXPECT_EQ(FwCommand(code, 0x434D, buffer, 32), 0) << "code " << code;
        EXPECT_EQ(FwCommand(code, 1, buffer, 32), 0) << "code " << code << " with a wait";
    }
    EXPECT_EQ(FwWaitMode(2), 0);
    EXPECT_EQ(FwCommand(481, 0, buffer, 32), 1);
    EXPECT_TRUE(usb->writes.empty());
    EXPECT_EQ(usb->reads, 0u);
    // Also with a value other than 0 and 1.
    g_fwFramesEnabled = 2;
    EXPECT_EQ(FwCommand(482, 0, buffer, 32), 0);
    EXPECT_TRUE(usb->writes.empty());
}

TEST_F(FwLayer, UnknownCodesReturnOneWithoutTraffic) {
    Open();
    for (uint32_t code : {0u, 223u, 229u, 481u, 485u, 737u, 1505u, 1761u, 1763u, 0xFFFFFFFFu})
        EXPECT_EQ(FwCommand(code, 0, nullptr, 0), 1) << "code " << code;
    EXPECT_TRUE(usb->writes.empty());
}

TEST_F(FwLayer, NakWithDataIsRefusalAndLeavesTheDataUnread) {
    Add(Reply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0x15));
    Open();
    uint8_t header[32];
    std::fill(std::begin(header), std::end(header), 0xAA);
    EXPECT_EQ(FwCommand(482, 0, header, 32), 3);
    EXPECT_EQ(usb->consumed(), 6u);
    EXPECT_EQ(header[0], 0xAA);
    ASSERT_EQ(usb->writes.size(), 1u);
    EXPECT_EQ(usb->writes[0], Frame('J', 32));
}

TEST_F(FwLayer, ReplyByteZeroIsNotExamined) {
    Bytes r = Reply({0x42});
    r[0] = 0x99;
    Add(r);
    Open();
    uint8_t b = 0;
    EXPECT_EQ(FwCommand(1762, 0, &b, 1), 0);
    EXPECT_EQ(b, 0x42);
}

TEST_F(FwLayer, LongReplyIsReadWholeKeptToCapacityAndDrainedInPieces) {
    Bytes data(1000);
    for (size_t k = 0; k < data.size(); ++k) data[k] = uint8_t(k);
    Add(Reply(data));
    Add(Reply(Bytes(1000000, 0x5A)));
    Add(Reply({7}));
    Open();
    uint8_t header[40];
    std::fill(std::begin(header), std::end(header), 0xEE);
    uint32_t kept = 0;
    EXPECT_EQ(FwRequest(0x1D, 'J', 32, header, &kept), 0);
    EXPECT_EQ(kept, 32u);
    EXPECT_EQ(usb->consumed(), 1006u);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(header[k], k);
    EXPECT_EQ(header[32], 0xEE);

    // A million announced bytes never need more than one piece in memory,
    // and the next exchange starts at the right byte.
    uint8_t small[2] = {};
    EXPECT_EQ(FwCommand(482, 0, small, 2), 0);
    EXPECT_LE(usb->maxRequested, kFwDrainPiece);
    uint8_t b = 0;
    EXPECT_EQ(FwCommand(1762, 0, &b, 1), 0);
    EXPECT_EQ(b, 7);
}

TEST_F(FwLayer, ReplyThatBreaksOffFailsAndLeavesTheBufferAsItWas) {
    Bytes r = Reply(Bytes(32, 0x11));
    r.resize(6 + 20);  // the stream ends inside the data
    Add(r);
    Open();
    uint8_t header[32] = {};
    uint32_t kept = 99;
    EXPECT_EQ(FwRequest(0x1D, 'J', 32, header, &kept), 4);
    EXPECT_EQ(kept, 99u);
    EXPECT_EQ(header[0], 0);
}

TEST_F(FwLayer, ReplyWithoutDataLeavesBufferAndLengthUntouched) {
    Add(Reply({}));
    Open();
    uint8_t buffer[4] = {9, 9, 9, 9};
    uint32_t kept = 1234;
    const Bytes frame = Frame('J', 4);
    EXPECT_EQ(FwTransact(frame.data(), 6, buffer, 4, &kept), 0);
    EXPECT_EQ(kept, 1234u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[3], 9);
}

TEST_F(FwLayer, NullBufferWithCapacityZeroDiscards) {
    Add(Reply(Bytes(50, 1)));
    Add(Reply({3}));
    Open();
    const Bytes frame = Frame('V', 50);
    uint32_t kept = 77;
    EXPECT_EQ(FwTransact(frame.data(), 6, nullptr, 0, &kept), 0);
    EXPECT_EQ(kept, 0u);
    uint8_t b = 0;
    EXPECT_EQ(FwCommand(1762, 0, &b, 1), 0);
    EXPECT_EQ(b, 3);
}

TEST_F(FwLayer, LinkKindOutsideOneToThreeFailsWithoutTraffic) {
    Open();
    for (int32_t kind : {0, 4, -1}) {
        g_linkKind = kind;
        uint8_t b = 0;
        EXPECT_EQ(FwCommand(1762, 0, &b, 1), 4) << "kind " << kind;
        EXPECT_EQ(FwStart(), 4);
    }
    EXPECT_TRUE(usb->writes.empty());
    g_linkKind = kLinkUsb;
}

TEST_F(FwLayer, NoLinkOpenIsAFailureNotAnEmptyReply) {
    Open();
    CloseLink();  // g_linkKind stays 2, but nothing is open
    uint8_t status[2] = {0, 2};
    EXPECT_EQ(FwReadStatus(status, 2), 4);
    EXPECT_EQ(FwWaitMode(2), 4);
}

struct WaitCase {
    const char* name;
    std::vector<Bytes> replies;  // repeated until the script is long enough
    uint8_t mode;
    int result;
    uint32_t minPolls;
    uint32_t maxPolls;
    bool fullSecond;  // the wait ran its whole 1,000 ms
    friend void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }
};

class FwWaitModeCases : public FwLayer, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(FwWaitModeCases, JudgesTheStatus) {
    const WaitCase& c = GetParam();
    for (const Bytes& r : c.replies) Add(r);
    // A printer that keeps answering with the last status.
    for (int k = 0; k < 2000; ++k) Add(c.replies.back());
    Open();
    usb->writes.clear();
    const uint32_t start = clock.TickCount();
    EXPECT_EQ(FwWaitMode(c.mode), c.result);
    const uint32_t elapsed = clock.TickCount() - start;
    const size_t polls = usb->writes.size();
    EXPECT_GE(polls, c.minPolls);
    EXPECT_LE(polls, c.maxPolls);
    for (const Bytes& w : usb->writes) EXPECT_EQ(w, Frame('E', 2));
    if (c.fullSecond) {
        EXPECT_GE(elapsed, 1000u);
        EXPECT_LT(elapsed, 1010u);
    } else {
        EXPECT_LT(elapsed, 100u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, FwWaitModeCases,
    ::testing::Values(
        WaitCase{"Ready", {Status(2, 1)}, 2, 0, 1, 1, false},
        WaitCase{"ReadyAfterBusy", {Status(2, 2), Status(2, 2), Status(3, 1), Status(2, 1)}, 2, 0,
                 4, 4, false},
        WaitCase{"DataModeReady", {Status(3, 1)}, 3, 0, 1, 1, false},
        WaitCase{"NormalModeFailsAtOnce", {Status(1, 1)}, 2, 4, 1, 1, false},
        WaitCase{"NormalModeBusyFailsAtOnce", {Status(1, 2)}, 3, 4, 1, 1, false},
        WaitCase{"FailedConditionFailsAtOnce", {Status(2, 0x80)}, 2, 4, 1, 1, false},
        WaitCase{"FailedConditionInDataMode", {Status(3, 0x80)}, 3, 4, 1, 1, false},
        WaitCase{"BusyRunsOut", {Status(2, 2)}, 2, 4, 100, 2000, true},
        WaitCase{"WrongModeRunsOut", {Status(3, 1)}, 2, 4, 100, 2000, true},
        WaitCase{"EmptyStatusRunsOut", {Reply({})}, 2, 4, 100, 2000, true},
        WaitCase{"NakEndsTheWait", {Reply({}, 0x15)}, 2, 3, 1, 1, false}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

TEST_F(FwLayer, EmptyBlockGoesOutAsFrameHeaderAndTrailer) {
    Add(Status(3, 1));
    Add(Reply({}));
    Open();
    usb->writes.clear();
    Bytes block(28);
    for (size_t k = 0; k < 24; ++k) block[k] = uint8_t(0x30 + k);
    block[24] = 0xAB;
    EXPECT_EQ(FwWriteBlock(block.data(), 28), 0);
    ASSERT_EQ(usb->writes.size(), 4u);
    EXPECT_EQ(usb->writes[0], Frame('E', 2));
    EXPECT_EQ(usb->writes[1], Frame('R', 28));
    EXPECT_EQ(usb->writes[2], Bytes(block.begin(), block.begin() + 24));
    EXPECT_EQ(usb->writes[3], Bytes(block.begin() + 24, block.end()));
    // Shorter than header and trailer: nothing goes out.
    usb->writes.clear();
    EXPECT_EQ(FwWriteBlock(block.data(), 27), 4);
    EXPECT_TRUE(usb->writes.empty());
}

TEST_F(FwLayer, PayloadFramesLeaveInTheirSeparateSends) {
    // GS R with 3 data bytes, then GS Q.
    for (int k = 0; k < 40; ++k) {
        Add(Status(k % 2 == 0 ? 3 : 2, 1));
        Add(Reply({}));
    }
    Open();
    auto expectSends = [&](const std::vector<Bytes>& sends) {
        ASSERT_EQ(usb->writes.size(), sends.size());
        for (size_t k = 0; k < sends.size(); ++k) EXPECT_EQ(usb->writes[k], sends[k]) << k;
        usb->writes.clear();
    };
    usb->writes.clear();
    // Even statuses answer mode 3: GS R first.
    Bytes block(24, 0);
    block[0] = 'M';
    block[1] = 'C';
    block[23] = 3;
    const Bytes data = {7, 8, 9};
    const Bytes trailer = {0, 24, 0x0E, 0};
    block.insert(block.end(), data.begin(), data.end());
    block.insert(block.end(), trailer.begin(), trailer.end());
    EXPECT_EQ(FwCommand(483, 0, block.data(), 31), 0);
    expectSends({Frame('E', 2), Frame('R', 31), Bytes(block.begin(), block.begin() + 24), data,
                 trailer});
    // Odd statuses answer mode 2: GS Q with the tag low byte first.
    uint8_t descriptor[13] = {1, 0, 0, 0, 0, 0, 0, 1, 0, 0x8F, 0x11, 0x91, 0x67};
    EXPECT_EQ(FwCommand(227, 'M' | ('C' << 8), descriptor, 13), 0);
    expectSends({Frame('E', 2), Frame('Q', 15), Bytes{'M', 'C'}, Bytes(descriptor, descriptor + 13)});
}

TEST_F(FwLayer, ReadBackAndTableFramesCarryTheirPayloads) {
    Add(Status(2, 1));
    Add(Reply({1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0x2C, 0x2C, 0x0A, 0xFF}));  // 14 bytes, 13 kept
    Add(Status(2, 1));
    Add(Reply({}));
    Add(Status(2, 1));
    Add(Reply({}));
    Add(Reply({}));  // GS W
    Add(Reply({}));  // GS A
    Add(Reply({'1', '.', '3'}, 0x59));  // FS Y: the code byte of a GS reply is not judged
    Open();
    usb->writes.clear();
    g_fwPacketSize = 4096;
    uint8_t descriptor[16] = {};
    EXPECT_EQ(FwBeginReadBack(reinterpret_cast<const uint8_t*>("ST"), descriptor, 13), 0);
    EXPECT_EQ(descriptor[12], 0x0A);
    EXPECT_EQ(descriptor[13], 0);
    ASSERT_EQ(usb->writes.size(), 3u);
    EXPECT_EQ(usb->writes[1], Frame('U', 6));
    EXPECT_EQ(usb->writes[2], (Bytes{'S', 'T', 0, 0, 0x10, 0}));
    usb->writes.clear();

    uint8_t table[32] = {};
    EXPECT_EQ(FwSendImageTable(table, 32), 0);
    ASSERT_EQ(usb->writes.size(), 3u);
    EXPECT_EQ(usb->writes[1], Frame('I', 32));
    EXPECT_EQ(usb->writes[2], Bytes(32, 0));
    usb->writes.clear();

    const uint8_t version[16] = {'1', '.', '3', ' ', ' ', ' ', ' ', ' ',
                                 ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(FwSetVersion(version, 16), 0);
    ASSERT_EQ(usb->writes.size(), 3u);
    EXPECT_EQ(usb->writes[1], Frame('N', 16));
    EXPECT_EQ(usb->writes[2], Bytes(version, version + 16));
    usb->writes.clear();

    EXPECT_EQ(FwCommand(740, 0, nullptr, 0), 0);
    EXPECT_EQ(FwCommand(224, 0, nullptr, 0), 0);
    uint8_t info[51] = {};
    EXPECT_EQ(FwCommand(1760, 0, info, 51), 0);
    EXPECT_EQ(info[2], '3');
    ASSERT_EQ(usb->writes.size(), 3u);
    EXPECT_EQ(usb->writes[0], Frame('W', 0));
    EXPECT_EQ(usb->writes[1], Frame('A', 0));
    EXPECT_EQ(usb->writes[2], Frame('Y', 51, 0x1C));
}

TEST_F(FwLayer, FinishAndCancelWaitOnlyWhenTheLowHalfOfTheFlagIsSet) {
    for (int k = 0; k < 8; ++k) {
        Add(Status(2, 1));
        Add(Reply({}));
    }
    Open();
    usb->writes.clear();
    EXPECT_EQ(FwCommand(480, 0x10000, nullptr, 0), 0);  // high half only: no wait
    ASSERT_EQ(usb->writes.size(), 1u);
    EXPECT_EQ(usb->writes[0], Frame('B', 0));
    usb->writes.clear();
    EXPECT_EQ(FwCancel(0), 0);
    ASSERT_EQ(usb->writes.size(), 1u);
    EXPECT_EQ(usb->writes[0], Frame('C', 0));
}

TEST_F(FwLayer, CommitWaitsForDataMode) {
    Add(Status(2, 1));  // mode 2 is not data mode: polls until ready in 3
    Add(Status(3, 1));
    Add(Reply({}));
    Open();
    usb->writes.clear();
    EXPECT_EQ(FwCommitSection(), 0);
    ASSERT_EQ(usb->writes.size(), 3u);
    EXPECT_EQ(usb->writes[2], Frame('S', 0));
}

}  // namespace
