// The load-file reader: the shipped file, the placeholder decision, and
// malformed files that must fail cleanly without a read outside the bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/resource.h"
#include "tests/loadfile/load_file_builder.h"
#include "tests/loadfile/shipped_file_checker.h"
#include "update/checksum.h"
#include "update/load_image.h"

namespace {

using loadfile_test::BuildLoadFile;
using loadfile_test::Bytes;
using loadfile_test::EntryAt;
using loadfile_test::PutLE32;
using loadfile_test::SectionSpec;

TEST(Checksum, ExamplesAndEmptyRange) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(ComputeChecksum(abc, 3), (Checksum{0x0126, 0x60}));
    EXPECT_EQ(ComputeChecksum(nullptr, 0), (Checksum{0, 0}));
    // The sum wraps at 65,536: 258 bytes of 0xFF give 0xFF * 258 = 0x100FE.
    const std::vector<uint8_t> ff(258, 0xFF);
    EXPECT_EQ(ComputeChecksum(ff.data(), ff.size()), (Checksum{0x00FE, 0x00}));
}

TEST(EmbeddedLoadFile, EveryDescribedFieldHolds) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(platform::FindEmbeddedLoadFile(&data, &size));
    loadfile_test::ExpectShippedLoadFile(data, size);
}

TEST(EmbeddedLoadFile, ReaderSeesTheShippedValues) {
    LoadImage image;
    ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    EXPECT_EQ(image.TotalSize(), 1834404u);
    EXPECT_EQ(image.SectionCount(), 4u);
    EXPECT_EQ(image.LayoutNumber(), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.VersionText()), 16),
              "1.3             ");
    EXPECT_EQ(image.FirstSectionHeader(), image.Bytes() + 0x160);
    EXPECT_EQ(image.EntryBytes(0), image.Bytes() + 0x60);
    EXPECT_FALSE(image.HasRealSt());
    for (uint32_t k = 0; k < 4; ++k) {
        const loadfile_test::ShippedSection& s = loadfile_test::kShippedSections[k];
        SCOPED_TRACE(s.tag);
        const LoadImage::Entry e = image.EntryAt(k);
        EXPECT_EQ(std::string(e.tag, 2), s.tag);
        EXPECT_EQ(e.loadAddress, s.loadAddress);
        EXPECT_EQ(e.areaSize, s.areaSize);
        EXPECT_EQ(e.dataOffset, s.dataOffset);
        EXPECT_EQ(e.dataLength, s.dataLength);
        EXPECT_EQ(e.flag, static_cast<uint8_t>(s.flag));
        EXPECT_EQ(image.SectionHeader(k), image.Bytes() + s.headerAt);
        EXPECT_EQ(image.Data(k), image.Bytes() + s.dataOffset);
        EXPECT_EQ(image.Trailer(k), image.Bytes() + s.dataOffset + s.dataLength);
        EXPECT_EQ(image.AttributeWord(k), 1u);
        EXPECT_EQ(std::memcmp(image.FormatCode(k), "RAWS", 4), 0);
        EXPECT_EQ(image.ClassValue(k), s.classValue);
        EXPECT_EQ(image.TrailerChecksum(k), (Checksum{s.sum, s.xorValue}));
        EXPECT_EQ(ComputeChecksum(image.Data(k), e.dataLength), (Checksum{s.sum, s.xorValue}));
    }
}

TEST(EmbeddedLoadFile, WritesGoToTheCopyOnly) {
    const uint8_t* embedded = nullptr;
    size_t size = 0;
    ASSERT_TRUE(platform::FindEmbeddedLoadFile(&embedded, &size));
    LoadImage image;
    ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    ASSERT_NE(image.Bytes(), embedded);
    // What the update does when it restores the printer's ST content.
    std::memset(image.Data(1), 0x5A, image.EntryAt(1).dataLength);
    const Checksum restored = ComputeChecksum(image.Data(1), image.EntryAt(1).dataLength);
    image.StoreTrailerChecksum(1, restored);
    EXPECT_EQ(image.TrailerChecksum(1), restored);
    EXPECT_EQ(image.Bytes()[0x11D800 + 2], static_cast<uint8_t>(restored.sum));
    EXPECT_EQ(image.Bytes()[0x11D800 + 3], static_cast<uint8_t>(restored.sum >> 8));
    EXPECT_EQ(image.Bytes()[0x11D800 + 7], restored.xorValue);
    EXPECT_EQ(std::memcmp(embedded + 0x11D200, "DUMY", 4), 0);
    loadfile_test::ExpectShippedLoadFile(embedded, size);
}

