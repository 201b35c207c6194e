// The checks of a whole update that only a printer of another kind makes
// visible: a class byte that differs from the load file's, a load file
// without a class, a printer of another layout whose ST area is shorter
// than the load file's, and an ST entry that the backup does not look at.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/update/load_file_builder.h"
#include "tests/update/sections_sent.h"
#include "tests/update/update_fixture.h"

namespace {

using namespace testing_update;
using Bytes = std::vector<uint8_t>;

// MC (flag Y) and the ST placeholder (flag N), the first of class `mcClass`.
Bytes TwoSections(uint32_t mcClass) {
    std::vector<BuiltSection> s(2);
    s[0].tag = "MC";
    s[0].data = Pattern(300, 1);
    s[0].classValue = mcClass;
    s[1].tag = "ST";
    s[1].data = Placeholder(1536);
    s[1].flag = 'N';
    s[1].classValue = 0;
    return BuildLoadFile(s);
}

struct ClassCase {
    const char* name;
    uint8_t printerClass;  // what GS O answers
    uint32_t firstClass;   // class value of the load file's first section
    int result;
    const char* order;
};
void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.name; }

class ClassCheck : public UpdateTest, public ::testing::WithParamInterface<ClassCase> {
protected:
    Bytes file_;
};

const char kTwoSectionRun[] = "^Y51 O1 J32 J288 U6 V1564 W J32 Q15 R328 S N16 B ^Y51";

// A printer of another class ends the run right after GS O, before any
// area is read or written; a load file of class 0 fits every printer.
TEST_P(ClassCheck, ComparesTheFirstSectionsClassWithTheReplyByte) {
    const ClassCase& c = GetParam();
    file_ = TwoSections(c.firstClass);
    platform::SetLoadFileOverride(file_.data(), file_.size());
    sim::Scenario scenario;
    scenario.classByte = c.printerClass;
    Start(scenario);
    const Bytes st = FindArea(rig->printer.areas(), "ST")->data;
    EXPECT_EQ(Update(), c.result);
    EXPECT_EQ(Order(), c.order);
    EXPECT_EQ(FindArea(rig->printer.areas(), "ST")->data, st);
    EXPECT_EQ(rig->printer.stats().refusals, 0u);
    EXPECT_TRUE(cwd.Files().empty());
    EXPECT_EQ(rig->usb.openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, ClassCheck,
    ::testing::Values(ClassCase{"SameClass", 1, 1, 0, kTwoSectionRun},
                      ClassCase{"PrinterOfAnotherClass", 2, 1, 4, "^Y51 O1 C ^Y51"},
                      ClassCase{"PrinterOfClassZero", 0, 1, 4, "^Y51 O1 C ^Y51"},
                      ClassCase{"LoadFileOfClassZero", 2, 0, 0, kTwoSectionRun},
                      // Only the low byte of the class value goes into the
                      // frames, but the whole value is compared.
                      ClassCase{"ClassValueBeyondItsLowByte", 1, 0x101, 4, "^Y51 O1 C ^Y51"}),
    [](const ::testing::TestParamInfo<ClassCase>& info) { return std::string(info.param.name); });

// A printer of layout 5 whose ST area holds 1,000 bytes: the restored image
// keeps the load file's 1,536-byte ST section with a checksum over the
// first 1,000 bytes, so only the slot (the printer's own bytes, its own
// checksum) makes a section that the printer takes.
TEST_F(UpdateTest, OtherLayoutSendsAShortStAreaFromItsSlot) {
    sim::Scenario scenario;
    scenario.layout = 5;
    scenario.areas = sim::DefaultAreas();
    const Bytes st = Pattern(1000, 41);
    for (sim::Area& a : scenario.areas)
        if (a.tag == "ST") a.data = st;
    Start(scenario);
    ASSERT_EQ(Update(), 0);
    EXPECT_EQ(Order(),
              "^Y51 O1 J32 J288 U6 V1028 W J288 U6 V1028 W J32 I288 "
              "Q15 R8220*142 R4124 S Q15 R1028 S Q15 R8220*7 R7452 S Q15 R8220*73 R2012 S N16 B ^Y51");
    const std::vector<SentSection> sent = SectionsSent(frames(), preamble);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1].tag, "ST");
    EXPECT_EQ(sent[1].data, st);
    const Checksum c = ComputeChecksum(st.data(), st.size());
    EXPECT_EQ(sent[1].descriptor, Descriptor(0, 1, 1, c.sum, c.xorValue));
    EXPECT_EQ(FindArea(rig->printer.areas(), "ST")->data, st);
    EXPECT_EQ(rig->printer.stats().refusals, 0u);
    EXPECT_EQ(rig->printer.version(), "1.3 ");
}

// The backup looks at the first two load-file entries only: an ST entry in
// third place is not backed up, so no backup file exists to restore from.
TEST_F(UpdateTest, StAsTheThirdEntryIsNotBackedUp) {
    std::vector<BuiltSection> s(3);
    s[0].tag = "MC";
    s[0].data = Pattern(300, 1);
    s[1].tag = "DP";
    s[1].data = Pattern(200, 2);
    s[2].tag = "ST";
    s[2].data = Placeholder(1536);
    s[2].flag = 'N';
    s[2].classValue = 0;
    const Bytes file = BuildLoadFile(s);
    platform::SetLoadFileOverride(file.data(), file.size());
    Start();
    EXPECT_EQ(Update(), 4);
    EXPECT_EQ(Order(), "^Y51 O1 J32 J288 C ^Y51");
    EXPECT_EQ(errors.category, 0x71);
    EXPECT_EQ(errors.detail, 2u);
    EXPECT_TRUE(cwd.Files().empty());
}

}  // namespace
