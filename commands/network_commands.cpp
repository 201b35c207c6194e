// Network configuration commands: FS H (lock / unlock), FS J (read the
// 64-byte setting area) and FS K (send a setting area).
#include <cstdint>

#include "commands/length_request.h"
#include "link/trace.h"

namespace {
constexpr uint8_t kFS = 0x1C;
constexpr uint32_t kNetSettingsSize = 64;
}  // namespace

int CPrinterIO::CmdLanConfig(ArgVector args) {
    // The one payload byte comes from element 0; without it there is
    // nothing to send.
    if (args == nullptr || args[0] == nullptr) {
        TraceArgumentError("CPrinterIO::CmdLanConfig");
        return 0;
    }
    uint8_t payload = static_cast<uint8_t>(args[0][0] - '0');
    CommandBlock request{kFS, 'H', 1, &payload};
    CommandBlock reply{0, 0, 0, nullptr};
    // Any data the printer announces is left unread.
    const int32_t result = SendRecv(&request, 1, &reply, 0);
    if (result != static_cast<int32_t>(reply.length) || result != 0) {
        TraceExchangeFailure("CPrinterIO::CmdLanConfig", result, 0);
        return 0;
    }
    return 1;
}

int CPrinterIO::CmdLanConfigGet(ArgVector args) {
    return LengthRequest(this, "CPrinterIO::CmdLanConfigGet", 'J', args, kNetSettingsSize,
                         kNetSettingsSize, m_netSettings, sizeof m_netSettings);
}

int CPrinterIO::CmdLanConfigSet(ArgVector args) {
    if (args == nullptr) {
        TraceArgumentError("CPrinterIO::CmdLanConfigSet");
        return 0;
    }
    uint32_t length = ElementNumber(args, 0, kNetSettingsSize);
    if (length > kNetSettingsSize) length = kNetSettingsSize;
    // The area to send is caller memory; without it nothing may be read.
    if (length > 0 && args[1] == nullptr) {
        TraceArgumentError("CPrinterIO::CmdLanConfigSet");
        return 0;
    }
    CommandBlock request{kFS, 'K', length, args[1]};
    CommandBlock reply{0, 0, 0, nullptr};
    const int32_t result = SendRecv(&request, static_cast<int32_t>(length), &reply, 0);
    if (result == -1) {
        TraceExchangeFailure("CPrinterIO::CmdLanConfigSet", result,
                             static_cast<int32_t>(reply.length));
        return 0;
    }
    return 1;
}
