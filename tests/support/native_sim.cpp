#include "tests/support/native_sim.h"

#include <csignal>
#include <cstdlib>

#include "tests/support/process_env.h"

namespace testsupport {

namespace {

constexpr int kReadyMs = 10000;

// A port number, or 0.
uint16_t PortOf(const std::string& text) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && n > 0 && n < 65536 ? static_cast<uint16_t>(n) : 0;
}

}  // namespace

CNativeSim::CNativeSim(const std::string& simPath) {
    if (const auto given = GetEnv("QUILLON_NATIVE_SIM_PORT")) {
        m_port = PortOf(*given);
        if (m_port == 0) m_why = "QUILLON_NATIVE_SIM_PORT is no port: \"" + *given + "\"";
        return;
    }
    if (simPath.empty()) {
        m_why =
            "no native zkq870-sim: QUILLON_NATIVE_SIM_PORT is not set (CTest sets it when the "
            "host build's zkq870-sim exists; build the host build first, or point "
            "QUILLON_HOST_BUILD_DIR at one)";
        return;
    }
    ChildOptions options;
    options.input = ChildOptions::Input::kNull;
    // A bound on its life, should this process die without stopping it.
    m_child = std::make_unique<CChildProcess>(
        std::vector<std::string>{simPath, "--tcp", "0", "--max-seconds", "300"}, options);
    if (!m_child->started()) {
        m_why = "cannot start " + simPath;
        return;
    }
    const std::string prefix = "ready tcp 127.0.0.1:";
    const std::string ready = m_child->WaitForLine(prefix, kReadyMs);
    m_port = ready.empty() ? 0 : PortOf(ready.substr(prefix.size()));
    if (m_port == 0) m_why = "zkq870-sim did not report its port: " + m_child->err();
}

CNativeSim::~CNativeSim() {
    if (m_child && m_child->running()) m_child->Stop(SIGTERM, 5000);
}

}  // namespace testsupport
