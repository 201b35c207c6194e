// The names of archive files: the UTC time they carry and the printer
// identifier read back out of them.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "update/st_archive.h"

namespace {

TEST(ArchiveTime, IsTheUtcTimeInBasicFormat) {
    const struct {
        std::time_t t;
        const char* text;
    } cases[] = {
        {0, "19700101T000000Z"},
        {951868799, "20000229T235959Z"},
        {1796904900, "20261210T121500Z"},
        {static_cast<std::time_t>(2147483648LL), "20380119T031408Z"},
    };
    for (const auto& c : cases) EXPECT_EQ(ArchiveTimeText(c.t), c.text) << c.t;
}

TEST(ArchiveName, CarriesTheIdentifierBeforeTheTime) {
    const struct {
        const char* path;
        bool valid;
        const char* identifier;
    } cases[] = {
        {"ZKQ00001-20261210T121500Z.qfw", true, "ZKQ00001"},
        {"/home/u/.local/state/quillon/st/ZKQ00001-20261210T121500Z-2.qfw", true, "ZKQ00001"},
        {"C:\\Users\\u\\AppData\\Local\\quillon\\st\\AB-CD-20261210T121500Z-17.qfw", true, "AB-CD"},
        {"-20261210T121500Z.qfw", true, ""},  // a printer that gave no identifier
        {"ZKQ00001-20261210T121500Z.QFW", false, ""},
        {"ZKQ00001-20261210T1215Z.qfw", false, ""},
        {"ZKQ00001_20261210T121500Z.qfw", false, ""},
        {"ZKQ00001-20261210T121500Z-.qfw", false, ""},
        {"ZKQ00001QX.qfw", false, ""},
        {"20261210T121500Z.qfw", false, ""},
        {".qfw", false, ""},
    };
    for (const auto& c : cases) {
        std::string identifier = "unchanged";
        EXPECT_EQ(StArchiveIdentifier(c.path, &identifier), c.valid) << c.path;
        EXPECT_EQ(identifier, c.valid ? c.identifier : "unchanged") << c.path;
    }
}

TEST(ArchiveName, ReadsBackWhatTheStemWrites) {
    const std::string name = StArchiveStem("Q-1", ArchiveTimeText(1796904900)) + ".qfw";
    std::string identifier;
    ASSERT_TRUE(StArchiveIdentifier(name, &identifier)) << name;
    EXPECT_EQ(identifier, "Q-1");
}

}  // namespace
