// Moving bytes over the open link, and one command exchange.
#include <cstring>
#include <memory>
#include <new>

#include "link/byte_order.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/trace.h"
#include "platform/trace_sink.h"

namespace {

// A transfer call that reports success but moves nothing (the peer closed
// the connection) would repeat for ever; it ends the transfer as a failure
// with this error number.
constexpr uint32_t kNoProgressError = kErrorDeviceNotConnected;

}  // namespace

int32_t CPrinterIO::Send(const void* data, int32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    int32_t total = 0;
    switch (m_linkKind) {
        case kLinkTcp:
            if (m_socket == platform::kInvalidSocket || length <= 0) return 0;
            while (total < length) {
                unsigned long error = 0;
                const int n = platform::SocketSend(m_socket, p + total, length - total, &error);
                if (n <= 0) {
                    TRACE_ERROR("CPrinterIO::Send", n < 0 ? static_cast<uint32_t>(error) : kNoProgressError,
                                "send");
                    return -1;
                }
                total += n;
            }
            return total;
        case kLinkUsb: {
            if (m_hDevice == platform::kInvalidDevice || length <= 0) return 0;
            platform::UsbBackend& usb = platform::GetUsbBackend();
            while (total < length) {
                unsigned long error = 0;
                uint32_t done = 0;
                const bool ok = usb.Write(m_hDevice, p + total, static_cast<uint32_t>(length - total),
                                          &done, &error);
                if (!ok || done == 0) {
                    const uint32_t code = ok ? kNoProgressError : static_cast<uint32_t>(error);
                    RecordError(kErrUsbWrite, code);
                    TRACE_ERROR("CPrinterIO::Send", code, "WriteFile");
                    return -1;
                }
                total += static_cast<int32_t>(done > static_cast<uint32_t>(length - total)
                                                  ? static_cast<uint32_t>(length - total)
                                                  : done);
            }
            return total;
        }
        case kLinkLibrary:
            if (m_hPrinter == -1 || length <= 0) return 0;
            while (total < length) {
                int32_t done = 0;
                const int32_t r = m_qv71XXWrite != nullptr
                                      ? m_qv71XXWrite(m_hPrinter, p + total, length - total, &done)
                                      : -1;
                if (r != 0 || done <= 0) {
                    TRACE_ERROR("CPrinterIO::Send",
                                r != 0 ? static_cast<uint32_t>(platform::LastError()) : kNoProgressError,
                                "m_qv71XXWrite");
                    return -1;
                }
                total += done > length - total ? length - total : done;
            }
            return total;
        default:
            TRACE_ERROR("CPrinterIO::Send", kErrorDeviceNotConnected, "通信経路種別=[%d]", m_linkKind);
            return 0;
    }
}

int32_t CPrinterIO::Recv(void* buffer, int32_t length) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    int32_t total = 0;
    switch (m_linkKind) {
        case kLinkTcp:
            if (m_socket == platform::kInvalidSocket || length <= 0) return 0;
            while (total < length) {
                unsigned long error = 0;
                const int n = platform::SocketRecv(m_socket, p + total, length - total, &error);
                if (n <= 0) {
                    TRACE_ERROR("CPrinterIO::Recv", n < 0 ? static_cast<uint32_t>(error) : kNoProgressError,
                                "recv");
                    return -1;
                }
                total += n;
            }
            return total;
        case kLinkUsb: {
            if (m_hDevice == platform::kInvalidDevice || length <= 0) return 0;
            platform::UsbBackend& usb = platform::GetUsbBackend();
            while (total < length) {
                unsigned long error = 0;
                uint32_t done = 0;
                const bool ok = usb.Read(m_hDevice, p + total, static_cast<uint32_t>(length - total),
                                         &done, &error);
                if (!ok || done == 0) {
                    const uint32_t code = ok ? kNoProgressError : static_cast<uint32_t>(error);
                    RecordError(kErrUsbRead, code);
                    TRACE_ERROR("CPrinterIO::Recv", code, "ReadFile");
                    return -1;
                }
                total += static_cast<int32_t>(done > static_cast<uint32_t>(length - total)
                                                  ? static_cast<uint32_t>(length - total)
                                                  : done);
            }
            return total;
        }
        case kLinkLibrary:
            if (m_hPrinter == -1 || length <= 0) return 0;
            while (total < length) {
                int32_t done = 0;
                const int32_t r = m_qv71XXRead != nullptr
                                      ? m_qv71XXRead(m_hPrinter, p + total, length - total, &done)
                                      : -1;
                if (r != 0 || done <= 0) {
                    TRACE_ERROR("CPrinterIO::Recv",
                                r != 0 ? static_cast<uint32_t>(platform::LastError()) : kNoProgressError,
                                "m_qv71XXRead");
                    return -1;
                }
                total += done > length - total ? length - total : done;
            }
            return total;
        default:
            TRACE_ERROR("CPrinterIO::Recv", kErrorDeviceNotConnected, "通信経路種別=[%d]", m_linkKind);
            return 0;
    }
}

int32_t CPrinterIO::SendRecv(CommandBlock* request, int32_t payloadLength, CommandBlock* reply,
                             uint32_t replyLimit) {
    if (payloadLength < 0 || payloadLength > 0x7FFFFFFF - 6) return -1;
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
