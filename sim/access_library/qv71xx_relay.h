/* The relay access library: a printer access library whose functions
 * hand every call on to a table of functions that its host installs, so
 * that a printer living in the host process (the virtual printer on a
 * virtual clock) sits behind the access-library link.
 *
 * The host loads the library, looks up qv71XXRelayBind and passes its
 * table; the library keeps a copy. Until a table is bound (and for a
 * function the table leaves null) a call fails: qv71XXOpenPrinter returns
 * -1, every other function 1167. Plain C, like the library interface. */
#pragma once

#include <stdint.h>

#include "link/printer_record.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Qv71xxRelayTable {
    void* context; /* handed back as the first argument of every function */
    int32_t (*enumPrinters)(void* context, void* buffer, int32_t bufferSize,
                            int32_t* bytesNeeded, int32_t* count);
    int32_t (*openPrinter)(void* context, int32_t a, int32_t b, const void* printer, int32_t c,
                           int32_t d);
    int32_t (*reserve)(void* context, int32_t a, int32_t b, const void* printer, int32_t mode,
                       int32_t* value);
    int32_t (*write)(void* context, int32_t handle, const void* data, int32_t length,
                     int32_t* written);
    int32_t (*read)(void* context, int32_t handle, void* buffer, int32_t length, int32_t* read);
    int32_t (*writeData)(void* context, int32_t handle, const void* data, int32_t length,
                         int32_t* written);
    int32_t (*readData)(void* context, int32_t handle, void* buffer, int32_t length,
                        int32_t* read);
    int32_t (*writeReadComplete)(void* context, int32_t handle);
    int32_t (*closePrinter)(void* context, int32_t handle);
    int32_t (*terminate)(void* context);
} Qv71xxRelayTable;

/* Binds table (copied); null unbinds. */
typedef void(QV_CALL* qv71XXRelayBind_t)(const Qv71xxRelayTable* table);

#ifdef __cplusplus
}  /* extern "C" */
#endif
