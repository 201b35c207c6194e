// Every test process that runs the update engine keeps the printers' ST
// archive in a state folder of its own ($XDG_STATE_HOME, also inherited by
// the processes a test starts), removed when the process ends: tests never
// write into the user's own archive.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

class PrivateStateHome : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-state.XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) {
            FAIL() << "no private state folder";
        }
        m_dir = buffer.data();
        ::setenv("XDG_STATE_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }

private:
    std::string m_dir;
};

[[maybe_unused]] ::testing::Environment* const kPrivateStateHome =
    ::testing::AddGlobalTestEnvironment(new PrivateStateHome);

}  // namespace
