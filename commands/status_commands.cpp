// Information, status, log and reservation commands: FS S, I, A, Y, T, G, V, =.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands/length_request.h"
#include "link/trace.h"

namespace {
constexpr uint8_t kFS = 0x1C;
}  // namespace

uint32_t ElementNumber(ArgVector args, int element, uint32_t fallback) {
    if (args == nullptr || args[element] == nullptr) return fallback;
    return static_cast<uint32_t>(atoi(args[element]));
}

int LengthRequest(CPrinterIO* io, const char* method, uint8_t letter, ArgVector args,
                  uint32_t defaultLength, uint32_t maxLength, uint8_t* area, size_t areaSize) {
    uint32_t length = ElementNumber(args, 0, defaultLength);
    if (length > maxLength) length = maxLength;
    memset(area, 0, areaSize);
    CommandBlock request{kFS, letter, length, nullptr};
    CommandBlock reply{0, 0, length, area};
    const int32_t result = io->SendRecv(&request, 0, &reply, length);
    // A failed exchange is never taken for data, whatever the reply
    // block's length field holds.
    if (result < 0 || result != static_cast<int32_t>(reply.length)) {
        TraceExchangeFailure(method, result, static_cast<int32_t>(reply.length));
        return 0;
    }
    return 1;
}

int CPrinterIO::CmdRequestSence(ArgVector args) {
    return LengthRequest(this, "CPrinterIO::CmdRequestSence", 'S', args, 22, 22, m_errorInfo,
                         sizeof m_errorInfo);
}

int CPrinterIO::CmdInquiry(ArgVector args) {
    return LengthRequest(this, "CPrinterIO::CmdInquiry", 'I', args, 36, 36, m_productInfo,
                         sizeof m_productInfo);
}

int CPrinterIO::CmdSystemInfo(ArgVector args) {
    return LengthRequest(this, "CPrinterIO::CmdSystemInfo", 'Y', args, 51, 51, m_systemInfo,
                         sizeof m_systemInfo);
}

int CPrinterIO::CmdStatusInfo(ArgVector args) {
    return LengthRequest(this, "CPrinterIO::CmdStatusInfo", 'T', args, 60, 60, m_printerStatus,
                         sizeof m_printerStatus);
}

int CPrinterIO::CmdStop(ArgVector) {
    CommandBlock request{kFS, 'A', 0, nullptr};
    CommandBlock reply{0, 0, 0, nullptr};
    // Whatever the printer announces, no data is read.
    const int32_t result = SendRecv(&request, 0, &reply, 0);
    if (result != 0) {
        TraceExchangeFailure("CPrinterIO::CmdStop", result, 0);
        return 0;
    }
    return 1;
}

int CPrinterIO::CmdGetPrinterData(ArgVector args) {
    if (args == nullptr) {
        TraceArgumentError("CPrinterIO::CmdGetPrinterData");
        return 0;
    }
    // Not capped: the caller's buffer in element 1 has room for the length.
    const uint32_t length = ElementNumber(args, 0, 0);
    CommandBlock request{kFS, 'G', length, nullptr};
    CommandBlock reply{0, 0, length, args[1]};
    const int32_t result = SendRecv(&request, 0, &reply, length);
    if (result < 0 || result != static_cast<int32_t>(reply.length)) {
        TraceExchangeFailure("CPrinterIO::CmdGetPrinterData", result,
                             static_cast<int32_t>(reply.length));
        return 0;
    }
    return 1;
}

int CPrinterIO::CmdGetPrinterLog(ArgVector args) {
    if (args == nullptr) {
        TraceArgumentError("CPrinterIO::CmdGetPrinterLog");
        return 0;
    }
    uint32_t length = ElementNumber(args, 0, 3145728);
    if (length > 1048576) length = 1048576;
    CommandBlock request{kFS, 'V', length, nullptr};
    CommandBlock reply{0, 0, length, args[1]};
    const int32_t result = SendRecv(&request, 0, &reply, length);
    if (result == -1) {
        TraceExchangeFailure("CPrinterIO::CmdGetPrinterLog", result,
                             static_cast<int32_t>(reply.length));
        return 0;
    }
    if (args[2] != nullptr) snprintf(args[2], 256, "%d", result);
    return 1;
}

int CPrinterIO::CmdPrintReserve(ArgVector args) {
    if (args == nullptr || args[0] == nullptr) {
        TraceArgumentError("CPrinterIO::CmdPrintReserve");
        return 0;
    }
    const int code = args[0][0] - '0';
    uint8_t payload = static_cast<uint8_t>(code);
    uint8_t result = 0xFF;
    CommandBlock request{kFS, '=', 1, &payload};
    CommandBlock reply{0, 0, 1, &result};
    const int32_t returned = SendRecv(&request, 1, &reply, 1);
    if (returned < 0 || returned != static_cast<int32_t>(reply.length)) {
        TraceExchangeFailure("CPrinterIO::CmdPrintReserve", returned,
                             static_cast<int32_t>(reply.length));
        return 0;
    }
    // Only a result that the request admits is written back.
    bool admitted = false;
    switch (code) {
        case 0:
            admitted = result <= 2;
            break;
        case 1:
            admitted = result == 0 || result == 2;
            break;
        case 2:
            admitted = result == 0 || result == 1;
            break;
        default:
            break;
    }
    if (admitted && args[1] != nullptr) args[1][0] = static_cast<char>('0' + result);
    return 1;
}
