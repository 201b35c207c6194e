// The per-user state folder and new files written whole into it: never
// replacing a file, never leaving a half file under a final name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/state_files.h"
#include "tests/support/process_env.h"
#include "tests/support/temp_dir.h"
#include "update/st_archive.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class StateFiles : public ::testing::Test {
protected:
    static Bytes Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    const testsupport::CTempDir tmp{"state-files"};
    const fs::path dir = tmp.path();
};

TEST_F(StateFiles, ANewFileNeverReplacesOneThatExists) {
    const Bytes first(1536, 0x5A), second = {1, 2, 3}, third = {};
    std::string a, b, c;
    unsigned long error = 0;
    ASSERT_TRUE(platform::WriteNewFileDurably(dir.string(), "ZKQ-T", ".qfw", first.data(),
                                              first.size(), &a, &error))
        << error;
    ASSERT_TRUE(platform::WriteNewFileDurably(dir.string(), "ZKQ-T", ".qfw", second.data(),
                                              second.size(), &b, &error))
        << error;
    ASSERT_TRUE(platform::WriteNewFileDurably(dir.string(), "ZKQ-T", ".qfw", third.data(),
                                              third.size(), &c, &error))
        << error;
    EXPECT_EQ(fs::path(a), dir / "ZKQ-T.qfw");
    EXPECT_EQ(fs::path(b), dir / "ZKQ-T-2.qfw");
    EXPECT_EQ(fs::path(c), dir / "ZKQ-T-3.qfw");
    EXPECT_EQ(Read(a), first);
    EXPECT_EQ(Read(b), second);
    EXPECT_EQ(Read(c), third);
    // No temporary file is left behind.
    EXPECT_EQ(Names(), (std::vector<std::string>{"ZKQ-T-2.qfw", "ZKQ-T-3.qfw", "ZKQ-T.qfw"}));
}

TEST_F(StateFiles, AFailedWriteLeavesNoFile) {
    const Bytes data(100, 7);
    std::string path = "unchanged";
    unsigned long error = 0;
    EXPECT_FALSE(platform::WriteNewFileDurably((dir / "missing").string(), "x", ".qfw",
                                               data.data(), data.size(), &path, &error));
    EXPECT_NE(error, 0u);
    EXPECT_EQ(path, "unchanged");
    EXPECT_TRUE(Names().empty());
}

TEST_F(StateFiles, FoldersAreMadeDownToTheLastAndKeptWhenThere) {
    const fs::path deep = dir / "quillon" / "st";
    unsigned long error = 0;
    ASSERT_TRUE(platform::CreateDirectories(deep.string(), &error)) << error;
    EXPECT_TRUE(fs::is_directory(deep));
    ASSERT_TRUE(platform::CreateDirectories(deep.string(), &error)) << error;
#ifndef _WIN32
    // Open to the user only.
    for (const fs::path& p : {dir / "quillon", deep})
        EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_all) << p;
#endif
    // A file where a folder should be.
    std::ofstream(dir / "plain") << "x";
    error = 0;
    EXPECT_FALSE(platform::CreateDirectories((dir / "plain" / "st").string(), &error));
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(platform::CreateDirectories("", &error));
}

TEST_F(StateFiles, TheArchiveFolderLiesInTheUsersStateFolder) {
#ifdef _WIN32
    // The known folder of the user's local application data.
    std::string state;
    ASSERT_TRUE(platform::UserStateDirectory(&state));
    EXPECT_FALSE(state.empty());
    EXPECT_TRUE(fs::is_directory(fs::path(reinterpret_cast<const char8_t*>(state.c_str())))) << state;
    std::string folder;
    ASSERT_TRUE(DefaultStArchiveFolder(&folder));
    EXPECT_EQ(folder, state + "\\quillon\\st");
#else
    const struct {
        std::optional<std::string> state;
        std::optional<std::string> home;
        const char* expected;
    } cases[] = {
        {"/srv/state", "/home/u", "/srv/state/quillon/st"},
        {"relative/state", "/home/u", "/home/u/.local/state/quillon/st"},
        {"", "/home/u/", "/home/u/.local/state/quillon/st"},
        {std::nullopt, "/home/u", "/home/u/.local/state/quillon/st"},
    };
    for (const auto& c : cases) {
        const testsupport::CScopedEnv state("XDG_STATE_HOME", c.state), home("HOME", c.home);
        std::string folder;
        ASSERT_TRUE(DefaultStArchiveFolder(&folder));
        EXPECT_EQ(folder, c.expected);
    }
    // Without HOME: the home folder of the user's account.
    const testsupport::CScopedEnv noState("XDG_STATE_HOME", std::nullopt),
        noHome("HOME", std::nullopt);
    std::string folder;
    ASSERT_TRUE(DefaultStArchiveFolder(&folder));
    EXPECT_EQ(folder.substr(0, 1), "/");
    EXPECT_NE(folder.find("/.local/state/quillon/st"), std::string::npos) << folder;
#endif
}

}  // namespace
