// Moving bytes over the open link, and one command exchange.
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "link/byte_order.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/trace.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"

namespace {

// A transfer call that reports success but moves nothing (the peer closed
// the connection) would repeat for ever; it ends the transfer as a failure
// with this error number.
constexpr platform::ErrorNumber kNoProgressError = kErrorDeviceNotConnected;

}  // namespace

// What differs between the two directions: the trace texts and the error
// record's category.
struct CPrinterIO::Direction {
    const char* function;
    const char* socketCall;
    const char* deviceCall;
    const char* libraryCall;
    uint8_t category;
};

namespace {
const CPrinterIO::Direction kSending{"CPrinterIO::Send", "send", "WriteFile", "m_qv71XXWrite",
                                     kErrUsbWrite};
const CPrinterIO::Direction kReceiving{"CPrinterIO::Recv", "recv", "ReadFile", "m_qv71XXRead",
                                       kErrUsbRead};
}  // namespace

int32_t CPrinterIO::Send(const void* data, int32_t length) {
    return Transfer(kSending, const_cast<void*>(data), length);
}

int32_t CPrinterIO::Recv(void* buffer, int32_t length) {
    return Transfer(kReceiving, buffer, length);
}

// Repeats the transfer call of the open link's kind until the whole length
// has moved; the first failure ends it with -1.
int32_t CPrinterIO::Transfer(const Direction& d, void* data, int32_t length) {
    const bool sending = &d == &kSending;
    uint8_t* p = static_cast<uint8_t*>(data);
    bool open = false;
    switch (m_linkKind) {
        case kLinkTcp:
            open = m_socket != platform::kInvalidSocket;
            break;
        case kLinkUsb:
            open = m_hDevice != platform::kInvalidDevice;
            break;
        case kLinkLibrary:
            open = m_hPrinter != -1;
            break;
        default:
            TraceError(__LINE__, d.function, kErrorDeviceNotConnected, "通信経路種別=[%d]",
                       m_linkKind);
            return 0;
    }
    if (!open || length <= 0) return 0;

    // A device handle or a socket moves through the backend that opened it.
    platform::UsbBackend& usb =
        m_usbBackend != nullptr ? *m_usbBackend : platform::GetUsbBackend();
    platform::TcpBackend& tcp =
        m_tcpBackend != nullptr ? *m_tcpBackend : platform::GetTcpBackend();
    int32_t total = 0;
    // While a USB read brings only zero-length packets: when the wait for
    // data began. The packets do not restart the read's time limit.
    std::optional<uint32_t> emptySince;
    while (total < length) {
        const int32_t remaining = length - total;
        unsigned long error = 0;
        int32_t done = -1;
        const char* call = nullptr;
        const uint32_t callStart = platform::TickCount();
        switch (m_linkKind) {
            case kLinkTcp:
                call = d.socketCall;
                done = sending ? tcp.Send(m_socket, p + total, remaining, &error)
                               : tcp.Recv(m_socket, p + total, remaining, &error);
                break;
            case kLinkUsb: {
                call = d.deviceCall;
                uint32_t moved = 0;
                const bool ok = sending
                                    ? usb.Write(m_hDevice, p + total,
                                                static_cast<uint32_t>(remaining), &moved, &error)
                                    : usb.Read(m_hDevice, p + total,
                                               static_cast<uint32_t>(remaining), &moved, &error);
                done = ok ? static_cast<int32_t>(moved > static_cast<uint32_t>(remaining)
                                                     ? static_cast<uint32_t>(remaining)
                                                     : moved)
                          : -1;
                if (!sending && done == 0) {
                    // A zero-length packet: the printer is still there, so
                    // the read goes on until the limit runs out.
                    if (!emptySince) emptySince = callStart;
                    if (platform::TickCount() - *emptySince < platform::UsbReadTimeoutMs())
                        continue;
                    done = -1;
                    error = platform::UsbTimeoutError();
                }
                break;
            }
            default: {
                call = d.libraryCall;
                int32_t moved = 0;
                int32_t r = -1;
                if (sending && m_qv71XXWrite != nullptr)
                    r = m_qv71XXWrite(m_hPrinter, p + total, remaining, &moved);
                else if (!sending && m_qv71XXRead != nullptr)
                    r = m_qv71XXRead(m_hPrinter, p + total, remaining, &moved);
                if (r != 0) error = platform::LastError();
                done = r == 0 ? (moved > remaining ? remaining : moved) : -1;
                break;
            }
        }
        if (done <= 0) {
            const platform::ErrorNumber code =
                done < 0 ? platform::SystemError(error) : kNoProgressError;
            if (m_linkKind == kLinkUsb) RecordError(d.category, code.value);
            TraceError(__LINE__, d.function, code, "%s", call);
            return -1;
        }
        total += done;
        emptySince.reset();
    }
    return total;
}

int32_t CPrinterIO::SendRecv(CommandBlock* request, int32_t payloadLength, CommandBlock* reply,
                             uint32_t replyLimit) {
    if (request == nullptr || reply == nullptr || payloadLength < 0 ||
        payloadLength > 0x7FFFFFFF - 6 || (payloadLength > 0 && request->data == nullptr))
        return -1;
    // Header and payload leave in one send.
    const int32_t frameLength = payloadLength + 6;
    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[static_cast<size_t>(frameLength)]);
    if (!frame) return -1;
    frame[0] = request->code;
    frame[1] = request->command;
    PutBE32(&frame[2], request->length);
    if (payloadLength > 0) memcpy(&frame[6], request->data, static_cast<size_t>(payloadLength));
    const int32_t sent = Send(frame.get(), frameLength);
    frame.reset();

    int32_t result = -1;
    uint8_t header[6];
    if (sent == frameLength && Recv(header, 6) == 6) {
        reply->code = header[0];
        reply->command = header[1];
        reply->length = GetBE32(&header[2]);
        if (header[1] != request->command) {
            TRACE_ERROR("CPrinterIO::SendRecv", kErrorBadCommand,
                        "NAK応答（送信コード=[%c] 受信コード=[%X]）", request->command, header[1]);
        } else if (reply->length == 0) {
            result = 0;
        } else {
            // Only what the caller asked for is read; the rest stays unread.
            uint32_t n = reply->length;
            if (n > replyLimit) n = replyLimit;
            reply->length = n;
            if (n <= 0x7FFFFFFF && (n == 0 || reply->data != nullptr) &&
                Recv(reply->data, static_cast<int32_t>(n)) == static_cast<int32_t>(n)) {
                result = static_cast<int32_t>(n);
            }
        }
    }
    if (m_linkKind == kLinkLibrary && m_qv71XXWriteReadComplete != nullptr)
        m_qv71XXWriteReadComplete(m_hPrinter);
    return result;
}
