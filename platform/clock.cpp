#include "platform/clock.h"

namespace platform {

Clock& RealClock();  // defined by the platform's implementation

namespace {
Clock* g_installed = nullptr;
}  // namespace

Clock& GetClock() { return g_installed ? *g_installed : RealClock(); }
void SetClock(Clock* clock) { g_installed = clock; }

uint32_t TickCount() { return GetClock().TickCount(); }
void SleepMs(uint32_t ms) { GetClock().Sleep(ms); }
void WaitMs(uint32_t ms) { GetClock().Wait(ms); }

}  // namespace platform
