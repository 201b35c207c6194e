#include "sim/transport/printer_line.h"

namespace sim {

PrinterLine::PrinterLine(VirtualPrinter& printer, platform::VirtualClock* clock)
    : m_printer(printer), m_clock(clock), m_lastTick(clock ? clock->TickCount() : 0) {}

void PrinterLine::Sync() {
    if (!m_clock) return;
    const uint32_t now = m_clock->TickCount();
    const uint32_t elapsed = now - m_lastTick;  // wraps like the tick counter
    m_lastTick = now;
    if (elapsed) m_printer.AdvanceTime(elapsed);
}

void PrinterLine::Charge(uint32_t ms) {
    if (m_clock && ms) m_clock->Advance(ms);
    Sync();
}

uint32_t PrinterLine::Connect() {
    m_printer.Connect();
    return m_printer.LinkGeneration();
}

}  // namespace sim
