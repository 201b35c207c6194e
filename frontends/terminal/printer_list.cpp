#include "frontends/terminal/printer_list.h"

#include <ostream>
#include <string>
#include <vector>

#include "platform/usb.h"

int ListPrinters(std::ostream& out, std::ostream& err) {
    std::vector<platform::UsbPrinterListing> printers;
    unsigned long error = 0;
    if (!platform::ListUsbPrinters(0x5B7D, 0x0023, &printers, &error)) {
        err << "quillon: the USB devices cannot be listed (error " << error << ")\n";
        return 1;
    }
    for (const platform::UsbPrinterListing& p : printers) {
        out << p.location << "  serial " << (p.serial.empty() ? "-" : p.serial) << "  way in "
            << (p.wayIn.empty() ? "none" : p.wayIn + " " + p.path) << "  "
            << (p.openable ? "openable"
                           : "not openable (error " + std::to_string(p.openError) + ")")
            << "\n";
    }
    if (printers.empty()) out << "no printer with USB ids 5B7D/0023\n";
    return 0;
}
