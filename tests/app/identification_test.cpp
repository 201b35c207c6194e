// Dialog initialisation and identification against the virtual printer in
// virtual time: every result of identification and the message it leads to.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "platform/clock.h"
#include "tests/app/app_fixture.h"
#include "update/fw_commands.h"

namespace apptest {
namespace {

using platform::kIdCancel;
using platform::kIdOk;
using platform::kIdRetry;

constexpr uint32_t kExclamation = platform::kMbIconExclamation;             // 0x30
constexpr uint32_t kRetryCancel = platform::kMbRetryCancel | kExclamation;  // 0x35

class IdentificationTest : public AppTest {};

TEST_F(IdentificationTest, IdentifiedPrinterShowsBothVersions) {
    Printer();
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(Run(), kIdCancel);  // the script ends: the window is closed
    EXPECT_TRUE(window.Shown());
    EXPECT_TRUE(window.Boxes().empty());
    EXPECT_EQ(dlg.GetDlgItemText(kIdcMessage),
              "ファームウェアを以下のバージョンにアップデートします。\n\nVer1.3\n"
              "（現在のバージョン：Ver1.2）");
    EXPECT_EQ(dlg.m_strNewVersion, "1.3");
    EXPECT_EQ(dlg.m_strCurrentVersion, "1.2");
    EXPECT_EQ(std::memcmp(dlg.m_newVersion, "1.3             ", 16), 0);
    EXPECT_EQ(std::memcmp(dlg.m_currentVersion, "1.2             ", 16), 0);
    // Focus on the first tab stop, the Firmware Update button; icon 128
    // big and small.
    for (const WindowCall& c : window.calls) {
        if (c.kind == WindowCall::kShow) {
            EXPECT_EQ(c.id, kIdcUpdate);
        }
    }
    int icons = 0;
    for (const WindowCall& c : window.calls)
        if (c.kind == WindowCall::kIcon && c.id == kIdIconMain) ++icons;
    EXPECT_EQ(icons, 2);

    // What went to the printer: FS T until idle, GS A, GS E until not busy,
    // GS J with 32; the fixed USB settings and packet size.
    ASSERT_GE(frames().size(), 4u);
    EXPECT_EQ(frames()[0].introducer, 0x1C);
    EXPECT_EQ(frames()[0].letter, 'T');
    EXPECT_EQ(frames()[1].introducer, 0x1D);
    EXPECT_EQ(frames()[1].letter, 'A');
    EXPECT_EQ(frames().back().letter, 'J');
    EXPECT_EQ(frames().back().parameter, 32u);
    EXPECT_EQ(CountGs('E'), 3u) << "two busy replies, then ready";
    EXPECT_EQ(g_linkKind, kLinkUsb);
    EXPECT_EQ(g_vendorIdText, "5B7D");
    EXPECT_EQ(g_productIdText, "0023");
    EXPECT_EQ(g_deviceIndexText, "");
    EXPECT_EQ(g_fwPacketSize, 4096);
    EXPECT_EQ(g_fwFramesEnabled, 1);
    // An idle printer still costs the 100 ms wait, then 1 s after GS A and
    // 100 ms per busy status.
    EXPECT_GE(platform::TickCount() - start, 100u + 1000u + 200u);
    // The cancel command closed the link.
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kClosed);
}

// One row of the failure table: a printer, its answers, and the one box
// that ends the dialog before it is shown.
struct FailureCase {
    const char* name;
    int expectedResult;
    std::string text;  // the box's text ("" for no box)
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class IdentificationFailureTest : public AppTest,
                                  public ::testing::WithParamInterface<FailureCase> {
protected:
    void Arrange(const std::string& name) {
        sim::Scenario s;
        if (name == "busy_printer") s.busyPolls = 1000000;
        if (name == "maintenance_busy") s.maintenanceBusyPolls = 1000000;
        if (name == "start_refused") s.faults.push_back(Nak('A'));
        if (name == "status_refused") s.faults.push_back(Nak('E'));
        if (name == "header_refused") s.faults.push_back(Nak('J'));
        if (name == "maintenance_failed") s.startCondition = 0x80;
        Printer(s);
    }
    static sim::Fault Nak(char letter) { return sim::GsFault(letter, 1, sim::FaultAction::kNak); }
};

TEST_P(IdentificationFailureTest, EndsWithItsMessage) {
    const FailureCase& c = GetParam();
    Arrange(c.name);
    window.answers = {kIdOk};
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(Run(), kIdCancel);
    EXPECT_FALSE(window.Shown()) << "the dialog never becomes visible";
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, "確認");
    EXPECT_EQ(boxes[0].style, kExclamation);
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kIdentificationFailed);
    const uint32_t elapsed = platform::TickCount() - start;
    if (c.expectedResult == 8) {
        EXPECT_GE(elapsed, 60000u);
        EXPECT_LT(elapsed, 61000u);
        EXPECT_EQ(CountGs('A'), 0u) << "GS A is never sent to a busy printer";
    }
    if (c.expectedResult == 9) {
        EXPECT_GE(elapsed, 11000u);
        EXPECT_LT(elapsed, 12000u);
        EXPECT_EQ(CountGs('J'), 0u);
    }
    if (std::string(c.name) == "maintenance_failed") {
        // Condition 0x80 ends the status wait at once like any condition
        // but busy: GS J still goes out (and the failed printer refuses it).
        EXPECT_EQ(CountGs('J'), 1u);
        EXPECT_LT(elapsed, 2000u);
    }
    // Failures leave the link open; the link object closes it at the end.
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkUsb);
}