TEST(EmbeddedLoadFile, CloseReleasesAndReopenWorks) {
    LoadImage image;
    ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    CloseLoadImage(&image);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_EQ(image.Bytes(), nullptr);
    CloseLoadImage(&image);  // closing twice is harmless
    ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    EXPECT_EQ(image.SectionCount(), 4u);
}

TEST(EmbeddedLoadFile, MissingResourceFailsAsMissing) {
    platform::SetLoadFileOverride(nullptr, 0);
    LoadImage image;
    std::string why;
    EXPECT_EQ(OpenLoadImage(&image, &why), LoadImageStatus::kResourceMissing);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_FALSE(why.empty());
    platform::ClearLoadFileOverride();
    EXPECT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
}

TEST(EmbeddedLoadFile, OverrideServesOtherBytes) {
    const std::vector<uint8_t> file = BuildLoadFile({{"ST", Bytes("real ST")}}, 9);
    platform::SetLoadFileOverride(file.data(), file.size());
    LoadImage image;
    ASSERT_EQ(OpenLoadImage(&image), LoadImageStatus::kOk);
    platform::ClearLoadFileOverride();
    EXPECT_EQ(image.LayoutNumber(), 9u);
    EXPECT_EQ(image.SectionCount(), 1u);
    EXPECT_TRUE(image.HasRealSt());
}

// ---- hasRealSt ----

struct RealStCase {
    const char* name;
    std::vector<SectionSpec> sections;
    bool hasRealSt;
};

void PrintTo(const RealStCase& c, std::ostream* os) { *os << c.name; }

class HasRealSt : public testing::TestWithParam<RealStCase> {};

TEST_P(HasRealSt, FollowsTheStSections) {
    const std::vector<uint8_t> file = BuildLoadFile(GetParam().sections);
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(file.data(), file.size(), &image, &why), LoadImageStatus::kOk)
        << why;
    EXPECT_EQ(image.HasRealSt(), GetParam().hasRealSt);
}

const std::vector<uint8_t> kCode = Bytes("code bytes");
const std::vector<uint8_t> kPlaceholder = Bytes("DUMY00000000 filler");

INSTANTIATE_TEST_SUITE_P(
    Cases, HasRealSt,
    testing::Values(
        RealStCase{"Placeholder", {{"MC", kCode}, {"ST", kPlaceholder, 'N', 0}}, false},
        RealStCase{"NoStSection", {{"MC", kCode}, {"DP", kPlaceholder}}, false},
        RealStCase{"RealSt", {{"MC", kCode}, {"ST", Bytes("printer data")}}, true},
        RealStCase{"FirstByteDiffers", {{"ST", Bytes("XUMY0000")}}, true},
        RealStCase{"SecondByteDiffers", {{"ST", Bytes("DXMY0000")}}, true},
        RealStCase{"ThirdByteDiffers", {{"ST", Bytes("DUXY0000")}}, true},
        RealStCase{"FourthByteDiffers", {{"ST", Bytes("DUMX0000")}}, true},
        RealStCase{"LowerCaseMark", {{"ST", Bytes("dumy0000")}}, true},
        RealStCase{"RealThenPlaceholder", {{"ST", Bytes("real")}, {"ST", kPlaceholder}}, true},
        RealStCase{"PlaceholderThenReal", {{"ST", kPlaceholder}, {"ST", Bytes("real")}}, true},
        RealStCase{"TwoPlaceholders", {{"ST", kPlaceholder}, {"ST", Bytes("DUMY")}}, false},
        // A tag is two exact letters.
        RealStCase{"LowerCaseTag", {{"st", Bytes("real")}}, false},
        // Data shorter than the mark cannot be a placeholder; the bytes
        // after it (the trailer) are not looked at.
        RealStCase{"ShortData", {{"ST", Bytes("DUM")}}, true},
        RealStCase{"EmptyData", {{"ST", {}}}, true}),
    [](const testing::TestParamInfo<RealStCase>& info) { return info.param.name; });

// ---- malformed files ----

struct MalformedCase {
    const char* name;
    // Changes a sound two-section file (MC 16 bytes, ST 8 bytes).
    void (*mutate)(std::vector<uint8_t>* file);
};

// Sound file: header 0x00, info 0x40, table 0x60 (two entries), MC header
// 0xE0, data 0x120 (16 bytes), trailer 0x130, ST header 0x150, data 0x190
// (8 bytes), trailer 0x198, closing bytes 0x1B8, total 0x1BC.
std::vector<uint8_t> SoundFile() {
    return BuildLoadFile({{"MC", Bytes("0123456789abcdef")}, {"ST", Bytes("DUMY0000"), 'N', 0}});
}

void SetLE32(std::vector<uint8_t>* f, size_t at, uint32_t v) { PutLE32(f->data() + at, v); }

