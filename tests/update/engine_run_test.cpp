// Whole updates with the embedded load file against the virtual printer, in
// virtual time: the complete frame order, what each section carries, and
// how the run ends after the printer's restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/sections_sent.h"
#include "tests/update/update_fixture.h"
#include "update/load_image.h"
#include "update/progress.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

const char kLayout6Order[] =
    "^Y51 O1 J32 J288 U6 V1564 W J32 "
    "Q15 R8220*142 R4124 S Q15 R8220*7 R7452 S Q15 R8220*73 R2012 S N16 B ^Y51";

const char kLayout5Order[] =
    "^Y51 O1 J32 J288 U6 V1564 W J288 U6 V1564 W J32 I288 "
    "Q15 R8220*142 R4124 S Q15 R1564 S Q15 R8220*7 R7452 S Q15 R8220*73 R2012 S N16 B ^Y51";

std::vector<uint8_t> SectionData(const LoadImage& image, uint32_t k) {
    const uint8_t* d = image.Data(k);
    return std::vector<uint8_t>(d, d + image.EntryAt(k).dataLength);
}

// Snapshots the current directory when the transfer starts: the backup
// file exists then.
class DirectoryAtTransfer : public IUpdateProgress {
public:
    explicit DirectoryAtTransfer(const TempCwd& cwd) : cwd_(cwd) {}
    void OnPhase(UpdatePhase phase) override {
        phases.push_back(phase);
        if (phase == UpdatePhase::kTransferring) {
            files = cwd_.Files();
            for (const std::string& name : files) {
                std::FILE* f = std::fopen(name.c_str(), "rb");
                if (f == nullptr) continue;
                std::vector<uint8_t> bytes(4096);
                bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
                std::fclose(f);
                contents.push_back(bytes);
            }
        }
    }
    void OnTransferPlan(uint32_t s, uint32_t b, uint64_t n) override {
        planSections = s;
        planBlocks = b;
        planBytes = n;
    }
    void OnSection(const char tag[2], uint32_t, uint32_t) override {
        tags.push_back(std::string(tag, 2));
    }
    void OnBlock(uint32_t, uint32_t, uint64_t bytes) override { lastBytes = bytes; }

    std::vector<UpdatePhase> phases;
    std::vector<std::string> files;
    std::vector<std::vector<uint8_t>> contents;
    std::vector<std::string> tags;
    uint32_t planSections = 0, planBlocks = 0;
    uint64_t planBytes = 0, lastBytes = 0;

private:
    const TempCwd& cwd_;
};

class CompleteRun : public UpdateTest {
protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    }
    LoadImage image;
};

TEST_F(CompleteRun, SameLayoutSendsMcDpFgAndFinishes) {
    Start();
    const std::vector<uint8_t> originalSt = FindArea(rig->printer.areas(), "ST")->data;
    DirectoryAtTransfer progress(cwd);
    progress_ = &progress;

    ASSERT_EQ(Update(), 0);
    EXPECT_EQ(Order(), kLayout6Order);

    const std::vector<SentSection> sent = SectionsSent(frames(), preamble);
    ASSERT_EQ(sent.size(), 3u);
    const uint32_t entries[] = {0, 2, 3};
    const uint16_t blocks[] = {143, 8, 74};
    const uint32_t lastBlock[] = {4096, 7424, 1984};
    for (size_t s = 0; s < 3; ++s) {
        const uint32_t k = entries[s];
        const Checksum c = image.TrailerChecksum(k);
        EXPECT_EQ(sent[s].tag, std::string(image.EntryAt(k).tag, 2));
        EXPECT_EQ(sent[s].descriptor, Descriptor(1, 1, blocks[s], c.sum, c.xorValue));
        EXPECT_EQ(sent[s].blockLengths.size(), blocks[s]);
        EXPECT_EQ(sent[s].blockLengths.back(), lastBlock[s]);
        EXPECT_TRUE(sent[s].data == SectionData(image, k)) << sent[s].tag;
        EXPECT_TRUE(sent[s].committed);
    }
    // The shipped checksums of MC as the descriptor carries them.
    EXPECT_EQ(sent[0].descriptor, Descriptor(1, 1, 143, 0x1191, 0x67));

    const std::vector<sim::Frame> u = FramesOf(frames(), 'U', preamble);
    ASSERT_EQ(u.size(), 1u);
    EXPECT_EQ(u[0].payload, (std::vector<uint8_t>{'S', 'T', 0, 0, 0x10, 0x00}));
    const std::vector<sim::Frame> n = FramesOf(frames(), 'N', preamble);
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(std::string(n[0].payload.begin(), n[0].payload.end()), "1.3             ");

    // The printer: new version, its own ST area untouched.
    EXPECT_EQ(rig->printer.version(), "1.3 ");
    EXPECT_EQ(FindArea(rig->printer.areas(), "ST")->data, originalSt);
    EXPECT_EQ(rig->printer.mode(), 1);

    // The backup file held the printer's ST data during the transfer and is
    // gone afterwards; the link is closed.
    ASSERT_EQ(progress.files, std::vector<std::string>{"ZKQ00001QX.qfw"});
    EXPECT_EQ(progress.contents[0], originalSt);
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, 0);
    EXPECT_EQ(errors.category, 0);

    // Progress: the plan, every block, the sections in order, each phase.
    EXPECT_EQ(progress.planSections, 3u);
    EXPECT_EQ(progress.planBlocks, 143u + 8u + 74u);
    EXPECT_EQ(progress.planBytes, 0x11D000u + 0xFD00u + 0x927C0u);
    EXPECT_EQ(progress.lastBytes, progress.planBytes);
    EXPECT_EQ(progress.tags, (std::vector<std::string>{"MC", "DP", "FG"}));
    EXPECT_EQ(progress.phases.front(), UpdatePhase::kPreparing);
    EXPECT_EQ(progress.phases.back(), UpdatePhase::kDone);
}

