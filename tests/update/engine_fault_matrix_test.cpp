// The fault matrix: for every frame of a complete update, the printer drops
// the link, refuses the frame, or falls silent on receipt of it. The update
// must end with 4 wherever the fault can change the outcome, cancel the
// maintenance run while the link still works, reconnect the way its link
// kind does, close the link, remove its backup file, and never leave the
// printer's ST area changed.
//
// The load file has the shipped file's shape (MC, ST placeholder, DP, FG,
// flagged Y, N, Y, Y, layout 6) with a few blocks per section instead of
// hundreds: every kind of frame and every boundary (first, middle and last
// block of a section, a block of 8,192 bytes and a shorter one) is there,
// and the hundreds of identical block frames of the embedded file would
// only repeat them. QUILLON_FULL_FAULT_MATRIX=1 runs the matrix over the
// embedded load file instead.
//
// Frames whose fault cannot change the outcome: the first FS Y refused
// (it only names the backup file: the bare name "QX.qfw", and the update
// goes on), and the frames after the printer's restart, which only confirm
// a version that is already written (a printer that cannot tell it still
// counts as updated) and, on TCP and the access library, reserve the
// printer again and release it at the end. A refused or lost reservation
// is retried after the next pause; only a printer that stays silent makes
// the reconnection run out of time. Every other fault must give 4.
//
// Beyond the result, every cell checks the whole reaction, on both sides
// of the link:
// - the exact frames the printer received from the faulted one to the end
//   of the run, GS E polls included. Nothing may follow a failed frame but
//   what the failure path sends (GS W where a read-back was open, GS C
//   while the link still works and the run had not reached its restart
//   wait) and what the reconnection sends once the printer is back: FS Y,
//   on TCP and the access library between the reservation FS = 1 and the
//   release FS = 2.
// - on TCP and the access library, every call the link made from the
//   start of the reconnection on: each attempt (TCP: a connect, refused
//   while the printer is off its link, or followed by the reservation; a
//   refused reservation closes the socket at once; access library: the
//   printer opened and reserved by the library; a failed open is followed
//   by a close of the link, which clears the selected printer's record),
//   and the end sequence (TCP: the release, then the sending side shut
//   down and the socket closed; access library: the exchange's end, the
//   release, the printer closed and the library terminated).
//
// The rows are link kinds and printer variants: a variant is a change to
// the scenario, so another kind of printer is one more row. On a flash-like
// printer an area is erased when its section (or an image table that moves
// it) begins, so a failed run may leave the ST area empty or half written:
// there the printer's own ST data must survive either intact on the printer
// or byte for byte in the archive that the run wrote before it wrote
// anything. Each cell archives into a folder of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/resource.h"
#include "tests/support/temp_dir.h"
#include "tests/update/link_rig.h"
#include "tests/update/load_file_builder.h"
#include "tests/update/st_survival.h"
#include "tests/update/update_fixture.h"

namespace {

using namespace testing_update;

// Notes how many frames the printer had received and how many calls the
// link had made when the reconnection began.
class ReconnectionMark : public IUpdateProgress {
public:
    explicit ReconnectionMark(LinkRig& rig) : rig_(rig) {}
    void OnPhase(UpdatePhase phase) override {
        if (phase != UpdatePhase::kReconnecting) return;
        frames = rig_.printer().frames().size();
        calls = rig_.calls().size();
    }
    void OnTransferPlan(uint32_t, uint32_t, uint64_t) override {}
    void OnSection(const char*, uint32_t, uint32_t) override {}
    void OnBlock(uint32_t, uint32_t, uint64_t) override {}

