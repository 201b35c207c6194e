// The update procedure behind the Firmware Update button: load the load
// file, check the printer, preserve its ST area, transfer the sections,
// finish or cancel the maintenance run, wait for the printer's restart,
// reconnect, confirm the version, remove the backup file and close the
// link. Returns 0 or 4.
#include <cstring>
#include <new>
#include <string>

#include "update/update_firmware.h"
#include "link/byte_order.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "update/fw_commands.h"
#include "update/load_image.h"
#include "update/update_context.h"

namespace {

constexpr uint32_t kRestartWaitMs = 90000;
constexpr uint32_t kReconnectLimitMs = 90000;
constexpr uint32_t kReconnectPauseMs = 10000;
constexpr size_t kSystemInfoSize = 51;
constexpr size_t kVersionAt = 38;     // 4 bytes of the system information
constexpr size_t kIdentifierAt = 42;  // up to 8 bytes of the system information
constexpr size_t kIdentifierMax = 8;
constexpr char kBackupSuffix[] = "QX.qfw";

// Closes the link as the end of a run does: on TCP the reservation is
// released first.
void CloseTheLink() {
    if (g_linkKind == kLinkTcp) {
        int32_t digit = 0;
        ReservePrinter('2', &digit);
    }
    CloseLink();
}

// The printer's identifier as a file-name part: the text up to the first
// zero byte, at most 8 bytes. It comes from the printer, so it must be
// printable ASCII and must not name another directory; false otherwise.
bool IdentifierText(const uint8_t* systemInfo, std::string* text) {
    text->clear();
    for (size_t k = 0; k < kIdentifierMax; ++k) {
        const uint8_t c = systemInfo[kIdentifierAt + k];
        if (c == 0) break;
        if (c < 0x20 || c > 0x7E) return false;
        if (std::strchr("/\\:*?\"<>|", c) != nullptr) return false;
        text->push_back(static_cast<char>(c));
    }
    if (*text == "." || *text == "..") return false;
    return true;
}

// A restore names the printer its copy came from; another printer's copy is
// written only on request.
bool SamePrinter(const UpdateContext& ctx) {
    const StRestoreRequest* restore = ctx.Restore();
    return restore == nullptr || restore->anyPrinter ||
           restore->identifier == ctx.report.identifier;
}

// Up to 4 characters of the version text, stopping at a zero byte present in
// both.
bool SameVersion(const uint8_t* a, const uint8_t* b) {
    for (size_t k = 0; k < 4; ++k) {
        if (a[k] != b[k]) return false;
        if (a[k] == 0) return true;
    }
    return true;
}

// Waits for the printer to come back on the link and compares its version.
void Reconnect(UpdateContext& ctx) {
    const uint32_t start = platform::TickCount();
    for (;;) {
        if (platform::TickCount() - start >= kReconnectLimitMs) {
            ctx.result = 4;
            return;
        }
        platform::SleepMs(kReconnectPauseMs);
        bool back = false;
        switch (g_linkKind) {
        case kLinkTcp:
            if (OpenLink() == 1) {
                int32_t digit = 0;
                if (ReservePrinter('1', &digit) != 0)
                    back = true;
                else
                    CloseLink();
            }
            break;
        case kLinkUsb:
            back = OpenLink() != 0;
            break;
        case kLinkLibrary:
            if (OpenLink() == 1)
                back = true;
            else
                CloseLink();
            break;
        default:
            break;
        }
        if (!back) continue;
        uint8_t info[kSystemInfoSize] = {};
        const int query = QuerySystemInfo(info);
        if (query == 0 && ctx.progress != nullptr)
            ctx.progress->OnPrinterBack(reinterpret_cast<const char*>(info + kVersionAt));
        if (query == 0 && !SameVersion(info + kVersionAt, ctx.expectedVersion)) ctx.result = 4;
        return;
    }
}

// The end of every run that loaded the load file.
int EndSequence(UpdateContext& ctx) {
    CloseLoadImage(&ctx.image);
    ctx.ReleaseTables();
    if (ctx.status[1] == kFwConditionFailed || ctx.status[0] != kFwModeNormal || ctx.result != 0)
        ctx.result = 4;
    unsigned long error = 0;
    platform::RemoveFile(ctx.backupPath, &error);
    CloseTheLink();
    ctx.Report(UpdatePhase::kDone);
    return ctx.result;
}

// Checks against the printer, preservation and transfer; 0 or the first
// failure's result.
int RunMaintenance(UpdateContext& ctx) {
    if (!SamePrinter(ctx)) {
        ctx.report.refusal = RestoreRefusal::kOtherPrinter;
        return kFwFailed;
    }
    uint8_t classByte = 0;
    int r = FwCommand(kFwCodeClass, 0, &classByte, 1);
    if (r != kFwOk) return r;
    const uint32_t classValue = GetLE32(ctx.image.FirstSectionHeader() + 0x14);
    if (classValue != 0 && classValue != classByte) return kFwFailed;

    r = FwCommand(kFwCodeReadTable, 0, ctx.printerHeader, kImageHeaderSize);
    if (r != kFwOk) return r;

    if ((r = PreserveStArea(ctx)) != kFwOk) return r;
    return TransferSections(ctx);
}

}  // namespace

