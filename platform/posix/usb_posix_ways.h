// The two ways into a USB printer on Linux, behind the one backend of
// usb_posix.cpp (private to platform/posix):
//   - the printer-class device node /dev/usb/lpN, when the kernel's printer
//     driver holds the printer (plain file I/O on a descriptor);
//   - libusb bulk transfers on the usbfs node /dev/bus/usb/BBB/DDD, when
//     no node exists (a vendor-specific interface).
// Every error is an errno value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace platform::posixusb {

// Way-in names as listings show them.
inline constexpr const char* kWayNode = "device node";
inline constexpr const char* kWayLibusb = "libusb";

// Discovery over sysfs below $QUILLON_USB_ROOT (usb_sysfs.cpp): the devices
// sorted by name, each with its instance id, bus path and serial, and the
// path of its way in: the printer node when it has a printer interface,
// else, when the tree is the system's own (root "/") and names the
// device's bus and address, its usbfs node for libusb.
bool ListSysfsDevices(std::vector<UsbMember>* members, unsigned long* error);

// The bus number and address of a usbfs node path "/dev/bus/usb/BBB/DDD";
// false for any other path.
bool ParseUsbfsPath(const std::string& path, uint8_t* bus, uint8_t* address);
std::string UsbfsPath(unsigned bus, unsigned address);

// The printer-class node (usb_node.cpp): descriptors of the node itself.
bool OpenNode(const std::string& path, int* fd, unsigned long* error);
// A write waits at most UsbWriteTimeoutMs() for the device to take its
// first byte, a read at most UsbReadTimeoutMs() for data.
bool NodeWrite(int fd, const void* data, uint32_t n, uint32_t* done, unsigned long* error);
bool NodeRead(int fd, void* data, uint32_t n, uint32_t* done, unsigned long* error);
void CloseNode(int fd);

// A printer opened through libusb (usb_libusb.cpp): its own context, the
// claimed interface and its bulk endpoints, released by the destructor.
class CLibusbPrinter {
public:
    // Finds the device at bus/address, opens it, detaches a kernel driver
    // that holds the interface (it is given back on close), claims the
    // first interface with a bulk OUT and a bulk IN endpoint. Null with
    // *error on failure: ENODEV when the device is not there (any more),
    // EACCES when this user may not open it, EBUSY when another program
    // holds it, ENOENT when it has no such interface.
    static std::unique_ptr<CLibusbPrinter> Open(uint8_t bus, uint8_t address,
                                                unsigned long* error);
    ~CLibusbPrinter();
    CLibusbPrinter(const CLibusbPrinter&) = delete;
    CLibusbPrinter& operator=(const CLibusbPrinter&) = delete;

    // One bulk OUT transfer of up to 1 MiB of the n bytes; *done says how
    // many moved. Fails with ETIMEDOUT when the printer took none of them
    // within UsbWriteTimeoutMs().
    bool Write(const void* data, uint32_t n, uint32_t* done, unsigned long* error);
    // Bytes the printer sent, at most n. The device is read in whole
    // packets (a read shorter than the printer's packet would overflow),
    // so what the caller does not take yet waits for its next read. Waits
    // at most UsbReadTimeoutMs(); a zero-length packet reads as 0 bytes.
    bool Read(void* data, uint32_t n, uint32_t* done, unsigned long* error);

    struct Parts;

private:
    explicit CLibusbPrinter(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> m_parts;
};

// The errno value for a libusb error code.
unsigned long ErrnoForLibusb(int code);

}  // namespace platform::posixusb
