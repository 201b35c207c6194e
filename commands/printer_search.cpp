// The printer search: one UDP broadcast of an FS * datagram from local port
// 12345 to port 9100, then replies collected for two to three seconds.
#include "commands/printer_search.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands/length_request.h"
#include "link/byte_order.h"
#include "link/trace.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace {

constexpr const char* kMethod = "CPrinterIO::CmdSearchPrinter";
constexpr const char* kDefaultKeyword = "ZK-Q920";
constexpr uint16_t kLocalPort = 12345;
constexpr uint16_t kPrinterPort = 9100;
constexpr uint32_t kBroadcastNetOrder = 0xFFFFFFFFu;  // 255.255.255.255
constexpr uint32_t kAnyNetOrder = 0;
constexpr size_t kRecordHeader = 6;
// Collecting stops when no room is left for a header and one record.
constexpr size_t kMinRoom = kRecordHeader + kSearchRecordSize;
constexpr uint32_t kWindowSeconds = 3;

// Owns the search socket; closes it on every way out.
class SearchSocket {
public:
    explicit SearchSocket(platform::SocketHandle s) : m_s(s) {}
    ~SearchSocket() {
        if (m_s != platform::kInvalidSocket) platform::CloseSocket(m_s);
    }
    SearchSocket(const SearchSocket&) = delete;
    SearchSocket& operator=(const SearchSocket&) = delete;
    platform::SocketHandle get() const { return m_s; }

private:
    platform::SocketHandle m_s;
};

void AppendField(std::string* out, const char* keyword) {
    out->append(keyword);
    if (strlen(keyword) < 16) out->append(16 - strlen(keyword), ' ');
}

bool Present(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

std::string SearchPayload(const char* keyword1, const char* keyword2) {
    std::string payload;
    if (!Present(keyword1)) {
        AppendField(&payload, kDefaultKeyword);
        AppendField(&payload, kDefaultKeyword);
    } else {
        AppendField(&payload, keyword1);
        if (Present(keyword2)) AppendField(&payload, keyword2);
    }
    return payload;
}

std::vector<uint8_t> SearchDatagram(const std::string& payload) {
    std::vector<uint8_t> datagram(kRecordHeader + payload.size());
    datagram[0] = 0x1C;
    datagram[1] = 0x2A;
    PutBE32(&datagram[2], static_cast<uint32_t>(payload.size()));
    memcpy(&datagram[kRecordHeader], payload.data(), payload.size());
    return datagram;
}

int WalkSearchReplies(const uint8_t* data, size_t received, const std::string& payload,
                      int maxTaken, uint8_t* replies, char* countText) {
    int taken = 0;
    size_t offset = 0;
    // Compared over the payload's length, but never past a record's data.
    const size_t compared = payload.size() < kSearchRecordSize ? payload.size() : kSearchRecordSize;
    while (offset < received) {
        if (received - offset < kRecordHeader) break;  // a header cut short
        const uint64_t length = GetBE32(data + offset + 2);
        if (length > received - offset - kRecordHeader) break;  // data runs past the end
        const uint8_t* record = data + offset + kRecordHeader;
        if (length == kSearchRecordSize && memcmp(record, payload.data(), compared) != 0 &&
            taken < maxTaken) {
            memcpy(replies + kSearchRecordSize * static_cast<size_t>(taken), record,
                   kSearchRecordSize);
            ++taken;
            if (countText != nullptr) snprintf(countText, 256, "%d", taken);
        }
        offset += kRecordHeader + static_cast<size_t>(length);
    }
    return taken;
}

bool SearchWindowClosed(uint32_t startTick, uint32_t nowTick) {
    // The clock read in whole seconds: the reading at the start falls
    // somewhere inside its second, so the window lasts 2 to 3 seconds.
    const uint64_t sinceSecondStart = startTick % 1000u + uint64_t{nowTick - startTick};
    return sinceSecondStart / 1000u >= kWindowSeconds;
}

int CPrinterIO::CmdSearchPrinter(ArgVector args) {
    // The maximum and the reply array are needed before anything is sent.
    if (args == nullptr || args[3] == nullptr || args[4] == nullptr) {
        TraceArgumentError(kMethod);
        return 0;
    }
    const std::string payload = SearchPayload(args[0], args[1]);
    const std::vector<uint8_t> datagram = SearchDatagram(payload);

    unsigned long error = 0;
    SearchSocket socket(platform::UdpSocket(&error));
    if (socket.get() == platform::kInvalidSocket) {
        TRACE_ERROR(kMethod, platform::SystemError(error), "socket");
        return 0;
    }
    if (!platform::SetBroadcast(socket.get(), &error)) {
        TRACE_ERROR(kMethod, platform::SystemError(error), "setsockopt");
        return 0;
    }
    const uint32_t local = Present(args[2]) ? platform::ParseIPv4NetOrder(args[2]) : kAnyNetOrder;
    // A text that is no dotted address converts to the broadcast address,
    // which the socket library would accept as the source of the search.
    if (local == kBroadcastNetOrder) {
        TRACE_ERROR(kMethod, kErrorInvalidData, "bind");
        return 0;
    }
    if (!platform::Bind(socket.get(), local, kLocalPort, &error)) {
        TRACE_ERROR(kMethod, platform::SystemError(error), "bind");
        return 0;
    }
    if (!platform::SendTo(socket.get(), datagram.data(), static_cast<int>(datagram.size()),
                          kBroadcastNetOrder, kPrinterPort, &error)) {
        TRACE_ERROR(kMethod, platform::SystemError(error), "sendto");
        return 0;
    }
    if (!platform::SetNonBlocking(socket.get(), &error)) {
        TRACE_ERROR(kMethod, platform::SystemError(error), "ioctlsocket");
        return 0;
    }

    // Datagrams land one after the other; receive errors and empty polls
    // are simply repeated until the window closes. A datagram larger than
    // the space left is a receive error, not a reply: it is dropped whole
    // and collecting goes on, so that it cannot hide the printers that
    // answer after it. An empty poll yields for
    // a millisecond rather than spinning the processor for three seconds.
    uint8_t buffer[kSearchBufferSize] = {};
    size_t received = 0;
    const uint32_t start = platform::TickCount();
    while (kSearchBufferSize - received >= kMinRoom &&
           !SearchWindowClosed(start, platform::TickCount())) {
        const int n = platform::SocketRecvFrom(socket.get(), buffer + received,
                                               static_cast<int>(kSearchBufferSize - received),
                                               &error);
        if (n > 0)
            received += static_cast<size_t>(n);
        else
            platform::WaitMs(1);
    }

    WalkSearchReplies(buffer, received, payload, atoi(args[3]),
                      reinterpret_cast<uint8_t*>(args[4]), args[5]);
    return 1;
}