INSTANTIATE_TEST_SUITE_P(
    Results, IdentificationFailureTest,
    ::testing::Values(FailureCase{"busy_printer", 8, InternalError(0x22, 0xFFFFFFFE)},
                      FailureCase{"maintenance_busy", 9, InternalError(0x21, 0xFFFFFFFE)},
                      FailureCase{"start_refused", 3, InternalError(0xFF, 0xFFFFFFFF)},
                      FailureCase{"status_refused", 3, InternalError(0xFF, 0xFFFFFFFF)},
                      FailureCase{"header_refused", 3, InternalError(0xFF, 0xFFFFFFFF)},
                      FailureCase{"maintenance_failed", 3, InternalError(0xFF, 0xFFFFFFFF)}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// The maintenance status wait tests the time before the condition: a
// printer that turns ready after exactly 10,000 ms of the wait still gives
// 9, one ready a poll earlier is identified. Transfers cost no time here,
// so the polls fall every 100 ms of the wait exactly; the printer counts
// its busy time from GS A, 1,000 ms before the wait starts.
struct ReadyEdgeCase {
    const char* name;
    uint32_t busyMsAfterStart;
    bool identified;
    size_t polls;  // GS E polls: one at the start of the wait, then every 100 ms
};

void PrintTo(const ReadyEdgeCase& c, std::ostream* os) { *os << c.name; }

class MaintenanceReadyEdge : public AppTest, public ::testing::WithParamInterface<ReadyEdgeCase> {};

TEST_P(MaintenanceReadyEdge, TimeIsTestedBeforeTheCondition) {
    const ReadyEdgeCase& c = GetParam();
    sim::Scenario s;
    s.maintenanceBusyPolls = 0;
    s.maintenanceBusyMs = 1000 + c.busyMsAfterStart;
    Printer(s).usb.SetCostPerCall(0);
    window.answers = {kIdOk};
    Run();
    EXPECT_EQ(CountGs('E'), c.polls);
    if (c.identified) {
        EXPECT_TRUE(window.Shown());
        EXPECT_TRUE(window.Boxes().empty());
        EXPECT_EQ(CountGs('J'), 1u);
        EXPECT_EQ(dlg.m_strCurrentVersion, "1.2");
    } else {
        EXPECT_FALSE(window.Shown());
        const auto boxes = window.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, InternalError(0x21, 0xFFFFFFFE));
        EXPECT_EQ(CountGs('J'), 0u) << "the ready reply came too late to be looked at";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Polls, MaintenanceReadyEdge,
    ::testing::Values(ReadyEdgeCase{"ReadyAtExactlyTenSeconds", 10000, false, 101},
                      ReadyEdgeCase{"ReadyOnePollEarlier", 9900, true, 100}),
    [](const ::testing::TestParamInfo<ReadyEdgeCase>& info) { return info.param.name; });

TEST(IdentificationTextTest, InternalErrorCodes) {
    EXPECT_NE(InternalError(0x22, 0xFFFFFFFE).find("内部エラー：22-fffffffe"), std::string::npos);
    EXPECT_NE(InternalError(0x21, 0xFFFFFFFE).find("内部エラー：21-fffffffe"), std::string::npos);
    EXPECT_NE(InternalError(2, 0x1F).find("内部エラー：02-0000001f"), std::string::npos);
    EXPECT_NE(InternalError(0xFF, 0xFFFFFFFF).find("内部エラー：ff-ffffffff"), std::string::npos);
}

// The USB device: a write fails as the printer goes away under GS A.
class UnplugOnStart : public platform::UsbBackend {
public:
    explicit UnplugOnStart(sim::InProcessUsb& usb) : usb_(usb) {}
    bool ListDevices(std::vector<platform::UsbMember>* m, unsigned long* e) override {
        return usb_.ListDevices(m, e);
    }
    bool Open(const std::string& p, platform::DeviceHandle* h, unsigned long* e) override {
        return usb_.Open(p, h, e);
    }
    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* e) override {
        const auto* b = static_cast<const uint8_t*>(data);
        if (n >= 2 && b[0] == 0x1D && b[1] == 'A') usb_.SetPresent(false);
        return usb_.Write(h, data, n, done, e);
    }
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* e) override {
        return usb_.Read(h, data, n, done, e);
    }
    void Close(platform::DeviceHandle h) override { usb_.Close(h); }

private:
    sim::InProcessUsb& usb_;
};

