#include "platform/trace_sink.h"

#include <mutex>
#include <string>

namespace platform {

// The platform's own debug channel (syslog / OutputDebugStringW).
void WriteDebugChannel(std::string_view line);

namespace {
TraceObserver g_observer;
bool g_quiet = false;
}  // namespace

void WriteDebugLine(std::string_view line) {
    if (g_observer) g_observer(line);
    if (!g_quiet) WriteDebugChannel(line);
}

void SetTraceObserver(TraceObserver observer, bool quiet) {
    g_observer = std::move(observer);
    g_quiet = g_observer ? quiet : false;
}

}  // namespace platform
