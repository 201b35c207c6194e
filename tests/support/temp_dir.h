// A fresh temporary folder for one test, removed whole afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class CTempDir {
public:
    // A new folder "<stem>.<pid>.<n>..." in the system's temporary folder;
    // the test aborts when none can be made.
    explicit CTempDir(const std::string& stem);
    // Removes the folder and everything in it.
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string string() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace testsupport
