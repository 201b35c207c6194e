#include "platform/usb.h"

namespace platform {

UsbBackend& PlatformUsbBackend();  // the platform's own (usb_posix / usb_win32)

namespace {
UsbBackend* g_installed = nullptr;
}  // namespace

UsbBackend& GetUsbBackend() { return g_installed ? *g_installed : PlatformUsbBackend(); }
void SetUsbBackend(UsbBackend* backend) { g_installed = backend; }

}  // namespace platform
