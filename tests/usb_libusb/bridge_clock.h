// A virtual clock for an updater that talks to the bridged printer in the
// same process: the updater's waits and sleeps move the printer's time
// with them (its restart, a dropped link coming back), at once and in the
// updater's thread, so that what the printer's link did is on the bus
// before the updater looks again. Transfers themselves run in real time.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "tests/usb_libusb/usb_bridge.h"

namespace usbtest {

class CBridgeClock : public platform::Clock {
public:
    explicit CBridgeClock(CUsbBridge& bridge) : m_bridge(bridge) { m_bridge.CatchUp(m_now); }
    uint32_t TickCount() override { return m_now; }
    void Sleep(uint32_t ms) override { Advance(ms); }
    void Wait(uint32_t ms) override { Advance(ms); }
    void Advance(uint32_t ms) {
        m_now += ms;
        m_bridge.CatchUp(m_now);
    }

private:
    CUsbBridge& m_bridge;
    uint32_t m_now = 1000;
};

}  // namespace usbtest
