// USB printers on Linux: sysfs discovery, then one of two ways in per
// device (usb_posix_ways.h). A printer-class node's handle is its file
// descriptor; a libusb printer's handle is a number of its own, above any
// descriptor.
#include <errno.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "usb_posix_ways.h"
#include "platform/usb.h"

namespace platform {
namespace {

using posixusb::CLibusbPrinter;

// Descriptors never reach this (the kernel's limit is far below it).
constexpr DeviceHandle kFirstLibusbHandle = DeviceHandle{1} << 30;

class PosixUsb : public UsbBackend {
public:
    bool ListDevices(std::vector<UsbMember>* members, unsigned long* error) override {
        return posixusb::ListSysfsDevices(members, error);
    }

    bool Open(const std::string& path, DeviceHandle* handle, unsigned long* error) override {
        *handle = kInvalidDevice;
        uint8_t bus = 0, address = 0;
        if (posixusb::ParseUsbfsPath(path, &bus, &address)) {
            std::unique_ptr<CLibusbPrinter> printer = CLibusbPrinter::Open(bus, address, error);
            if (!printer) return false;
            const DeviceHandle h = m_nextHandle++;
            m_printers[h] = std::move(printer);
            *handle = h;
            return true;
        }
        int fd = -1;
        if (!posixusb::OpenNode(path, &fd, error)) return false;
        *handle = fd;
        return true;
    }

    bool Write(DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override {
        if (h < kFirstLibusbHandle)
            return posixusb::NodeWrite(static_cast<int>(h), data, n, done, error);
        CLibusbPrinter* printer = Find(h);
        if (printer == nullptr) {
            *error = EBADF;
            return false;
        }
        return printer->Write(data, n, done, error);
    }

    bool Read(DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        if (h < kFirstLibusbHandle)
            return posixusb::NodeRead(static_cast<int>(h), data, n, done, error);
        CLibusbPrinter* printer = Find(h);
        if (printer == nullptr) {
            *error = EBADF;
            return false;
        }
        return printer->Read(data, n, done, error);
    }

    void Close(DeviceHandle h) override {
        if (h == kInvalidDevice) return;
        if (h < kFirstLibusbHandle)
            posixusb::CloseNode(static_cast<int>(h));
        else
            m_printers.erase(h);
    }

private:
    CLibusbPrinter* Find(DeviceHandle h) {
        auto it = m_printers.find(h);
        return it == m_printers.end() ? nullptr : it->second.get();
    }

    std::map<DeviceHandle, std::unique_ptr<CLibusbPrinter>> m_printers;
    DeviceHandle m_nextHandle = kFirstLibusbHandle;
};

}  // namespace

// Never destroyed: the link object closes its device through it during
// static destruction.
UsbBackend& PlatformUsbBackend() {
    static PosixUsb* backend = new PosixUsb;
    return *backend;
}

unsigned long UsbTimeoutError() { return ETIMEDOUT; }

}  // namespace platform
