// The per-user state folder: the platform's own, unless a test set another.
#include "platform/state_files.h"

namespace platform {

bool PlatformUserStateDirectory(std::string* dir);  // state_files_posix / state_files_win32

namespace {
std::string g_testDirectory;
}  // namespace

bool UserStateDirectory(std::string* dir) {
    if (!g_testDirectory.empty()) {
        *dir = g_testDirectory;
        return true;
    }
    return PlatformUserStateDirectory(dir);
}

void SetUserStateDirectoryForTest(const std::string& dir) { g_testDirectory = dir; }

}  // namespace platform
