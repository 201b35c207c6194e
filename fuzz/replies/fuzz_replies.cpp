// The printer's replies as an adversary: every byte the updater reads from
// the USB device comes from the fuzzer's input, on a virtual clock. The
// updater runs the identification's maintenance frames (GS A, GS E, GS J)
// and then a whole firmware update; neither may crash, leak or hang,
// whatever the printer answers.
//
// Input: byte 0 picks the load file (the embedded one or one of three small
// ones, so that short inputs reach the transfer); the rest is the reply
// stream. Once it is used up, every read runs into the device's 30 s limit.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/resource.h"
#include "platform/trace_sink.h"
#include "platform/usb.h"
#include "tests/update/load_file_builder.h"
#include "tests/update/scripted_usb.h"
#include "update/fw_commands.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

namespace {

std::vector<uint8_t> SmallLoadFile(int variant) {
    using testing_update::BuiltSection;
    using testing_update::Pattern;
    using testing_update::Placeholder;
    const uint8_t flags[3][3] = {{'Y', 'N', 'Y'}, {'N', 'N', 'N'}, {'Y', 'Y', 'Y'}};
    const uint8_t* f = flags[variant - 1];
    std::vector<BuiltSection> s(3);
    s[0].tag = "MC"; s[0].data = Pattern(8193, 1); s[0].flag = f[0];
    s[1].tag = "ST"; s[1].data = Placeholder(1536); s[1].flag = f[1]; s[1].classValue = 0;
    s[2].tag = "DP"; s[2].data = Pattern(100, 3); s[2].flag = f[2];
    return testing_update::BuildLoadFile(s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The backup file goes into the current directory, the archive of the
    // printer's ST data into the state folder: use private ones.
    char dir[] = "/tmp/fuzz_replies.XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    if (setenv("XDG_STATE_HOME", dir, 1) != 0) std::abort();
    platform::SetTraceObserver([](std::string_view) {}, true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::vector<uint8_t> kSmall[3] = {SmallLoadFile(1), SmallLoadFile(2),
                                                   SmallLoadFile(3)};
    const int variant = data[0] & 3;
    if (variant != 0)
        platform::SetLoadFileOverride(kSmall[variant - 1].data(), kSmall[variant - 1].size());

    platform::VirtualClock clock;
    platform::ScopedClock scopedClock(clock);
    testing_update::ScriptedUsb usb(data + 1, size - 1, clock);
    usb.record = false;
    platform::SetUsbBackend(&usb);

    g_linkKind = kLinkUsb;
    g_vendorIdText = "5B7D";
    g_productIdText = "0023";
    g_fwPacketSize = 4096;
    g_fwFramesEnabled = 1;
    if (OpenLink() != 0) {
        // As identification does: GS A, GS E until not busy, GS J (32).
        int r = FwCommand(kFwCodeStart, 0, nullptr, 0);
        uint8_t status[2] = {0, 2};
        const uint32_t start = platform::TickCount();
        while (r == 0 && status[1] == 2 && platform::TickCount() - start < 10000)
            r = FwCommand(kFwCodeReadStatus, 0, status, 2);
        uint8_t header[32] = {};
        if (r == 0) r = FwCommand(kFwCodeReadTable, 0, header, sizeof header);
        // Unknown codes and frames with no buffer.
        FwCommand(481, 0, nullptr, 0);
        FwCommand(kFwCodeReadPacket, 0, nullptr, 64);

        UpdateErrorFields errors;
        const int result = RunFirmwareUpdate(errors.record, nullptr);
        if (result != 0 && result != 4) std::abort();
        // Archived read-backs pile up otherwise, one per run.
        std::error_code ec;
        std::filesystem::remove_all("quillon", ec);
    }
    CloseLink();
    if (usb.openHandles != 0) std::abort();  // every opened handle was closed
    platform::SetUsbBackend(nullptr);
    platform::ClearLoadFileOverride();
    return 0;
}
