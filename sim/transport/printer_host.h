// The virtual printer behind real transports: one lock around the printer,
// and printer time that follows the real (monotonic) clock. Every
// transport thread reaches the printer only through With().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sim/engine/virtual_printer.h"

namespace sim {

class PrinterHost {
public:
    explicit PrinterHost(VirtualPrinter& printer);
    PrinterHost(const PrinterHost&) = delete;
    PrinterHost& operator=(const PrinterHost&) = delete;

    // Runs f(printer) under the lock, after the printer has been told how
    // much real time passed since the last call.
    template <class F>
    decltype(auto) With(F&& f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        AdvanceLocked();
        return f(m_printer);
    }

    // Host bytes for the printer (notes the time of the last host byte).
    void HostWrite(const uint8_t* data, size_t n);
    // Milliseconds since host bytes last arrived; since start when none did.
    uint64_t MsSinceHostBytes() const;
    // Whether host bytes have arrived on the printer's link of generation g.
    bool HostWroteOnGeneration(uint32_t g) const;

private:
    void AdvanceLocked();

    VirtualPrinter& m_printer;
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_last;
    std::atomic<int64_t> m_lastHostBytesMs;
    // Generation + 1 of the link the host last wrote on (0: none yet).
    std::atomic<uint64_t> m_lastWriteGeneration{0};
};

// A transport loop that runs either in the caller's thread (Run) or in a
// background thread of its own (Start / Stop).
class ServiceLoop {
public:
    virtual ~ServiceLoop();
    // Serves until stop becomes true.
    virtual void Run(const std::atomic<bool>& stop) = 0;
    void Start();
    // Stops and joins the background thread; harmless when not started.
    // Every derived class calls it from its own destructor.
    void Stop();

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

// Milliseconds of the monotonic clock (for the loops' bookkeeping).
int64_t MonotonicMs();

}  // namespace sim
