// The single-instance guard on POSIX: flock on a file in a private runtime
// directory, with a per-user fallback that refuses directories others could
// have planted.
#include "platform/instance_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using State = platform::InstanceLock::State;

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = std::filesystem::temp_directory_path() /
                ("guard." + std::to_string(::getpid()) + "." +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(base_);
        runtime_ = base_ / "runtime";
        std::filesystem::create_directory(runtime_);
        ::chmod(runtime_.c_str(), 0700);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old != nullptr) old_ = old, hadOld_ = true;
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        platform::SetInstanceLockFallbackBase(base_.string());
    }
    void TearDown() override {
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        platform::SetInstanceLockFallbackBase("");
        std::filesystem::remove_all(base_);
    }
    std::string Fallback() const {
        return (base_ / ("vadrellix-" + std::to_string(::geteuid()))).string();
    }

    std::filesystem::path base_;
    std::filesystem::path runtime_;
    std::string old_;
    bool hadOld_ = false;
};

TEST_F(InstanceGuardTest, OneOwnerAtATime) {
    unsigned long error = 0;
    platform::InstanceLock first;
    ASSERT_EQ(first.Create("Vadrellix", &error), State::kOwned) << error;
    EXPECT_TRUE(std::filesystem::exists(runtime_ / "Vadrellix.lock"));

    platform::InstanceLock second;
    EXPECT_EQ(second.Create("Vadrellix", &error), State::kAlreadyRunning);
    EXPECT_TRUE(second.HasHandle());
    // The second one's release leaves the first one's ownership alone.
    second.Release();
    platform::InstanceLock third;
    EXPECT_EQ(third.Create("Vadrellix", &error), State::kAlreadyRunning);
    third.Release();

    // Another process sees it too.
    const pid_t child = ::fork();
    if (child == 0) {
        platform::InstanceLock other;
        unsigned long e = 0;
        ::_exit(other.Create("Vadrellix", &e) == State::kAlreadyRunning ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Once released, the next one owns it.
    first.Release();
    EXPECT_FALSE(first.HasHandle());
    platform::InstanceLock next;
    EXPECT_EQ(next.Create("Vadrellix", &error), State::kOwned);
}

TEST_F(InstanceGuardTest, TheDestructorReleases) {
    unsigned long error = 0;
    {
        platform::InstanceLock scoped;
        ASSERT_EQ(scoped.Create("Vadrellix", &error), State::kOwned);
    }
    platform::InstanceLock next;
    EXPECT_EQ(next.Create("Vadrellix", &error), State::kOwned);
}

TEST_F(InstanceGuardTest, FallbackWhenTheRuntimeDirectoryIsMissingOrShared) {
    std::string dir;
    unsigned long error = 0;
    for (int variant = 0; variant < 3; ++variant) {
        std::filesystem::remove_all(Fallback());
        if (variant == 0) ::unsetenv("XDG_RUNTIME_DIR");
        if (variant == 1) ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
        if (variant == 2) {
            ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
            ::chmod(runtime_.c_str(), 0777);  // anyone could plant the lock file
        }
        ASSERT_TRUE(platform::InstanceLockDirectory(&dir, &error)) << variant << " " << error;
        EXPECT_EQ(dir, Fallback()) << variant;
        struct stat st {};
        ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, ::geteuid());
    }
    platform::InstanceLock lock;
    EXPECT_EQ(lock.Create("Vadrellix", &error), State::kOwned);
    EXPECT_TRUE(std::filesystem::exists(Fallback() + "/Vadrellix.lock"));
}

TEST_F(InstanceGuardTest, RefusesAPlantedFallback) {
    ::unsetenv("XDG_RUNTIME_DIR");
    std::string dir;
    unsigned long error = 0;

    // A link in place of the directory.
    std::filesystem::create_directory(base_ / "elsewhere");
    std::filesystem::create_directory_symlink(base_ / "elsewhere", Fallback());
    EXPECT_FALSE(platform::InstanceLockDirectory(&dir, &error));
    platform::InstanceLock lock;
    EXPECT_EQ(lock.Create("Vadrellix", &error), State::kFailed);
    EXPECT_FALSE(lock.HasHandle());
    EXPECT_FALSE(std::filesystem::exists(base_ / "elsewhere" / "Vadrellix.lock"));
    std::filesystem::remove(Fallback());

    // A directory that others can write.
    std::filesystem::create_directory(Fallback());
    ::chmod(Fallback().c_str(), 0777);
    EXPECT_FALSE(platform::InstanceLockDirectory(&dir, &error));
    std::filesystem::remove(Fallback());

    // A file in place of the directory.
    std::ofstream(Fallback()) << "x";
    EXPECT_FALSE(platform::InstanceLockDirectory(&dir, &error));
}

TEST_F(InstanceGuardTest, RefusesALinkAsTheLockFile) {
    std::filesystem::create_symlink(base_ / "target", runtime_ / "Vadrellix.lock");
    platform::InstanceLock lock;
    unsigned long error = 0;
    EXPECT_EQ(lock.Create("Vadrellix", &error), State::kFailed);
    EXPECT_FALSE(std::filesystem::exists(base_ / "target"));
    EXPECT_EQ(lock.Create("bad/name", &error), State::kFailed);
}

}  // namespace
