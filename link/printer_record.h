// The C interface of a printer access library: the record that identifies
// a printer and the functions the link binds by name. Plain C so that a
// library built by another compiler can implement it.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_PRINTER_RECORD_SIZE 1308

// One printer as the library enumerates it. Bytes 8 onward identify the
// printer to the library; the rest is the library's own.
typedef struct PrinterRecord {
    uint8_t bytes[QV_PRINTER_RECORD_SIZE];
} PrinterRecord;

#if defined(_WIN32)
#define QV_CALL __stdcall
#else
#define QV_CALL
#endif

// Results are 0 for success. `printer` is the address of byte 8 of a
// PrinterRecord.
typedef int32_t(QV_CALL* qv71XXEnumPrinters_t)(void* buffer, int32_t bufferSize,
                                                int32_t* bytesNeeded, int32_t* count);
typedef int32_t(QV_CALL* qv71XXOpenPrinter_t)(int32_t a, int32_t b, const void* printer,
                                               int32_t c, int32_t d);
typedef int32_t(QV_CALL* qv71XXNetPrinterReservCommand_t)(int32_t a, int32_t b,
                                                           const void* printer, int32_t mode,
                                                           int32_t* value);
typedef int32_t(QV_CALL* qv71XXWrite_t)(int32_t handle, const void* data, int32_t length,
                                         int32_t* written);
typedef int32_t(QV_CALL* qv71XXRead_t)(int32_t handle, void* buffer, int32_t length,
                                        int32_t* read);
typedef int32_t(QV_CALL* qv71XXWriteReadComplete_t)(int32_t handle);
typedef int32_t(QV_CALL* qv71XXClosePrinter_t)(int32_t handle);
typedef int32_t(QV_CALL* qv71XXTerminate_t)(void);
typedef int32_t(QV_CALL* qv71XXWriteData_t)(int32_t handle, const void* data, int32_t length,
                                             int32_t* written);
typedef int32_t(QV_CALL* qv71XXReadData_t)(int32_t handle, void* buffer, int32_t length,
                                            int32_t* read);

#ifdef __cplusplus
}  // extern "C"
static_assert(sizeof(PrinterRecord) == 1308, "the printer record is 1,308 bytes");
#endif