TEST_F(IdentificationTest, FailedUsbWriteShowsTheLinkRecord) {
    Printer();
    rig->usb.SetFailureCode(0x1F);
    UnplugOnStart unplug(rig->usb);
    platform::SetUsbBackend(&unplug);
    window.answers = {kIdOk};
    EXPECT_EQ(Run(), kIdCancel);
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, InternalError(0x02, 0x1F));
    EXPECT_EQ(g_printerIO.m_errorCategory, 2);
    EXPECT_EQ(g_printerIO.m_errorDetail, 0x1Fu);
    platform::SetUsbBackend(&rig->usb);
}

TEST_F(IdentificationTest, CancelInTheConnectionBoxEndsSilently) {
    Printer();
    rig->usb.SetPresent(false);
    window.answers = {kIdRetry, kIdCancel};
    EXPECT_EQ(Run(), kIdCancel);
    EXPECT_FALSE(window.Shown());
    const auto boxes = window.Boxes();
    ASSERT_EQ(boxes.size(), 2u) << "Retry tries again; Cancel ends without another message";
    for (const WindowCall& b : boxes) {
        EXPECT_EQ(b.text, BoxText(kIdsConnectRetry));
        EXPECT_EQ(b.caption, "確認");
        EXPECT_EQ(b.style, kRetryCancel);
    }
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone) << "nothing is left open";
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kConnectionCancelled);
}

TEST_F(IdentificationTest, RetryAfterPluggingInConnects) {
    Printer();
    rig->usb.SetPresent(false);
    window.answers = {kIdRetry};
    window.onBox = [this](const WindowCall&) { rig->usb.SetPresent(true); };
    Run();
    EXPECT_EQ(window.Boxes().size(), 1u);
    EXPECT_TRUE(window.Shown());
    EXPECT_EQ(dlg.m_strCurrentVersion, "1.2");
}

struct VersionTextCase {
    const char* name;
    std::string imageVersion;  // as the printer reports it (padded to 16)
    std::string display;
};

