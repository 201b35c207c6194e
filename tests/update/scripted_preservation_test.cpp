// ST area preservation against replies that a healthy printer does not
// send: a descriptor whose checksum does not match the data, an area length
// that is negative as a signed number, a packet that breaks off. The
// printer's side is a scripted reply stream on a virtual clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"
#include "tests/update/scripted_link_fixture.h"
#include "tests/update/temp_cwd.h"
#include "update/checksum.h"
#include "update/fw_commands.h"
#include "update/load_image.h"
#include "update/update_context.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

Bytes Status(uint8_t mode, uint8_t condition) { return Reply({mode, condition}); }

// 1,536 bytes whose sum is 0x1192 and whose XOR is 0.
Bytes DataSumming1192() {
    Bytes d(1536, 3);  // 0x1200
    for (int k = 0; k < 110; ++k) d[k] = 2;
    return d;
}

Bytes PrinterTable(uint32_t stLength, uint32_t layout = 6) {
    Bytes t(32 + 64, 0);
    t[7] = uint8_t(layout);
    t[25] = 1;
    t[32] = 'S';
    t[33] = 'T';
    t[32 + 20] = uint8_t(stLength >> 24);
    t[32 + 21] = uint8_t(stLength >> 16);
    t[32 + 22] = uint8_t(stLength >> 8);
    t[32 + 23] = uint8_t(stLength);
    return t;
}

Bytes DescriptorWithSum(uint16_t sum, uint8_t x) {
    return {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, uint8_t(sum >> 8), uint8_t(sum), x};
}

Bytes Packet(const Bytes& data) {
    Bytes p(24, 0);
    p.insert(p.end(), data.begin(), data.end());
    p.insert(p.end(), 4, 0);
    return p;
}

class ScriptedPreservation : public ScriptedLinkTest {
protected:

    // Opens the link over the script and prepares a context as the update
    // has it after GS J (32): a printer of layout 6 with one area.
    void Prepare() {
        OpenScriptedLink();
        if (HasFatalFailure()) return;
        ctx = std::make_unique<UpdateContext>(errors.record, nullptr);
        ctx->backupPath = (cwd.path() / "IDQX.qfw").string();
        ASSERT_EQ(OpenLoadImage(&ctx->image), LoadImageStatus::kOk);
        const Bytes header = PrinterTable(0);
        std::copy(header.begin(), header.begin() + 32, ctx->printerHeader);
        usb->writes.clear();
    }
    bool Sent(char letter) const {
        for (const Bytes& w : usb->writes)
            if (w.size() == 6 && w[0] == 0x1D && w[1] == uint8_t(letter)) return true;
        return false;
    }

    TempCwd cwd;
    UpdateErrorFields errors;
    std::unique_ptr<UpdateContext> ctx;
};

TEST_F(ScriptedPreservation, ReadBackMustMatchThePrintersChecksum) {
    for (uint16_t sum : {uint16_t(0x1191), uint16_t(0x1192)}) {
        SCOPED_TRACE(sum);
        script.clear();
        const Bytes data = DataSumming1192();
        Add(Reply(PrinterTable(1536)));
        Add(Status(2, 1));
        Add(Reply(DescriptorWithSum(sum, 0)));
        Add(Reply(Packet(data)));
        Add(Reply({}));  // GS W
        Prepare();
        const int r = PreserveStArea(*ctx);
        const std::filesystem::path backup = ctx->backupPath;
        if (sum == 0x1191) {
            EXPECT_EQ(r, 4);
            EXPECT_FALSE(std::filesystem::exists(backup));
            EXPECT_EQ(errors.category, 0);
        } else {
            EXPECT_EQ(r, 0);
            Bytes saved;
            {
                // Closed before the file is removed (Windows refuses to
                // remove an open file).
                std::ifstream in(backup, std::ios::binary);
                saved.assign(std::istreambuf_iterator<char>(in), {});
            }
            EXPECT_EQ(saved, data);
            // The placeholder in the image now holds the printer's data.
            EXPECT_TRUE(std::equal(data.begin(), data.end(), ctx->image.Data(1)));
            EXPECT_EQ(ctx->image.TrailerChecksum(1), (Checksum{0x1192, 0}));
            std::filesystem::remove(backup);
        }
        EXPECT_TRUE(Sent('W'));
        CloseLink();
    }
}

TEST_F(ScriptedPreservation, AreaLengthIsUnsigned) {
    // 0x80000000 is negative as a signed number and would pass "at most the
    // entry's 1,536 bytes"; it is no ST area the load file can take.
    Add(Reply(PrinterTable(0x80000000u)));
    Prepare();
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_FALSE(Sent('U'));
    EXPECT_EQ(errors.category, 0x71);
    EXPECT_EQ(errors.detail, 2u);
}

TEST_F(ScriptedPreservation, PacketWithoutItsDataFailsAndStillEndsTheReadBack) {
    const Bytes data = DataSumming1192();
    Add(Reply(PrinterTable(1536)));
    Add(Status(2, 1));
    Add(Reply(DescriptorWithSum(0x1192, 0)));
    Bytes shortPacket = Packet(data);
    shortPacket.resize(24 + 1000);
    Add(Reply(shortPacket));
    Add(Reply({}));  // GS W
    Prepare();
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_TRUE(Sent('W'));
    EXPECT_FALSE(std::filesystem::exists(ctx->backupPath));
}

TEST_F(ScriptedPreservation, PacketSizeZeroIsRefusedBeforeAnyFrame) {
    Add(Reply(PrinterTable(1536)));
    Prepare();
    g_fwPacketSize = 0;
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_FALSE(Sent('U'));
}

}  // namespace
