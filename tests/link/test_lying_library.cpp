// A printer access library that misreports its transfer counts: it takes
// or delivers what it is asked for but reports `lie` more (or, with a
// negative lie, a negative count). Its printer answers every request with
// the reply set by linkTestSetReply.
#include <cstdint>
#include <cstring>
#include <vector>

#include "link/printer_record.h"
#include "tests/support/test_export.h"

namespace {
int32_t g_lie = 0;
std::vector<uint8_t> g_reply;
size_t g_readAt = 0;
int32_t g_written = 0;
}  // namespace

TEST_EXPORT int32_t QV_CALL qv71XXOpenPrinter(int32_t, int32_t, const void*, int32_t, int32_t) {
    return 7;
}
TEST_EXPORT int32_t QV_CALL qv71XXNetPrinterReservCommand(int32_t, int32_t, const void*, int32_t,
                                                          int32_t* value) {
    if (value != nullptr) *value = 1;
    return 0;
}
TEST_EXPORT int32_t QV_CALL qv71XXWrite(int32_t, const void*, int32_t length, int32_t* written) {
    g_written += length;
    g_readAt = 0;  // a new request: the reply starts again
    *written = g_lie < 0 ? g_lie : length + g_lie;
    return 0;
}
TEST_EXPORT int32_t QV_CALL qv71XXRead(int32_t, void* buffer, int32_t length, int32_t* read) {
    size_t n = static_cast<size_t>(length);
    if (n > g_reply.size() - g_readAt) n = g_reply.size() - g_readAt;
    memcpy(buffer, g_reply.data() + g_readAt, n);
    g_readAt += n;
    *read = g_lie < 0 ? g_lie : static_cast<int32_t>(n) + g_lie;
    return 0;
}
TEST_EXPORT int32_t QV_CALL qv71XXWriteReadComplete(int32_t) { return 0; }
TEST_EXPORT int32_t QV_CALL qv71XXClosePrinter(int32_t) { return 0; }
TEST_EXPORT int32_t QV_CALL qv71XXTerminate() { return 0; }

TEST_EXPORT void linkTestSetLie(int32_t lie) { g_lie = lie; }
TEST_EXPORT void linkTestSetReply(const uint8_t* reply, int32_t n) {
    g_reply.assign(reply, reply + n);
    g_readAt = 0;
}
TEST_EXPORT int32_t linkTestWritten() { return g_written; }
