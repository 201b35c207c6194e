// Print-job commands: ESC sequences inside FS P frames, and the DMA image
// transfer. The texts are sent as they stand; their ranges are the
// printer's business.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "commands/length_request.h"
#include "link/byte_order.h"
#include "link/trace.h"

namespace {

constexpr uint8_t kFS = 0x1C;
constexpr uint8_t kESC = 0x1B;
constexpr uint32_t kPlaneBytes = 2662400;    // 2048 x 1300, one byte per pixel
constexpr uint32_t kDmaHeadBytes = 26;       // ESC J and 24 zero bytes
constexpr uint32_t kDmaPayloadBytes = kDmaHeadBytes + kPlaneBytes;

// The payload of an FS P frame under construction: ESC, the letter, then
// the parameter part.
class EscPayload {
public:
    explicit EscPayload(uint8_t letter) : m_bytes{kESC, letter} {}
    void Text(const char* text) {
        if (text != nullptr) m_bytes.insert(m_bytes.end(), text, text + strlen(text));
    }
    void Char(char c) { m_bytes.push_back(static_cast<uint8_t>(c)); }
    // Element texts joined by ','.
    void Joined(ArgVector args, int first, int count) {
        for (int i = first; i < first + count; ++i) {
            if (i > first) Char(',');
            Text(args[i]);
        }
    }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Sends the payload in one FS P frame; no reply data is read, whatever the
// printer announces. Returns 1 when the exchange gives 0.
int SendFsP(CPrinterIO* io, const char* method, uint8_t* payload, uint32_t length) {
    CommandBlock request{kFS, 'P', length, payload};
    CommandBlock reply{0, 0, 0, nullptr};
    const int32_t result = io->SendRecv(&request, static_cast<int32_t>(length), &reply, 0);
    if (result != 0) {
        TraceExchangeFailure(method, result, 0);
        return 0;
    }
    return 1;
}

int SendEsc(CPrinterIO* io, const char* method, EscPayload& payload) {
    auto& bytes = payload.bytes();
    return SendFsP(io, method, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// True when the vector holds every element from 0 to count - 1; otherwise
// writes the argument-error trace.
bool HasElements(const char* method, ArgVector args, int count) {
    bool present = args != nullptr;
    for (int i = 0; present && i < count; ++i) present = args[i] != nullptr;
    if (!present) TraceArgumentError(method);
    return present;
}

}  // namespace

int CPrinterIO::CmdReset(ArgVector args) {
    // Element 1 (with its comma) only follows a present element 0.
    EscPayload payload('@');
    if (args != nullptr && args[0] != nullptr) {
        payload.Text(args[0]);
        if (args[1] != nullptr) {
            payload.Char(',');
            payload.Text(args[1]);
        }
    }
    payload.Char('.');
    return SendEsc(this, "CPrinterIO::CmdReset", payload);
}

int CPrinterIO::CmdPrint(ArgVector) {
    EscPayload payload('>');
    return SendEsc(this, "CPrinterIO::CmdPrint", payload);
}

int CPrinterIO::CmdCopy(ArgVector args) {
    if (!HasElements("CPrinterIO::CmdCopy", args, 1)) return 0;
    EscPayload payload('N');
    payload.Text(args[0]);
    payload.Char('.');
    return SendEsc(this, "CPrinterIO::CmdCopy", payload);
}

int CPrinterIO::CmdImage(ArgVector args) {
    if (!HasElements("CPrinterIO::CmdImage", args, 5)) return 0;
    EscPayload payload('I');
    payload.Joined(args, 0, 5);
    payload.Char('.');
    return SendEsc(this, "CPrinterIO::CmdImage", payload);
}

int CPrinterIO::CmdChar(ArgVector args) {
    if (!HasElements("CPrinterIO::CmdChar", args, 5)) return 0;
    EscPayload payload('C');
    payload.Joined(args, 0, 5);
    // The panel may be left out, together with its comma.
    if (args[5] != nullptr) {
        payload.Char(',');
        payload.Text(args[5]);
    }
    payload.Char('.');
    return SendEsc(this, "CPrinterIO::CmdChar", payload);
}

int CPrinterIO::CmdHologram(ArgVector) {
    EscPayload payload('H');
    return SendEsc(this, "CPrinterIO::CmdHologram", payload);
}

int CPrinterIO::CmdEncodeData(ArgVector args) {
    if (!HasElements("CPrinterIO::CmdEncodeData", args, 3)) return 0;
    // Three texts and no closing '.'.
    EscPayload payload('M');
    payload.Joined(args, 0, 3);
    return SendEsc(this, "CPrinterIO::CmdEncodeData", payload);
}

int CPrinterIO::CmdReverse(ArgVector) {
    EscPayload payload('T');
    return SendEsc(this, "CPrinterIO::CmdReverse", payload);
}

int CPrinterIO::CmdDma2(ArgVector args) {
    const uint8_t* image = args != nullptr ? reinterpret_cast<const uint8_t*>(args[1]) : nullptr;
    if (image == nullptr) {
        TRACE_ERROR("CPrinterIO::CmdDma2", kErrorInvalidData, "イメージデータのアドレス不正");
        return 0;
    }
    // Three planes (C, M, Y) for data type '0', one plane otherwise; an
    // absent data type reads no more than one plane of the caller's memory.
    const int passes = (args[0] != nullptr && args[0][0] == '0') ? 3 : 1;

    // One buffer for every pass: ESC J, 24 zero bytes, one plane.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kDmaPayloadBytes]);
    if (!buffer) {
        TRACE_ERROR("CPrinterIO::CmdDma2", kErrorNotEnoughMemory, "転送バッファ確保失敗");
        return 0;
    }
    memset(buffer.get(), 0, kDmaHeadBytes);
    buffer[0] = kESC;
    buffer[1] = 'J';
    for (int pass = 0; pass < passes; ++pass) {
        memcpy(&buffer[kDmaHeadBytes], image + static_cast<size_t>(pass) * kPlaneBytes, kPlaneBytes);
        if (!SendFsP(this, "CPrinterIO::CmdDma2", buffer.get(), kDmaPayloadBytes)) return 0;
    }
    return 1;
}

int CPrinterIO::CmdNotSupported(ArgVector) {
    // The printer defines no frame for these commands.
    return 0;
}
