// quillon --list: the printers that match the updater's USB identifiers.
#pragma once

#include <iosfwd>

// Prints one line per matching printer; returns the exit status (0, or 1
// when the devices cannot be listed).
int ListPrinters(std::ostream& out, std::ostream& err);
