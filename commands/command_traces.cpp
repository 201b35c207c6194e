// The trace lines that every command method shares.
#include "commands/length_request.h"
#include "link/trace.h"

void TraceExchangeFailure(const char* method, int32_t returned, int32_t expected) {
    TraceError(__LINE__, method, kErrorBadCommand, "送受信失敗（戻り値=[%d] 期待値=[%d]）",
               returned, expected);
}

void TraceArgumentError(const char* method) {
    TraceError(__LINE__, method, kErrorInvalidData, "引数エラー");
}
