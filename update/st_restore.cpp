// The checks of a service restore against the printer: the archived copy
// must hold data and fit the printer's ST area, else nothing is written.
#include "link/byte_order.h"
#include "update/fw_commands.h"
#include "update/update_context.h"

int CheckRestoreFits(UpdateContext& ctx) {
    const StRestoreRequest* restore = ctx.Restore();
    if (restore == nullptr) return kFwOk;
    const PrinterTable& table = ctx.printerTable;
    const uint8_t* st = nullptr;
    for (uint32_t i = 0; i < table.entries && st == nullptr; ++i) {
        const uint8_t* p = table.Entry(i);
        if (IsSt(p)) st = p;
    }
    if (st == nullptr) {
        ctx.report.refusal = RestoreRefusal::kNoStArea;
        return kFwFailed;
    }
    const uint32_t areaSize = GetBE32(st + 12);
    ctx.report.stAreaSize = areaSize;
    if (restore->data.empty()) {
        ctx.report.refusal = RestoreRefusal::kEmpty;
        return kFwFailed;
    }
    if (restore->data.size() > areaSize) {
        ctx.report.refusal = RestoreRefusal::kTooLarge;
        return kFwFailed;
    }
    return kFwOk;
}
