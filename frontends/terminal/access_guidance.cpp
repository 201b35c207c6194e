#include "frontends/terminal/access_guidance.h"

#include <cerrno>
#include <ostream>
#include <vector>

#include "frontends/terminal/translation.h"
#include "platform/trace_sink.h"

const char kUdevRuleName[] = "70-zkq870.rules";
const char kPrinterGroup[] = QUILLON_PRINTER_GROUP;

bool IsPermissionError(unsigned long openError) {
    return openError == EACCES || openError == EPERM;
}

std::string OpenErrorText(unsigned long openError) {
    std::string text;
    if (!platform::SystemErrorText(platform::SystemError(openError), &text))
        text = Format("%lu", openError);
    return text;
}

std::string AccessGuidance(const platform::UsbPrinterListing& printer) {
    return Format(_("quillon: the printer %s (%s) may not be opened by this user: %s\n"),
                  printer.location.c_str(), printer.path.c_str(),
                  OpenErrorText(printer.openError).c_str()) +
           Format(_("quillon: install the udev rule %s: the package puts it into "
                    "/usr/lib/udev/rules.d/, by hand it goes into /etc/udev/rules.d/.\n"),
                  kUdevRuleName) +
           Format(_("quillon: the rule gives the printer to the user of the desktop session "
                    "and to the group \"%s\" (for use without a desktop session, add the user "
                    "to it); then plug the printer in again.\n"),
                  kPrinterGroup);
}

int PrintAccessGuidance(std::ostream& out) {
    std::vector<platform::UsbPrinterListing> printers;
    unsigned long error = 0;
    if (!platform::ListUsbPrinters(0x5B7D, 0x0023, &printers, &error)) return 0;
    int denied = 0;
    for (const platform::UsbPrinterListing& p : printers) {
        if (p.openable || !IsPermissionError(p.openError)) continue;
        out << AccessGuidance(p);
        ++denied;
    }
    out.flush();
    return denied;
}
