// A sample printer access library: it reaches printers over TCP.
//
// A printer record carries the printer's address as text "A.B.C.D:PORT"
// from byte 8 on. qv71XXEnumPrinters offers the addresses listed, comma
// separated, in the environment variable QV71XX_SAMPLE_PRINTERS.
// qv71XXOpenPrinter connects and returns a handle; the reservation command
// exchanges the printer's FS = frame over that connection.
//
// Besides the library interface it exports a few functions for tests:
// how many exchanges were completed, and the order of the calls that open,
// reserve, release, close and terminate.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/printer_record.h"
#include "sim/transport/socket_ops.h"

#if defined(_WIN32)
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

namespace net = sim::net;

constexpr int kRecordOffset = 8;
constexpr int kAddressRoom = QV_PRINTER_RECORD_SIZE - kRecordOffset;
constexpr int kReplyWaitMs = 30000;

// Results of the library.
constexpr int32_t kOk = 0;
constexpr int32_t kReservationInProgress = 31;
constexpr int32_t kBadArgument = 87;
constexpr int32_t kNotConnected = 1167;
constexpr int32_t kRefused = 1;
constexpr int32_t kExchangeFailed = 2;

struct State {
    std::mutex mutex;
    std::map<int32_t, net::Socket> connections;  // handle -> socket
    std::map<int32_t, std::string> addresses; // handle -> "A.B.C.D:PORT"
    int32_t nextHandle = 1;
    int32_t completed = 0;
    std::string calls;
};

State& S() {
    static State* s = new State;  // lives as long as the process
    return *s;
}

void Note(const std::string& call) {
    State& s = S();
    if (!s.calls.empty()) s.calls += ',';
    s.calls += call;
}

// The address text at byte 8 of a record, bounded by the record.
std::string AddressOf(const void* printer) {
    if (printer == nullptr) return {};
    const char* p = static_cast<const char*>(printer);
    return std::string(p, strnlen(p, kAddressRoom));
}

// "A.B.C.D:PORT" to an address and a port.
bool ParseAddress(const std::string& text, uint32_t* address, uint16_t* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string host = text.substr(0, colon);
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5) return false;
    char* end = nullptr;
    const unsigned long value = strtoul(portText.c_str(), &end, 10);
    if (*end != '\0' || value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return net::ParseIPv4(host, address);
}

std::vector<std::string> ListedPrinters() {
    std::vector<std::string> out;
    const char* list = getenv("QV71XX_SAMPLE_PRINTERS");
    if (list == nullptr) return out;
    std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        while (!item.empty() && item.front() == ' ') item.erase(item.begin());
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (!item.empty() && static_cast<int>(item.size()) < kAddressRoom) out.push_back(item);
        start = comma + 1;
    }
    return out;
}

net::Socket SocketOf(int32_t handle) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.connections.find(handle);
    return it == s.connections.end() ? net::kNoSocket : it->second;
}

// Waits up to kReplyWaitMs for data; false (with the error set) when none
// comes.
bool WaitReadable(net::Socket s) {
    for (;;) {
        net::PollEntry e;
        e.socket = s;
        e.wantRead = true;
        const int w = net::Poll(&e, 1, kReplyWaitMs);
        if (w < 0 && net::IsTransient(net::LastError())) continue;
        if (w > 0) return true;
        if (w == 0) net::SetLastSocketError(net::kErrorTimedOut);
        return false;
    }
}