    size_t frames = 0;
    size_t calls = 0;

private:
    LinkRig& rig_;
};

// The calls of the reconnection that the matrix compares: everything but
// the transfers that went through and the socket's creation and options,
// which every attempt repeats alike.
std::string ReconnectionCalls(const std::vector<std::string>& calls, size_t from) {
    static const char* const kUnremarkable[] = {"socket", "send", "recv", "Write", "Read"};
    std::string out;
    for (size_t k = from; k < calls.size(); ++k) {
        const std::string& c = calls[k];
        bool skip = c.rfind("keepalive ", 0) == 0 || c.rfind("rcvtimeo ", 0) == 0;
        for (const char* u : kUnremarkable) skip = skip || c == u;
        if (skip) continue;
        out += (out.empty() ? "" : ", ") + c;
    }
    return out;
}

bool IsReservation(const sim::Frame& f) { return f.introducer == 0x1C && f.letter == '='; }

struct RunRecord {
    int result = -1;
    std::vector<sim::Frame> frames;
    std::vector<uint8_t> st;  // the printer's ST area afterwards
    int openResources = 0;
    std::vector<std::string> files;
    uint8_t errorCategory = 0;
    uint32_t faultsFired = 0;
    uint32_t restarts = 0;
    uint8_t mode = 0;
    size_t preamble = 0;
    size_t reconnectAt = 0;    // frames received when the reconnection began
    std::string reconnection;  // ReconnectionCalls from then on
};

// One complete update against a fresh printer; the ST archive goes into
// archiveFolder.
RunRecord RunOnce(LinkUnderTest kind, const sim::Scenario& scenario, const TempCwd& cwd,
                  const std::string& archiveFolder) {
    RunRecord rec;
    LinkRig rig(kind, scenario);
    if (!rig.OpenAndStart()) {
        ADD_FAILURE() << "the link did not open or the maintenance run did not start";
        return rec;
    }
    rec.preamble = rig.printer().frames().size();
    {
        UpdateErrorFields errors;
        ReconnectionMark mark(rig);
        UpdateOptions options;
        options.archiveFolder = archiveFolder;
        rec.result = RunFirmwareUpdate(errors.record, &mark, options, nullptr);
        rec.errorCategory = errors.category;
        rec.reconnectAt = mark.frames;
        rec.reconnection = ReconnectionCalls(rig.calls(), mark.calls);
    }
    // The frames without their payloads: the matrix needs only their order.
    rec.frames.reserve(rig.printer().frames().size());
    for (const sim::Frame& f : rig.printer().frames()) {
        sim::Frame light;
        light.introducer = f.introducer;
        light.letter = f.letter;
        light.parameter = f.parameter;
        light.refused = f.refused;
        light.unanswered = f.unanswered;
        if (IsReservation(f)) light.payload = f.payload;
        rec.frames.push_back(light);
    }
    if (const sim::Area* st = FindArea(rig.printer().areas(), "ST")) rec.st = st->data;
    rec.openResources = rig.openResources();
    rec.files = cwd.Files();
    rec.faultsFired = rig.printer().stats().faultsFired;
    rec.restarts = rig.printer().stats().restarts;
    rec.mode = rig.printer().mode();
    return rec;
}

const char* ActionName(sim::FaultAction a) {
    switch (a) {
        case sim::FaultAction::kDrop:
            return "drop";
        case sim::FaultAction::kNak:
            return "NAK";
        case sim::FaultAction::kSilent:
            return "silent";
        default:
            return "?";
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
// a leading '^', the reservation FS = with its request byte instead ("^=1"
// reserves, "^=2" releases); "!" marks a refused frame, "~" one that went
// unanswered.
std::string Token(const sim::Frame& f) {
    std::string s = f.introducer == 0x1C ? "^" : "";
    s += static_cast<char>(f.letter);
    if (IsReservation(f) && f.payload.size() == 1)
        s += std::to_string(f.payload[0]);
    else if (f.parameter != 0)
        s += std::to_string(f.parameter);
    if (f.refused) s += "!";
    if (f.unanswered) s += "~";
    return s;
}

std::string Tail(const std::vector<sim::Frame>& frames, size_t from) {
    std::string out;
    for (size_t k = from; k < frames.size(); ++k) {
        if (!out.empty()) out += ' ';
        out += Token(frames[k]);
    }
    return out;
}

std::string Joined(const std::string& a, const std::string& b) {
    return a.empty() ? b : b.empty() ? a : a + " " + b;
}

bool IsGs(const sim::Frame& f, char letter) { return f.introducer == 0x1D && f.letter == letter; }

// Where a frame of the clean run stands.
struct CleanRun {
    std::vector<sim::Frame> frames;
    size_t finishAt = 0;     // GS B
    size_t reconnectAt = 0;  // the first frame of the reconnection
    std::string reconnection;
};

// What one reconnection attempt comes to.
enum class Attempt {
    kDown,            // the printer is off its link: nothing opens
    kBack,            // the link is back
    kReserveRefused,  // the reservation was refused (NAK)
    kReserveLost,     // the printer left during the reservation
    kReserveSilent,   // the reservation was never answered
};

struct Reconnection {
    std::vector<Attempt> attempts;
    sim::FaultAction infoFault = sim::FaultAction::kPieces;     // none
    sim::FaultAction releaseFault = sim::FaultAction::kPieces;  // none
};

// The calls of the reconnection on TCP or the access library, as
// ReconnectionCalls writes them.
std::string ExpectedCalls(LinkUnderTest kind, const Reconnection& r) {
    using sim::FaultAction;
    std::vector<std::string> calls;
    const bool tcp = kind == LinkUnderTest::kTcp;
    // The first open closes the link the failure left open; on the access
    // library that only forgets it.
    if (tcp) calls = {"shutdown", "close"};
    std::string printer = sim::InProcessLibrary::kPrinterId;
    bool back = false;
    for (Attempt a : r.attempts) {
        const std::string open = "OpenPrinter " + printer;
        const char* connect = "connect 0.0.0.0:9100";
        switch (a) {
            case Attempt::kDown:
                if (tcp) {
                    calls.insert(calls.end(), {std::string(connect) + " refused", "close"});
                } else {
                    calls.push_back(open + " failed");
                }
                break;
            case Attempt::kBack:
                calls.push_back(tcp ? connect : open);
                if (!tcp) calls.push_back("Reserve1");
                back = true;
                break;
            case Attempt::kReserveRefused:
                if (tcp) {
                    calls.insert(calls.end(), {connect, "shutdown", "close"});
                } else {
                    calls.insert(calls.end(), {open, "Reserve1 refused", "ClosePrinter"});
                }
                break;
            case Attempt::kReserveLost:
                if (tcp) {
                    calls.insert(calls.end(), {connect, "recv eof", "shutdown", "close"});
                } else {
                    calls.insert(calls.end(), {open, "Reserve1 failed", "ClosePrinter"});
                }
                break;
            case Attempt::kReserveSilent:
                if (tcp) {
                    calls.insert(calls.end(), {connect, "recv timeout", "shutdown", "close"});
                } else {
                    calls.insert(calls.end(), {open, "Reserve1 timeout", "ClosePrinter"});
                }
                break;
        }
        // Closing the link after a failed library open clears the record
        // that names the printer.
        if (!tcp && a != Attempt::kBack) printer.clear();
    }
    if (back) {
        // FS Y, then the end sequence.
        switch (r.infoFault) {
            case FaultAction::kDrop:
                calls.push_back(tcp ? "recv eof" : "Read failed");
                break;
            case FaultAction::kSilent:
                calls.push_back(tcp ? "recv timeout" : "Read timeout");
                break;
            default:
                break;
        }
        if (!tcp) calls.insert(calls.end(), {"WriteReadComplete", "WriteReadComplete"});
        const bool infoLost = r.infoFault == FaultAction::kDrop;
        std::string release = tcp ? "" : "Reserve2";
        if (infoLost) {
            release = tcp ? "send reset" : "Reserve2 failed";
        } else if (r.releaseFault == FaultAction::kDrop) {
            release = tcp ? "recv eof" : "Reserve2 failed";
        } else if (r.infoFault == FaultAction::kSilent || r.releaseFault == FaultAction::kSilent) {
            release = tcp ? "recv timeout" : "Reserve2 timeout";
        } else if (r.releaseFault == FaultAction::kNak && !tcp) {
            release = "Reserve2 refused";
        }
        if (!release.empty()) calls.push_back(release);
        if (tcp) {
            calls.insert(calls.end(), {"shutdown", "close"});
        } else {
            calls.insert(calls.end(), {"ClosePrinter", "Terminate"});
        }
    }
    std::string out;
    for (const std::string& c : calls) out += (out.empty() ? "" : ", ") + c;
    return out;
}

// One cell: what the printer must receive from the faulted frame on, how
// the reconnection goes, and the result.
struct Expected {
    int result = 4;
    std::string tail;
    Reconnection reconnection;
};

Expected ExpectCell(LinkUnderTest kind, const CleanRun& clean, size_t index,
                    sim::FaultAction action) {
    using sim::FaultAction;
    const std::vector<sim::Frame>& frames = clean.frames;
    sim::Frame target = frames[index];
    target.refused = action == FaultAction::kNak;
    target.unanswered = !target.refused;
    const std::string hit = Token(target);
    const std::string rest = Tail(frames, index + 1);
    const std::string reconnectionFrames = Tail(frames, clean.reconnectAt);
    const bool reserves = kind != LinkUnderTest::kUsb;
    Expected e;

    if (index >= clean.reconnectAt) {
        // The reconnection's own frames: the update is already written.
        e.result = 0;
        e.reconnection.attempts = {Attempt::kDown, Attempt::kBack};
        const size_t offset = index - clean.reconnectAt;
        if (reserves && offset == 0) {
            // The reservation: refused or lost, it is tried again after the
            // next pause; unanswered, every try runs out of time.
            switch (action) {
                case FaultAction::kNak:
                    e.reconnection.attempts = {Attempt::kDown, Attempt::kReserveRefused,
                                               Attempt::kBack};
                    e.tail = Joined(hit, reconnectionFrames);
                    break;
                case FaultAction::kDrop:
                    e.reconnection.attempts = {Attempt::kDown, Attempt::kReserveLost,
                                               Attempt::kDown, Attempt::kBack};
                    e.tail = Joined(hit, reconnectionFrames);
                    break;
                default:
                    e.result = 4;
                    e.reconnection.attempts = {Attempt::kDown, Attempt::kReserveSilent,
                                               Attempt::kReserveSilent};
                    e.tail = hit;
                    break;
            }
            return e;
        }
        const bool info = offset == (reserves ? 1u : 0u);
        (info ? e.reconnection.infoFault : e.reconnection.releaseFault) = action;
        // A refused FS Y leaves the link working; after a lost or silent
        // one nothing more reaches the printer.
        e.tail = action == FaultAction::kNak ? Joined(hit, rest) : hit;
        return e;
    }

    if (action == FaultAction::kSilent) {
        // Nothing reaches a printer that fell silent; on TCP and the access
        // library every reservation runs out of time.
        e.tail = hit;
        e.reconnection.attempts = {Attempt::kReserveSilent, Attempt::kReserveSilent,
                                   Attempt::kReserveSilent};
        return e;
    }
    if (action == FaultAction::kNak && target.introducer == 0x1C) {
        // The first FS Y: the run goes on exactly as without the fault.
        e.result = 0;
        e.tail = Joined(hit, rest);
        e.reconnection.attempts = {Attempt::kDown, Attempt::kBack};
        return e;
    }
    std::string failurePath;
    if (action == FaultAction::kNak) {
        if (IsGs(target, 'V')) failurePath = "W";  // the read-back is ended first
        // The run is cancelled, without a wait; a printer still finishing
        // (a refused poll of the restart wait) is found on the link at once.
        if (index <= clean.finishAt) failurePath = Joined(failurePath, "C");
    }
    const bool restarting = action == FaultAction::kDrop || index <= clean.finishAt;
    e.reconnection.attempts = restarting ? std::vector<Attempt>{Attempt::kDown, Attempt::kBack}
                                         : std::vector<Attempt>{Attempt::kBack};
    e.tail = Joined(Joined(hit, failurePath), reconnectionFrames);
    return e;
}

struct MatrixRow {
    const char* name;
    LinkUnderTest kind;
    uint32_t layout;
    // Its areas are erased when writing them begins.
    bool flash = false;
    friend void PrintTo(const MatrixRow& r, std::ostream* os) { *os << r.name; }
};

class FaultMatrix : public ::testing::TestWithParam<MatrixRow> {};

TEST_P(FaultMatrix, EveryFrameOfACompleteUpdateUnderEveryFault) {
    const MatrixRow& row = GetParam();
    platform::SetTraceObserver([](std::string_view) {}, true);
    TempCwd cwd;
    const char* full = std::getenv("QUILLON_FULL_FAULT_MATRIX");
    const std::vector<uint8_t> file = ShippedShape();
    if (full == nullptr || std::string(full) != "1")
        platform::SetLoadFileOverride(file.data(), file.size());
    const auto started = std::chrono::steady_clock::now();
    size_t runs = 0;

    sim::Scenario base;
    base.layout = row.layout;
    base.flashErase = row.flash;
    const testsupport::CTempDir archives("fault-matrix-archives");
    const RunRecord cleanRun = RunOnce(row.kind, base, cwd, (archives.path() / "clean").string());
    ASSERT_EQ(cleanRun.result, 0);
    CleanRun clean;
    clean.frames = cleanRun.frames;
    clean.reconnectAt = cleanRun.reconnectAt;
    const size_t total = clean.frames.size();
    clean.finishAt = total;
    for (size_t k = 0; k < total; ++k)
        if (IsGs(clean.frames[k], 'B')) clean.finishAt = k;
    ASSERT_LT(clean.finishAt, total);
    ASSERT_LT(clean.reconnectAt, total);
    // The clean run's reconnection: one attempt while the printer restarts,
    // then the link is back.
    const bool reserves = row.kind != LinkUnderTest::kUsb;
    EXPECT_EQ(Tail(clean.frames, clean.reconnectAt), reserves ? "^=1 ^Y51 ^=2" : "^Y51");
    if (reserves) {
        EXPECT_EQ(cleanRun.reconnection,
                  ExpectedCalls(row.kind, Reconnection{{Attempt::kDown, Attempt::kBack}}));
    }
    const std::vector<uint8_t> originalSt = cleanRun.st;  // not written, or written with itself

    for (size_t index = cleanRun.preamble; index < total; ++index) {
        const sim::Frame& target = clean.frames[index];
        // The restart wait polls for as long as the printer finishes: the
        // first two polls and the last stand for the hundreds between.
        if (index > clean.finishAt + 2 && index + 1 < clean.reconnectAt && IsGs(target, 'E'))
            continue;
        for (sim::FaultAction action :
             {sim::FaultAction::kDrop, sim::FaultAction::kNak, sim::FaultAction::kSilent}) {
            SCOPED_TRACE(std::string(row.name) + ", frame " + std::to_string(index + 1) + " (" +
                         Describe(target) + "), " + ActionName(action));
            sim::Scenario scenario = base;
            sim::Fault fault;
            fault.atFrame = static_cast<uint32_t>(index + 1);
            fault.action = action;
            scenario.faults.push_back(fault);
            const std::filesystem::path archive = archives.path() / std::to_string(runs);
            const StArchiveWatch watch(archive);
            const RunRecord rec = RunOnce(row.kind, scenario, cwd, archive.string());
            ++runs;
            const Expected want = ExpectCell(row.kind, clean, index, action);

            ASSERT_EQ(rec.faultsFired, 1u);
            EXPECT_EQ(rec.result, want.result);
            EXPECT_EQ(Tail(rec.frames, index), want.tail);
            if (reserves) {
                EXPECT_EQ(rec.reconnection, ExpectedCalls(row.kind, want.reconnection));
            }
            if (action == sim::FaultAction::kNak && want.result != 0 && index <= clean.finishAt) {
                // The link still works: the cancelled run restarts the
                // printer into normal mode.
                EXPECT_EQ(rec.restarts, 1u);
                EXPECT_EQ(rec.mode, 1);
            }
            // Every socket is closed; a library printer stays open only
            // where the link never came back to close it.
            const bool cameBack = want.reconnection.attempts.back() == Attempt::kBack;
            if (row.kind != LinkUnderTest::kLibrary || cameBack) {
                EXPECT_EQ(rec.openResources, 0);
            }
            EXPECT_TRUE(rec.files.empty());
            EXPECT_EQ(rec.errorCategory, 0);
            if (row.flash) {
                EXPECT_TRUE(watch.Survived(originalSt, rec.st));
            } else {
                EXPECT_EQ(rec.st, originalSt);
            }
            std::error_code ec;
            std::filesystem::remove_all(archive, ec);
            // One failing cell is enough to read; the rest would repeat it.
            if (::testing::Test::HasFailure()) break;
        }
        if (::testing::Test::HasFailure()) break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault matrix (%s): %zu runs in %.2f s\n", row.name, runs, seconds);
    RecordProperty("runs", static_cast<int>(runs));
    RecordProperty("milliseconds", static_cast<int>(seconds * 1000));
    platform::ClearLoadFileOverride();
    platform::SetTraceObserver(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, FaultMatrix,
    ::testing::Values(MatrixRow{"SameLayout", LinkUnderTest::kUsb, 6},
                      MatrixRow{"OtherLayout", LinkUnderTest::kUsb, 5},
                      MatrixRow{"TcpSameLayout", LinkUnderTest::kTcp, 6},
                      MatrixRow{"TcpOtherLayout", LinkUnderTest::kTcp, 5},
                      MatrixRow{"LibrarySameLayout", LinkUnderTest::kLibrary, 6},
                      MatrixRow{"LibraryOtherLayout", LinkUnderTest::kLibrary, 5},
                      MatrixRow{"FlashSameLayout", LinkUnderTest::kUsb, 6, true},
                      MatrixRow{"FlashOtherLayout", LinkUnderTest::kUsb, 5, true}),
    [](const ::testing::TestParamInfo<MatrixRow>& info) { return std::string(info.param.name); });

}  // namespace
