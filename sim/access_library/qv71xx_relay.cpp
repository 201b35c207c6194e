// The relay access library (see qv71xx_relay.h).
#include "sim/access_library/qv71xx_relay.h"

#include <mutex>

#ifdef _WIN32
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kNotConnected = 1167;

std::mutex g_mutex;
Qv71xxRelayTable g_table{};
bool g_bound = false;

// A copy of the table, taken under the lock; empty while none is bound.
Qv71xxRelayTable Table() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_bound ? g_table : Qv71xxRelayTable{};
}

}  // namespace

QV_EXPORT void QV_CALL qv71XXRelayBind(const Qv71xxRelayTable* table) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_bound = table != nullptr;
    g_table = table != nullptr ? *table : Qv71xxRelayTable{};
}

QV_EXPORT int32_t QV_CALL qv71XXEnumPrinters(void* buffer, int32_t bufferSize, int32_t* bytesNeeded,
                                             int32_t* count) {
    const Qv71xxRelayTable t = Table();
    return t.enumPrinters ? t.enumPrinters(t.context, buffer, bufferSize, bytesNeeded, count)
                          : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXOpenPrinter(int32_t a, int32_t b, const void* printer, int32_t c,
                                            int32_t d) {
    const Qv71xxRelayTable t = Table();
    return t.openPrinter ? t.openPrinter(t.context, a, b, printer, c, d) : -1;
}

QV_EXPORT int32_t QV_CALL qv71XXNetPrinterReservCommand(int32_t a, int32_t b, const void* printer,
                                                        int32_t mode, int32_t* value) {
    const Qv71xxRelayTable t = Table();
    return t.reserve ? t.reserve(t.context, a, b, printer, mode, value) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXWrite(int32_t handle, const void* data, int32_t length,
                                      int32_t* written) {
    const Qv71xxRelayTable t = Table();
    return t.write ? t.write(t.context, handle, data, length, written) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXRead(int32_t handle, void* buffer, int32_t length, int32_t* read) {
    const Qv71xxRelayTable t = Table();
    return t.read ? t.read(t.context, handle, buffer, length, read) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXWriteData(int32_t handle, const void* data, int32_t length,
                                          int32_t* written) {
    const Qv71xxRelayTable t = Table();
    return t.writeData ? t.writeData(t.context, handle, data, length, written) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXReadData(int32_t handle, void* buffer, int32_t length,
                                         int32_t* read) {
    const Qv71xxRelayTable t = Table();
    return t.readData ? t.readData(t.context, handle, buffer, length, read) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXWriteReadComplete(int32_t handle) {
    const Qv71xxRelayTable t = Table();
    return t.writeReadComplete ? t.writeReadComplete(t.context, handle) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXClosePrinter(int32_t handle) {
    const Qv71xxRelayTable t = Table();
    return t.closePrinter ? t.closePrinter(t.context, handle) : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXTerminate(void) {
    const Qv71xxRelayTable t = Table();
    return t.terminate ? t.terminate(t.context) : kNotConnected;
}
