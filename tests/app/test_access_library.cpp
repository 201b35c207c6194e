// A printer access library for the configuration tests: it offers two
// printers and nothing else.
#include <cstdint>
#include <cstring>

#include "link/printer_record.h"

extern "C" {

#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int32_t QV_CALL
    qv71XXEnumPrinters(void* buffer, int32_t bufferSize, int32_t* bytesNeeded, int32_t* count) {
    constexpr int32_t kPrinters = 2;
    constexpr int32_t kNeeded = kPrinters * QV_PRINTER_RECORD_SIZE;
    if (bytesNeeded != nullptr) *bytesNeeded = kNeeded;
    if (buffer == nullptr || bufferSize < kNeeded) return 0;
    std::memset(buffer, 0, static_cast<size_t>(kNeeded));
    if (count != nullptr) *count = kPrinters;
    return 0;
}

}  // extern "C"
