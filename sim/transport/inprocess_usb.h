// The virtual printer as the USB device, in process: a platform USB
// backend whose one device is a VirtualPrinter. Transfers charge virtual
// time to the clock (when one is given), so that the updater's waits run
// in virtual time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/usb.h"
#include "sim/engine/virtual_printer.h"

namespace sim {

class InProcessUsb : public platform::UsbBackend {
public:
    // clock may be null (no time is charged). The device is listed with
    // instance id "USB\VID_5B7D&PID_0023\SIM00001" and path "sim:lp0".
    InProcessUsb(VirtualPrinter& printer, platform::VirtualClock* clock);

    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) override;
    bool Open(const std::string& path, platform::DeviceHandle* handle,
              unsigned long* error) override;
    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override;
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override;
    void Close(platform::DeviceHandle h) override;

    // Unplugs / plugs the device (it is also absent while the printer's
    // link is down).
    void SetPresent(bool present);
    // The system error code of a transfer on a dead link (default EIO, 5).
    void SetFailureCode(unsigned long code);
    // Virtual milliseconds charged per transfer call (default 1).
    void SetCostPerCall(uint32_t ms);

    uint32_t opens() const;
    uint32_t closes() const;
    // Handles opened and not yet closed.
    int openHandles() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// Everything a test needs to put the virtual printer behind the USB link on
// a virtual clock, installed for the lifetime of the object.
class InProcessRig {
public:
    explicit InProcessRig(Scenario scenario = Scenario());
    ~InProcessRig();
    platform::VirtualClock clock;
    VirtualPrinter printer;
    InProcessUsb usb;
};

}  // namespace sim