TEST_F(CompleteRun, OtherLayoutSendsTheImageTableAndTheStFromItsSlot) {
    sim::Scenario scenario;
    scenario.layout = 5;
    scenario.areas = sim::DefaultAreas();
    // The printer's own ST area: its attribute word differs from the load
    // file's, so the image table shows whose bytes it carries.
    for (sim::Area& a : scenario.areas) {
        if (a.tag != "ST") continue;
        a.attribute = 0x00020003;
        a.data = Pattern(1536, 77);
    }
    Start(scenario);
    const std::vector<uint8_t> originalSt = FindArea(rig->printer.areas(), "ST")->data;
    const Checksum stSum = ComputeChecksum(originalSt.data(), originalSt.size());

    ASSERT_EQ(Update(), 0);
    EXPECT_EQ(Order(), kLayout5Order);

    const std::vector<sim::Frame> tables = FramesOf(frames(), 'I', preamble);
    ASSERT_EQ(tables.size(), 1u);
    const std::vector<uint8_t>& t = tables[0].payload;
    ASSERT_EQ(t.size(), 288u);
    std::vector<uint8_t> header(32, 0);
    header[0] = 1;      // class value of the first section
    header[7] = 6;      // the load file's layout
    std::memcpy(header.data() + 8, "1.3             ", 16);
    header[25] = 4;     // entry count
    EXPECT_EQ(std::vector<uint8_t>(t.begin(), t.begin() + 32), header);
    for (uint32_t k = 0; k < 4; ++k) {
        const uint8_t* e = t.data() + 32 + k * 64;
        const LoadImage::Entry le = image.EntryAt(k);
        std::vector<uint8_t> want(64, 0);
        want[0] = uint8_t(le.tag[0]);
        want[1] = uint8_t(le.tag[1]);
        const uint32_t attribute = k == 1 ? 0x00020003u : 1u;  // ST: the printer's word
        for (int b = 0; b < 4; ++b) {
            want[4 + b] = uint8_t(attribute >> (24 - 8 * b));
            want[8 + b] = uint8_t(le.loadAddress >> (24 - 8 * b));
            want[12 + b] = uint8_t(le.areaSize >> (24 - 8 * b));
        }
        EXPECT_EQ(std::vector<uint8_t>(e, e + 64), want) << "entry " << k;
    }

    const std::vector<SentSection> sent = SectionsSent(frames(), preamble);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1].tag, "ST");
    // Class byte and attribute from the load file's section header, the
    // checksum read back from the printer, the data from the slot.
    EXPECT_EQ(sent[1].descriptor, Descriptor(0, 1, 1, stSum.sum, stSum.xorValue));
    EXPECT_EQ(sent[1].data, originalSt);
    for (size_t s : {0u, 2u, 3u}) {
        const uint32_t k = static_cast<uint32_t>(s);
        EXPECT_TRUE(sent[s].data == SectionData(image, k)) << sent[s].tag;
    }
    EXPECT_EQ(FindArea(rig->printer.areas(), "ST")->data, originalSt);
    EXPECT_EQ(rig->printer.version(), "1.3 ");
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

