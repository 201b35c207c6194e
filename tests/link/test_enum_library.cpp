// A printer access library that only enumerates: it reports the number of
// bytes the test set with linkTestSetNeeded and remembers each call's
// buffer size.
#include <cstdint>

#include "link/printer_record.h"
#include "tests/support/test_export.h"

namespace {
int32_t g_needed = 0;
int32_t g_result = 0;
int32_t g_calls = 0;
int32_t g_lastSize = -1;
bool g_lastHadBuffer = false;
}  // namespace

TEST_EXPORT int32_t QV_CALL qv71XXEnumPrinters(void* buffer, int32_t bufferSize,
                                               int32_t* bytesNeeded, int32_t* count) {
    ++g_calls;
    g_lastSize = bufferSize;
    g_lastHadBuffer = buffer != nullptr;
    if (bytesNeeded != nullptr) *bytesNeeded = g_needed;
    if (count != nullptr) *count = g_needed / 1308;
    // The records the caller's buffer holds get a recognisable byte.
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (int32_t i = 0; buffer != nullptr && i < bufferSize && i < g_needed; ++i) bytes[i] = 0x5A;
    return g_result;
}

TEST_EXPORT void linkTestSetNeeded(int32_t needed, int32_t result) {
    g_needed = needed;
    g_result = result;
    g_calls = 0;
    g_lastSize = -1;
}
TEST_EXPORT int32_t linkTestCalls() { return g_calls; }
TEST_EXPORT int32_t linkTestLastSize() { return g_lastSize; }
TEST_EXPORT int32_t linkTestLastHadBuffer() { return g_lastHadBuffer ? 1 : 0; }
