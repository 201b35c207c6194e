#include "tests/support/temp_dir.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/support/process_env.h"

namespace testsupport {

CTempDir::CTempDir(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (!ec) {
        // The pid keeps parallel test processes apart, the counter the
        // folders of one process, the random part leftovers of a killed run.
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".%d.%u.%08x", CurrentProcessId(), counter++,
                          static_cast<unsigned>(random()));
            const std::filesystem::path candidate = base / (stem + name);
            if (std::filesystem::create_directory(candidate, ec)) {
                m_path = candidate;
                return;
            }
        }
    }
    std::fprintf(stderr, "cannot make a temporary folder for %s\n", stem.c_str());
    std::abort();
}

CTempDir::~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace testsupport