const MalformedCase kMalformed[] = {
    {"Empty", [](std::vector<uint8_t>* f) { f->clear(); }},
    {"ShorterThanHeader", [](std::vector<uint8_t>* f) { f->resize(63); }},
    {"OnlyTheHeader", [](std::vector<uint8_t>* f) { f->resize(64); }},
    {"Truncated", [](std::vector<uint8_t>* f) { f->resize(f->size() - 1); }},
    {"TruncatedInTheTable", [](std::vector<uint8_t>* f) { f->resize(0x80); }},
    {"TotalSizeZero", [](std::vector<uint8_t>* f) { SetLE32(f, 0x18, 0); }},
    {"TotalSize64", [](std::vector<uint8_t>* f) { SetLE32(f, 0x18, 64); }},
    {"TotalSizeOneMoreThanData",
     [](std::vector<uint8_t>* f) { SetLE32(f, 0x18, static_cast<uint32_t>(f->size() + 1)); }},
    {"TotalSizeHuge", [](std::vector<uint8_t>* f) { SetLE32(f, 0x18, 0xFFFFFFFF); }},
    {"InfoOffsetInsideHeader", [](std::vector<uint8_t>* f) { SetLE32(f, 0x1C, 0x20); }},
    {"InfoOffsetPastEnd", [](std::vector<uint8_t>* f) { SetLE32(f, 0x1C, 0x1A0); }},
    {"InfoOffsetHuge", [](std::vector<uint8_t>* f) { SetLE32(f, 0x1C, 0xFFFFFFF0); }},
    {"SectionCountTooLarge", [](std::vector<uint8_t>* f) { SetLE32(f, 0x40, 7); }},
    {"SectionCountHuge", [](std::vector<uint8_t>* f) { SetLE32(f, 0x40, 0xFFFFFFFF); }},
    {"DataOffsetBelowHeader", [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(0) + 0x10, 63); }},
    {"DataOffsetPastEnd", [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(1) + 0x10, 0x1BC); }},
    {"DataOffsetHuge",
     [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(1) + 0x10, 0xFFFFFFF0); }},
    {"DataLengthPastEnd",
     [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(1) + 0x14, 0x1BC - 0x190); }},
    {"TrailerPastEnd", [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(1) + 0x14, 8 + 5); }},
    {"DataLengthWraps",
     [](std::vector<uint8_t>* f) { SetLE32(f, EntryAt(0) + 0x14, 0xFFFFFFFF - 0x100); }},
    // The one section lies before the info block, inside the file, but the
    // 64 bytes after the table, which the update takes for the first
    // section's header, run past the end.
    {"FirstHeaderSlotPastEnd",
     [](std::vector<uint8_t>* f) {
         // header 0, section header 64, data 128 (1 byte), trailer 129,
         // info 161, table 193, closing bytes 257, total 261.
         f->assign(261, 0);
         std::memcpy(f->data(), "ZK9930 Load File", 16);
         SetLE32(f, 0x18, 261);
         SetLE32(f, 0x1C, 161);
         SetLE32(f, 161, 1);
         std::memcpy(f->data() + 193, "MC", 2);
         SetLE32(f, 193 + 0x10, 128);
         SetLE32(f, 193 + 0x14, 1);
         std::memcpy(f->data() + 64, "MC", 2);
     }},
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedFile : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFile, FailsCleanlyWithAReason) {
    std::vector<uint8_t> file = SoundFile();
    GetParam().mutate(&file);
    // An exact-size heap copy, so that a read past its end is caught by
    // the address sanitizer.
    std::vector<uint8_t> exact(file.begin(), file.end());
    exact.shrink_to_fit();
    LoadImage image;
    std::string why;
    EXPECT_EQ(OpenLoadImageFrom(exact.empty() ? nullptr : exact.data(), exact.size(), &image, &why),
              LoadImageStatus::kResourceMissing);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_FALSE(why.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedFile, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<MalformedCase>& info) {
                             return info.param.name;
                         });

TEST(LoadImageOpen, SoundSmallFileAndItsPositions) {
    const std::vector<uint8_t> file = SoundFile();
    ASSERT_EQ(file.size(), 0x1BCu);
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(file.data(), file.size(), &image, &why), LoadImageStatus::kOk)
        << why;
    EXPECT_EQ(image.SectionCount(), 2u);
    EXPECT_EQ(image.FirstSectionHeader() - image.Bytes(), 0xE0);
    EXPECT_EQ(image.SectionHeader(1) - image.Bytes(), 0x150);
    EXPECT_EQ(image.Data(1) - image.Bytes(), 0x190);
    EXPECT_EQ(image.Trailer(1) - image.Bytes(), 0x198);
    EXPECT_EQ(image.ClassValue(1), 0u);
    EXPECT_EQ(image.EntryAt(1).flag, 'N');
    EXPECT_EQ(std::memcmp(image.Bytes(), file.data(), file.size()), 0);
}