void PrintTo(const VersionTextCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class VersionTextTest : public AppTest, public ::testing::WithParamInterface<VersionTextCase> {};

TEST_P(VersionTextTest, DisplayTextIsCutAtTheFirstBlankOrZero) {
    sim::Scenario s;
    s.imageVersion = GetParam().imageVersion;
    Printer(s);
    Run();
    ASSERT_TRUE(window.Shown());
    EXPECT_EQ(dlg.m_strCurrentVersion, GetParam().display);
    EXPECT_EQ(dlg.GetDlgItemText(kIdcMessage),
              FormatStringText(kIdsUpdateTarget, "1.3", GetParam().display.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionTextTest,
    ::testing::Values(VersionTextCase{"plain", "1.2", "1.2"},
                      VersionTextCase{"beta", "1.2 beta", "1.2"},
                      VersionTextCase{"sixteen", "1.2.3456789ABCDE", "1.2.3456789ABCDE"},
                      VersionTextCase{"zeros", std::string(16, '\0'), ""},
                      VersionTextCase{"not_utf8", "1.\xFF", "1.\xEF\xBF\xBD"}),
    [](const ::testing::TestParamInfo<VersionTextCase>& info) { return info.param.name; });

// The USB device: the printer's GS J reply comes back with 8 data bytes only.
class ShortImageHeader : public platform::UsbBackend {
public:
    explicit ShortImageHeader(sim::InProcessUsb& usb) : usb_(usb) {}
    bool ListDevices(std::vector<platform::UsbMember>* m, unsigned long* e) override {
        return usb_.ListDevices(m, e);
    }
    bool Open(const std::string& p, platform::DeviceHandle* h, unsigned long* e) override {
        return usb_.Open(p, h, e);
    }
    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* e) override {
        const auto* b = static_cast<const uint8_t*>(data);
        if (n >= 2 && b[0] == 0x1D && b[1] == 'J') {
            if (!usb_.Write(h, data, n, done, e)) return false;
            // Take the whole reply, then serve it with 8 data bytes.
            std::vector<uint8_t> reply(6 + 32);
            uint32_t have = 0;
            while (have < reply.size()) {
                uint32_t got = 0;
                if (!usb_.Read(h, reply.data() + have, static_cast<uint32_t>(reply.size()) - have,
                               &got, e))
                    return false;
                have += got;
            }
            reply[2] = reply[3] = reply[4] = 0;
            reply[5] = 8;
            pending_.assign(reply.begin(), reply.begin() + 6 + 8);
            return true;
        }
        return usb_.Write(h, data, n, done, e);
    }
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* e) override {
        if (!pending_.empty()) {
            const uint32_t k = std::min<uint32_t>(n, static_cast<uint32_t>(pending_.size()));
            std::memcpy(data, pending_.data(), k);
            pending_.erase(pending_.begin(), pending_.begin() + k);
            *done = k;
            return true;
        }
        return usb_.Read(h, data, n, done, e);
    }
    void Close(platform::DeviceHandle h) override { usb_.Close(h); }

private:
    sim::InProcessUsb& usb_;
    std::vector<uint8_t> pending_;
};

TEST_F(IdentificationTest, ShortImageHeaderLeavesNoStaleVersion) {
    Printer();
    ShortImageHeader shortHeader(rig->usb);
    platform::SetUsbBackend(&shortHeader);
    Run();
    platform::SetUsbBackend(&rig->usb);
    ASSERT_TRUE(window.Shown());
    const uint8_t zeros[16] = {};
    EXPECT_EQ(std::memcmp(dlg.m_currentVersion, zeros, 16), 0);
    EXPECT_EQ(dlg.m_strCurrentVersion, "");
}

TEST_F(IdentificationTest, TheConfigurationNeverChoosesTheLink) {
    Config("[MODEL]\nEntry=1\n[MODEL01]\nMODEL=other\nVID=1234\nPID=5678\n");
    Printer();
    Run();
    EXPECT_TRUE(window.Shown());
    EXPECT_EQ(dlg.m_models[0].vendorId, 0x1234);
    EXPECT_EQ(g_vendorIdText, "5B7D");
    EXPECT_EQ(g_productIdText, "0023");
}

}  // namespace
}  // namespace apptest
