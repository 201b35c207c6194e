// quillon --restore-st FILE end to end: an archived ST copy goes back into
// the virtual printer on its USB device tree; another printer's copy only
// with --force; a bad FILE ends before the printer is touched.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/quillon_fixture.h"

namespace e2e {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}

class RestoreTest : public QuillonE2eTest {
protected:
    std::string Copy(const std::string& name, const Bytes& data) const {
        const std::filesystem::path p = work_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return p.string();
    }
};

TEST_F(RestoreTest, AnotherPrintersCopyIsRefusedBeforeAnythingIsWritten) {
    ASSERT_TRUE(StartSim(kFastPrinter));
    const std::string other = Copy("ZKQ00002-20261210T121500Z.qfw", Pattern(1536, 3));
    auto refused = Quillon({"--restore-st", other});
    EXPECT_EQ(refused->Wait(60000), 66) << refused->out() << refused->err();
    EXPECT_NE(refused->err().find("ZKQ00002"), std::string::npos) << refused->err();
    EXPECT_NE(refused->err().find("this printer is ZKQ00001"), std::string::npos) << refused->err();
    EXPECT_NE(refused->err().find("nothing was written"), std::string::npos) << refused->err();
    EXPECT_TRUE(ArchiveFiles().empty());
    EXPECT_EQ(sim_->Stop(SIGTERM, 10000), 0);
    EXPECT_NE(sim_->out().find("\"sectionsWritten\": 0"), std::string::npos) << sim_->out();
}

TEST_F(RestoreTest, WritesTheCopyBackIntoThePrinter) {
    ASSERT_TRUE(StartSim(kFastPrinter));
    const Bytes a = Pattern(1536, 3);
    const Bytes b = Pattern(1200, 9);
    const std::string other = Copy("ZKQ00002-20261210T121500Z.qfw", a);
    const std::string own = Copy("ZKQ00001-20261210T121500Z-2.qfw", b);

    // Another printer's copy, written on request; what the printer held is
    // archived first.
    auto forced = Quillon({"--restore-st", other, "--force"});
    EXPECT_EQ(forced->Wait(60000), 0) << forced->out() << forced->err();
    EXPECT_NE(forced->out().find("was written into the printer ZKQ00001"), std::string::npos)
        << forced->out();
    EXPECT_EQ(forced->out().find(kMessage117), std::string::npos) << forced->out();
    const std::vector<std::filesystem::path> first = ArchiveFiles();
    ASSERT_EQ(first.size(), 1u);
    const Bytes original = ReadFile(first[0]);
    EXPECT_EQ(original.size(), 1536u);
    EXPECT_NE(original, a);

    // The next restore archives what the printer holds now: the copy of
    // the run before, byte for byte.
    auto again = Quillon({"--restore-st", own});
    EXPECT_EQ(again->Wait(60000), 0) << again->out() << again->err();
    const std::vector<std::filesystem::path> second = ArchiveFiles();
    ASSERT_EQ(second.size(), 2u);
    const std::filesystem::path added = second[0] == first[0] ? second[1] : second[0];
    EXPECT_EQ(ReadFile(added), a);

    // The printer's firmware was never touched.
    EXPECT_EQ(sim_->Stop(SIGTERM, 10000), 0);
    EXPECT_NE(sim_->out().find("\"version\": \"1.2 \""), std::string::npos) << sim_->out();
    EXPECT_NE(sim_->out().find("\"sectionsWritten\": 2"), std::string::npos) << sim_->out();
}

TEST_F(RestoreTest, ABadFileEndsBeforeThePrinterIsTouched) {
    const struct {
        std::string name;
        Bytes data;
        bool create;
        std::string message;
    } cases[] = {
        {"ZKQ00001-20261210T121500Z.qfw", {}, false, "no such file"},
        {"ZKQ00001-20261210T121501Z.qfw", {}, true, "the file is empty"},
        {"ZKQ00001-20261210T121502Z.qfw", Bytes(2 * 1024 * 1024, 1), true, "far more than"},
        {"backup.bin", Bytes(1536, 1), true, "--force writes it all the same"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.create ? Copy(c.name, c.data) : (work_ / c.name).string();
        auto q = Quillon({"--restore-st", path});
        EXPECT_EQ(q->Wait(10000), 66) << q->out() << q->err();
        EXPECT_NE(q->err().find(c.message), std::string::npos) << q->err();
        EXPECT_EQ(q->out(), "") << "the printer was looked for";
    }
    auto list = Quillon({"--restore-st", (work_ / "x.qfw").string(), "--list"});
    EXPECT_EQ(list->Wait(10000), 64) << list->err();
}

}  // namespace
}  // namespace e2e
