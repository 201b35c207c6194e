// Time: every tick read and every wait of the updater goes through here.
//
// The updater measures time as a 32-bit millisecond tick counter that wraps
// (elapsed times are unsigned differences). Tests install a VirtualClock so
// that a 90-second restart wait costs microseconds.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since some fixed point; wraps at 2^32.
    virtual uint32_t TickCount() = 0;
    // Blocks the caller for ms milliseconds (a reconnection pause).
    virtual void Sleep(uint32_t ms) = 0;
    // A busy wait of ms milliseconds as the updater's waits are written: the
    // caller observes the tick counter advance by at least ms. The real
    // clock sleeps in short steps instead of spinning.
    virtual void Wait(uint32_t ms) = 0;
};

// The clock in force; the real one unless a test installed another.
Clock& GetClock();
// Installs clock (not owned); nullptr restores the real clock.
void SetClock(Clock* clock);

// Shorthands for GetClock().TickCount() / Sleep() / Wait().
uint32_t TickCount();
void SleepMs(uint32_t ms);
void WaitMs(uint32_t ms);

// A clock that moves only when told to, or when someone sleeps or waits on
// it. Advance() is also what simulated devices call to charge the time a
// transfer takes.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(uint32_t start = 1000) : now_(start) {}
    uint32_t TickCount() override { return now_; }
    void Sleep(uint32_t ms) override { Advance(ms); sleptMs_ += ms; ++sleeps_; }
    void Wait(uint32_t ms) override { Advance(ms); waitedMs_ += ms; }
    void Advance(uint32_t ms) { now_ += ms; }

    uint64_t sleptMs() const { return sleptMs_; }
    uint64_t waitedMs() const { return waitedMs_; }
    unsigned sleeps() const { return sleeps_; }

private:
    uint32_t now_;
    uint64_t sleptMs_ = 0;
    uint64_t waitedMs_ = 0;
    unsigned sleeps_ = 0;
};

// Installs a clock for the lifetime of the scope (tests).
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform
