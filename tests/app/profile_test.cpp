// The configuration-file reader: what GetPrivateProfileIntW and
// GetPrivateProfileStringW return for the same file.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "platform/text.h"
#include "tests/app/utf16_bytes.h"
#include "tests/support/temp_dir.h"

namespace {

using apptest::Utf16Be;
using apptest::Utf16Le;

class ProfileFileTest : public ::testing::Test {
protected:
    void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    // Text (UTF-8 here) as a file that the platform reads as Unicode: UTF-8
    // on POSIX; UTF-16 with its mark on Windows, whose private-profile
    // functions read a file without a mark in the ANSI code page.
    void WriteText(const std::string& utf8) {
#ifdef _WIN32
        Write(Utf16Le(platform::Utf8ToUtf16(utf8)));
#else
        Write(utf8);
#endif
    }

    testsupport::CTempDir dir_{"profile"};
    std::string path_ = (dir_.path() / "Vadrellix.ini").string();
};

struct IntCase {
    const char* value;
    uint32_t expected;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << "\"" << c.value << "\""; }

class ProfileIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(ProfileIntTest, ReadsLikeTheSystem) {
    const IntCase& c = GetParam();
    EXPECT_EQ(platform::ProfileIntFromValue(platform::Utf8ToUtf16(c.value)), c.expected)
        << "value \"" << c.value << "\"";
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileIntTest,
                         ::testing::Values(IntCase{"25", 25}, IntCase{"-1", 0xFFFFFFFFu},
                                           IntCase{"+7", 7}, IntCase{"  12", 12}, IntCase{"\t3", 3},
                                           IntCase{"12abc", 12}, IntCase{"abc", 0}, IntCase{"-", 0},
                                           IntCase{"0x1F", 31}, IntCase{"0X1f", 31},
                                           IntCase{"-0x10", 0xFFFFFFF0u}, IntCase{"0x", 0},
                                           IntCase{"1F", 1}, IntCase{"4294967297", 1},
                                           IntCase{"007", 7}, IntCase{"3 4", 3}));

TEST_F(ProfileFileTest, IntegerKeysAndDefaults) {
    Write("[MODEL]\r\nEntry=3\r\nEmpty=\r\nMinus = -1 \r\n[APIF]\r\nentry=0x0A\r\n");
    EXPECT_EQ(platform::ReadProfileInt(path_, "MODEL", "Entry", 0), 3u);
    EXPECT_EQ(platform::ReadProfileInt(path_, "model", "ENTRY", 0), 3u);
    EXPECT_EQ(platform::ReadProfileInt(path_, "MODEL", "Minus", 0), 0xFFFFFFFFu);
    EXPECT_EQ(platform::ReadProfileInt(path_, "APIF", "Entry", 0), 10u);
    // A missing key or section, an empty value and a missing file give
    // the default.
    EXPECT_EQ(platform::ReadProfileInt(path_, "MODEL", "Other", 42), 42u);
    EXPECT_EQ(platform::ReadProfileInt(path_, "NOPE", "Entry", 42), 42u);
    EXPECT_EQ(platform::ReadProfileInt(path_, "MODEL", "Empty", 42), 42u);
    EXPECT_EQ(platform::ReadProfileInt(path_ + ".missing", "MODEL", "Entry", 7), 7u);
}

TEST_F(ProfileFileTest, LinesSectionsAndValues) {
    Write(
        "Entry=99\n"  // before any section: belongs to none
        "; [MODEL] in a comment\n"
        "  [ Model01 ]  \n"
        "  Model =  ZK-Q870 card printer  \n"
        "VID=\"5B7D\"\n"
        "PID='0023'\n"
        "Quote=\"unbalanced'\n"
        "NoEquals\n"
        "model=second of the same name\n"
        "[MODEL01]\n"
        "Extra=in the second section of the name\n");
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "MODEL", ""), "ZK-Q870 card printer");
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "VID", ""), "5B7D");
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "PID", ""), "0023");
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "Quote", ""), "\"unbalanced'");
    // Only the first section and the first key of a name count.
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "Extra", "none"), "none");
#ifndef _WIN32
    // (wine's private-profile functions file the keys before the first
    // section under the name ""; the updater reads no such section.)
    EXPECT_EQ(platform::ReadProfileInt(path_, "", "Entry", 5), 5u);
#endif
    EXPECT_EQ(platform::ReadProfileString(path_, "MODEL02", "MODEL", "dflt"), "dflt");
}

TEST_F(ProfileFileTest, EncodingsByByteOrderMark) {
    const std::u16string text = u"[MODEL01]\r\nMODEL=カードプリンター\r\nVID=5b7d\r\n";
    for (const std::string& bytes :
         {Utf16Le(text), Utf16Be(text), "\xEF\xBB\xBF" + platform::Utf16ToUtf8(text),
          platform::Utf16ToUtf8(text)}) {
        Write(bytes);
        const bool marked = bytes[0] == '\xFF' || bytes[0] == '\xFE' || bytes[0] == '\xEF';
        const std::string model = platform::ReadProfileString(path_, "model01", "model", "");
#ifdef _WIN32
        // Without a mark the system reads the ANSI code page, not UTF-8.
        EXPECT_EQ(model == "カードプリンター", marked) << model;
#else
        EXPECT_EQ(model, "カードプリンター") << marked;
#endif
        EXPECT_EQ(platform::ReadProfileString(path_, "MODEL01", "VID", ""), "5b7d");
    }
}

TEST_F(ProfileFileTest, ValuesAreCutToTheBufferInUtf16Units) {
    // 300 ASCII characters: 255 units fit a 256-unit buffer.
    Write("[S]\nA=" + std::string(300, 'a') + "\n");
    EXPECT_EQ(platform::ReadProfileString(path_, "S", "A", ""), std::string(255, 'a'));

    // Japanese characters are one unit each.
    std::string kana;
    for (int k = 0; k < 300; ++k) kana += "カ";
    WriteText("[S]\nA=" + kana + "\n");
    const std::string got = platform::ReadProfileString(path_, "S", "A", "");
    EXPECT_EQ(platform::Utf16Length(got), 255u);
    EXPECT_EQ(got, kana.substr(0, 255 * 3));

    // A pair that would straddle the limit is left out, never halved.
    const std::string emoji = "\xF0\x9F\x96\xA8";  // U+1F5A8, two units
    WriteText("[S]\nA=" + std::string(254, 'b') + emoji + "tail\n");
    EXPECT_EQ(platform::ReadProfileString(path_, "S", "A", ""), std::string(254, 'b'));
    WriteText("[S]\nA=" + std::string(253, 'b') + emoji + "tail\n");
    EXPECT_EQ(platform::ReadProfileString(path_, "S", "A", ""), std::string(253, 'b') + emoji);

    // The default is cut the same way.
    EXPECT_EQ(platform::ReadProfileString(path_, "S", "B", std::string(260, 'd'), 8), "ddddddd");
}

TEST(TextTest, MalformedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(platform::Utf8ToUtf16("a\xFF"
                                    "b"),
              u"a\uFFFDb");
    EXPECT_EQ(platform::Utf8ToUtf16("\xC3"), u"\uFFFD");                      // cut short
    EXPECT_EQ(platform::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(platform::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
    EXPECT_EQ(platform::Utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(platform::Utf16Length("\xF0\x9F\x96\xA8"), 2u);
    EXPECT_EQ(platform::Utf16Length("カ"), 1u);
}

}  // namespace
