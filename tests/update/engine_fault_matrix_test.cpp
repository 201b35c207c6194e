// The fault matrix: for every frame of a complete update, the printer drops
// the link, refuses the frame, or falls silent on receipt of it. Whatever
// the frame, the update must end with 4, cancel the maintenance run while
// the link still works, close the link, remove its backup file, and never
// leave the printer's ST area changed.
//
// The load file has the shipped file's shape (MC, ST placeholder, DP, FG,
// flagged Y, N, Y, Y, layout 6) with a few blocks per section instead of
// hundreds: every kind of frame and every boundary (first, middle and last
// block of a section, a block of 8,192 bytes and a shorter one) is there,
// and the hundreds of identical block frames of the embedded file would
// only repeat them. QUILLON_FULL_FAULT_MATRIX=1 runs the matrix over the
// embedded load file instead.
//
// The only frames whose fault cannot change the outcome are the two FS Y
// system-information requests: the first only names the backup file (a
// refused one gives the bare name "QX.qfw" and the update goes on), and the
// one after the printer's restart only confirms a version that is already
// written (a printer that cannot tell it still counts as updated). Every
// other fault must give 4.
//
// Beyond the result, every cell checks the whole reaction: the exact frames
// the printer received from the faulted one to the end of the run, GS E
// polls included. Nothing may follow a failed frame but what the failure
// path sends: GS W where a read-back was open, GS C while the link still
// works and the run had not reached its restart wait, and the
// reconnection's FS Y once the printer is back.
//
// The rows are printer variants: a variant is a change to the scenario,
// so another kind of printer is one more row.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/update_fixture.h"
#include "platform/resource.h"

