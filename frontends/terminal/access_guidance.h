// What the terminal says when a printer is there but this user may not
// open it: the device, the system's reason, and the udev rule that grants
// access (uaccess for desktop sessions, a group for use without one).
#pragma once

#include <iosfwd>
#include <string>

#include "platform/usb.h"

// The rule file's name, and the group it gives the printer to.
extern const char kUdevRuleName[];
extern const char kPrinterGroup[];

// True for the open errors that mean "not allowed" (EACCES, EPERM).
bool IsPermissionError(unsigned long openError);

// The system's text for an open error ("Permission denied").
std::string OpenErrorText(unsigned long openError);

// The lines of guidance for a printer this user may not open.
std::string AccessGuidance(const platform::UsbPrinterListing& printer);

// Looks at the matching printers and prints the guidance for each that
// exists but may not be opened; returns how many there were.
int PrintAccessGuidance(std::ostream& out);