bool ByteBlock::Allocate(size_t size) {
    Release();
    m_data.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
    if (!m_data) return false;
    m_size = size;
    return true;
}

void UpdateContext::ReleaseTables() {
    descriptor.Release();
    block.Release();
    printerTable = PrinterTable();
    for (ByteBlock& slot : slots) slot.Release();
}

int RunFirmwareUpdate(UpdateErrorRecord& errors, IUpdateProgress* progress) {
    return RunFirmwareUpdate(errors, progress, UpdateOptions(), nullptr);
}

int RunFirmwareUpdate(UpdateErrorRecord& errors, IUpdateProgress* progress,
                      const UpdateOptions& options, UpdateReport* report) {
    UpdateReport unused;
    UpdateReport& out = report != nullptr ? *report : unused;
    out = UpdateReport();
    UpdateContext ctx(errors, progress, options, out);
    ctx.Report(UpdatePhase::kPreparing);

    // Preparation: no maintenance frame goes out yet.
    g_fwFramesEnabled = 0;
    uint8_t info[kSystemInfoSize] = {};
    QuerySystemInfo(info);  // a failed read leaves the buffer zero
    std::string dir;
    std::string identifier;
    if (!platform::CurrentDirectory(&dir) || !IdentifierText(info, &identifier)) {
        CloseTheLink();
        return 4;
    }
    ctx.backupPath = dir + platform::kPathSeparator + identifier + kBackupSuffix;
    ctx.report.identifier = identifier;
    g_fwFramesEnabled = 1;

    switch (OpenLoadImage(&ctx.image)) {
    case LoadImageStatus::kOk:
        break;
    case LoadImageStatus::kResourceMissing:
        CloseTheLink();
        return 4;
    case LoadImageStatus::kNoMemory:
        ctx.result = 4;
        return EndSequence(ctx);
    }
    // The map holds 64 entries, and a file without sections has nothing to
    // install; either ends the run before any frame.
    const uint32_t count = ctx.image.SectionCount();
    if (count == 0 || count > kMaxLoadEntries) {
        ctx.result = 4;
        return EndSequence(ctx);
    }
    std::memset(ctx.map, kNoSlot, sizeof ctx.map);
    // An update must bring the load file's version; a restore leaves the
    // firmware, and so its version, as it was.
    std::memcpy(ctx.expectedVersion,
                ctx.Restore() != nullptr ? info + kVersionAt : ctx.image.VersionText(),
                sizeof ctx.expectedVersion);

    ctx.result = RunMaintenance(ctx);
    ctx.ReleaseTables();
    ctx.Report(UpdatePhase::kFinishing);
    if (ctx.result == 0) {
        // A printer that is not ready for GS B, or refuses it, has not
        // begun to finish: it is cancelled like any other failed run rather
        // than left waiting in maintenance mode. A GS B whose transfer
        // failed may have arrived, so nothing is sent after it.
        ctx.result = FwWaitMode(kFwModeMaintenance);
        if (ctx.result == kFwOk && FwFinish(0) == kFwNak) ctx.result = kFwNak;
        if (ctx.result != kFwOk) FwCancel(0);
    } else {
        FwCancel(0);
    }

    // Restart wait: the printer works until it reports no longer busy.
    if (ctx.result == 0) {
        ctx.status[1] = kFwConditionBusy;
        const uint32_t start = platform::TickCount();
        while (ctx.status[1] == kFwConditionBusy && ctx.result == 0) {
            ctx.result = FwReadStatus(ctx.status, 2);
            if (ctx.result == 0 && ctx.status[1] == kFwConditionBusy &&
                platform::TickCount() - start >= kRestartWaitMs)
                ctx.result = 4;
        }
    }

    ctx.Report(UpdatePhase::kReconnecting);
    Reconnect(ctx);
    return EndSequence(ctx);
}
