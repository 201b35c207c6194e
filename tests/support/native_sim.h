// The virtual printer as a native zkq870-sim process serving TCP on
// 127.0.0.1, for tests of a link over a real socket to a separate program.
//
// A POSIX test starts the simulator itself. A Windows test under wine
// cannot start the Linux program: CTest starts one for each test
// (scripts/with-native-sim) and names its port in QUILLON_NATIVE_SIM_PORT.
// Without either, ok() is false and why() says what is missing, so that
// the test can skip with that reason.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace testsupport {

class CNativeSim {
public:
    // The port in QUILLON_NATIVE_SIM_PORT when set; otherwise the simulator
    // at simPath ("" for none) is started, default scenario, any free port.
    explicit CNativeSim(const std::string& simPath);
    // Stops a simulator that this object started.
    ~CNativeSim();
    CNativeSim(const CNativeSim&) = delete;
    CNativeSim& operator=(const CNativeSim&) = delete;

    bool ok() const { return m_port != 0; }
    const std::string& why() const { return m_why; }
    uint16_t port() const { return m_port; }

private:
    std::unique_ptr<CChildProcess> m_child;
    uint16_t m_port = 0;
    std::string m_why;
};

}  // namespace testsupport
