// One table of configuration files, and the model and library tables the
// dialog builds from each, the same on every platform. The files are
// UTF-16 with its byte-order mark, the form in which the Windows
// private-profile functions read Japanese: on Windows the dialog reads them
// through GetPrivateProfileIntW / GetPrivateProfileStringW, elsewhere
// through the portable reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/app/app_fixture.h"
#include "tests/app/utf16_bytes.h"
#include "tests/support/build_path.h"
#include "tests/support/loaded_library.h"

namespace apptest {
namespace {

struct Model {
    std::string name;
    uint16_t vendorId;
    uint16_t productId;
};

struct FileCase {
    const char* name;
    std::string text;  // "{LIB}" stands for the test library's path
    uint32_t modelCount;
    std::vector<Model> models;  // the first entries of the table; the rest are empty
    uint32_t libraryCount;
    std::vector<uint32_t> printers;  // per library entry: 2 when loaded, 0 when not
    size_t clampMessages;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string kEmoji = "\xF0\x9F\x96\xA8";  // U+1F5A8: two UTF-16 units

// A path from UTF-8 text, and back (plain strings are the ANSI code page's
// on Windows).
std::filesystem::path Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string Utf8(const std::filesystem::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

const FileCase kCases[] = {
    {"JapaneseNames",
     "[MODEL]\r\nEntry=2\r\n"
     "[MODEL01]\r\nMODEL=ZK-Q870 カードプリンター\r\nVID=5B7D\r\nPID=0023\r\n"
     "[MODEL02]\r\nMODEL=第二のプリンター\r\nVID=0x04b8\r\nPID= 0x0202\r\n",
     2,
     {{"ZK-Q870 カードプリンター", 0x5B7D, 0x0023}, {"第二のプリンター", 0x04B8, 0x0202}},
     0,
     {},
     0},
    {"NamesCutAt255Units",
     "[MODEL]\r\nEntry=3\r\n"
     "[MODEL01]\r\nMODEL=" +
         Repeat("カ", 300) + "\r\n" + "[MODEL02]\r\nMODEL=" + std::string(254, 'b') + kEmoji +
         "tail\r\n" + "[MODEL03]\r\nMODEL=" + std::string(253, 'b') + kEmoji + "tail\r\n",
     3,
     // 255 units fit; a pair that would straddle the limit is left out whole.
     {{Repeat("カ", 255), 0, 0},
      {std::string(254, 'b'), 0, 0},
      {std::string(253, 'b') + kEmoji, 0, 0}},
     0,
     {},
     0},
    {"NamesCaseBlanksAndQuotes",
     "; a comment\r\n[model]\r\nentry = 2 \r\n"
     "  [ Model01 ]\r\n  model =  \"引用された 名前\"  \r\nvid='5b7d'\r\n"
     "[MODEL02]\r\nMODEL= 'ラベル\"\r\nVID=+12345\r\nPID=-1\r\n",
     2,
     {{"引用された 名前", 0x5B7D, 0}, {"'ラベル\"", 0x2345, 0xFFFF}},
     0,
     {},
     0},
    {"MissingSectionAndTooMany",
     "[MODEL]\r\nEntry=-1\r\n[MODEL01]\r\nMODEL=一\r\n[MODEL03]\r\nMODEL=三\r\nVID=zz\r\n",
     20,
     {{"一", 0, 0}, {"", 0, 0}, {"三", 0, 0}},
     0,
     {},
     1},
    {"LibrariesByUnicodePath",
     "[APIF]\r\nEntry=3\r\nDLL01={LIB}\r\nDLL03=存在しない.dll\r\n",
     0,
     {},
     3,
     {2, 0, 0},
     0},
};

class ConfigurationFileTest : public AppTest, public ::testing::WithParamInterface<FileCase> {
protected:
    // The test library, copied into a folder with a Japanese name.
    std::string UnicodeLibrary() const {
        const std::filesystem::path source = Path(testsupport::BuildPath(APP_TEST_LIBRARY));
        const std::filesystem::path folder = exeDir.path() / Path("ライブラリ");
        std::filesystem::create_directories(folder);
        const std::filesystem::path copy = folder / Path("アクセス" + Utf8(source.extension()));
        std::filesystem::copy_file(source, copy);
        return Utf8(copy);
    }
};

TEST_P(ConfigurationFileTest, GivesTheSameTablesEverywhere) {
    const FileCase& c = GetParam();
    std::string text = c.text;
    std::string library;
    if (const size_t at = text.find("{LIB}"); at != std::string::npos) {
        library = UnicodeLibrary();
        text.replace(at, 5, library);
    }
    Config(Utf16Le(platform::Utf8ToUtf16(text)));

    Printer();
    window.answers.assign(c.clampMessages, platform::kIdOk);
    // The libraries as they are while the dialog waits (its end frees them).
    std::vector<uint32_t> printers;
    bool libraryLoaded = false;
    window.onNext = [&] {
        if (!printers.empty()) return;
        for (uint32_t i = 0; i < c.libraryCount; ++i) {
            printers.push_back(g_libraries[i].printerCount);
            EXPECT_EQ(g_libraries[i].module != nullptr, c.printers[i] != 0) << i;
        }
        libraryLoaded = !library.empty() && testsupport::IsLibraryLoaded(library);
    };
    Run();
    EXPECT_TRUE(window.Shown()) << "the printer is identified after the reading";

    EXPECT_EQ(dlg.m_modelCount, c.modelCount);
    for (uint32_t i = 0; i < kMaxModels; ++i) {
        const Model expected = i < c.models.size() ? c.models[i] : Model{"", 0, 0};
        EXPECT_EQ(dlg.m_models[i].name, expected.name) << "entry " << i;
        EXPECT_EQ(dlg.m_models[i].vendorId, expected.vendorId) << "entry " << i;
        EXPECT_EQ(dlg.m_models[i].productId, expected.productId) << "entry " << i;
    }
    EXPECT_EQ(dlg.m_libraryCount, c.libraryCount);
    EXPECT_EQ(printers, c.printers);
    if (!library.empty()) {
        EXPECT_TRUE(libraryLoaded) << library;
        EXPECT_FALSE(testsupport::IsLibraryLoaded(library)) << "freed when the dialog closed";
    }
    size_t clamps = 0;
    for (const WindowCall& b : window.Boxes())
        if (b.text == BoxText(kIdsFirmwareUpdate)) ++clamps;
    EXPECT_EQ(clamps, c.clampMessages);
}

INSTANTIATE_TEST_SUITE_P(Files, ConfigurationFileTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FileCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace apptest
