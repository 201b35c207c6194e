// A private current directory for one test (the backup file goes into the
// current directory), removed afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_update {

// Runs the test in a fresh temporary directory (the backup file goes into
// the current directory) and removes it afterwards.
class TempCwd {
public:
    TempCwd() {
        old_ = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "upd.XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) std::abort();
        dir_ = buf.data();
        std::filesystem::current_path(dir_);
    }
    ~TempCwd() {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& path() const { return dir_; }
    // Regular files left in the directory.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path old_;
    std::filesystem::path dir_;
};

}  // namespace testing_update