TEST_F(CompleteRun, BusyAfterFinishFailsAfterNinetySecondsAndStillReconnects) {
    sim::Scenario scenario;
    scenario.finishBusyPolls = 0xFFFFFFFF;
    Start(scenario);
    const uint32_t before = rig->clock.TickCount();
    EXPECT_EQ(Update(), 4);
    const std::vector<sim::Frame>& f = frames();
    // GS B, then polls for 90 s, then the reconnection reads the system
    // information.
    size_t b = f.size();
    for (size_t k = preamble; k < f.size(); ++k)
        if (f[k].introducer == 0x1D && f[k].letter == 'B') b = k;
    ASSERT_LT(b, f.size());
    EXPECT_GT(CountFrames(f, 'E', b), 100u);
    EXPECT_EQ(f.back().introducer, 0x1C);
    EXPECT_EQ(f.back().letter, 'Y');
    EXPECT_EQ(CountFrames(f, 'C', preamble), 0u);
    EXPECT_GE(rig->clock.TickCount() - before, 90000u + 10000u);
    EXPECT_EQ(rig->clock.sleeps(), 1u);
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

TEST_F(CompleteRun, PrinterNotBackWithinNinetySecondsFails) {
    sim::Scenario scenario;
    scenario.restartDelayMs = 600000;
    Start(scenario);
    EXPECT_EQ(Update(), 4);
    // One attempt every 10 s until 90 s have passed.
    EXPECT_EQ(rig->clock.sleeps(), 9u);
    EXPECT_EQ(rig->clock.sleptMs(), 90000u);
    EXPECT_EQ(CountFrames(frames(), 'Y', preamble), 0u);
    EXPECT_EQ(frames().back().letter, 'E');
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

TEST_F(CompleteRun, SystemInformationUnreadableAfterTheRestartStillSucceeds) {
    sim::Scenario scenario;
    sim::Fault fault;
    fault.introducer = 0x1C;
    fault.letter = 'Y';
    fault.occurrence = 2;
    fault.action = sim::FaultAction::kNak;
    scenario.faults.push_back(fault);
    Start(scenario);
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(rig->printer.stats().faultsFired, 1u);
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

TEST_F(CompleteRun, SystemInformationUnreadableAtTheStartGivesABareBackupName) {
    sim::Scenario scenario;
    sim::Fault fault;
    fault.introducer = 0x1C;
    fault.letter = 'Y';
    fault.occurrence = 1;
    fault.action = sim::FaultAction::kNak;
    scenario.faults.push_back(fault);
    Start(scenario);
    DirectoryAtTransfer progress(cwd);
    progress_ = &progress;
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(progress.files, std::vector<std::string>{"QX.qfw"});
    EXPECT_TRUE(cwd.Files().empty());
}

TEST_F(CompleteRun, IdentifierThatNamesAnotherDirectoryEndsBeforeAnyMaintenanceFrame) {
    sim::Scenario scenario;
    scenario.identifier = "../ZK";
    Start(scenario);
    EXPECT_EQ(Update(), 4);
    EXPECT_EQ(Order(), "^Y51");
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_TRUE(cwd.Files().empty());
}

struct VersionCase {
    const char* name;
    const char* printerVersion;  // what the printer reports after its restart
    int result;
    friend void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
};

class VersionAfterRestart : public UpdateTest, public ::testing::WithParamInterface<VersionCase> {
protected:
    Bytes file_;
};

// A load file whose entries are all flagged 'N' sends no version text, so
// the printer comes back with the version it had; the first four
// characters of it are compared with the load file's "1.3 ".
TEST_P(VersionAfterRestart, ComparesTheFirstFourCharacters) {
    std::vector<BuiltSection> s(2);
    s[0].tag = "MC";
    s[0].data = Pattern(300, 1);
    s[0].flag = 'N';
    s[0].areaSize = 4096;
    s[1].tag = "ST";
    s[1].data = Placeholder(1536);
    s[1].flag = 'N';
    s[1].classValue = 0;
    file_ = BuildLoadFile(s, 6, "1.3");
    platform::SetLoadFileOverride(file_.data(), file_.size());
    sim::Scenario scenario;
    scenario.version = GetParam().printerVersion;
    Start(scenario);
    EXPECT_EQ(Update(), GetParam().result);
    EXPECT_EQ(Order(), "^Y51 O1 J32 J288 U6 V1564 W J32 J288 Q15 R328 S Q15 R1564 S B ^Y51");
    EXPECT_EQ(rig->printer.version(), std::string(GetParam().printerVersion) +
                                          std::string(4 - std::strlen(GetParam().printerVersion), ' '));
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionAfterRestart,
                         ::testing::Values(VersionCase{"OneDotThreeBlank", "1.3", 0},
                                           VersionCase{"OneDotThirty", "1.30", 4},
                                           VersionCase{"OneDotTwo", "1.2", 4}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             return std::string(info.param.name);
                         });

struct LoadFileLimitCase {
    const char* name;
    size_t sections;
    friend void PrintTo(const LoadFileLimitCase& c, std::ostream* os) { *os << c.name; }
};

class LoadFileLimits : public UpdateTest, public ::testing::WithParamInterface<LoadFileLimitCase> {
protected:
    Bytes file_;
};

// The map holds 64 load-file entries; a file with more, or with none, ends
// the run before any maintenance frame, and the link is closed.
TEST_P(LoadFileLimits, EndBeforeAnyMaintenanceFrame) {
    std::vector<BuiltSection> s(GetParam().sections);
    for (size_t k = 0; k < s.size(); ++k) {
        s[k].tag = k == 1 ? "ST" : "X" + std::string(1, char('A' + k % 26));
        s[k].data = Pattern(16, static_cast<uint32_t>(k));
    }
    file_ = BuildLoadFile(s);
    platform::SetLoadFileOverride(file_.data(), file_.size());
    Start();
    EXPECT_EQ(Update(), 4);
    EXPECT_EQ(Order(), "^Y51");
    EXPECT_EQ(rig->usb.openHandles(), 0);
    EXPECT_TRUE(cwd.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(Counts, LoadFileLimits,
                         ::testing::Values(LoadFileLimitCase{"SixtyFiveEntries", 65},
                                           LoadFileLimitCase{"NoEntries", 0}),
                         [](const ::testing::TestParamInfo<LoadFileLimitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CompleteRun, SixtyFourEntriesAreAccepted) {
    std::vector<BuiltSection> s(64);
    for (size_t k = 0; k < s.size(); ++k) {
        s[k].tag = k == 1 ? "ST" : "MC";
        s[k].data = k == 1 ? Placeholder(1536) : Pattern(16, static_cast<uint32_t>(k));
        s[k].flag = k == 1 ? 'N' : 'Y';
        s[k].classValue = k == 1 ? 0 : 1;
    }
    const Bytes file = BuildLoadFile(s);
    platform::SetLoadFileOverride(file.data(), file.size());
    Start();
    EXPECT_EQ(Update(), 0);
    EXPECT_EQ(CountFrames(frames(), 'Q', preamble), 63u);
}

struct ReplyShapeCase {
    const char* name;
    sim::Fault fault;
    friend void PrintTo(const ReplyShapeCase& c, std::ostream* os) { *os << c.name; }
};

sim::Fault ShapeFault(sim::FaultAction action, uint8_t letter, uint32_t occurrence,
                      uint32_t amount) {
    sim::Fault f;
    f.action = action;
    if (letter == 0) {
        f.atFrame = 1;
    } else {
        f.introducer = letter == 'Y' ? 0x1C : 0x1D;
        f.letter = letter;
        f.occurrence = occurrence;
    }
    f.pieceSize = amount;
    f.extraBytes = amount;
    return f;
}

class ReplyShapes : public UpdateTest, public ::testing::WithParamInterface<ReplyShapeCase> {};

// Replies that arrive a byte at a time, or carry more data than asked for,
// change nothing: the surplus is read and dropped and the run succeeds.
TEST_P(ReplyShapes, DoNotChangeTheOutcome) {
    sim::Scenario scenario;
    scenario.faults.push_back(GetParam().fault);
    Start(scenario);
    ASSERT_EQ(Update(), 0);
    EXPECT_EQ(Order(), kLayout6Order);
    EXPECT_EQ(rig->printer.stats().faultsFired, 1u);
    EXPECT_EQ(rig->printer.version(), "1.3 ");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyShapes,
    ::testing::Values(
        ReplyShapeCase{"OneBytePieces", ShapeFault(sim::FaultAction::kPieces, 0, 0, 1)},
        ReplyShapeCase{"ImageHeaderOf1000Bytes",
                       ShapeFault(sim::FaultAction::kOverlong, 'J', 1, 968)},
        ReplyShapeCase{"TableWithSurplus", ShapeFault(sim::FaultAction::kOverlong, 'J', 2, 5000)},
        ReplyShapeCase{"PacketWithSurplus", ShapeFault(sim::FaultAction::kOverlong, 'V', 1, 100)},
        ReplyShapeCase{"StatusWithSurplus", ShapeFault(sim::FaultAction::kOverlong, 'E', 5, 3)},
        ReplyShapeCase{"ClassByteWithSurplus",
                       ShapeFault(sim::FaultAction::kOverlong, 'O', 1, 9000)}),
    [](const ::testing::TestParamInfo<ReplyShapeCase>& info) { return std::string(info.param.name); });

}  // namespace
