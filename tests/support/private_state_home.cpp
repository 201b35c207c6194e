// Every test process that runs the update engine keeps the printers' ST
// archive in a state folder of its own, removed when the process ends:
// tests never write into the user's own archive. The folder is the state
// folder the platform reports in this process, and $XDG_STATE_HOME, which
// the processes a test starts inherit (the POSIX programs read it).
#include <gtest/gtest.h>

#include <memory>

#include "platform/state_files.h"
#include "tests/support/process_env.h"
#include "tests/support/temp_dir.h"

namespace {

class PrivateStateHome : public ::testing::Environment {
public:
    void SetUp() override {
        m_dir = std::make_unique<testsupport::CTempDir>("quillon-state");
        testsupport::SetEnv("XDG_STATE_HOME", m_dir->string());
        platform::SetUserStateDirectoryForTest(m_dir->string());
    }
    void TearDown() override {
        platform::SetUserStateDirectoryForTest("");
        m_dir.reset();
    }

private:
    std::unique_ptr<testsupport::CTempDir> m_dir;
};

[[maybe_unused]] ::testing::Environment* const kPrivateStateHome =
    ::testing::AddGlobalTestEnvironment(new PrivateStateHome);

}  // namespace
