// The common steps of a length request (FS S, I, Y, T, J): the asked
// length from element 0 or the default, capped without regard to sign;
// the reply area cleared; the header sent alone; the data into the area.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/printer_io.h"

// The number of element 0 as atoi reads it, or fallback when the vector or
// the element is absent.
uint32_t ElementNumber(ArgVector args, int element, uint32_t fallback);

// Returns 1 when the data that arrived fills the reply block's length,
// else writes the exchange-failure trace under `method` and returns 0.
int LengthRequest(CPrinterIO* io, const char* method, uint8_t letter, ArgVector args,
                  uint32_t defaultLength, uint32_t maxLength, uint8_t* area, size_t areaSize);

// The trace of a failed exchange: "送受信失敗（戻り値=[%d] 期待値=[%d]）".
void TraceExchangeFailure(const char* method, int32_t returned, int32_t expected);
// The trace of a missing argument vector: "引数エラー".
void TraceArgumentError(const char* method);
