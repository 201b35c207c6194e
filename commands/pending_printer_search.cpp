// Placeholder until the printer search lands: fails without traffic.
#include "link/printer_io.h"
int CPrinterIO::CmdSearchPrinter(ArgVector) { return 0; }
