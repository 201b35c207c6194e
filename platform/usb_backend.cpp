#include <cctype>
#include <cstdio>

#include "platform/usb.h"

namespace platform {

UsbBackend& PlatformUsbBackend();  // the platform's own (usb_posix / usb_win32)

namespace {
UsbBackend* g_installed = nullptr;
uint32_t g_readTimeoutMs = kUsbReadTimeoutMs;
uint32_t g_writeTimeoutMs = kUsbWriteTimeoutMs;
}  // namespace

UsbBackend& GetUsbBackend() { return g_installed ? *g_installed : PlatformUsbBackend(); }
void SetUsbBackend(UsbBackend* backend) { g_installed = backend; }

uint32_t UsbReadTimeoutMs() { return g_readTimeoutMs; }

void SetUsbReadTimeoutForTest(uint32_t ms) { g_readTimeoutMs = ms != 0 ? ms : kUsbReadTimeoutMs; }
uint32_t UsbWriteTimeoutMs() { return g_writeTimeoutMs; }
void SetUsbWriteTimeoutForTest(uint32_t ms) {
    g_writeTimeoutMs = ms != 0 ? ms : kUsbWriteTimeoutMs;
}

bool ListUsbPrinters(uint16_t vendorId, uint16_t productId,
                     std::vector<UsbPrinterListing>* printers, unsigned long* error) {
    printers->clear();
    char pattern[32];
    snprintf(pattern, sizeof pattern, "VID_%04X&PID_%04X", vendorId, productId);
    UsbBackend& usb = GetUsbBackend();
    std::vector<UsbMember> members;
    if (!usb.ListDevices(&members, error)) return false;
    for (const UsbMember& m : members) {
        if (!m.idReadable) continue;
        std::string id = m.instanceId;
        for (char& c : id) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (id.find(pattern) == std::string::npos) continue;
        UsbPrinterListing& p = printers->emplace_back();
        p.instanceId = m.instanceId;
        p.location = m.location.empty() ? m.instanceId : m.location;
        p.serial = m.serial;
        p.wayIn = m.path.empty() ? "" : (m.wayIn.empty() ? "device path" : m.wayIn);
        p.path = m.path;
        if (!m.path.empty()) {
            DeviceHandle h = kInvalidDevice;
            unsigned long openError = 0;
            if (usb.Open(m.path, &h, &openError)) {
                p.openable = true;
                usb.Close(h);
            } else {
                p.openError = openError;
            }
        }
    }
    return true;
}

}  // namespace platform
