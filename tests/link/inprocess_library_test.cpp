// The access-library link against the virtual printer in process: the
// relay library bound to the in-process library, on a virtual clock. The
// library records every call the link makes, in order.
#include "sim/transport/inprocess_library.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "tests/link/link_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class InProcessLibraryTest : public linktest::LinkTest {
protected:
    void Start(sim::Scenario s = sim::Scenario()) {
        rig = std::make_unique<sim::InProcessLibraryRig>(std::move(s), QV71XX_RELAY_PATH);
        ASSERT_NE(rig->library.module(), nullptr);
        g_libraries[0].module = rig->library.module();
        g_activeLibrary = 0;
        g_linkKind = kLinkLibrary;
        memcpy(g_selectedPrinter.bytes + 8, sim::InProcessLibrary::kPrinterId, 8);
    }
    void TearDown() override {
        LinkTest::TearDown();  // closes the library link while the library is bound
        rig.reset();
    }
    // The calls from index `from` on.
    Calls CallsFrom(size_t from) const {
        const Calls& c = rig->library.calls();
        return Calls(c.begin() + static_cast<std::ptrdiff_t>(from), c.end());
    }
    std::string FrameLetters() const {
        std::string s;
        for (const sim::Frame& f : rig->printer.frames()) {
            s += static_cast<char>(f.letter);
            if (f.refused) s += '!';
        }
        return s;
    }

    std::unique_ptr<sim::InProcessLibraryRig> rig;
};

TEST_F(InProcessLibraryTest, OpenExchangeAndCloseReachThePrinterInOrder) {
    Start();
    ASSERT_EQ(OpenLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkLibrary);
    EXPECT_EQ(CallsFrom(0), (Calls{"OpenPrinter SIM00001", "Reserve1"}));

    uint8_t info[51] = {};
    ASSERT_EQ(QuerySystemInfo(info), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info) + 38, 4), "1.2 ");
    // One write for the frame, reads until header and payload are in, and
    // the exchange's end.
    EXPECT_EQ(CallsFrom(2), (Calls{"Write", "Read", "Read", "WriteReadComplete"}));

    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(CallsFrom(6), (Calls{"WriteReadComplete", "Reserve2", "ClosePrinter", "Terminate"}));
    EXPECT_EQ(rig->library.openPrinters(), 0);
    for (uint8_t b : g_selectedPrinter.bytes) ASSERT_EQ(b, 0);
    // The reservation and its release are the printer's FS = frames.
    EXPECT_EQ(FrameLetters(), "=Y=");
    EXPECT_TRUE(traces.empty());
}

TEST_F(InProcessLibraryTest, RefusedReservationGivesThePrinterHandleBack) {
    sim::Scenario s;
    sim::Fault nak;
    nak.introducer = 0x1C;
    nak.letter = '=';
    nak.action = sim::FaultAction::kNak;
    s.faults.push_back(nak);
    Start(s);
    EXPECT_EQ(OpenLink(), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_hPrinter, -1);
    EXPECT_EQ(CallsFrom(0), (Calls{"OpenPrinter SIM00001", "Reserve1 refused", "ClosePrinter"}));
    EXPECT_EQ(rig->library.openPrinters(), 0);
    EXPECT_EQ(FrameLetters(), "=!");
    EXPECT_TRUE(traces.empty()) << "the library path writes no trace";
}

TEST_F(InProcessLibraryTest, PrinterOffItsLinkDoesNotOpen) {
    sim::Scenario s;
    sim::Fault drop;
    drop.atFrame = 2;
    drop.action = sim::FaultAction::kDrop;
    s.faults.push_back(drop);
    Start(s);
    ASSERT_EQ(OpenLink(), 1);
    uint8_t info[51] = {};
    EXPECT_EQ(QuerySystemInfo(info), 17);  // dropped on receipt of FS Y
    EXPECT_EQ(CallsFrom(2), (Calls{"Write", "Read failed", "WriteReadComplete"}));

    const size_t before = rig->library.calls().size();
    EXPECT_EQ(OpenLink(), 0);
    // The open forgets the old link without closing its printer handle.
    EXPECT_EQ(CallsFrom(before), (Calls{"OpenPrinter SIM00001 failed"}));
    EXPECT_EQ(rig->library.openPrinters(), 1);
}

TEST_F(InProcessLibraryTest, SilentPrinterFailsTheReadAfterTheLibrarysWait) {
    sim::Scenario s;
    sim::Fault silent;
    silent.atFrame = 2;
    silent.action = sim::FaultAction::kSilent;
    s.faults.push_back(silent);
    Start(s);
    ASSERT_EQ(OpenLink(), 1);
    const uint32_t start = platform::TickCount();
    uint8_t info[51] = {};
    EXPECT_EQ(QuerySystemInfo(info), 17);
    EXPECT_GE(platform::TickCount() - start, 30000u);
    EXPECT_EQ(CallsFrom(2), (Calls{"Write", "Read timeout", "WriteReadComplete"}));
    EXPECT_EQ(TracesWith("m_qv71XXRead").size(), 1u);
}

TEST(RelayLibraryTest, UnboundRelayOpensNothing) {
    const platform::ModuleHandle relay = platform::LoadDynamicLibrary(QV71XX_RELAY_PATH);
    ASSERT_NE(relay, nullptr);
    ResetLinkForTest();
    EXPECT_EQ(g_printerIO.OpenLibrary(relay), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    using Write = int32_t(QV_CALL*)(int32_t, const void*, int32_t, int32_t*);
    auto write = reinterpret_cast<Write>(platform::FindSymbol(relay, "qv71XXWrite"));
    ASSERT_NE(write, nullptr);
    int32_t written = 0;
    EXPECT_EQ(write(1, "x", 1, &written), 1167);
    ResetLinkForTest();
    platform::FreeDynamicLibrary(relay);
}

}  // namespace
