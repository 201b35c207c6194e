// The configuration file beside the executable: the model table, the
// access libraries, the clamps and their message, and where the file is
// looked for.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "platform/files.h"
#include "tests/app/app_fixture.h"
#include "tests/support/build_path.h"
#include "tests/support/loaded_library.h"

namespace apptest {
namespace {

constexpr uint32_t kExclamation = platform::kMbIconExclamation;

// The test access library, as this process names it.
const std::string kTestLibrary = testsupport::BuildPath(APP_TEST_LIBRARY);

// The caption of the clamp message: the executable's name without its
// extension.
std::string ApplicationName() {
    std::string path;
    if (!platform::ExecutablePath(&path)) return "?";
    std::string exe = std::filesystem::path(path).filename().string();
    const size_t dot = exe.rfind('.');
    return dot == std::string::npos || dot == 0 ? exe : exe.substr(0, dot);
}

// A path written with '/' in the system's own spelling.
std::string Native(std::string path) {
    for (char& c : path)
        if (c == '/') c = platform::kPathSeparator;
    return path;
}

std::string Models(int entry, int sections) {
    std::string text = "[MODEL]\nEntry=" + std::to_string(entry) + "\n";
    for (int i = 1; i <= sections; ++i) {
        char lines[96];
        std::snprintf(lines, sizeof lines, "[MODEL%02d]\nMODEL=model %d\nVID=%04X\nPID=0x%X\n", i,
                      i, 0x1000 + i, i);
        text += lines;
    }
    return text;
}

class ConfigurationTest : public AppTest {
protected:
    // Runs the dialog against a healthy printer and closes it at once.
    void RunWithPrinter(std::initializer_list<int> answers = {}) {
        Printer();
        window.answers.assign(answers.begin(), answers.end());
        Run();
    }
    std::vector<WindowCall> ClampBoxes() const {
        std::vector<WindowCall> out;
        for (const WindowCall& b : window.Boxes())
            if (b.text == BoxText(kIdsFirmwareUpdate)) out.push_back(b);
        return out;
    }
};

struct ClampCase {
    const char* name;
    int entry;
    uint32_t expectedCount;
    bool message;
};

void PrintTo(const ClampCase& c, std::ostream* os) { *os << "\"" << c.name << "\""; }

class ModelClampTest : public ConfigurationTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ModelClampTest, CountIsClampedToTwentyWithOneMessage) {
    const ClampCase& c = GetParam();
    Config(Models(c.entry, 22));
    RunWithPrinter(c.message ? std::initializer_list<int>{platform::kIdOk}
                             : std::initializer_list<int>{});
    EXPECT_EQ(dlg.m_modelCount, c.expectedCount);
    const auto boxes = ClampBoxes();
    ASSERT_EQ(boxes.size(), c.message ? 1u : 0u);
    if (c.message) {
        EXPECT_EQ(boxes[0].caption, ApplicationName());
        EXPECT_EQ(boxes[0].style, kExclamation);
        EXPECT_EQ(boxes[0].text, "ファームウェアのアップデート");
    }
    for (uint32_t i = 0; i < kMaxModels; ++i) {
        if (i < c.expectedCount) {
            EXPECT_EQ(dlg.m_models[i].name, "model " + std::to_string(i + 1));
            EXPECT_EQ(dlg.m_models[i].vendorId, 0x1000 + i + 1) << i;
        } else {
            EXPECT_EQ(dlg.m_models[i].name, "") << i;
            EXPECT_EQ(dlg.m_models[i].vendorId, 0) << i;
        }
    }
    EXPECT_TRUE(window.Shown()) << "reading goes on and the printer is identified";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ModelClampTest,
    ::testing::Values(ClampCase{"three", 3, 3, false}, ClampCase{"twenty", 20, 20, false},
                      ClampCase{"twenty_five", 25, 20, true}, ClampCase{"minus_one", -1, 20, true},
                      ClampCase{"zero", 0, 0, false}),
    [](const ::testing::TestParamInfo<ClampCase>& info) { return info.param.name; });

TEST_F(ConfigurationTest, MissingSectionGivesAnEmptyEntry) {
    Config(
        "[MODEL]\nEntry=3\n[MODEL01]\nMODEL=first\nVID=5B7D\nPID=0023\n"
        "[MODEL03]\nMODEL=third\nVID=1\nPID=2\n");
    RunWithPrinter();
    EXPECT_EQ(dlg.m_modelCount, 3u);
    EXPECT_EQ(dlg.m_models[0].name, "first");
    EXPECT_EQ(dlg.m_models[0].vendorId, 0x5B7D);
    EXPECT_EQ(dlg.m_models[0].productId, 0x0023);
    EXPECT_EQ(dlg.m_models[1].name, "");
    EXPECT_EQ(dlg.m_models[1].vendorId, 0);
    EXPECT_EQ(dlg.m_models[1].productId, 0);
    EXPECT_EQ(dlg.m_models[2].name, "third");
    EXPECT_EQ(dlg.m_models[2].productId, 2);
}

struct IdCase {
    const char* value;
    uint16_t id;
};

void PrintTo(const IdCase& c, std::ostream* os) { *os << "\"" << c.value << "\""; }

class VendorIdTest : public ConfigurationTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(VendorIdTest, ParsedAsHexadecimalAndCutTo16Bits) {
    Config(std::string("[MODEL]\nEntry=1\n[MODEL01]\nVID=") + GetParam().value +
           "\nPID=" + GetParam().value + "\n");
    RunWithPrinter();
    EXPECT_EQ(dlg.m_models[0].vendorId, GetParam().id) << GetParam().value;
    EXPECT_EQ(dlg.m_models[0].productId, GetParam().id) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, VendorIdTest,
    ::testing::Values(IdCase{"5B7D", 0x5B7D}, IdCase{"0x5B7D", 0x5B7D}, IdCase{" 5b7d", 0x5B7D},
                      IdCase{"5B7DZ", 0x5B7D}, IdCase{"12345", 0x2345}, IdCase{"-1", 0xFFFF},
                      IdCase{"+0023", 0x0023}, IdCase{"", 0}, IdCase{"zz", 0},
                      // Beyond a 32-bit long: its limit, as the system reads it.
                      IdCase{"123456789", 0xFFFF}, IdCase{"-123456789", 0x0000}),
    [](const ::testing::TestParamInfo<IdCase>& info) {
        std::string name = std::to_string(info.index) + "_";
        for (const char* p = info.param.value; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

class LibraryTest : public ConfigurationTest {
protected:
    static bool Loaded(const std::string& path) { return testsupport::IsLibraryLoaded(path); }
};

TEST_F(LibraryTest, LoadsCountsAndFreesOnExit) {
    Config("[APIF]\nEntry=3\nDLL01=" + kTestLibrary +
           "\nDLL03=/nonexistent/library.so\n");
    Printer();
    window.messages = {platform::CommandMessage(kIdcExit)};
    window.answers = {platform::kIdOk};
    bool loadedDuringDialog = false;
    window.onBox = [&](const WindowCall&) {
        loadedDuringDialog = Loaded(kTestLibrary);
        EXPECT_NE(g_libraries[0].module, nullptr);
        EXPECT_EQ(g_libraries[0].printerCount, 2u);
        EXPECT_EQ(g_libraries[1].module, nullptr) << "DLL02 is missing";
        EXPECT_EQ(g_libraries[2].module, nullptr) << "does not load";
        EXPECT_EQ(g_libraries[2].printerCount, 0u);
    };
    EXPECT_EQ(Run(), platform::kIdOk);
    EXPECT_EQ(dlg.m_libraryCount, 3u);
    EXPECT_TRUE(loadedDuringDialog);
    // Exit freed the library that loaded.
    EXPECT_EQ(g_libraries[0].module, nullptr);
    EXPECT_EQ(g_libraries[0].printerCount, 0u);
    EXPECT_FALSE(Loaded(kTestLibrary));
    EXPECT_EQ(dlg.m_outcome, DialogOutcome::kExited);
}

TEST_F(LibraryTest, MoreThanTenLibrariesAreClampedWithOneMessage) {
    std::string text = "[APIF]\nEntry=12\n";
    for (int i = 1; i <= 12; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "DLL%02d", i);
        text += std::string(key) + "=" + kTestLibrary + "\n";
    }
    Config(text);
    std::vector<uint32_t> counts;
    window.onNext = [&] {
        for (const LibraryEntry& e : g_libraries) counts.push_back(e.printerCount);
    };
    RunWithPrinter({platform::kIdOk});
    EXPECT_EQ(dlg.m_libraryCount, 10u);
    const auto boxes = ClampBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, ApplicationName());
    EXPECT_EQ(counts, std::vector<uint32_t>(10, 2u)) << "ten loaded and counted while waiting";
    // The cancel command frees them all.
    EXPECT_FALSE(Loaded(kTestLibrary));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(g_libraries[i].module, nullptr) << i;
}

TEST_F(ConfigurationTest, AFileInTheCurrentDirectoryIsNotRead) {
    std::ofstream(cwd.path() / "Vadrellix.ini")
        << Models(25, 2) << "[APIF]\nEntry=1\nDLL01=" << kTestLibrary << "\n";
    RunWithPrinter();
    EXPECT_EQ(dlg.m_modelCount, 0u);
    EXPECT_EQ(dlg.m_libraryCount, 0u);
    EXPECT_TRUE(ClampBoxes().empty());
}

TEST_F(ConfigurationTest, WhereTheFileIsLookedFor) {
    std::string path;
    // Beside the executable.
    FakeExecutable() = Native("/opt/quillon/bin/quillon");
    ASSERT_TRUE(ConfigurationPath(&path));
    EXPECT_EQ(path, Native("/opt/quillon/bin/Vadrellix.ini"));
    // No directory part, or no path at all: nothing is read.
    FakeExecutable() = "quillon";
    EXPECT_FALSE(ConfigurationPath(&path));
    FakeExecutable() = "";
    EXPECT_FALSE(ConfigurationPath(&path));

    // The path and the file name share 260 UTF-16 units with the
    // terminator: 259 units fit, 260 do not.
    const std::string name = "Vadrellix.ini";  // 13 units
    const std::string fits = Native("/" + std::string(259 - 13 - 2, 'd') + "/");
    FakeExecutable() = fits + "q";
    ASSERT_TRUE(ConfigurationPath(&path));
    EXPECT_EQ(path.size(), 259u);
    FakeExecutable() = Native("/" + std::string(259 - 13 - 1, 'd') + "/q");
    EXPECT_FALSE(ConfigurationPath(&path));
    // Counted in UTF-16 units, not bytes: 240 Japanese characters are 720
    // bytes but 240 units.
    std::string kana;
    for (int k = 0; k < 240; ++k) kana += "カ";
    FakeExecutable() = Native("/" + kana + "/q");
    ASSERT_TRUE(ConfigurationPath(&path));
    EXPECT_EQ(path, Native("/" + kana + "/" + name));
}

TEST_F(ConfigurationTest, ATooLongDirectoryCountsAsNoFile) {
    // A real directory whose path leaves no room for the file name.
    std::filesystem::path deep = exeDir.path();
    while (deep.string().size() < 250) deep /= std::string(40, 'd');
    std::filesystem::create_directories(deep);
    std::ofstream(deep / "Vadrellix.ini") << Models(25, 1);
    FakeExecutable() = (deep / "quillon").string();
    RunWithPrinter();
    EXPECT_EQ(dlg.m_modelCount, 0u);
    EXPECT_TRUE(ClampBoxes().empty());
}

}  // namespace
}  // namespace apptest
