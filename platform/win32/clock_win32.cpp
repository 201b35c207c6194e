#include <windows.h>

#include "platform/clock.h"

namespace platform {
namespace {

class Win32Clock : public Clock {
public:
    uint32_t TickCount() override { return ::GetTickCount(); }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }
    void Wait(uint32_t ms) override {
        const DWORD start = ::GetTickCount();
        for (;;) {
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= ms) return;
            ::Sleep(1);
        }
    }
};

}  // namespace

Clock& RealClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace platform