bool SendAll(net::Socket s, const uint8_t* data, size_t n) {
    while (n > 0) {
        const long r = net::Send(s, data, n);
        if (r < 0 && net::IsTransient(net::LastError())) continue;
        if (r <= 0) return false;
        data += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool RecvAll(net::Socket s, uint8_t* data, size_t n) {
    while (n > 0) {
        if (!WaitReadable(s)) return false;
        const long r = net::Recv(s, data, n);
        if (r < 0 && net::IsTransient(net::LastError())) continue;
        if (r == 0) net::SetLastSocketError(net::kErrorConnectionReset);
        if (r <= 0) return false;
        data += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

QV_EXPORT int32_t QV_CALL qv71XXEnumPrinters(void* buffer, int32_t bufferSize,
                                             int32_t* bytesNeeded, int32_t* count) {
    if (bufferSize < 0) return kBadArgument;
    const std::vector<std::string> printers = ListedPrinters();
    const int32_t needed = static_cast<int32_t>(printers.size()) * QV_PRINTER_RECORD_SIZE;
    if (bytesNeeded != nullptr) *bytesNeeded = needed;
    // Whole records that fit the caller's buffer.
    int32_t fitted = buffer != nullptr ? bufferSize / QV_PRINTER_RECORD_SIZE : 0;
    if (fitted > static_cast<int32_t>(printers.size()))
        fitted = static_cast<int32_t>(printers.size());
    auto* out = static_cast<uint8_t*>(buffer);
    for (int32_t i = 0; i < fitted; ++i) {
        uint8_t* record = out + static_cast<size_t>(i) * QV_PRINTER_RECORD_SIZE;
        memset(record, 0, QV_PRINTER_RECORD_SIZE);
        memcpy(record + kRecordOffset, printers[static_cast<size_t>(i)].data(),
               printers[static_cast<size_t>(i)].size());
    }
    if (count != nullptr) *count = buffer != nullptr ? fitted : static_cast<int32_t>(printers.size());
    return kOk;
}

QV_EXPORT int32_t QV_CALL qv71XXOpenPrinter(int32_t, int32_t, const void* printer, int32_t,
                                            int32_t) {
    const std::string address = AddressOf(printer);
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        Note("OpenPrinter");
    }
    uint32_t ip = 0;
    uint16_t port = 0;
    if (!ParseAddress(address, &ip, &port)) {
        net::SetLastSocketError(net::kErrorInvalidArgument);
        return -1;
    }
    if (!net::StartSockets()) return -1;
    net::UniqueSocket socket = net::TcpSocket(false);
    if (!socket || !net::Connect(socket.get(), ip, port)) return -1;
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const int32_t handle = s.nextHandle++;
    s.connections[handle] = socket.Release();  // the table owns it now
    s.addresses[handle] = address;
    return handle;
}

// Mode 1 reserves the printer, mode 2 releases it: FS = with the mode byte.
// The printer answers with one result byte: 1 granted, 2 in progress.
QV_EXPORT int32_t QV_CALL qv71XXNetPrinterReservCommand(int32_t, int32_t, const void* printer,
                                                        int32_t mode, int32_t* value) {
    const std::string address = AddressOf(printer);
    net::Socket fd = net::kNoSocket;
    {
        State& s = S();
        std::lock_guard<std::mutex> lock(s.mutex);
        Note("Reserve" + std::to_string(mode));
        // The most recent connection to that printer carries the command.
        for (const auto& [handle, text] : s.addresses)
            if (text == address) fd = s.connections[handle];
    }
    if (mode != 1 && mode != 2) return kBadArgument;
    if (fd == net::kNoSocket) return kNotConnected;
    const uint8_t frame[7] = {0x1C, 0x3D, 0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>(mode)};
    uint8_t header[6];
    if (!SendAll(fd, frame, sizeof frame) || !RecvAll(fd, header, sizeof header))
        return kExchangeFailed;
    const uint32_t length = (uint32_t{header[2]} << 24) | (uint32_t{header[3]} << 16) |
                            (uint32_t{header[4]} << 8) | header[5];
    if (header[1] != 0x3D || length != 1) return kRefused;
    uint8_t result = 0;
    if (!RecvAll(fd, &result, 1)) return kExchangeFailed;
    if (value != nullptr) *value = result;
    if (result == 1) return kOk;
    if (result == 2) return kReservationInProgress;
    return kRefused;
}

QV_EXPORT int32_t QV_CALL qv71XXWrite(int32_t handle, const void* data, int32_t length,
                                      int32_t* written) {
    if (written != nullptr) *written = 0;
    const net::Socket fd = SocketOf(handle);
    if (fd == net::kNoSocket) {
        net::SetLastSocketError(net::kErrorBadHandle);
        return kNotConnected;
    }
    if (length < 0 || (length > 0 && data == nullptr)) {
        net::SetLastSocketError(net::kErrorInvalidArgument);
        return kBadArgument;
    }
    for (;;) {
        const long r = net::Send(fd, data, static_cast<size_t>(length));
        if (r < 0 && net::IsTransient(net::LastError())) continue;
        if (r < 0) return kExchangeFailed;
        if (written != nullptr) *written = static_cast<int32_t>(r);
        return kOk;
    }
}

QV_EXPORT int32_t QV_CALL qv71XXRead(int32_t handle, void* buffer, int32_t length, int32_t* read) {
    if (read != nullptr) *read = 0;
    const net::Socket fd = SocketOf(handle);
    if (fd == net::kNoSocket) {
        net::SetLastSocketError(net::kErrorBadHandle);
        return kNotConnected;
    }
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        net::SetLastSocketError(net::kErrorInvalidArgument);
        return kBadArgument;
    }
    if (length == 0) return kOk;
    for (;;) {
        if (!WaitReadable(fd)) return kExchangeFailed;
        const long r = net::Recv(fd, buffer, static_cast<size_t>(length));
        if (r < 0 && net::IsTransient(net::LastError())) continue;
        if (r == 0) {
            // The printer closed the connection: nothing more will come.
            net::SetLastSocketError(net::kErrorConnectionReset);
            return kExchangeFailed;
        }
        if (r < 0) return kExchangeFailed;
        if (read != nullptr) *read = static_cast<int32_t>(r);
        return kOk;
    }
}

QV_EXPORT int32_t QV_CALL qv71XXWriteData(int32_t handle, const void* data, int32_t length,
                                          int32_t* written) {
    return qv71XXWrite(handle, data, length, written);
}

QV_EXPORT int32_t QV_CALL qv71XXReadData(int32_t handle, void* buffer, int32_t length,
                                         int32_t* read) {
    return qv71XXRead(handle, buffer, length, read);
}

QV_EXPORT int32_t QV_CALL qv71XXWriteReadComplete(int32_t handle) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.completed;
    Note("WriteReadComplete");
    return s.connections.count(handle) != 0 ? kOk : kNotConnected;
}

QV_EXPORT int32_t QV_CALL qv71XXClosePrinter(int32_t handle) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    Note("ClosePrinter");
    auto it = s.connections.find(handle);
    if (it == s.connections.end()) return kNotConnected;
    net::ShutdownWrite(it->second);
    net::CloseSocket(it->second);
    s.connections.erase(it);
    s.addresses.erase(handle);
    return kOk;
}

QV_EXPORT int32_t QV_CALL qv71XXTerminate(void) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    Note("Terminate");
    for (const auto& [handle, fd] : s.connections) net::CloseSocket(fd);
    s.connections.clear();
    s.addresses.clear();
    return kOk;
}

// --- For tests --------------------------------------------------------------

// qv71XXWriteReadComplete calls so far.
QV_EXPORT int32_t qv71XXSampleCompleteCount(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().completed;
}

// The calls other than transfers, in order, comma separated (e.g.
// "OpenPrinter,Reserve1,WriteReadComplete,Reserve2,ClosePrinter,Terminate").
// The text stays valid until the next call into the library.
QV_EXPORT const char* qv71XXSampleCallLog(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().calls.c_str();
}

// Open connections.
QV_EXPORT int32_t qv71XXSampleOpenCount(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    return static_cast<int32_t>(S().connections.size());
}

// Forgets the counters and the call log.
QV_EXPORT void qv71XXSampleReset(void) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().completed = 0;
    S().calls.clear();
}
