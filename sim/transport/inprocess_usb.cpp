#include "sim/transport/inprocess_usb.h"

#include <map>

#include "sim/transport/printer_line.h"

namespace sim {

namespace {

constexpr const char* kInstanceId = "USB\\VID_5B7D&PID_0023\\SIM00001";
constexpr const char* kDevicePath = "sim:lp0";

// System error codes as the Linux build reports them (the same numbers on
// every build, so that what a test sees does not depend on the platform).
constexpr unsigned long kErrorNotFound = 2;    // ENOENT: no such device
constexpr unsigned long kErrorIo = 5;          // EIO: the link is gone
constexpr unsigned long kErrorBadHandle = 9;   // EBADF: handle not open
constexpr unsigned long kErrorTimedOut = 110;  // ETIMEDOUT: no answer in time

}  // namespace

struct InProcessUsb::Impl {
    Impl(VirtualPrinter& p, platform::VirtualClock* c) : line(p, c) {}

    PrinterLine line;
    bool present = true;
    unsigned long failureCode = kErrorIo;
    uint32_t opens = 0;
    uint32_t closes = 0;
    platform::DeviceHandle nextHandle = 0x5100;
    // Open handles and the link generation each was opened on.
    std::map<platform::DeviceHandle, uint32_t> handles;

    bool DeviceVisible() const { return present && line.Up(); }

    // The handle's connection is gone: unplugged, link down, or the link
    // went down and came back since the handle was opened.
    bool Dead(uint32_t generation) const { return !present || !line.Alive(generation); }
};

InProcessUsb::InProcessUsb(VirtualPrinter& printer, platform::VirtualClock* clock)
    : impl_(std::make_shared<Impl>(printer, clock)) {}

bool InProcessUsb::ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) {
    impl_->line.Sync();
    members->clear();
    if (impl_->DeviceVisible()) {
        platform::UsbMember m;
        m.instanceId = kInstanceId;
        m.path = kDevicePath;
        members->push_back(std::move(m));
    }
    if (error) *error = 0;
    return true;
}

bool InProcessUsb::Open(const std::string& path, platform::DeviceHandle* handle,
                        unsigned long* error) {
    impl_->line.Sync();
    *handle = platform::kInvalidDevice;
    if (path != kDevicePath || !impl_->DeviceVisible()) {
        if (error) *error = kErrorNotFound;
        return false;
    }
    const platform::DeviceHandle h = impl_->nextHandle++;
    impl_->handles[h] = impl_->line.Connect();
    ++impl_->opens;
    *handle = h;
    return true;
}

bool InProcessUsb::Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
                         unsigned long* error) {
    *done = 0;
    auto it = impl_->handles.find(h);
    if (it == impl_->handles.end()) {
        if (error) *error = kErrorBadHandle;
        return false;
    }
    impl_->line.ChargeCall();
    if (impl_->Dead(it->second)) {
        if (error) *error = impl_->failureCode;
        return false;
    }
    if (n) impl_->line.printer().HostWrite(static_cast<const uint8_t*>(data), n);
    *done = n;
    return true;
}

bool InProcessUsb::Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
                        unsigned long* error) {
    *done = 0;
    auto it = impl_->handles.find(h);
    if (it == impl_->handles.end()) {
        if (error) *error = kErrorBadHandle;
        return false;
    }
    impl_->line.ChargeCall();
    if (impl_->Dead(it->second)) {
        if (error) *error = impl_->failureCode;
        return false;
    }
    if (n == 0) return true;
    if (impl_->line.HasReply()) {
        *done = static_cast<uint32_t>(
            impl_->line.printer().HostRead(static_cast<uint8_t*>(data), n));
        return true;
    }
    // Nothing to read: the device read waits its full time and fails. A
    // silent printer lands here; so does a printer that simply has nothing
    // to say (a host reading without having asked).
    impl_->line.Charge(platform::kUsbReadTimeoutMs);
    if (error) *error = kErrorTimedOut;
    return false;
}

void InProcessUsb::Close(platform::DeviceHandle h) {
    if (impl_->handles.erase(h)) ++impl_->closes;
}

void InProcessUsb::SetPresent(bool present) { impl_->present = present; }
void InProcessUsb::SetFailureCode(unsigned long code) { impl_->failureCode = code; }
void InProcessUsb::SetCostPerCall(uint32_t ms) { impl_->line.SetCostPerCall(ms); }

uint32_t InProcessUsb::opens() const { return impl_->opens; }
uint32_t InProcessUsb::closes() const { return impl_->closes; }
int InProcessUsb::openHandles() const { return static_cast<int>(impl_->handles.size()); }

InProcessRig::InProcessRig(Scenario scenario)
    : clock(), printer(std::move(scenario)), usb(printer, &clock) {
    platform::SetClock(&clock);
    platform::SetUsbBackend(&usb);
}

InProcessRig::~InProcessRig() {
    platform::SetUsbBackend(nullptr);
    platform::SetClock(nullptr);
}

}  // namespace sim
