// ST area preservation against the virtual printer: which areas are read
// back, what the backup file and the image hold afterwards, and how a
// printer without a fitting ST area ends the update.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/update_fixture.h"
#include "update/checksum.h"
#include "update/load_image.h"
#include "update/update_context.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

std::vector<sim::Area> AreasWithSt(const std::vector<Bytes>& stAreas) {
    std::vector<sim::Area> areas;
    for (const sim::Area& a : sim::DefaultAreas())
        if (a.tag != "ST") areas.push_back(a);
    // The first ST area goes where the default table has it (index 1).
    for (size_t k = 0; k < stAreas.size(); ++k) {
        sim::Area st;
        st.tag = "ST";
        st.loadAddress = 0x601ED000;
        st.areaSize = std::max<uint32_t>(0x600, static_cast<uint32_t>(stAreas[k].size()));
        st.data = stAreas[k];
        areas.insert(k == 0 ? areas.begin() + 1 : areas.end(), st);
    }
    return areas;
}

class Preservation : public UpdateTest {
protected:
    // Starts the printer, loads the image (the embedded load file unless a
    // file was given) and reads printerHeader, as the update does before
    // preserving.
    void Prepare(const sim::Scenario& scenario, const Bytes* loadFile = nullptr) {
        if (loadFile != nullptr) {
            file_ = *loadFile;
            platform::SetLoadFileOverride(file_.data(), file_.size());
        }
        Start(scenario);
        ctx = std::make_unique<UpdateContext>(errors.record, nullptr);
        ctx->backupPath = (cwd.path() / "ZKQ00001QX.qfw").string();
        ASSERT_EQ(OpenLoadImage(&ctx->image), LoadImageStatus::kOk);
        ASSERT_EQ(FwCommand(kFwCodeReadTable, 0, ctx->printerHeader, 32), 0);
        from = frames().size();
    }
    Bytes Backup() const {
        std::ifstream in(ctx->backupPath, std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(in), {}};
    }
    std::string PhaseOrder() const { return FrameOrder(frames(), from); }

    std::unique_ptr<UpdateContext> ctx;
    size_t from = 0;

private:
    Bytes file_;
};

struct NoBackupCase {
    const char* name;
    std::vector<Bytes> stAreas;
    std::string order;
    friend void PrintTo(const NoBackupCase& c, std::ostream* os) { *os << c.name; }
};

class NoFittingStArea : public Preservation, public ::testing::WithParamInterface<NoBackupCase> {};

// Without an ST area the load file's 1,536 bytes can take, no backup file is
// written and restoring it fails with "file not found".
TEST_P(NoFittingStArea, FailsInPhaseCWithFileNotFound) {
    sim::Scenario scenario;
    scenario.areas = AreasWithSt(GetParam().stAreas);
    Prepare(scenario);
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_EQ(PhaseOrder(), GetParam().order);
    EXPECT_EQ(errors.category, 0x71);
    EXPECT_EQ(errors.detail, 2u);
    EXPECT_FALSE(std::filesystem::exists(ctx->backupPath));
    EXPECT_EQ(ctx->map[1], kNoSlot);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, NoFittingStArea,
    ::testing::Values(NoBackupCase{"NoStArea", {}, "J224"},
                      NoBackupCase{"StAreaOf1537Bytes", {Pattern(1537, 5)}, "J288"}),
    [](const ::testing::TestParamInfo<NoBackupCase>& info) { return std::string(info.param.name); });

TEST_F(Preservation, ShortStAreaFillsOnlyItsLengthAndItsChecksum) {
    const Bytes st = Pattern(1000, 9);
    sim::Scenario scenario;
    scenario.areas = AreasWithSt({st});
    Prepare(scenario);
    const Bytes placeholder(ctx->image.Data(1), ctx->image.Data(1) + 1536);

    ASSERT_EQ(PreserveStArea(*ctx), 0);
    EXPECT_EQ(PhaseOrder(), "J288 U6 V1028 W");
    EXPECT_EQ(Backup(), st);
    EXPECT_EQ(ctx->map[1], 1);
    ASSERT_EQ(ctx->slots[1].size(), 1000u);
    EXPECT_TRUE(std::equal(st.begin(), st.end(), ctx->slots[1].data()));
    const uint8_t* data = ctx->image.Data(1);
    EXPECT_TRUE(std::equal(st.begin(), st.end(), data));
    EXPECT_TRUE(std::equal(placeholder.begin() + 1000, placeholder.end(), data + 1000));
    const Checksum c = ComputeChecksum(st.data(), st.size());
    EXPECT_EQ(ctx->image.TrailerChecksum(1), c);
    EXPECT_EQ(ctx->image.EntryAt(1).dataLength, 1536u);
    // The computed checksum also went into the printer table's entry.
    const uint8_t* e = ctx->printerTable.Entry(1);
    EXPECT_EQ((e[24] << 8) | e[25], c.sum);
    EXPECT_EQ(e[28], c.xorValue);
}

