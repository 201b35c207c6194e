#include "sim/transport/printer_host.h"

namespace sim {

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PrinterHost::PrinterHost(VirtualPrinter& printer)
    : m_printer(printer), m_last(std::chrono::steady_clock::now()),
      m_lastHostBytesMs(MonotonicMs()) {}

void PrinterHost::AdvanceLocked() {
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_last).count();
    if (ms <= 0) return;
    // Whole milliseconds only; the remainder is carried to the next call.
    m_last += std::chrono::milliseconds(ms);
    uint64_t left = static_cast<uint64_t>(ms);
    while (left) {
        const uint32_t step = left > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(left);
        m_printer.AdvanceTime(step);
        left -= step;
    }
}

void PrinterHost::HostWrite(const uint8_t* data, size_t n) {
    if (n == 0) return;
    With([&](VirtualPrinter& p) {
        if (p.LinkUp()) m_lastWriteGeneration = uint64_t{p.LinkGeneration()} + 1;
        p.HostWrite(data, n);
    });
    m_lastHostBytesMs = MonotonicMs();
}

bool PrinterHost::HostWroteOnGeneration(uint32_t g) const {
    return m_lastWriteGeneration.load() == uint64_t{g} + 1;
}

uint64_t PrinterHost::MsSinceHostBytes() const {
    const int64_t d = MonotonicMs() - m_lastHostBytesMs.load();
    return d > 0 ? static_cast<uint64_t>(d) : 0;
}

ServiceLoop::~ServiceLoop() { Stop(); }

void ServiceLoop::Start() {
    if (m_thread.joinable()) return;
    m_stop = false;
    m_thread = std::thread([this] { Run(m_stop); });
}

void ServiceLoop::Stop() {
    if (!m_thread.joinable()) return;
    m_stop = true;
    m_thread.join();
}

}  // namespace sim
