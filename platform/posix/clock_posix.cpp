#include <time.h>

#include "platform/clock.h"

namespace platform {
namespace {

uint32_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void NanoSleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

class PosixClock : public Clock {
public:
    uint32_t TickCount() override { return MonotonicMs(); }
    void Sleep(uint32_t ms) override { NanoSleepMs(ms); }
    // A busy wait in short sleeps: the caller sees the same interval
    // without holding a core.
    void Wait(uint32_t ms) override {
        const uint32_t start = MonotonicMs();
        for (;;) {
            const uint32_t elapsed = MonotonicMs() - start;
            if (elapsed >= ms) return;
            const uint32_t left = ms - elapsed;
            NanoSleepMs(left < 5 ? left : 5);
        }
    }
};

}  // namespace

Clock& RealClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace platform
