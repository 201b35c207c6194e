// The global objects that exist before the application starts, in the one
// translation unit that fixes their order: constructed in this order during
// static initialisation, destroyed in the reverse order at process end.
#include <string>

#include "app/quillon_app.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/instance_guard.h"
#include "platform/usb.h"

CQuillonApp theApp;

namespace {
// The link object's destructor closes a USB link that is still open, through
// the platform's USB backend; that backend comes into being on first use.
// Touching it here, before the link object, makes it come into being
// first and go away last.
const bool g_usbBackendBeforeLink = (static_cast<void>(platform::GetUsbBackend()), true);
}  // namespace

CPrinterIO g_printerIO;
std::string g_vendorIdText;
std::string g_productIdText;
std::string g_deviceIndexText;

// Constant-initialised (no handle until instance initialisation), so its
// place in the order does not matter; it is released before the process
// ends, and its destructor releases it on any other way out.
constinit platform::InstanceLock g_hInstanceMutex;