namespace {

using namespace testing_update;

struct RunRecord {
    int result = -1;
    std::vector<sim::Frame> frames;
    std::vector<uint8_t> st;  // the printer's ST area afterwards
    int openHandles = 0;
    std::vector<std::string> files;
    uint8_t errorCategory = 0;
    uint32_t faultsFired = 0;
    uint32_t restarts = 0;
    uint8_t mode = 0;
    size_t preamble = 0;
};

// One complete update against a fresh printer.
RunRecord RunOnce(const sim::Scenario& scenario, const TempCwd& cwd) {
    RunRecord rec;
    sim::InProcessRig rig(scenario);
    g_linkKind = kLinkUsb;
    g_vendorIdText = "5B7D";
    g_productIdText = "0023";
    g_deviceIndexText.clear();
    g_fwPacketSize = 4096;
    if (OpenLink() == 0) {
        ADD_FAILURE() << "link did not open";
        return rec;
    }
    g_fwFramesEnabled = 1;
    uint8_t status[2] = {0, 2};
    if (FwStart() != 0) ADD_FAILURE() << "GS A failed";
    for (int k = 0; k < 100 && status[1] == 2; ++k) FwReadStatus(status, 2);
    rec.preamble = rig.printer.frames().size();
    {
        UpdateErrorFields errors;
        rec.result = RunFirmwareUpdate(errors.record, nullptr);
        rec.errorCategory = errors.category;
    }
    // The frames without their payloads: the matrix needs only their order.
    rec.frames.reserve(rig.printer.frames().size());
    for (const sim::Frame& f : rig.printer.frames()) {
        sim::Frame light;
        light.introducer = f.introducer;
        light.letter = f.letter;
        light.parameter = f.parameter;
        light.refused = f.refused;
        light.unanswered = f.unanswered;
        rec.frames.push_back(light);
    }
    if (const sim::Area* st = FindArea(rig.printer.areas(), "ST")) rec.st = st->data;
    rec.openHandles = rig.usb.openHandles();
    rec.files = cwd.Files();
    rec.faultsFired = rig.printer.stats().faultsFired;
    rec.restarts = rig.printer.stats().restarts;
    rec.mode = rig.printer.mode();
    CloseLink();
    g_linkKind = 0;
    return rec;
}

const char* ActionName(sim::FaultAction a) {
    switch (a) {
    case sim::FaultAction::kDrop: return "drop";
    case sim::FaultAction::kNak: return "NAK";
    case sim::FaultAction::kSilent: return "silent";
    default: return "?";
    }
}

std::string Describe(const sim::Frame& f) {
    std::string s = f.introducer == 0x1C ? "FS " : "GS ";
    s += static_cast<char>(f.letter);
    s += " " + std::to_string(f.parameter);
    return s;
}

std::vector<uint8_t> ShippedShape() {
    std::vector<BuiltSection> s(4);
    s[0].tag = "MC";
    s[0].data = Pattern(2 * 8192 + 4096, 1);
    s[0].loadAddress = 0x600D0000;
    s[1].tag = "ST";
    s[1].data = Placeholder(1536);
    s[1].flag = 'N';
    s[1].classValue = 0;
    s[1].loadAddress = 0x601ED000;
    s[2].tag = "DP";
    s[2].data = Pattern(8192 + 7424, 3);
    s[2].loadAddress = 0x601F0000;
    s[3].tag = "FG";
    s[3].data = Pattern(1984, 4);
    s[3].loadAddress = 0x60200000;
    return BuildLoadFile(s);
}


// One frame as the matrix writes it: "<letter><parameter>", FS frames with
// a leading '^'; "!" marks a refused frame, "~" one that went unanswered.
std::string Token(const sim::Frame& f) {
    std::string s = f.introducer == 0x1C ? "^" : "";
    s += static_cast<char>(f.letter);
    if (f.parameter != 0) s += std::to_string(f.parameter);
    if (f.refused) s += "!";
    if (f.unanswered) s += "~";
    return s;
}

std::string Tail(const std::vector<sim::Frame>& frames, size_t from) {
    std::string out;
    for (size_t k = from; k < frames.size(); ++k) out += (out.empty() ? "" : " ") + Token(frames[k]);
    return out;
}

bool IsGs(const sim::Frame& f, char letter) { return f.introducer == 0x1D && f.letter == letter; }

// What the printer must receive from the faulted frame on.
std::string ExpectedTail(const std::vector<sim::Frame>& clean, size_t index, size_t finishAt,
                         sim::FaultAction action) {
    sim::Frame target = clean[index];
    const bool lastFrame = index + 1 == clean.size();
    std::string tail;
    switch (action) {
    case sim::FaultAction::kSilent:
        target.unanswered = true;
        return Token(target);  // nothing reaches a printer that fell silent
    case sim::FaultAction::kDrop:
        target.unanswered = true;
        tail = Token(target);
        if (!lastFrame) tail += " ^Y51";  // the link is back for the reconnection
        return tail;
    case sim::FaultAction::kNak:
        target.refused = true;
        tail = Token(target);
        if (lastFrame) return tail;
        if (IsGs(target, 'V')) tail += " W";      // the read-back is ended first
        if (index <= finishAt) tail += " C";       // the run is cancelled, without a wait
        return tail + " ^Y51";
    default:
        return "?";
    }
}

struct PrinterVariant {
    const char* name;
    uint32_t layout;
    std::function<void(sim::Scenario&)> shape;  // null: the default printer
    friend void PrintTo(const PrinterVariant& v, std::ostream* os) { *os << v.name; }
};

class FaultMatrix : public ::testing::TestWithParam<PrinterVariant> {};

TEST_P(FaultMatrix, EveryFrameOfACompleteUpdateUnderEveryFault) {
    platform::SetTraceObserver([](std::string_view) {}, true);
    TempCwd cwd;
    const char* full = std::getenv("QUILLON_FULL_FAULT_MATRIX");
    const std::vector<uint8_t> file = ShippedShape();
    if (full == nullptr || std::string(full) != "1")
        platform::SetLoadFileOverride(file.data(), file.size());
    const auto started = std::chrono::steady_clock::now();
    size_t runs = 0;

    sim::Scenario base;
    base.layout = GetParam().layout;
    if (GetParam().shape) GetParam().shape(base);
    const RunRecord clean = RunOnce(base, cwd);
    ASSERT_EQ(clean.result, 0);
    const std::vector<uint8_t> originalSt = clean.st;  // not written, or written with itself
    const size_t total = clean.frames.size();
    size_t finishAt = total;  // index of GS B
    for (size_t k = 0; k < total; ++k)
        if (IsGs(clean.frames[k], 'B')) finishAt = k;
    ASSERT_LT(finishAt, total);

    for (size_t index = clean.preamble; index < total; ++index) {
        const sim::Frame& target = clean.frames[index];
        // The restart wait polls for as long as the printer finishes: the
        // first two polls and the last stand for the hundreds between.
        if (index > finishAt + 2 && index + 2 < total && IsGs(target, 'E')) continue;
        for (sim::FaultAction action :
             {sim::FaultAction::kDrop, sim::FaultAction::kNak, sim::FaultAction::kSilent}) {
            SCOPED_TRACE(std::string(GetParam().name) + ", frame " + std::to_string(index + 1) +
                         " (" + Describe(target) + "), " + ActionName(action));
            sim::Scenario scenario = base;
            sim::Fault fault;
            fault.atFrame = static_cast<uint32_t>(index + 1);
            fault.action = action;
            scenario.faults.push_back(fault);
            const RunRecord rec = RunOnce(scenario, cwd);
            ++runs;

            ASSERT_EQ(rec.faultsFired, 1u);
            const bool systemInfo = target.introducer == 0x1C;
            const bool lastFrame = index + 1 == total;
            const bool harmless = systemInfo && (lastFrame || action == sim::FaultAction::kNak);
            EXPECT_EQ(rec.result, harmless ? 0 : 4);
            if (harmless && !lastFrame) {
                // A refused first FS Y only names the backup file: the run
                // goes on exactly as without the fault.
                sim::Frame refused = target;
                refused.refused = true;
                EXPECT_EQ(Tail(rec.frames, index),
                          Token(refused) + Tail(clean.frames, index + 1).insert(0, " "));
            } else {
                EXPECT_EQ(Tail(rec.frames, index), ExpectedTail(clean.frames, index, finishAt, action));
            }
            if (action == sim::FaultAction::kNak && !harmless && index <= finishAt) {
                // The link still works: the cancelled run restarts the
                // printer into normal mode.
                EXPECT_EQ(rec.restarts, 1u);
                EXPECT_EQ(rec.mode, 1);
            }
            EXPECT_EQ(rec.openHandles, 0);
            EXPECT_TRUE(rec.files.empty());
            EXPECT_EQ(rec.errorCategory, 0);
            EXPECT_EQ(rec.st, originalSt);
            // One failing cell is enough to read; the rest would repeat it.
            if (::testing::Test::HasFailure()) break;
        }
        if (::testing::Test::HasFailure()) break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault matrix (%s): %zu runs in %.2f s\n", GetParam().name, runs, seconds);
    RecordProperty("runs", static_cast<int>(runs));
    RecordProperty("milliseconds", static_cast<int>(seconds * 1000));
    platform::ClearLoadFileOverride();
    platform::SetTraceObserver(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, FaultMatrix,
    ::testing::Values(PrinterVariant{"SameLayout", 6, nullptr},
                      PrinterVariant{"OtherLayout", 5, nullptr}),
    [](const ::testing::TestParamInfo<PrinterVariant>& info) { return std::string(info.param.name); });

}  // namespace
