// The virtual printer as the in-process transports reach it: one printer
// on a virtual clock, connections that belong to one generation of the
// printer's link, and the time each transfer call costs.
//
// Before every call a transport lets the printer catch up with the time
// that passed on the clock since it last heard from the host (the
// updater's waits and sleeps), then charges the call's own cost.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "sim/engine/virtual_printer.h"

namespace sim {

class PrinterLine {
public:
    // clock may be null (no time passes, none is charged).
    PrinterLine(VirtualPrinter& printer, platform::VirtualClock* clock);

    VirtualPrinter& printer() { return m_printer; }
    const VirtualPrinter& printer() const { return m_printer; }

    // Tells the printer how much time passed on the clock.
    void Sync();
    // Advances the clock by ms (a transfer's cost, a time-out), then Sync.
    void Charge(uint32_t ms);
    // Sync, then the cost of one transfer call.
    void ChargeCall() { Charge(m_costPerCall); }
    void SetCostPerCall(uint32_t ms) { m_costPerCall = ms; }

    // The printer's link is up: a connection can begin.
    bool Up() const { return m_printer.LinkUp(); }
    // Begins a new connection (the printer forgets any half-received frame
    // and unread reply); returns its generation. Only while Up().
    uint32_t Connect();
    // A connection of that generation still reaches the printer.
    bool Alive(uint32_t generation) const {
        return m_printer.LinkUp() && m_printer.LinkGeneration() == generation;
    }
    // Reply bytes ready for a live connection (none from a silent printer).
    bool HasReply() const { return !m_printer.Silent() && m_printer.Pending() > 0; }

private:
    VirtualPrinter& m_printer;
    platform::VirtualClock* m_clock;
    uint32_t m_lastTick;
    uint32_t m_costPerCall = 1;
};

}  // namespace sim
