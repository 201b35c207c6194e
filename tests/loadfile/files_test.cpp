// The platform's files and current directory, as the backup file uses them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/files.h"

namespace {

class Files : public testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("quillon-files-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string PathOf(const char* name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
};

TEST_F(Files, WriteThenReadBack) {
    const std::string path = PathOf("backup.bin");
    unsigned long error = 0;
    {
        platform::File out;
        ASSERT_TRUE(out.Open(path, platform::File::Mode::kCreateAlways, &error)) << error;
        ASSERT_TRUE(out.Write("0123456789", 10, &error));
    }  // closed by the destructor
    platform::File in;
    ASSERT_TRUE(in.Open(path, platform::File::Mode::kOpenExisting, &error));
    EXPECT_EQ(in.Size(&error), 10);
    char buffer[10] = {};
    ASSERT_TRUE(in.Read(buffer, 10, &error));
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
}

TEST_F(Files, CreateAlwaysTruncates) {
    const std::string path = PathOf("f");
    unsigned long error = 0;
    platform::File out;
    ASSERT_TRUE(out.Open(path, platform::File::Mode::kCreateAlways, &error));
    ASSERT_TRUE(out.Write("long content", 12, &error));
    ASSERT_TRUE(out.Open(path, platform::File::Mode::kCreateAlways, &error));
    EXPECT_EQ(out.Size(&error), 0);
}

TEST_F(Files, ShortReadFailsWith38) {
    const std::string path = PathOf("short");
    unsigned long error = 0;
    platform::File out;
    ASSERT_TRUE(out.Open(path, platform::File::Mode::kCreateAlways, &error));
    ASSERT_TRUE(out.Write("abc", 3, &error));
    out.Close();
    platform::File in;
    ASSERT_TRUE(in.Open(path, platform::File::Mode::kOpenExisting, &error));
    char buffer[4];
    EXPECT_FALSE(in.Read(buffer, 4, &error));
    EXPECT_EQ(error, 38u);
}

TEST_F(Files, MissingFileAndRemoval) {
    const std::string path = PathOf("missing");
    unsigned long error = 0;
    platform::File in;
    EXPECT_FALSE(in.Open(path, platform::File::Mode::kOpenExisting, &error));
    EXPECT_EQ(error, 2u);
    EXPECT_FALSE(in.IsOpen());
    // A missing file is no error for removal; a present one goes.
    EXPECT_TRUE(platform::RemoveFile(path, &error));
    platform::File out;
    ASSERT_TRUE(out.Open(path, platform::File::Mode::kCreateAlways, &error));
    out.Close();
    EXPECT_TRUE(platform::RemoveFile(path, &error));
    EXPECT_FALSE(std::filesystem::exists(path));
    // A directory cannot be removed as a file: the system's code comes back.
    error = 0;
    EXPECT_FALSE(platform::RemoveFile(m_dir.string(), &error));
    EXPECT_NE(error, 0u);
}

TEST_F(Files, MoveHandsOverTheHandle) {
    const std::string path = PathOf("moved");
    unsigned long error = 0;
    platform::File a;
    ASSERT_TRUE(a.Open(path, platform::File::Mode::kCreateAlways, &error));
    platform::File b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    ASSERT_TRUE(b.IsOpen());
    EXPECT_TRUE(b.Write("x", 1, &error));
    platform::File c;
    c = std::move(b);
    EXPECT_FALSE(b.IsOpen());
    EXPECT_TRUE(c.Write("y", 1, &error));
    EXPECT_FALSE(b.Write("z", 1, &error));  // a closed file refuses
    c.Close();
    EXPECT_EQ(std::filesystem::file_size(path), 2u);
}

TEST(Paths, CurrentDirectoryAndExecutable) {
    std::string dir;
    ASSERT_TRUE(platform::CurrentDirectory(&dir));
    EXPECT_EQ(std::filesystem::path(dir), std::filesystem::current_path());
    std::string exe;
    ASSERT_TRUE(platform::ExecutablePath(&exe));
#ifdef _WIN32
    EXPECT_EQ(std::filesystem::path(exe).filename(), "loadfile_tests.exe");
    EXPECT_TRUE(std::filesystem::is_regular_file(exe));
    EXPECT_EQ(platform::kPathSeparator, '\\');
#else
    EXPECT_TRUE(std::filesystem::equivalent(exe, "/proc/self/exe"));
    EXPECT_EQ(platform::kPathSeparator, '/');
#endif
}

}  // namespace
