#include "frontends/terminal/printer_list.h"

#include <ostream>
#include <string>
#include <vector>

#include "frontends/terminal/access_guidance.h"
#include "frontends/terminal/translation.h"
#include "platform/usb.h"

int ListPrinters(std::ostream& out, std::ostream& err) {
    std::vector<platform::UsbPrinterListing> printers;
    unsigned long error = 0;
    if (!platform::ListUsbPrinters(0x5B7D, 0x0023, &printers, &error)) {
        err << Format(_("quillon: the USB devices cannot be listed: %s (error %lu)\n"),
                      OpenErrorText(error).c_str(), error);
        return 1;
    }
    for (const platform::UsbPrinterListing& p : printers) {
        const char* serial = p.serial.empty() ? "-" : p.serial.c_str();
        if (p.path.empty()) {
            out << Format(_("%s  serial %s  no way in (no printer interface)\n"),
                          p.location.c_str(), serial);
        } else if (p.openable) {
            out << Format(_("%s  serial %s  way in %s %s  openable\n"), p.location.c_str(), serial,
                          p.wayIn.c_str(), p.path.c_str());
        } else {
            out << Format(_("%s  serial %s  way in %s %s  not openable: %s (error %lu)\n"),
                          p.location.c_str(), serial, p.wayIn.c_str(), p.path.c_str(),
                          OpenErrorText(p.openError).c_str(), p.openError);
            if (IsPermissionError(p.openError)) out << AccessGuidance(p);
        }
    }
    if (printers.empty()) out << _("no printer with USB ids 5B7D/0023\n");
    return 0;
}
