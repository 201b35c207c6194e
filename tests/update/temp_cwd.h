// A private current directory for one test (the backup file goes into the
// current directory), removed afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace testing_update {

// Runs the test in a fresh temporary directory (the backup file goes into
// the current directory) and removes it afterwards.
class TempCwd {
public:
    TempCwd() { std::filesystem::current_path(dir_.path()); }
    // Back to the old directory first: a folder in use cannot be removed
    // everywhere.
    ~TempCwd() { std::filesystem::current_path(old_); }
    const std::filesystem::path& path() const { return dir_.path(); }
    // Regular files left in the directory.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path old_ = std::filesystem::current_path();
    testsupport::CTempDir dir_{"upd"};
};

}  // namespace testing_update
