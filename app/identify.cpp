// Identification of the printer: connect, wait until it is idle, start the
// maintenance run, wait for its maintenance status and read the firmware
// version it runs.
#include <cstring>
#include <memory>
#include <new>

#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/text.h"
#include "update/fw_commands.h"

const uint8_t kNewVersion[16] = {'1', '.', '3', ' ', ' ', ' ', ' ', ' ',
                                 ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

namespace {

constexpr uint32_t kBusyLimitMs = 60000;
constexpr uint32_t kMaintenanceLimitMs = 10000;
constexpr uint32_t kPollIntervalMs = 100;
constexpr uint32_t kAfterStartMs = 1000;
constexpr uint32_t kStatusSize = 60;
constexpr uint8_t kStatusBusyBit = 0x02;
constexpr uint32_t kImageHeaderVersionAt = 8;

// One pass of the connect loop: true when the link is up.
bool TryConnect() {
    switch (g_linkKind) {
        case kLinkTcp: {
            if (OpenLink() != 1) return false;
            int32_t digit = 0;
            if (ReservePrinter('1', &digit) != 0) return true;
            CloseLink();
            return false;
        }
        case kLinkUsb:
            return OpenLink() != 0;
        case kLinkLibrary:
            if (OpenLink() == 1) return true;
            g_printerIO.CloseLibrary();
            std::memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
            return false;
        default:
            return false;
    }
}

}  // namespace

std::string VersionDisplayText(const uint8_t field[16]) {
    size_t n = 0;
    while (n < 16 && field[n] != ' ' && field[n] != 0) ++n;
    // The field comes from the printer: keep its text, but let no byte
    // that is not well-formed UTF-8 into the display text (U+FFFD instead).
    return platform::Utf16ToUtf8(
        platform::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(field), n)));
}

int CQuillonDlg::IdentifyPrinter() {
    // Whatever the configuration says: USB, the printer's own ids, any
    // device.
    g_linkKind = kLinkUsb;
    g_vendorIdText = "5B7D";
    g_productIdText = "0023";
    g_fwPacketSize = 4096;

    while (!TryConnect()) {
        const int answer =
            ShowMessage(kIdsConnectRetry, LoadStringText(kIdsConnectRetry), kIdsCaptionConfirm,
                        platform::kMbRetryCancel | platform::kMbIconExclamation);
        if (answer == platform::kIdCancel) return 7;
    }

    // Wait until the printer no longer reports busy. A failed status
    // request leaves the buffer as it was, and the wait goes on.
    {
        g_fwFramesEnabled = 0;
        std::unique_ptr<uint8_t[]> status(new (std::nothrow) uint8_t[kStatusSize]());
        if (!status) return 4;
        const uint32_t start = platform::TickCount();
        do {
            QueryPrinterStatus(status.get());
            if (platform::TickCount() - start >= kBusyLimitMs) return 8;
            platform::WaitMs(kPollIntervalMs);
        } while (status[0] & kStatusBusyBit);
    }

    g_fwFramesEnabled = 1;
    int result = FwCommand(kFwCodeStart, 0, nullptr, 0);  // GS A
    if (result != 0) return result;
    platform::WaitMs(kAfterStartMs);

    // Wait while the maintenance status reports busy. The time is tested
    // before the condition; any condition other than busy ends the wait.
    {
        uint8_t reply[2] = {0, kFwConditionBusy};
        const uint32_t start = platform::TickCount();
        for (;;) {
            result = FwCommand(kFwCodeReadStatus, 0, reply, sizeof reply);  // GS E
            if (result != 0) return result;
            if (platform::TickCount() - start >= kMaintenanceLimitMs) return 9;
            if (reply[1] != kFwConditionBusy) break;
            platform::WaitMs(kPollIntervalMs);
        }
    }

    // The image header. Cleared first, so that a short reply leaves zeros
    // (an empty version) rather than whatever the memory held.
    uint8_t header[kImageHeaderSize] = {};
    result = FwCommand(kFwCodeReadTable, 0, header, sizeof header);  // GS J
    if (result != 0) return result;

    std::memcpy(m_currentVersion, header + kImageHeaderVersionAt, sizeof m_currentVersion);
    std::memcpy(m_newVersion, kNewVersion, sizeof m_newVersion);
    m_strNewVersion = VersionDisplayText(m_newVersion);
    m_strCurrentVersion = VersionDisplayText(m_currentVersion);
    SetDlgItemText(kIdcMessage, FormatStringText(kIdsUpdateTarget, m_strNewVersion.c_str(),
                                                 m_strCurrentVersion.c_str()));
    return 0;
}