TEST_F(Preservation, TwoStAreasAreBothReadBackAndTheSecondIsKept) {
    const Bytes first = Pattern(800, 1);
    const Bytes second = Pattern(1200, 2);
    sim::Scenario scenario;
    scenario.areas = AreasWithSt({first, second});
    Prepare(scenario);
    ASSERT_EQ(PreserveStArea(*ctx), 0);
    EXPECT_EQ(PhaseOrder(), "J352 U6 V828 W U6 V1228 W");
    EXPECT_EQ(Backup(), second);
    EXPECT_EQ(ctx->map[1], 4);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), ctx->slots[1].data()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), ctx->slots[4].data()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), ctx->image.Data(1)));
}

struct LayoutCase {
    uint32_t layout;
    std::string order;
    friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.layout; }
};

class PhaseB : public Preservation, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(PhaseB, ReReadsOnlyWhenTheLayoutDiffers) {
    sim::Scenario scenario;
    scenario.layout = GetParam().layout;
    Prepare(scenario);
    ASSERT_EQ(PreserveStArea(*ctx), 0);
    EXPECT_EQ(PhaseOrder(), GetParam().order);
    const Bytes& st = FindArea(rig->printer.areas(), "ST")->data;
    EXPECT_EQ(ctx->map[1], 1);
    EXPECT_TRUE(std::equal(st.begin(), st.end(), ctx->slots[1].data()));
    EXPECT_EQ(Backup(), st);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PhaseB,
                         ::testing::Values(LayoutCase{6, "J288 U6 V1564 W"},
                                           LayoutCase{0, "J288 U6 V1564 W"},
                                           LayoutCase{5, "J288 U6 V1564 W J288 U6 V1564 W"}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                             return "Layout" + std::to_string(info.param.layout);
                         });

TEST_F(Preservation, RealStInTheLoadFileNeedsTheBackupButKeepsItsData) {
    std::vector<BuiltSection> s(2);
    s[0].tag = "MC";
    s[0].data = Pattern(300, 1);
    s[1].tag = "ST";
    s[1].data = Pattern(1536, 2);  // not a placeholder
    s[1].flag = 'N';
    s[1].classValue = 0;
    const Bytes file = BuildLoadFile(s);
    Prepare(sim::Scenario(), &file);
    ASSERT_TRUE(ctx->image.HasRealSt());
    const Checksum before = ctx->image.TrailerChecksum(1);
    ASSERT_EQ(PreserveStArea(*ctx), 0);
    EXPECT_TRUE(std::equal(s[1].data.begin(), s[1].data.end(), ctx->image.Data(1)));
    EXPECT_EQ(ctx->image.TrailerChecksum(1), before);
    EXPECT_EQ(Backup(), FindArea(rig->printer.areas(), "ST")->data);
}

TEST_F(Preservation, OneEntryLoadFileLooksOnlyAtItsOneEntry) {
    // The 64 bytes after a one-entry table are the section's header; read as
    // a second entry they would say "ST" with a length of 0 (the class
    // value) and ask for a second read-back.
    std::vector<BuiltSection> s(1);
    s[0].tag = "ST";
    s[0].data = Pattern(64, 3);
    s[0].classValue = 0;
    const Bytes file = BuildLoadFile(s);
    sim::Scenario scenario;
    scenario.areas = AreasWithSt({Bytes{}});
    Prepare(scenario, &file);
    ASSERT_EQ(PreserveStArea(*ctx), 0);
    EXPECT_EQ(PhaseOrder(), "J288 U6 W");
    EXPECT_EQ(ctx->map[0], 1);
    EXPECT_EQ(ctx->map[1], kNoSlot);
}

struct FirstEntryNCase {
    const char* name;
    uint32_t firstAreaSize;  // area size of entry 0 (MC)
    int result;
    std::string order;
    friend void PrintTo(const FirstEntryNCase& c, std::ostream* os) { *os << c.name; }
};

class FirstEntryN : public Preservation, public ::testing::WithParamInterface<FirstEntryNCase> {};