TEST(LoadImageOpen, BytesBeyondTheTotalSizeAreIgnored) {
    std::vector<uint8_t> file = SoundFile();
    file.resize(file.size() + 100, 0xEE);
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(file.data(), file.size(), &image, &why), LoadImageStatus::kOk);
    EXPECT_EQ(image.TotalSize(), 0x1BCu);
}

TEST(LoadImageOpen, ChecksumsAreNotJudged) {
    std::vector<uint8_t> file = SoundFile();
    file[0x120] ^= 0xFF;  // MC data no longer matches its trailer
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(file.data(), file.size(), &image, &why), LoadImageStatus::kOk);
    EXPECT_NE(ComputeChecksum(image.Data(0), 16), image.TrailerChecksum(0));
}

TEST(LoadImageOpen, WritesIntoTheCopyNeverMoveASection) {
    // A malformed file whose ST data covers its own table entry: header at
    // 0x20, data 0x60..0xA0 (the entry), trailer 0xA0, closing bytes 0xE0.
    std::vector<uint8_t> file(0xE4, 0);
    std::memcpy(file.data(), "ZK9930 Load File", 16);
    PutLE32(&file[0x18], 0xE4);
    PutLE32(&file[0x1C], 0x40);
    PutLE32(&file[0x40], 1);
    std::memcpy(&file[0x60], "ST", 2);
    PutLE32(&file[0x70], 0x60);
    PutLE32(&file[0x74], 0x40);
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(file.data(), file.size(), &image, &why), LoadImageStatus::kOk)
        << why;
    EXPECT_TRUE(image.HasRealSt());
    // The update puts the printer's ST data there, which rewrites the table
    // in the copy; the section stays where it was opened.
    std::memset(image.Data(0), 0xFF, image.EntryAt(0).dataLength);
    image.StoreTrailerChecksum(0, ComputeChecksum(image.Data(0), 0x40));
    EXPECT_EQ(image.EntryAt(0).dataOffset, 0x60u);
    EXPECT_EQ(image.EntryAt(0).dataLength, 0x40u);
    EXPECT_EQ(image.Trailer(0) - image.Bytes(), 0xA0);
    EXPECT_EQ(image.SectionHeader(0) - image.Bytes(), 0x20);
    EXPECT_EQ(image.SectionCount(), 1u);
    EXPECT_EQ(image.TrailerChecksum(0), (Checksum{0x3FC0, 0x00}));
}

TEST(LoadImageOpen, ZeroSectionsOpen) {
    // Header, info block and the closing bytes only: the 64 bytes after the
    // (empty) table run past the end, so the copy is padded with zeros.
    const std::vector<uint8_t> file = BuildLoadFile({});
    ASSERT_EQ(file.size(), 64u + 32 + 4);
    std::vector<uint8_t> exact(file);
    exact.shrink_to_fit();
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(exact.data(), exact.size(), &image, &why), LoadImageStatus::kOk)
        << why;
    EXPECT_EQ(image.SectionCount(), 0u);
    EXPECT_FALSE(image.HasRealSt());
    EXPECT_EQ(image.TotalSize(), 100u);
    EXPECT_EQ(image.EntryAt(0).flag, 0);  // an empty entry, not a read past the table
    EXPECT_EQ(image.EntryAt(0).dataLength, 0u);
    const uint8_t* first = image.FirstSectionHeader();
    ASSERT_EQ(first, image.Bytes() + 96);
    EXPECT_EQ(first[0], 0x40);  // the closing bytes, then the padding
    EXPECT_EQ(first[3], 0xBA);
    for (int i = 4; i < 64; ++i) EXPECT_EQ(first[i], 0) << i;
}

TEST(LoadImageOpen, ReopenReplacesTheEarlierCopy) {
    const std::vector<uint8_t> one = BuildLoadFile({{"ST", Bytes("real")}}, 1);
    const std::vector<uint8_t> two = BuildLoadFile({{"ST", kPlaceholder}}, 2);
    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImageFrom(one.data(), one.size(), &image, &why), LoadImageStatus::kOk);
    EXPECT_TRUE(image.HasRealSt());
    ASSERT_EQ(OpenLoadImageFrom(two.data(), two.size(), &image, &why), LoadImageStatus::kOk);
    EXPECT_FALSE(image.HasRealSt());
    EXPECT_EQ(image.LayoutNumber(), 2u);
    // A failed open leaves the image closed, not holding the earlier copy.
    EXPECT_EQ(OpenLoadImageFrom(one.data(), 10, &image, &why), LoadImageStatus::kResourceMissing);
    EXPECT_FALSE(image.IsOpen());
}

}  // namespace
