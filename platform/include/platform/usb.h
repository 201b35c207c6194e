// USB printer devices: discovery and synchronous device I/O.
//
// The link asks the backend for the present USB devices in the system's
// order, matches their instance ids against its pattern and opens the
// matching member's device path. The default backend is the platform's own
// (sysfs + the printer-class device node on Linux, SetupAPI on Windows);
// tests and the built-in virtual printer install another one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using DeviceHandle = intptr_t;
constexpr DeviceHandle kInvalidDevice = -1;

// One member of the device set, in the system's order.
struct UsbMember {
    // False when the member's instance id could not be read (the search
    // ends there, with idError traced).
    bool idReadable = true;
    unsigned long idError = 0;
    // Instance id as the system spells it, e.g. "USB\VID_5B7D&PID_0023\SN1".
    std::string instanceId;
    // Device path to open; empty when the member has no usable interface
    // (it is passed over).
    std::string path;
    // False when the device interface at the member's ordinal could not be
    // had (a matching member ends the search there, with interfaceError
    // traced).
    bool interfaceFound = true;
    unsigned long interfaceError = 0;
    // For listings only (a backend may leave them empty): where the device
    // sits on the bus (e.g. "1-1.4"), its serial number as the device
    // reports it, and the way in that path leads to (e.g. "device node").
    std::string location;
    std::string serial;
    std::string wayIn;
};

class UsbBackend {
public:
    virtual ~UsbBackend() = default;
    // Lists the present devices. False with *error when the device set
    // cannot be had at all.
    virtual bool ListDevices(std::vector<UsbMember>* members, unsigned long* error) = 0;
    // Opens a device path for synchronous reading and writing.
    virtual bool Open(const std::string& path, DeviceHandle* handle, unsigned long* error) = 0;
    // One transfer call: moves up to n bytes and reports how many moved.
    // A read waits at most 30 s for data; running out of time is a failure.
    // A read that succeeds with no data is a zero-length packet from a
    // printer that is still there; a printer that is gone fails the call.
    virtual bool Write(DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
                       unsigned long* error) = 0;
    virtual bool Read(DeviceHandle h, void* data, uint32_t n, uint32_t* done,
                      unsigned long* error) = 0;
    virtual void Close(DeviceHandle h) = 0;
};

// Milliseconds a USB read waits for data before it fails.
constexpr uint32_t kUsbReadTimeoutMs = 30000;
// The system error code of a USB read that ran out of time (ETIMEDOUT on
// POSIX, ERROR_TIMEOUT on Windows).
unsigned long UsbTimeoutError();
// The wait the platform's own backend applies (kUsbReadTimeoutMs unless a
// test shortened it; 0 restores the default).
uint32_t UsbReadTimeoutMs();
void SetUsbReadTimeoutForTest(uint32_t ms);
// Milliseconds a USB write waits for the device to take its bytes before
// it fails (a printer that stops reading must not hold the updater for
// ever), and its test override in the same way.
constexpr uint32_t kUsbWriteTimeoutMs = 30000;
uint32_t UsbWriteTimeoutMs();
void SetUsbWriteTimeoutForTest(uint32_t ms);

// The backend in force: the platform's own unless one was installed.
UsbBackend& GetUsbBackend();
// Installs backend (not owned); nullptr restores the platform's own.
void SetUsbBackend(UsbBackend* backend);

// One printer of a listing (quillon --list).
struct UsbPrinterListing {
    std::string instanceId;
    std::string location;  // bus path; the instance id when the backend has none
    std::string serial;    // "" when the device has none
    std::string wayIn;     // "device node", "device interface", ...; "" when none
    std::string path;      // what would be opened; "" when nothing can be
    bool openable = false;
    unsigned long openError = 0;  // why it could not be opened (0: no path)
};

// Lists, through the backend in force, the devices whose upper-cased
// instance id contains "VID_%04X&PID_%04X", in the system's order, and
// tries to open (and at once closes) each. False with *error when the
// device set cannot be had.
bool ListUsbPrinters(uint16_t vendorId, uint16_t productId,
                     std::vector<UsbPrinterListing>* printers, unsigned long* error);

}  // namespace platform
