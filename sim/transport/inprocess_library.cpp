#include "sim/transport/inprocess_library.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "link/byte_order.h"
#include "sim/access_library/qv71xx_relay.h"
#include "sim/transport/printer_line.h"

namespace sim {

namespace {

// Results of the library.
constexpr int32_t kOk = 0;
constexpr int32_t kRefused = 1;
constexpr int32_t kExchangeFailed = 2;
constexpr int32_t kReservationInProgress = 31;
constexpr int32_t kBadArgument = 87;
constexpr int32_t kNotConnected = 1167;

constexpr uint32_t kReplyWaitMs = 30000;
constexpr size_t kRecordOffset = 8;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kReserveLetter = '=';

std::string IdOf(const void* printer) {
    if (printer == nullptr) return {};
    const char* p = static_cast<const char*>(printer);
    return std::string(p, strnlen(p, QV_PRINTER_RECORD_SIZE - kRecordOffset));
}

}  // namespace

struct InProcessLibrary::Impl {
    Impl(VirtualPrinter& p, platform::VirtualClock* c) : line(p, c) {}

    PrinterLine line;
    platform::ModuleHandle module = nullptr;
    qv71XXRelayBind_t bind = nullptr;
    std::vector<std::string> calls;
    // Open handles and the link generation each was opened on.
    std::map<int32_t, uint32_t> handles;
    int32_t nextHandle = 1;

    void Note(std::string call, const char* outcome = nullptr) {
        if (outcome != nullptr) call += std::string(" ") + outcome;
        calls.push_back(std::move(call));
    }

    // The generation of an open handle, or false.
    bool Find(int32_t handle, uint32_t* generation) const {
        auto it = handles.find(handle);
        if (it == handles.end()) return false;
        *generation = it->second;
        return true;
    }

    // Reads exactly n reply bytes; a dead connection or an answer that does
    // not come fails it (the latter after the library's reply wait).
    const char* ReadReply(uint32_t generation, uint8_t* out, size_t n) {
        size_t have = 0;
        while (have < n) {
            line.ChargeCall();
            if (!line.Alive(generation)) return "failed";
            if (!line.HasReply()) {
                line.Charge(kReplyWaitMs);
                return "timeout";
            }
            have += line.printer().HostRead(out + have, n - have);
        }
        return nullptr;
    }

    // --- the library's functions ---------------------------------------
    int32_t EnumPrinters(void* buffer, int32_t bufferSize, int32_t* bytesNeeded, int32_t* count) {
        Note("EnumPrinters");
        if (bufferSize < 0) return kBadArgument;
        if (bytesNeeded != nullptr) *bytesNeeded = QV_PRINTER_RECORD_SIZE;
        const bool fits = buffer != nullptr && bufferSize >= QV_PRINTER_RECORD_SIZE;
        if (fits) {
            auto* record = static_cast<uint8_t*>(buffer);
            std::memset(record, 0, QV_PRINTER_RECORD_SIZE);
            std::memcpy(record + kRecordOffset, kPrinterId, std::strlen(kPrinterId));
        }
        if (count != nullptr) *count = buffer == nullptr || fits ? 1 : 0;
        return kOk;
    }

    int32_t OpenPrinter(int32_t a, int32_t b, const void* printer, int32_t c, int32_t d) {
        const std::string call = "OpenPrinter " + IdOf(printer);
        if (a != 0 || b != 0 || c != 0 || d != 0 || printer == nullptr) {
            Note(call, "bad argument");
            return -1;
        }
        line.ChargeCall();
        if (!line.Up()) {
            Note(call, "failed");
            return -1;
        }
        const int32_t handle = nextHandle++;
        handles[handle] = line.Connect();
        Note(call);
        return handle;
    }

    // FS = with the mode byte over the most recent connection.
    int32_t Reserve(int32_t a, int32_t b, const void* printer, int32_t mode, int32_t* value) {
        const std::string call = "Reserve" + std::to_string(mode);
        if (a != 0 || b != 0 || printer == nullptr || (mode != 1 && mode != 2)) {
            Note(call, "bad argument");
            return kBadArgument;
        }
        if (handles.empty()) {
            Note(call, "failed");
            return kNotConnected;
        }
        const uint32_t generation = handles.rbegin()->second;
        line.ChargeCall();
        if (!line.Alive(generation)) {
            Note(call, "failed");
            return kExchangeFailed;
        }
        uint8_t frame[7] = {kFs, kReserveLetter, 0, 0, 0, 1, static_cast<uint8_t>(mode)};
        line.printer().HostWrite(frame, sizeof frame);
        uint8_t header[6] = {};
        if (const char* failure = ReadReply(generation, header, sizeof header)) {
            Note(call, failure);
            return kExchangeFailed;
        }
        if (header[1] != kReserveLetter || GetBE32(header + 2) != 1) {
            Note(call, "refused");
            return kRefused;
        }
        uint8_t result = 0;
        if (const char* failure = ReadReply(generation, &result, 1)) {
            Note(call, failure);
            return kExchangeFailed;
        }
        if (value != nullptr) *value = result;
        if (result == 1 || result == 2) {
            Note(call);
            return result == 1 ? kOk : kReservationInProgress;
        }
        Note(call, "refused");
        return kRefused;
    }