// With entry 0 flagged 'N' every printer ST area is read back for entry 0,
// with no test on the load file's side; an area larger than entry 0's own
// cannot be meant for it and ends the update.
TEST_P(FirstEntryN, ReadsStAreasForTheFirstEntry) {
    const FirstEntryNCase& c = GetParam();
    std::vector<BuiltSection> s(2);
    s[0].tag = "MC";
    s[0].data = Pattern(100, 1);
    s[0].flag = 'N';
    s[0].areaSize = c.firstAreaSize;
    s[1].tag = "ST";
    s[1].data = Placeholder(2048);
    s[1].flag = 'N';
    s[1].classValue = 0;
    const Bytes file = BuildLoadFile(s);
    Prepare(sim::Scenario(), &file);
    EXPECT_EQ(PreserveStArea(*ctx), c.result);
    EXPECT_EQ(PhaseOrder(), c.order);
    if (c.result == 0) {
        const Bytes& st = FindArea(rig->printer.areas(), "ST")->data;
        EXPECT_EQ(ctx->map[0], 1);
        EXPECT_EQ(Backup(), st);
        // The backup fits the ST entry, so the placeholder is replaced.
        EXPECT_TRUE(std::equal(st.begin(), st.end(), ctx->image.Data(1)));
    } else {
        EXPECT_FALSE(std::filesystem::exists(ctx->backupPath));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FirstEntryN,
    ::testing::Values(FirstEntryNCase{"AreaLargeEnough", 4096, 0, "J288 U6 V1564 W"},
                      FirstEntryNCase{"AreaTooSmall", 100, 4, "J288"}),
    [](const ::testing::TestParamInfo<FirstEntryNCase>& info) { return std::string(info.param.name); });

TEST_F(Preservation, FirstEntryNWhoseFirstSectionIsStBacksNothingUp) {
    std::vector<BuiltSection> s(2);
    s[0].tag = "ST";
    s[0].data = Placeholder(1536);
    s[0].flag = 'N';
    s[0].classValue = 0;
    s[1].tag = "MC";
    s[1].data = Pattern(100, 1);
    s[1].flag = 'N';
    const Bytes file = BuildLoadFile(s);
    Prepare(sim::Scenario(), &file);
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_EQ(PhaseOrder(), "J288");
    EXPECT_EQ(errors.category, 0x71);
}

TEST_F(Preservation, PrinterTableOfMoreThanThirtyEntriesIsRefused) {
    for (uint32_t count : {30u, 31u}) {
        SCOPED_TRACE(count);
        sim::Scenario scenario;
        scenario.areas = sim::DefaultAreas();
        while (scenario.areas.size() < count) {
            sim::Area a;
            a.tag = "X" + std::string(1, char('A' + scenario.areas.size() % 26));
            a.loadAddress = 0x61000000 + static_cast<uint32_t>(scenario.areas.size()) * 0x1000;
            a.areaSize = 16;
            a.data = Pattern(16, static_cast<uint32_t>(scenario.areas.size()));
            scenario.areas.push_back(a);
        }
        Prepare(scenario);
        const int r = PreserveStArea(*ctx);
        if (count == 30) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(PhaseOrder(), "J1952 U6 V1564 W");
        } else {
            EXPECT_EQ(r, 4);
            EXPECT_EQ(PhaseOrder(), "");
        }
        ctx.reset();
        CloseLink();
        rig.reset();
        std::filesystem::remove(cwd.path() / "ZKQ00001QX.qfw");
    }
}

struct CreateFailCase {
    const char* name;
    uint8_t firstFlag;
    uint8_t category;
    friend void PrintTo(const CreateFailCase& c, std::ostream* os) { *os << c.name; }
};

class BackupNotCreated : public Preservation,
                         public ::testing::WithParamInterface<CreateFailCase> {};

TEST_P(BackupNotCreated, RecordsTheCategoryAndTheSystemError) {
    std::vector<BuiltSection> s(2);
    s[0].tag = "MC";
    s[0].data = Pattern(100, 1);
    s[0].flag = GetParam().firstFlag;
    s[0].areaSize = 4096;
    s[1].tag = "ST";
    s[1].data = Placeholder(1536);
    s[1].flag = 'N';
    s[1].classValue = 0;
    const Bytes file = BuildLoadFile(s);
    Prepare(sim::Scenario(), &file);
    // A directory in the backup file's place.
    std::filesystem::create_directory(ctx->backupPath);
    EXPECT_EQ(PreserveStArea(*ctx), 4);
    EXPECT_EQ(errors.category, GetParam().category);
    EXPECT_NE(errors.detail, 0u);
}

INSTANTIATE_TEST_SUITE_P(Flags, BackupNotCreated,
                         ::testing::Values(CreateFailCase{"FirstEntryY", 'Y', 0x51},
                                           CreateFailCase{"FirstEntryN", 'N', 0x61}),
                         [](const ::testing::TestParamInfo<CreateFailCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
