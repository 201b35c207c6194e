#include "frontends/terminal/printer_list.h"

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace {

constexpr char kPattern[] = "VID_5B7D&PID_0023";

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int ListPrinters(std::ostream& out, std::ostream& err) {
    platform::UsbBackend& usb = platform::GetUsbBackend();
    std::vector<platform::UsbMember> members;
    unsigned long error = 0;
    if (!usb.ListDevices(&members, &error)) {
        err << "quillon: the USB devices cannot be listed (error " << error << ")\n";
        return 1;
    }
    int found = 0;
    for (const platform::UsbMember& m : members) {
        if (!m.idReadable || Upper(m.instanceId).find(kPattern) == std::string::npos) continue;
        ++found;
        bool openable = false;
        unsigned long openError = 0;
        platform::DeviceHandle h = platform::kInvalidDevice;
        if (!m.path.empty() && usb.Open(m.path, &h, &openError)) {
            openable = true;
            usb.Close(h);
        }
        const size_t slash = m.instanceId.rfind('\\');
        const std::string serial = slash == std::string::npos ? "" : m.instanceId.substr(slash + 1);
        // The way in: the printer-class device node when the system gives
        // one, else none this backend can open.
        out << m.instanceId << "  serial " << (serial.empty() ? "-" : serial) << "  way in "
            << (m.path.empty() ? "none" : "device node " + m.path) << "  "
            << (openable ? "openable" : "not openable (error " + std::to_string(openError) + ")")
            << "\n";
    }
    if (found == 0) out << "no printer with USB ids 5B7D/0023\n";
    return 0;
}