    // What a transfer checks first: the handle, the arguments and the line
    // (the call costs its time once the arguments pass). kOk, or the
    // failure, noted.
    int32_t BeginTransfer(const char* name, int32_t handle, const void* buffer, int32_t length) {
        uint32_t generation = 0;
        if (!Find(handle, &generation)) {
            Note(name, "bad handle");
            return kNotConnected;
        }
        if (length < 0 || (length > 0 && buffer == nullptr)) {
            Note(name, "bad argument");
            return kBadArgument;
        }
        line.ChargeCall();
        if (!line.Alive(generation)) {
            Note(name, "failed");
            return kExchangeFailed;
        }
        return kOk;
    }

    int32_t Write(const char* name, int32_t handle, const void* data, int32_t length,
                  int32_t* written) {
        if (written != nullptr) *written = 0;
        if (const int32_t r = BeginTransfer(name, handle, data, length); r != kOk) return r;
        if (length > 0)
            line.printer().HostWrite(static_cast<const uint8_t*>(data),
                                     static_cast<size_t>(length));
        if (written != nullptr) *written = length;
        Note(name);
        return kOk;
    }

    int32_t Read(const char* name, int32_t handle, void* buffer, int32_t length, int32_t* read) {
        if (read != nullptr) *read = 0;
        if (const int32_t r = BeginTransfer(name, handle, buffer, length); r != kOk) return r;
        if (length == 0) {
            Note(name);
            return kOk;
        }
        if (!line.HasReply()) {
            line.Charge(kReplyWaitMs);
            Note(name, "timeout");
            return kExchangeFailed;
        }
        const size_t n =
            line.printer().HostRead(static_cast<uint8_t*>(buffer), static_cast<size_t>(length));
        if (read != nullptr) *read = static_cast<int32_t>(n);
        Note(name);
        return kOk;
    }

    int32_t WriteReadComplete(int32_t handle) {
        uint32_t generation = 0;
        if (!Find(handle, &generation)) {
            Note("WriteReadComplete", "bad handle");
            return kNotConnected;
        }
        Note("WriteReadComplete");
        return kOk;
    }

    int32_t ClosePrinter(int32_t handle) {
        if (handles.erase(handle) == 0) {
            Note("ClosePrinter", "bad handle");
            return kNotConnected;
        }
        Note("ClosePrinter");
        return kOk;
    }

    int32_t Terminate() {
        handles.clear();
        Note("Terminate");
        return kOk;
    }

    static Impl& Of(void* context) { return *static_cast<Impl*>(context); }

    Qv71xxRelayTable Table() {
        Qv71xxRelayTable t{};
        t.context = this;
        t.enumPrinters = [](void* c, void* buffer, int32_t size, int32_t* needed, int32_t* n) {
            return Of(c).EnumPrinters(buffer, size, needed, n);
        };
        t.openPrinter = [](void* c, int32_t a, int32_t b, const void* p, int32_t x, int32_t y) {
            return Of(c).OpenPrinter(a, b, p, x, y);
        };
        t.reserve = [](void* c, int32_t a, int32_t b, const void* p, int32_t mode, int32_t* v) {
            return Of(c).Reserve(a, b, p, mode, v);
        };
        t.write = [](void* c, int32_t h, const void* d, int32_t n, int32_t* w) {
            return Of(c).Write("Write", h, d, n, w);
        };
        t.read = [](void* c, int32_t h, void* d, int32_t n, int32_t* r) {
            return Of(c).Read("Read", h, d, n, r);
        };
        t.writeData = [](void* c, int32_t h, const void* d, int32_t n, int32_t* w) {
            return Of(c).Write("WriteData", h, d, n, w);
        };
        t.readData = [](void* c, int32_t h, void* d, int32_t n, int32_t* r) {
            return Of(c).Read("ReadData", h, d, n, r);
        };
        t.writeReadComplete = [](void* c, int32_t h) { return Of(c).WriteReadComplete(h); };
        t.closePrinter = [](void* c, int32_t h) { return Of(c).ClosePrinter(h); };
        t.terminate = [](void* c) { return Of(c).Terminate(); };
        return t;
    }
};

InProcessLibrary::InProcessLibrary(VirtualPrinter& printer, platform::VirtualClock* clock,
                                   const std::string& relayPath)
    : impl_(std::make_unique<Impl>(printer, clock)) {
    impl_->module = platform::LoadDynamicLibrary(relayPath);
    impl_->bind =
        reinterpret_cast<qv71XXRelayBind_t>(platform::FindSymbol(impl_->module, "qv71XXRelayBind"));
    if (impl_->bind == nullptr) return;
    const Qv71xxRelayTable table = impl_->Table();
    impl_->bind(&table);
}

InProcessLibrary::~InProcessLibrary() {
    if (impl_->bind != nullptr) impl_->bind(nullptr);
    if (impl_->module != nullptr) platform::FreeDynamicLibrary(impl_->module);
}

platform::ModuleHandle InProcessLibrary::module() const {
    return impl_->bind != nullptr ? impl_->module : nullptr;
}
const std::vector<std::string>& InProcessLibrary::calls() const { return impl_->calls; }
int InProcessLibrary::openPrinters() const { return static_cast<int>(impl_->handles.size()); }
void InProcessLibrary::SetCostPerCall(uint32_t ms) { impl_->line.SetCostPerCall(ms); }

InProcessLibraryRig::InProcessLibraryRig(Scenario scenario, const std::string& relayPath)
    : clock(), printer(std::move(scenario)), library(printer, &clock, relayPath) {
    platform::SetClock(&clock);
}

InProcessLibraryRig::~InProcessLibraryRig() { platform::SetClock(nullptr); }

}  // namespace sim
