// A virtual clock for an updater that talks to the bridged printer in the
// same process: the updater's waits and sleeps move the printer's time
// with them (its restart, a dropped link coming back), at once and in the
// updater's thread, so that what the printer's link did is on the bus
// before the updater looks again. Transfers themselves run in real time,
// and that time passes on this clock too: a printer that finishes on its
// own clock while the updater polls it without a pause gets there.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/clock.h"
#include "tests/usb_libusb/usb_bridge.h"

namespace usbtest {

class CBridgeClock : public platform::Clock {
public:
    explicit CBridgeClock(CUsbBridge& bridge) : m_bridge(bridge) { m_bridge.CatchUp(m_now); }
    uint32_t TickCount() override {
        PassRealTime();
        return m_now;
    }
    void Sleep(uint32_t ms) override { Advance(ms); }
    void Wait(uint32_t ms) override { Advance(ms); }
    void Advance(uint32_t ms) {
        PassRealTime();
        m_now += ms;
        m_bridge.CatchUp(m_now);
    }

private:
    // Adds the whole milliseconds of real time that passed since the last
    // look.
    void PassRealTime() {
        const auto now = std::chrono::steady_clock::now();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_real).count();
        if (ms <= 0) return;
        m_real += std::chrono::milliseconds(ms);
        m_now += static_cast<uint32_t>(ms);
        m_bridge.CatchUp(m_now);
    }

    CUsbBridge& m_bridge;
    uint32_t m_now = 1000;
    std::chrono::steady_clock::time_point m_real = std::chrono::steady_clock::now();
};

}  // namespace usbtest
